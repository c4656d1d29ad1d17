// One user's road through the account features, against the fake maker
// server and a loopback repository: sign in (lists merged), follow, back up,
// sign out, another account, and restoring the first account's backup into
// an empty database.
#include "Database/ZMRDeveloper.h"
#include "Online/Services/OnlineServicesFixture.h"
#include "Services/ZMSetupBackup.h"
#include "Services/ZMSetupRestoration.h"
#include "Support/FlatRepository.h"

TEST_F(OnlineServices, AccountBackupAndRestorationEndToEnd) {
    TestSupport::TempDir work, repoDir;
    FlatRepository::buildDeb(work.path(), repoDir.path(), {"com.loop.alpha", "1.0", "Name: Loop Alpha\n"});
    FlatRepository::buildDeb(work.path(), repoDir.path(), {"com.loop.beta", "2.0", "Name: Loop Beta\n"});
    FlatRepository::writeIndexes(repoDir.path());
    FlatRepository::FileServer repository(repoDir.path());
    const std::string location = repository.url();
    VostrellePersistentPreferences::sharedInstance().setValue(VostrellePreferenceKey::SetupDone, true);
    ZMRSources::setReachabilityHook([] { return true; });
    ZMOnlineServices::install();

    addSources({location});
    addPackages({"com.loop.alpha"}, true);
    addPackages({"com.loop.beta"});
    maker->addAccount({"pat", "pw", 30, "pat@example.com", "", "5"});
    maker->addAccount({"bob", "pw2", 7});
    maker->setWishlist(30, "com.loop.beta");
    maker->setFollowed(30, "Jane");

    // Sign in: the account's lists replace the local marks.
    ASSERT_TRUE(maker->signIn("pat", "pw"));
    EXPECT_EQ(wishlist(), std::vector<std::string>{"com.loop.beta"});
    EXPECT_EQ(followed(), std::vector<std::string>{"jane"});
    ASSERT_TRUE(maker->waitForCount("followeddevs/developers.php", 1));

    // Follow: one upload of the whole list.
    bool written = false;
    ZMRPackageManager::sharedPackageManager().developers().setDeveloper("Bob", true, [&](auto) { written = true; });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return written; }));
    ASSERT_TRUE(maker->waitForCount("followeddevs/developers.php", 2));
    EXPECT_EQ(maker->followed(30), "jane;bob");

    // Back up online.
    ASSERT_TRUE(ZMSetupBackup::backupOnline());
    ASSERT_TRUE(TestSupport::waitUntil([&] { return maker->setup(30).has_value(); }));
    EXPECT_EQ(*maker->setup(30), (nlohmann::json{{"sources", {location}}, {"packages", {"com.loop.alpha"}}}));

    // Signed out, nothing more goes out.
    ZMAccount::instance().logout();
    TestSupport::pumpMainLoop(std::chrono::milliseconds(100));
    const size_t sent = maker->requests().size();
    written = false;
    ZMRPackageManager::sharedPackageManager().developers().setDeveloper("Carl", true, [&](auto) { written = true; });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return written; }));
    TestSupport::pumpMainLoop(std::chrono::milliseconds(200));
    EXPECT_EQ(maker->requests().size(), sent);

    // Another account: nothing of the first one is left.
    ASSERT_TRUE(maker->signIn("bob", "pw2"));
    auto& account = ZMAccount::instance();
    EXPECT_EQ(account.returnUsername(), "bob");
    EXPECT_EQ(account.returnUserID(), 7);
    EXPECT_FALSE(account.returnEmail());
    EXPECT_FALSE(account.isPremium());
    EXPECT_TRUE(wishlist().empty());
    EXPECT_TRUE(followed().empty());
    ASSERT_TRUE(maker->waitForCount("followeddevs/developers.php", 3));
    EXPECT_EQ(maker->followed(30), "jane;bob") << "the first account's list is untouched";

    // Restore the first account's backup into an empty database.
    account.logout();
    ASSERT_TRUE(maker->signIn("pat", "pw"));
    realm->transactionWithBlock([&] {
        realm->deleteObjects(ZMRPackage::allObjects());
        realm->deleteObjects(ZMRSource::allObjects());
    });
    Answer<ZMSetupRestoration::Finding> found;
    ZMSetupRestoration::openBackup(found.callback());
    ASSERT_TRUE(found.wait());
    ASSERT_EQ(found.value().kind, ZMSetupRestoration::Finding::Kind::Compared);
    const auto& comparison = found.value().comparison;
    const auto sources = ZMSetupRestoration::selected(comparison.sourcesToRestore);
    // The loopback repository is plain http: the user approves it.
    EXPECT_EQ(ZMSetupRestoration::plainHTTPSources(sources), std::vector<std::string>{location});
    Answer<ZMSetupRestoration::Summary> restored;
    ZMSetupRestoration::launchSetupRestoration(sources, ZMSetupRestoration::selected(comparison.packagesToRestore),
                                               true, restored.callback());
    ASSERT_TRUE(restored.wait(std::chrono::seconds(30)));
    EXPECT_EQ(restored.value().sourcesAdded, std::vector<std::string>{location});
    EXPECT_EQ(restored.value().packagesQueued, std::vector<std::string>{"com.loop.alpha"}) << "after the refresh";
    auto alpha = ZMRPackage::objectForPrimaryKey("com.loop.alpha");
    ASSERT_TRUE(alpha) << "the refresh brought the record";
    EXPECT_EQ(alpha->isInTheQueue, true);
    EXPECT_EQ(alpha->sourceLocation, location);
    EXPECT_GE(repository.count("Release"), 1u);
}
