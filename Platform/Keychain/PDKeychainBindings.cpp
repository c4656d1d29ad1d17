#include "PDKeychainBindings.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include "Foundation/AtomicFile.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMPaths.h"

using nlohmann::json;

struct PDKeychainBindings::State {
    std::string path;
    mutable std::mutex mutex;
    json entries = json::object();
};

namespace {
std::mutex gSharedMutex;
PDKeychainBindings* gShared = nullptr;
std::vector<std::unique_ptr<PDKeychainBindings>>& retired() {
    static auto* list = new std::vector<std::unique_ptr<PDKeychainBindings>>;
    return *list;
}

constexpr mode_t kOwnerOnly = 0600;

json load(const std::string& path) {
    AtomicFile::removeStaleTemporaries(path);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) ZMLOG("Cannot look at {}: {}", path, std::strerror(errno));
        return json::object();
    }
    // A file widened by hand or by an old version is closed again.
    if ((st.st_mode & 077) != 0 && ::chmod(path.c_str(), kOwnerOnly) != 0)
        ZMLOG("Cannot restrict the mode of {}: {}", path, std::strerror(errno));
    std::string bytes, error;
    if (AtomicFile::read(path, bytes, &error)) {
        json parsed = json::parse(bytes, nullptr, false);
        if (parsed.is_object()) return parsed;
        error = "not a JSON object";
    }
    std::string aside = AtomicFile::moveAside(path);
    ZMLOG("The file {} cannot be used ({}); starting empty. {}", path, error,
          aside.empty() ? std::string("It could not be moved aside.") : "It was kept as " + aside + ".");
    return json::object();
}
}  // namespace

PDKeychainBindings& PDKeychainBindings::sharedKeychainBindings() {
    std::lock_guard lock(gSharedMutex);
    if (!gShared) {
        retired().push_back(
            std::make_unique<PDKeychainBindings>(ZMPaths::applicationSupport() + "/" + kFileName));
        gShared = retired().back().get();
    }
    return *gShared;
}

void PDKeychainBindings::resetForTesting() {
    std::lock_guard lock(gSharedMutex);
    gShared = nullptr;
}

PDKeychainBindings::PDKeychainBindings(std::string path) : state_(std::make_unique<State>()) {
    state_->path = std::move(path);
    state_->entries = load(state_->path);
}

PDKeychainBindings::~PDKeychainBindings() = default;

const std::string& PDKeychainBindings::path() const { return state_->path; }

json PDKeychainBindings::objectForKey(const std::string& key) const {
    std::lock_guard lock(state_->mutex);
    auto it = state_->entries.find(key);
    return it == state_->entries.end() ? json() : *it;
}

std::optional<std::string> PDKeychainBindings::stringForKey(const std::string& key) const {
    json value = objectForKey(key);
    if (value.is_string()) return value.get<std::string>();
    if (value.is_number_integer()) return std::to_string(value.get<int64_t>());
    if (value.is_number_unsigned()) return std::to_string(value.get<uint64_t>());
    if (value.is_number_float()) return value.dump();
    return std::nullopt;
}

bool PDKeychainBindings::setObject(const json& value, const std::string& key) {
    return setObjects(json::object({{key, value}}));
}

bool PDKeychainBindings::setObjects(const json& entries) {
    if (!entries.is_object()) return false;
    std::lock_guard lock(state_->mutex);
    bool write = false;
    for (const auto& [key, value] : entries.items()) {
        if (value.is_null()) {
            write |= state_->entries.erase(key) > 0;
        } else {
            state_->entries[key] = value;
            write = true;
        }
    }
    if (!write) return true;
    // Written under the lock so that the file never goes back to an older state.
    auto directory = std::filesystem::path(state_->path).parent_path();
    if (!directory.empty()) ZMPaths::createDirectories(directory.string());
    std::string text = state_->entries.dump(2, ' ', false, json::error_handler_t::replace);
    std::string error;
    if (!AtomicFile::write(state_->path, text, kOwnerOnly, &error)) {
        ZMLOG("Cannot save {}: {}", state_->path, error);
        return false;
    }
    return true;
}

bool PDKeychainBindings::setString(const std::string& value, const std::string& key) { return setObject(value, key); }

bool PDKeychainBindings::removeObjectForKey(const std::string& key) { return setObject(nullptr, key); }
