// The application as a desktop program: started as main() starts it, the
// window resized to 1200×900 and back, and walked with the mouse and the
// keyboard only (right-click menus, keys and shortcuts, the mouse's back
// button), each outcome checked:
//   - the window opens where it was left and keeps its geometry in the
//     preferences; its minimum is about a phone's screen;
//   - lists, the tab bar and the details page follow the width; the page's
//     column stays readable; the A–Z index leaves the rows their width;
//   - package rows, the Get button of a package's page, the queue's rows and
//     source rows have the swipe's actions in a right-click menu; Delete on a
//     highlighted source row removes it;
//   - Ctrl+F, F5, Ctrl+W, Alt+Left, the back button and Ctrl+Q;
//   - a name cut short ends with an ellipsis and shows whole on hover.
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <QToolTip>
#include <filesystem>

#include "App/LaunchFixture.h"
#include "App/ZMDesktopWindow.h"
#include "Browsing/CategoriesTableViewController.h"
#include "Browsing/ManageViewController.h"
#include "Browsing/PackagesTableViewController.h"
#include "Browsing/SearchViewController.h"
#include "Browsing/SourceViewController.h"
#include "Browsing/SourcesCell.h"
#include "Database/ZMRPackageManager.h"
#include "Database/ZMRSource.h"
#include "Details/PackageDetailsViewController.h"
#include "PackageCell.h"
#include "PackagesConfirmationViewController.h"
#include "Support/FlatRepository.h"
#include "UIKit/UILabelElision.h"
#include "UIKit/UIScrollView.h"
#include "ZMTabBarStatusView.h"

