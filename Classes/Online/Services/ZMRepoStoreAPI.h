#pragma once
// The client of the payment protocol that a paid repository may offer beside
// its indexes. The source answers "payment_endpoint" with the address of its
// store; under it live "info", "user_info", "package/<id>/info",
// "package/<id>/purchase", "package/<id>/authorize_download", "sign_out" and
// the sign-in page "authenticate?udid=..&model=..". One process-wide client,
// sharedRepoStore(); every operation completes with a failure flag and its
// record (ZMRepoStoreResponseFactory.h).
//
// Credentials: the token and the payment secret a store issued at sign-in
// live in the keychain file under "<location>_token" and "<location>_payment",
// with the origin of the store that issued them (Binding below). A source
// counts as signed in when both are non-empty and its store is that store.
//
// What reaches a store is guarded, since tokens and payment secrets buy things:
//  - an endpoint is https, or http to this machine (127.0.0.0/8, ::1,
//    localhost), without user, query or fragment, at most 2048 characters;
//    anything else is malformed. A stored endpoint is checked again at each
//    use; one that fails the check fails the request unsent (code 0).
//  - every request ends after kRequestTimeLimit seconds at the latest, also
//    one that keeps receiving a byte now and then;
//  - requests under an endpoint follow no redirect and accept at most 1 MiB;
//    the package identifier must be a package name and goes in as one path
//    segment, percent-encoded (udid and model likewise in the sign-in query).
//  - replies are type-checked: a Boolean is true or a non-zero number, texts
//    are strings (anything else reads as empty), "items" keeps its strings,
//    addresses are http(s) or empty.
//
// Sign-in and purchase pages (ZMRepoStoreAPI+Pages.cpp): the shell installs
// PageHooks that show a page (and close it). Callbacks of the "sileo" scheme
// come back as a top-level navigation of those pages only, through
// storeCallbackReceived() with the page's number; a callback finishes the
// sign-in or purchase its page was opened for, once: a pending sign-in or
// purchase ends at its first callback, when a newer one replaces it, or when
// its page closes (all but a good callback report a failure; a purchase
// page the user closed is a cancel, `cancelled`, unless the store confirms
// the payment all the same). A "payment_completed"
// is verified with the package information before the purchase counts. No
// token, secret or callback query is written to the log.
//
// Threads: any thread may call. Completions of sent requests run on the URL
// session's queue; failures found before sending complete on the caller's
// thread before the call returns.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Foundation/URL.h"
#include "ZMPackageDownloadTask.h"
#include "ZMRepoStoreResponseFactory.h"

class URLSession;
struct URLRequest;

class ZMRepoStoreAPI {
public:
    template <typename Response>
    using Completion = std::function<void(bool failed, const Response& response)>;
    using SuccessCompletion = std::function<void(bool success)>;

    static ZMRepoStoreAPI& sharedRepoStore();

    // ---- requests --------------------------------------------------------------------------
    void endpointForSourceLocation(const std::string& location, Completion<RepoStoreEndpointResponse> completion);
    void vendorInfoForSourceLocation(const std::string& location, Completion<RepoStoreVendorInfoResponse> completion);
    void userInfoForSourceLocation(const std::string& location, Completion<RepoStoreUserInfoResponse> completion);
    // "Not purchased" for a package marked owned is checked with the user's
    // account before it completes (settleNotPurchased below).
    void purchaseInfoForPackageWithIdentifier(const std::string& identifier,
                                              Completion<RepoStorePackageInfoResponse> completion);
    // Status 1 (the store wants its page) keeps the completion until the
    // page's "payment_completed" callback has been verified, or the page
    // closed (unpaid: a failure with `cancelled`).
    void purchasePackageWithIdentifier(const std::string& identifier,
                                       Completion<RepoStorePackagePurchaseResponse> completion);
    void userSignoutForSourceLocation(const std::string& location, Completion<RepoStoreSignoutResponse> completion);
    // The paid branch of a package download: the archive's address from the
    // source's store ("package/<id>/info", then "authorize_download"), or
    // from the repository itself when the source has no store or is blocked.
    // A package the store will not hand over (not bought, 401/403, an ended
    // sign-in) leaves the queue, and the error says why in the user's words.
    void authorizeDownload(const ZMPackageArchive& archive, ZMPackageDownloadTask::DownloadURLCompletion completion);

