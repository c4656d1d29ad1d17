// A long session with the application, for Benchmarks/long-run.sh: started
// as main() starts it (data directory, log and target root from the
// environment), driven through its window with mouse and keyboard events,
// phase by phase (see the script). After each phase, once the program has
// settled, one row: the resident memory (VmRSS, its anonymous part, the peak
// VmHWM), the longest stall of the GUI thread during the phase and the event
// that took longest, and the rows of the lists the phase opened.
//
// The stall probe: a 5 ms timer on the GUI thread's event loop; the lateness
// of each of its ticks is how long the loop could not run (whatever held it:
// an event, a posted block, a layout), with the thread's CPU time and its
// switches over that tick ("wait/pre": times it waited, times the scheduler
// preempted it). Each top-level event dispatch is timed too, to name the
// slowest one.
//
// Exits 1 when a phase measured nothing: a refresh that stored no package,
// a list with no row, a page that never loaded, a queue run that did not
// reach the sandbox root.
//
//   bench_GuiLongRun <debian location> <small location> <debian directory> <small directory>
#include <malloc.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "GuiProbes.h"
#include "App/ZMApplication.h"
#include "Browsing/CategoriesTableViewController.h"
#include "Browsing/ManageViewController.h"
#include "Browsing/PackageSearch.h"
#include "Browsing/PackagesTableViewController.h"
#include "Browsing/SearchViewController.h"
#include "Browsing/SourcesCell.h"
#include "Browsing/SubcategoriesViewController.h"
#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageManager.h"
#include "Database/ZMRSource.h"
#include "Details/PackageDetailsViewController.h"
#include "Details/RemoteWebView.h"
#include "Details/WebDepictionViewController.h"
#include "Miscellaneous/ZMHeap.h"
#include "Miscellaneous/ZMPaths.h"
#include "Online/Screens/ZMStoreCallbackSchemeHandler.h"
#include "PackageCell.h"
#include "PackagesConfirmationViewController.h"
#include "SegmentedViewController.h"
#include "UIKit/UIBarButtonItem.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UISegmentedControl.h"
#include "UIKit/UITabBarController.h"
#include "UIKit/UIWindow.h"
#include "VostrellePersistentPreferences.h"
#include "ZMPipelineManager.h"
#include "ZMTabBarStatusView.h"
#include "ZMVostrelle.h"

namespace {

// ---- the probe ---------------------------------------------------------------------------------

using namespace GuiProbes;

ProbedApplication* gApp = nullptr;
StallProbe* gProbe = nullptr;

// Wraps a check of the benchmark's own (a database count, a file read).
class DriverWork {
public:
    DriverWork() {
        if (depth_++ == 0) timer_.start();
    }
    ~DriverWork() {
        if (--depth_ > 0) return;  // the outermost one counts
        const qint64 ns = timer_.nsecsElapsed();
        gDriverNs += ns;
        if (gProbe) gProbe->excuse(ns);
    }

private:
    static inline int depth_ = 0;
    QElapsedTimer timer_;
};

bool check(const std::function<bool()>& done) {
    DriverWork work;
    return done();
}

// ---- waiting without holding the loop ----------------------------------------------------------

// Runs the event loop (blocking in it as the application's own loop does)
// until `done` holds or the time is up; answers `done()`.
bool waitFor(const std::function<bool()>& done, int milliseconds) {
    if (check(done)) return true;
    QEventLoop loop;
    QTimer poll, deadline;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (check(done)) loop.quit();
    });
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start(20);
    deadline.setSingleShot(true);
    deadline.start(milliseconds);
    loop.exec();
    return check(done);
}

void settle(int milliseconds) {
    waitFor([] { return false; }, milliseconds);
}

// ---- what is measured --------------------------------------------------------------------------

using BenchSupport::statusKilobytes;

// The memory of a process and all its descendants, in kB: each one's
// proportional share (Pss), so that pages they share count once in all.
long processTreePssKB(long pid) {
    if (pid <= 0) return 0;
    long sum = std::max(0L, statusKilobytes("Pss:", pid, "smaps_rollup"));
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    long child = 0;
    while (children >> child) sum += processTreePssKB(child);
    return sum;
}

