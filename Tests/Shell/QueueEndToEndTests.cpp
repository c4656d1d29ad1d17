// From a tap to an installed package, with the real apt-get and dpkg against a
// sandbox root, a repository on loopback, and the application's own screens.
#include <algorithm>
#include <QDir>
#include <QPointer>
#include <QTest>
#include <atomic>
#include <set>
#include <filesystem>

#include "App/ZMApplication.h"
#include "Database/ZMRPackageManager.h"
#include "GetPackageCell.h"
#include "PackagesConfirmationViewController.h"
#include "ShellTestSupport.h"
#include "Support/FlatRepository.h"
#include "UIKit/UINavigationController.h"
#include "ZMAPTManager.h"
#include "ZMPipelineManager.h"
#include "SegmentedViewController.h"
#include "Support/Gui/UserGestures.h"
#include "ZMTasksViewController.h"
#include "ZMURLRouter.h"
#include "ZMVostrelle.h"
#include "VostrelleBuildPaths.h"

namespace {

class QueueEndToEnd : public ShellTest::Fixture {
protected:
    TestSupport::TempDir repoRoot, work;
    std::unique_ptr<FlatRepository::FileServer> server;
    std::string location;
    std::atomic<bool> online{false};
    std::string hostStatus = TestSupport::readFile("/var/lib/dpkg/status");

    void SetUp() override {
        Fixture::SetUp();
        std::filesystem::create_directories(repoRoot.path() + "/repo");
        const std::string dir = repoRoot.path() + "/repo";
        FlatRepository::buildDeb(work.path(), dir, {"com.example.e2e", "1.0", "Name: End To End\n", ""});
        FlatRepository::buildDeb(work.path(), dir,
                                 {"com.example.e2e-broken", "1.0", "Depends: com.example.nowhere\n", ""});
        FlatRepository::writeIndexes(dir);
        server = std::make_unique<FlatRepository::FileServer>(repoRoot.path());
        location = server->url("repo/");
        prefs().setValue(VostrellePreferenceKey::SetupDone, true);
        // Offline while launching, so that the launch schedules no refresh of
        // its own; adding the source refreshes it.
        ZMRSources::setReachabilityHook([this] { return online.load(); });
    }
    void TearDown() override {
        // Everything happened in the sandbox root: the machine's own dpkg database is as it was.
        EXPECT_EQ(TestSupport::readFile("/var/lib/dpkg/status"), hostStatus);
        ZMRSources::setReachabilityHook(nullptr);
        Fixture::TearDown();
    }

    ZMVostrelle& launch() {
        auto& d = ZMVostrelle::sharedVostrelle();
        EXPECT_TRUE(ZMApplication::start({})) << "the launch main() runs";
        EXPECT_TRUE(GuiTest::waitUntil([&] { return d.backgroundLaunchWorkDone(); }, std::chrono::seconds(30)));
        online = true;
        return d;
    }

    // Adds the source as the Manage tab does, and waits for its packages.
    void addSourceAndRefresh() {
        auto added = ZMRPackageManager::sharedPackageManager().sources().addSourceWithLocation(location, true);
        ASSERT_EQ(added.status, ZMRAddSourceStatus::Added);
        ASSERT_TRUE(GuiTest::waitUntil(
            [] {
                return ZMRPackage::objectForPrimaryKey("com.example.e2e").has_value() &&
                       ZMPipelineManager::sharedManager().sourceRefreshCount() == 0;
            },
            std::chrono::seconds(60)));
        waitForQuietPipeline();
    }

    std::string statusText() const { return TestSupport::readFile(env.targetRoot() + "/var/lib/dpkg/status"); }
    bool installedInSandbox(const std::string& package) const {
        const std::string text = statusText();
        auto at = text.find("Package: " + package + "\n");
        if (at == std::string::npos) return false;
        auto end = text.find("\n\n", at);
        return text.substr(at, end - at).find("Status: install ok installed") != std::string::npos;
    }

