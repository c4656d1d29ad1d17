#pragma once
// The featured feed: the banner carousel and four lists of package
// identifiers that fill the featured home page.
//
//   GET featured/featured.php?key=<client key>
//   ->  {"featuredTop": [{...}], "featuredMiddle": [{"bundle_id"}], "mustHaveTweaks": [...],
//        "mustHaveThemes": [...], "extendApps": [...]}
//
// The lists of the last successful fetch are kept in memory, replaced whole
// under a lock, and read as copies.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Services/ZMFeaturedPackages.h"
#include "Services/ZMMakerAPI.h"

class ZMFeaturedPackagesMethods {
public:
    static ZMFeaturedPackagesMethods& instance();

    // Fetches the feed. `completion` runs exactly once, on a background queue
    // (at once on the caller's thread when nothing was sent), with:
    //   "Success"  the five lists were replaced
    //   "Error"    the server answered something that is not a feed (not
    //              JSON, not an object, a status outside 2xx); lists unchanged
    //   nullopt    no answer (transport failure, time limit, not configured);
    //              lists unchanged
    // Read the lists after the completion, whatever the status.
    void fetchFeaturedPackages(ZMStatusCompletion completion);

    // The lists of the last successful fetch; null before the first one.
    std::shared_ptr<const ZMFeaturedLists> featuredLists() const;
    // Copies of one list each (empty before the first successful fetch).
    std::vector<ZMFeaturedPackagesTop> packagesTop() const;
    std::vector<ZMFeaturedPackagesMiddle> packagesMiddle() const;
    std::vector<ZMFeaturedPackagesMustHaveTweaks> mustHaveTweaks() const;
    std::vector<ZMFeaturedPackagesMustHaveThemes> mustHaveThemes() const;
    std::vector<ZMFeaturedPackagesExtendApps> extendApps() const;

    // Tests: forgets the lists.
    void resetForTesting();

private:
    ZMFeaturedPackagesMethods() = default;
    mutable std::mutex mutex_;
    std::shared_ptr<const ZMFeaturedLists> lists_;
};
