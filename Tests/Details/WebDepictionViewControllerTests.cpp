// The web depiction screen against a loopback host that echoes the headers it
// got: device, appearance and identity headers (the identity only for the
// source's host, also across a redirect to "localhost"), the reload when the
// appearance switches, new windows, refused schemes and the header's buttons.
#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QTest>
#include <mutex>

#include "Browsing/PackageOpening.h"
#include "Details/DetailsFixture.h"
#include "Details/RemoteWebView.h"
#include "Details/WebDepictionViewController.h"
#include "Miscellaneous/ZMPlatform.h"
#include "UIKit/UIAlertController.h"
#include "UIKit/UIApplication.h"
#include "WebViewViewController.h"
#include "ZMPaletteManager.h"

namespace {

class UrlRecorder : public QObject {
    Q_OBJECT
signals:
    void opened(const QUrl& url);
public slots:
    void open(const QUrl& url) { emit opened(url); }
};

class WebDepictionTest : public DetailsFixture::Host {
protected:
    struct Seen {
        std::string host, path;
        httplib::Headers headers;
        std::string header(const char* name) const {
            auto it = headers.find(name);
            return it == headers.end() ? "<none>" : it->second;
        }
    };
    std::mutex mutex;
    std::vector<Seen> seen;
    std::vector<QUrl> opened;
    UrlRecorder recorder;

    void SetUp() override {
        Host::SetUp();
        auto echo = [this](const httplib::Request& r, httplib::Response& res) {
            {
                std::lock_guard lock(mutex);
                seen.push_back({r.get_header_value("Host"), r.path, r.headers});
            }
            std::string rows;
            for (const char* h : {"User-Agent", "Dark", "X-Cydia-ID", "X-Unique-ID", "X-Firmware", "X-Machine", "Payment-Provider"})
                rows += std::string("<tr><td>") + h + "</td><td>" + r.get_header_value(h) + "</td></tr>";
            res.set_content("<html><body style='font-family:sans-serif'><h2>Headers the host got</h2><table>" + rows +
                                "</table><p style='height:1200px'>Tall page</p></body></html>",
                            "text/html");
        };
        for (const char* path : {"depiction/pkg", "depiction/landing"}) server->route(path, echo);
        server->route("depiction/links", [](const httplib::Request&, httplib::Response& res) {
            std::string links;
            for (const char* href : {"vostrelle://show/x", "sileo://authentication_success", "file:///etc/hostname",
                                     "mailto:dev@example.org"})
                links += std::string("<a href='") + href + "' style='display:block;height:60px;margin:0'>" + href + "</a>";
            res.set_content("<html><body style='margin:0'>" + links + "</body></html>", "text/html");
        });
        server->route("depiction/file.zip", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Content-Disposition", "attachment; filename=file.zip");
            res.set_content(std::string(1024, 'z'), "application/zip");
        });
        server->route("depiction/redirect", [this](const httplib::Request& r, httplib::Response& res) {
            echoOnly(r);
            res.set_redirect("http://localhost:" + std::to_string(r.local_port) + "/depiction/landing");
        });
        UIApplication::setURLOpener([this](const QUrl& u) {
            opened.push_back(u);
            return true;
        });
        ZMPaletteManager::sharedManager().setStyle(ZMPalette::Light);
        storeSource(url(""), false, true);
    }
    void TearDown() override {
        ZMPaletteManager::sharedManager().setStyle(ZMPalette::Light);
        UIApplication::setURLOpener(nullptr);
        Host::TearDown();
    }
    void echoOnly(const httplib::Request& r) {
        std::lock_guard lock(mutex);
        seen.push_back({r.get_header_value("Host"), r.path, r.headers});
    }
    std::optional<Seen> last(const std::string& path) {
        std::lock_guard lock(mutex);
        for (auto it = seen.rbegin(); it != seen.rend(); ++it)
            if (it->path == path) return *it;
        return std::nullopt;
    }
    size_t count(const std::string& path) {
        std::lock_guard lock(mutex);
        return std::count_if(seen.begin(), seen.end(), [&](const Seen& s) { return s.path == path; });
    }
    WebDepictionViewController* open(const std::string& identifier, const std::string& website) {
        ZMRPackage p;
        p.identifier = identifier;
        p.name = "Web Package";
        p.maintainer = "Web Dev";
        p.version = "3.1";
        p.category = "Tweaks";
        p.size = "123456";
        p.price = "$1.99";
        p.sourceLocation = url("");
        p.website = website;
        storePackage(p);
        auto* web = dynamic_cast<WebDepictionViewController*>(PackageOpening::viewControllerForPackage(p));
        EXPECT_NE(web, nullptr);
        show(web);
        EXPECT_TRUE(GuiTest::waitUntil([&] { return web->webView() != nullptr; }));
        return web;
    }
};

