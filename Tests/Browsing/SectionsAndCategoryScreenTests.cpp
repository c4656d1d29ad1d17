// The Sections tab and the category and source screen: folding groups, the
// fixed rows, subcategories and package sections, the source's own packages,
// the store's "Purchased" button, rebuilds deferred while scrolling, and rows
// whose record went away.
#include <gtest/gtest.h>

#include <QScrollBar>
#include <filesystem>

#include "Browsing/BrowsingFixture.h"
#include "Browsing/CategoriesCell.h"
#include "Browsing/CategoriesTableViewController.h"
#include "Browsing/CategoryGroups.h"
#include "Browsing/PackagesTableViewController.h"
#include "Browsing/SubcategoriesViewController.h"
#include "Database/ZMCategorySpecial.h"
#include "Database/ZMRNotifications.h"
#include "ErrorViewController.h"
#include "Keychain/PDKeychainBindings.h"
#include "App/ZMOnlineScreensSetup.h"
#include "PackageCell.h"
#include "Support/FailingStore.h"
#include "Support/FakeStores.h"
#include "TabPlaceholderViewController.h"
#include "ZMStoreGuard.h"
#include "ZMVostrelle.h"

namespace {

using Rows = std::vector<std::string>;

TEST(CategoryGroupsTest, FoldsUnfoldsAndKeepsOneGroupOpen) {
    CategoryGroups groups;
    groups.setEntries({"Addons (SpringBoard)", "App Addons Extra", "My Addon", "Themes", "Tweaks", "Tweaks (Beta)",
                       "Utilities", "Widgets"});
    EXPECT_EQ(groups.rows(), (Rows{"Addons   ", "App Addons Extra", "My Addon", "Themes   ", "Tweaks   ", "Utilities",
                                   "Widgets   "}));
    EXPECT_EQ(groups.expand(CategoryGroups::Tweaks), (std::vector<int>{5, 6}));
    EXPECT_EQ(groups.rows()[5], "Tweaks");
    EXPECT_EQ(groups.rows()[6], "Tweaks (Beta)");
    // Unfolding the themes folds the tweaks in the same toggle: their rows as they were before.
    std::vector<std::vector<int>> inserted, removed;
    auto in = [&](const std::vector<int>& r) { inserted.push_back(r); };
    auto out = [&](const std::vector<int>& r) { removed.push_back(r); };
    EXPECT_TRUE(groups.toggle(*CategoryGroups::groupOf(false, true, false, false), in, out));
    EXPECT_EQ(inserted, (std::vector<std::vector<int>>{{4}}));
    EXPECT_EQ(removed, (std::vector<std::vector<int>>{{6, 7}}));
    EXPECT_EQ(groups.expandedGroup(), CategoryGroups::Themes);
    EXPECT_FALSE(groups.toggle(CategoryGroups::Themes, in, out));
    EXPECT_EQ(removed.back(), (std::vector<int>{4}));
    EXPECT_FALSE(groups.expandedGroup().has_value());
}

TEST(CategoriesCellTest, IconRuleSetsImageAndWeight) {
    struct Case {
        const char* entry;
        const char* image;
        bool bold;
    };
    CategoriesCell cell;
    for (const Case& c : {Case{"Addons (SpringBoard)", "Categories/Addons", true},
                          Case{"App Addons Extra", "Categories/App Addons", false},
                          Case{"Tweaks", "Categories/Tweaks", false}, Case{"Tweaks   ", "Categories/Tweaks", true},
                          Case{"Cydia/Telesphoreo", "Categories/Tervalo", false}}) {
        cell.applyCategoryIcon(c.entry);
        EXPECT_EQ(cell.iconImageName(), c.image) << c.entry;
        EXPECT_EQ(cell.nameLbl()->font().bold(), c.bold) << c.entry;
    }
}

class SectionsTest : public BrowsingFixture::Screens {
protected:
    UINavigationController* nav = nullptr;

