// Signing in and the account page, as the user reaches them from the
// featured page: the login screen's failures and its two ways on, the header
// before and after signing in and out, the backup choice by account group,
// the restoration's findings and its screen.
#include <filesystem>

#include "App/ZMApplication.h"
#include "Browsing/FeaturedViewController.h"
#include "Browsing/OnlineScreens.h"
#include "Browsing/PackagesWishlistViewController.h"
#include "InitViewController.h"
#include "LocalAuthentication/LAContext.h"
#include "Online/Screens/AccountPlistViewController.h"
#include "Online/Screens/InAppBrowser.h"
#include "Online/Screens/LoginViewController.h"
#include "Online/Screens/OnlineScreensFixture.h"
#include "Online/Screens/VostrelleSetupRestorationViewController.h"
#include "Services/ZMAccount.h"
#include "Services/ZMMakerAPI.h"
#include "Services/ZMSetupBackup.h"
#include "Online/Screens/RepoStoresListController.h"
#include "UIKit/UIApplication.h"
#include "UIKit/UITabBarController.h"
#include "WebViewViewController.h"

namespace {

class AccountTest : public OnlineScreensTest::Fixture {
protected:
    AccountPlistViewController* account = nullptr;
    UINavigationController* nav = nullptr;

    // The delegate's window, and the account page pushed on the featured tab.
    void openAccount() {
        auto& d = ZMVostrelle::sharedVostrelle();
        ZMApplication::applicationDidFinishLaunching();
        ASSERT_TRUE(GuiTest::waitUntil([&] { return d.backgroundLaunchWorkDone(); }, std::chrono::seconds(20)));
        d.window()->resize(430, 860);
        nav = qobject_cast<UINavigationController*>(d.tabBarController()->viewControllers()[ZMVostrelle::FeaturedTab]);
        auto* featured = qobject_cast<FeaturedViewController*>(nav->viewControllers().front());
        ASSERT_NE(featured, nullptr);
        featured->accountInformations();
        account = qobject_cast<AccountPlistViewController*>(nav->topViewController());
        ASSERT_NE(account, nullptr);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return account->isOnScreen(); }));
    }
    void performRow(const std::string& operation) { ASSERT_TRUE(account->performAction(operation)); }
    std::string popupTitle() {
        auto* popup = presented<ErrorViewController>();
        return popup ? popup->titleLbl()->text().toStdString() : "";
    }
    void tapOther() {
        auto* popup = presented<ErrorViewController>();
        ASSERT_NE(popup, nullptr);
        popup->otherBtn()->click();
        GuiTest::pump();
    }
    static void signIn(LoginViewController* login, const char* user, const char* password) {
        login->userNameTextField()->setText(user);
        login->passwordTextField()->setText(password);
        login->loginBtn()->click();
    }
};

TEST_F(AccountTest, FailedSignInsSayWhyWithTheClientsMessage) {
    ZMMakerAPI::setRequestTimeLimit(0.5);
    struct Case {
        const char* user;
        const char* password;
        bool silent;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"", "", false, "You have to fill in both username and password"},
        {"ada", "wrong", false, "Incorrect password. Please try again."},
        {"bob", "x", false, "The requested user 'bob' could not be found."},
        {"ada", "secret", true, ""},  // no answer: the description of the failure
    };
    auto* login = new LoginViewController;
    show(login);
    EXPECT_EQ(login->passwordTextField()->echoMode(), QLineEdit::Password);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.user);
        if (c.silent) maker->setBehaviour("login/login.php", {.hold = true});
        signIn(login, c.user, c.password);
        auto* alert = presented<UIAlertController>(std::chrono::seconds(5));
        ASSERT_NE(alert, nullptr);
        EXPECT_EQ(alert->alertTitle(), "Unable to login");
        if (*c.message) EXPECT_EQ(alert->message(), c.message);
        else EXPECT_FALSE(alert->message().isEmpty());
        EXPECT_EQ(alert->actions().at(1).title, "Forgot");
        dismissTop();
    }
    EXPECT_EQ(maker->count("login/login.php"), 3u);  // the empty fields sent nothing
    EXPECT_FALSE(ZMAccount::instance().isSignedIn());
    maker->releaseHeld("login/login.php");
    ZMMakerAPI::setRequestTimeLimit(std::nullopt);
}

