// The browsing tabs as a user walks them: a loopback repository refreshed by
// the real refresh updates a package installed in the sandbox root; Sections
// shows the update in its badge and opens a grouped category and a package;
// Search finds the package after the typing pause, in both modes, and the
// complete list of an Exact search holds what the card counted; Changes
// queues the update and opens the queue confirmation. Everything by mouse and
// keyboard; screenshots of the four screens.
#include <QDir>
#include <QTest>
#include <atomic>
#include <filesystem>

#include "App/ZMApplication.h"
#include "Browsing/CategoriesTableViewController.h"
#include "Browsing/ChangesViewController.h"
#include "Browsing/PackagesTableViewController.h"
#include "Browsing/SearchViewController.h"
#include "Browsing/SubcategoriesViewController.h"
#include "Details/PackageDetailsViewController.h"
#include "PackagesConfirmationViewController.h"
#include "Shell/ShellTestSupport.h"
#include "Support/FlatRepository.h"
#include "Support/Gui/UserGestures.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UITabBarController.h"
#include "VostrelleBuildPaths.h"
#include "ZMPipelineManager.h"

namespace {

class BrowsingEndToEnd : public ShellTest::Fixture {
protected:
    TestSupport::TempDir repoRoot, work;
    std::unique_ptr<FlatRepository::FileServer> server;
    std::atomic<bool> online{false};

