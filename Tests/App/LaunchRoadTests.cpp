// The application as a user starts it (ZMApplication::start, configured by the
// environment only), walked with the mouse and keyboard against the shared
// fake maker server and loopback repositories added from a "vostrelle://add"
// link on the command line:
//   - a package opened from Search, Sections and Featured: each view reaches
//     the server's statistics; the page shows the average rating, the reviews
//     strip and the developer's avatar; "See All" opens the review list; the
//     heart uploads the wishlist, which the Wishlist screen lists;
//   - Search's trending, developer and repository cards from the server; the
//     developer card's page and its maintainer list over "Name <mail>" maintainers;
//   - a source with a store: its "Source Info" segment, and "Purchased" in
//     the bar once signed in on the store's page, the purchases read again at
//     every opening;
//   - a package's own web page keeps the link followed, the text typed and the
//     place scrolled to while another tab is shown; dark mode loads it again;
//   - a configured compatibility list fetched at launch hides what it marks.
// (Leaving a review, voting and replying: ReviewsAndDevelopersRoad.)
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <filesystem>
#include <thread>

#include "App/LaunchFixture.h"
#include "Browsing/AllDevPackagesViewController.h"
#include "Browsing/CategoriesTableViewController.h"
#include "Browsing/FeaturedViewController.h"
#include "Browsing/ManageViewController.h"
#include "Browsing/PackagesTableViewController.h"
#include "Browsing/PackagesWishlistViewController.h"
#include "Browsing/SearchViewController.h"
#include "Browsing/SourceViewController.h"
#include "Browsing/SourcesCell.h"
#include "Browsing/SubcategoriesViewController.h"
#include "Database/ZMRSource.h"
#include "Realm/Realm.h"
#include "Details/AllReviewsViewController.h"
#include "Details/DetailsFixture.h"
#include "Details/DeveloperDetailsViewController.h"
#include "Details/PackageDetailsViewController.h"
#include "Details/PackageOtherPackagesSection.h"
#include "Details/PackageReviewsSection.h"
#include "Details/RemoteWebView.h"
#include "Details/WebDepictionViewController.h"
#include "Online/Screens/AccountPlistViewController.h"
#include "Online/Screens/LoginViewController.h"
#include "Online/Screens/SearchedRepoViewController.h"
#include "Online/Screens/WebPageDriver.h"
#include "Online/Screens/ZMStorePages.h"
#include "SegmentedViewController.h"
#include "SettingsPlistViewController.h"
#include "Services/ZMAccount.h"
#include "Shell/ShellTestSupport.h"
#include "Support/FakeStores.h"
#include "Support/FlatRepository.h"
#include "UIKit/UIAlertController.h"
#include "UIKit/UIScrollView.h"
#include "WebViewViewController.h"
#include "ZMPaletteManager.h"

