#pragma once
// The search screen's questions answered by the maker's service: developers
// (ZMSearchDeveloper), repositories of the directory (ZMSearchRepositories),
// search reports and trending searches (ZMStatistics). Each answer reaches
// the screen on the main thread with the entries of its own reply.
#include "Browsing/SearchServices.h"

class OnlineSearchServices : public SearchServices {
public:
    void searchDevelopers(const std::string& text, DevelopersDone done) override;
    void searchRepositories(const std::string& text, RepositoriesDone done) override;
    void postSearchStatistic(const std::string& text) override;
    void retrieveSearchesTrending(TrendingDone done) override;
    // The service's own line while it is not configured.
    std::optional<std::string> unavailableReason() const override;
};
