#include <gtest/gtest.h>

#include <QWebEngineProfile>
#include <QWebEngineView>
#include <thread>

#include "Support/Gui/GuiTestSupport.h"
#include "Support/Gui/LoopbackPages.h"
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

// Mail links a user clicks are handed to the desktop, never loaded.
class ExposedPage : public VostrelleWebPage {
public:
    using VostrelleWebPage::VostrelleWebPage;
    using VostrelleWebPage::acceptNavigationRequest;
};

TEST(WebViewNavigationRule, MailLinksGoToTheDesktopAndOthersNowhere) {
    std::vector<QUrl> opened;
    UIApplication::setURLOpener([&](const QUrl& u) {
        opened.push_back(u);
        return true;
    });
    QWebEngineProfile profile;
    ExposedPage page(&profile);
    EXPECT_TRUE(page.acceptNavigationRequest(QUrl("https://example.org/"), QWebEnginePage::NavigationTypeLinkClicked, true));
    EXPECT_FALSE(page.acceptNavigationRequest(QUrl("mailto:dev@example.org"), QWebEnginePage::NavigationTypeLinkClicked, true));
    EXPECT_FALSE(page.acceptNavigationRequest(QUrl("file:///etc/passwd"), QWebEnginePage::NavigationTypeLinkClicked, false));
    EXPECT_EQ(opened, std::vector<QUrl>{QUrl("mailto:dev@example.org")});
    EXPECT_EQ(page.refusedNavigationCount(), 2);
    UIApplication::setURLOpener(nullptr);
}

// One smoke test through the real engine: after a served page has loaded,
// going to a local file or to the application's own resources is refused and
// the page stays.
TEST(WebViewViewControllerTest, APageCannotLeaveTheWeb) {
    GuiTest::LoopbackPages server({{"/", "<html><body><p>Donations</p></body></html>"}});

    std::vector<QUrl> opened;
    UIApplication::setURLOpener([&](const QUrl& u) {
        opened.push_back(u);
        return true;
    });
    {
        UIWindow window;
        auto* web = new WebViewViewController;
        web->setViewTitle("Donate to Example");
        const QUrl start = server.url("/");
        web->setWebsiteURL(start);
        auto* nav = new UINavigationController(web);
        window.setRootViewController(nav);
        window.resize(400, 700);
        window.show();
        EXPECT_EQ(web->title(), "Donate to Example");
        bool loaded = false;
        QObject scope;  // ends the connection with the variable it writes
        QObject::connect(web->page(), &QWebEnginePage::loadFinished, &scope, [&](bool ok) { loaded = loaded || ok; });
        ASSERT_TRUE(GuiTest::waitUntil([&] { return loaded; }, std::chrono::seconds(60))) << "the engine did not load";
        int expected = 0;
        for (const char* elsewhere : {"file:///etc/hostname", "qrc:/Styles/vostrelle.qss"}) {
            web->page()->load(QUrl(elsewhere));
            ++expected;
            EXPECT_TRUE(GuiTest::waitUntil([&] { return web->page()->refusedNavigationCount() >= expected; },
                                           std::chrono::seconds(10)))
                << elsewhere;
        }
        GuiTest::pump(std::chrono::milliseconds(300));
        EXPECT_EQ(web->page()->url(), start);
        EXPECT_TRUE(opened.empty());
    }
    UIApplication::setURLOpener(nullptr);
}

}  // namespace