namespace {

using nlohmann::json;
using namespace UserGesture;

using Launch::stanza;

class LaunchRoad : public Launch::RepositoryFixture {
protected:
    size_t pageViews(const std::string& identifier) const {
        size_t views = 0;
        for (const auto& r : maker->requests("stats/stats.php")) views += r.field("packageID") == identifier;
        return views;
    }
    // A page's online parts, as the fake server gave them.
    static bool showsOnlineParts(PackageDetailsViewController* page) {
        return page->packageRatingLbl()->text() == "4.5" && page->packageReviews().size() == 2 &&
               page->reviewsSection()->reviewsCollectionView()->isVisible() && !page->authorAvatar().isNull() &&
               page->authorAvatar().pixelColor(10, 10) == QColor("#ff9500");
    }
    static std::string describe(PackageDetailsViewController* page) {
        return "rating '" + page->packageRatingLbl()->text().toStdString() + "', " +
               std::to_string(page->packageReviews().size()) + " reviews, strip " +
               (page->reviewsSection()->reviewsCollectionView()->isVisible() ? "shown" : "hidden") + ", avatar " +
               (page->authorAvatar().isNull() ? "none" : page->authorAvatar().pixelColor(10, 10).name().toStdString());
    }
};

TEST_F(LaunchRoad, APackageFromSearchSectionsAndFeaturedShowsItsOnlinePartsAndGoesOnTheWishlist) {
    serveRepository(stanza("com.jane.docklens", "Dock Lens", "Jane Doe") + stanza("com.jane.dockdots", "Dock Dots", "Jane Doe"),
                    "Jane's Repo");
    QImage avatar(96, 96, QImage::Format_RGB32);
    avatar.fill(QColor("#ff9500"));
    avatar.save(QString::fromStdString(repoRoot.file("jane.png")));
    maker->addAccount({.username = "ada", .password = "secret", .userID = 12});
    maker->setAverageRating("com.jane.docklens", 4.5);
    maker->setReviews("com.jane.docklens",
                      json::array({{{"id", "3"}, {"title", "a fine lens"}, {"review", "Does exactly what it says."}, {"rate", 5},
                                    {"username", "erin"}, {"reply", nullptr}, {"upvotes", "5"}, {"downvotes", "0"}},
                                   {{"id", "4"}, {"title", "handy"}, {"review", "Small and quick."}, {"rate", 4},
                                    {"username", "dave"}, {"reply", nullptr}, {"upvotes", "1"}, {"downvotes", "0"}}}));
    maker->setDevelopers(json::array({{{"developer", "Jane Doe"}, {"avatar", server->url("jane.png")}}}));
    maker->setFeatured({{"featuredTop", json::array()},
                        {"featuredMiddle", json::array()},
                        {"mustHaveTweaks", json::array({{{"bundle_id", "com.jane.docklens"}}})},
                        {"mustHaveThemes", json::array()},
                        {"extendApps", json::array()}});
    auto& d = start(addLink());
    ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource("com.jane.dockdots"));

    // Signed in from the account page, as a user does.
    auto* account = accountPage();
    ASSERT_NE(account, nullptr);
    ASSERT_NO_FATAL_FAILURE(tapAccountRow(account, "signInOut"));
    LoginViewController* login = nullptr;
    ASSERT_TRUE(GuiTest::waitUntil([&] { return (login = dynamic_cast<LoginViewController*>(top())) != nullptr; }));
    type(login->userNameTextField(), "ada", false);
    type(login->passwordTextField(), "secret", false);
    click(login->loginBtn());
    ASSERT_TRUE(backAtTheWindow());
    ASSERT_TRUE(GuiTest::waitUntil([] { return ZMAccount::instance().isSignedIn(); }));

    // From Search: the package card's row.
    auto* searchNav = selectTab(ZMVostrelle::SearchTab);
    auto* search = qobject_cast<SearchViewController*>(searchNav->viewControllers().front());
    ASSERT_NE(search, nullptr);
    click(search->searchBar());
    QTest::keyClicks(search->searchBar(), "Dock Lens");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->packages() && !search->packages()->identifiers.empty(); }));
    ASSERT_EQ(search->packages()->identifiers.front(), "com.jane.docklens");
    // The results show once the query's answer has been applied and drawn.
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->packagesTableView()->isVisible() && search->packagesTableView()->numberOfRows(0) > 0; }));
    tapRow(search->packagesTableView(), {0, 0});
    auto* page = qobject_cast<PackageDetailsViewController*>(searchNav->topViewController());
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return showsOnlineParts(page); }, std::chrono::seconds(20))) << describe(page);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return pageViews("com.jane.docklens") == 1; }));
    for (const auto& view : maker->requests("stats/stats.php"))
        if (view.field("packageID") == "com.jane.docklens") {
            EXPECT_EQ(view.field("devName"), "Jane Doe");
            EXPECT_EQ(view.field("repoURL"), repository());
        }
    page->scrollView()->ensureWidgetVisible(page->reviewsSection()->seeAllReviewsBtn());
    screenshot("launch-details-online.png");

    // "See All": every review.
    click(page->reviewsSection()->seeAllReviewsBtn());
    auto* reviews = qobject_cast<AllReviewsViewController*>(searchNav->topViewController());
    ASSERT_NE(reviews, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return reviews->packageReviews().size() == 2; }));
    EXPECT_EQ(reviews->packageReviews().front().reviewID, "4") << "newest first";
    screenshot("launch-review-list.png");

    // From Sections: All Packages and the row.
    page = DetailsFixture::openFromAllPackages(d, "com.jane.docklens");
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return showsOnlineParts(page); }, std::chrono::seconds(20))) << describe(page);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return pageViews("com.jane.docklens") == 2; }));

    // From Featured: the must-have row; its heart puts it on the account's wishlist.
    auto* featured = featuredPage();
    ASSERT_NE(featured, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return featured->lists()[FeaturedModel::MustHaveTweaks].size() == 1; },
                                   std::chrono::seconds(20)));
    tapRow(featured->tableView(FeaturedModel::MustHaveTweaks), {0, 0});
    page = qobject_cast<PackageDetailsViewController*>(featured->navigationController()->topViewController());
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return showsOnlineParts(page); }, std::chrono::seconds(20))) << describe(page);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return pageViews("com.jane.docklens") == 3; }));
    tapBarButton(page, "Add to Wishlist");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return maker->wishlist(12) == std::optional<std::string>("com.jane.docklens"); }))
        << "the upload of the signed-in account";
    EXPECT_TRUE(package("com.jane.docklens")->isInWishlist.value_or(false));

    account = accountPage();
    ASSERT_NE(account, nullptr);
    ASSERT_NO_FATAL_FAILURE(tapAccountRow(account, "openWishlist"));
    auto* wishlist = qobject_cast<PackagesWishlistViewController*>(account->navigationController()->topViewController());
    ASSERT_NE(wishlist, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return wishlist->isOnScreen(); }));
    EXPECT_EQ(wishlist->packages(), std::vector<std::string>{"com.jane.docklens"});
}

