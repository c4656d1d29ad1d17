#include "ZMRepoStoreAPI.h"
#include "ZMRepoStoreAPI+Internal.h"

#include <cctype>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "Database/ZMRPackage.h"
#include "Database/ZMRSource.h"
#include "Foundation/URLSession.h"
#include "Keychain/PDKeychainBindings.h"
#include "Miscellaneous/ZMJSON.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMPlatform.h"
#include "Miscellaneous/ZMURLSchemeHandler.h"
#include "Notifications/NotificationCenter.h"
#include "Database/ZMRPackageManager.h"
#include "ZMPackageOperations.h"
#include "ZMPackageQueue.h"
#include "VostrellePersistentPreferences.h"
#include "ZMAPTManager.h"

using nlohmann::json;
using namespace ZMRepoStoreInternal;

namespace {

constexpr const char* kBuiltInBlockedSource = "https://blocked.repo.zemtrix.me/";

bool readBool(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end()) return false;
    if (it->is_boolean()) return it->get<bool>();
    if (it->is_number()) return it->get<double>() != 0;
    return false;
}

std::string readString(const json& object, const char* key) {
    auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::string readURL(const json& object, const char* key) {
    std::string value = trim(readString(object, key));
    return ZMRepoStoreAPI::isURL(value) ? value : std::string();
}

// "error" when present and not null: a text as it is, anything else as its JSON text.
std::optional<RepoStoreError> readError(const json& object, int status) {
    auto it = object.find("error");
    if (it == object.end() || it->is_null()) return std::nullopt;
    return RepoStoreError::make(status, it->is_string() ? it->get<std::string>() : it->dump());
}

bool isLoopbackHost(const std::string& host) {
    if (host == "localhost" || host == "::1") return true;
    if (host.rfind("127.", 0) != 0) return false;
    int parts = 0;
    for (size_t start = 0; start <= host.size();) {
        size_t dot = host.find('.', start);
        std::string part = host.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(part) > 255)
            return false;
        ++parts;
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return parts == 4;
}

bool isHTTPS(const URL& url) {
    std::string scheme = url.scheme();
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return scheme == "https";
}

// "invalidate" of a reply (an error reply too): the store ended the sign-in.
bool readInvalidate(const std::string& location, const json& object) {
    if (!readBool(object, "invalidate")) return false;
    ZMRepoStoreAPI::sharedRepoStore().signinRequired(location, "the store ended the sign-in");
    return true;
}

std::string statusText(int status) { return std::to_string(status); }

}  // namespace

// ---- the reply of one request -----------------------------------------------------------

struct ZMRepoStoreAPI::Reply {
    std::optional<ZMError> transport;
    int status = 0;
    std::string body;
    bool ok() const { return !transport && (status == 200 || status == 304); }
    // The body as a JSON object; null when it is none.
    json object() const {
        auto parsed = ZMJSON::parse(body);
        return parsed && parsed->is_object() ? std::move(*parsed) : json();
    }
    // Whether an error reply (401, 403...) carries "invalidate"; when it does
    // the source's credentials are dropped and a new sign-in is asked for.
    bool invalidatesIn(const std::string& location) const {
        if (transport || ok()) return false;
        json parsed = object();
        return !parsed.is_null() && readInvalidate(location, parsed);
    }
    // The transport error, or the status failure in the request's words.
    RepoStoreError error(const std::string& statusFormat) const {
        if (transport) return RepoStoreError::fromTransport(*transport);
        return failure(status, statusFormat, {statusText(status)});
    }
    // The body's JSON object into `object`, else why not, in the words of the
    // request whose texts begin with `prefix`.
    std::optional<RepoStoreError> readObject(const std::string& prefix, json& object) const {
        if (!ok()) return error(prefix + "communication with the server failed (%ld)");
        object = this->object();
        if (object.is_null()) return failure(status, prefix + "unable to parse response");
        return std::nullopt;
    }
};

// ---- the client -------------------------------------------------------------------------

