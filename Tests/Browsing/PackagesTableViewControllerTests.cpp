// The generic package list on screen: sections and rows, the Sort sheet,
// swipe to queue and unqueue, deferred rebuilds while scrolling, opening a
// package, and a screenshot.
#include <gtest/gtest.h>
#include "App/ZMApplication.h"
#include "VostrelleBuildPaths.h"

#include <QDir>

#include "Browsing/BrowsingFixture.h"
#include "Browsing/PackagesTableViewController.h"
#include "Database/ZMCategorySpecial.h"
#include "Database/ZMRNotifications.h"
#include "Details/PackageDetailsViewController.h"
#include "Details/WebDepictionViewController.h"
#include "PackageCell.h"
#include "UIKit/UIAlertController.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIWindow.h"
#include "ZMVostrelle.h"

namespace {

class PackagesListScreenTest : public BrowsingFixture::Database {
protected:
    std::unique_ptr<UIWindow> window;
    PackagesTableViewController* list = nullptr;
    UINavigationController* nav = nullptr;

    void SetUp() override {
        Database::SetUp();
        ZMVostrelle::resetForTesting();
        storeGenerated(300);
    }
    void TearDown() override {
        window.reset();
        ZMVostrelle::resetForTesting();
        Database::TearDown();
    }

    // Shows a list of the kind in a window of its own.
    void show(const std::function<void(PackagesTableViewController&)>& configure, const QString& title = "List") {
        list = new PackagesTableViewController;
        configure(*list);
        list->setTitle(title);
        nav = new UINavigationController(list);
        window = std::make_unique<UIWindow>();
        window->resize(420, 760);
        window->setRootViewController(nav);
        window->show();
        ASSERT_TRUE(GuiTest::waitUntil([&] { return list->isOnScreen() && list->rebuildCount() > 0; }));
        GuiTest::pump();
    }
    UITableView* table() const { return list->packagesTableView(); }
    PackageCell* cellAt(IndexPath ip) const { return qobject_cast<PackageCell*>(table()->cellForRow(ip)); }
};

TEST_F(PackagesListScreenTest, TableShowsTheModelsSectionsRowsAndIndexWithSortButton) {
    show([](PackagesTableViewController& l) { l.setCategory(kCategorySpecial_AllPackages); }, "All Packages");
    const auto& m = list->model();
    ASSERT_GT(m.numberOfSections(), 3);
    EXPECT_EQ(table()->numberOfSections(), m.numberOfSections());
    QStringList index;
    for (const auto& t : *m.indexTitles()) index << QString::fromStdString(t);
    EXPECT_EQ(list->sectionIndexTitles(table()), index);
    for (int s = 0; s < m.numberOfSections(); ++s) {
        EXPECT_EQ(table()->numberOfRows(s), m.numberOfRows(s));
        EXPECT_EQ(list->titleForHeader(table(), s), QString::fromStdString(m.sections()[s]));
    }
    // The first rows are drawn from their records, 70 points high, the last row of a section without separator.
    auto* first = cellAt({0, 0});
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->packageIdentifier(), *m.identifierAt(0, 0));
    EXPECT_EQ(table()->rectForRow({0, 0}).height(), 70);
    auto* last = cellAt({0, m.numberOfRows(0) - 1});
    if (last) { EXPECT_TRUE(last->isSeparatorHidden()); }
    if (m.numberOfRows(0) > 1) { EXPECT_FALSE(first->isSeparatorHidden()); }
    ASSERT_NE(list->navigationItem()->rightBarButtonItem(), nullptr);

    // The screenshot of a package list.
    QDir().mkpath(VOSTRELLE_SCREENSHOT_DIR);
    ASSERT_TRUE(window->grab().toImage().save(VOSTRELLE_SCREENSHOT_DIR "/browse-package-list.png"));
}

