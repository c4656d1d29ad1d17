// The package details page over a loopback host: a native depiction reached
// from a repository's package list (banner, description, changelog, five
// screenshots, the gallery, Get), reopening from the cache, a classic
// repository's page, the depiction choice, a failed screenshot pass, and a
// page closed while it loads.
#include <gtest/gtest.h>

#include <QDir>
#include <QImageReader>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <nlohmann/json.hpp>
#include <zlib.h>

#include "Browsing/PackagesTableViewController.h"
#include "Database/ZMCategorySpecial.h"
#include "Database/ZMRSources.h"
#include "Details/DetailsFixture.h"
#include "Details/PackageScreenshotsViewController.h"
#include "Details/ScreenshotsCell.h"
#include "App/ZMDetailsScreensSetup.h"
#include "Details/ZMScreenshotQtCodec.h"
#include "Miscellaneous/ZMPlatform.h"
#include "Miscellaneous/ZMShareTexts.h"
#include "ZMURLRouter.h"
#include "UIKit/UITextView.h"

namespace {

using DetailsFixture::png;

class DetailsPageTest : public DetailsFixture::Host {
protected:
    // A package of a classic repository whose information page is `page` on the host.
    ZMRPackage classicPackage(const std::string& identifier, const std::string& page) {
        ZMDepictionSettings settings;
        settings.marlgateSource = url("repofiles/cydia/");
        settings.marlgateSiteName = "Marlgate";
        ZMDepictionSettings::set(settings);
        storeSource(settings.marlgateSource);
        ZMRPackage p;
        p.identifier = identifier;
        p.name = "Index Name";
        p.version = "2";
        p.Description = "Index description";
        p.sourceLocation = settings.marlgateSource;
        p.website = url(page);
        storePackage(p);
        return p;
    }
    // A native depiction with a banner, Markdown, five screenshots and a changelog tab.
    std::string nativeDepiction(const std::string& dir) {
        serve(dir + "/banner.png", png(1280, 400, QColor("#e0533d")));
        nlohmann::json shots = nlohmann::json::array();
        const char* colors[] = {"#34c759", "#007aff", "#ff9500", "#af52de", "#5856d6"};
        for (int i = 1; i <= 5; ++i) {
            serve(dir + "/shots/" + std::to_string(i) + ".png", png(1280, 720, QColor(colors[i - 1]), QString::number(i)));
            shots.push_back({{"url", url(dir + "/shots/" + std::to_string(i) + ".png")}});
        }
        nlohmann::json doc = {
            {"headerImage", url(dir + "/banner.png")},
            {"tabs",
             {{{"tabname", "Details"},
               {"views",
                {{{"markdown", "**Loop Native** dims the dock. See https://example.org/native\n\nIf 1 < 2, &lt;b&gt;this&lt;/b&gt; "
                               "shows as typed.\n\n- one\n- two"}},
                 {{"screenshots", shots}}}}},
              {{"tabname", "Change Log"},
               {"views",
                {{{"title", "1.9"}}, {{"markdown", "- older fix: 1 < 2, &lt;i&gt; shown"}}, {{"title", "1.10"}}, {{"markdown", "- newest"}}}}}}},
        };
        serve(dir + "/depiction.json", doc.dump());
        return url(dir + "/depiction.json");
    }
    static QString text(UITextView* view) { return view->document()->toPlainText(); }
};

TEST_F(DetailsPageTest, NativeDepictionFromAPackageListThenFromTheCache) {
    TestSupport::TempDir work;
    const std::string depiction = nativeDepiction("native");
    FlatRepository::Deb deb;
    deb.name = "com.loop.native";
    deb.version = "1.10";
    deb.extraControl = "Name: Loop Native\nSection: Tweaks\nSileoDepiction: " + depiction + "\n";
    FlatRepository::buildDeb(work.path(), root.path(), deb);
    FlatRepository::writeIndexes(root.path(), "Loopback Repo");
    preferences().setValue(VostrellePreferenceKey::SetupDone, true);
    ZMRPackageManager::sharedPackageManager().sources().addSourceWithLocation(url(""), true);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return ZMRPackage::objectForPrimaryKey("com.loop.native").has_value(); },
                                   std::chrono::seconds(30)));

    auto* list = new PackagesTableViewController;
    list->setCategory(kCategorySpecial_Search);
    list->setSearch("Loop");
    show(list);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return list->model().numberOfSections() == 1; }));
    list->didSelectRow(list->packagesTableView(), {0, 0});
    auto* page = dynamic_cast<PackageDetailsViewController*>(nav->topViewController());
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        return page->screenshotsDictionary().size() == 5 && page->changelogSection()->isVisible() &&
               text(page->descriptionLbl()).contains("Loop Native dims the dock") && !page->bannerImageView()->pixmap().isNull() &&
               page->bannerImageView()->pixmap().toImage().pixelColor(10, 10) == QColor("#e0533d");
    }, std::chrono::seconds(20)));
    GuiTest::pump(std::chrono::milliseconds(200));
    EXPECT_TRUE(page->bannerImageView()->isVisible());
    const QString changelog = text(page->changelogContentLbl());
    EXPECT_TRUE(changelog.startsWith("1.10:") && changelog.indexOf("\u2022 newest") < changelog.indexOf("1.9:") &&
                changelog.endsWith("\u2022 older fix: 1 < 2, <i> shown"))
        << changelog.toStdString();
    EXPECT_TRUE(text(page->descriptionLbl()).contains("\u2022 one\n\u2022 two"));
    EXPECT_TRUE(text(page->descriptionLbl()).contains("If 1 < 2, <b>this</b> shows as typed.")) << text(page->descriptionLbl()).toStdString();
    EXPECT_TRUE(page->screenshotsCollectionView()->isVisible());
    EXPECT_FALSE(page->screenshotsLbl()->isVisible());
    EXPECT_EQ(page->screenshotsCollectionView()->numberOfItems(), 5);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return ZMRPackage::objectForPrimaryKey("com.loop.native")->screenshotsLocalPaths.size() == 5; }));
    EXPECT_EQ(ZMRPackage::objectForPrimaryKey("com.loop.native")->screenshots.size(), 5u);
    EXPECT_TRUE(page->isScreenshotTimerRunning());
    window->resize(420, 1300);
    GuiTest::pump(std::chrono::milliseconds(150));
    DetailsFixture::saveScreenshot(window.get(), "details-native.png");
    window->resize(420, 900);

    // A tap on the strip opens the gallery with every screenshot.
    page->didSelectItem(page->screenshotsCollectionView(), 2);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return window->topPresentedViewController() != nav; }));
    auto* galleryNav = dynamic_cast<UINavigationController*>(window->topPresentedViewController());
    ASSERT_NE(galleryNav, nullptr);
    auto* gallery = dynamic_cast<PackageScreenshotsViewController*>(galleryNav->topViewController());
    ASSERT_NE(gallery, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return gallery->screenshotsCollectionView()->numberOfItems() == 5; }));
    GuiTest::pump(std::chrono::milliseconds(150));
    DetailsFixture::saveScreenshot(window.get(), "details-gallery.png");
    gallery->dismissVC();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return window->topPresentedViewController() == nav; }));

    // Get queues it.
    page->getBtn()->click();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return ZMRPackage::objectForPrimaryKey("com.loop.native")->isInTheQueue.value_or(false); }));
    EXPECT_EQ(page->getBtn()->text(), "QUEUED");

    // A second opening shows the cached screenshots, downloads none, and still
    // shows the depiction's description.
    const size_t downloads = server->count("shots/1.png");
    nav->popViewController(false);
    list->didSelectRow(list->packagesTableView(), {0, 0});
    auto* again = dynamic_cast<PackageDetailsViewController*>(nav->topViewController());
    ASSERT_NE(again, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        return again->screenshotsDictionary().size() == 5 && text(again->descriptionLbl()).contains("dims the dock");
    }, std::chrono::seconds(10)));
    EXPECT_EQ(server->count("shots/1.png"), downloads);
}

