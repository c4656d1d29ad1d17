#pragma once
// The persistent record of one source (primary key `location`, the repository
// URL ending in "/").
#include <optional>
#include <string>

#include "Realm/Realm.h"

struct ZMRSource : RealmObject<ZMRSource> {
    std::string location;
    std::string url;
    std::string name;
    std::string Description;
    std::string category;          // "Default" for a default repository
    std::string subcategory;
    std::string maintainer;
    std::string contact;
    std::string iconURL;
    std::string endpoint;          // payment endpoint URL, empty when the source has no store
    std::optional<bool> hasEndpoint;
    std::optional<bool> hasErrors; // the last refresh failed; nil before the first
    std::string regenDate;         // ISO-8601 regeneration date
    std::string totalPackages;
    std::string addingDate;        // "yyyy-MM-dd HH:mm:ss", local time
    std::string lastrefresh;
    std::optional<bool> seeOriginalDepictions;
    std::optional<bool> isFollowed;
    std::optional<bool> isTrusted;
    std::optional<bool> isUnsafe;
    std::optional<bool> isUsingInfoJson;
    std::optional<bool> waitingLogin;
    std::string twitterLink;
    std::string donateLink;
    // HTTP validators of the last successful refresh, as JSON text:
    // {"release": {"Last-Modified", "ETag"}, "packages": {"url", "Last-Modified", "ETag"}}.
    std::string httpValidators;

    static const ObjectSchema& schema();

    // A new record, not stored yet: name = location, description and total
    // packages " ", not using an info file, not followed, added now.
    static ZMRSource newSourceWithLocation(const std::string& location);
};
