// The details page's header while the page scrolls: the bar's fade, the
// banner's shrink and stretch, the hand-over to the bar and back, the end of
// a drag, the way back to the top, and the screenshots' auto-scroll.
#include <QScroller>

#include "Details/DetailsFixture.h"
#include "Details/PackageDetailsHeader.h"
#include "Details/PackageHeaderScrolling.h"
#include "UIKit/UIScrollView.h"
#include "UIKit/UIViewAlpha.h"

namespace {

using DetailsFixture::png;

class HeaderScrolling : public DetailsFixture::Host {
protected:
    PackageDetailsViewController* page = nullptr;
    PackageHeaderScrolling* scrolling = nullptr;

    void SetUp() override {
        Host::SetUp();
        UIView::setAnimationsEnabled(false);
    }
    void TearDown() override {
        UIView::setAnimationsEnabled(true);
        Host::TearDown();
    }
    void open(bool banner) {
        serve("d/banner.png", png(800, 200, QColor("#e0533d")));
        serve("d/depiction.json", R"({"headerImage": ")" + url("d/banner.png") + R"(", "tabs": []})");
        ZMRPackage p;
        p.identifier = banner ? "com.scroll.banner" : "com.scroll.plain";
        p.name = "Scroll";
        p.Description = std::string(4000, 'x');
        if (banner) p.sileoDepiction = url("d/depiction.json");
        storePackage(p);
        page = openDetails(p.identifier);
        scrolling = page->headerScrolling();
        ASSERT_NE(scrolling, nullptr);
        if (banner) { ASSERT_TRUE(GuiTest::waitUntil([&] { return page->hasBannerImage(); })); }
    }
    bool handedOver() const {
        return page->navigationItem()->titleView() == page->customTitleView() &&
               page->navigationItem()->rightBarButtonItem() == page->getBarBtnItem() && UIView::alpha(page->getBtn()) == 0 &&
               UIView::alpha(page->getBarBtn()) == 1 && UIView::alpha(page->nameLbl()) == 0;
    }
    bool shown() const {
        return page->navigationItem()->titleView() != page->customTitleView() &&
               page->navigationItem()->rightBarButtonItem() == page->wishlistBtn() && UIView::alpha(page->getBtn()) == 1 &&
               UIView::alpha(page->nameLbl()) == 1 && UIView::alpha(page->getBarBtn()) == 0;
    }
};

TEST_F(HeaderScrolling, TheBarFadesInTheBannerShrinksAndTheHeaderIsHandedOverAt100) {
    open(true);
    struct Step {
        double y, alpha, banner, top;
        bool handedOver;
    };
    const Step steps[] = {
        {24.5, 0.5, 151, 44.5, false}, {49, 1.0, 102, 69, false}, {99, 1.0, 2, 119, false},
        {100, 1.0, 0, 120, true},      {450, 1.0, 0, 120, true},  {60, 1.0, 80, 80, false},
        {10, 10 / 49.0, 180, 30, false},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.y);
        scrolling->scrollViewDidScroll(s.y);
        EXPECT_DOUBLE_EQ(scrolling->barAlpha(), s.alpha);
        EXPECT_DOUBLE_EQ(scrolling->bannerHeight(), s.banner);
        EXPECT_EQ(page->bannerImageView()->height(), static_cast<int>(std::lround(s.banner)));
        EXPECT_DOUBLE_EQ(scrolling->iconTop(), s.top);
        EXPECT_DOUBLE_EQ(scrolling->nameTop(), s.top);
        EXPECT_TRUE(scrolling->setNavBarAlpha());
        EXPECT_EQ(s.handedOver ? handedOver() : shown(), true);
        EXPECT_TRUE(page->navigationItem()->barBackgroundColor().isValid());
    }
    // Back at the top the bar takes the banner's colour with a readable tint.
    scrolling->scrollViewDidScroll(0);
    EXPECT_FALSE(scrolling->setNavBarAlpha());
    EXPECT_EQ(page->navigationItem()->barBackgroundColor().name(), "#e0533d");
    EXPECT_EQ(scrolling->colorForNavBarTintColor(), QColor(Qt::white));
    EXPECT_EQ(page->navigationItem()->barTintColor(), scrolling->colorForNavBarTintColor());
}

