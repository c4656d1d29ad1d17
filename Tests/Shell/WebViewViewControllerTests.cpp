#include <gtest/gtest.h>

#include <httplib.h>

#include <QWebEngineView>
#include <thread>

#include "Support/Gui/GuiTestSupport.h"
#include "UIKit/UIApplication.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIWindow.h"
#include "WebViewViewController.h"

namespace {

TEST(WebViewNavigationRule, OnlyWebAddressesMayBeVisited) {
    EXPECT_TRUE(VostrelleWebPage::isNavigationAllowed(QUrl("https://repo.example.org/depiction/x")));
    EXPECT_TRUE(VostrelleWebPage::isNavigationAllowed(QUrl("HTTP://127.0.0.1:8080/")));
    for (const char* refused : {"file:///etc/passwd", "javascript:alert(1)", "data:text/html,<b>x</b>", "about:blank",
                                "mailto:a@b.c", "ftp://host/", "vostrelle://x", "http:///nohost", "qrc:/Styles/vostrelle.qss"}) {
        EXPECT_FALSE(VostrelleWebPage::isNavigationAllowed(QUrl(refused))) << refused;
    }
}

// One smoke test through the real engine: a served page that tries to go to
// a local file stays where it is.
TEST(WebViewViewControllerTest, APageCannotNavigateToALocalFile) {
    httplib::Server server;
    server.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<html><body><a id='l' href='file:///etc/hostname'>x</a>"
                        "<script>setTimeout(function(){document.getElementById('l').click();}, 50);</script>"
                        "</body></html>",
                        "text/html");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });

    std::vector<QUrl> opened;
    UIApplication::setURLOpener([&](const QUrl& u) {
        opened.push_back(u);
        return true;
    });
    {
        UIWindow window;
        auto* web = new WebViewViewController;
        web->setViewTitle("Donate to Example");
        const QUrl start(QStringLiteral("http://127.0.0.1:%1/").arg(port));
        web->setWebsiteURL(start);
        auto* nav = new UINavigationController(web);
        window.setRootViewController(nav);
        window.resize(400, 700);
        window.show();
        EXPECT_EQ(web->title(), "Donate to Example");
        bool loaded = false;
        QObject::connect(web->page(), &QWebEnginePage::loadFinished, [&](bool ok) { loaded = loaded || ok; });
        ASSERT_TRUE(GuiTest::waitUntil([&] { return loaded; }, std::chrono::seconds(60))) << "the engine did not load";
        ASSERT_TRUE(GuiTest::waitUntil([&] { return web->page()->refusedNavigationCount() > 0; }, std::chrono::seconds(20)));
        GuiTest::pump(std::chrono::milliseconds(200));
        EXPECT_EQ(web->page()->url(), start);
        EXPECT_TRUE(opened.empty());  // a file address is not handed to the desktop either
    }
    UIApplication::setURLOpener(nullptr);
    server.stop();
    serving.join();
}

}  // namespace
