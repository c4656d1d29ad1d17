#pragma once
// Usage reports to the maker's statistics, and the trending searches.
//
//   package   GET stats/stats.php?packageID=&devName=&repoURL=&version=&downloadCount=&seenCount=&key=
//   search    GET stats/stats.php?searchStat=1&search=<text>&key=      (blanks as "+" in the text)
//   trending  GET stats/trending.php?key=    ->  ["text", ...]
//   (blanks as "%20" elsewhere; key: the client key)
//
// Reports are fire-and-forget: callers pass a completion that does nothing,
// or none. A repository location carrying credentials (user:password@) is
// private: such a package is not reported.
//
// When the program reports: a package's details page is opened (seen 1) and
// an archive was downloaded (download 1), each only for a package whose
// source record exists (postPackageStatisticForIdentifier does the checks);
// the search screen reports searches of 3 or more characters, taps on
// history and trending rows, and a developer name handed to it.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Services/ZMMakerAPI.h"

class ZMStatistics {
public:
    // The server's text, or nullopt on a failure.
    using ReportCompletion = std::function<void(std::optional<std::string> answer)>;

    static ZMStatistics& instance();

    // Reports one view or download with the values as given. `completion`
    // (optional) runs exactly once, on a background queue (at once on the
    // caller's thread when nothing was sent).
    void postPackageStatisticForIdentifier(const std::string& identifier, const std::string& devName,
                                           const std::string& repoURL, const std::string& version,
                                           int64_t downloadCount, int64_t seenCount, ReportCompletion completion = {});
    // The same for a package record: its identifier, maintainer, source
    // location and version, only when the package and its source record
    // exist. Returns whether a report went out. Reads the database.
    bool postPackageStatisticForIdentifier(const std::string& identifier, int64_t downloadCount, int64_t seenCount,
                                           ReportCompletion completion = {});
    void postSearchStatistic(const std::string& text, ReportCompletion completion = {});

    // Fetches the trending searches. `completion` runs exactly once, on a
    // background queue (at once on the caller's thread when nothing was
    // sent): "Success" (searchesTrending() replaced by the texts of the reply,
    // in order; elements that are not texts are skipped) or "Error" (no
    // answer, not a JSON array; the list unchanged).
    void retrieveSearchesTrendingWithCompletionHandler(ZMStatusCompletion completion);
    // The texts of the last successful fetch.
    std::vector<std::string> searchesTrending() const;

    // Tests: forgets the trending searches.
    void resetForTesting();

private:
    ZMStatistics() = default;
    mutable std::mutex mutex_;
    std::vector<std::string> trending_;
};
