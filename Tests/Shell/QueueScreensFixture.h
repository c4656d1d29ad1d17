#pragma once
// A fresh database, preferences and package manager per test, with a window
// to present screens from.
#include <gtest/gtest.h>

#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageManager.h"
#include "Database/ZMRPackageVersion.h"
#include "Database/ZMRSource.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Realm/Realm.h"
#include "Support/Gui/GuiTestSupport.h"
#include "Support/TestSupport.h"
#include "UIKit/UIViewController.h"
#include "UIKit/UIWindow.h"
#include "VostrellePersistentPreferences.h"

namespace QueueScreens {

inline ZMRPackage package(const std::string& identifier, const std::string& version, bool installed,
                          const std::string& installedVersion = {}) {
    ZMRPackage p;
    p.identifier = identifier;
    p.name = "Name of " + identifier;
    p.version = version;
    p.sourceLocation = "https://repo.example/";
    p.isInstalled = installed;
    if (installed) p.installedVersion = installedVersion.empty() ? version : installedVersion;
    return p;
}

class Fixture : public ::testing::Test {
protected:
    TestSupport::IsolatedEnvironment env;
    std::shared_ptr<Realm> realm;
    UIWindow window;
    UIViewController* root = nullptr;

    void SetUp() override {
        UIView::setAnimationsEnabled(false);
        VostrellePersistentPreferences::resetForTesting();
        ZMRPackageManager::resetForTesting();
        ZMLocalization::setLanguage("en");
        ZMLocalization::reload();
        realm = Realm::defaultRealm();
        root = new UIViewController;
        window.setRootViewController(root);
        window.resize(420, 760);
        window.show();
    }
    void TearDown() override {
        GuiTest::pump(std::chrono::milliseconds(20));
        ZMRPackageManager::resetForTesting();
        VostrellePersistentPreferences::resetForTesting();
        UIView::setAnimationsEnabled(true);
    }
    void store(std::vector<ZMRPackage> packages) {
        realm->transactionWithBlock([&] {
            for (auto& p : packages) realm->addOrUpdate(p);
        });
    }
    void storeVersion(const std::string& identifier, const std::string& version) {
        realm->transactionWithBlock([&] {
            ZMRPackageVersion v;
            v.source = "https://repo.example/";
            v.identifier = identifier;
            v.version = version;
            v.versionKey = ZMRPackageVersion::makeKey(v.source, identifier, version);
            realm->addOrUpdate(v);
        });
    }
    void queue(const std::string& identifier, int64_t operation, const std::string& version = {}) {
        ZMRPackageManager::sharedPackageManager().packages().setPackage(
            identifier, true, version.empty() ? std::nullopt : std::optional<std::string>(version), operation);
    }
    ZMRPackage record(const std::string& identifier) { return *ZMRPackage::objectForPrimaryKey(identifier); }
};

}  // namespace QueueScreens
