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

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>
#include <atomic>
#include <filesystem>
#include <map>
#include <thread>

#include "DetailsBenchHost.h"
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

// The depiction this benchmark's page reads, with its banner and screenshots.
struct Host : DetailsBench::Host {
    Host() {
        const std::string shots = DetailsBench::addBannerAndScreenshots(*this);
        std::string versions;
        for (int v = 20; v >= 1; --v)
            versions += std::string(v < 20 ? "," : "") + "{\"title\": \"1." + std::to_string(v) + "\"}, {\"markdown\": \"- fixed things in 1." +
                        std::to_string(v) + "\\n- added an option\"}";
        files["depiction.json"] =
            "{\"headerImage\": \"" + url("banner.png") +
            "\", \"tabs\": [{\"tabname\": \"Details\", \"views\": [{\"markdown\": \"**Bench** does many things.\\n\\n- one\\n- two\\n\\nSee "
            "https://example.org/bench for more.\"}, {\"screenshots\": [" + shots +
            "]}]}, {\"tabname\": \"Change Log\", \"views\": [" + versions + "]}]}";
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