TEST_F(PackagesListScreenTest, NewPackagesHaveDateHeadersAndNoSortButtonOrIndex) {
    show([](PackagesTableViewController& l) { l.setCategory(kCategorySpecial_NewPackages); }, "New Packages");
    EXPECT_EQ(list->navigationItem()->rightBarButtonItem(), nullptr);
    EXPECT_TRUE(list->sectionIndexTitles(table()).isEmpty());
    ASSERT_GT(table()->numberOfSections(), 0);
    const QString header = *list->titleForHeader(table(), 0);
    EXPECT_TRUE(header.contains("2026")) << header.toStdString();
    EXPECT_FALSE(header.contains("2026-")) << header.toStdString();
}

TEST_F(PackagesListScreenTest, SortSheetStoresTheChoiceAndRegroups) {
    ZMApplication::applicationDidFinishLaunching();
    ASSERT_TRUE(GuiTest::waitUntil([] { return ZMVostrelle::sharedVostrelle().backgroundLaunchWorkDone(); }, std::chrono::seconds(20)));
    auto top = [] { return ZMVostrelle::sharedVostrelle().window()->topPresentedViewController(); };
    for (bool installed : {false, true}) {
        SCOPED_TRACE(installed ? "installed" : "all");
        show([installed](PackagesTableViewController& l) {
            l.setCategory(installed ? kCategorySpecial_InstalledPackages : kCategorySpecial_AllPackages);
        });
        list->sortPackages(nullptr);
        auto* sheet = dynamic_cast<UIAlertController*>(top());
        ASSERT_NE(sheet, nullptr);
        // Only the installed list speaks of installed packages.
        EXPECT_EQ(sheet->alertTitle(), installed ? "Sort Installed Packages" : "Sort Packages");
        EXPECT_EQ(sheet->message().contains("installed"), installed) << sheet->message().toStdString();
        std::vector<QString> titles;
        for (const auto& a : sheet->actions()) titles.push_back(a.title);
        std::vector<QString> expected = {"Category", "Maintainer", "Name", "Source", "Cancel"};
        if (installed) expected.insert(expected.begin() + 1, "Install date");
        EXPECT_EQ(titles, expected);
        EXPECT_EQ(sheet->actions().back().style, UIAlertController::ActionStyle::Cancel);
        const int before = list->rebuildCount();
        sheet->performAction(installed ? 1 : 3);  // "Install date" / "Source"
        ASSERT_TRUE(GuiTest::waitUntil([&] { return list->rebuildCount() > before; }));
        EXPECT_EQ(*preferences().stringForKey(VostrellePreferenceKey::SortInstalledPackagesBy), installed ? "InstallDate" : "Source");
        EXPECT_EQ(list->model().sortCriteria(), installed ? "installDate" : "sourceLocation");
        EXPECT_TRUE(list->sectionIndexTitles(table()).isEmpty());
        window.reset();
    }
}

TEST_F(PackagesListScreenTest, SwipeQueuesAndUnqueuesAndTheRowFollowsThroughItsNotification) {
    // A free package that is not installed: "Queue" installs it.
    ZMRPackage p;
    p.identifier = "aaa.swipe.me";
    p.name = "0 Swipe Me";  // sorts first
    p.version = "2.0";
    p.isInstalled = false;
    store({p});
    show([](PackagesTableViewController& l) { l.setCategory(kCategorySpecial_AllPackages); });
    auto* cell = cellAt({0, 0});
    ASSERT_NE(cell, nullptr);
    ASSERT_EQ(cell->packageIdentifier(), p.identifier);
    const int redraws = cell->notificationRedrawCount();

    auto actions = list->trailingSwipeActions(table(), {0, 0});
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].title, "Queue");
    EXPECT_EQ(actions[0].style, UIContextualAction::Style::Normal);
    EXPECT_EQ(actions[0].backgroundColor, QColor::fromRgbF(0.0, 0.67, 0.88, 1.0));
    bool completed = false;
    actions[0].handler(actions[0], cell, [&](bool ok) { completed = ok; });
    EXPECT_TRUE(completed);
    EXPECT_TRUE(ZMRPackage::objectForPrimaryKey(p.identifier)->isInTheQueue.value_or(false));
    EXPECT_EQ(cell->shownQueueOperation(), ZMRQueueOperationInstall);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return cell->notificationRedrawCount() > redraws; }));

    actions = list->trailingSwipeActions(table(), {0, 0});
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].title, "Remove");
    EXPECT_EQ(actions[0].backgroundColor, QColor(255, 59, 48));
    const int afterQueue = cell->notificationRedrawCount();
    actions[0].handler(actions[0], cell, [](bool) {});
    EXPECT_FALSE(ZMRPackage::objectForPrimaryKey(p.identifier)->isInTheQueue.value_or(false));
    EXPECT_EQ(cell->shownQueueOperation(), 0);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return cell->notificationRedrawCount() > afterQueue; }));
}

