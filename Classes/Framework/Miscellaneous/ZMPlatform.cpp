#include "ZMPlatform.h"

#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <sys/utsname.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

#include "ZMPaths.h"

namespace {

std::mutex gMutex;
std::optional<std::string> gFirmware, gOSReleasePath, gMachineIDPath, gCachedUDID;

// Derives the device identifier; changing it would change every device's id.
constexpr const char kUDIDKey[] = "me.zemtrix.vostrelle.device-identifier.v1";

std::string hex(const unsigned char* bytes, size_t length) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string trimmed(std::string s) {
    s.erase(0, s.find_first_not_of(" \t\r\n"));
    s.erase(s.find_last_not_of(" \t\r\n") + 1);
    return s;
}

std::string firstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return trimmed(line);
}

std::optional<std::string> osReleaseValue(const std::string& key) {
    std::string path;
    {
        std::lock_guard lock(gMutex);
        path = gOSReleasePath.value_or("");
    }
    std::ifstream in(path.empty() ? "/etc/os-release" : path);
    if (!in && path.empty()) in.open("/usr/lib/os-release");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + "=", 0) != 0) continue;
        std::string value = trimmed(line.substr(key.size() + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        if (!value.empty()) return value;
    }
    return std::nullopt;
}

// A random id made once and kept, for machines without a machine id.
std::string storedRandomID() {
    std::string path = ZMPaths::applicationSupport() + "/device-id";
    std::string existing = firstLine(path);
    if (existing.size() == 32) return existing;
    unsigned char bytes[16];
    RAND_bytes(bytes, sizeof bytes);
    std::string id = hex(bytes, sizeof bytes);
    ZMPaths::createDirectories(ZMPaths::applicationSupport());
    std::ofstream(path) << id << '\n';
    return id;
}

}  // namespace

std::string ZMPlatform::deviceModelID() {
    utsname u{};
    if (uname(&u) != 0) return "unknown";
    return u.machine;
}

std::string ZMPlatform::deviceUDID() {
    std::optional<std::string> pathOverride;
    {
        std::lock_guard lock(gMutex);
        if (gCachedUDID) return *gCachedUDID;
        pathOverride = gMachineIDPath;
    }
    std::string machineID;
    if (pathOverride) {
        machineID = firstLine(*pathOverride);
    } else {
        machineID = firstLine("/etc/machine-id");
        if (machineID.empty()) machineID = firstLine("/var/lib/dbus/machine-id");
    }
    if (machineID.empty()) machineID = storedRandomID();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha1(), kUDIDKey, sizeof kUDIDKey - 1, reinterpret_cast<const unsigned char*>(machineID.data()),
         machineID.size(), digest, &length);
    std::string udid = hex(digest, length);
    std::lock_guard lock(gMutex);
    gCachedUDID = udid;
    return udid;
}

std::string ZMPlatform::firmwareVersion() {
    if (const char* v = std::getenv("VOSTRELLE_FIRMWARE_VERSION"); v && *v) return v;
    {
        std::lock_guard lock(gMutex);
        if (gFirmware) return *gFirmware;
    }
    if (auto v = osReleaseValue("VERSION_ID")) return *v;
    utsname u{};
    if (uname(&u) != 0) return "0";
    std::string release = u.release;  // "6.1.0-18-amd64" -> "6.1.0"
    return release.substr(0, release.find_first_not_of("0123456789."));
}

std::string ZMPlatform::platformName() {
    if (auto v = osReleaseValue("NAME")) return *v;
    utsname u{};
    if (uname(&u) != 0) return "Linux";
    return u.sysname;
}

std::string ZMPlatform::systemDescription() {
    std::string name = systemName();
    if (auto version = osReleaseValue("VERSION_ID")) name += " " + *version;
    return name;
}

std::string ZMPlatform::systemName() {
    std::string name = platformName();
    for (const std::string suffix : {" GNU/Linux", " Linux"})
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            name.erase(name.size() - suffix.size());
            break;
        }
    return name;
}

void ZMPlatform::setFirmwareVersion(std::optional<std::string> version) {
    std::lock_guard lock(gMutex);
    gFirmware = std::move(version);
}

void ZMPlatform::setOSReleasePath(std::optional<std::string> path) {
    std::lock_guard lock(gMutex);
    gOSReleasePath = std::move(path);
}

void ZMPlatform::setMachineIDPath(std::optional<std::string> path) {
    std::lock_guard lock(gMutex);
    gMachineIDPath = std::move(path);
    gCachedUDID.reset();
}
