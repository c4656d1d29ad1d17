// The featured page against the fake maker server: the carousel with
// several numbers of banners, the banner cache, hostile feeds and servers, opening
// packages (long press, "Add Source"), rebuilds after a refresh, the
// featured package page from a banner's menu, and the first-run flow and
// change log on appearing.
#include <QBuffer>
#include <QMenu>
#include <filesystem>
#include <thread>

#include "App/ZMApplication.h"
#include "Browsing/BigFeaturedCell.h"
#include "Browsing/FeaturedModel.h"
#include "Browsing/FeaturedPackageViewController.h"
#include "Browsing/FeaturedViewController.h"
#include "Details/PackageDetailsViewController.h"
#include "GetPackageCell.h"
#include "InitViewController.h"
#include "Miscellaneous/ZMPaths.h"
#include "Online/Screens/OnlineImages.h"
#include "Online/Screens/OnlineScreensFixture.h"
#include "SettingsPlistViewController.h"
#include "ZMPaletteManager.h"

namespace {

using nlohmann::json;

json banner(const std::string& id, const std::string& background, const std::string& repo = "https://repo.example") {
    return {{"bundle_id", id}, {"title", "Title " + id}, {"developer", "Dev"}, {"description", "About " + id},
            {"logo", ""},      {"background", background}, {"repo", repo}};
}

std::string jpegBytes(QColor colour) {
    QImage image(64, 64, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return bytes.toStdString();
}

class FeaturedTest : public OnlineScreensTest::Fixture {
protected:
    TestSupport::TempDir files;
    std::unique_ptr<FlatRepository::FileServer> images;
    FeaturedViewController* page = nullptr;
    UINavigationController* nav = nullptr;

    void SetUp() override {
        Fixture::SetUp();
        images = std::make_unique<FlatRepository::FileServer>(files.path());
        ZMPaths::createDirectories(ZMPaths::subdirectory("HomeCache"));
        std::vector<ZMRPackage> packages;
        for (int i = 0; i < 8; ++i) packages.push_back(ShellTest::makePackage("com.f." + std::to_string(i), "Pkg " + std::to_string(i)));
        store(packages);
        storeSource("https://repo.example/", "Example Repo");
    }
    void TearDown() override {
        FeaturedViewController::setLaunchScreensEnabled(false);
        Fixture::TearDown();
    }
    // A new page showing the feed, once the feed has been put on it.
    void open(const json& feed) {
        maker->setFeatured(feed);
        page = new FeaturedViewController;
        nav = show(page);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return page->contentDisplayCount() >= 1; }));
    }
    // The page goes and comes back, as when a pushed screen is popped.
    void reappear() {
        static_cast<UIViewController*>(page)->viewWillAppear(false);
        static_cast<UIViewController*>(page)->viewDidAppear(false);
    }
    json bannersFeed(int count) {
        json top = json::array();
        for (int i = 0; i < count; ++i) top.push_back(banner("com.f." + std::to_string(i), images->url("b.jpg")));
        return {{"featuredTop", top}, {"featuredMiddle", json::array({{{"bundle_id", "com.f.1"}}, {{"bundle_id", "gone"}}})}};
    }
};

// Only a feed of exactly five banners advances by itself: 1, 2, 3, 4, 0, 1...
TEST_F(FeaturedTest, TheCarouselAdvancesOnlyWithFiveBannersAndWraps) {
    for (int count : {0, 1, 4, 5, 6}) {
        SCOPED_TRACE(count);
        open(bannersFeed(count));
        EXPECT_EQ(page->topFeaturedCollectionView()->numberOfItems(), count);
        EXPECT_EQ(page->isCarouselTimerRunning(), count == 5);
        std::vector<size_t> shown;
        for (int tick = 0; tick <= count; ++tick) {
            page->autoScrollFeaturedCollectionView();
            shown.push_back(page->featuredCollectionViewPage());
        }
        std::vector<size_t> expected;
        for (int tick = 1; tick <= count + 1; ++tick) expected.push_back(count == 5 ? tick % count : 0);
        EXPECT_EQ(shown, expected);
        // Only packages the database knows are listed: "gone" is dropped.
        EXPECT_EQ(page->lists()[FeaturedModel::Middle], std::vector<std::string>{"com.f.1"});
        window.reset();
    }
}