TEST_F(AccountTest, SigningInDuringTheFirstRunLeadsToTheImport) {
    auto* login = new LoginViewController;
    show(new UIViewController)->presentViewController(login, false);
    signIn(login, "ada", "secret");
    EXPECT_NE(presented<RepoTransferViewController>(), nullptr);
    EXPECT_TRUE(ZMAccount::instance().isSignedIn());
}

TEST_F(AccountTest, TheHeaderFollowsSigningInAndOutAndTheRowsLeadOn) {
    TestSupport::TempDir files;
    QImage avatar(40, 40, QImage::Format_RGB32);
    avatar.fill(Qt::magenta);
    avatar.save(QString::fromStdString(files.file("ada.png")), "PNG");
    FlatRepository::FileServer server(files.path());
    maker->addAccount({"ada", "secret", 12, "ada@example.com", server.url("ada.png")});
    openAccount();
    // Signed out: the placeholders.
    EXPECT_EQ(account->accountNameLabel()->text(), "Account Name");
    EXPECT_EQ(account->accountEmailLabel()->text(), "Account Email");
    EXPECT_FALSE(account->showsAvatar());
    EXPECT_EQ(account->signInOutButtonTitle(), "Sign In");

    performRow("signInOut");
    auto* login = presented<LoginViewController>();
    ASSERT_NE(login, nullptr);
    signIn(login, "ada", "secret");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return account->accountNameLabel()->text() == "ada"; }));
    EXPECT_EQ(account->accountEmailLabel()->text(), "ada@example.com");
    EXPECT_EQ(account->signInOutButtonTitle(), "Sign Out");
    EXPECT_TRUE(GuiTest::waitUntil([&] { return account->showsAvatar(); }));
    EXPECT_EQ(top(), ZMVostrelle::sharedVostrelle().window()->rootViewController());

    // Signing out: the placeholders; the avatar stays until the page is made again.
    performRow("signInOut");
    EXPECT_FALSE(ZMAccount::instance().isSignedIn());
    EXPECT_EQ(account->accountNameLabel()->text(), "Account Name");
    EXPECT_EQ(account->accountEmailLabel()->text(), "Account Email");
    EXPECT_TRUE(account->showsAvatar());

    // Empty wishlist and no followed developers: their popups; then the lists.
    performRow("openWishlist");
    EXPECT_EQ(popupTitle(), "Packages Wishlist");
    dismissTop();
    performRow("openFollowed");
    EXPECT_EQ(popupTitle(), "Followed Developers");
    dismissTop();
    auto wished = ShellTest::makePackage("com.wish", "Wish");
    wished.isInWishlist = true;
    store({wished});
    performRow("openWishlist");
    EXPECT_NE(qobject_cast<PackagesWishlistViewController*>(nav->topViewController()), nullptr);
    nav->popViewController(false);
    performRow("openCommercialStores");
    EXPECT_NE(qobject_cast<RepoStoresListController*>(nav->topViewController()), nullptr);
    nav->popViewController(false);

    // Outside links open in the in-app browser only; nothing goes to other programs.
    int handedOut = 0;
    UIApplication::setURLOpener([&](const QUrl&) { return ++handedOut > 0; });
    for (const char* link : {"openGithubIssues", "openDiscordJoin", "openCroudinProject", "openTwitter", "openZemtrixWebsite"}) {
        performRow(link);
        auto* browser = InAppBrowser::lastPresented();
        ASSERT_NE(browser, nullptr);
        EXPECT_EQ(browser->websiteURL().scheme(), "https");
        dismissTop();
    }
    UIApplication::setURLOpener(nullptr);
    EXPECT_EQ(handedOut, 0);
}

