#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QScroller>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <map>

#include "Support/Gui/GuiTestSupport.h"
#include "UIKit/CardView.h"
#include "UIKit/UITableView.h"
#include "UIKit/UIViewController.h"

namespace {

// Sections of named rows; heights per row when given.
class Rows : public UITableViewDataSource, public UITableViewDelegate {
public:
    std::vector<QString> titles;
    std::vector<std::vector<QString>> sections;
    std::map<std::pair<int, int>, double> heights;
    double defaultHeight = UITableView::kUseRowHeight;
    std::vector<IndexPath> selected;
    std::vector<std::pair<QString, IndexPath>> performed;
    QStringList index;

    int numberOfSections(UITableView*) override { return static_cast<int>(sections.size()); }
    int numberOfRows(UITableView*, int s) override { return static_cast<int>(sections[s].size()); }
    UITableViewCell* cellForRow(UITableView* t, IndexPath ip) override {
        auto* cell = t->dequeueReusableCell("cell");
        cell->textLabel()->setText(sections[ip.section][ip.row]);
        return cell;
    }
    std::optional<QString> titleForHeader(UITableView*, int s) override {
        return s < static_cast<int>(titles.size()) ? std::optional<QString>(titles[s]) : std::nullopt;
    }
    QStringList sectionIndexTitles(UITableView*) override { return index; }
    double heightForRow(UITableView*, IndexPath ip) override {
        auto it = heights.find({ip.section, ip.row});
        return it == heights.end() ? defaultHeight : it->second;
    }
    void didSelectRow(UITableView* t, IndexPath ip) override {
        selected.push_back(ip);
        t->deselectRow(ip, false);
    }
    std::vector<UIContextualAction> trailingSwipeActions(UITableView*, IndexPath ip) override {
        UIContextualAction queue;
        queue.title = "Queue";
        queue.backgroundColor = QColor(0, 171, 224);
        queue.handler = [this, ip](const UIContextualAction& a, QWidget*, std::function<void(bool)> done) {
            performed.emplace_back(a.title, ip);
            done(true);
        };
        UIContextualAction remove = queue;
        remove.title = "Remove";
        remove.style = UIContextualAction::Style::Destructive;
        remove.backgroundColor = QColor();
        return {queue, remove};
    }
};

class TableTest : public ::testing::Test {
protected:
    void SetUp() override {
        UIView::setAnimationsEnabled(false);
        table = new UITableView(UITableView::Style::Plain, &host);
        table->registerCell("cell", [] { return new UITableViewCell; });
        table->setDataSource(&rows);
        table->setDelegate(&rows);
        table->setRowHeight(44);
        host.resize(400, 600);
        table->setGeometry(0, 0, 400, 600);
        host.show();
    }
    void TearDown() override { UIView::setAnimationsEnabled(true); }
    void fill(int sectionCount, int rowsEach) {
        rows.sections.clear();
        for (int s = 0; s < sectionCount; ++s) {
            rows.sections.emplace_back();
            for (int r = 0; r < rowsEach; ++r) rows.sections.back().push_back(QStringLiteral("row %1.%2").arg(s).arg(r));
        }
        table->reloadData();
    }
    QString textAt(IndexPath ip) {
        auto* c = table->cellForRow(ip);
        return c ? c->textLabel()->text() : QString();
    }

