#pragma once
// The application started exactly as main() starts it (ZMApplication::start,
// the same function), configured only through the environment, as a user
// configures it:
//   VOSTRELLE_DATA_DIR, VOSTRELLE_LOG_DIR  a fresh temporary tree;
//   VOSTRELLE_TARGET_ROOT                  a sandbox root with an empty dpkg database;
//   VOSTRELLE_MAKER_API_URL, _WEB_URL      the shared fake maker server (`maker`);
//   VOSTRELLE_ASSUME_REACHABLE=1           the network check says yes;
// and what a walk adds with setVariable() before start() (a store, a compatibility
// list). The data directory holds a user who finished the first run and saw this
// version's change log: its preference file is written before the launch.
// Between tests the process-wide state is reset and the variables removed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QStringList>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "App/ZMApplication.h"
#include "Browsing/CategoriesTableViewController.h"
#include "Browsing/FeaturedViewController.h"
#include "Browsing/ManageViewController.h"
#include "Browsing/PackagesTableViewController.h"
#include "Browsing/SourceViewController.h"
#include "Browsing/SourcesCell.h"
#include "Browsing/SubcategoriesViewController.h"
#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageManager.h"
#include "Database/ZMRSource.h"
#include "ErrorViewController.h"
#include "Keychain/PDKeychainBindings.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMPaths.h"
#include "Online/Screens/AccountPlistViewController.h"
#include "Online/Screens/LoginViewController.h"
#include "Online/Services/OnlineServicesFixture.h"
#include "Services/ZMAccount.h"
#include "Services/ZMMakerAPI.h"
#include "Services/ZMRepoStoreAPI.h"
#include "Shell/ShellTestSupport.h"
#include "Support/FakeMakerAPI.h"
#include "Support/FlatRepository.h"
#include "Support/Gui/GuiTestSupport.h"
#include "Support/Gui/UserGestures.h"
#include "Support/TestSupport.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UITabBarController.h"
#include "UIKit/UIViewController.h"
#include "UIKit/UIWindow.h"
#include "UserNotifications/UNUserNotificationCenter.h"
#include "VostrelleBuildPaths.h"
#include "VostrellePersistentPreferences.h"
#include "SegmentedViewController.h"
#include "ZMPipelineManager.h"
#include "ZMVostrelle.h"

namespace Launch {

class Fixture : public ::testing::Test {
protected:
    TestSupport::TempDir root;
    std::unique_ptr<FakeMakerAPI> maker;

    std::string dataDirectory() const { return root.path() + "/data"; }
    std::string targetRoot() const { return root.path() + "/target"; }

    void SetUp() override {
        UIView::setAnimationsEnabled(false);  // transitions complete at once: the walk need not wait for them
        forgetProcessState();
        QDir().mkpath(QString::fromStdString(dataDirectory()));
        QDir().mkpath(QString::fromStdString(targetRoot() + "/var/lib/dpkg"));
        TestSupport::writeFile(targetRoot() + "/var/lib/dpkg/status", "");
        setVariable("VOSTRELLE_DATA_DIR", dataDirectory());
        setVariable("VOSTRELLE_LOG_DIR", root.path() + "/log");
        setVariable("VOSTRELLE_TARGET_ROOT", targetRoot());
        setVariable("VOSTRELLE_ASSUME_REACHABLE", "1");
        FakeMakerAPI::setWaitFunction(GuiTest::waitUntil);
        maker = std::make_unique<FakeMakerAPI>(FakeMakerAPI::ThroughEnvironment{});
        // A user who finished the first run and saw this version's change log.
        auto& preferences = VostrellePersistentPreferences::sharedInstance();
        preferences.setValue(VostrellePreferenceKey::SetupDone, true);
        preferences.setValue(VostrellePreferenceKey::WelcomeScreenVersion, std::string(VOSTRELLE_VERSION));
        ASSERT_TRUE(preferences.saveToFile());
        VostrellePersistentPreferences::resetForTesting();  // the launch reads the file
    }

    void TearDown() override {
        GuiTest::waitUntil([] { return ZMPipelineManager::sharedManager().liveTaskCount() == 0; }, std::chrono::seconds(30));
        GuiTest::pump(std::chrono::milliseconds(20));
        ZMVostrelle::resetForTesting();
        maker.reset();
        forgetProcessState();
        for (const auto& [name, previous] : variables_) {
            if (previous) setenv(name.c_str(), previous->c_str(), 1);
            else unsetenv(name.c_str());
        }
        UIView::setAnimationsEnabled(true);
    }

