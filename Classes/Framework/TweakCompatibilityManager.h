#pragma once
// Whether a package version works on this system version, from a list the
// maker publishes: 0 working, 1 not working, 2 no verdict. The list is
// fetched from a configurable URL ($VOSTRELLE_COMPAT_URL, or setListURL();
// there is no default, and then every package has no verdict), kept as
// "tweak_compatible.plist" in the application-support directory and copied
// into the records' tweakCompatibleStatus. The interface maps the status to
// a colour.
//
// The list is JSON: an array (or {"packages": array}) of entries
//   {"identifier": "com.example.tweak", "version": "1.2", "firmware": "12.4",
//    "status": 0 | 1 | 2 | "working" | "not working" | "unknown"}
// "version" "*" (or missing) stands for every version; "firmware" matches the
// system version exactly or as a leading part ("12" covers "12.4.1").
// Entries with other shapes are skipped.
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "Miscellaneous/ZMError.h"

class TweakCompatibilityManager {
public:
    enum Status : int64_t { Working = 0, NotWorking = 1, NoVerdict = 2 };
    // identifier -> version ("*" for all) -> firmware -> status
    using Table = std::map<std::string, std::map<std::string, std::map<std::string, int64_t>>>;

    static TweakCompatibilityManager& instance();

    // nullopt: $VOSTRELLE_COMPAT_URL again (unset or empty: no list).
    void setListURL(std::optional<std::string> url);
    std::optional<std::string> listURL() const;

    static ZMResult<Table> parseList(const std::string& json);
    // The stored list (tweak_compatible.plist); empty when there is none.
    void reloadFromFile();
    static std::string listFilePath();

    // Fetches the list on a background queue, stores it, fills the records
    // and calls the completion on the main thread (nullopt: done; also when
    // no URL is configured, which clears the verdicts to 2).
    void updateCompatibilityList(std::function<void(std::optional<ZMError>)> completion = {});
    // Replaces the list (and its file) and fills the records, on the calling thread.
    std::optional<ZMError> storeList(const Table& table);
    // Writes tweakCompatibleStatus of every record (one transaction). Returns the records changed.
    size_t applyToRecords() const;

    // The status of a package version on this system (ZMPlatform::firmwareVersion()).
    int64_t statusForBundle(const std::string& identifier, const std::string& version) const;
    int64_t statusForBundle(const std::string& identifier, const std::string& version,
                            const std::string& firmware) const;

private:
    TweakCompatibilityManager();
    mutable std::mutex mutex_;
    Table table_;
    std::optional<std::string> url_;
    bool urlSet_ = false;
};
