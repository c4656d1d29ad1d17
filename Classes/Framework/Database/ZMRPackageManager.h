#pragma once
// The package manager: the process-wide facade that owns the four collections
// and decides, on first use, whether the sources need a refresh.
//
// First use: adds the default sources to an empty database, then, when it
// added sources or a refresh is due, asks the sources collection to refresh
// all sources 3 seconds later (on the main thread). A refresh is due when the
// network is reachable and there was no refresh yet ("lastRefreshDate"
// absent), there are no packages, or the last refresh is more than 3600
// seconds old or in the future. It also hooks into the pipeline: the end of
// the last source refresh clears the refresh-in-progress mark and, when the
// refreshes changed something (not every source answered "not modified"),
// has the new-packages dictionaries, the developers cache and the
// categories cache rebuilt off the main thread, the database's log copied
// back into it, apt's caches rebuilt unless current, and the memory the work
// left behind given back. Once the pipeline is idle after package runs, the
// categories cache (the update count) is rebuilt.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Database/ZMRDevelopers.h"
#include "Database/ZMRPackages.h"
#include "Database/ZMRSearchHistories.h"
#include "Database/ZMRSources.h"

class ZMRPackageManager {
public:
    static ZMRPackageManager& sharedPackageManager();

    ZMRPackages& packages() { return *packages_; }
    ZMRSources& sources() { return *sources_; }
    ZMRDevelopers& developers() { return *developers_; }
    ZMRSearchHistories& searchHistories() { return *searchHistories_; }

    // The sources a new database starts with. This platform ships none: the
    // user adds repositories (or imports them in the first-run flow). The
    // shell may install a list before the first use.
    static std::vector<std::string> defaultSources();
    static void setDefaultSources(std::vector<std::string> locations);

    // Seconds after which the sources are refreshed at launch.
    static constexpr double kRefreshInterval = 3600;
    static constexpr double kLaunchRefreshDelay = 3;

    // Whether the first use scheduled a refresh of all sources.
    bool scheduledLaunchRefresh() const { return scheduledLaunchRefresh_; }

    // The rebuilds run after refreshes, on the calling thread: developers,
    // new versions, new packages, then the categories (posting
    // "DoneRebuildingPackagesCache"). After a refresh the manager runs them
    // on two threads at once.
    void rebuildCachesAfterRefresh();
    // True from the moment the end of a refresh schedules the rebuilds until
    // they (and the checkpoint beside them) are done.
    bool cachesRebuildPending() const { return rebuildsPending_.load() > 0; }

    ~ZMRPackageManager();
    // Tests: the next sharedPackageManager() builds a new manager (first-use
    // steps included). Earlier references stay valid.
    static void resetForTesting();

private:
    ZMRPackageManager();
    void firstUse();
    // After refreshes that changed records: the rebuilds, the checkpoint, apt's caches.
    void afterRecordsRefreshed();
    void rebuildNewPackagesAndCategories();
    void rebuildDevelopers();
    void rebuildEnded();

    std::shared_ptr<ZMRPackages> packages_;
    std::shared_ptr<ZMRSources> sources_;
    std::shared_ptr<ZMRDevelopers> developers_;
    std::shared_ptr<ZMRSearchHistories> searchHistories_;
    uint64_t idleHook_ = 0;
    std::atomic<int> rebuildsPending_{0};
    bool scheduledLaunchRefresh_ = false;
};
