#pragma once
// The queue as the confirmation screen uses it: the items built from the
// queue marks of the package records, their resolution by apt-get's dry run,
// and the confirmation, which queues one download per archive to fetch and,
// after the last one, the run of the whole queue.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Database/ZMRPackage.h"
#include "ZMAPTManager.h"
#include "ZMPackageDownloadTask.h"
#include "ZMPackageQueueTask.h"

class ZMQueue {
public:
    // The item of one record's queue marks; nullopt when it is not queued.
    // Operation codes: 1 install, 2 remove, 3 upgrade, 4 downgrade (with its
    // version), 5 reinstall; a queued record without a code gets the one
    // ZMRPackages::queueOperationForPackage chooses. Without a queued version
    // the item names the record's version (the installed one for a
    // reinstall), so apt installs what the user was shown.
    static std::optional<ZMQueueItem> itemForPackage(const ZMRPackage& package);
    // Every queued record's item, by identifier.
    static std::vector<ZMQueueItem> queueItems();
    // Resolves queueItems() with a dry run on a background queue; the
    // completion runs on the main thread.
    static void resolve(std::function<void(std::vector<ZMQueueItem> queue, ZMResult<ZMDryRunResult> result)> completion);

    // What to download for a package of the dry run: its version record in
    // the package's own source, else in any source. nullopt when the database
    // does not know that version (apt-get then fetches it itself, verified
    // against the index).
    static std::optional<ZMPackageArchive> archiveFor(const ZMDependencyDescription& package);

    struct Confirmation {
        std::shared_ptr<ZMPackageQueueTask> run;
        std::vector<std::shared_ptr<ZMPackageDownloadTask>> downloads;
        std::vector<std::string> leftToApt;  // packages without a version record
        std::shared_ptr<ZMDownloadBatch> batch;
    };
    // The confirmation: refused when the dry run found unmet dependencies.
    // Otherwise queues the downloads (or the run at once when nothing is to
    // be fetched). `onFailure` hears, from any thread, when a download failed
    // and the run was therefore not queued.
    static ZMResult<Confirmation> confirm(std::vector<ZMQueueItem> queue, const ZMDryRunResult& resolved,
                                          std::function<void(const ZMError&)> onFailure = {});
};
