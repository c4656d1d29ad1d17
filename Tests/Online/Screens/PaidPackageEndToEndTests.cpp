// A new user buys a package, offscreen, with the real web engine, apt-get and
// dpkg against a sandbox root, by clicking from the application's window:
// adds the paid repository from the Manage tab, signs in to its store from
// the source page, opens the package from the repository's list, taps its
// price, pays on the store's page, confirms the queue from the status display
// and finds the package installed; then, from the account page's stores,
// signs in to the Cydia store and finds both purchases listed as owned.
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <filesystem>

#include "App/ZMApplication.h"
#include "Browsing/FeaturedViewController.h"
#include "Browsing/ManageViewController.h"
#include "Browsing/SourceViewController.h"
#include "Browsing/SourcesCell.h"
#include "Browsing/SubcategoriesViewController.h"
#include "Details/PackageDetailsViewController.h"
#include "Keychain/PDKeychainBindings.h"
#include "Online/Screens/AccountPlistViewController.h"
#include "Online/Screens/CydiaStoreLoginController.h"
#include "Online/Screens/CydiaStoreLoginWebView.h"
#include "Online/Screens/RepoStoreDetailsViewController.h"
#include "Online/Screens/RepoStoresListController.h"
#include "Online/Screens/StoreHeaderView.h"
#include "Online/Screens/WebPageDriver.h"
#include "Online/Screens/ZMStorePages.h"
#include "PackagesConfirmationViewController.h"
#include "SearchCell.h"
#include "SegmentedViewController.h"
#include "ZMTabBarStatusView.h"
#include "Services/ZMRepoStoreAPI.h"
#include "Shell/ShellTestSupport.h"
#include "Support/FakeStores.h"
#include "Support/Gui/UserGestures.h"
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
    static QWebEnginePage* storePage(const QString& element) { return WebPageDriver::lastStorePage(element); }
    bool installedInSandbox(const std::string& package) const {
        const std::string text = TestSupport::readFile(env.targetRoot() + "/var/lib/dpkg/status");
        auto at = text.find("Package: " + package + "\n");
        return at != std::string::npos && text.substr(at, text.find("\n\n", at) - at).find("Status: install ok installed") != std::string::npos;
    }
};

