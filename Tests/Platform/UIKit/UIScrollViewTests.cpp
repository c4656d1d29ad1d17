// The page scroll view: what a touch drag, a pull beyond the top, the wheel
// and the scroll bar's handle report.
#include <gtest/gtest.h>

#include <QScrollBar>
#include <QScroller>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "Support/Gui/GuiTestSupport.h"
#include "UIKit/UIScrollView.h"

namespace {

class UIScrollViewTest : public ::testing::Test {
protected:
    std::unique_ptr<UIScrollView> page;
    QWidget* content = nullptr;
    void SetUp() override {
        page = std::make_unique<UIScrollView>();
        page->setWidgetResizable(true);
        content = new QWidget;
        content->setMinimumHeight(3000);
        page->setWidget(content);
        page->resize(300, 400);
        page->show();
        ASSERT_TRUE(GuiTest::waitUntil([&] { return page->verticalScrollBar()->maximum() > 2000; }));
    }
    // A touch drag by `dy` (positive: the finger moves down) in `steps` moves.
    void drag(double dy, int steps, bool release = true) {
        QScroller* scroller = QScroller::scroller(page->viewport());
        QPointF p(150, 200);
        qint64 t = 1000;
        scroller->handleInput(QScroller::InputPress, p, t);
        for (int i = 0; i < steps; ++i) {
            p.ry() += dy / steps;
            t += 40;
            scroller->handleInput(QScroller::InputMove, p, t);
            GuiTest::pump(std::chrono::milliseconds(20));  // the scroller moves the page on its timer
        }
        if (release) scroller->handleInput(QScroller::InputRelease, p, t + 300);
    }
};

TEST_F(UIScrollViewTest, ATouchDragReportsItsPhasesAndWhereItWillRest) {
    QSignalSpy began(page.get(), &UIScrollView::willBeginDragging);
    QSignalSpy ended(page.get(), &UIScrollView::willEndDragging);
    QSignalSpy scrolled(page.get(), &UIScrollView::didScroll);
    drag(-300, 10, false);
    EXPECT_EQ(began.count(), 1);
    EXPECT_TRUE(page->isDragging());
    EXPECT_GT(scrolled.count(), 3);
    EXPECT_GT(page->contentOffsetY(), 100);
    QScroller::scroller(page->viewport())->handleInput(QScroller::InputRelease, QPointF(150, -100), 1000 + 10 * 40 + 300);
    ASSERT_EQ(ended.count(), 1);
    EXPECT_FALSE(page->isDragging());
    EXPECT_GE(ended[0][1].toDouble(), page->contentOffsetY() - 1) << "the target is where it comes to rest";
}

TEST_F(UIScrollViewTest, APullBeyondTheTopIsReportedAsNegativeOffsetsWithoutMovingTheContent) {
    QSignalSpy scrolled(page.get(), &UIScrollView::didScroll);
    const QPoint viewportAt = page->viewport()->pos();
    drag(200, 10, false);
    ASSERT_FALSE(scrolled.isEmpty());
    double lowest = 0;
    for (const auto& call : scrolled) lowest = std::min(lowest, call[0].toDouble());
    EXPECT_LT(lowest, -10) << "the overshoot of the pull";
    EXPECT_LT(page->contentOffsetY(), 0);
    EXPECT_EQ(page->viewport()->pos(), viewportAt);
    EXPECT_EQ(page->verticalScrollBar()->value(), 0);
    // Released, it springs back to 0.
    QSignalSpy ended(page.get(), &UIScrollView::willEndDragging);
    QScroller::scroller(page->viewport())->handleInput(QScroller::InputRelease, QPointF(150, 400), 2000);
    EXPECT_EQ(ended.count(), 1);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->contentOffsetY() == 0; }, std::chrono::seconds(5)));
    EXPECT_EQ(scrolled.last()[0].toDouble(), 0);
}

TEST_F(UIScrollViewTest, WheelRunsAndTheHandleAreDragsToo) {
    QSignalSpy began(page.get(), &UIScrollView::willBeginDragging);
    QSignalSpy ended(page.get(), &UIScrollView::willEndDragging);
    for (int i = 0; i < 3; ++i) {
        QWheelEvent wheel(QPointF(150, 200), page->mapToGlobal(QPointF(150, 200)), {}, QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(page->viewport(), &wheel);
    }
    EXPECT_EQ(began.count(), 1) << "one run of turns is one drag";
    EXPECT_TRUE(ended.isEmpty());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return ended.count() == 1; }));
    EXPECT_GT(page->contentOffsetY(), 0);
    EXPECT_EQ(ended[0][1].toDouble(), page->contentOffsetY());

    QScrollBar* bar = page->verticalScrollBar();
    emit bar->sliderPressed();
    bar->setValue(900);
    emit bar->sliderReleased();
    EXPECT_EQ(began.count(), 2);
    ASSERT_EQ(ended.count(), 2);
    EXPECT_EQ(ended[1][1].toDouble(), 900);
}

}  // namespace