    QWidget host;
    UITableView* table = nullptr;
    Rows rows;
};

TEST_F(TableTest, FiveThousandRowsScrollWithABoundedNumberOfCells) {
    fill(1, 5000);
    const int onScreen = 600 / 44 + 2;
    EXPECT_LE(table->createdCellCount(), onScreen);
    EXPECT_EQ(table->contentHeight(), 5000 * 44);

    for (int offset : {1000, 44 * 2500 + 10, 44 * 4990, 0, 44 * 3333}) {
        table->setContentOffset(offset);
        const auto visible = table->indexPathsForVisibleRows();
        ASSERT_FALSE(visible.empty());
        const int expectedFirst = std::min(offset, table->verticalScrollBar()->maximum()) / 44;
        EXPECT_EQ(visible.front().row, expectedFirst) << "offset " << offset;
        // Each visible cell shows its own row, wherever it came from in the pool.
        for (const auto& ip : visible) EXPECT_EQ(textAt(ip), QStringLiteral("row 0.%1").arg(ip.row));
        EXPECT_LE(static_cast<int>(table->visibleCells().size()), onScreen + 1);
    }
    EXPECT_LE(table->createdCellCount(), onScreen + 2);
}

TEST_F(TableTest, SectionsHeadersAndRowGeometry) {
    rows.titles = {"A", "B"};
    fill(2, 3);
    auto* h0 = qobject_cast<QLabel*>(table->headerViewForSection(0));
    ASSERT_NE(h0, nullptr);
    EXPECT_EQ(h0->text(), "A");
    // Plain headers are 28 high: section 1's first row follows three rows and two headers.
    EXPECT_EQ(table->rectForRow({0, 0}).top(), 28);
    EXPECT_EQ(table->rectForRow({1, 0}).top(), 28 + 3 * 44 + 28);
    EXPECT_EQ(table->numberOfRows(1), 3);
    EXPECT_TRUE(table->rectForRow({2, 0}).isNull());
}

TEST_F(TableTest, AutomaticHeightsAreMeasuredFromTheCells) {
    rows.defaultHeight = UITableView::kAutomaticDimension;
    table->registerCell("cell", [] {
        auto* c = new UITableViewCell;
        c->textLabel();
        return c;
    });
    rows.heights[{0, 1}] = 100;  // a fixed row among automatic ones
    fill(1, 4);
    auto* c0 = table->cellForRow({0, 0});
    ASSERT_NE(c0, nullptr);
    const int measured = c0->sizeHint().height();
    EXPECT_EQ(table->rectForRow({0, 0}).height(), measured);
    EXPECT_EQ(table->rectForRow({0, 1}).top(), measured);
    EXPECT_EQ(table->rectForRow({0, 2}).top(), measured + 100);
    EXPECT_EQ(c0->geometry().height(), measured);
}

TEST_F(TableTest, SwipeActionsFromTheContextMenuActOnTheirRow) {
    fill(1, 30);
    auto* cell = table->cellForRow({0, 7});
    ASSERT_NE(cell, nullptr);
    QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(10, 10), cell->mapToGlobal(QPoint(10, 10)));
    QCoreApplication::sendEvent(cell, &e);
    QMenu* menu = table->activeSwipeMenu();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[0]->text(), "Queue");
    menu->actions()[1]->trigger();
    ASSERT_EQ(rows.performed.size(), 1u);
    EXPECT_EQ(rows.performed[0].first, "Remove");
    EXPECT_EQ(rows.performed[0].second, (IndexPath{0, 7}));
    menu->close();

    // The same actions revealed by a leftward drag on another row.
    table->setContentOffset(44 * 10);
    auto* other = table->cellForRow({0, 12});
    ASSERT_NE(other, nullptr);
    const QPoint p(300, other->height() / 2);
    QTest::mousePress(other, Qt::LeftButton, {}, p);
    QMouseEvent move(QEvent::MouseMove, p - QPoint(80, 0), other->mapToGlobal(p - QPoint(80, 0)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(other, &move);
    QTest::mouseRelease(other, Qt::LeftButton, {}, p - QPoint(80, 0));
    auto* panel = table->viewport()->findChild<QWidget*>("swipeActions");
    ASSERT_NE(panel, nullptr);
    QPushButton* queue = nullptr;
    for (auto* b : panel->findChildren<QPushButton*>())
        if (b->text() == "Queue") queue = b;
    ASSERT_NE(queue, nullptr);
    QTest::mouseClick(queue, Qt::LeftButton);
    ASSERT_EQ(rows.performed.size(), 2u);
    EXPECT_EQ(rows.performed[1].second, (IndexPath{0, 12}));
    // The drag was not a tap.
    EXPECT_TRUE(rows.selected.empty());
}

TEST_F(TableTest, TapSelectsTheRowAndDeselectClearsIt) {
    fill(2, 5);
    auto* cell = table->cellForRow({1, 2});
    ASSERT_NE(cell, nullptr);
    QTest::mouseClick(cell, Qt::LeftButton, {}, QPoint(50, 10));
    ASSERT_EQ(rows.selected.size(), 1u);
    EXPECT_EQ(rows.selected[0], (IndexPath{1, 2}));
    EXPECT_FALSE(table->indexPathForSelectedRow().has_value());
    EXPECT_FALSE(cell->isSelected());
}

TEST_F(TableTest, WheelScrollingReportsDragAndDecelerationPhases) {
    fill(1, 500);
    QSignalSpy began(table, &UITableView::willBeginDragging);
    QSignalSpy endedDrag(table, &UITableView::didEndDragging);
    QSignalSpy decelerated(table, &UITableView::didEndDecelerating);
    QSignalSpy ended(table, &UITableView::didEndScrolling);

    // A screen that defers its rebuild while scrolling, as the list screens do.
    bool isScrolling = false, needRebuild = false;
    int rebuilds = 0;
    auto rebuild = [&] {
        if (isScrolling) {
            needRebuild = true;
            return;
        }
        needRebuild = false;
        ++rebuilds;
    };
    QObject::connect(table, &UITableView::willBeginDragging, [&] { isScrolling = true; });
    QObject::connect(table, &UITableView::didEndScrolling, [&] {
        isScrolling = false;
        if (needRebuild) rebuild();
    });

    for (int i = 0; i < 3; ++i) {
        QWheelEvent wheel(QPointF(100, 100), table->viewport()->mapToGlobal(QPointF(100, 100)), QPoint(), QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(table->viewport(), &wheel);
    }
    EXPECT_EQ(began.count(), 1);
    EXPECT_GT(table->contentOffset(), 0);
    rebuild();
    EXPECT_EQ(rebuilds, 0);
    EXPECT_TRUE(needRebuild);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return decelerated.count() == 1; }));
    ASSERT_EQ(endedDrag.count(), 1);
    EXPECT_TRUE(endedDrag[0][0].toBool());
    EXPECT_EQ(ended.count(), 1);
    EXPECT_EQ(rebuilds, 1);
    EXPECT_FALSE(needRebuild);

    // The scroll bar's handle: a drag that ends without deceleration.
    emit table->verticalScrollBar()->sliderPressed();
    EXPECT_EQ(began.count(), 2);
    emit table->verticalScrollBar()->sliderReleased();
    ASSERT_EQ(endedDrag.count(), 2);
    EXPECT_FALSE(endedDrag[1][0].toBool());
    EXPECT_EQ(ended.count(), 2);
    EXPECT_EQ(decelerated.count(), 1);
}

