#pragma once
// Local notifications on a desktop: an in-app banner at the top of the window
// and, when the session has a notification service (org.freedesktop.Notifications
// over D-Bus), a desktop notification too. A click on either runs the
// response handler. The application badge is a number shown on a tab and in
// the window title. Titles and bodies are shown as plain text.
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

class QLabel;
class UITabBarController;

struct UNNotificationRequest {
    std::string identifier;
    std::string title;
    std::string body;
    nlohmann::json userInfo;
};

class UNUserNotificationCenter : public QObject {
    Q_OBJECT
public:
    static UNUserNotificationCenter& current();

    // Permission is the desktop's business: always granted here.
    void requestAuthorization(const std::function<void(bool granted)>& reply);
    void add(const UNNotificationRequest& request, const std::function<void(bool delivered)>& completion = {});
    void setResponseHandler(std::function<void(const UNNotificationRequest&)> handler) { responseHandler_ = std::move(handler); }

    // Where banners appear and the badge is shown.
    void setBannerHost(QWidget* window);
    void attachBadge(QWidget* window, UITabBarController* tabs, int tabIndex);
    void setApplicationIconBadgeNumber(int number);
    int applicationIconBadgeNumber() const { return badge_; }

    // Desktop notifications are sent only when enabled and a service answers.
    void setDesktopNotificationsEnabled(bool on) { desktopEnabled_ = on; }
    bool desktopNotificationsAvailable() const;
    QWidget* currentBanner() const { return banner_; }
    // Simulates a click on the banner (what the user's click does).
    void activateBanner();

signals:
    void badgeNumberChanged(int number);
    void notificationShown(const QString& identifier);

private slots:
    void onActionInvoked(uint id, const QString& key);

private:
    UNUserNotificationCenter();
    void showBanner(const UNNotificationRequest& request);
    void sendDesktop(const UNNotificationRequest& request);
    void respond(const UNNotificationRequest& request);
    void refreshBadgeViews();

    std::function<void(const UNNotificationRequest&)> responseHandler_;
    QPointer<QWidget> host_;
    QPointer<QWidget> banner_;
    std::optional<UNNotificationRequest> bannerRequest_;
    std::map<uint, UNNotificationRequest> desktopIds_;
    bool desktopEnabled_ = true;
    bool dbusConnected_ = false;
    bool bodyMarkup_ = true;  // the service's "body-markup" capability: texts are escaped for it
    int badge_ = 0;
    QPointer<QWidget> badgeWindow_;
    QString baseTitle_;
    QPointer<UITabBarController> badgeTabs_;
    int badgeTab_ = -1;
};
