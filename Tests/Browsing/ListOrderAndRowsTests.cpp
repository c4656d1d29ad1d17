// What the lists show as a user reads them: names in reading order, the icon
// a package names, the version installed, and source rows that stay put
// while a refresh renames them.
#include <gtest/gtest.h>
#include "App/ZMApplication.h"
#include "VostrelleBuildPaths.h"

#include <QDir>
#include <QImage>
#include <atomic>
#include <thread>

#include "Browsing/BrowsingFixture.h"
#include "Browsing/ManageViewController.h"
#include "Browsing/PackagesTableViewController.h"
#include "Browsing/SourcesCell.h"
#include "Database/ZMCategorySpecial.h"
#include "PackageCell.h"
#include "Shell/ShellTestSupport.h"
#include "Support/FlatRepository.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UITabBarController.h"
#include "UIKit/UIWindow.h"
#include "ZMPipelineManager.h"
#include "ZMVostrelle.h"

namespace {

class ListOrderAndRows : public BrowsingFixture::Database {
protected:
    void SetUp() override {
        Database::SetUp();
        ZMVostrelle::resetForTesting();
    }
    void TearDown() override {
        ZMRSources::setReachabilityHook(nullptr);
        ZMVostrelle::resetForTesting();
        Database::TearDown();
    }
    ManageViewController* launchManageTab() {
        auto& d = ZMVostrelle::sharedVostrelle();
        ZMApplication::applicationDidFinishLaunching();
        EXPECT_TRUE(GuiTest::waitUntil([&] { return d.backgroundLaunchWorkDone(); }, std::chrono::seconds(20)));
        d.tabBarController()->setSelectedIndex(ZMVostrelle::ManageTab);
        auto* nav = qobject_cast<UINavigationController*>(d.tabBarController()->viewControllers()[ZMVostrelle::ManageTab]);
        auto* manage = nav ? qobject_cast<ManageViewController*>(nav->viewControllers().front()) : nullptr;
        EXPECT_TRUE(manage && GuiTest::waitUntil([&] { return manage->isOnScreen(); }));
        return manage;
    }
    static void screenshot(QWidget* w, const char* name) {
        QDir().mkpath(VOSTRELLE_SCREENSHOT_DIR);
        w->grab().toImage().save(QString(VOSTRELLE_SCREENSHOT_DIR) + "/" + name);
    }
};

TEST_F(ListOrderAndRows, NamesInReadingOrderAndThePackagesOwnIcon) {
    TestSupport::TempDir served;
    QImage green(64, 64, QImage::Format_ARGB32);
    green.fill(Qt::green);
    ASSERT_TRUE(green.save(QString::fromStdString(served.path() + "/icon.png")));
    FlatRepository::FileServer server(served.path());
    auto helper = ShellTest::makePackage("com.cydia.helper", "Cydia Helper");
    helper.iconURL = server.url("icon.png");
    store({ShellTest::makePackage("com.walk.app", "Walk App"), ShellTest::makePackage("com.walk.tool", "com.walk.tool"),
           helper});

    auto* list = new PackagesTableViewController;
    list->setCategory(kCategorySpecial_AllPackages);
    list->setTitle("All Packages");
    UIWindow window;
    window.setRootViewController(new UINavigationController(list));
    window.resize(420, 500);
    window.show();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return list->isOnScreen() && list->rebuildCount() > 0; }));
    EXPECT_EQ(list->sectionIndexTitles(list->packagesTableView()), (QStringList{"C", "W"}));
    EXPECT_EQ(list->model().sectionsDictionary().at("C"), (std::vector<std::string>{"com.walk.tool", "com.cydia.helper"}));

    // The row shows the category image, then the icon its record names once fetched.
    auto iconCentre = [&] {
        for (auto* c : list->packagesTableView()->visibleCells())
            if (auto* cell = qobject_cast<PackageCell*>(c); cell && cell->packageIdentifier() == "com.cydia.helper")
                return cell->iconView()->pixmap().toImage().pixelColor(26, 26);
        return QColor();
    };
    ASSERT_TRUE(GuiTest::waitUntil([&] { return iconCentre() == QColor(Qt::green); }, std::chrono::seconds(10)));
    EXPECT_EQ(server.count("icon.png"), 1u);
    screenshot(&window, "browse-list-reading-order-and-icons.png");
}

TEST_F(ListOrderAndRows, InstalledRowsShowTheInstalledVersion) {
    auto p = ShellTest::makePackage("com.example.installed", "Installed Tweak");
    p.version = "1.1";  // what a source offers now
    p.isInstalled = true;
    p.installedVersion = "1.0";
    p.isUpdated = true;
    p.installDate = 1'780'000'000;
    auto* manage = launchManageTab();
    ASSERT_NE(manage, nullptr);
    store({p});  // after the launch's scan of the (empty) dpkg status
    PackageCell* row = nullptr;
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        return (row = qobject_cast<PackageCell*>(manage->installedPackagesTableView()->cellForRow({0, 0})));
    }));
    EXPECT_EQ(row->versionLbl()->text(), "1.0");
    screenshot(ZMVostrelle::sharedVostrelle().window(), "browse-manage-installed-version.png");
}

// A refresh renames sources ("Zeta" becomes "Alpha"): the rows do not move
// under the pointer until the refresh has ended.
TEST_F(ListOrderAndRows, SourceRowsStayPutWhileARefreshRuns) {
    TestSupport::TempDir fast, slow;
    FlatRepository::writeIndexesForText(fast.path(), "Package: com.example.a\nVersion: 1.0\n", "Alpha");
    FlatRepository::writeIndexesForText(slow.path(), "Package: com.example.b\nVersion: 1.0\n", "Mid");
    FlatRepository::FileServer fastServer(fast.path()), slowServer(slow.path());
    std::atomic<bool> released{false};
    slowServer.route("Release", [&](const httplib::Request&, httplib::Response& res) {
        for (int i = 0; i < 1000 && !released; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        res.set_content(TestSupport::readFile(slow.path() + "/Release"), "text/plain");
    });
    realm->transactionWithBlock([&] {
        for (auto [location, name] : {std::pair{fastServer.url(), "Zeta"}, std::pair{slowServer.url(), "Mid"}}) {
            auto s = ZMRSource::newSourceWithLocation(location);
            s.name = name;
            realm->addOrUpdate(s);
        }
    });
    preferences().setValue(VostrellePreferenceKey::SetupDone, true);
    ZMRSources::setReachabilityHook([] { return true; });
    auto* manage = launchManageTab();
    ASSERT_NE(manage, nullptr);
    auto names = [&] {
        std::vector<std::string> out;
        for (int r = 0; r < manage->numberOfRows(manage->sourcesTableView(), 0); ++r)
            if (auto* cell = qobject_cast<SourcesCell*>(manage->sourcesTableView()->cellForRow({0, r})))
                out.push_back(cell->nameLbl->text().toStdString());
        return out;
    };
    EXPECT_EQ(names(), (std::vector<std::string>{"Mid", "Zeta"}));
    ASSERT_TRUE(ZMRPackageManager::sharedPackageManager().sources().refreshAllSources());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return names() == std::vector<std::string>{"Mid", "Alpha"}; },
                                   std::chrono::seconds(20)))
        << "renamed in place while the other source still refreshes";
    screenshot(ZMVostrelle::sharedVostrelle().window(), "browse-manage-sources-during-refresh.png");
    released = true;
    EXPECT_TRUE(GuiTest::waitUntil([&] { return names() == std::vector<std::string>{"Alpha", "Mid"}; },
                                   std::chrono::seconds(20)));
}

}  // namespace