TEST_F(FeaturedTest, BannersComeFromTheCacheWithoutARequestOrAreDownloadedOnceAndCachedAsPNG) {
    TestSupport::writeFile(files.file("new.jpg"), jpegBytes(Qt::red));
    const std::string cachedURL = images->url("cached.jpg");
    QImage cached(32, 32, QImage::Format_RGB32);
    cached.fill(Qt::green);
    ASSERT_TRUE(cached.save(QString::fromStdString(*FeaturedModel::homeCachePath(cachedURL)), "PNG"));
    open({{"featuredTop", {banner("com.f.0", cachedURL), banner("com.f.1", images->url("new.jpg"))}}});

    EXPECT_EQ(page->bannerImage(0).pixelColor(5, 5), QColor(Qt::green));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->bannerImage(1).pixelColor(5, 5).red() > 200; }));
    EXPECT_EQ(page->bannerCell(1)->bannerImage().pixelColor(5, 5).red(), page->bannerImage(1).pixelColor(5, 5).red());
    EXPECT_EQ(images->count("cached.jpg"), 0u);
    EXPECT_EQ(images->count("new.jpg"), 1u);
    // The JPEG is kept as PNG under the URL with "/" as "_".
    const std::string path = *FeaturedModel::homeCachePath(images->url("new.jpg"));
    std::string name = images->url("new.jpg");
    std::replace(name.begin(), name.end(), '/', '_');
    EXPECT_EQ(path, ZMPaths::subdirectory("HomeCache") + "/" + name);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return std::filesystem::exists(path); }));
    EXPECT_EQ(TestSupport::readFile(path).substr(0, 4), "\x89PNG");

    // Names the file system would misread are not cache names.
    for (const std::string& url : std::vector<std::string>{".", "..", std::string(256, 'a')}) EXPECT_FALSE(FeaturedModel::homeCacheFileName(url));
}

TEST_F(FeaturedTest, HostileFeedsAndServersShowTextLiterallyReadNoFilesAndNeverBlock) {
    // Wrong types, markup in texts, file: and javascript: addresses, a 20 MB banner.
    images->route("huge.jpg", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(20 * 1024 * 1024, 'x'), "image/jpeg");
    });
    json evil = banner("com.f.0", "file:///etc/passwd");
    evil["title"] = "<b>Bold</b><script>alert(1)</script>";
    evil["logo"] = "javascript:alert(1)";
    json typed = banner("com.f.1", images->url("huge.jpg"));
    typed["developer"] = json::array({1, 2});
    typed["repo"] = 42;
    open({{"featuredTop", {evil, typed, "not an object"}}, {"featuredMiddle", "not a list"}});
    ASSERT_EQ(page->banners().size(), 2u);
    auto* cell = page->bannerCell(0);
    EXPECT_EQ(cell->nameLbl()->textFormat(), Qt::PlainText);
    EXPECT_EQ(cell->nameLbl()->text(), "<b>Bold</b><script>alert(1)</script>");
    EXPECT_TRUE(page->banners()[0].background.empty());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return images->count("huge.jpg") == 1; }));
    GuiTest::pump(std::chrono::milliseconds(300));
    // The placeholder stays and nothing is cached for either.
    EXPECT_EQ(page->bannerImage(1).size(), OnlineImages::named("default-banner.jpeg").size());
    EXPECT_TRUE(std::filesystem::is_empty(ZMPaths::subdirectory("HomeCache")));
    window.reset();

    // A silent server: the page comes up empty and the main loop keeps running;
    // the feed that arrives after the page has gone changes nothing.
    maker->setBehaviour("featured/featured.php", {.hold = true});
    page = new FeaturedViewController;
    show(page);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return maker->heldRequests("featured/featured.php").size() == 1; }));
    int ticks = 0;
    QTimer::singleShot(10, [&] { ++ticks; });
    GuiTest::pump(std::chrono::milliseconds(50));
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(page->contentDisplayCount(), 0);
    window.reset();
    maker->releaseHeld("featured/featured.php");
    GuiTest::pump(std::chrono::milliseconds(200));
}

TEST_F(FeaturedTest, BannersFindTheirSourceAndUnknownPackagesOfferTheNormalAddSource) {
    open({{"featuredTop",
           {banner("com.f.0", "", "https://repo.example"), banner("com.unknown.http", "", "http://plain.example/"),
            banner("com.unknown.https", "", "https://secure.example")}}});
    EXPECT_EQ(page->bannerCell(0)->maintainerSourceLbl()->text(), "Dev - Example Repo");
    EXPECT_EQ(page->bannerCell(0)->descriptionLbl()->text(), "A package used by the tests.");
    EXPECT_EQ(page->bannerCell(1)->descriptionLbl()->text(), "Loading description");
    EXPECT_EQ(page->bannerCell(1)->maintainerSourceLbl()->text(), "http://plain.example/");

    page->didSelectItem(page->topFeaturedCollectionView(), 1);
    auto* alert = presented<UIAlertController>();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->alertTitle(), "Add Source");
    EXPECT_EQ(alert->message(), "Before you can install Title com.unknown.http, you need to add the http://plain.example/ "
                                "source. Would you like to add it now");
    alert->performAction(0);
    // Plain http asks first, as everywhere else; nothing is added yet.
    auto* warning = presented<ErrorViewController>();
    ASSERT_NE(warning, nullptr);
    EXPECT_EQ(warning->titleLbl()->text(), "Warning");
    EXPECT_FALSE(ZMRSource::objectForPrimaryKey("http://plain.example/"));
    dismissTop();

    page->didSelectItem(page->topFeaturedCollectionView(), 2);
    presented<UIAlertController>()->performAction(0);
    EXPECT_TRUE(GuiTest::waitUntil([] { return ZMRSource::objectForPrimaryKey("https://secure.example/").has_value(); }));
}