TEST_F(TableTest, PullingPastTheTopStartsTheRefreshControlOnce) {
    fill(1, 100);
    auto* refresh = new UIRefreshControl;
    table->setRefreshControl(refresh);
    QSignalSpy triggered(refresh, &UIRefreshControl::valueChanged);
    auto wheelUp = [&] {
        QWheelEvent wheel(QPointF(100, 100), table->viewport()->mapToGlobal(QPointF(100, 100)), QPoint(), QPoint(0, 120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(table->viewport(), &wheel);
    };
    wheelUp();
    EXPECT_FALSE(refresh->isRefreshing());
    wheelUp();
    wheelUp();
    EXPECT_TRUE(refresh->isRefreshing());
    EXPECT_EQ(triggered.count(), 1);
    // The rows move down below the spinner.
    EXPECT_EQ(table->rectForRow({0, 0}).top(), UIRefreshControl::kHeight);
    for (int i = 0; i < 5; ++i) wheelUp();
    EXPECT_EQ(triggered.count(), 1);
    refresh->endRefreshing();
    EXPECT_FALSE(refresh->isRefreshing());
    EXPECT_EQ(table->rectForRow({0, 0}).top(), 0);

    // Wheel turns further down the list do not count.
    table->setContentOffset(200);
    for (int i = 0; i < 3; ++i) wheelUp();
    EXPECT_EQ(triggered.count(), 1);
}

// Rows that come and go fade, in a table on a page and in one on a card
// (whose shadow is an effect the rows are painted from inside of); the new
// rows are drawn whatever the fade, the removed row's fading picture goes
// once the fade is over, and no painter warning is logged on the way.
TEST_F(TableTest, InsertAndDeleteRowsFollowTheDataSource) {
    UIView::setAnimationsEnabled(true);
    struct Case {
        const char* name;
        bool onACard;
    };
    for (const Case c : {Case{"on a page", false}, Case{"on a card", true}}) {
        SCOPED_TRACE(c.name);
        QWidget page;
        page.resize(440, 640);
        auto* card = new CardView(&page);
        card->setCardColor(Qt::white);
        card->setGeometry(20, 20, 400, 600);
        card->setVisible(c.onACard);
        table->setParent(c.onACard ? static_cast<QWidget*>(card) : &page);
        table->setGeometry(0, 0, 400, 600);
        table->show();
        page.show();
        fill(1, 5);
        GuiTest::pump();
        const auto ghosts = [&] { return table->viewport()->findChildren<QWidget*>("rowGhost").size(); };

        GuiTest::QtWarnings warnings;
        rows.sections[0].insert(rows.sections[0].begin() + 2, "new");
        table->insertRows({{0, 2}}, UITableView::RowAnimation::Fade);
        EXPECT_EQ(table->numberOfRows(0), 6);
        EXPECT_EQ(textAt({0, 2}), "new");
        EXPECT_EQ(textAt({0, 3}), "row 0.2");
        EXPECT_EQ(table->cellForRow({0, 2})->graphicsEffect() != nullptr, !c.onACard) << "the new row fades in where no effect is around it";
        GuiTest::pump(std::chrono::milliseconds(100));  // painted while the fades run

        rows.sections[0].erase(rows.sections[0].begin());
        table->deleteRows({{0, 0}}, UITableView::RowAnimation::Fade);
        EXPECT_EQ(table->numberOfRows(0), 5);
        EXPECT_EQ(textAt({0, 0}), "row 0.1");
        EXPECT_EQ(textAt({0, 1}), "new");
        EXPECT_EQ(ghosts(), 1u) << "the removed row fades out where it was";
        GuiTest::pump(std::chrono::milliseconds(400));
        EXPECT_EQ(ghosts(), 0u) << "its picture stays after the fade";
        const QImage shown = page.grab().toImage();
        const QRect newRow(table->cellForRow({0, 1})->mapTo(&page, QPoint(0, 0)), table->cellForRow({0, 1})->size());
        int ink = 0;
        for (int y = newRow.top(); y <= newRow.bottom(); ++y)
            for (int x = newRow.left(); x <= newRow.right(); ++x) ink += qGray(shown.pixel(x, y)) < 128;
        EXPECT_GT(ink, 20) << "the new row's title is not drawn";
        EXPECT_TRUE(warnings.messages().isEmpty()) << warnings.summary();

        table->setParent(&host);
        table->setGeometry(0, 0, 400, 600);
        table->show();
    }
}

TEST_F(TableTest, SectionIndexJumpsToItsSection) {
    rows.titles = {"A", "B", "C"};
    rows.index = {"A", "B", "C"};
    fill(3, 40);
    auto* bar = table->findChild<QWidget*>("sectionIndex");
    ASSERT_NE(bar, nullptr);
    ASSERT_TRUE(bar->isVisible());
    // Three titles on lines of 22 pixels centred in the strip: click the last.
    const int top = (bar->height() - 66) / 2;
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() / 2, top + 55));
    EXPECT_EQ(static_cast<int>(table->contentOffset()), static_cast<int>(table->rectForRow({2, 0}).top() - 28));
}

