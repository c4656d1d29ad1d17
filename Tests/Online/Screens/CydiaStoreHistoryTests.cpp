// The Cydia store's sign-in sheet walks its page's history by its arrows and
// by Alt+Left/Right, like the other web sheets (its arrows once did nothing:
// the view's own back() did not move this page).
#include <gtest/gtest.h>

#include <httplib.h>

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QWebEngineHistory>
#include <thread>

#include "Online/Screens/CydiaStoreLoginController.h"
#include "Online/Screens/CydiaStoreLoginWebView.h"
#include "Support/Gui/GuiTestSupport.h"
#include "UIKit/UIBarButtonItem.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIWindow.h"

namespace {

TEST(CydiaStoreHistory, ArrowsAndKeysWalkThePagesHistory) {
    httplib::Server server;
    server.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<html><body><a id='next' href='/next'>Next</a></body></html>", "text/html");
    });
    server.Get("/next", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<html><body><a id='next' href='/end'>End</a></body></html>", "text/html");
    });
    server.Get("/end", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<html><body><p>A dead end</p></body></html>", "text/html");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    struct Stop {
        httplib::Server& s;
        std::thread& t;
        ~Stop() {
            s.stop();
            if (t.joinable()) t.join();
        }
    } stop{server, serving};
    const QUrl start(QStringLiteral("http://127.0.0.1:%1/").arg(port));
    const QUrl next(QStringLiteral("http://127.0.0.1:%1/next").arg(port));

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
    const QUrl end(QStringLiteral("http://127.0.0.1:%1/end").arg(port));
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
