#pragma once
// The persistent record of one search. No primary key: records are told apart
// by the store's hidden row id.
#include <optional>
#include <string>

#include "Realm/Realm.h"

struct ZMRSearchHistory : RealmObject<ZMRSearchHistory> {
    std::optional<double> date;  // seconds since 1970 UTC
    std::string search;

    static const ObjectSchema& schema();
};
