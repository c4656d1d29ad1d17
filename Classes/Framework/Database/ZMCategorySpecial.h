#pragma once
// The list kinds a package list accepts in place of a section name. Each value
// is also the string-table key of the list's title. Never changed at run time.
inline constexpr const char* kCategorySpecial_AllPackages = "__ALL_PACKAGES__";
inline constexpr const char* kCategorySpecial_InstalledPackages = "__INSTALLED_PACKAGES__";
inline constexpr const char* kCategorySpecial_NewPackages = "__NEW_PACKAGES__";
inline constexpr const char* kCategorySpecial_SourcePackages = "__SOURCE_PACKAGES__";
inline constexpr const char* kCategorySpecial_UpdatedPackages = "Updated Packages";
inline constexpr const char* kCategorySpecial_NewPackagesVersions = "New Versions";
inline constexpr const char* kCategorySpecial_Search = "Search";
inline constexpr const char* kCategorySpecial_SileoPackages = "Purchased Packages";
inline constexpr const char* kCategorySpecial_NewPackagesFromFollowedDeveloper = "New Packages from Followed Developers";
inline constexpr const char* kCategorySpecial_NewPackagesFromFollowedSource = "New Packages from Followed Source";
