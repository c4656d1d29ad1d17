#pragma once
// How a record class is described to the object store: its properties, their
// storage types and flags, and type-erased accessors to the struct's fields.
// A record declares its schema once with REALM_PROPERTY lines, so adding a field
// to a record is one line in the struct and one line in its schema.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

using StringList = std::vector<std::string>;

// A stored or bound value. std::monostate is nil.
using RealmValue = std::variant<std::monostate, bool, int64_t, double, std::string, StringList>;

nlohmann::json realmValueToJson(const RealmValue& value);

enum class PropertyType { String, Bool, Int, Double, Date, StringList };

enum PropertyFlags : unsigned {
    PropertyNone = 0,
    // A Boolean gets a partial index of the records where it is YES only: the
    // lists look for the few flagged records, never for the many unflagged.
    PropertyIndexed = 1u << 0,
    PropertyPrimaryKey = 1u << 1,
    // Keeps a case- and diacritic-folded copy in a shadow column (indexed), so
    // that [cd] comparisons on the property are index-assisted and cheap.
    PropertyFolded = 1u << 2,
    // A double holding a date as seconds since 1970-01-01 UTC.
    PropertyDate = 1u << 3,
    // Keeps the folded shadow column like PropertyFolded, so that [cd]
    // comparisons read it instead of folding every row, but without its index:
    // for texts searched with CONTAINS (which no index serves), where the index
    // would only cost write time. Prefix searches on it read every row.
    PropertyFoldedUnindexed = 1u << 4,
};

struct Property {
    std::string name;
    PropertyType type = PropertyType::String;
    bool nullable = true;
    unsigned flags = PropertyNone;
    std::function<RealmValue(const void*)> get;
    std::function<void(void*, const RealmValue&)> set;

    bool isIndexed() const { return flags & (PropertyIndexed | PropertyPrimaryKey); }
    bool isPrimaryKey() const { return flags & PropertyPrimaryKey; }
    bool isFolded() const { return flags & (PropertyFolded | PropertyFoldedUnindexed); }
    bool hasFoldedIndex() const { return flags & PropertyFolded; }
    std::string foldedColumn() const { return name + "__cd"; }
};

class ObjectSchema {
public:
    ObjectSchema(std::string className, std::vector<Property> properties);
    // Records keep a pointer to their class's schema: it never moves.
    ObjectSchema(const ObjectSchema&) = delete;
    ObjectSchema& operator=(const ObjectSchema&) = delete;

    const std::string& className() const { return className_; }
    const std::vector<Property>& properties() const { return properties_; }
    // nullptr when the class has no primary key.
    const Property* primaryKey() const { return primaryKey_; }
    // nullptr when the class has no property of that name.
    const Property* property(const std::string& name) const;
    std::vector<std::string> propertyNames() const;

private:
    std::string className_;
    std::vector<Property> properties_;
    const Property* primaryKey_ = nullptr;
};

namespace RealmDetail {

template <typename T> struct IsOptional : std::false_type {};
template <typename T> struct IsOptional<std::optional<T>> : std::true_type { using Inner = T; };

template <typename M> constexpr PropertyType propertyTypeOf() {
    if constexpr (IsOptional<M>::value) {
        return propertyTypeOf<typename IsOptional<M>::Inner>();
    } else if constexpr (std::is_same_v<M, std::string>) {
        return PropertyType::String;
    } else if constexpr (std::is_same_v<M, bool>) {
        return PropertyType::Bool;
    } else if constexpr (std::is_integral_v<M>) {
        return PropertyType::Int;
    } else if constexpr (std::is_floating_point_v<M>) {
        return PropertyType::Double;
    } else if constexpr (std::is_same_v<M, StringList>) {
        return PropertyType::StringList;
    } else {
        static_assert(sizeof(M) == 0, "unsupported property type");
    }
}

template <typename M> RealmValue toValue(const M& v) {
    if constexpr (IsOptional<M>::value) {
        if (!v) return std::monostate{};
        return toValue(*v);
    } else if constexpr (std::is_same_v<M, bool>) {
        return v;
    } else if constexpr (std::is_integral_v<M>) {
        return static_cast<int64_t>(v);
    } else if constexpr (std::is_floating_point_v<M>) {
        return static_cast<double>(v);
    } else {
        return v;  // std::string, StringList
    }
}

// Converts loosely (a stored integer into a bool field and so on); nil resets
// the field to its empty value.
template <typename M> void fromValue(M& out, const RealmValue& v) {
    if constexpr (IsOptional<M>::value) {
        if (std::holds_alternative<std::monostate>(v)) {
            out.reset();
        } else {
            typename IsOptional<M>::Inner inner{};
            fromValue(inner, v);
            out = inner;
        }
    } else if constexpr (std::is_same_v<M, std::string>) {
        if (auto s = std::get_if<std::string>(&v)) out = *s; else out.clear();
    } else if constexpr (std::is_same_v<M, StringList>) {
        if (auto s = std::get_if<StringList>(&v)) out = *s; else out.clear();
    } else if constexpr (std::is_arithmetic_v<M>) {
        if (auto b = std::get_if<bool>(&v)) out = static_cast<M>(*b);
        else if (auto i = std::get_if<int64_t>(&v)) out = static_cast<M>(*i);
        else if (auto d = std::get_if<double>(&v)) out = static_cast<M>(*d);
        else out = M{};
    }
}

template <typename C, typename M> Property makeProperty(const char* name, M C::*member, unsigned flags = PropertyNone) {
    Property p;
    p.name = name;
    p.type = propertyTypeOf<M>();
    if ((flags & PropertyDate) && p.type == PropertyType::Double) p.type = PropertyType::Date;
    // Strings are nullable (an empty text is stored as nil); plain numbers are not.
    p.nullable = IsOptional<M>::value || std::is_same_v<M, std::string>;
    p.flags = flags;
    p.get = [member](const void* obj) { return toValue(static_cast<const C*>(obj)->*member); };
    p.set = [member](void* obj, const RealmValue& v) { fromValue(static_cast<C*>(obj)->*member, v); };
    return p;
}

}  // namespace RealmDetail

#define REALM_PROPERTY(Class, field, ...) ::RealmDetail::makeProperty<Class>(#field, &Class::field, ##__VA_ARGS__)
