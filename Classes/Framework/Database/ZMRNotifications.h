#pragma once
// Names of the notifications about the package database; each value is the
// constant's own name.
inline constexpr const char* ZMRSourceUpdatedNotification = "ZMRSourceUpdatedNotification";
inline constexpr const char* ZMRSourceInfoIconChangedNotification = "ZMRSourceInfoIconChangedNotification";
inline constexpr const char* ZMRPackageInfoIconChangedNotification = "ZMRPackageInfoIconChangedNotification";
inline constexpr const char* ZMRPackageInfoRatingChangedNotification = "ZMRPackageInfoRatingChangedNotification";
inline constexpr const char* ZMRDoneRebuildingPackagesCacheNotification = "DoneRebuildingPackagesCache";