    static ZMRPackage package(const std::string& id, const std::string& category, const std::string& name = "") {
        ZMRPackage p;
        p.identifier = id;
        p.name = name.empty() ? id : name;
        p.category = category;
        return p;
    }
    void rebuildCategories() {
        bool done = false;
        ObserverToken token = NotificationCenter::defaultCenter().addObserver(
            ZMRDoneRebuildingPackagesCacheNotification, NotificationCenter::Queue::Main, [&](const Notification&) { done = true; });
        ZMRPackageManager::sharedPackageManager().packages().rebuildPackagesCategoriesCache();
        ASSERT_TRUE(GuiTest::waitUntil([&] { return done; }));
    }
    // Shown, once its rows (read off the main thread) are in.
    SubcategoriesViewController* showCategory(const std::string& category, const std::string& location = "") {
        auto* screen = new SubcategoriesViewController;
        screen->setCategory(category);
        screen->setSourceLocation(location);
        nav = BrowsingFixture::showInWindow(screen, window);
        EXPECT_TRUE(rebuilt(screen));
        return screen;
    }
    // A source's screen pushed over a first screen, as Manage pushes it.
    SubcategoriesViewController* pushSourceScreen(const std::string& location, UIViewController** below = nullptr) {
        auto* root = new UIViewController;
        if (below) *below = root;
        nav = BrowsingFixture::showInWindow(root, window);
        auto* screen = new SubcategoriesViewController;
        screen->setCategory(kCategorySpecial_SourcePackages);
        screen->setSourceLocation(location);
        nav->pushViewController(screen, false);
        return screen;
    }
    static bool rebuilt(SubcategoriesViewController* screen) {
        return GuiTest::waitUntil([&] { return screen->rebuildCount() > 0 && !screen->isRebuilding(); });
    }
};

TEST_F(SectionsTest, TabFillsAtTheFirstRebuildAndOpensItsFixedRows) {
    std::vector<ZMRPackage> packages = {package("a.tweak", "Tweaks"), package("b.tweak", "Tweaks (Beta)"),
                                        package("c.widget", "Widgets"), package("d.util", "Utilities")};
    // Enough categories below them for the page to scroll.
    for (int i = 0; i < 10; ++i) packages.push_back(package("z." + std::to_string(i), "Zeta " + std::to_string(i)));
    store(packages);
    auto* sections = new CategoriesTableViewController;
    nav = BrowsingFixture::showInWindow(sections, window, {420, 500});
    // Before the first rebuild there is nothing to show.
    EXPECT_TRUE(sections->defaultPackagesCategories().empty());
    EXPECT_EQ(sections->otherCategoriesTableView()->height(), 0);
    rebuildCategories();
    EXPECT_EQ(sections->defaultPackagesCategories().size(), 5u);
    const Rows& rows = sections->otherPackagesCategories();
    ASSERT_EQ(rows.size(), 13u);
    EXPECT_EQ(Rows(rows.begin(), rows.begin() + 4), (Rows{"Tweaks   ", "Utilities", "Widgets   ", "Zeta 0"}));
    EXPECT_EQ(sections->otherCategoriesTableView()->height(), 13 * 44);

    // The categories table sits where the scroll after unfolding expects it.
    GuiTest::pump();
    QWidget* page = sections->scrollView()->widget();
    EXPECT_EQ(sections->otherCategoriesTableView()->mapTo(page, QPoint(0, 0)).y(),
              CategoriesTableViewController::kOtherTableTop);
    sections->didSelectRow(sections->otherCategoriesTableView(), {0, 0});
    EXPECT_EQ(Rows(rows.begin(), rows.begin() + 4), (Rows{"Tweaks   ", "Tweaks", "Tweaks (Beta)", "Utilities"}));
    // The label's row at the top.
    EXPECT_EQ(sections->scrollView()->verticalScrollBar()->value(), CategoriesTableViewController::kOtherTableTop);

    // Row 2: the popup only while no package has an update; a held update
    // opens the list, which leaves it out.
    sections->didSelectRow(sections->defaultCategoriesTableView(), {0, 2});
    auto* popup = dynamic_cast<ErrorViewController*>(window->topPresentedViewController());
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->titleLbl()->text(), "Updated Packages");
    popup->closeBtn()->click();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return window->topPresentedViewController() == nav; }));
    auto held = package("e.held", "Utilities");
    held.isUpdated = true;
    for (bool isHeld : {false, true}) {
        SCOPED_TRACE(isHeld ? "held" : "not held");
        held.isHeld = isHeld;
        store({held});
        sections->didSelectRow(sections->defaultCategoriesTableView(), {0, 2});
        GuiTest::pump();
        EXPECT_EQ(window->topPresentedViewController(), nav) << "no popup";
        auto* list = dynamic_cast<PackagesTableViewController*>(nav->topViewController());
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->category(), kCategorySpecial_UpdatedPackages);
        EXPECT_EQ(list->packagesTableView()->numberOfRows(0), isHeld ? 0 : 1);
        nav->popToRootViewController(false);
    }
    // Row 4: the repository directory, a placeholder until the online screens come.
    sections->didSelectRow(sections->defaultCategoriesTableView(), {0, 4});
    auto* directory = dynamic_cast<TabPlaceholderViewController*>(nav->topViewController());
    ASSERT_NE(directory, nullptr);
    EXPECT_EQ(directory->screenName(), "OnlineRepositoriesViewController");
}