TEST_F(DetailsPageTest, ClassicRepositoryPageGivesNameDescriptionChangelogAndScreenshots) {
    serve("depictions/a.png", png(640, 1136, QColor("#ff2d55"), "A"));
    serve("depictions/b.png", png(640, 1136, QColor("#5ac8fa"), "B"));
    std::string seenID;
    server->route("depictions/classic.php", [&](const httplib::Request& r, httplib::Response& res) {
        seenID = r.get_header_value("X-Unique-ID") + "|" + r.get_header_value("User-Agent");
        res.set_content("<html><head><title>Scraped Name - Marlgate - Depiction</title></head><body>"
                        "<fieldset id='description'>Description: The scraped description."
                        "<img src='a.png'><img src='b.png'></fieldset>"
                        "<fieldset><label>What's New</label><div>Version 2: scraped changes</div></fieldset></body></html>",
                        "text/html");
    });
    const ZMRPackage p = classicPackage("com.classic.pkg", "depictions/classic.php?id=1");

    auto* page = openDetails(p.identifier);
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        return page->nameLbl()->text() == "Scraped Name" && page->screenshotsDictionary().size() == 2 &&
               page->changelogSection()->isVisible() && text(page->descriptionLbl()) == "The scraped description.";
    }, std::chrono::seconds(15)));
    EXPECT_EQ(text(page->changelogContentLbl()), "Version 2: scraped changes");
    EXPECT_EQ(page->changelogVersionLbl()->text(), "2");
    EXPECT_EQ(seenID, ZMPlatform::deviceUDID() + "|Telesphoreo APT-HTTP/1.0.592");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return ZMRPackage::objectForPrimaryKey(p.identifier)->screenshotsLocalPaths.size() == 2; }));
    EXPECT_EQ(ZMRPackage::objectForPrimaryKey(p.identifier)->screenshots,
              (std::vector<std::string>{url("depictions/a.png"), url("depictions/b.png")}));
    window->resize(420, 1100);
    GuiTest::pump(std::chrono::milliseconds(200));
    DetailsFixture::saveScreenshot(window.get(), "details-classic.png");
}