    // Sets an environment variable for this test (restored in TearDown).
    void setVariable(const std::string& name, const std::string& value) {
        if (!variables_.count(name)) {
            const char* previous = std::getenv(name.c_str());
            variables_[name] = previous ? std::optional<std::string>(previous) : std::nullopt;
        }
        setenv(name.c_str(), value.c_str(), 1);
    }

    // A user who has not been through the first run yet (before start()).
    void asANewUser() {
        auto& preferences = VostrellePersistentPreferences::sharedInstance();
        preferences.setValue(VostrellePreferenceKey::SetupDone, false);
        ASSERT_TRUE(preferences.saveToFile());
        VostrellePersistentPreferences::resetForTesting();
    }
    // The maker's server runs, but nothing names it (before start()).
    static void withoutTheMakerService() {
        unsetenv("VOSTRELLE_MAKER_API_URL");
        unsetenv("VOSTRELLE_MAKER_WEB_URL");
        ZMMakerAPI::setBaseURL(std::nullopt);
    }

    // What main() does once the QApplication exists, with these command-line
    // arguments; then waits for the launch's background work.
    ZMVostrelle& start(const QStringList& arguments = {}) {
        EXPECT_TRUE(ZMApplication::start(arguments)) << "handed over to another Vostrelle";
        auto& d = ZMVostrelle::sharedVostrelle();
        EXPECT_TRUE(GuiTest::waitUntil([&] { return d.backgroundLaunchWorkDone(); }, std::chrono::seconds(30)));
        d.window()->resize(460, 960);
        EXPECT_TRUE(UserGesture::bringToFront(d.window())) << "typing needs the focus";
        return d;
    }

