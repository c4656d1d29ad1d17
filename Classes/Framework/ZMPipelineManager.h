#pragma once
// The pipeline: one process-wide queue that runs up to 15 tasks at once on
// worker threads of its own, keeps the list of live tasks, reports them
// through notifications and runs the end-of-work steps (end of a source
// refresh, post-install actions, work to do once everything has finished).
//
// The core never talks to the interface: the shell and the collections plug
// in through the hooks below and observe the notifications.
#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Miscellaneous/ZMError.h"
#include "ZMTask.h"

// ---- pipeline identifiers ---------------------------------------------------
inline constexpr const char* ZMPipelinePackageOps = "package.ops";        // runs of the package queue
inline constexpr const char* ZMPipelineDownloadOps = "download.ops";      // package archive downloads
inline constexpr const char* ZMPipelineZMPInstallOps = "zmp.install.ops"; // installation of a local .deb
inline constexpr const char* ZMPipelineSourceOps = "source.ops";          // one source refresh each
inline constexpr const char* ZMPipelineMisc = "misc";
inline constexpr const char* ZMPipelineSearch = "search";
inline constexpr const char* ZMPipelineErrors = "errors";
inline constexpr const char* ZMPipelineSynchronization = "synchronization";
inline constexpr const char* ZMPipelineCacheOps = "cache.ops";
// Also the name of the notification posted on the main thread, with no
// object, when the last source refresh of a refresh has ended.
inline constexpr const char* ZMPipelineSourceRefreshComplete = "source.ops.done";
// The pipelines whose tasks install or remove packages; each such task
// rescans dpkg's status before it reports its end.
inline bool ZMPipelineChangesInstalledPackages(const std::string& pipelineID) {
    return pipelineID == ZMPipelinePackageOps || pipelineID == ZMPipelineZMPInstallOps;
}

// ---- notifications ----------------------------------------------------------
// Every one carries the task (a ZMTaskPtr) as object and a user info object
// with at least "taskID" and "pipelineID".
//
// Posted on the thread that called queueTask(); user info adds "status"
// (the task's description), "title" and "objectName".
inline constexpr const char* ZMPipelineTaskQueuedNotification = "ZMPipelineTaskQueuedNotification";
// Posted on the main thread by taskStatusChanged(); adds "status".
inline constexpr const char* ZMPipelineTaskStatusNotification = "ZMPipelineTaskStatusNotification";
// Posted on the main thread by taskProgressChanged(); adds "progress" (0..1).
inline constexpr const char* ZMPipelineTaskProgressNotification = "ZMPipelineTaskProgressNotification";
// Posted on the main thread when a task has ended; adds "success" (bool),
// "cancelled" (bool) and, for a failure, "error" {"domain", "code",
// "message" (the user-facing text), "detail"}. A cancelled task has success
// false and no error.
inline constexpr const char* ZMPipelineTaskFinishedNotification = "ZMPipelineTaskFinishedNotification";
// Lines for the verbose task console, posted on the main thread; user info
// "Message" (text) and "Error" (bool).
inline constexpr const char* ZMUpdateVerboseViewNotification = "UpdateVerboseView";

// ---- post-install actions ---------------------------------------------------
enum class ZMPostInstallAction {
    Respring,
    Reboot,
    RefreshIcons,  // "uicache"
};
// "respring", "reboot", "uicache".
const char* ZMPostInstallActionName(ZMPostInstallAction action);

// What has finished since the pipeline was last idle, for the idle hooks.
struct ZMPipelineIdleInfo {
    std::set<std::string> finishedPipelines;
    bool sourcesRefreshed() const { return finishedPipelines.count(ZMPipelineSourceOps) > 0; }
    bool packagesChanged() const {
        return std::any_of(finishedPipelines.begin(), finishedPipelines.end(), ZMPipelineChangesInstalledPackages);
    }
};

class ZMPipelineManager {
public:
    static constexpr int kMaxConcurrentTasks = 15;

    static ZMPipelineManager& sharedManager();

    // Adds the task to the queue and posts the queued notification on this
    // thread. Returns false, and does nothing, when a task with the same
    // taskID is queued or running (or the task is null).
    bool queueTask(const ZMTaskPtr& task);
    // Queues several tasks at once, so that none of them can end before the
    // others are live (a refresh of all sources must not look finished after
    // its first source). Returns how many were accepted.
    size_t queueTasks(const std::vector<ZMTaskPtr>& tasks);

