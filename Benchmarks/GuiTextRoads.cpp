// A hostile text on one of the roads by which a repository's or the maker's
// text reaches a text view, from the launch, for Benchmarks/text-roads.sh:
// the application started as main() starts it (ZMApplication::start),
// configured only through the environment (a fresh data directory, the fake
// maker server and a loopback repository named by VOSTRELLE_* URLs), the
// repository added as a source and refreshed over HTTP, then the text's page
// opened by clicking as a user does, in an 800x600 window.
//
// The roads (a text and the view that shows it):
//   native-description  a native depiction's Markdown view (the Details tab)
//   native-changelog    a native depiction's "Change Log" tab (What's New)
//   index               the Description field of the repository's Packages
//                       index, shown plain (the package has no depiction);
//                       the refresh takes no stanza over 256 KiB, so the text
//                       is made smaller to fit
//   featured            the featured page's text (Markdown) from the maker's
//                       feed, opened from the banner's menu in the Featured tab
//   classic-description a classic repository's HTML information page (the
//                       package's Depiction), read for its description
//   classic-changelog   that page's changelog page, shown plain
// The text always ends with one word (kLastWord); where a road's container
// (a 4 MiB depiction or page, a stanza) cannot hold the shape's size, the
// text is made as large as it holds, and the row says how large it was.
//
// Measured, with the stall probe of GuiProbes.h (the lateness of a 5 ms timer
// on the window's thread, with its CPU time, and the slowest event):
//   shown   from the click that opens the page until the text is shown and
//           laid out: its view on screen, its last paragraph laid out, and
//           the last word in its last paragraphs (or, for a text shown cut,
//           the cut's mark last, with the whole text holding the last word);
//   scroll  Page Down from the page's top to its end, each page painted (a
//           page taller than kMostSteps pages is scrolled by its scroll bar
//           in kMostSteps even steps instead; where Page Down does not move
//           the page, by its scroll bar a page at a time, and the row names
//           the widget that kept the key);
//   resize  the window made 420, then 1400 pixels wide, each time until the
//           text is laid out again at its new width;
// and the process's peak resident memory.
//
// One row (its header: --header; the pairs measured: --list). Exits 1 when
// it measured nothing (the refresh stored nothing, the page or its text never
// came), 2 when a stall passed 100 ms, the text took more than 2 s to be laid
// out (or was still being laid out at the deadline: its scroll and resizes
// are then not measured) or the scroll did not reach the end, 3 when the
// window stopped answering for TEXT_ROADS_FROZEN seconds (default 30; the row
// then says "froze" and in which phase).
//
//   bench_GuiTextRoads <road> <shape> | --list | --header
// TEXT_ROADS_DEADLINE: seconds for the text to be shown and laid out, and
// for each of the scroll and the resizes (default 30).
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextLayout>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "GuiProbes.h"
#include "TextRoadShapes.h"
#include "App/ZMApplication.h"
#include "Browsing/BigFeaturedCell.h"
#include "Browsing/CategoriesTableViewController.h"
#include "Browsing/FeaturedPackageViewController.h"
#include "Browsing/FeaturedViewController.h"
#include "Browsing/PackagesTableViewController.h"
#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageManager.h"
#include "Details/PackageDetailsViewController.h"
#include "Miscellaneous/ZMHeap.h"
#include "Online/Screens/ZMStoreCallbackSchemeHandler.h"
#include "Support/FakeMakerAPI.h"
#include "Support/FlatRepository.h"
#include "Support/TestSupport.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIScrollView.h"
#include "UIKit/UITabBarController.h"
#include "UIKit/UITextView.h"
#include "UIKit/UIWindow.h"
#include "VostrellePersistentPreferences.h"
#include "ZMPipelineManager.h"
#include "ZMVostrelle.h"

