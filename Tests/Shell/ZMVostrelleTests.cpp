// The application delegate: launch order, the window and its tabs, the
// status display, app-wide alerts, theming and termination.
#include <QTest>
#include <filesystem>
#include <thread>

#include "App/ZMApplication.h"
#include "Database/ZMRNotifications.h"
#include "Miscellaneous/ZMPaths.h"
#include "InitViewController.h"
#include "PackagesConfirmationViewController.h"
#include "ShellTestSupport.h"
#include "Support/FakeMakerAPI.h"
#include "Support/FlatRepository.h"
#include "Browsing/ManageViewController.h"
#include "Browsing/SearchViewController.h"
#include "UIKit/UIActivityViewController.h"
#include "TabPlaceholderViewController.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UITabBarController.h"
#include "UserNotifications/UNUserNotificationCenter.h"
#include "ZMAPTManager.h"
#include "ZMFunctionTask.h"
#include "ZMPipelineManager.h"
#include "ZMTabBarStatusView.h"

namespace fs = std::filesystem;

namespace {

class VostrelleTest : public ShellTest::Fixture {
protected:
    TestSupport::TempDir repoRoot;
    std::unique_ptr<FlatRepository::FileServer> server;

    std::string dpkgStatusFile() const { return env.targetRoot() + "/var/lib/dpkg/status"; }
    // An entry of that file: installed at this version, wanted as `want` ("install", "hold").
    static std::string installed(const std::string& identifier, const std::string& version, const std::string& want = "install") {
        return "Package: " + identifier + "\nStatus: " + want + " ok installed\nVersion: " + version + "\nArchitecture: all\n\n";
    }
    static std::string stanza(const std::string& identifier, const std::string& name, const std::string& version) {
        return "Package: " + identifier + "\nName: " + name + "\nVersion: " + version +
               "\nArchitecture: all\nSection: Tweaks\nMaintainer: Jane Doe <jane@example.com>\n"
               "Description: A package used by the tests.\n\n";
    }
    // A flat repository on loopback with these stanzas, added as the Manage
    // tab adds it and refreshed, until `awaited` is stored from it and the
    // work after the refresh has ended. Offline from here on, so that a
    // refresh the launch scheduled does not run into the test.
    void serveAndAddSource(const std::string& stanzas, const std::string& awaited) {
        FlatRepository::writeIndexesForText(repoRoot.path(), stanzas);
        if (!server) server = std::make_unique<FlatRepository::FileServer>(repoRoot.path());
        const std::string location = server->url();
        ZMRSources::setReachabilityHook([] { return false; });
        prefs().setValue(VostrellePreferenceKey::SetupDone, true);
        auto& manager = ZMRPackageManager::sharedPackageManager();
        ASSERT_EQ(manager.sources().addSourceWithLocation(location, true).status, ZMRAddSourceStatus::Added);
        ASSERT_TRUE(GuiTest::waitUntil([&] {
            auto p = ZMRPackage::objectForPrimaryKey(awaited);
            return p && p->sourceLocation == location && !manager.sources().isRefreshInProgress() &&
                   ZMPipelineManager::sharedManager().liveTaskCount() == 0 && !manager.cachesRebuildPending();
        }, std::chrono::seconds(60)));
    }
    void TearDown() override {
        ZMRSources::setReachabilityHook(nullptr);
        Fixture::TearDown();
    }