struct Row {
    std::string phase;
    long rss = 0, anon = 0, peak = 0, phaseHighest = 0, phaseHighestAnon = 0;
    double stallMs = 0, stallCpuMs = 0;
    Switches stallSwitches;
    std::string slowest;
    std::string rows;
};
std::vector<Row> gRows;

// The phase's row, once the program has settled (the heap is trimmed a second after the database goes idle).
void report(const std::string& phase, const std::string& rows = "") {
    settle(3000);
    Row r;
    r.phase = phase;
    r.rss = statusKilobytes("VmRSS:") / 1024;
    r.anon = statusKilobytes("RssAnon:") / 1024;
    r.peak = statusKilobytes("VmHWM:") / 1024;
    const auto figures = gProbe->take();
    r.stallMs = figures.stallMs;
    r.stallCpuMs = figures.stallCpuMs;
    r.stallSwitches = figures.stallSwitches;
    r.phaseHighest = figures.highestMb;
    r.phaseHighestAnon = figures.highestAnonMb;
    const Slowest slowest = gApp->takeSlowest();
    r.slowest = slowest.what + " " + std::to_string(slowest.nanoseconds / 1000000) + " ms";
    r.rows = rows;
    const std::string highest = std::to_string(r.phaseHighest) + " (" + std::to_string(r.phaseHighestAnon) + ")";
    const std::string switches =
        std::to_string(r.stallSwitches.waits) + "/" + std::to_string(r.stallSwitches.preempted);
    std::printf("%-34s %7ld %7ld %11s %7ld %9.0f %5.0f %7s  %-16s %s\n", r.phase.c_str(), r.rss, r.anon,
                highest.c_str(), r.peak, r.stallMs, r.stallCpuMs, switches.c_str(), r.rows.c_str(), r.slowest.c_str());
    std::fflush(stdout);
    gRows.push_back(r);
    DriverWork work;  // what follows is the benchmark's, not the next phase's
    // LONG_RUN_SMAPS=<directory>: the mappings after each phase, to see what holds the memory.
    if (std::getenv("LONG_RUN_DETAIL")) {
        const struct mallinfo2 m = mallinfo2();
        std::printf("    heap: in use %zu MB, free %zu MB, mmapped %zu MB; sqlite %lld MB\n", m.uordblks >> 20,
                    m.fordblks >> 20, m.hblkhd >> 20, static_cast<long long>(sqlite3_memory_used() >> 20));
        std::map<std::string, int> screens;  // the screens alive, by class
        for (QWidget* w : QApplication::allWidgets())
            if (qobject_cast<UIViewController*>(w)) ++screens[w->metaObject()->className()];
        std::string alive;
        for (const auto& [name, count] : screens) alive += " " + name + "=" + std::to_string(count);
        std::printf("    screens:%s; widgets %lld\n", alive.c_str(), static_cast<long long>(QApplication::allWidgets().size()));
        std::fflush(stdout);
    }
    if (const char* dir = std::getenv("LONG_RUN_SMAPS")) {
        std::ifstream in("/proc/self/smaps");
        std::ofstream out(std::string(dir) + "/" + std::to_string(gRows.size()) + ".smaps");
        out << in.rdbuf();
    }
}

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "FAILED: %s\n", why.c_str());
    std::printf("FAILED: %s\n", why.c_str());
    std::fflush(stdout);
    std::_Exit(1);
}

// ---- gestures ----------------------------------------------------------------------------------

void click(QWidget* widget, const std::string& what) {
    if (!widget || !widget->isVisible() || !widget->isEnabled()) fail("cannot click " + what);
    QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
}

QWidget* barButton(UIViewController* screen, const QString& title) {
    UIBarButtonItem* item = screen ? screen->navigationItem()->barButtonItemWithTitle(title) : nullptr;
    return item ? item->buttonWidget() : nullptr;
}