    void SetUp() override {
        Fixture::SetUp();
        const std::string dir = repoRoot.path() + "/repo";
        std::filesystem::create_directories(dir);
        const std::vector<FlatRepository::Deb> debs = {
            {"com.loop.tool", "2.0", "Name: Loop Tool\nSection: Tweaks\n"},
            {"com.loop.spring", "1.0", "Name: Loop Spring\nSection: Tweaks (SpringBoard)\n"},
            {"com.loop.dark", "1.0", "Name: Dark Loop\nSection: Themes\n"},
            {"com.loop.util", "1.0", "Name: Utility\nSection: Utilities\n"},
            {"com.loop.alpha", "1.0", "Name: Alpha Tweak\nSection: Tweaks\n"},
            {"com.loop.beta", "1.0", "Name: Beta Tweak\nSection: Tweaks\n"},
        };
        for (const auto& deb : debs) FlatRepository::buildDeb(work.path(), dir, deb);
        FlatRepository::writeIndexes(dir, "Loopback");
        server = std::make_unique<FlatRepository::FileServer>(repoRoot.path());
        // Version 1.0 of the tool is installed in the sandbox root.
        TestSupport::writeFile(env.targetRoot() + "/var/lib/dpkg/status",
                               "Package: com.loop.tool\nStatus: install ok installed\nVersion: 1.0\nArchitecture: all\n\n");
        prefs().setValue(VostrellePreferenceKey::SetupDone, true);
        ZMRSources::setReachabilityHook([this] { return online.load(); });
    }
    void TearDown() override {
        ZMRSources::setReachabilityHook(nullptr);
        Fixture::TearDown();
    }
    template <class Screen>
    Screen* tab(ZMVostrelle& d, int index) {
        UserGesture::tapTab(d.tabBarController(), index);
        auto* nav = dynamic_cast<UINavigationController*>(d.tabBarController()->selectedViewController());
        return nav ? dynamic_cast<Screen*>(nav->viewControllers().front()) : nullptr;
    }
    static UIViewController* topOf(UIViewController* screen) { return screen->navigationController()->topViewController(); }
    static void screenshot(ZMVostrelle& d, const char* name) {
        GuiTest::pump(std::chrono::milliseconds(100));
        QDir().mkpath(VOSTRELLE_SCREENSHOT_DIR);
        EXPECT_TRUE(d.window()->grab().toImage().save(QString(VOSTRELLE_SCREENSHOT_DIR "/") + name));
    }
};

TEST_F(BrowsingEndToEnd, SectionsSearchAndChangesFromARefreshedRepository) {
    auto& d = ZMVostrelle::sharedVostrelle();
    EXPECT_TRUE(ZMApplication::start({})) << "the launch main() runs";
    ASSERT_TRUE(GuiTest::waitUntil([&] { return d.backgroundLaunchWorkDone(); }, std::chrono::seconds(30)));
    d.window()->resize(430, 900);
    online = true;
    const std::string location = server->url("repo/");
    ASSERT_EQ(ZMRPackageManager::sharedPackageManager().sources().addSourceWithLocation(location, true).status,
              ZMRAddSourceStatus::Added);
    // The refresh marks the installed tool updated; the rebuild after it sets the badge.
    ASSERT_TRUE(GuiTest::waitUntil(
        [&] { return d.tabBarController()->badgeValue(ZMVostrelle::SectionsTab) == std::optional<std::string>("1"); },
        std::chrono::seconds(60)));

    // Sections: the group of tweaks unfolds; one of its categories, then a package, opens.
    auto* sections = tab<CategoriesTableViewController>(d, ZMVostrelle::SectionsTab);
    ASSERT_NE(sections, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return sections->otherPackagesCategories().size() == 3; }));
    EXPECT_EQ(sections->otherPackagesCategories(), (std::vector<std::string>{"Themes   ", "Tweaks   ", "Utilities"}));
    EXPECT_EQ(sections->defaultPackagesCategories().at(2), "Updated Packages (1)");
    ASSERT_NO_FATAL_FAILURE(UserGesture::tapRow(sections->otherCategoriesTableView(), {0, 1}));
    EXPECT_EQ(sections->otherPackagesCategories(),
              (std::vector<std::string>{"Themes   ", "Tweaks   ", "Tweaks", "Tweaks (SpringBoard)", "Utilities"}));
    screenshot(d, "sections-tab.png");
    ASSERT_NO_FATAL_FAILURE(UserGesture::tapRow(sections->otherCategoriesTableView(), {0, 2}));
    auto* category = dynamic_cast<SubcategoriesViewController*>(topOf(sections));
    ASSERT_NE(category, nullptr);
    EXPECT_EQ(category->category(), "Tweaks");
    // No subcategories: the packages start at section 0, by first letter.
    ASSERT_TRUE(GuiTest::waitUntil([&] { return category->packageSections().sections().size() == 3; }));
    EXPECT_EQ(category->packageSections().sections(), (std::vector<std::string>{"A", "B", "L"}));
    EXPECT_EQ(category->identifierAt({2, 0}), std::optional<std::string>("com.loop.tool"));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return category->isOnScreen(); }));
    screenshot(d, "category-screen.png");
    ASSERT_NO_FATAL_FAILURE(UserGesture::tapRow(category->subcategoriesAndPackagesTableView(), {2, 0}));
    ASSERT_NE(topOf(sections), category);
    auto* opened = dynamic_cast<PackageDetailsViewController*>(topOf(sections));
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->packageIdentifier(), "com.loop.tool");
    sections->navigationController()->popToRootViewController(false);

    // Search: Fuzzy first, the card after the typing
    // pause; Exact then counts fewer, and its complete list holds what it counted.
    auto* search = tab<SearchViewController>(d, ZMVostrelle::SearchTab);
    ASSERT_NE(search, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->isOnScreen(); }));
    d.window()->activateWindow();
    GuiTest::waitUntil([&] { return d.window()->isActiveWindow(); });
    UserGesture::click(search->searchBar());
    ASSERT_TRUE(search->searchQueryControl()->isVisible()) << "the modes show while editing";
    UserGesture::click(search->searchQueryControl()->segment(PackageSearch::Fuzzy));
    QTest::keyClicks(search->searchBar(), "loop");
    EXPECT_TRUE(search->isPackageQueryPending());
    EXPECT_EQ(search->packageQueriesStarted(), 0) << "the switch searched nothing: no text yet";
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->packageResultsApplied() == 1; }));
    EXPECT_EQ(search->packagesTitle()->text(), "3 Packages");  // Dark Loop, Loop Spring, Loop Tool
    UserGesture::click(search->searchQueryControl()->segment(PackageSearch::Exact));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->packageResultsApplied() == 2; }));
    EXPECT_EQ(search->packagesTitle()->text(), "2 Packages");  // not Dark Loop
    EXPECT_TRUE(search->searchBar()->hasFocus()) << "choosing a mode leaves the typing where it was";
    EXPECT_TRUE(search->isShowingResults());
    EXPECT_TRUE(search->searchQueryControl()->isVisible());
    screenshot(d, "search-results.png");
    UserGesture::click(search->seeAllPackagesBtn());
    auto* all = dynamic_cast<PackagesTableViewController*>(topOf(search));
    ASSERT_NE(all, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return all->model().packages().has_value(); }));
    EXPECT_EQ(all->model().packages()->count(), 2u);
    EXPECT_EQ(all->model().packages()->count(), search->packages()->total);
    search->navigationController()->popToRootViewController(false);

    // Changes: Update All queues the update and opens the queue.
    auto* changes = tab<ChangesViewController>(d, ZMVostrelle::ChangesTab);
    ASSERT_NE(changes, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return changes->model().reading().updates.size() == 1; }));
    EXPECT_EQ(changes->model().reading().newCount, 6u);
    screenshot(d, "changes-tab.png");
    UserGesture::click(changes->updateAllBtn());
    EXPECT_TRUE(ZMRPackage::objectForPrimaryKey("com.loop.tool")->isInTheQueue.value_or(false));
    auto* nav = dynamic_cast<UINavigationController*>(d.window()->topPresentedViewController());
    QPointer<PackagesConfirmationViewController> queue =
        nav ? dynamic_cast<PackagesConfirmationViewController*>(nav->topViewController()) : nullptr;
    ASSERT_TRUE(queue);
    EXPECT_TRUE(GuiTest::waitUntil([&] { return !queue || !queue->isResolving(); }, std::chrono::seconds(60)));
}

}  // namespace
