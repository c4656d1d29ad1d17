// Sign-in pages in the real web engine: the store's "sileo" callback reaches
// the payment client from the page it opened (by a form's redirect, a script
// or a link), from nowhere else, and only once; closing the page ends the sign-in.
#include <QTest>
#include <QWebEngineView>

#include "ErrorViewController.h"
#include "Keychain/PDKeychainBindings.h"
#include "Online/Screens/WebPageDriver.h"
#include "Online/Screens/ZMStorePages.h"
#include "Online/Services/RepoStoreFixture.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIWindow.h"
#include "WebViewViewController.h"
#include "ZMURLRouter.h"

namespace {

class StorePages : public RepoStoreFixture {
protected:
    std::unique_ptr<UIWindow> window;
    UIViewController* root = nullptr;

    void SetUp() override {
        UIView::setAnimationsEnabled(false);
        RepoStoreFixture::SetUp();
        root = new UIViewController;
        window = std::make_unique<UIWindow>();
        window->resize(480, 720);
        window->setRootViewController(root);
        window->show();
        ZMStorePages::setPresenter([this] { return root; });
        ZMStorePages::install();
    }
    void TearDown() override {
        window.reset();
        GuiTest::pump();
        ZMStorePages::setPresenter(nullptr);
        RepoStoreFixture::TearDown();
        UIView::setAnimationsEnabled(true);
    }
    using Result = std::optional<std::pair<bool, RepoStoreSigninResponse>>;
    std::shared_ptr<Result> signin() {
        auto result = std::make_shared<Result>();
        client.userSigninForSourceLocation(location, [result](bool failed, const RepoStoreSigninResponse& r) { *result = {failed, r}; });
        return result;
    }
    WebViewViewController* page() {
        EXPECT_TRUE(GuiTest::waitUntil([] { return ZMStorePages::shared().pageScreen(ZMStorePages::shared().lastPage()); }));
        return ZMStorePages::shared().pageScreen(ZMStorePages::shared().lastPage());
    }
};

TEST_F(StorePages, TheCallbackComesOnlyFromTheStorePageThatAskedAndOnlyOnce) {
    using Callback = FakeStores::PaymentAPI::State::Callback;
    auto& keychain = PDKeychainBindings::sharedKeychainBindings();
    for (auto callback : {Callback::Form, Callback::Script, Callback::Link}) {
        api->update([&](auto& s) { s.callback = callback, s.token = "tok-" + std::to_string(int(callback)); });
        auto result = signin();
        auto* web = page();
        ASSERT_NE(web, nullptr);
        EXPECT_EQ(web->title(), "127.0.0.1");
        if (callback == Callback::Form) {
            ASSERT_TRUE(WebPageDriver::waitForElement(web->page(), "password"));
            // A callback from outside the program while the sign-in waits:
            // dropped, and named in an alert without its tokens.
            EXPECT_FALSE(ZMURLRouter::openURL("sileo://authentication_success?token=forged&payment_secret=x"));
            GuiTest::pump(std::chrono::milliseconds(50));
            EXPECT_FALSE(*result);
            auto* told = dynamic_cast<ErrorViewController*>(window->topPresentedViewController());
            ASSERT_NE(told, nullptr) << "the dropped callback is not told";
            EXPECT_TRUE(told->messageLbl()->text().endsWith("\nsileo://authentication_success"))
                << told->messageLbl()->text().toStdString();
            QTest::mouseClick(told->closeBtn(), Qt::LeftButton);
            ASSERT_TRUE(GuiTest::waitUntil([&] { return window->topPresentedViewController() != told; }));
            WebPageDriver::run(web->page(), "document.getElementById('user').value = 'jane';"
                                            "document.getElementById('password').value = 'secret';"
                                            "document.getElementById('signin').click();");
        } else if (callback == Callback::Link) {
            ASSERT_TRUE(WebPageDriver::waitForElement(web->page(), "signin"));
            WebPageDriver::run(web->page(), "document.getElementById('signin').click();");
        }
        ASSERT_TRUE(GuiTest::waitUntil([&] { return result->has_value(); }, std::chrono::seconds(60)));
        EXPECT_FALSE((*result)->first);
        EXPECT_EQ(keychain.stringForKey(location + "_token"), "tok-" + std::to_string(int(callback)));
        // The page closes; nothing is pending for a replay.
        EXPECT_TRUE(GuiTest::waitUntil([&] { return root->presentedViewController() == nullptr; }));
        EXPECT_FALSE(client.hasPendingSignin());
    }

    // Closing the page fails the sign-in and stores nothing.
    keychain.removeObjectForKey(location + "_token");
    api->update([](auto& s) { s.callback = Callback::Form; });
    auto closed = signin();
    auto* web = page();
    ASSERT_NE(web, nullptr);
    web->navigationItem()->leftBarButtonItem()->trigger();  // "Cancel"
    ASSERT_TRUE(GuiTest::waitUntil([&] { return closed->has_value(); }));
    EXPECT_TRUE((*closed)->first);
    EXPECT_FALSE(keychain.stringForKey(location + "_token"));
}

TEST_F(StorePages, ACallbackPlantedInAnImageOrAFrameFinishesNothing) {
    using Callback = FakeStores::PaymentAPI::State::Callback;
    auto& keychain = PDKeychainBindings::sharedKeychainBindings();
    api->update([](auto& s) { s.callback = Callback::Planted; });
    auto result = signin();
    auto* web = page();
    ASSERT_NE(web, nullptr);
    ASSERT_TRUE(WebPageDriver::waitForElement(web->page(), "planted-frame"));
    GuiTest::pump(std::chrono::milliseconds(500));  // the image and the frame have had their chance
    EXPECT_FALSE(*result) << "the sign-in is still pending";
    EXPECT_FALSE(keychain.stringForKey(location + "_token"));
    // The page's own link still signs in, with the store's own credentials.
    WebPageDriver::run(web->page(), "document.getElementById('signin').click();");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return result->has_value(); }, std::chrono::seconds(60)));
    EXPECT_FALSE((*result)->first);
    EXPECT_EQ(keychain.stringForKey(location + "_token"), api->state().token);
}

}  // namespace
