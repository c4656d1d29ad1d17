#include "ZMPackageOptionsSheet.h"

#include <mutex>

#include "Database/ZMRPackageManager.h"
#include "Database/ZMRPackages.h"
#include "ErrorViewController.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMShareTexts.h"
#include "Notifications/NotificationCenter.h"
#include "UIKit/UIActivityViewController.h"
#include "ZMPackageOperations.h"
#include "ZMPackageOptions.h"
#include "ZMPackageQueue.h"
#include "ZMStoreGuard.h"

namespace {

std::mutex gMutex;
ZMPackageOptionsSheet::QueueFunction gQueue;
ZMPackageOptionsSheet::HoldFunction gHold;

QString qs(const std::string& s) { return QString::fromStdString(s); }

void defaultHold(const std::string& identifier, bool held, std::function<void(std::optional<ZMError>)> completion) {
    ZMPackageOperations::setHeldAsync(identifier, held, [identifier, completion](ZMResult<bool> result) {
        NotificationCenter::defaultCenter().post(ZMQueueStateNotificationName(identifier), identifier);
        if (completion) completion(result.error);
    });
}

void showError(UIViewController* presenter, const std::string& title, const ZMError& error) {
    if (!presenter) return;
    auto* popup = new ErrorViewController;
    popup->showWithTitle(title, error.localizedDescription(), 1, ZMLocalizedString("OK"));
    presenter->presentViewController(popup, true);
}

}  // namespace

void ZMPackageOptionsSheet::setQueueFunction(QueueFunction queue) {
    std::lock_guard lock(gMutex);
    gQueue = std::move(queue);
}

void ZMPackageOptionsSheet::setHoldFunction(HoldFunction hold) {
    std::lock_guard lock(gMutex);
    gHold = std::move(hold);
}

void ZMPackageOptionsSheet::queue(const std::string& identifier, const std::optional<std::string>& version) {
    QueueFunction function;
    {
        std::lock_guard lock(gMutex);
        function = gQueue;
    }
    if (function) {
        function(identifier, version);
        return;
    }
    if (!ZMStoreGuard::run("queueing a version",
                           [&] { ZMRPackageManager::sharedPackageManager().packages().setPackage(identifier, true, version, 0); }))
        return;
    NotificationCenter::defaultCenter().postOnMain(ZMQueueStateNotificationName(identifier), identifier);
}

void ZMPackageOptionsSheet::queueRemoval(const std::string& identifier) {
    // A removal needs no purchase: it is marked at once, whatever updates the package has.
    if (!ZMStoreGuard::run("queueing a removal", [&] {
            ZMRPackageManager::sharedPackageManager().packages().setPackage(identifier, true, std::nullopt,
                                                                           ZMRQueueOperationRemove);
        }))
        return;
    NotificationCenter::defaultCenter().postOnMain(ZMQueueStateNotificationName(identifier), identifier);
}

void ZMPackageOptionsSheet::setHeld(const std::string& identifier, bool held, UIViewController* presenter) {
    HoldFunction function;
    {
        std::lock_guard lock(gMutex);
        function = gHold;
    }
    if (!function) function = defaultHold;
    QPointer<UIViewController> guard(presenter);
    function(identifier, held, [guard, held](std::optional<ZMError> error) {
        // The record kept its state: told like every failure of the database.
        if (error && error->isStoreFailure()) ZMStoreGuard::tell("holding a package", *error);
        else if (error) {
            ZMLOG("hold change failed: {}", error->debugDescription());
            showError(guard, held ? ZMLocalizedString("Ignore Updates") : ZMLocalizedString("Show Updates"), *error);
        }
    });
}

