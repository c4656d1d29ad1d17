// The payment client's pages: the sign-in page and the purchase page, shown
// through the shell's PageHooks, and the "sileo" callbacks that come back
// from them. A callback counts only from the page opened for what it
// finishes; a purchase page closed without its callback is checked with the
// store, which may have taken the payment all the same.
#include "ZMRepoStoreAPI.h"
#include "ZMRepoStoreAPI+Internal.h"

#include "Database/ZMRSource.h"
#include "Keychain/PDKeychainBindings.h"
#include "Miscellaneous/ZMPlatform.h"
#include "Miscellaneous/ZMURLSchemeHandler.h"

using namespace ZMRepoStoreInternal;

void ZMRepoStoreAPI::setPageHooks(PageHooks hooks) {
    std::lock_guard lock(mutex_);
    pages_ = std::move(hooks);
}

bool ZMRepoStoreAPI::hasPendingSignin() const {
    std::lock_guard lock(mutex_);
    return signin_.has_value();
}

bool ZMRepoStoreAPI::hasPendingPurchase() const {
    std::lock_guard lock(mutex_);
    return purchase_.has_value();
}

void ZMRepoStoreAPI::userSigninForSourceLocation(const std::string& location,
                                                 Completion<RepoStoreSigninResponse> completion) {
    auto response = ZMRepoStoreResponseFactory::signinResponse();
    auto fail = [&](RepoStoreError error) { complete(completion, response, std::move(error)); };
    if (location.empty()) return fail(failure(0, "Signin failed, missing source location"));
    auto source = ZMRSource::objectForPrimaryKey(location);
    if (!source) return fail(failure(0, "Signin failed, source with url:(%@) can't be found", {location}));
    if (trim(source->endpoint).empty())
        return fail(failure(0, "Signin failed, source with url:(%@) endpoint can't be found", {location}));
    auto address = addressUnderEndpoint(source->endpoint, "authenticate");
    if (!address)
        return fail(failure(0, "Signin failed, source with url:(%@) authentication query unable to be built from endpoint (%@)",
                            {location, source->endpoint}));
    address->setQuery("udid=" + URLEncoding::encodeQueryValue(ZMPlatform::deviceUDID()) +
                      "&model=" + URLEncoding::encodeQueryValue(ZMPlatform::deviceModelID()));

    PageHooks pages;
    std::optional<PendingSignin> replaced;
    uint64_t page = 0;
    {
        std::lock_guard lock(mutex_);
        pages = pages_;
        if (pages_.present) {
            replaced = std::exchange(signin_, std::nullopt);
            page = nextPage_++;
            signin_ = PendingSignin{page, location, originOfEndpoint(source->endpoint), completion};
        }
    }
    if (!page) return fail(failure(0, "Signin failed, the sign-in page cannot be shown"));
    if (replaced) {
        if (pages.dismiss) pages.dismiss(replaced->page);
        auto ended = ZMRepoStoreResponseFactory::signinResponse();
        ended.error = failure(0, "Signin failed, another sign-in was started");
        replaced->completion(true, ended);
    }
    ZMLOG("signing in to the store of {}", location);
    pages.present(page, address->string(), location);
}

void ZMRepoStoreAPI::storeCallbackReceived(uint64_t page, const std::string& url) {
    const ZMURLAction action = ZMURLSchemeHandler::parse(url);
    if (action.kind == ZMURLAction::Kind::AuthenticationSuccess) return signinAuthenticationCallBackHandler(page, url);
    if (action.kind == ZMURLAction::Kind::PaymentCompleted) return purchaseCompletedCallbackHandler(page);
    ZMLOG("store callback refused: {}", action.problem);
}

