#pragma once
// One text property of a package query's records, in the query's order, read
// in one statement (so a write on another thread cannot change the list half
// way) without loading the records.
#include <cstddef>
#include <string>
#include <vector>

#include "Database/ZMRPackage.h"

namespace PackageColumn {

// The values of `property` (nil ones skipped); `limit` 0 reads them all.
std::vector<std::string> texts(const Results<ZMRPackage>& results, const std::string& property, size_t limit = 0);

}  // namespace PackageColumn
