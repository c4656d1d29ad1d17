#pragma once
// The program's settings: one PersistentDictionary kept in
// <application support>/me.zemtrix.vostrelle.plist, completed with the
// defaults below (and saved) every time it is first used in a launch.
//
// Keys with a default:
//   ShowIncompatiblePackages                 NO      show packages reported not working on this system
//   HidePackageVersion                       NO      package rows: hide the version
//   ReplacePackageMaintainerWithSourceName   NO      package rows: source name instead of maintainer
//   HidePackageDescription                   NO      package rows: hide the description
//   HidePackageTweakCompatibleIndicator      NO      package rows: hide the compatibility dot
//   SortInstalledPackagesBy                  "Name"  "Category", "InstallDate", "Maintainer", "Name" or "Source"
//   GetCydiaPackageInfoFromDepiction         YES     fetch depictions whatever the network status
//   AuthenticationForPackagesManagementTasks NO      device-owner authentication before sensitive tasks
//   NewPackagesByFollowedDevelopers          NO      a followed developer has new packages
//   prefersLargeTitles                       YES     large navigation titles
//   UseTranslucentBars                       YES     translucent navigation and tab bars
//   ShowNotificationsInsteadOfErrorAlerts    NO      errors as local notifications instead of popups
//   NewsCount                                0       number of news items already announced
//   Theme                                    0       appearance style: 0 light, 1 blue, 2 grey, 3 pure black
// Keys without a default (absent until set): setupDone, welcomeScreenVersion,
// SearchQueryOption, SearchDeveloper, cydiaStoreIsSignedIn, lastRefreshDate
// and lastVisitDate (ISO-8601 UTC texts, see PersistentDictionary::setDate),
// WindowGeometry (the window's last place: {"x", "y", "width", "height"}).
//
// Further defaults (appearance, for instance) belong in defaults() so that
// every launch completes them.
#include <nlohmann/json.hpp>

#include "PersistentDictionary.h"

namespace VostrellePreferenceKey {
inline constexpr const char* ShowIncompatiblePackages = "ShowIncompatiblePackages";
inline constexpr const char* HidePackageVersion = "HidePackageVersion";
inline constexpr const char* ReplacePackageMaintainerWithSourceName = "ReplacePackageMaintainerWithSourceName";
inline constexpr const char* HidePackageDescription = "HidePackageDescription";
inline constexpr const char* HidePackageTweakCompatibleIndicator = "HidePackageTweakCompatibleIndicator";
inline constexpr const char* SortInstalledPackagesBy = "SortInstalledPackagesBy";
inline constexpr const char* GetCydiaPackageInfoFromDepiction = "GetCydiaPackageInfoFromDepiction";
inline constexpr const char* AuthenticationForPackagesManagementTasks = "AuthenticationForPackagesManagementTasks";
inline constexpr const char* NewPackagesByFollowedDevelopers = "NewPackagesByFollowedDevelopers";
inline constexpr const char* PrefersLargeTitles = "prefersLargeTitles";
inline constexpr const char* UseTranslucentBars = "UseTranslucentBars";
inline constexpr const char* ShowNotificationsInsteadOfErrorAlerts = "ShowNotificationsInsteadOfErrorAlerts";
inline constexpr const char* NewsCount = "NewsCount";
inline constexpr const char* Theme = "Theme";

inline constexpr const char* SetupDone = "setupDone";
inline constexpr const char* WelcomeScreenVersion = "welcomeScreenVersion";
inline constexpr const char* SearchQueryOption = "SearchQueryOption";
inline constexpr const char* SearchDeveloper = "SearchDeveloper";
inline constexpr const char* CydiaStoreIsSignedIn = "cydiaStoreIsSignedIn";
inline constexpr const char* LastRefreshDate = "lastRefreshDate";
inline constexpr const char* LastVisitDate = "lastVisitDate";
inline constexpr const char* WindowGeometry = "WindowGeometry";
}  // namespace VostrellePreferenceKey

class VostrellePersistentPreferences {
public:
    // The process-wide preference dictionary of ZMPaths::preferencesFile(),
    // created on first use. Safe to call from any thread.
    static PersistentDictionary& sharedInstance();
    // The defaults completed at every launch.
    static const nlohmann::json& defaults();
    // Tests: the next sharedInstance() opens ZMPaths::preferencesFile() anew.
    // Earlier instances stay valid (their pending changes are written) so that
    // references taken before the reset do not dangle.
    static void resetForTesting();
};
