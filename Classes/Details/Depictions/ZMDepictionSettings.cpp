#include "Depictions/ZMDepictionSettings.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "Categories/String+VersionCompare.h"
#include "Foundation/URL.h"

namespace {

std::mutex gMutex;
std::optional<ZMDepictionSettings> gConfigured;

void fromEnvironment(const char* name, std::string& value) {
    if (const char* v = std::getenv(name); v && *v) value = v;
}

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string hostOf(const std::string& location) {
    auto url = URL::parse(location);
    return url ? lowercase(url->host()) : std::string();
}

}  // namespace

ZMDepictionSettings ZMDepictionSettings::current() {
    ZMDepictionSettings s;
    {
        std::lock_guard lock(gMutex);
        if (gConfigured) s = *gConfigured;
    }
    fromEnvironment("VOSTRELLE_MARLGATE_SOURCE", s.marlgateSource);
    fromEnvironment("VOSTRELLE_ORVANE_SOURCE", s.orvaneSource);
    fromEnvironment("VOSTRELLE_ORVANE_PARTNER_SOURCE", s.orvanePartnerSource);
    fromEnvironment("VOSTRELLE_KESTRUM_SOURCE", s.kestrumSource);
    fromEnvironment("VOSTRELLE_CYDIA_STORE_HOST", s.cydiaStoreHost);
    fromEnvironment("VOSTRELLE_MARLGATE_SITE_NAME", s.marlgateSiteName);
    fromEnvironment("VOSTRELLE_OWN_PACKAGE_IDENTIFIER", s.ownPackageIdentifier);
    fromEnvironment("VOSTRELLE_MAKER_REPOSITORY", s.makerRepository);
    fromEnvironment("VOSTRELLE_ADVERTISEMENT_SNIPPET", s.advertisementSnippet);
    return s;
}

void ZMDepictionSettings::set(std::optional<ZMDepictionSettings> settings) {
    std::lock_guard lock(gMutex);
    gConfigured = std::move(settings);
}

std::vector<std::string> ZMDepictionSettings::classicSources() const {
    return {marlgateSource, orvaneSource, orvanePartnerSource, kestrumSource};
}

ZMDepictionSettings::Family ZMDepictionSettings::familyForSource(const std::string& location) const {
    if (location.empty()) return Family::None;
    if (location == marlgateSource) return Family::Marlgate;
    if (location == orvaneSource || location == orvanePartnerSource) return Family::Orvane;
    if (location == kestrumSource) return Family::Kestrum;
    return Family::None;
}

bool ZMDepictionSettings::isClassicHost(const std::string& host) const {
    if (host.empty()) return false;
    const std::string h = lowercase(host);
    for (const auto& location : classicSources())
        if (hostOf(location) == h) return true;
    return hostOf("http://" + cydiaStoreHost + "/") == h;
}

std::optional<std::string> ZMDepictionSettings::storeInformationPage(const std::string& identifier) const {
    if (!isValidDebianPackageName(identifier)) return std::nullopt;
    return "http://" + cydiaStoreHost + "/info/" + identifier + "/";
}

std::optional<std::string> ZMDepictionSettings::advertisementPage(const std::string& packageName) const {
    auto url = URL::parse(marlgateSource);
    if (!url || url->host().empty()) return std::nullopt;
    std::string file;
    for (char c : packageName)
        if (c != ' ') file += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string host = lowercase(url->host());
    if (url->port()) host += ":" + std::to_string(*url->port());
    return "https://" + host + "/moreinfo/depiction.php?file=" + URLEncoding::encodeQueryValue(file + "Dp");
}
