// Package pages opened and left fast through the real window, for
// Benchmarks/navigation-churn.sh: the application started as main() starts it
// (data directory, log and target root from the environment), a flat
// repository on loopback served by this process and added as a user adds a
// source (refreshed over HTTP), then from All Packages (Sections tab) two
// packages whose native depictions are 4 MiB hostile Markdown are opened by
// a click on their row and left by Alt+Left, one step every <pace> ms
// (click, Alt+Left, click, Alt+Left...), for <rounds> rounds. The clicks go to
// the window where the row is at that moment, as a mouse does: what is on top
// there takes them. Animations are on, as a user has them.
//
// Reported:
//   - the resident memory at the start (All Packages shown, one ordinary page
//     opened and left, the process idle), its highest sample during and after
//     the flipping (every 50 ms, and the process's VmHWM), and 2 s after the
//     last page went;
//   - how long after the last page went the process fell idle: its CPU time
//     (all threads) grew by less than 5% of one core over 250 ms;
//   - the worst stall of the GUI thread from the first click until idle (a
//     5 ms timer's lateness, GuiProbes::StallProbe) and the slowest event;
//   - the package page objects still alive once idle, and the screens left
//     over the list;
//   - a theme switch (to dark and back, at the Sections root, the best of
//     three) before the flipping (fresh) and after it.
//
//   bench_GuiNavigationChurn <pace ms> <rounds> [texts]
//
// texts: "pre" (default), preformatted lines, which the page shows as plain
// text; "heavy", a 4 MiB one-paragraph text of short lines and 4 MiB of
// paragraphs with emphasis, links and lists: the documents that weigh most.
//
// Exits 1 when it measured nothing (the refresh stored no package, a list
// without the rows, no page opened, no depiction fetched), 2 when a goal was
// missed (see kGoals below and the script).
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "App/ZMApplication.h"
#include "Browsing/CategoriesTableViewController.h"
#include "Browsing/PackagesTableViewController.h"
#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageManager.h"
#include "DetailsBenchHost.h"
#include "Details/PackageDetailsViewController.h"
#include "GuiProbes.h"
#include "HostileTexts.h"
#include "Miscellaneous/ZMHeap.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UITabBarController.h"
#include "UIKit/UITableView.h"
#include "UIKit/UITableViewCell.h"
#include "UIKit/UITextView.h"
#include "UIKit/UIWindow.h"
#include "VostrellePersistentPreferences.h"
#include "ZMPalette.h"
#include "ZMPaletteManager.h"
#include "ZMPipelineManager.h"
#include "ZMVostrelle.h"

namespace {

using namespace GuiProbes;

constexpr int kSampleMs = 50;      // memory and CPU samples
constexpr int kQuietMs = 250;      // CPU flat this long: idle
// CPU time over kQuietMs that is still idle: 5% of one core. The program at
// rest (its timers, these samples) takes about 1%.
constexpr double kIdleGrowthMs = 12.5;
constexpr int kAfterMs = 2000;     // the memory read this long after the last page went
constexpr int kIdleCapSeconds = 120;
constexpr const char* kLastWord = "zzlastword";

// The goals.
constexpr long kPeakGoalMb = 250;       // above the start, at any pace
constexpr long kAfterGoalMb = 50;       // above the start, 2 s after the last page went
constexpr double kIdleGoalSeconds = 2;
constexpr double kStallGoalMs = 100;
// A theme switch after the flipping takes as long as a fresh one: within
// half again, or 30 ms, whichever is more (one switch varies that much).
constexpr double kThemeFactor = 1.5, kThemeSlackMs = 30;

ProbedApplication* gApp = nullptr;

[[noreturn]] void fail(const std::string& why) {
    std::printf("FAILED (nothing measured): %s\n", why.c_str());
    std::fflush(stdout);
    std::_Exit(1);
}

// ---- the repository ----------------------------------------------------------------------------

// A flat repository (Release, Packages) and the depictions, on loopback;
// counts the depictions it sent.
struct Repository {
    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::map<std::string, std::string> files;
    std::atomic<int> depictionsServed{0};

    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + "/" + path; }