TEST_F(AccountTest, TheBackupIsOnlineForGroupFiveAndLocalOtherwise) {
    maker->addAccount({"five", "pw", 21, "f@example.com", "", "5", "2"});
    maker->addAccount({"fifteen", "pw", 22, "g@example.com", "", "2", "15"});
    storeSource("https://one.example/", "One");
    openAccount();
    ASSERT_TRUE(maker->signIn("five", "pw"));
    performRow("createBackup");
    EXPECT_EQ(popupTitle(), "Vostrelle Setup Backup");
    tapOther();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return maker->setup(21).has_value(); }));
    EXPECT_EQ(maker->setup(21)->at("sources"), nlohmann::json::array({"https://one.example/"}));
    EXPECT_TRUE(GuiTest::waitUntil([&] { return popupTitle() == "Vostrelle Setup Backup"; }));  // its outcome
    dismissTop();

    ASSERT_TRUE(maker->signIn("fifteen", "pw"));
    performRow("createBackup");
    EXPECT_EQ(popupTitle(), "Database Backup");
    tapOther();
    auto* done = presented<ErrorViewController>();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return (done = presented<ErrorViewController>()) && done->titleLbl()->text() == "Local Setup Backup"; }));
    EXPECT_EQ(done->messageLbl()->text().toStdString(), "Backup successfully done! You can find it in " + ZMSetupBackup::localBackupPath());
    EXPECT_TRUE(std::filesystem::exists(ZMSetupBackup::localBackupPath()));
}

TEST_F(AccountTest, RestorationFindingsAndTheScreensEdgeCases) {
    maker->addAccount({"prem", "pw", 31, "p@example.com", "", "5", ""});
    storeSource("https://one.example/", "One");
    store({ShellTest::makePackage("com.local", "Local")});
    openAccount();
    auto restore = [&](const nlohmann::json& document) {
        TestSupport::writeFile(ZMSetupBackup::localBackupPath(), document.dump());
        performRow("openBackup");
    };
    // Sources only, all configured: "Show" opens the screen with nothing selected.
    restore({{"sources", {"https://one.example/", "http://one.example"}}});
    auto* popup = presented<ErrorViewController>();
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->messageLbl()->text(), "All items in this backup are already installed, do you want to view the backup anyways?");
    tapOther();
    auto* screen = qobject_cast<VostrelleSetupRestorationViewController*>(nav->topViewController());
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(screen->selectedSourcesLabel()->text(), "Selected (0)");
    // The packages table's placeholder row does nothing.
    screen->didSelectRow(screen->packagesTableView(), {0, 0});
    EXPECT_TRUE(screen->packagesToRestoreDict().empty());
    // A plain-http source configured already (here under https) is not added
    // again: ticked, it asks nothing and the restoration runs.
    screen->didSelectRow(screen->sourcesTableView(), {0, 0});
    ASSERT_EQ(screen->sourcesToRestoreDict().at("http://one.example"), true);
    screen->restoreVostrelleSetup();
    presented<UIAlertController>()->performAction(0);  // "Restore now"
    EXPECT_TRUE(GuiTest::waitUntil([&] { return nav->topViewController() == account; }))
        << (popupTitle().empty() ? "still on the screen" : "asked: " + popupTitle());
    EXPECT_FALSE(ZMRSource::objectForPrimaryKey("http://one.example/"));
    if (nav->topViewController() != account) nav->popViewController(false);

    restore({{"sources", nlohmann::json::array()}, {"packages", nlohmann::json::array()}});
    EXPECT_EQ(popupTitle(), "Vostrelle Setup Restoration");
    EXPECT_EQ(presented<ErrorViewController>()->messageLbl()->text(), "This backup is empty");
    dismissTop();

    // Only packages selected: queued, and the screen closes at once.
    restore({{"packages", {"com.local"}}});
    ASSERT_TRUE(GuiTest::waitUntil([&] { return qobject_cast<VostrelleSetupRestorationViewController*>(nav->topViewController()); }));
    screen = qobject_cast<VostrelleSetupRestorationViewController*>(nav->topViewController());
    // With authentication on and no usable checker: the alert, and nothing changes.
    struct Unusable : LAAuthenticator {
        bool isUsable() override { return false; }
        bool verify(const std::string&) override { return false; }
    };
    LAContext::setAuthenticatorForTesting(std::make_shared<Unusable>());
    prefs().setValue(VostrellePreferenceKey::AuthenticationForPackagesManagementTasks, true);
    screen->restoreVostrelleSetup();
    presented<UIAlertController>()->performAction(0);  // "Restore now"
    auto* refusal = presented<UIAlertController>();
    ASSERT_NE(refusal, nullptr);
    EXPECT_EQ(refusal->alertTitle(), "Vostrelle Authentication");
    EXPECT_TRUE(refusal->message().contains("login password")) << refusal->message().toStdString();
    dismissTop();
    EXPECT_FALSE(ZMRPackage::objectForPrimaryKey("com.local")->isInTheQueue.value_or(false));
    prefs().setValue(VostrellePreferenceKey::AuthenticationForPackagesManagementTasks, false);
    LAContext::setAuthenticatorForTesting(nullptr);
    screen->restoreVostrelleSetup();
    presented<UIAlertController>()->performAction(0);
    EXPECT_TRUE(GuiTest::waitUntil([] { return ZMRPackage::objectForPrimaryKey("com.local")->isInTheQueue.value_or(false); }));
    EXPECT_TRUE(GuiTest::waitUntil([&] { return nav->topViewController() == account; }));

    // A premium account restores from the server and never reads the local file.
    ASSERT_TRUE(maker->signIn("prem", "pw"));
    maker->setSetup(31, {{"sources", nlohmann::json::array()}, {"packages", {"com.server"}}});
    restore({{"packages", {"com.from.file"}}});
    ASSERT_TRUE(GuiTest::waitUntil([&] { return qobject_cast<VostrelleSetupRestorationViewController*>(nav->topViewController()); }));
    screen = qobject_cast<VostrelleSetupRestorationViewController*>(nav->topViewController());
    EXPECT_EQ(screen->packagesToRestoreDict(), (std::map<std::string, bool>{{"com.server", true}}));
    EXPECT_EQ(maker->count("setup/retrievesetup.php"), 1u);
}