TEST_F(LaunchRoad, SearchCardsComeFromTheServerAndADeveloperCardLeadsToTheMaintainersList) {
    // The directory's developer "Jane Doe" publishes under her name alone, and
    // (Debian style) under her name and address.
    serveRepository(stanza("org.jane.dock", "Jane's Dock", "Jane Doe <jane@example.org>") +
                        stanza("org.jane.lens", "Jane's Lens", "Jane Doe <jane@example.org>") +
                        stanza("org.jane.tool", "Jane's Tool", "Jane Doe") + stanza("org.jane.kit", "Jane's Kit", "Jane Doe") +
                        stanza("org.other.tool", "Other Tool", "Jane Does <does@example.org>"),
                    "Jane's Repo");
    QImage icon(64, 64, QImage::Format_RGB32);
    icon.fill(QColor("#34c759"));
    icon.save(QString::fromStdString(repoRoot.file("jane.png")));
    maker->setDevelopers(json::array({{{"developer", "Jane Doe"}, {"about", "Tweaks for the dock."}, {"avatar", server->url("jane.png")}}}));
    maker->setDirectory(json::array({{{"name", "Jane's Repo"}, {"url", repository()}, {"icon", server->url("jane.png")},
                                      {"description", "Jane's tweaks"}, {"maintainer", "Jane Doe"}, {"category", "Tweaks"}}}));
    maker->setTrending(json::array({"dock", "lens"}));
    start(addLink());
    ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource("org.other.tool"));
    ASSERT_TRUE(package("org.jane.kit").has_value());

    auto* nav = selectTab(ZMVostrelle::SearchTab);
    auto* search = qobject_cast<SearchViewController*>(nav->viewControllers().front());
    ASSERT_NE(search, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->trendingTableView()->numberOfRows(0) == 2; }))
        << "trending, asked of the server when the tab appeared";
    EXPECT_EQ(search->searchesTrending(), (std::vector<std::string>{"dock", "lens"}));
    click(search->searchBar());
    QTest::keyClicks(search->searchBar(), "Jane");
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        return search->developersTableView()->numberOfRows(0) == 1 && search->repositoriesTableView()->numberOfRows(0) == 1 &&
               search->developersAvatarDictionary().count("Jane Doe") && search->repositoriesIconsDictionary().size() == 1;
    }, std::chrono::seconds(20)));
    EXPECT_EQ(search->developersArray().front().fullName, "Jane Doe");
    EXPECT_EQ(search->repositoriesArray().front().name, "Jane's Repo");
    screenshot("launch-search-cards.png");
    QTest::keyClick(search->searchBar(), Qt::Key_Return);
    EXPECT_TRUE(GuiTest::waitUntil([&] {
        for (const auto& r : maker->requests("stats/stats.php"))
            if (r.field("searchStat") == "1" && r.field("search") == "Jane") return true;
        return false;
    })) << "the search statistic of the committed search";

    // The developer's card: her page with the packages published under her
    // name, and all of them behind "See All".
    // The user clicks the card once it is drawn (late replies may still lay the cards out again).
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        auto* cell = search->developersTableView()->cellForRow({0, 0});
        return cell && cell->isVisible();
    }));
    tapRow(search->developersTableView(), {0, 0});
    auto* developer = qobject_cast<DeveloperDetailsViewController*>(nav->topViewController());
    ASSERT_NE(developer, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return developer->isOnScreen() && developer->avatarLoaded(); }));
    auto shown = developer->devPackages();
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(shown, (std::vector<std::string>{"org.jane.kit", "org.jane.tool"}));
    click(developer->seeAllPkgByThisDevBtn());
    auto* all = qobject_cast<AllDevPackagesViewController*>(nav->topViewController());
    ASSERT_NE(all, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return all->isOnScreen(); }));
    EXPECT_EQ(all->packages(), (std::vector<std::string>{"org.jane.kit", "org.jane.tool"}));
    ASSERT_NO_FATAL_FAILURE(tapRow(all->devPackagesTableView(), {0, 0}));
    EXPECT_EQ(nav->topViewController(), all->lastPushedViewController()) << "a row opens its package";

    // The repository's card: its page in the directory.
    nav->popToRootViewController(false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->isOnScreen() && search->repositoriesTableView()->numberOfRows(0) == 1; }));
    tapRow(search->repositoriesTableView(), {0, 0});
    auto* repo = qobject_cast<SearchedRepoViewController*>(nav->topViewController());
    ASSERT_NE(repo, nullptr);
    EXPECT_TRUE(GuiTest::waitUntil([&] { return repo->isOnScreen(); }));

    // A package published as "Name <mail>": its page's "See All" lists every
    // package of that maintainer.
    nav->popToRootViewController(false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->isOnScreen(); }));
    search->searchBar()->clear();
    QTest::keyClicks(search->searchBar(), "Jane's Dock");
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        return search->packages() && search->packages()->identifiers == std::vector<std::string>{"org.jane.dock"};
    }));
    tapRow(search->packagesTableView(), {0, 0});
    auto* page = qobject_cast<PackageDetailsViewController*>(nav->topViewController());
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->devPackages() == std::vector<std::string>{"org.jane.lens"}; }));
    page->scrollView()->ensureWidgetVisible(page->otherPackagesSection()->seeAllDevPackagesBtn());
    click(page->otherPackagesSection()->seeAllDevPackagesBtn());
    auto* maintainers = qobject_cast<AllDevPackagesViewController*>(nav->topViewController());
    ASSERT_NE(maintainers, nullptr);
    EXPECT_EQ(maintainers->title(), "Jane Doe's Packages");
    EXPECT_EQ(maintainers->packages(), (std::vector<std::string>{"org.jane.dock", "org.jane.lens"}));
}