TEST_F(PackagesListScreenTest, RebuildWaitsForTheEndOfAnyScrollAndIsNeverLost) {
    show([](PackagesTableViewController& l) { l.setCategory(kCategorySpecial_AllPackages); });
    const int start = list->rebuildCount();
    emit table()->willBeginDragging();
    EXPECT_TRUE(list->isScrolling());
    ZMRPackage late;
    late.identifier = "zzz.late";
    late.name = "Late Arrival";
    store({late});
    NotificationCenter::defaultCenter().post(ZMRSourceUpdatedNotification, std::string("https://alpha.example/"));
    GuiTest::pump();
    EXPECT_EQ(list->rebuildCount(), start);  // not under the user's finger
    EXPECT_TRUE(list->needCacheRebuild());
    // The drag ends without a deceleration: the pending rebuild starts now.
    emit table()->didEndDragging(false);
    emit table()->didEndScrolling();
    EXPECT_FALSE(list->isScrolling());
    EXPECT_FALSE(list->needCacheRebuild());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return list->rebuildCount() == start + 1; }));
    const auto& rows = list->model().sectionsDictionary().at("L");
    EXPECT_NE(std::find(rows.begin(), rows.end(), "zzz.late"), rows.end());

    // A scroll with nothing pending rebuilds nothing.
    emit table()->willBeginDragging();
    emit table()->didEndScrolling();
    GuiTest::pump(std::chrono::milliseconds(50));
    EXPECT_EQ(list->rebuildCount(), start + 1);

    // Rows read while the user started scrolling are not swapped in under the finger either.
    store({[] { ZMRPackage p; p.identifier = "zzz.later"; p.name = "Later Still"; return p; }()});
    list->rebuildCache();
    emit table()->willBeginDragging();
    GuiTest::pump(std::chrono::milliseconds(200));
    EXPECT_EQ(list->rebuildCount(), start + 1);
    EXPECT_TRUE(list->needCacheRebuild());
    emit table()->didEndScrolling();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return list->rebuildCount() == start + 2; }));
    const auto& later = list->model().sectionsDictionary().at("L");
    EXPECT_NE(std::find(later.begin(), later.end(), "zzz.later"), later.end());
}

TEST_F(PackagesListScreenTest, AppearingAgainRereadsOnlyWhatChanged) {
    show([](PackagesTableViewController& l) { l.setCategory(kCategorySpecial_AllPackages); });
    struct Case {
        const char* change;
        std::function<void()> apply;
        bool rereads;
    };
    const std::vector<Case> cases = {
        {"nothing", [] {}, false},
        {"a package written", [&] { store({[] { ZMRPackage p; p.identifier = "new.one"; p.name = "New One"; return p; }()}); }, true},
        {"the sort criterion", [&] { preferences().setValue(VostrellePreferenceKey::SortInstalledPackagesBy, "Category"); }, true},
        {"the compatibility filter", [&] { preferences().setValue(VostrellePreferenceKey::ShowIncompatiblePackages, true); }, true},
        {"a source refreshed without changes", [&] { NotificationCenter::defaultCenter().post(ZMRSourceUpdatedNotification); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.change);
        const int before = list->rebuildCount();
        nav->pushViewController(new UIViewController, false);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return !list->isOnScreen(); }));
        c.apply();
        GuiTest::pump();
        nav->popViewController(false);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return list->isOnScreen(); }));
        ASSERT_TRUE(GuiTest::waitUntil([&] { return !list->isRebuilding(); }));
        EXPECT_EQ(list->rebuildCount(), before + (c.rereads ? 1 : 0));
    }
    EXPECT_EQ(list->model().sortCriteria(), "category");
}