ZMVostrelle& app() { return ZMVostrelle::sharedVostrelle(); }

UINavigationController* tab(int index) {
    click(app().tabBarController()->tabButton(index), "tab " + std::to_string(index));
    auto* nav = qobject_cast<UINavigationController*>(app().tabBarController()->selectedViewController());
    if (!nav) fail("tab " + std::to_string(index) + " has no navigation");
    return nav;
}

void back(UINavigationController* nav) {
    auto* top = nav->topViewController();
    if (!waitFor([&] { return !nav->isTransitioning(); }, 5000)) fail("the screen never stopped moving");
    click(nav->navigationBar()->backButton(), "back");
    if (!waitFor([&] { return nav->topViewController() != top && !nav->isTransitioning(); }, 5000))
        fail(std::string("back did not go back from ") + top->metaObject()->className() + " " + top->title().toStdString() +
             (nav->isTransitioning() ? " (still moving)" : ""));
}

size_t rowsOf(PackagesTableViewController* list) {
    DriverWork work;
    size_t rows = 0;
    for (int s = 0; s < list->model().numberOfSections(); ++s) rows += static_cast<size_t>(list->model().numberOfRows(s));
    return rows;
}

// All Packages from the Sections tab, as a user opens it.
PackagesTableViewController* openAllPackages() {
    auto* nav = tab(ZMVostrelle::SectionsTab);
    nav->popToRootViewController(false);
    auto* sections = dynamic_cast<CategoriesTableViewController*>(nav->topViewController());
    if (!sections || !waitFor([&] { return sections->isOnScreen(); }, 10000)) fail("no Sections screen");
    auto* table = sections->defaultCategoriesTableView();
    table->scrollToRow({0, 0}, UITableView::ScrollPosition::Top, false);
    settle(50);
    click(table->cellForRow({0, 0}), "All Packages");
    auto* list = dynamic_cast<PackagesTableViewController*>(nav->topViewController());
    if (!list) fail("the first row opened no package list");
    if (!waitFor([&] { return list->isOnScreen() && rowsOf(list) > 0; }, 60000)) fail("the list of all packages is empty");
    return list;
}

// Scrolls the list to the package's row and clicks it; the pushed screen.
UIViewController* openFromList(PackagesTableViewController* list, const std::string& identifier) {
    const auto& model = list->model();
    for (int s = 0; s < model.numberOfSections(); ++s) {
        const auto& ids = model.sectionsDictionary().at(model.sections()[s]);
        for (size_t r = 0; r < ids.size(); ++r) {
            if (ids[r] != identifier) continue;
            const IndexPath ip{s, static_cast<int>(r)};
            list->packagesTableView()->scrollToRow(ip, UITableView::ScrollPosition::Middle, false);
            settle(30);
            click(list->packagesTableView()->cellForRow(ip), identifier);
            auto* nav = list->navigationController();
            if (nav->topViewController() == list) fail(identifier + " opened nothing");
            return nav->topViewController();
        }
    }
    fail(identifier + " is not in the list");
}

// ---- the phases --------------------------------------------------------------------------------

size_t storedPackages() {
    DriverWork work;
    try {
        return ZMRPackage::allObjects().count();
    } catch (const std::exception&) {
        return 0;
    }
}

bool pipelineIdle() {
    return ZMPipelineManager::sharedManager().liveTaskCount() == 0 &&
           !ZMRPackageManager::sharedPackageManager().sources().isRefreshInProgress();
}

// The served files change: the server answers the next requests in full.
void touchIndexes(const std::vector<std::string>& directories, int step) {
    const time_t when = std::time(nullptr) + 10 * step;
    for (const auto& dir : directories)
        for (const char* name : {"Release", "Packages.gz"}) {
            struct utimbuf times {when, when};
            if (::utime((dir + "/" + name).c_str(), &times) != 0) fail("cannot touch " + dir + "/" + name);
        }
}