namespace {

using namespace UserGesture;
using nlohmann::json;

// ---- where the window opens ---------------------------------------------------------

TEST(DesktopWindowGeometry, OpensWhereItWasLeftWithinTheScreen) {
    const QRect screen(0, 0, 1600, 1000);
    const QSize min = ZMDesktopWindow::kMinimumSize, def = ZMDesktopWindow::kDefaultSize;
    const QRect centred(QPoint(800 - def.width() / 2, 500 - def.height() / 2), def);
    struct Case {
        const char* what;
        json saved;
        QRect available;
        QRect expected;
    } cases[] = {
        {"first run: the default, centred", json(), screen, centred},
        {"as left", {{"x", 100}, {"y", 50}, {"width", 1200}, {"height", 900}}, screen, QRect(100, 50, 1200, 900)},
        {"smaller than the minimum: the minimum", {{"x", 10}, {"y", 10}, {"width", 200}, {"height", 300}}, screen,
         QRect(QPoint(10, 10), min)},
        {"off the screen (a monitor gone): back onto it", {{"x", 3000}, {"y", -400}, {"width", 800}, {"height", 700}}, screen,
         QRect(800, 0, 800, 700)},
        {"larger than the screen: the screen", {{"x", 0}, {"y", 0}, {"width", 5000}, {"height", 4000}}, screen, screen},
        {"a screen smaller than the minimum: still the minimum", {{"x", 0}, {"y", 0}, {"width", 900}, {"height", 900}},
         QRect(0, 0, 320, 480), QRect(QPoint(0, 0), min)},
        {"texts instead of numbers: the default", {{"x", "1"}, {"y", "2"}, {"width", "800"}, {"height", "700"}}, screen, centred},
        {"a field missing: the default", {{"x", 1}, {"y", 2}, {"width", 800}}, screen, centred},
        {"zero width: the default", {{"x", 1}, {"y", 2}, {"width", 0}, {"height", 700}}, screen, centred},
        {"absurd numbers: the default", {{"x", 1}, {"y", 2}, {"width", 1e12}, {"height", 700}}, screen, centred},
        {"a second screen to the right", {{"x", 1700}, {"y", 100}, {"width", 800}, {"height", 600}}, QRect(1600, 0, 1920, 1080),
         QRect(1700, 100, 800, 600)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ZMDesktopWindow::initialGeometry(c.saved, c.available), c.expected) << c.what;
}

// ---- the walk -----------------------------------------------------------------------------

const char* const kLongName = "Dock Lens Professional Edition for Very Wide Docks and Small Screens";

std::string stanza(const std::string& id, const std::string& name, const std::string& extra = "") {
    return "Package: " + id + "\nName: " + name + "\nVersion: 1.0\nSection: Tweaks\nMaintainer: Jane Doe\n" +
           "Architecture: all\nDescription: " + name + " for the dock.\n" + extra + "\n";
}

class DesktopRoad : public Launch::Fixture {
protected:
    TestSupport::TempDir repoRoot;
    std::unique_ptr<FlatRepository::FileServer> server;

    void SetUp() override {
        Fixture::SetUp();
        std::string packages;
        for (const char* word : {"Alpha", "Bravo", "Charlie", "Delta", "Echo", "Foxtrot", "Golf", "Hotel"})
            packages += stanza(std::string("org.jane.") + QString(word).toLower().toStdString(), std::string(word) + " Tool");
        packages += stanza("org.jane.lens", kLongName, "Depends: org.jane.alpha\n");
        std::filesystem::create_directories(repoRoot.path() + "/repo");
        FlatRepository::writeIndexesForText(repoRoot.path() + "/repo", packages, "Jane's Repo");
        server = std::make_unique<FlatRepository::FileServer>(repoRoot.path());
    }
    void TearDown() override {
        PackagesConfirmationViewController::setResolver(nullptr);
        Fixture::TearDown();
    }
    std::string repository() const { return server->url("repo/"); }

    static UIWindow* window() { return app().window(); }
    // A key as the user presses it: to `on` (what was clicked last), else to
    // whatever has the focus in the window.
    static void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, QWidget* on = nullptr) {
        // A user's keys go to the window they are looking at.
        UserGesture::bringToFront(window());
        QWidget* target = on ? on : QApplication::focusWidget();
        if (!target || target->window() != window()) target = window();
        QTest::keyClick(target, static_cast<Qt::Key>(key), modifiers);
        GuiTest::pump();
    }
    static void resizeTo(int w, int h) {
        window()->resize(w, h);
        GuiTest::pump(std::chrono::milliseconds(100));
    }
    static bool queued(const std::string& id) {
        auto p = package(id);
        return p && p->isInTheQueue.value_or(false);
    }
    // The row of a package in a list, scrolled into view.
    static PackageCell* rowOf(UITableView* table, const std::string& id, IndexPath* where = nullptr) {
        for (int s = 0; s < table->numberOfSections(); ++s)
            for (int r = 0; r < table->numberOfRows(s); ++r) {
                table->scrollToRow({s, r}, UITableView::ScrollPosition::Middle, false);
                GuiTest::pump();
                auto* cell = qobject_cast<PackageCell*>(table->cellForRow({s, r}));
                if (cell && cell->packageIdentifier() == id) {
                    if (where) *where = {s, r};
                    return cell;
                }
            }
        return nullptr;
    }
    static QStringList entries(QMenu* menu) {
        QStringList out;
        if (menu)
            for (QAction* a : menu->actions())
                if (!a->isSeparator()) out << a->text();
        return out;
    }
    // Right-clicks the widget's centre and picks `entry` from its menu.
    static void choose(QWidget* widget, const QString& entry) {
        QMenu* menu = rightClick(widget, widget->rect().center());
        ASSERT_NE(menu, nullptr) << "no menu for " << entry.toStdString();
        chooseMenuEntry(menu, entry);
    }
    // The window's picture with the open menu drawn where it shows.
    static void screenshotWithMenu(const char* name, QMenu* menu) {
        GuiTest::pump(std::chrono::milliseconds(250));
        QImage picture = window()->grab().toImage();
        if (menu) {
            QPainter p(&picture);
            p.drawPixmap(menu->pos() - window()->mapToGlobal(QPoint(0, 0)), menu->grab());
        }
        QDir().mkpath(VOSTRELLE_SCREENSHOT_DIR);
        EXPECT_TRUE(picture.save(QString(VOSTRELLE_SCREENSHOT_DIR "/") + name));
    }
};

TEST_F(DesktopRoad, TheWindowIsTheUsersAndEveryGestureHasAMouseOrAKey) {
    auto& d = start({QString::fromStdString("vostrelle://add/" + repository())});
    // The plain-http warning names the address it is about.
    ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource("org.jane.lens", repository()));