ZMRepoStoreAPI::ZMRepoStoreAPI() {
    URLSessionConfiguration configuration = URLSessionConfiguration::noCacheConfigureation();
    configuration.keepsCookies = false;
    configuration.maximumDataTaskBodySize = kMaximumReplyBytes;
    // Discovery carries nothing secret, but what it finds receives tokens:
    // it may be redirected to http(s) only, and never from https down to
    // plain http off this machine.
    configuration.redirectPolicy = [](const URLRequest& request, const URL& to) {
        if (!to.isHTTP() || to.host().empty() || !to.user().empty()) return false;
        const bool leavesHTTPS = isHTTPS(request.url) && !isHTTPS(to);
        return !leavesHTTPS || isLoopbackHost(to.host());
    };
    discoverySession_ = URLSession::sessionWithConfiguration(configuration);
    // Tokens and payment secrets must not follow a redirect to another server.
    configuration.redirectPolicy = nullptr;
    configuration.maximumRedirects = 0;
    endpointSession_ = URLSession::sessionWithConfiguration(configuration);
}

ZMRepoStoreAPI& ZMRepoStoreAPI::sharedRepoStore() {
    static ZMRepoStoreAPI* shared = new ZMRepoStoreAPI;  // lives as long as the sessions' work
    return *shared;
}

void ZMRepoStoreAPI::setRequestTimeout(double seconds) {
    std::lock_guard lock(mutex_);
    timeout_ = seconds;
}

void ZMRepoStoreAPI::setRequestTimeLimit(double seconds) {
    std::lock_guard lock(mutex_);
    timeLimit_ = seconds;
}

void ZMRepoStoreAPI::resetForTesting() {
    std::lock_guard lock(mutex_);
    pages_ = {};
    signin_.reset();
    purchase_.reset();
    timeout_ = 30;
    timeLimit_ = kRequestTimeLimit;
}

void ZMRepoStoreAPI::send(const URLRequest& original, bool underEndpoint, ReplyHandler handler) {
    URLRequest request = original;
    {
        std::lock_guard lock(mutex_);
        request.timeoutInterval = timeout_;
        // A store that sends a byte now and then is never idle: the whole
        // request has a deadline too.
        request.timeoutIntervalForResource = timeLimit_;
    }
    request.maximumBodySize = kMaximumReplyBytes;
    auto& session = underEndpoint ? endpointSession_ : discoverySession_;
    session
        ->dataTaskWithRequest(request,
                              [handler = std::move(handler)](std::string data, std::optional<URLResponse> response,
                                                             std::optional<ZMError> error) {
                                  Reply reply;
                                  reply.transport = std::move(error);
                                  reply.status = response ? response->statusCode : 0;
                                  if (!reply.transport) reply.body = std::move(data);
                                  handler(reply);
                              })
        ->resume();
}

std::optional<URLRequest> ZMRepoStoreAPI::jsonRequest(const std::string& endpoint, const std::string& component,
                                                      const std::optional<std::string>& body) const {
    auto address = addressUnderEndpoint(endpoint, component);
    if (!address) return std::nullopt;
    URLRequest request(*address);
    request.httpMethod = body ? "POST" : "GET";
    request.setValue("application/json", "Accept");
    request.setValue("application/json", "Content-Type");
    if (body) {
        request.setValue(std::to_string(body->size()), "Content-Length");
        request.httpBody = *body;
    }
    return request;
}

// ---- address rules ------------------------------------------------------------------------

bool ZMRepoStoreAPI::isURL(std::string_view value) {
    if (value.empty() || (value.rfind("http://", 0) != 0 && value.rfind("https://", 0) != 0)) return false;
    auto url = URL::parse(value);
    return url && !url->scheme().empty() && !url->host().empty();
}

bool ZMRepoStoreAPI::isAcceptableEndpoint(std::string_view value) {
    if (value.size() > kMaximumEndpointLength || !isURL(value)) return false;
    auto url = URL::parse(value);
    if (!url->user().empty() || url->query() || url->fragment()) return false;
    return url->scheme() == "https" || isLoopbackHost(url->host());
}

