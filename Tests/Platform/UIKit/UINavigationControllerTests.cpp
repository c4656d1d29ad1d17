#include <gtest/gtest.h>

#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <string>
#include <vector>

#include "Support/Gui/GuiTestSupport.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIWindow.h"

namespace {

// Writes every lifecycle call into a shared log as "<name>.<event>".
class RecordingScreen : public UIViewController {
public:
    RecordingScreen(std::string name, std::vector<std::string>* log) : name_(std::move(name)), log_(log) {
        setTitle(QString::fromStdString(name_));
    }
    void viewDidLoad() override { log_->push_back(name_ + ".load"); }
    void viewWillAppear(bool) override { log_->push_back(name_ + ".willAppear"); }
    void viewDidAppear(bool) override { log_->push_back(name_ + ".didAppear"); }
    void viewWillDisappear(bool) override { log_->push_back(name_ + ".willDisappear"); }
    void viewDidDisappear(bool) override { log_->push_back(name_ + ".didDisappear"); }

private:
    std::string name_;
    std::vector<std::string>* log_;
};

class NavigationTest : public ::testing::Test {
protected:
    void SetUp() override {
        UIView::setAnimationsEnabled(false);
        UINavigationController::setPrefersLargeTitles(true);
        root = new RecordingScreen("A", &log);
        nav = new UINavigationController(root);
        window.setRootViewController(nav);
        window.resize(400, 700);
        window.show();
        log.clear();
    }
    void TearDown() override { UIView::setAnimationsEnabled(true); }

    std::vector<std::string> log;
    UIWindow window;
    RecordingScreen* root = nullptr;
    UINavigationController* nav = nullptr;
};

TEST_F(NavigationTest, PushAndPopRunTheLifecycleInOrder) {
    auto* b = new RecordingScreen("B", &log);
    nav->pushViewController(b, false);
    EXPECT_EQ(log, (std::vector<std::string>{"B.load", "A.willDisappear", "B.willAppear", "A.didDisappear", "B.didAppear"}));
    EXPECT_EQ(nav->topViewController(), b);
    EXPECT_EQ(b->navigationController(), nav);
    EXPECT_TRUE(b->isVisible());
    EXPECT_FALSE(root->isVisible());
    EXPECT_TRUE(nav->navigationBar()->backButton()->isVisible());

    log.clear();
    QPointer<UIViewController> popped = nav->popViewController(false);
    EXPECT_EQ(popped, b);
    EXPECT_EQ(log, (std::vector<std::string>{"B.willDisappear", "A.willAppear", "B.didDisappear", "A.didAppear"}));
    EXPECT_EQ(nav->viewControllers().size(), 1u);
    EXPECT_FALSE(nav->navigationBar()->backButton()->isVisible());
    // Popped screens go away once the event loop runs.
    GuiTest::waitUntil([&] { return popped.isNull(); });
    EXPECT_TRUE(popped.isNull());
    // Nothing to pop at the root.
    EXPECT_EQ(nav->popViewController(false), nullptr);
}

TEST_F(NavigationTest, AnimatedPushFinishesAppearanceAfterTheSlide) {
    UIView::setAnimationsEnabled(true);
    auto* b = new RecordingScreen("B", &log);
    nav->pushViewController(b, true);
    EXPECT_TRUE(nav->isTransitioning());
    EXPECT_EQ(log.back(), "B.willAppear");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !nav->isTransitioning(); }));
    EXPECT_EQ(log.back(), "B.didAppear");
    EXPECT_EQ(b->pos(), QPoint(0, 0));
    // A pop asked for during a push is taken: the page goes back out, and only once.
    auto* c = new RecordingScreen("C", &log);
    nav->pushViewController(c, true);
    EXPECT_EQ(nav->popViewController(true), c);
    EXPECT_EQ(nav->topViewController(), b);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !nav->isTransitioning(); }));
    EXPECT_EQ(nav->viewControllers().size(), 2u);
    EXPECT_EQ(b->pos(), QPoint(0, 0));
    EXPECT_TRUE(b->isVisible());
}

