#include "ZMPipelineManager.h"

#include <algorithm>
#include <exception>
#include <thread>

#include <nlohmann/json.hpp>

#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLog.h"
#include "Notifications/NotificationCenter.h"

namespace {

nlohmann::json baseInfo(const ZMTask& task) {
    return {{"taskID", task.taskID()}, {"pipelineID", task.pipelineID()}};
}

// Observers on the main queue get a notification posted on the main thread
// one hop later. Going through the main queue twice puts the block behind the
// deliveries of what was posted before it.
void mainAfterDeliveries(Dispatch::Block block) {
    Dispatch::main([block = std::move(block)]() mutable { Dispatch::main(std::move(block)); });
}

std::string actionList(const std::set<ZMPostInstallAction>& actions) {
    std::string text;
    for (auto action : actions) {
        if (!text.empty()) text += ", ";
        text += ZMPostInstallActionName(action);
    }
    return text;
}

}  // namespace

const char* ZMPostInstallActionName(ZMPostInstallAction action) {
    switch (action) {
        case ZMPostInstallAction::Respring: return "respring";
        case ZMPostInstallAction::Reboot: return "reboot";
        case ZMPostInstallAction::RefreshIcons: return "uicache";
    }
    return "unknown";
}

ZMPipelineManager& ZMPipelineManager::sharedManager() {
    // Never destroyed: its worker threads live as long as the process.
    static auto* manager = new ZMPipelineManager;
    return *manager;
}

ZMPipelineManager::ZMPipelineManager() {
    for (int i = 0; i < kMaxConcurrentTasks; ++i) {
        std::thread([this] { workerLoop(); }).detach();
    }
}

std::vector<ZMPipelineManager::Entry>::iterator ZMPipelineManager::findLocked(const ZMTask* task) {
    // By object, not by taskID: a late report from a task that already ended
    // must not end a newer task with the same identifier.
    return std::find_if(live_.begin(), live_.end(), [task](const Entry& e) { return e.task.get() == task; });
}

bool ZMPipelineManager::enqueueLocked(const ZMTaskPtr& task) {
    if (!task) return false;
    Entry entry{task, task->taskID(), task->pipelineID(), false};
    for (const auto& e : live_) {
        if (e.taskID == entry.taskID) return false;
    }
    if (entry.pipelineID == ZMPipelineSourceOps) ++sourceOps_;
    if (ZMPipelineChangesInstalledPackages(entry.pipelineID)) ++packageOps_;
    live_.push_back(std::move(entry));
    return true;
}

void ZMPipelineManager::announceQueued(const ZMTaskPtr& task) {
    auto info = baseInfo(*task);
    info["status"] = task->taskDescription();
    info["title"] = task->taskLocalizedTitle();
    info["objectName"] = task->taskLocalizedObjectName();
    NotificationCenter::defaultCenter().post(ZMPipelineTaskQueuedNotification, task, std::move(info));
}

bool ZMPipelineManager::queueTask(const ZMTaskPtr& task) {
    return queueTasks({task}) == 1;
}

size_t ZMPipelineManager::queueTasks(const std::vector<ZMTaskPtr>& tasks) {
    std::vector<ZMTaskPtr> accepted;
    {
        std::lock_guard lock(mutex_);
        for (const auto& task : tasks) {
            if (enqueueLocked(task)) {
                accepted.push_back(task);
            } else if (task) {
                ZMLOG("Task {} is already in the pipeline, ignored", task->taskID());
            }
        }
    }
    // Announced before a worker can pick them up, so that no status or
    // finished notification of a task precedes its queued one.
    for (const auto& task : accepted) announceQueued(task);
    {
        std::lock_guard lock(mutex_);
        for (const auto& task : accepted) {
            auto it = findLocked(task.get());
            // Cancelled or reported done while being announced.
            if (it != live_.end() && !it->started) waiting_.push_back(task);
        }
    }
    wake_.notify_all();
    return accepted.size();
}

void ZMPipelineManager::workerLoop() {
    for (;;) {
        ZMTaskPtr task;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return !waiting_.empty() && active_ < kMaxConcurrentTasks; });
            task = std::move(waiting_.front());
            waiting_.pop_front();
            auto it = findLocked(task.get());
            if (it == live_.end()) continue;
            it->started = true;
            ++active_;
        }
        run(task);
    }
}