TEST_F(PaidPackageEndToEnd, BuyInstallAndFindThePurchasesInTheStores) {
    using namespace UserGesture;
    const std::string location = server->url();
    auto& d = ZMVostrelle::sharedVostrelle();
    EXPECT_TRUE(ZMApplication::start({})) << "the launch main() runs";
    ASSERT_TRUE(GuiTest::waitUntil([&] { return d.backgroundLaunchWorkDone(); }, std::chrono::seconds(30)));
    prefs().setValue(VostrellePreferenceKey::SetupDone, true);
    ZMRSources::setReachabilityHook([] { return true; });
    d.window()->resize(480, 900);
    QGuiApplication::clipboard()->clear();  // nothing to offer from the clipboard
    auto* nav = qobject_cast<UINavigationController*>(d.tabBarController()->viewControllers()[ZMVostrelle::ManageTab]);
    auto* manage = qobject_cast<ManageViewController*>(nav->viewControllers().front());
    tapTab(d.tabBarController(), ZMVostrelle::ManageTab);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return manage->isOnScreen(); }));

    // Add the repository (plain http on loopback: after the warning).
    tapBarButton(manage, "Add");
    auto* formNav = dynamic_cast<UINavigationController*>(top());
    ASSERT_NE(formNav, nullptr);
    QPointer<SourceViewController> form = dynamic_cast<SourceViewController*>(formNav->topViewController());
    ASSERT_NE(form, nullptr);
    type(form->sourceUrlTextField, QString::fromStdString(location));
    auto* warning = dynamic_cast<ErrorViewController*>(top());
    ASSERT_NE(warning, nullptr);
    EXPECT_EQ(warning->titleLbl()->text(), "Warning");
    click(warning->otherBtn());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return form->repoStoreContainer->isVisible(); }, std::chrono::seconds(60)))
        << "the refresh finds the store";
    EXPECT_EQ(ZMRSource::objectForPrimaryKey(location)->endpoint, api->endpoint());

    // Login on the source page; sign in on the store's own page.
    EXPECT_EQ(form->repoStoreLogInOutButton->text(), "Login");
    click(form->repoStoreLogInOutButton);
    auto* signin = storePage("password");
    ASSERT_NE(signin, nullptr);
    save("store-signin.png");
    WebPageDriver::run(signin, "document.getElementById('user').value = 'jane';"
                               "document.getElementById('password').value = 'secret';"
                               "document.getElementById('signin').click();");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return form->repoStoreLogInOutButton->text() == "Logout"; }, std::chrono::seconds(60)));
    tapBarButton(form, "Close");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return top() == d.window()->rootViewController(); }));

    // The repository's row opens its packages; the paid one opens its page.
    int sourceRow = -1;
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        for (int row = 0; row < manage->sourcesTableView()->numberOfRows(0); ++row)
            if (auto* cell = dynamic_cast<SourcesCell*>(manage->sourcesTableView()->cellForRow({0, row})))
                if (cell->sourceLocation == location && cell->nameLbl->text() == "Paid Repo") sourceRow = row;
        return sourceRow >= 0;
    }, std::chrono::seconds(10)));
    tapRow(manage->sourcesTableView(), {0, sourceRow});
    auto* segmented = dynamic_cast<SegmentedViewController*>(nav->topViewController());
    ASSERT_NE(segmented, nullptr);
    auto* packages = dynamic_cast<SubcategoriesViewController*>(segmented->currentViewController());
    ASSERT_NE(packages, nullptr);
    std::optional<IndexPath> paidRow;
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        auto* table = packages->subcategoriesAndPackagesTableView();
        for (int section = 1; section < table->numberOfSections() && !paidRow; ++section)
            for (int row = 0; row < table->numberOfRows(section); ++row)
                if (packages->identifierAt({section, row}) == "com.example.paid") paidRow = IndexPath{section, row};
        return paidRow.has_value();
    }, std::chrono::seconds(10)));
    tapRow(packages->subcategoriesAndPackagesTableView(), *paidRow);
    auto* details = dynamic_cast<PackageDetailsViewController*>(nav->topViewController());
    ASSERT_NE(details, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return details->isOnScreen(); }));
    // The page asked the store: its price on the Get button (the record's own
    // Price may show first, before the store's answer).
    ASSERT_TRUE(GuiTest::waitUntil([&] { return details->getBtn()->text() == "$1.99"; }, std::chrono::seconds(20)))
        << details->getBtn()->text().toStdString();
    EXPECT_TRUE(GuiTest::waitUntil([&] { return server->count("pay/package/com.example.paid/info") >= 1u; },
                                   std::chrono::seconds(20)));

    // The price buys it on the store's page.
    click(details->getBtn());
    auto* checkout = storePage("pay");
    ASSERT_NE(checkout, nullptr);
    WebPageDriver::run(checkout, "document.getElementById('pay').click();");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return fetch("com.example.paid").isInTheQueue.value_or(false); }, std::chrono::seconds(60)));
    EXPECT_TRUE(fetch("com.example.paid").isPaidThroughSileo.value_or(false));

    // The status display opens the queue; confirming it installs the archive
    // that the store's one-time address serves.
    auto* queue = ShellTest::openTheQueue(d);
    ASSERT_NE(queue, nullptr);
    click(queue->confirmButton());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return installedInSandbox("com.example.paid"); }, std::chrono::seconds(120)));
    EXPECT_EQ(server->count("pay/package/com.example.paid/authorize_download"), 1u);
    ASSERT_TRUE(GuiTest::waitUntil([] { return ZMPipelineManager::sharedManager().liveTaskCount() == 0; }, std::chrono::seconds(30)));
    if (auto* tasks = dynamic_cast<UINavigationController*>(top())) tapBarButton(tasks->topViewController(), "Close");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return top() == d.window()->rootViewController(); }));

    // The account page's "Commercial Stores": the repository's store lists what was bought.
    auto* featuredNav = qobject_cast<UINavigationController*>(d.tabBarController()->viewControllers()[ZMVostrelle::FeaturedTab]);
    tapTab(d.tabBarController(), ZMVostrelle::FeaturedTab);
    auto* featured = qobject_cast<FeaturedViewController*>(featuredNav->viewControllers().front());
    ASSERT_NE(featured, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return featured->isOnScreen(); }));
    click(featured->infoBtn());
    auto* account = qobject_cast<AccountPlistViewController*>(featuredNav->topViewController());
    ASSERT_NE(account, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return account->isOnScreen(); }));
    const auto storesRow = ShellTest::rowWithAction(*account, "openCommercialStores");
    ASSERT_TRUE(storesRow);
    tapRow(account->tableView(), *storesRow);
    auto* list = dynamic_cast<RepoStoresListController*>(featuredNav->topViewController());
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return list->tableView()->numberOfRows(0) == 2 && list->hasVendorInfoForSourceLocation(location); }));
    tapRow(list->tableView(), {0, 0});
    auto* store = dynamic_cast<RepoStoreDetailsViewController*>(featuredNav->topViewController());
    ASSERT_NE(store, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return store->tableView()->numberOfRows(0) == 1 && store->messageText().isEmpty(); }));
    EXPECT_EQ(store->headerView()->button()->text(), "Logout");
    save("store-details.png");
    click(featuredNav->navigationBar()->backButton());
    ASSERT_EQ(featuredNav->topViewController(), list);

    // Stores → Cydia Store → Login: both purchases are owned.
    tapRow(list->tableView(), {0, 1});
    auto* cydiaPage = dynamic_cast<RepoStoreDetailsViewController*>(featuredNav->topViewController());
    ASSERT_TRUE(cydiaPage && cydiaPage->isCydiaStore());
    EXPECT_EQ(cydiaPage->headerView()->button()->text(), "Login");
    click(cydiaPage->headerView()->button());
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
    tapBarButton(login, "Done");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return cydiaPage->presentedViewController() == nullptr; }));
    std::vector<std::string> owned;
    for (int row = 0; row < 2; ++row)
        if (auto* cell = dynamic_cast<SearchCell*>(cydiaPage->tableView()->cellForRow({0, row})))
            owned.push_back(cell->nameLbl()->text().toStdString());
    EXPECT_EQ(owned, (std::vector<std::string>{"Paid Tweak", "Second Tweak"}));
    EXPECT_TRUE(fetch("com.example.paid").isPaidThroughCydia.value_or(false));
    EXPECT_TRUE(fetch("com.example.second").isPaidThroughCydia.value_or(false));
    EXPECT_EQ(cydiaPage->headerView()->button()->text(), "Logout");
    save("cydia-store.png");
    ZMRSources::setReachabilityHook(nullptr);
}

}  // namespace
