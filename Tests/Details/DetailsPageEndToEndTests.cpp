// The package details page as a user reaches it in the launched application:
// from a package list, a package of a loopback repository with a native
// depiction (banner, Markdown, five screenshots, a changelog tab), its
// information rows and the maker's reviews (fake maker server); queued from
// the header and installed through the queue screens with the real apt-get
// and dpkg into a sandbox root; reopened, its installed files (dpkg's own
// list, read by the status scan) and the developer's contact card.
#include <QDir>
#include <QScrollBar>
#include <QTest>
#include <filesystem>

#include "App/ZMApplication.h"
#include "Browsing/PackagesTableViewController.h"
#include "Database/ZMCategorySpecial.h"
#include "Details/ContactDeveloperViewController.h"
#include "Details/DetailsFixture.h"
#include "Details/InstalledFilesViewController.h"
#include "Details/PackageDetailsHeader.h"
#include "Details/PackageDeveloperCard.h"
#include "Details/PackageHeaderScrolling.h"
#include "Details/PackageInformationSection.h"
#include "Details/PackageReviewsSection.h"
#include "Details/PackageScreenshotsViewController.h"
#include "PackageCell.h"
#include "PackagesConfirmationViewController.h"
#include "Shell/ShellTestSupport.h"
#include "Support/FakeMakerAPI.h"
#include "Support/FlatRepository.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIScrollView.h"
#include "UIKit/UITabBarController.h"
#include "UIKit/UITextView.h"
#include "ZMPipelineManager.h"

namespace {

using DetailsFixture::png;
using nlohmann::json;

class DetailsPageRoad : public ShellTest::Fixture {
protected:
    TestSupport::TempDir repoRoot, work;
    std::unique_ptr<FlatRepository::FileServer> server;
    std::unique_ptr<FakeMakerAPI> maker;
    std::atomic<bool> online{false};