TEST_F(TableTest, CardTablesTakeTheHeightOfTheirContent) {
    QSignalSpy heights(table, &UITableView::contentHeightChanged);
    table->setSizesToContent(true);
    fill(1, 4);
    EXPECT_EQ(table->height(), 4 * 44);
    EXPECT_EQ(static_cast<int>(table->visibleCells().size()), 4);
    rows.sections[0].push_back("five");
    table->reloadData();
    EXPECT_EQ(table->height(), 5 * 44);
    EXPECT_EQ(heights.last()[0].toInt(), 5 * 44);
}

}  // namespace

namespace {

TEST_F(TableTest, ATouchFlickReportsDragThenDeceleration) {
    fill(1, 500);
    QSignalSpy began(table, &UITableView::willBeginDragging);
    QSignalSpy endedDrag(table, &UITableView::didEndDragging);
    QSignalSpy decelerated(table, &UITableView::didEndDecelerating);
    QScroller* scroller = QScroller::scroller(table->viewport());
    qint64 t = 1000;
    QPointF p(200, 500);
    scroller->handleInput(QScroller::InputPress, p, t);
    for (int i = 0; i < 8; ++i) {
        p.ry() -= 40;
        t += 10;
        scroller->handleInput(QScroller::InputMove, p, t);
    }
    EXPECT_EQ(began.count(), 1);
    EXPECT_TRUE(table->isDragging());
    scroller->handleInput(QScroller::InputRelease, p, t + 5);
    ASSERT_EQ(endedDrag.count(), 1);
    EXPECT_TRUE(endedDrag[0][0].toBool());
    EXPECT_TRUE(table->isDecelerating());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return decelerated.count() == 1; }, std::chrono::seconds(10)));
    EXPECT_FALSE(table->isDecelerating());
    EXPECT_GT(table->contentOffset(), 300);
}

}  // namespace