std::optional<URL> ZMRepoStoreAPI::addressUnderEndpoint(std::string_view endpoint, std::string_view component) {
    const std::string trimmed = trim(endpoint);
    if (!isAcceptableEndpoint(trimmed)) return std::nullopt;
    URL url = *URL::parse(trimmed);
    std::string path = url.path();
    while (!path.empty() && path.back() == '/') path.pop_back();
    url.setPath(path + "/" + std::string(component));
    return url;
}

std::optional<URL> ZMRepoStoreAPI::paymentEndpointAddress(const std::string& location) {
    if (!isURL(location)) return std::nullopt;
    URL url = *URL::parse(location);
    if (url.query() || url.fragment()) return std::nullopt;
    std::string path = url.path();
    while (!path.empty() && path.back() == '/') path.pop_back();
    url.setPath(path + "/payment_endpoint");
    return url;
}

std::string ZMRepoStoreAPI::blockedSourceLocation() {
    if (const char* configured = std::getenv("VOSTRELLE_BLOCKED_STORE_SOURCE"); configured && *configured) return configured;
    if (auto preference = VostrellePersistentPreferences::sharedInstance().stringForKey("BlockedStoreSource");
        preference && !preference->empty())
        return *preference;
    return kBuiltInBlockedSource;
}

bool ZMRepoStoreAPI::sourceWithLoacationIsBlacklisted(const std::string& location) const {
    return location == blockedSourceLocation();
}

// ---- credentials --------------------------------------------------------------------------

std::optional<std::string> ZMRepoStoreAPI::storedTokenForSourceLocation(const std::string& location) const {
    if (location.empty()) return std::nullopt;
    return PDKeychainBindings::sharedKeychainBindings().stringForKey(location + "_token");
}

std::optional<std::string> ZMRepoStoreAPI::storedSecretForSourceLocation(const std::string& location) const {
    if (location.empty()) return std::nullopt;
    return PDKeychainBindings::sharedKeychainBindings().stringForKey(location + "_payment");
}

void ZMRepoStoreAPI::invalidateCredentialsForSourceLocation(const std::string& location) {
    if (location.empty()) return;
    PDKeychainBindings::sharedKeychainBindings().setObjects(
        {{location + "_token", nullptr}, {location + "_payment", nullptr}, {location + "_origin", nullptr}});
    ZMLOG("credentials of {} dropped", location);
}

void ZMRepoStoreAPI::signinRequired(const std::string& location, const std::string& why) {
    invalidateCredentialsForSourceLocation(location);
    ZMLOG("the store of {} needs a new sign-in: {}", location, why);
    NotificationCenter::defaultCenter().postOnMain(kSigninRequiredNotification, location);
}

std::string ZMRepoStoreAPI::originOfEndpoint(std::string_view endpoint) {
    const std::string trimmed = trim(endpoint);
    if (!isAcceptableEndpoint(trimmed)) return {};
    URL url = *URL::parse(trimmed);
    std::string origin = url.scheme() + "://" + url.host() + ":" + std::to_string(url.effectivePort().value_or(0));
    for (char& c : origin) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return origin;
}

ZMRepoStoreAPI::Binding ZMRepoStoreAPI::credentialBinding(const std::string& location) {
    if (location.empty()) return Binding::None;
    auto& keychain = PDKeychainBindings::sharedKeychainBindings();
    if (keychain.stringForKey(location + "_token").value_or("").empty()) return Binding::None;
    const std::string issuer = keychain.stringForKey(location + "_origin").value_or("");
    if (issuer.empty()) return Binding::Unbound;
    auto source = ZMRSource::objectForPrimaryKey(location);
    return source && issuer == originOfEndpoint(source->endpoint) ? Binding::Bound : Binding::Elsewhere;
}

