#pragma once
// A dictionary kept in a property-list file.
//
// Values live in memory as JSON (booleans, integers, reals, strings, arrays,
// objects). The file is an XML property list; binary ones are read too, and
// plist dates are read as ISO-8601 UTC texts ("2026-12-06T21:03:24Z"), data
// as base64 text. Every change schedules a save one second after the LAST
// change (on a background queue, started from the main thread's loop), so a
// burst of changes costs one write; saveToFile() writes at once. Writes are
// atomic: a crash leaves the previous complete file. A file that cannot be
// read or parsed loads as empty, is logged, and is kept as "<file>.corrupt".
//
// All members may be called from any thread.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

class PersistentDictionary {
public:
    using Clock = std::chrono::system_clock;

    // Loads `path` (a missing file is an empty dictionary) and completes the
    // keys missing from it with `defaults` (a JSON object). Nothing is written.
    explicit PersistentDictionary(std::string path, const nlohmann::json& defaults = nlohmann::json::object());
    // Writes pending changes before going away.
    ~PersistentDictionary();
    PersistentDictionary(const PersistentDictionary&) = delete;
    PersistentDictionary& operator=(const PersistentDictionary&) = delete;

    const std::string& path() const;

    // YES for true, a non-zero number, or a text that begins with Y, y, T, t
    // or a non-zero digit ("YES", "true", "1"); NO when absent.
    bool boolForKey(const std::string& key) const;
    // Integers, reals (truncated), booleans (0/1) and numeric texts; 0 when absent.
    int64_t integerForKey(const std::string& key) const;
    double doubleForKey(const std::string& key) const;
    // Texts, and numbers as their decimal text; nullopt when absent or another type.
    std::optional<std::string> stringForKey(const std::string& key) const;
    // The stored value; null when absent.
    nlohmann::json objectForKey(const std::string& key) const;
    // A date stored as ISO-8601 text (see setDate); nullopt when absent or unreadable.
    std::optional<Clock::time_point> dateForKey(const std::string& key) const;
    bool containsKey(const std::string& key) const;
    // A copy of the whole dictionary.
    nlohmann::json dictionaryRepresentation() const;

    // Store the value (null removes the key) and schedule the save.
    void setValue(const std::string& key, nlohmann::json value);
    void setObject(const std::string& key, nlohmann::json value);
    // Stores the date as ISO-8601 UTC text.
    void setDate(const std::string& key, Clock::time_point date);
    void removeObjectForKey(const std::string& key);

    // Adds the keys of `defaults` (a JSON object) that are missing and keeps
    // them for reload(). Returns true when a key was added; the caller decides
    // when to save.
    bool registerDefaults(const nlohmann::json& defaults);
    // Reads the file again (dropping unsaved changes), then applies the defaults.
    void reload();

    // Writes the file now; false (and a log line) on failure.
    bool saveToFile();
    // Changes made since the last successful save.
    bool hasUnsavedChanges() const;

    // The delay between the last change and the scheduled save, in seconds.
    static constexpr double kSaveDelay = 1.0;

    // Conversions between JSON and property lists, used by the file format.
    // nullopt with `error` set when the bytes are not a property-list dictionary.
    static std::optional<nlohmann::json> dictionaryFromPropertyList(const std::string& bytes, std::string* error);
    // An XML property list of the object; null values are left out.
    static std::string xmlPropertyList(const nlohmann::json& object);

private:
    struct State;
    void scheduleSave(uint64_t generation);
    static bool save(State& state);
    std::shared_ptr<State> state_;
};
