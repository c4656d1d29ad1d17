#pragma once
// The online screens against the fake maker server: a fresh data directory,
// database, keychain, clients and application delegate per test, the screens'
// wiring installed, and helpers to reach what is presented.
#include <gtest/gtest.h>

#include <QDir>
#include <QMouseEvent>
#include <QTest>

#include "Browsing/BrowsingFixture.h"
#include "App/ZMOnlineScreensSetup.h"
#include "Online/Services/OnlineServicesFixture.h"
#include "Shell/ShellTestSupport.h"
#include "Support/FakeMakerAPI.h"
#include "Support/FlatRepository.h"
#include "UIKit/UIAlertController.h"
#include "UIKit/UINavigationController.h"
#include "VostrelleBuildPaths.h"
#include "ZMPipelineManager.h"

namespace OnlineScreensTest {

class Fixture : public ShellTest::Fixture {
protected:
    std::unique_ptr<FakeMakerAPI> maker;
    std::unique_ptr<UIWindow> window;

    void SetUp() override {
        ShellTest::Fixture::SetUp();
        FakeMakerAPI::setWaitFunction(
            [](const std::function<bool()>& pred, std::chrono::milliseconds timeout) { return GuiTest::waitUntil(pred, timeout); });
        resetOnlineClients();
        maker = std::make_unique<FakeMakerAPI>();
        maker->addAccount({"ada", "secret", 12, "ada@example.com", ""});
        ZMOnlineScreensSetup::install();
    }
    void TearDown() override {
        GuiTest::waitUntil([] { return ZMPipelineManager::sharedManager().liveTaskCount() == 0; });
        window.reset();
        ShellTest::Fixture::TearDown();
        ZMOnlineScreensSetup::uninstall();
        ZMOnlineServices::uninstall();
        maker.reset();
        PDKeychainBindings::resetForTesting();
    }

    // `screen` as the root of a navigation controller in a window of its own.
    UINavigationController* show(UIViewController* screen, QSize size = {430, 860}) {
        return BrowsingFixture::showInWindow(screen, window, size);
    }
    UIViewController* top() const {
        if (window) return window->topPresentedViewController();
        auto* w = ZMVostrelle::sharedVostrelle().window();
        return w ? w->topPresentedViewController() : nullptr;
    }
    // Waits for a presented screen of that type on top.
    template <class T>
    T* presented(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        T* found = nullptr;
        GuiTest::waitUntil([&] { return (found = dynamic_cast<T*>(top())) != nullptr; }, timeout);
        return found;
    }
    void dismissTop() {
        UIViewController* t = top();
        if (!t || !t->presentingViewController()) return;
        t->dismissViewController(false);
        GuiTest::waitUntil([&] { return top() != t; });
    }
    static void screenshot(QWidget* window, const char* name) {
        GuiTest::pump(std::chrono::milliseconds(150));
        QDir().mkpath(VOSTRELLE_SCREENSHOT_DIR);
        EXPECT_TRUE(window->grab().toImage().save(QString(VOSTRELLE_SCREENSHOT_DIR "/") + name));
    }
    static void press(QWidget* w, QPoint at, QEvent::Type type, Qt::MouseButtons buttons) {
        QMouseEvent e(type, QPointF(at), QPointF(w->mapToGlobal(at)), Qt::LeftButton, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(w, &e);
    }
};

}  // namespace OnlineScreensTest