    ZMVostrelle& launch() {
        auto& d = ZMVostrelle::sharedVostrelle();
        ZMApplication::applicationDidFinishLaunching();
        EXPECT_TRUE(GuiTest::waitUntil([&] { return d.backgroundLaunchWorkDone(); }, std::chrono::seconds(20)));
        return d;
    }
    // The status scan fills the records; the Sections badge and the categories
    // follow from what the database holds, a refresh due or not.
    void launchReadsTheInstalledState(bool online) {
        // An earlier session: Gone installed, the repository added and refreshed.
        TestSupport::writeFile(dpkgStatusFile(), installed("com.test.gone", "0.9"));
        ZMRSources::setReachabilityHook([] { return false; });
        launch();
        ASSERT_NO_FATAL_FAILURE(serveAndAddSource(stanza("com.test.here", "Here", "2.0") + stanza("com.test.gone", "Gone", "0.9"),
                                                  "com.test.gone"));
        ASSERT_TRUE(fetch("com.test.gone").isInstalled.value_or(false));
        ASSERT_FALSE(fetch("com.test.here").isInstalled.value_or(true));
        // Meanwhile dpkg installed an older Here and removed Gone; then the next launch.
        TestSupport::writeFile(dpkgStatusFile(), installed("com.test.here", "1.2"));
        ZMVostrelle::resetForTesting();
        ZMRPackageManager::resetForTesting();
        VostrellePersistentPreferences::resetForTesting();
        ZMRSources::setReachabilityHook([online] { return online; });
        auto& d = launch();
        EXPECT_TRUE(fetch("com.test.here").isInstalled.value_or(false));
        EXPECT_EQ(fetch("com.test.here").installedVersion, "1.2");
        EXPECT_FALSE(fetch("com.test.gone").isInstalled.value_or(true));
        EXPECT_EQ(ZMRPackageManager::sharedPackageManager().scheduledLaunchRefresh(), online);
        EXPECT_TRUE(GuiTest::waitUntil(
            [&] { return d.tabBarController()->badgeValue(ZMVostrelle::SectionsTab) == std::optional<std::string>("1"); }));
        EXPECT_TRUE(ZMRPackageManager::sharedPackageManager().packages().arrayOfPackagesCategories().has_value());
    }
    // Writes the queue mark of the packages from another thread, as the
    // screens' bulk actions and the queue run do.
    static void markQueuedOnAnotherThread(const std::vector<std::string>& ids, bool queued) {
        std::thread([ids, queued] {
            for (const auto& id : ids)
                ZMRPackageManager::sharedPackageManager().packages().setPackage(id, queued, std::nullopt, 0);
        }).join();
    }
};

TEST_F(VostrelleTest, LaunchRunsEveryStepInOrderAndPreparesTheFiles) {
    // Journal files without their database must not survive into the new one.
    const std::string db = ZMPaths::databaseFile();
    TestSupport::writeFile(db + "-wal", "stale");
    TestSupport::writeFile(db + "-shm", "stale");

    auto& d = launch();
    EXPECT_EQ(d.completedLaunchSteps(), ZMVostrelle::launchStepNames());
    const std::vector<std::string> expected = {
        "shortcuts",          "exceptionLogger",     "outdatedDatabase", "applicationSupport",
        "aptTree",            "database",            "dpkgStatus",       "platform",
        "tweakCompatibility", "repositoryDirectory", "audioSession",     "notificationPermission",
        "observers",          "darkMode",            "sourceRefresh",    "repair"};
    EXPECT_EQ(ZMVostrelle::launchStepNames(), expected);

    for (const char* dir : {"Downloads", "SourcesFiles", "ScreenshotsCache", "HomeCache", "IconCache", "APT"})
        EXPECT_TRUE(fs::is_directory(ZMPaths::subdirectory(dir))) << dir;
    EXPECT_TRUE(fs::exists(ZMPaths::preferencesFile()));
    EXPECT_TRUE(fs::exists(ZMAPTManager::treePath() + "/apt.conf"));
    EXPECT_TRUE(fs::exists(db));
    EXPECT_FALSE(fs::exists(db + "-wal") && TestSupport::readFile(db + "-wal") == "stale");
    EXPECT_EQ(prefs().integerForKey(VostrellePreferenceKey::Theme), 0);
    EXPECT_TRUE(prefs().containsKey(VostrellePreferenceKey::Theme));
    // A normal launch shows no alert.
    EXPECT_EQ(d.alertCount(), 0);

    // A second call does not launch twice.
    ZMApplication::applicationDidFinishLaunching();
    EXPECT_EQ(d.completedLaunchSteps().size(), expected.size());
}

TEST_F(VostrelleTest, LaunchReadsTheInstalledStateFromDpkg) { launchReadsTheInstalledState(false); }

// The refresh due at launch finds the repository unchanged and builds
// nothing: the badge and the categories must not wait for it.
TEST_F(VostrelleTest, LaunchReadsTheInstalledStateFromDpkgWithARefreshDueThatChangesNothing) { launchReadsTheInstalledState(true); }

// A refresh due with no source to refresh never ends: the categories of what
// dpkg lists must not wait for it.
TEST_F(VostrelleTest, LaunchReadsTheInstalledStateFromDpkgWithARefreshDueAndNoSource) {
    TestSupport::writeFile(dpkgStatusFile(), installed("com.test.here", "1.2"));
    ZMRSources::setReachabilityHook([] { return true; });
    launch();
    EXPECT_TRUE(fetch("com.test.here").isInstalled.value_or(false));
    EXPECT_TRUE(ZMRPackageManager::sharedPackageManager().scheduledLaunchRefresh());
    EXPECT_TRUE(GuiTest::waitUntil(
        [] { return ZMRPackageManager::sharedPackageManager().packages().arrayOfPackagesCategories().has_value(); }));
}

TEST_F(VostrelleTest, WindowHasFiveTabsWithManageAtThreeAndSearchAtFour) {
    auto& d = launch();
    ASSERT_NE(d.window(), nullptr);
    EXPECT_TRUE(d.window()->isVisible());
    auto* tabs = d.tabBarController();
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(d.window()->rootViewController(), tabs);
    ASSERT_EQ(tabs->viewControllers().size(), 5u);
    const char* screens[] = {"FeaturedViewController", "CategoriesTableViewController", "ChangesViewController",
                             "ManageViewController", "SearchViewController"};
    const char* titles[] = {"Featured", "Sections", "Changes", "Manage", "Search"};
    for (int i = 0; i < 5; ++i) {
        auto* nav = dynamic_cast<UINavigationController*>(tabs->viewControllers()[i]);
        ASSERT_NE(nav, nullptr) << i;
        UIViewController* front = nav->viewControllers().front();
        if (auto* root = dynamic_cast<TabPlaceholderViewController*>(front)) EXPECT_EQ(root->screenName(), screens[i]);
        else EXPECT_STREQ(front->metaObject()->className(), screens[i]);
        EXPECT_EQ(tabs->itemFor(nav)->title(), titles[i]);
        EXPECT_FALSE(tabs->itemFor(nav)->icon().isNull()) << i;
    }
    EXPECT_EQ(tabs->selectedIndex(), ZMVostrelle::FeaturedTab);
    tabs->setSelectedIndex(ZMVostrelle::SearchTab);
    EXPECT_EQ(dynamic_cast<UINavigationController*>(tabs->selectedViewController())->viewControllers().front()->title(),
              "Search");
}

TEST_F(VostrelleTest, SectionsBadgeFollowsTheCategoriesRebuild) {
    // Three installed at 1.0, the second held; the repository has 1.2 of each.
    TestSupport::writeFile(dpkgStatusFile(), installed("com.test.u1", "1.0") + installed("com.test.u2", "1.0", "hold") +
                                                 installed("com.test.u3", "1.0"));
    auto& d = launch();
    ASSERT_NO_FATAL_FAILURE(serveAndAddSource(
        stanza("com.test.u1", "U1", "1.2") + stanza("com.test.u2", "U2", "1.2") + stanza("com.test.u3", "U3", "1.2"), "com.test.u3"));
    ASSERT_TRUE(fetch("com.test.u2").isHeld.value_or(false));
    ASSERT_EQ(ZMRPackage::objectsWhere("isUpdated = 1").count(), 3u);
    // The categories rebuild that follows the refresh sets the badge.
    ASSERT_TRUE(GuiTest::waitUntil([&] { return d.tabBarController()->badgeValue(ZMVostrelle::SectionsTab).has_value(); }));
    EXPECT_EQ(d.tabBarController()->badgeValue(ZMVostrelle::SectionsTab), std::optional<std::string>("2"));

    NotificationCenter::defaultCenter().post(ZMRDoneRebuildingPackagesCacheNotification, {},
                                             nlohmann::json{{ZMRUpdatesCountKey, 0}});
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !d.tabBarController()->badgeValue(ZMVostrelle::SectionsTab); }));
}

