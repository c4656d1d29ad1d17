// Hostile pages opened and left fast, offscreen: from a list, a package page
// whose native depiction (served on loopback) holds a hostile description is
// pushed, left about 0.35 s later, and the next one pushed, N times. A page
// that goes should take its work with it: the memory should stay near the
// start, and the process should fall idle soon after the last page went.
//
// Sets of pages (two pages alternating):
//   pre        <pre> then "x\n" lines (Markdown), and raw HTML
//              <style></style><pre> then "a\r" lines, each just under the
//              4 MiB a depiction may weigh;
//   addresses  paragraphs of 2,000 addresses, 1 MiB.
//
// Reported: the resident memory at the start (after one ordinary page was
// opened and left, and the process fell idle), its highest sample (every
// 50 ms, /proc/self/statm) and the process's peak (VmHWM), the memory 2 s
// after the last page went, and the time from the last page going until the
// process was idle: its CPU time (all threads) grew by less than 5% of one
// core over 250 ms, counted from the start of that quiet span;
// "not idle" after 120 s. Then whether each goal holds.
//
//   bench_DepictionChurnBench [set] [N]   (default: pre 10)
//
// Exits 1 when it measured nothing (a page never showed its header, or no
// page got its depiction before it went), 2 when a goal was missed.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "DetailsBenchHost.h"
#include "Details/PackageDetailsViewController.h"
#include "GuiProbes.h"
#include "HostileTexts.h"
#include "UIKit/QtMainExecutor.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UITextView.h"

namespace {

constexpr int kStepMs = 350;           // how long a page stays open
constexpr int kSampleMs = 50;          // memory and CPU samples
constexpr int kQuietMs = 250;          // CPU flat this long: idle
// CPU time over kQuietMs that is still idle: 5% of one core. The program at
// rest (its timers, these samples) takes about 1%; a build takes a whole core.
constexpr double kIdleGrowthMs = 12.5;
constexpr int kAfterMs = 2000;         // the memory read this long after the last page went
constexpr int kIdleCapSeconds = 120;
constexpr long kMemoryGoalMb = 250;
constexpr double kIdleGoalSeconds = 2;
constexpr const char* kLastWord = "zzlastword";

struct PageText {
    std::string name;
    std::function<std::string()> make;
};

std::vector<PageText> pageSet(const std::string& set) {
    auto lines = [](std::string head, std::string line) {
        return [head, line] { return DetailsBench::fillDepiction(head, [line](size_t) { return line; }, "", kLastWord); };
    };
    if (set == "pre")
        return {{"<pre> x\\n lines", lines("<pre>", "x\n")}, {"<style></style><pre> a\\r lines", lines("<style></style><pre>", "a\r")}};
    if (set == "addresses") {
        auto addresses = [] { return HostileTexts::addressParagraphs(1 << 20, "http://a.b/x") + kLastWord; };
        return {{"1 MiB of addresses", addresses}, {"1 MiB of addresses", addresses}};
    }
    return {};
}

// Memory and CPU samples every kSampleMs; the loop's checks as often.
struct Sampler : GuiProbes::ProcessSampler {
    Sampler() : ProcessSampler(kSampleMs, kQuietMs, kIdleGrowthMs) {}
};
bool runUntil(const std::function<bool()>& done, int ms) { return GuiProbes::runUntil(done, ms, kSampleMs); }

bool opened(PackageDetailsViewController* page, const std::string& name) {
    return page->isVisible() && page->nameLbl() && page->nameLbl()->text() == QString::fromStdString(name);
}

bool showsLastWord(PackageDetailsViewController* page) {
    return page->descriptionLbl() && page->descriptionLbl()->document()->toPlainText().contains(kLastWord);
}

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    UIKit::installQtMainExecutor();
    const std::string set = argc > 1 ? argv[1] : "pre";
    const int pages = argc > 2 ? std::atoi(argv[2]) : 10;
    const std::vector<PageText> texts = pageSet(set);
    if (texts.empty() || pages < 1) {
        std::fprintf(stderr, "usage: %s [pre|addresses] [pages]\n", argv[0]);
        return 1;
    }