TEST_F(LaunchRoad, ASourceWithAStoreShowsItsButtonsAndReadsItsPurchasesOnceSignedIn) {
    std::filesystem::create_directories(repoRoot.path() + "/repo");
    TestSupport::writeFile(repoRoot.file("repo/free.html"), "<html><body><h1>Free Tweak</h1></body></html>");
    serveRepository(stanza("com.paid.tweak", "Paid Tweak", "Store Maker <maker@example.org>", "Price: $1.99\n") +
                        stanza("com.paid.free", "Free Tweak", "Store Maker <maker@example.org>", "Depiction: DEPICTION\n"),
                    "Paid Repo");
    FlatRepository::writeIndexesForText(
        repoRoot.path() + "/repo",
        stanza("com.paid.tweak", "Paid Tweak", "Store Maker <maker@example.org>", "Price: $1.99\n") +
            stanza("com.paid.free", "Free Tweak", "Store Maker <maker@example.org>", "Depiction: " + server->url("repo/free.html") + "\n"),
        "Paid Repo");
    FakeStores::PaymentAPI store(*server, repoRoot.path() + "/repo");
    store.update([](FakeStores::PaymentAPI::State& s) { s.purchased = {"com.paid.tweak"}; });
    // The store answers at the repository's own address (its payment_endpoint file).
    server->route("repo/payment_endpoint", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(store.endpoint(), "text/plain");
    });
    auto& d = start(addLink());
    ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource("com.paid.free"));
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        auto source = ZMRSource::objectForPrimaryKey(repository());
        return source && source->endpoint == store.endpoint();
    }, std::chrono::seconds(30)));

    // Room for the segments and the source screen's two buttons side by side.
    d.window()->resize(600, 900);
    auto* nav = selectTab(ZMVostrelle::ManageTab);

    // Signed out: no "Purchased", no purchases asked.
    auto* packages = openTheSource();
    ASSERT_NE(packages, nullptr);
    auto* segmented = nav->topViewController();
    EXPECT_EQ(barButton(segmented, "Purchased"), nullptr);
    EXPECT_EQ(server->count("pay/user_info"), 0u);

    // The "Source Info" segment shows the source page, whose Login signs in on the store's own page.
    auto* info = openSourceInfo(packages);
    ASSERT_NE(info, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return info->repoStoreLogInOutButton->isVisible(); }, std::chrono::seconds(20)));
    click(info->repoStoreLogInOutButton);
    QPointer<WebViewViewController> storePage;
    ASSERT_TRUE(GuiTest::waitUntil([&] { return (storePage = ZMStorePages::shared().pageScreen(ZMStorePages::shared().lastPage())); },
                                   std::chrono::seconds(30)));
    ASSERT_TRUE(WebPageDriver::waitForElement(storePage->page(), "password"));
    WebPageDriver::run(storePage->page(), "document.getElementById('user').value = 'jane';"
                                    "document.getElementById('password').value = 'secret';"
                                    "document.getElementById('signin').click();");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return info->repoStoreLogInOutButton->text() == "Logout"; }, std::chrono::seconds(60)));
    ASSERT_NO_FATAL_FAILURE(showOriginalDepictions(info));

    // Opened again, signed in: "Purchased" too, and the purchases read again.
    const size_t before = server->count("pay/user_info");
    packages = openTheSource();
    ASSERT_NE(packages, nullptr);
    segmented = nav->topViewController();
    ASSERT_NE(barButton(segmented, "Purchased"), nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return server->count("pay/user_info") > before; }));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return package("com.paid.tweak")->isPaidThroughSileo.value_or(false); }));
    screenshot("launch-source-store.png");
    // The free package opens its own web page.
    auto* web = qobject_cast<WebDepictionViewController*>(openPackage(packages, "com.paid.free"));
    ASSERT_NE(web, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return server->count("repo/free.html") >= 1; }, std::chrono::seconds(30)));
    nav->popViewController(false);
    ASSERT_EQ(nav->topViewController(), segmented);

    tapBarButton(segmented, "Purchased");
    auto* purchased = qobject_cast<PackagesTableViewController*>(nav->topViewController());
    ASSERT_NE(purchased, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return purchased->model().numberOfSections() == 1; }));
    EXPECT_EQ(purchased->model().identifierAt(0, 0), std::optional<std::string>("com.paid.tweak"));
    EXPECT_EQ(purchased->model().numberOfRows(0), 1);
}

