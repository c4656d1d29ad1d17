#pragma once
// A record class of the tests' own, so that the store is tested apart from the
// program's records.
#include "Realm/Realm.h"

struct Gadget : RealmObject<Gadget> {
    std::string key;
    std::string label;
    std::optional<int64_t> count;
    std::optional<bool> flag;
    StringList tags;
    double weight = 0;
    std::optional<double> seen;

    static const ObjectSchema& schema() {
        static const ObjectSchema s("Gadget", {
            REALM_PROPERTY(Gadget, key, PropertyPrimaryKey),
            REALM_PROPERTY(Gadget, label, PropertyIndexed | PropertyFolded),
            REALM_PROPERTY(Gadget, count, PropertyIndexed),
            REALM_PROPERTY(Gadget, flag),
            REALM_PROPERTY(Gadget, tags),
            REALM_PROPERTY(Gadget, weight),
            REALM_PROPERTY(Gadget, seen, PropertyDate),
        });
        return s;
    }

    static Gadget make(std::string key, std::string label, std::optional<int64_t> count = std::nullopt) {
        Gadget g;
        g.key = std::move(key);
        g.label = std::move(label);
        g.count = count;
        return g;
    }
};

// A record class without a primary key.
struct Note : RealmObject<Note> {
    std::string text;
    std::optional<double> date;
    static const ObjectSchema& schema() {
        static const ObjectSchema s("Note", {
            REALM_PROPERTY(Note, text),
            REALM_PROPERTY(Note, date, PropertyDate),
        });
        return s;
    }
};
