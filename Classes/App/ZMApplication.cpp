#include "App/ZMApplication.h"

#include <QCoreApplication>
#include <QIcon>
#include <QPointer>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "App/ZMDesktopWindow.h"
#include "App/ZMDetailsScreensSetup.h"
#include "App/ZMOnlineScreensSetup.h"
#include "App/ZMQueueScreensSetup.h"
#include "App/ZMReviewsAndDevelopersSetup.h"
#include "Browsing/CategoriesTableViewController.h"
#include "Browsing/ChangesViewController.h"
#include "Browsing/FeaturedViewController.h"
#include "Browsing/ManageViewController.h"
#include "Browsing/SearchViewController.h"
#include "Browsing/ZMFollowedNews.h"
#include "Database/ZMRPackageManager.h"
#include "Depictions/ZMDepictionBudget.h"
#include "Details/RemoteWebView.h"
#include "Dispatch/SerialQueue.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "Online/Screens/NewsViewController.h"
#include "Online/Screens/ZMMakerDetailsServices.h"
#include "Online/Screens/ZMRepoStoreDetailsServices.h"
#include "Online/Screens/ZMStorePages.h"
#include "Services/ZMOnlineServices.h"
#include "Services/ZMRepoStoreAPI.h"
#include "UIKit/QtMainExecutor.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UITabBarController.h"
#include "UIKit/UIWindow.h"
#include "UserNotifications/UNUserNotificationCenter.h"
#include "VostrellePersistentPreferences.h"
#include "PackageCell.h"
#include "ZMDeviceOwnerAuthentication.h"
#include "ZMSingleInstance.h"
#include "ZMStoreGuard.h"
#include "ZMVostrelle.h"

namespace {

// What the launch keeps alive beside the delegate, and lets go with it.
class LaunchedParts : public QObject {
public:
    explicit LaunchedParts(ZMVostrelle& delegate) : QObject(&delegate) {}
    std::unique_ptr<ZMFollowedNews> followedNews;
};

LaunchedParts& launchedParts(ZMVostrelle& delegate) {
    static QPointer<LaunchedParts> parts;
    if (!parts || parts->parent() != &delegate) parts = new LaunchedParts(delegate);
    return *parts;
}

void buildWindow(ZMVostrelle& delegate) {
    struct TabSpec {
        UIViewController* (*make)();
        const char* title;
        const char* icon;
    };
    // In ZMVostrelle::Tab order.
    static const TabSpec specs[ZMVostrelle::TabCount] = {
        {[]() -> UIViewController* { return new FeaturedViewController; }, "Featured", "Featured"},
        {[]() -> UIViewController* { return new CategoriesTableViewController; }, "Sections", "Sections"},
        {[]() -> UIViewController* { return new ChangesViewController; }, "Changes", "Changes"},
        {[]() -> UIViewController* { return new ManageViewController; }, "Manage", "Manage"},
        {[]() -> UIViewController* { return new SearchViewController; }, "Search", "Search"},
    };
    auto* window = new UIWindow;
    window->setWindowTitle(QStringLiteral("Vostrelle"));
    window->setWindowIcon(QIcon(QStringLiteral(":/Images/Tabs/Manage.svg")));
    // Sized and placed as the user left it; the desktop's shortcuts.
    ZMDesktopWindow::install(window);
    auto* tabs = new UITabBarController;
    std::vector<UIViewController*> navs;
    for (const auto& spec : specs) {
        UIViewController* root = spec.make();
        root->setTitle(QString::fromStdString(ZMLocalizedString(spec.title)));
        root->tabBarItem()->setIcon(QIcon(QStringLiteral(":/Images/Tabs/%1.svg").arg(spec.icon)));
        navs.push_back(new UINavigationController(root));
    }
    tabs->setViewControllers(navs);
    delegate.attachWindow(window, tabs);
}

}  // namespace

bool ZMApplication::start(const QStringList& arguments) {
    UIKit::installQtMainExecutor();

    // One program per user: a second start (a link or a .deb opened from the
    // desktop) hands its arguments to the running one and ends.
    const QStringList requests = ZMSingleInstance::openRequests(arguments);
    auto instance = std::make_unique<ZMSingleInstance>();
    if (!instance->listen()) {
        if (instance->handOver(requests)) {
            ZMLOG("handed {} links and files to the running Vostrelle", requests.size());
            return false;
        }
        ZMLOG("another Vostrelle holds the instance socket but did not answer; starting anyway");
    }

    ZMVostrelle& delegate = ZMVostrelle::sharedVostrelle();
    instance->setParent(&delegate);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &delegate, [&delegate] { delegate.applicationWillTerminate(); });
    QObject::connect(instance.release(), &ZMSingleInstance::argumentsReceived, &delegate,
                     [&delegate](const QStringList& received) {
                         delegate.openURLs(received);
                         if (auto* window = delegate.window()) {
                             window->raise();
                             window->activateWindow();
                         }
                     });
    applicationDidFinishLaunching();
    ZMLOG("launched");
    // The featured page, the first screen, presents the first-run flow when it appears.
    if (!requests.isEmpty()) delegate.openURLs(requests);
    return true;
}

