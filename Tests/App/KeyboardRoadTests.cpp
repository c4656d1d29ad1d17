// The keyboard as a desktop user has it, from the launch: keys go to the
// window and reach whatever has the focus, never a widget the test picks.
//   - a list opened by the mouse (Sections → All Packages) has the focus;
//     Up/Down/Page Down/Home/End move the highlighted row, which stays whole
//     below the pinned section header; the first Down after a click goes on
//     from the clicked row; Return opens the row; Alt+Left goes back from a
//     package's page whatever has the focus there; Tab draws a focus ring;
//     in Search, Tab from the field stops on the results list, and Down in
//     the field moves to the first result;
//   - Return presses the default button of popups, alerts and the first
//     run's screens; Esc closes the Add Source sheet;
//   - keys after the screen changed under them: the queue bar coming or
//     going keeps the highlighted row and keeps it in view (and Delete on a
//     package row neither queues nor takes out); a click on a page's heart
//     leaves the page its scrolling keys (End its bottom, Home its top);
//     Return opens the developer card Tab focused; Esc closes the sheet of a
//     "vostrelle://show" link; Alt+Left and the mouse's back button go back
//     inside a web depiction before they leave it;
//   - the queue bar stays above the tab bar however the window is resized.
#include <QClipboard>
#include <QGuiApplication>
#include <QScrollBar>
#include <QTest>
#include <functional>
#include <thread>

#include "App/LaunchFixture.h"
#include "Browsing/CategoriesTableViewController.h"
#include "Browsing/ManageViewController.h"
#include "Browsing/PackagesTableViewController.h"
#include "Browsing/SearchViewController.h"
#include "Browsing/SourceViewController.h"
#include "Database/ZMRSource.h"
#include "Details/ContactDeveloperViewController.h"
#include "Details/PackageDetailsViewController.h"
#include "Details/PackageDeveloperCard.h"
#include "Details/RemoteWebView.h"
#include "Details/WebDepictionViewController.h"
#include "InitViewController.h"
#include "PackageCell.h"
#include "UIKit/UIAlertController.h"
#include "UIKit/UIScrollView.h"
#include "ZMAPTSourcesImport.h"
#include "ZMSingleInstance.h"
#include "ZMTabBarStatusView.h"

namespace {

using namespace UserGesture;

const char* const kWords[] = {"Alpha", "Bravo", "Charlie", "Delta", "Echo", "Foxtrot", "Golf", "Hotel", "India", "Juliett"};

// Ten packages a letter: ten sections of All Packages, each with its pinned header.
std::string manyPackages() {
    std::string text;
    for (const char* word : kWords)
        for (int n = 1; n <= 10; ++n) {
            const std::string number = (n < 10 ? "0" : "") + std::to_string(n);
            const std::string id = "org.keys." + QString(word).toLower().toStdString() + number;
            text += "Package: " + id + "\nName: " + word + " " + number +
                    "\nVersion: 1.0\nSection: Tweaks\nMaintainer: Kay <kay@example.com>\nArchitecture: all\nDescription: " +
                    word + " " + number + " for the keys.\n\n";
        }
    return text;
}

class KeyboardRoad : public Launch::RepositoryFixture {
protected:
    void SetUp() override {
        RepositoryFixture::SetUp();
        serveRepository(manyPackages(), "Keys Repo");
        serveRepository(Launch::stanza("org.second.one", "Second One", "Kay"), "Second Repo", "second");
    }

