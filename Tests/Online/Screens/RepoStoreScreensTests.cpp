// The store list and a store's page, offscreen, against a fake store.
#include <QDir>

#include "Database/ZMRPackageManager.h"
#include "Notifications/NotificationCenter.h"
#include "Online/Screens/CydiaStoreLoginController.h"
#include "Online/Screens/RepoStoreDetailsViewController.h"
#include "Online/Screens/RepoStoresListController.h"
#include "Online/Screens/StoreHeaderView.h"
#include "Online/Screens/WebPageDriver.h"
#include "Online/Screens/ZMStorePages.h"
#include "WebViewViewController.h"
#include "Online/Services/RepoStoreFixture.h"
#include "SearchCell.h"
#include "Services/ZMCydiaStore.h"
#include "Support/Gui/GuiTestSupport.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIWindow.h"
#include "VostrelleBuildPaths.h"
#include "VostrellePersistentPreferences.h"

namespace {

class StoreScreens : public RepoStoreFixture {
protected:
    std::unique_ptr<UIWindow> window;
    UINavigationController* nav = nullptr;

    void SetUp() override {
        UIView::setAnimationsEnabled(false);
        RepoStoreFixture::SetUp();
        addPackage("com.example.second", location, "$2.99");
        Realm::defaultRealm()->transactionWithBlock([&] {
            auto p = *ZMRPackage::objectForPrimaryKey("com.example.paid");
            p.name = "Paid Tweak", p.maintainer = "Jane Dev";
            Realm::defaultRealm()->addOrUpdate(p);
        });
    }
    void TearDown() override {
        window.reset();
        GuiTest::pump();
        RepoStoreFixture::TearDown();
        UIView::setAnimationsEnabled(true);
    }
    template <class Screen> Screen* show(Screen* screen) {
        nav = new UINavigationController(screen);
        window = std::make_unique<UIWindow>();
        window->resize(420, 760);
        window->setRootViewController(nav);
        window->show();
        EXPECT_TRUE(GuiTest::waitUntil([&] { return screen->isOnScreen(); }));
        return screen;
    }
    static std::vector<std::string> names(UITableView* table) {
        std::vector<std::string> out;
        for (int row = 0; row < table->numberOfRows(0); ++row) {
            table->scrollToRow({0, row}, UITableView::ScrollPosition::None, false);
            auto* cell = qobject_cast<SearchCell*>(table->cellForRow({0, row}));
            out.push_back(cell ? cell->nameLbl()->text().toStdString() : "<message>");
        }
        return out;
    }
    static void save(QWidget* w, const char* file) {
        QDir().mkpath(VOSTRELLE_SCREENSHOT_DIR);
        EXPECT_TRUE(w->grab().toImage().save(QString(VOSTRELLE_SCREENSHOT_DIR "/") + file));
    }
};

TEST_F(StoreScreens, TheListShowsEachStoreWithItsVendorAndTheCydiaStoreLast) {
    // A source without a store is not listed; one whose store fails is, with its own name.
    addSource("https://no-store.example/", "");
    FlatRepository::FileServer broken(dir.path());
    broken.route("pay/info", [](const httplib::Request&, httplib::Response& res) { res.status = 500; });
    addSource(broken.url(), broken.url("pay/"));
    Realm::defaultRealm()->transactionWithBlock([&] {
        for (auto [at, name] : {std::pair{location, "B paid"}, std::pair{broken.url(), "A broken"}}) {
            auto s = *ZMRSource::objectForPrimaryKey(at);
            s.name = name;
            Realm::defaultRealm()->addOrUpdate(s);
        }
    });
    auto* list = show(new RepoStoresListController);
    EXPECT_EQ(list->title(), "Stores");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return list->hasVendorInfoForSourceLocation(location) && list->hasVendorInfoForSourceLocation(broken.url()); }));
    list->tableView()->reloadData();
    EXPECT_EQ(names(list->tableView()), (std::vector<std::string>{"A broken", "Paid Test Store", "Cydia Store"}));
    EXPECT_TRUE(list->tableView()->cellForRow({0, 2})->isSeparatorHidden());
    save(window.get(), "store-list.png");

    // The failed store's page shows why, in red.
    list->didSelectRow(list->tableView(), {0, 0});
    auto* details = dynamic_cast<RepoStoreDetailsViewController*>(nav->topViewController());
    ASSERT_NE(details, nullptr);
    EXPECT_TRUE(details->messageText().startsWith("There was an error while retrieving vendor information"));
    EXPECT_TRUE(details->messageText().contains("(500)"));
    nav->popViewController(false);

    // A refresh ends once every endpoint is stored; the store that lost its endpoint leaves.
    api->update([](auto& s) { s.endpointStatus = 404; });
    broken.route("payment_endpoint", [&broken](const httplib::Request&, httplib::Response& res) {
        res.set_content(broken.url("pay/"), "text/plain");
    });
    list->refreshControl()->triggerByUser();
    EXPECT_TRUE(list->refreshControl()->isRefreshing());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !list->refreshControl()->isRefreshing(); }));
    GuiTest::pump(std::chrono::milliseconds(100));
    EXPECT_EQ(list->tableView()->numberOfRows(0), 2);

    // With no store at all only the Cydia store is left.
    Realm::defaultRealm()->transactionWithBlock([] { Realm::defaultRealm()->deleteObjects(ZMRSource::allObjects()); });
    ASSERT_TRUE(GuiTest::waitUntil([&] { return list->tableView()->numberOfRows(0) == 1; }));
    EXPECT_EQ(names(list->tableView()), std::vector<std::string>{"Cydia Store"});
}