std::string ZMRepoStoreAPI::tokenForRequest(const std::string& location) {
    switch (credentialBinding(location)) {
        case Binding::None: return {};
        case Binding::Elsewhere:
            signinRequired(location, "its store's address changed since the sign-in");
            return {};
        case Binding::Unbound: {
            // Stored before credentials were bound: bound to the store of today.
            auto source = ZMRSource::objectForPrimaryKey(location);
            const std::string origin = source ? originOfEndpoint(source->endpoint) : std::string();
            if (!origin.empty()) PDKeychainBindings::sharedKeychainBindings().setString(origin, location + "_origin");
            return storedTokenForSourceLocation(location).value_or("");
        }
        case Binding::Bound: return storedTokenForSourceLocation(location).value_or("");
    }
    return {};
}

void ZMRepoStoreAPI::bindUnboundCredentials() {
    try {
        for (const auto& v : ZMRSource::allObjects().valueForKey("location"))
            if (v.is_string() && credentialBinding(v.get<std::string>()) == Binding::Unbound)
                (void)sharedRepoStore().tokenForRequest(v.get<std::string>());
    } catch (const std::exception& e) {
        ZMLOG("cannot list the sources: {}", e.what());
    }
}

// ---- endpoint discovery -------------------------------------------------------------------

void ZMRepoStoreAPI::endpointForSourceLocation(const std::string& location,
                                               Completion<RepoStoreEndpointResponse> completion) {
    auto response = ZMRepoStoreResponseFactory::endpointResponse();
    auto fail = [&](RepoStoreError error) { complete(completion, response, std::move(error)); };
    if (sourceWithLoacationIsBlacklisted(location)) {
        response.definitive = true;
        return fail(failure(0, "Endpoint request failed, source is blacklisted"));
    }
    if (location.empty()) return fail(failure(0, "Endpoint request failed, missing source location"));
    auto address = paymentEndpointAddress(location);
    if (!address) return fail(failure(0, "Endpoint request failed, source with url:(%@) can't be found", {location}));
    send(URLRequest(*address), false, [location, completion](const Reply& reply) {
        auto response = ZMRepoStoreResponseFactory::endpointResponse();
        auto fail = [&](RepoStoreError error, bool failed) { complete(completion, response, std::move(error), failed); };
        if (!reply.ok()) {
            response.definitive = !reply.transport && (reply.status == 404 || reply.status == 410);
            return fail(reply.error("Endpoint request failed, communication with the server failed (%ld)"), true);
        }
        // Only a 200 speaks for the source; a 304 to a request that asked nothing conditional says nothing.
        response.definitive = reply.status == 200;
        const std::string endpoint = trim(reply.body);
        if (endpoint.empty()) return fail(failure(reply.status, "Endpoint request failed, no endpoint data found"), true);
        if (!isAcceptableEndpoint(endpoint))
            return fail(failure(reply.status, "Endpoint malformed, (%@) responded with a malformed endpoint", {location}),
                        false);
        response.hasEndpoint = true;
        response.endpoint = endpoint;
        completion(false, response);
    });
}

// ---- vendor and user information --------------------------------------------------------

void ZMRepoStoreAPI::vendorInfoForSourceLocation(const std::string& location,
                                                 Completion<RepoStoreVendorInfoResponse> completion) {
    auto response = ZMRepoStoreResponseFactory::vendorInfoResponse();
    auto fail = [&](RepoStoreError error) { complete(completion, response, std::move(error)); };
    if (location.empty()) return fail(failure(0, "Vendor info request failed, missing source location"));
    auto source = ZMRSource::objectForPrimaryKey(location);
    if (!source) return fail(failure(0, "Vendor info request failed, source with url:(%@) can't be found", {location}));
    auto request = jsonRequest(source->endpoint, "info", std::nullopt);
    if (!request)
        return fail(failure(0, "Vendor info request failed, source with url:(%@) endpoint can't be found", {location}));
    send(*request, true, [completion](const Reply& reply) {
        auto response = ZMRepoStoreResponseFactory::vendorInfoResponse();
        json object;
        if (auto error = reply.readObject("Vendor info request failed, ", object)) return complete(completion, response, *error);
        response.error = readError(object, reply.status);
        response.name = readString(object, "name");
        response.tagline = readString(object, "description");
        response.icon = readURL(object, "icon");
        auto info = ZMRepoStoreResponseFactory::vendorInfoAuthenticationInfo();
        if (auto banner = object.find("authentication_banner"); banner != object.end() && banner->is_object()) {
            info.message = readString(*banner, "message");
            info.buttonTitle = readString(*banner, "button");
        }
        response.authenticationInfo = info;
        completion(false, response);
    });
}

