// From a tap to an installed package, with the real apt-get and dpkg against a
// sandbox root, a repository on loopback, and the application's own screens.
#include <QPointer>
#include <QTest>
#include <atomic>
#include <filesystem>

#include "Database/ZMRPackageManager.h"
#include "GetPackageCell.h"
#include "PackagesConfirmationViewController.h"
#include "ShellTestSupport.h"
#include "Support/FlatRepository.h"
#include "UIKit/UINavigationController.h"
#include "ZMAPTManager.h"
#include "ZMPipelineManager.h"
#include "ZMVostrelle.h"

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
        d.applicationDidFinishLaunching();
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