TEST_F(NavigationTest, BackByAltLeftMouseBackButtonAndBarButton) {
    nav->pushViewController(new RecordingScreen("B", &log), false);
    nav->pushViewController(new RecordingScreen("C", &log), false);
    nav->pushViewController(new RecordingScreen("D", &log), false);
    ASSERT_EQ(nav->viewControllers().size(), 4u);

    QTest::keyClick(nav->topViewController(), Qt::Key_Left, Qt::AltModifier);
    EXPECT_EQ(nav->viewControllers().size(), 3u);
    // A plain Left arrow is not "back".
    QTest::keyClick(nav->topViewController(), Qt::Key_Left);
    EXPECT_EQ(nav->viewControllers().size(), 3u);

    QTest::mouseClick(nav->topViewController(), Qt::BackButton);
    EXPECT_EQ(nav->viewControllers().size(), 2u);

    QTest::mouseClick(nav->navigationBar()->backButton(), Qt::LeftButton);
    EXPECT_EQ(nav->viewControllers().size(), 1u);
    QTest::keyClick(nav->topViewController(), Qt::Key_Left, Qt::AltModifier);
    EXPECT_EQ(nav->viewControllers().size(), 1u);
}

TEST_F(NavigationTest, RightSwipeOnATouchScreenPops) {
    auto* b = new RecordingScreen("B", &log);
    nav->pushViewController(b, false);
    QPointingDevice* touch = QTest::createTouchDevice();
    const QPoint start = b->mapTo(&window, QPoint(40, 300));
    QTest::touchEvent(&window, touch).press(0, start, &window);
    QTest::touchEvent(&window, touch).move(0, start + QPoint(60, 5), &window);
    QTest::touchEvent(&window, touch).move(0, start + QPoint(160, 10), &window);
    QTest::touchEvent(&window, touch).release(0, start + QPoint(160, 10), &window);
    GuiTest::pump();
    EXPECT_EQ(nav->viewControllers().size(), 1u);

    // A short or vertical movement does not.
    auto* c = new RecordingScreen("C", &log);
    nav->pushViewController(c, false);
    QTest::touchEvent(&window, touch).press(0, start, &window);
    QTest::touchEvent(&window, touch).move(0, start + QPoint(30, 200), &window);
    QTest::touchEvent(&window, touch).release(0, start + QPoint(30, 200), &window);
    GuiTest::pump();
    EXPECT_EQ(nav->viewControllers().size(), 2u);
}

TEST_F(NavigationTest, PopToRootRemovesEveryScreenAboveTheRoot) {
    QPointer<UIViewController> b = new RecordingScreen("B", &log);
    nav->pushViewController(b, false);
    nav->pushViewController(new RecordingScreen("C", &log), false);
    log.clear();
    nav->popToRootViewController(false);
    EXPECT_EQ(nav->viewControllers(), std::vector<UIViewController*>{root});
    EXPECT_EQ(log.back(), "A.didAppear");
    // The middle screen never appeared again on the way.
    EXPECT_EQ(std::count(log.begin(), log.end(), "B.willAppear"), 0);
    GuiTest::waitUntil([&] { return b.isNull(); });
    EXPECT_TRUE(b.isNull());
}

TEST_F(NavigationTest, LargeTitlesFollowTheGlobalSwitchAndThePerScreenOverride) {
    bool prefers = true;
    UINavigationController::setPrefersLargeTitlesProvider([&] { return prefers; });
    nav->updateBar();
    EXPECT_TRUE(nav->navigationBar()->showsLargeTitle());
    EXPECT_EQ(nav->navigationBar()->largeTitleLabel()->text(), "A");

    prefers = false;
    UINavigationController::refreshAllBars();
    EXPECT_FALSE(nav->navigationBar()->showsLargeTitle());

    prefers = true;
    auto* b = new RecordingScreen("B", &log);
    b->navigationItem()->setLargeTitleDisplayMode(UINavigationItem::LargeTitleDisplayMode::Never);
    nav->pushViewController(b, false);
    EXPECT_FALSE(nav->navigationBar()->showsLargeTitle());
    EXPECT_EQ(nav->navigationBar()->titleLabel()->text(), "B");
    nav->popViewController(false);
    EXPECT_TRUE(nav->navigationBar()->showsLargeTitle());
    UINavigationController::setPrefersLargeTitles(true);
}

TEST_F(NavigationTest, BarButtonItemsRunTheirActionsAndFollowChanges) {
    int taps = 0;
    auto* item = new UIBarButtonItem("Edit", [&](UIBarButtonItem*) { ++taps; });
    root->navigationItem()->setRightBarButtonItem(item);
    auto* button = qobject_cast<QToolButton*>(item->buttonWidget());
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), "Edit");
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(taps, 1);

    // A title change redraws the bar with a new button for the item.
    item->setTitle("Done");
    GuiTest::pump();
    button = qobject_cast<QToolButton*>(item->buttonWidget());
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), "Done");
    item->setEnabled(false);
    GuiTest::pump();
    button = qobject_cast<QToolButton*>(item->buttonWidget());
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(taps, 1);

    // A custom title view replaces the text title, and goes back to its screen later.
    auto* titleView = new QLabel("custom");
    root->navigationItem()->setTitleView(titleView);
    EXPECT_TRUE(titleView->isVisible());
    nav->pushViewController(new RecordingScreen("B", &log), false);
    EXPECT_FALSE(titleView->isVisible());
    EXPECT_EQ(titleView->parentWidget(), root);
}

}  // namespace

