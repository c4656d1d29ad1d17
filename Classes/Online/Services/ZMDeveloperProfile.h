#pragma once
// A developer of the maker's developer directory (ZMSearchDeveloper). A
// field the reply leaves out, gives as null or in another type is empty;
// address fields hold only http(s) URLs.
#include <string>

#include <nlohmann/json.hpp>

struct ZMDeveloperProfile {
    std::string avatarURL;   // "avatar": picture URL
    std::string fullName;    // "developer": the name packages carry as Maintainer
    std::string biography;   // "about"
    std::string email;       // "email"
    std::string location;    // "location": where the developer lives
    std::string github;      // "github": page URL
    std::string repository;  // "repository": URL of the developer's own APT repository
    std::string twitter;     // "twitter": a handle, or a profile URL beginning with "http"
    std::string homepage;    // "homepage": URL

    static ZMDeveloperProfile fromJSON(const nlohmann::json& element);
};
