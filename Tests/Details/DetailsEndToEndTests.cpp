// Package pages as a user reaches them in the running program: three loopback
// repositories added through the sources collection and refreshed by the
// pipeline; from the Sections tab's All Packages list the user opens a package
// with a native depiction (banner, description, changelog newest first, five
// screenshots), clicks a screenshot for the gallery, pages it with the keys
// and leaves it with Escape, clicks Get; then a package of a classic
// repository (its scraped page) and one of a repository shown with its
// original depictions (its web page under the header).
#include <QTest>
#include <QTextDocument>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "App/ZMApplication.h"
#include "Browsing/CategoriesTableViewController.h"
#include "Browsing/PackagesTableViewController.h"
#include "Details/DetailsFixture.h"
#include "Details/PackageDetailsViewController.h"
#include "Details/PackageScreenshotsViewController.h"
#include "Details/RemoteWebView.h"
#include "Details/WebDepictionViewController.h"
#include "Depictions/ZMDepictionSettings.h"
#include "Shell/ShellTestSupport.h"
#include "SystemConfiguration/Reachability.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UITabBarController.h"
#include "UIKit/UITextView.h"
#include "WebViewViewController.h"

namespace {

using DetailsFixture::png;

class DetailsEndToEnd : public ShellTest::Fixture {
protected:
    TestSupport::TempDir root, work;
    std::unique_ptr<FlatRepository::FileServer> server;

    void SetUp() override {
        Fixture::SetUp();
        server = std::make_unique<FlatRepository::FileServer>(root.path());
        Reachability::setOverride(Reachability::ReachableViaWiFi);
        ZMRSources::setReachabilityHook([] { return true; });
        prefs().setValue(VostrellePreferenceKey::SetupDone, true);
    }
    void TearDown() override {
        ZMRSources::setReachabilityHook(nullptr);
        Reachability::setOverride(std::nullopt);
        ZMDepictionSettings::set(std::nullopt);
        Fixture::TearDown();
        server.reset();
    }
    std::string url(const std::string& path) const { return server->url(path); }
    void serve(const std::string& path, const std::string& content) {
        std::filesystem::create_directories(std::filesystem::path(root.file(path)).parent_path());
        TestSupport::writeFile(root.file(path), content);
    }
    void publish(const std::string& dir, const FlatRepository::Deb& deb, const std::string& origin) {
        std::filesystem::create_directories(root.file(dir));
        FlatRepository::buildDeb(work.path(), root.file(dir), deb);
        FlatRepository::writeIndexes(root.file(dir), origin);
    }
    static QString text(UITextView* view) { return view->document()->toPlainText(); }