    // The one repository kept out of the payment protocol (exact text):
    // $VOSTRELLE_BLOCKED_STORE_SOURCE, else the preference
    // "BlockedStoreSource", else the built-in entry.
    bool sourceWithLoacationIsBlacklisted(const std::string& location) const;
    static std::string blockedSourceLocation();

    std::optional<std::string> storedTokenForSourceLocation(const std::string& location) const;
    std::optional<std::string> storedSecretForSourceLocation(const std::string& location) const;
    // Drops the token, the payment secret and the origin they belong to.
    void invalidateCredentialsForSourceLocation(const std::string& location);
    // Drops them and asks the user to sign in again: kSigninRequiredNotification
    // (object: the location) on the main thread.
    void signinRequired(const std::string& location, const std::string& why);
    static constexpr const char* kSigninRequiredNotification = "SileoRepoLogin";

    // Credentials belong to the store that issued them: "<location>_origin"
    // holds the origin (scheme, host, port) of the endpoint they were signed
    // in at. While the source's endpoint has another origin they count for
    // nothing; the first request that would send them drops them instead and
    // asks for a new sign-in. Credentials stored without an origin are bound
    // to the source's endpoint of the moment, at launch or at first use.
    enum class Binding { None, Unbound, Bound, Elsewhere };
    static Binding credentialBinding(const std::string& location);
    static std::string originOfEndpoint(std::string_view endpoint);
    static void bindUnboundCredentials();

    // ---- sign-in, pages and callbacks ------------------------------------------------------
    // Shows the store's sign-in page; completes when its callback stored the
    // credentials, or fails (bad callback, page closed, replaced).
    void userSigninForSourceLocation(const std::string& location, Completion<RepoStoreSigninResponse> completion);
    // A callback URL from the store page `page` ("sileo://authentication_success?token=..&payment_secret=..",
    // "sileo://payment_completed"), caught by the shell as that page's own
    // top-level navigation. It finishes only what that page was opened for;
    // anything else is logged and dropped.
    void storeCallbackReceived(uint64_t page, const std::string& url);
    void signinAuthenticationCallBackHandler(uint64_t page, const std::string& url);
    void purchaseCompletedCallbackHandler(uint64_t page);

    struct PageHooks {
        // Shows the page (any thread; the shell hops to its own). `page` names it in dismiss/storePageClosed;
        // `sourceLocation` is the source whose store the page is.
        std::function<void(uint64_t page, const std::string& url, const std::string& sourceLocation)> present;
        std::function<void(uint64_t page)> dismiss;
    };
    // Without hooks no page can be shown: sign-ins and page purchases fail.
    void setPageHooks(PageHooks hooks);
    // The shell: the page is gone (closed by the user or dismissed). A
    // pending sign-in fails; a pending purchase is asked of the store once
    // more, and completes when the store says it was bought.
    void storePageClosed(uint64_t page);
    bool hasPendingSignin() const;
    bool hasPendingPurchase() const;