TEST_F(VostrelleTest, StatusDisplayCountsQueuedPackagesWrittenOnAnotherThread) {
    auto& d = launch();
    ASSERT_NO_FATAL_FAILURE(serveAndAddSource(
        stanza("com.test.q1", "Q1", "1.2") + stanza("com.test.q2", "Q2", "1.2") + stanza("com.test.q3", "Q3", "1.2"), "com.test.q3"));
    auto* status = d.statusView();
    ASSERT_NE(status, nullptr);
    GuiTest::pump();
    EXPECT_FALSE(status->isVisible());

    markQueuedOnAnotherThread({"com.test.q1", "com.test.q2"}, true);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return status->isVisible() && status->queuedCount() == 2; }));
    EXPECT_EQ(status->titleText(), "2 packages queued");
    // It floats above the tab bar.
    EXPECT_LE(status->geometry().bottom(), d.tabBarController()->tabBar()->geometry().top());

    markQueuedOnAnotherThread({"com.test.q1"}, false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return status->queuedCount() == 1; }));
    EXPECT_EQ(status->titleText(), "1 package queued");

    markQueuedOnAnotherThread({"com.test.q2"}, false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return status->queuedCount() == 0; }));
    EXPECT_FALSE(status->isVisible());
}

TEST_F(VostrelleTest, StatusDisplayShowsARunningTaskAndItsProgressAndOpensTheQueue) {
    auto& d = launch();
    auto* status = d.statusView();
    std::atomic<bool> release{false};
    auto task = ZMFunctionTask::make("test.status.task", ZMPipelineMisc, "Starting", [&](ZMFunctionTask& t) -> std::optional<ZMError> {
        t.setStatus("Working on it");
        t.setProgress(0.5);
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return std::nullopt;
    });
    ASSERT_TRUE(ZMPipelineManager::sharedManager().queueTask(task));
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        return status->isVisible() && status->detailText() == "Working on it" && status->progress() == 0.5;
    }));
    EXPECT_EQ(status->runningTaskCount(), 1u);
    EXPECT_EQ(status->titleText(), "1 task running");

    // A tap opens the queue's confirmation screen.
    QTest::mouseClick(status, Qt::LeftButton);
    PackagesConfirmationViewController* queue = nullptr;
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        auto* nav = dynamic_cast<UINavigationController*>(d.window()->topPresentedViewController());
        queue = nav ? dynamic_cast<PackagesConfirmationViewController*>(nav->topViewController()) : nullptr;
        return queue != nullptr;
    }));
    EXPECT_EQ(queue->statusLabel()->text(), "The queue is empty.");

    release = true;
    ASSERT_TRUE(GuiTest::waitUntil([&] { return status->runningTaskCount() == 0; }, std::chrono::seconds(10)));
    EXPECT_FALSE(status->isVisible());
    EXPECT_FALSE(status->progress().has_value());
    // A successful task shows no error (the queue summary is no alert).
    EXPECT_EQ(d.alertCount(), 0);
}

