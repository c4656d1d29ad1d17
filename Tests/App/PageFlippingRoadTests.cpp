// Package pages opened and left fast, from the launch: the repository on
// loopback added by a "vostrelle://add" link and refreshed over HTTP, two of
// its packages with native depictions whose long descriptions are still
// being read when their pages go, All Packages opened from the Sections tab,
// and then rows clicked and Alt+Left pressed at several paces with the
// slides on, some clicks landing on the list while it slides away. Whatever
// the pace, the stack ends as the user left it (the list, nothing over it)
// and no page object outlives its screen.
#include <QApplication>
#include <QTest>
#include <fstream>

#include <nlohmann/json.hpp>

#include "App/LaunchFixture.h"
#include "Details/PackageDetailsViewController.h"
#include "UIKit/UITableView.h"
#include "UIKit/UITableViewCell.h"

namespace {

using namespace std::chrono_literals;

const std::vector<std::string> kPackages = {"org.flip.first", "org.flip.second"};

class PageFlippingRoad : public Launch::RepositoryFixture {
protected:
    // A native depiction of one Markdown view, long enough that its text is
    // still being built when a fast user leaves the page.
    std::string serveDepiction(const std::string& identifier) {
        const std::string dir = repoRoot.path() + "/depictions";
        std::filesystem::create_directories(dir);
        std::string markdown;
        for (int i = 0; markdown.size() < 300'000; ++i) markdown += "- item **" + std::to_string(i) + "** of " + identifier + "\n";
        const nlohmann::json depiction = {{"tabs", {{{"tabname", "Details"}, {"views", {{{"markdown", markdown}}}}}}}};
        std::ofstream(dir + "/" + identifier + ".json") << depiction.dump();
        return server->url("depictions/" + identifier + ".json");
    }

    static int livePages() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        int n = 0;
        for (QWidget* w : QApplication::allWidgets()) n += qobject_cast<PackageDetailsViewController*>(w) ? 1 : 0;
        return n;
    }
    static std::optional<IndexPath> rowOf(PackagesTableViewController* list, const std::string& identifier) {
        if (const auto at = list->model().positionOf(identifier)) return IndexPath{at->first, at->second};
        return std::nullopt;
    }
    // A click on the package's row, sent to its cell wherever the list is (sliding away or not).
    static void clickRow(PackagesTableViewController* list, const std::string& identifier) {
        const auto row = rowOf(list, identifier);
        ASSERT_TRUE(row) << identifier;
        UITableViewCell* cell = list->packagesTableView()->cellForRow(*row);
        ASSERT_NE(cell, nullptr) << identifier << " has no cell on screen";
        QTest::mouseClick(cell, Qt::LeftButton, {}, QPoint(std::min(80, cell->width() / 2), cell->height() / 2));
    }
    static void altLeft() { QTest::keyClick(window()->windowHandle(), Qt::Key_Left, Qt::AltModifier); }
};

struct Pace {
    int stepMs;        // between a click and Alt+Left, and after it
    int strayClickMs;  // a click on the other row this long after each opening click (-1: none)
    const char* what;
};

TEST_F(PageFlippingRoad, PagesOpenedAndLeftAtAnyPaceLeaveTheListAsTheUserLeftIt) {
    std::string stanzas;
    for (const auto& id : kPackages)
        stanzas += Launch::stanza(id, "Flip " + id.substr(id.rfind('.') + 1), "Flip <flip@example.com>",
                                  "SileoDepiction: " + std::string("@DEPICTION-") + id + "\n");
    server = std::make_unique<FlatRepository::FileServer>(repoRoot.path());
    for (const auto& id : kPackages) {
        const std::string marker = "@DEPICTION-" + id;
        stanzas.replace(stanzas.find(marker), marker.size(), serveDepiction(id));
    }
    serveRepository(stanzas, "Flip Repo");
    start(addLink());
    ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource(kPackages[1]));
    auto* list = openAllPackages();
    ASSERT_NE(list, nullptr);
    auto* nav = list->navigationController();
    for (const auto& id : kPackages) ASSERT_TRUE(rowOf(list, id)) << id;

    UIView::setAnimationsEnabled(true);  // the slides as a user has them (a slide takes 300 ms)
    const Pace paces[] = {{350, -1, "0.35 s a step"},
                          {150, -1, "0.15 s a step"},
                          {150, 40, "0.15 s, a second click 40 ms after each"},
                          {40, -1, "40 ms a step"},
                          {0, 0, "no pause at all, a second click at once"}};
    bool shotDuringSlide = false;
    const size_t depictionsBefore = server->count(".json");
    for (const Pace& pace : paces) {
        for (int round = 0; round < 3; ++round) {
            for (size_t p = 0; p < kPackages.size(); ++p) {
                ASSERT_NO_FATAL_FAILURE(clickRow(list, kPackages[p]));
                if (pace.strayClickMs >= 0) {
                    GuiTest::pump(std::chrono::milliseconds(pace.strayClickMs));
                    // The list is sliding away under the page: the click reaches its row, which must not open a second page.
                    ASSERT_NO_FATAL_FAILURE(clickRow(list, kPackages[1 - p]));
                }
                ASSERT_TRUE(dynamic_cast<PackageDetailsViewController*>(nav->topViewController())) << pace.what;
                ASSERT_EQ(nav->viewControllers().size(), 3u) << pace.what << ": a page opened over another";
                GuiTest::pump(std::chrono::milliseconds(pace.stepMs));
                if (!shotDuringSlide && pace.stepMs == 150 && nav->isTransitioning()) {
                    // Grabbed at once (the fixture's screenshot waits, and the slide would be over).
                    QDir().mkpath(VOSTRELLE_SCREENSHOT_DIR);
                    EXPECT_TRUE(window()->grab().toImage().save(VOSTRELLE_SCREENSHOT_DIR "/page-flipping-during-a-slide.png"));
                    shotDuringSlide = true;
                }
                altLeft();
                EXPECT_EQ(nav->topViewController(), list) << pace.what << ": Alt+Left during the slide was lost";
                GuiTest::pump(std::chrono::milliseconds(pace.stepMs));
            }
        }
        ASSERT_TRUE(GuiTest::waitUntil([&] { return !nav->isTransitioning(); })) << pace.what;
        EXPECT_EQ(nav->viewControllers().size(), 2u) << pace.what;
        EXPECT_EQ(nav->topViewController(), list) << pace.what;
        EXPECT_TRUE(list->isVisible() && list->isOnScreen() && list->pos() == QPoint(0, 0)) << pace.what;
        EXPECT_TRUE(GuiTest::waitUntil([] { return livePages() == 0; }, 5s)) << pace.what << ": " << livePages() << " pages alive";
    }
    EXPECT_GT(server->count(".json"), depictionsBefore) << "no page fetched its depiction";
    EXPECT_TRUE(shotDuringSlide);

    // The list still opens a page and shows it whole.
    ASSERT_NO_FATAL_FAILURE(clickRow(list, kPackages[0]));
    auto* page = dynamic_cast<PackageDetailsViewController*>(nav->topViewController());
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !nav->isTransitioning() && page->nameLbl()->text() == "Flip first"; }));
    EXPECT_EQ(page->pos(), QPoint(0, 0));
    screenshot("page-flipping-a-page-after.png");
    altLeft();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !nav->isTransitioning() && livePages() == 0; }));
    screenshot("page-flipping-the-list-after.png");
}

}  // namespace
