#pragma once
// The application delegate: the steps of the launch, the window with the five
// tabs and the floating status display once it is attached, the app-wide
// alerts, and the queue entry point of every Get button.
//
// The steps run in launchStepNames() order, on the main thread: shortcuts,
// uncaught-exception logger, outdated database, application support +
// preferences, APT tree (background), database, dpkg status, platform facts,
// tweak compatibility, repository directory, audio session, notification
// permission, app-wide observers, dark mode, source refresh, and the repair of
// half-installed packages on a background queue. The application's top layer
// (Classes/App, ZMApplication) runs them, installs the services and builds
// the window in between; this class knows no screen of the folders above it.
// Termination (applicationWillTerminate): every queue mark is cleared and the
// date of the visit stored.
#include <QAbstractButton>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Notifications/NotificationCenter.h"
#include "Services/ZMBackupVostrelleSetupTask.h"  // kVostrelleSetupBackupDoneNotification
#include "UIKit/UIActivityViewController.h"
#include "ZMErrorDelegate.h"
#include "ZMRefreshFailureReport.h"

class UITabBarController;
class UIViewController;
class UIWindow;
class ErrorViewController;
class PackagesConfirmationViewController;
class ZMTabBarStatusView;
struct RepoStoreError;
struct UNNotificationRequest;

// Posted (main thread, no object) by whoever changes "Theme",
// "prefersLargeTitles" or "UseTranslucentBars": the shell re-reads them.
inline constexpr const char* kZMAppearanceSettingsChangedNotification = "AppearanceSettingsChanged";

class ZMVostrelle : public QObject, public ZMErrorDelegate {
    Q_OBJECT
public:
    // Tab indexes.
    enum Tab { FeaturedTab = 0, SectionsTab = 1, ChangesTab = 2, ManageTab = 3, SearchTab = 4, TabCount = 5 };

    static ZMVostrelle& sharedVostrelle();
    // Tests: drops the shared delegate (and its window); the next
    // sharedVostrelle() makes a new one.
    static void resetForTesting();

    // ---- launch and termination ---------------------------------------------------
    // Whoever runs the launch asks first: false when this delegate was
    // launched already (a launch runs once).
    bool beginLaunching();
    bool hasLaunched() const { return launched_; }
    void applicationWillTerminate();
    // The steps in launch order, by name; completedLaunchSteps() lists the
    // ones this delegate has run.
    static const std::vector<std::string>& launchStepNames();
    const std::vector<std::string>& completedLaunchSteps() const { return completedSteps_; }

    // The steps (each records itself).
    void registerShortcuts();
    void installUncaughtExceptionLogger();
    void removeOutdatedDatabaseIfNeeded();
    // Creates the missing directories of the application-support directory
    // and loads the preferences (completing their defaults).
    void generateAppSupportIfNeeded();
    void prepareAPTTree();
    void openDatabase();
    void scanDpkgStatus();
    void logPlatform();
    void loadTweakCompatibilityList();
    void loadRepositoryDirectory();
    void configureAudioSession();
    void requestNotificationPermission();
    void addApplicationObservers();
    void observeDarkMode();
    void refreshSourcesIfNeeded();
    void repairPartiallyInstalledPackages();

    // The directories generateAppSupportIfNeeded() makes.
    static const std::vector<std::string>& applicationSupportDirectories();

    // ---- the window -------------------------------------------------------------
    // Takes the window and its tab bar controller (the five tabs in Tab
    // order): adds the floating status display, the banner host and the
    // badge, and themes the chrome. The window is shown by showWindow().
    void attachWindow(UIWindow* window, UITabBarController* tabs);
    // Shows the window, and says so when the package database had to be made anew.
    void showWindow();
    UIWindow* window() const;
    UITabBarController* tabBarController() const;
    ZMTabBarStatusView* statusView() const;

    // Presents `vc` on the top-most presented screen (the sender would anchor a
    // popover; a desktop shows the screen centred).
    void presentViewController(UIViewController* vc, QWidget* sender = nullptr);
    void shareAlertWithItems(std::vector<UIActivityViewController::Item> items, const std::optional<std::string>& title,
                             QWidget* sender = nullptr);
    // An error or confirmation with one "OK" button: the modal popup, or a
    // local notification when "ShowNotificationsInsteadOfErrorAlerts" is on.
    void showAlert(const std::string& title, const std::optional<std::string>& message);