TEST_F(SectionsTest, CategoryScreenListsSubcategoriesAndCompatiblePackagesByLetter) {
    std::vector<ZMRPackage> packages = {package("t.alpha", "Tweaks", "Apple"), package("t.beta", "Tweaks", "Beta"),
                                        package("t.gamma", "Tweaks", "Alpha"), package("t.nameless", "Tweaks", " ")};
    packages[0].subcategory = "Tweaks (SpringBoard)";
    packages[1].subcategory = "Utilities";
    packages[2].subcategory = "Tweaks";
    packages[3].name = "";
    auto broken = package("t.broken", "Tweaks", "Broken");
    broken.tweakCompatibleStatus = 1;
    packages.push_back(broken);
    store(packages);
    auto* screen = showCategory("Tweaks");
    EXPECT_EQ(screen->subcategoriesArray(), (Rows{"Tweaks   ", "Utilities"}));
    EXPECT_EQ(screen->titleForHeader(nullptr, 0), QString("Subcategories"));
    // Apple, Beta and Alpha: A (Alpha, Apple), B; the incompatible one is left out; the nameless one under "#".
    EXPECT_EQ(screen->packageSections().sections(), (Rows{"#", "A", "B"}));
    EXPECT_EQ(screen->identifierAt({2, 0}), std::optional<std::string>("t.gamma"));
    EXPECT_EQ(screen->identifierAt({2, 1}), std::optional<std::string>("t.alpha"));
    EXPECT_EQ(screen->heightForRow(nullptr, {0, 0}), 44);
    EXPECT_EQ(screen->heightForRow(nullptr, {1, 0}), 70);

    preferences().setValue(VostrellePreferenceKey::ShowIncompatiblePackages, true);
    screen->rebuildCache();
    ASSERT_TRUE(rebuilt(screen));
    EXPECT_EQ(screen->packageSections().sectionsDictionary().at("B"), (Rows{"t.beta", "t.broken"}));

    // A subcategory opens the section list narrowed to it.
    screen->didSelectRow(screen->subcategoriesAndPackagesTableView(), {0, 1});
    auto* list = dynamic_cast<PackagesTableViewController*>(nav->topViewController());
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return list->model().packages().has_value(); }));
    EXPECT_EQ(list->model().packages()->count(), 1u);
    EXPECT_EQ(list->title(), "Utilities");

    // A section named like the source kind, without a source, is a category like any other.
    store({package("s.odd", kCategorySpecial_SourcePackages)});
    auto* odd = showCategory(kCategorySpecial_SourcePackages);
    EXPECT_FALSE(odd->isSourceScreen());
    EXPECT_EQ(odd->packageSections().sectionsDictionary().at("S"), (Rows{"s.odd"}));
}