    // Opens the queue the way the status display does and waits for the resolution.
    PackagesConfirmationViewController* openQueue(ZMVostrelle& d) {
        d.presentQueue();
        auto* nav = dynamic_cast<UINavigationController*>(d.window()->topPresentedViewController());
        QPointer<PackagesConfirmationViewController> screen =
            nav ? dynamic_cast<PackagesConfirmationViewController*>(nav->topViewController()) : nullptr;
        EXPECT_TRUE(screen);
        if (!screen) return nullptr;
        EXPECT_TRUE(GuiTest::waitUntil([&] { return !screen || !screen->isResolving(); }, std::chrono::seconds(60)));
        return screen;
    }
    // The refresh, and the cache rebuild the pipeline runs after it, have ended.
    void waitForQuietPipeline() {
        int quietTurns = 0;
        ASSERT_TRUE(GuiTest::waitUntil(
            [&] {
                quietTurns = ZMPipelineManager::sharedManager().liveTaskCount() == 0 ? quietTurns + 1 : 0;
                return quietTurns >= 50;
            },
            std::chrono::seconds(60)));
    }
};

}  // namespace

TEST_F(QueueEndToEnd, FromTheGetButtonToInstalledAndBack) {
    auto& d = launch();
    addSourceAndRefresh();
    auto package = fetch("com.example.e2e");
    GetPackageCell cell;
    cell.updateWithPackage(package);
    EXPECT_EQ(cell.getBtn()->text(), "GET");
    QTest::mouseClick(cell.getBtn(), Qt::LeftButton);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return fetch("com.example.e2e").isInTheQueue.value_or(false); }));
    EXPECT_EQ(cell.getBtn()->text(), "QUEUED");

    auto* screen = openQueue(d);
    ASSERT_NE(screen, nullptr);
    ASSERT_EQ(screen->sections().size(), 1u);
    EXPECT_EQ(screen->sections()[0].kind, PackagesConfirmationViewController::Section::Kind::Install);
    EXPECT_EQ(screen->sections()[0].rows.at(0).identifier, "com.example.e2e");
    ASSERT_TRUE(screen->confirmButton()->isEnabled());
    QTest::mouseClick(screen->confirmButton(), Qt::LeftButton);

    ASSERT_TRUE(GuiTest::waitUntil([&] { return installedInSandbox("com.example.e2e"); }, std::chrono::seconds(120)))
        << statusText();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return cell.getBtn()->text() == "UNINSTALL"; }, std::chrono::seconds(30)))
        << cell.getBtn()->text().toStdString();
    EXPECT_TRUE(fetch("com.example.e2e").isInstalled.value_or(false));
    EXPECT_FALSE(fetch("com.example.e2e").isInTheQueue.value_or(true));
    // A task screen opened after the run (from the status display) says it succeeded.
    ASSERT_TRUE(GuiTest::waitUntil([&] { return ZMPipelineManager::sharedManager().liveTaskCount() == 0; }));
    d.window()->topPresentedViewController()->dismissViewController(false);
    // The history hears of a task's end on the main thread, after the pipeline let it go.
    ASSERT_TRUE(GuiTest::waitUntil([] {
        const auto rows = ZMTasksViewController().rows();
        return !rows.empty() && std::all_of(rows.begin(), rows.end(), [](const auto& row) {
            return row.state == ZMTasksViewController::TaskRow::State::Done;
        });
    }));
    ZMTasksViewController later;
    ASSERT_FALSE(later.rows().empty());
    for (const auto& row : later.rows()) EXPECT_EQ(row.state, ZMTasksViewController::TaskRow::State::Done) << row.taskID;
    EXPECT_EQ(later.rows().back().progress, 1.0);

    // And back: the same button now queues the removal.
    ASSERT_TRUE(GuiTest::waitUntil([&] { return ZMPipelineManager::sharedManager().liveTaskCount() == 0; },
                                   std::chrono::seconds(30)));
    QTest::mouseClick(cell.getBtn(), Qt::LeftButton);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return fetch("com.example.e2e").isInTheQueue.value_or(false); }));
    screen = openQueue(d);
    ASSERT_NE(screen, nullptr);
    ASSERT_EQ(screen->sections().size(), 1u);
    EXPECT_EQ(screen->sections()[0].kind, PackagesConfirmationViewController::Section::Kind::Remove);
    QTest::mouseClick(screen->confirmButton(), Qt::LeftButton);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !installedInSandbox("com.example.e2e"); }, std::chrono::seconds(120)));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return cell.getBtn()->text() == "GET"; }, std::chrono::seconds(30)));
}

