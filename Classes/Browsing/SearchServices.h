#pragma once
// What the search screen asks the maker's online service: developers and
// repositories matching a text, the report of a search, and the trending
// searches. The online clients plug in with setShared(); until they do, the
// default answers nothing (every lookup reports a failure, reports go
// nowhere), and the developer, repository and trending cards stay empty.
//
// Every `done` runs on the main thread, once, with the list of its own reply
// (never a shared array that a later reply may have replaced) or a failure.
#include <any>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class SearchServices {
public:
    // One developer of the maker's directory.
    struct Developer {
        std::string fullName;
        std::string avatarURL;
        std::string twitter;  // handle without "@", may be empty
        // The client's own record, handed back to the developer page's factory.
        std::any record;
    };
    // One repository of the online directory.
    struct Repository {
        std::string name;
        std::string icon;  // icon URL
        std::string desc;
        std::any record;
    };

    // nullopt: the lookup failed.
    using DevelopersDone = std::function<void(std::optional<std::vector<Developer>>)>;
    using RepositoriesDone = std::function<void(std::optional<std::vector<Repository>>)>;
    using TrendingDone = std::function<void(std::optional<std::vector<std::string>>)>;

    virtual ~SearchServices() = default;
    virtual void searchDevelopers(const std::string& text, DevelopersDone done);
    virtual void searchRepositories(const std::string& text, RepositoriesDone done);
    // Reports one search term; the outcome is not used.
    virtual void postSearchStatistic(const std::string& text);
    virtual void retrieveSearchesTrending(TrendingDone done);
    // Why the online lookups cannot run now (one line for the screen), or
    // nullopt when they can. The screen then asks none of the above.
    virtual std::optional<std::string> unavailableReason() const { return std::nullopt; }

    // The services the screens use; never null.
    static std::shared_ptr<SearchServices> shared();
    // nullptr restores the default.
    static void setShared(std::shared_ptr<SearchServices> services);
};
