#pragma once
// The search-history collection: one record per search, read by date.
#include <string>
#include <vector>

#include "Database/ZMRSearchHistory.h"

class ZMRSearchHistories {
public:
    // Stores a search made now, in one write transaction. Blank texts are not kept.
    void addSearch(const std::string& text);
    // All searches sorted by date (oldest first unless `ascending` is NO).
    Results<ZMRSearchHistory> allSearches(bool ascending = true) const;
    // The texts, newest first, each once.
    std::vector<std::string> recentSearchTexts(size_t limit) const;
    // Deletes every search, in one write transaction.
    void clearHistory();
};