    static void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        UserGesture::press(window(), key, modifiers);
    }
    // The one highlighted row on screen.
    static std::optional<IndexPath> highlighted(UITableView* table) {
        std::optional<IndexPath> found;
        int count = 0;
        for (UITableViewCell* cell : table->visibleCells())
            if (cell->isVisible() && cell->isHighlighted()) {
                found = table->indexPathForCell(cell);
                ++count;
            }
        return count == 1 ? found : std::nullopt;
    }
    // The highlighted row shows whole, below its section's pinned header.
    static ::testing::AssertionResult highlightedAndWhole(UITableView* table, IndexPath expected) {
        const auto row = highlighted(table);
        if (!row) return ::testing::AssertionFailure() << "no single highlighted row on screen";
        if (*row != expected)
            return ::testing::AssertionFailure() << "row " << row->section << "." << row->row << " is highlighted, not "
                                                 << expected.section << "." << expected.row;
        const QRect cell = table->cellForRow(*row)->geometry();
        if (cell.top() < 0 || cell.bottom() >= table->viewport()->height())
            return ::testing::AssertionFailure() << "the row is cut off by the list's edge (" << cell.top() << ".."
                                                 << cell.bottom() << ")";
        QWidget* header = table->headerViewForSection(row->section);
        if (header && header->isVisible() && header->geometry().bottom() >= cell.top())
            return ::testing::AssertionFailure() << "the row is under the pinned header (header ends at "
                                                 << header->geometry().bottom() << ", row starts at " << cell.top() << ")";
        return ::testing::AssertionSuccess();
    }
    // The row is drawn highlighted: its background, beside the row's content,
    // differs from that of the nearest row wholly on screen, which is drawn plain.
    static ::testing::AssertionResult drawnHighlighted(UITableView* table, IndexPath row) {
        UITableViewCell* cell = table->cellForRow(row);
        if (!cell || !cell->isVisible()) return ::testing::AssertionFailure() << "the row is not on screen";
        UITableViewCell* other = nullptr;
        for (UITableViewCell* c : table->visibleCells())
            if (c != cell && c->isVisible() && !c->isHighlighted() && !c->isSelected() &&
                table->viewport()->rect().contains(c->geometry()) &&
                (!other || std::abs(c->y() - cell->y()) < std::abs(other->y() - cell->y())))
                other = c;
        if (!other) return ::testing::AssertionFailure() << "no plain row to compare with";
        // As the window shows it, whatever lies under a clear row.
        const QImage shown = window()->grab().toImage();
        const qreal ratio = shown.devicePixelRatio();
        const auto background = [&](UITableViewCell* c) {
            return shown.pixelColor((QPointF(c->mapTo(window(), QPoint(2, c->height() / 2))) * ratio).toPoint());
        };
        const QColor mine = background(cell), plain = background(other);
        if (mine == plain)
            return ::testing::AssertionFailure() << "the highlighted row is drawn like a plain one (" << mine.name().toStdString()
                                                 << ")";
        return ::testing::AssertionSuccess();
    }
    static void wheel(QWidget* widget, int notches) {
        const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
        for (int i = 0; i < std::abs(notches); ++i) {
            QWheelEvent event(at, widget->mapToGlobal(at), {}, QPoint(0, notches > 0 ? -120 : 120), Qt::NoButton, {},
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(widget, &event);
        }
        GuiTest::pump(std::chrono::milliseconds(250));  // the wheel's scroll phase ends
    }
    static QWidget* focusRing() { return window()->findChild<QWidget*>("focusRing"); }
    static bool queued(const std::string& id) {
        auto p = package(id);
        return p && p->isInTheQueue.value_or(false);
    }
    // The queue bar, once it shows (or hides, when `shown` is false).
    static bool queueBarShown(bool shown = true) {
        return GuiTest::waitUntil([shown] { return app().statusView()->isVisible() == shown; });
    }
    // The widget's rectangle in the window's coordinates.
    static QRect inWindow(QWidget* widget) { return QRect(widget->mapTo(window(), QPoint(0, 0)), widget->size()); }
};

TEST_F(KeyboardRoad, AListOpenedByTheMouseAnswersTheKeysAndAltLeftComesBackFromAPage) {
    start(addLink());
    ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource("org.keys.juliett10"));

    auto* list = openAllPackages();
    ASSERT_NE(list, nullptr);
    UITableView* table = list->packagesTableView();
    ASSERT_EQ(table->numberOfSections(), 10);
    EXPECT_TRUE(hasFocusIn(table)) << "the list shown takes the keyboard focus";

    // Down, End, Home, Page Down, Up: the highlighted row moves and stays whole below its header.
    press(Qt::Key_Down);
    EXPECT_TRUE(highlightedAndWhole(table, {0, 0}));
    press(Qt::Key_Down);
    press(Qt::Key_Down);
    EXPECT_TRUE(highlightedAndWhole(table, {0, 2}));
    press(Qt::Key_End);
    const int last = table->numberOfSections() - 1;
    EXPECT_TRUE(highlightedAndWhole(table, {last, table->numberOfRows(last) - 1}));
    press(Qt::Key_Home);
    EXPECT_TRUE(highlightedAndWhole(table, {0, 0}));
    EXPECT_EQ(table->verticalScrollBar()->value(), 0) << "Home shows the top of the list";
    press(Qt::Key_PageDown);
    const auto paged = highlighted(table);
    ASSERT_TRUE(paged);
    EXPECT_GE(paged->section * 10 + paged->row, 6) << "a page is several rows";
    EXPECT_TRUE(highlightedAndWhole(table, *paged));
    // Up from the end over a section's first row: each row shows whole below the header pinned above it.
    press(Qt::Key_End);
    for (int row = 8; row >= 0; --row) {
        press(Qt::Key_Up);
        ASSERT_TRUE(highlightedAndWhole(table, {last, row}));
    }
    press(Qt::Key_Up);
    EXPECT_TRUE(highlightedAndWhole(table, {last - 1, 9}));
    // Page Up and Up bring rows in from above: each shows below the header pinned over the list.
    for (Qt::Key key : {Qt::Key_PageUp, Qt::Key_Up, Qt::Key_Up, Qt::Key_PageUp, Qt::Key_Up, Qt::Key_PageUp}) {
        const int offset = table->verticalScrollBar()->value();
        press(key);
        const auto row = highlighted(table);
        ASSERT_TRUE(row);
        EXPECT_TRUE(highlightedAndWhole(table, *row));
        EXPECT_LE(table->verticalScrollBar()->value(), offset) << "the list scrolls up, if at all";
    }