TEST_F(SectionsTest, SourceScreenListsItsOwnPackagesAndFollowsItsSource) {
    const std::string location = "https://alpha.example/";
    storeSources({location, "https://beta.example/"});
    auto own = package("o.tweak", "Tweaks (SpringBoard)", "Own");
    own.sourceLocation = location;
    auto theme = package("o.theme", "Themes", "Other Own");
    theme.sourceLocation = location;
    auto foreign = package("f.queued", "Tweaks", "Foreign");
    foreign.sourceLocation = "https://beta.example/";
    foreign.isInTheQueue = true;
    store({own, theme, foreign});
    UIViewController* root = nullptr;
    auto* screen = pushSourceScreen(location, &root);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return screen->rebuildCount() > 0; }));
    EXPECT_EQ(screen->subcategoriesArray(), (Rows{"All Packages", "Themes   ", "Tweaks   "}));
    EXPECT_EQ(screen->packageSections().sectionsDictionary().at("O"), (Rows{"o.theme", "o.tweak"}));
    // The queue confirmation's redraw lists no queued package of another source.
    screen->updateUI();
    EXPECT_EQ(screen->subcategoriesAndPackagesTableView()->numberOfSections(), 2);
    EXPECT_EQ(screen->navigationItem()->rightBarButtonItems().size(), 1u);

    // With a store endpoint, "Purchased" only while signed in: a token and a payment secret.
    realm->transactionWithBlock([&] {
        auto s = *realm->objectForPrimaryKey<ZMRSource>(location);
        realm->setValueForKey(s, "endpoint", std::string("https://alpha.example/store/"));
    });
    auto& keychain = PDKeychainBindings::sharedKeychainBindings();
    for (const auto& [token, secret, purchased] : std::vector<std::tuple<const char*, const char*, bool>>{
             {nullptr, nullptr, false}, {"token", nullptr, false}, {"token", "", false}, {"", "secret", false},
             {"token", "secret", true}}) {
        keychain.removeObjectForKey(location + "_token");
        keychain.removeObjectForKey(location + "_payment");
        if (token) keychain.setString(token, location + "_token");
        if (secret) keychain.setString(secret, location + "_payment");
        screen->rebuildCache();
        ASSERT_TRUE(rebuilt(screen));
        EXPECT_EQ(screen->navigationItem()->rightBarButtonItems().size(), purchased ? 2u : 1u)
            << (token ? token : "-") << "/" << (secret ? secret : "-");
    }
    keychain.removeObjectForKey(location + "_token");
    keychain.removeObjectForKey(location + "_payment");

    // The source goes away: the next refresh notice pops the screen.
    realm->transactionWithBlock([&] {
        realm->deleteObjects(ZMRPackage::objectsWhere("sourceLocation = %@", location));
        realm->deleteObjects(ZMRSource::objectsWhere("location = %@", location));
    });
    NotificationCenter::defaultCenter().post(ZMRSourceUpdatedNotification);
    EXPECT_TRUE(GuiTest::waitUntil([&] { return nav->topViewController() == root; }));
}

// A disk that fails under the rows' reading is no source gone: the screen
// stays with what it showed, and the failure is told.
class SectionsOnAFailingDiskTest : public SectionsTest {
protected:
    static void SetUpTestSuite() { FailingStore::install(); }  // before this test's database is opened
};

TEST_F(SectionsOnAFailingDiskTest, ASourceScreenWhoseRowsCannotBeReadStaysAndSaysSo) {
    const std::string location = "https://alpha.example/";
    storeSources({location});
    auto own = package("o.tweak", "Tweaks", "Own");
    own.sourceLocation = location;
    store({own});
    auto* screen = pushSourceScreen(location);
    ASSERT_TRUE(rebuilt(screen));
    const Rows shown = screen->subcategoriesArray();
    ASSERT_FALSE(shown.empty());
    auto& d = ZMVostrelle::sharedVostrelle();
    const int alerts = d.alertCount();
    {
        FailingStore::Scope broken(realm->path(), FailingStore::Fault::ReadError);
        NotificationCenter::defaultCenter().post(ZMRSourceUpdatedNotification);  // a refresh ended
        GuiTest::waitUntil([&] { return d.alertCount() > alerts || nav->topViewController() != screen; });
    }
    EXPECT_EQ(nav->topViewController(), screen) << "the screen of a source that is still there stays";
    EXPECT_EQ(screen->subcategoriesArray(), shown);
    EXPECT_GT(d.alertCount(), alerts) << "told";
    EXPECT_EQ(d.lastAlertTitle(), ZMStoreGuard::alertTitle());
}

TEST_F(SectionsTest, ASignedInSourceScreenReadsItsPurchasesAgainAtEachRebuild) {
    TestSupport::TempDir dir;
    FlatRepository::FileServer server(dir.path());
    FakeStores::PaymentAPI payments(server, dir.path());
    const std::string location = server.url();
    storeSources({location});
    realm->transactionWithBlock([&] {
        auto s = *realm->objectForPrimaryKey<ZMRSource>(location);
        realm->setValueForKey(s, "endpoint", payments.endpoint());
    });
    auto paid = package("com.example.paid", "Tweaks", "Paid");
    paid.sourceLocation = location;
    paid.price = "$1.99";
    store({paid});
    payments.update([](auto& s) { s.purchased = {"com.example.paid"}; });
    ZMOnlineScreensSetup::install();  // as the launch does

    auto* screen = showCategory(kCategorySpecial_SourcePackages, location);
    GuiTest::pump(std::chrono::milliseconds(300));
    EXPECT_EQ(server.count("pay/user_info"), 0u) << "not signed in: nothing asked";
    const auto credentials = payments.state();
    PDKeychainBindings::sharedKeychainBindings().setString(credentials.token, location + "_token");
    PDKeychainBindings::sharedKeychainBindings().setString(credentials.secret, location + "_payment");
    screen->rebuildCache();
    EXPECT_TRUE(GuiTest::waitUntil([] { return ZMRPackage::objectForPrimaryKey("com.example.paid")->isPaidThroughSileo.value_or(false); }));
    EXPECT_EQ(server.count("pay/user_info"), 1u);
    ZMOnlineScreensSetup::uninstall();
    PDKeychainBindings::resetForTesting();
}