namespace {

using namespace GuiProbes;
using namespace TextRoadShapes;

constexpr double kStallGoalMs = 100;
constexpr double kShownGoalSeconds = 2;
constexpr const char* kLastWord = "zzlastword";
constexpr const char* kIdentifier = "org.mallory.roads";
// A page taller than this many pages is scrolled in this many steps of its scroll bar.
constexpr int kMostSteps = 600;

// ---- the roads ---------------------------------------------------------------------------------

enum class Road { NativeDescription, NativeChangelog, Index, Featured, ClassicDescription, ClassicChangelog };

struct RoadInfo {
    Road road;
    const char* name;
};
constexpr RoadInfo kRoads[] = {
    {Road::NativeDescription, "native-description"}, {Road::NativeChangelog, "native-changelog"},
    {Road::Index, "index"},
    {Road::Featured, "featured"},
    {Road::ClassicDescription, "classic-description"}, {Road::ClassicChangelog, "classic-changelog"},
};

// Where the road's text goes: a file under the server's root, the stanza's
// own fields, the maker's feed.
struct Serving {
    std::map<std::string, std::string> files;  // path under the server's root -> contents
    std::string stanzaFields;                  // "Field: value\n" lines of the package
    std::string description = "Hostile text for the text roads";  // the Description field's value
    nlohmann::json featured;                   // the maker's feed (null: none)
    size_t largest = 0;                        // the largest container that holds the text
};

std::string stanza(const Serving& s) {
    return std::string("Package: ") + kIdentifier + "\nName: Hostile Text\nVersion: 1.0\nSection: Tweaks\n" +
           "Maintainer: Mallory <mallory@example.com>\nArchitecture: all\n" + s.stanzaFields + "Description: " + s.description +
           "\n";
}

std::string escapedHTML(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '<') out += "&lt;";
        else if (c == '&') out += "&amp;";
        else out += c;
    }
    return out;
}

std::string nativeDepiction(const nlohmann::json& tabs) { return nlohmann::json{{"tabs", tabs}}.dump(); }

// What the road serves for `text`, with `base` the server's address.
Serving serving(Road road, const std::string& text, const std::string& base) {
    using nlohmann::json;
    Serving s;
    const json details = {{"tabname", "Details"}, {"views", {{{"markdown", "A package of the text roads."}}}}};
    switch (road) {
        case Road::NativeDescription:
            s.files["depictions/text.json"] =
                nativeDepiction({{{"tabname", "Details"}, {"views", {{{"markdown", text}}}}}});
            s.stanzaFields = "SileoDepiction: " + base + "depictions/text.json\n";
            s.largest = s.files["depictions/text.json"].size();
            break;
        case Road::NativeChangelog:
            s.files["depictions/text.json"] =
                nativeDepiction({details, {{"tabname", "Change Log"}, {"views", {{{"title", "1.0"}}, {{"markdown", text}}}}}});
            s.stanzaFields = "SileoDepiction: " + base + "depictions/text.json\n";
            s.largest = s.files["depictions/text.json"].size();
            break;
        case Road::Index: {
            // The text as the extended description: each line after a blank, an empty one as " .".
            for (size_t start = 0; start <= text.size();) {
                size_t end = text.find('\n', start);
                if (end == std::string::npos) end = text.size();
                const std::string_view line(text.data() + start, end - start);
                s.description += line.empty() ? "\n ." : "\n " + std::string(line);
                start = end + 1;
            }
            s.largest = stanza(s).size();
            break;
        }
        case Road::Featured:
            s.featured = {{"featuredTop",
                           {{{"bundle_id", kIdentifier}, {"title", "Hostile Text"}, {"developer", "Mallory"},
                             {"description", text}, {"background", ""}, {"logo", ""}, {"repo", base + "repo/"}}}},
                          {"featuredMiddle", json::array()}, {"mustHaveTweaks", json::array()},
                          {"mustHaveThemes", json::array()}, {"extendApps", json::array()}};
            s.largest = s.featured.dump().size();
            break;
        case Road::ClassicDescription:
        case Road::ClassicChangelog: {
            // A Kestrum page: its description is every paragraph inside a div,
            // its changelog the divs of the page it links as "changelog.php".
            const bool description = road == Road::ClassicDescription;
            const std::string body = description ? escapedHTML(text) : "A package of the text roads.";
            s.files["pages/info.html"] = "<html><head><title>Hostile Text</title></head><body><div><p>" + body + "</p></div>" +
                                         (description ? "" : "<a href=\"changelog.php\">What's New</a>") + "</body></html>";
            if (!description) s.files["pages/changelog.php"] = "<html><body><div>" + escapedHTML(text) + "</div></body></html>";
            s.stanzaFields = "Depiction: " + base + "pages/info.html\n";
            s.largest = description ? s.files["pages/info.html"].size() : s.files["pages/changelog.php"].size();
            break;
        }
    }
    return s;
}

