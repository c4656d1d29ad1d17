// The package manager's first use, the developer and search-history
// collections, and the rebuilds after a refresh.
#include <gtest/gtest.h>

#include <atomic>

#include "CollectionsFixture.h"
#include "Database/ZMRDeveloper.h"
#include "Database/ZMRNotifications.h"
#include "Notifications/NotificationCenter.h"
#include "ZMFunctionTask.h"
#include "ZMPipelineManager.h"

namespace {

using namespace CollectionsFixture;
using Clock = PersistentDictionary::Clock;

class ZMRPackageManagerTest : public Database {
protected:
    void TearDown() override {
        ZMRPackageManager::setDefaultSources({});
        Database::TearDown();
    }
    bool firstUseSchedulesRefresh() {
        ZMRPackageManager::resetForTesting();
        return ZMRPackageManager::sharedPackageManager().scheduledLaunchRefresh();
    }
};

TEST_F(ZMRPackageManagerTest, FirstUseAddsDefaultSourcesToAnEmptyDatabaseOnly) {
    ZMRPackageManager::setDefaultSources({"https://default.example", "not a url"});
    auto& manager = ZMRPackageManager::sharedPackageManager();
    EXPECT_EQ(manager.sources().arrayOfConfiguredSources(), std::vector<std::string>{"https://default.example/"});
    EXPECT_EQ(ZMRSource::objectForPrimaryKey("https://default.example/")->category, "Default");
    EXPECT_TRUE(manager.scheduledLaunchRefresh());

    // A database that has sources gets no defaults added again.
    ZMRPackageManager::setDefaultSources({"https://other-default.example/"});
    ZMRPackageManager::resetForTesting();
    EXPECT_EQ(ZMRPackageManager::sharedPackageManager().sources().arrayOfConfiguredSources().size(), 1u);
    EXPECT_EQ(&ZMRPackageManager::sharedPackageManager(), &ZMRPackageManager::sharedPackageManager());
}

TEST_F(ZMRPackageManagerTest, ARefreshIsDueByAgePackagesAndReachability) {
    EXPECT_TRUE(firstUseSchedulesRefresh()) << "never refreshed";

    preferences().setDate("lastRefreshDate", Clock::now() - std::chrono::minutes(5));
    EXPECT_TRUE(firstUseSchedulesRefresh()) << "recent, but no packages";

    store(generatePackages(5));
    EXPECT_FALSE(firstUseSchedulesRefresh()) << "recent, with packages";

    preferences().setDate("lastRefreshDate", Clock::now() - std::chrono::seconds(3700));
    EXPECT_TRUE(firstUseSchedulesRefresh()) << "more than an hour ago";

    preferences().setDate("lastRefreshDate", Clock::now() + std::chrono::hours(2));
    EXPECT_TRUE(firstUseSchedulesRefresh()) << "a date in the future (clock changed)";

    ZMRSources::setReachabilityHook([] { return false; });
    EXPECT_FALSE(firstUseSchedulesRefresh()) << "no network";
}

TEST_F(ZMRPackageManagerTest, TheLaunchRefreshRunsThreeSecondsLater) {
    preferences().setValue("setupDone", true);
    storeSources({kSources[0]});
    std::atomic<int> asked{0};
    auto& manager = ZMRPackageManager::sharedPackageManager();
    ASSERT_TRUE(manager.scheduledLaunchRefresh());
    manager.sources().setRefreshTaskFactory([&](const std::string&) -> ZMTaskPtr {
        ++asked;
        return nullptr;
    });
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return asked > 0; }, std::chrono::seconds(6)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    EXPECT_TRUE(preferences().dateForKey("lastRefreshDate").has_value());
    EXPECT_TRUE(TestSupport::waitUntil([&] { return !manager.sources().isRefreshInProgress(); }));
}