void ZMPipelineManager::run(const ZMTaskPtr& task) {
    std::optional<std::string> failure;
    try {
        task->taskPrepare();
        task->taskStart();
    } catch (const std::exception& e) {
        failure = e.what();
    } catch (...) {
        failure = "unknown exception";
    }
    if (!failure) return;
    ZMLOG("Task {} failed with an exception: {}", task->taskID(), *failure);
    bool live;
    {
        std::lock_guard lock(mutex_);
        live = findLocked(task.get()) != live_.end();
    }
    if (live) finish(task, false, false, ZMError::make(ZMError::Unknown, *failure), nullptr);
}

void ZMPipelineManager::taskStatusChanged(const ZMTaskPtr& task) {
    if (!task) return;
    auto info = baseInfo(*task);
    info["status"] = task->taskDescription();
    NotificationCenter::defaultCenter().postOnMain(ZMPipelineTaskStatusNotification, task, std::move(info));
}

void ZMPipelineManager::taskProgressChanged(const ZMTaskPtr& task) {
    if (!task) return;
    auto info = baseInfo(*task);
    info["progress"] = std::clamp(task->taskProgress(), 0.0, 1.0);
    NotificationCenter::defaultCenter().postOnMain(ZMPipelineTaskProgressNotification, task, std::move(info));
}

void ZMPipelineManager::taskDoneWithSuccess(const ZMTaskPtr& task) { finish(task, true, false, std::nullopt, nullptr); }

void ZMPipelineManager::taskDoneWithError(const ZMTaskPtr& task, const ZMError& error) {
    finish(task, false, false, error, nullptr);
}

void ZMPipelineManager::taskDone(const ZMTaskPtr& task, bool success, std::optional<ZMError> error) {
    taskDone(task, success, std::move(error), nullptr);
}

void ZMPipelineManager::taskDone(const ZMTaskPtr& task, bool success, std::optional<ZMError> error,
                                 std::function<void()> thenOnMain) {
    if (!success && !error) {
        error = ZMError::make(ZMError::Unknown, "the task reported a failure without an error");
    }
    finish(task, success, false, success ? std::nullopt : std::move(error), std::move(thenOnMain));
}

void ZMPipelineManager::taskCancelled(const ZMTaskPtr& task) { finish(task, false, true, std::nullopt, nullptr); }

void ZMPipelineManager::finish(const ZMTaskPtr& task, bool success, bool cancelled, std::optional<ZMError> error,
                               std::function<void()> thenOnMain) {
    if (!task) return;
    bool sourceRefreshEnded = false;
    bool idle = false;
    std::set<ZMPostInstallAction> actions;
    std::string pipelineID;
    {
        std::lock_guard lock(mutex_);
        auto it = findLocked(task.get());
        if (it == live_.end()) {
            ZMLOG("Task {} reported its end again, ignored", task->taskID());
            return;
        }
        pipelineID = it->pipelineID;
        if (it->started) {
            --active_;
        } else {
            waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), task), waiting_.end());
        }
        live_.erase(it);
        if (pipelineID == ZMPipelineSourceOps) sourceRefreshEnded = --sourceOps_ == 0;
        if (ZMPipelineChangesInstalledPackages(pipelineID) && --packageOps_ == 0) actions.swap(postInstallActions_);
        finishedSinceIdle_.insert(pipelineID);
        if (pipelineID == ZMPipelineSourceOps && !task->taskChangedNothing()) sourcesChangedSinceEnd_ = true;
        idle = live_.empty();
    }
    wake_.notify_all();

    if (error) ZMLOG("Task {} failed: {}", task->taskID(), error->debugDescription());

    if (thenOnMain) Dispatch::main(std::move(thenOnMain));

    auto info = baseInfo(*task);
    info["success"] = success;
    info["cancelled"] = cancelled;
    if (error) {
        info["error"] = {{"domain", error->domain},
                         {"code", error->code},
                         {"message", error->localizedDescription()},
                         {"detail", error->detail}};
    }
    NotificationCenter::defaultCenter().postOnMain(ZMPipelineTaskFinishedNotification, task, std::move(info));

    if (sourceRefreshEnded) {
        Dispatch::main([this] {
            bool changed = false;
            {
                // A refresh queued in the meantime ends later and reports then.
                std::lock_guard lock(mutex_);
                if (sourceOps_ != 0) return;
                changed = std::exchange(sourcesChangedSinceEnd_, false);
            }
            SourceRefreshEndedHook hook;
            {
                std::lock_guard lock(hooksMutex_);
                hook = sourceRefreshEndedHook_;
            }
            if (hook) hook(changed);
            NotificationCenter::defaultCenter().post(ZMPipelineSourceRefreshComplete);
        });
    }

    if (!actions.empty()) {
        mainAfterDeliveries([this, actions] {
            PostInstallHandler handler;
            {
                std::lock_guard lock(hooksMutex_);
                handler = postInstallHandler_;
            }
            if (handler) {
                handler(actions);
            } else {
                ZMLOG("Post-install actions: {}", actionList(actions));
            }
        });
    }

    if (idle) mainAfterDeliveries([this] { runIdleHooksIfIdle(); });
}