TEST_F(WebDepictionTest, HeadersReachTheHostAndFollowTheAppearance) {
    const std::string udid = ZMPlatform::deviceUDID();
    auto* web = open("com.web.pkg", url("depiction/pkg"));
    bool loaded = false;
    QObject scope;  // the page may finish a load after this test, when `loaded` is gone
    QObject::connect(web->webView(), &RemoteWebView::loadFinished, &scope, [&](bool ok) { loaded = loaded || ok; });
    ASSERT_TRUE(GuiTest::waitUntil([&] { return count("/depiction/pkg") >= 1 && loaded; }, std::chrono::seconds(60)));
    auto first = *last("/depiction/pkg");
    EXPECT_EQ(first.header("User-Agent"), "Telesphoreo APT-HTTP/1.0.592 Light");
    EXPECT_EQ(first.header("Dark"), "<none>");
    EXPECT_EQ(first.header("X-Cydia-ID"), udid);
    EXPECT_EQ(first.header("X-Unique-ID"), udid);
    EXPECT_EQ(first.header("X-Firmware"), ZMPlatform::firmwareVersion());
    EXPECT_EQ(first.header("X-Machine"), ZMPlatform::deviceModelID());
    EXPECT_EQ(first.header("Payment-Provider"), "API");
    EXPECT_NE(first.header("Accept-Language"), "<none>");
    EXPECT_EQ(web->nameLbl()->text(), "Web Package");
    EXPECT_EQ(web->maintainerLbl()->text(), "Web Dev");
    EXPECT_EQ(web->packageSizeLbl()->text(), QLocale().formattedDataSize(123456, 1, QLocale::DataSizeSIFormat));
    EXPECT_EQ(web->getBtn()->text(), "$1.99");
    EXPECT_TRUE(web->shareBtn()->isVisible());
    // The container grows with the page, so the header and the page scroll as one.
    ASSERT_TRUE(GuiTest::waitUntil([&] { return web->webViewContainer()->height() > 1200; }, std::chrono::seconds(10)));
    window->resize(420, 900);  // the bar may have widened it while the page loaded
    GuiTest::pump(std::chrono::milliseconds(800));
    DetailsFixture::saveScreenshot(window.get(), "details-web.png");

    // Switching the appearance reloads the depiction with the other headers.
    for (int style : {ZMPalette::Blue, ZMPalette::Light}) {
        const size_t before = count("/depiction/pkg");
        ZMPaletteManager::sharedManager().setStyle(style);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return count("/depiction/pkg") > before; }, std::chrono::seconds(20)));
        auto again = *last("/depiction/pkg");
        const bool dark = style != ZMPalette::Light;
        EXPECT_EQ(again.header("User-Agent"), std::string("Telesphoreo APT-HTTP/1.0.592 ") + (dark ? "Dark" : "Light"));
        EXPECT_EQ(again.header("Dark"), dark ? "TRUE" : "<none>");
    }

    // "Open in Browser" hands the depiction's own address to the desktop's browser.
    auto* button = web->navigationItem()->rightBarButtonItem();
    EXPECT_EQ(button->title(), "Open in Browser");
    button->trigger();
    EXPECT_EQ(opened, std::vector<QUrl>{QUrl(QString::fromStdString(url("depiction/pkg")))});
    EXPECT_EQ(window->topPresentedViewController(), nav);

    // A desktop without a browser: an alert names the address instead of nothing happening.
    UIApplication::setURLOpener([](const QUrl&) { return false; });
    button->trigger();
    UIAlertController* alert = nullptr;
    ASSERT_TRUE(GuiTest::waitUntil([&] { return (alert = dynamic_cast<UIAlertController*>(window->topPresentedViewController())); }));
    EXPECT_TRUE(alert->message().contains(QString::fromStdString(url("depiction/pkg")))) << alert->message().toStdString();
    EXPECT_TRUE(alert->message().contains("browser")) << alert->message().toStdString();
}

