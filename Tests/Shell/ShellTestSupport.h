#pragma once
// A fresh data directory, preferences, package manager and application
// delegate for every shell test, with animations off so that presentations
// complete at once.
#include <gtest/gtest.h>

#include <QDir>

#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageManager.h"
#include "Database/ZMRSource.h"
#include "ErrorViewController.h"
#include "Miscellaneous/ZMLocalization.h"
#include "PackagesConfirmationViewController.h"
#include "Realm/Realm.h"
#include "RootViewController.h"
#include "Support/Gui/GuiTestSupport.h"
#include "Support/Gui/UserGestures.h"
#include "Support/TestSupport.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIViewController.h"
#include "UIKit/UIWindow.h"
#include "VostrellePersistentPreferences.h"
#include "ZMPaletteManager.h"
#include "Browsing/FeaturedViewController.h"
#include "ZMTabBarStatusView.h"
#include "ZMVostrelle.h"

namespace ShellTest {

// The queue, opened from the status display as a user does, once apt has
// resolved it; null when it does not come up.
inline PackagesConfirmationViewController* openTheQueue(ZMVostrelle& d) {
    if (!GuiTest::waitUntil([&] { return d.statusView() && d.statusView()->isVisible(); })) return nullptr;
    UserGesture::click(d.statusView());
    auto* sheet = dynamic_cast<UINavigationController*>(d.window()->topPresentedViewController());
    QPointer<PackagesConfirmationViewController> queue =
        sheet ? dynamic_cast<PackagesConfirmationViewController*>(sheet->topViewController()) : nullptr;
    if (!queue || !GuiTest::waitUntil([&] { return queue && !queue->isResolving(); }, std::chrono::seconds(60))) return nullptr;
    return queue;
}

// The row of a settings-style screen that runs `action` when tapped.
inline std::optional<IndexPath> rowWithAction(const RootViewController& screen, const std::string& action) {
    const auto& sections = screen.sections();
    for (int section = 0; section < static_cast<int>(sections.size()); ++section)
        for (int row = 0; row < static_cast<int>(sections[section].rows.size()); ++row) {
            const auto& item = sections[section].rows[row].item;
            if (item.value("action", "") == action || item.value("detail", "") == action) return IndexPath{section, row};
        }
    return std::nullopt;
}

inline ZMRPackage makePackage(const std::string& identifier, const std::string& name) {
    ZMRPackage p;
    p.identifier = identifier;
    p.name = name;
    p.version = "1.2";
    p.maintainer = "Jane Doe <jane@example.com>";
    p.Description = "A package used by the tests.";
    p.category = "Tweaks";
    p.sourceLocation = "https://repo.example/";
    p.isInstalled = false;
    return p;
}

class Fixture : public ::testing::Test {
protected:
    TestSupport::IsolatedEnvironment env;

    void SetUp() override {
        UIView::setAnimationsEnabled(false);
        // The window launched here shows the screen under test, not the first-run flow.
        FeaturedViewController::setLaunchScreensEnabled(false);
        ZMVostrelle::resetForTesting();
        VostrellePersistentPreferences::resetForTesting();
        ZMRPackageManager::resetForTesting();
        ZMLocalization::setLanguage("en");
        ZMLocalization::reload();
    }
    void TearDown() override {
        GuiTest::pump(std::chrono::milliseconds(20));
        ZMVostrelle::resetForTesting();
        ZMRPackageManager::resetForTesting();
        VostrellePersistentPreferences::resetForTesting();
        ZMPaletteManager::sharedManager().setStyleProvider(nullptr);
        ZMPaletteManager::sharedManager().setStyle(0);
        UIView::setAnimationsEnabled(true);
        FeaturedViewController::setLaunchScreensEnabled(true);
    }

    static PersistentDictionary& prefs() { return VostrellePersistentPreferences::sharedInstance(); }

    static void store(std::vector<ZMRPackage> packages) {
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] {
            for (auto& p : packages) realm->addOrUpdate(p);
        });
    }
    static void storeSource(const std::string& location, const std::string& name) {
        auto realm = Realm::defaultRealm();
        auto s = ZMRSource::newSourceWithLocation(location);
        s.name = name;
        realm->transactionWithBlock([&] { realm->addOrUpdate(s); });
    }
    static ZMRPackage fetch(const std::string& identifier) {
        auto p = ZMRPackage::objectForPrimaryKey(identifier);
        EXPECT_TRUE(p.has_value()) << identifier;
        return p.value_or(ZMRPackage{});
    }

    // The popup on top of the delegate's window, if any.
    static ErrorViewController* topPopup() {
        auto* window = ZMVostrelle::sharedVostrelle().window();
        if (!window) return nullptr;
        return dynamic_cast<ErrorViewController*>(window->topPresentedViewController());
    }
};

}  // namespace ShellTest