UIAlertController* ZMPackageOptionsSheet::optionsSheet(const std::string& identifier, UIViewController* presenter) {
    auto package = ZMStoreGuard::record<ZMRPackage>("reading a package", identifier);
    if (!package) return nullptr;
    auto read = ZMStoreGuard::value("reading a package's versions", [&] { return ZMPackageOptions::availableVersions(identifier); });
    if (!read) return nullptr;
    const auto& versions = *read;
    auto* sheet = new UIAlertController(qs(package->name.empty() ? identifier : package->name),
                                        qs(ZMPackageOptions::title()), UIAlertController::Style::ActionSheet);
    QPointer<UIViewController> guard(presenter);
    const std::string installedVersion = package->installedVersion;
    using Kind = ZMPackageOption::Kind;
    for (const auto& option : ZMPackageOptions::optionsForPackage(*package, versions)) {
        std::function<void()> handler;
        auto style = UIAlertController::ActionStyle::Default;
        switch (option.kind) {
            case Kind::Reinstall:
                handler = [identifier, installedVersion] { queue(identifier, installedVersion); };
                break;
            case Kind::Uninstall:
                style = UIAlertController::ActionStyle::Destructive;
                handler = [identifier] { queueRemoval(identifier); };
                break;
            case Kind::ShowUpdates: handler = [identifier, guard] { setHeld(identifier, false, guard); }; break;
            case Kind::IgnoreUpdates: handler = [identifier, guard] { setHeld(identifier, true, guard); }; break;
            case Kind::SelectVersion:
                handler = [identifier, guard] {
                    if (!guard) return;
                    if (auto* picker = versionSheet(identifier)) guard->presentViewController(picker, true);
                };
                break;
            case Kind::Share:
                handler = [identifier, guard] {
                    if (!guard) return;
                    if (auto* share = packageShareSheet(identifier)) guard->presentViewController(share, true);
                };
                break;
            case Kind::Cancel: style = UIAlertController::ActionStyle::Cancel; break;
        }
        sheet->addAction(qs(option.title), style, handler);
    }
    return sheet;
}

UIAlertController* ZMPackageOptionsSheet::versionSheet(const std::string& identifier) {
    auto package = ZMStoreGuard::record<ZMRPackage>("reading a package", identifier);
    if (!package) return nullptr;
    auto available = ZMStoreGuard::value("reading a package's versions", [&] { return ZMPackageOptions::availableVersions(identifier); });
    if (!available) return nullptr;
    auto versions = ZMPackageOptions::selectableVersions(*package, *available);
    auto* sheet = new UIAlertController(qs(ZMLocalizedString("Select Version")), qs(package->name),
                                        UIAlertController::Style::ActionSheet);
    for (const auto& version : versions)
        sheet->addAction(qs(version), UIAlertController::ActionStyle::Default,
                         [identifier, version] { queue(identifier, version); });
    sheet->addAction(qs(ZMLocalizedString("Cancel")), UIAlertController::ActionStyle::Cancel);
    return sheet;
}

UIViewController* ZMPackageOptionsSheet::packageShareSheet(const std::string& identifier) {
    auto package = ZMStoreGuard::record<ZMRPackage>("reading a package", identifier);
    if (!package) return nullptr;
    auto text = ZMStoreGuard::value("sharing a package", [&] { return ZMShareTexts::packageTextForIdentifier(identifier); })
                    .value_or(std::nullopt);
    if (!text) return nullptr;
    std::vector<UIActivityViewController::Item> items{qs(*text)};
    items.emplace_back(QUrl(qs(ZMShareTexts::showPackageLink(package->identifier, package->name,
                                                             package->sourceLocation))));
    QImage icon(qs(package->iconPath()));
    if (!icon.isNull()) items.emplace_back(icon);
    return new UIActivityViewController(std::move(items));
}

UIViewController* ZMPackageOptionsSheet::allSourcesShareSheet() {
    auto locations = ZMStoreGuard::value("sharing the sources", [] {
        return ZMRPackageManager::sharedPackageManager().sources().arrayOfConfiguredSources();
    });
    if (!locations) return nullptr;
    return new UIActivityViewController({qs(ZMShareTexts::allSourcesText(*locations))},
                                        qs(ZMShareTexts::allSourcesTitle()));
}

UIViewController* ZMPackageOptionsSheet::sourceShareSheet(const std::string& location) {
    std::vector<UIActivityViewController::Item> items{qs(ZMShareTexts::sourceTextForLocation(location))};
    items.emplace_back(QUrl(qs(ZMShareTexts::addSourceLink(location))));
    return new UIActivityViewController(std::move(items));
}