    // Return opens the highlighted row; on the page, Tab draws a ring around what it focuses.
    const IndexPath opened = *highlighted(table);
    press(Qt::Key_Return);
    auto* nav = list->navigationController();
    auto* page = qobject_cast<PackageDetailsViewController*>(nav->topViewController());
    ASSERT_NE(page, nullptr) << "Return opens the row";
    EXPECT_TRUE(hasFocusIn(page)) << "the page shown takes the keyboard focus";
    press(Qt::Key_Tab);
    press(Qt::Key_Tab);
    QWidget* focused = QApplication::focusWidget();
    ASSERT_NE(focused, nullptr);
    QWidget* ring = focusRing();
    ASSERT_NE(ring, nullptr) << "no focus ring";
    ASSERT_TRUE(GuiTest::waitUntil([&] { return ring->isVisible(); })) << "Tab shows a focus ring";
    const QRect visible = focused->visibleRegion().boundingRect();
    ASSERT_FALSE(visible.isEmpty()) << "Tab focused something out of sight";
    const QRect shown(focused->mapTo(window(), visible.topLeft()), visible.size());
    EXPECT_TRUE(QRect(ring->mapTo(window(), QPoint(0, 0)), ring->size()).contains(shown))
        << "the ring surrounds " << focused->metaObject()->className();
    screenshot("keyboard-focus-ring.png");

    // Alt+Left goes back whatever has the focus on the page; the list has it again, and Down goes on.
    press(Qt::Key_Left, Qt::AltModifier);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return nav->topViewController() == list; })) << "Alt+Left goes back from a page";
    EXPECT_TRUE(hasFocusIn(table));
    EXPECT_FALSE(ring->isVisible()) << "a ring is for what Tab focused";
    press(Qt::Key_Down);
    const IndexPath next = opened.row + 1 < table->numberOfRows(opened.section) ? IndexPath{opened.section, opened.row + 1}
                                                                                  : IndexPath{opened.section + 1, 0};
    EXPECT_TRUE(highlightedAndWhole(table, next));

    // Far down by the wheel, a click opens a row; back by Alt+Left, the first Down goes on from it.
    wheel(table->viewport(), 30);
    ASSERT_GT(table->verticalScrollBar()->value(), 1000);
    std::optional<IndexPath> clicked;
    for (UITableViewCell* cell : table->visibleCells())
        if (cell->geometry().center().y() > table->viewport()->height() / 2 && cell->geometry().bottom() < table->viewport()->height()) {
            clicked = table->indexPathForCell(cell);
            break;
        }
    ASSERT_TRUE(clicked);
    click(table->cellForRow(*clicked));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return qobject_cast<PackageDetailsViewController*>(nav->topViewController()); }));
    press(Qt::Key_Left, Qt::AltModifier);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return nav->topViewController() == list; }));
    press(Qt::Key_Down);
    const IndexPath after = clicked->row + 1 < table->numberOfRows(clicked->section)
                                ? IndexPath{clicked->section, clicked->row + 1}
                                : IndexPath{clicked->section + 1, 0};
    EXPECT_TRUE(highlightedAndWhole(table, after)) << "not the first of all rows";
    screenshot("keyboard-list-highlight.png");

    // Alt+Left from the list itself goes back to Sections.
    press(Qt::Key_Left, Qt::AltModifier);
    EXPECT_TRUE(GuiTest::waitUntil([&] { return qobject_cast<CategoriesTableViewController*>(nav->topViewController()); }))
        << "Alt+Left goes back from a list";

    // Opened again and scrolled by the wheel, nothing clicked: the first Down takes the first row whole on screen.
    list = openAllPackages();
    ASSERT_NE(list, nullptr);
    table = list->packagesTableView();
    wheel(table->viewport(), 30);
    press(Qt::Key_Down);
    const auto first = highlighted(table);
    ASSERT_TRUE(first);
    EXPECT_GT(first->section, 0) << "not the first of all rows";
    EXPECT_TRUE(highlightedAndWhole(table, *first));
    QWidget* pinned = table->headerViewForSection(first->section);
    const int below = pinned && pinned->geometry().top() <= 0 ? pinned->geometry().bottom() : -1;
    EXPECT_LE(table->cellForRow(*first)->geometry().top(), below + 1 + static_cast<int>(PackagesTableViewController::kRowHeight))
        << "the first whole row, not one further down";
}

