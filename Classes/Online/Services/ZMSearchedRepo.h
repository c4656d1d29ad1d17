#pragma once
// One repository of the maker's repository directory (ZMSearchRepositories).
// Two entries are equal when their url and name are equal.
#include <cstddef>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

struct ZMRSource;

struct ZMSearchedRepo {
    std::string icon;  // icon URL (http(s) only; may be empty)
    std::string name;  // display name
    std::string url;   // the repository URL (the APT source location)
    std::string desc;  // description
    std::string maintainer;
    std::string category;

    // An element of a directory reply: nullopt when it is not an object, its
    // "name" or "location" is the empty text, or its "url" is not an http(s)
    // URL (logged "nil url"). Other fields of another type read as empty.
    static std::optional<ZMSearchedRepo> searchedRepoWithJSON(const nlohmann::json& element);
    // A configured source: nullopt when its name or location is empty, its
    // last refresh failed, its location is not an http(s) URL, or the
    // location carries credentials (user:password@), which stay private.
    static std::optional<ZMSearchedRepo> searchedRepoWithSource(const ZMRSource& source);

    bool isEqualToRepo(const ZMSearchedRepo& other) const { return url == other.url && name == other.name; }
    bool operator==(const ZMSearchedRepo& other) const { return isEqualToRepo(other); }
    size_t hash() const;
    // Any of url, name, maintainer, desc and category is empty or contains
    // "(null)" or "??" (the icon is not tested).
    bool isInvalid() const;
};