TEST_F(QueueEndToEnd, AnUnmetDependencyIsShownAndNothingIsInstalled) {
    auto& d = launch();
    addSourceAndRefresh();
    ASSERT_TRUE(ZMRPackage::objectForPrimaryKey("com.example.e2e-broken"));
    const std::string before = statusText();
    GetPackageCell cell;
    cell.updateWithPackage(fetch("com.example.e2e-broken"));
    QTest::mouseClick(cell.getBtn(), Qt::LeftButton);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return fetch("com.example.e2e-broken").isInTheQueue.value_or(false); }));

    auto* screen = openQueue(d);
    ASSERT_NE(screen, nullptr);
    ASSERT_FALSE(screen->sections().empty());
    const auto& unmet = screen->sections()[0];
    EXPECT_EQ(unmet.kind, PackagesConfirmationViewController::Section::Kind::Unmet);
    ASSERT_FALSE(unmet.rows.empty());
    EXPECT_NE(unmet.rows[0].detail.find("com.example.nowhere"), std::string::npos) << unmet.rows[0].detail;
    EXPECT_FALSE(screen->confirmButton()->isEnabled());
    QTest::mouseClick(screen->confirmButton(), Qt::LeftButton);
    GuiTest::pump(std::chrono::milliseconds(300));
    EXPECT_EQ(ZMPipelineManager::sharedManager().liveTaskCount(), 0u);
    EXPECT_EQ(statusText(), before);
    EXPECT_FALSE(installedInSandbox("com.example.e2e-broken"));
}

// The queue screen can always be left without running the queue: Cancel,
// Escape, or a click beside the sheet.
TEST_F(QueueEndToEnd, TheQueueCanBeLeftWithoutRunningIt) {
    auto& d = launch();
    addSourceAndRefresh();
    ZMRPackageManager::sharedPackageManager().packages().setPackage("com.example.e2e", true, std::nullopt, 0);
    auto* tabs = d.window()->rootViewController();
    const std::function<void(PackagesConfirmationViewController*)> ways[] = {
        [](PackagesConfirmationViewController* s) { s->navigationItem()->leftBarButtonItem()->trigger(); },
        [](PackagesConfirmationViewController* s) { QTest::keyClick(s->tableView(), Qt::Key_Escape); },
        [&](PackagesConfirmationViewController* s) {
            QWidget* host = s->navigationController()->parentWidget();
            QTest::mouseClick(host, Qt::LeftButton, {}, QPoint(3, 3));
        },
    };
    for (const auto& leave : ways) {
        QPointer<PackagesConfirmationViewController> screen = openQueue(d);
        ASSERT_TRUE(screen);
        leave(screen);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return d.window()->topPresentedViewController() == tabs; }));
        EXPECT_TRUE(GuiTest::waitUntil([&] { return !screen; })) << "the screen goes with its sheet";
    }
    EXPECT_TRUE(fetch("com.example.e2e").isInTheQueue.value_or(false)) << "leaving keeps the queue";
    EXPECT_EQ(ZMPipelineManager::sharedManager().liveTaskCount(), 0u);
}

