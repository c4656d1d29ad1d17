#pragma once
// Names of the notifications about the package database; each value is the
// constant's own name.
inline constexpr const char* ZMRSourceUpdatedNotification = "ZMRSourceUpdatedNotification";
inline constexpr const char* ZMRSourceInfoIconChangedNotification = "ZMRSourceInfoIconChangedNotification";
inline constexpr const char* ZMRPackageInfoIconChangedNotification = "ZMRPackageInfoIconChangedNotification";
inline constexpr const char* ZMRPackageInfoRatingChangedNotification = "ZMRPackageInfoRatingChangedNotification";
inline constexpr const char* ZMRDoneRebuildingPackagesCacheNotification = "DoneRebuildingPackagesCache";
// Posted (any thread) by a successful source refresh that brought packages no
// source had before; object: the location, user info ZMRPackageIdentifiersKey:
// their identifiers, sorted. Followed sources announce them.
inline constexpr const char* ZMRSourcePackagesAddedNotification = "ZMRSourcePackagesAddedNotification";
// Posted (any thread) by the developers cache for each followed developer with
// new packages; object: the developer's stored (lower-cased) name, user info
// ZMRPackageIdentifiersKey: the new packages' identifiers.
inline constexpr const char* ZMRFollowedDeveloperNewPackagesNotification = "ZMRFollowedDeveloperNewPackagesNotification";
inline constexpr const char* ZMRPackageIdentifiersKey = "identifiers";
