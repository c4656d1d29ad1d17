#pragma once
// The developer collection: following and unfollowing developers, the list of
// followed developers and the developers cache rebuilt after refreshes.
// Developer names are stored lower-cased (ZMRDeveloper::normalizedName); a
// developer is a package's `maintainer` text as the control field gives it.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Miscellaneous/ZMError.h"

class ZMRDevelopers : public std::enable_shared_from_this<ZMRDevelopers> {
public:
    // Uploads the followed list to the user's account (the account code decides
    // whether there is anyone to upload for). Called on a background queue
    // after every follow change.
    void setAccountSyncHook(std::function<void()> hook);

    // YES when a record with the lower-cased name exists and is followed.
    bool isDeveloperFollowed(const std::string& name) const;
    // Returns at once; on a default-priority queue sets the record's followed
    // mark (creating a record with the lower-cased name and a package count of
    // 0 when missing) in one transaction, then calls the account sync hook.
    // `done` (optional) runs on the main thread afterwards, with the
    // database's failure (ZMError::isStoreFailure) when the mark was not
    // stored; then nothing is synchronised.
    using Done = std::function<void(std::optional<ZMError> failure)>;
    void setDeveloper(const std::string& name, bool followed, Done done = {});
    // Names of the followed records, empty names skipped, in query order.
    std::vector<std::string> arrayOfFollowedDevelopers() const;
    // In ONE write transaction on the calling thread: clears every followed
    // mark, then follows each name (creating missing records as setDeveloper
    // does; empty names skipped). No account sync: the caller uploads once.
    void replaceFollowedDevelopers(const std::vector<std::string>& names);

    // Rebuilds the developer records from the packages' maintainers: package
    // count and identifiers, and the identifiers that are new since the last
    // rebuild (developerNewPackagesIdentifiers; kept until newer ones come).
    // The first rebuild of a database only takes stock and reports nothing new.
    // Sets "NewPackagesByFollowedDevelopers" and posts
    // ZMRFollowedDeveloperNewPackagesNotification for each followed developer
    // with new packages. Runs on the calling thread; returns the number of
    // followed developers with new packages.
    size_t updateDevelopersCache();

private:
    mutable std::mutex mutex_;
    std::mutex rebuildMutex_;
    std::function<void()> accountSyncHook_;
};
