#include "ZMFunctionTask.h"

#include "ZMPipelineManager.h"

ZMFunctionTask::ZMFunctionTask(std::string taskID, std::string pipelineID, std::string description, Body body)
    : taskID_(std::move(taskID)), pipelineID_(std::move(pipelineID)), body_(std::move(body)),
      status_(std::move(description)) {}

std::shared_ptr<ZMFunctionTask> ZMFunctionTask::make(std::string taskID, std::string pipelineID,
                                                     std::string description, Body body) {
    return std::shared_ptr<ZMFunctionTask>(
        new ZMFunctionTask(std::move(taskID), std::move(pipelineID), std::move(description), std::move(body)));
}

void ZMFunctionTask::setLocalizedTitle(std::string title) {
    std::lock_guard lock(mutex_);
    title_ = std::move(title);
}

std::string ZMFunctionTask::taskLocalizedTitle() const {
    std::lock_guard lock(mutex_);
    return title_;
}

void ZMFunctionTask::setStatus(std::string status) {
    {
        std::lock_guard lock(mutex_);
        status_ = std::move(status);
    }
    ZMPipelineManager::sharedManager().taskStatusChanged(shared_from_this());
}

void ZMFunctionTask::setProgress(double progress) {
    progress_ = progress;
    ZMPipelineManager::sharedManager().taskProgressChanged(shared_from_this());
}

std::string ZMFunctionTask::taskDescription() const {
    std::lock_guard lock(mutex_);
    return status_;
}

void ZMFunctionTask::taskStart() {
    auto self = shared_from_this();
    auto& pipeline = ZMPipelineManager::sharedManager();
    // An exception leaves through here and the pipeline reports it as a failure.
    auto error = body_ ? body_(*this) : std::nullopt;
    if (error) {
        pipeline.taskDoneWithError(self, *error);
    } else if (cancelled_) {
        pipeline.taskCancelled(self);
    } else {
        pipeline.taskDoneWithSuccess(self);
    }
}