    Repository() {
        server.Get(R"(/(.*))", [this](const httplib::Request& r, httplib::Response& res) {
            const auto it = files.find(r.matches[1]);
            if (it == files.end()) {
                res.status = 404;
                return;
            }
            res.set_header("Cache-Control", "no-store");
            res.set_content(it->second, "application/octet-stream");
            if (it->first.starts_with("depictions/")) ++depictionsServed;
        });
        port = server.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~Repository() {
        server.stop();
        thread.join();
    }
};

struct Page {
    std::string identifier, name;
};

// The two hostile pages (one Markdown view each, just under the 4 MiB a
// depiction may weigh) and an ordinary one; the repository's index lists them.
std::vector<Page> fillRepository(Repository& repo, const std::string& texts) {
    auto lines = [](const std::string& head, const std::string& line) {
        return DetailsBench::fillDepiction(head, [line](size_t) { return line; }, "", kLastWord);
    };
    auto made = [](const std::function<std::string(size_t)>& unit) { return DetailsBench::fillDepiction("", unit, "", kLastWord); };
    std::vector<std::pair<Page, std::string>> pages;
    if (texts == "heavy") {
        pages = {{{"org.navbench.words", "Flip Words"},
                  made([](size_t i) { const std::string n = std::to_string(i); return "w" + n + " word" + n + " and w" + n + "x\n"; })},
                 {{"org.navbench.rich", "Flip Rich"}, made([](size_t i) {
                      const std::string n = std::to_string(i);
                      return "Paragraph " + n + " has *emphasis*, **strong words** and [a link](https://example.com/" + n +
                             ").\n\n- item " + n + "\n- another item\n\n";
                  })}};
    } else {
        pages = {{{"org.navbench.pre", "Flip Pre Lines"}, lines("<pre>", "x\n")},
                 {{"org.navbench.stylepre", "Flip Style Pre"}, lines("<style></style><pre>", "a\r")}};
    }
    pages.push_back({{"org.navbench.ordinary", "Flip Ordinary"}, std::string("An **ordinary** page. ") + kLastWord});
    std::string index;
    std::vector<Page> out;
    for (const auto& [page, text] : pages) {
        const std::string file = "depictions/" + page.identifier + ".json";
        repo.files[file] = DetailsBench::markdownDepiction(text);
        index += "Package: " + page.identifier + "\nName: " + page.name +
                 "\nVersion: 1.0\nArchitecture: all\nSection: Tweaks\nMaintainer: Flip <flip@example.com>\n"
                 "Filename: ./" + page.identifier + "_1.0_all.deb\nSize: 1000\n"
                 "SileoDepiction: " + repo.url(file) + "\nDescription: a page opened and left fast\n\n";
        out.push_back(page);
    }
    repo.files["repo/Release"] = "Origin: Flip Repo\nLabel: Flip Repo\nSuite: stable\nCodename: flip\n";
    repo.files["repo/Packages"] = index;
    return out;
}

// ---- measuring ---------------------------------------------------------------------------------

using Sampler = ProcessSampler;

void settle(int ms) { runUntil([] { return false; }, ms); }

long residentMb() { return residentKilobytes().first / 1024; }

int livePages() {
    int n = 0;
    for (QWidget* w : QApplication::allWidgets()) n += qobject_cast<PackageDetailsViewController*>(w) ? 1 : 0;
    return n;
}

// ---- the window --------------------------------------------------------------------------------

ZMVostrelle& app() { return ZMVostrelle::sharedVostrelle(); }
UIWindow* window() { return app().window(); }

// A left click where `widget` is now, sent to the window: whatever is on top
// there takes it. On a row, where its name is (near its left end), as a user aims.
void clickWhere(QWidget* widget, bool nearLeft = false) {
    const QPoint point = nearLeft ? QPoint(std::min(80, widget->width() / 2), widget->height() / 2) : widget->rect().center();
    QTest::mouseClick(window()->windowHandle(), Qt::LeftButton, {}, widget->mapTo(window(), point));
}

void pressBack() { QTest::keyClick(window()->windowHandle(), Qt::Key_Left, Qt::AltModifier); }

UINavigationController* sectionsTab() {
    auto* tabs = app().tabBarController();
    QTest::mouseClick(tabs->tabButton(ZMVostrelle::SectionsTab), Qt::LeftButton);
    auto* nav = qobject_cast<UINavigationController*>(tabs->selectedViewController());
    if (!nav) fail("the Sections tab has no navigation");
    return nav;
}

// All Packages, by a click on the Sections screen's first row, once its rows are in.
PackagesTableViewController* openAllPackages(UINavigationController* nav) {
    auto* sections = dynamic_cast<CategoriesTableViewController*>(nav->topViewController());
    if (!sections || !runUntil([&] { return sections->isOnScreen(); }, 10000)) fail("no Sections screen");
    auto* table = sections->defaultCategoriesTableView();
    table->scrollToRow({0, 0}, UITableView::ScrollPosition::Top, false);
    settle(50);
    UITableViewCell* cell = table->cellForRow({0, 0});
    if (!cell) fail("the Sections screen shows no row");
    clickWhere(cell);
    if (!runUntil([&] { return !nav->isTransitioning(); }, 5000)) fail("the list never stopped moving");
    auto* list = dynamic_cast<PackagesTableViewController*>(nav->topViewController());
    if (!list) fail("the first row opened no package list");
    return list;
}

std::optional<IndexPath> rowOf(PackagesTableViewController* list, const std::string& identifier) {
    if (const auto at = list->model().positionOf(identifier)) return IndexPath{at->first, at->second};
    return std::nullopt;
}

// Back to the Sections root by Alt+Left, as often as it takes.
void backToRoot(UINavigationController* nav) {
    for (int i = 0; i < 10 && nav->viewControllers().size() > 1; ++i) {
        runUntil([&] { return !nav->isTransitioning(); }, 5000);
        pressBack();
        runUntil([&] { return !nav->isTransitioning(); }, 5000);
    }
    if (nav->viewControllers().size() != 1) fail("Alt+Left did not lead back to the Sections screen");
}

// A theme switch as the settings make it (the stored theme, then the
// palette), with the work it posts (polish, layout, paint); its time in ms.
double switchTheme(int style) {
    QCoreApplication::sendPostedEvents();
    QElapsedTimer t;
    t.start();
    VostrellePersistentPreferences::sharedInstance().setValue(VostrellePreferenceKey::Theme, static_cast<int64_t>(style));
    ZMPaletteManager::sharedManager().setStyle(style);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    return t.nsecsElapsed() / 1e6;
}

// To dark and back, three times: the slower of each pair, at best. Only
// the best counts, because a loaded machine makes a switch slower now and
// then, while what the switch restyles makes every switch slower.
double themeSwitchMs() {
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        const double dark = switchTheme(ZMPalette::PureBlack);
        settle(200);
        const double light = switchTheme(ZMPalette::Light);
        settle(200);
        best = std::min(best, std::max(dark, light));
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <pace ms> <rounds> [pre|heavy]\n", argv[0]);
        return 1;
    }
    const int pace = std::atoi(argv[1]), rounds = std::atoi(argv[2]);
    const std::string texts = argc > 3 ? argv[3] : "pre";
    if (texts != "pre" && texts != "heavy") {
        std::fprintf(stderr, "texts are pre or heavy\n");
        return 1;
    }
    if (pace < 10 || rounds < 1) {
        std::fprintf(stderr, "the pace is at least 10 ms, and there is at least one round\n");
        return 1;
    }
    ZMHeap::configure();  // as main() does, before any thread allocates
    int qtArgc = 1;
    ProbedApplication qtApp(qtArgc, argv);
    gApp = &qtApp;
    QApplication::setApplicationName(QStringLiteral("Vostrelle"));
    QApplication::setApplicationVersion(QStringLiteral(VOSTRELLE_VERSION));

