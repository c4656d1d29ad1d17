#include "ZMDpkgStatus.h"
#include "ZMPackageOperations.h"

#include "ZMVostrelle.h"

#include <QApplication>
#include <QIcon>
#include <QPixmapCache>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <exception>
#include <filesystem>

#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackageManager.h"
#include "Database/ZMRSource.h"
#include "Dispatch/Dispatch.h"
#include "ErrorViewController.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMPaths.h"
#include "Miscellaneous/ZMPlatform.h"
#include "Realm/Realm.h"
#include "Services/ZMOnlineServices.h"
#include "InitViewController.h"
#include "Services/ZMNewsRetrieval.h"
#include "PackagesConfirmationViewController.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UITabBarController.h"
#include "UIKit/UIWindow.h"
#include "UserNotifications/UNUserNotificationCenter.h"
#include "TweakCompatibilityManager.h"
#include "VostrellePersistentPreferences.h"
#include "ZMAPTManager.h"
#include "ZMPaletteManager.h"
#include "ZMPipelineManager.h"
#include "ZMPackageOptionsSheet.h"
#include "ZMRefreshFailureReport.h"
#include "ZMStoreGuard.h"
#include "ZMTabBarStatusView.h"
#include "ZMURLRouter.h"
#include "Services/ZMRepoStoreAPI.h"
#include "WebViewViewController.h"

namespace fs = std::filesystem;
namespace K = VostrellePreferenceKey;

struct ZMVostrelle::Pending {
    std::atomic<bool> aptTreeDone{false};
    std::atomic<bool> repairDone{false};
    std::atomic<bool> statusScanDone{false};
};

namespace {
ZMVostrelle* gShared = nullptr;

std::string L(const char* key) { return ZMLocalizedString(key); }

PersistentDictionary& preferences() { return VostrellePersistentPreferences::sharedInstance(); }

// Logs what escaped every handler before the process goes down.
[[noreturn]] void logUncaughtException() {
    if (auto current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const std::exception& e) {
            ZMLOG("uncaught exception: {}", e.what());
        } catch (...) {
            ZMLOG("uncaught exception of an unknown type");
        }
    } else {
        ZMLOG("terminate called without an exception");
    }
    std::fflush(stderr);
    std::abort();
}
}  // namespace

ZMVostrelle& ZMVostrelle::sharedVostrelle() {
    if (!gShared) gShared = new ZMVostrelle;
    return *gShared;
}

void ZMVostrelle::resetForTesting() {
    delete gShared;
    gShared = nullptr;
}

ZMVostrelle::ZMVostrelle() : pending_(std::make_shared<Pending>()) {}

ZMVostrelle::~ZMVostrelle() {
    if (newsChecks_) *newsChecks_ = false;
    observers_.clear();
    delete window_.data();
}

const std::vector<std::string>& ZMVostrelle::launchStepNames() {
    static const std::vector<std::string> names = {
        "shortcuts",           "exceptionLogger",  "outdatedDatabase",       "applicationSupport",
        "aptTree",             "database",         "dpkgStatus",             "platform",
        "tweakCompatibility",  "repositoryDirectory", "audioSession",     "notificationPermission",
        "observers",           "darkMode",         "sourceRefresh",          "repair",
    };
    return names;
}

const std::vector<std::string>& ZMVostrelle::applicationSupportDirectories() {
    static const std::vector<std::string> names = {"Downloads", "SourcesFiles", "ScreenshotsCache", "HomeCache",
                                                   "IconCache", "APT"};
    return names;
}

UIWindow* ZMVostrelle::window() const { return window_; }
UITabBarController* ZMVostrelle::tabBarController() const { return tabs_; }
ZMTabBarStatusView* ZMVostrelle::statusView() const { return status_; }

void ZMVostrelle::step(const char* name) { completedSteps_.emplace_back(name); }

bool ZMVostrelle::backgroundLaunchWorkDone() const {
    return pending_->aptTreeDone && pending_->statusScanDone && pending_->repairDone;
}

// ---- launch -------------------------------------------------------------------------------

bool ZMVostrelle::beginLaunching() {
    if (launched_) return false;
    launched_ = true;
    return true;
}

void ZMVostrelle::registerShortcuts() {
    step("shortcuts");
    // A desktop has no home-screen quick actions; refresh and add-source stay
    // in the screens.
    ZMLOG("no home-screen shortcuts on this platform");
}

