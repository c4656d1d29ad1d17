#include "PersistentDictionary.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include <fmt/format.h>
#include <openssl/evp.h>
#include <plist/plist.h>

#include "Categories/String+ZemtrixExtensions.h"
#include "Dispatch/Dispatch.h"
#include "Foundation/AtomicFile.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMPaths.h"

using nlohmann::json;

struct PersistentDictionary::State {
    std::string path;
    mutable std::mutex mutex;
    json data = json::object();
    json defaults = json::object();
    uint64_t generation = 0;       // bumped by every change
    uint64_t savedGeneration = 0;  // the generation the file holds
    std::mutex saveMutex;          // one writer at a time, newest snapshot last
    // The mode of the file as last seen: a file set aside or removed is
    // written again as restricted as it was. Guarded by saveMutex.
    mode_t mode = 0644;
};

namespace {

// Property-list dates count seconds from 2001-01-01T00:00:00Z.
constexpr int64_t kPlistEpochOffset = 978307200;

std::string base64(const char* bytes, uint64_t length) {
    std::string out(4 * ((length + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(bytes), static_cast<int>(length));
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

json fromNode(plist_t node) {
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return value != 0;
    }
    case PLIST_UINT: {
        // libplist keeps signed integers in the unsigned field.
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return static_cast<int64_t>(value);
    }
    case PLIST_UID: {
        uint64_t value = 0;
        plist_get_uid_val(node, &value);
        return static_cast<int64_t>(value);
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return value;
    }
    case PLIST_STRING:
    case PLIST_KEY: {
        char* value = nullptr;
        if (plist_get_node_type(node) == PLIST_STRING) plist_get_string_val(node, &value);
        else plist_get_key_val(node, &value);
        std::string text = value ? value : "";
        std::free(value);
        return text;
    }
    case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        auto date = std::chrono::system_clock::from_time_t(static_cast<std::time_t>(kPlistEpochOffset + sec));
        return ZemtrixExtensions::iso8601String(date);
    }
    case PLIST_DATA: {
        char* bytes = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &bytes, &length);
        std::string text = base64(bytes, length);
        std::free(bytes);
        return text;
    }
    case PLIST_ARRAY: {
        json array = json::array();
        uint32_t count = plist_array_get_size(node);
        for (uint32_t i = 0; i < count; ++i) {
            json item = fromNode(plist_array_get_item(node, i));
            if (!item.is_null()) array.push_back(std::move(item));
        }
        return array;
    }
    case PLIST_DICT: {
        json object = json::object();
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (;;) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!value) {
                std::free(key);
                break;
            }
            json item = fromNode(value);
            if (key && !item.is_null()) object[key] = std::move(item);
            std::free(key);
        }
        std::free(it);
        return object;
    }
    default:
        return nullptr;
    }
}

// nullptr for values a property list cannot hold (null, NaN, binary).
plist_t toNode(const json& value) {
    switch (value.type()) {
    case json::value_t::boolean:
        return plist_new_bool(value.get<bool>() ? 1 : 0);
    case json::value_t::number_integer:
        return plist_new_uint(static_cast<uint64_t>(value.get<int64_t>()));
    case json::value_t::number_unsigned: {
        uint64_t v = value.get<uint64_t>();
        if (v <= static_cast<uint64_t>(INT64_MAX)) return plist_new_uint(v);
        return plist_new_real(static_cast<double>(v));
    }
    case json::value_t::number_float: {
        double v = value.get<double>();
        return std::isfinite(v) ? plist_new_real(v) : nullptr;
    }
    case json::value_t::string:
        return plist_new_string(value.get_ref<const std::string&>().c_str());
    case json::value_t::array: {
        plist_t array = plist_new_array();
        for (const auto& item : value) {
            if (plist_t node = toNode(item)) plist_array_append_item(array, node);
        }
        return array;
    }
    case json::value_t::object: {
        plist_t dict = plist_new_dict();
        for (const auto& [key, item] : value.items()) {
            if (plist_t node = toNode(item)) plist_dict_set_item(dict, key.c_str(), node);
        }
        return dict;
    }
    default:
        return nullptr;
    }
}