    Repository repo;
    const std::vector<Page> pages = fillRepository(repo, texts);
    const std::vector<Page> hostile(pages.begin(), pages.begin() + 2);
    const Page& ordinary = pages[2];

    // A user who has been through the first-run setup and saw this version's change log.
    auto& preferences = VostrellePersistentPreferences::sharedInstance();
    preferences.setValue(VostrellePreferenceKey::SetupDone, true);
    preferences.setValue(VostrellePreferenceKey::WelcomeScreenVersion, std::string(VOSTRELLE_VERSION));
    if (!ZMApplication::start({})) fail("another Vostrelle took the launch");
    if (!runUntil([] { return app().backgroundLaunchWorkDone(); }, 60000)) fail("the launch did not finish");
    window()->resize(1100, 900);
    QApplication::setActiveWindow(window());

    // The source, added as Manage's Add does; the pipeline refreshes it over HTTP.
    auto& sources = ZMRPackageManager::sharedPackageManager().sources();
    if (sources.addSourceWithLocation(repo.url("repo/"), true).status != ZMRAddSourceStatus::Added) fail("the source was not added");
    const auto stored = [&] {
        if (ZMPipelineManager::sharedManager().liveTaskCount() != 0 || sources.isRefreshInProgress()) return false;
        for (const auto& p : pages)
            if (!ZMRPackage::objectForPrimaryKey(p.identifier)) return false;
        return true;
    };
    if (!runUntil(stored, 120000)) fail("the refresh did not store the repository's packages");