void ZMVostrelle::installUncaughtExceptionLogger() {
    step("exceptionLogger");
    std::set_terminate(logUncaughtException);
}

void ZMVostrelle::removeOutdatedDatabaseIfNeeded() {
    step("outdatedDatabase");
    // A database of another schema version is replaced when it is opened. What
    // is left to do here: journal files without their database (deleted by
    // hand, or a reset cut short) would be replayed into the next new one.
    const std::string db = ZMPaths::databaseFile();
    std::error_code ec;
    if (fs::exists(db, ec)) return;
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
        const std::string stale = db + suffix;
        if (fs::exists(stale, ec)) {
            ZMLOG("removing {} left without its database", stale);
            fs::remove(stale, ec);
        }
    }
}

void ZMVostrelle::generateAppSupportIfNeeded() {
    step("applicationSupport");
    if (!ZMPaths::createDirectories(ZMPaths::applicationSupport()))
        ZMLOG("cannot create {}", ZMPaths::applicationSupport());
    for (const auto& name : applicationSupportDirectories()) {
        const std::string dir = ZMPaths::subdirectory(name);
        if (!ZMPaths::createDirectories(dir)) ZMLOG("cannot create {}", dir);
    }
    // Loads the preference file and completes it with the defaults.
    (void)VostrellePersistentPreferences::sharedInstance();
}

void ZMVostrelle::prepareAPTTree() {
    step("aptTree");
    auto pending = pending_;
    Dispatch::backgroundQueue([pending] {
        auto prepared = ZMAPTManager::prepareTree();
        if (!prepared) ZMLOG("APT tree: {}", prepared.error ? prepared.error->debugDescription() : "failed");
        ZMAPTManager::cleanArchives();
        pending->aptTreeDone = true;
    });
}

void ZMVostrelle::openDatabase() {
    step("database");
    try {
        auto realm = Realm::defaultRealm();
        databaseWasReset_ = realm->databaseWasReset();
        ZMLOG("database {} open{}", realm->path(), databaseWasReset_ ? " (reset)" : "");
    } catch (const std::exception& e) {
        ZMLOG("cannot open the database: {}", e.what());
        QPointer<ZMVostrelle> self(this);
        Dispatch::main([self, what = std::string(e.what())] {
            if (self) self->showAlert(L("Error"), L("The package database could not be opened.") + "\n" + what);
        });
    }
}

void ZMVostrelle::scanDpkgStatus() {
    step("dpkgStatus");
    // Reading the status and writing every record is too slow for the main
    // thread with tens of thousands of packages; lists follow the records'
    // change notifications.
    auto pending = pending_;
    Dispatch::defaultQueue([pending] {
        try {
            auto scan = ZMPackageOperations::rescanInstalledState();
            if (!scan) {
                ZMLOG("dpkg status: {}", scan.error ? scan.error->debugDescription() : "unreadable");
            } else {
                size_t installed = 0;
                for (const auto& p : scan.value->packages) installed += p.installed ? 1 : 0;
                ZMLOG("dpkg status: {} packages, {} installed", scan.value->packages.size(), installed);
            }
        } catch (const std::exception& e) {
            ZMLOG("dpkg status scan failed: {}", e.what());
        }
        // The Sections tab and the updates badge are built from what the
        // database holds now; a refresh to come builds them again when it ends.
        // (One that never comes, with no source or before the first run is
        // done, must not leave them empty.)
        Dispatch::main([] {
            try {
                Dispatch::defaultQueue([] {
                    auto& packages = ZMRPackageManager::sharedPackageManager().packages();
                    try {
                        packages.rebuildDictOfNewPackages();
                    } catch (const std::exception& e) {
                        ZMLOG("new-packages rebuild failed: {}", e.what());
                    }
                    packages.rebuildPackagesCategoriesCache();
                });
            } catch (const std::exception& e) {
                ZMLOG("package manager unavailable: {}", e.what());
            }
        });
        pending->statusScanDone = true;
    });
}

void ZMVostrelle::logPlatform() {
    step("platform");
    ZMLOG("running on {} {} ({}), Vostrelle {}", ZMPlatform::platformName(), ZMPlatform::firmwareVersion(),
          ZMPlatform::deviceModelID(), VOSTRELLE_VERSION);
}