TEST_F(VostrelleTest, TheStatusBarNeverGoesBackWhenOneTaskOfSeveralEnds) {
    auto& d = launch();
    auto* status = d.statusView();
    std::atomic<int> stage{0};
    // Two tasks of one pipeline: the second waits for the first, each reports half way, then ends when told.
    auto make = [&](const char* id, int reportAt, int endAt) {
        return ZMFunctionTask::make(id, ZMPipelineMisc, "Starting", [&stage, reportAt, endAt](ZMFunctionTask& t) -> std::optional<ZMError> {
            while (stage < reportAt) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            t.setProgress(0.5);
            while (stage < endAt) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return std::nullopt;
        });
    };
    ASSERT_TRUE(ZMPipelineManager::sharedManager().queueTask(make("test.burst.first", 0, 1)));
    ASSERT_TRUE(ZMPipelineManager::sharedManager().queueTask(make("test.burst.second", 2, 3)));
    struct Step {
        int stage;
        size_t running;
        double progress;  // the first's half, then the first whole, then the second's half beside it
    } steps[] = {{0, 2, 0.25}, {1, 1, 0.5}, {2, 1, 0.75}};
    for (const auto& step : steps) {
        stage = step.stage;
        EXPECT_TRUE(GuiTest::waitUntil([&] {
            return status->runningTaskCount() == step.running && status->progress() == step.progress;
        }, std::chrono::seconds(10)))
            << "stage " << step.stage << ": " << status->runningTaskCount() << " running, progress "
            << status->progress().value_or(-1);
    }
    stage = 3;
    ASSERT_TRUE(GuiTest::waitUntil([&] { return status->runningTaskCount() == 0; }, std::chrono::seconds(10)));
    EXPECT_FALSE(status->progress().has_value()) << "the next burst starts from nothing";
}