    static ZMVostrelle& app() { return ZMVostrelle::sharedVostrelle(); }
    static UIViewController* top() { return app().window()->topPresentedViewController(); }
    static UIWindow* window() { return app().window(); }
    static bool hasFocusIn(QWidget* widget) {
        QWidget* focus = QApplication::focusWidget();
        return focus && (focus == widget || widget->isAncestorOf(focus));
    }
    // The tab's navigation controller, selected by a click on its button.
    static UINavigationController* selectTab(int index) {
        UserGesture::tapTab(app().tabBarController(), index);
        return qobject_cast<UINavigationController*>(app().tabBarController()->selectedViewController());
    }
    // The popup on top, once there is one.
    static ErrorViewController* waitForPopup() {
        GuiTest::waitUntil([] { return dynamic_cast<ErrorViewController*>(top()) != nullptr; }, std::chrono::seconds(10));
        return dynamic_cast<ErrorViewController*>(top());
    }
    // The plain-http warning of a "vostrelle://add" link (naming `location`,
    // when given) continued by the mouse; then the refresh, until it stored
    // `identifier` and the pipeline is idle.
    static void acceptTheLinksSource(const std::string& identifier, const std::string& location = {}) {
        auto* warning = waitForPopup();
        ASSERT_NE(warning, nullptr);
        EXPECT_EQ(warning->titleLbl()->text(), "Warning");
        if (!location.empty()) {
            EXPECT_TRUE(warning->messageLbl()->text().contains(QString::fromStdString(location)));
        }
        UserGesture::click(warning->otherBtn());
        ASSERT_TRUE(GuiTest::waitUntil([&] { return package(identifier).has_value(); }, std::chrono::seconds(60)));
        GuiTest::waitUntil([] { return ZMPipelineManager::sharedManager().liveTaskCount() == 0; }, std::chrono::seconds(30));
    }
    // Sections → All Packages by the mouse, once its rows are on screen.
    static PackagesTableViewController* openAllPackages() {
        auto* nav = selectTab(ZMVostrelle::SectionsTab);
        nav->popToRootViewController(false);
        auto* sections = qobject_cast<CategoriesTableViewController*>(nav->topViewController());
        if (!sections) return nullptr;
        UserGesture::tapRow(sections->defaultCategoriesTableView(), {0, 0});
        auto* list = qobject_cast<PackagesTableViewController*>(nav->topViewController());
        if (list)
            GuiTest::waitUntil([&] { return list->model().numberOfSections() > 0 && !list->packagesTableView()->visibleCells().empty(); });
        return list;
    }
    // The popups on screen, wherever they were presented from.
    static std::vector<ErrorViewController*> popupsShown() {
        std::vector<ErrorViewController*> shown;
        for (auto* popup : app().window()->findChildren<ErrorViewController*>())
            if (popup->isVisible() && !popup->isBeingDismissed()) shown.push_back(popup);
        return shown;
    }
    // The screen of this class on top, once it is there and presented.
    template <class T>
    static T* waitForTop() {
        T* found = nullptr;
        GuiTest::waitUntil([&] { return (found = dynamic_cast<T*>(top())) != nullptr && !found->isBeingPresented(); });
        return found;
    }
    static bool backAtTheWindow() {
        return GuiTest::waitUntil([] { return top() == app().window()->rootViewController(); });
    }
    static FeaturedViewController* featuredPage() {
        auto* nav = selectTab(ZMVostrelle::FeaturedTab);
        nav->popToRootViewController(false);
        return qobject_cast<FeaturedViewController*>(nav->topViewController());
    }
    // The account page, from the featured page's account button.
    static AccountPlistViewController* accountPage() {
        auto* featured = featuredPage();
        if (!featured) return nullptr;
        UserGesture::click(featured->infoBtn());
        auto* account = qobject_cast<AccountPlistViewController*>(featured->navigationController()->topViewController());
        if (account) GuiTest::waitUntil([&] { return account->isOnScreen(); });
        return account;
    }
    static void tapAccountRow(AccountPlistViewController* account, const char* action) {
        const auto row = ShellTest::rowWithAction(*account, action);
        ASSERT_TRUE(row) << action;
        UserGesture::tapRow(account->tableView(), *row);
    }
    // Signed in from the account page's sign-in row, as a user does.
    static void signIn(const std::string& user, const std::string& password) {
        auto* account = accountPage();
        ASSERT_NE(account, nullptr);
        ASSERT_NO_FATAL_FAILURE(tapAccountRow(account, "signInOut"));
        LoginViewController* login = nullptr;
        ASSERT_TRUE(GuiTest::waitUntil([&] { return (login = dynamic_cast<LoginViewController*>(top())) != nullptr; }));
        UserGesture::type(login->userNameTextField(), QString::fromStdString(user), false);
        UserGesture::type(login->passwordTextField(), QString::fromStdString(password), false);
        UserGesture::click(login->loginBtn());
        ASSERT_TRUE(backAtTheWindow());
        ASSERT_TRUE(GuiTest::waitUntil([] { return ZMAccount::instance().isSignedIn(); }));
    }
    static std::optional<ZMRPackage> package(const std::string& identifier) { return ZMRPackage::objectForPrimaryKey(identifier); }
    static void screenshot(const char* name) {
        // A notification banner would cover the top of the picture.
        if (auto* banner = UNUserNotificationCenter::current().currentBanner()) banner->hide();
        GuiTest::pump(std::chrono::milliseconds(250));
        QDir().mkpath(VOSTRELLE_SCREENSHOT_DIR);
        EXPECT_TRUE(app().window()->grab().toImage().save(QString(VOSTRELLE_SCREENSHOT_DIR "/") + name));
    }

private:
    // What one process keeps between tests: the delegate, the preferences,
    // the package manager, the keychain, the clients' caches, the paths set
    // by other fixtures.
    static void forgetProcessState() {
        ZMVostrelle::resetForTesting();
        VostrellePersistentPreferences::resetForTesting();
        ZMRPackageManager::resetForTesting();
        ZMRepoStoreAPI::sharedRepoStore().resetForTesting();
        resetOnlineClients();
        ZMPaths::resetForTesting();
        ZMLocalization::setLanguage("en");
        ZMLocalization::reload();
    }

    std::map<std::string, std::optional<std::string>> variables_;
};

// One control stanza of a flat repository (Section "Tweaks" unless given, version 1.0).
inline std::string stanza(const std::string& id, const std::string& name, const std::string& maintainer,
                          const std::string& extra = "", const std::string& section = "Tweaks") {
    return "Package: " + id + "\nName: " + name + "\nVersion: 1.0\nSection: " + section + "\nMaintainer: " + maintainer +
           "\nArchitecture: all\nDescription: " + name + " for the dock.\n" + extra + "\n";
}

// The launch with a repository on loopback that the walk adds the way a user
// does: a "vostrelle://add" link on the command line, its plain-http warning
// accepted, then the refresh.
class RepositoryFixture : public Fixture {
protected:
    TestSupport::TempDir repoRoot;
    std::unique_ptr<FlatRepository::FileServer> server;

