#pragma once
// A package database of a few hundred generated packages, with the model the
// tests compute their expectations from (never from the code under test).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageManager.h"
#include "Database/ZMRPackageVersion.h"
#include "Database/ZMRSource.h"
#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMPaths.h"
#include "Support/TestSupport.h"
#include "VostrellePersistentPreferences.h"

namespace CollectionsFixture {

inline const std::vector<std::string> kSources = {"https://alpha.example/", "https://beta.example/repo/",
                                                  "http://gamma.example/"};
inline const std::vector<std::string> kCategories = {"Tweaks", "Themes", "Utilities", "Addons (SpringBoard)",
                                                     "Widgets", "Default", "Ünïcode Section"};
inline const std::vector<std::string> kDates = {"2026-11-30 08:15", "2026-12-01 10:00", "2026-12-01 23:59",
                                                "2026-12-05 07:30", "2026-12-06 21:00"};

// Generates `count` packages deterministically.
inline std::vector<ZMRPackage> generatePackages(size_t count, unsigned seed = 7) {
    std::mt19937 random(seed);
    auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
    std::vector<ZMRPackage> out;
    for (size_t i = 0; i < count; ++i) {
        ZMRPackage p;
        p.identifier = "com.gen.pkg" + std::to_string(i);
        // Names collide on purpose so that the identifier tiebreak matters less than the name order.
        p.name = "Package " + std::to_string(pick(count));
        p.version = "1." + std::to_string(pick(9));
        p.sourceLocation = kSources[i % kSources.size()];
        p.category = kCategories[pick(kCategories.size())];
        if (pick(3) != 0) p.subcategory = "Sub " + std::to_string(pick(4));
        p.maintainer = "Developer " + std::to_string(pick(12)) + " <dev@example.com>";
        if (pick(4) != 0) p.updatedDateStr = kDates[pick(kDates.size())];
        switch (pick(4)) {
            case 0: break;  // no verdict stored
            case 1: p.tweakCompatibleStatus = 0; break;
            case 2: p.tweakCompatibleStatus = 1; break;
            default: p.tweakCompatibleStatus = 2; break;
        }
        if (pick(3) == 0) p.hasNewVersion = true;
        if (pick(3) == 0) {
            p.isInstalled = true;
            p.installedVersion = "1.0";
            p.isUpdated = pick(2) == 0;
            p.isHeld = pick(4) == 0;
        } else {
            p.isInstalled = false;
        }
        if (pick(10) == 0) p.isInWishlist = true;
        out.push_back(std::move(p));
    }
    return out;
}

// Fresh database, preferences and package manager per test.
class Database : public ::testing::Test {
protected:
    TestSupport::IsolatedEnvironment env;
    std::shared_ptr<Realm> realm;

    void SetUp() override {
        TestSupport::resetSharedServices();
        realm = Realm::defaultRealm();
    }
    void TearDown() override {
        TestSupport::pumpMainLoop(std::chrono::milliseconds(20));
        TestSupport::resetSharedServices();
    }

    void store(std::vector<ZMRPackage> packages) {
        realm->transactionWithBlock([&] {
            for (auto& p : packages) realm->addOrUpdate(p);
        });
    }
    void storeSources(const std::vector<std::string>& locations) {
        realm->transactionWithBlock([&] {
            for (const auto& l : locations) {
                auto s = ZMRSource::newSourceWithLocation(l);
                realm->addOrUpdate(s);
            }
        });
    }
    static PersistentDictionary& preferences() { return VostrellePersistentPreferences::sharedInstance(); }
};

}  // namespace CollectionsFixture
