// The payment client against stores that misbehave or move: replies nested
// to crash a parser, stores that dribble, a store address that changes under
// stored credentials, tokens revoked in an error reply, a checkout closed
// after paying, a download the store refuses, callbacks from the wrong page.
#include <gmock/gmock.h>

#include <atomic>
#include <thread>

#include "Database/ZMRPackageManager.h"
#include "Notifications/NotificationCenter.h"
#include "Online/Services/RepoStoreFixture.h"

using nlohmann::json;
using testing::HasSubstr;

namespace {

class RepoStoreHostile : public RepoStoreFixture {
protected:
    std::string errorText(const std::optional<RepoStoreError>& e) { return e ? e->localizedDescription : "<none>"; }
    auto vendor() { return await<RepoStoreVendorInfoResponse>([&](auto k) { client.vendorInfoForSourceLocation(location, k); }); }
    auto user() { return await<RepoStoreUserInfoResponse>([&](auto k) { client.userInfoForSourceLocation(location, k); }); }
    auto info() {
        return await<RepoStorePackageInfoResponse>([&](auto k) { client.purchaseInfoForPackageWithIdentifier("com.example.paid", k); });
    }
    auto purchase() {
        return await<RepoStorePackagePurchaseResponse>([&](auto k) { client.purchasePackageWithIdentifier("com.example.paid", k); });
    }
    // Sign-in-required notifications for the fixture's source.
    std::atomic<int> signinAsked{0};
    ObserverToken observeSigninRequests() {
        return NotificationCenter::defaultCenter().addObserver(
            "SileoRepoLogin", NotificationCenter::Queue::Posting, [this](const Notification&) { ++signinAsked; }, location);
    }
};

std::string nested(size_t depth, const std::string& open = "[", const std::string& close = "]") {
    std::string out;
    out.reserve(depth * (open.size() + close.size()));
    for (size_t i = 0; i < depth; ++i) out += open;
    for (size_t i = 0; i < depth; ++i) out += close;
    return out;
}

TEST_F(RepoStoreHostile, ADeeplyNestedReplyIsRefusedWithoutHarm) {
    signIn(location);
    // About 200 KB: far below the size cap, deep enough to exhaust a stack.
    const std::string deep = nested(100'000);
    const std::string pkg = "pay/package/com.example.paid/";
    struct Case {
        std::string route, body;
        std::function<std::optional<RepoStoreError>()> run;
    };
    for (const auto& c : std::vector<Case>{
             {"pay/info", "{\"name\": " + deep + "}", [&] { return vendor().second.error; }},
             {"pay/info", deep, [&] { return vendor().second.error; }},
             {"pay/user_info", "{\"items\": " + deep + "}", [&] { return user().second.error; }},
             {pkg + "info", "{\"available\": true, \"x\": " + nested(100'000, "{\"a\":", "}") + "}", [&] { return info().second.error; }},
             {pkg + "purchase", "{\"status\": 0, \"error\": " + deep + "}", [&] { return purchase().second.error; }},
         }) {
        server->route(c.route, [body = c.body](const httplib::Request&, httplib::Response& res) {
            res.set_content(body, "application/json");
        });
        auto error = c.run();
        EXPECT_TRUE(error) << c.route;
        if (error) { EXPECT_THAT(error->localizedDescription, testing::AnyOf(HasSubstr("parse"), HasSubstr("Failed"))) << c.route; }
    }
    // A reply nested a little, as real stores answer, still reads.
    server->route("pay/info", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("{\"name\": \"Deep Store\", \"extra\": [[[[{\"a\": [1]}]]]]}", "application/json");
    });
    EXPECT_EQ(vendor().second.name, "Deep Store");
}

TEST_F(RepoStoreHostile, AStoreThatDribblesIsCutOffByTheTotalDeadline) {
    signIn(location);
    // One byte every 200 ms for 4 s: never idle long enough for the idle
    // limit. (A known length: a chunked answer would be compressed in bulk.)
    auto dribble = [](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(20, "application/json", [](size_t offset, size_t, httplib::DataSink& sink) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            return sink.write(offset == 0 ? "{" : offset == 19 ? "}" : " ", 1);
        });
    };
    server->route("pay/user_info", dribble);
    server->route("payment_endpoint", dribble);
    client.setRequestTimeout(2);
    client.setRequestTimeLimit(1);
    for (auto [name, error] : std::vector<std::pair<std::string, std::optional<RepoStoreError>>>{
             {"user info", user().second.error},
             {"discovery", await<RepoStoreEndpointResponse>([&](auto k) { client.endpointForSourceLocation(location, k); }).second.error},
         }) {
        ASSERT_TRUE(error) << name;
        EXPECT_EQ(error->domain, "URLErrorDomain") << name;
        EXPECT_EQ(error->code, -1001) << name << ": " << error->localizedDescription;
    }
}

TEST_F(RepoStoreHostile, CredentialsStayWithTheStoreThatIssuedThem) {
    auto& keychain = PDKeychainBindings::sharedKeychainBindings();
    // Signed in through the page of the current store.
    client.userSigninForSourceLocation(location, [](bool, const RepoStoreSigninResponse&) {});
    client.storeCallbackReceived(lastPage(), "sileo://authentication_success?token=tok-3f9a&payment_secret=sec-77b1");
    ASSERT_TRUE(ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(location));
    ASSERT_FALSE(user().first);

    // The source now names a store elsewhere (a refresh, a redirect, a plain-http source...).
    TestSupport::TempDir otherDir;
    FlatRepository::FileServer other(otherDir.path());
    FakeStores::PaymentAPI thief(other, otherDir.path());
    thief.sell("com.example.paid", "paid.deb");
    addSource(location, thief.endpoint());
    auto token = observeSigninRequests();
    EXPECT_FALSE(ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(location));
    auto r = user();
    EXPECT_TRUE(r.first);
    EXPECT_THAT(errorText(r.second.error), HasSubstr("not signed in"));
    info();
    purchase();
    for (const auto& request : other.requests())
        EXPECT_EQ(request.body.find("tok-3f9a"), std::string::npos) << request.path << " got the token";
    EXPECT_FALSE(keychain.stringForKey(location + "_token")) << "dropped, not kept for a return";
    EXPECT_FALSE(keychain.stringForKey(location + "_payment"));
    EXPECT_TRUE(TestSupport::waitUntil([&] { return signinAsked >= 1; })) << "the user is asked to sign in again";

    // Signing in at the new store binds the new credentials to it.
    client.userSigninForSourceLocation(location, [](bool, const RepoStoreSigninResponse&) {});
    client.storeCallbackReceived(lastPage(), "sileo://authentication_success?token=tok-3f9a&payment_secret=sec-77b1");
    EXPECT_TRUE(ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(location));
    EXPECT_FALSE(user().first);
}

TEST_F(RepoStoreHostile, ARevokedTokenInAnErrorReplySignsTheUserOut) {
    const std::string pkg = "pay/package/com.example.paid/";
    struct Case {
        std::string route;
        int status;
        std::function<bool()> reportsInvalidate;
    };
    for (const auto& c : std::vector<Case>{
             {pkg + "info", 401, [&] { return info().second.invalidate; }},
             {pkg + "info", 403, [&] { return info().second.invalidate; }},
             {pkg + "purchase", 401, [&] { return purchase().second.invalidate; }},
             {"pay/user_info", 403, [&] { return user().second.invalidate; }},
         }) {
        signIn(location);
        server->route(c.route, [status = c.status](const httplib::Request&, httplib::Response& res) {
            res.status = status;
            res.set_content("{\"error\": \"Token expired\", \"invalidate\": true}", "application/json");
        });
        auto token = observeSigninRequests();
        signinAsked = 0;
        EXPECT_TRUE(c.reportsInvalidate()) << c.route << " " << c.status;
        EXPECT_FALSE(ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(location)) << c.route << " " << c.status;
        EXPECT_TRUE(TestSupport::waitUntil([&] { return signinAsked >= 1; })) << c.route << " " << c.status;
        TestSupport::pumpMainLoop(std::chrono::milliseconds(20));
        EXPECT_EQ(signinAsked.load(), 1) << c.route << " " << c.status;
    }
    // An error reply without the flag keeps the sign-in.
    signIn(location);
    server->route(pkg + "info", [](const httplib::Request&, httplib::Response& res) {
        res.status = 500;
        res.set_content("{\"error\": \"Busy\"}", "application/json");
    });
    EXPECT_FALSE(info().second.invalidate);
    EXPECT_TRUE(ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(location));
}

TEST_F(RepoStoreHostile, ClosingAPaidCheckoutWithoutItsLastLinkStillCompletesThePurchase) {
    signIn(location);
    api->update([](auto& s) { s.purchaseStatus = 1; });
    struct Case {
        bool paid;
        bool failed;
    };
    for (auto c : {Case{true, false}, Case{false, true}}) {
        api->update([&](auto& s) {
            s.purchased.clear();
            if (c.paid) s.purchased.insert("com.example.paid");  // the store took the payment
        });
        auto done = std::make_shared<std::promise<std::pair<bool, RepoStorePackagePurchaseResponse>>>();
        client.purchasePackageWithIdentifier("com.example.paid", [done](bool f, const auto& r) { done->set_value({f, r}); });
        ASSERT_TRUE(TestSupport::waitUntil([&] { return client.hasPendingPurchase(); }));
        client.storePageClosed(lastPage());
        auto future = done->get_future();
        ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        auto [failed, r] = future.get();
        EXPECT_EQ(failed, c.failed) << "paid: " << c.paid;
        EXPECT_EQ(r.status, c.paid ? 0 : -1) << "paid: " << c.paid;
    }
}

TEST_F(RepoStoreHostile, ARefusedPaidDownloadSaysWhyAndLeavesTheQueue) {
    TestSupport::writeFile(dir.file("paid.deb"), "archive");
    ZMPackageArchive archive;
    archive.identifier = "com.example.paid", archive.version = "1.0", archive.sourceLocation = location;
    archive.fileName = "./paid.deb";
    auto& packages = ZMRPackageManager::sharedPackageManager().packages();
    auto authorize = [&] {
        packages.setPackage("com.example.paid", true, std::nullopt, 0);
        auto p = std::make_shared<std::promise<std::optional<ZMError>>>();
        client.authorizeDownload(archive, [p](auto, auto error) { p->set_value(error); });
        auto f = p->get_future();
        EXPECT_EQ(f.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        return f.get();
    };
    const std::string pkg = "pay/package/com.example.paid/";
    struct Case {
        std::string name;
        std::function<void()> arrange;
        std::string says;
    };
    for (const auto& c : std::vector<Case>{
             {"not bought", [&] { signIn(location); }, "buy"},
             {"info 403", [&] {
                  signIn(location);
                  server->route(pkg + "info", [](const httplib::Request&, httplib::Response& res) { res.status = 403; });
              }, "buy"},
             {"authorize 403", [&] {
                  signIn(location);
                  api->update([](auto& s) { s.purchased.insert("com.example.paid"); });
                  server->route(pkg + "info", [](const httplib::Request&, httplib::Response& res) {
                      res.set_content("{\"available\": true, \"purchased\": true}", "application/json");
                  });
                  server->route(pkg + "authorize_download", [](const httplib::Request&, httplib::Response& res) { res.status = 403; });
              }, "buy"},
             {"token revoked", [&] {
                  signIn(location);
                  server->route(pkg + "info", [](const httplib::Request&, httplib::Response& res) {
                      res.status = 401;
                      res.set_content("{\"invalidate\": true}", "application/json");
                  });
              }, "sign in"},
         }) {
        c.arrange();
        auto error = authorize();
        ASSERT_TRUE(error) << c.name;
        EXPECT_THAT(error->localizedDescription(), HasSubstr(c.says)) << c.name;
        EXPECT_THAT(error->localizedDescription(), testing::Not(HasSubstr("(403)"))) << c.name;
        EXPECT_FALSE(ZMRPackage::objectForPrimaryKey("com.example.paid")->isInTheQueue.value_or(false)) << c.name;
    }
    // A store that is only unreachable does not take the package out of the queue.
    signIn(location);
    server->route(pkg + "info", [](const httplib::Request&, httplib::Response& res) { res.status = 502; });
    EXPECT_TRUE(authorize());
    EXPECT_TRUE(ZMRPackage::objectForPrimaryKey("com.example.paid")->isInTheQueue.value_or(false));
}

TEST_F(RepoStoreHostile, ACallbackCountsOnlyFromThePageOpenedForIt) {
    auto& keychain = PDKeychainBindings::sharedKeychainBindings();
    bool done = false;
    client.userSigninForSourceLocation(location, [&](bool, const RepoStoreSigninResponse&) { done = true; });
    const uint64_t page = lastPage();
    // Another page (an earlier one, a purchase page, one never shown) cannot finish it.
    for (uint64_t other : {page + 1, page - 1, uint64_t{0}})
        client.storeCallbackReceived(other, "sileo://authentication_success?token=planted&payment_secret=planted");
    EXPECT_FALSE(done);
    EXPECT_FALSE(keychain.stringForKey(location + "_token"));
    EXPECT_TRUE(client.hasPendingSignin());
    client.storeCallbackReceived(page, "sileo://authentication_success?token=good&payment_secret=s");
    EXPECT_TRUE(done);
    EXPECT_EQ(keychain.stringForKey(location + "_token"), "good");
}

}  // namespace