TEST_F(KeyboardRoad, ReturnPressesTheDefaultButtonAndEscClosesTheAddSourceSheet) {
    start(addLink());
    // The plain-http warning: Return is its Continue.
    ASSERT_NE(waitForPopup(), nullptr);
    press(Qt::Key_Return);
    ASSERT_TRUE(GuiTest::waitUntil([] { return package("org.keys.alpha01").has_value(); }, std::chrono::seconds(60)))
        << "Return continues with the plain-http source";
    GuiTest::waitUntil([] { return ZMPipelineManager::sharedManager().liveTaskCount() == 0; }, std::chrono::seconds(30));
    ASSERT_TRUE(backAtTheWindow());

    // A popup with one button: Return is its OK.
    auto* sectionsNav = selectTab(ZMVostrelle::SectionsTab);
    auto* sections = qobject_cast<CategoriesTableViewController*>(sectionsNav->topViewController());
    ASSERT_NE(sections, nullptr);
    tapRow(sections->defaultCategoriesTableView(), {0, 2});
    ASSERT_TRUE(GuiTest::waitUntil([] { return popupsShown().size() == 1; }));
    ErrorViewController* popup = popupsShown().front();
    EXPECT_EQ(popup->titleLbl()->text(), "Updated Packages");
    // Tab goes round the popup's own buttons, never to the screens under it.
    for (int i = 0; i < 3; ++i) {
        press(Qt::Key_Tab);
        EXPECT_TRUE(hasFocusIn(popup)) << "Tab left the popup for "
                                       << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className() : "nothing");
    }
    const QRect ok(popup->closeBtn()->mapTo(window(), QPoint(0, 0)), popup->closeBtn()->size());
    EXPECT_TRUE(focusRing() && focusRing()->isVisible() && focusRing()->geometry().contains(ok)) << "the ring is around OK";
    press(Qt::Key_Return);
    EXPECT_TRUE(GuiTest::waitUntil([] { return popupsShown().empty(); })) << "Return presses OK";

    // The Add Source sheet: Esc closes it, as its Cancel and Ctrl+W do.
    QGuiApplication::clipboard()->clear();
    auto* manageNav = selectTab(ZMVostrelle::ManageTab);
    auto* manage = qobject_cast<ManageViewController*>(manageNav->topViewController());
    ASSERT_NE(manage, nullptr);
    tapBarButton(manage, "Add");
    SourceViewController* form = nullptr;
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        auto* sheet = qobject_cast<UINavigationController*>(top());
        form = sheet ? qobject_cast<SourceViewController*>(sheet->topViewController()) : nullptr;
        return form && !sheet->isBeingPresented();
    }));
    // A plain-http address typed: Esc is the warning's Cancel, then the sheet's.
    click(form->sourceUrlTextField);
    QTest::keyClicks(QApplication::focusWidget(), "http://127.0.0.1:1/plain/");
    press(Qt::Key_Return);
    ASSERT_TRUE(GuiTest::waitUntil([] { return popupsShown().size() == 1; }));
    press(Qt::Key_Escape);
    ASSERT_TRUE(GuiTest::waitUntil([] { return popupsShown().empty(); }));
    EXPECT_FALSE(ZMRSource::objectForPrimaryKey("http://127.0.0.1:1/plain/").has_value()) << "Esc is Cancel";
    press(Qt::Key_Escape);
    EXPECT_TRUE(backAtTheWindow()) << "Esc closes the Add Source sheet after its warning";

    // An alert: Return is its default action ("Yes", add what the clipboard holds).
    const std::string second = server->url("second/");
    QGuiApplication::clipboard()->setText(QString::fromStdString(second));
    tapBarButton(manage, "Add");
    UIAlertController* alert = nullptr;
    ASSERT_TRUE(GuiTest::waitUntil([&] { return (alert = qobject_cast<UIAlertController*>(top())) != nullptr; }));
    EXPECT_EQ(alert->alertTitle(), "Repositories Detected");
    press(Qt::Key_Return);
    EXPECT_TRUE(GuiTest::waitUntil([] { return package("org.second.one").has_value(); }, std::chrono::seconds(60)))
        << "Return adds the detected repository";
    QGuiApplication::clipboard()->clear();
}

// A suite named ...Road: the reachability test runs its walk too.
class KeyboardFirstRunRoad : public KeyboardRoad {
protected:
    TestSupport::TempDir etc;
    void SetUp() override {
        KeyboardRoad::SetUp();
        withoutTheMakerService();  // a first run without the sign-in step
        // A new user whose APT already uses the loopback repository.
        asANewUser();
        TestSupport::writeFile(etc.file("sources.list"), "deb " + repository() + " ./\n");
        ZMAPTSourcesImport::setEtcDirectory(etc.path());
    }
    void TearDown() override {
        ZMAPTSourcesImport::setEtcDirectory("/etc/apt");
        KeyboardRoad::TearDown();
    }
};

TEST_F(KeyboardFirstRunRoad, ReturnTakesANewUserThroughTheFirstRun) {
    start();
    ASSERT_NE(waitForTop<InitViewController>(), nullptr);
    press(Qt::Key_Return);
    ASSERT_NE(waitForTop<DarkmodeViewController>(), nullptr) << "Return is the welcome's Continue";
    press(Qt::Key_Return);
    auto* import = waitForTop<RepoTransferViewController>();
    ASSERT_NE(import, nullptr) << "Return is the theme's Continue";
    ASSERT_EQ(import->locations(), std::vector<std::string>{repository()});
    press(Qt::Key_Return);
    ASSERT_TRUE(backAtTheWindow()) << "Return is the import's Done";
    EXPECT_TRUE(GuiTest::waitUntil([] { return package("org.keys.alpha01").has_value(); }, std::chrono::seconds(60)))
        << "the imported source was added and refreshed";
}

// ---- keys after the screen changed under them ----------------------------------------