TEST_F(PackagesListScreenTest, ANewerRebuildSupersedesOneStillRunning) {
    show([](PackagesTableViewController& l) { l.setCategory(kCategorySpecial_AllPackages); });
    const int before = list->rebuildCount();
    // Two requests before the main thread runs again: only the newer one's rows arrive.
    store({[] { ZMRPackage p; p.identifier = "first.wave"; p.name = "First Wave"; return p; }()});
    list->rebuildCache();
    store({[] { ZMRPackage p; p.identifier = "second.wave"; p.name = "Second Wave"; return p; }()});
    list->rebuildCache();
    EXPECT_TRUE(list->isRebuilding());
    EXPECT_EQ(list->rebuildCount(), before) << "the rows are read off the main thread";
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !list->isRebuilding(); }));
    GuiTest::pump(std::chrono::milliseconds(50));
    EXPECT_EQ(list->rebuildCount(), before + 1);
    const auto& rows = list->model().sectionsDictionary().at("S");
    EXPECT_NE(std::find(rows.begin(), rows.end(), "second.wave"), rows.end());
}

TEST_F(PackagesListScreenTest, SourceUpdateOffScreenChangesNothingUntilTheNextAppearance) {
    show([](PackagesTableViewController& l) { l.setCategory(kCategorySpecial_AllPackages); });
    auto* other = new PackageDetailsViewController;
    other->setPackageIdentifier("com.gen.pkg1");
    nav->pushViewController(other, false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !list->isOnScreen(); }));
    const int before = list->rebuildCount();
    NotificationCenter::defaultCenter().post(ZMRSourceUpdatedNotification);
    GuiTest::pump();
    EXPECT_EQ(list->rebuildCount(), before);
    nav->popViewController(false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return list->rebuildCount() > before; }));
}

TEST_F(PackagesListScreenTest, OpeningAPackageFollowsItsSourcesDepictionChoice) {
    storeSources({BrowsingFixture::kSources[0], BrowsingFixture::kSources[1]});
    realm->transactionWithBlock([&] {
        auto s = realm->objectForPrimaryKey<ZMRSource>(BrowsingFixture::kSources[0]);
        realm->setValueForKey(*s, "seeOriginalDepictions", true);
    });
    ZMRPackage web, native, hostile;
    web.identifier = "aaa.web";
    web.name = "0 Web";
    web.sourceLocation = BrowsingFixture::kSources[0];
    web.website = "https://depictions.example/aaa.web";
    native.identifier = "aaa.native";
    native.name = "0 Native";
    native.sourceLocation = BrowsingFixture::kSources[1];
    native.website = "https://depictions.example/aaa.native";
    hostile.identifier = "aaa.hostile";
    hostile.name = "0 Hostile";
    hostile.sourceLocation = BrowsingFixture::kSources[0];
    hostile.website = "file:///etc/passwd";
    store({web, native, hostile});
    show([](PackagesTableViewController& l) {
        l.setCategory(kCategorySpecial_Search);
        l.setSearch("0 ");
    });
    auto open = [&](const std::string& id) -> UIViewController* {
        for (int s = 0; s < list->model().numberOfSections(); ++s)
            for (int r = 0; r < list->model().numberOfRows(s); ++r)
                if (*list->model().identifierAt(s, r) == id) {
                    list->didSelectRow(table(), {s, r});
                    GuiTest::pump();
                    return nav->topViewController();
                }
        return nullptr;
    };
    auto* w = dynamic_cast<WebDepictionViewController*>(open("aaa.web"));
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->websiteURL(), QUrl("https://depictions.example/aaa.web"));
    nav->popViewController(false);
    auto* n = dynamic_cast<PackageDetailsViewController*>(open("aaa.native"));
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->nameLbl()->text(), "0 Native");
    nav->popViewController(false);
    // A depiction that is not a web page never reaches the browser screen.
    EXPECT_NE(dynamic_cast<PackageDetailsViewController*>(open("aaa.hostile")), nullptr);
}

}  // namespace
