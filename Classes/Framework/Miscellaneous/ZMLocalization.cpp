#include "ZMLocalization.h"

#include <fstream>
#include <map>
#include <mutex>

#include <nlohmann/json.hpp>

#include "ZMLog.h"
#include "ZMPaths.h"

namespace ZMLocalization {
namespace {
std::mutex gMutex;
std::string gLanguage = "en";
std::map<std::string, std::map<std::string, std::string>> gTables;

constexpr const char* kDevelopmentLanguage = "en";

const std::map<std::string, std::string>& table(const std::string& language, const std::string& name) {
    std::string cacheKey = language + "/" + name;
    auto it = gTables.find(cacheKey);
    if (it != gTables.end()) return it->second;
    std::map<std::string, std::string> entries;
    std::string path = ZMPaths::resourcesDirectory() + "/Localization/" + language + "/" + name + ".json";
    std::ifstream in(path);
    if (in) {
        auto json = nlohmann::json::parse(in, nullptr, false);
        if (json.is_object()) {
            for (auto& [k, v] : json.items()) {
                if (v.is_string()) entries[k] = v.get<std::string>();
            }
        } else {
            ZMLOG("String table {} is not a JSON object", path);
        }
    }
    return gTables.emplace(cacheKey, std::move(entries)).first->second;
}
}  // namespace

std::string language() {
    std::lock_guard lock(gMutex);
    return gLanguage;
}

void setLanguage(const std::string& language) {
    std::lock_guard lock(gMutex);
    if (language.empty() || language.find('/') != std::string::npos || language.find("..") != std::string::npos) return;
    gLanguage = language;
    gTables.clear();
}

std::string string(const std::string& key, const std::string& tableName) {
    std::lock_guard lock(gMutex);
    const auto& t = table(gLanguage, tableName);
    auto it = t.find(key);
    if (it != t.end() && !it->second.empty()) return it->second;
    // A partial translation shows English, not the key: the key of the
    // "Errors" table is a number.
    if (gLanguage != kDevelopmentLanguage) {
        const auto& english = table(kDevelopmentLanguage, tableName);
        auto en = english.find(key);
        if (en != english.end() && !en->second.empty()) return en->second;
    }
    return key;
}

std::string fill(std::string_view format, const std::vector<std::string>& arguments) {
    std::string out;
    out.reserve(format.size() + 64);
    size_t next = 0, position = 0;
    while (position < format.size()) {
        const size_t at = format.find("%@", position);
        if (at == std::string_view::npos) {
            out.append(format.substr(position));
            break;
        }
        out.append(format.substr(position, at - position));
        if (next < arguments.size()) out += arguments[next];
        ++next;
        position = at + 2;
    }
    return out;
}

std::string format(const std::string& key, const std::vector<std::string>& arguments) {
    return fill(string(key), arguments);
}

void reload() {
    std::lock_guard lock(gMutex);
    gTables.clear();
}
}  // namespace ZMLocalization