TEST_F(StoreScreens, AStorePageFollowsTheSignInState) {
    RepoStoreVendorRecord record{"Paid Test Store", "", "Sign in", "Sign in to buy tweaks", {}, std::nullopt};
    auto* page = show(new RepoStoreDetailsViewController(location, record));
    auto* header = page->headerView();
    auto labelsShown = [&] { return header->titleLabel()->isVisible() && header->subtitleLabel()->isVisible(); };
    // Signed out: the store's banner and button; a pull ends at once.
    EXPECT_EQ(header->height(), 210);
    EXPECT_FALSE(labelsShown());
    EXPECT_EQ(header->button()->text(), "Sign in");
    EXPECT_EQ(page->messageText(), "Sign in to buy tweaks");
    page->refreshControl()->triggerByUser();
    EXPECT_FALSE(page->refreshControl()->isRefreshing());

    // Signed in through the store's page; the purchases are listed by name.
    api->update([](auto& s) { s.purchased = {"com.example.second", "com.example.paid"}; });
    client.setPageHooks({[this](uint64_t page, const std::string&, const std::string&) {
                             auto s = api->state();
                             client.storeCallbackReceived(page, "sileo://authentication_success?token=" + s.token + "&payment_secret=" + s.secret);
                         },
                         {}});
    header->button()->click();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->tableView()->numberOfRows(0) == 2; }));
    page->refreshUserInfo(false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return header->titleLabel()->text() == "Jane Buyer"; }));
    EXPECT_EQ(header->subtitleLabel()->text(), "jane@example.org");
    EXPECT_EQ(header->height(), RepoStoreDetailsViewController::kSignedInHeaderHeight);
    EXPECT_TRUE(labelsShown());
    EXPECT_EQ(header->button()->text(), "Logout");
    EXPECT_EQ(names(page->tableView()), (std::vector<std::string>{"Paid Tweak", "com.example.second"}));

    // No purchases any more.
    api->update([](auto& s) { s.purchased.clear(); });
    page->refreshUserInfo(false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->messageText() == "You have no purchased packages for this account."; }));

    // Signing out.
    header->button()->click();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return header->button()->text() == "Sign in"; }));
    EXPECT_FALSE(ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(location));
    window.reset();

    // A store whose vendor information failed says so, signed in or not.
    signIn(location);
    RepoStoreVendorRecord failed;
    failed.error = "Vendor info request failed, communication with the server failed (503)";
    page = show(new RepoStoreDetailsViewController(location, failed));
    EXPECT_EQ(page->title(), "User Info");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->hasZeroPackages(); }));
    EXPECT_TRUE(page->messageText().endsWith("Error: (Vendor info request failed, communication with the server failed (503))"));
    auto* banner = page->tableView()->cellForRow({0, 0});
    EXPECT_TRUE(banner->textLabel()->styleSheet().contains(QColor(255, 59, 48).name()));
}

TEST_F(StoreScreens, TheCydiaStorePageFollowsThePreferenceAndItsNotification) {
    setenv("VOSTRELLE_CYDIA_STORE_URL", server->url().c_str(), 1);  // its pages stay on this machine
    struct Unset {
        ~Unset() { unsetenv("VOSTRELLE_CYDIA_STORE_URL"); }
    } unset;
    RepoStoreVendorRecord cydia{"Cydia Store", "", "", "", StoreHeaderView::cydiaStoreIcon(90), std::nullopt};
    auto* page = show(new RepoStoreDetailsViewController(ZMCydiaStore::storeLocation(), cydia));
    EXPECT_TRUE(page->isCydiaStore());
    EXPECT_EQ(page->title(), "Cydia Store");
    EXPECT_EQ(page->refreshControl(), nullptr);
    EXPECT_EQ(page->headerView()->button()->text(), "Login");
    EXPECT_FALSE(page->headerView()->titleLabel()->isVisible());
    EXPECT_EQ(page->messageText(), "You must sign in before you can view your purchased packages.");

    Realm::defaultRealm()->transactionWithBlock([] {
        ZMRPackage::objectsWhere("identifier IN %@", std::vector<std::string>{"com.example.paid", "com.example.second"})
            .setValueForKey("isPaidThroughCydia", true);
    });
    VostrellePersistentPreferences::sharedInstance().setValue("cydiaStoreIsSignedIn", true);
    NotificationCenter::defaultCenter().postOnMain(CydiaStoreSigninStatusDidChange, true);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->tableView()->numberOfRows(0) == 2; }));
    GuiTest::pump();
    EXPECT_EQ(names(page->tableView()), (std::vector<std::string>{"Paid Tweak", "com.example.second"}));
    EXPECT_EQ(page->headerView()->button()->text(), "Logout");
    EXPECT_EQ(page->headerView()->height(), 210);
    // The button still opens the store's own pages.
    page->logInOutButtonPressed();
    auto* sheet = dynamic_cast<UINavigationController*>(page->presentedViewController());
    ASSERT_NE(sheet, nullptr);
    EXPECT_NE(dynamic_cast<CydiaStoreLoginController*>(sheet->topViewController()), nullptr);
}

