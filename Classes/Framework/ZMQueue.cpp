#include "ZMQueue.h"

#include "Categories/String+VersionCompare.h"
#include "Database/ZMRPackageVersion.h"
#include "Database/ZMRPackages.h"
#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLog.h"
#include "Realm/Realm.h"
#include "ZMPipelineManager.h"

std::optional<ZMQueueItem> ZMQueue::itemForPackage(const ZMRPackage& package) {
    if (!package.isInTheQueue.value_or(false)) return std::nullopt;
    std::optional<std::string> version;
    if (!package.queuedVersion.empty()) version = package.queuedVersion;
    int64_t code = package.queueOperation.value_or(ZMRQueueOperationNone);
    if (code == ZMRQueueOperationNone) code = ZMRPackages::queueOperationForPackage(package, version, code);
    ZMQueueItem item;
    item.identifier = package.identifier;
    item.version = package.queuedVersion;
    switch (code) {
        case ZMRQueueOperationInstall: item.operation = ZMQueueOperation::Install; break;
        case ZMRQueueOperationRemove:
            item.operation = ZMQueueOperation::Remove;
            item.version.clear();
            break;
        case ZMRQueueOperationUpgrade: item.operation = ZMQueueOperation::Upgrade; break;
        case ZMRQueueOperationDowngrade: item.operation = ZMQueueOperation::Downgrade; break;
        case ZMRQueueOperationReinstall: item.operation = ZMQueueOperation::Reinstall; break;
        default:
            ZMLOG("unknown queue operation {} of {}", code, package.identifier);
            return std::nullopt;
    }
    // apt is asked for the version the user was shown, never left to pick one
    // of its own (another source's, or one a Release's pinning prefers).
    if (item.version.empty() && item.operation != ZMQueueOperation::Remove) {
        const bool reinstall = item.operation == ZMQueueOperation::Reinstall && !package.installedVersion.empty();
        item.version = reinstall ? package.installedVersion : package.version;
    }
    return item;
}

std::vector<ZMQueueItem> ZMQueue::queueItems() {
    std::vector<ZMQueueItem> items;
    for (const auto& package :
         ZMRPackage::objectsWhere("isInTheQueue = 1").sortedResultsUsingKeyPath("identifier", true).toVector())
        if (auto item = itemForPackage(package)) items.push_back(*item);
    return items;
}

void ZMQueue::resolve(std::function<void(std::vector<ZMQueueItem>, ZMResult<ZMDryRunResult>)> completion) {
    Dispatch::backgroundQueue([completion = std::move(completion)] {
        auto queue = queueItems();
        auto result = ZMAPTManager::dryRun(queue);
        Dispatch::main([completion, queue = std::move(queue), result = std::move(result)] { completion(queue, result); });
    });
}

std::optional<ZMPackageArchive> ZMQueue::archiveFor(const ZMDependencyDescription& d) {
    auto package = ZMRPackage::objectForPrimaryKey(d.identifier);
    ZMPackageArchive archive;
    archive.identifier = d.identifier;
    archive.version = d.version;
    archive.architecture = !d.architecture.empty() ? d.architecture : package ? package->architecture : std::string();
    const bool fromSource = package && !package->sourceLocation.empty() && package->sourceLocation != "DPKG";
    if (fromSource && !package->filename.empty() && ZMVersionCompare(package->version, d.version) == 0) {
        // The record holds its own version's archive; version rows list the others.
        archive.sourceLocation = package->sourceLocation;
        archive.fileName = package->filename;
        archive.size = package->size;
        archive.sha256 = package->sha256;
        archive.md5sum = package->md5sum;
    } else {
        std::optional<ZMRPackageVersion> version;
        if (fromSource)
            version = ZMRPackageVersion::objectForPrimaryKey(
                ZMRPackageVersion::makeKey(package->sourceLocation, d.identifier, d.version));
        if (!version)
            version = ZMRPackageVersion::objectsWhere("identifier = %@ AND version = %@", d.identifier, d.version).firstObject();
        if (!version || version->fileLocation.empty()) return std::nullopt;
        archive.sourceLocation = version->source;
        archive.fileName = version->fileLocation;
        archive.size = version->size;
        archive.sha256 = version->sha256;
        archive.md5sum = version->md5sum;
    }
    if (package) {
        archive.name = package->name;
        archive.maintainer = package->maintainer;
        archive.isPaid = !package->isFree();
    }
    return archive;
}

ZMResult<ZMQueue::Confirmation> ZMQueue::confirm(std::vector<ZMQueueItem> queue, const ZMDryRunResult& resolved,
                                                 std::function<void(const ZMError&)> onFailure) {
    if (!resolved.canProceed()) {
        std::string reasons;
        for (const auto& u : resolved.unmetDependencies) reasons += (reasons.empty() ? "" : "\n") + u.reason;
        return ZMResult<Confirmation>::failure(ZMError::make(ZMError::CommandFailed, reasons));
    }
    if (ZMPipelineManager::sharedManager().isTaskLive("package.queue"))
        return ZMResult<Confirmation>::failure(
            ZMError::make(ZMError::CommandFailed, "Another run of the queue is in progress"));
    Confirmation confirmation;
    confirmation.run = ZMPackageQueueTask::make(std::move(queue), resolved);
    confirmation.batch = ZMDownloadBatch::make(confirmation.run, std::move(onFailure));
    for (const auto& d : resolved.allPackagesToInstall) {
        auto archive = archiveFor(d);
        if (!archive) {
            ZMLOG("no index record of {} {}: apt-get fetches it", d.identifier, d.version);
            confirmation.leftToApt.push_back(d.identifier);
            continue;
        }
        auto task = ZMPackageDownloadTask::make(std::move(*archive), confirmation.batch);
        confirmation.batch->add(task);
        confirmation.downloads.push_back(task);
    }
    if (!confirmation.batch->start())
        return ZMResult<Confirmation>::failure(ZMError::make(ZMError::Unknown, "The queue is already running"));
    return ZMResult<Confirmation>::success(std::move(confirmation));
}