    void SetUp() override {
        Fixture::SetUp();
        FakeMakerAPI::setWaitFunction(GuiTest::waitUntil);
        server = std::make_unique<FlatRepository::FileServer>(repoRoot.path());
        const std::string dir = repoRoot.path() + "/repo";
        std::filesystem::create_directories(dir + "/depiction/shots");
        auto serve = [&](const std::string& path, const std::string& content) { TestSupport::writeFile(dir + "/" + path, content); };
        serve("depiction/banner.png", png(1280, 400, QColor("#2f7cf6")));
        json shots = json::array();
        const char* colors[] = {"#34c759", "#007aff", "#ff9500", "#af52de", "#5856d6"};
        for (int i = 1; i <= 5; ++i) {
            const std::string path = "depiction/shots/" + std::to_string(i) + ".png";
            serve(path, png(640, 1136, QColor(colors[i - 1]), QString::number(i)));
            shots.push_back({{"url", server->url("repo/" + path)}});
        }
        json depiction = {
            {"headerImage", server->url("repo/depiction/banner.png")},
            {"tabs",
             {{{"tabname", "Details"},
               {"views", {{{"markdown", "**Dock Lens** magnifies the dock.\n\n- smooth\n- light"}}, {{"screenshots", shots}}}}},
              {{"tabname", "Change Log"}, {"views", {{{"title", "2.0"}}, {{"markdown", "- the lens follows the pointer"}}}}}}},
        };
        serve("depiction/depiction.json", depiction.dump());
        FlatRepository::Deb deb;
        deb.name = "com.jane.docklens";
        deb.version = "2.0";
        deb.maintainer = "Jane Doe";
        deb.extraControl = "Name: Dock Lens\nSection: Tweaks\nSileoDepiction: " + server->url("repo/depiction/depiction.json") + "\n";
        FlatRepository::buildDeb(work.path(), dir, deb);
        FlatRepository::buildDeb(work.path(), dir, {"com.jane.dockdots", "1.0", "Name: Dock Dots\nSection: Tweaks\n", "", "all", "", "Jane Doe"});
        FlatRepository::writeIndexes(dir, "Jane's Repo");

        maker = std::make_unique<FakeMakerAPI>();
        maker->setAverageRating("com.jane.docklens", 4.5);
        maker->setReviews("com.jane.docklens",
                          json::array({{{"id", "3"}, {"title", "a fine lens"}, {"review", "Does exactly what it says."}, {"rate", 4},
                                        {"username", "erin"}, {"reply", nullptr}, {"upvotes", "5"}, {"downvotes", "0"}}}));
        maker->setDevelopers(json::array({{{"developer", "Jane Doe"}, {"avatar", server->url("repo/jane.png")}}}));
        serve("jane.png", png(96, 96, QColor("#ff9500")));
        prefs().setValue(VostrellePreferenceKey::SetupDone, true);
        ZMRSources::setReachabilityHook([this] { return online.load(); });
    }
    void TearDown() override {
        GuiTest::waitUntil([] { return ZMPipelineManager::sharedManager().liveTaskCount() == 0; }, std::chrono::seconds(30));
        ZMRSources::setReachabilityHook(nullptr);
        maker.reset();
        Fixture::TearDown();
    }
    bool installedInSandbox(const std::string& package) const {
        const std::string text = TestSupport::readFile(env.targetRoot() + "/var/lib/dpkg/status");
        auto at = text.find("Package: " + package + "\n");
        if (at == std::string::npos) return false;
        return text.substr(at, text.find("\n\n", at) - at).find("Status: install ok installed") != std::string::npos;
    }
    static void screenshot(ZMVostrelle& d, const char* name) {
        GuiTest::pump(std::chrono::milliseconds(250));
        DetailsFixture::saveScreenshot(d.window(), name);
    }
};

TEST_F(DetailsPageRoad, FromAListToTheInstalledPackageAndItsFiles) {
    auto& d = ZMVostrelle::sharedVostrelle();
    EXPECT_TRUE(ZMApplication::start({})) << "the launch main() runs";
    ASSERT_TRUE(GuiTest::waitUntil([&] { return d.backgroundLaunchWorkDone(); }, std::chrono::seconds(30)));
    d.window()->resize(460, 1000);
    online = true;
    ASSERT_EQ(ZMRPackageManager::sharedPackageManager().sources().addSourceWithLocation(server->url("repo/"), true).status,
              ZMRAddSourceStatus::Added);
    ASSERT_TRUE(GuiTest::waitUntil([] { return ZMRPackage::objectForPrimaryKey("com.jane.dockdots").has_value(); },
                                   std::chrono::seconds(60)));
    GuiTest::waitUntil([] { return ZMPipelineManager::sharedManager().liveTaskCount() == 0; }, std::chrono::seconds(30));

    // Sections, All Packages, and a click on the package.
    auto* page = DetailsFixture::openFromAllPackages(d, "com.jane.docklens");
    ASSERT_NE(page, nullptr);
    auto* nav = page->navigationController();
    ASSERT_NE(nav, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        return page->screenshotsDictionary().size() == 5 && page->changelogSection()->isVisible() && page->hasBannerImage() &&
               page->descriptionLbl()->document()->toPlainText().contains("Dock Lens magnifies the dock") &&
               page->packageReviews().size() == 1 && page->packageRatingLbl()->text() == "4.5" &&
               !page->authorAvatar().isNull() && page->authorAvatar().pixelColor(10, 10) == QColor("#ff9500");
    }, std::chrono::seconds(20)));
    EXPECT_EQ(page->nameLbl()->text(), "Dock Lens");
    EXPECT_EQ(page->authorLbl()->text(), "Jane Doe");
    EXPECT_EQ(page->getBtn()->text(), "GET");
    EXPECT_TRUE(page->bannerImageView()->isVisible());
    EXPECT_EQ(page->packageVersionLbl()->text(), "2.0");
    EXPECT_EQ(page->packageCategoryLbl()->text(), "Tweaks");
    EXPECT_EQ(page->informationSection()->packageDependenciesLbl()->text(), "No dependencies");
    EXPECT_FALSE(page->informationSection()->packageSizeLbl()->text().isEmpty());
    EXPECT_EQ(page->informationSection()->repositoryNameLbl()->text(), "Jane's Repo");
    EXPECT_FALSE(page->informationSection()->installedFilesBtn()->isVisible()) << "not installed yet";
    EXPECT_EQ(page->devPackages(), std::vector<std::string>{"com.jane.dockdots"});
    EXPECT_TRUE(page->reviewsSection()->reviewsCollectionView()->isVisible());
    EXPECT_EQ(maker->count("stats/stats.php"), 1u) << "one view of the page reported";
    screenshot(d, "details-page.png");
    page->scrollView()->setContentOffsetY(900, false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->headerScrolling()->isHandedOver(); }));
    EXPECT_EQ(page->navigationItem()->rightBarButtonItem(), page->getBarBtnItem());
    screenshot(d, "details-page-scrolled.png");
    page->handleStatusBarTap();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !page->headerScrolling()->isHandedOver(); }));

    // A click on a screenshot opens the gallery of all five; its Close comes back.
    page->scrollView()->ensureWidgetVisible(page->screenshotsCollectionView());
    UserGesture::click(page->screenshotsCollectionView()->cellForItem(0));
    auto* galleryNav = dynamic_cast<UINavigationController*>(d.window()->topPresentedViewController());
    ASSERT_NE(galleryNav, nullptr);
    auto* gallery = dynamic_cast<PackageScreenshotsViewController*>(galleryNav->topViewController());
    ASSERT_NE(gallery, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return gallery->screenshotsCollectionView()->numberOfItems() == 5; }));
    UserGesture::tapBarButton(gallery, "Close");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return d.window()->topPresentedViewController() == d.window()->rootViewController(); }));

    // Queued from the header, installed through the queue screens.
    UserGesture::click(page->getBtn());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->getBtn()->text() == "QUEUED"; }));
    d.presentQueue();
    auto* queueNav = dynamic_cast<UINavigationController*>(d.window()->topPresentedViewController());
    ASSERT_NE(queueNav, nullptr);
    QPointer<PackagesConfirmationViewController> queue = dynamic_cast<PackagesConfirmationViewController*>(queueNav->topViewController());
    ASSERT_TRUE(queue);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !queue || !queue->isResolving(); }, std::chrono::seconds(60)));
    ASSERT_TRUE(queue->confirmButton()->isEnabled());
    UserGesture::click(queue->confirmButton());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return installedInSandbox("com.jane.docklens"); }, std::chrono::seconds(120)));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->getBtn()->text() == "UNINSTALL"; }, std::chrono::seconds(30)));
    // The verified download reached the maker's statistics.
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        for (const auto& r : maker->requests("stats/stats.php"))
            if (r.field("packageID") == "com.jane.docklens" && r.field("downloadCount") == "1") return true;
        return false;
    }));
    ASSERT_TRUE(GuiTest::waitUntil([] { return ZMPipelineManager::sharedManager().liveTaskCount() == 0; }, std::chrono::seconds(30)));
    if (d.window()->topPresentedViewController() != d.window()->rootViewController())
        d.window()->topPresentedViewController()->dismissViewController(false);

    // Reopened: the installed files, as dpkg listed them.
    page = DetailsFixture::openFromAllPackages(d, "com.jane.docklens");
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->informationSection()->installedFilesBtn()->isVisible(); }));
    page->scrollView()->ensureWidgetVisible(page->informationSection()->installedFilesBtn());
    UserGesture::click(page->informationSection()->installedFilesBtn());
    auto* files = dynamic_cast<InstalledFilesViewController*>(nav->topViewController());
    ASSERT_NE(files, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return files->isOnScreen(); }));
    const std::vector<std::string> listed = files->installedFiles();
    ASSERT_GE(listed.size(), 4u);
    EXPECT_EQ(listed.front(), "/.") << "dpkg's list as it is";
    EXPECT_NE(std::find(listed.begin(), listed.end(), "/usr/share/vostrelle-test/com.jane.docklens"), listed.end());
    bool deepest = false;
    for (auto* cell : files->installedFilesTableView()->visibleCells())
        deepest |= cell->textLabel()->text() == "/com.jane.docklens" &&
                   cell->textLabel()->indent() == 3 * InstalledFilesViewController::kIndentPerLevel;
    EXPECT_TRUE(deepest) << "the file four levels down, three levels in";
    screenshot(d, "details-installed-files.png");
    nav->popViewController(false);

    // The developer card opens the contact card.
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->isOnScreen(); }));
    page->scrollView()->ensureWidgetVisible(page->developerCard());
    UserGesture::click(page->developerCard()->authorCollectionView()->cellForItem(0));
    auto* contact = dynamic_cast<ContactDeveloperViewController*>(nav->topViewController());
    ASSERT_NE(contact, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return contact->isOnScreen(); }));
    EXPECT_EQ(contact->authorLbl()->text(), "Jane Doe");
    EXPECT_FALSE(contact->authorIcon()->pixmap().isNull());
    screenshot(d, "details-contact.png");
}

}  // namespace