// A source's screen, opened from Manage: its categories with the four kinds
// folded into groups under "All Packages", its packages by first letter; a
// group unfolds at a click; a refresh (F5) while it is shown brings what the
// repository serves now.
TEST_F(LaunchRoad, ASourceScreenShowsItsGroupsAndFollowsARefresh) {
    const auto index = [](bool second) {
        std::string text = stanza("com.jane.apple", "Apple", "Jane Doe", "", "Tweaks") +
                           stanza("com.jane.alpha", "Alpha", "Jane Doe", "", "Tweaks (SpringBoard)") +
                           stanza("com.jane.slate", "Slate", "Jane Doe", "", "Themes") +
                           stanza("com.jane.files", "Files", "Jane Doe", "", "Utilities");
        if (!second) return text + stanza("com.jane.beta", "Beta", "Jane Doe", "", "Utilities");
        return text + stanza("com.jane.clock", "Clock", "Jane Doe", "", "Widgets");
    };
    serveRepository(index(false), "Jane's Repo");
    auto& d = start(addLink());
    ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource("com.jane.beta"));
    auto* screen = openTheSource();
    ASSERT_NE(screen, nullptr);
    using Rows = std::vector<std::string>;
    const auto letters = [screen] { return screen->packageSections().sections(); };
    ASSERT_TRUE(GuiTest::waitUntil([&] { return letters() == Rows{"A", "B", "F", "S"}; })) << letters().size();
    EXPECT_EQ(screen->subcategoriesArray(), (Rows{"All Packages", "Themes   ", "Tweaks   ", "Utilities"}));
    EXPECT_EQ(screen->packageSections().sectionsDictionary().at("A"), (Rows{"com.jane.alpha", "com.jane.apple"}));
    auto* table = screen->subcategoriesAndPackagesTableView();
    tapRow(table, {0, 2});
    EXPECT_EQ(screen->subcategoriesArray(),
              (Rows{"All Packages", "Themes   ", "Tweaks   ", "Tweaks", "Tweaks (SpringBoard)", "Utilities"}));

    // The repository changes; F5 refreshes while the screen is shown.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // a new Last-Modified second
    serveRepository(index(true), "Jane's Repo");
    QTest::keyClick(d.window(), Qt::Key_F5);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return letters() == Rows{"A", "C", "F", "S"}; }, std::chrono::seconds(60)))
        << letters().size();
    EXPECT_EQ(screen->subcategoriesArray(), (Rows{"All Packages", "Themes   ", "Tweaks   ", "Utilities", "Widgets   "}));
    EXPECT_EQ(screen->packageSections().sectionsDictionary().at("C"), Rows{"com.jane.clock"});
    EXPECT_EQ(table->numberOfSections(), 5);
    EXPECT_TRUE(screen->navigationController()->topViewController()->isOnScreen());
    screenshot("launch-source-screen.png");
}