// The vendor's texts are the server's: markup in them is shown as typed, never read.
TEST_F(StoreScreens, TheVendorsTextsAreShownAsTyped) {
    const std::string name = "<b>Bold</b> Store", tagline = "<img src=\"file:///etc/passwd\">cheap",
                      message = "<a href=\"javascript:steal()\">Sign in</a> first";
    api->update([&](auto& s) {
        s.vendor = {{"name", name}, {"description", tagline}, {"authentication_banner", {{"message", message}, {"button", "Go"}}}};
    });
    auto* list = show(new RepoStoresListController);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return list->hasVendorInfoForSourceLocation(location); }));
    list->tableView()->reloadData();
    auto* row = qobject_cast<SearchCell*>(list->tableView()->cellForRow({0, 0}));
    ASSERT_NE(row, nullptr);
    auto shownAsTyped = [](QLabel* label, const std::string& text) {
        return label && label->text() == QString::fromStdString(text) && label->textFormat() == Qt::PlainText;
    };
    EXPECT_TRUE(shownAsTyped(row->nameLbl(), name)) << row->nameLbl()->text().toStdString();
    list->didSelectRow(list->tableView(), {0, 0});
    auto* page = dynamic_cast<RepoStoreDetailsViewController*>(nav->topViewController());
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->title(), QString::fromStdString(name));
    EXPECT_TRUE(shownAsTyped(page->tableView()->cellForRow({0, 0})->textLabel(), message));
}

// Without any icon theme every bar icon still draws; signing in on the
// store's own page shows the user at once, without a reopen or a pull.
TEST_F(StoreScreens, SigningInShowsTheUserAtOnceAndEveryIconDraws) {
    const QStringList paths = QIcon::themeSearchPaths(), fallbackPaths = QIcon::fallbackSearchPaths();
    const QString theme = QIcon::themeName(), fallback = QIcon::fallbackThemeName();
    QIcon::setThemeSearchPaths({});
    QIcon::setFallbackSearchPaths({});
    QIcon::setThemeName("no-such-theme");
    QIcon::setFallbackThemeName("no-such-theme");
    struct Restore {
        std::function<void()> f;
        ~Restore() { f(); }
    } restore{[&] {
        QIcon::setThemeSearchPaths(paths);
        QIcon::setFallbackSearchPaths(fallbackPaths);
        QIcon::setThemeName(theme);
        QIcon::setFallbackThemeName(fallback);
    }};
    auto drawn = [](UIBarButtonItem* item) { return item && !item->icon().pixmap(24, 24).isNull(); };

    auto* list = show(new RepoStoresListController);
    EXPECT_TRUE(drawn(list->navigationItem()->rightBarButtonItem())) << "the store list's Refresh";
    RepoStoreVendorRecord record{"Paid Test Store", "", "Sign in", "Sign in to buy tweaks", {}, std::nullopt};
    auto* page = new RepoStoreDetailsViewController(location, record);
    nav->pushViewController(page, false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->isOnScreen(); }));
    EXPECT_TRUE(drawn(page->navigationItem()->rightBarButtonItem())) << "the store page's Refresh";

    ZMStorePages::setPresenter([this] { return nav; });
    ZMStorePages::install();
    api->update([](auto& s) { s.callback = FakeStores::PaymentAPI::State::Callback::Link; });
    page->headerView()->button()->click();
    ASSERT_TRUE(GuiTest::waitUntil([] { return ZMStorePages::shared().pageScreen(ZMStorePages::shared().lastPage()); }));
    auto* web = ZMStorePages::shared().pageScreen(ZMStorePages::shared().lastPage());
    ASSERT_TRUE(WebPageDriver::waitForElement(web->page(), "signin"));
    WebPageDriver::run(web->page(), "document.getElementById('signin').click();");
    EXPECT_TRUE(GuiTest::waitUntil([&] { return page->headerView()->titleLabel()->text() == "Jane Buyer"; }, std::chrono::seconds(30)))
        << page->headerView()->titleLabel()->text().toStdString();
    EXPECT_EQ(page->headerView()->subtitleLabel()->text(), "jane@example.org");
    EXPECT_TRUE(page->headerView()->titleLabel()->isVisible());
    ZMStorePages::setPresenter(nullptr);
}

}  // namespace