void ZMVostrelle::loadTweakCompatibilityList() {
    step("tweakCompatibility");
    // Rows and lists read the status stored on each package: a configured
    // list is fetched in the background and copied into the records. Without
    // one, the records keep what they have.
    auto& compatibility = TweakCompatibilityManager::instance();
    if (compatibility.listURL()) compatibility.updateCompatibilityList();
}

void ZMVostrelle::loadRepositoryDirectory() {
    step("repositoryDirectory");
    ZMOnlineServices::loadRepositoryDirectory();
}

void ZMVostrelle::configureAudioSession() {
    step("audioSession");
    // Desktop audio needs no session.
}

void ZMVostrelle::requestNotificationPermission() {
    step("notificationPermission");
    UNUserNotificationCenter::current().requestAuthorization([](bool granted) {
        if (!granted) ZMLOG("local notifications are not allowed");
    });
}

void ZMVostrelle::addApplicationObservers() {
    step("observers");
    using Q = NotificationCenter::Queue;
    auto& center = NotificationCenter::defaultCenter();
    QPointer<ZMVostrelle> self(this);
    // A failed task's error (a cancelled task has none and shows nothing).
    observers_.add(center.addObserver(ZMPipelineTaskFinishedNotification, Q::Main, [self](const Notification& n) {
        if (!self || !n.userInfo.is_object()) return;
        if (n.userInfo.value("success", false) || n.userInfo.value("cancelled", false)) return;
        // The setup backup tells its outcome in a popup of its own.
        if (n.userInfo.value("taskID", "") == ZMBackupVostrelleSetupTask::kTaskID) return;
        std::string message;
        if (n.userInfo.contains("error") && n.userInfo["error"].is_object()) {
            const auto& error = n.userInfo["error"];
            // The store ended the sign-in: its "Sign In Again" says so, naming the source.
            const std::string domain = error.contains("domain") && error["domain"].is_string() ? error["domain"].get<std::string>() : "";
            if (RepoStoreError::isSigninEnded(domain, error.value("code", 0))) return;
            message = error.value("message", "");
        }
        if (message.empty()) message = ZMError::make(ZMError::Unknown).localizedDescription();
        // A source's refresh: told with the others that fail, naming the source.
        const auto* task = std::any_cast<ZMTaskPtr>(&n.object);
        if (n.userInfo.value("pipelineID", "") == ZMPipelineSourceOps && task && *task)
            return self->showRefreshFailure((*task)->taskLocalizedObjectName(), message);
        self->showAlert(L("Error"), message);
    }));
    // A store ended the sign-in or moved: asked once the work of the moment
    // is done, so that a purchase already opening the sign-in page asks nothing.
    observers_.add(center.addObserver(ZMRepoStoreAPI::kSigninRequiredNotification, Q::Main, [self](const Notification& n) {
        const auto* location = std::any_cast<std::string>(&n.object);
        if (!self || !location) return;
        QTimer::singleShot(0, self, [self, location = *location] {
            if (self) self->askToSignInAgain(location);
        });
    }));
    observers_.add(center.addObserver(kVostrelleSetupBackupDoneNotification, Q::Main, [self](const Notification& n) {
        if (!self) return;
        const auto& info = n.userInfo;
        const std::string title = info.is_object() ? info.value("title", "") : "";
        const std::string message = info.is_object() ? info.value("message", "") : "";
        self->showAlert(title, message);
    }));
    observers_.add(center.addObserver(ZMRDoneRebuildingPackagesCacheNotification, Q::Main, [self](const Notification& n) {
        if (!self) return;
        uint64_t updates = 0;
        if (n.userInfo.is_object() && n.userInfo.contains(ZMRUpdatesCountKey) && n.userInfo[ZMRUpdatesCountKey].is_number())
            updates = n.userInfo[ZMRUpdatesCountKey].get<uint64_t>();
        self->updateSectionsBadge(updates);
    }));
    // A closed page leaves its decoded icons and images in the pixmap cache,
    // its queries' statements and pages in the database connections, and
    // the freed memory in the heap: all given back once screens stop
    // closing for a second (going back through several pages pays once).
    auto* release = new QTimer(this);
    release->setSingleShot(true);
    release->setInterval(1000);
    connect(release, &QTimer::timeout, this, [] {
        QPixmapCache::clear();
        Dispatch::backgroundQueue([] {
            try {
                Realm::defaultRealm()->releaseMemory();
            } catch (const std::exception& e) {
                ZMLOG("could not release memory: {}", e.what());
            }
        });
    });
    UIViewController::setScreenClosedHandler([timer = QPointer<QTimer>(release)] {
        if (timer) timer->start();
    });
}