    // A flat repository at /<directory>/ of the loopback server (one server
    // for all of them), with these stanzas.
    void serveRepository(const std::string& packages, const std::string& origin, const std::string& directory = "repo") {
        std::filesystem::create_directories(repoRoot.path() + "/" + directory);
        FlatRepository::writeIndexesForText(repoRoot.path() + "/" + directory, packages, origin);
        if (!server) server = std::make_unique<FlatRepository::FileServer>(repoRoot.path());
    }
    std::string repository() const { return server->url("repo/"); }
    QStringList addLink() const { return {QString::fromStdString("vostrelle://add/" + repository())}; }

    // The plain-http warning of the link, naming the repository, accepted; then the refresh's packages.
    void acceptTheLinksSource(const std::string& identifier) { Fixture::acceptTheLinksSource(identifier, repository()); }
    // The repository's screen, opened from its row in the Manage tab.
    SubcategoriesViewController* openTheSource() const {
        auto* nav = selectTab(ZMVostrelle::ManageTab);
        auto* manage = qobject_cast<ManageViewController*>(nav->viewControllers().front());
        if (!manage) return nullptr;
        nav->popToRootViewController(false);
        GuiTest::waitUntil([&] { return manage->isOnScreen(); });
        for (int row = 0; row < manage->sourcesTableView()->numberOfRows(0); ++row)
            if (auto* cell = dynamic_cast<SourcesCell*>(manage->sourcesTableView()->cellForRow({0, row})))
                if (cell->sourceLocation == repository()) {
                    UserGesture::tapRow(manage->sourcesTableView(), {0, row});
                    auto* segmented = qobject_cast<SegmentedViewController*>(nav->topViewController());
                    return segmented ? qobject_cast<SubcategoriesViewController*>(segmented->currentViewController()) : nullptr;
                }
        return nullptr;
    }
    // The source page, from the "Source Info" segment of the repository's screen.
    static SourceViewController* openSourceInfo(SubcategoriesViewController* packages) {
        auto* segmented = qobject_cast<SegmentedViewController*>(packages->parentViewController());
        if (!segmented || segmented->segmentedControl()->segment(1)->text() != "Source Info") return nullptr;
        UserGesture::click(segmented->segmentedControl()->segment(1));
        auto* info = qobject_cast<SourceViewController*>(segmented->currentViewController());
        if (!info || !GuiTest::waitUntil([&] { return info->isOnScreen(); })) return nullptr;
        return info;
    }
    // Its packages' own web pages, from now on: the source page's switch, then back to "Categories".
    void showOriginalDepictions(SourceViewController* info) const {
        UserGesture::click(info->seeOriginalDepictionsSwitch);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return ZMRSource::objectForPrimaryKey(repository())->seeOriginalDepictions.value_or(false); }));
        auto* segmented = qobject_cast<SegmentedViewController*>(info->parentViewController());
        ASSERT_NE(segmented, nullptr);
        UserGesture::click(segmented->segmentedControl()->segment(0));
        ASSERT_TRUE(GuiTest::waitUntil([&] { return !info->isOnScreen(); }));
    }
    // The repository's screen, its packages' own web pages shown from now on
    // (its source page's switch turned on on the way); null on a failure.
    SubcategoriesViewController* openTheSourceShowingOriginalDepictions() const {
        auto* packages = openTheSource();
        SourceViewController* info = packages ? openSourceInfo(packages) : nullptr;
        if (!info) return nullptr;
        showOriginalDepictions(info);
        return ::testing::Test::HasFatalFailure() ? nullptr : packages;
    }
    // The screen a click on the package's row in the repository's screen opens.
    static UIViewController* openPackage(SubcategoriesViewController* packages, const std::string& identifier) {
        auto* table = packages->subcategoriesAndPackagesTableView();
        for (int section = 1; section < table->numberOfSections(); ++section)
            for (int row = 0; row < table->numberOfRows(section); ++row)
                if (packages->identifierAt({section, row}) == identifier) {
                    UserGesture::tapRow(table, {section, row});
                    return packages->navigationController()->topViewController();
                }
        return nullptr;
    }
};

}  // namespace Launch