void ZMRepoStoreAPI::userInfoForSourceLocation(const std::string& location,
                                               Completion<RepoStoreUserInfoResponse> completion) {
    auto response = ZMRepoStoreResponseFactory::userInfoResponse();
    auto fail = [&](RepoStoreError error) { complete(completion, response, std::move(error)); };
    if (location.empty()) return fail(failure(0, "User info request failed, missing source location"));
    auto source = ZMRSource::objectForPrimaryKey(location);
    if (!source) return fail(failure(0, "User info request failed, source with url:(%@) can't be found", {location}));
    const std::string token = tokenForRequest(location);
    if (token.empty())
        return fail(failure(0, "User info request failed, user not signed in to source with url:(%@)", {location}));
    json body = {{"token", token}, {"udid", ZMPlatform::deviceUDID()}, {"device", ZMPlatform::deviceModelID()}};
    auto request = jsonRequest(source->endpoint, "user_info", body.dump());
    if (!request)
        return fail(failure(0, "User info request failed, source with url:(%@) endpoint can't be found", {location}));
    send(*request, true, [this, location, token, completion](const Reply& reply) {
        auto response = ZMRepoStoreResponseFactory::userInfoResponse();
        json object;
        response.invalidate = reply.invalidatesIn(location);
        if (auto error = reply.readObject("User info request failed, ", object)) return complete(completion, response, *error);
        // A reply for an account that has meanwhile been signed out (or
        // replaced) must not speak for the current one.
        if (storedTokenForSourceLocation(location).value_or("") != token) {
            return complete(completion, response, failure(0, "User info request failed, user not signed in to source with url:(%@)", {location}));
        }
        response.invalidate = readInvalidate(location, object);
        response.error = readError(object, reply.status);
        if (auto user = object.find("user"); user != object.end() && user->is_object()) {
            response.name = readString(*user, "name");
            response.email = readString(*user, "email");
        }
        if (auto items = object.find("items"); items != object.end() && items->is_array())
            for (const auto& item : *items)
                if (item.is_string()) response.purchases.push_back(item.get<std::string>());
        if (response.invalidate) {
            if (!response.error) response.error = failure(reply.status, "User info request failed, the store signed the user out of (%@)", {location});
        }
        completion(false, response);
    });
}

// ---- package information and purchase --------------------------------------------------

