#include "ZMCydiaStore.h"

#include <unicode/ustring.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>

#include "Categories/URLRequest+ZemtrixExtensions.h"
#include "Database/ZMRPackage.h"
#include "Dispatch/Dispatch.h"
#include "Foundation/URLSession.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMPlatform.h"
#include "Notifications/NotificationCenter.h"
#include "VostrellePersistentPreferences.h"
#include "ZMAPTManager.h"

namespace {

constexpr const char* kDefaultStore = "https://cydia.saurik.com/";

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// "host" or "host:port", the port only when it is not the scheme's default.
std::string authority(const URL& url) {
    std::string out = lower(url.host());
    const std::string scheme = lower(url.scheme());
    const int standard = scheme == "https" ? 443 : 80;
    if (url.port() && *url.port() != standard) out += ":" + std::to_string(*url.port());
    return out;
}

std::optional<URL> parsedWebAddress(std::string_view address) {
    auto url = URL::parse(address);
    if (!url || !url->isHTTP() || url->host().empty() || !url->user().empty()) return std::nullopt;
    return url;
}

bool onStoreHost(const URL& url) { return authority(url) == authority(ZMCydiaStore::baseURL()); }

bool isValidUTF8(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), &status);
    return status == U_BUFFER_OVERFLOW_ERROR || U_SUCCESS(status);
}

// Every sign-in and sign-out, numbered in the order they happened. Their
// writes and announcements run on other threads and may land in any
// order: one that is no longer the latest event is dropped, so the later
// event wins (a purchase list answered after a sign-out changes nothing).
std::atomic<uint64_t> gLatestEvent{0};

void announce(bool signedIn, uint64_t event) {
    Dispatch::main([signedIn, event] {
        if (event != gLatestEvent.load()) return;
        auto& preferences = VostrellePersistentPreferences::sharedInstance();
        preferences.setValue(VostrellePreferenceKey::CydiaStoreIsSignedIn, signedIn);
        preferences.saveToFile();
        NotificationCenter::defaultCenter().post(CydiaStoreSigninStatusDidChange, signedIn);
    });
}

// The marks: cleared, then set on `identifiers` (none: only cleared).
void rewriteMarks(std::vector<std::string> identifiers, std::function<void(bool)> written, uint64_t event) {
    Dispatch::defaultQueue([identifiers = std::move(identifiers), written = std::move(written), event] {
        bool ok = true;
        try {
            auto realm = Realm::defaultRealm();
            realm->transactionWithBlock([&] {
                // Checked inside the write: a later event's write commits after this one.
                if (event != gLatestEvent.load()) {
                    ok = false;
                    return (void)ZMLOG("Cydia store marks of an earlier event dropped");
                }
                ZMRPackage::objectsWhere("isPaidThroughCydia = 1").setValueForKey("isPaidThroughCydia", false);
                if (!identifiers.empty())
                    ZMRPackage::objectsWhere("identifier IN %@", identifiers).setValueForKey("isPaidThroughCydia", true);
            });
        } catch (const std::exception& e) {
            ok = false;
            ZMLOG("could not store the Cydia store purchases: {}", e.what());
        }
        if (written) written(ok);
    });
}

}  // namespace

URL ZMCydiaStore::baseURL() {
    std::string configured;
    if (const char* env = std::getenv("VOSTRELLE_CYDIA_STORE_URL"); env && *env) configured = env;
    else configured = VostrellePersistentPreferences::sharedInstance().stringForKey("CydiaStoreURL").value_or("");
    auto url = parsedWebAddress(configured);
    if (!url) url = URL::parse(kDefaultStore);
    URL base = *url;
    base.setPath("/");
    base.setQuery(std::nullopt);
    return base.withoutFragment();
}

std::string ZMCydiaStore::storeLocation() { return baseURL().string(); }

URL ZMCydiaStore::accountPageURL() {
    URL url = baseURL();
    url.setPath("/account");
    return url;
}

URL ZMCydiaStore::purchaseListURL() {
    URL url = baseURL();
    url.setPath("/account/purchases");
    return url;
}

bool ZMCydiaStore::isAccountPage(std::string_view address) {
    auto url = parsedWebAddress(address);
    if (!url || !onStoreHost(*url)) return false;
    return url->path() == "/account" || url->path().rfind("/account/", 0) == 0;
}

bool ZMCydiaStore::isSignOutAddress(std::string_view address) {
    auto url = parsedWebAddress(address);
    return url && lower(url->scheme()) == lower(baseURL().scheme()) && onStoreHost(*url) &&
           url->path() == "/api/invalidate";
}

