#pragma once
// The source collection: adding and removing sources, refreshing one, some or
// all of them through the pipeline, and the refresh-in-progress state.
//
// What needs the interface (the plain-http confirmation, device-owner
// authentication) or other subsystems (the refresh task, the APT purge, the
// dpkg rescan, reachability) comes in through hooks, installed by the shell
// and the refresh code. Every member may be called from any thread.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Miscellaneous/ZMError.h"
#include "ZMIconCache.h"
#include "ZMTask.h"

// Why a location was refused.
enum class ZMRSourceLocationProblem {
    None,
    Empty,               // nothing but blanks
    SchemeOnly,          // exactly "http://" or "https://"
    NoScheme,            // no "://"
    UnsupportedScheme,   // anything but http and https
    InvalidCharacters,   // blanks, control characters, quotes, brackets inside, or
                         // anything else the APT sources list cannot carry
};

struct ZMRNormalizedSourceLocation {
    std::string location;  // set when problem == None: trimmed, ending in "/"
    ZMRSourceLocationProblem problem = ZMRSourceLocationProblem::None;
    bool ok() const { return problem == ZMRSourceLocationProblem::None; }
};

enum class ZMRAddSourceStatus {
    Added,                   // the record is being created and refreshed
    AwaitingAuthentication,  // handed to the authentication hook; added when it succeeds
    NeedsHttpApproval,       // plain http without approval: ask the user, then call again with approval
    AlreadyConfigured,       // under http:// or https://
    Refused,                 // see `problem`
};

struct ZMRAddSourceResult {
    ZMRAddSourceStatus status = ZMRAddSourceStatus::Refused;
    std::string location;  // the normalized location (empty when refused)
    ZMRSourceLocationProblem problem = ZMRSourceLocationProblem::None;
    // YES for the two outcomes the original BOOL answer calls success.
    bool accepted() const {
        return status == ZMRAddSourceStatus::Added || status == ZMRAddSourceStatus::AwaitingAuthentication ||
               status == ZMRAddSourceStatus::NeedsHttpApproval;
    }
};

class ZMRSources : public std::enable_shared_from_this<ZMRSources> {
public:
    // ---- hooks -------------------------------------------------------------------
    // Makes the refresh task of one source; null (or a null task) queues nothing.
    using RefreshTaskFactory = std::function<ZMTaskPtr(const std::string& location)>;
    // Device-owner authentication: called with the localized reason; calls the
    // completion (any thread) with YES when the user authenticated.
    using AuthenticationHook = std::function<void(const std::string& reason, std::function<void(bool)> completion)>;
    // Removes the source from the APT tree and regenerates APT's caches, as
    // root; runs on a background thread. Default: ZMAPTManager.
    using PurgeHook = std::function<std::optional<ZMError>(const std::string& location)>;
    // A source the user asked to add that the database refused to store
    // (ZMError::isStoreFailure): the shell tells the user. Main thread.
    using StoreFailureHook = std::function<void(const ZMError& failure)>;

    ZMRSources();
    void setRefreshTaskFactory(RefreshTaskFactory factory);
    void setAuthenticationHook(AuthenticationHook hook);
    void setPurgeHook(PurgeHook hook);
    void setStoreFailureHook(StoreFailureHook hook);
    // Asked to read the dpkg status again after a source's packages were deleted.
    void setStatusRescanHook(std::function<void()> hook);
    // Whether the network is reachable (Wi-Fi or cellular). Without a hook, the
    // platform's check (Reachability, which $VOSTRELLE_ASSUME_REACHABLE
    // overrides); process-wide, so that it can be installed before the
    // package manager exists.
    static void setReachabilityHook(std::function<bool()> hook);
    static bool isNetworkReachable();

    // ---- configured sources ------------------------------------------------------
    // Locations of all source records, database order.
    std::vector<std::string> arrayOfConfiguredSources() const;
    // Pure: trims surrounding blanks once, refuses an empty text, exactly
    // "http://"/"https://", a text without "://", another scheme and blanks,
    // control characters, quotes or brackets inside, and what the APT sources
    // list cannot carry; appends "/" when missing.
    static ZMRNormalizedSourceLocation normalizeSourceLocation(const std::string& location);
    // Whether the part after "://" is configured under https:// or http://.
    static bool isLocationConfigured(const std::string& normalizedLocation);

    // Adds a source: normalizes, refuses duplicates, asks for http approval
    // (NeedsHttpApproval: the caller shows "Warning" and calls again with
    // approval YES and original depictions NO on "Continue"), authenticates
    // when "AuthenticationForPackagesManagementTasks" is on, then on a
    // default-priority queue stores ZMRSource::newSourceWithLocation with
    // seeOriginalDepictions in one transaction and refreshes it. `added`, when
    // given, is called on the main thread once the record is stored (or not);
    // a database that refused it is told through the store failure hook first.
    ZMRAddSourceResult addSourceWithLocation(const std::string& location, bool httpApproval,
                                             bool showOriginalDepictions = false,
                                             std::function<void(bool stored)> added = {});

    // Removes a source on a default-priority queue: its downloaded Packages
    // file, its place in the APT tree (purge hook), then in one transaction its
    // package versions, packages and record; asks for a dpkg rescan and posts
    // ZMRSourceUpdatedNotification (no object) on the main thread. The
    // completion (main thread) gets what failed, never hidden: the database
    // (ZMError::isStoreFailure; the source stays, and its next refresh puts
    // it back in the APT tree), else the purge (the records go all the same).
    void removeSourceWithLocation(const std::string& location,
                                  std::function<void(std::optional<ZMError>)> completion = {});
    // "SourcesFiles/<location with every / as _>-Packages" in the support directory.
    static std::string packagesFilePath(const std::string& location);

    // ---- refreshing ------------------------------------------------------------------
    // Only once "setupDone" is set: marks a refresh in progress and queues the
    // source's refresh task. True when a task was queued.
    bool refreshSource(const std::string& location);
    // The same for several sources at once.
    bool refreshSources(const std::vector<std::string>& locations);
    // NO without "setupDone" or a reachable network. Otherwise YES and, on a
    // default-priority queue: marks a refresh in progress, stores its start as
    // "lastRefreshDate" (saved at once) and queues one task per source. With
    // nothing to queue the refresh ends at once.
    bool refreshAllSources();
    // A refresh started here is running; cleared when the pipeline's last
    // source refresh ends.
    bool isRefreshInProgress() const { return refreshInProgress_; }
    // Called (main thread) when the pipeline's last source refresh has ended.
    void sourceRefreshEnded();

    // The cached icon file of a source (IconCache/<md5 of the location>.png)
    // when it exists; else the default source image name while the icon (the
    // record's iconURL, else <location>CydiaIcon.png) is fetched in the
    // background and announced with ZMRSourceInfoIconChangedNotification
    // (object: the location) on the main thread.
    ZMRIcon iconForLocation(const std::string& location) const;

private:
    void storeSource(const std::string& location, bool showOriginalDepictions, std::function<void(bool)> added);
    size_t queueRefreshes(const std::vector<std::string>& locations);

    mutable std::mutex mutex_;
    RefreshTaskFactory refreshTaskFactory_;
    AuthenticationHook authenticationHook_;
    PurgeHook purgeHook_;
    StoreFailureHook storeFailureHook_;
    std::function<void()> statusRescanHook_;
    std::atomic<bool> refreshInProgress_{false};
};
