#pragma once
// The package screens against a loopback host that serves depictions, pages
// and screenshots (files written into its directory, or handlers), with the
// network taken as reachable.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <memory>
#include <optional>

#include "Browsing/BrowsingFixture.h"
#include "Browsing/CategoriesTableViewController.h"
#include "Browsing/PackagesTableViewController.h"
#include "Depictions/ZMDepictionSettings.h"
#include "Browsing/PackageOpening.h"
#include "Details/PackageDetailsViewController.h"
#include "Details/RemoteWebView.h"
#include "Details/WebDepictionViewController.h"
#include "PackageCell.h"
#include "Support/FlatRepository.h"
#include "Support/Gui/UserGestures.h"
#include "UIKit/UITabBarController.h"
#include "SystemConfiguration/Reachability.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIWindow.h"
#include "VostrelleBuildPaths.h"
#include "ZMVostrelle.h"

namespace DetailsFixture {

// A PNG of the size, filled and numbered.
inline std::string png(int width, int height, const QColor& color, const QString& label = {}) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    if (!label.isEmpty()) {
        QPainter p(&image);
        QFont f;
        f.setPixelSize(height / 3);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(image.rect(), Qt::AlignCenter, label);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

inline void saveScreenshot(QWidget* widget, const char* name) {
    QDir().mkpath(VOSTRELLE_SCREENSHOT_DIR);
    EXPECT_TRUE(widget->grab().toImage().save(QString(VOSTRELLE_SCREENSHOT_DIR "/") + name));
}

// What `script` gives in the web depiction's page, as text (empty when no
// answer came).
inline QString evaluate(RemoteWebView* page, const QString& script) {
    auto answer = std::make_shared<std::optional<QString>>();  // the answer may come after we stop waiting
    page->runJavaScript(script, [answer](const QVariant& v) { *answer = v.toString(); });
    GuiTest::waitUntil([&] { return answer->has_value(); }, std::chrono::seconds(10));
    return answer->value_or(QString());
}

// In the launched application, as a user gets there: the Sections tab, "All
// Packages", and a click on the package's row. nullptr when one step fails.
inline PackageDetailsViewController* openFromAllPackages(ZMVostrelle& d, const std::string& identifier) {
    UserGesture::tapTab(d.tabBarController(), ZMVostrelle::SectionsTab);
    auto* nav = dynamic_cast<UINavigationController*>(d.tabBarController()->selectedViewController());
    if (!nav) return nullptr;
    nav->popToRootViewController(false);
    auto* sections = dynamic_cast<CategoriesTableViewController*>(nav->topViewController());
    if (!sections) return nullptr;
    UserGesture::tapRow(sections->defaultCategoriesTableView(), {0, 0});
    auto* list = dynamic_cast<PackagesTableViewController*>(nav->topViewController());
    if (!list || !GuiTest::waitUntil([&] { return list->model().numberOfSections() > 0; })) return nullptr;
    UITableView* table = list->packagesTableView();
    for (int section = 0; section < list->model().numberOfSections(); ++section)
        for (int row = 0; row < table->numberOfRows(section); ++row) {
            table->scrollToRow({section, row}, UITableView::ScrollPosition::Middle, false);
            GuiTest::pump();
            auto* cell = qobject_cast<PackageCell*>(table->cellForRow({section, row}));
            if (!cell || cell->packageIdentifier() != identifier) continue;
            UserGesture::click(cell);
            return dynamic_cast<PackageDetailsViewController*>(nav->topViewController());
        }
    return nullptr;
}

class Host : public BrowsingFixture::Database {
protected:
    TestSupport::TempDir root;
    std::unique_ptr<FlatRepository::FileServer> server;
    std::unique_ptr<UIWindow> window;
    UINavigationController* nav = nullptr;

    void SetUp() override {
        Database::SetUp();
        Reachability::setOverride(Reachability::ReachableViaWiFi);
        ZMVostrelle::resetForTesting();
        server = std::make_unique<FlatRepository::FileServer>(root.path());
    }
    void TearDown() override {
        window.reset();
        ZMVostrelle::resetForTesting();
        ZMDepictionSettings::set(std::nullopt);
        Reachability::setOverride(std::nullopt);
        server.reset();
        Database::TearDown();
    }
    // A file the host serves at `path`.
    void serve(const std::string& path, const std::string& content) {
        QDir().mkpath(QString::fromStdString(root.file(path)).section('/', 0, -2));
        TestSupport::writeFile(root.file(path), content);
    }
    std::string url(const std::string& path) const { return server->url(path); }

    // Shows `root` in a window of its own, in a navigation controller.
    void show(UIViewController* rootScreen, QSize size = {420, 900}) {
        nav = new UINavigationController(rootScreen);
        window = std::make_unique<UIWindow>();
        window->resize(size);
        window->setRootViewController(nav);
        window->show();
        ASSERT_TRUE(GuiTest::waitUntil([&] { return rootScreen->isOnScreen(); }));
    }
    PackageDetailsViewController* openDetails(const std::string& identifier) {
        auto* details = new PackageDetailsViewController;
        details->setPackageIdentifier(identifier);
        show(details);
        return details;
    }
    // A package of a source that asks for its original depictions, opened the
    // way a list opens it (its web page, served as `html` at `path`), shown at `size`.
    WebDepictionViewController* openWebDepiction(const std::string& identifier, const std::string& path,
                                                 const std::string& html, QSize size) {
        server->route(path, [html](const httplib::Request&, httplib::Response& res) { res.set_content(html, "text/html"); });
        storeSource(url(""), false, true);
        ZMRPackage p;
        p.identifier = identifier;
        p.name = "Web Page";
        p.version = "1.0";
        p.sourceLocation = url("");
        p.website = url(path);
        storePackage(p);
        auto* web = dynamic_cast<WebDepictionViewController*>(PackageOpening::viewControllerForPackage(p));
        EXPECT_NE(web, nullptr);
        if (web) show(web, size);
        return web;
    }
    void storePackage(ZMRPackage p) { store({std::move(p)}); }
    void storeSource(const std::string& location, bool infoJson = false, bool original = false) {
        auto s = ZMRSource::newSourceWithLocation(location);
        s.name = "Loopback";
        s.isUsingInfoJson = infoJson;
        s.seeOriginalDepictions = original;
        realm->transactionWithBlock([&] { realm->addOrUpdate(s); });
    }
};

}  // namespace DetailsFixture
