#pragma once
// The package search of the search screen and of its complete result list:
// one predicate builder for both, so that the list shows what the card counted.
//
// Exact finds names (or, when no name matches, maintainers) that begin with
// the text, Fuzzy those that contain it; both ignore case and diacritics,
// never list "cy+" packages, and leave out packages reported not working
// (tweakCompatibleStatus 1) unless "ShowIncompatiblePackages" is on. The text
// is always a bound argument.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Database/ZMRPackage.h"

namespace PackageSearch {

enum Mode : int64_t { Exact = 0, Fuzzy = 1 };

// The predicate format for the mode and field; nullopt for an unknown mode.
std::optional<std::string> queryFormat(int64_t mode, bool maintainer, bool showIncompatible);
// "ShowIncompatiblePackages", read now.
bool showsIncompatible();

// The name matches sorted by name or, when there is none, the maintainer
// matches; nullopt for an unknown mode.
std::optional<Results<ZMRPackage>> query(const std::string& text, int64_t mode);

// What the search card shows of one search, read in one statement on the
// calling thread (the search screen runs it off the main thread).
struct Summary {
    std::string text;
    int64_t mode = Fuzzy;
    size_t total = 0;
    std::vector<std::string> identifiers;  // the first `limit`, by name
    bool failed = false;
};
Summary summarize(const std::string& text, int64_t mode, size_t limit);

}  // namespace PackageSearch
