#pragma once
// The screenshot cache: "ScreenshotsCache" in the application-support
// directory, one PNG file per shown screenshot, named "<identifier>-<n>.png"
// with n its position from 1. Names are made only from a valid Debian package
// name, so no identifier can name a file elsewhere; recorded paths are only
// read when they lie directly in this directory.
#include <optional>
#include <string>

class ZMScreenshotCache {
public:
    static std::string directory();
    // nullopt when the identifier is not a package name or n < 1.
    static std::optional<std::string> pathForPosition(const std::string& identifier, int position);
    // Whether the path, taken as text, names a file directly inside directory().
    static bool isCachePath(const std::string& path);
    // Creates the directory when missing (not its parents); true when it exists.
    static bool ensureDirectory();
};