// End, Return, GET on the page, Alt+Left: the queue bar came meanwhile and the
// list is shorter. The highlighted row is the same one and whole on screen, and
// Up goes on from it, not from the top of the screen; so when the bar comes or
// goes while the list is shown.
TEST_F(KeyboardRoad, TheHighlightedRowStaysTheSameAndInViewWhenTheQueueBarComesOrGoes) {
    start(addLink());
    ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource("org.keys.juliett10"));
    auto* list = openAllPackages();
    ASSERT_NE(list, nullptr);
    UITableView* table = list->packagesTableView();
    auto* nav = list->navigationController();
    ZMTabBarStatusView* bar = app().statusView();
    ASSERT_FALSE(bar->isVisible());
    // The list ends above the queue bar: a row under it would be hidden.
    const auto listEndsAboveTheBar = [&] { return inWindow(table->viewport()).bottom() < inWindow(bar).top(); };

    press(Qt::Key_End);
    ASSERT_TRUE(highlightedAndWhole(table, {9, 9}));
    press(Qt::Key_Return);
    auto* page = qobject_cast<PackageDetailsViewController*>(nav->topViewController());
    ASSERT_NE(page, nullptr);
    const int reads = list->rebuildCount();
    click(page->getBtn());
    ASSERT_TRUE(GuiTest::waitUntil([] { return queued("org.keys.juliett10"); }));
    ASSERT_TRUE(queueBarShown()) << "the queue bar comes";
    press(Qt::Key_Left, Qt::AltModifier);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return nav->topViewController() == list && list->rebuildCount() > reads; }))
        << "back on the list, read again with the queued package";
    GuiTest::pump(std::chrono::milliseconds(100));
    EXPECT_TRUE(listEndsAboveTheBar());
    EXPECT_TRUE(highlightedAndWhole(table, {9, 9})) << "after the bar came while the page was shown";
    screenshot("keyboard-highlight-after-queue-bar.png");
    press(Qt::Key_Up);
    EXPECT_TRUE(highlightedAndWhole(table, {9, 8})) << "Up goes on from the highlighted row";

    // The bar goes (the last row's menu takes the package out) and comes again
    // (the highlighted row's menu queues it), the list on screen. Delete on
    // the highlighted row changes nothing: a package row's Queue and Remove
    // are not destructive.
    struct Step {
        const char* what;
        IndexPath row;
        const char* entry;  // nullptr: Delete
        bool barShown;
    } steps[] = {
        {"the bar goes", {9, 9}, "Remove", false},
        {"Delete does not queue", {9, 8}, nullptr, false},
        {"the bar comes", {9, 8}, "Queue", true},
        {"Delete does not take out of the queue", {9, 8}, nullptr, true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        auto* cell = qobject_cast<PackageCell*>(table->cellForRow(step.row));
        ASSERT_NE(cell, nullptr) << "the row is not on screen";
        if (step.entry) {
            ASSERT_NO_FATAL_FAILURE(chooseMenuEntry(rightClick(cell, cell->rect().center()), step.entry));
        } else {
            press(Qt::Key_Delete);
            GuiTest::pump(std::chrono::milliseconds(200));
        }
        EXPECT_EQ(queued(cell->packageIdentifier()), step.barShown);
        ASSERT_TRUE(queueBarShown(step.barShown));
        GuiTest::pump(std::chrono::milliseconds(100));
        if (step.barShown) {
            EXPECT_TRUE(listEndsAboveTheBar());
        }
        EXPECT_TRUE(highlightedAndWhole(table, {9, 8}));
    }
    press(Qt::Key_Down);
    EXPECT_TRUE(highlightedAndWhole(table, {9, 9}));
}

// A click on the page's heart leaves the page its keys: Page Down and Down
// scroll it, End and Home reach its bottom and top. Tab to the developer
// card and Return opens it, as a click does.
TEST_F(KeyboardRoad, APageKeepsItsKeysAfterTheHeartAndReturnOpensTheDeveloperCard) {
    start(addLink());
    ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource("org.keys.juliett10"));
    window()->resize(460, 700);  // a page longer than the window
    auto* list = openAllPackages();
    ASSERT_NE(list, nullptr);
    tapRow(list->packagesTableView(), {1, 0});
    auto* nav = list->navigationController();
    auto* page = qobject_cast<PackageDetailsViewController*>(nav->topViewController());
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->isOnScreen(); }));
    QScrollBar* scroll = page->scrollView()->verticalScrollBar();
    ASSERT_GT(scroll->maximum(), 300) << "the page does not scroll";

    ASSERT_NE(page->wishlistBtn(), nullptr);
    click(page->wishlistBtn()->buttonWidget());
    ASSERT_TRUE(GuiTest::waitUntil([] { return package("org.keys.bravo01")->isInWishlist.value_or(false); }));
    for (Qt::Key key : {Qt::Key_PageDown, Qt::Key_Down, Qt::Key_PageDown}) {
        const int before = scroll->value();
        press(key);
        EXPECT_TRUE(GuiTest::waitUntil([&] { return scroll->value() > before; }))
            << QKeySequence(key).toString().toStdString() << " does not scroll the page after the heart";
    }
    // Home goes to the page's top, End to its bottom, and Home back.
    const std::pair<Qt::Key, bool> keys[] = {{Qt::Key_Home, false}, {Qt::Key_End, true}, {Qt::Key_Home, false}};
    for (const auto& [key, end] : keys) {
        press(key);
        EXPECT_TRUE(GuiTest::waitUntil([&, end = end] { return scroll->value() == (end ? scroll->maximum() : 0); }))
            << QKeySequence(key).toString().toStdString() << " does not reach the page's " << (end ? "bottom" : "top");
    }

    // Tab to the developer card (the ring shows it), then Return.
    PackageDeveloperCard* card = page->developerCard();
    for (int i = 0; i < 60 && !hasFocusIn(card); ++i) press(Qt::Key_Tab);
    ASSERT_TRUE(hasFocusIn(card)) << "Tab never reaches the developer card";
    screenshot("keyboard-developer-card-focused.png");
    press(Qt::Key_Return);
    EXPECT_TRUE(GuiTest::waitUntil([&] { return qobject_cast<ContactDeveloperViewController*>(nav->topViewController()); }))
        << "Return does not open the focused developer card";
}