void refreshAllFromManage(const std::string& phase) {
    auto* nav = tab(ZMVostrelle::ManageTab);
    nav->popToRootViewController(false);
    auto* manage = dynamic_cast<ManageViewController*>(nav->topViewController());
    if (!manage) fail("no Manage screen");
    auto& sources = ZMRPackageManager::sharedPackageManager().sources();
    click(barButton(manage, "Refresh"), "Refresh");
    if (!sources.isRefreshInProgress() && ZMPipelineManager::sharedManager().liveTaskCount() == 0)
        fail(phase + ": Refresh started nothing");
    if (!waitFor(pipelineIdle, 300000)) fail(phase + ": the refresh did not end");
    if (storedPackages() < 63000) fail(phase + ": the refresh lost the packages");
}

// A source's screen (its categories and packages), opened from its row in
// Manage as a user opens it, once its rows are in; fails when it lists nothing.
SubcategoriesViewController* openSourceScreen(const std::string& location) {
    auto* nav = tab(ZMVostrelle::ManageTab);
    nav->popToRootViewController(false);
    auto* manage = dynamic_cast<ManageViewController*>(nav->topViewController());
    if (!manage || !waitFor([&] { return manage->isOnScreen(); }, 10000)) fail("no Manage screen");
    auto* table = manage->sourcesTableView();
    std::optional<IndexPath> row;
    for (int r = 0; r < table->numberOfRows(0) && !row; ++r) {
        table->scrollToRow({0, r}, UITableView::ScrollPosition::Middle, false);
        settle(20);
        if (auto* cell = dynamic_cast<SourcesCell*>(table->cellForRow({0, r})); cell && cell->sourceLocation == location)
            row = IndexPath{0, r};
    }
    if (!row) fail(location + " has no row in Manage");
    click(table->cellForRow(*row), location);
    auto* segmented = dynamic_cast<SegmentedViewController*>(nav->topViewController());
    auto* screen = segmented ? dynamic_cast<SubcategoriesViewController*>(segmented->currentViewController()) : nullptr;
    if (!screen) fail(location + " opened no source screen");
    const auto listed = [screen] {
        return screen->isOnScreen() && !screen->subcategoriesArray().empty() &&
               screen->packageSections().numberOfSections() > 0;
    };
    if (!waitFor(listed, 60000)) fail(location + ": the source screen lists nothing");
    return screen;
}

size_t rowsOf(SubcategoriesViewController* screen) {
    DriverWork work;
    size_t rows = 0;
    for (int s = 0; s < screen->packageSections().numberOfSections(); ++s)
        rows += static_cast<size_t>(screen->packageSections().numberOfRows(s));
    return rows;
}

std::string installedStatus(const std::string& package) {
    DriverWork work;
    std::ifstream in(ZMPaths::targetRoot() + "/var/lib/dpkg/status");
    std::stringstream text;
    text << in.rdbuf();
    const std::string all = text.str();
    const auto at = all.find("Package: " + package + "\n");
    if (at == std::string::npos) return {};
    const std::string stanza = all.substr(at, all.find("\n\n", at) - at);
    const auto status = stanza.find("Status: ");
    return status == std::string::npos ? std::string() : stanza.substr(status + 8, stanza.find('\n', status) - status - 8);
}
bool installed(const std::string& package) { return installedStatus(package) == "install ok installed"; }

