#pragma once
// Announces what followed sources and developers brought: after a followed
// source's refresh added packages, and after the developers cache found new
// packages of a followed developer, a local notification (banner and desktop
// notification). Answering it opens the list of those packages, presented
// modally with a "Close" button.
#include <string>

#include <nlohmann/json.hpp>

#include "Notifications/NotificationCenter.h"

struct UNNotificationRequest;
class UIViewController;

class ZMFollowedNews {
public:
    // Observes the refreshes and the developers cache while it lives.
    ZMFollowedNews();

    // The list screen (in its navigation controller) that one of our
    // notifications opens; nullptr for any other notification.
    static UIViewController* viewControllerForNotification(const UNNotificationRequest& request);

private:
    // The user info carries the identifiers (ZMRPackageIdentifiersKey).
    static void announceSource(const std::string& location, const nlohmann::json& info);
    static void announceDeveloper(const std::string& developer, const nlohmann::json& info);

    ObserverBag observers_;
};