// Return on a highlighted row, then Alt+Left: the list that comes back has the
// keyboard again, with the row it opened highlighted on screen; Down goes on
// from it and Return opens the next. Search's results list (reached by Tab
// or Down from its field), All Packages and a category of Sections (whose
// group folds open and shut with its fades on the way, logging no painter
// warning); typing in Search's list goes on in its field.
TEST_F(KeyboardRoad, AListComesBackFromAPageWithTheKeysAndItsHighlightedRowDrawn) {
    serveRepository(manyPackages() + Launch::stanza("org.keys.walkabout", "Walkabout", "Kay") +
                        Launch::stanza("org.keys.walker", "Walker", "Kay") +
                        Launch::stanza("org.keys.walkie", "Walkie Talkie", "Kay"),
                    "Keys Repo");
    start(addLink());
    ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource("org.keys.walkie"));

    SearchViewController* search = nullptr;
    // Ctrl+F, "walk" typed: the field has the keys, the three results are listed.
    const auto searchForWalk = [&]() -> UITableView* {
        press(Qt::Key_F, Qt::ControlModifier);
        auto* nav = qobject_cast<UINavigationController*>(app().tabBarController()->selectedViewController());
        search = nav ? qobject_cast<SearchViewController*>(nav->viewControllers().front()) : nullptr;
        if (!search || !GuiTest::waitUntil([&] { return search->searchBar()->hasFocus(); })) return nullptr;
        for (char c : std::string("walk")) QTest::keyClick(window()->windowHandle(), c);
        UITableView* results = search->packagesTableView();
        return GuiTest::waitUntil([&] { return results->visibleCells().size() == 3; }) ? results : nullptr;
    };
    struct Case {
        const char* what;
        std::function<UITableView*()> reachTheList;  // by keys, or by the mouse
        std::vector<Qt::Key> toTheFirstRow;          // Walkabout, above Walker
        const char* screenshot;
    } cases[] = {
        // Tab's first stop after the field is the list, which takes the keys.
        {"Search, by Tab from its field",
         [&]() -> UITableView* {
             UITableView* results = searchForWalk();
             if (results) press(Qt::Key_Tab);
             return results;
         },
         {Qt::Key_Down}, "keyboard-search-back-from-a-page.png"},
        // Down in the field: the first result, wherever the keys left the list before.
        {"Search, by Down from its field",
         [&]() -> UITableView* {
             UITableView* results = searchForWalk();
             if (results) press(Qt::Key_Down);
             return results;
         },
         {}, "keyboard-search-down-from-the-field.png"},
        {"All Packages",
         [&]() -> UITableView* {
             auto* list = openAllPackages();
             return list ? list->packagesTableView() : nullptr;
         },
         {Qt::Key_End, Qt::Key_Up, Qt::Key_Up}, "keyboard-all-packages-back-from-a-page.png"},
        {"a category, from Sections",
         [&]() -> UITableView* {
             auto* nav = selectTab(ZMVostrelle::SectionsTab);
             nav->popToRootViewController(false);
             auto* sections = qobject_cast<CategoriesTableViewController*>(nav->topViewController());
             if (!sections) return nullptr;
             const auto rowOf = [&](const std::string& entry) -> std::optional<IndexPath> {
                 const auto& rows = sections->otherPackagesCategories();
                 const auto it = std::find(rows.begin(), rows.end(), entry);
                 if (it == rows.end()) return std::nullopt;
                 return IndexPath{0, static_cast<int>(it - rows.begin())};
             };
             if (!GuiTest::waitUntil([&] { return rowOf("Tweaks   ").has_value(); })) return nullptr;
             // The group folds open, shut and open again, its rows fading in and out.
             UIView::setAnimationsEnabled(true);
             GuiTest::QtWarnings warnings;
             for (int click = 0; click < 3; ++click) {
                 tapRow(sections->otherCategoriesTableView(), *rowOf("Tweaks   "));
                 GuiTest::pump(std::chrono::milliseconds(400));
             }
             UIView::setAnimationsEnabled(false);
             EXPECT_TRUE(warnings.messages().isEmpty()) << warnings.summary();
             screenshot("keyboard-sections-group-open.png");
             const auto category = rowOf("Tweaks");
             if (!category) return nullptr;
             tapRow(sections->otherCategoriesTableView(), *category);
             auto* list = qobject_cast<SubcategoriesViewController*>(nav->topViewController());
             if (!list || !GuiTest::waitUntil([&] {
                     return list->packageSections().numberOfSections() > 0 &&
                            !list->subcategoriesAndPackagesTableView()->visibleCells().empty();
                 }))
                 return nullptr;
             return list->subcategoriesAndPackagesTableView();
         },
         {Qt::Key_End, Qt::Key_Up, Qt::Key_Up}, "keyboard-category-back-from-a-page.png"},
    };
    // One walk per list; a list that fails leaves the next its walk.
    const auto walk = [&](const Case& c) {
        UITableView* table = c.reachTheList();
        ASSERT_NE(table, nullptr);
        ASSERT_TRUE(hasFocusIn(table)) << "the keys do not reach the list";
        auto* nav = qobject_cast<UINavigationController*>(app().tabBarController()->selectedViewController());
        ASSERT_NE(nav, nullptr);
        UIViewController* list = nav->topViewController();
        for (Qt::Key key : c.toTheFirstRow) press(key);
        const auto first = highlighted(table);
        ASSERT_TRUE(first) << "the keys highlight no row";
        const IndexPath second{first->section, first->row + 1};
        for (const auto& [row, identifier] : {std::pair{*first, "org.keys.walkabout"}, std::pair{second, "org.keys.walker"}}) {
            press(Qt::Key_Return);
            auto* page = qobject_cast<PackageDetailsViewController*>(nav->topViewController());
            ASSERT_NE(page, nullptr) << "Return opens no page";
            EXPECT_EQ(page->packageIdentifier(), identifier);
            press(Qt::Key_Left, Qt::AltModifier);
            ASSERT_TRUE(GuiTest::waitUntil([&] { return nav->topViewController() == list; })) << "Alt+Left goes back";
            GuiTest::pump(std::chrono::milliseconds(100));
            EXPECT_TRUE(hasFocusIn(table)) << "the list did not get the keyboard back; it is with "
                                           << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className()
                                                                           : "nothing");
            EXPECT_EQ(highlighted(table), row) << "the opened row is no longer the highlighted one";
            EXPECT_TRUE(drawnHighlighted(table, row));
            if (row == *first) {
                press(Qt::Key_Down);
                EXPECT_EQ(highlighted(table), second) << "Down does not go on from the opened row";
                EXPECT_TRUE(drawnHighlighted(table, second));
            }
        }
        screenshot(c.screenshot);
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        walk(c);
    }

    // Typing in Search's results list goes on in its field.
    ASSERT_NE(search, nullptr);
    press(Qt::Key_F, Qt::ControlModifier);
    QWidget* results = search->packagesTableView();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->searchBar()->hasFocus(); }));
    for (int i = 0; i < 2 && !hasFocusIn(results); ++i) press(Qt::Key_Tab);
    ASSERT_TRUE(hasFocusIn(results));
    QTest::keyClick(window()->windowHandle(), 'e');
    EXPECT_TRUE(search->searchBar()->hasFocus()) << "typing does not reach the field";
    EXPECT_EQ(search->searchBar()->text(), "walke");
    EXPECT_TRUE(GuiTest::waitUntil([&] { return search->packages() && search->packages()->total == 1; }))
        << "the typed text is not searched";
}

