#pragma once
// HTTP header fields with case-insensitive names, in the order they were set.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class HTTPHeaderFields {
public:
    using Field = std::pair<std::string, std::string>;

    // Replaces every field of that name. Line breaks in a name or value are
    // turned into blanks so a value can never start a header of its own.
    void set(std::string_view name, std::string_view value);
    // Appends to an existing field as "old, new" (or adds the field).
    void add(std::string_view name, std::string_view value);
    void remove(std::string_view name);
    std::optional<std::string> value(std::string_view name) const;
    bool contains(std::string_view name) const { return value(name).has_value(); }
    const std::vector<Field>& fields() const { return fields_; }
    bool empty() const { return fields_.empty(); }
    void clear() { fields_.clear(); }

    static bool namesEqual(std::string_view a, std::string_view b);

private:
    std::vector<Field> fields_;
};