TEST_F(VostrelleTest, LateNoticesOfFinishedTasksLeaveNoStaleStatus) {
    auto& d = launch();
    auto* status = d.statusView();
    // The queued notice hops to the main thread after the task was queued, so
    // a quick task can be over (finished notice delivered) when it arrives;
    // likewise a last status line or progress report. None may bring back a task that is gone.
    auto& center = NotificationCenter::defaultCenter();
    const nlohmann::json info = {{"taskID", "test.gone"}, {"pipelineID", ZMPipelineMisc}, {"status", "Late"}, {"progress", 0.3}};
    center.post(ZMPipelineTaskQueuedNotification, {}, info);
    center.post(ZMPipelineTaskStatusNotification, {}, info);
    center.post(ZMPipelineTaskProgressNotification, {}, info);
    GuiTest::pump(std::chrono::milliseconds(50));
    EXPECT_EQ(status->runningTaskCount(), 0u);
    EXPECT_FALSE(status->isVisible());
}

TEST_F(VostrelleTest, FailedTaskShowsItsErrorAsPopupOrNotification) {
    auto& d = launch();
    auto failing = ZMFunctionTask::make("test.fail.1", ZMPipelineMisc, "Failing", [](ZMFunctionTask&) -> std::optional<ZMError> {
        return ZMError::make(ZMError::CommandFailed, "dpkg said no");
    });
    ASSERT_TRUE(ZMPipelineManager::sharedManager().queueTask(failing));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return topPopup() != nullptr; }, std::chrono::seconds(10)));
    EXPECT_EQ(topPopup()->titleLbl()->text(), "Error");
    EXPECT_EQ(topPopup()->messageLbl()->text().toStdString(), ZMError::make(ZMError::CommandFailed).localizedDescription());
    EXPECT_EQ(topPopup()->closeBtn()->text(), "OK");
    QTest::mouseClick(topPopup()->closeBtn(), Qt::LeftButton);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return topPopup() == nullptr; }));

    // A cancelled task is no error.
    auto cancelled = ZMFunctionTask::make("test.cancel", ZMPipelineMisc, "Cancel me", [](ZMFunctionTask& t) -> std::optional<ZMError> {
        while (!t.isCancelled()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return std::nullopt;
    });
    cancelled->setCancellable(true);
    ASSERT_TRUE(ZMPipelineManager::sharedManager().queueTask(cancelled));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return ZMPipelineManager::sharedManager().isTaskLive("test.cancel"); }));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return ZMPipelineManager::sharedManager().cancelTask("test.cancel"); }));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !ZMPipelineManager::sharedManager().isTaskLive("test.cancel"); }));
    GuiTest::pump(std::chrono::milliseconds(50));
    EXPECT_EQ(topPopup(), nullptr);
    EXPECT_EQ(d.alertCount(), 1);

    // With notifications instead of alerts: a banner, no popup.
    prefs().setValue(VostrellePreferenceKey::ShowNotificationsInsteadOfErrorAlerts, true);
    QString shown;
    auto connection = QObject::connect(&UNUserNotificationCenter::current(), &UNUserNotificationCenter::notificationShown,
                                       [&](const QString& id) { shown = id; });
    auto failingAgain = ZMFunctionTask::make("test.fail.2", ZMPipelineMisc, "Failing", [](ZMFunctionTask&) -> std::optional<ZMError> {
        return ZMError::make(ZMError::NoNetwork);
    });
    ASSERT_TRUE(ZMPipelineManager::sharedManager().queueTask(failingAgain));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return d.alertCount() == 2; }, std::chrono::seconds(10)));
    EXPECT_EQ(d.lastAlertMessage(), ZMError::make(ZMError::NoNetwork).localizedDescription());
    EXPECT_TRUE(GuiTest::waitUntil([&] { return !shown.isEmpty(); }));
    EXPECT_EQ(topPopup(), nullptr);
    QObject::disconnect(connection);
}

