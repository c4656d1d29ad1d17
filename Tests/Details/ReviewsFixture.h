#pragma once
// The review and developer screens against the fake maker server: accounts
// "Jane Doe" (the packages' maintainer, user 12) and "bob" (user 13), the
// follow upload installed, and a window with a navigation stack.
#include <gtest/gtest.h>

#include <QTest>

#include "Browsing/OnlineScreens.h"
#include "ErrorViewController.h"
#include "Keychain/PDKeychainBindings.h"
#include "Services/ZMAccount.h"
#include "Services/ZMMakerAPI.h"
#include "Services/ZMOnlineServices.h"
#include "Services/ZMSearchDeveloper.h"
#include "Shell/ShellTestSupport.h"
#include "Support/FakeMakerAPI.h"
#include "UIKit/UIAlertController.h"
#include "UIKit/UINavigationController.h"
#include "VostrelleBuildPaths.h"
#include "ZMPipelineManager.h"
#include "ZMURLRouter.h"

namespace ReviewsFixture {

inline nlohmann::json review(int id, const std::string& title, const std::string& text, int rate,
                             nlohmann::json reply = nullptr, const std::string& user = "carol") {
    return {{"id", std::to_string(id)}, {"title", title},  {"review", text},  {"rate", rate},
            {"username", user},         {"reply", reply}, {"upvotes", "3"}, {"downvotes", "1"}};
}

class Screens : public ShellTest::Fixture {
protected:
    std::unique_ptr<FakeMakerAPI> maker;
    std::unique_ptr<UIWindow> window;
    UINavigationController* nav = nullptr;
    int searchTabs = 0;  // selections of the search tab through ZMURLRouter

    void SetUp() override {
        Fixture::SetUp();
        PDKeychainBindings::resetForTesting();
        ZMSearchDeveloper::instance().resetForTesting();
        FakeMakerAPI::setWaitFunction(GuiTest::waitUntil);
        maker = std::make_unique<FakeMakerAPI>();
        maker->addAccount({.username = "Jane Doe", .password = "pw", .userID = 12});
        maker->addAccount({.username = "bob", .password = "pw", .userID = 13});
        ZMOnlineServices::installAccountSync(ZMRPackageManager::sharedPackageManager().developers());
        ZMURLRouter::Hooks hooks;
        hooks.showSearchTab = [this] { ++searchTabs; };
        hooks.presenter = [this] { return window ? window->topPresentedViewController() : nullptr; };
        ZMURLRouter::setHooks(hooks);
    }
    void TearDown() override {
        GuiTest::waitUntil([] { return ZMPipelineManager::sharedManager().liveTaskCount() == 0; }, std::chrono::seconds(20));
        ZMRSources::setReachabilityHook(nullptr);
        ZMURLRouter::setHooks({});
        OnlineScreens::setDeveloperPageFactory(nullptr);
        window.reset();
        maker.reset();
        ZMMakerAPI::setRequestTimeLimit(std::nullopt);
        Fixture::TearDown();
    }
    void signIn(const std::string& name) { ASSERT_TRUE(maker->signIn(name, "pw")) << name; }

    // Shows `screen` at the root of a navigation controller in a window.
    void show(UIViewController* screen, QSize size = {420, 820}) {
        nav = new UINavigationController(screen);
        window = std::make_unique<UIWindow>();
        window->resize(size);
        window->setRootViewController(nav);
        window->show();
        ASSERT_TRUE(GuiTest::waitUntil([&] { return screen->isOnScreen(); }));
    }
    UIViewController* top() const { return window->topPresentedViewController(); }
    template <class T>
    T* topAs() const {
        return dynamic_cast<T*>(top());
    }
    // Waits for a popup on top and returns it.
    ErrorViewController* waitForPopup() {
        GuiTest::waitUntil([&] { return topAs<ErrorViewController>() != nullptr; }, std::chrono::seconds(10));
        return topAs<ErrorViewController>();
    }
    void closePopup() {
        if (auto* popup = topAs<ErrorViewController>()) popup->closeBtn()->click();
        GuiTest::pump();
    }
    void screenshot(const char* name) {
        GuiTest::pump(std::chrono::milliseconds(150));
        QDir().mkpath(VOSTRELLE_SCREENSHOT_DIR);
        EXPECT_TRUE(window->grab().toImage().save(QString(VOSTRELLE_SCREENSHOT_DIR "/") + name));
    }
};

}  // namespace ReviewsFixture