    DetailsBench::PageWindow stage;
    UINavigationController* nav = stage.nav;
    DetailsBench::Host host;
    std::vector<std::string> names;
    for (size_t i = 0; i < texts.size(); ++i) {
        const std::string file = "page" + std::to_string(i) + ".json";
        host.files[file] = DetailsBench::markdownDepiction(texts[i].make());
        names.push_back("Churn " + std::to_string(i));
        DetailsBench::addPackage("com.bench.churn." + std::to_string(i), names.back(), host.url(file));
    }
    host.files["ordinary.json"] = DetailsBench::markdownDepiction(std::string("An **ordinary** page. ") + kLastWord);
    DetailsBench::addPackage("com.bench.churn.ordinary", "Ordinary", host.url("ordinary.json"));

    // The start: the program with one ordinary page opened, shown and left.
    Sampler sampler;
    {
        auto* page = new PackageDetailsViewController;
        page->setPackageIdentifier("com.bench.churn.ordinary");
        nav->pushViewController(page, false);
        if (!runUntil([&] { return opened(page, "Ordinary") && showsLastWord(page); }, 30000)) {
            std::printf("the ordinary page never showed its text: nothing measured\n");
            return 1;
        }
        nav->popViewController(false);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        runUntil([&] { return sampler.quiet(); }, 10000);
    }
    const long startMb = GuiProbes::residentKilobytes().first / 1024;

    int served = 0;
    double longestStep = 0;
    for (int i = 0; i < pages; ++i) {
        const size_t which = static_cast<size_t>(i) % texts.size();
        const int servedBefore = host.served;
        QElapsedTimer step;
        step.start();
        auto* page = new PackageDetailsViewController;
        page->setPackageIdentifier("com.bench.churn." + std::to_string(which));
        nav->pushViewController(page, false);
        runUntil([] { return false; }, kStepMs);
        // A page that has not opened yet gets a little longer (the pace slips, and shows in the longest step).
        if (!runUntil([&] { return opened(page, names[which]); }, 10000)) {
            std::printf("page %d (%s) never showed its header: nothing measured\n", i + 1, texts[which].name.c_str());
            return 1;
        }
        if (host.served > servedBefore) ++served;
        nav->popViewController(false);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        longestStep = std::max(longestStep, step.nsecsElapsed() / 1e9);
    }
    if (served == 0) {
        std::printf("no page got its depiction before it went: nothing measured\n");
        return 1;
    }

    // After the last page went: the memory at kAfterMs, and the first quiet span.
    const qint64 gone = sampler.elapsedNs();
    long afterMb = -1;
    double idleSeconds = -1;
    runUntil(
        [&] {
            const double since = (sampler.elapsedNs() - gone) / 1e9;
            if (afterMb < 0 && since * 1000 >= kAfterMs) afterMb = GuiProbes::residentKilobytes().first / 1024;
            if (idleSeconds < 0 && sampler.quiet()) idleSeconds = std::max(0.0, since - kQuietMs / 1000.0);
            return afterMb >= 0 && idleSeconds >= 0;
        },
        kIdleCapSeconds * 1000);
    if (afterMb < 0) afterMb = GuiProbes::residentKilobytes().first / 1024;
    sampler.sample();

    const long peakMb = sampler.highestMb(), hwmMb = GuiProbes::peakResidentMb();
    std::printf("%-10s %5s %7s %9s %8s %8s %9s %10s %10s\n", "set", "pages", "served", "start MB", "peak MB", "HWM MB", "+2 s MB",
                "idle s", "step s");
    char idle[32];
    if (idleSeconds < 0) std::snprintf(idle, sizeof idle, "not idle");
    else std::snprintf(idle, sizeof idle, "%.2f", idleSeconds);
    std::printf("%-10s %5d %4d/%-2d %9ld %8ld %8ld %9ld %10s %10.2f\n", set.c_str(), pages, served, pages, startMb, peakMb, hwmMb, afterMb,
                idle, longestStep);
    const bool memoryHolds = std::max(peakMb, hwmMb) - startMb <= kMemoryGoalMb;
    const bool idleHolds = idleSeconds >= 0 && idleSeconds <= kIdleGoalSeconds;
    std::printf("  memory within %ld MB of the start: %s (+%ld MB at the peak)\n", kMemoryGoalMb, memoryHolds ? "holds" : "missed",
                std::max(peakMb, hwmMb) - startMb);
    std::printf("  idle within %.0f s of the last page going: %s (%s)\n", kIdleGoalSeconds, idleHolds ? "holds" : "missed",
                idleSeconds < 0 ? "not idle after 120 s" : (std::string(idle) + " s").c_str());
    return memoryHolds && idleHolds ? 0 : 2;
}
