// How long the window stops answering while a package page reads a hostile
// description, offscreen. For each shape, a package whose native depiction
// (served on loopback, just under the 4 MiB a depiction may weigh) holds a
// Markdown view of that shape; its page is pushed in a window and watched
// until the description shows the text's last word and its last paragraph is
// laid out. Meanwhile a 5 ms timer runs on the GUI thread's loop: the
// lateness of its worst tick is the stall (with the thread's CPU time over
// that tick, which tells the program's work from a loaded machine), and
// every top-level event dispatch is timed to name the slowest one.
//
// One row per shape: the time until the text was shown and laid out, the
// worst stall, its CPU time, the slowest event, and the process's peak
// resident memory. Exits 1 when a shape measured nothing (its text never
// arrived within the deadline), 2 when every shape arrived but one stalled
// the window for more than 100 ms.
//
//   bench_DetailsTextStallBench [shape...] (default: all; see kShapes)
// DETAILS_TEXT_STALL_DEADLINE: seconds a shape may take (default 120).
#include <QApplication>
#include <QElapsedTimer>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "DetailsBenchHost.h"
#include "GuiProbes.h"
#include "Details/PackageDetailsViewController.h"
#include "UIKit/QtMainExecutor.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UITextView.h"

namespace {

constexpr double kGoalMs = 100;
// What ends every text: the page must show it once the text has arrived.
constexpr const char* kLastWord = "zzlastword";

// ---- the shapes --------------------------------------------------------------------------------

std::string fill(const std::string& head, const std::function<std::string(size_t)>& make, const std::string& tail = "") {
    return DetailsBench::fillDepiction(head, make, tail, kLastWord);
}

struct Shape {
    const char* name;
    const char* what;
    std::function<std::string()> make;
};

const std::vector<Shape>& shapes() {
    static const std::vector<Shape> all = {
        {"lines", "short lines of words (one paragraph of soft breaks)",
         [] { return fill("", [](size_t i) { return "line " + std::to_string(i) + " of some words\n"; }); }},
        {"paragraphs", "short paragraphs",
         [] { return fill("", [](size_t i) { return "paragraph " + std::to_string(i) + " says little\n\n"; }); }},
        {"one-line", "one line of words",
         [] { return fill("", [](size_t i) { return "word" + std::to_string(i % 1000) + " "; }); }},
        {"nested", "nested list and quote markers with raw HTML",
         [] {
             return fill("", [](size_t i) {
                 std::string line;
                 for (size_t depth = 0; depth < 12 + i % 20; ++depth) line += depth % 2 ? "> " : "- ";
                 return line + "<div><b><i>deep " + std::to_string(i) + "</i></b></div> <span>text</span>\n";
             });
         }},
        {"html-paragraphs", "<p>x</p> paragraphs after <style></style>",
         [] { return fill("<style></style>", [](size_t) { return std::string("<p>x</p>"); }); }},
        {"table", "table rows after <style></style>",
         [] { return fill("<style></style><table>", [](size_t) { return std::string("<tr><td>x</td></tr>"); }, "</table>"); }},
    };
    return all;
}

// ---- the probe ---------------------------------------------------------------------------------

using namespace GuiProbes;

// ---- the page ----------------------------------------------------------------------------------

// The description shows the last word, and its last paragraph is laid out
// (read without laying anything out: lines exist only once the layout reached it).
bool shownAndLaidOut(PackageDetailsViewController* page) {
    QTextDocument* doc = page->descriptionLbl()->document();
    QTextBlock block = doc->lastBlock();
    if (!block.isValid() || !block.layout() || block.layout()->lineCount() == 0) return false;
    for (int n = 0; n < 4 && block.isValid(); ++n, block = block.previous())
        if (block.text().contains(kLastWord)) return true;
    return false;
}

struct Row {
    bool arrived = false;
    double seconds = 0, stallMs = 0, stallCpuMs = 0, slowestMs = 0;
    std::string slowest;
};

Row measure(ProbedApplication& app, DetailsBench::Host& host, UINavigationController* nav, const Shape& shape, int deadlineSeconds) {
    const std::string file = std::string(shape.name) + ".json";
    host.files[file] = DetailsBench::markdownDepiction(shape.make());
    const std::string identifier = std::string("com.bench.stall.") + shape.name;
    DetailsBench::addPackage(identifier, shape.name, host.url(file));
    QCoreApplication::processEvents();

    Row row;
    StallProbe probe;
    app.takeSlowest();
    QElapsedTimer clock;
    clock.start();
    auto* page = new PackageDetailsViewController;
    page->setPackageIdentifier(identifier);
    nav->pushViewController(page, false);
    // Checked from a timer of the loop, as the program's own work runs: the
    // check's time is excused.
    QEventLoop loop;
    QTimer poll, deadline;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        QElapsedTimer check;
        check.start();
        const bool done = shownAndLaidOut(page);
        const qint64 spent = check.nsecsElapsed();
        gDriverNs += spent;
        probe.excuse(spent);
        if (done) {
            row.arrived = true;
            loop.quit();
        }
    });
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start(20);
    deadline.setSingleShot(true);
    deadline.start(deadlineSeconds * 1000);
    loop.exec();
    row.seconds = clock.nsecsElapsed() / 1e9;
    row.stallMs = probe.worstMs();
    row.stallCpuMs = probe.worstCpuMs();
    row.slowestMs = app.slowest().nanoseconds / 1e6;
    row.slowest = app.slowest().what;
    nav->popViewController(false);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return row;
}

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ProbedApplication app(argc, argv);
    UIKit::installQtMainExecutor();
    const int deadline = qEnvironmentVariableIsSet("DETAILS_TEXT_STALL_DEADLINE")
        ? qEnvironmentVariableIntValue("DETAILS_TEXT_STALL_DEADLINE")
        : 120;
    std::vector<const Shape*> chosen;
    for (int i = 1; i < argc; ++i) {
        auto it = std::find_if(shapes().begin(), shapes().end(), [&](const Shape& s) { return argv[i] == std::string(s.name); });
        if (it == shapes().end()) {
            std::fprintf(stderr, "unknown shape %s\n", argv[i]);
            return 1;
        }
        chosen.push_back(&*it);
    }
    if (chosen.empty())
        for (const Shape& s : shapes()) chosen.push_back(&s);

    DetailsBench::PageWindow pages;
    DetailsBench::Host host;

    std::printf("%-16s %9s %9s %7s %9s  %-28s %7s\n", "shape", "shown s", "stall ms", "cpu ms", "event ms", "slowest event (class/type)",
                "peak MB");
    bool measuredAll = true, withinGoal = true;
    for (const Shape* shape : chosen) {
        const Row row = measure(app, host, pages.nav, *shape, deadline);
        if (!row.arrived) {
            std::printf("%-16s never shown within %d s (stall so far %.1f ms, slowest event %.1f ms: %s)\n", shape->name, deadline,
                        row.stallMs, row.slowestMs, row.slowest.c_str());
            measuredAll = false;
            continue;
        }
        std::printf("%-16s %9.2f %9.1f %7.1f %9.1f  %-28s %7ld\n", shape->name, row.seconds, row.stallMs, row.stallCpuMs, row.slowestMs,
                    row.slowest.c_str(), peakResidentMb());
        std::fflush(stdout);
        if (row.stallMs > kGoalMs) withinGoal = false;
    }
    if (!measuredAll) return 1;
    return withinGoal ? 0 : 2;
}
