#include "Database/ZMRDeveloper.h"

#include "Realm/TextFolding.h"

const ObjectSchema& ZMRDeveloper::schema() {
    using D = ZMRDeveloper;
    static const ObjectSchema schema("ZMRDeveloper", {
        REALM_PROPERTY(D, name, PropertyPrimaryKey),
        REALM_PROPERTY(D, isFollowed, PropertyIndexed),
        REALM_PROPERTY(D, packagesCount),
        REALM_PROPERTY(D, packagesIdentifiers),
        REALM_PROPERTY(D, developerNewPackagesIdentifiers),
    });
    return schema;
}

static const RealmSchemaRegistration registration(ZMRDeveloper::schema());

std::string ZMRDeveloper::normalizedName(const std::string& name) {
    return TextFolding::fold(name, TextFolding::CaseInsensitive);
}
