#include "ZMPaths.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>

#include "VostrelleBuildPaths.h"

namespace fs = std::filesystem;

namespace ZMPaths {
namespace {
std::mutex gMutex;
std::optional<std::string> gSupport, gLog, gRoot, gResources;

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}
std::string home() {
    std::string h = env("HOME");
    return h.empty() ? std::string("/tmp") : h;
}
std::string withoutTrailingSlash(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}
}  // namespace

std::string applicationSupport() {
    {
        std::lock_guard lock(gMutex);
        if (gSupport) return *gSupport;
    }
    if (auto v = env("VOSTRELLE_DATA_DIR"); !v.empty()) return withoutTrailingSlash(v);
    if (auto v = env("XDG_DATA_HOME"); !v.empty()) return withoutTrailingSlash(v) + "/Vostrelle";
    return home() + "/.local/share/Vostrelle";
}

std::string logDirectory() {
    {
        std::lock_guard lock(gMutex);
        if (gLog) return *gLog;
    }
    if (auto v = env("VOSTRELLE_LOG_DIR"); !v.empty()) return withoutTrailingSlash(v);
    if (auto v = env("XDG_STATE_HOME"); !v.empty()) return withoutTrailingSlash(v) + "/me.zemtrix.vostrelle";
    return home() + "/.local/state/me.zemtrix.vostrelle";
}

std::string logFile() { return logDirectory() + "/vostrelle.log"; }

std::string targetRoot() {
    {
        std::lock_guard lock(gMutex);
        if (gRoot) return *gRoot;
    }
    if (auto v = env("VOSTRELLE_TARGET_ROOT"); !v.empty()) return withoutTrailingSlash(v);
    return "/";
}

std::string dpkgDirectory() {
    std::string root = targetRoot();
    return (root == "/" ? std::string() : root) + "/var/lib/dpkg";
}

std::string resourcesDirectory() {
    {
        std::lock_guard lock(gMutex);
        if (gResources) return *gResources;
    }
    if (auto v = env("VOSTRELLE_RESOURCES_DIR"); !v.empty()) return withoutTrailingSlash(v);
    return VOSTRELLE_RESOURCES_DIR;
}

std::string subdirectory(const std::string& name) { return applicationSupport() + "/" + name; }
std::string databaseFile() { return applicationSupport() + "/default.realm"; }
std::string preferencesFile() { return applicationSupport() + "/me.zemtrix.vostrelle.plist"; }
std::string aptTree() { return applicationSupport() + "/APT"; }

void setApplicationSupport(const std::string& path) {
    std::lock_guard lock(gMutex);
    gSupport = withoutTrailingSlash(path);
}
void setLogDirectory(const std::string& path) {
    std::lock_guard lock(gMutex);
    gLog = withoutTrailingSlash(path);
}
void setTargetRoot(const std::string& path) {
    std::lock_guard lock(gMutex);
    gRoot = withoutTrailingSlash(path);
}
void setResourcesDirectory(const std::string& path) {
    std::lock_guard lock(gMutex);
    gResources = withoutTrailingSlash(path);
}

void resetForTesting() {
    std::lock_guard lock(gMutex);
    gSupport.reset();
    gLog.reset();
    gRoot.reset();
    gResources.reset();
}

std::string companionProgram(const std::string& builtPath, const std::string& name) {
    if (::access(builtPath.c_str(), X_OK) == 0) return builtPath;
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return name;
    const std::string exe(self, static_cast<size_t>(n));
    return exe.substr(0, exe.rfind('/')) + "/" + name;
}

bool createDirectories(const std::string& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    return fs::is_directory(path, ec);
}
}  // namespace ZMPaths