// The sheet of a package that a "vostrelle://show" link opened (the desktop
// hands the link to the running program): Esc closes it, as Ctrl+W and its
// Close do.
TEST_F(KeyboardRoad, EscAndCtrlWCloseThePackageSheetOfAShowLink) {
    start(addLink());
    ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource("org.keys.bravo02"));
    struct Case {
        const char* what;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    } cases[] = {
        {"Esc", Qt::Key_Escape, Qt::NoModifier},
        {"Ctrl+W", Qt::Key_W, Qt::ControlModifier},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        bool handed = false;
        // A link clicked in a browser: a second start hands it over and waits for the answer.
        std::thread desktop([&handed] { handed = ZMSingleInstance().handOver({"vostrelle://show/bundleid=org.keys.bravo02"}); });
        PackageDetailsViewController* page = nullptr;
        const bool shown = GuiTest::waitUntil([&] {
            auto* sheet = qobject_cast<UINavigationController*>(top());
            page = sheet ? qobject_cast<PackageDetailsViewController*>(sheet->topViewController()) : nullptr;
            return page && !sheet->isBeingPresented() && page->isOnScreen();
        });
        desktop.join();
        ASSERT_TRUE(handed);
        ASSERT_TRUE(shown) << "the link shows no package sheet";
        EXPECT_EQ(page->packageIdentifier(), "org.keys.bravo02");
        EXPECT_TRUE(hasFocusIn(page)) << "the sheet takes the keyboard focus";
        press(c.key, c.modifiers);
        EXPECT_TRUE(backAtTheWindow()) << c.what << " does not close the package sheet";
    }
}