TEST_F(FeaturedTest, OnlyALongPressReleasedOnItsCardOpensThePackageOnce) {
    open(bannersFeed(5));
    EXPECT_TRUE(page->isCarouselTimerRunning());
    BigFeaturedCell* cell = page->bannerCell(0);
    const QPoint centre = cell->rect().center();
    using F = OnlineScreensTest::Fixture;
    F::press(cell, centre, QEvent::MouseButtonPress, Qt::LeftButton);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return cell->isPressed(); }));
    EXPECT_DOUBLE_EQ(cell->pressScale(), BigFeaturedCell::kPressedScale);
    F::press(cell, centre, QEvent::MouseButtonRelease, Qt::NoButton);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return nav->viewControllers().size() == 2; }));
    GuiTest::pump(std::chrono::milliseconds(100));
    EXPECT_EQ(nav->viewControllers().size(), 2u);  // once, not also as a click
    auto* details = qobject_cast<PackageDetailsViewController*>(nav->topViewController());
    ASSERT_NE(details, nullptr);
    EXPECT_EQ(details->packageIdentifier(), "com.f.0");
    EXPECT_FALSE(page->isCarouselTimerRunning());  // the press stopped it
    nav->popViewController(false);

    // A press that becomes a drag of the carousel only springs back.
    cell = page->bannerCell(1);
    F::press(cell, centre, QEvent::MouseButtonPress, Qt::LeftButton);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return cell->isPressed(); }));
    F::press(cell, centre + QPoint(-60, 0), QEvent::MouseMove, Qt::LeftButton);
    F::press(cell, centre + QPoint(-60, 0), QEvent::MouseButtonRelease, Qt::NoButton);
    GuiTest::pump(std::chrono::milliseconds(200));
    EXPECT_FALSE(cell->isPressed());
    EXPECT_DOUBLE_EQ(cell->pressScale(), 1.0);
    EXPECT_EQ(nav->viewControllers().size(), 1u);
}

// The page is drawn again while a banner is held: the press carries on (the
// card stays pressed) and its release opens the package once, whether the
// redraw comes before the long press begins or after.
TEST_F(FeaturedTest, APressHeldOnABannerOutlivesTheRedrawsOfThePage) {
    FeaturedViewController::setLaunchScreensEnabled(false);  // appearing again presents nothing
    open(bannersFeed(2));
    auto& palettes = ZMPaletteManager::sharedManager();
    const struct {
        const char* what;
        std::function<void()> redraw;
    } cases[] = {
        // The page's scroll bar comes or goes as its lists fill or empty.
        {"a new width", [&] { window->resize(window->width() + 8, window->height()); }},
        // The same path as the application coming to the front, as a click on it does.
        {"another palette", [&] { palettes.setStyle(palettes.activeStyle() == 0 ? 1 : 0); }},
        {"the page appearing again", [&] { reappear(); }},
    };
    using F = OnlineScreensTest::Fixture;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BigFeaturedCell* cell = page->bannerCell(0);
        ASSERT_NE(cell, nullptr);
        F::press(cell, cell->rect().center(), QEvent::MouseButtonPress, Qt::LeftButton);
        c.redraw();
        const bool held = GuiTest::waitUntil([&] { return page->bannerCell(0) && page->bannerCell(0)->isPressed(); });
        EXPECT_TRUE(held) << "the press was lost";
        if (held) {
            c.redraw();
            GuiTest::pump(std::chrono::milliseconds(50));
            EXPECT_TRUE(page->bannerCell(0)->isPressed()) << "the press was lost after it began";
        }
        cell = page->bannerCell(0);
        F::press(cell, cell->rect().center(), QEvent::MouseButtonRelease, Qt::NoButton);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return nav->viewControllers().size() == 2; }));
        GuiTest::pump(std::chrono::milliseconds(100));
        EXPECT_EQ(nav->viewControllers().size(), 2u);  // once
        auto* details = qobject_cast<PackageDetailsViewController*>(nav->topViewController());
        ASSERT_NE(details, nullptr);
        EXPECT_EQ(details->packageIdentifier(), "com.f.0");
        nav->popViewController(false);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return !page->bannerCell(0)->isPressed(); }));
    }
}

