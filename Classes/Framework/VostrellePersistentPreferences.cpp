#include "VostrellePersistentPreferences.h"

#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "Miscellaneous/ZMPaths.h"

namespace {
std::mutex gMutex;
PersistentDictionary* gInstance = nullptr;
// Instances replaced by resetForTesting; never destroyed while the process runs.
std::vector<std::unique_ptr<PersistentDictionary>>& retired() {
    static auto* list = new std::vector<std::unique_ptr<PersistentDictionary>>;
    return *list;
}

// Changes of the last second before a normal exit are not lost.
void flushAtExit() {
    std::lock_guard lock(gMutex);
    if (gInstance && gInstance->hasUnsavedChanges()) gInstance->saveToFile();
}
}  // namespace

const nlohmann::json& VostrellePersistentPreferences::defaults() {
    namespace K = VostrellePreferenceKey;
    static const nlohmann::json values = {
        {K::ShowIncompatiblePackages, false},
        {K::HidePackageVersion, false},
        {K::ReplacePackageMaintainerWithSourceName, false},
        {K::HidePackageDescription, false},
        {K::HidePackageTweakCompatibleIndicator, false},
        {K::SortInstalledPackagesBy, "Name"},
        {K::GetCydiaPackageInfoFromDepiction, true},
        {K::AuthenticationForPackagesManagementTasks, false},
        {K::NewPackagesByFollowedDevelopers, false},
        {K::PrefersLargeTitles, true},
        {K::UseTranslucentBars, true},
        {K::ShowNotificationsInsteadOfErrorAlerts, false},
        {K::NewsCount, 0},
        {K::Theme, 0},
    };
    return values;
}

PersistentDictionary& VostrellePersistentPreferences::sharedInstance() {
    std::lock_guard lock(gMutex);
    if (!gInstance) {
        static bool registered = (std::atexit(flushAtExit), true);
        (void)registered;
        auto instance = std::make_unique<PersistentDictionary>(ZMPaths::preferencesFile(), defaults());
        // Completed defaults reach the file at once, so the file always holds
        // every setting.
        if (instance->hasUnsavedChanges()) instance->saveToFile();
        retired().push_back(std::move(instance));
        gInstance = retired().back().get();
    }
    return *gInstance;
}

void VostrellePersistentPreferences::resetForTesting() {
    std::lock_guard lock(gMutex);
    if (gInstance && gInstance->hasUnsavedChanges()) gInstance->saveToFile();
    gInstance = nullptr;
}