// A page the parser cannot take within its budget (formatting reopened in
// every paragraph): its text is the description, shown as plain text (the
// asterisks stay), and nothing else is read from it.
TEST_F(DetailsPageTest, AClassicPagePastItsBudgetShowsItsTextAsPlainText) {
    std::string page = "<html><head><title>Scraped Name - Marlgate - Depiction</title></head><body><p>";
    for (int k = 0; k < 64; ++k) page += "<b id=" + std::to_string(k) + ">";
    page += "</p><fieldset id='description'><p>Description:</p>";
    for (int i = 0; i < 6000; ++i) page += "<p>*kiwi" + std::to_string(i) + "*</p>";
    page += "</fieldset></body></html>";
    serve("depictions/heavy.php", page);
    const ZMRPackage p = classicPackage("com.classic.heavy", "depictions/heavy.php");

    auto* details = openDetails(p.identifier);
    // All of it shows, or (where a step of its layout passes the limit on a
    // slow machine) it shows cut and its link opens the whole text.
    auto reachable = [&] {
        const QString whole = details->descriptionLbl()->wholeText();
        return whole.isEmpty() ? text(details->descriptionLbl()) : whole;
    };
    ASSERT_TRUE(GuiTest::waitUntil([&] { return reachable().contains("*kiwi5999*"); }, std::chrono::seconds(30)));
    const QString shown = reachable();
    for (int i : {0, 2999, 5999}) EXPECT_TRUE(shown.contains(QString("*kiwi%1*").arg(i))) << i;
    EXPECT_EQ(details->nameLbl()->text(), "Index Name");
}

