#include "Realm/RealmSchema.h"

#include <stdexcept>

ObjectSchema::ObjectSchema(std::string className, std::vector<Property> properties)
    : className_(std::move(className)), properties_(std::move(properties)) {
    for (const auto& p : properties_) {
        if (p.isPrimaryKey()) {
            if (primaryKey_ || p.type != PropertyType::String)
                throw std::logic_error(className_ + ": one text primary key at most");
            primaryKey_ = &p;
        }
        if (p.name.empty() || p.name[0] == '_' || p.name.find('"') != std::string::npos ||
            p.name.find("__") != std::string::npos)
            throw std::logic_error(className_ + ": invalid property name " + p.name);
    }
}

const Property* ObjectSchema::property(const std::string& name) const {
    for (const auto& p : properties_)
        if (p.name == name) return &p;
    return nullptr;
}

std::vector<std::string> ObjectSchema::propertyNames() const {
    std::vector<std::string> names;
    names.reserve(properties_.size());
    for (const auto& p : properties_) names.push_back(p.name);
    return names;
}

nlohmann::json realmValueToJson(const RealmValue& value) {
    return std::visit(
        [](const auto& v) -> nlohmann::json {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, std::monostate>) return nullptr;
            else return v;
        },
        value);
}
