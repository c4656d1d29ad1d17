#pragma once
// The persistent record of one available version of a package in one source.
// Primary key `versionKey` = makeKey(source, identifier, version).
#include <string>

#include "Realm/Realm.h"

struct ZMRPackageVersion : RealmObject<ZMRPackageVersion> {
    std::string versionKey;
    std::string identifier;
    std::string version;
    std::string source;        // location of the source
    std::string fileLocation;  // Filename field: the .deb's path under the source
    std::string size;
    std::string md5sum;
    std::string sha256;
    StringList dependencies;
    StringList conflicts;

    static const ObjectSchema& schema();
    static std::string makeKey(const std::string& source, const std::string& identifier, const std::string& version);
};
