// The Cydia store's sign-in sheet walks its page's history by its arrows and
// by Alt+Left/Right, like the other web sheets (its arrows once did nothing:
// the view's own back() did not move this page).
#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QWebEngineHistory>
#include <thread>

#include "Online/Screens/CydiaStoreLoginController.h"
#include "Online/Screens/CydiaStoreLoginWebView.h"
#include "Support/Gui/GuiTestSupport.h"
#include "Support/Gui/LoopbackPages.h"
#include "UIKit/UIBarButtonItem.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIWindow.h"

namespace {

TEST(CydiaStoreHistory, ArrowsAndKeysWalkThePagesHistory) {
    GuiTest::LoopbackPages server({{"/", "<html><body><a id='next' href='/next'>Next</a></body></html>"},
                                    {"/next", "<html><body><a id='next' href='/end'>End</a></body></html>"},
                                    {"/end", "<html><body><p>A dead end</p></body></html>"}});
    const QUrl start = server.url("/");
    const QUrl next = server.url("/next");

    UIWindow window;
    QPointer<CydiaStoreLoginController> login = new CydiaStoreLoginController(start);
    auto* nav = new UINavigationController(login);
    window.setRootViewController(nav);
    window.resize(400, 700);
    window.show();
    QApplication::setActiveWindow(&window);
    auto url = [&] { return login->webView()->url(); };
    ASSERT_TRUE(GuiTest::waitUntil([&] { return login->webView() && url() == start && !login->webView()->page()->isLoading(); },
                                   std::chrono::seconds(60)));
    EXPECT_FALSE(login->backwardButton()->isEnabled());

    login->webView()->page()->runJavaScript("document.getElementById('next').click()");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return url() == next && login->backwardButton()->isEnabled() && !login->webView()->page()->isLoading(); }, std::chrono::seconds(30)));
    const QUrl end = server.url("/end");
    login->webView()->page()->runJavaScript("document.getElementById('next').click()");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return url() == end && !login->webView()->page()->isLoading(); }, std::chrono::seconds(30)));

    struct Step {
        const char* how;
        std::function<void()> act;
        QUrl lands;
    } steps[] = {
        {"the back arrow", [&] { QTest::mouseClick(login->backwardButton()->buttonWidget(), Qt::LeftButton); }, next},
        {"the forward arrow", [&] { QTest::mouseClick(login->forwardButton()->buttonWidget(), Qt::LeftButton); }, end},
        {"Alt+Left", [&] { QTest::keyClick(login->webView(), Qt::Key_Left, Qt::AltModifier); }, next},
        {"Alt+Right", [&] { QTest::keyClick(login->webView(), Qt::Key_Right, Qt::AltModifier); }, end},
    };
    for (const auto& step : steps) {
        ASSERT_TRUE(login) << "the sheet went away before " << step.how;
        // Offscreen, the engine's own hidden window can take the activation; the user's keys go to this one.
        QApplication::setActiveWindow(&window);
        step.act();
        EXPECT_TRUE(GuiTest::waitUntil([&] { return login && url() == step.lands && !login->webView()->page()->isLoading(); },
                                       std::chrono::seconds(30)))
            << step.how;
    }
}

}  // namespace