    Sampler sampler;
    UINavigationController* nav = sectionsTab();
    PackagesTableViewController* list = openAllPackages(nav);
    if (!runUntil([&] { return list->isOnScreen() && rowOf(list, hostile[0].identifier) && rowOf(list, hostile[1].identifier); }, 30000))
        fail("All Packages does not list the repository's packages");

    // The start: one ordinary page opened until its text shows, then left.
    {
        const auto row = rowOf(list, ordinary.identifier);
        if (!row) fail("All Packages does not list the ordinary package");
        list->packagesTableView()->scrollToRow(*row, UITableView::ScrollPosition::Middle, false);
        settle(50);
        clickWhere(list->packagesTableView()->cellForRow(*row), true);
        auto* page = dynamic_cast<PackageDetailsViewController*>(nav->topViewController());
        if (!page) fail("the ordinary package's row opened no page");
        if (!runUntil([&] { return page->descriptionLbl() && page->descriptionLbl()->document()->toPlainText().contains(kLastWord); }, 30000))
            fail("the ordinary page never showed its text");
        backToRoot(nav);
    }
    runUntil([&] { return sampler.quiet(); }, 20000);
    const double freshThemeMs = themeSwitchMs();
    const qsizetype freshWidgets = QApplication::allWidgets().size();  // at the Sections root
    list = openAllPackages(nav);
    if (!runUntil([&] { return list->isOnScreen() && rowOf(list, hostile[0].identifier); }, 30000)) fail("All Packages lost its rows");
    runUntil([&] { return sampler.quiet(); }, 20000);
    settle(500);
    const long startMb = residentMb();
    sampler.resetHighest();
    // The process's peak (VmHWM) from here on, not the launch's or the refresh's.
    std::ofstream("/proc/self/clear_refs") << "5";

    // The flipping.
    StallProbe probe;
    gApp->takeSlowest();
    const int servedBefore = repo.depictionsServed;
    int opened = 0, reopened = 0;
    QPointer<PackagesTableViewController> shownList(list);
    const auto listInStack = [&] {
        const auto& stack = nav->viewControllers();
        return shownList && std::find(stack.begin(), stack.end(), shownList.data()) != stack.end();
    };
    for (int round = 0; round < rounds; ++round) {
        for (const Page& p : hostile) {
            if (!listInStack()) {  // a Back took the list away: the user opens it again
                runUntil([&] { return !nav->isTransitioning(); }, 5000);
                nav->popToRootViewController(false);
                shownList = openAllPackages(nav);
                ++reopened;
            }
            // The row, scrolled into view when the list is the one shown (a user scrolls to it).
            const auto row = rowOf(shownList, p.identifier);
            if (!row) fail(p.identifier + " left the list");
            UITableViewCell* cell = shownList->packagesTableView()->cellForRow(*row);
            if (!cell && nav->topViewController() == shownList && !nav->isTransitioning()) {
                shownList->packagesTableView()->scrollToRow(*row, UITableView::ScrollPosition::Middle, false);
                cell = shownList->packagesTableView()->cellForRow(*row);
            }
            const UIViewController* before = nav->topViewController();
            if (cell) clickWhere(cell, true);
            if (nav->topViewController() != before && dynamic_cast<PackageDetailsViewController*>(nav->topViewController())) ++opened;
            settle(pace);
            // Leaves what is over the list (a user does not press Back on the list itself).
            if (nav->topViewController() != shownList) pressBack();
            settle(pace);
        }
    }
    const qint64 gone = sampler.elapsedNs();
    const int served = repo.depictionsServed - servedBefore;
    if (opened == 0) fail("no click opened a page");
    if (served == 0) fail("no page fetched its depiction");

    // After the last page went: the memory at kAfterMs, and the first quiet span.
    long afterMb = -1;
    double idleSeconds = -1;
    runUntil(
        [&] {
            const double since = (sampler.elapsedNs() - gone) / 1e9;
            if (afterMb < 0 && since * 1000 >= kAfterMs) afterMb = residentMb();
            if (idleSeconds < 0 && sampler.quiet()) idleSeconds = std::max(0.0, since - kQuietMs / 1000.0);
            return afterMb >= 0 && idleSeconds >= 0;
        },
        kIdleCapSeconds * 1000);
    if (afterMb < 0) afterMb = residentMb();
    sampler.sample();
    const auto figures = probe.take();
    const Slowest slowest = gApp->takeSlowest();
    const long peakMb = std::max({sampler.highestMb(), figures.highestMb, peakResidentMb()});