namespace {

// A screen that recolours its bar while scrolling must not rebuild it at
// every step: the bar keeps its buttons and repaints in the new colours.
TEST(NavigationBarColors, AColourChangeRepaintsTheBarWithoutRebuildingIt) {
    UIView::setAnimationsEnabled(false);
    auto* screen = new UIViewController;
    auto* item = new UIBarButtonItem(QStringLiteral("Edit"), [](UIBarButtonItem*) {}, screen->navigationItem());
    screen->navigationItem()->setRightBarButtonItem(item);
    screen->navigationItem()->setForcesOpaqueBar(true);
    auto* nav = new UINavigationController(screen);
    UIWindow window;
    window.setRootViewController(nav);
    window.resize(400, 300);
    window.show();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return screen->isOnScreen(); }));
    QPointer<QWidget> button = item->buttonWidget();
    ASSERT_TRUE(button);
    struct Step {
        QColor background, tint;
    };
    const Step steps[] = {{QColor("#e0533d"), Qt::white}, {QColor("#2f7cf6"), Qt::black}, {QColor(10, 20, 30), QColor("#00ff00")}};
    for (const auto& s : steps) {
        screen->navigationItem()->setBarBackgroundColor(s.background);
        screen->navigationItem()->setBarTintColor(s.tint);
        EXPECT_EQ(item->buttonWidget(), button.data()) << "the same button: no rebuild";
        const QImage bar = nav->navigationBar()->grab().toImage();
        EXPECT_EQ(bar.pixelColor(bar.width() / 2, 2), s.background);
        EXPECT_TRUE(button->styleSheet().contains(s.tint.name(QColor::HexArgb)));
    }
    // Anything else still rebuilds it.
    screen->navigationItem()->setTitle("Other");
    EXPECT_EQ(nav->navigationBar()->titleLabel()->text(), "Other");
    screen->navigationItem()->setRightBarButtonItem(new UIBarButtonItem(QStringLiteral("Done"), [](UIBarButtonItem*) {}));
    GuiTest::pump();
    EXPECT_TRUE(button.isNull() || !button->isVisible());
    UIView::setAnimationsEnabled(true);
}

}  // namespace

