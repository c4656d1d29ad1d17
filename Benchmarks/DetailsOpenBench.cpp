// Opening a package's details page, offscreen: from the push to the first
// paint that shows its banner, description, changelog and five 1280x720
// screenshots, served by a loopback host that lets nothing be cached over
// HTTP.
//   BM_OpenUncached  no screenshot in the cache (files and record cleared);
//   BM_OpenCached    the screenshots of the previous opening in the cache;
//   BM_FetchOnly     the same files fetched through URLSession alone (the
//                    depiction, then the banner and screenshots at once).
// Times are per opening (manual time, milliseconds).
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <atomic>
#include <filesystem>
#include <map>
#include <thread>

#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageManager.h"
#include "Depictions/ZMScreenshotCache.h"
#include "Details/PackageDetailsViewController.h"
#include "Foundation/URLSession.h"
#include "Miscellaneous/ZMPaths.h"
#include "Realm/Realm.h"
#include "SystemConfiguration/Reachability.h"
#include "UIKit/QtMainExecutor.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UITextView.h"
#include "UIKit/UIWindow.h"

namespace {

const char* kIdentifier = "com.bench.details";

std::string png(int width, int height, const QColor& color) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    QPainter p(&image);  // some structure, so the PNG is not trivially small
    for (int y = 0; y < height; y += 24) p.fillRect(0, y, width, 12, color.darker(110 + y % 40));
    p.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

struct Host {
    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::map<std::string, std::string> files;
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + "/" + path; }

    Host() {
        server.Get(R"(/(.*))", [this](const httplib::Request& r, httplib::Response& res) {
            auto it = files.find(r.matches[1]);
            if (it == files.end()) {
                res.status = 404;
                return;
            }
            res.set_header("Cache-Control", "no-store");
            res.set_content(it->second, r.path.size() > 4 && r.path.substr(r.path.size() - 4) == ".png" ? "image/png" : "application/json");
        });
        port = server.bind_to_any_port("127.0.0.1");
        files["banner.png"] = png(1280, 400, QColor("#e0533d"));
        std::string shots;
        for (int i = 1; i <= 5; ++i) {
            files["shot" + std::to_string(i) + ".png"] = png(1280, 720, QColor::fromHsv(60 * i, 160, 200));
            shots += std::string(i > 1 ? "," : "") + "{\"url\": \"" + url("shot" + std::to_string(i) + ".png") + "\"}";
        }
        std::string versions;
        for (int v = 20; v >= 1; --v)
            versions += std::string(v < 20 ? "," : "") + "{\"title\": \"1." + std::to_string(v) + "\"}, {\"markdown\": \"- fixed things in 1." +
                        std::to_string(v) + "\\n- added an option\"}";
        files["depiction.json"] =
            "{\"headerImage\": \"" + url("banner.png") +
            "\", \"tabs\": [{\"tabname\": \"Details\", \"views\": [{\"markdown\": \"**Bench** does many things.\\n\\n- one\\n- two\\n\\nSee "
            "https://example.org/bench for more.\"}, {\"screenshots\": [" + shots +
            "]}]}, {\"tabname\": \"Change Log\", \"views\": [" + versions + "]}]}";
        thread = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~Host() {
        server.stop();
        thread.join();
    }
};

struct Fixture {
    QTemporaryDir support;
    Host host;
    UIWindow window;
    UINavigationController* nav;

    Fixture() {
        ZMPaths::setApplicationSupport(support.path().toStdString());
        Reachability::setOverride(Reachability::ReachableViaWiFi);
        UIView::setAnimationsEnabled(false);
        ZMRPackage p;
        p.identifier = kIdentifier;
        p.name = "Bench";
        p.version = "1.20";
        p.maintainer = "Bench Dev";
        p.sileoDepiction = host.url("depiction.json");
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] { realm->addOrUpdate(p); });
        nav = new UINavigationController(new UIViewController);
        window.setRootViewController(nav);
        window.resize(420, 900);
        window.show();
        QCoreApplication::processEvents();
    }
    static bool complete(PackageDetailsViewController* page) {
        return page->screenshotsDictionary().size() == 5 && page->changelogSection()->isVisible() &&
               page->descriptionLbl()->document()->toPlainText().contains("Bench does many things") &&
               page->hasBannerImage() && page->bannerImageView()->isVisible();
    }
    // Push to first complete paint, in seconds; -1 when it never completed.
    double open() {
        QElapsedTimer clock;
        clock.start();
        auto* page = new PackageDetailsViewController;
        page->setPackageIdentifier(kIdentifier);
        nav->pushViewController(page, false);
        while (!complete(page)) {
            if (clock.elapsed() > 10'000) return -1;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
        window.repaint();
        const double seconds = clock.nsecsElapsed() / 1e9;
        nav->popViewController(false);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return seconds;
    }
    void clearCache() {
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] {
            auto p = realm->objectForPrimaryKey<ZMRPackage>(kIdentifier);
            realm->setValueForKey(*p, "screenshots", StringList{});
            realm->setValueForKey(*p, "screenshotsLocalPaths", StringList{});
        });
        std::error_code ec;
        std::filesystem::remove_all(ZMScreenshotCache::directory(), ec);
    }
    // Waits for the record written at the end of the previous opening's pass.
    void waitForCachedRecord() {
        QElapsedTimer clock;
        clock.start();
        while (ZMRPackage::objectForPrimaryKey(kIdentifier)->screenshotsLocalPaths.size() < 5 && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
};

Fixture& fixture() {
    static auto* f = new Fixture;  // lives as long as the process
    return *f;
}

void report(benchmark::State& state, double seconds) {
    if (seconds < 0) state.SkipWithError("the page never showed everything");
    else state.SetIterationTime(seconds);
}

void BM_OpenUncached(benchmark::State& state) {
    auto& f = fixture();
    for (auto _ : state) {
        f.clearCache();
        report(state, f.open());
        f.waitForCachedRecord();  // the pass's files and record, outside the measured time
    }
}
BENCHMARK(BM_OpenUncached)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_OpenCached(benchmark::State& state) {
    auto& f = fixture();
    f.clearCache();
    f.open();
    f.waitForCachedRecord();
    for (auto _ : state) report(state, f.open());
}
BENCHMARK(BM_OpenCached)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_FetchOnly(benchmark::State& state) {
    auto& f = fixture();
    auto session = URLSession::sessionWithConfiguration(URLSessionConfiguration::noCacheConfigureation());
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        std::atomic<int> done{0};
        session->dataTaskWithURL(*URL::parse(f.host.url("depiction.json")), [&](std::string, std::optional<URLResponse>, std::optional<ZMError>) {
            for (const char* file : {"banner.png", "shot1.png", "shot2.png", "shot3.png", "shot4.png", "shot5.png"})
                session->dataTaskWithURL(*URL::parse(f.host.url(file)), [&](std::string, std::optional<URLResponse>, std::optional<ZMError>) {
                    ++done;
                })->resume();
        })->resume();
        while (done < 6) std::this_thread::sleep_for(std::chrono::microseconds(200));
        state.SetIterationTime(clock.nsecsElapsed() / 1e9);
    }
}
BENCHMARK(BM_FetchOnly)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    UIKit::installQtMainExecutor();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
