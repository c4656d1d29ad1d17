#pragma once
// Predicate formats ("isUpdated = 1 && isHeld = 0", "name BEGINSWITH[cd] %@")
// parsed and compiled to an SQL condition with bound parameters. Values never
// become SQL text, and key paths must name a property of the class.
//
// Supported: = == != <> < > <= >= =< =>, BEGINSWITH CONTAINS ENDSWITH IN, the
// options [c] [d] [cd], AND && OR || NOT !, parentheses, nil/NULL, YES/NO/TRUE/FALSE,
// TRUEPREDICATE/FALSEPREDICATE, numbers, quoted strings, and the arguments %@
// (text, Boolean, number, list of texts or nil), %i %d %ld %lld %u %lu (integers)
// and %K (a key path).
//
// Semantics follow the object database the program was written against: a
// comparison with a nil field is false, except `!=`, which keeps it (so
// "tweakCompatibleStatus != 1" keeps packages without a status). An empty text
// and nil are the same stored value.
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "Realm/RealmSchema.h"

class RealmException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One predicate argument, converted from the usual C++ types.
struct RealmArg {
    RealmValue value;
    RealmArg(std::nullptr_t) : value(std::monostate{}) {}
    RealmArg(std::monostate) : value(std::monostate{}) {}
    RealmArg(const char* s) : value(s ? RealmValue(std::string(s)) : RealmValue(std::monostate{})) {}
    RealmArg(std::string s) : value(std::move(s)) {}
    RealmArg(std::string_view s) : value(std::string(s)) {}
    RealmArg(bool b) : value(b) {}
    RealmArg(double d) : value(d) {}
    RealmArg(StringList list) : value(std::move(list)) {}
    RealmArg(RealmValue v) : value(std::move(v)) {}
    template <typename I, std::enable_if_t<std::is_integral_v<I> && !std::is_same_v<I, bool>, int> = 0>
    RealmArg(I i) : value(static_cast<int64_t>(i)) {}
    template <typename O>
    RealmArg(const std::optional<O>& o) : RealmArg(o ? RealmArg(*o) : RealmArg(nullptr)) {}
};

struct CompiledPredicate {
    std::string sql;                    // "1" for no condition
    std::vector<RealmValue> bindings;   // in the order of the '?' in sql
};

class Predicate {
public:
    Predicate() = default;  // matches everything
    Predicate(std::string format, std::vector<RealmValue> arguments = {})
        : format_(std::move(format)), arguments_(std::move(arguments)) {}

    const std::string& format() const { return format_; }
    // Throws RealmException on a syntax error, an unknown key path, a missing
    // argument or an operator that does not fit the property.
    CompiledPredicate compile(const ObjectSchema& schema) const;

private:
    std::string format_;
    std::vector<RealmValue> arguments_;
};