// Plain http asks first; "Restore now" runs once; the page may be left while
// its refreshes run and the packages are still queued.
TEST_F(AccountTest, ARestorationOfAPlainHttpSourceAsksRunsOnceAndOutlivesItsScreen) {
    TestSupport::TempDir repoRoot, work;
    const std::string dir = repoRoot.path() + "/repo";
    std::filesystem::create_directories(dir);
    FlatRepository::buildDeb(work.path(), dir, {"com.restored", "1.0", "Name: Restored\n"});
    FlatRepository::writeIndexes(dir);
    FlatRepository::FileServer server(repoRoot.path());
    prefs().setValue(VostrellePreferenceKey::SetupDone, true);
    openAccount();
    TestSupport::writeFile(ZMSetupBackup::localBackupPath(),
                           nlohmann::json{{"sources", {server.url("repo/")}}, {"packages", {"com.restored"}}}.dump());
    performRow("openBackup");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return qobject_cast<VostrelleSetupRestorationViewController*>(nav->topViewController()); }));
    auto* screen = qobject_cast<VostrelleSetupRestorationViewController*>(nav->topViewController());
    screen->restoreVostrelleSetup();
    presented<UIAlertController>()->performAction(0);
    auto* warning = presented<ErrorViewController>();
    ASSERT_NE(warning, nullptr);
    EXPECT_EQ(warning->titleLbl()->text(), "Warning");
    EXPECT_FALSE(ZMRSource::objectForPrimaryKey(server.url("repo/")));
    warning->otherBtn()->click();  // "Continue"
    ASSERT_TRUE(GuiTest::waitUntil([&] { return screen->isRestoring(); }));
    EXPECT_FALSE(screen->restoreButton()->isEnabled());
    screen->restoreVostrelleSetup();
    EXPECT_EQ(dynamic_cast<UIAlertController*>(top()), nullptr);  // a second run is not offered
    nav->popViewController(false);
    EXPECT_TRUE(GuiTest::waitUntil(
        [] {
            auto p = ZMRPackage::objectForPrimaryKey("com.restored");
            return p && p->isInTheQueue.value_or(false);
        },
        std::chrono::seconds(30)));
}

}  // namespace