    // ---- the window: resizable from a phone's size up; the geometry is kept.
    EXPECT_EQ(window()->minimumSize(), ZMDesktopWindow::kMinimumSize);
    resizeTo(1200, 900);
    ASSERT_EQ(window()->size(), QSize(1200, 900));
    ASSERT_TRUE(GuiTest::waitUntil([] {
        const json g = VostrellePersistentPreferences::sharedInstance().objectForKey(VostrellePreferenceKey::WindowGeometry);
        return g.is_object() && g.value("width", 0) == 1200 && g.value("height", 0) == 900;
    })) << "the geometry reaches the preferences";
    auto* tabs = d.tabBarController();
    EXPECT_GT(tabs->tabButton(ZMVostrelle::SearchTab)->geometry().right(), 1000) << "the tab bar follows the width";

    // ---- Ctrl+F: Search, its field focused; a row's menu queues and takes out.
    press(Qt::Key_F, Qt::ControlModifier);
    ASSERT_EQ(tabs->selectedIndex(), ZMVostrelle::SearchTab);
    auto* search = qobject_cast<SearchViewController*>(
        qobject_cast<UINavigationController*>(tabs->selectedViewController())->viewControllers().front());
    ASSERT_NE(search, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->searchBar()->hasFocus(); })) << "Ctrl+F focuses the field";
    QTest::keyClicks(search->searchBar(), "Bravo");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->packages() && !search->packages()->identifiers.empty(); }))
        << "field '" << search->searchBar()->text().toStdString() << "'";
    PackageCell* row = rowOf(search->packagesTableView(), "org.jane.bravo");
    ASSERT_NE(row, nullptr);
    QMenu* menu = rightClick(row, row->rect().center());
    EXPECT_EQ(entries(menu), QStringList{"Queue"});
    chooseMenuEntry(menu, "Queue");
    ASSERT_TRUE(GuiTest::waitUntil([] { return queued("org.jane.bravo"); }));
    row = rowOf(search->packagesTableView(), "org.jane.bravo");
    menu = rightClick(row, row->rect().center());
    EXPECT_EQ(entries(menu), QStringList{"Remove"}) << "a queued row offers to take it out";
    chooseMenuEntry(menu, "Remove");
    ASSERT_TRUE(GuiTest::waitUntil([] { return !queued("org.jane.bravo"); }));

    // ---- a wide list: the rows and the index follow the width; the menu's picture.
    auto* list = openAllPackages();
    ASSERT_NE(list, nullptr);
    UITableView* table = list->packagesTableView();
    row = rowOf(table, "org.jane.charlie");
    ASSERT_NE(row, nullptr);
    EXPECT_GT(row->width(), 1100) << "the rows follow the width";
    ASSERT_FALSE(list->sectionIndexTitles(table).isEmpty());
    for (int s = 0; s < table->numberOfSections(); ++s) {
        if (auto* cell = table->cellForRow({s, 0})) {
            EXPECT_LE(cell->geometry().right(), table->viewport()->width() - 18) << "the A–Z index covers no row's end";
        }
    }
    table->verticalScrollBar()->setValue(0);
    GuiTest::pump();
    screenshot("desktop-wide-list.png");
    row = rowOf(table, "org.jane.charlie");
    menu = rightClick(row, QPoint(row->width() / 2, row->height() / 2));
    ASSERT_NE(menu, nullptr);
    screenshotWithMenu("desktop-context-menu.png", menu);
    chooseMenuEntry(menu, "Queue");
    ASSERT_TRUE(GuiTest::waitUntil([] { return queued("org.jane.charlie"); }));

    // ---- a package's page: a readable column; its Get button's menu; back by key and by mouse.
    row = rowOf(table, "org.jane.lens");
    ASSERT_NE(row, nullptr);
    click(row);
    auto* nav = list->navigationController();
    auto* page = qobject_cast<PackageDetailsViewController*>(nav->topViewController());
    ASSERT_NE(page, nullptr);
    GuiTest::pump(std::chrono::milliseconds(300));
    QWidget* column = page->scrollView()->widget();
    EXPECT_EQ(column->width(), PackageDetailsViewController::kReadableWidth) << "the text keeps a readable measure";
    EXPECT_NEAR(column->geometry().center().x(), page->scrollView()->viewport()->width() / 2, 2) << "centred";
    EXPECT_FALSE(page->findChild<QWidget*>("changelogSection")->isVisible()) << "no changelog: no What's New block";
    screenshot("desktop-wide-details.png");
    choose(page->getBtn(), "Queue");
    ASSERT_TRUE(GuiTest::waitUntil([] { return queued("org.jane.lens"); })) << "queued from its page by the mouse";
    menu = rightClick(page->getBtn(), page->getBtn()->rect().center());
    EXPECT_EQ(entries(menu), QStringList{"Remove"});
    chooseMenuEntry(menu, "Remove");
    ASSERT_TRUE(GuiTest::waitUntil([] { return !queued("org.jane.lens"); })) << "taken out from its page by the mouse";
    choose(page->getBtn(), "Queue");
    ASSERT_TRUE(GuiTest::waitUntil([] { return queued("org.jane.lens"); }));
    press(Qt::Key_Left, Qt::AltModifier, page);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return nav->topViewController() == list; })) << "Alt+Left goes back";
    row = rowOf(table, "org.jane.delta");
    click(row);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return qobject_cast<PackageDetailsViewController*>(nav->topViewController()); }));
    QTest::mouseClick(nav->topViewController(), Qt::BackButton);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return nav->topViewController() == list; })) << "the mouse's back button goes back";

    // ---- the queue: its rows (a dependency among them) have the swipe's menu; Ctrl+W closes it.
    PackagesConfirmationViewController::setResolver([](std::vector<ZMQueueItem> items, auto done) {
        ZMDryRunResult result;
        for (const auto& item : items) {
            ZMDependencyDescription d;
            d.identifier = item.identifier;
            d.operation = ZMDependencyOperation::Install;
            d.version = "1.0";
            result.allPackagesToInstall.push_back(d);
        }
        ZMDependencyDescription dependency;
        dependency.identifier = "org.jane.alpha";
        dependency.operation = ZMDependencyOperation::Install;
        dependency.version = "1.0";
        result.allPackagesToInstall.push_back(dependency);
        result.additionalPackages.push_back(dependency);
        done(ZMResult<ZMDryRunResult>::success(std::move(result)));
    });
    ASSERT_TRUE(GuiTest::waitUntil([&] { return d.statusView() && d.statusView()->isVisible(); }));
    click(d.statusView());
    PackagesConfirmationViewController* confirmation = nullptr;
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        auto* sheet = qobject_cast<UINavigationController*>(top());
        confirmation = sheet ? qobject_cast<PackagesConfirmationViewController*>(sheet->topViewController()) : nullptr;
        return confirmation && !confirmation->sections().empty();
    }));
    auto rowFor = [&](const std::string& id) -> std::optional<IndexPath> {
        const auto& sections = confirmation->sections();
        for (int s = 0; s < static_cast<int>(sections.size()); ++s)
            for (int r = 0; r < static_cast<int>(sections[s].rows.size()); ++r)
                if (sections[s].rows[r].identifier == id) return IndexPath{s, r};
        return std::nullopt;
    };
    ASSERT_TRUE(rowFor("org.jane.alpha")) << "the dependency is listed";
    const auto lensRow = rowFor("org.jane.lens");
    ASSERT_TRUE(lensRow);
    UITableView* queueTable = confirmation->tableView();
    queueTable->scrollToRow(*lensRow, UITableView::ScrollPosition::Middle, false);
    GuiTest::pump();
    choose(queueTable->cellForRow(*lensRow), "Remove from Queue");
    ASSERT_TRUE(GuiTest::waitUntil([] { return !queued("org.jane.lens"); })) << "taken out from the queue's row";
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !rowFor("org.jane.lens"); }));
    EXPECT_TRUE(queued("org.jane.charlie"));
    press(Qt::Key_W, Qt::ControlModifier);
    ASSERT_TRUE(backAtTheWindow()) << "Ctrl+W closes the sheet as its Cancel does";

    // ---- sources: Info, Refresh by F5, Remove by Delete.
    auto* manageNav = selectTab(ZMVostrelle::ManageTab);
    manageNav->popToRootViewController(false);
    auto* manage = qobject_cast<ManageViewController*>(manageNav->topViewController());
    ASSERT_NE(manage, nullptr);
    UITableView* sources = manage->sourcesTableView();
    std::optional<IndexPath> ours;
    for (int r = 0; r < sources->numberOfRows(0) && !ours; ++r) {
        sources->scrollToRow({0, r}, UITableView::ScrollPosition::Middle, false);
        GuiTest::pump();
        if (auto* cell = qobject_cast<SourcesCell*>(sources->cellForRow({0, r})))
            if (cell->descriptionLbl->text().contains("127.0.0.1") || cell->nameLbl->text() == "Jane's Repo") ours = IndexPath{0, r};
    }
    ASSERT_TRUE(ours) << "the loopback source's row";
    menu = rightClick(sources->cellForRow(*ours), sources->cellForRow(*ours)->rect().center());
    EXPECT_EQ(entries(menu).mid(0, 3), (QStringList{"Remove", "Refresh", "Info"})) << "the swipe's actions, in its order";
    chooseMenuEntry(menu, "Info");
    SourceViewController* info = nullptr;
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        auto* sheet = qobject_cast<UINavigationController*>(top());
        info = sheet ? qobject_cast<SourceViewController*>(sheet->topViewController()) : nullptr;
        return info != nullptr;
    }));
    press(Qt::Key_W, Qt::ControlModifier);
    ASSERT_TRUE(backAtTheWindow()) << "Ctrl+W closes the source's page";

    // F5 starts nothing while a refresh runs: wait for the one the launch may still be running.
    ASSERT_TRUE(GuiTest::waitUntil([] { return !ZMRPackageManager::sharedPackageManager().sources().isRefreshInProgress(); },
                                   std::chrono::seconds(60)));
    const size_t fetchedBefore = server->count("Packages") + server->count("Packages.gz") + server->count("Release");
    press(Qt::Key_F5);
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        return server->count("Packages") + server->count("Packages.gz") + server->count("Release") > fetchedBefore;
    }, std::chrono::seconds(30))) << "F5 refreshes the sources";
    GuiTest::waitUntil([] { return ZMPipelineManager::sharedManager().liveTaskCount() == 0; }, std::chrono::seconds(30));

    // Back to a phone's width: a long name ends with an ellipsis and shows whole on hover.
    resizeTo(460, 960);
    EXPECT_EQ(window()->size(), QSize(460, 960));
    list = openAllPackages();
    ASSERT_NE(list, nullptr);
    row = rowOf(list->packagesTableView(), "org.jane.lens");
    ASSERT_NE(row, nullptr);
    GuiTest::pump(std::chrono::milliseconds(100));
    EXPECT_EQ(row->nameLbl()->text(), kLongName) << "the label keeps the whole name";
    EXPECT_TRUE(UILabelElision::isElided(row->nameLbl()));
    EXPECT_TRUE(UILabelElision::shownText(row->nameLbl()).endsWith(QChar(0x2026)));
    QHelpEvent hover(QEvent::ToolTip, QPoint(5, 5), row->nameLbl()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(row->nameLbl(), &hover);
    EXPECT_EQ(QToolTip::text(), kLongName) << "hovering shows the whole name";
    QToolTip::hideText();

    // Delete on the highlighted source row does what the swipe's Remove does.
    manageNav = selectTab(ZMVostrelle::ManageTab);
    manageNav->popToRootViewController(false);
    for (int r = 0; r <= ours->row; ++r) press(Qt::Key_Down, Qt::NoModifier, sources);
    press(Qt::Key_Delete, Qt::NoModifier, sources);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !ZMRSource::objectForPrimaryKey(repository()).has_value(); },
                                   std::chrono::seconds(30)))
        << "Delete removes the highlighted source";

    // Ctrl+Q: the window closes, which ends the program.
    press(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(GuiTest::waitUntil([] { return !window()->isVisible(); })) << "Ctrl+Q closes the window";
}

TEST_F(DesktopRoad, TheNextStartOpensTheWindowWhereItWasLeft) {
    // Within the offscreen screen (800×600), so nothing is moved or shrunk.
    auto& preferences = VostrellePersistentPreferences::sharedInstance();
    preferences.setValue(VostrellePreferenceKey::WindowGeometry, {{"x", 40}, {"y", 0}, {"width", 700}, {"height", 600}});
    ASSERT_TRUE(preferences.saveToFile());
    VostrellePersistentPreferences::resetForTesting();
    ASSERT_TRUE(ZMApplication::start({}));
    auto& d = ZMVostrelle::sharedVostrelle();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return d.backgroundLaunchWorkDone(); }, std::chrono::seconds(30)));
    // The size exactly; the place up to the few pixels a platform may move a new window by.
    const QRect g = d.window()->geometry();
    EXPECT_EQ(g.size(), QSize(700, 600));
    EXPECT_NEAR(g.x(), 40, 4);
    EXPECT_NEAR(g.y(), 0, 4);
}

}  // namespace
