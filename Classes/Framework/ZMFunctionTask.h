#pragma once
// A task made of a function, for jobs with no state of their own (cache
// rebuilds, small maintenance). The body runs on a pipeline worker thread;
// its return value ends the task: no error is a success, an error a failure.
// A cancellable task's body polls isCancelled(); when it returns after a
// cancel, the task ends as cancelled.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Miscellaneous/ZMError.h"
#include "ZMTask.h"

class ZMFunctionTask : public ZMTask {
public:
    using Body = std::function<std::optional<ZMError>(ZMFunctionTask&)>;

    static std::shared_ptr<ZMFunctionTask> make(std::string taskID, std::string pipelineID, std::string description,
                                                Body body);

    // Set before queueing.
    void setCancellable(bool cancellable) { cancellable_ = cancellable; }
    void setLocalizedTitle(std::string title);

    // From the body: store the value and report it to the pipeline.
    void setStatus(std::string status);
    void setProgress(double progress);
    bool isCancelled() const { return cancelled_; }

    void taskStart() override;
    std::string taskID() const override { return taskID_; }
    std::string pipelineID() const override { return pipelineID_; }
    std::string taskDescription() const override;
    double taskProgress() const override { return progress_; }
    void taskCancel() override { cancelled_ = true; }
    bool taskCanCancel() const override { return cancellable_; }
    std::string taskLocalizedTitle() const override;

private:
    ZMFunctionTask(std::string taskID, std::string pipelineID, std::string description, Body body);

    const std::string taskID_;
    const std::string pipelineID_;
    Body body_;
    mutable std::mutex mutex_;
    std::string status_;
    std::string title_;
    std::atomic<double> progress_{0.0};
    std::atomic<bool> cancellable_{false};
    std::atomic<bool> cancelled_{false};
};