    // What stayed: the screens over the list, and the page objects alive.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const size_t over = nav->viewControllers().size() > 2 ? nav->viewControllers().size() - 2 : 0;
    std::string stack;
    for (auto* vc : nav->viewControllers()) stack += std::string(stack.empty() ? "" : " > ") + vc->metaObject()->className();
    const int alive = livePages();

    backToRoot(nav);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    runUntil([&] { return sampler.quiet(); }, 20000);
    const int aliveAtRoot = livePages();
    const qsizetype widgetsAtRoot = QApplication::allWidgets().size();
    const double afterThemeMs = themeSwitchMs();

    char idle[32];
    if (idleSeconds < 0) std::snprintf(idle, sizeof idle, "not idle");
    else std::snprintf(idle, sizeof idle, "%.2f", idleSeconds);
    std::printf("%6s %6s %6s %6s %8s %7s %7s %7s %7s %8s %8s %5s %9s %9s\n", "pace", "rounds", "opened", "served", "start MB",
                "peak +", "HWM MB", "+2 s +", "idle s", "stall ms", "pages", "over", "theme ms", "fresh ms");
    std::printf("%6d %6d %6d %6d %8ld %7ld %7ld %7ld %7s %8.0f %8d %5zu %9.0f %9.0f\n", pace, rounds, opened, served, startMb,
                peakMb - startMb, peakResidentMb(), afterMb - startMb, idle, figures.stallMs, std::max(alive, aliveAtRoot), over,
                afterThemeMs, freshThemeMs);
    std::printf("  slowest event: %s %lld ms; stack after: %s; list opened again %d times\n", slowest.what.c_str(),
                static_cast<long long>(slowest.nanoseconds / 1000000), stack.c_str(), reopened);

    const bool peakHolds = peakMb - startMb <= kPeakGoalMb;
    const bool afterHolds = afterMb - startMb <= kAfterGoalMb;
    const bool idleHolds = idleSeconds >= 0 && idleSeconds <= kIdleGoalSeconds;
    const bool stallHolds = figures.stallMs <= kStallGoalMs;
    const bool pagesHold = alive == 0 && aliveAtRoot == 0 && over == 0;
    const bool themeHolds = afterThemeMs <= std::max(freshThemeMs * kThemeFactor, freshThemeMs + kThemeSlackMs);
    auto say = [](bool holds) { return holds ? "holds" : "MISSED"; };
    std::printf("  peak within %ld MB of the start: %s (%+ld MB)\n", kPeakGoalMb, say(peakHolds), peakMb - startMb);
    std::printf("  within %ld MB of the start 2 s after the last page went: %s (%+ld MB)\n", kAfterGoalMb, say(afterHolds),
                afterMb - startMb);
    std::printf("  idle within %.0f s: %s (%s)\n", kIdleGoalSeconds, say(idleHolds), idle);
    // The GUI thread's CPU time over the worst tick, and how often it waited or was preempted then
    // (a stall far above its CPU time is a loaded machine, not the program's work).
    std::printf("  no stall over %.0f ms: %s (%.0f ms, cpu %.0f ms, waited %ld, preempted %ld)\n", kStallGoalMs, say(stallHolds),
                figures.stallMs, figures.stallCpuMs, figures.stallSwitches.waits, figures.stallSwitches.preempted);
    std::printf("  no page left, nothing over the list: %s (%d pages alive, %d at the root; %zu screens over the list)\n",
                say(pagesHold), alive, aliveAtRoot, over);
    std::printf("  theme switch after as fast as fresh: %s (%.0f ms against %.0f ms; widgets at the Sections root: %lld, fresh %lld)\n",
                say(themeHolds), afterThemeMs, freshThemeMs, static_cast<long long>(widgetsAtRoot), static_cast<long long>(freshWidgets));
    std::fflush(stdout);
    const bool met = peakHolds && afterHolds && idleHolds && stallHolds && pagesHold && themeHolds;
    app().applicationWillTerminate();
    std::_Exit(met ? 0 : 2);
}