// In a package's web page, Alt+Left and the mouse's back button go back in the
// page first, and leave the page only once it has no page to go back to.
TEST_F(KeyboardRoad, BackInAWebDepictionGoesBackInThePageBeforeLeavingIt) {
    server->route("repo/page.html", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<html><body style='margin:0'><a href='next.html' style='display:block;height:80px;background:#2050d0'>"
                        "Next</a><p>The depiction</p></body></html>",
                        "text/html");
    });
    server->route("repo/next.html", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<html><body style='margin:0;background:#ffe000'><p>Further in</p></body></html>", "text/html");
    });
    serveRepository(manyPackages() + Launch::stanza("org.keys.web", "Web Page", "Kay <kay@example.com>",
                                                    "Depiction: " + server->url("repo/page.html") + "\n"),
                    "Keys Repo");
    start(addLink());
    ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource("org.keys.web"));
    auto* packages = openTheSourceShowingOriginalDepictions();
    ASSERT_NE(packages, nullptr);
    auto* nav = packages->navigationController();
    UIViewController* source = nav->topViewController();
    auto* web = qobject_cast<WebDepictionViewController*>(openPackage(packages, "org.keys.web"));
    ASSERT_NE(web, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return web->webView() != nullptr; }, std::chrono::seconds(30)));
    // Gone with the screen, if a key leaves it.
    QPointer<RemoteWebView> view = web->webView();
    const auto on = [&](const char* page) { return view && view->url().path().endsWith(page); };
    // The link in the page, once it is drawn.
    const auto linkShown = [&] {
        if (!view) return false;
        const QImage& f = view->frame();
        const QPoint pixel = QPoint(30, 40) * f.devicePixelRatio();
        return on("page.html") && f.rect().contains(pixel) && QColor(f.pixel(pixel)) == QColor("#2050d0");
    };

    struct Case {
        const char* what;
        std::function<void(RemoteWebView*)> back;
    } cases[] = {
        {"Alt+Left", [](RemoteWebView*) { press(Qt::Key_Left, Qt::AltModifier); }},
        {"the mouse's back button", [](RemoteWebView* over) { QTest::mouseClick(over, Qt::BackButton, {}, QPoint(30, 200)); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(GuiTest::waitUntil(linkShown, std::chrono::seconds(60))) << "no link shown";
        QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(30, 40));
        ASSERT_TRUE(GuiTest::waitUntil([&] { return on("next.html"); }, std::chrono::seconds(20))) << "the link was not followed";
        GuiTest::pump(std::chrono::milliseconds(300));
        c.back(view);
        EXPECT_TRUE(GuiTest::waitUntil([&] { return on("page.html"); }, std::chrono::seconds(20)))
            << c.what << " does not go back in the page";
        EXPECT_EQ(nav->topViewController(), web) << c.what << " left the package's page";
        if (nav->topViewController() != web) return;  // nothing left to walk
    }
    screenshot("keyboard-web-depiction-back.png");
    // Nothing to go back to in the page (opened again after the first): each leaves it.
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (nav->topViewController() != web) {
            web = qobject_cast<WebDepictionViewController*>(openPackage(packages, "org.keys.web"));
            ASSERT_NE(web, nullptr);
            ASSERT_TRUE(GuiTest::waitUntil([&] { return web->webView() != nullptr; }, std::chrono::seconds(30)));
            view = web->webView();
        }
        ASSERT_TRUE(GuiTest::waitUntil(linkShown, std::chrono::seconds(60))) << "no link shown";
        GuiTest::pump(std::chrono::milliseconds(300));
        c.back(view);
        EXPECT_TRUE(GuiTest::waitUntil([&] { return nav->topViewController() == source; })) << c.what << " does not leave the page";
    }
}

// ---- the window's size ------------------------------------------------------------------

// The queue bar shown, the window resized at once from wide to narrow (and
// shorter), and back: the bar stays just above the tab bar, inside the window,
// and the screen above it ends where the bar's strip begins.
TEST_F(KeyboardRoad, TheQueueBarFollowsTheWindowWhenItIsResized) {
    start(addLink());
    ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource("org.keys.alpha01"));
    auto* list = openAllPackages();
    ASSERT_NE(list, nullptr);
    UITableView* table = list->packagesTableView();
    QMenu* menu = rightClick(table->cellForRow({0, 0}), table->cellForRow({0, 0})->rect().center());
    ASSERT_NO_FATAL_FAILURE(chooseMenuEntry(menu, "Queue"));
    ASSERT_TRUE(queueBarShown());
    ZMTabBarStatusView* bar = app().statusView();
    QWidget* tabBar = app().tabBarController()->tabBar();
    const QSize sizes[] = {{1500, 1000}, {420, 760}, {1500, 760}, {420, 1000}, {980, 740}};
    for (const QSize& size : sizes) {
        SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()));
        window()->resize(size);
        GuiTest::pump(std::chrono::milliseconds(100));
        ASSERT_EQ(window()->size(), size);
        const QRect shown = inWindow(bar), tabs = inWindow(tabBar);
        EXPECT_TRUE(bar->isVisible());
        EXPECT_TRUE(window()->rect().contains(shown)) << "the bar is outside the window";
        EXPECT_LE(std::abs(shown.center().x() - window()->width() / 2), 1) << "the bar is not centred";
        EXPECT_LT(shown.bottom(), tabs.top()) << "the bar is not above the tab bar";
        EXPECT_GT(shown.bottom(), tabs.top() - 20) << "the bar is not just above the tab bar";
        EXPECT_LT(inWindow(list).bottom(), shown.top()) << "the screen is not ended above the bar";
    }
    window()->resize(420, 760);
    screenshot("queue-bar-after-resize.png");
}

}  // namespace
