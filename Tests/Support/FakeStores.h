#pragma once
// Stand-ins for the stores a user meets, on loopback:
//  - PaymentAPI: a paid flat repository's payment protocol, beside the
//    repository's files on the same FileServer: "payment_endpoint", and
//    under "pay/": info, authenticate (a sign-in form whose submit
//    302-redirects to the sileo callback, or a script or a link doing so),
//    user_info, package/<id>/{info,purchase,authorize_download} (purchase
//    status 0, 1 with a checkout page whose button pays and goes to
//    "sileo://payment_completed", or -1), sign_out, and one-time download
//    addresses serving the repository's .deb.
//    A token the store no longer knows gets "invalidate" everywhere, or, as
//    some real stores answer, "not purchased" from the package information
//    and an HTTP status from user_info (knobs below).
//  - CydiaStore: "/account" (a login form; its POST sets a session cookie),
//    "/account/purchases" (with the cookie: links "http://<host>/package/<id>";
//    else the form), "/api/invalidate" (ends the session); its pages embed an
//    image from a second server, which records the headers it was sent.
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Support/FlatRepository.h"
#include "Support/TestSupport.h"

namespace FakeStores {

// Replies a test holds back and lets go one by one, in any order: while
// holding, a handler that calls wait() blocks until released.
class HeldReplies {
public:
    ~HeldReplies() { stop(); }
    void hold();
    // Lets every waiting reply go and holds no more.
    void stop();
    size_t waiting() const;
    // Lets the reply that arrived `index`-th (from 0) go.
    void release(size_t index);
    void wait();

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool holding_ = false;
    std::vector<std::shared_ptr<bool>> replies_;  // released?
};

class PaymentAPI {
public:
    // Routes on `server`; `repositoryRoot` is where the .deb files lie.
    PaymentAPI(FlatRepository::FileServer& server, std::string repositoryRoot);

    std::string endpoint() const { return server_.url("pay/"); }
    // The package ids the store sells, with their .deb file names (routes are added per id).
    void sell(const std::string& identifier, const std::string& debFile);

    // Knobs, all guarded: set them before the request they shape.
    struct State {
        int endpointStatus = 200;
        std::string endpointBody;  // default: the endpoint with blanks around and a newline
        // Planted: the page embeds callbacks with other credentials in an
        // image and a frame, beside a link with the real callback.
        enum class Callback { Form, Script, Link, Planted } callback = Callback::Form;
        std::string token = "tok-3f9a", secret = "sec-77b1";
        std::set<std::string> purchased;
        int purchaseStatus = 1;  // what package/<id>/purchase answers
        bool userInfoInvalidates = false;
        int userInfoDelayMs = 0;
        // A token the store does not know: package information reads
        // {available: true, purchased: false} instead of "invalidate"...
        bool packageInfoIgnoresToken = false;
        // ...and user_info answers this status (200: an error with "invalidate").
        int userInfoUnknownTokenStatus = 200;
        int downloadStatus = 200;  // what a one-time download address answers
        nlohmann::json vendor = {{"name", "Paid Test Store"},
                                 {"description", "Tweaks worth paying for"},
                                 {"authentication_banner", {{"message", "Sign in to buy tweaks"}, {"button", "Sign in"}}}};
    };
    State state() const;
    template <typename F> void update(F change) {
        std::lock_guard lock(mutex_);
        change(state_);
    }
    // Bodies of the POSTs to a path under "pay/" (JSON), in order.
    std::vector<nlohmann::json> bodies(const std::string& path) const;
    // Vendor information is answered as it was when asked, once let go.
    HeldReplies vendorInfoReplies;

private:
    FlatRepository::FileServer& server_;
    std::string root_;
    mutable std::mutex mutex_;
    State state_;
    std::map<std::string, std::string> debs_;  // identifier -> file
    std::map<std::string, std::string> downloads_;  // one-time token -> file
    int nextDownload_ = 1;
};

// A flat repository on loopback that sells one package through its PaymentAPI:
// "Paid Tweak" 1.0 at $1.99, in the repository "Paid Repo".
struct PaidRepository {
    TestSupport::TempDir repo, work;
    std::unique_ptr<FlatRepository::FileServer> server;
    std::unique_ptr<PaymentAPI> store;

    void serve(const std::string& identifier) {
        const auto deb = FlatRepository::buildDeb(work.path(), repo.path(), {identifier, "1.0", "Name: Paid Tweak\nPrice: $1.99\n", ""});
        FlatRepository::writeIndexes(repo.path(), "Paid Repo");
        server = std::make_unique<FlatRepository::FileServer>(repo.path());
        store = std::make_unique<PaymentAPI>(*server, repo.path());
        store->sell(identifier, deb);
    }
    std::string location() const { return server->url(); }
};

class CydiaStore {
public:
    // Signed in, the purchase list links `purchases`.
    explicit CydiaStore(std::vector<std::string> purchases);
    std::string base() const { return store_->url(); }
    FlatRepository::FileServer& store() { return *store_; }
    FlatRepository::FileServer& images() { return *images_; }
    bool signedIn() const;
    void setPurchases(std::vector<std::string> purchases);
    // The purchase list answers this much later.
    void setPurchaseListDelay(int milliseconds);
    // The purchase list is answered as it was when asked, once let go.
    HeldReplies purchaseListReplies;

private:
    TestSupport::TempDir dir_;
    std::unique_ptr<FlatRepository::FileServer> images_, store_;
    mutable std::mutex mutex_;
    std::vector<std::string> purchases_;
    std::string session_;
    int delayMs_ = 0;
};

}  // namespace FakeStores