TEST_F(DetailsPageTest, DepictionChoiceFollowsInfoFilesPreferenceReachAndNativeFirst) {
    ZMDepictionSettings settings;
    settings.kestrumSource = url("repo/cydia/");
    ZMDepictionSettings::set(settings);
    serve("choice/native.json", R"({"tabs": [{"tabname": "Details", "views": [{"markdown": "From the native depiction"}]}]})");
    serve("choice/page.html", "<div><p>From the page</p></div>");
    struct Case {
        bool infoJson, preference;
        Reachability::NetworkStatus reach;
        bool native;
        const char* expected;  // what was fetched: "native", "page" or ""
    };
    const Case cases[] = {
        {true, true, Reachability::ReachableViaWiFi, true, ""},
        {false, false, Reachability::NotReachable, true, ""},
        {false, false, Reachability::ReachableViaWWAN, true, "native"},
        {false, true, Reachability::NotReachable, false, "page"},
        {false, false, Reachability::ReachableViaWiFi, false, "page"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(n);
        const std::string location = settings.kestrumSource;
        storeSource(location, c.infoJson);
        preferences().setValue(VostrellePreferenceKey::GetCydiaPackageInfoFromDepiction, c.preference);
        Reachability::setOverride(c.reach);
        ZMRPackage p;
        p.identifier = "com.choice.pkg" + std::to_string(n++);
        p.name = "Choice";
        p.Description = "From the index";
        p.sourceLocation = location;
        p.website = url("choice/page.html");
        if (c.native) p.sileoDepiction = url("choice/native.json");
        storePackage(p);
        server->clearRequests();
        auto* page = openDetails(p.identifier);
        const QString expected = c.expected == std::string("native") ? "From the native depiction"
                                 : c.expected == std::string("page") ? "From the page"
                                                                     : "From the index";
        ASSERT_TRUE(GuiTest::waitUntil([&] { return text(page->descriptionLbl()) == expected; }));
        GuiTest::pump(std::chrono::milliseconds(200));
        EXPECT_EQ(server->count("native.json"), c.expected == std::string("native") ? 1u : 0u);
        EXPECT_EQ(server->count("page.html"), c.expected == std::string("page") ? 1u : 0u);
        window.reset();
    }
}

// The record keeps the synopsis; the page shows the whole description of the
// source's stored index, unless the source gives its own (information files).
TEST_F(DetailsPageTest, APackageWithoutDepictionShowsItsWholeDescriptionFromTheStoredIndex) {
    FlatRepository::writeIndexesForText(root.file("index"),
                                        "Package: com.index.other\nVersion: 1\nArchitecture: all\nDescription: Other\n other text\n\n"
                                        "Package: com.index.whole\nVersion: 1.0\nArchitecture: all\nName: Whole\n"
                                        "Description: Whole tool\n old text\n\n"
                                        "Package: com.index.whole\nVersion: 2.0\nArchitecture: all\nName: Whole\n"
                                        "Description: Whole tool\n It does\n everything.\n .\n   verbatim line\n");
    const std::string location = url("index/");
    preferences().setValue(VostrellePreferenceKey::SetupDone, true);
    ZMRPackageManager::sharedPackageManager().sources().addSourceWithLocation(location, true);
    ASSERT_TRUE(GuiTest::waitUntil([] {
        auto p = ZMRPackage::objectForPrimaryKey("com.index.whole");
        return p && p->version == "2.0" && !ZMRPackageManager::sharedPackageManager().sources().isRefreshInProgress();
    }, std::chrono::seconds(30)));
    // A record the index does not list: only its synopsis is known.
    ZMRPackage absent = *ZMRPackage::objectForPrimaryKey("com.index.whole");
    absent.identifier = "com.index.absent";
    storePackage(absent);
    struct Case {
        const char* identifier;
        bool infoJson;  // a flag of sources stored by earlier versions; no refresh sets it
        const char* shown;
    } const cases[] = {
        {"com.index.whole", false, "Whole tool\n\nIt does everything.\n\n  verbatim line"},
        {"com.index.absent", false, "Whole tool"},
        {"com.index.whole", true, "Whole tool"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.identifier) + (c.infoJson ? " info files" : ""));
        auto source = *ZMRSource::objectForPrimaryKey(location);
        realm->transactionWithBlock([&] { realm->setValueForKey(source, "isUsingInfoJson", c.infoJson); });
        auto* page = openDetails(c.identifier);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return text(page->descriptionLbl()) == c.shown; }))
            << text(page->descriptionLbl()).toStdString();
        GuiTest::pump(std::chrono::milliseconds(200));
        EXPECT_EQ(text(page->descriptionLbl()), c.shown);
        window.reset();
    }
    // The database holds no more than the synopsis the refresh gave it.
    EXPECT_EQ(ZMRPackage::objectForPrimaryKey("com.index.whole")->Description, "Whole tool");
}

