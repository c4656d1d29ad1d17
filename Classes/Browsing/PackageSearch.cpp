#include "Browsing/PackageSearch.h"

#include <algorithm>

#include "Miscellaneous/ZMLog.h"
#include "VostrellePersistentPreferences.h"

namespace PackageSearch {

bool showsIncompatible() {
    return VostrellePersistentPreferences::sharedInstance().boolForKey(VostrellePreferenceKey::ShowIncompatiblePackages);
}

std::optional<std::string> queryFormat(int64_t mode, bool maintainer, bool showIncompatible) {
    const char* op = nullptr;
    if (mode == Exact) op = "BEGINSWITH[cd]";
    else if (mode == Fuzzy) op = "contains[cd]";
    else return std::nullopt;
    std::string format = std::string(maintainer ? "maintainer " : "name ") + op + " %@ AND NOT name BEGINSWITH[cd] 'cy+'";
    if (!showIncompatible) format += " AND tweakCompatibleStatus != 1";
    return format;
}

std::optional<Results<ZMRPackage>> query(const std::string& text, int64_t mode) {
    const bool incompatible = showsIncompatible();
    auto byName = queryFormat(mode, false, incompatible);
    if (!byName) return std::nullopt;
    auto names = ZMRPackage::objectsWhere(*byName, text).sortedResultsUsingKeyPath("name", true);
    if (!names.empty()) return names;
    return ZMRPackage::objectsWhere(*queryFormat(mode, true, incompatible), text).sortedResultsUsingKeyPath("name", true);
}

Summary summarize(const std::string& text, int64_t mode, size_t limit) {
    Summary summary;
    summary.text = text;
    summary.mode = mode;
    try {
        auto results = query(text, mode);
        if (!results) return summary;
        // The count orders the matches' row numbers only; just the shown ones are read.
        summary.total = results->count();
        for (size_t i = 0; i < std::min(limit, summary.total); ++i) summary.identifiers.push_back((*results)[i].identifier);
    } catch (const std::exception& e) {
        ZMLOG("package search for {} failed: {}", text, e.what());
        summary.failed = true;
    }
    return summary;
}

}  // namespace PackageSearch
