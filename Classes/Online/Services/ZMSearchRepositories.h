#pragma once
// The maker's directory of APT repositories: listing it, searching it, and
// reporting to it the sources the user has configured, so that it grows from
// its users.
//
//   search  GET  reposearch/reposearch.php?searchParam=<text>   (blanks as "+")
//   list    GET  reposearch/repolist.php?key=<client key>
//   report  POST reposearch/addrepo.php  key, icon, name, url, description, maintainer, category
//   replies of search and list: [{"icon", "name", "url", "description", "maintainer", "category"}, ...]
//
// One shared result list (repositories()): the newest search or list that
// succeeded replaces it whole (a reply older than the latest search or list
// is dropped), a report appends to it; it never holds two equal entries of
// one reply, nor an invalid one. Read it as a copy.
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Services/ZMMakerAPI.h"
#include "Services/ZMSearchedRepo.h"

class ZMSearchRepositories {
public:
    // The status ("Success" or nullopt) and the entries of this very reply.
    using Completion = std::function<void(std::optional<std::string> status, std::vector<ZMSearchedRepo> entries)>;

    static ZMSearchRepositories& instance();

    // Searches the directory. `completion` runs exactly once, on a background
    // queue (at once on the caller's thread when nothing was sent):
    //   text under 3 characters  "Success" with no entries; nothing sent, the list unchanged
    //   a reply that parsed      "Success" with its entries; the list replaced
    //   a failure                nullopt; the list unchanged
    //   a reply overtaken by a newer search or list: nullopt; the list unchanged
    void searchRepository(const std::string& text, Completion completion);
    // Lists the whole directory (the launch does it once); as a search.
    // `completion` may be empty.
    void listOnlineRepositories(Completion completion = {});
    // Reports a configured source, by location: nothing is sent when the
    // location is shorter than 10 characters, has no source record, gives no
    // entry (see ZMSearchedRepo::searchedRepoWithSource), is already in the
    // list or reported earlier, or gives an invalid entry. When the server
    // took it (2xx) the entry is appended; `completion` (optional, background
    // queue) gets the server's text, or nullopt on a failure.
    void addRepository(const std::string& location,
                       std::function<void(std::optional<std::string> reply)> completion = {});

    std::vector<ZMSearchedRepo> repositories() const;

    // Tests: empties the list and forgets what was reported.
    void resetForTesting();

private:
    ZMSearchRepositories() = default;
    void fetch(const ZMMakerAPI::Request& request, Completion completion);

    mutable std::mutex mutex_;
    std::vector<ZMSearchedRepo> repositories_;
    uint64_t generation_ = 0;         // of the newest search or list started
    std::set<std::string> reported_;  // urls reported (or being reported) in this process
};