TEST_F(DetailsPageTest, FailedScreenshotsShowTheErrorAndAskTheDepictionOnce) {
    storeSource(url("info/"), true);
    ZMRPackage p;
    p.identifier = "com.failing.shots";
    p.name = "Failing";
    p.sourceLocation = url("info/");
    p.screenshots = {url("missing/1.png"), url("missing/2.png")};
    storePackage(p);
    auto* page = openDetails(p.identifier);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->screenshotRetrievingFail(); }));
    GuiTest::pump(std::chrono::milliseconds(300));
    EXPECT_EQ(page->depictionChoiceCount(), 2);
    EXPECT_TRUE(page->screenshotsLbl()->isVisible());
    EXPECT_EQ(page->screenshotsLbl()->text(), "There was an error retrieving screenshots for \"Failing\"");
    EXPECT_EQ(ZMRPackage::objectForPrimaryKey(p.identifier)->screenshots, p.screenshots);
    EXPECT_FALSE(page->isScreenshotTimerRunning());
}

TEST_F(DetailsPageTest, EmptyWhatsNewAndScreenshotBlocksTakeNoRoom) {
    std::atomic<bool> release{false};
    server->route("gated/depiction.json", [&](const httplib::Request&, httplib::Response& res) {
        for (int i = 0; i < 2000 && !release; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        res.set_content(nlohmann::json{{"tabs",
                                        {{{"tabname", "Details"}, {"views", {{{"screenshots", {{{"url", url("gated/1.png")}}}}}}}},
                                         {{"tabname", "Change Log"}, {"views", {{{"markdown", " "}}}}}}}}
                            .dump(),
                        "application/json");
    });
    serve("gated/1.png", png(640, 360, QColor("#34c759")));
    ZMRPackage p;
    p.identifier = "com.gated.pkg";
    p.name = "Gated";
    p.sileoDepiction = url("gated/depiction.json");
    storePackage(p);
    auto* page = openDetails(p.identifier);
    // While the depiction is on its way the strip has nothing to show: no block, no gap.
    GuiTest::pump(std::chrono::milliseconds(300));
    EXPECT_FALSE(page->screenshotsSection()->isVisible()) << "an empty screenshot strip took room";
    EXPECT_FALSE(page->changelogSection()->isVisible());
    release = true;
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->screenshotsDictionary().size() == 1; }, std::chrono::seconds(20)));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->screenshotsSection()->isVisible(); }));
    EXPECT_TRUE(page->screenshotsCollectionView()->isVisible());
    // A changelog tab without a word: no "What's New" block.
    EXPECT_FALSE(page->changelogSection()->isVisible());
}

TEST_F(DetailsPageTest, APageClosedWhileLoadingTakesNothingMore) {
    std::atomic<int> answered{0};
    server->route("slow/depiction.json", [&](const httplib::Request&, httplib::Response& res) {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        res.set_content(R"({"tabs": [{"tabname": "D", "views": [{"screenshots": [{"url": ")" + url("slow/1.png") + R"("}]}]}]})",
                        "application/json");
        ++answered;
    });
    server->route("slow/1.png", [&](const httplib::Request&, httplib::Response& res) {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        res.set_content(png(64, 64, Qt::red), "image/png");
        ++answered;
    });
    ZMRPackage p;
    p.identifier = "com.slow.pkg";
    p.name = "Slow";
    p.sileoDepiction = url("slow/depiction.json");
    p.screenshots = {url("slow/1.png")};
    storePackage(p);
    auto* list = new PackagesTableViewController;
    list->setCategory(kCategorySpecial_AllPackages);
    show(list);
    QPointer<PackageDetailsViewController> page = new PackageDetailsViewController;
    page->setPackageIdentifier(p.identifier);
    nav->pushViewController(page, false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->isOnScreen(); }));
    nav->popViewController(false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page.isNull(); }));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return answered >= 2; }));
    GuiTest::pump(std::chrono::milliseconds(500));
    EXPECT_TRUE(ZMRPackage::objectForPrimaryKey(p.identifier)->screenshotsLocalPaths.empty());
}

