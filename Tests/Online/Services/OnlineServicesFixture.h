#pragma once
// A fresh data directory, database, keychain and maker server per test, and
// small helpers to wait for a client's completion.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageManager.h"
#include "Database/ZMRSource.h"
#include "Keychain/PDKeychainBindings.h"
#include "Services/ZMAccount.h"
#include "Services/ZMFeaturedPackagesMethods.h"
#include "Services/ZMNewsRetrieval.h"
#include "Services/ZMOnlineServices.h"
#include "Services/ZMSearchDeveloper.h"
#include "Services/ZMSearchRepositories.h"
#include "Services/ZMStatistics.h"
#include "Support/FakeMakerAPI.h"
#include "Support/TestSupport.h"
#include "VostrellePersistentPreferences.h"
#include "ZMPipelineManager.h"

// A value handed to a completion on another thread, and how many times it came.
template <typename T>
class Answer {
public:
    void set(T value) {
        std::lock_guard lock(mutex_);
        value_ = std::move(value);
        ++calls_;
    }
    // Pumps the main loop until the first call.
    bool wait(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return TestSupport::waitUntil([this] { return calls() > 0; }, timeout);
    }
    T value() {
        std::lock_guard lock(mutex_);
        return *value_;
    }
    int calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    // A completion that stores its argument.
    auto callback() {
        return [this](T value) { set(std::move(value)); };
    }

private:
    std::mutex mutex_;
    std::optional<T> value_;
    int calls_ = 0;
};

// The shared clients without what earlier tests left in them.
inline void resetOnlineClients() {
    PDKeychainBindings::resetForTesting();
    ZMFeaturedPackagesMethods::instance().resetForTesting();
    ZMNewsRetrieval::instance().resetForTesting();
    ZMSearchDeveloper::instance().resetForTesting();
    ZMSearchRepositories::instance().resetForTesting();
    ZMStatistics::instance().resetForTesting();
}

class OnlineServices : public ::testing::Test {
protected:
    TestSupport::IsolatedEnvironment env;
    std::unique_ptr<FakeMakerAPI> maker = std::make_unique<FakeMakerAPI>();
    std::shared_ptr<Realm> realm;

    void SetUp() override {
        TestSupport::resetSharedServices();
        resetOnlineClients();
        ZMOnlineServices::installAccountSync(ZMRPackageManager::sharedPackageManager().developers());
        realm = Realm::defaultRealm();
        maker->addAccount({"ada", "pässword & co", 12, "ada@example.com", "https://img.example/ada.png"});
    }
    void TearDown() override {
        TestSupport::waitUntil([] { return ZMPipelineManager::sharedManager().liveTaskCount() == 0; });
        TestSupport::pumpMainLoop(std::chrono::milliseconds(30));
        ZMOnlineServices::uninstall();
        TestSupport::resetSharedServices();
        PDKeychainBindings::resetForTesting();
    }

    bool signIn() { return maker->signIn("ada", "pässword & co"); }
    void addPackages(const std::vector<std::string>& identifiers, bool installed = false, bool wished = false) {
        realm->transactionWithBlock([&] {
            for (const auto& identifier : identifiers) {
                ZMRPackage p;
                p.identifier = p.name = identifier;
                p.isInstalled = installed;
                if (wished) p.isInWishlist = true;
                realm->addOrUpdate(p);
            }
        });
    }
    void addSources(const std::vector<std::string>& locations) {
        realm->transactionWithBlock([&] {
            for (const auto& location : locations) {
                auto s = ZMRSource::newSourceWithLocation(location);
                realm->addOrUpdate(s);
            }
        });
    }
    static std::vector<std::string> wishlist() {
        return ZMRPackageManager::sharedPackageManager().packages().arrayOfPackagesInWishlist();
    }
    static std::vector<std::string> followed() {
        return ZMRPackageManager::sharedPackageManager().developers().arrayOfFollowedDevelopers();
    }
};
