#include "Browsing/SearchServices.h"

#include <mutex>

#include "Dispatch/Dispatch.h"

namespace {
std::mutex gMutex;
std::shared_ptr<SearchServices> gShared;
}  // namespace

void SearchServices::searchDevelopers(const std::string&, DevelopersDone done) {
    if (done) Dispatch::main([done] { done(std::nullopt); });
}

void SearchServices::searchRepositories(const std::string&, RepositoriesDone done) {
    if (done) Dispatch::main([done] { done(std::nullopt); });
}

void SearchServices::postSearchStatistic(const std::string&) {}

void SearchServices::retrieveSearchesTrending(TrendingDone done) {
    if (done) Dispatch::main([done] { done(std::nullopt); });
}

std::shared_ptr<SearchServices> SearchServices::shared() {
    std::lock_guard lock(gMutex);
    if (!gShared) gShared = std::make_shared<SearchServices>();
    return gShared;
}

void SearchServices::setShared(std::shared_ptr<SearchServices> services) {
    std::lock_guard lock(gMutex);
    gShared = std::move(services);
}
