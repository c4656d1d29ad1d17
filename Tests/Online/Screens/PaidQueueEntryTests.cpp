// The queue entry point's paid branch against a fake store: what each answer
// of the store leads to.
#include <cstdlib>

#include "App/ZMApplication.h"
#include "ErrorViewController.h"
#include "Keychain/PDKeychainBindings.h"
#include "Notifications/NotificationCenter.h"
#include "Services/ZMRepoStoreAPI.h"
#include "Shell/ShellTestSupport.h"
#include "Support/FakeStores.h"

namespace {

class PaidQueueEntry : public ShellTest::Fixture {
protected:
    TestSupport::TempDir dir;
    std::unique_ptr<FlatRepository::FileServer> server;
    std::unique_ptr<FakeStores::PaymentAPI> api;
    std::string location;
    int pagesShown = 0;

    void SetUp() override {
        Fixture::SetUp();
        PDKeychainBindings::resetForTesting();
        auto& d = ZMVostrelle::sharedVostrelle();
        ZMApplication::applicationDidFinishLaunching();
        ASSERT_TRUE(GuiTest::waitUntil([&] { return d.backgroundLaunchWorkDone(); }, std::chrono::seconds(30)));
        ZMRepoStoreAPI::sharedRepoStore().setPageHooks({[this](uint64_t, const std::string&, const std::string&) { ++pagesShown; }, {}});
        server = std::make_unique<FlatRepository::FileServer>(dir.path());
        api = std::make_unique<FakeStores::PaymentAPI>(*server, dir.path());
        api->sell("com.example.paid", "paid.deb");
        location = server->url();
        storeSource(location, "Paid");
        setEndpoint(api->endpoint());
        auto p = ShellTest::makePackage("com.example.paid", "Paid Tweak");
        p.sourceLocation = location, p.price = "$1.99";
        store({p});
    }
    void TearDown() override {
        unsetenv("VOSTRELLE_BLOCKED_STORE_SOURCE");
        ZMRepoStoreAPI::sharedRepoStore().resetForTesting();
        Fixture::TearDown();
    }
    void setEndpoint(const std::string& endpoint) {
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] {
            auto s = *ZMRSource::objectForPrimaryKey(location);
            s.endpoint = endpoint;
            realm->addOrUpdate(s);
        });
    }
    void signIn() {
        PDKeychainBindings::sharedKeychainBindings().setString(api->state().token, location + "_token");
        PDKeychainBindings::sharedKeychainBindings().setString(api->state().secret, location + "_payment");
    }
    bool queued() { return fetch("com.example.paid").isInTheQueue.value_or(false); }
    // Taps the price and waits for the outcome: queued, or an alert.
    void tap() {
        const int alerts = ZMVostrelle::sharedVostrelle().alertCount(), pages = pagesShown;
        ZMVostrelle::sharedVostrelle().queuePackageWithIdentifier("com.example.paid", std::nullopt);
        GuiTest::waitUntil([&] { return queued() || ZMVostrelle::sharedVostrelle().alertCount() > alerts || pagesShown > pages; },
                           std::chrono::seconds(10));
    }
};

TEST_F(PaidQueueEntry, EachAnswerOfTheStoreLeadsToItsOutcome) {
    auto& d = ZMVostrelle::sharedVostrelle();
    // Signed out: the store's sign-in page, nothing queued.
    tap();
    EXPECT_EQ(pagesShown, 1);
    EXPECT_FALSE(queued());

    // Unavailable, with a page that explains: the alert offers it.
    signIn();
    server->route("pay/package/com.example.paid/info", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(R"({"available": false, "error": "<b>Not sold in your region</b>", "recovery_url": "https://help.example/"})",
                        "application/json");
    });
    tap();
    EXPECT_EQ(d.lastAlertTitle(), "Error fetching package info");
    auto* popup = dynamic_cast<ErrorViewController*>(d.window()->topPresentedViewController());
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->messageLbl()->text(), "<b>Not sold in your region</b>");
    EXPECT_EQ(popup->otherBtn()->text(), "More Info");
    popup->closeBtn()->click();
    GuiTest::pump();

    // A refused payment: "Purchase Failed".
    server->route("pay/package/com.example.paid/info", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(R"({"available": true, "purchased": false})", "application/json");
    });
    api->update([](auto& s) { s.purchaseStatus = -1; });
    tap();
    EXPECT_EQ(d.lastAlertTitle(), "Purchase Failed");
    EXPECT_FALSE(queued());

    // Bought at once: owned and queued.
    api->update([](auto& s) { s.purchaseStatus = 0; });
    tap();
    EXPECT_TRUE(queued());
    EXPECT_TRUE(fetch("com.example.paid").isPaidThroughSileo.value_or(false));
}

TEST_F(PaidQueueEntry, APackageOfTheBlockedSourceIsQueuedWithoutTheStore) {
    setEndpoint("");
    tap();
    EXPECT_EQ(ZMVostrelle::sharedVostrelle().lastAlertTitle(), "Can't get package");
    setenv("VOSTRELLE_BLOCKED_STORE_SOURCE", location.c_str(), 1);
    tap();
    EXPECT_TRUE(queued());
    EXPECT_EQ(server->requests().size(), 0u);
}

TEST_F(PaidQueueEntry, ARevokedTokenBringsBackTheSignIn) {
    // The store answers a dead token with 401 and "invalidate".
    for (int status : {401, 403}) {
        signIn();
        server->route("pay/package/com.example.paid/info", [status](const httplib::Request&, httplib::Response& res) {
            res.status = status;
            res.set_content(R"({"error": "Token expired", "invalidate": true})", "application/json");
        });
        const int pages = pagesShown;
        tap();
        EXPECT_TRUE(GuiTest::waitUntil([&] { return pagesShown == pages + 1; })) << status << ": the sign-in page";
        EXPECT_FALSE(ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(location)) << status;
        EXPECT_FALSE(queued());
    }
}

TEST_F(PaidQueueEntry, AStoreThatEndedTheSignInAsksForANewOne) {
    auto& d = ZMVostrelle::sharedVostrelle();
    const int alerts = d.alertCount();
    NotificationCenter::defaultCenter().postOnMain("SileoRepoLogin", location);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return d.alertCount() > alerts; }));
    auto* popup = dynamic_cast<ErrorViewController*>(d.window()->topPresentedViewController());
    ASSERT_NE(popup, nullptr);
    EXPECT_TRUE(popup->messageLbl()->text().contains("Paid")) << popup->messageLbl()->text().toStdString();
    // Its button opens the store's sign-in page.
    const int pages = pagesShown;
    popup->otherBtn()->click();
    EXPECT_TRUE(GuiTest::waitUntil([&] { return pagesShown == pages + 1; }));
}

}  // namespace
