#pragma once
// A developer of the maker's developer directory (ZMSearchDeveloper). A
// field the reply leaves out, gives as null or in another type is empty;
// address fields hold only http(s) URLs.
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

struct ZMDeveloperProfile {
    // Where a bare Twitter handle is looked up.
    static constexpr const char* kTwitterWebHost = "twitter.com";

    std::string avatarURL{};   // "avatar": picture URL
    std::string fullName{};    // "developer": the name packages carry as Maintainer
    std::string biography{};   // "about"
    std::string email{};       // "email"
    std::string location{};    // "location": where the developer lives
    std::string github{};      // "github": page URL
    std::string repository{};  // "repository": URL of the developer's own APT repository
    std::string twitter{};     // "twitter": a handle, or a profile URL beginning with "http"
    std::string homepage{};    // "homepage": URL

    static ZMDeveloperProfile fromJSON(const nlohmann::json& element);

    // The Twitter profile to open: `twitter` itself when it is an http(s) URL
    // with a host; a handle ("@" optional, 1 to 15 letters, digits or "_")
    // as https://twitter.com/<handle>; nullopt for anything else ("javascript:",
    // "http:/broken", a handle with blanks).
    std::optional<std::string> twitterProfileURL() const;
    // The handle to show without "@": the handle, or the last path component
    // of a profile URL; empty when there is none.
    std::string twitterHandle() const;
};
