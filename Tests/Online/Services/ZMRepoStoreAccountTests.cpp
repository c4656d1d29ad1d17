// Account synchronisation: the owned marks of a source's packages through
// sign-in, re-reads, sign-out and the store's own "invalidate", and the
// endpoints of every source.
#include <atomic>
#include <thread>

#include "Database/ZMRNotifications.h"
#include "Notifications/NotificationCenter.h"
#include "Online/Services/RepoStoreFixture.h"
#include "ZMSourceRefresh.h"

namespace {

class RepoStoreAccount : public RepoStoreFixture {
protected:
    std::string other = "https://other.example/";
    void SetUp() override {
        RepoStoreFixture::SetUp();
        addSource(other, "");
        addPackage("com.example.second", location, "$2.99", true);  // marked from an earlier reply
        addPackage("com.other.paid", other, "$1.00", true);
        // A sign-in page that calls back at once, as a user who signs in.
        client.setPageHooks({[this](uint64_t page, const std::string&, const std::string&) {
                                 auto s = api->state();
                                 client.storeCallbackReceived(page, "sileo://authentication_success?token=" + s.token +
                                                              "&payment_secret=" + s.secret);
                             },
                             {}});
    }
    bool login() { return awaitBool([&](auto k) { ZMRepoStoreAPI::loginToSource(location, k); }); }
    bool logout() { return awaitBool([&](auto k) { ZMRepoStoreAPI::logoutOfSource(location, k); }); }
};

TEST_F(RepoStoreAccount, EveryUserInfoReplyRewritesTheMarksOfItsOwnSourceOnly) {
    int updates = 0;
    auto token = NotificationCenter::defaultCenter().addObserver(
        ZMRSourceUpdatedNotification, NotificationCenter::Queue::Posting, [&](const Notification&) { ++updates; }, location);
    // The store lists a package of its own, one of another source and one nobody has.
    api->update([](auto& s) { s.purchased = {"com.example.paid", "com.other.owned", "com.nobody"}; });
    addPackage("com.other.owned", other, "$1.00");
    ASSERT_TRUE(login());
    EXPECT_TRUE(owned("com.example.paid"));
    EXPECT_FALSE(owned("com.example.second"));
    EXPECT_FALSE(owned("com.other.owned"));
    EXPECT_TRUE(owned("com.other.paid")) << "another source's marks are not touched";
    EXPECT_TRUE(TestSupport::waitUntil([&] { return updates == 1; }, std::chrono::seconds(3)));

    // An empty list clears them too.
    api->update([](auto& s) { s.purchased.clear(); });
    ASSERT_TRUE(login());
    EXPECT_FALSE(owned("com.example.paid"));

    // "invalidate" drops the credentials and leaves the marks.
    api->update([](auto& s) { s.purchased = {"com.example.paid"}, s.userInfoInvalidates = true; });
    addPackage("com.example.paid", location, "$1.99", true);
    ZMRepoStoreAPI::updadatePurchasedPackagesForSource(location);
    EXPECT_TRUE(TestSupport::waitUntil([&] { return !ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(location); }));
    EXPECT_TRUE(owned("com.example.paid"));
}

TEST_F(RepoStoreAccount, ARefreshStoresTheEndpointAndReReadsThePurchases) {
    FlatRepository::writeIndexesForText(dir.path(), "Package: com.example.paid\nVersion: 1.0\nArchitecture: all\nPrice: $1.99\n");
    addSource(location, "");
    signIn(location);
    api->update([](auto& s) { s.purchased = {"com.example.paid"}; });
    ZMRepoStoreAPI::installFrameworkHooks();
    auto refreshed = ZMSourceRefresh::make(location)->refresh();
    ASSERT_TRUE(refreshed) << refreshed.error->debugDescription();
    EXPECT_EQ(ZMRSource::objectForPrimaryKey(location)->endpoint, api->endpoint());
    EXPECT_TRUE(TestSupport::waitUntil([] { return owned("com.example.paid"); }));
    EXPECT_EQ(server->count("pay/user_info"), 1u);
    ZMSourceRefresh::setPaymentEndpointHook(nullptr);
    ZMSourceRefresh::setRefreshedHook(nullptr);
    ZMPackageDownloadTask::setPaidDownloadHandler(nullptr);
}

// A completion sees the marks committed and may write itself: it runs after
// the transaction, not inside it, where a write would throw.
TEST_F(RepoStoreAccount, CompletionsRunAfterTheCommitAndMayWrite) {
    api->update([](auto& s) { s.purchased = {"com.example.paid"}; });
    auto writingCompletion = [](std::function<bool()> seen) {
        return [seen](std::function<void(bool)> done) {
            return [seen, done](bool ok) {
                bool wrote = false;
                try {
                    auto realm = Realm::defaultRealm();
                    realm->transactionWithBlock([&] {
                        auto p = *realm->objectForPrimaryKey<ZMRPackage>("com.other.paid");
                        realm->setValueForKey(p, "price", std::string("$1.50"));
                    });
                    wrote = true;
                } catch (const std::exception&) {
                }
                done(ok && wrote && seen());
            };
        };
    };
    auto paidOwned = [] { return owned("com.example.paid"); };
    auto paidFree = [] { return !owned("com.example.paid"); };
    EXPECT_TRUE(awaitBool([&](auto k) { ZMRepoStoreAPI::loginToSource(location, writingCompletion(paidOwned)(k)); }));
    EXPECT_TRUE(awaitBool([&](auto k) { ZMRepoStoreAPI::logoutOfSource(location, writingCompletion(paidFree)(k)); }));
    signIn(location);
    RepoStoreUserInfoResponse reply;
    reply.purchases = {"com.example.paid"};
    EXPECT_TRUE(awaitBool([&](auto k) {
        ZMRepoStoreAPI::updatePurchasesForSourceWithLocation(location, reply, writingCompletion(paidOwned)(k));
    }));
    EXPECT_EQ(ZMRPackage::objectForPrimaryKey("com.other.paid")->price, "$1.50");
}

TEST_F(RepoStoreAccount, AReplyThatArrivesAfterTheSignOutChangesNothing) {
    api->update([](auto& s) { s.purchased = {"com.example.paid"}; });
    signIn(location);
    api->update([](auto& s) { s.userInfoDelayMs = 500; });
    ZMRepoStoreAPI::updadatePurchasedPackagesForSource(location);
    ASSERT_TRUE(logout());
    EXPECT_FALSE(owned("com.example.second"));
    TestSupport::pumpMainLoop(std::chrono::milliseconds(900));
    EXPECT_FALSE(owned("com.example.paid"));
    EXPECT_FALSE(ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(location));
}

TEST_F(RepoStoreAccount, ASignOutWithoutAReadableReplyKeepsCredentialsAndMarks) {
    signIn(location);
    for (int status : {502, 200}) {
        server->route("pay/sign_out", [status](const httplib::Request&, httplib::Response& res) {
            res.status = status;
            res.set_content("<html>gateway</html>", "text/html");
        });
        EXPECT_FALSE(logout());
        EXPECT_TRUE(ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(location));
        EXPECT_TRUE(owned("com.example.second"));
    }
    // A store that cannot be reached at all.
    addSource(location, "http://127.0.0.1:1/pay/");
    EXPECT_FALSE(logout());
    EXPECT_TRUE(ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(location));
    EXPECT_TRUE(owned("com.example.second"));
    addSource(location, api->endpoint());
    // A JSON answer, even with a failing status, signs out.
    server->route("pay/sign_out", [](const httplib::Request&, httplib::Response& res) {
        res.status = 500;
        res.set_content("{\"success\": false}", "application/json");
    });
    EXPECT_TRUE(logout());
    EXPECT_FALSE(ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(location));
    EXPECT_FALSE(owned("com.example.second"));
    // A source whose store is gone cannot be told: its useless credentials go, unsent.
    signIn(location);
    addSource(location, "");
    server->clearRequests();
    EXPECT_TRUE(logout());
    EXPECT_FALSE(ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(location));
    EXPECT_TRUE(server->requests().empty());
}

TEST_F(RepoStoreAccount, RefreshingAllEndpointsCompletesOnceAfterEveryAnswerIsStored) {
    // No sources: at once.
    Realm::defaultRealm()->transactionWithBlock([] { Realm::defaultRealm()->deleteObjects(ZMRSource::allObjects()); });
    int calls = 0;
    ZMRepoStoreAPI::refreshEndpontsForAllSourcesWithCompletion([&](bool) { ++calls; });
    EXPECT_EQ(calls, 1);

    // Three stores; the last listed answers first, the first one last.
    std::vector<std::unique_ptr<FlatRepository::FileServer>> stores;
    std::vector<std::string> locations;
    for (int i = 0; i < 3; ++i) {
        stores.push_back(std::make_unique<FlatRepository::FileServer>(dir.path()));
        auto& s = *stores.back();
        s.route("payment_endpoint", [&s, i](const httplib::Request&, httplib::Response& res) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300 - 100 * i));
            res.set_content(s.url("pay/"), "text/plain");
        });
        locations.push_back(s.url());
        addSource(s.url(), "");
    }
    for (size_t n : {3u, 1u}) {
        if (n == 1) {
            Realm::defaultRealm()->transactionWithBlock([&] {
                Realm::defaultRealm()->deleteObjects(ZMRSource::objectsWhere("location != %@", locations[0]));
            });
            addSource(locations[0], "");
        }
        std::atomic<int> done{0};
        std::vector<std::string> seen;
        ZMRepoStoreAPI::refreshEndpontsForAllSourcesWithCompletion([&](bool) {
            for (const auto& at : locations)
                if (auto source = ZMRSource::objectForPrimaryKey(at); source && source->hasEndpoint.value_or(false))
                    seen.push_back(at);
            ++done;
        });
        ASSERT_TRUE(TestSupport::waitUntil([&] { return done > 0; }));
        TestSupport::pumpMainLoop(std::chrono::milliseconds(400));
        EXPECT_EQ(done, 1);
        EXPECT_EQ(seen.size(), n);
    }
}

}  // namespace