void ZMRepoStoreAPI::purchaseInfoForPackageWithIdentifier(const std::string& identifier,
                                                          Completion<RepoStorePackageInfoResponse> completion) {
    auto response = ZMRepoStoreResponseFactory::packageInfoResponse();
    auto fail = [&](RepoStoreError error) { complete(completion, response, std::move(error)); };
    if (identifier.empty()) return fail(failure(0, "Purchase Info request failed, missing identifier"));
    if (!ZMAPTManager::isValidPackageName(identifier))
        return fail(failure(0, "Purchase Info request failed, invalid identifier:(%@)", {identifier}));
    auto package = ZMRPackage::objectForPrimaryKey(identifier);
    if (!package)
        return fail(failure(0, "Purchase Info request failed, package with identifier:(%@) can't be found", {identifier}));
    const std::string location = package->sourceLocation;
    const std::string token = tokenForRequest(location);
    if (token.empty())
        return fail(failure(0, "Purchase Info request failed, user not signed in to source with url:(%@)", {location}));
    auto source = ZMRSource::objectForPrimaryKey(location);
    if (!source) return fail(failure(0, "Purchase Info request failed, source with url:(%@) can't be found", {location}));
    json body = {{"token", token}, {"udid", ZMPlatform::deviceUDID()}, {"device", ZMPlatform::deviceModelID()}};
    auto request = jsonRequest(source->endpoint, "package/" + URLEncoding::encodePathComponent(identifier) + "/info",
                               body.dump());
    if (!request)
        return fail(failure(0, "Purchase Info request failed, source with url:(%@) endpoint can't be found", {location}));
    send(*request, true, [this, identifier, location, completion](const Reply& reply) {
        auto response = ZMRepoStoreResponseFactory::packageInfoResponse();
        if (!reply.ok()) {
            response.invalidate = reply.invalidatesIn(location);
            response.error = reply.error("Communication with the server failed (%ld)");
            ZMLOG("Paid package check failed for ({}) with error: ({})", identifier,
                  reply.transport ? response.error->localizedDescription : "status: " + statusText(reply.status));
            return completion(true, response);
        }
        json object = reply.object();
        if (object.is_null()) {
            return complete(completion, response, failure(reply.status, "Failed to parse response"));
        }
        response.answered = true;
        response.invalidate = readInvalidate(location, object);
        response.available = readBool(object, "available");
        response.error = readError(object, reply.status);
        if (response.available) {
            response.purchased = readBool(object, "purchased");
            response.price = readString(object, "price");
            if (!response.purchased && !response.invalidate && !response.error)
                return settleNotPurchased(identifier, location, response, completion);
            return completion(false, response);
        }
        response.error = RepoStoreError::make(0, response.error ? response.error->localizedDescription
                                                                : text("Package is unavailable for an unknown reason"));
        response.recovery_url = readURL(object, "recovery_url");
        completion(true, response);
    });
}

void ZMRepoStoreAPI::purchasePackageWithIdentifier(const std::string& identifier,
                                                   Completion<RepoStorePackagePurchaseResponse> completion) {
    auto response = ZMRepoStoreResponseFactory::packagePurchaseResponse();
    response.status = RepoStorePackagePurchaseResponse::kFailed;  // unless a request is sent
    auto fail = [&](RepoStoreError error) { complete(completion, response, std::move(error)); };
    if (identifier.empty()) return fail(failure(0, "Purchase request failed, missing identifier"));
    if (!ZMAPTManager::isValidPackageName(identifier))
        return fail(failure(0, "Purchase request failed, invalid identifier:(%@)", {identifier}));
    auto package = ZMRPackage::objectForPrimaryKey(identifier);
    if (!package) return fail(failure(0, "Purchase request failed, package with identifier:(%@) can't be found", {identifier}));
    const std::string location = package->sourceLocation;
    auto source = ZMRSource::objectForPrimaryKey(location);
    if (!source) return fail(failure(0, "Purchase request failed, source with url:(%@) can't be found", {location}));
    const std::string token = tokenForRequest(location);
    const std::string secret = storedSecretForSourceLocation(location).value_or("");
    if (token.empty() || secret.empty())
        return fail(failure(0, "Purchase request failed, user not signed in to source with url:(%@)", {location}));
    json body = {{"token", token},
                 {"payment_secret", secret},
                 {"udid", ZMPlatform::deviceUDID()},
                 {"device", ZMPlatform::deviceModelID()}};
    auto request = jsonRequest(source->endpoint, "package/" + URLEncoding::encodePathComponent(identifier) + "/purchase",
                               body.dump());
    if (!request)
        return fail(failure(0, "Purchase request failed, source with url:(%@) endpoint can't be found", {location}));
    send(*request, true, [this, identifier, location, completion](const Reply& reply) {
        auto response = ZMRepoStoreResponseFactory::packagePurchaseResponse();
        response.status = RepoStorePackagePurchaseResponse::kFailed;
        if (!reply.ok()) {
            response.invalidate = reply.invalidatesIn(location);
            response.error = reply.error("Purchase request failed, communication with the server failed (%ld)");
            ZMLOG("Purchase check failed for ({}) with error: ({})", identifier,
                  reply.transport ? response.error->localizedDescription : "status: " + statusText(reply.status));
            return completion(true, response);
        }
        json object = reply.object();
        if (object.is_null()) {
            return complete(completion, response, failure(reply.status, "Purchase request failed, unable to parse response"));
        }
        response.invalidate = readInvalidate(location, object);
        if (auto status = object.find("status"); status != object.end() && status->is_number_integer())
            response.status = status->get<int64_t>();
        response.error = readError(object, reply.status);
        if (response.status != RepoStorePackagePurchaseResponse::kActionRequired) return completion(false, response);

        response.url = readURL(object, "url");
        if (response.url.empty()) {
            response.status = RepoStorePackagePurchaseResponse::kFailed;
            return complete(completion, response, failure(reply.status, "Purchase request failed, the store gave no purchase page for (%@)", {identifier}));
        }
        std::optional<PendingPurchase> replaced;
        uint64_t page = 0;
        PageHooks pages;
        {
            std::lock_guard lock(mutex_);
            pages = pages_;
            if (!pages_.present) {
                response.status = RepoStorePackagePurchaseResponse::kFailed;
                response.error = failure(0, "Purchase request failed, the purchase page cannot be shown");
            } else {
                replaced = std::move(purchase_);
                page = nextPage_++;
                purchase_ = PendingPurchase{page, identifier, completion};
            }
        }
        if (replaced) {
            if (pages.dismiss) pages.dismiss(replaced->page);
            auto ended = ZMRepoStoreResponseFactory::packagePurchaseResponse();
            ended.status = RepoStorePackagePurchaseResponse::kFailed;
            ended.error = failure(0, "Purchase request failed, another purchase was started");
            replaced->completion(true, ended);
        }
        if (!page) {
            logError(*response.error);
            return completion(true, response);
        }
        pages.present(page, response.url, location);
    });
}

