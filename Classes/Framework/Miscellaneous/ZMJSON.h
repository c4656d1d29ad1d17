#pragma once
// JSON written by someone else (a server, or a file holding what a server
// sent) is read through here: with a bound on its nesting. The parser itself
// does not recurse, but copying, printing and destroying parts of a value
// do, so a small document nested 100,000 levels deep would exhaust the stack
// of whatever thread touches it next.
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace ZMJSON {

// Deeper than any document a server of ours or a depiction has reason to send.
inline constexpr int kMaximumDepth = 64;

// The document, or nullopt when the text is not JSON or nests deeper than
// `maximumDepth` (objects and arrays); the reason then goes to `why`.
std::optional<nlohmann::json> parse(std::string_view text, std::string* why = nullptr, int maximumDepth = kMaximumDepth);

}  // namespace ZMJSON
