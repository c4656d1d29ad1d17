// The memory a package page's text leaves behind, offscreen: a text view in
// a shown window gets a description built the way the page builds it
// (UITextView::setAttributedTextInBackground, DetailsTextDocument on the
// depictions' queue), then goes, N times: the memory should come back.
//
//   bench_DepictionMemoryBench [visits] [step ms] [shape]   (default: 20 0 words)
//
// step 0: each text is shown and laid out whole before its view goes (the
// slowest reader); step > 0: the view goes that many ms after it asked for
// its text, shown or not (pages left fast; most builds stop half-way).
// Shapes, 4 MiB each: words (short lines of words, one paragraph), rich
// (paragraphs with emphasis, links and lists).
//
// Reported: the resident memory at the start (a short text shown and its
// view gone, the process idle), after each visit's view went, its highest
// sample (every 20 ms on the GUI loop) and the process's peak (VmHWM), and
// the memory 0.5, 1 and 2 s after the last view went. Then whether each goal
// holds: within 250 MB of the start at the peak, within 50 MB 2 s after.
//
// Exits 1 when it measured nothing (with step 0: a text never showed; else:
// no build ever started), 2 when a goal was missed.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QScrollArea>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "Details/DetailsTextDocument.h"
#include "GuiProbes.h"
#include "UIKit/QtMainExecutor.h"
#include "UIKit/UITextView.h"

namespace {

constexpr size_t kTextBytes = 4u << 20;
constexpr int kSampleMs = 20;
constexpr int kTextCapMs = 60000;  // a text not shown by then: nothing measured
constexpr long kPeakGoalMb = 250;
constexpr long kAfterGoalMb = 50;
constexpr int kAfterMs[] = {500, 1000, 2000};

std::string text(const std::string& shape) {
    std::string out;
    out.reserve(kTextBytes + 64);
    for (size_t i = 0; out.size() < kTextBytes; ++i) {
        const std::string n = std::to_string(i);
        if (shape == "words") {
            out += "w" + n + " word" + n + " and w" + n + "x\n";
        } else {
            out += "Paragraph " + n + " has *emphasis*, **strong words** and [a link](https://example.com/" + n +
                   ").\n\n- item " + n + "\n- another item\n\n";
        }
    }
    return out;
}

bool runUntil(const std::function<bool()>& done, int ms) { return GuiProbes::runUntil(done, ms, kSampleMs); }

long residentMb() { return GuiProbes::residentKilobytes().first / 1024; }

// A page's column: the view in a scrolled column of a shown window.
struct Window {
    QScrollArea scroll;
    QWidget* column = new QWidget;
    QVBoxLayout* layout = new QVBoxLayout(column);
    Window() {
        layout->addStretch();
        scroll.setWidget(column);
        scroll.setWidgetResizable(true);
        scroll.resize(460, 900);
        scroll.show();
    }
};

std::atomic<int> gBuilds{0};

// One visit: the view asks for its text and goes once it is laid out
// (stepMs 0) or after stepMs. False when a text to wait for never showed.
bool visit(Window& window, const std::string& source, int stepMs) {
    auto* view = new UITextView;
    window.layout->insertWidget(0, view);
    bool shown = false;
    QObject::connect(view, &UITextView::attributedTextShown, [&shown] { shown = true; });
    view->setAttributedTextInBackground(
        [&source](const std::function<bool()>& superseded) {
            ++gBuilds;
            return DetailsTextDocument::fromMarkdown(source, false, false, superseded).document;
        },
        ZMDepictionBudget::queue());
    bool ok = true;
    if (stepMs == 0) ok = runUntil([&] { return shown && view->isLaidOut(); }, kTextCapMs);
    else runUntil([] { return false; }, stepMs);
    delete view;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    UIKit::installQtMainExecutor();
    const int visits = argc > 1 ? std::atoi(argv[1]) : 20;
    const int stepMs = argc > 2 ? std::atoi(argv[2]) : 0;
    const std::string shape = argc > 3 ? argv[3] : "words";
    if (visits < 1 || stepMs < 0 || (shape != "words" && shape != "rich")) {
        std::fprintf(stderr, "usage: %s [visits] [step ms] [words|rich]\n", argv[0]);
        return 1;
    }
    const std::string source = text(shape);
    Window window;

    long highestMb = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { highestMb = std::max(highestMb, residentMb()); });
    sampler.start(kSampleMs);

    // The start: a short text shown and gone, the process at rest.
    const std::string shortText = "A short **description**.";
    if (!visit(window, shortText, 0)) {
        std::printf("the short text never showed: nothing measured\n");
        return 1;
    }
    runUntil([] { return false; }, 1000);
    const long startMb = residentMb();
    gBuilds = 0;

    std::vector<long> afterVisit;
    for (int i = 0; i < visits; ++i) {
        if (!visit(window, source, stepMs)) {
            std::printf("visit %d: the text never showed within %d s: nothing measured\n", i + 1, kTextCapMs / 1000);
            return 1;
        }
        afterVisit.push_back(residentMb());
    }
    if (gBuilds == 0) {
        std::printf("no build started: nothing measured\n");
        return 1;
    }
    QElapsedTimer since;
    since.start();
    std::vector<long> after;
    for (int ms : kAfterMs) {
        runUntil([] { return false; }, static_cast<int>(std::max<qint64>(0, ms - since.elapsed())));
        after.push_back(residentMb());
    }
    highestMb = std::max(highestMb, residentMb());
    const long hwmMb = GuiProbes::peakResidentMb();

    std::printf("shape %s, %d visits, step %s, %d builds started\n", shape.c_str(), visits,
                stepMs ? (std::to_string(stepMs) + " ms").c_str() : "until laid out", gBuilds.load());
    std::printf("start %ld MB; after each visit:", startMb);
    for (long mb : afterVisit) std::printf(" %ld", mb);
    std::printf("\npeak %ld MB sampled, %ld MB VmHWM; after the last view went: %ld / %ld / %ld MB at 0.5 / 1 / 2 s\n",
                highestMb, hwmMb, after[0], after[1], after[2]);
    const long peakOver = std::max(highestMb, hwmMb) - startMb, afterOver = after[2] - startMb;
    const bool peakHolds = peakOver <= kPeakGoalMb, afterHolds = afterOver <= kAfterGoalMb;
    std::printf("  within %ld MB of the start at the peak: %s (%+ld MB)\n", kPeakGoalMb, peakHolds ? "holds" : "missed", peakOver);
    std::printf("  within %ld MB of the start 2 s after: %s (%+ld MB)\n", kAfterGoalMb, afterHolds ? "holds" : "missed", afterOver);
    return peakHolds && afterHolds ? 0 : 2;
}
