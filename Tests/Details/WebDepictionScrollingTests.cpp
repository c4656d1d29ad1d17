// A web depiction on a desktop: the page sits inside the screen's scroll area
// at its full height, so the wheel over the page must move that area (the
// page itself has nothing to scroll), and a drag over the page selects no text.
#include <gtest/gtest.h>

#include <QScrollBar>
#include <QWheelEvent>

#include "Details/DetailsFixture.h"
#include "Details/RemoteWebView.h"
#include "Details/WebDepictionViewController.h"
#include "WebViewViewController.h"

namespace {

class WebDepictionScrolling : public DetailsFixture::Host {
protected:
    WebDepictionViewController* openTallPage() {
        auto* web = openWebDepiction(
            "com.web.tall", "depiction/tall",
            "<html><body><p>Top</p><p style='height:3000px'>A tall page</p><p>End</p></body></html>", {420, 700});
        if (!web) return nullptr;
        EXPECT_TRUE(GuiTest::waitUntil([&] { return web->webViewContainer() && web->webViewContainer()->height() > 2000; },
                                       std::chrono::seconds(60)))
            << "the page did not load at its height";
        return web;
    }
    // One notch of the wheel, down (negative) or up, over the page.
    static void turnWheel(WebDepictionViewController* web, int notches) {
        QWidget* target = web->webView();
        const QPointF at(target->width() / 2.0, 40);
        QWheelEvent wheel(at, target->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &wheel);
        GuiTest::pump();
    }
};

TEST_F(WebDepictionScrolling, TheWheelOverThePageMovesTheScreenAndADragSelectsNoText) {
    auto* web = openTallPage();
    ASSERT_NE(web, nullptr);
    QScrollBar* bar = web->scrollView()->verticalScrollBar();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return bar->maximum() > 1000; })) << "the scroll bar reaches the whole page";
    ASSERT_EQ(bar->value(), 0);
    struct Step {
        int notches;
        bool movesDown;
    } steps[] = {{-3, true}, {-2, true}, {1, false}};
    for (const auto& step : steps) {
        const int before = bar->value();
        turnWheel(web, step.notches);
        if (step.movesDown) EXPECT_GT(bar->value(), before) << step.notches << " notches";
        else EXPECT_LT(bar->value(), before) << step.notches << " notches";
    }
    // No selection by dragging: the page's text is not selectable.
    EXPECT_EQ(DetailsFixture::evaluate(web->webView(), "getComputedStyle(document.body).userSelect || getComputedStyle(document.body).webkitUserSelect"),
              "none");
}

}  // namespace