TEST_F(HeaderScrolling, APullStretchesTheBannerByItsDistanceAndTheEndOfTheDragSpringsItBack) {
    open(true);
    for (int i = 1; i <= 10; ++i) scrolling->scrollViewDidScroll(-5.0 * i);
    EXPECT_DOUBLE_EQ(scrolling->bannerHeight(), 250) << "200 minus the pull, not a sum of the steps";
    EXPECT_EQ(page->bannerImageView()->height(), 250);
    scrolling->scrollViewWillEndDragging(0);
    EXPECT_DOUBLE_EQ(scrolling->bannerHeight(), 200);
    EXPECT_EQ(page->bannerImageView()->height(), 200);
    EXPECT_TRUE(shown());

    // A real pull through the page's scroll view: a touch drag beyond the top.
    QScroller* scroller = QScroller::scroller(page->scrollView()->viewport());
    qint64 t = 5000;
    QPointF at(200, 300);
    scroller->handleInput(QScroller::InputPress, at, t);
    double tallest = 0;
    for (int i = 0; i < 10; ++i) {
        at.ry() += 15;
        t += 40;
        scroller->handleInput(QScroller::InputMove, at, t);
        GuiTest::pump(std::chrono::milliseconds(20));
        tallest = std::max(tallest, scrolling->bannerHeight());
    }
    EXPECT_GT(tallest, 200) << "the overshoot reached the banner";
    EXPECT_DOUBLE_EQ(tallest, 200 - page->scrollView()->contentOffsetY());
    scroller->handleInput(QScroller::InputRelease, at, t + 300);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return scrolling->bannerHeight() == 200; }, std::chrono::seconds(5)));
}

TEST_F(HeaderScrolling, WithoutABannerOnlyTheEndOfADragHandsTheHeaderOver) {
    open(false);
    EXPECT_FALSE(page->bannerImageView()->isVisible()) << page->packageDictionary().dump();
    scrolling->scrollViewDidScroll(300);
    EXPECT_TRUE(shown()) << "scrolling alone changes nothing";
    EXPECT_FALSE(scrolling->setNavBarAlpha());
    scrolling->scrollViewWillEndDragging(150);
    EXPECT_TRUE(handedOver());
    const int transitions = scrolling->transitionCount();
    scrolling->scrollViewWillEndDragging(400);
    EXPECT_EQ(scrolling->transitionCount(), transitions) << "a hand-over already shown runs no transition";
    scrolling->scrollViewWillEndDragging(99);
    EXPECT_TRUE(shown());
    // Home: back to the top, the header given back even without a banner.
    scrolling->scrollViewWillEndDragging(150);
    page->scrollView()->setContentOffsetY(600, false);
    page->handleStatusBarTap();
    EXPECT_TRUE(shown());
    EXPECT_TRUE(GuiTest::waitUntil([&] { return page->scrollView()->contentOffsetY() == 0; }));
}

TEST_F(HeaderScrolling, AnUnavailablePackagesHalfTransparentButtonStaysSoAndFadesOncePerChange) {
    open(false);
    scrolling->setGetButtonAlpha(0.5);
    UIView::setAlpha(page->getBtn(), 0.5);
    scrolling->transitionTopContent(false);
    scrolling->transitionTopContent(false);
    EXPECT_EQ(scrolling->transitionCount(), 0) << "the header is shown already";
    scrolling->transitionTopContent(true);
    EXPECT_EQ(UIView::alpha(page->getBarBtn()), 0.5);
    EXPECT_EQ(UIView::alpha(page->getBtn()), 0.0);
    scrolling->transitionTopContent(false);
    scrolling->transitionTopContent(false);
    EXPECT_EQ(scrolling->transitionCount(), 2);
    EXPECT_EQ(UIView::alpha(page->getBtn()), 0.5) << "back, still the unavailable package's button";
    EXPECT_EQ(UIView::alpha(page->getBarBtn()), 0.0);
}

TEST_F(HeaderScrolling, TheScreenshotsPageOnlyWithTwoOrMore) {
    const char* colors[] = {"#34c759", "#007aff", "#ff9500"};
    std::vector<std::string> shots;
    for (int i = 0; i < 3; ++i) {
        serve("s/" + std::to_string(i) + ".png", png(300, 500, QColor(colors[i])));
        shots.push_back(url("s/" + std::to_string(i) + ".png"));
    }
    storeSource(url("info/"), true);
    struct Case {
        size_t count;
        std::vector<int> pages;
    };
    const Case cases[] = {{1, {0, 0, 0}}, {3, {1, 2, 0, 1}}};
    for (const auto& c : cases) {
        ZMRPackage p;
        p.identifier = "com.shots." + std::to_string(c.count);
        p.name = "Shots";
        p.sourceLocation = url("info/");
        p.screenshots.assign(shots.begin(), shots.begin() + static_cast<long>(c.count));
        storePackage(p);
        page = openDetails(p.identifier);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return page->screenshotsDictionary().size() == c.count; }));
        for (int expected : c.pages) {
            page->autoScrollScreenshotsCollectionView();
            EXPECT_EQ(page->screenshotsCollectionViewPage(), expected);
        }
        // A drag of the strip stops the timer: the strip stays where the user leaves it.
        EXPECT_TRUE(page->isScreenshotTimerRunning());
        emit page->screenshotsCollectionView()->willBeginDragging();
        EXPECT_FALSE(page->isScreenshotTimerRunning());
        window.reset();
    }
}

}  // namespace
