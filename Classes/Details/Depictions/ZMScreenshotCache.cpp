#include "Depictions/ZMScreenshotCache.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "Categories/String+VersionCompare.h"
#include "Miscellaneous/ZMPaths.h"

std::string ZMScreenshotCache::directory() { return ZMPaths::subdirectory("ScreenshotsCache"); }

std::optional<std::string> ZMScreenshotCache::pathForPosition(const std::string& identifier, int position) {
    if (position < 1 || !isValidDebianPackageName(identifier)) return std::nullopt;
    return directory() + "/" + identifier + "-" + std::to_string(position) + ".png";
}

bool ZMScreenshotCache::isCachePath(const std::string& path) {
    const std::filesystem::path p(path);
    const std::string name = p.filename().string();
    if (name.empty() || name == "." || name == "..") return false;
    return p.parent_path().lexically_normal() == std::filesystem::path(directory()).lexically_normal() &&
           p.lexically_normal() == p.parent_path().lexically_normal() / name;
}

bool ZMScreenshotCache::ensureDirectory() {
    const std::string dir = directory();
    if (::mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST) {
        struct stat st {};
        return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    return false;
}