TEST_F(ZMRPackageManagerTest, CachesAreRebuiltOnceTheRefreshesHaveEnded) {
    auto model = generatePackages(120);
    store(model);
    auto& manager = ZMRPackageManager::sharedPackageManager();
    ASSERT_FALSE(manager.packages().arrayOfPackagesCategories());
    std::atomic<int> rebuilt{0};
    auto token = NotificationCenter::defaultCenter().addObserver(
        ZMRDoneRebuildingPackagesCacheNotification, NotificationCenter::Queue::Main,
        [&](const Notification&) { ++rebuilt; });

    auto task = ZMFunctionTask::make("test.manager.refresh", ZMPipelineSourceOps, "refresh",
                                     [](ZMFunctionTask&) -> std::optional<ZMError> { return std::nullopt; });
    ASSERT_TRUE(ZMPipelineManager::sharedManager().queueTask(task));
    // The developers cache is rebuilt beside the lists: both are done when nothing is pending.
    ASSERT_TRUE(TestSupport::waitUntil([&] { return rebuilt > 0 && !manager.cachesRebuildPending(); }));
    EXPECT_TRUE(manager.packages().arrayOfPackagesCategories().has_value());
    EXPECT_FALSE(manager.packages().arrayOfInitialDateStr()->empty());
    EXPECT_GT(ZMRDeveloper::allObjects().count(), 0u) << "developers cache rebuilt too";
}

// ---- developers ------------------------------------------------------------------

class ZMRDevelopersTest : public Database {
protected:
    ZMRDevelopers* developers = nullptr;
    std::atomic<int> syncs{0};
    void SetUp() override {
        Database::SetUp();
        developers = &ZMRPackageManager::sharedPackageManager().developers();
        developers->setAccountSyncHook([this] { ++syncs; });
    }
    void follow(const std::string& name, bool followed) {
        bool done = false;
        developers->setDeveloper(name, followed, [&](auto) { done = true; });
        ASSERT_TRUE(TestSupport::waitUntil([&] { return done; }));
    }
    ZMRPackage packageBy(const std::string& id, const std::string& maintainer) {
        ZMRPackage p;
        p.identifier = id;
        p.name = id;
        p.maintainer = maintainer;
        return p;
    }
};

TEST_F(ZMRDevelopersTest, FollowAndUnfollowByLowerCasedName) {
    EXPECT_EQ(ZMRDeveloper::normalizedName("CoolStar ÉTIENNE"), "coolstar étienne");
    EXPECT_FALSE(developers->isDeveloperFollowed("Jane Roe"));
    follow("Jane Roe", true);
    auto record = ZMRDeveloper::objectForPrimaryKey("jane roe");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->isFollowed, true);
    EXPECT_EQ(record->packagesCount, 0);
    EXPECT_TRUE(developers->isDeveloperFollowed("JANE ROE"));
    EXPECT_EQ(syncs, 1) << "the account is synchronised after each change";

    follow("Ada", true);
    auto followed = developers->arrayOfFollowedDevelopers();
    std::sort(followed.begin(), followed.end());
    EXPECT_EQ(followed, (std::vector<std::string>{"ada", "jane roe"}));

    follow("jane ROE", false);
    EXPECT_FALSE(developers->isDeveloperFollowed("Jane Roe"));
    EXPECT_EQ(developers->arrayOfFollowedDevelopers(), std::vector<std::string>{"ada"});
    EXPECT_EQ(ZMRDeveloper::allObjects().count(), 2u) << "unfollowing keeps the record";
    EXPECT_EQ(syncs, 3);
}

