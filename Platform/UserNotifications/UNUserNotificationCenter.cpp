#include "UserNotifications/UNUserNotificationCenter.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QLabel>
#include <QMouseEvent>
#include <QTimer>
#include <QVBoxLayout>

#include "UIKit/UITabBarController.h"

namespace {
const char* kService = "org.freedesktop.Notifications";
const char* kPath = "/org/freedesktop/Notifications";

// The banner: title and body in a rounded box; a click answers it.
class Banner : public QWidget {
public:
    Banner(QWidget* host, const QString& title, const QString& body, std::function<void()> onClick)
        : QWidget(host), onClick_(std::move(onClick)) {
        setObjectName("notificationBanner");
        setAttribute(Qt::WA_StyledBackground);
        setStyleSheet("#notificationBanner { background: palette(alternate-base); border-radius: 14px; "
                      "border: 1px solid palette(mid); }");
        setCursor(Qt::PointingHandCursor);
        auto* v = new QVBoxLayout(this);
        v->setContentsMargins(14, 10, 14, 10);
        auto* t = new QLabel(title, this);
        QFont f = t->font();
        f.setBold(true);
        t->setFont(f);
        auto* b = new QLabel(body, this);
        b->setWordWrap(true);
        // Names in notifications come from repositories: never markup.
        t->setTextFormat(Qt::PlainText);
        b->setTextFormat(Qt::PlainText);
        v->addWidget(t);
        v->addWidget(b);
        const int w = std::min(420, host->width() - 24);
        resize(w, heightForWidth(w) > 0 ? heightForWidth(w) : sizeHint().height());
        move((host->width() - width()) / 2, 12);
    }

protected:
    void mouseReleaseEvent(QMouseEvent*) override {
        if (onClick_) onClick_();
    }

private:
    std::function<void()> onClick_;
};
}  // namespace

UNUserNotificationCenter& UNUserNotificationCenter::current() {
    static auto* center = new UNUserNotificationCenter;
    return *center;
}

UNUserNotificationCenter::UNUserNotificationCenter() {
    auto bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        dbusConnected_ = bus.connect(kService, kPath, kService, "ActionInvoked", this, SLOT(onActionInvoked(uint, QString)));
        // Whether the service reads the body as markup; until it has said, assume it does.
        auto* watcher = new QDBusPendingCallWatcher(
            bus.asyncCall(QDBusMessage::createMethodCall(kService, kPath, kService, "GetCapabilities")), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
            QDBusPendingReply<QStringList> reply = *watcher;
            if (!reply.isError()) bodyMarkup_ = reply.value().contains(QStringLiteral("body-markup"));
            watcher->deleteLater();
        });
    }
}

void UNUserNotificationCenter::requestAuthorization(const std::function<void(bool)>& reply) {
    if (reply) reply(true);
}

bool UNUserNotificationCenter::desktopNotificationsAvailable() const {
    if (!desktopEnabled_) return false;
    auto bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(kService).value();
}

void UNUserNotificationCenter::add(const UNNotificationRequest& request, const std::function<void(bool)>& completion) {
    showBanner(request);
    if (desktopNotificationsAvailable()) sendDesktop(request);
    emit notificationShown(QString::fromStdString(request.identifier));
    if (completion) completion(true);
}

void UNUserNotificationCenter::setBannerHost(QWidget* window) { host_ = window; }

void UNUserNotificationCenter::showBanner(const UNNotificationRequest& request) {
    if (!host_) return;
    if (banner_) banner_->deleteLater();
    bannerRequest_ = request;
    auto* banner = new Banner(host_, QString::fromStdString(request.title), QString::fromStdString(request.body),
                              [this] { activateBanner(); });
    banner->show();
    banner->raise();
    banner_ = banner;
    QPointer<QWidget> guard(banner);
    QTimer::singleShot(4000, banner, [guard] {
        if (guard) guard->deleteLater();
    });
}

void UNUserNotificationCenter::activateBanner() {
    if (!bannerRequest_) return;
    const auto request = *bannerRequest_;
    bannerRequest_.reset();
    if (banner_) banner_->deleteLater();
    respond(request);
}

void UNUserNotificationCenter::sendDesktop(const UNNotificationRequest& request) {
    QDBusMessage msg = QDBusMessage::createMethodCall(kService, kPath, kService, "Notify");
    msg << QStringLiteral("Vostrelle") << 0u << QStringLiteral("system-software-install")
        << QString::fromStdString(request.title)
        << (bodyMarkup_ ? QString::fromStdString(request.body).toHtmlEscaped() : QString::fromStdString(request.body))
        << QStringList{QStringLiteral("default"), QStringLiteral("Open")} << QVariantMap{} << -1;
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(msg), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, request] {
        QDBusPendingReply<uint> reply = *watcher;
        if (!reply.isError()) desktopIds_[reply.value()] = request;
        watcher->deleteLater();
    });
}

void UNUserNotificationCenter::onActionInvoked(uint id, const QString&) {
    auto it = desktopIds_.find(id);
    if (it == desktopIds_.end()) return;
    const auto request = it->second;
    desktopIds_.erase(it);
    respond(request);
}

void UNUserNotificationCenter::respond(const UNNotificationRequest& request) {
    if (responseHandler_) responseHandler_(request);
}

void UNUserNotificationCenter::attachBadge(QWidget* window, UITabBarController* tabs, int tabIndex) {
    badgeWindow_ = window;
    baseTitle_ = window ? window->windowTitle() : QString();
    badgeTabs_ = tabs;
    badgeTab_ = tabIndex;
    refreshBadgeViews();
}

void UNUserNotificationCenter::setApplicationIconBadgeNumber(int number) {
    number = std::max(0, number);
    if (number == badge_) return;
    badge_ = number;
    refreshBadgeViews();
    emit badgeNumberChanged(number);
}

void UNUserNotificationCenter::refreshBadgeViews() {
    if (badgeWindow_) {
        badgeWindow_->setWindowTitle(badge_ > 0 ? QStringLiteral("%1 (%2)").arg(baseTitle_).arg(badge_) : baseTitle_);
    }
    if (badgeTabs_ && badgeTab_ >= 0) {
        badgeTabs_->setBadgeValue(badgeTab_, badge_ > 0 ? std::optional<std::string>(std::to_string(badge_)) : std::nullopt);
    }
}
