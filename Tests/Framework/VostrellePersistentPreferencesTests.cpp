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
}  // namespace

// The program's settings file: written at once with the defaults on the first
// launch, the user's choices kept across launches, defaults an older file
// lacks added and saved.
TEST(VostrellePersistentPreferences, FirstLaunchSavesAtOnceAndLaterLaunchesKeepChoices) {
    TestSupport::IsolatedEnvironment env;
    VostrellePersistentPreferences::resetForTesting();
    const std::string path = ZMPaths::preferencesFile();
    EXPECT_EQ(std::filesystem::path(path).filename(), "me.zemtrix.vostrelle.plist");
    ASSERT_FALSE(std::filesystem::exists(path));
    auto& prefs = VostrellePersistentPreferences::sharedInstance();
    EXPECT_EQ(prefs.path(), path);
    EXPECT_EQ(fileContent(path).size(), VostrellePersistentPreferences::defaults().size());
    EXPECT_FALSE(prefs.hasUnsavedChanges());
    EXPECT_FALSE(prefs.containsKey(K::SetupDone)) << "keys without a default stay absent until set";

    // A relaunch writes pending changes first; an old reference keeps working.
    prefs.setValue(K::SortInstalledPackagesBy, "Source");
    prefs.setValue(K::SetupDone, true);
    VostrellePersistentPreferences::resetForTesting();
    auto& relaunched = VostrellePersistentPreferences::sharedInstance();
    EXPECT_NE(&relaunched, &prefs);
    EXPECT_EQ(relaunched.stringForKey(K::SortInstalledPackagesBy), "Source");
    EXPECT_TRUE(relaunched.boolForKey(K::SetupDone));
    EXPECT_EQ(prefs.stringForKey(K::SortInstalledPackagesBy), "Source");

    json old = fileContent(path);
    old.erase(K::NewsCount);
    TestSupport::writeFile(path, PersistentDictionary::xmlPropertyList(old));
    VostrellePersistentPreferences::resetForTesting();
    EXPECT_EQ(VostrellePersistentPreferences::sharedInstance().stringForKey(K::SortInstalledPackagesBy), "Source");
    EXPECT_TRUE(fileContent(path).contains(K::NewsCount)) << "the missing default was added and saved";
    VostrellePersistentPreferences::resetForTesting();
}
