#include "Database/ZMRPackageVersion.h"

const ObjectSchema& ZMRPackageVersion::schema() {
    using V = ZMRPackageVersion;
    static const ObjectSchema schema("ZMRPackageVersion", {
        REALM_PROPERTY(V, versionKey, PropertyPrimaryKey),
        REALM_PROPERTY(V, identifier, PropertyIndexed),
        REALM_PROPERTY(V, version),
        REALM_PROPERTY(V, source, PropertyIndexed),
        REALM_PROPERTY(V, fileLocation),
        REALM_PROPERTY(V, size),
        REALM_PROPERTY(V, md5sum),
        REALM_PROPERTY(V, sha256),
        REALM_PROPERTY(V, dependencies),
        REALM_PROPERTY(V, conflicts),
    });
    return schema;
}

static const RealmSchemaRegistration registration(ZMRPackageVersion::schema());

std::string ZMRPackageVersion::makeKey(const std::string& source, const std::string& identifier,
                                       const std::string& version) {
    // A newline cannot occur in any of the three.
    return source + "\n" + identifier + "\n" + version;
}
