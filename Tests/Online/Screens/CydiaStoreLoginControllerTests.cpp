// The Cydia store's pages in the real web engine against a fake store: the
// header stamp goes to the store alone, signing in imports the purchases,
// signing out clears them, and an import outlives its screen safely.
#include <gtest/gtest.h>

#include <QDir>

#include "Database/ZMRPackage.h"
#include "Online/Screens/CydiaStoreLoginController.h"
#include "Online/Screens/CydiaStoreLoginWebView.h"
#include "Online/Screens/WebPageDriver.h"
#include "Support/FakeStores.h"
#include "Support/TestSupport.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIWindow.h"
#include "VostrelleBuildPaths.h"
#include "VostrellePersistentPreferences.h"

namespace {

class CydiaStoreLogin : public ::testing::Test {
protected:
    TestSupport::IsolatedEnvironment env;
    FakeStores::CydiaStore store{{"com.cydia.one", "com.cydia.two"}};
    std::unique_ptr<UIWindow> window;
    QPointer<CydiaStoreLoginController> screen;

    void SetUp() override {
        UIView::setAnimationsEnabled(false);
        TestSupport::resetSharedServices();
        setenv("VOSTRELLE_CYDIA_STORE_URL", store.base().c_str(), 1);
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] {
            for (const char* id : {"com.cydia.one", "com.cydia.two", "com.cydia.old"}) {
                ZMRPackage p;
                p.identifier = id, p.name = id, p.isPaidThroughCydia = std::string(id) == "com.cydia.old";
                realm->addOrUpdate(p);
            }
        });
    }
    void TearDown() override {
        window.reset();
        GuiTest::pump();
        unsetenv("VOSTRELLE_CYDIA_STORE_URL");
        UIView::setAnimationsEnabled(true);
    }
    void open() {
        screen = new CydiaStoreLoginController;
        window = std::make_unique<UIWindow>();
        window->resize(480, 760);
        window->setRootViewController(new UINavigationController(screen));
        window->show();
        ASSERT_TRUE(GuiTest::waitUntil([&] { return screen->isOnScreen(); }));
    }
    static bool marked(const char* id) { return ZMRPackage::objectForPrimaryKey(id)->isPaidThroughCydia.value_or(false); }
    static bool signedIn() { return VostrellePersistentPreferences::sharedInstance().boolForKey("cydiaStoreIsSignedIn"); }
};

TEST_F(CydiaStoreLogin, SigningInImportsThePurchasesAndSigningOutClearsThem) {
    open();
    // The account page without a session: its import finds nothing and changes nothing.
    ASSERT_TRUE(WebPageDriver::waitForElement(screen->webView()->page(), "password"));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return screen->finishedImports() >= 1; }, std::chrono::seconds(30)));
    EXPECT_TRUE(marked("com.cydia.old"));
    EXPECT_FALSE(signedIn());

    WebPageDriver::run(screen->webView()->page(), "document.getElementById('email').value = 'jane@example.org';"
                                                  "document.getElementById('password').value = 'pw';"
                                                  "document.getElementById('login').click();");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return marked("com.cydia.two"); }, std::chrono::seconds(60)));
    EXPECT_TRUE(marked("com.cydia.one"));
    EXPECT_FALSE(marked("com.cydia.old"));
    EXPECT_TRUE(GuiTest::waitUntil([&] { return signedIn(); }));
    EXPECT_EQ(screen->purchaseIdentifiers(), (std::vector<std::string>{"com.cydia.one", "com.cydia.two"}));
    EXPECT_TRUE(screen->backwardButton()->isEnabled());

    // The stamp reached the store's own pages and not the picture from elsewhere.
    ASSERT_TRUE(GuiTest::waitUntil([&] { return store.images().count("logo.png") > 0; }));
    for (const auto& r : store.store().requests()) {
        if (r.path != "account") continue;
        EXPECT_EQ(r.headers.count("X-Unique-ID"), 1u);
        EXPECT_NE(r.headers.find("User-Agent")->second.find("iPhone OS 10_3_3"), std::string::npos);
    }
    for (const auto& r : store.images().requests()) {
        EXPECT_EQ(r.headers.count("X-Unique-ID") + r.headers.count("X-Machine"), 0u);
        EXPECT_EQ(r.headers.find("User-Agent")->second.find("iPhone"), std::string::npos);
    }

    // Signing out on the store's page.
    ASSERT_TRUE(WebPageDriver::waitForElement(screen->webView()->page(), "signout"));
    WebPageDriver::run(screen->webView()->page(), "document.getElementById('signout').click();");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !marked("com.cydia.one"); }, std::chrono::seconds(30)));
    EXPECT_TRUE(GuiTest::waitUntil([&] { return !signedIn(); }));
    EXPECT_TRUE(GuiTest::waitUntil([&] { return !store.signedIn(); })) << "the page still loads";
}

TEST_F(CydiaStoreLogin, DoneDuringAnImportLeavesTheImportToFinishAlone) {
    open();
    ASSERT_TRUE(WebPageDriver::waitForElement(screen->webView()->page(), "password"));
    WebPageDriver::run(screen->webView()->page(), "document.getElementById('password').value = 'pw';"
                                                  "document.getElementById('login').click();");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return signedIn(); }, std::chrono::seconds(60)));
    window.reset();

    // The next screen is signed in already (the store's cookie stays in the
    // browser); its import is slow and the screen goes first.
    store.setPurchases({"com.cydia.two"});
    store.setPurchaseListDelay(800);
    open();
    ASSERT_TRUE(WebPageDriver::waitForElement(screen->webView()->page(), "signout"));
    GuiTest::pump(std::chrono::milliseconds(100));
    screen->dismiss();
    window.reset();
    EXPECT_FALSE(screen);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !marked("com.cydia.one"); }, std::chrono::seconds(10)));
    EXPECT_TRUE(marked("com.cydia.two"));
}

}  // namespace
