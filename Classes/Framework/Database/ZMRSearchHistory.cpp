#include "Database/ZMRSearchHistory.h"

const ObjectSchema& ZMRSearchHistory::schema() {
    using H = ZMRSearchHistory;
    static const ObjectSchema schema("ZMRSearchHistory", {
        REALM_PROPERTY(H, date, PropertyDate | PropertyIndexed),
        REALM_PROPERTY(H, search),
    });
    return schema;
}

static const RealmSchemaRegistration registration(ZMRSearchHistory::schema());
