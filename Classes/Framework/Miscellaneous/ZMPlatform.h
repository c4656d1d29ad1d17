#pragma once
// Facts about the machine that servers are told: model, a stable device
// identifier, the system version and name.
#include <optional>
#include <string>

class ZMPlatform {
public:
    // The hardware name of the kernel (uname machine), e.g. "x86_64".
    static std::string deviceModelID();
    // 40 lowercase hex digits: an HMAC-SHA1 of the machine id under the
    // program's own key. Stable for the machine; the machine id itself never
    // leaves it. Without a machine id, a random id kept in the
    // application-support directory stands in.
    static std::string deviceUDID();
    // $VOSTRELLE_FIRMWARE_VERSION, else the value given to setFirmwareVersion,
    // else VERSION_ID of /etc/os-release, else the kernel release.
    static std::string firmwareVersion();
    // NAME of /etc/os-release (e.g. "Debian GNU/Linux"), else the kernel name.
    static std::string platformName();
    // The system's name as a user says it: NAME of /etc/os-release without a
    // trailing "GNU/Linux" or "Linux" ("Debian", "Linux Mint"); the kernel
    // name without os-release. Its version is firmwareVersion().
    static std::string systemName();
    // The system as a user names it: NAME of /etc/os-release without a
    // trailing "GNU/Linux" or "Linux", then its VERSION_ID when there is one
    // ("Debian 12", "Fedora 40", "Arch"); the kernel name without os-release.
    static std::string systemDescription();

    // For tests: another firmware version, another os-release file, another
    // machine-id file (nullopt: the defaults again).
    static void setFirmwareVersion(std::optional<std::string> version);
    static void setOSReleasePath(std::optional<std::string> path);
    static void setMachineIDPath(std::optional<std::string> path);
};