    // All Packages, opened from the Sections tab's first row.
    PackagesTableViewController* openAllPackages(ZMVostrelle& d) {
        d.tabBarController()->setSelectedIndex(ZMVostrelle::SectionsTab);
        auto* nav = dynamic_cast<UINavigationController*>(d.tabBarController()->selectedViewController());
        auto* sections = nav ? dynamic_cast<CategoriesTableViewController*>(nav->viewControllers().front()) : nullptr;
        if (!sections) return nullptr;
        nav->popToRootViewController(false);
        sections->didSelectRow(sections->defaultCategoriesTableView(), {0, 0});
        return dynamic_cast<PackagesTableViewController*>(nav->topViewController());
    }
    // Selects the row of `identifier` and returns the screen it pushed.
    static UIViewController* openRow(PackagesTableViewController* list, const std::string& identifier) {
        const auto& model = list->model();
        for (int s = 0; s < model.numberOfSections(); ++s)
            for (int r = 0; r < model.numberOfRows(s); ++r)
                if (model.identifierAt(s, r) == identifier) {
                    list->didSelectRow(list->packagesTableView(), {s, r});
                    return list->navigationController()->topViewController();
                }
        ADD_FAILURE() << identifier << " is not in the list";
        return nullptr;
    }
};

TEST_F(DetailsEndToEnd, APackageListOpensNativeClassicAndWebPages) {
    // A native depiction: banner, Markdown, five screenshots, a changelog tab.
    serve("native/banner.png", png(1280, 400, QColor("#e0533d")));
    nlohmann::json shots = nlohmann::json::array();
    for (int i = 1; i <= 5; ++i) {
        serve("native/shots/" + std::to_string(i) + ".png", png(1280, 720, QColor::fromHsv(i * 60, 200, 200), QString::number(i)));
        shots.push_back({{"url", url("native/shots/" + std::to_string(i) + ".png")}});
    }
    serve("native/depiction.json",
          nlohmann::json{{"headerImage", url("native/banner.png")},
                         {"tabs",
                          {{{"tabname", "Details"},
                            {"views", {{{"markdown", "**Loop Native** dims the dock."}}, {{"screenshots", shots}}}}},
                           {{"tabname", "Change Log"},
                            {"views",
                             {{{"title", "1.9"}}, {{"markdown", "- older fix"}}, {{"title", "1.10"}}, {{"markdown", "- newest"}}}}}}}}
              .dump());
    publish("native", {"com.loop.native", "1.10", "Name: Loop Native\nSection: Tweaks\nSileoDepiction: " + url("native/depiction.json") + "\n"},
            "Native Repo");

    // A classic repository's information page.
    ZMDepictionSettings settings;
    settings.marlgateSource = url("classic/");
    settings.marlgateSiteName = "Marlgate";
    ZMDepictionSettings::set(settings);
    serve("classic/depictions/page.html",
          "<html><head><title>Scraped Classic - Marlgate - Depiction</title></head><body>"
          "<fieldset id='description'>Description: The scraped description.</fieldset>"
          "<fieldset><label>What's New</label><div>Version 2: scraped changes</div></fieldset></body></html>");
    publish("classic", {"com.loop.classic", "2", "Name: Index Name\nSection: Tweaks\nDepiction: " + url("classic/depictions/page.html") + "\n"},
            "Classic Repo");

    // A repository whose packages open their own web pages.
    server->route("web/depiction.html", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<html><head><title>Web Depiction</title></head><body style='font-family:sans-serif'>"
                        "<h1 style='background:#2050d0;color:#fff;padding:12px'>From the web</h1></body></html>",
                        "text/html");
    });
    publish("web", {"com.loop.web", "3.1", "Name: Loop Web\nSection: Tweaks\nDepiction: " + url("web/depiction.html") + "\n"}, "Web Repo");

    auto& d = ZMVostrelle::sharedVostrelle();
    EXPECT_TRUE(ZMApplication::start({})) << "the launch main() runs";
    ASSERT_TRUE(GuiTest::waitUntil([&] { return d.backgroundLaunchWorkDone(); }, std::chrono::seconds(30)));
    d.window()->resize(430, 1000);
    auto& sources = ZMRPackageManager::sharedPackageManager().sources();
    EXPECT_EQ(sources.addSourceWithLocation(url("native/"), true).status, ZMRAddSourceStatus::Added);
    EXPECT_EQ(sources.addSourceWithLocation(url("classic/"), true).status, ZMRAddSourceStatus::Added);
    EXPECT_EQ(sources.addSourceWithLocation(url("web/"), true, true).status, ZMRAddSourceStatus::Added);
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        return ZMRPackage::objectForPrimaryKey("com.loop.native") && ZMRPackage::objectForPrimaryKey("com.loop.classic") &&
               ZMRPackage::objectForPrimaryKey("com.loop.web") && !sources.isRefreshInProgress();
    }, std::chrono::seconds(60)));

    // The native depiction.
    auto* list = openAllPackages(d);
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return list->isOnScreen() && list->model().numberOfSections() > 0; }));
    auto* page = dynamic_cast<PackageDetailsViewController*>(openRow(list, "com.loop.native"));
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        return page->screenshotsDictionary().size() == 5 && page->changelogSection()->isVisible() &&
               text(page->descriptionLbl()).contains("Loop Native dims the dock.") && page->hasBannerImage();
    }, std::chrono::seconds(20)));
    const QString changelog = text(page->changelogContentLbl());
    EXPECT_TRUE(changelog.startsWith("1.10:") && changelog.indexOf("1.9:") > changelog.indexOf("newest")) << changelog.toStdString();
    EXPECT_EQ(page->screenshotsCollectionView()->numberOfItems(), 5);

    // A click on a screenshot opens the gallery; keys page it, Escape leaves it.
    auto* strip = page->screenshotsCollectionView();
    strip->scrollToItem(1, false);
    QWidget* second = strip->cellForItem(1);
    ASSERT_NE(second, nullptr);
    QTest::mouseClick(second, Qt::LeftButton, {}, second->rect().center());
    auto* galleryNav = dynamic_cast<UINavigationController*>(d.window()->topPresentedViewController());
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        galleryNav = dynamic_cast<UINavigationController*>(d.window()->topPresentedViewController());
        return galleryNav != nullptr;
    }));
    auto* gallery = dynamic_cast<PackageScreenshotsViewController*>(galleryNav->topViewController());
    ASSERT_NE(gallery, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return gallery->screenshotsCollectionView()->numberOfItems() == 5 && gallery->window()->focusWidget() == gallery; }))
        << "the keys go to the gallery";
    QTest::keyClick(gallery, Qt::Key_Right);
    QTest::keyClick(gallery, Qt::Key_Right);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return gallery->screenshotsCollectionView()->currentIndex() == 2; }));
    QTest::keyClick(gallery, Qt::Key_End);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return gallery->screenshotsCollectionView()->currentIndex() == 4; }));
    QWheelEvent wheel(QPointF(50, 50), gallery->mapToGlobal(QPointF(50, 50)), {}, QPoint(0, 120), Qt::NoButton, {},
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(gallery, &wheel);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return gallery->screenshotsCollectionView()->currentIndex() == 3; }))
        << "a wheel notch up turns back one page";
    QTest::keyClick(gallery, Qt::Key_Escape);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return d.window()->topPresentedViewController() != galleryNav; }));

    // Get queues it.
    QTest::mouseClick(page->getBtn(), Qt::LeftButton);
    ASSERT_TRUE(GuiTest::waitUntil([] { return ZMRPackage::objectForPrimaryKey("com.loop.native")->isInTheQueue.value_or(false); }));
    EXPECT_EQ(page->getBtn()->text(), "QUEUED");

    // The classic repository's package shows what its page says.
    list->navigationController()->popViewController(false);
    auto* classic = dynamic_cast<PackageDetailsViewController*>(openRow(list, "com.loop.classic"));
    ASSERT_NE(classic, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        return classic->nameLbl()->text() == "Scraped Classic" && text(classic->descriptionLbl()) == "The scraped description." &&
               classic->changelogSection()->isVisible();
    }, std::chrono::seconds(20)));
    EXPECT_EQ(text(classic->changelogContentLbl()), "Version 2: scraped changes");

    // The original depiction: the web page under the package's header.
    list->navigationController()->popViewController(false);
    auto* web = dynamic_cast<WebDepictionViewController*>(openRow(list, "com.loop.web"));
    ASSERT_NE(web, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return web->webView() && web->webView()->title() == "Web Depiction"; }, std::chrono::seconds(60)))
        << (web->webView() ? web->webView()->url().toString().toStdString() + " / " + web->webView()->title().toStdString() : "no page")
        << " requests " << server->count("web/depiction.html");
    EXPECT_EQ(web->nameLbl()->text(), "Loop Web");
    EXPECT_TRUE(web->nameLbl()->isVisible());
    EXPECT_GE(server->count("web/depiction.html"), 1u);
    // The page's process sends its picture; the screen shows it under the header.
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        const QImage& f = web->webView()->frame();
        return !f.isNull() && QColor(f.pixel(20, 30)).blue() > 150 && QColor(f.pixel(20, 30)).red() < 80;
    }, std::chrono::seconds(20)))
        << "the page's picture did not come";
    GuiTest::pump(std::chrono::milliseconds(200));
    DetailsFixture::saveScreenshot(d.window(), "details-web-depiction-from-launch.png");
}

}  // namespace