// Rows drawn away from the list's top start no icon download (their
// category's picture stands in); the rows at rest after the scroll fetch theirs.
TEST_F(SectionsTest, RowsAwayFromTheTopStartNoIconDownloadUntilTheScrollEnds) {
    TestSupport::TempDir dir;
    std::filesystem::create_directories(dir.path() + "/icons");
    FlatRepository::FileServer server(dir.path());
    QImage png(8, 8, QImage::Format_RGB32);
    png.fill(Qt::red);
    std::vector<ZMRPackage> packages;
    for (int i = 10; i < 40; ++i) {
        const std::string id = "p." + std::to_string(i);
        ASSERT_TRUE(png.save(QString::fromStdString(dir.path() + "/icons/" + id + ".png")));
        auto p = package(id, "Tweaks", "Pkg " + std::to_string(i));
        p.iconURL = server.url("icons/" + id + ".png");
        packages.push_back(p);
    }
    store(packages);
    auto* screen = showCategory("Tweaks");
    UITableView* table = screen->subcategoriesAndPackagesTableView();
    auto requested = [&](const std::vector<IndexPath>& rows) {
        size_t n = 0;
        for (const auto& ip : rows)
            if (auto id = screen->identifierAt(ip); id && server.count("icons/" + *id + ".png") > 0) ++n;
        return n;
    };
    const auto top = table->indexPathsForVisibleRows();
    ASSERT_FALSE(top.empty());
    EXPECT_TRUE(GuiTest::waitUntil([&] { return requested(top) == top.size(); })) << "at the top rows fetch their icons";

    table->setContentOffset(table->verticalScrollBar()->maximum());
    GuiTest::pump(std::chrono::milliseconds(300));
    const auto below = table->indexPathsForVisibleRows();
    ASSERT_FALSE(below.empty());
    ASSERT_GT(below.front().row, top.back().row) << "rows not drawn before";
    EXPECT_EQ(requested(below), 0u);

    emit table->didEndScrolling();
    EXPECT_TRUE(GuiTest::waitUntil([&] { return requested(below) == below.size(); }));
}