// The most a road's container holds: a depiction or page the program reads,
// a stanza the refresh takes, the maker's reply.
size_t capacity(Road road) {
    switch (road) {
        case Road::Index: return (256u << 10) - 64;
        case Road::Featured: return 8u << 20;
        default: return (4u << 20) - 64;
    }
}

bool isChangelog(Road road) { return road == Road::NativeChangelog || road == Road::ClassicChangelog; }

// ---- the probe and the watchdog ----------------------------------------------------------------

// Counts the paint events (a scroll step waits for its paint).
class RoadApplication : public ProbedApplication {
public:
    using ProbedApplication::ProbedApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return ProbedApplication::notify(receiver, event);
    }
    std::atomic<long> paints{0};
};

RoadApplication* gApp = nullptr;
StallProbe* gProbe = nullptr;
std::atomic<const char*> gPhase{"launch"};
std::atomic<long long> gHeartbeat{0};  // steady-clock milliseconds of the window thread's last tick
std::string gRowHead;                  // "road shape KiB", what every row begins with

long long nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A window that has not answered for `seconds` froze: the row says so and
// the process ends (a layout that never returns never ends otherwise).
void startWatchdog(int seconds) {
    gHeartbeat = nowMs();
    auto* beat = new QTimer(qApp);
    QObject::connect(beat, &QTimer::timeout, [] { gHeartbeat = nowMs(); });
    beat->start(50);
    std::thread([seconds] {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            const long long silent = nowMs() - gHeartbeat.load();
            if (silent < seconds * 1000LL) continue;
            std::printf("%s froze while %s: the window did not answer for %lld s (peak %ld MB)\n", gRowHead.c_str(),
                        gPhase.load(), silent / 1000, peakResidentMb());
            std::fflush(stdout);
            std::_Exit(3);
        }
    }).detach();
}

[[noreturn]] void nothing(const std::string& why) {
    std::printf("%s measured nothing: %s\n", gRowHead.c_str(), why.c_str());
    std::fflush(stdout);
    std::_Exit(1);
}

// The benchmark's own checks on the window's thread: left out of the stalls.
bool check(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    const bool result = done();
    const qint64 spent = timer.nsecsElapsed();
    gDriverNs += spent;
    if (gProbe) gProbe->excuse(spent);
    return result;
}

// Runs the loop (blocking in it as the application's own loop does) until
// `done` holds or the time is up.
bool waitFor(const std::function<bool()>& done, int milliseconds) {
    return GuiProbes::runUntil([&] { return check(done); }, milliseconds, 10);
}

struct Figures {
    double stallMs = 0, cpuMs = 0, slowestMs = 0;
    Switches switches;  // over the worst tick: times the thread waited, times it was preempted
    std::string slowest;
};

Figures takeFigures() {
    const StallProbe::Figures f = gProbe->take();
    const Slowest slowest = gApp->takeSlowest();
    return {f.stallMs, f.stallCpuMs, slowest.nanoseconds / 1e6, f.stallSwitches, slowest.what};
}

// ---- the gestures ------------------------------------------------------------------------------

ZMVostrelle& app() { return ZMVostrelle::sharedVostrelle(); }

void click(QWidget* widget, const std::string& what) {
    if (!widget || !widget->isVisible() || !widget->isEnabled()) nothing("cannot click " + what);
    QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
}

void bringToFront() {
    QWidget* window = app().window();
    window->activateWindow();
    if (!waitFor([&] { return window->isActiveWindow(); }, 300)) QApplication::setActiveWindow(window);
}

UINavigationController* tab(int index) {
    click(app().tabBarController()->tabButton(index), "tab " + std::to_string(index));
    auto* nav = qobject_cast<UINavigationController*>(app().tabBarController()->selectedViewController());
    if (!nav) nothing("tab " + std::to_string(index) + " has no navigation");
    return nav;
}