// A package's own web page keeps what the user did in it (a link followed, a
// field typed into, the place scrolled to) while another tab is shown, with
// its process; only a switch between light and dark loads it again.
TEST_F(LaunchRoad, AWebDepictionKeepsItsPageWhileAwayAndLoadsAgainOnlyForDarkMode) {
    std::filesystem::create_directories(repoRoot.path() + "/repo");
    server = std::make_unique<FlatRepository::FileServer>(repoRoot.path());
    auto page = [&](const std::string& path, const std::string& html) {
        server->route(path, [html](const httplib::Request&, httplib::Response& res) { res.set_content(html, "text/html"); });
    };
    page("repo/page.html", "<html><body style='margin:0'><a href='next.html' style='display:block;height:80px;background:#2050d0'>Next</a>"
                           "<p style='height:2000px'>The depiction</p></body></html>");
    page("repo/next.html", "<html><body style='margin:0'><input id='field' style='display:block;margin:20px;height:30px;background:#ffe000'>"
                           "<div style='height:1200px'></div><h2>Further in</h2><p style='height:3000px'>Kept while away</p></body></html>");
    serveRepository(stanza("com.web.kept", "Kept Page", "Page Maker <maker@example.org>",
                           "Depiction: " + server->url("repo/page.html") + "\n"),
                    "Web Repo");
    auto& d = start(addLink());
    ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource("com.web.kept"));
    d.window()->resize(600, 900);
    auto* packages = openTheSourceShowingOriginalDepictions();
    ASSERT_NE(packages, nullptr);
    auto* web = qobject_cast<WebDepictionViewController*>(openPackage(packages, "com.web.kept"));
    ASSERT_NE(web, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return web->webView() != nullptr; }, std::chrono::seconds(30)));
    RemoteWebView* view = web->webView();
    // What the screen shows of the page at this point (the page's top in view).
    auto shows = [&](QPoint at, const char* color) {
        const QImage& f = view->frame();
        const QPoint pixel = at * f.devicePixelRatio();
        return view->frameScrollY() == 0 && f.rect().contains(pixel) && QColor(f.pixel(pixel)) == QColor(color);
    };

    // A link in the page, a word in its field, the screen scrolled into it.
    ASSERT_TRUE(GuiTest::waitUntil([&] { return shows({30, 40}, "#2050d0"); }, std::chrono::seconds(60))) << "no link shown";
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(30, 40));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return shows({40, 35}, "#ffe000"); }, std::chrono::seconds(20)))
        << "the link was not followed: " << view->url().toString().toStdString();
    EXPECT_TRUE(view->url().toString().endsWith("next.html")) << view->url().toString().toStdString();
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(40, 35));
    QTest::keyClicks(view, "kept");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return DetailsFixture::evaluate(view, "document.getElementById('field').value") == "kept"; }));
    QScrollBar* bar = web->scrollView()->verticalScrollBar();
    const int pageTop = view->mapTo(web->scrollView()->widget(), QPoint(0, 0)).y();
    bar->setValue(pageTop + 1200);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return view->frameScrollY() == 1200; }));
    const size_t depictionRequests = server->count("repo/page.html"), nextRequests = server->count("repo/next.html");
    const qint64 process = view->hostProcessId();
    int loads = 0;
    QObject scope;  // the page may finish a load after this test, when `loads` is gone
    QObject::connect(view, &RemoteWebView::loadFinished, &scope, [&loads] { ++loads; });

    // Another tab for longer than a moment, then back.
    auto* nav = packages->navigationController();
    selectTab(ZMVostrelle::SearchTab);
    GuiTest::pump(std::chrono::seconds(4));
    ASSERT_EQ(selectTab(ZMVostrelle::ManageTab), nav);
    ASSERT_EQ(nav->topViewController(), web);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return web->isOnScreen(); }));
    GuiTest::pump(std::chrono::milliseconds(500));
    EXPECT_EQ(view->hostProcessId(), process) << "the page's process was replaced";
    EXPECT_TRUE(view->url().toString().endsWith("next.html")) << view->url().toString().toStdString();
    EXPECT_EQ(DetailsFixture::evaluate(view, "document.getElementById('field').value"), "kept");
    EXPECT_EQ(DetailsFixture::evaluate(view, "window.scrollY"), "1200");
    EXPECT_EQ(bar->value(), pageTop + 1200);
    EXPECT_EQ(loads, 0);
    EXPECT_EQ(server->count("repo/page.html"), depictionRequests);
    EXPECT_EQ(server->count("repo/next.html"), nextRequests);
    screenshot("launch-web-depiction-kept.png");

    // Dark in Settings: the depiction is asked for again, as a dark page.
    const size_t lightRequests = server->count("repo/page.html");
    auto* account = accountPage();
    ASSERT_NE(account, nullptr);
    tapAccountRow(account, "openSettings");
    auto* settings = qobject_cast<SettingsPlistViewController*>(account->navigationController()->topViewController());
    ASSERT_NE(settings, nullptr);
    tapRow(settings->tableView(), *settings->indexPathForKey("Theme"));
    auto* sheet = dynamic_cast<UIAlertController*>(settings->presentedViewController());
    ASSERT_NE(sheet, nullptr);
    click(sheet->buttonForAction(ZMPalette::PureBlack));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return server->count("repo/page.html") > lightRequests; }, std::chrono::seconds(20)));
    const auto requests = server->requests();
    auto last = std::find_if(requests.rbegin(), requests.rend(), [](const auto& r) { return r.path.ends_with("repo/page.html"); });
    ASSERT_NE(last, requests.rend());
    EXPECT_EQ(last->headers.count("Dark"), 1u) << "the page is asked for dark";
    selectTab(ZMVostrelle::ManageTab);
    EXPECT_TRUE(GuiTest::waitUntil([&] { return loads > 0 && view->url().toString().endsWith("page.html"); }, std::chrono::seconds(20)));
    ZMPaletteManager::sharedManager().setStyle(ZMPalette::Light);
}