TEST_F(VostrelleTest, AFailedSetupBackupShowsOnePopupWithItsTitleAndMessage) {
    auto& d = launch();
    FakeMakerAPI maker;
    maker.setBehaviour("setup/savesetup.php", {.body = "Error"});
    ASSERT_TRUE(ZMPipelineManager::sharedManager().queueTask(ZMBackupVostrelleSetupTask::make(12, {"https://a.example/"}, {})));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return topPopup() != nullptr; }, std::chrono::seconds(10)));
    GuiTest::pump(std::chrono::milliseconds(100));
    EXPECT_EQ(d.alertCount(), 1) << "the failed task shows no second, generic popup";
    EXPECT_EQ(topPopup()->titleLbl()->text(), "Vostrelle Setup Backup");
    EXPECT_EQ(topPopup()->messageLbl()->text(),
              "There was an error during the backup upload process, contact us or retry later.");
    EXPECT_EQ(topPopup()->closeBtn()->text(), "OK");
    EXPECT_TRUE(topPopup()->otherBtn()->isHidden());
}

TEST_F(VostrelleTest, UnreadableDatabaseIsResetWithAnAlert) {
    // Written by hand: no road leaves a damaged database file behind.
    std::string garbage(4096, 'x');
    TestSupport::writeFile(ZMPaths::databaseFile(), "this is not a database\n" + garbage);
    auto& d = launch();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return topPopup() != nullptr; }));
    EXPECT_EQ(topPopup()->titleLbl()->text(), "Database Reset");
    // The new database works: a refresh stores into it.
    ASSERT_NO_FATAL_FAILURE(serveAndAddSource(stanza("com.test.after", "After reset", "1.2"), "com.test.after"));
    EXPECT_TRUE(ZMRPackage::objectForPrimaryKey("com.test.after").has_value());
    EXPECT_EQ(d.alertCount(), 1);
}

TEST_F(VostrelleTest, ADatabaseThatCannotBeOpenedIsReportedAndTheWindowStillComesUp) {
    // A directory with contents where the database file belongs: it can be
    // neither opened nor replaced.
    TestSupport::writeFile(ZMPaths::databaseFile() + "/keep", "x");
    auto& d = launch();
    EXPECT_EQ(d.completedLaunchSteps(), ZMVostrelle::launchStepNames());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return topPopup() != nullptr; }));
    EXPECT_EQ(topPopup()->titleLbl()->text(), "Error");
    EXPECT_TRUE(topPopup()->messageLbl()->text().startsWith("The package database could not be opened."));
    EXPECT_TRUE(d.window()->isVisible());
    EXPECT_EQ(d.tabBarController()->viewControllers().size(), 5u);
    EXPECT_FALSE(d.statusView()->isVisible());
}

TEST_F(VostrelleTest, ThemeAndBarPreferencesApplyLive) {
    auto& d = launch();
    EXPECT_EQ(ZMPaletteManager::sharedManager().activeStyle(), 0);
    prefs().setValue(VostrellePreferenceKey::Theme, 3);
    prefs().setValue(VostrellePreferenceKey::PrefersLargeTitles, false);
    NotificationCenter::defaultCenter().post(kZMAppearanceSettingsChangedNotification);
    ASSERT_TRUE(GuiTest::waitUntil([] { return ZMPaletteManager::sharedManager().activeStyle() == 3; }));
    EXPECT_FALSE(UINavigationController::prefersLargeTitles());
    // The tab bar takes the new palette's colour.
    const QImage shot = d.window()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(shot.width() / 2, shot.height() - 3), ZMPalette(3).foregroundColor());
    ZMPaletteManager::sharedManager().setStyle(0);
    UINavigationController::setPrefersLargeTitles(true);
}

TEST_F(VostrelleTest, TerminationClearsQueueMarksAndStoresTheVisit) {
    auto& d = launch();
    ASSERT_NO_FATAL_FAILURE(serveAndAddSource(
        stanza("com.test.t1", "T1", "1.2") + stanza("com.test.t2", "T2", "1.2") + stanza("com.test.t3", "T3", "1.2"), "com.test.t3"));
    // Queued as a Get button queues them: the latest, and a version chosen.
    d.queuePackageWithIdentifier("com.test.t1", std::nullopt);
    d.queuePackageWithIdentifier("com.test.t2", "1.2");
    ASSERT_TRUE(GuiTest::waitUntil([] { return ZMRPackage::objectsWhere("isInTheQueue = 1").count() == 2u; }));
    ASSERT_EQ(fetch("com.test.t2").queuedVersion, "1.2");
    const auto before = std::chrono::system_clock::now() - std::chrono::seconds(1);
    d.applicationWillTerminate();
    EXPECT_EQ(ZMRPackage::objectsWhere("isInTheQueue = 1").count(), 0u);
    EXPECT_EQ(fetch("com.test.t2").queuedVersion, "");
    EXPECT_EQ(fetch("com.test.t2").queueOperation.value_or(-1), 0);
    // Stored on disk, not only in memory.
    VostrellePersistentPreferences::resetForTesting();
    auto visit = prefs().dateForKey(VostrellePreferenceKey::LastVisitDate);
    ASSERT_TRUE(visit.has_value());
    EXPECT_GE(*visit, before);
}

