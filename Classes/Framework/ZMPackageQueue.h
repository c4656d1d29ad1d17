#pragma once
// The queue as the confirmation screen sees it: the queue marks of the package
// records turned into apt-get's queue, and the hand-over of a confirmed queue
// to the tasks that carry it out.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Database/ZMRPackage.h"
#include "Miscellaneous/ZMError.h"
#include "ZMAPTManager.h"

// "UpdateQueueStateNotification-" followed by the package identifier.
std::string ZMQueueStateNotificationName(const std::string& identifier);

class ZMPackageQueue {
public:
    // The queue item for a record's marks and every queued package's, by
    // identifier (ZMQueue's rules).
    static std::optional<ZMQueueItem> queueItemForPackage(const ZMRPackage& package);
    static std::vector<ZMQueueItem> currentQueue();
    static size_t queuedCount();

    // Takes one package out of the queue and announces it.
    static void removeFromQueue(const std::string& identifier);
    // Clears every mark (at exit, and after a run); announces each package.
    static void clearQueue();

    // Carries a confirmed queue out: queues its download tasks, the last of
    // which queues the run. Installed by the package-operations code; until a
    // starter is installed, startRun answers an error and queues nothing.
    using RunStarter = std::function<std::optional<ZMError>(const std::vector<ZMQueueItem>& queue,
                                                            const ZMDryRunResult& resolution)>;
    static void setRunStarter(RunStarter starter);
    static bool hasRunStarter();
    static std::optional<ZMError> startRun(const std::vector<ZMQueueItem>& queue, const ZMDryRunResult& resolution);
};