namespace {

// Screens that count how many of them are alive, each with a button that
// pushes a new screen (as a list's row opens a page).
class CountedScreen : public UIViewController {
public:
    static inline int alive = 0;
    static inline int opened = 0;  // screens the buttons pushed
    explicit CountedScreen(const std::string& name) {
        ++alive;
        setTitle(QString::fromStdString(name));
        button = new QPushButton("Open", this);
        button->setGeometry(10, 10, 120, 40);
        connect(button, &QPushButton::clicked, this, [this] {
            ++opened;
            navigationController()->pushViewController(new CountedScreen("X" + std::to_string(opened)), true);
        });
    }
    ~CountedScreen() override { --alive; }
    QPushButton* button;
};

struct Step {
    int afterMs;         // pause before the step
    std::string action;  // "push NAME", "back" (the bar's button), "root", "click NAME" (its button)
    bool whileSliding = true;  // made while a slide runs (else the walk would test nothing)
};

struct Walk {
    const char* what;
    std::vector<Step> steps;
    std::vector<std::string> stack;  // titles, root first, once everything settled
    int opened;                      // screens the buttons pushed
};

void PrintTo(const Walk& walk, std::ostream* out) { *out << walk.what; }

class NavigationDuringTransitions : public ::testing::TestWithParam<Walk> {};

TEST_P(NavigationDuringTransitions, TheStackIsWhatWasAskedAndNothingThatWentStaysAlive) {
    const Walk& walk = GetParam();
    UIView::setAnimationsEnabled(true);
    CountedScreen::alive = CountedScreen::opened = 0;
    {
        UIWindow window;
        auto* nav = new UINavigationController(new CountedScreen("A"));
        window.setRootViewController(nav);
        window.resize(400, 600);
        window.show();
        ASSERT_TRUE(GuiTest::waitUntil([&] { return nav->topViewController()->isOnScreen(); }));
        // In the stack or on its way out of it.
        const auto named = [&](const std::string& name) -> CountedScreen* {
            for (auto* vc : window.findChildren<UIViewController*>())
                if (vc->title().toStdString() == name) return dynamic_cast<CountedScreen*>(vc);
            return nullptr;
        };
        for (const Step& step : walk.steps) {
            GuiTest::pump(std::chrono::milliseconds(step.afterMs));
            ASSERT_EQ(nav->isTransitioning(), step.whileSliding) << step.action << " after " << step.afterMs << " ms";
            const std::string verb = step.action.substr(0, step.action.find(' '));
            const std::string name = step.action.find(' ') == std::string::npos ? "" : step.action.substr(step.action.find(' ') + 1);
            if (verb == "push") {
                nav->pushViewController(new CountedScreen(name), true);
            } else if (verb == "back") {
                ASSERT_TRUE(nav->navigationBar()->backButton()->isVisible()) << step.action;
                QTest::mouseClick(nav->navigationBar()->backButton(), Qt::LeftButton);
            } else if (verb == "root") {
                nav->popToRootViewController(true);
            } else if (verb == "click") {
                CountedScreen* screen = named(name);
                ASSERT_NE(screen, nullptr) << step.action;
                // Straight to the button, wherever it is on screen: only the screen's state may refuse it.
                QTest::mouseClick(screen->button, Qt::LeftButton);
            } else {
                FAIL() << "unknown step " << step.action;
            }
        }
        ASSERT_TRUE(GuiTest::waitUntil([&] { return !nav->isTransitioning(); }));
        GuiTest::pump(std::chrono::milliseconds(50));

        std::vector<std::string> titles;
        for (auto* vc : nav->viewControllers()) titles.push_back(vc->title().toStdString());
        EXPECT_EQ(titles, walk.stack) << walk.what;
        EXPECT_EQ(CountedScreen::opened, walk.opened) << walk.what;
        EXPECT_EQ(CountedScreen::alive, static_cast<int>(walk.stack.size())) << walk.what << ": screens that went are still alive";
        // The top is in place and shown, the ones under it hidden, and the top takes clicks again.
        auto* top = static_cast<CountedScreen*>(nav->topViewController());
        EXPECT_EQ(top->pos(), QPoint(0, 0)) << walk.what;
        EXPECT_TRUE(top->isVisible() && top->isOnScreen()) << walk.what;
        for (auto* vc : nav->viewControllers()) {
            if (vc == top) continue;
            EXPECT_FALSE(vc->isVisible() || vc->isOnScreen()) << walk.what << ": " << vc->title().toStdString();
        }
        const int before = CountedScreen::opened;
        QTest::mouseClick(top->button, Qt::LeftButton);
        EXPECT_EQ(CountedScreen::opened, before + 1) << walk.what << ": the top screen takes no click";
    }
    EXPECT_EQ(CountedScreen::alive, 0);
    UIView::setAnimationsEnabled(false);
}

// A slide takes 300 ms.
INSTANTIATE_TEST_SUITE_P(
    Walks, NavigationDuringTransitions,
    ::testing::Values(
        Walk{"Back at once after a push", {{0, "push B", false}, {0, "back"}}, {"A"}, 0},
        Walk{"Back halfway through a push", {{0, "push B", false}, {120, "back"}}, {"A"}, 0},
        Walk{"a push halfway through a pop", {{0, "push B", false}, {400, "back", false}, {120, "push C"}}, {"A", "C"}, 0},
        Walk{"two pushes, then two Backs, all while moving",
             {{0, "push B", false}, {60, "push C"}, {60, "back"}, {60, "back"}}, {"A"}, 0},
        Walk{"a click on the screen a push covers", {{0, "push B", false}, {100, "click A"}}, {"A", "B"}, 0},
        Walk{"a click on the screen a pop uncovers", {{0, "push B", false}, {400, "back", false}, {100, "click A"}}, {"A", "X1"}, 1},
        Walk{"a click on the screen being popped", {{0, "push B", false}, {400, "back", false}, {100, "click B"}}, {"A"}, 0},
        Walk{"pop to root during a push", {{0, "push B", false}, {400, "push C", false}, {100, "root"}}, {"A"}, 0},
        Walk{"clicks and Backs every 150 ms",
             {{0, "click A", false}, {150, "back"}, {150, "click A"}, {150, "back"}, {150, "click A"}, {150, "back"},
              {150, "click A"}, {150, "back"}},
             {"A"}, 4},
        Walk{"clicks and Backs every 50 ms",
             {{0, "click A", false}, {50, "back"}, {50, "click A"}, {50, "back"}, {50, "click A"}, {50, "back"}},
             {"A"}, 3}),
    [](const ::testing::TestParamInfo<Walk>& info) { return "Walk" + std::to_string(info.index); });

}  // namespace
