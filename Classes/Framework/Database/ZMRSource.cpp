#include "Database/ZMRSource.h"

#include <ctime>

const ObjectSchema& ZMRSource::schema() {
    using S = ZMRSource;
    static const ObjectSchema schema("ZMRSource", {
        REALM_PROPERTY(S, location, PropertyPrimaryKey),
        REALM_PROPERTY(S, url),
        REALM_PROPERTY(S, name, PropertyIndexed),
        REALM_PROPERTY(S, Description),
        REALM_PROPERTY(S, category),
        REALM_PROPERTY(S, subcategory),
        REALM_PROPERTY(S, maintainer),
        REALM_PROPERTY(S, contact),
        REALM_PROPERTY(S, iconURL),
        REALM_PROPERTY(S, endpoint),
        REALM_PROPERTY(S, hasEndpoint),
        REALM_PROPERTY(S, hasErrors),
        REALM_PROPERTY(S, regenDate),
        REALM_PROPERTY(S, totalPackages),
        REALM_PROPERTY(S, addingDate),
        REALM_PROPERTY(S, lastrefresh),
        REALM_PROPERTY(S, seeOriginalDepictions),
        REALM_PROPERTY(S, isFollowed),
        REALM_PROPERTY(S, isTrusted),
        REALM_PROPERTY(S, isUnsafe),
        REALM_PROPERTY(S, isUsingInfoJson),
        REALM_PROPERTY(S, waitingLogin),
        REALM_PROPERTY(S, twitterLink),
        REALM_PROPERTY(S, donateLink),
        REALM_PROPERTY(S, httpValidators),
    });
    return schema;
}

static const RealmSchemaRegistration registration(ZMRSource::schema());

ZMRSource ZMRSource::newSourceWithLocation(const std::string& location) {
    ZMRSource source;
    source.location = location;
    source.name = location;
    source.Description = " ";
    source.totalPackages = " ";
    source.isUsingInfoJson = false;
    source.isFollowed = false;
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    source.addingDate = text;
    return source;
}
