// The application's resident memory with a large index in its database and
// the list of all its packages open, for Benchmarks/package-list-memory.sh:
// launches the application delegate offscreen on the given data directory,
// refreshes the source at <location> in the process when one is given (as
// adding a source does), pushes the list of all packages onto the Manage tab
// as a user opens it, lets it draw, scrolls it through, and prints one JSON
// line per step with the process's resident memory (VmRSS) and its peak
// (VmHWM), in MB.
//
//   bench_GuiPackageListMemory <data directory> [location]
#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdio>
#include <fstream>
#include <string>

#include "App/ZMApplication.h"
#include "Browsing/PackagesTableViewController.h"
#include "Database/ZMCategorySpecial.h"
#include "Database/ZMRSource.h"
#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMPaths.h"
#include "UIKit/QtMainExecutor.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UITabBarController.h"
#include "ZMSourceRefresh.h"
#include "ZMVostrelle.h"

namespace {

long statusKilobytes(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::string(key).size()));
    return -1;
}

void report(const char* step, size_t rows) {
    std::printf("{\"step\": \"%s\", \"rows\": %zu, \"rss_mb\": %ld, \"peak_mb\": %ld}\n", step, rows,
                statusKilobytes("VmRSS:") / 1024, statusKilobytes("VmHWM:") / 1024);
    std::fflush(stdout);
}

bool pumpUntil(const std::function<bool()>& done, int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > milliseconds) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <data directory>\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    UIKit::installQtMainExecutor();
    ZMPaths::setApplicationSupport(argv[1]);
    auto& delegate = ZMVostrelle::sharedVostrelle();
    ZMApplication::applicationDidFinishLaunching();
    pumpUntil([&] { return delegate.backgroundLaunchWorkDone(); }, 60000);
    pumpUntil([] { return false; }, 500);
    report("launched", 0);
    if (argc > 2) {
        const std::string location = argv[2];
        auto realm = Realm::defaultRealm();
        auto source = ZMRSource::newSourceWithLocation(location);
        realm->transactionWithBlock([&] { realm->addOrUpdate(source); });
        bool done = false;
        Dispatch::backgroundQueue([&] {
            auto result = ZMSourceRefresh::make(location)->refresh();
            if (!result) std::fprintf(stderr, "refresh failed: %s\n", result.error->debugDescription().c_str());
            Dispatch::main([&] { done = true; });
        });
        pumpUntil([&] { return done; }, 120000);
        pumpUntil([] { return false; }, 1500);  // the change notifications reach the screens
        report("refreshed", 0);
    }

    auto* tabs = delegate.tabBarController();
    tabs->setSelectedIndex(ZMVostrelle::ManageTab);
    auto* nav = qobject_cast<UINavigationController*>(tabs->viewControllers()[ZMVostrelle::ManageTab]);
    auto* list = new PackagesTableViewController;
    list->setCategory(kCategorySpecial_AllPackages);
    list->setTitle(QStringLiteral("All Packages"));
    nav->pushViewController(list, false);
    pumpUntil([&] { return list->isOnScreen() && list->rebuildCount() > 0; }, 60000);
    pumpUntil([] { return false; }, 500);
    size_t rows = 0;
    for (int s = 0; s < list->model().numberOfSections(); ++s) rows += static_cast<size_t>(list->model().numberOfRows(s));
    report("list open", rows);

    // Through the whole list, as a flick would go.
    auto* table = list->packagesTableView();
    const int height = table->contentHeight();
    for (int step = 1; step <= 40; ++step) {
        table->setContentOffset(static_cast<double>(height) * step / 40.0);
        pumpUntil([] { return false; }, 20);
    }
    pumpUntil([] { return false; }, 500);
    report("scrolled through", rows);
    return 0;
}