// All Packages from the Sections tab, as a user opens it; then the package's row.
QWidget* packageRow() {
    auto* nav = tab(ZMVostrelle::SectionsTab);
    auto* sections = dynamic_cast<CategoriesTableViewController*>(nav->topViewController());
    if (!sections || !waitFor([&] { return sections->isOnScreen(); }, 10000)) nothing("no Sections screen");
    click(sections->defaultCategoriesTableView()->cellForRow({0, 0}), "All Packages");
    auto* list = dynamic_cast<PackagesTableViewController*>(nav->topViewController());
    if (!list) nothing("the first row opened no package list");
    const auto row = [list]() -> std::optional<IndexPath> {
        if (const auto at = list->model().positionOf(kIdentifier)) return IndexPath{at->first, at->second};
        return std::nullopt;
    };
    if (!waitFor([&] { return list->isOnScreen() && row(); }, 20000)) nothing("All Packages does not list the package");
    list->packagesTableView()->scrollToRow(*row(), UITableView::ScrollPosition::Middle, false);
    waitFor([] { return false; }, 50);
    return list->packagesTableView()->cellForRow(*row());
}

// The banner's menu in the Featured tab, as a right click opens it; its "Featured Page" entry.
std::pair<QMenu*, QAction*> featuredPageEntry() {
    auto* nav = tab(ZMVostrelle::FeaturedTab);
    auto* featured = dynamic_cast<FeaturedViewController*>(nav->topViewController());
    if (!featured) nothing("no Featured screen");
    if (!waitFor([&] { return featured->bannerCell(0) && featured->bannerCell(0)->isVisible(); }, 30000))
        nothing("the featured page shows no banner");
    BigFeaturedCell* banner = featured->bannerCell(0);
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, 20), banner->mapToGlobal(QPoint(20, 20)));
    QApplication::sendEvent(banner, &event);
    QMenu* menu = nullptr;
    if (!waitFor([&] { return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) != nullptr; }, 5000))
        nothing("the banner has no menu");
    for (QAction* action : menu->actions())
        if (action->text() == "Featured Page") return {menu, action};
    nothing("the banner's menu has no Featured Page");
}

// ---- the text ----------------------------------------------------------------------------------

// The whole of a text shown cut (empty on a tree where texts are never cut).
template <class View>
QString wholeTextOf(const View* view) {
    if constexpr (requires { view->wholeText(); }) return view->wholeText();
    else return {};
}
template <class View>
QString wholeTextAddress() {
    if constexpr (requires { View::wholeTextLink(); }) return View::wholeTextLink().toString();
    else return {};
}

bool lastBlocksHold(const QTextDocument* doc, const QString& word) {
    QTextBlock block = doc->lastBlock();
    for (int n = 0; n < 4 && block.isValid(); ++n, block = block.previous())
        if (block.text().contains(word)) return true;
    return false;
}

bool endsWithCutMark(const QTextDocument* doc) {
    const QString address = wholeTextAddress<UITextView>();
    if (address.isEmpty()) return false;
    for (auto it = doc->lastBlock().begin(); !it.atEnd(); ++it)
        if (it.fragment().charFormat().anchorHref() == address) return true;
    return false;
}

enum class Shown { No, Arrived, LaidOut };
struct TextState {
    Shown shown = Shown::No;
    bool cut = false;
};

TextState stateOf(const UITextView* view) {
    TextState state;
    if (!view || !view->isVisible()) return state;
    const QString whole = wholeTextOf(view);
    state.cut = !whole.isEmpty();
    const QTextDocument* doc = view->document();
    const bool arrived = state.cut ? endsWithCutMark(doc) && whole.contains(kLastWord) : lastBlocksHold(doc, kLastWord);
    if (arrived) state.shown = view->isLaidOut() ? Shown::LaidOut : Shown::Arrived;
    return state;
}

// ---- the phases --------------------------------------------------------------------------------

struct Row {
    double shownSeconds = 0;
    bool stillLayingOut = false;
    Figures shown, scroll, resize;
    int steps = 0;
    bool keys = true, reachedEnd = false;
    std::string keysIgnored;  // the widget that kept Page Down, when one did
    int height = 0;  // of the text view at the window's first width, in pixels
};

// The scroll area that moves the text, and the view.
struct Page {
    UITextView* view = nullptr;
    QAbstractScrollArea* area = nullptr;
};

