// Following a developer in the launched application, with the mouse: a
// developer link opens the profile of a developer whose packages carry
// the developer's name as their maintainer; the user follows, opens "See
// All" and a package from it, closes the page; in Search the developer's row
// shows the follow state and its button unfollows and follows again; from
// the account page the followed developers list, where unfollowing the last
// one leaves the list. The server holds the followed list after each change.
#include <filesystem>

#include "App/ZMApplication.h"
#include "Browsing/AllDevPackagesViewController.h"
#include "Browsing/FeaturedViewController.h"
#include "Browsing/SearchViewController.h"
#include "Details/DeveloperDetailsViewController.h"
#include "Details/ReviewsFixture.h"
#include "Online/Screens/AccountPlistViewController.h"
#include "Online/Screens/FollowedDevelopersViewController.h"
#include "Support/FlatRepository.h"
#include "Support/Gui/UserGestures.h"
#include "UIKit/UITabBarController.h"

namespace {

using nlohmann::json;

class FollowingDevelopersRoad : public ReviewsFixture::Screens {
protected:
    TestSupport::TempDir repoRoot;
    std::unique_ptr<FlatRepository::FileServer> server;

    void SetUp() override {
        Screens::SetUp();
        ZMURLRouter::setHooks({});  // the application's own
        const std::string dir = repoRoot.path() + "/repo";
        std::filesystem::create_directories(dir);
        std::string packages;
        for (const char* name : {"Dock", "Lens", "Tool"})
            packages += "Package: org.jane." + QString(name).toLower().toStdString() + "\nName: Jane's " + name +
                        "\nVersion: 1.0\nSection: Tweaks\nMaintainer: Jane Doe\nArchitecture: all\n"
                        "Description: A tweak by Jane.\n\n";
        packages += "Package: org.other.tool\nName: Other Tool\nVersion: 1.0\nMaintainer: Jane Does <does@example.org>\n"
                    "Architecture: all\n\n";
        FlatRepository::writeIndexesForText(dir, packages, "Jane's Repo");
        server = std::make_unique<FlatRepository::FileServer>(repoRoot.path());
        prefs().setValue(VostrellePreferenceKey::SetupDone, true);
        ZMRSources::setReachabilityHook([] { return true; });
        maker->setDevelopers(json::array({{{"developer", "Jane Doe"}, {"about", "Tweaks for the dock."}, {"twitter", "@janedoe"}}}));
    }
    static UINavigationController* selectTab(ZMVostrelle& d, int index) {
        UserGesture::tapTab(d.tabBarController(), index);
        return dynamic_cast<UINavigationController*>(d.tabBarController()->selectedViewController());
    }
    static void click(QWidget* widget) { UserGesture::click(widget); }
    // The row of the account page showing `label`.
    static std::optional<IndexPath> rowLabelled(RootViewController* page, const QString& label) {
        for (int s = 0; s < static_cast<int>(page->sections().size()); ++s)
            for (int r = 0; r < static_cast<int>(page->sections()[s].rows.size()); ++r)
                if (page->labelForRow({s, r}) == label) return IndexPath{s, r};
        return std::nullopt;
    }
};

TEST_F(FollowingDevelopersRoad, FollowFromALinkUnfollowInSearchAndInTheFollowedList) {
    auto& d = ZMVostrelle::sharedVostrelle();
    EXPECT_TRUE(ZMApplication::start({})) << "the launch main() runs";
    ASSERT_TRUE(GuiTest::waitUntil([&] { return d.backgroundLaunchWorkDone(); }, std::chrono::seconds(30)));
    d.window()->resize(430, 900);
    d.window()->activateWindow();
    ASSERT_EQ(ZMRPackageManager::sharedPackageManager().sources().addSourceWithLocation(server->url("repo/"), true).status,
              ZMRAddSourceStatus::Added);
    ASSERT_TRUE(GuiTest::waitUntil([] { return ZMRPackage::objectForPrimaryKey("org.other.tool").has_value(); },
                                   std::chrono::seconds(30)));
    signIn("bob");

    // The link: the page lists the packages whose maintainer is exactly the developer's name.
    d.openURLs({"vostrelle://developer/Jane%20Doe"});
    DeveloperDetailsViewController* page = nullptr;
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        auto* modal = dynamic_cast<UINavigationController*>(d.window()->topPresentedViewController());
        page = modal ? dynamic_cast<DeveloperDetailsViewController*>(modal->topViewController()) : nullptr;
        return page && page->isOnScreen();
    }));
    auto* modal = page->navigationController();
    EXPECT_EQ(page->devPackages().size(), 3u);
    EXPECT_EQ(page->pkgByThisDevTableView()->numberOfRows(0), 2);
    EXPECT_FALSE(page->noPackagesLbl()->isVisible());
    UserGesture::tapBarButton(page, "Follow");
    EXPECT_EQ(page->followedBtn()->title(), "Unfollow");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return maker->followed(13) == std::optional<std::string>("jane doe"); }));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return d.window()->topPresentedViewController() == modal; }))
        << "the confirmation goes by itself";

    click(page->seeAllPkgByThisDevBtn());
    auto* all = dynamic_cast<AllDevPackagesViewController*>(modal->topViewController());
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(all->packages(), (std::vector<std::string>{"org.jane.dock", "org.jane.lens", "org.jane.tool"}));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return all->isOnScreen(); }));
    ASSERT_NO_FATAL_FAILURE(UserGesture::tapRow(all->devPackagesTableView(), {0, 1}));
    ASSERT_NE(all->lastPushedViewController(), nullptr);
    EXPECT_EQ(modal->topViewController(), all->lastPushedViewController());
    modal->popToRootViewController(false);
    UserGesture::tapBarButton(page, "Close");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return d.window()->topPresentedViewController() == d.window()->rootViewController(); }));

    // Search: the developer's row, followed; its button unfollows, then follows again.
    auto* searchNav = selectTab(d, ZMVostrelle::SearchTab);
    auto* search = dynamic_cast<SearchViewController*>(searchNav->viewControllers().front());
    ASSERT_NE(search, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->isOnScreen(); }));
    d.window()->activateWindow();
    GuiTest::waitUntil([&] { return d.window()->isActiveWindow(); });
    click(search->searchBar());
    QTest::keyClicks(search->searchBar(), "Jane");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->developersArray().size() == 1; }))
        << "the developer lookup of the launched application";
    SearchCell* row = nullptr;
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        row = qobject_cast<SearchCell*>(search->developersTableView()->cellForRow({0, 0}));
        return row != nullptr;
    }));
    EXPECT_EQ(row->nameLbl()->text(), "Jane Doe");
    EXPECT_TRUE(row->followButtonShowsFollowed());
    click(row->followBtn());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return maker->followed(13) == std::optional<std::string>(""); }));
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        row = qobject_cast<SearchCell*>(search->developersTableView()->cellForRow({0, 0}));
        return row && !row->followButtonShowsFollowed();
    })) << "the row redrawn once the change was stored";
    GuiTest::waitUntil([&] { return d.window()->topPresentedViewController() == d.window()->rootViewController(); });
    click(row->followBtn());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return maker->followed(13) == std::optional<std::string>("jane doe"); }));
    GuiTest::waitUntil([&] { return d.window()->topPresentedViewController() == d.window()->rootViewController(); });

    // The account page's followed developers: unfollowing the only one leaves the list.
    auto* featuredNav = selectTab(d, ZMVostrelle::FeaturedTab);
    auto* featured = dynamic_cast<FeaturedViewController*>(featuredNav->viewControllers().front());
    ASSERT_NE(featured, nullptr);
    click(featured->infoBtn());
    auto* account = dynamic_cast<AccountPlistViewController*>(featuredNav->topViewController());
    ASSERT_NE(account, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return account->isOnScreen(); }));
    const auto followedRow = rowLabelled(account, "Followed Developers");
    ASSERT_TRUE(followedRow.has_value());
    ASSERT_NO_FATAL_FAILURE(UserGesture::tapRow(account->tableView(), *followedRow));
    auto* followed = dynamic_cast<FollowedDevelopersViewController*>(featuredNav->topViewController());
    ASSERT_NE(followed, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return followed->followedDevelopersArray().size() == 1; }));
    SearchCell* listed = nullptr;
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        listed = qobject_cast<SearchCell*>(followed->followedDevelopersTableView()->cellForRow({0, 0}));
        return listed && listed->nameLbl()->text() == "Jane Doe";
    }));
    EXPECT_EQ(listed->subinfoLbl()->text(), "@janedoe");
    click(listed->followBtn());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return featuredNav->viewControllers().size() == 1; })) << "back at the root";
    ASSERT_TRUE(GuiTest::waitUntil([&] { return maker->followed(13) == std::optional<std::string>(""); }));
    EXPECT_FALSE(ZMRPackageManager::sharedPackageManager().developers().isDeveloperFollowed("Jane Doe"));
}

}  // namespace
