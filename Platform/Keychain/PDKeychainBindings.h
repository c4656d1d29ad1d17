#pragma once
// A small key-value store for account data and store tokens.
//
// Entries live in "keychain.json" in the application-support directory, a
// JSON object readable by the owner only (mode 0600 from the moment the file
// exists), replaced atomically on every change. They are never written to
// the preference file. All members may be called from any thread.
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

class PDKeychainBindings {
public:
    // The store of ZMPaths::applicationSupport()/keychain.json.
    static PDKeychainBindings& sharedKeychainBindings();
    // Tests: the next sharedKeychainBindings() reads the file anew from the
    // current application-support directory. Earlier references stay valid.
    static void resetForTesting();

    explicit PDKeychainBindings(std::string path);
    ~PDKeychainBindings();

    const std::string& path() const;

    // The stored value; null when absent.
    nlohmann::json objectForKey(const std::string& key) const;
    // Texts as they are, numbers as decimal text; nullopt when absent.
    std::optional<std::string> stringForKey(const std::string& key) const;

    // Store and write at once; false (and a log line) when the file could not
    // be written (the value is kept in memory). A null value removes the key.
    bool setObject(const nlohmann::json& value, const std::string& key);
    bool setString(const std::string& value, const std::string& key);
    bool removeObjectForKey(const std::string& key);
    // Several entries in one write (a member whose value is null is removed),
    // so that a reader or a crash never finds half of them changed.
    bool setObjects(const nlohmann::json& entries);

    static constexpr const char* kFileName = "keychain.json";

private:
    struct State;
    std::unique_ptr<State> state_;
};
