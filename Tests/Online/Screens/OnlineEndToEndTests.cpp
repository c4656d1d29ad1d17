// A new user's first hour with the maker's service, offscreen, against the
// fake maker server and loopback repositories, clicking and typing from the
// application's window: the first run (theme, sign-in, import), the featured
// page filled from the feed, a package opened from a banner, a banner's
// featured page queueing its package, the account page, Settings (the theme),
// a local backup, a source removed and restored, the credits with a developer
// followed and found in the account's list, the news and a source added from
// the directory. Screenshots of every screen on the way.
#include <QBuffer>
#include <filesystem>

#include "App/ZMApplication.h"
#include "Browsing/BigFeaturedCell.h"
#include "Browsing/CategoriesTableViewController.h"
#include "Browsing/FeaturedPackageViewController.h"
#include "Browsing/FeaturedViewController.h"
#include "Browsing/ManageViewController.h"
#include "Browsing/SourcesCell.h"
#include "Details/DeveloperDetailsViewController.h"
#include "Details/PackageDetailsViewController.h"
#include "InitViewController.h"
#include "Online/Screens/AccountPlistViewController.h"
#include "Online/Screens/CreditsViewController.h"
#include "Online/Screens/FollowedDevelopersViewController.h"
#include "Online/Screens/LoginViewController.h"
#include "Online/Screens/NewsViewController.h"
#include "Online/Screens/OnlineRepositoriesViewController.h"
#include "Online/Screens/OnlineScreensFixture.h"
#include "Online/Screens/SearchedRepoViewController.h"
#include "Online/Screens/VostrelleSetupRestorationViewController.h"
#include "Services/ZMAccount.h"
#include "SettingsPlistViewController.h"
#include "Support/Gui/UserGestures.h"
#include "UIKit/UITabBarController.h"
#include "UserNotifications/UNUserNotificationCenter.h"
#include "ZMAPTSourcesImport.h"
#include "ZMPaletteManager.h"

namespace {

using nlohmann::json;

class OnlineEndToEnd : public OnlineScreensTest::Fixture {
protected:
    TestSupport::TempDir root, work, etc;
    std::unique_ptr<FlatRepository::FileServer> server;