void ZMVostrelle::observeDarkMode() {
    step("darkMode");
    auto& manager = ZMPaletteManager::sharedManager();
    manager.setStyleProvider([] { return static_cast<int>(preferences().integerForKey(K::Theme)); });
    UINavigationController::setPrefersLargeTitlesProvider([] { return preferences().boolForKey(K::PrefersLargeTitles); });
    UINavigationController::setTranslucentBarsProvider([] { return preferences().boolForKey(K::UseTranslucentBars); });
    manager.applyToApplication();
    connect(&manager, &ZMPaletteManager::paletteDidChange, this, [this](int) { applyPaletteToChrome(); });
    QPointer<ZMVostrelle> self(this);
    observers_.add(NotificationCenter::defaultCenter().addObserver(
        kZMAppearanceSettingsChangedNotification, NotificationCenter::Queue::Main, [self](const Notification&) {
            if (!self) return;
            ZMPaletteManager::sharedManager().reloadStyle();
            UINavigationController::refreshAllBars();
            self->applyPaletteToChrome();
        }));
    UINavigationController::refreshAllBars();
    applyPaletteToChrome();
}

void ZMVostrelle::refreshSourcesIfNeeded() {
    step("sourceRefresh");
    try {
        // The first use of the package manager (the services installed before
        // the window) added the default sources and scheduled the refresh when
        // one is due.
        if (ZMRPackageManager::sharedPackageManager().scheduledLaunchRefresh()) ZMLOG("sources will be refreshed");
    } catch (const std::exception& e) {
        ZMLOG("package manager unavailable: {}", e.what());
    }
}

void ZMVostrelle::repairPartiallyInstalledPackages() {
    step("repair");
    auto pending = pending_;
    QPointer<ZMVostrelle> self(this);
    ZMPackageOperations::repairAtLaunch([pending, self](ZMResult<bool> result) {
        pending->repairDone = true;
        if (result.ok()) {
            if (*result.value) ZMLOG("repaired partially installed packages");
            return;
        }
        if (self && result.error) self->showAlert(L("Error"), result.error->localizedDescription());
    });
}

// ---- termination --------------------------------------------------------------------------

void ZMVostrelle::applicationWillTerminate() {
    if (terminated_) return;
    terminated_ = true;
    try {
        const size_t cleared = ZMRPackageManager::sharedPackageManager().packages().setPackagesWhere(
            "isInTheQueue = 1", false, std::nullopt, ZMRQueueOperationNone);
        if (cleared) ZMLOG("cleared {} queue marks", cleared);
    } catch (const std::exception& e) {
        ZMLOG("could not clear the queue: {}", e.what());
    }
    auto& prefs = preferences();
    prefs.setDate(K::LastVisitDate, std::chrono::system_clock::now());
    prefs.saveToFile();
}

// ---- the window -------------------------------------------------------------------------

void ZMVostrelle::attachWindow(UIWindow* window, UITabBarController* tabs) {
    delete window_.data();
    window_ = window;
    tabs_ = tabs;
    status_ = new ZMTabBarStatusView;
    tabs_->setAccessoryView(status_);
    status_->hide();
    connect(status_, &ZMTabBarStatusView::tapped, this, [this] { presentQueue(); });
    window_->setRootViewController(tabs_);
    auto& notifications = UNUserNotificationCenter::current();
    notifications.setBannerHost(window_);
    notifications.attachBadge(window_, nullptr, -1);
    status_->start();
    applyPaletteToChrome();
}

void ZMVostrelle::showWindow() {
    if (!window_) return;
    window_->show();
    if (databaseWasReset_)
        showAlert(L("Database Reset"),
                  L("The package database could not be read and was created anew. Refresh your sources to fill it again."));
}

void ZMVostrelle::applyPaletteToChrome() {
    if (!tabs_) return;
    const ZMPalette p = ZMPaletteManager::sharedManager().palette();
    tabs_->setBarColors(p.foregroundColor(), p.secondaryTextColor(), p.tintColor());
    if (status_) status_->update();
}