void ZMPipelineManager::runIdleHooksIfIdle() {
    ZMPipelineIdleInfo info;
    {
        std::lock_guard lock(mutex_);
        // Busy again: the task that ends the new work schedules another check.
        // Nothing finished: an earlier check already handed it over.
        if (!live_.empty() || finishedSinceIdle_.empty()) return;
        info.finishedPipelines.swap(finishedSinceIdle_);
    }
    std::vector<IdleHook> hooks;
    {
        std::lock_guard lock(hooksMutex_);
        for (const auto& [id, hook] : idleHooks_) hooks.push_back(hook);
    }
    for (const auto& hook : hooks) hook(info);
}

bool ZMPipelineManager::cancelTask(const std::string& taskID) {
    ZMTaskPtr task;
    bool started = false;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(live_.begin(), live_.end(), [&](const Entry& e) { return e.taskID == taskID; });
        if (it == live_.end()) return false;
        task = it->task;
        started = it->started;
    }
    if (!task->taskCanCancel()) return false;
    if (started) {
        task->taskCancel();
    } else {
        // May have started meanwhile; then it is cancelled like a running one.
        bool stillWaiting;
        {
            std::lock_guard lock(mutex_);
            auto it = findLocked(task.get());
            stillWaiting = it != live_.end() && !it->started;
        }
        if (stillWaiting) {
            finish(task, false, true, std::nullopt, nullptr);
        } else {
            task->taskCancel();
        }
    }
    return true;
}

std::vector<ZMTaskPtr> ZMPipelineManager::runningTasks() const {
    std::lock_guard lock(mutex_);
    std::vector<ZMTaskPtr> tasks;
    tasks.reserve(live_.size());
    for (const auto& e : live_) tasks.push_back(e.task);
    return tasks;
}

bool ZMPipelineManager::isTaskLive(const std::string& taskID) const {
    std::lock_guard lock(mutex_);
    return std::any_of(live_.begin(), live_.end(), [&](const Entry& e) { return e.taskID == taskID; });
}

size_t ZMPipelineManager::liveTaskCount() const {
    std::lock_guard lock(mutex_);
    return live_.size();
}

size_t ZMPipelineManager::activeTaskCount() const {
    std::lock_guard lock(mutex_);
    return active_;
}

size_t ZMPipelineManager::waitingTaskCount() const {
    std::lock_guard lock(mutex_);
    return live_.size() > active_ ? live_.size() - active_ : 0;
}

int ZMPipelineManager::sourceRefreshCount() const {
    std::lock_guard lock(mutex_);
    return sourceOps_;
}

void ZMPipelineManager::addPostInstallAction(ZMPostInstallAction action) {
    std::lock_guard lock(mutex_);
    postInstallActions_.insert(action);
}

std::set<ZMPostInstallAction> ZMPipelineManager::pendingPostInstallActions() const {
    std::lock_guard lock(mutex_);
    return postInstallActions_;
}

void ZMPipelineManager::setPostInstallHandler(PostInstallHandler handler) {
    std::lock_guard lock(hooksMutex_);
    postInstallHandler_ = std::move(handler);
}

void ZMPipelineManager::setSourceRefreshEndedHook(SourceRefreshEndedHook hook) {
    std::lock_guard lock(hooksMutex_);
    sourceRefreshEndedHook_ = std::move(hook);
}

uint64_t ZMPipelineManager::addIdleHook(IdleHook hook) {
    std::lock_guard lock(hooksMutex_);
    auto id = nextHookID_++;
    idleHooks_.emplace(id, std::move(hook));
    return id;
}

void ZMPipelineManager::removeIdleHook(uint64_t id) {
    std::lock_guard lock(hooksMutex_);
    idleHooks_.erase(id);
}

void ZMPipelineManager::postVerbose(const std::string& message, bool isError) {
    NotificationCenter::defaultCenter().postOnMain(ZMUpdateVerboseViewNotification, {},
                                                   {{"Message", message}, {"Error", isError}});
}