bool ZMCydiaStore::isStoreOrigin(std::string_view address) {
    auto url = parsedWebAddress(address);
    return url && lower(url->scheme()) == lower(baseURL().scheme()) && onStoreHost(*url);
}

std::optional<std::string> ZMCydiaStore::packageIdentifierFromLink(std::string_view link) {
    auto url = parsedWebAddress(link);
    if (!url || lower(url->scheme()) != "http" || !onStoreHost(*url) || url->query() || url->fragment())
        return std::nullopt;
    static const std::string prefix = "/package/";
    if (url->path().rfind(prefix, 0) != 0) return std::nullopt;
    std::string identifier = url->path().substr(prefix.size());
    if (!ZMAPTManager::isValidPackageName(identifier)) return std::nullopt;
    return identifier;
}

std::vector<std::string> ZMCydiaStore::purchasedIdentifiers(std::string_view page) {
    // Every "http://" run up to the next character that cannot be part of a
    // link in a page's text or markup.
    std::vector<std::string> out;
    const std::string text = lower(std::string(page));
    size_t at = 0;
    while ((at = text.find("http://", at)) != std::string::npos) {
        size_t end = at;
        while (end < page.size() && !std::isspace(static_cast<unsigned char>(page[end])) &&
               std::string_view("\"'<>()[]{}`\\").find(page[end]) == std::string_view::npos)
            ++end;
        size_t last = end;
        // Punctuation that ends a sentence ends the link, as a reader takes it.
        while (last > at && std::string_view(".,;:!?").find(page[last - 1]) != std::string_view::npos) --last;
        if (auto identifier = packageIdentifierFromLink(page.substr(at, last - at))) out.push_back(*identifier);
        at = end;
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> ZMCydiaStore::headerStamp() {
    return {{"User-Agent", kUserAgent},
            {"X-Machine", ZMPlatform::deviceModelID()},
            {"X-Firmware", ZMPlatform::firmwareVersion()},
            {"X-Unique-ID", ZMPlatform::deviceUDID()}};
}

void ZMCydiaStore::signOut() {
    ZMLOG("signed out of the Cydia store");
    const uint64_t event = ++gLatestEvent;
    rewriteMarks({}, {}, event);
    announce(false, event);
}

bool ZMCydiaStore::applyPurchases(const std::vector<std::string>& identifiers, std::function<void(bool)> written) {
    return applyPurchasesSince(gLatestEvent.load(), identifiers, std::move(written));
}

bool ZMCydiaStore::applyPurchasesSince(uint64_t asked, const std::vector<std::string>& identifiers,
                                       std::function<void(bool)> written) {
    if (identifiers.empty()) return false;
    if (!gLatestEvent.compare_exchange_strong(asked, asked + 1)) {
        ZMLOG("{} Cydia store purchases dropped: the sign-in changed since they were asked for", identifiers.size());
        return false;
    }
    ZMLOG("{} purchases imported from the Cydia store", identifiers.size());
    rewriteMarks(identifiers, std::move(written), asked + 1);
    announce(true, asked + 1);
    return true;
}

void ZMCydiaStore::importPurchases(const std::string& cookieHeader,
                                   std::function<void(std::vector<std::string>)> completion) {
    static const auto session = [] {
        URLSessionConfiguration configuration = URLSessionConfiguration::noCacheConfigureation();
        configuration.keepsCookies = false;
        configuration.maximumDataTaskBodySize = kMaximumPageBytes;
        // The cookies given here belong to the store alone.
        configuration.maximumRedirects = 0;
        configuration.timeoutIntervalForResource = 60;  // a trickling host is not waited on for ever
        return URLSession::sessionWithConfiguration(configuration);
    }();
    URLRequest request = URLRequestZemtrix::VostrelleGetRequestWithURL(purchaseListURL());
    request.maximumBodySize = kMaximumPageBytes;
    if (!cookieHeader.empty()) request.setValue(cookieHeader, "Cookie");
    const uint64_t asked = gLatestEvent.load();
    session
        ->dataTaskWithRequest(request,
                              [completion, asked](std::string data, std::optional<URLResponse>, std::optional<ZMError> error) {
                                  std::vector<std::string> found;
                                  if (error || data.empty() || !isValidUTF8(data)) {
                                      if (error) ZMLOG("purchase list not read: {}", error->debugDescription());
                                  } else {
                                      // The status does not matter: an error page is read like any other.
                                      found = purchasedIdentifiers(data);
                                      applyPurchasesSince(asked, found);
                                  }
                                  if (completion) completion(std::move(found));
                              })
        ->resume();
}