class FakeServices : public ZMDetailsServices {
public:
    bool signedIn = false;
    std::optional<PurchaseInfo> answer;
    int purchaseRequests = 0, statistics = 0;
    void postPackageStatistic(const std::string&, const std::string&, const std::string&, const std::string&, int, int) override {
        ++statistics;
    }
    bool userIsAuthenticatedForStoreLocation(const std::string&) override { return signedIn; }
    void purchaseInfoForPackage(const std::string&, std::function<void(std::optional<PurchaseInfo>)> done) override {
        ++purchaseRequests;
        done(answer);
    }
};

TEST_F(DetailsPageTest, GetTitlesAndTheStoresPurchaseInformation) {
    using Info = ZMDetailsServices::PurchaseInfo;
    struct Case {
        bool installed, updated, held;
        const char* price;
        bool signedIn;
        std::optional<Info> answer;
        const char* title;
        double alpha;
        int requests;
    };
    const Case cases[] = {
        {false, false, false, "0.00", true, Info{"$9", false, true}, "GET", 1.0, 0},
        {false, false, false, "$1.99", false, std::nullopt, "$1.99", 1.0, 0},
        {true, true, false, "", false, std::nullopt, "UPDATE", 1.0, 0},
        {true, true, true, "", false, std::nullopt, "UNINSTALL", 1.0, 0},
        {false, false, false, "$1.99", true, Info{"$2.49", false, true}, "$2.49", 1.0, 1},
        {false, false, false, "$1.99", true, Info{"$2.49", false, false}, "UNAVAILABLE", 0.5, 1},
        {false, false, false, "$1.99", true, std::nullopt, "$1.99", 1.0, 1},
    };
    storeSource("https://store.example/");
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(n);
        auto services = std::make_shared<FakeServices>();
        services->signedIn = c.signedIn;
        services->answer = c.answer;
        ZMDetailsServices::install(services);
        ZMRPackage p;
        p.identifier = "com.get.pkg" + std::to_string(n++);
        p.name = "Get";
        p.sourceLocation = "https://store.example/";
        p.price = c.price;
        p.isInstalled = c.installed;
        p.isUpdated = c.updated;
        p.isHeld = c.held;
        storePackage(p);
        auto* page = openDetails(p.identifier);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return page->getBtn()->text() == c.title; })) << page->getBtn()->text().toStdString();
        EXPECT_EQ(page->getBarBtn()->text(), c.title);
        EXPECT_EQ(page->buttonAlpha(), c.alpha);
        EXPECT_EQ(page->getBtn()->isEnabled(), c.alpha == 1.0);
        EXPECT_EQ(services->purchaseRequests, c.requests);
        EXPECT_EQ(services->statistics, 1);
        window.reset();
    }
    ZMDetailsServices::install(nullptr);
}

TEST_F(DetailsPageTest, AShowLinkPresentsThePageWithClose) {
    ZMRPackage p;
    p.identifier = "com.linked.pkg";
    p.name = "Linked";
    storePackage(p);
    auto* list = new PackagesTableViewController;
    list->setCategory(kCategorySpecial_AllPackages);
    show(list);
    ZMDetailsScreensSetup::install();
    auto hooks = ZMURLRouter::hooks();
    hooks.presenter = [&] { return window->topPresentedViewController(); };
    ZMURLRouter::setHooks(hooks);
    ASSERT_TRUE(ZMURLRouter::openURL(ZMShareTexts::showPackageLink(p.identifier, p.name, "https://repo.example/")));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return window->topPresentedViewController() != nav; }));
    auto* presented = dynamic_cast<UINavigationController*>(window->topPresentedViewController());
    ASSERT_NE(presented, nullptr);
    auto* page = dynamic_cast<PackageDetailsViewController*>(presented->topViewController());
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->packageIdentifier(), p.identifier);
    auto* close = page->navigationItem()->leftBarButtonItem();
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->title(), "Close");
    close->trigger();
    EXPECT_TRUE(GuiTest::waitUntil([&] { return window->topPresentedViewController() == nav; }));
    ZMURLRouter::setHooks({});
}