// An archive the server no longer has: one alert, in front, that says so and
// can be closed; the task screen under it shows the failed download.
TEST_F(QueueEndToEnd, AFailedRunIsOneClosableAlertInFrontOfTheTaskScreen) {
    auto& d = launch();
    addSourceAndRefresh();
    std::filesystem::remove(repoRoot.path() + "/repo/com.example.e2e_1.0_all.deb");
    ZMRPackageManager::sharedPackageManager().packages().setPackage("com.example.e2e", true, std::nullopt, 0);
    auto* screen = openQueue(d);
    ASSERT_NE(screen, nullptr);
    UIView::setAnimationsEnabled(true);  // the failure arrives while the sheet slides away
    QTest::mouseClick(screen->confirmButton(), Qt::LeftButton);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return topPopup() != nullptr; }, std::chrono::seconds(30)));
    waitForQuietPipeline();
    GuiTest::pump(std::chrono::milliseconds(600));
    UIView::setAnimationsEnabled(false);

    auto popups = d.window()->findChildren<ErrorViewController*>();
    ASSERT_EQ(popups.size(), 1) << "one alert per failure";
    ErrorViewController* popup = topPopup();
    ASSERT_EQ(popup, popups.front()) << "the alert is in front";
    EXPECT_NE(popup->messageLbl()->text().indexOf("HTTP status 404"), -1) << popup->messageLbl()->text().toStdString();
    QDir().mkpath(VOSTRELLE_SCREENSHOT_DIR);
    d.window()->grab().toImage().save(VOSTRELLE_SCREENSHOT_DIR "/queue-failed-run-alert.png");

    QTest::mouseClick(popup->closeBtn(), Qt::LeftButton);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return topPopup() == nullptr; }));
    auto* tasksNav = dynamic_cast<UINavigationController*>(d.window()->topPresentedViewController());
    ASSERT_NE(tasksNav, nullptr) << "the task screen is under the alert";
    auto* tasks = tasksNav->findChild<ZMTasksViewController*>();
    ASSERT_NE(tasks, nullptr);
    bool shown = false;
    for (const auto& row : tasks->rows())
        shown |= row.state == ZMTasksViewController::TaskRow::State::Failed && row.error.find("404") != std::string::npos;
    EXPECT_TRUE(shown) << "the failed download and its error are listed";
    d.window()->grab().toImage().save(VOSTRELLE_SCREENSHOT_DIR "/queue-failed-run-tasks.png");
    // The console beside the task list: what the run printed.
    auto* segmented = qobject_cast<SegmentedViewController*>(tasksNav->topViewController());
    ASSERT_NE(segmented, nullptr);
    UserGesture::click(segmented->segmentedControl()->segment(1));
    auto* console = qobject_cast<ZMConsoleViewController*>(segmented->currentViewController());
    ASSERT_NE(console, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return console->isOnScreen(); }));
    tasksNav->topViewController()->navigationItem()->leftBarButtonItem()->trigger();
    EXPECT_TRUE(GuiTest::waitUntil([&] { return d.window()->topPresentedViewController() == d.window()->rootViewController(); }));
}

// A .deb handed over by another program is shown (name, version, what the dry
// run adds) and installed only when the user confirms.
TEST_F(QueueEndToEnd, AnOpenedDebIsInstalledOnlyOnceConfirmed) {
    auto& d = launch();
    addSourceAndRefresh();
    TestSupport::TempDir outside;
    const std::string deb = outside.path() + "/" +
        FlatRepository::buildDeb(work.path(), outside.path(),
                                 {"com.example.opened", "2.5", "Name: Opened Tweak\nDepends: com.example.e2e\n", ""});
    auto openIt = [&]() -> PackagesConfirmationViewController* {
        EXPECT_TRUE(ZMURLRouter::open({QString::fromStdString(deb)}));
        auto* nav = dynamic_cast<UINavigationController*>(d.window()->topPresentedViewController());
        auto* screen = nav ? dynamic_cast<PackagesConfirmationViewController*>(nav->topViewController()) : nullptr;
        EXPECT_TRUE(screen && screen->isDebFile());
        if (screen) { EXPECT_TRUE(GuiTest::waitUntil([&] { return !screen->isResolving(); }, std::chrono::seconds(60))); }
        return screen;
    };
    auto* screen = openIt();
    ASSERT_NE(screen, nullptr);
    GuiTest::pump(std::chrono::milliseconds(300));
    EXPECT_FALSE(installedInSandbox("com.example.opened")) << "nothing before the user confirms";
    EXPECT_EQ(screen->statusLabel()->text().toStdString(),
              "Install Opened Tweak 2.5 from the file com.example.opened_2.5_all.deb?");
    std::set<std::string> listed;
    for (const auto& section : screen->sections())
        for (const auto& row : section.rows) listed.insert(row.identifier);
    EXPECT_EQ(listed, (std::set<std::string>{"com.example.opened", "com.example.e2e"})) << "with its dependency";
    QDir().mkpath(VOSTRELLE_SCREENSHOT_DIR);
    d.window()->grab().toImage().save(VOSTRELLE_SCREENSHOT_DIR "/queue-opened-deb.png");
    screen->navigationItem()->leftBarButtonItem()->trigger();  // Cancel
    ASSERT_TRUE(GuiTest::waitUntil([&] { return d.window()->topPresentedViewController() == d.window()->rootViewController(); }));
    waitForQuietPipeline();
    EXPECT_FALSE(installedInSandbox("com.example.opened"));

    screen = openIt();
    ASSERT_NE(screen, nullptr);
    ASSERT_TRUE(screen->confirmButton()->isEnabled());
    QTest::mouseClick(screen->confirmButton(), Qt::LeftButton);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return installedInSandbox("com.example.opened"); }, std::chrono::seconds(120)))
        << statusText();
    EXPECT_TRUE(installedInSandbox("com.example.e2e"));
}
