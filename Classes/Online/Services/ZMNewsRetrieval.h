#pragma once
// The maker's news items.
//
//   GET news/retrievenews.php  ->  [{"author", "title", "banner", "content", "date"}, ...]
//
// The items of the last successful fetch are kept in memory, replaced whole
// under a lock, and read as copies (news()).
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Services/ZMMakerAPI.h"
#include "Services/ZMNews.h"

class ZMNewsRetrieval {
public:
    static ZMNewsRetrieval& instance();

    // Fetches the news. `completion` runs exactly once, on a background queue
    // (at once on the caller's thread when nothing was sent), with "Success"
    // (news() replaced) or the failure's description (news() unchanged): the
    // news list shows it in its "News Retrieval" popup.
    void fetchNewsWithCompletionHandler(std::function<void(std::string status)> completion);

    // The items of the last successful fetch, in reply order; nullopt before
    // the first one.
    std::optional<std::vector<ZMNews>> news() const;

    // Tests: forgets the items.
    void resetForTesting();

private:
    ZMNewsRetrieval() = default;
    mutable std::mutex mutex_;
    std::shared_ptr<const std::vector<ZMNews>> news_;
};
