// One scroll step of a package's whole details page, offscreen: the page
// (banner, header, changelog, five 1280x720 screenshots, description, the
// developer card, three reviews with the average, the information rows, the
// repository and two other packages of the developer) moves to the next
// offset, lays itself out and paints, with the window it is in.
//   BM_ScrollStep             the header follows the scrolling (the bar fades,
//                             the banner shrinks, the header is handed over to
//                             the bar at 100 points and back);
//   BM_ScrollStepNoHandOver   the same steps with that behaviour off.
// The offsets go down from 0 to 300 and back up in steps of 6 points. Times
// are per step (manual time, milliseconds). A page that never showed
// everything fails the benchmark rather than time an empty page.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QScrollBar>
#include <QScrollBar>
#include <QTemporaryDir>
#include <map>
#include <thread>

#include "DetailsBenchHost.h"
#include "Database/ZMRPackage.h"
#include "Details/PackageDetailsViewController.h"
#include "Details/PackageHeaderScrolling.h"
#include "Details/PackageReviewsSection.h"
#include "Details/ZMDetailsServices.h"
#include "Miscellaneous/ZMPaths.h"
#include "Realm/Realm.h"
#include "SystemConfiguration/Reachability.h"
#include "UIKit/QtMainExecutor.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIScrollView.h"
#include "UIKit/UITextView.h"
#include "UIKit/UIWindow.h"

namespace {

const char* kIdentifier = "com.bench.scroll";

// The depiction this benchmark's page reads, with its banner and screenshots.
struct Host : DetailsBench::Host {
    Host() {
        const std::string shots = DetailsBench::addBannerAndScreenshots(*this);
        files["depiction.json"] =
            "{\"headerImage\": \"" + url("banner.png") +
            "\", \"tabs\": [{\"tabname\": \"Details\", \"views\": [{\"markdown\": \"**Bench** scrolls.\\n\\n- one\\n- two\"}, "
            "{\"screenshots\": [" + shots + "]}]}, {\"tabname\": \"Change Log\", \"views\": [{\"title\": \"2.0\"}, "
            "{\"markdown\": \"- smoother\\n- lighter\"}]}]}";
    }
};

// The maker's answers the page shows, without a network.
class BenchServices : public ZMDetailsServices {
public:
    void getAverageRate(const std::string&, std::function<void(std::optional<std::string>)> done) override { done("4.5"); }
    void getReviews(const std::string&, std::function<void(std::vector<Review>)> done) override {
        std::vector<Review> reviews(3);
        for (size_t i = 0; i < reviews.size(); ++i) {
            reviews[i].reviewID = std::to_string(i + 1);
            reviews[i].title = "a fine tweak";
            reviews[i].desc = "It does what it says and the settings are clear. Works on my device without trouble.";
            reviews[i].rating = 4;
            reviews[i].name = "user" + std::to_string(i);
            reviews[i].upvotes = "12";
            reviews[i].downvotes = "1";
            if (i == 0) reviews[i].reply = "Thanks!";
        }
        done(reviews);
    }
};

struct Fixture {
    QTemporaryDir support;
    Host host;
    UIWindow window;
    UINavigationController* nav;
    PackageDetailsViewController* page = nullptr;
    std::vector<double> offsets;
    size_t next = 0;

    Fixture() {
        ZMPaths::setApplicationSupport(support.path().toStdString());
        Reachability::setOverride(Reachability::ReachableViaWiFi);
        UIView::setAnimationsEnabled(false);
        ZMDetailsServices::install(std::make_shared<BenchServices>());
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] {
            ZMRPackage p;
            p.identifier = kIdentifier;
            p.name = "Bench Scroll";
            p.version = "2.0";
            p.maintainer = "Bench Dev";
            p.size = "4812800";
            p.dependencies = {"mobilesubstrate", "preferenceloader", "com.bench.lib (>= 1.2)"};
            p.isInstalled = true;
            p.sileoDepiction = host.url("depiction.json");
            realm->addOrUpdate(p);
            for (int i = 0; i < 2; ++i) {
                ZMRPackage other;
                other.identifier = "com.bench.other" + std::to_string(i);
                other.name = "Other " + std::to_string(i);
                other.maintainer = "Bench Dev";
                realm->addOrUpdate(other);
            }
        });
        for (double y = 0; y <= 300; y += 6) offsets.push_back(y);
        for (double y = 294; y > 0; y -= 6) offsets.push_back(y);
        nav = new UINavigationController(new UIViewController);
        window.setRootViewController(nav);
        window.resize(420, 900);
        window.show();
        page = new PackageDetailsViewController;
        page->setPackageIdentifier(kIdentifier);
        nav->pushViewController(page, false);
        QElapsedTimer clock;
        clock.start();
        while (!complete() && clock.elapsed() < 15'000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    bool complete() const {
        return page->screenshotsDictionary().size() == 5 && page->changelogSection()->isVisible() && page->hasBannerImage() &&
               page->packageReviews().size() == 3 && page->reviewsSection()->reviewsCollectionView()->isVisible() &&
               page->devPackages().size() == 2 && page->scrollView()->verticalScrollBar()->maximum() > 1000;
    }
    // One step: the next offset, the layout it asks for, and a paint of the window.
    double step() {
        const double y = offsets[next++ % offsets.size()];
        QElapsedTimer clock;
        clock.start();
        page->scrollView()->setContentOffsetY(y, false);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        window.repaint();
        return clock.nsecsElapsed() / 1e9;
    }
};

Fixture& fixture() {
    static auto* f = new Fixture;  // lives as long as the process
    return *f;
}

void run(benchmark::State& state, bool handOver) {
    auto& f = fixture();
    if (!f.complete()) {
        state.SkipWithError("the page never showed everything");
        return;
    }
    f.page->setHeaderHandOverEnabled(handOver);
    f.page->handleStatusBarTap();
    f.next = 0;
    int handOvers = 0;
    for (auto _ : state) {
        state.SetIterationTime(f.step());
        handOvers += f.page->headerScrolling()->isHandedOver() ? 1 : 0;
    }
    if (handOver && handOvers == 0) state.SkipWithError("the header was never handed over: nothing of it was measured");
    state.counters["handedOverSteps"] = handOvers;
}

void BM_ScrollStep(benchmark::State& state) { run(state, true); }
BENCHMARK(BM_ScrollStep)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(400);

void BM_ScrollStepNoHandOver(benchmark::State& state) { run(state, false); }
BENCHMARK(BM_ScrollStepNoHandOver)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(400);

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
