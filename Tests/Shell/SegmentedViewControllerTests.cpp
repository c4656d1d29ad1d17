#include <gtest/gtest.h>

#include <QTest>
#include <QToolButton>

#include "SegmentedViewController.h"
#include "Support/Gui/GuiTestSupport.h"
#include "UIKit/UIBarButtonItem.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIWindow.h"
#include "ZMPaletteManager.h"

namespace {

class Pane : public UIViewController {
public:
    int appeared = 0, disappeared = 0;
    void viewDidAppear(bool) override { ++appeared; }
    void viewDidDisappear(bool) override { ++disappeared; }
};

TEST(SegmentedViewControllerTest, SegmentsSwapTheChildWithACrossFade) {
    ZMPaletteManager::sharedManager().setStyle(0);
    UINavigationController::setPrefersLargeTitles(true);
    auto* a = new Pane;
    auto* b = new Pane;
    auto* segmented = new SegmentedViewController({a, b}, {"Packages", "Sources"}, 1);
    auto* nav = new UINavigationController(segmented);
    UIWindow window;
    window.setRootViewController(nav);
    window.resize(400, 700);
    window.show();

    EXPECT_EQ(segmented->currentIndex(), 1);
    EXPECT_TRUE(b->isVisible());
    EXPECT_FALSE(a->isVisible());
    EXPECT_EQ(b->appeared, 1);
    EXPECT_EQ(a->appeared, 0);
    // The control is the bar's right item, in title order, and there is no large title.
    EXPECT_EQ(segmented->navigationItem()->rightBarButtonItem()->customView(), segmented->segmentedControl());
    EXPECT_TRUE(segmented->segmentedControl()->isVisible());
    EXPECT_EQ(segmented->segmentedControl()->segment(0)->text(), "Packages");
    EXPECT_EQ(segmented->segmentedControl()->selectedSegmentIndex(), 1);
    EXPECT_FALSE(nav->navigationBar()->showsLargeTitle());
    EXPECT_TRUE(segmented->segmentedControl()->segment(0)->styleSheet().contains(ZMPalette(0).tintColor().name()));

    QTest::mouseClick(segmented->segmentedControl()->segment(0), Qt::LeftButton);
    EXPECT_EQ(segmented->currentIndex(), 0);
    EXPECT_TRUE(a->isVisible());
    EXPECT_EQ(a->appeared, 0);  // still fading in
    ASSERT_TRUE(GuiTest::waitUntil([&] { return a->appeared == 1; }));
    EXPECT_FALSE(b->isVisible());
    EXPECT_EQ(b->disappeared, 1);
    EXPECT_EQ(a->graphicsEffect(), nullptr);

    ZMPaletteManager::sharedManager().setStyle(1);
    EXPECT_TRUE(segmented->segmentedControl()->segment(0)->styleSheet().contains(ZMPalette(1).tintColor().name()));
    ZMPaletteManager::sharedManager().setStyle(0);
}

// The shown screen's own buttons stay reachable in the bar, after the control,
// and follow both the segment and the screen's changes to them; one named
// like a segment is that segment, shown once.
TEST(SegmentedViewControllerTest, TheShownScreensBarButtonsFollowTheControl) {
    auto* a = new Pane;
    auto* b = new Pane;
    int refreshTaps = 0;
    auto* info = new UIBarButtonItem("Source Info", {}, a->navigationItem());
    auto* refresh = new UIBarButtonItem("Refresh", [&](UIBarButtonItem*) { ++refreshTaps; }, a->navigationItem());
    a->navigationItem()->setRightBarButtonItems({info, refresh});
    b->navigationItem()->setRightBarButtonItems({new UIBarButtonItem("Share", {}, b->navigationItem())});
    auto* segmented = new SegmentedViewController({a, b}, {"Categories", "Source Info"}, 0);
    auto* nav = new UINavigationController(segmented);
    UIWindow window;
    window.setRootViewController(nav);
    window.resize(500, 700);
    window.show();
    auto titles = [&] {
        std::vector<QString> shown;
        for (auto* item : segmented->navigationItem()->rightBarButtonItems())
            shown.push_back(item->customView() == segmented->segmentedControl() ? "<control>" : item->title());
        return shown;
    };
    EXPECT_EQ(titles(), (std::vector<QString>{"<control>", "Refresh"}));
    ASSERT_NE(refresh->buttonWidget(), nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return refresh->buttonWidget()->isVisible(); }));
    QTest::mouseClick(refresh->buttonWidget(), Qt::LeftButton);
    EXPECT_EQ(refreshTaps, 1);

    // The screen adds a button (signed in to its store): the bar shows it at once.
    a->navigationItem()->setRightBarButtonItems({info, refresh, new UIBarButtonItem("Purchased", {}, a->navigationItem())});
    EXPECT_EQ(titles(), (std::vector<QString>{"<control>", "Refresh", "Purchased"}));

    // The other segment: its buttons, not the first screen's; changes of the hidden screen do not show.
    segmented->showController(1, false);
    EXPECT_EQ(titles(), (std::vector<QString>{"<control>", "Share"}));
    a->navigationItem()->setRightBarButtonItems({});
    EXPECT_EQ(titles(), (std::vector<QString>{"<control>", "Share"}));
    segmented->showController(0, false);
    EXPECT_EQ(titles(), (std::vector<QString>{"<control>"}));
    EXPECT_EQ(segmented->navigationItem()->rightBarButtonItem()->customView(), segmented->segmentedControl());
}

TEST(SegmentedViewControllerTest, AnOutOfRangeFirstIndexShowsTheFirstScreen) {
    auto* a = new Pane;
    SegmentedViewController segmented({a, new Pane}, {"One", "Two"}, 5);
    EXPECT_EQ(segmented.currentIndex(), 0);
    EXPECT_EQ(segmented.currentViewController(), a);
}

}  // namespace