TEST_F(ZMRDevelopersTest, CacheCountsPackagesAndAnnouncesNewOnesOfFollowedDevelopers) {
    store({packageBy("a.1", "Jane Roe <jane@example.com>"), packageBy("a.2", "Jane Roe <jane@example.com>"),
           packageBy("b.1", "Bob"), packageBy("c.1", "")});
    follow("Jane Roe <jane@example.com>", true);
    EXPECT_EQ(developers->updateDevelopersCache(), 0u) << "the first rebuild only takes stock";
    auto jane = ZMRDeveloper::objectForPrimaryKey("jane roe <jane@example.com>");
    ASSERT_TRUE(jane);
    EXPECT_EQ(jane->packagesCount, 2);
    EXPECT_EQ(jane->isFollowed, true) << "the follow mark survives the rebuild";
    EXPECT_TRUE(jane->developerNewPackagesIdentifiers.empty());
    EXPECT_EQ(ZMRDeveloper::objectForPrimaryKey("bob")->packagesCount, 1);
    EXPECT_EQ(ZMRDeveloper::allObjects().count(), 2u) << "no record for an empty maintainer";
    EXPECT_FALSE(preferences().boolForKey("NewPackagesByFollowedDevelopers"));

    // New packages of a developer nobody follows set nothing.
    store({packageBy("b.2", "Bob")});
    EXPECT_EQ(developers->updateDevelopersCache(), 0u);
    EXPECT_EQ(ZMRDeveloper::objectForPrimaryKey("bob")->developerNewPackagesIdentifiers, std::vector<std::string>{"b.2"});
    EXPECT_FALSE(preferences().boolForKey("NewPackagesByFollowedDevelopers"));

    // Only the followed developer's news is announced, with the new identifiers.
    std::vector<std::pair<std::string, nlohmann::json>> announced;
    auto announcements = NotificationCenter::defaultCenter().addObserver(
        ZMRFollowedDeveloperNewPackagesNotification, NotificationCenter::Queue::Posting,
        [&](const Notification& n) { announced.emplace_back(n.objectString(), n.userInfo[ZMRPackageIdentifiersKey]); });
    store({packageBy("a.3", "Jane Roe <jane@example.com>"), packageBy("b.3", "Bob")});
    EXPECT_EQ(developers->updateDevelopersCache(), 1u);
    ASSERT_EQ(announced.size(), 1u);
    EXPECT_EQ(announced[0].first, "jane roe <jane@example.com>");
    EXPECT_EQ(announced[0].second, nlohmann::json::array({"a.3"}));
    jane = ZMRDeveloper::objectForPrimaryKey("jane roe <jane@example.com>");
    EXPECT_EQ(jane->packagesCount, 3);
    EXPECT_EQ(jane->developerNewPackagesIdentifiers, std::vector<std::string>{"a.3"});
    EXPECT_TRUE(preferences().boolForKey("NewPackagesByFollowedDevelopers"));

    // Nothing new: the last news stays; a package gone leaves the lists.
    realm->transactionWithBlock([&] {
        auto gone = realm->objectForPrimaryKey<ZMRPackage>("a.1");
        realm->deleteObject(*gone);
    });
    EXPECT_EQ(developers->updateDevelopersCache(), 0u);
    jane = ZMRDeveloper::objectForPrimaryKey("jane roe <jane@example.com>");
    EXPECT_EQ(jane->packagesCount, 2);
    EXPECT_EQ(jane->developerNewPackagesIdentifiers, std::vector<std::string>{"a.3"});

    // A rebuild that changes nothing writes nothing (no change notifications for the screens).
    int changes = 0;
    auto token = ZMRDeveloper::allObjects().addNotificationBlock([&](const Results<ZMRDeveloper>&) { ++changes; });
    TestSupport::pumpMainLoop();
    changes = 0;
    developers->updateDevelopersCache();
    TestSupport::pumpMainLoop(std::chrono::milliseconds(100));
    EXPECT_EQ(changes, 0);
}

// ---- search history --------------------------------------------------------------

TEST_F(ZMRPackageManagerTest, SearchHistoryKeepsSearchesByDateAndClears) {
    auto& history = ZMRPackageManager::sharedPackageManager().searchHistories();
    history.addSearch("first");
    history.addSearch("   ");
    history.addSearch("second");
    history.addSearch("first");
    auto all = history.allSearches();
    ASSERT_EQ(all.count(), 3u) << "blank searches are not kept";
    EXPECT_EQ(all[0].search, "first");
    EXPECT_EQ(all[2].search, "first");
    EXPECT_LE(*all[0].date, *all[2].date);
    EXPECT_EQ(history.recentSearchTexts(10), (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(history.recentSearchTexts(1), std::vector<std::string>{"first"});
    history.clearHistory();
    EXPECT_EQ(history.allSearches().count(), 0u);
}

}  // namespace