TEST_F(FeaturedTest, ABannerMenuPresentsItsFeaturedPageWithTheEntryAndBanner) {
    TestSupport::writeFile(files.file("b.jpg"), jpegBytes(Qt::blue));
    open(bannersFeed(2));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->bannerImage(1).pixelColor(5, 5).blue() > 200; }));
    QMenu* menu = page->showBannerMenu(1, QPoint(10, 10));
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->text(), "Featured Page");
    menu->actions()[0]->trigger();
    auto* featured = presented<FeaturedPackageViewController>();
    ASSERT_NE(featured, nullptr);
    EXPECT_EQ(featured->package().bundle_id, "com.f.1");
    EXPECT_EQ(featured->nameLbl()->text(), "Title com.f.1");
    EXPECT_EQ(featured->getBtn()->text(), "GET");
}

// A loopback repository whose refresh replaces a listed package by another:
// the list keeps its count and its table still follows.
TEST_F(FeaturedTest, ARefreshThatSwapsAListedPackageReloadsItsTable) {
    TestSupport::TempDir repoRoot, work;
    const std::string dir = repoRoot.path() + "/repo";
    std::filesystem::create_directories(dir);
    FlatRepository::buildDeb(work.path(), dir, {"com.loop.first", "1.0", "Name: First\n"});
    FlatRepository::writeIndexes(dir);
    FlatRepository::FileServer server(repoRoot.path());
    prefs().setValue(VostrellePreferenceKey::SetupDone, true);
    auto& sources = ZMRPackageManager::sharedPackageManager().sources();
    ZMApplication::applicationDidFinishLaunching();  // the refresh task of the pipeline
    ASSERT_EQ(sources.addSourceWithLocation(server.url("repo/"), true).status, ZMRAddSourceStatus::Added);
    ASSERT_TRUE(GuiTest::waitUntil([] { return ZMRPackage::objectForPrimaryKey("com.loop.first").has_value(); },
                                   std::chrono::seconds(30)));
    open({{"mustHaveTweaks", {{{"bundle_id", "com.loop.first"}}, {{"bundle_id", "com.loop.second"}}}}});
    auto* table = page->tableView(FeaturedModel::MustHaveTweaks);
    // A first display may come before the feed does.
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->lists()[FeaturedModel::MustHaveTweaks] == std::vector<std::string>{"com.loop.first"}; }))
        << ::testing::PrintToString(page->lists()[FeaturedModel::MustHaveTweaks]);

    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    FlatRepository::buildDeb(work.path(), dir, {"com.loop.second", "1.0", "Name: Second\n"});
    FlatRepository::writeIndexes(dir);
    const int before = page->rebuildCount();
    ASSERT_TRUE(sources.refreshSource(server.url("repo/")));
    // A rebuild still due from the first refresh may come first: wait for the one that has the new package.
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        return page->rebuildCount() > before &&
               page->lists()[FeaturedModel::MustHaveTweaks] == std::vector<std::string>{"com.loop.second"};
    }, std::chrono::seconds(30))) << ::testing::PrintToString(page->lists()[FeaturedModel::MustHaveTweaks]);
    auto* row = qobject_cast<GetPackageCell*>(table->cellForRow({0, 0}));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->nameLbl()->text(), "Second");
}

TEST_F(FeaturedTest, AppearingRunsTheFirstRunFlowOnceUntilSetupAndTheChangelogOncePerVersion) {
    FeaturedViewController::setLaunchScreensEnabled(true);
    page = new FeaturedViewController;
    window = std::make_unique<UIWindow>();
    window->setRootViewController(new UINavigationController(page));
    window->show();
    auto* welcome = presented<InitViewController>();
    ASSERT_NE(welcome, nullptr);
    EXPECT_EQ(prefs().stringForKey("welcomeScreenVersion"), std::optional<std::string>(VOSTRELLE_VERSION));
    // Appearing again while the flow is up presents no second one.
    reappear();
    ZMVostrelle::sharedVostrelle().presentFirstRunIfNeeded();
    EXPECT_EQ(top(), welcome);
    EXPECT_EQ(welcome->presentedViewController(), nullptr);
    // The flow ends: the page appears again and presents nothing more.
    prefs().setValue("setupDone", true);
    dismissTop();
    EXPECT_TRUE(GuiTest::waitUntil([&] { return page->isOnScreen(); }));
    EXPECT_EQ(top(), window->rootViewController());

    // An older version seen: the change log, once.
    prefs().setValue("welcomeScreenVersion", std::string("4.9"));
    reappear();
    auto* changelogNav = presented<UINavigationController>();
    ASSERT_NE(changelogNav, nullptr);
    EXPECT_NE(dynamic_cast<ChangelogViewController*>(changelogNav->topViewController()), nullptr);
    dismissTop();
    reappear();
    EXPECT_EQ(top(), window->rootViewController());
}

}  // namespace
