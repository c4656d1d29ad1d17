#include "ZMAPTCommandTask.h"

#include "ZMPackageOperations.h"
#include "ZMPipelineManager.h"

std::string ZMAPTCommandTask::taskDescription() const {
    std::lock_guard lock(mutex_);
    return status_;
}

void ZMAPTCommandTask::setStatus(std::string status) {
    {
        std::lock_guard lock(mutex_);
        if (status_ == status) return;
        status_ = std::move(status);
    }
    ZMPipelineManager::sharedManager().taskStatusChanged(shared_from_this());
}

void ZMAPTCommandTask::setProgress(double progress) {
    progress = std::clamp(progress, 0.0, 1.0);
    if (progress_.exchange(progress) == progress) return;
    ZMPipelineManager::sharedManager().taskProgressChanged(shared_from_this());
}

ZMAPTManager::OutputHandler ZMAPTCommandTask::outputHandler() {
    return [](const std::string& line, bool fromStandardError) {
        ZMPipelineManager::postVerbose(line, ZMPackageOperations::isErrorLine(line, fromStandardError));
    };
}

ZMAPTManager::StatusHandler ZMAPTCommandTask::statusHandler() {
    // The handlers run while taskStart() blocks in the command: the task is alive.
    return [this](const ZMAPTStatus& status) {
        if (status.kind == ZMAPTStatus::Kind::Error) {
            ZMPipelineManager::postVerbose(status.message, true);
            return;
        }
        if (status.kind == ZMAPTStatus::Kind::ConfigFile) return;
        if (!status.message.empty()) setStatus(status.message);
        setProgress(status.percent / 100.0);
    };
}