void ZMVostrelle::updateSectionsBadge(uint64_t updates) {
    if (!tabs_) return;
    tabs_->setBadgeValue(SectionsTab, updates > 0 ? std::optional<std::string>(std::to_string(updates)) : std::nullopt);
}

void ZMVostrelle::presentViewController(UIViewController* vc, QWidget* sender) {
    if (!vc) return;
    UIViewController* top = window_ ? window_->topPresentedViewController() : nullptr;
    if (!top) {
        ZMLOG("no window to present on");
        vc->deleteLater();
        return;
    }
    top->presentViewController(vc, true);
}

void ZMVostrelle::shareAlertWithItems(std::vector<UIActivityViewController::Item> items, const std::optional<std::string>& title,
                                      QWidget* sender) {
    auto* sheet = new UIActivityViewController(std::move(items), title ? QString::fromStdString(*title) : QString());
    presentViewController(sheet, sender);
}

void ZMVostrelle::showAlert(const std::string& title, const std::optional<std::string>& message) {
    // One failure can be told twice (a failed download, and the run it
    // stopped): the same alert is shown once while it is up.
    std::erase_if(alerts_, [](const QPointer<ErrorViewController>& a) { return a.isNull() || a->isBeingDismissed(); });
    for (const auto& shown : alerts_)
        if (shown->titleLbl()->text().toStdString() == title && shown->messageLbl()->text().toStdString() == message.value_or(""))
            return;
    ++alertCount_;
    lastAlertTitle_ = title;
    lastAlertMessage_ = message.value_or("");
    ZMLOG("{}: {}", title, lastAlertMessage_);
    if (preferences().boolForKey(K::ShowNotificationsInsteadOfErrorAlerts)) {
        static int counter = 0;
        UNUserNotificationCenter::current().add(
            {"vostrelle.alert." + std::to_string(++counter), title, lastAlertMessage_, nlohmann::json::object()});
        return;
    }
    auto* popup = new ErrorViewController;
    popup->showWithTitle(title, message, 1, L("OK"));
    alerts_.emplace_back(popup);
    presentViewController(popup);
}

// ---- the queue ----------------------------------------------------------------------------