// A user who last saw an older version: the change log comes up once, over
// the window, and not at the next launch.
TEST_F(LaunchRoad, AnUpdatedVersionShowsItsChangeLogOnceAtLaunch) {
    for (int launch = 0; launch < 2; ++launch) {
        if (launch == 0) {
            VostrellePersistentPreferences::sharedInstance().setValue(VostrellePreferenceKey::WelcomeScreenVersion, std::string("1.0"));
            ASSERT_TRUE(VostrellePersistentPreferences::sharedInstance().saveToFile());
        }
        VostrellePersistentPreferences::resetForTesting();
        ZMVostrelle::resetForTesting();
        start();
        if (launch == 1) {
            GuiTest::pump(std::chrono::milliseconds(200));
            EXPECT_EQ(top(), app().window()->rootViewController()) << "shown once only";
            break;
        }
        UINavigationController* nav = nullptr;
        ASSERT_TRUE(GuiTest::waitUntil([&] { return (nav = dynamic_cast<UINavigationController*>(top())) != nullptr; }));
        auto* changelog = qobject_cast<ChangelogViewController*>(nav->topViewController());
        ASSERT_NE(changelog, nullptr);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return changelog->isOnScreen(); }));
        tapBarButton(changelog, "Close");
        ASSERT_TRUE(backAtTheWindow());
        EXPECT_EQ(VostrellePersistentPreferences::sharedInstance().stringForKey(VostrellePreferenceKey::WelcomeScreenVersion),
                  std::optional<std::string>(VOSTRELLE_VERSION));
        ASSERT_TRUE(VostrellePersistentPreferences::sharedInstance().saveToFile());
    }
}