// The row the keys are on (the one Return opened) stays what it showed when
// the screen comes back and when its rows are read again: the same package or
// subcategory, wherever it now is; a package that went leaves none highlighted.
TEST_F(SectionsTest, TheHighlightedRowStaysWhatItShowedWhenTheRowsComeBack) {
    std::vector<ZMRPackage> packages = {package("t.beta", "Tweaks", "Beta"), package("t.delta", "Tweaks", "Delta")};
    packages[0].subcategory = "Utilities";
    packages[1].subcategory = "Wallpapers";
    store(packages);
    auto* screen = showCategory("Tweaks");
    UITableView* table = screen->subcategoriesAndPackagesTableView();
    const auto packageRow = [&](const std::string& id) -> std::optional<IndexPath> {
        for (int section = 1; section < table->numberOfSections(); ++section)
            for (int row = 0; row < table->numberOfRows(section); ++row)
                if (screen->identifierAt({section, row}) == id) return IndexPath{section, row};
        return std::nullopt;
    };
    const auto subcategoryRow = [&](const std::string& name) -> std::optional<IndexPath> {
        const Rows& rows = screen->subcategoriesArray();
        const auto it = std::find(rows.begin(), rows.end(), name);
        return it == rows.end() ? std::nullopt : std::optional<IndexPath>(IndexPath{0, static_cast<int>(it - rows.begin())});
    };
    const auto readAgain = [&](const std::function<void()>& change) {
        const int before = screen->rebuildCount();
        change();
        screen->rebuildCache();
        return GuiTest::waitUntil([&] { return screen->rebuildCount() > before && !screen->isRebuilding(); });
    };
    auto able = package("t.able", "Tweaks", "Able");
    auto audio = package("t.audio", "Tweaks", "Zed");
    audio.subcategory = "Audio";
    struct Case {
        const char* name;
        std::function<std::optional<IndexPath>()> row;  // the row highlighted, found before and after
        std::function<void()> comeBack;
        bool moves;  // the row it shows is elsewhere afterwards
    } cases[] = {
        {"a package, the screen back from its page", [&] { return packageRow("t.delta"); }, [&] { screen->updateUI(); }, false},
        {"a package, one listed before it since", [&] { return packageRow("t.delta"); },
         [&] { ASSERT_TRUE(readAgain([&] { store({able}); })); }, true},
        {"a subcategory, the screen back from its list", [&] { return subcategoryRow("Wallpapers"); }, [&] { screen->updateUI(); }, false},
        {"a subcategory, one listed before it since", [&] { return subcategoryRow("Wallpapers"); },
         [&] { ASSERT_TRUE(readAgain([&] { store({audio}); })); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto before = c.row();
        ASSERT_TRUE(before);
        table->setHighlightedRow(*before);
        c.comeBack();
        const auto after = c.row();
        ASSERT_TRUE(after);
        EXPECT_EQ(after != before, c.moves);
        EXPECT_EQ(table->indexPathForHighlightedRow(), after);
        ASSERT_NE(table->cellForRow(*after), nullptr);
        EXPECT_TRUE(table->cellForRow(*after)->isHighlighted());
    }

    table->setHighlightedRow(*packageRow("t.delta"));
    ASSERT_TRUE(readAgain([&] { realm->transactionWithBlock([&] { realm->deleteObjects(ZMRPackage::objectsWhere("identifier = %@", "t.delta")); }); }));
    EXPECT_EQ(table->indexPathForHighlightedRow(), std::nullopt) << "the row of a package that went";
}

TEST_F(SectionsTest, RebuildWaitsForTheScrollAndRowsOfGoneRecordsStayEmpty) {
    std::vector<ZMRPackage> packages;
    for (int i = 0; i < 30; ++i) packages.push_back(package("p." + std::to_string(i), "Tweaks", "Pkg " + std::to_string(i)));
    packages[0].isInTheQueue = true;
    packages[0].isInstalled = true;
    store(packages);
    auto* screen = showCategory("Tweaks");
    UITableView* table = screen->subcategoriesAndPackagesTableView();
    const int before = screen->rebuildCount();

    // A fling during a refresh: nothing until the scroll ends, then one rebuild, also
    // when the drag was released without deceleration.
    emit table->willBeginDragging();
    NotificationCenter::defaultCenter().post(ZMRSourceUpdatedNotification);
    NotificationCenter::defaultCenter().post(ZMRSourceUpdatedNotification);
    GuiTest::pump();
    EXPECT_EQ(screen->rebuildCount(), before);
    EXPECT_TRUE(screen->needCacheRebuild());
    emit table->didEndScrolling();
    EXPECT_FALSE(screen->isScrolling());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return screen->rebuildCount() > before && !screen->isRebuilding(); }));
    EXPECT_EQ(screen->rebuildCount(), before + 1) << "one rebuild for both notices";

    // A queued package offers only "Remove"; afterwards it shows the installed mark.
    auto actions = screen->trailingSwipeActions(table, {0, 0});
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].title, "Remove");
    actions[0].handler(actions[0], nullptr, [](bool) {});
    EXPECT_FALSE(ZMRPackage::objectForPrimaryKey("p.0")->isInTheQueue.value_or(true));
    auto* row = qobject_cast<PackageCell*>(table->cellForRow({0, 0}));
    ASSERT_NE(row, nullptr);
    EXPECT_TRUE(row->installOrQueueStatusImageView()->isVisible());

    // A record deleted since the rebuild: its row is drawn empty and opens nothing.
    realm->transactionWithBlock([&] { realm->deleteObjects(ZMRPackage::objectsWhere("identifier = %@", "p.1")); });
    const auto gone = screen->identifierAt({0, 1});
    ASSERT_EQ(gone, std::optional<std::string>("p.1"));
    table->reloadData();
    auto* empty = qobject_cast<PackageCell*>(screen->cellForRow(table, {0, 1}));
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->nameLbl()->text().isEmpty());
    screen->didSelectRow(table, {0, 1});
    EXPECT_EQ(nav->topViewController(), screen);
    EXPECT_TRUE(screen->trailingSwipeActions(table, {0, 1}).empty());
}

}  // namespace