TEST_F(DetailsPageTest, ChangelogPagesAndImagesThatFail) {
    // A changelog page that fails leaves what the depiction showed; one that answers shows.
    serve("pages/depiction.json", nlohmann::json{{"tabs", {{{"tabname", "Details"}, {"views", {{{"markdown", "From the depiction"}},
        {{"title", "Changelog"}, {"action", url("pages/missing.html")}}, {{"title", "Changelog"}, {"action", url("pages/log.html")}}}}}}}}.dump());
    serve("pages/log.html", "<section class='main-content'><ul><li>Page changes</li></ul></section>");
    server->route("pages/missing.html", [](const httplib::Request&, httplib::Response& res) { res.status = 500; });
    ZMRPackage p;
    p.identifier = "com.pages.pkg";
    p.name = "Pages";
    p.Description = "From the index";
    p.sileoDepiction = url("pages/depiction.json");
    storePackage(p);
    auto* page = openDetails(p.identifier);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->changelogSection()->isVisible() && server->count("missing.html") == 1; }));
    GuiTest::pump(std::chrono::milliseconds(200));
    EXPECT_TRUE(page->changelogSection()->isVisible());
    EXPECT_EQ(text(page->changelogContentLbl()), "Page changes");
    EXPECT_EQ(text(page->descriptionLbl()), "From the depiction");

    // Images: a decoder refuses more than 40 megapixels from the header alone, and what is no image.
    auto chunk = [](const QByteArray& type, const QByteArray& data) {
        const QByteArray body = type + data;
        auto be32 = [](quint32 v) { return QByteArray::fromHex(QByteArray::number(v, 16).rightJustified(8, '0')); };
        return be32(static_cast<quint32>(data.size())) + body +
               be32(static_cast<quint32>(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), static_cast<uInt>(body.size()))));
    };
    const QByteArray huge = QByteArray("\x89PNG\r\n\x1a\n", 8) +
                            chunk("IHDR", QByteArray::fromHex("0000ea600000ea600802000000")) +  // 60000 x 60000 RGB
                            chunk("IDAT", qCompress(QByteArray(64, '\0')).mid(4)) + chunk("IEND", {});
    QByteArray headerBytes = huge;
    QBuffer header(&headerBytes);
    header.open(QIODevice::ReadOnly);
    ASSERT_EQ(QImageReader(&header).size(), QSize(60000, 60000));
    EXPECT_TRUE(ZMScreenshotQtCodec::decodeImage(huge.toStdString()).isNull());
    EXPECT_TRUE(ZMScreenshotQtCodec::decodeImage("<html>not found</html>").isNull());
    EXPECT_EQ(ZMScreenshotQtCodec::decodeImage(png(64, 32, Qt::red)).size(), QSize(64, 32));
}

TEST_F(DetailsPageTest, MarkdownLinksThatShowTheirAddressAreNotUnderlined) {
    std::unique_ptr<QTextDocument> doc(PackageDetailsViewController::attributedTextFromMarkdown(
        "See https://example.org/a and [the site](https://example.org/b).\n\n# Heading", false, false));
    const QString plain = doc->toPlainText();
    EXPECT_TRUE(plain.startsWith("See https://example.org/a and the site.\n") && plain.endsWith("\nHeading"))
        << plain.toStdString();
    auto underlinedAt = [&](const QString& what) {
        QTextCursor c(doc.get());
        c.setPosition(static_cast<int>(plain.indexOf(what)) + 1);
        return c.charFormat().fontUnderline();
    };
    EXPECT_FALSE(underlinedAt("https://example.org/a"));
    EXPECT_TRUE(underlinedAt("the site"));
    EXPECT_TRUE(std::unique_ptr<QTextDocument>(PackageDetailsViewController::attributedTextFromMarkdown("", true, false))->isEmpty());
}

}  // namespace