TEST_F(LaunchRoad, AConfiguredCompatibilityListIsFetchedAtLaunchAndHidesWhatItMarks) {
    // Records from an earlier session, and a list naming one as broken on this system.
    {
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] {
            for (const char* id : {"com.test.works", "com.test.broken"}) {
                ZMRPackage p;
                p.identifier = id;
                p.name = id;
                p.version = "1.0";
                p.category = "Tweaks";
                realm->addOrUpdate(p);
            }
        });
    }
    serveRepository("", "Lists");
    TestSupport::writeFile(repoRoot.file("compat.json"),
                           json::array({{{"identifier", "com.test.broken"}, {"version", "*"}, {"firmware", "12"}, {"status", 1}},
                                        {{"identifier", "com.test.works"}, {"version", "1.0"}, {"firmware", "12"}, {"status", 0}}})
                               .dump());
    setVariable("VOSTRELLE_COMPAT_URL", server->url("compat.json"));
    setVariable("VOSTRELLE_FIRMWARE_VERSION", "12.4");
    auto& d = start();
    ASSERT_TRUE(GuiTest::waitUntil([] { return package("com.test.broken")->tweakCompatibleStatus == std::optional<int64_t>(1); },
                                   std::chrono::seconds(20)));
    EXPECT_EQ(package("com.test.works")->tweakCompatibleStatus, std::optional<int64_t>(0));
    EXPECT_EQ(server->count("compat.json"), 1u);

    // Sections, All Packages: the broken one is left out.
    UserGesture::tapTab(d.tabBarController(), ZMVostrelle::SectionsTab);
    auto* nav = qobject_cast<UINavigationController*>(d.tabBarController()->selectedViewController());
    auto* sections = qobject_cast<CategoriesTableViewController*>(nav->topViewController());
    ASSERT_NE(sections, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return sections->defaultCategoriesTableView()->numberOfRows(0) > 0; },
                                   std::chrono::seconds(20)));
    tapRow(sections->defaultCategoriesTableView(), {0, 0});
    auto* list = qobject_cast<PackagesTableViewController*>(nav->topViewController());
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return list->model().numberOfSections() > 0; }));
    std::vector<std::string> listed;
    for (int s = 0; s < list->model().numberOfSections(); ++s)
        for (int r = 0; r < list->model().numberOfRows(s); ++r) listed.push_back(list->model().identifierAt(s, r).value_or(""));
    EXPECT_EQ(listed, std::vector<std::string>{"com.test.works"});
}

}  // namespace