void ZMRepoStoreAPI::signinAuthenticationCallBackHandler(uint64_t page, const std::string& url) {
    std::optional<PendingSignin> pending;
    PageHooks pages;
    bool otherPage = false;
    {
        std::lock_guard lock(mutex_);
        otherPage = signin_ && signin_->page != page;
        if (!otherPage) pending = std::exchange(signin_, std::nullopt);
        pages = pages_;
    }
    // Another page (a purchase page, a closed one) cannot finish this sign-in.
    if (otherPage) return (void)ZMLOG("sign-in callback refused: not from the sign-in page");
    if (!pending) return logError(failure(0, "Signin callback failed, session location not set"));
    if (pages.dismiss) pages.dismiss(pending->page);
    auto response = ZMRepoStoreResponseFactory::signinResponse();
    auto fail = [&](RepoStoreError error) { complete(pending->completion, response, std::move(error)); };
    const ZMURLAction action = ZMURLSchemeHandler::parse(url);
    auto parameter = [&](const char* name) {
        auto it = action.parameters.find(name);
        return it == action.parameters.end() ? std::string() : it->second;
    };
    const std::string token = parameter("token"), secret = parameter("payment_secret");
    if (action.kind != ZMURLAction::Kind::AuthenticationSuccess || token.empty() || secret.empty())
        return fail(failure(0, "Signin callback failed, unable to parse credentials url:(%@)", {pending->location}));
    if (!ZMRSource::objectForPrimaryKey(pending->location))
        return fail(failure(0, "Signin failed, source with url:(%@) can't be found", {pending->location}));
    // Both in one write: a reader never finds a new token beside an old secret.
    // With the store they belong to: they go to no other (see Binding).
    PDKeychainBindings::sharedKeychainBindings().setObjects({{pending->location + "_token", token},
                                                             {pending->location + "_payment", secret},
                                                             {pending->location + "_origin", pending->origin}});
    ZMLOG("signed in to the store of {}", pending->location);
    response.success = true;
    pending->completion(false, response);
}

void ZMRepoStoreAPI::purchaseCompletedCallbackHandler(uint64_t page) {
    std::optional<PendingPurchase> pending;
    PageHooks pages;
    {
        std::lock_guard lock(mutex_);
        if (purchase_ && purchase_->page == page) pending = std::exchange(purchase_, std::nullopt);
        pages = pages_;
    }
    if (!pending) return (void)ZMLOG("purchase callback dropped: no purchase is pending on that page");
    if (pages.dismiss) pages.dismiss(pending->page);
    confirmPurchase(std::move(*pending), false);
}

void ZMRepoStoreAPI::confirmPurchase(PendingPurchase pending, bool pageClosed) {
    // Neither the page's "completed" nor its closing says what was paid: the store itself does.
    purchaseInfoForPackageWithIdentifier(pending.identifier, [identifier = pending.identifier, completion = pending.completion,
                                                              pageClosed](bool failed, const RepoStorePackageInfoResponse& info) {
        auto response = ZMRepoStoreResponseFactory::packagePurchaseResponse();
        if (!failed && !info.error && info.available && info.purchased) return completion(false, response);
        response.status = RepoStorePackagePurchaseResponse::kFailed;
        response.invalidate = info.invalidate;
        if (pageClosed) {
            response.cancelled = true;
            response.error = failure(0, "Purchase request failed, the purchase page was closed before the payment completed");
            ZMLOG("purchase of {} cancelled: its page was closed", identifier);
            return completion(true, response);
        }
        complete(completion, response, info.error && !info.error->localizedDescription.empty()
                             ? *info.error
                             : failure(0, "Purchase request failed, the store has not confirmed the purchase of (%@)", {identifier}));
    });
}

void ZMRepoStoreAPI::storePageClosed(uint64_t page) {
    std::optional<PendingSignin> signin;
    std::optional<PendingPurchase> purchase;
    {
        std::lock_guard lock(mutex_);
        if (signin_ && signin_->page == page) signin = std::exchange(signin_, std::nullopt);
        if (purchase_ && purchase_->page == page) purchase = std::exchange(purchase_, std::nullopt);
    }
    if (signin) {
        auto response = ZMRepoStoreResponseFactory::signinResponse();
        complete(signin->completion, response, failure(0, "Signin failed, the sign-in page was closed"));
    }
    // A checkout may take the payment and be closed before its last link: asked once more.
    if (purchase) confirmPurchase(std::move(*purchase), true);
}