int ZMApplication::finish(int status) {
    ZMDepictionBudget::stopAll();
    if (!ZMDepictionBudget::queue()->finish(ZMDepictionBudget::kLongestStop)) {
        ZMLOG("a text being built did not stop within {} ms: ending without tearing down what it uses",
              ZMDepictionBudget::kLongestStop.count());
        // What the skipped exit steps would have done: settings reach their
        // file, and retired page processes do not outlive the program.
        auto& preferences = VostrellePersistentPreferences::sharedInstance();
        if (preferences.hasUnsavedChanges()) preferences.saveToFile();
        RemoteWebView::endRetiredProcesses();
        std::fflush(nullptr);
        std::_Exit(status);
    }
    // The builds' last documents, on their way to views that will never show them.
    QCoreApplication::removePostedEvents(qApp, QEvent::MetaCall);
    return status;
}

void ZMApplication::applicationDidFinishLaunching() {
    ZMVostrelle& d = ZMVostrelle::sharedVostrelle();
    if (!d.beginLaunching()) return;
    d.registerShortcuts();
    d.installUncaughtExceptionLogger();
    d.removeOutdatedDatabaseIfNeeded();
    d.generateAppSupportIfNeeded();
    d.prepareAPTTree();
    d.openDatabase();
    d.scanDpkgStatus();
    d.logPlatform();
    d.loadTweakCompatibilityList();
    d.loadRepositoryDirectory();
    d.configureAudioSession();
    d.requestNotificationPermission();
    d.addApplicationObservers();
    installServices();
    d.observeDarkMode();
    buildWindow(d);
    d.refreshSourcesIfNeeded();
    d.showWindow();
    d.checkForNews();
    d.repairPartiallyInstalledPackages();
}

void ZMApplication::installServices() {
    // The queue: the confirmed run (ZMPackageQueue's run starter), the options
    // sheet's queue and hold, the post-install prompt and its executor, and
    // the router's search tab and .deb installer.
    ZMQueueScreensSetup::install();
    // The router's package page.
    ZMDetailsScreensSetup::install();
    // The details page's review list, leave-review sheet and maintainer list;
    // the developer page and followed developers of the search and account
    // screens; the router's developer page.
    ZMReviewsAndDevelopersSetup::install();
    // The stores' sign-in and checkout pages (ZMRepoStoreAPI's page hooks).
    ZMStorePages::install();
    // The details page's online calls: the maker's clients, wrapped by the
    // stores' answers (sign-in marker, purchase information).
    ZMMakerDetailsServices::install();
    ZMRepoStoreDetailsServices::install();
    // The core's store hooks: a refreshed source's payment endpoint and a paid
    // package's download address.
    ZMRepoStoreAPI::installFrameworkHooks();
    // The maker's service hears of every refreshed source (its repository
    // directory) and of every verified download (its statistics).
    ZMOnlineServices::install();
    // Search's online services, the repository page and directory, the store
    // list, the first-run sign-in step, the source screen's purchases.
    ZMOnlineScreensSetup::install();
    try {
        // The package manager's hooks: the followed developers follow the
        // account, the bundled category images, the device owner's
        // authentication before a source is added, and the database alert
        // when an added source could not be stored.
        auto& manager = ZMRPackageManager::sharedPackageManager();
        ZMOnlineServices::installAccountSync(manager.developers());
        manager.packages().setImageLookup([](const std::string& name) { return PackageRow::hasBundledImage(name); });
        ZMDeviceOwnerAuthentication::installInto(manager.sources());
        manager.sources().setStoreFailureHook([](const ZMError& failure) { ZMStoreGuard::tell("adding a source", failure); });
    } catch (const std::exception& e) {
        ZMLOG("package manager unavailable: {}", e.what());
    }
    // Followed sources and developers announce their new packages; answering
    // such a notification opens their list, answering the news opens the news.
    ZMVostrelle& d = ZMVostrelle::sharedVostrelle();
    launchedParts(d).followedNews = std::make_unique<ZMFollowedNews>();
    QPointer<ZMVostrelle> delegate(&d);
    UNUserNotificationCenter::current().setResponseHandler([delegate](const UNNotificationRequest& request) {
        if (!delegate) return;
        if (delegate->answerNewsNotification(request)) return showNewsVC();
        if (auto* list = ZMFollowedNews::viewControllerForNotification(request)) delegate->presentViewController(list);
    });
}

void ZMApplication::showAddSource() {
    auto* tabs = ZMVostrelle::sharedVostrelle().tabBarController();
    if (!tabs) return;
    tabs->setSelectedIndex(ZMVostrelle::ManageTab);
    auto* nav = qobject_cast<UINavigationController*>(tabs->viewControllers()[ZMVostrelle::ManageTab]);
    if (!nav) return;
    nav->popToRootViewController(false);
    if (auto* manage = qobject_cast<ManageViewController*>(nav->viewControllers().front())) manage->addSource();
}

void ZMApplication::showNewsVC() {
    auto* news = new NewsViewController;
    auto* nav = new UINavigationController(news);
    QPointer<UINavigationController> guard(nav);
    news->navigationItem()->setLeftBarButtonItem(new UIBarButtonItem(
        QString::fromStdString(ZMLocalizedString("Close")),
        [guard](UIBarButtonItem*) {
            if (guard) guard->dismissViewController(true);
        },
        nav));
    nav->setModalPresentationStyle(UIViewController::ModalPresentationStyle::FormSheet);
    ZMVostrelle::sharedVostrelle().presentViewController(nav);
}