// From the click until the text is shown and laid out.
Page openAndShow(Road road, int deadlineSeconds, Row& row) {
    gPhase = "opening the page";
    Page page;
    std::function<void()> press;
    std::function<UIViewController*()> opened;
    if (road == Road::Featured) {
        auto [menu, action] = featuredPageEntry();
        press = [menu = menu, action = action] {
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
        };
        opened = [] { return app().window()->topPresentedViewController(); };
    } else {
        QWidget* cell = packageRow();
        press = [cell] { click(cell, "the package's row"); };
        auto* nav = qobject_cast<UINavigationController*>(app().tabBarController()->selectedViewController());
        opened = [nav] { return nav->topViewController(); };
    }
    takeFigures();
    QElapsedTimer clock;
    clock.start();
    press();
    gPhase = "showing the text";
    UIViewController* screen = opened();
    if (road == Road::Featured) {
        auto* featured = dynamic_cast<FeaturedPackageViewController*>(screen);
        if (!featured) nothing("the menu entry opened no featured page");
        page.view = featured->featuredDescriptionLbl();
        page.area = featured->findChild<QScrollArea*>("scrollView");
    } else {
        auto* details = dynamic_cast<PackageDetailsViewController*>(screen);
        if (!details) nothing("the row opened no package page");
        page.view = isChangelog(road) ? details->changelogContentLbl() : details->descriptionLbl();
        page.area = details->scrollView();
    }
    if (!page.view || !page.area) nothing("the page has no text view");
    TextState state;
    waitFor([&] { return (state = stateOf(page.view)).shown == Shown::LaidOut; }, deadlineSeconds * 1000);
    row.shownSeconds = clock.nsecsElapsed() / 1e9;
    row.shown = takeFigures();
    if (state.shown == Shown::No) nothing("the text was not shown within " + std::to_string(deadlineSeconds) + " s");
    row.stillLayingOut = state.shown != Shown::LaidOut;
    row.height = page.view->height();  // as far as the layout came; once scrolled, its whole height
    return page;
}

// Page Down from the top to the end, each page painted. Where Page Down
// does not move the page (the key went to a view that keeps it), the page's
// scroll bar moves by a page instead, as a wheel would, and the row says
// where the keyboard focus was.
void scrollToTheEnd(const Page& page, int deadlineSeconds, Row& row) {
    gPhase = "scrolling";
    QScrollBar* bar = page.area->verticalScrollBar();
    bar->setValue(0);
    bringToFront();
    waitFor([] { return false; }, 200);
    takeFigures();
    const int pages = bar->pageStep() > 0 ? (bar->maximum() + bar->pageStep() - 1) / bar->pageStep() : 0;
    row.keys = pages <= kMostSteps;
    const int step = row.keys ? bar->pageStep() : (bar->maximum() + kMostSteps - 1) / kMostSteps;
    QElapsedTimer clock;
    clock.start();
    while (bar->value() < bar->maximum() && clock.elapsed() < deadlineSeconds * 1000LL) {
        const int before = bar->value();
        const long painted = gApp->paints.load();
        if (row.keys) QTest::keyClick(app().window()->windowHandle(), Qt::Key_PageDown);
        if (row.keys && bar->value() == before) {
            QWidget* focus = QApplication::focusWidget();
            row.keysIgnored = focus ? focus->metaObject()->className() + (" " + focus->objectName().toStdString()) : "nothing";
            row.keys = false;
        }
        if (!row.keys) bar->setValue(std::min(bar->maximum(), before + step));
        waitFor([&] { return gApp->paints.load() > painted; }, 200);
        // (A page that grew shorter meanwhile may end where the step began.)
        if (bar->value() <= before && bar->value() < bar->maximum()) nothing("the page does not scroll");
        ++row.steps;
    }
    row.reachedEnd = bar->value() >= bar->maximum();
    waitFor([] { return false; }, 100);
    row.scroll = takeFigures();
    row.height = page.view->height();
}

// The window 420, then 1400 pixels wide, each time until the text is laid out again.
void resizeTwice(const Page& page, int deadlineSeconds, Row& row) {
    gPhase = "resizing";
    takeFigures();
    for (int width : {420, 1400}) {
        const int before = page.view->width();
        app().window()->resize(width, 600);
        // A width the view does not take (a column of its own width) lays nothing out again.
        waitFor([&] { return page.view->width() != before; }, 1000);
        waitFor([&] { return page.view->isLaidOut(); }, deadlineSeconds * 1000);
        if (!page.view->isLaidOut()) row.stillLayingOut = true;
    }
    waitFor([] { return false; }, 200);
    row.resize = takeFigures();
}

