#include <gtest/gtest.h>

#include <filesystem>

#include "Miscellaneous/ZMPaths.h"
#include "Support/TestSupport.h"
#include "VostrellePersistentPreferences.h"

using nlohmann::json;
namespace K = VostrellePreferenceKey;

namespace {
json fileContent(const std::string& path) {
    std::string error;
    auto parsed = PersistentDictionary::dictionaryFromPropertyList(TestSupport::readFile(path), &error);
    return parsed ? *parsed : json();
}

class VostrellePersistentPreferencesTest : public ::testing::Test {
protected:
    void SetUp() override { VostrellePersistentPreferences::resetForTesting(); }
    void TearDown() override { VostrellePersistentPreferences::resetForTesting(); }
    TestSupport::IsolatedEnvironment env_;
};
}  // namespace

TEST_F(VostrellePersistentPreferencesTest, FirstLaunchWritesEveryDefault) {
    std::string path = ZMPaths::preferencesFile();
    EXPECT_EQ(std::filesystem::path(path).filename(), "me.zemtrix.vostrelle.plist");
    ASSERT_FALSE(std::filesystem::exists(path));

    auto& prefs = VostrellePersistentPreferences::sharedInstance();
    EXPECT_EQ(prefs.path(), path);
    // On disk at once, without waiting for the delayed save.
    EXPECT_EQ(fileContent(path), VostrellePersistentPreferences::defaults());
    EXPECT_FALSE(prefs.hasUnsavedChanges());

    EXPECT_FALSE(prefs.boolForKey(K::ShowIncompatiblePackages));
    EXPECT_FALSE(prefs.boolForKey(K::HidePackageVersion));
    EXPECT_FALSE(prefs.boolForKey(K::ReplacePackageMaintainerWithSourceName));
    EXPECT_FALSE(prefs.boolForKey(K::HidePackageDescription));
    EXPECT_FALSE(prefs.boolForKey(K::HidePackageTweakCompatibleIndicator));
    EXPECT_EQ(prefs.stringForKey(K::SortInstalledPackagesBy), "Name");
    EXPECT_TRUE(prefs.boolForKey(K::GetCydiaPackageInfoFromDepiction));
    EXPECT_FALSE(prefs.boolForKey(K::AuthenticationForPackagesManagementTasks));
    EXPECT_FALSE(prefs.boolForKey(K::NewPackagesByFollowedDevelopers));
    EXPECT_TRUE(prefs.boolForKey(K::PrefersLargeTitles));
    EXPECT_TRUE(prefs.boolForKey(K::UseTranslucentBars));
    EXPECT_FALSE(prefs.boolForKey(K::ShowNotificationsInsteadOfErrorAlerts));
    EXPECT_EQ(prefs.integerForKey(K::NewsCount), 0);
    EXPECT_TRUE(prefs.containsKey(K::NewsCount));

    // Keys without a default stay absent until set.
    for (const char* key : {K::SetupDone, K::WelcomeScreenVersion, K::SearchQueryOption, K::SearchDeveloper,
                            K::CydiaStoreIsSignedIn, K::LastRefreshDate}) {
        EXPECT_FALSE(prefs.containsKey(key)) << key;
    }
    EXPECT_FALSE(prefs.boolForKey(K::SetupDone));
    EXPECT_EQ(prefs.integerForKey(K::SearchQueryOption), 0);
    EXPECT_EQ(prefs.stringForKey(K::SearchDeveloper), std::nullopt);
}

TEST_F(VostrellePersistentPreferencesTest, LaterLaunchesKeepChoicesAndCompleteNewDefaults) {
    std::string path = ZMPaths::preferencesFile();
    // The file of an older version: two choices, one default missing.
    json old = VostrellePersistentPreferences::defaults();
    old[K::ShowIncompatiblePackages] = true;
    old[K::SortInstalledPackagesBy] = "Source";
    old[K::SetupDone] = true;
    old.erase(K::NewsCount);
    TestSupport::writeFile(path, PersistentDictionary::xmlPropertyList(old));

    auto& prefs = VostrellePersistentPreferences::sharedInstance();
    EXPECT_TRUE(prefs.boolForKey(K::ShowIncompatiblePackages));
    EXPECT_EQ(prefs.stringForKey(K::SortInstalledPackagesBy), "Source");
    EXPECT_TRUE(prefs.boolForKey(K::SetupDone));
    json onDisk = fileContent(path);
    EXPECT_EQ(onDisk.value(K::NewsCount, -1), 0) << "the missing default was added and saved";
    EXPECT_EQ(onDisk.value(K::SortInstalledPackagesBy, ""), "Source");
}

TEST_F(VostrellePersistentPreferencesTest, ChangesSurviveARelaunch) {
    auto& prefs = VostrellePersistentPreferences::sharedInstance();
    EXPECT_EQ(&prefs, &VostrellePersistentPreferences::sharedInstance()) << "one instance per launch";
    prefs.setValue(K::SearchDeveloper, "some developer");
    prefs.setValue(K::NewsCount, 3);
    // The delayed save reaches the file after the main loop has run.
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] { return fileContent(ZMPaths::preferencesFile()).value(K::NewsCount, 0) == 3; }));

    VostrellePersistentPreferences::resetForTesting();
    auto& relaunched = VostrellePersistentPreferences::sharedInstance();
    EXPECT_NE(&relaunched, &prefs);
    EXPECT_EQ(relaunched.stringForKey(K::SearchDeveloper), "some developer");
    EXPECT_EQ(relaunched.integerForKey(K::NewsCount), 3);
    // The old reference still works after the reset.
    EXPECT_EQ(prefs.integerForKey(K::NewsCount), 3);
}

TEST_F(VostrellePersistentPreferencesTest, AResetWritesPendingChangesFirst) {
    auto& prefs = VostrellePersistentPreferences::sharedInstance();
    prefs.setValue(K::CydiaStoreIsSignedIn, true);
    VostrellePersistentPreferences::resetForTesting();
    EXPECT_TRUE(VostrellePersistentPreferences::sharedInstance().boolForKey(K::CydiaStoreIsSignedIn));
}
