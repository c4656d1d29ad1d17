#include "ZMPackageQueueTask.h"

#include <algorithm>
#include <map>
#include <set>

#include "Database/ZMRPackage.h"
#include "Database/ZMRPackages.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "Realm/Realm.h"
#include "ZMDpkgStatus.h"
#include "ZMPackageOperations.h"
#include "ZMPipelineManager.h"

ZMPackageQueueTask::ZMPackageQueueTask(std::vector<ZMQueueItem> queue, ZMDryRunResult resolved)
    : ZMAPTCommandTask(ZMLocalizedString("Preparing...")), queue_(std::move(queue)), resolved_(std::move(resolved)) {}

std::shared_ptr<ZMPackageQueueTask> ZMPackageQueueTask::make(std::vector<ZMQueueItem> queue, ZMDryRunResult resolved) {
    return std::shared_ptr<ZMPackageQueueTask>(new ZMPackageQueueTask(std::move(queue), std::move(resolved)));
}

std::string ZMPackageQueueTask::pipelineID() const { return ZMPipelinePackageOps; }

std::string ZMPackageQueueTask::taskLocalizedTitle() const { return ZMLocalizedString("Running the queue"); }

std::vector<std::string> ZMPackageQueueTask::touchedIdentifiers() const {
    std::set<std::string> names;
    for (const auto& item : queue_) names.insert(item.identifier);
    for (const auto& d : resolved_.allPackagesToInstall) names.insert(d.identifier);
    for (const auto& d : resolved_.packagesToRemove) names.insert(d.identifier);
    return {names.begin(), names.end()};
}

bool ZMPackageQueueTask::isDone(const ZMQueueItem& item, const ZMDpkgStatusScan& scan) const {
    const ZMDpkgPackage* found = nullptr;
    for (const auto& p : scan.packages)
        if (p.identifier == item.identifier) found = &p;
    bool installed = found && found->installed && !found->needsRepair;
    if (item.operation == ZMQueueOperation::Remove) return !found || found->state == "not-installed" || found->state == "config-files";
    if (!installed) return false;
    std::string wanted = item.version;
    if (wanted.empty())
        for (const auto& d : resolved_.allPackagesToInstall)
            if (d.identifier == item.identifier) wanted = d.version;
    // Without a known version only a fresh install can be told done.
    if (wanted.empty()) return item.operation == ZMQueueOperation::Install;
    return found->version == wanted;
}

void ZMPackageQueueTask::taskStart() {
    auto self = shared_from_this();
    auto& pipeline = ZMPipelineManager::sharedManager();
    if (queue_.empty()) {
        pipeline.taskDoneWithSuccess(self);
        return;
    }
    ZMLOG("running the queue of {} packages", queue_.size());
    auto result = ZMAPTManager::installQueue(queue_, outputHandler(), statusHandler());

    // What dpkg says now, whatever apt-get answered.
    auto scan = ZMPackageOperations::rescanInstalledState();
    if (!scan) ZMLOG("the status rescan after the run failed: {}", scan.error->detail);
    ZMAPTManager::cleanArchives();

    std::vector<std::string> cleared;
    for (const auto& item : queue_)
        if (result || (scan && isDone(item, *scan.value))) cleared.push_back(item.identifier);
    if (!cleared.empty()) {
        auto realm = Realm::defaultRealm();
        auto records = realm->objectsWhere<ZMRPackage>("isInTheQueue = 1").toVector();
        realm->transactionWithBlock([&] {
            for (auto& record : records) {
                if (std::find(cleared.begin(), cleared.end(), record.identifier) == cleared.end()) continue;
                realm->setValueForKey(record, "isInTheQueue", false);
                realm->setValueForKey(record, "queuedVersion", std::string());
                realm->setValueForKey(record, "queueOperation", int64_t{ZMRQueueOperationNone});
            }
        });
    }

    if (result) {
        std::set<std::string> installed;
        for (const auto& d : resolved_.allPackagesToInstall) installed.insert(d.identifier);
        for (const auto& item : queue_)
            if (item.operation != ZMQueueOperation::Remove) installed.insert(item.identifier);
        for (const auto& identifier : installed) {
            auto record = ZMRPackage::objectForPrimaryKey(identifier);
            if (!record) continue;
            for (auto action : ZMPackageOperations::parsePostInstallActions(record->postinstallaction))
                pipeline.addPostInstallAction(action);
        }
    }

    auto touched = touchedIdentifiers();
    if (result) {
        setProgress(1.0);
        setStatus(ZMLocalizedString("Done"));
        pipeline.taskDone(self, true, std::nullopt, [touched] { ZMPackageOperations::postQueueStateChanged(touched); });
    } else {
        ZMLOG("the queue run failed: {}", result.error->detail);
        pipeline.taskDone(self, false, result.error, [touched] { ZMPackageOperations::postQueueStateChanged(touched); });
    }
}
