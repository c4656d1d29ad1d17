// A web depiction is drawn by a process of its own: its pictures reach the
// screen, the web engine never runs in the program, the page and the screen's
// scroll area move together whichever of them is scrolled, and the process
// ends with the screen (or, when it dies, the page says it cannot be shown).
#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QScrollBar>
#include <QTest>
#include <set>

#include "Details/DetailsFixture.h"
#include "Details/RemoteWebView.h"
#include "Details/WebDepictionViewController.h"
#include "ZMPaletteManager.h"

namespace {

// Threads the web engine starts in the process that runs it.
std::set<QString> engineThreadsHere() {
    std::set<QString> found;
    for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm("/proc/self/task/" + task + "/comm");
        if (!comm.open(QIODevice::ReadOnly)) continue;
        const QString name = QString::fromUtf8(comm.readAll()).trimmed();
        if (name.startsWith("Chrome_") || name.startsWith("VizCompositor") || name == "NetworkService") found.insert(name);
    }
    return found;
}

bool isAlive(qint64 pid) { return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) == 0; }

class RemoteWebViewTest : public DetailsFixture::Host {
protected:
    WebDepictionViewController* web = nullptr;

    void openPage() {
        web = openWebDepiction("com.web.anchored", "depiction/anchored",
                               "<html><body style='margin:0;background:#fff'>"
                               "<div style='height:120px;background:#c01020'></div>"
                               "<a id='jump' href='#end' style='display:block;height:60px'>To the end</a>"
                               "<p style='height:4000px'>A tall page</p><p id='end'>End</p>"
                               "<div id='stamp' style='position:fixed;top:0;right:0;width:90px;background:#fff'></div>"
                               "<script>document.getElementById('stamp').textContent ="
                               " Math.floor(performance.timeOrigin % 100000);"
                               "addEventListener('load', () => requestAnimationFrame(() => requestAnimationFrame(() =>"
                               " window.settled = true)));</script></body></html>",
                               {420, 700});
        ASSERT_NE(web, nullptr);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return web->webView() && web->webViewContainer()->height() > 4000; },
                                       std::chrono::seconds(60)))
            << "the page did not load at its height";
        // Drawn and settled at its top: before that the engine may set back an offset given to it.
        RemoteWebView* view = web->webView();
        ASSERT_TRUE(GuiTest::waitUntil([&] { return !view->frame().isNull(); }, std::chrono::seconds(20))) << "no picture";
        ASSERT_TRUE(GuiTest::waitUntil(
            [&] { return DetailsFixture::evaluate(view, "window.settled && window.scrollY") == "0"; }, std::chrono::seconds(10)))
            << "the page did not settle";
    }
    QScrollBar* bar() const { return web->scrollView()->verticalScrollBar(); }
    // Loads the page again (by `trigger`) and waits until the new page has
    // drawn itself here (each load stamps its corner anew), has settled (two
    // frames after its load) and is at `y`. Before that the picture shown is
    // still the last page's, and the engine may drop a key or set the offset
    // back after a key has moved it.
    void reload(RemoteWebView* view, const std::function<void()>& trigger, int y) {
        auto stamp = [](const QImage& f) {
            const qreal ratio = f.devicePixelRatio();
            return f.copy(QRect(f.width() - qRound(90 * ratio), 0, qRound(80 * ratio), qRound(20 * ratio)));
        };
        const QImage before = stamp(view->frame());
        bool reloaded = false;
        auto c = QObject::connect(view, &RemoteWebView::loadFinished, [&] { reloaded = true; });
        trigger();
        EXPECT_TRUE(GuiTest::waitUntil([&] { return reloaded; }, std::chrono::seconds(20)));
        QObject::disconnect(c);
        EXPECT_TRUE(GuiTest::waitUntil([&] { return stamp(view->frame()) != before; }, std::chrono::seconds(10)))
            << "no picture of the page loaded again";
        EXPECT_TRUE(GuiTest::waitUntil(
            [&] { return DetailsFixture::evaluate(view, "window.settled && window.scrollY") == QString::number(y); },
            std::chrono::seconds(10)))
            << "the page loaded again did not settle at " << y;
    }
    // Where the page's top sits in the scroll area's content.
    int pageOffset() const { return web->webView()->mapTo(web->scrollView()->widget(), QPoint(0, 0)).y(); }
};

TEST_F(RemoteWebViewTest, ThePictureComesFromAProcessThatEndsWithTheScreen) {
    openPage();
    // The page's red band reaches the screen, drawn where the page is.
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        const QImage& f = web->webView()->frame();
        return !f.isNull() && QColor(f.pixel(10, 60)).red() > 150 && QColor(f.pixel(10, 60)).green() < 60;
    }, std::chrono::seconds(20)))
        << "no picture of the page";
    const QImage shown = web->webView()->grab().toImage();
    EXPECT_GT(QColor(shown.pixel(10, 60)).red(), 150);
    EXPECT_TRUE(engineThreadsHere().empty()) << "the web engine runs in the program: " << engineThreadsHere().begin()->toStdString();
    const qint64 pid = web->webView()->hostProcessId();
    ASSERT_TRUE(isAlive(pid));
    window.reset();
    EXPECT_TRUE(GuiTest::waitUntil([&] { return !isAlive(pid); }, std::chrono::seconds(15))) << "the page's process outlived its screen";
}

