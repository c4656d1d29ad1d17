#pragma once
// The icon cache shared by packages and sources: files in "IconCache" of the
// application-support directory, named "<md5 of the key>.png" (the key is a
// package identifier or a source location, as ZMRPackage::iconPath() does),
// filled by background downloads.
//
// One download per file at a time: asking again while it runs does nothing,
// nor does asking for an address that gave no icon in the last 10 minutes.
// Only http and https URLs are fetched; a body that is not an image (PNG,
// JPEG, GIF or WebP by its first bytes) or larger than 8 MiB is dropped. The
// file appears complete or not at all; the notification goes out on the main
// thread once it is there.
#include <cstddef>
#include <string>

// What a caller shows: a cached file, else the application's own image.
struct ZMRIcon {
    std::string path;       // an existing icon file, or ""
    std::string imageName;  // used when path is empty ("Categories/...", "Sources/Default")
    bool isFile() const { return !path.empty(); }
};

namespace ZMIconCache {
inline constexpr const char* kDefaultSourceImage = "Sources/Default";
inline constexpr size_t kMaximumIconSize = 8u << 20;

// IconCache/<md5 of key>.png (the file may not exist).
std::string pathForKey(const std::string& key);
bool exists(const std::string& path);
// Starts the download of `url` into `path` unless one for that path is under
// way or the URL is not http(s). When stored, posts `notificationName` with
// `object` on the main thread. True when a download was started.
bool fetch(const std::string& url, const std::string& path, const std::string& notificationName,
           const std::string& object);
// Downloads under way (tests).
size_t inFlightCount();
}  // namespace ZMIconCache