TEST_F(VostrelleTest, PresentingGoesOnTopOfThePresentedScreen) {
    auto& d = launch();
    auto* first = new ErrorViewController;
    first->showWithTitle("First", std::nullopt, 1, "OK");
    d.presentViewController(first);
    ASSERT_EQ(topPopup(), first);
    auto* second = new ErrorViewController;
    second->showWithTitle("Second", std::nullopt, 1, "OK");
    d.presentViewController(second);
    EXPECT_EQ(topPopup(), second);
    EXPECT_EQ(second->presentingViewController(), first);

    d.shareAlertWithItems({QString("https://repo.example/")}, std::string("All Sources"));
    auto* sheet = dynamic_cast<UIActivityViewController*>(d.window()->topPresentedViewController());
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->combinedText(), "https://repo.example/");
    EXPECT_EQ(sheet->presentingViewController(), second);
}

}  // namespace

TEST_F(VostrelleTest, OptionsShareLinksAndTheFirstRunGoThroughTheDelegate) {
    auto& d = launch();
    auto top = [&] { return d.window()->topPresentedViewController(); };
    auto dismissTop = [&] {
        top()->dismissViewController(false);
        GuiTest::waitUntil([&] { return top() == d.window()->rootViewController(); });
    };

    // Until setup is done, the first-run flow comes up; afterwards it does not.
    d.presentFirstRunIfNeeded();
    EXPECT_NE(dynamic_cast<InitViewController*>(top()), nullptr);
    dismissTop();
    prefs().setValue("setupDone", true);
    d.presentFirstRunIfNeeded();
    EXPECT_EQ(top(), d.window()->rootViewController());

    ASSERT_NO_FATAL_FAILURE(serveAndAddSource(stanza("com.example.shared", "Shared", "1.2"), "com.example.shared"));
    const QString location = QString::fromStdString(server->url());

    d.presentOptions("com.example.shared");
    auto* sheet = dynamic_cast<UIAlertController*>(top());
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->message(), "What would you like to do?");
    dismissTop();

    // Share links end to end: what each sheet carries is the link of its package or source.
    const std::pair<std::function<void()>, QString> shares[] = {
        {[&] { d.sharePackage("com.example.shared"); }, "vostrelle://show/shared=Vostrelle&name=Shared&bundleid=com.example.shared"},
        {[&] { d.shareAllSources(); }, location},
        {[&] { d.shareSourceWithLocation(location.toStdString()); }, "vostrelle://add/" + location},
    };
    for (const auto& [share, link] : shares) {
        share();
        auto* sheet = dynamic_cast<UIActivityViewController*>(top());
        ASSERT_NE(sheet, nullptr) << link.toStdString();
        EXPECT_TRUE(sheet->combinedText().contains(link)) << sheet->combinedText().toStdString();
        dismissTop();
    }

    // A developer link selects the search tab, which searches the name stored for it once.
    d.openURLs({"vostrelle://developer/Jane%20Doe", "vostrelle://show/bundleid=a%0Ab"});
    EXPECT_EQ(d.tabBarController()->selectedIndex(), ZMVostrelle::SearchTab);
    auto* searchNav = dynamic_cast<UINavigationController*>(d.tabBarController()->selectedViewController());
    auto* search = searchNav ? dynamic_cast<SearchViewController*>(searchNav->viewControllers().front()) : nullptr;
    ASSERT_NE(search, nullptr);
    EXPECT_EQ(search->searchText(), std::optional<std::string>("Jane Doe"));
    EXPECT_EQ(prefs().stringForKey("SearchDeveloper"), std::optional<std::string>(""));
    // Another one while the tab is shown is searched at once.
    d.openURLs({"vostrelle://developer/John"});
    EXPECT_EQ(search->searchText(), std::optional<std::string>("John"));
}
