#pragma once
// The Cydia store account: its addresses, the tests its sign-in screen makes
// on the pages it loads, and the purchase import.
//
// The store lives at one base address, $VOSTRELLE_CYDIA_STORE_URL, else the
// preference "CydiaStoreURL", else https://cydia.saurik.com/ (scheme, host
// and port only). Its pages: the account page "/account" (any page at or
// below it counts as one), the purchase list "/account/purchases", the
// sign-out "/api/invalidate", and package links "http://<host>/package/<id>"
// on the purchase list (always plain http, as the store writes them).
// Addresses are compared parsed: scheme where it matters, host and port
// exactly (a look-alike host or the store's address inside a query is no
// match), the identifier of a link checked against the package-name grammar.
//
// "Signed in" for the whole program is the preference "cydiaStoreIsSignedIn":
// YES after an import that found purchased packages, NO after a visit of the
// sign-out address. Both announce themselves with
// CydiaStoreSigninStatusDidChange (object: the new Boolean) on the main thread.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Foundation/URL.h"

inline constexpr const char* CydiaStoreSigninStatusDidChange = "CydiaStoreSigninStatusDidChange";

class ZMCydiaStore {
public:
    static URL baseURL();
    // The store's key in the store list: "<scheme>://<host>[:port]/".
    static std::string storeLocation();
    static URL accountPageURL();
    static URL purchaseListURL();

    static bool isAccountPage(std::string_view address);
    static bool isSignOutAddress(std::string_view address);
    // Requests to the store's own scheme, host and port get the header stamp.
    static bool isStoreOrigin(std::string_view address);
    // The identifier of a package link, or nothing.
    static std::optional<std::string> packageIdentifierFromLink(std::string_view link);
    // The identifiers of the page's package links, in page order (duplicates kept).
    static std::vector<std::string> purchasedIdentifiers(std::string_view page);

    // What every request to the store carries (user agent, X-Machine,
    // X-Firmware, X-Unique-ID).
    static constexpr const char* kUserAgent =
        "Mozilla/5.0 (iPhone; CPU iPhone OS 10_3_3 like Mac OS X) AppleWebKit/603.3.8 (KHTML, like Gecko) "
        "Version/10.0 Mobile/14G60 Safari/602.1";
    static std::vector<std::pair<std::string, std::string>> headerStamp();

    // A visit of the sign-out address: every isPaidThroughCydia mark cleared
    // (background), the preference NO and saved, the notification NO.
    static void signOut();
    // The marks become exactly `identifiers` (background), the preference YES
    // and saved, the notification YES. An empty list changes nothing (false).
    // `written` hears once the marks are committed (any thread). A later
    // sign-out or import wins over this one, whichever thread lands first.
    static bool applyPurchases(const std::vector<std::string>& identifiers, std::function<void(bool)> written = {});
    // Fetches the purchase list with the store's cookies (a "Cookie" header
    // value taken from the sign-in page's browser) and applies what it finds.
    // Network failures and pages that are not UTF-8 change nothing.
    // `completion` (any thread, optional) gets the identifiers found.
    static constexpr uint64_t kMaximumPageBytes = 4 << 20;
    // A list that answers after a sign-out (or another import) began is
    // dropped: it speaks for a session that has ended.
    static void importPurchases(const std::string& cookieHeader,
                                std::function<void(std::vector<std::string>)> completion = {});

private:
    // Applies them unless a sign-in event came after `asked` (the event
    // count when they were asked for).
    static bool applyPurchasesSince(uint64_t asked, const std::vector<std::string>& identifiers,
                                    std::function<void(bool)> written = {});
};
