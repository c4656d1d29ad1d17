#pragma once
// Where depictions come from besides a package's own fields: the four classic
// repositories whose packages have HTML information pages (matched by exact
// source location), the store host those pages live on for two of them, the
// site name in the page titles of one, and our own package identifier (whose
// web depiction hides its Get button unless it has an update).
//
// The details page also takes from here the maker's own repository (whose
// packages carry the verified badge) and the advertisement snippet shown with
// the packages of the first classic repository (none by default).
//
// Each value comes from the environment ($VOSTRELLE_MARLGATE_SOURCE,
// $VOSTRELLE_ORVANE_SOURCE, $VOSTRELLE_ORVANE_PARTNER_SOURCE,
// $VOSTRELLE_KESTRUM_SOURCE, $VOSTRELLE_CYDIA_STORE_HOST,
// $VOSTRELLE_MARLGATE_SITE_NAME, $VOSTRELLE_OWN_PACKAGE_IDENTIFIER,
// $VOSTRELLE_MAKER_REPOSITORY, $VOSTRELLE_ADVERTISEMENT_SNIPPET), else from
// set(), else a default. The default hosts are placeholders under .example: no
// source matches them until they are configured.
#include <optional>
#include <string>
#include <vector>

struct ZMDepictionSettings {
    enum class Family { None, Marlgate, Orvane, Kestrum };

    std::string marlgateSource = "http://apt.marlgate.example/repofiles/cydia/";
    std::string orvaneSource = "http://apt.orvane.example/";
    std::string orvanePartnerSource = "http://apt.orvane-partner.example/";
    std::string kestrumSource = "http://repo.kestrum.example/repo/cydia/";
    // host[:port] of the store's information pages ("/info/<identifier>/").
    std::string cydiaStoreHost = "cydia.store.example";
    std::string marlgateSiteName = "Marlgate";
    std::string ownPackageIdentifier = "me.zemtrix.vostrelle";
    // Exact source location of the maker's own repository.
    std::string makerRepository = "https://repo.zemtrix.example/repo/";
    // HTML of the advertisement unit (300 by 250); empty: none.
    std::string advertisementSnippet;

    // The values in effect (environment over set() over the defaults).
    static ZMDepictionSettings current();
    // Replaces the configured values (nullopt: the defaults again). The
    // environment still wins.
    static void set(std::optional<ZMDepictionSettings> settings);

    // The four locations in their order: Marlgate, Orvane, Orvane partner, Kestrum.
    std::vector<std::string> classicSources() const;
    // The page family of a source location (exact string match).
    Family familyForSource(const std::string& location) const;
    // Hosts that may be told the device identifier with a classic page
    // request: the four sources' hosts and the store's.
    bool isClassicHost(const std::string& host) const;
    // "http://<store host>/info/<identifier>/" (nullopt for an identifier
    // that is not a package name: it goes into the path).
    std::optional<std::string> storeInformationPage(const std::string& identifier) const;
    // The address the advertisement snippet is shown under for a package:
    // "https://<first classic repository's host>/moreinfo/depiction.php?file=<name>Dp",
    // the name in lower case without blanks, percent-encoded. nullopt
    // without a host.
    std::optional<std::string> advertisementPage(const std::string& packageName) const;
};
