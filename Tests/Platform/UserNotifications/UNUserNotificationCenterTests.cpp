#include <gtest/gtest.h>

#include <QLabel>
#include <QSignalSpy>

#include "Support/Gui/GuiTestSupport.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UITabBarController.h"
#include "UIKit/UIWindow.h"
#include "UserNotifications/UNUserNotificationCenter.h"

namespace {

TEST(UserNotifications, BannerClickAnswersTheNotificationAndTheBadgeShows) {
    auto& center = UNUserNotificationCenter::current();
    center.setDesktopNotificationsEnabled(false);
    UIWindow window;
    window.setWindowTitle("Vostrelle");
    auto* tabs = new UITabBarController;
    tabs->setViewControllers({new UIViewController, new UIViewController, new UIViewController});
    window.setRootViewController(tabs);
    window.resize(400, 700);
    window.show();
    center.setBannerHost(&window);

    bool granted = false;
    center.requestAuthorization([&](bool g) { granted = g; });
    EXPECT_TRUE(granted);

    std::vector<std::string> answered;
    center.setResponseHandler([&](const UNNotificationRequest& r) { answered.push_back(r.identifier); });
    bool delivered = false;
    center.add({"news", "News", "New messages are available.", nullptr}, [&](bool d) { delivered = d; });
    EXPECT_TRUE(delivered);
    QWidget* banner = center.currentBanner();
    ASSERT_NE(banner, nullptr);
    EXPECT_TRUE(banner->isVisible());
    EXPECT_EQ(banner->parentWidget(), &window);
    auto labels = banner->findChildren<QLabel*>();
    ASSERT_EQ(labels.size(), 2);
    EXPECT_EQ(labels[0]->text(), "News");
    center.activateBanner();
    EXPECT_EQ(answered, std::vector<std::string>{"news"});
    center.activateBanner();  // answered once only
    EXPECT_EQ(answered.size(), 1u);

    QSignalSpy badge(&center, &UNUserNotificationCenter::badgeNumberChanged);
    center.attachBadge(&window, tabs, 2);
    center.setApplicationIconBadgeNumber(3);
    EXPECT_EQ(window.windowTitle(), "Vostrelle (3)");
    EXPECT_EQ(tabs->badgeValue(2), std::optional<std::string>("3"));
    center.setApplicationIconBadgeNumber(-4);
    EXPECT_EQ(window.windowTitle(), "Vostrelle");
    EXPECT_EQ(tabs->badgeValue(2), std::nullopt);
    EXPECT_EQ(badge.count(), 2);
    center.setResponseHandler(nullptr);
    center.attachBadge(nullptr, nullptr, -1);
}

}  // namespace
