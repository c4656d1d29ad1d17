#include "Browsing/ZMFollowedNews.h"

#include "Browsing/PackagesTableViewController.h"
#include "Database/ZMCategorySpecial.h"
#include "Database/ZMRDeveloper.h"
#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackage.h"
#include "Database/ZMRSource.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMShareTexts.h"
#include "UIKit/UIBarButtonItem.h"
#include "UIKit/UINavigationController.h"
#include "UserNotifications/UNUserNotificationCenter.h"

namespace {

constexpr const char* kKindKey = "followedNews";
constexpr const char* kSourceKind = "source";
constexpr const char* kDeveloperKind = "developer";

std::vector<std::string> identifiersIn(const nlohmann::json& info) {
    std::vector<std::string> out;
    if (!info.is_object() || !info.contains(ZMRPackageIdentifiersKey)) return out;
    const auto& list = info[ZMRPackageIdentifiersKey];
    if (!list.is_array()) return out;
    for (const auto& id : list)
        if (id.is_string()) out.push_back(id.get<std::string>());
    return out;
}

// "Jane Doe <jane@example.org>" reads "Jane Doe".
std::string displayName(std::string maintainer) {
    if (auto at = maintainer.find(" <"); at != std::string::npos && at > 0) maintainer.erase(at);
    return maintainer;
}

// "New in Alpha: Fish" for one package, "3 new packages in Alpha" for more.
std::string body(const char* oneKey, const char* manyKey, const std::string& where,
                 const std::vector<std::string>& identifiers) {
    if (identifiers.size() == 1) {
        auto package = ZMRPackage::objectForPrimaryKey(identifiers.front());
        const std::string name = package && !package->name.empty() ? package->name : identifiers.front();
        return ZMLocalization::fill(ZMLocalizedString(oneKey), {where, name});
    }
    return ZMLocalization::fill(ZMLocalizedString(manyKey), {std::to_string(identifiers.size()), where});
}

}  // namespace

ZMFollowedNews::ZMFollowedNews() {
    auto& center = NotificationCenter::defaultCenter();
    using Q = NotificationCenter::Queue;
    // An announcement that cannot read the database is dropped, not the program.
    auto guarded = [](void (*announce)(const std::string&, const nlohmann::json&)) {
        return [announce](const Notification& n) {
            try {
                announce(n.objectString(), n.userInfo);
            } catch (const std::exception& e) {
                ZMLOG("no announcement for {}: {}", n.objectString(), e.what());
            }
        };
    };
    observers_.add(center.addObserver(ZMRSourcePackagesAddedNotification, Q::Main, guarded(&announceSource)));
    observers_.add(center.addObserver(ZMRFollowedDeveloperNewPackagesNotification, Q::Main, guarded(&announceDeveloper)));
}

void ZMFollowedNews::announceSource(const std::string& location, const nlohmann::json& info) {
    // Most refreshes are of sources nobody follows: asked first, before the list is read.
    auto source = ZMRSource::objectForPrimaryKey(location);
    if (!source || !source->isFollowed.value_or(false)) return;
    const auto identifiers = identifiersIn(info);
    if (identifiers.empty()) return;
    const std::string name = source->name.empty() ? location : source->name;
    UNUserNotificationCenter::current().add(
        {"vostrelle.followed.source." + location, ZMLocalizedString(kCategorySpecial_NewPackagesFromFollowedSource),
         body("New in %@: %@", "%@ new packages in %@", name, identifiers),
         {{kKindKey, kSourceKind}, {"location", location}, {ZMRPackageIdentifiersKey, identifiers}}});
}

void ZMFollowedNews::announceDeveloper(const std::string& developer, const nlohmann::json& info) {
    const auto identifiers = identifiersIn(info);
    if (identifiers.empty()) return;
    // The record keeps the name lower-cased; the packages say it as written.
    std::string name = developer;
    if (auto package = ZMRPackage::objectForPrimaryKey(identifiers.front()); package && !package->maintainer.empty())
        name = displayName(package->maintainer);
    UNUserNotificationCenter::current().add(
        {"vostrelle.followed.developer." + developer, ZMLocalizedString(kCategorySpecial_NewPackagesFromFollowedDeveloper),
         body("New from %@: %@", "%@ new packages from %@", name, identifiers),
         {{kKindKey, kDeveloperKind}, {"developer", developer}}});
}

UIViewController* ZMFollowedNews::viewControllerForNotification(const UNNotificationRequest& request) {
    const auto& info = request.userInfo;
    if (!info.is_object() || !info.contains(kKindKey) || !info[kKindKey].is_string()) return nullptr;
    const std::string kind = info[kKindKey].get<std::string>();
    PackagesTableViewController* list = nullptr;
    if (kind == kSourceKind) {
        list = new PackagesTableViewController;
        list->setCategory(kCategorySpecial_NewPackagesFromFollowedSource);
        list->setNewsSourcePackagesToShow(identifiersIn(info));
    } else if (kind == kDeveloperKind && info.contains("developer") && info["developer"].is_string()) {
        // The answer may come long after the announcement: the record is read now.
        std::optional<ZMRDeveloper> developer;
        try {
            developer = ZMRDeveloper::objectForPrimaryKey(info["developer"].get<std::string>());
        } catch (const std::exception& e) {
            ZMLOG("cannot read the developer: {}", e.what());
        }
        if (!developer) return nullptr;
        list = new PackagesTableViewController;
        list->setCategory(kCategorySpecial_NewPackagesFromFollowedDeveloper);
        list->setFollowedDeveloper(developer);
    } else {
        return nullptr;
    }
    list->setTitle(QString::fromStdString(ZMLocalizedString(kCategorySpecial_NewPackages)));
    auto* nav = new UINavigationController(list);
    list->navigationItem()->setLeftBarButtonItem(new UIBarButtonItem(QString::fromStdString(ZMLocalizedString("Close")),
                                                                     [nav](UIBarButtonItem*) { nav->dismissViewController(true); },
                                                                     list->navigationItem()));
    nav->setModalPresentationStyle(UIViewController::ModalPresentationStyle::FormSheet);
    return nav;
}
