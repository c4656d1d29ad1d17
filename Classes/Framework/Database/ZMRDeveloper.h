#pragma once
// The persistent record of a developer (primary key `name`, lower-cased).
#include <optional>
#include <string>

#include "Realm/Realm.h"

struct ZMRDeveloper : RealmObject<ZMRDeveloper> {
    std::string name;  // lower-cased
    std::optional<bool> isFollowed;
    int64_t packagesCount = 0;
    StringList packagesIdentifiers;
    StringList developerNewPackagesIdentifiers;  // in order

    static const ObjectSchema& schema();
    // The form `name` is stored in.
    static std::string normalizedName(const std::string& name);
};
