#include "Online/Screens/OnlineSearchServices.h"

#include "Dispatch/Dispatch.h"
#include "Services/ZMMakerAPI.h"
#include "Services/ZMSearchDeveloper.h"
#include "Services/ZMSearchRepositories.h"
#include "Services/ZMStatistics.h"

namespace {
// The row shows a handle; the directory may give a profile's address instead.
std::string twitterHandle(const std::string& twitter) {
    if (twitter.rfind("http", 0) != 0) return twitter;
    std::string path = twitter;
    while (!path.empty() && path.back() == '/') path.pop_back();
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(slash + 1);
}
}  // namespace

void OnlineSearchServices::searchDevelopers(const std::string& text, DevelopersDone done) {
    ZMSearchDeveloper::instance().searchDeveloper(
        text, [done](std::optional<std::string> status, std::vector<ZMDeveloperProfile> profiles) {
            std::optional<std::vector<Developer>> list;
            if (status) {
                list.emplace();
                for (auto& profile : profiles)
                    list->push_back({profile.fullName, profile.avatarURL, twitterHandle(profile.twitter), profile});
            }
            Dispatch::main([done, list = std::move(list)] { done(list); });
        });
}

void OnlineSearchServices::searchRepositories(const std::string& text, RepositoriesDone done) {
    ZMSearchRepositories::instance().searchRepository(
        text, [done](std::optional<std::string> status, std::vector<ZMSearchedRepo> entries) {
            std::optional<std::vector<Repository>> list;
            if (status) {
                list.emplace();
                for (auto& entry : entries) list->push_back({entry.name, entry.icon, entry.desc, entry});
            }
            Dispatch::main([done, list = std::move(list)] { done(list); });
        });
}

void OnlineSearchServices::postSearchStatistic(const std::string& text) { ZMStatistics::instance().postSearchStatistic(text); }

void OnlineSearchServices::retrieveSearchesTrending(TrendingDone done) {
    ZMStatistics::instance().retrieveSearchesTrendingWithCompletionHandler([done](std::optional<std::string> status) {
        std::optional<std::vector<std::string>> list;
        if (status == std::optional<std::string>(kZMStatusSuccess)) list = ZMStatistics::instance().searchesTrending();
        Dispatch::main([done, list = std::move(list)] { done(list); });
    });
}

std::optional<std::string> OnlineSearchServices::unavailableReason() const {
    if (ZMMakerAPI::isConfigured()) return std::nullopt;
    return ZMMakerAPI::notConfiguredText();
}