namespace {

TEST_F(TableTest, PlainHeadersStayPinnedWhileTheirSectionScrolls) {
    rows.titles = {"A", "B", "C"};
    fill(3, 30);
    // Halfway through section B, B's header sits at the top.
    const int bTop = table->rectForRow({1, 0}).top() - 28;
    table->setContentOffset(bTop + 44 * 10);
    auto* b = table->headerViewForSection(1);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->y(), 0);
    // Near the end of B, C's header pushes it up.
    const int cTop = table->rectForRow({2, 0}).top() - 28;
    table->setContentOffset(cTop - 10);
    b = table->headerViewForSection(1);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->y(), -18);
    ASSERT_NE(table->headerViewForSection(2), nullptr);
    EXPECT_EQ(table->headerViewForSection(2)->y(), 10);
}

TEST_F(TableTest, ArrowKeysWalkTheRowsAcrossSectionsAndReturnSelects) {
    fill(2, 2);
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Down);
    QTest::keyClick(table, Qt::Key_Down);
    QTest::keyClick(table, Qt::Key_Down);
    EXPECT_TRUE(table->cellForRow({1, 0})->isHighlighted());
    QTest::keyClick(table, Qt::Key_Up);
    EXPECT_FALSE(table->cellForRow({1, 0})->isHighlighted());
    QTest::keyClick(table, Qt::Key_Return);
    ASSERT_EQ(rows.selected.size(), 1u);
    EXPECT_EQ(rows.selected[0], (IndexPath{0, 1}));
}

}  // namespace

namespace {

TEST_F(TableTest, ATouchSwipeLeftOnARowRevealsItsActions) {
    fill(1, 30);
    auto* cell = table->cellForRow({0, 3});
    ASSERT_NE(cell, nullptr);
    QPointingDevice* touch = QTest::createTouchDevice();
    const QPoint start = cell->mapTo(&host, QPoint(320, cell->height() / 2));
    QTest::touchEvent(&host, touch).press(0, start, &host);
    for (int dx = 20; dx <= 140; dx += 20) QTest::touchEvent(&host, touch).move(0, start - QPoint(dx, 0), &host);
    QTest::touchEvent(&host, touch).release(0, start - QPoint(140, 0), &host);
    GuiTest::pump();
    auto* panel = table->viewport()->findChild<QWidget*>("swipeActions");
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->geometry().center().y(), cell->geometry().center().y());
    // A tap elsewhere closes it.
    QTest::mouseClick(table->cellForRow({0, 8}), Qt::LeftButton);
    GuiTest::pump();
    EXPECT_EQ(table->viewport()->findChild<QWidget*>("swipeActions"), nullptr);
    EXPECT_TRUE(rows.selected.empty());
}

}  // namespace
