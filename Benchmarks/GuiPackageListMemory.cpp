// The application's resident memory with a large index in its database and
// the list of all its packages open, for Benchmarks/package-list-memory.sh:
// launches the application delegate offscreen on the given data directory,
// adds the source at <location> when one is given (the pipeline refreshes it,
// as adding a source does), opens All Packages from the Sections tab as a
// user does, lets it draw, scrolls it through, and prints one JSON line per
// step with the process's resident memory (VmRSS) and its peak (VmHWM), in
// MB. An empty list, or a refresh that stored nothing, exits 1: it would
// measure nothing.
//
//   bench_GuiPackageListMemory <data directory> [location]
#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdio>
#include <fstream>
#include <string>

#include "BenchSupport.h"
#include "App/ZMApplication.h"
#include "Browsing/CategoriesTableViewController.h"
#include "Browsing/PackagesTableViewController.h"
#include "Database/ZMCategorySpecial.h"
#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageManager.h"
#include "Database/ZMRSource.h"
#include "Miscellaneous/ZMPaths.h"
#include "UIKit/QtMainExecutor.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UITabBarController.h"
#include "VostrellePersistentPreferences.h"
#include "ZMPipelineManager.h"
#include "ZMVostrelle.h"

namespace {

using BenchSupport::statusKilobytes;

void report(const char* step, size_t rows) {
    std::printf("{\"step\": \"%s\", \"rows\": %zu, \"rss_mb\": %ld, \"anon_mb\": %ld, \"file_mb\": %ld, \"peak_mb\": %ld}\n",
                step, rows, statusKilobytes("VmRSS:") / 1024, statusKilobytes("RssAnon:") / 1024,
                statusKilobytes("RssFile:") / 1024, statusKilobytes("VmHWM:") / 1024);
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

int fail(const char* why) {
    std::fprintf(stderr, "FAILED: %s\n", why);
    std::printf("{\"error\": \"%s\"}\n", why);
    return 1;
}

size_t storedPackages() {
    try {
        return ZMRPackage::allObjects().count();
    } catch (const std::exception&) {
        return 0;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <data directory> [location]\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    UIKit::installQtMainExecutor();
    ZMPaths::setApplicationSupport(argv[1]);
    // A user who has been through the first-run setup: no setup screen covers the tabs.
    VostrellePersistentPreferences::sharedInstance().setValue(VostrellePreferenceKey::SetupDone, true);
    auto& delegate = ZMVostrelle::sharedVostrelle();
    ZMApplication::applicationDidFinishLaunching();
    pumpUntil([&] { return delegate.backgroundLaunchWorkDone(); }, 60000);
    pumpUntil([] { return false; }, 500);
    report("launched", 0);
    if (argc > 2) {
        // Added as the sources screen adds it (plain http approved): the
        // pipeline refreshes it and the caches the lists read are rebuilt.
        const std::string location = argv[2];
        auto& sources = ZMRPackageManager::sharedPackageManager().sources();
        const auto added = sources.addSourceWithLocation(location, true);
        if (added.status != ZMRAddSourceStatus::Added) return fail("the source was not added");
        const bool refreshed = pumpUntil(
            [&] {
                return ZMPipelineManager::sharedManager().liveTaskCount() == 0 && !sources.isRefreshInProgress() &&
                       storedPackages() > 0;
            },
            300000);
        if (!refreshed) return fail("the refresh stored no package");
        pumpUntil([] { return false; }, 1500);  // the change notifications reach the screens
        report("refreshed", 0);
    }

    // All Packages, opened as a user opens it: the Sections tab's first row.
    auto* tabs = delegate.tabBarController();
    tabs->setSelectedIndex(ZMVostrelle::SectionsTab);
    auto* nav = qobject_cast<UINavigationController*>(tabs->selectedViewController());
    auto* sections = nav ? dynamic_cast<CategoriesTableViewController*>(nav->viewControllers().front()) : nullptr;
    if (!sections) return fail("no Sections screen");
    pumpUntil([&] { return sections->isOnScreen(); }, 10000);
    sections->didSelectRow(sections->defaultCategoriesTableView(), {0, 0});
    auto* list = dynamic_cast<PackagesTableViewController*>(nav->topViewController());
    if (!list) return fail("the first row opened no package list");
    const auto rowsOf = [list] {
        size_t rows = 0;
        for (int s = 0; s < list->model().numberOfSections(); ++s)
            rows += static_cast<size_t>(list->model().numberOfRows(s));
        return rows;
    };
    pumpUntil([&] { return list->isOnScreen() && rowsOf() > 0; }, 60000);
    pumpUntil([] { return false; }, 500);
    const size_t rows = rowsOf();
    report("list open", rows);
    // A list without rows measures nothing.
    if (rows == 0) return fail("the list of all packages is empty");
    if (argc > 2 && rows < storedPackages() / 2)
        return fail("the list shows fewer than half the stored packages");

    // Through the whole list, as a flick would go.
    auto* table = list->packagesTableView();
    const int height = table->contentHeight();
    for (int step = 1; step <= 40; ++step) {
        table->setContentOffset(static_cast<double>(height) * step / 40.0);
        pumpUntil([] { return false; }, 20);
    }
    pumpUntil([] { return false; }, 500);
    report("scrolled through", rowsOf());
    return 0;
}