    // Reporting, from any thread.
    void taskStatusChanged(const ZMTaskPtr& task);
    void taskProgressChanged(const ZMTaskPtr& task);
    void taskDoneWithSuccess(const ZMTaskPtr& task);
    void taskDoneWithError(const ZMTaskPtr& task, const ZMError& error);
    // success == false without an error reports an unknown error: a failed
    // task is never shown as a success.
    void taskDone(const ZMTaskPtr& task, bool success, std::optional<ZMError> error = std::nullopt);
    // Ends the task, then runs `thenOnMain` on the main thread. Everything
    // that observes the pipeline's counters from that block (or from the
    // notifications it posts) sees the task gone. A source refresh posts its
    // source-updated notification this way: posting it to the main thread
    // first and reporting done second leaves a window in which a busy main
    // thread delivers it while the refresh still counts.
    void taskDone(const ZMTaskPtr& task, bool success, std::optional<ZMError> error,
                  std::function<void()> thenOnMain);
    // Ends a running task that stopped because it was cancelled: finished with
    // success false, "cancelled" true and no error.
    void taskCancelled(const ZMTaskPtr& task);

    // Cancels a queued or running task whose taskCanCancel() is true. A
    // queued one is removed and reported finished as cancelled; a running one
    // gets taskCancel() and reports its own end. False when there is no such
    // live task or it cannot cancel.
    bool cancelTask(const std::string& taskID);

    // Snapshot of the live tasks (queued or running) in queue order.
    std::vector<ZMTaskPtr> runningTasks() const;
    bool isTaskLive(const std::string& taskID) const;
    size_t liveTaskCount() const;
    // Tasks that have started and not yet reported their end.
    size_t activeTaskCount() const;
    // Tasks queued that wait for a place among those running.
    size_t waitingTaskCount() const;
    // Source refreshes ("source.ops" tasks) queued or running. Drops in the
    // done call itself, before anything that call posts is delivered.
    int sourceRefreshCount() const;

    // ---- post-install actions ----
    // Collected while package tasks run; handed over, read and cleared, when
    // the last "package.ops"/"zmp.install.ops" task of the run has ended.
    void addPostInstallAction(ZMPostInstallAction action);
    std::set<ZMPostInstallAction> pendingPostInstallActions() const;
    using PostInstallHandler = std::function<void(const std::set<ZMPostInstallAction>&)>;
    // Called on the main thread, after the finished notification of the last
    // package task, with the non-empty set of actions. Null restores the
    // default, which only logs them.
    void setPostInstallHandler(PostInstallHandler handler);

    // ---- end-of-work hooks ----
    // Runs on the main thread when the last source refresh has ended, right
    // before "source.ops.done" goes out (the sources collection clears its
    // refresh-in-progress flag here). `sourcesChanged` is false when every
    // refresh since the previous end said it changed nothing
    // (ZMTask::taskChangedNothing()).
    using SourceRefreshEndedHook = std::function<void(bool sourcesChanged)>;
    void setSourceRefreshEndedHook(SourceRefreshEndedHook hook);
    using IdleHook = std::function<void(const ZMPipelineIdleInfo&)>;
    // Idle hooks run on the main thread once the pipeline is empty, after the
    // notifications of the tasks that emptied it, with what finished since the
    // last time. A hook that queues a task is called again when that one
    // ends, so it must look at the info (e.g. rebuild caches only when
    // sourcesRefreshed()).
    uint64_t addIdleHook(IdleHook hook);
    void removeIdleHook(uint64_t id);

    // Posts a "UpdateVerboseView" line on the main thread.
    static void postVerbose(const std::string& message, bool isError = false);

private:
    ZMPipelineManager();
    ZMPipelineManager(const ZMPipelineManager&) = delete;
    ZMPipelineManager& operator=(const ZMPipelineManager&) = delete;

    struct Entry {
        ZMTaskPtr task;
        std::string taskID;
        std::string pipelineID;
        bool started = false;
    };

    bool enqueueLocked(const ZMTaskPtr& task);
    void announceQueued(const ZMTaskPtr& task);
    void workerLoop();
    void run(const ZMTaskPtr& task);
    void finish(const ZMTaskPtr& task, bool success, bool cancelled, std::optional<ZMError> error,
                std::function<void()> thenOnMain);
    void runIdleHooksIfIdle();
    std::vector<Entry>::iterator findLocked(const ZMTask* task);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Entry> live_;           // queue order
    std::deque<ZMTaskPtr> waiting_;     // live, not yet started
    size_t active_ = 0;                 // started, not yet done
    int sourceOps_ = 0;
    int packageOps_ = 0;
    std::set<ZMPostInstallAction> postInstallActions_;
    std::set<std::string> finishedSinceIdle_;
    bool sourcesChangedSinceEnd_ = false;

    mutable std::mutex hooksMutex_;
    PostInstallHandler postInstallHandler_;
    SourceRefreshEndedHook sourceRefreshEndedHook_;
    std::map<uint64_t, IdleHook> idleHooks_;
    uint64_t nextHookID_ = 1;
};