// NSString-style truth: skip blanks, a sign and leading zeros, then look at
// the first character.
bool textIsTrue(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    while (i < text.size() && text[i] == '0') ++i;
    if (i >= text.size()) return false;
    char c = text[i];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

void setAside(const std::string& path, const std::string& reason) {
    std::string aside = AtomicFile::moveAside(path);
    ZMLOG("The file {} cannot be used ({}); starting empty. {}", path, reason,
          aside.empty() ? std::string("It could not be moved aside.") : "It was kept as " + aside + ".");
}

json loadFile(const std::string& path, mode_t& mode) {
    AtomicFile::removeStaleTemporaries(path);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) ZMLOG("Cannot look at {}: {}", path, std::strerror(errno));
        return json::object();
    }
    mode = st.st_mode & 07777;
    std::string bytes, error;
    if (!AtomicFile::read(path, bytes, &error)) {
        setAside(path, error);
        return json::object();
    }
    auto dictionary = PersistentDictionary::dictionaryFromPropertyList(bytes, &error);
    if (!dictionary) {
        setAside(path, error);
        return json::object();
    }
    return std::move(*dictionary);
}

// Adds the missing keys; true when one was added. Caller holds the lock.
bool complete(json& data, const json& defaults) {
    bool added = false;
    for (const auto& [key, value] : defaults.items()) {
        if (!data.contains(key) && !value.is_null()) {
            data[key] = value;
            added = true;
        }
    }
    return added;
}

}  // namespace

bool PersistentDictionary::save(State& state) {
    std::lock_guard saveLock(state.saveMutex);
    json snapshot;
    uint64_t generation;
    {
        std::lock_guard lock(state.mutex);
        snapshot = state.data;
        generation = state.generation;
    }
    std::string xml = PersistentDictionary::xmlPropertyList(snapshot);
    auto directory = std::filesystem::path(state.path).parent_path();
    if (!directory.empty()) ZMPaths::createDirectories(directory.string());
    // Keep the mode the user gave the file, also one set aside or removed meanwhile.
    struct stat st {};
    if (::stat(state.path.c_str(), &st) == 0) state.mode = st.st_mode & 07777;
    std::string error;
    if (!AtomicFile::write(state.path, xml, state.mode, &error)) {
        ZMLOG("Cannot save {}: {}", state.path, error);
        return false;
    }
    std::lock_guard lock(state.mutex);
    if (generation > state.savedGeneration) state.savedGeneration = generation;
    return true;
}

PersistentDictionary::PersistentDictionary(std::string path, const json& defaults) : state_(std::make_shared<State>()) {
    state_->path = std::move(path);
    state_->data = loadFile(state_->path, state_->mode);
    if (defaults.is_object()) {
        state_->defaults = defaults;
        if (complete(state_->data, defaults)) state_->generation = 1;
    }
}

PersistentDictionary::~PersistentDictionary() {
    if (hasUnsavedChanges()) save(*state_);
}

const std::string& PersistentDictionary::path() const { return state_->path; }

bool PersistentDictionary::boolForKey(const std::string& key) const {
    json value = objectForKey(key);
    switch (value.type()) {
    case json::value_t::boolean: return value.get<bool>();
    case json::value_t::number_integer: return value.get<int64_t>() != 0;
    case json::value_t::number_unsigned: return value.get<uint64_t>() != 0;
    case json::value_t::number_float: return value.get<double>() != 0.0;
    case json::value_t::string: return textIsTrue(value.get_ref<const std::string&>());
    default: return false;
    }
}

int64_t PersistentDictionary::integerForKey(const std::string& key) const {
    json value = objectForKey(key);
    switch (value.type()) {
    case json::value_t::boolean: return value.get<bool>() ? 1 : 0;
    case json::value_t::number_integer: return value.get<int64_t>();
    case json::value_t::number_unsigned: return static_cast<int64_t>(value.get<uint64_t>());
    case json::value_t::number_float: {
        double v = value.get<double>();
        if (!std::isfinite(v)) return 0;
        if (v >= 9.2e18) return INT64_MAX;
        if (v <= -9.2e18) return INT64_MIN;
        return static_cast<int64_t>(v);
    }
    case json::value_t::string: return std::strtoll(value.get_ref<const std::string&>().c_str(), nullptr, 10);
    default: return 0;
    }
}

double PersistentDictionary::doubleForKey(const std::string& key) const {
    json value = objectForKey(key);
    switch (value.type()) {
    case json::value_t::boolean: return value.get<bool>() ? 1.0 : 0.0;
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
    case json::value_t::number_float: return value.get<double>();
    case json::value_t::string: return std::strtod(value.get_ref<const std::string&>().c_str(), nullptr);
    default: return 0.0;
    }
}