    // ---- the queue --------------------------------------------------------------
    // The entry point of every Get button: works out the operation (or the
    // one the version implies), marks the package queued and posts
    // "UpdateQueueStateNotification-" + identifier. `button`, when given,
    // shows the new state at once. A paid package goes through its
    // repository's store: signed out, the store's sign-in; signed in, the
    // package's purchase state, then the purchase (on the store's page when
    // it asks), and the package is queued once it is owned. A paid package
    // of a source without a store gets the alert "Can't get package".
    void queuePackageWithIdentifier(const std::string& identifier, const std::optional<std::string>& versionToQueue,
                                    QAbstractButton* button = nullptr);
    // Opens the queue: the confirmation screen, which resolves it.
    void presentQueue();
    // A .deb file handed over from outside: the same screen shows what
    // installing it means, and installs it only when the user confirms.
    void presentDebFile(const std::string& path);
    // The package's options sheet, "What would you like to do?".
    void presentOptions(const std::string& identifier, QWidget* sender = nullptr);
    // Share sheets: a package with its show-package link, every source
    // location ("All Sources"), one source with its add-source link.
    void sharePackage(const std::string& identifier, QWidget* sender = nullptr);
    void shareAllSources(QWidget* sender = nullptr);
    void shareSourceWithLocation(const std::string& location, QWidget* sender = nullptr);
    // Links of our scheme, store callbacks and .deb files handed over from
    // outside (the command line, a second start).
    void openURLs(const QStringList& arguments);
    // The first-run flow, while "setupDone" is not set and none is shown (the
    // featured page asks for it each time it appears).
    void presentFirstRunIfNeeded();

    // ---- news ---------------------------------------------------------------------
    // Fetches the maker's news, then again every kNewsCheckSeconds; when
    // there are more items than "NewsCount" says the user was told of, stores
    // the count and sends the local notification "News" (badge untouched).
    void checkForNews();
    // Answering a notification: true (and no longer pending) when it is the
    // news notification this delegate sent; the caller then shows the news.
    bool answerNewsNotification(const UNNotificationRequest& request);
    static constexpr double kNewsCheckSeconds = 120;
    static constexpr const char* kNewsNotificationIdentifier = "vostrelle.news";
    bool hasPendingNewsNotification() const { return newsNotification_; }

    // Tests: how many alerts were shown (popups and notifications alike), and
    // the last one's texts.
    int alertCount() const { return alertCount_; }
    const std::string& lastAlertTitle() const { return lastAlertTitle_; }
    const std::string& lastAlertMessage() const { return lastAlertMessage_; }
    // Tests: the background work of the launch has finished (APT tree, repair).
    bool backgroundLaunchWorkDone() const;

    ~ZMVostrelle() override;

private:
    ZMVostrelle();
    // A store's failure; with a recovery page, a "More Info" button opens it.
    void showStoreError(const std::string& title, const RepoStoreError& error, const std::string& moreInfo);
    // A store's credentials were dropped: a popup offers its sign-in page.
    void askToSignInAgain(const std::string& location);
    // A source's refresh failed: one popup names every source that failed while it is up.
    void showRefreshFailure(const std::string& location, const std::string& reason);
    void step(const char* name);
    void presentConfirmation(PackagesConfirmationViewController* screen);
    void applyPaletteToChrome();
    void updateSectionsBadge(uint64_t updates);

    std::vector<std::string> completedSteps_;
    QPointer<UIWindow> window_;
    QPointer<UITabBarController> tabs_;
    QPointer<ZMTabBarStatusView> status_;
    ObserverBag observers_;
    bool databaseWasReset_ = false;
    bool newsNotification_ = false;
    std::shared_ptr<bool> newsChecks_;  // the running chain of news checks
    bool launched_ = false;
    bool terminated_ = false;
    int alertCount_ = 0;
    std::string lastAlertTitle_, lastAlertMessage_;
    std::vector<QPointer<ErrorViewController>> alerts_;  // shown by showAlert, until they go
    ZMRefreshFailureReport refreshFailures_;
    struct Pending;
    std::shared_ptr<Pending> pending_;
};
