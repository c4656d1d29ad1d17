#pragma once
// JSON written by someone else (a server, or a file holding what a server
// sent) is read through here: with a bound on its nesting. The parser itself
// does not recurse, but copying, printing and destroying parts of a value
// do, so a small document nested 100,000 levels deep would exhaust the stack
// of whatever thread touches it next.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace ZMJSON {

// Deeper than any document a server of ours or a depiction has reason to send.
inline constexpr int kMaximumDepth = 64;

// The document, or nullopt when the text is not JSON or nests deeper than
// `maximumDepth` (objects and arrays); the reason then goes to `why`.
std::optional<nlohmann::json> parse(std::string_view text, std::string* why = nullptr, int maximumDepth = kMaximumDepth);

// A member of an object when it has the type asked for; otherwise (absent,
// null, another type) the empty value, so a wrong type reads as missing.
inline std::string stringValue(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

inline bool boolValue(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    return it != object.end() && it->is_boolean() && it->get<bool>();
}

// The strings of an array member; other elements are skipped.
inline std::vector<std::string> stringList(const nlohmann::json& object, const char* key) {
    std::vector<std::string> out;
    auto it = object.find(key);
    if (it == object.end() || !it->is_array()) return out;
    for (const auto& v : *it)
        if (v.is_string()) out.push_back(v.get<std::string>());
    return out;
}

}  // namespace ZMJSON