TEST_F(RemoteWebViewTest, ThePageAndTheScreenScrollTogether) {
    openPage();
    RemoteWebView* view = web->webView();
    struct Step {
        const char* what;
        std::function<void()> act;
        std::function<bool(int value)> arrived;
    } steps[] = {
        {"a reload with the header in view",
         [&] { reload(view, [&] { view->runJavaScript("location.reload()"); }, 0); },
         [&](int value) { return value == 0; }},
        {"the area scrolled into the page",
         [&] { bar()->setValue(pageOffset() + 1500); },
         [&](int) { return view->frameScrollY() == 1500; }},
        {"a new appearance while scrolled there (the page loads again)",
         [&] { reload(view, [] { ZMPaletteManager::sharedManager().setStyle(ZMPalette::Blue); }, 1500); },
         [&](int value) { return view->frameScrollY() == 1500 && value == pageOffset() + 1500; }},
        {"Home in the page",
         [&] {
             view->setFocus();
             QTest::keyClick(view, Qt::Key_Home);
         },
         [&](int value) { return value <= pageOffset() && view->frameScrollY() == 0; }},
        {"a link to an anchor further down",
         [&] { QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(40, 150)); },
         [&](int value) { return value > pageOffset() + 3500 && view->frameScrollY() == value - pageOffset(); }},
        {"End in the page after scrolling back up",
         [&] {
             bar()->setValue(0);
             // Until the page has been seen at its top, a key that moves it back
             // where it was is a move the engine never reports.
             EXPECT_TRUE(GuiTest::waitUntil([&] { return view->frameScrollY() == 0; }));
             view->setFocus();
             QTest::keyClick(view, Qt::Key_End);
         },
         [&](int value) { return value == bar()->maximum(); }},
    };
    for (const auto& step : steps) {
        step.act();
        EXPECT_TRUE(GuiTest::waitUntil([&] { return step.arrived(bar()->value()); }, std::chrono::seconds(10)))
            << step.what << ": area at " << bar()->value() << " of " << bar()->maximum() << ", page at "
            << view->frameScrollY() << ", page top at " << pageOffset();
    }
    ZMPaletteManager::sharedManager().setStyle(ZMPalette::Light);
}

// A page left just before the program exits: its process, told to end but
// not waited for, is ended and reaped by what the exit runs, at once; none
// outlives the program, not even as a zombie.
TEST_F(RemoteWebViewTest, TheProcessOfAPageLeftJustBeforeTheExitEndsWithTheProgram) {
    openPage();
    const qint64 pid = web->webView()->hostProcessId();
    ASSERT_TRUE(isAlive(pid));
    window.reset();
    ASSERT_TRUE(isAlive(pid)) << "the process ended before the exit: nothing left to check";
    RemoteWebView::endRetiredProcesses();
    EXPECT_FALSE(isAlive(pid)) << "the page's process outlives the program";
}

TEST_F(RemoteWebViewTest, APageUnderAnotherScreenKeepsItsProcessAndPlaceUntilItsScreenCloses) {
    openPage();
    RemoteWebView* view = web->webView();
    bar()->setValue(pageOffset() + 1500);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return view->frameScrollY() == 1500; }, std::chrono::seconds(20)));
    const int value = bar()->value();
    const qint64 process = view->hostProcessId();
    int loads = 0;
    QObject scope;  // the page may finish a load after this test, when `loads` is gone
    QObject::connect(view, &RemoteWebView::loadFinished, &scope, [&loads] { ++loads; });
    nav->pushViewController(new UIViewController, false);
    GuiTest::pump(std::chrono::seconds(4));
    EXPECT_TRUE(isAlive(process)) << "the hidden page gave its process back";
    nav->popViewController(false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return web->isOnScreen(); }));
    GuiTest::pump(std::chrono::milliseconds(500));
    EXPECT_EQ(view->hostProcessId(), process);
    EXPECT_EQ(loads, 0) << "the page was loaded again";
    EXPECT_EQ(view->frameScrollY(), 1500);
    EXPECT_EQ(bar()->value(), value);
    EXPECT_EQ(DetailsFixture::evaluate(view, "window.scrollY"), "1500");

    // Its screen closed (back from it): the process ends.
    nav->setViewControllers({new UIViewController, web}, false);
    nav->popViewController(false);
    EXPECT_TRUE(GuiTest::waitUntil([&] { return !isAlive(process); }, std::chrono::seconds(15)))
        << "the page's process outlived its screen";
}

TEST_F(RemoteWebViewTest, APageWhoseProcessDiesSaysSoAndTheScreenStays) {
    openPage();
    RemoteWebView* view = web->webView();
    bool finished = false, ok = true;
    QObject scope;  // ends the connection with the variables it writes
    QObject::connect(view, &RemoteWebView::loadFinished, &scope, [&](bool success) {
        finished = true;
        ok = success;
    });
    ASSERT_TRUE(isAlive(view->hostProcessId()));
    ::kill(static_cast<pid_t>(view->hostProcessId()), SIGKILL);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return view->hasFailed(); }, std::chrono::seconds(10)));
    EXPECT_TRUE(finished);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(view->frame().isNull());
    EXPECT_TRUE(web->getBtn()->isVisible());  // the rest of the screen still works
}

}  // namespace