std::string figures(const Figures& f) {
    char text[64];
    std::snprintf(text, sizeof text, "%7.0f %5.0f", f.stallMs, f.cpuMs);
    return text;
}

bool measuredOn(const Shape& shape, Road road) { return shape.everyRoad || road == Road::NativeDescription; }

void usage() {
    std::fprintf(stderr,
                 "usage: bench_GuiTextRoads <road> <shape>   one row\n"
                 "       bench_GuiTextRoads --list           every road and shape measured, one pair a line\n"
                 "       bench_GuiTextRoads --header         the rows' header\nroads:");
    for (const auto& r : kRoads) std::fprintf(stderr, " %s", r.name);
    std::fprintf(stderr, "\nshapes (* on every road, else on the native description only):\n");
    for (const auto& s : shapes()) std::fprintf(stderr, "  %-18s%s %s, %zu bytes\n", s.name, s.everyRoad ? "*" : " ", s.what, s.bytes);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && argv[1] == std::string("--list")) {
        for (const auto& s : shapes())
            for (const auto& r : kRoads)
                if (measuredOn(s, r.road)) std::printf("%s %s\n", r.name, s.name);
        return 0;
    }
    if (argc == 2 && argv[1] == std::string("--header")) {
        std::printf("%-20s %-18s %5s %7s %8s %7s %5s %7s %5s %-6s %7s %5s %7s %7s  %s\n", "road", "shape", "KiB", "shown s",
                    "height", "show ms", "cpu", "scroll", "cpu", "steps", "resize", "cpu", "peak MB", "wait/pre",
                    "slowest event (class/type ms)");
        return 0;
    }
    const RoadInfo* road = nullptr;
    const Shape* shape = nullptr;
    for (const auto& r : kRoads)
        if (argc == 3 && r.name == std::string(argv[1])) road = &r;
    for (const auto& s : shapes())
        if (argc == 3 && s.name == std::string(argv[2])) shape = &s;
    if (!road || !shape || !measuredOn(*shape, road->road)) {
        usage();
        return 64;
    }
    const int deadline = qEnvironmentVariableIsSet("TEXT_ROADS_DEADLINE") ? qEnvironmentVariableIntValue("TEXT_ROADS_DEADLINE") : 30;
    const int frozen = qEnvironmentVariableIsSet("TEXT_ROADS_FROZEN") ? qEnvironmentVariableIntValue("TEXT_ROADS_FROZEN") : 30;

    // ---- the servers and the environment, as a user configures the application
    TestSupport::TempDir root;
    const std::string served = root.path() + "/served";
    std::filesystem::create_directories(served + "/repo");
    FlatRepository::FileServer server(served);
    FakeMakerAPI maker(FakeMakerAPI::ThroughEnvironment{});
    const std::string base = server.url();
    std::string text;
    Serving serve;
    for (size_t bytes = shape->bytes;;) {  // as large as the road's container holds
        text = textOf(*shape, bytes, kLastWord);
        serve = serving(road->road, text, base);
        if (serve.largest <= capacity(road->road)) break;
        bytes -= serve.largest - capacity(road->road) + 16;
    }
    for (const auto& [path, contents] : serve.files) {
        std::filesystem::create_directories(std::filesystem::path(served + "/" + path).parent_path());
        TestSupport::writeFile(served + "/" + path, contents);
    }
    FlatRepository::writeIndexesForText(served + "/repo", stanza(serve), "Hostile Texts");
    if (!serve.featured.is_null()) maker.setFeatured(serve.featured);
    const std::string repository = server.url("repo/");
    for (const auto& [name, value] : std::initializer_list<std::pair<const char*, std::string>>{
             {"VOSTRELLE_DATA_DIR", root.path() + "/data"},
             {"VOSTRELLE_LOG_DIR", root.path() + "/log"},
             {"VOSTRELLE_TARGET_ROOT", root.path() + "/target"},
             {"VOSTRELLE_ASSUME_REACHABLE", "1"},
             {"VOSTRELLE_KESTRUM_SOURCE", repository}})
        setenv(name, value.c_str(), 1);
    // The helper built beside the benchmark, which the refresh runs (apt's caches).
    const auto helper = std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "vostrelle-helper";
    if (!qEnvironmentVariableIsSet("VOSTRELLE_HELPER") && std::filesystem::exists(helper)) setenv("VOSTRELLE_HELPER", helper.c_str(), 1);
    std::filesystem::create_directories(root.path() + "/target/var/lib/dpkg");
    TestSupport::writeFile(root.path() + "/target/var/lib/dpkg/status", "");
    char head[160];
    std::snprintf(head, sizeof head, "%-20s %-18s %5zu", road->name, shape->name, text.size() / 1024);
    gRowHead = head;

    // ---- the launch, as main() does it
    ZMHeap::configure();
    if (geteuid() == 0) {
        QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        if (!flags.contains("--no-sandbox")) qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (flags + " --no-sandbox").trimmed());
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    ZMStoreCallbackSchemeHandler::registerScheme();
    int qtArgc = 1;
    RoadApplication qtApp(qtArgc, argv);
    gApp = &qtApp;
    QApplication::setApplicationName(QStringLiteral("Vostrelle"));
    QApplication::setApplicationVersion(QStringLiteral(VOSTRELLE_VERSION));
    StallProbe probe;
    gProbe = &probe;
    startWatchdog(frozen);
    // A user who has been through the first run and saw this version's change log.
    VostrellePersistentPreferences::sharedInstance().setValue(VostrellePreferenceKey::SetupDone, true);
    VostrellePersistentPreferences::sharedInstance().setValue(VostrellePreferenceKey::WelcomeScreenVersion,
                                                              std::string(VOSTRELLE_VERSION));
    if (!ZMApplication::start({})) nothing("another Vostrelle took the launch");
    if (!waitFor([] { return app().backgroundLaunchWorkDone(); }, 60000)) nothing("the launch did not finish");
    app().window()->resize(800, 600);

    // ---- the source, added and refreshed over HTTP
    gPhase = "refreshing";
    auto& sources = ZMRPackageManager::sharedPackageManager().sources();
    if (sources.addSourceWithLocation(repository, true).status != ZMRAddSourceStatus::Added) nothing("the source was not added");
    const auto stored = [] {
        try {
            return ZMRPackage::objectForPrimaryKey(kIdentifier).has_value() &&
                   ZMPipelineManager::sharedManager().liveTaskCount() == 0 &&
                   !ZMRPackageManager::sharedPackageManager().sources().isRefreshInProgress();
        } catch (const std::exception&) {
            return false;
        }
    };
    if (!waitFor(stored, 60000)) nothing("the refresh stored no package");

    // ---- the text, shown, scrolled, resized
    Row row;
    const Page page = openAndShow(road->road, deadline, row);
    // A text still being laid out at the deadline has missed its goal; it
    // would only hold the scroll and the resizes to their deadlines too.
    const bool whole = !row.stillLayingOut;
    if (whole) {
        scrollToTheEnd(page, deadline, row);
        resizeTwice(page, deadline, row);
    }

    const Figures* worst = &row.shown;
    for (const Figures* f : {&row.scroll, &row.resize})
        if (f->stallMs > worst->stallMs) worst = f;
    const std::string steps = std::to_string(row.steps) + (row.keys ? "k" : "s") + (row.reachedEnd ? "" : "!");
    const std::string switches = std::to_string(worst->switches.waits) + "/" + std::to_string(worst->switches.preempted);
    std::string notes;
    if (row.stillLayingOut) notes += " (still laying out after " + std::to_string(deadline) + " s)";
    if (!row.keysIgnored.empty()) notes += " (Page Down kept by " + row.keysIgnored + ")";
    const std::string none = "      -     -";
    std::printf("%s %7.2f %8d %s %s %-6s %s %7ld %8s  %s %.0f%s\n", gRowHead.c_str(), row.shownSeconds, row.height,
                figures(row.shown).c_str(), whole ? figures(row.scroll).c_str() : none.c_str(), whole ? steps.c_str() : "-",
                whole ? figures(row.resize).c_str() : none.c_str(), peakResidentMb(), switches.c_str(), worst->slowest.c_str(),
                worst->slowestMs, notes.c_str());
    std::fflush(stdout);
    const bool met = !row.stillLayingOut && row.reachedEnd && row.shownSeconds <= kShownGoalSeconds &&
                     std::max({row.shown.stallMs, row.scroll.stallMs, row.resize.stallMs}) <= kStallGoalMs;
    // Out without the destructors of the web engine's profile (as the long run does).
    std::_Exit(met ? 0 : 2);
}
