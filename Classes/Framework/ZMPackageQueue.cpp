#include "ZMPackageQueue.h"

#include <mutex>

#include "Database/ZMRPackageManager.h"
#include "Database/ZMRPackages.h"
#include "Miscellaneous/ZMLog.h"
#include "Notifications/NotificationCenter.h"
#include "ZMPackageOperations.h"
#include "ZMQueue.h"

namespace {
std::mutex gStarterMutex;
ZMPackageQueue::RunStarter gStarter;
}  // namespace

std::string ZMQueueStateNotificationName(const std::string& identifier) {
    return "UpdateQueueStateNotification-" + identifier;
}

std::optional<ZMQueueItem> ZMPackageQueue::queueItemForPackage(const ZMRPackage& package) {
    return ZMQueue::itemForPackage(package);
}

std::vector<ZMQueueItem> ZMPackageQueue::currentQueue() { return ZMQueue::queueItems(); }

size_t ZMPackageQueue::queuedCount() { return ZMRPackage::objectsWhere("isInTheQueue = 1").count(); }

void ZMPackageQueue::removeFromQueue(const std::string& identifier) {
    ZMRPackageManager::sharedPackageManager().packages().setPackage(identifier, false, std::nullopt, 0);
    ZMPackageOperations::postQueueStateChanged({identifier});
}

void ZMPackageQueue::clearQueue() {
    std::vector<std::string> identifiers;
    for (const auto& value : ZMRPackage::objectsWhere("isInTheQueue = 1").valueForKey("identifier"))
        if (value.is_string()) identifiers.push_back(value.get<std::string>());
    if (identifiers.empty()) return;
    ZMRPackageManager::sharedPackageManager().packages().setPackagesWhere("isInTheQueue = 1", false, std::nullopt, 0);
    for (const auto& identifier : identifiers)
        NotificationCenter::defaultCenter().postOnMain(ZMQueueStateNotificationName(identifier), identifier);
}

void ZMPackageQueue::setRunStarter(RunStarter starter) {
    std::lock_guard lock(gStarterMutex);
    gStarter = std::move(starter);
}

bool ZMPackageQueue::hasRunStarter() {
    std::lock_guard lock(gStarterMutex);
    return static_cast<bool>(gStarter);
}

std::optional<ZMError> ZMPackageQueue::startRun(const std::vector<ZMQueueItem>& queue,
                                                const ZMDryRunResult& resolution) {
    RunStarter starter;
    {
        std::lock_guard lock(gStarterMutex);
        starter = gStarter;
    }
    if (queue.empty()) return ZMError::make(ZMError::Unknown, "the queue is empty");
    if (!resolution.canProceed()) return ZMError::make(ZMError::CommandFailed, "the queue has unmet dependencies");
    if (!starter) return ZMError::make(ZMError::Unknown, "no queue runner is installed");
    return starter(queue, resolution);
}
