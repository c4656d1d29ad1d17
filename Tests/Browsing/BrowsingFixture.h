#pragma once
// A package database of a few hundred generated packages for the browsing
// screens, with the plain model the tests compute their expectations from.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "Categories/String+LocalizedCompare.h"
#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageManager.h"
#include "Database/ZMRSource.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Support/Gui/GuiTestSupport.h"
#include "Support/TestSupport.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIViewController.h"
#include "UIKit/UIWindow.h"
#include "VostrellePersistentPreferences.h"
#include "Browsing/FeaturedViewController.h"
#include "ZMVostrelle.h"

namespace BrowsingFixture {

inline const std::vector<std::string> kSources = {"https://alpha.example/", "https://beta.example/repo/",
                                                  "http://gamma.example/"};
inline const std::vector<std::string> kCategories = {"Tweaks", "Themes", "Utilities", "Widgets", "Ünïcode"};
inline const std::vector<std::string> kDates = {"2026-11-30 08:15", "2026-12-01 10:00", "2026-12-05 07:30"};
// Names starting with small and capital letters, digits and a non-ASCII letter.
inline const std::vector<std::string> kNameStarts = {"Alpha", "alpine", "Beta", "bravo", "9Lives", "Zulu",
                                                     "élan", "Émile", "cy+Hidden", "Cypress"};

// Deterministic packages; some have no source, no maintainer, no install date.
inline std::vector<ZMRPackage> generatePackages(size_t count, unsigned seed = 11) {
    std::mt19937 random(seed);
    auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
    std::vector<ZMRPackage> out;
    const double base = 1'780'000'000;  // 2026
    for (size_t i = 0; i < count; ++i) {
        ZMRPackage p;
        p.identifier = "com.gen.pkg" + std::to_string(i);
        p.name = kNameStarts[pick(kNameStarts.size())] + " " + std::to_string(pick(count));
        p.version = "1." + std::to_string(pick(9));
        if (pick(10) != 0) p.sourceLocation = kSources[i % kSources.size()];
        p.category = kCategories[pick(kCategories.size())];
        p.subcategory = "Sub " + std::to_string(pick(3));
        if (pick(8) != 0) p.maintainer = "Developer " + std::to_string(pick(12));
        p.Description = "Generated package number " + std::to_string(i);
        if (pick(4) != 0) p.updatedDateStr = kDates[pick(kDates.size())];
        if (pick(3) == 0) p.hasNewVersion = true;
        switch (pick(4)) {
            case 0: break;
            case 1: p.tweakCompatibleStatus = 0; break;
            case 2: p.tweakCompatibleStatus = 1; break;
            default: p.tweakCompatibleStatus = 2; break;
        }
        if (pick(3) == 0) {
            p.isInstalled = true;
            p.installedVersion = p.version;
            // Whole seconds from a small set, so that several share a second.
            if (pick(6) != 0) p.installDate = base + 60.0 * static_cast<double>(pick(20)) + 0.25 * pick(3);
            p.isUpdated = pick(2) == 0;
            p.isHeld = pick(4) == 0;
        } else {
            p.isInstalled = false;
        }
        if (pick(12) == 0) p.isPaidThroughSileo = true;
        if (pick(5) == 0) p.price = "$1.99";
        out.push_back(std::move(p));
    }
    return out;
}

// Shows the screen as the root of a navigation controller in a window of its own.
inline UINavigationController* showInWindow(UIViewController* screen, std::unique_ptr<UIWindow>& window,
                                            QSize size = {420, 760}) {
    auto* nav = new UINavigationController(screen);
    window = std::make_unique<UIWindow>();
    window->resize(size);
    window->setRootViewController(nav);
    window->show();
    EXPECT_TRUE(GuiTest::waitUntil([&] { return screen->isOnScreen(); }));
    GuiTest::pump();
    return nav;
}

// Fresh database, preferences and package manager per test.
class Database : public ::testing::Test {
protected:
    TestSupport::IsolatedEnvironment env;
    std::shared_ptr<Realm> realm;
    std::vector<ZMRPackage> generated;

    void SetUp() override {
        UIView::setAnimationsEnabled(false);
        // The window launched here shows the screen under test, not the first-run flow.
        FeaturedViewController::setLaunchScreensEnabled(false);
        TestSupport::resetSharedServices();
        realm = Realm::defaultRealm();
    }
    void TearDown() override {
        GuiTest::pump(std::chrono::milliseconds(20));
        TestSupport::resetSharedServices();
        UIView::setAnimationsEnabled(true);
        FeaturedViewController::setLaunchScreensEnabled(true);
    }

    void store(std::vector<ZMRPackage> packages) {
        realm->transactionWithBlock([&] {
            for (auto& p : packages) realm->addOrUpdate(p);
        });
    }
    void storeGenerated(size_t count = 300) {
        generated = generatePackages(count);
        store(generated);
    }
    void storeSources(const std::vector<std::string>& locations) {
        realm->transactionWithBlock([&] {
            for (const auto& l : locations) {
                auto s = ZMRSource::newSourceWithLocation(l);
                s.name = "Source " + l;
                realm->addOrUpdate(s);
            }
        });
    }
    static PersistentDictionary& preferences() { return VostrellePersistentPreferences::sharedInstance(); }

    // The generated packages that pass `keep`, sorted as the database sorts:
    // by the key's text in byte order (nil first), ties in storing order.
    template <class Key>
    std::vector<const ZMRPackage*> expectedOrder(const std::function<bool(const ZMRPackage&)>& keep, Key key) const {
        std::vector<const ZMRPackage*> out;
        for (const auto& p : generated)
            if (keep(p)) out.push_back(&p);
        std::stable_sort(out.begin(), out.end(), [&](const ZMRPackage* a, const ZMRPackage* b) { return key(*a) < key(*b); });
        return out;
    }
    // The same in the order lists show: the locale's, without regard to case.
    template <class Key>
    std::vector<const ZMRPackage*> displayOrder(const std::function<bool(const ZMRPackage&)>& keep, Key key) const {
        auto out = expectedOrder(keep, key);
        std::stable_sort(out.begin(), out.end(), [&](const ZMRPackage* a, const ZMRPackage* b) {
            return LocalizedCompare::compare(key(*a), key(*b)) < 0;
        });
        return out;
    }
};

// The same, for screens shown in a window of their own (`window`), with the
// application delegate made anew around each test.
class Screens : public Database {
protected:
    std::unique_ptr<UIWindow> window;

    void SetUp() override {
        Database::SetUp();
        ZMVostrelle::resetForTesting();
    }
    void TearDown() override {
        window.reset();
        ZMVostrelle::resetForTesting();
        Database::TearDown();
    }
};

}  // namespace BrowsingFixture