// Queues through the package pages' buttons, resolves, confirms, waits for
// the run, closes the tasks screen; the queue screen's rows.
size_t queueRun(PackagesTableViewController* list, const std::vector<std::string>& packages, const char* buttonBefore,
                const std::function<bool()>& done, const std::string& phase) {
    auto* nav = list->navigationController();
    for (const auto& id : packages) {
        auto* page = dynamic_cast<PackageDetailsViewController*>(openFromList(list, id));
        if (!page) fail(id + " did not open its page");
        if (!waitFor([&] { return page->getBtn()->text() == buttonBefore; }, 20000))
            fail(id + ": the button shows " + page->getBtn()->text().toStdString());
        click(page->getBtn(), id + "'s button");
        if (!waitFor([&] { return page->getBtn()->text() == "QUEUED"; }, 10000)) fail(id + " was not queued");
        back(nav);
    }
    auto* status = app().statusView();
    if (!waitFor([&] { return status->isVisible() && status->queuedCount() == packages.size(); }, 10000))
        fail(phase + ": the status bar does not show the queue");
    click(status, "the queue status");
    auto* window = app().window();
    auto* queueNav = dynamic_cast<UINavigationController*>(window->topPresentedViewController());
    auto* queue = queueNav ? dynamic_cast<PackagesConfirmationViewController*>(queueNav->topViewController()) : nullptr;
    if (!queue) fail(phase + ": the queue screen did not open");
    if (!waitFor([&] { return !queue->isResolving() && queue->confirmButton()->isEnabled(); }, 120000))
        fail(phase + ": the queue did not resolve: " + queue->statusLabel()->text().toStdString());
    size_t rows = 0;
    for (int s = 0; s < queue->numberOfSections(queue->tableView()); ++s)
        rows += static_cast<size_t>(queue->numberOfRows(queue->tableView(), s));
    if (rows == 0) fail(phase + ": the queue screen has no row");
    click(queue->confirmButton(), "Confirm");
    if (!waitFor(done, 180000)) fail(phase + ": the run did not reach the sandbox root");
    if (!waitFor([] { return ZMPipelineManager::sharedManager().liveTaskCount() == 0; }, 60000))
        fail(phase + ": tasks still running");
    // The tasks screen, closed as a user closes it.
    if (!waitFor([&] { return window->topPresentedViewController() != window->rootViewController(); }, 5000))
        fail(phase + ": no tasks screen");
    auto* tasks = window->topPresentedViewController();
    auto* tasksNav = dynamic_cast<UINavigationController*>(tasks);
    QWidget* close = barButton(tasksNav ? tasksNav->topViewController() : tasks, "Close");
    if (!close) fail(phase + ": the tasks screen has no Close");
    click(close, "Close");
    if (!waitFor([&] { return window->topPresentedViewController() == window->rootViewController(); }, 5000))
    {
        std::string chain;
        for (UIViewController* v = window->rootViewController(); v; v = v->presentedViewController()) {
            chain += std::string(v->metaObject()->className()) + "(" + v->title().toStdString() + (v->isBeingDismissed() ? ",dismissing" : "") + ") ";
            if (auto* n = dynamic_cast<UINavigationController*>(v); n && n->topViewController())
                chain += std::string("[top ") + n->topViewController()->metaObject()->className() + "] ";
        }
        fail(phase + ": stayed over the tabs: " + chain);
    }
    return rows;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s <debian location> <small location> <debian directory> <small directory>\n", argv[0]);
        return 2;
    }
    const std::string debian = argv[1], small = argv[2], debianDir = argv[3], smallDir = argv[4];
    ZMHeap::configure();  // as main() does, before any thread allocates
    if (geteuid() == 0) {
        QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        if (!flags.contains("--no-sandbox")) qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (flags + " --no-sandbox").trimmed());
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    ZMStoreCallbackSchemeHandler::registerScheme();
    int qtArgc = 1;
    ProbedApplication qtApp(qtArgc, argv);
    gApp = &qtApp;
    QApplication::setApplicationName(QStringLiteral("Vostrelle"));
    QApplication::setApplicationVersion(QStringLiteral(VOSTRELLE_VERSION));
    StallProbe probe;
    gProbe = &probe;

    // A user who has been through the first-run setup, which marks this
    // version's change log seen: neither covers the tabs.
    VostrellePersistentPreferences::sharedInstance().setValue(VostrellePreferenceKey::SetupDone, true);
    VostrellePersistentPreferences::sharedInstance().setValue(VostrellePreferenceKey::WelcomeScreenVersion,
                                                              std::string(VOSTRELLE_VERSION));
    std::printf("%-34s %7s %7s %11s %7s %9s %5s %7s  %-16s %s\n", "phase", "RSS MB", "anon MB", "max (anon)", "VmHWM",
                "stall ms", "cpu", "wait/pre", "rows", "slowest event (class/type)");
    if (!ZMApplication::start({})) fail("another Vostrelle took the launch");  // as main() starts it
    if (!waitFor([] { return app().backgroundLaunchWorkDone(); }, 60000)) fail("the launch did not finish");
    app().window()->resize(1100, 900);
    report("launched");

    // ---- refreshes
    auto& sources = ZMRPackageManager::sharedPackageManager().sources();
    if (sources.addSourceWithLocation(debian, true).status != ZMRAddSourceStatus::Added) fail("Debian main was not added");
    if (sources.addSourceWithLocation(small, true, true).status != ZMRAddSourceStatus::Added)
        fail("the small repository was not added");
    const auto bothStored = [] {
        return pipelineIdle() && storedPackages() > 63000 &&
               ZMRPackage::objectForPrimaryKey("org.vostrelle.bench.app").has_value();
    };
    if (!waitFor(bothStored, 300000)) fail("the first refresh stored no package");
    report("first refresh (sources added)", std::to_string(storedPackages()) + " stored");
    refreshAllFromManage("refresh all");
    report("refresh all (unchanged)", std::to_string(storedPackages()) + " stored");
    for (int i = 1; i <= 3; ++i) {
        touchIndexes({debianDir, smallDir}, i);
        refreshAllFromManage("forced refresh " + std::to_string(i));
        report("forced refresh " + std::to_string(i), std::to_string(storedPackages()) + " stored");
    }

    // ---- Debian's own screen (its sections and packages): opened, opened
    // again, back from a package page, then followed through a refresh while
    // it is shown
    {
        auto* screen = openSourceScreen(debian);
        const size_t rows = rowsOf(screen);
        if (rows < 63000) fail("Debian's source screen lists " + std::to_string(rows) + " packages");
        back(screen->navigationController());
        screen = openSourceScreen(debian);
        report("Debian's source screen (opened twice)",
               std::to_string(screen->subcategoriesArray().size()) + " sections, " + std::to_string(rows));
        // It appears again once a package page opened from it has closed.
        auto* table = screen->subcategoriesAndPackagesTableView();
        table->scrollToRow({1, 0}, UITableView::ScrollPosition::Top, false);
        settle(50);
        auto* nav = screen->navigationController();
        auto* shown = nav->topViewController();
        click(table->cellForRow({1, 0}), "the source screen's first package");
        if (nav->topViewController() == shown) fail("the source screen's first package opened nothing");
        settle(300);
        back(nav);
        if (!waitFor([&] { return screen->isOnScreen(); }, 10000)) fail("the source screen did not come back");
        report("... back from a package page", std::to_string(rowsOf(screen)));
        const int before = screen->rebuildCount();
        touchIndexes({debianDir, smallDir}, 4);
        if (!sources.refreshAllSources()) fail("the refresh with the source screen open did not start");
        if (!waitFor([&] { return pipelineIdle() && screen->rebuildCount() > before; }, 300000))
            fail("the source screen did not follow the refresh");
        if (rowsOf(screen) != rows) fail("the source screen lost packages in the refresh");
        report("... refreshed while shown", std::to_string(rowsOf(screen)));
        screen->navigationController()->popToRootViewController(false);
    }

    // ---- All Packages, scrolled through
    auto* list = openAllPackages();
    const size_t allRows = rowsOf(list);
    if (allRows < storedPackages() / 2) fail("All Packages shows fewer than half the stored packages");
    report("All Packages open", std::to_string(allRows));
    {
        auto* table = list->packagesTableView();
        const int height = table->contentHeight();
        for (int step = 1; step <= 40; ++step) {
            table->setContentOffset(static_cast<double>(height) * step / 40.0);
            settle(20);
            QWheelEvent wheel(QPointF(100, 100), table->mapToGlobal(QPointF(100, 100)), {}, {0, -360}, Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(table->viewport(), &wheel);
            settle(20);
        }
        table->setContentOffset(0);
        if (rowsOf(list) != allRows) fail("the list changed while scrolled");
    }
    report("All Packages scrolled", std::to_string(rowsOf(list)));

    // ---- 30 package pages, opened from the list and closed
    auto* nav = list->navigationController();
    std::vector<std::string> pages;
    for (int n = 1; n <= 10; ++n) pages.push_back("org.vostrelle.bench.native" + std::to_string(n));
    for (int n = 1; n <= 10; ++n) pages.push_back("org.vostrelle.bench.web" + std::to_string(n));
    for (const char* id : {"bash", "coreutils", "curl", "git", "vim", "python3", "zsh", "tmux", "htop", "nano"})
        pages.push_back(id);
    int native = 0, web = 0, plain = 0;
    long webHostMB = 0;
    std::vector<long> webHosts;
    for (const auto& id : pages) {
        UIViewController* screen = openFromList(list, id);
        if (auto* details = dynamic_cast<PackageDetailsViewController*>(screen)) {
            const bool depicted = id.find("native") != std::string::npos;
            if (depicted && !waitFor([&] { return details->screenshotsDictionary().size() == 5 && details->hasBannerImage(); }, 30000))
                fail(id + ": the native depiction did not load");
            if (!depicted && !waitFor([&] { return !details->packageVersionLbl()->text().isEmpty(); }, 10000))
                fail(id + ": the page shows no version");
            settle(300);
            (depicted ? native : plain)++;
        } else if (auto* webPage = dynamic_cast<WebDepictionViewController*>(screen)) {
            // The view is made once the screen has appeared; the page loads after that.
            if (!waitFor([&] { return webPage->webView() != nullptr; }, 10000)) fail(id + ": no web view");
            bool loaded = false;
            QObject::connect(webPage->webView(), &RemoteWebView::loadFinished, [&loaded](bool ok) { loaded = ok; });
            // Loaded, and its picture has come to the screen.
            if (!waitFor([&] { return loaded && !webPage->webView()->frame().isNull(); }, 30000))
                fail(id + ": the web depiction did not load");
            webHostMB = std::max(webHostMB, processTreePssKB(webPage->webView()->hostProcessId()) / 1024);
            webHosts.push_back(webPage->webView()->hostProcessId());
            settle(300);
            ++web;
        } else {
            fail(id + " opened an unknown screen");
        }
        back(nav);
        if (DriverWork work; std::getenv("LONG_RUN_DETAIL"))
            std::printf("    %s: stall so far %.0f ms, slowest %s %lld ms\n", id.c_str(), gProbe->worstMs(),
                        gApp->slowest().what.c_str(), gApp->slowest().nanoseconds / 1000000);
    }
    if (native != 10 || web != 10 || plain != 10) fail("the pages were not 10 native, 10 web and 10 index-only");
    // A closed page's process is gone: its memory came back with it.
    if (!waitFor([&] { return std::none_of(webHosts.begin(), webHosts.end(), [](long pid) { return ::kill(pid, 0) == 0; }); }, 10000))
        fail("a closed web page's process is still running");
    std::printf("    (web pages: their own processes with their children, up to %ld MB (Pss); all %zu ended)\n",
                webHostMB, webHosts.size());
    report("30 pages opened and closed", "10+10+10 pages");

    // ---- 40 searches, 20 in each mode
    {
        auto* searchNav = tab(ZMVostrelle::SearchTab);
        auto* search = dynamic_cast<SearchViewController*>(searchNav->topViewController());
        if (!search || !waitFor([&] { return search->isOnScreen(); }, 10000)) fail("no Search screen");
        const char* texts[] = {"bash", "curl", "vim", "python3", "git", "nano", "tmux", "htop", "zsh",   "perl",
                               "gcc",  "make", "wget", "rsync",  "sed", "grep", "less", "emacs", "mutt", "bench"};
        size_t fewest = SIZE_MAX, most = 0, seeAll = 0;
        for (int mode : {PackageSearch::Exact, PackageSearch::Fuzzy}) {
            click(search->searchBar(), "the search bar");
            if (!waitFor([&] { return search->searchQueryControl()->isVisible(); }, 5000)) fail("no search modes");
            click(search->searchQueryControl()->segment(mode), "search mode");
            for (size_t i = 0; i < std::size(texts); ++i) {
                const std::string text = texts[i];
                search->searchBar()->selectAll();
                QTest::keyClick(search->searchBar(), Qt::Key_Backspace);
                QTest::keyClicks(search->searchBar(), QString::fromStdString(text));
                QTest::keyClick(search->searchBar(), Qt::Key_Return);
                const bool answered = waitFor([&] {
                    const auto& p = search->packages();
                    return p && p->text == text && p->mode == mode && !search->isPackageQueryPending();
                }, 20000);
                if (!answered) fail("search " + text + " got no answer");
                const size_t total = search->packages()->total;
                if (total == 0) fail("search " + text + " found no package");
                fewest = std::min(fewest, total);
                most = std::max(most, total);
                if (i % 5 == 4) {  // its complete list, opened and closed
                    click(search->seeAllPackagesBtn(), "See All");
                    auto* all = dynamic_cast<PackagesTableViewController*>(searchNav->topViewController());
                    if (!all || !waitFor([&] { return all->isOnScreen() && rowsOf(all) > 0; }, 20000))
                        fail("See All of " + text + " shows no row");
                    if (rowsOf(all) != total) fail("See All of " + text + " shows another count than the card");
                    ++seeAll;
                    back(searchNav);
                }
            }
            // Cancel shows while the bar is being edited; a confirmed search may have ended that.
            if (search->cancelButton()->isVisible()) click(search->cancelButton(), "Cancel");
        }
        report("40 searches (both modes)",
               std::to_string(fewest) + ".." + std::to_string(most) + ", " + std::to_string(seeAll) + " lists");
    }

    // ---- queue runs into the sandbox root
    list = openAllPackages();
    const std::string appId = "org.vostrelle.bench.app", libId = "org.vostrelle.bench.library";
    for (int run = 1; run <= 2; ++run) {
        const std::string n = std::to_string(run);
        size_t rows = queueRun(list, {appId}, "GET", [&] { return installed(appId) && installed(libId); },
                               "install " + n);
        report("queue run " + n + ": install app + library", std::to_string(rows) + " queue rows");
        rows = queueRun(list, {appId, libId}, "UNINSTALL",
                        [&] { return !installed(appId) && !installed(libId); }, "remove " + n);
        report("queue run " + n + ": remove both", std::to_string(rows) + " queue rows");
    }
    nav->popToRootViewController(false);
    settle(5000);
    report("end (settled)");

    // ---- the goals
    long afterFirst = 0, highest = 0;
    double worstStall = 0;
    for (const auto& r : gRows) {
        if (r.phase.rfind("first refresh", 0) == 0) afterFirst = r.rss;
        highest = std::max(highest, r.peak);
        worstStall = std::max(worstStall, r.stallMs);
    }
    const long end = gRows.back().rss;
    long listOpen = 0;
    for (const auto& r : gRows)
        if (r.phase == "All Packages scrolled") listOpen = r.rss;
    std::printf("\nAll Packages open and scrolled: %ld MB (goal <= 250)\n", listOpen);
    std::printf("end %ld MB, after the first refresh %ld MB: %+ld MB (goal within 50)\n", end, afterFirst, end - afterFirst);
    std::printf("peak resident memory: %ld MB (goal <= 300)\n", highest);
    std::printf("longest GUI-thread stall: %.0f ms (goal <= 100)\n", worstStall);
    const bool met = listOpen <= 250 && std::labs(end - afterFirst) <= 50 && highest <= 300 && worstStall <= 100;
    std::printf("goals %s\n", met ? "met" : "NOT met");
    std::fflush(stdout);
    // The delegate's termination work, as when the window closes; then out
    // without the destructors of the web engine's profile.
    app().applicationWillTerminate();
    std::_Exit(0);
}
