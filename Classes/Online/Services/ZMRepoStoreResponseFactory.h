#pragma once
// The answers of the repository payment API (ZMRepoStoreAPI): one small
// record per operation, handed to its completion together with a failure
// flag. A call succeeded only when the flag is clear and `error` is empty.
//
// Everything in them came from a server and has been checked on the way in:
// texts are plain text (shown with Qt::PlainText), addresses are http(s) or
// empty, `purchases` holds only strings.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Miscellaneous/ZMError.h"

// A failure of the payment API: the domain "com.zemtrix.vostrelle" with code
// 0 when nothing was sent (or the package is unavailable), else the HTTP
// status; a transport failure keeps its own domain and code.
struct RepoStoreError {
    std::string domain = ZMError::kDomain;
    int code = 0;
    std::string localizedDescription;

    // The domain of a store's failure in the pipeline (a failed paid download).
    static constexpr const char* kPipelineDomain = "com.zemtrix.vostrelle.store";
    // The store ended the user's sign-in, and the client asked for a new one
    // (kSigninRequiredNotification): that request tells the user, so a
    // failure with this code needs no alert of its own. No HTTP status, no
    // transport failure and "nothing sent" (0) has it.
    static constexpr int kSigninEndedCode = -1;

    static RepoStoreError make(int code, std::string text) { return {ZMError::kDomain, code, std::move(text)}; }
    static RepoStoreError fromTransport(const ZMError& e) { return {e.domain, e.code, e.localizedDescription()}; }
    // For the pipeline (a failed paid download): the text stays what the user reads.
    ZMError zmError() const { return ZMError{kPipelineDomain, code, localizedDescription, {}}; }
    static bool isSigninEnded(const std::string& pipelineDomain, int pipelineCode) {
        return pipelineDomain == kPipelineDomain && pipelineCode == kSigninEndedCode;
    }
};

struct RepoStoreEndpointResponse {
    bool hasEndpoint = false;
    std::string endpoint;  // trimmed; empty without an endpoint
    std::optional<RepoStoreError> error;
    // The answer settles the question: a 200 (with or without a usable
    // endpoint), a 404 or 410, or a blocked source. Time-outs, transport
    // errors and other statuses do not, and a stored endpoint stays.
    bool definitive = false;
};

struct RepoStoreVendorInfoAuthenticationInfo {
    std::string message;      // "authentication_banner"."message"
    std::string buttonTitle;  // "authentication_banner"."button"
};

struct RepoStoreVendorInfoResponse {
    std::string name;     // "name"
    std::string tagline;  // "description"
    std::string icon;     // "icon", http(s) only
    std::optional<RepoStoreVendorInfoAuthenticationInfo> authenticationInfo;  // set by every parsed reply
    std::optional<RepoStoreError> error;
};

struct RepoStorePackageInfoResponse {
    bool purchased = false;  // read only when available
    bool available = false;
    bool invalidate = false;  // the store dropped the user's credentials
    std::string price;        // read only when available
    std::optional<RepoStoreError> error;
    std::string recovery_url;  // when unavailable: a page that explains, http(s) only
    // The store's own reply was read: only then does an unavailable package
    // say something about the package, not about the request.
    bool answered = false;
};

struct RepoStorePackagePurchaseResponse {
    static constexpr int64_t kCompleted = 0, kActionRequired = 1, kFailed = -1;
    int64_t status = kCompleted;  // kFailed also when the reply has no "status"
    std::string url;              // the page to finish the purchase on, http(s) only
    std::optional<RepoStoreError> error;
    bool invalidate = false;
    // The user closed the purchase page and the store took no payment: the
    // buyer's own cancel, nothing to report.
    bool cancelled = false;
};

struct RepoStoreSigninResponse {
    bool success = false;
    std::optional<RepoStoreError> error;
};

struct RepoStoreSignoutResponse {
    bool success = false;  // also when no token was stored
    std::optional<RepoStoreError> error;
};

struct RepoStoreUserInfoResponse {
    std::string name;                    // "user"."name"
    std::string email;                   // "user"."email"
    std::vector<std::string> purchases;  // "items": identifiers the user owns at this store
    std::optional<RepoStoreError> error;
    bool invalidate = false;
};

// The one place that makes the records; each comes empty, so that a failure
// found before any request still completes with a record of the right kind.
class ZMRepoStoreResponseFactory {
public:
    static RepoStoreEndpointResponse endpointResponse() { return {}; }
    static RepoStoreVendorInfoAuthenticationInfo vendorInfoAuthenticationInfo() { return {}; }
    static RepoStoreVendorInfoResponse vendorInfoResponse() { return {}; }
    static RepoStorePackageInfoResponse packageInfoResponse() { return {}; }
    static RepoStorePackagePurchaseResponse packagePurchaseResponse() { return {}; }
    static RepoStoreSigninResponse signinResponse() { return {}; }
    static RepoStoreSignoutResponse signoutResponse() { return {}; }
    static RepoStoreUserInfoResponse userInfoResponse() { return {}; }
};