std::optional<std::string> PersistentDictionary::stringForKey(const std::string& key) const {
    json value = objectForKey(key);
    switch (value.type()) {
    case json::value_t::string: return value.get<std::string>();
    case json::value_t::boolean: return std::string(value.get<bool>() ? "1" : "0");
    case json::value_t::number_integer: return std::to_string(value.get<int64_t>());
    case json::value_t::number_unsigned: return std::to_string(value.get<uint64_t>());
    case json::value_t::number_float: return fmt::format("{}", value.get<double>());
    default: return std::nullopt;
    }
}

json PersistentDictionary::objectForKey(const std::string& key) const {
    std::lock_guard lock(state_->mutex);
    auto it = state_->data.find(key);
    return it == state_->data.end() ? json() : *it;
}

std::optional<PersistentDictionary::Clock::time_point> PersistentDictionary::dateForKey(const std::string& key) const {
    auto text = stringForKey(key);
    if (!text) return std::nullopt;
    return ZemtrixExtensions::dateFromISO8601(*text);
}

bool PersistentDictionary::containsKey(const std::string& key) const {
    std::lock_guard lock(state_->mutex);
    return state_->data.contains(key);
}

json PersistentDictionary::dictionaryRepresentation() const {
    std::lock_guard lock(state_->mutex);
    return state_->data;
}

void PersistentDictionary::setValue(const std::string& key, json value) {
    uint64_t generation;
    {
        std::lock_guard lock(state_->mutex);
        auto it = state_->data.find(key);
        if (value.is_null()) {
            if (it == state_->data.end()) return;
            state_->data.erase(it);
        } else {
            if (it != state_->data.end() && *it == value) return;
            state_->data[key] = std::move(value);
        }
        generation = ++state_->generation;
    }
    scheduleSave(generation);
}

void PersistentDictionary::setObject(const std::string& key, json value) { setValue(key, std::move(value)); }

void PersistentDictionary::setDate(const std::string& key, Clock::time_point date) {
    setValue(key, ZemtrixExtensions::iso8601String(date));
}

void PersistentDictionary::removeObjectForKey(const std::string& key) { setValue(key, nullptr); }

void PersistentDictionary::scheduleSave(uint64_t generation) {
    // Only the block of the last change finds its generation current; the
    // others do nothing, so a burst of changes gives one write.
    std::weak_ptr<State> weak = state_;
    Dispatch::mainAfter(kSaveDelay, [weak, generation] {
        auto state = weak.lock();
        if (!state) return;
        {
            std::lock_guard lock(state->mutex);
            if (state->generation != generation || state->savedGeneration >= generation) return;
        }
        // The disk write stays off the main thread.
        Dispatch::backgroundQueue([state, generation] {
            {
                // Written meanwhile by saveToFile or the destructor.
                std::lock_guard lock(state->mutex);
                if (state->savedGeneration >= generation) return;
            }
            save(*state);
        });
    });
}

bool PersistentDictionary::registerDefaults(const json& defaults) {
    if (!defaults.is_object()) return false;
    std::lock_guard lock(state_->mutex);
    state_->defaults.update(defaults);
    bool added = complete(state_->data, defaults);
    if (added) ++state_->generation;
    return added;
}

void PersistentDictionary::reload() {
    std::lock_guard saveLock(state_->saveMutex);
    json data = loadFile(state_->path, state_->mode);
    std::lock_guard lock(state_->mutex);
    state_->data = std::move(data);
    state_->savedGeneration = ++state_->generation;
    if (complete(state_->data, state_->defaults)) ++state_->generation;
}

bool PersistentDictionary::saveToFile() { return save(*state_); }

bool PersistentDictionary::hasUnsavedChanges() const {
    std::lock_guard lock(state_->mutex);
    return state_->generation != state_->savedGeneration;
}

std::optional<json> PersistentDictionary::dictionaryFromPropertyList(const std::string& bytes, std::string* error) {
    auto fail = [&](const char* why) -> std::optional<json> {
        if (error) *error = why;
        return std::nullopt;
    };
    if (bytes.empty()) return fail("the file is empty");
    if (bytes.size() > UINT32_MAX) return fail("the file is too large");
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    if (!root) return fail("not a property list");
    if (plist_get_node_type(root) != PLIST_DICT) {
        plist_free(root);
        return fail("the property list is not a dictionary");
    }
    json result = fromNode(root);
    plist_free(root);
    return result;
}

std::string PersistentDictionary::xmlPropertyList(const json& object) {
    plist_t root = object.is_object() ? toNode(object) : plist_new_dict();
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    std::string text = xml ? std::string(xml, length) : std::string();
    plist_to_xml_free(xml);
    plist_free(root);
    return text;
}
