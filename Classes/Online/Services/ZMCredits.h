#pragma once
// The people the maker credits (the credits screen).
//
//   GET credits/credits.php  ->  [{"name", "description", "avatarURL", "username"}, ...]
//
// Nothing is kept: each fetch hands its own entries to its completion.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

struct ZMCreditEntry {
    std::string name;         // shown, and the key of the avatar cache
    std::string description;  // shown under the name
    std::string avatarURL;    // http(s) only; may be empty
    std::string username;     // the name looked up in the developer directory

    // An element of the reply: nullopt when it is not an object or has no name.
    static std::optional<ZMCreditEntry> fromJSON(const nlohmann::json& element);
};

namespace ZMCredits {
// The entries in reply order (elements without a name skipped), or nullopt
// when there was no usable answer (logged "Error : ..."). Runs exactly once,
// on a background queue (at once on the caller's thread when nothing was sent).
void fetchCredits(std::function<void(std::optional<std::vector<ZMCreditEntry>>)> completion);
}  // namespace ZMCredits