    // ---- account synchronisation (ZMRepoStoreAPI+Utility.cpp) ------------------------------
    // Completions may run on any thread; database writes commit before them.
    static bool userIsAuthenticatedForStoreLocation(const std::string& location);
    // Signs in, then marks the packages the user owns there; 1 s after a
    // rewrite of the marks, ZMRSourceUpdatedNotification (object: location).
    static void loginToSource(const std::string& location, SuccessCompletion completion = {});
    // Signs out; with a readable reply the source's marks are cleared (YES),
    // without one the credentials and marks stay (NO).
    static void logoutOfSource(const std::string& location, SuccessCompletion completion = {});
    // Re-reads the user's purchases when signed in; failures are only logged.
    static void updadatePurchasedPackagesForSource(const std::string& location);
    // Rewrites isPaidThroughSileo of the source's packages from the reply (an
    // empty list clears them); identifiers of other sources are not marked.
    // Nothing is written once the source is signed out. NO when nothing was written.
    static void updatePurchasesForSourceWithLocation(const std::string& location, const RepoStoreUserInfoResponse& info,
                                                     SuccessCompletion completion = {});
    // Discovers the endpoint and stores it when the answer is definitive.
    static void updateEndpointForSourceLocation(const std::string& location, SuccessCompletion completion = {});
    // The same for every source, all at once; the completion runs once, after
    // every answer has been stored (at once with no sources).
    static void refreshEndpontsForAllSourcesWithCompletion(SuccessCompletion completion = {});
    // What a discovery answer does to the stored endpoint, and storing it.
    enum class EndpointChange { Keep, Set, Clear };
    static EndpointChange endpointChangeFor(bool failed, const RepoStoreEndpointResponse& response);
    static void storeEndpointChange(const std::string& location, EndpointChange change, const std::string& endpoint);
    // Connects the source refresh (discovery, purchases re-read after a
    // parse) and the download task's paid branch to this client.
    static void installFrameworkHooks();

    // ---- address rules -----------------------------------------------------------------
    // Not empty, "http://" or "https://" (exact case), parses with a host.
    static bool isURL(std::string_view text);
    // isURL plus the endpoint rules above.
    static bool isAcceptableEndpoint(std::string_view text);
    // The endpoint (trimmed) with `component` (already encoded) after exactly one "/".
    static std::optional<URL> addressUnderEndpoint(std::string_view endpoint, std::string_view component);
    // The discovery address: the source location with "payment_endpoint".
    static std::optional<URL> paymentEndpointAddress(const std::string& location);
    static constexpr size_t kMaximumEndpointLength = 2048;
    static constexpr uint64_t kMaximumReplyBytes = 1 << 20;

    // Seconds a whole request may take, connection and redirects included.
    static constexpr double kRequestTimeLimit = 60;
    // Tests: the idle time-out (default 30 s), the whole request's limit
    // (default kRequestTimeLimit) and a fresh client state.
    void setRequestTimeout(double seconds);
    void setRequestTimeLimit(double seconds);
    void resetForTesting();

private:
    ZMRepoStoreAPI();
    struct Reply;
    using ReplyHandler = std::function<void(const Reply& reply)>;
    void send(const URLRequest& request, bool underEndpoint, ReplyHandler handler);
    std::optional<URLRequest> jsonRequest(const std::string& endpoint, const std::string& component,
                                          const std::optional<std::string>& body) const;
    // The token to send to the source's store, empty when there is none for
    // it (see Binding).
    std::string tokenForRequest(const std::string& location);

    struct PendingSignin {
        uint64_t page = 0;
        std::string location;
        std::string origin;  // of the endpoint whose page signs in
        Completion<RepoStoreSigninResponse> completion;
    };
    struct PendingPurchase {
        uint64_t page = 0;
        std::string identifier;
        Completion<RepoStorePackagePurchaseResponse> completion;
    };
    void confirmPurchase(PendingPurchase pending, bool pageClosed);
    // A "not purchased" for a package marked owned. A store may answer so for
    // a token it no longer knows, so the user's account is asked first: a
    // refused account (401, 403, "invalidate") signs out and asks for a new
    // sign-in (the answer then carries `invalidate`); a known one makes the
    // answer a refusal (a refund), and the owned mark goes. When the account
    // cannot be asked, the answer and the mark stay as they are.
    void settleNotPurchased(const std::string& identifier, const std::string& location,
                            RepoStorePackageInfoResponse response, Completion<RepoStorePackageInfoResponse> completion);

    mutable std::mutex mutex_;
    PageHooks pages_;
    uint64_t nextPage_ = 1;
    std::optional<PendingSignin> signin_;
    std::optional<PendingPurchase> purchase_;
    double timeout_ = 30;
    double timeLimit_ = kRequestTimeLimit;
    std::shared_ptr<URLSession> endpointSession_, discoverySession_;
};
