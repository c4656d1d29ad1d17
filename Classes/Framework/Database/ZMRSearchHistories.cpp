#include "Database/ZMRSearchHistories.h"

#include <chrono>
#include <set>

void ZMRSearchHistories::addSearch(const std::string& text) {
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) return;
    ZMRSearchHistory entry;
    entry.date = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    entry.search = text;
    auto realm = Realm::defaultRealm();
    realm->transactionWithBlock([&] { realm->add(entry); });
}

Results<ZMRSearchHistory> ZMRSearchHistories::allSearches(bool ascending) const {
    return ZMRSearchHistory::allObjects().sortedResultsUsingKeyPath("date", ascending);
}

std::vector<std::string> ZMRSearchHistories::recentSearchTexts(size_t limit) const {
    std::vector<std::string> out;
    std::set<std::string> seen;
    for (const auto& v : allSearches(false).valueForKey("search")) {
        if (out.size() >= limit) break;
        if (!v.is_string()) continue;
        auto text = v.get<std::string>();
        if (seen.insert(text).second) out.push_back(std::move(text));
    }
    return out;
}

void ZMRSearchHistories::clearHistory() {
    auto realm = Realm::defaultRealm();
    realm->transactionWithBlock([&] { realm->deleteObjects(realm->objects<ZMRSearchHistory>()); });
}