TEST_F(WebDepictionTest, IdentityStaysWithTheSourceHostAndPagesStayConfined) {
    auto* web = open("com.web.redirect", url("depiction/redirect"));
    QString loaded;
    QObject scope;  // ends the connection with the variable it writes
    QObject::connect(web->webView(), &RemoteWebView::loadFinished, &scope, [&](bool ok) {
        if (ok) loaded = web->webView()->url().path();
    });
    ASSERT_TRUE(GuiTest::waitUntil([&] { return count("/depiction/landing") >= 1; }, std::chrono::seconds(60)));
    EXPECT_EQ(last("/depiction/redirect")->header("X-Cydia-ID"), ZMPlatform::deviceUDID());
    auto landing = *last("/depiction/landing");
    EXPECT_EQ(landing.host.rfind("localhost", 0), 0u);
    EXPECT_EQ(landing.header("X-Cydia-ID"), "<none>");
    EXPECT_EQ(landing.header("X-Unique-ID"), "<none>");
    EXPECT_EQ(landing.header("X-Firmware"), ZMPlatform::firmwareVersion());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return loaded == "/depiction/landing"; }, std::chrono::seconds(10)));
    EXPECT_EQ(web->webView()->url().host(), "localhost");

    // A new window opens in the same view.
    web->webView()->runJavaScript(QString::fromStdString("window.open('" + url("depiction/links") + "')"));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return loaded == "/depiction/links"; }, std::chrono::seconds(20)));
    // Links a user clicks: other schemes go nowhere (not even to the desktop),
    // mail goes to the mail program.
    QStringList desktop;
    for (const char* scheme : {"vostrelle", "sileo", "file"}) QDesktopServices::setUrlHandler(scheme, &recorder, "open");
    QObject::connect(&recorder, &UrlRecorder::opened, [&](const QUrl& u) { desktop << u.toString(); });
    auto* input = web->webView();
    GuiTest::pump(std::chrono::milliseconds(500));
    // file: from a web page is stopped by the engine itself and never asked for.
    for (int row : {0, 1, 3, 2}) {
        const int refused = web->webView()->refusedNavigationCount();
        QTest::mouseClick(input, Qt::LeftButton, {}, QPoint(40, 30 + 60 * row));
        if (row != 2) {
            ASSERT_TRUE(GuiTest::waitUntil([&] { return web->webView()->refusedNavigationCount() > refused; }, std::chrono::seconds(10)))
                << row;
        }
    }
    GuiTest::pump(std::chrono::milliseconds(500));
    for (const char* scheme : {"vostrelle", "sileo", "file"}) QDesktopServices::unsetUrlHandler(scheme);
    EXPECT_TRUE(desktop.isEmpty()) << desktop.join(" ").toStdString();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened.front(), QUrl("mailto:dev@example.org"));
    EXPECT_EQ(web->webView()->url().path(), "/depiction/links");

    // No permission is granted and no download kept.
    web->webView()->runJavaScript("navigator.geolocation.getCurrentPosition(() => document.title = 'granted', "
                               "() => document.title = 'denied')");
    EXPECT_TRUE(GuiTest::waitUntil([&] { return web->webView()->title() == "denied"; }, std::chrono::seconds(10)));
    web->webView()->runJavaScript(QString::fromStdString("location.href = '" + url("depiction/file.zip") + "'"));
    EXPECT_TRUE(GuiTest::waitUntil([&] { return web->webView()->refusedDownloadCount() == 1; }, std::chrono::seconds(10)));
    window.reset();

    // A depiction on another host never gets the identity; an identifier
    // without a record gets no Get, options or share.
    auto* elsewhere = new WebDepictionViewController;
    elsewhere->setWebsiteURL(QUrl(QString::fromStdString("http://localhost:" + std::to_string(QUrl(QString::fromStdString(url(""))).port()) +
                                                         "/depiction/pkg")));
    elsewhere->setPackageIdentifier("com.unknown");
    show(elsewhere);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return count("/depiction/pkg") >= 1; }, std::chrono::seconds(60)));
    EXPECT_EQ(last("/depiction/pkg")->header("X-Cydia-ID"), "<none>");
    EXPECT_FALSE(elsewhere->getBtn()->isVisible());
    EXPECT_FALSE(elsewhere->shareBtn()->isVisible());
    elsewhere->getPackage(elsewhere->getBtn());
    EXPECT_FALSE(ZMRPackage::objectForPrimaryKey("com.unknown").has_value());
}

}  // namespace

#include "WebDepictionViewControllerTests.moc"
