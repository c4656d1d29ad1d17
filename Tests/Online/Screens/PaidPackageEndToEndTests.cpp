// A new user buys a package, offscreen, with the real web engine, apt-get and
// dpkg against a sandbox root: adds the paid repository from the Manage tab,
// signs in to its store from the source page, taps the package's price, pays
// on the store's page, confirms the queue and finds the package installed;
// then signs in to the Cydia store from Stores and finds both purchases there.
#include <QDir>
#include <filesystem>

#include "Browsing/ManageViewController.h"
#include "Browsing/PackageOpening.h"
#include "Browsing/SourceViewController.h"
#include "Details/PackageDetailsViewController.h"
#include "Keychain/PDKeychainBindings.h"
#include "Online/Screens/CydiaStoreLoginController.h"
#include "Online/Screens/CydiaStoreLoginWebView.h"
#include "Online/Screens/RepoStoreDetailsViewController.h"
#include "Online/Screens/RepoStoresListController.h"
#include "Online/Screens/StoreHeaderView.h"
#include "Online/Screens/WebPageDriver.h"
#include "Online/Screens/ZMStorePages.h"
#include "PackagesConfirmationViewController.h"
#include "Services/ZMRepoStoreAPI.h"
#include "Shell/ShellTestSupport.h"
#include "Support/FakeStores.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UITabBarController.h"
#include "VostrelleBuildPaths.h"
#include "WebViewViewController.h"
#include "ZMPipelineManager.h"

namespace {

class PaidPackageEndToEnd : public ShellTest::Fixture {
protected:
    TestSupport::TempDir repo, work;
    std::unique_ptr<FlatRepository::FileServer> server;
    std::unique_ptr<FakeStores::PaymentAPI> api;
    FakeStores::CydiaStore cydia{{"com.example.paid", "com.example.second"}};

