#include <gtest/gtest.h>

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "Support/Gui/GuiTestSupport.h"
#include "UIKit/GetButton.h"
#include "UIKit/Timers.h"
#include "UIKit/UIApplication.h"
#include "UIKit/UITabBarController.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIWindow.h"

namespace {

TEST(OpenURL, OnlyWebAndMailAddressesLeaveTheProgram) {
    std::vector<QUrl> opened;
    UIApplication::setURLOpener([&](const QUrl& u) {
        opened.push_back(u);
        return true;
    });
    for (const char* refused : {"file:///etc/passwd", "javascript:alert(1)", "twitter://user?screen_name=x", "ftp://host/x",
                                "FILE:///tmp/x", "http://", "data:text/html,hi", "vostrelle://package/x", ""}) {
        EXPECT_FALSE(UIApplication::canOpenURL(QUrl(refused))) << refused;
        EXPECT_FALSE(UIApplication::openURL(QUrl(refused))) << refused;
    }
    EXPECT_TRUE(opened.empty());
    for (const char* allowed : {"https://example.org/a", "HTTP://example.org", "mailto:dev@example.org"}) {
        EXPECT_TRUE(UIApplication::openURL(QUrl(allowed))) << allowed;
    }
    EXPECT_EQ(opened.size(), 3u);
    UIApplication::setURLOpener(nullptr);
}

TEST(GetButtonTest, LongPressReportsItsPhasesAndSwallowsTheTap) {
    QWidget host;
    auto* button = new QPushButton("GET", &host);
    button->setGeometry(10, 10, 80, 30);
    host.show();
    std::vector<GetButton::LongPressState> states;
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    GetButton::addTargetHapticAction(button, [&](GetButton::LongPressState s) { states.push_back(s); });
    // Attaching twice keeps one recognizer.
    GetButton::addTargetHapticAction(button, [&](GetButton::LongPressState s) { states.push_back(s); });

    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(states.empty());

    QTest::mousePress(button, Qt::LeftButton);
    GuiTest::pump(std::chrono::milliseconds(120));
    EXPECT_TRUE(states.empty());  // not yet 0.2 s
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !states.empty(); }, std::chrono::seconds(2)));
    QTest::mouseMove(button, QPoint(20, 12));
    QTest::mouseRelease(button, Qt::LeftButton);
    EXPECT_EQ(states.front(), GetButton::LongPressState::Began);
    EXPECT_EQ(states.back(), GetButton::LongPressState::Ended);
    EXPECT_EQ(std::count(states.begin(), states.end(), GetButton::LongPressState::Began), 1);
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(button->isDown());

    // The bounce ends where it started.
    const QRect before = button->geometry();
    GetButton::animateButton(button);
    GuiTest::pump(std::chrono::milliseconds(60));
    EXPECT_NE(button->geometry(), before);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !button->property("vostrelleBouncing").toBool(); }));
    EXPECT_EQ(button->geometry(), before);
}

TEST(TimersTest, DelayedCallsCanBeCancelledAndTimersRepeatUntilInvalidated) {
    int a = 0, b = 0, ticks = 0;
    auto first = DelayedCall::after(0.02, [&] { ++a; });
    auto second = DelayedCall::after(0.02, [&] { ++b; });
    second.cancel();
    EXPECT_TRUE(first.isPending());
    EXPECT_FALSE(second.isPending());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return a == 1; }));
    GuiTest::pump(std::chrono::milliseconds(50));
    EXPECT_EQ(b, 0);
    EXPECT_FALSE(first.isPending());

    auto timer = UITimer::scheduledTimer(0.01, true, [&] { ++ticks; });
    ASSERT_TRUE(GuiTest::waitUntil([&] { return ticks >= 3; }));
    timer->invalidate();
    EXPECT_FALSE(timer->isValid());
    const int stopped = ticks;
    GuiTest::pump(std::chrono::milliseconds(50));
    EXPECT_EQ(ticks, stopped);
}

class Tab : public UIViewController {
public:
    explicit Tab(QString t) { setTitle(t); }
    int appeared = 0, disappeared = 0;
    void viewDidAppear(bool) override { ++appeared; }
    void viewDidDisappear(bool) override { ++disappeared; }
};

TEST(TabBarTest, SelectionBadgesAndTheAccessorySlot) {
    UIView::setAnimationsEnabled(false);
    UIWindow window;
    auto* tabs = new UITabBarController;
    std::vector<Tab*> roots;
    std::vector<UIViewController*> navs;
    for (const char* t : {"Featured", "Sections", "Changes", "Manage", "Search"}) {
        roots.push_back(new Tab(t));
        navs.push_back(new UINavigationController(roots.back()));
    }
    tabs->setViewControllers(navs);
    window.setRootViewController(tabs);
    window.resize(420, 760);
    window.show();
    EXPECT_EQ(tabs->selectedIndex(), 0);
    EXPECT_EQ(roots[0]->appeared, 1);
    EXPECT_EQ(roots[3]->appeared, 0);
    EXPECT_EQ(roots[3]->tabBarController(), tabs);

    QSignalSpy changed(tabs, &UITabBarController::selectedIndexChanged);
    tabs->setSelectedIndex(3);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(roots[3]->appeared, 1);
    EXPECT_EQ(roots[0]->disappeared, 1);
    EXPECT_TRUE(tabs->tabButton(3)->isChecked());
    EXPECT_FALSE(tabs->tabButton(0)->isChecked());
    tabs->setSelectedIndex(9);
    EXPECT_EQ(tabs->selectedIndex(), 3);

    QTest::mouseClick(tabs->tabButton(4), Qt::LeftButton);
    EXPECT_EQ(tabs->selectedIndex(), 4);
    EXPECT_EQ(changed.count(), 2);

    // Tapping the current tab brings its navigation back to the root.
    auto* nav = static_cast<UINavigationController*>(navs[4]);
    nav->pushViewController(new Tab("Result"), false);
    QTest::mouseClick(tabs->tabButton(4), Qt::LeftButton);
    EXPECT_EQ(nav->viewControllers().size(), 1u);

    tabs->setBadgeValue(2, "12");
    EXPECT_EQ(tabs->tabButton(2)->badgeText(), "12");
    tabs->setBadgeValue(2, std::nullopt);
    EXPECT_TRUE(tabs->tabButton(2)->badgeText().isEmpty());

    auto* status = new QLabel("3 queued");
    tabs->setAccessoryView(status);
    GuiTest::pump();
    EXPECT_TRUE(status->isVisible());
    EXPECT_LE(status->geometry().bottom(), tabs->tabBar()->geometry().top());
    EXPECT_NEAR(status->geometry().center().x(), tabs->width() / 2, 2);
    UIView::setAnimationsEnabled(true);
}

}  // namespace
