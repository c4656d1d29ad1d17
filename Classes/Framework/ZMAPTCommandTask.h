#pragma once
// The common part of the tasks that run one apt command through the helper
// (the queue run, a local .deb): status and progress from apt's status lines,
// every output line to the console ("UpdateVerboseView", errors flagged).
#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>

#include "ZMAPTManager.h"
#include "ZMTask.h"

class ZMAPTCommandTask : public ZMTask {
public:
    std::string taskDescription() const override;
    double taskProgress() const override { return progress_; }

protected:
    explicit ZMAPTCommandTask(std::string initialStatus) : status_(std::move(initialStatus)) {}
    void setStatus(std::string status);
    void setProgress(double progress);
    // Handlers for ZMAPTManager's commands that report through this task.
    ZMAPTManager::OutputHandler outputHandler();
    ZMAPTManager::StatusHandler statusHandler();

private:
    mutable std::mutex mutex_;
    std::string status_;
    std::atomic<double> progress_{0.0};
};