void ZMVostrelle::queuePackageWithIdentifier(const std::string& identifier, const std::optional<std::string>& versionToQueue,
                                             QAbstractButton* button) {
    auto found = ZMStoreGuard::value("queueing a package", [&] { return ZMRPackage::objectForPrimaryKey(identifier); });
    if (!found) return;
    const std::optional<ZMRPackage>& package = *found;
    if (!package) {
        ZMLOG("no package {} to queue", identifier);
        return;
    }
    const int64_t operation = ZMRPackages::queueOperationForPackage(*package, versionToQueue, ZMRQueueOperationNone);
    QPointer<QAbstractButton> weakButton(button);
    auto queue = [identifier, versionToQueue, weakButton] {
        auto& packages = ZMRPackageManager::sharedPackageManager().packages();
        if (!ZMStoreGuard::run("queueing a package",
                               [&] { packages.setPackage(identifier, true, versionToQueue, ZMRQueueOperationNone); }))
            return;
        if (weakButton) {
            auto title = ZMStoreGuard::value("queueing a package", [&] {
                return packages.getButtonTitleForPackageIdentifier(identifier, true, true, false, std::nullopt);
            });
            if (title) weakButton->setText(QString::fromStdString(*title));
        }
        ZMPackageOperations::postQueueStateChanged({identifier});
    };
    if (package->isFree() || package->isPaidThroughCydia.value_or(false) || operation == ZMRQueueOperationRemove)
        return queue();

    // A paid package: through its repository's store.
    const std::string location = package->sourceLocation;
    auto sourceFound = ZMStoreGuard::value("queueing a package", [&] { return ZMRSource::objectForPrimaryKey(location); });
    if (!sourceFound) return;
    const std::optional<ZMRSource>& source = *sourceFound;
    auto& store = ZMRepoStoreAPI::sharedRepoStore();
    const bool hasStore = source && !source->endpoint.empty();
    // Bought through its store: the download fetches it with the sign-in, so
    // a signed-out user signs in first (below) rather than fail there.
    if (package->isPaidThroughSileo.value_or(false) && (!hasStore || ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(location)))
        return queue();
    if (!hasStore) {
        if (store.sourceWithLoacationIsBlacklisted(location)) return queue();
        ZMLOG("paid package {} has no store", identifier);
        showAlert(L("Can't get package"), L("This package is sold, but its repository offers no store to buy it from."));
        return;
    }
    if (!ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(location)) {
        ZMRepoStoreAPI::loginToSource(location);
        return;
    }
    QPointer<ZMVostrelle> self(this);
    store.purchaseInfoForPackageWithIdentifier(identifier, [self, identifier, location, queue](bool, const RepoStorePackageInfoResponse& info) {
        Dispatch::main([self, identifier, location, queue, info] {
            if (!self) return;
            // The store ended the sign-in (its credentials are gone): sign in again, then buy.
            if (info.invalidate) return ZMRepoStoreAPI::loginToSource(location);
            if (info.error) return self->showStoreError(L("Error fetching package info"), *info.error, info.recovery_url);
            if (!info.available) return;
            if (info.purchased) return queue();
            ZMRepoStoreAPI::sharedRepoStore().purchasePackageWithIdentifier(
                identifier, [self, identifier, location, queue](bool failed, const RepoStorePackagePurchaseResponse& r) {
                    Dispatch::main([self, identifier, location, queue, failed, r] {
                        if (!self) return;
                        if (r.invalidate) return ZMRepoStoreAPI::loginToSource(location);
                        if (r.cancelled) return;  // the buyer closed the page
                        if (failed || r.status != RepoStorePackagePurchaseResponse::kCompleted) {
                            return self->showStoreError(L("Purchase Failed"),
                                                        r.error.value_or(RepoStoreError::make(0, L("The purchase did not go through."))),
                                                        {});
                        }
                        if (!ZMStoreGuard::run("recording a purchase", [&] {
                                auto realm = Realm::defaultRealm();
                                realm->transactionWithBlock([&] {
                                    if (auto p = realm->objectForPrimaryKey<ZMRPackage>(identifier))
                                        realm->setValueForKey(*p, "isPaidThroughSileo", true);
                                });
                            }))
                            return;
                        queue();
                    });
                });
        });
    });
}

void ZMVostrelle::showRefreshFailure(const std::string& location, const std::string& reason) {
    if (preferences().boolForKey(K::ShowNotificationsInsteadOfErrorAlerts))
        return showAlert(L("Source Not Refreshed"), ZMRefreshFailureReport::describe(location, reason));
    ++alertCount_;
    lastAlertTitle_ = L("Source Not Refreshed");
    lastAlertMessage_ = ZMRefreshFailureReport::describe(location, reason);
    ZMLOG("{} not refreshed: {}", location, reason);
    if (auto* popup = refreshFailures_.add(location, reason)) presentViewController(popup);
}

void ZMVostrelle::askToSignInAgain(const std::string& location) {
    if (ZMRepoStoreAPI::sharedRepoStore().hasPendingSignin()) return;  // the sign-in page is on its way
    auto source = ZMStoreGuard::record<ZMRSource>("reading a source", location);
    const std::string store = source && !source->name.empty() ? source->name : location;
    const std::string title = L("Sign In Again");
    const std::string message = ZMLocalization::format(
        "Your sign-in to the store of %@ has ended. Sign in again to buy or download its packages.", {store});
    if (preferences().boolForKey(K::ShowNotificationsInsteadOfErrorAlerts)) return showAlert(title, message);
    std::erase_if(alerts_, [](const QPointer<ErrorViewController>& a) { return a.isNull() || a->isBeingDismissed(); });
    for (const auto& shown : alerts_)
        if (shown->messageLbl()->text().toStdString() == message) return;  // asked already
    ++alertCount_;
    lastAlertTitle_ = title;
    lastAlertMessage_ = message;
    auto* popup = new ErrorViewController;
    popup->showWithTitle(title, message, 2, L("Not Now"), L("Sign In"), [location] { ZMRepoStoreAPI::loginToSource(location); });
    alerts_.emplace_back(popup);
    presentViewController(popup);
}