    void SetUp() override {
        Fixture::SetUp();
        for (const char* name : {"main", "extra"}) std::filesystem::create_directories(root.path() + "/" + name);
        FlatRepository::buildDeb(work.path(), root.path() + "/main", {"com.walk.banner", "1.0", "Name: Walk Banner\nSection: Tweaks\n"});
        FlatRepository::buildDeb(work.path(), root.path() + "/main", {"com.walk.tweak", "1.0", "Name: Walk Tweak\nSection: Tweaks\n"});
        FlatRepository::buildDeb(work.path(), root.path() + "/main", {"com.walk.theme", "1.0", "Name: Walk Theme\nSection: Themes\n"});
        FlatRepository::writeIndexes(root.path() + "/main", "Walk Main");
        FlatRepository::buildDeb(work.path(), root.path() + "/extra", {"com.walk.extra", "1.0", "Name: Walk Extra\n"});
        FlatRepository::writeIndexes(root.path() + "/extra", "Walk Extra");
        std::filesystem::create_directories(root.path() + "/images");
        for (auto [name, colour] : {std::pair{"b1.jpg", QColor("#ff9500")}, std::pair{"b2.jpg", QColor("#34c759")},
                                    std::pair{"ada.png", QColor("#af52de")}}) {
            QImage image(300, 300, QImage::Format_RGB32);
            image.fill(colour);
            image.save(QString::fromStdString(root.path() + "/images/" + name));
        }
        server = std::make_unique<FlatRepository::FileServer>(root.path());
        TestSupport::writeFile(etc.path() + "/sources.list", "deb " + server->url("main/") + " ./\n");
        ZMAPTSourcesImport::setEtcDirectory(etc.path());
        ZMRSources::setReachabilityHook([] { return true; });

        maker->addAccount({"ada", "secret", 12, "ada@example.com", server->url("images/ada.png")});
        auto banner = [&](const char* id, const char* image, const char* title) {
            return json{{"bundle_id", id},         {"title", title}, {"developer", "Walk Studio"},
                        {"description", "**Bold** news about " + std::string(title) + ": https://walk.example/"},
                        {"background", server->url(std::string("images/") + image)}, {"logo", ""},
                        {"repo", server->url("main")}};
        };
        maker->setFeatured({{"featuredTop", {banner("com.walk.banner", "b1.jpg", "Walk Banner"), banner("com.walk.tweak", "b2.jpg", "Walk Tweak")}},
                            {"featuredMiddle", json::array({{{"bundle_id", "com.walk.tweak"}}})},
                            {"mustHaveTweaks", json::array({{{"bundle_id", "com.walk.banner"}}})},
                            {"mustHaveThemes", json::array({{{"bundle_id", "com.walk.theme"}}})},
                            {"extendApps", json::array()}});
        maker->setNews(json::array({{{"author", "Zemtrix"}, {"title", "Vostrelle on the desktop"}, {"date", "2026-12-01"},
                                     {"content", "The featured page, news and the account are here."}},
                                    {{"author", "Zemtrix"}, {"title", "Backups"}, {"date", "2026-11-20"},
                                     {"content", "Keep your sources and packages in a backup."}}}));
        maker->setCredits(json::array({{{"name", "Ada Lovelace"}, {"description", "Design"}, {"username", "ada dev"},
                                        {"avatarURL", server->url("images/ada.png")}}}));
        maker->setDevelopers(json::array({{{"developer", "ada dev"}, {"twitter", "ada"}}}));
        maker->setDirectory(json::array({{{"name", "Walk Extra"}, {"url", server->url("extra/")}, {"icon", ""},
                                          {"description", "More packages"}, {"maintainer", "Walk"}, {"category", "Tweaks"}}}));
        FeaturedViewController::setLaunchScreensEnabled(true);
    }
    void TearDown() override {
        ZMAPTSourcesImport::setEtcDirectory("/etc/apt");
        Fixture::TearDown();
    }
    static UINavigationController* tabNav(int index) {
        return qobject_cast<UINavigationController*>(ZMVostrelle::sharedVostrelle().tabBarController()->viewControllers()[index]);
    }
    void shot(const char* name) {
        // The news notification of the launch would cover the top of every picture.
        if (auto* banner = UNUserNotificationCenter::current().currentBanner()) banner->hide();
        screenshot(ZMVostrelle::sharedVostrelle().window(), name);
    }
};

TEST_F(OnlineEndToEnd, ANewUserWalksTheFirstRunTheFeaturedPageTheAccountAndTheDirectory) {
    using namespace UserGesture;
    auto& d = ZMVostrelle::sharedVostrelle();
    EXPECT_TRUE(ZMApplication::start({})) << "the launch main() runs";
    ASSERT_TRUE(GuiTest::waitUntil([&] { return d.backgroundLaunchWorkDone(); }, std::chrono::seconds(30)));
    d.window()->resize(440, 900);

    // ---- first run: welcome, theme, sign-in, import
    auto* welcome = presented<InitViewController>();
    ASSERT_NE(welcome, nullptr);
    click(welcome->continueButton());
    auto* theme = presented<DarkmodeViewController>();
    ASSERT_NE(theme, nullptr);
    click(theme->styleButton(1));
    click(theme->continueButton());
    auto* login = presented<LoginViewController>();
    ASSERT_NE(login, nullptr);
    type(login->userNameTextField(), "ada", false);
    type(login->passwordTextField(), "secret", false);
    shot("login.png");
    click(login->loginBtn());
    auto* import = presented<RepoTransferViewController>();
    ASSERT_NE(import, nullptr);
    EXPECT_EQ(import->locations(), std::vector<std::string>{server->url("main/")});
    click(import->doneButton());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return top() == d.window()->rootViewController(); }));
    EXPECT_TRUE(ZMAccount::instance().isSignedIn());
    EXPECT_TRUE(prefs().boolForKey("setupDone"));

    // ---- the featured page fills once the imported repository is refreshed
    auto* featuredNav = tabNav(ZMVostrelle::FeaturedTab);
    tapTab(d.tabBarController(), ZMVostrelle::FeaturedTab);
    auto* featured = qobject_cast<FeaturedViewController*>(featuredNav->viewControllers().front());
    ASSERT_NE(featured, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !featured->lists()[FeaturedModel::MustHaveThemes].empty(); }, std::chrono::seconds(60)));
    EXPECT_EQ(featured->lists()[FeaturedModel::Middle], std::vector<std::string>{"com.walk.tweak"});
    ASSERT_TRUE(GuiTest::waitUntil([&] { 
        const QColor c = featured->bannerImage(1).pixelColor(10, 10);
        return c.green() > 150 && c.red() < 100;  // the green banner, as JPEG
    }));
    EXPECT_FALSE(featured->isCarouselTimerRunning()) << "two banners never advance by themselves";

    // A long press on the banner in view opens its package; back shows the
    // page with the packages' descriptions.
    const std::vector<std::string> bannerPackages = {"com.walk.banner", "com.walk.tweak"};
    auto bannerInView = [&] {
        for (int i = 0; i < 2; ++i)
            if (auto* cell = featured->bannerCell(i); cell && !cell->visibleRegion().isEmpty() &&
                                                       cell->visibleRegion().boundingRect().width() > cell->width() / 2)
                return i;
        return -1;
    };
    int banner = bannerInView();
    ASSERT_GE(banner, 0);
    BigFeaturedCell* card = featured->bannerCell(banner);
    press(card, card->rect().center(), QEvent::MouseButtonPress, Qt::LeftButton);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return card->isPressed(); }));
    press(card, card->rect().center(), QEvent::MouseButtonRelease, Qt::NoButton);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return featuredNav->viewControllers().size() == 2; }));
    auto* details = qobject_cast<PackageDetailsViewController*>(featuredNav->topViewController());
    ASSERT_NE(details, nullptr);
    EXPECT_EQ(details->packageIdentifier(), bannerPackages[banner]);
    click(featuredNav->navigationBar()->backButton());
    ASSERT_EQ(featuredNav->topViewController(), featured);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return featured->bannerCell(0) &&
                                                featured->bannerCell(0)->descriptionLbl()->text() == "test package"; }));
    EXPECT_TRUE(GuiTest::waitUntil([&] { return !featured->avatarImage().isNull(); }));  // ada's avatar on the button
    shot("featured.png");

    // A right click on the banner offers its featured page, which queues the package.
    banner = bannerInView();
    ASSERT_GE(banner, 0);
    chooseMenuEntry(rightClick(featured->bannerCell(banner), QPoint(20, 20)), "Featured Page");
    auto* page = presented<FeaturedPackageViewController>();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->package().bundle_id, bannerPackages[banner]);
    shot("featured-package.png");
    click(page->getBtn());
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        return ZMRPackage::objectForPrimaryKey(bannerPackages[banner])->isInTheQueue.value_or(false);
    }));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return top() == d.window()->rootViewController(); }));

    // ---- the account page, and Settings from it (the theme)
    click(featured->infoBtn());
    auto* account = qobject_cast<AccountPlistViewController*>(featuredNav->topViewController());
    ASSERT_NE(account, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return account->isOnScreen(); }));
    EXPECT_EQ(account->accountNameLabel()->text(), "ada");
    EXPECT_EQ(account->accountEmailLabel()->text(), "ada@example.com");
    EXPECT_TRUE(GuiTest::waitUntil([&] { return account->showsAvatar(); }));
    shot("account.png");
    auto tapAccountRow = [&](const char* action) {
        const auto row = ShellTest::rowWithAction(*account, action);
        ASSERT_TRUE(row) << action;
        tapRow(account->tableView(), *row);
    };
    tapAccountRow("openSettings");
    auto* settings = qobject_cast<SettingsPlistViewController*>(featuredNav->topViewController());
    ASSERT_NE(settings, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return settings->isOnScreen(); }));
    EXPECT_EQ(ZMPaletteManager::sharedManager().activeStyle(), 1) << "the first run's choice";
    tapRow(settings->tableView(), *settings->indexPathForKey("Theme"));
    // The sheet comes from the settings page itself.
    auto* sheet = dynamic_cast<UIAlertController*>(settings->presentedViewController());
    ASSERT_NE(sheet, nullptr);
    click(sheet->buttonForAction(0));  // Light
    EXPECT_TRUE(GuiTest::waitUntil([] { return ZMPaletteManager::sharedManager().activeStyle() == 0; }));
    click(featuredNav->navigationBar()->backButton());
    ASSERT_EQ(featuredNav->topViewController(), account);

    // ---- a local backup, the source removed in the Manage tab, then restored
    tapAccountRow("createBackup");
    auto* offer = presented<ErrorViewController>();
    ASSERT_NE(offer, nullptr);
    click(offer->otherBtn());
    ErrorViewController* saved = nullptr;
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        saved = presented<ErrorViewController>(std::chrono::milliseconds(10));
        return saved && saved->titleLbl()->text() == "Local Setup Backup";
    }));
    click(saved->closeBtn());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return top() == d.window()->rootViewController(); }));

    auto* manageNav = tabNav(ZMVostrelle::ManageTab);
    tapTab(d.tabBarController(), ZMVostrelle::ManageTab);
    auto* manage = qobject_cast<ManageViewController*>(manageNav->viewControllers().front());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return manage->isOnScreen(); }));
    SourcesCell* walkRow = nullptr;
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        for (int row = 0; row < manage->sourcesTableView()->numberOfRows(0) && !walkRow; ++row)
            if (auto* cell = dynamic_cast<SourcesCell*>(manage->sourcesTableView()->cellForRow({0, row})))
                if (cell->nameLbl->text() == "Walk Main") walkRow = cell;
        return walkRow != nullptr;
    }));
    chooseMenuEntry(rightClick(walkRow, QPoint(40, 20)), "Remove");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !ZMRSource::objectForPrimaryKey(server->url("main/")).has_value(); }));

    tapTab(d.tabBarController(), ZMVostrelle::FeaturedTab);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return account->isOnScreen(); }));
    tapAccountRow("openBackup");
    VostrelleSetupRestorationViewController* restoration = nullptr;
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        return (restoration = qobject_cast<VostrelleSetupRestorationViewController*>(featuredNav->topViewController()));
    }));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return restoration->isOnScreen(); }));
    EXPECT_EQ(restoration->countOfSelectedSources(), 1u);
    shot("restoration.png");
    tapBarButton(restoration, "Restore now");
    auto* ask = presented<UIAlertController>();
    ASSERT_NE(ask, nullptr);
    click(ask->buttonForAction(0));  // "Restore now"
    auto* plainHttp = presented<ErrorViewController>();
    ASSERT_NE(plainHttp, nullptr);
    EXPECT_EQ(plainHttp->titleLbl()->text(), "Warning");
    click(plainHttp->otherBtn());  // "Continue"
    ASSERT_TRUE(GuiTest::waitUntil([&] { return featuredNav->topViewController() == account; }, std::chrono::seconds(60)));
    EXPECT_TRUE(ZMRSource::objectForPrimaryKey(server->url("main/")).has_value());
    EXPECT_TRUE(GuiTest::waitUntil([] { return ZMRPackage::objectForPrimaryKey("com.walk.tweak").has_value(); }, std::chrono::seconds(30)));

    // ---- the credits: a person's developer page
    tapAccountRow("openCredits");
    auto* credits = qobject_cast<CreditsViewController*>(featuredNav->topViewController());
    ASSERT_NE(credits, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return credits->creditsArray().size() == 1; }));
    tapRow(credits->creditsTableView(), {0, 0});
    ASSERT_TRUE(GuiTest::waitUntil([&] { return featuredNav->topViewController() != credits; }));
    auto* developerPage = qobject_cast<DeveloperDetailsViewController*>(featuredNav->topViewController());
    ASSERT_NE(developerPage, nullptr);
    EXPECT_EQ(developerPage->developerProfile().fullName, "ada dev");
    // Followed from there, the developer is in the account's list.
    click(developerPage->followedBtn()->buttonWidget());
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        return developerPage->isFollowed() && ZMRPackageManager::sharedPackageManager().developers().isDeveloperFollowed("ada dev");
    }));
    click(featuredNav->navigationBar()->backButton());
    click(featuredNav->navigationBar()->backButton());
    ASSERT_EQ(featuredNav->topViewController(), account);
    tapAccountRow("openFollowed");
    auto* followed = qobject_cast<FollowedDevelopersViewController*>(featuredNav->topViewController());
    ASSERT_NE(followed, nullptr);
    EXPECT_TRUE(GuiTest::waitUntil([&] { return followed->followedDevelopersTableView()->numberOfRows(0) == 1; }));
    while (featuredNav->viewControllers().size() > 1) click(featuredNav->navigationBar()->backButton());
    ASSERT_EQ(featuredNav->topViewController(), featured);

    // ---- the news: the list, then one item read in full
    click(featured->newsButton());
    auto* news = qobject_cast<NewsViewController*>(featuredNav->topViewController());
    ASSERT_NE(news, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return news->newsArray().size() == 2; }));
    shot("news.png");
    tapRow(news->newsTableView(), {0, 1});
    auto* item = presented<NewsDetailsViewController>();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->titleLbl()->text(), "Backups");
    EXPECT_EQ(item->newsContentLbl()->text(), "Keep your sources and packages in a backup.");
    click(item->findChild<QPushButton*>("closeBtn"));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return top() == d.window()->rootViewController(); }));
    click(featuredNav->navigationBar()->backButton());

    // ---- the directory, from the Sections tab: a source added from it
    auto* sectionsNav = tabNav(ZMVostrelle::SectionsTab);
    tapTab(d.tabBarController(), ZMVostrelle::SectionsTab);
    auto* sections = qobject_cast<CategoriesTableViewController*>(sectionsNav->viewControllers().front());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return sections->defaultPackagesCategories().size() == 5; }));
    tapRow(sections->defaultCategoriesTableView(), {0, 4});
    auto* directory = qobject_cast<OnlineRepositoriesViewController*>(sectionsNav->topViewController());
    ASSERT_NE(directory, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return directory->repositoriesArray().size() == 1; }));
    shot("directory.png");
    tapRow(directory->repositoriesTableView(), {0, 0});
    auto* repoPage = qobject_cast<SearchedRepoViewController*>(sectionsNav->topViewController());
    ASSERT_NE(repoPage, nullptr);
    tapRow(repoPage->addSourceTableView(), {0, 0});  // "Add this source"
    auto* warning = presented<ErrorViewController>();
    ASSERT_NE(warning, nullptr);
    click(warning->otherBtn());  // plain http: "Continue"
    EXPECT_TRUE(GuiTest::waitUntil([] { return ZMRPackage::objectForPrimaryKey("com.walk.extra").has_value(); }, std::chrono::seconds(30)));
}

}  // namespace