// ---- sign-out --------------------------------------------------------------------------------

void ZMRepoStoreAPI::userSignoutForSourceLocation(const std::string& location,
                                                  Completion<RepoStoreSignoutResponse> completion) {
    auto response = ZMRepoStoreResponseFactory::signoutResponse();
    auto fail = [&](RepoStoreError error) { complete(completion, response, std::move(error)); };
    if (location.empty()) return fail(failure(0, "Signout failed, missing source location"));
    auto source = ZMRSource::objectForPrimaryKey(location);
    if (!source) return fail(failure(0, "Signout failed, source with url:(%@) can't be found", {location}));
    // Credentials of a store the source no longer names go to no other store.
    if (credentialBinding(location) == Binding::Elsewhere) invalidateCredentialsForSourceLocation(location);
    const std::string token = storedTokenForSourceLocation(location).value_or("");
    if (token.empty()) {
        response.success = true;
        return complete(completion, response, failure(0, "Signout failed, user not signed in to source with url:(%@)", {location}), false);
    }
    auto request = jsonRequest(source->endpoint, "sign_out", json{{"token", token}}.dump());
    if (!request) {
        // No store to tell any more: the credentials are of no use, and kept
        // they would leave the source signed in for good.
        invalidateCredentialsForSourceLocation(location);
        response.success = true;
        return complete(completion, response, failure(0, "Signout failed, source with url:(%@) endpoint can't be found", {location}), false);
    }
    send(*request, true, [this, location, completion](const Reply& reply) {
        auto response = ZMRepoStoreResponseFactory::signoutResponse();
        json object = reply.transport ? json() : reply.object();
        if (!object.is_null()) {
            invalidateCredentialsForSourceLocation(location);
            response.success = readBool(object, "success");
            response.error = readError(object, reply.status);
            return completion(false, response);
        }
        if (!reply.ok()) {
            response.error = reply.error("Signout failed, communication with the server failed (%ld)");
            ZMLOG("Failed to sign out of source ({}) with error: ({})", location,
                  reply.transport ? response.error->localizedDescription : "status: " + statusText(reply.status));
        } else {
            response.error = failure(reply.status, "Failed to parse response");
            logError(*response.error);
        }
        completion(true, response);
    });
}