void ZMVostrelle::showStoreError(const std::string& title, const RepoStoreError& error, const std::string& moreInfo) {
    if (moreInfo.empty() || preferences().boolForKey(K::ShowNotificationsInsteadOfErrorAlerts))
        return showAlert(title, error.localizedDescription);
    ++alertCount_;
    lastAlertTitle_ = title;
    lastAlertMessage_ = error.localizedDescription;
    auto* popup = new ErrorViewController;
    const QUrl page(QString::fromStdString(moreInfo), QUrl::StrictMode);
    popup->setCloseIsDefault(true);  // Return acknowledges; the page is an aside
    popup->showWithTitle(title, error.localizedDescription, 2, L("OK"), L("More Info"), [this, page] {
        auto* web = new WebViewViewController;
        web->setWebsiteURL(page);
        auto* nav = new UINavigationController(web);
        QPointer<UINavigationController> weak(nav);
        web->navigationItem()->setLeftBarButtonItem(new UIBarButtonItem(
            QString::fromStdString(L("Close")), [weak](UIBarButtonItem*) { if (weak) weak->dismissViewController(true); },
            web->navigationItem()));
        presentViewController(nav);
    });
    presentViewController(popup);
}

void ZMVostrelle::presentQueue() { presentConfirmation(new PackagesConfirmationViewController); }

void ZMVostrelle::presentDebFile(const std::string& path) {
    auto* screen = new PackagesConfirmationViewController;
    screen->setDebFile(path);
    presentConfirmation(screen);
}

void ZMVostrelle::presentConfirmation(PackagesConfirmationViewController* screen) {
    auto* nav = new UINavigationController(screen);
    nav->setModalPresentationStyle(UIViewController::ModalPresentationStyle::FormSheet);
    presentViewController(nav);
}

void ZMVostrelle::presentOptions(const std::string& identifier, QWidget* sender) {
    UIViewController* top = window_ ? window_->topPresentedViewController() : nullptr;
    if (auto* sheet = ZMPackageOptionsSheet::optionsSheet(identifier, top)) presentViewController(sheet, sender);
}

void ZMVostrelle::sharePackage(const std::string& identifier, QWidget* sender) {
    presentViewController(ZMPackageOptionsSheet::packageShareSheet(identifier), sender);
}

void ZMVostrelle::shareAllSources(QWidget* sender) {
    presentViewController(ZMPackageOptionsSheet::allSourcesShareSheet(), sender);
}

void ZMVostrelle::shareSourceWithLocation(const std::string& location, QWidget* sender) {
    presentViewController(ZMPackageOptionsSheet::sourceShareSheet(location), sender);
}

void ZMVostrelle::openURLs(const QStringList& arguments) {
    int taken = ZMURLRouter::open(arguments);
    ZMLOG("opened {} of {} links and files", taken, arguments.size());
}

void ZMVostrelle::presentFirstRunIfNeeded() {
    if (window_ && window_->rootViewController()) InitViewController::presentFlowIfNeeded(window_->rootViewController());
}

// ---- news ---------------------------------------------------------------------------------

void ZMVostrelle::checkForNews() {
    // One chain of checks per delegate: a second call starts it again.
    if (newsChecks_) *newsChecks_ = false;
    auto alive = std::make_shared<bool>(true);
    newsChecks_ = alive;
    QPointer<ZMVostrelle> self(this);
    ZMNewsRetrieval::instance().fetchNewsWithCompletionHandler([self, alive](std::string status) {
        Dispatch::main([self, alive, status] {
            if (!self || !*alive) return;
            Dispatch::mainAfter(kNewsCheckSeconds, [self, alive] {
                if (self && *alive) self->checkForNews();
            });
            if (status != kZMStatusSuccess) return;
            const auto count = static_cast<int64_t>(ZMNewsRetrieval::instance().news().value_or(std::vector<ZMNews>{}).size());
            auto& prefs = preferences();
            // Fewer items (the maker removed some) announce nothing and keep the count.
            if (count <= prefs.integerForKey(K::NewsCount)) return;
            prefs.setValue(K::NewsCount, count);
            self->newsNotification_ = true;
            UNUserNotificationCenter::current().add(
                {kNewsNotificationIdentifier, L("News"),
                 L("New messages from Zemtrix are available. Click here to check the News tab!"), nlohmann::json::object()});
        });
    });
}

bool ZMVostrelle::answerNewsNotification(const UNNotificationRequest& request) {
    if (request.identifier != kNewsNotificationIdentifier || !newsNotification_) return false;
    newsNotification_ = false;
    return true;
}