    void SetUp() override {
        Fixture::SetUp();
        PDKeychainBindings::resetForTesting();
        ZMRepoStoreAPI::sharedRepoStore().resetForTesting();
        const auto deb = FlatRepository::buildDeb(work.path(), repo.path(), {"com.example.paid", "1.0", "Name: Paid Tweak\nPrice: $1.99\n", ""});
        FlatRepository::buildDeb(work.path(), repo.path(), {"com.example.second", "1.0", "Name: Second Tweak\nPrice: $0.99\n", ""});
        FlatRepository::writeIndexes(repo.path(), "Paid Repo");
        server = std::make_unique<FlatRepository::FileServer>(repo.path());
        api = std::make_unique<FakeStores::PaymentAPI>(*server, repo.path());
        api->sell("com.example.paid", deb);
        setenv("VOSTRELLE_CYDIA_STORE_URL", cydia.base().c_str(), 1);
    }
    void TearDown() override {
        unsetenv("VOSTRELLE_CYDIA_STORE_URL");
        ZMRepoStoreAPI::sharedRepoStore().resetForTesting();
        Fixture::TearDown();
    }
    UIViewController* top() const { return ZMVostrelle::sharedVostrelle().window()->topPresentedViewController(); }
    void save(const char* file) {
        QDir().mkpath(VOSTRELLE_SCREENSHOT_DIR);
        EXPECT_TRUE(ZMVostrelle::sharedVostrelle().window()->grab().toImage().save(QString(VOSTRELLE_SCREENSHOT_DIR "/") + file));
    }
    // The store page ZMStorePages opened last, once it shows the element.
    QWebEnginePage* storePage(const QString& element) {
        QPointer<WebViewViewController> web;
        EXPECT_TRUE(GuiTest::waitUntil([&] { return (web = ZMStorePages::shared().pageScreen(ZMStorePages::shared().lastPage())); },
                                       std::chrono::seconds(30)));
        if (!web || !WebPageDriver::waitForElement(web->page(), element)) return nullptr;
        return web->page();
    }
    bool installedInSandbox(const std::string& package) const {
        const std::string text = TestSupport::readFile(env.targetRoot() + "/var/lib/dpkg/status");
        auto at = text.find("Package: " + package + "\n");
        return at != std::string::npos && text.substr(at, text.find("\n\n", at) - at).find("Status: install ok installed") != std::string::npos;
    }
};

TEST_F(PaidPackageEndToEnd, BuyInstallAndFindThePurchasesInTheStores) {
    const std::string location = server->url();
    auto& d = ZMVostrelle::sharedVostrelle();
    d.applicationDidFinishLaunching();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return d.backgroundLaunchWorkDone(); }, std::chrono::seconds(30)));
    prefs().setValue(VostrellePreferenceKey::SetupDone, true);
    ZMRSources::setReachabilityHook([] { return true; });
    d.window()->resize(480, 900);
    auto* nav = qobject_cast<UINavigationController*>(d.tabBarController()->viewControllers()[ZMVostrelle::ManageTab]);
    auto* manage = qobject_cast<ManageViewController*>(nav->viewControllers().front());
    d.tabBarController()->setSelectedIndex(ZMVostrelle::ManageTab);

    // Add the repository (plain http on loopback: after the warning).
    manage->addSource();
    GuiTest::pump();
    auto* formNav = dynamic_cast<UINavigationController*>(top());
    ASSERT_NE(formNav, nullptr);
    QPointer<SourceViewController> form = dynamic_cast<SourceViewController*>(formNav->topViewController());
    form->sourceUrlTextField->setText(QString::fromStdString(location));
    form->editingDidEnd();
    GuiTest::pump();
    auto* warning = dynamic_cast<ErrorViewController*>(top());
    ASSERT_NE(warning, nullptr);
    warning->otherBtn()->click();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return form->repoStoreContainer->isVisible(); }, std::chrono::seconds(60)))
        << "the refresh finds the store";
    EXPECT_EQ(ZMRSource::objectForPrimaryKey(location)->endpoint, api->endpoint());

    // Sign in on the store's own page.
    EXPECT_EQ(form->repoStoreLogInOutButton->text(), "Login");
    form->repoStoreLogInOutButton->click();
    auto* signin = storePage("password");
    ASSERT_NE(signin, nullptr);
    save("store-signin.png");
    WebPageDriver::run(signin, "document.getElementById('user').value = 'jane';"
                               "document.getElementById('password').value = 'secret';"
                               "document.getElementById('signin').click();");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return form->repoStoreLogInOutButton->text() == "Logout"; }, std::chrono::seconds(60)));
    form->dismissVC();
    GuiTest::pump();

    // The package's price buys it on the store's page.
    auto* details = dynamic_cast<PackageDetailsViewController*>(
        PackageOpening::viewControllerForPackage(fetch("com.example.paid")));
    ASSERT_NE(details, nullptr);
    nav->pushViewController(details, false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return details->isOnScreen(); }));
    // The page asked the store: its price on the Get button.
    ASSERT_TRUE(GuiTest::waitUntil([&] { return details->getBtn()->text() == "$1.99"; }, std::chrono::seconds(20)))
        << details->getBtn()->text().toStdString();
    // (the record's own Price may show first, before the store's answer)
    EXPECT_TRUE(GuiTest::waitUntil([&] { return server->count("pay/package/com.example.paid/info") >= 1u; },
                                   std::chrono::seconds(20)));
    details->getBtn()->click();
    auto* checkout = storePage("pay");
    ASSERT_NE(checkout, nullptr);
    WebPageDriver::run(checkout, "document.getElementById('pay').click();");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return fetch("com.example.paid").isInTheQueue.value_or(false); }, std::chrono::seconds(60)));
    EXPECT_TRUE(fetch("com.example.paid").isPaidThroughSileo.value_or(false));

    // Confirm the queue; the archive comes from the store's one-time address.
    d.presentQueue();
    auto* queueNav = dynamic_cast<UINavigationController*>(top());
    ASSERT_NE(queueNav, nullptr);
    QPointer<PackagesConfirmationViewController> queue = dynamic_cast<PackagesConfirmationViewController*>(queueNav->topViewController());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return queue && !queue->isResolving(); }, std::chrono::seconds(60)));
    ASSERT_TRUE(queue->confirmButton()->isEnabled());
    queue->confirmButton()->click();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return installedInSandbox("com.example.paid"); }, std::chrono::seconds(120)));
    EXPECT_EQ(server->count("pay/package/com.example.paid/authorize_download"), 1u);
    ASSERT_TRUE(GuiTest::waitUntil([] { return ZMPipelineManager::sharedManager().liveTaskCount() == 0; }, std::chrono::seconds(30)));
    if (auto* presented = d.window()->rootViewController()->presentedViewController()) presented->dismissViewController(false);
    GuiTest::pump();

    // Stores: the repository's store lists what was bought.
    nav->popToRootViewController(false);
    manage->openCommercialStores();
    auto* list = dynamic_cast<RepoStoresListController*>(nav->topViewController());
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return list->tableView()->numberOfRows(0) == 2 && list->hasVendorInfoForSourceLocation(location); }));
    list->didSelectRow(list->tableView(), {0, 0});
    auto* store = dynamic_cast<RepoStoreDetailsViewController*>(nav->topViewController());
    ASSERT_NE(store, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return store->tableView()->numberOfRows(0) == 1 && store->messageText().isEmpty(); }));
    GuiTest::pump(std::chrono::milliseconds(200));
    save("store-details.png");
    nav->popViewController(false);

    // Stores → Cydia Store → Login: both purchases are owned.
    list->didSelectRow(list->tableView(), {0, 1});
    auto* cydiaPage = dynamic_cast<RepoStoreDetailsViewController*>(nav->topViewController());
    ASSERT_TRUE(cydiaPage && cydiaPage->isCydiaStore());
    cydiaPage->headerView()->button()->click();
    auto* sheet = dynamic_cast<UINavigationController*>(cydiaPage->presentedViewController());
    ASSERT_NE(sheet, nullptr);
    auto* login = dynamic_cast<CydiaStoreLoginController*>(sheet->topViewController());
    ASSERT_NE(login, nullptr);
    ASSERT_TRUE(WebPageDriver::waitForElement(login->webView()->page(), "password"));
    WebPageDriver::run(login->webView()->page(), "document.getElementById('email').value = 'jane@example.org';"
                                                 "document.getElementById('password').value = 'pw';"
                                                 "document.getElementById('login').click();");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return cydiaPage->tableView()->numberOfRows(0) == 2 && cydiaPage->isSignedIn(); },
                                   std::chrono::seconds(60)));
    EXPECT_TRUE(fetch("com.example.second").isPaidThroughCydia.value_or(false));
    login->dismiss();
    GuiTest::pump(std::chrono::milliseconds(200));
    EXPECT_EQ(cydiaPage->headerView()->button()->text(), "Logout");
    save("cydia-store.png");
    ZMRSources::setReachabilityHook(nullptr);
}

}  // namespace