// ---- the download's paid branch -------------------------------------------------------------

void ZMRepoStoreAPI::authorizeDownload(const ZMPackageArchive& archive,
                                       ZMPackageDownloadTask::DownloadURLCompletion completion) {
    const std::string location = archive.sourceLocation;
    auto source = ZMRSource::objectForPrimaryKey(location);
    if (!source || trim(source->endpoint).empty() || sourceWithLoacationIsBlacklisted(location))
        return completion(ZMPackageDownloadTask::archiveURL(location, archive.fileName), std::nullopt);
    auto refuse = [completion](RepoStoreError error) {
        logError(error);
        completion(std::nullopt, error.zmError());
    };
    // The store will not hand this package over: the run cannot go on with
    // it, so it leaves the queue, and the user reads why in words, the store
    // named as its source is (the address only while it has no name).
    const std::string store = source->name.empty() ? location : source->name;
    auto refused = [identifier = archive.identifier, name = archive.name.empty() ? archive.identifier : archive.name,
                    store, refuse](bool signedOut) {
        ZMPackageQueue::removeFromQueue(identifier);
        if (!signedOut) return refuse(failure(0, "You need to buy %@ before it can be downloaded; it was taken out of the queue.", {name}));
        // Asked to sign in again already (kSigninRequiredNotification).
        refuse(failure(RepoStoreError::kSigninEndedCode,
                       "Your sign-in to the store of %@ has ended. Please sign in again to download %@; it was taken out of the queue.",
                       {store, name}));
    };
    const std::string token = tokenForRequest(location);
    if (token.empty()) {
        NotificationCenter::defaultCenter().postOnMain(kSigninRequiredNotification, location);
        return refused(true);
    }
    const std::string encoded = URLEncoding::encodePathComponent(archive.identifier);
    json body = {{"token", token},
                 {"udid", ZMPlatform::deviceUDID()},
                 {"device", ZMPlatform::deviceModelID()},
                 {"version", archive.version},
                 {"repo", location}};
    auto request = jsonRequest(source->endpoint, "package/" + encoded + "/authorize_download", body.dump());
    if (!request || !ZMAPTManager::isValidPackageName(archive.identifier))
        return refuse(failure(0, "Download failed, source with url:(%@) endpoint can't be found", {location}));
    purchaseInfoForPackageWithIdentifier(archive.identifier, [this, archive, location, request = *request, completion, refuse,
                                                              refused](bool failed, const RepoStorePackageInfoResponse& info) {
        ZMLOG("Package available: {} price: {} purchased: {} error: {}", info.available, info.price, info.purchased,
              info.error ? info.error->localizedDescription : "none");
        if (info.invalidate) return refused(true);
        if (isRefusal(info.error) || (!failed && !info.error && !info.purchased)) {
            if (!failed && !info.error) NotificationCenter::defaultCenter().postOnMain("PurchaseNotification", archive.identifier);
            return refused(false);
        }
        if (failed || info.error) return refuse(info.error.value_or(failure(0, "Download failed, the store did not answer")));
        send(request, true, [location, completion, refuse, refused](const Reply& reply) {
            if (reply.invalidatesIn(location)) return refused(true);
            json object = reply.ok() ? reply.object() : json();
            std::string url = object.is_null() ? std::string() : readURL(object, "url");
            if (!url.empty()) return completion(url, std::nullopt);
            if (!reply.transport && (reply.status == 401 || reply.status == 403)) return refused(false);
            refuse(!reply.ok() ? reply.error("Download failed, communication with the server failed (%ld)")
                               : failure(reply.status, "Download failed, the store gave no download address"));
        });
    });
}
