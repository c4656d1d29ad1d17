// Web sheets keep a way back: the in-app browser's Back and Forward buttons
// and Alt+Left/Right walk the page's history; with nothing to go back to,
// Alt+Left leaves the screen as everywhere else.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QToolButton>
#include <QWebEngineView>
#include <thread>

#include "Support/Gui/GuiTestSupport.h"
#include "Support/Gui/LoopbackPages.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIWindow.h"
#include "WebViewViewController.h"

namespace {

TEST(WebViewHistory, BackAndForwardByButtonAndByKey) {
    GuiTest::LoopbackPages server({{"/", "<html><body><a id='next' href='/next'>Next</a></body></html>"},
                                   {"/next", "<html><body><p>A dead end</p></body></html>"}});
    const QUrl start = server.url("/");
    const QUrl next = server.url("/next");

    UIWindow window;
    auto* root = new UIViewController;
    auto* nav = new UINavigationController(root);
    window.setRootViewController(nav);
    window.resize(400, 700);
    window.show();
    QPointer<WebViewViewController> web = new WebViewViewController;
    web->setWebsiteURL(start);
    nav->pushViewController(web, false);
    window.activateWindow();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return web->page() && web->page()->url() == start && !web->page()->isLoading(); },
                                   std::chrono::seconds(60)));
    EXPECT_FALSE(web->backButton()->isEnabled());
    EXPECT_FALSE(web->forwardButton()->isEnabled());

    // A link followed inside the page.
    web->page()->runJavaScript("document.getElementById('next').click()");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return web->page()->url() == next; }, std::chrono::seconds(30)));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return web->backButton()->isEnabled(); }));

    struct Step {
        const char* how;
        std::function<void()> act;
        QUrl lands;
    } steps[] = {
        {"the Back button", [&] { QTest::mouseClick(web->backButton(), Qt::LeftButton); }, start},
        {"the Forward button", [&] { QTest::mouseClick(web->forwardButton(), Qt::LeftButton); }, next},
        {"Alt+Left", [&] { QTest::keyClick(web->webView(), Qt::Key_Left, Qt::AltModifier); }, start},
        {"Alt+Right", [&] { QTest::keyClick(web->webView(), Qt::Key_Right, Qt::AltModifier); }, next},
        {"Alt+Left again", [&] { QTest::keyClick(web->webView(), Qt::Key_Left, Qt::AltModifier); }, start},
    };
    for (const auto& step : steps) {
        ASSERT_TRUE(web) << "the sheet went away before " << step.how;
        // Offscreen, the engine's own hidden window can take the activation; the user's keys go to this one.
        QApplication::setActiveWindow(&window);
        step.act();
        ASSERT_TRUE(web) << step.how << " left the sheet";
        EXPECT_TRUE(GuiTest::waitUntil([&] { return !web || (web->page()->url() == step.lands && !web->page()->isLoading()); },
                                       std::chrono::seconds(30)))
            << step.how;
        ASSERT_TRUE(web) << step.how << " closed the sheet";
        GuiTest::pump(std::chrono::milliseconds(50));
        EXPECT_EQ(nav->topViewController(), web) << step.how << " stays in the sheet";
    }
    // At the first page: nothing to go back to in the page, so Alt+Left leaves the screen.
    ASSERT_FALSE(web->backButton()->isEnabled());
    QApplication::setActiveWindow(&window);
    QTest::keyClick(web->webView(), Qt::Key_Left, Qt::AltModifier);
    EXPECT_TRUE(GuiTest::waitUntil([&] { return nav->topViewController() == root; }));
}

}  // namespace
