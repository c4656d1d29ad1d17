#pragma once
// The run of the whole queue ("package.ops"): one apt-get run through the
// helper, its status lines as the task's status and progress and every
// output line in the console. Afterwards, whatever apt-get's outcome, it
// rescans the dpkg status into the records, cleans the archives and posts
// "UpdateQueueStateNotification-<identifier>" for every package it touched.
//
// Success: the queue marks of the run's packages are cleared (one
// transaction) and the post-install actions of the installed packages are
// handed to the pipeline. Failure (error 34, apt's message): only the marks of
// packages the status shows in their wanted state are cleared; the others
// stay queued so that the user can retry, and no post-install action is
// collected.
#include <memory>
#include <string>
#include <vector>

#include "ZMAPTCommandTask.h"
#include "ZMDependencyDescription.h"

class ZMPackageQueueTask : public ZMAPTCommandTask {
public:
    // `queue` is what the user confirmed, `resolved` its dry run (it names
    // the dependencies the run touches and the versions it installs).
    static std::shared_ptr<ZMPackageQueueTask> make(std::vector<ZMQueueItem> queue, ZMDryRunResult resolved = {});

    const std::vector<ZMQueueItem>& queue() const { return queue_; }
    // The queue's identifiers and those of every package of the dry run.
    std::vector<std::string> touchedIdentifiers() const;

    void taskStart() override;
    std::string taskID() const override { return "package.queue"; }
    std::string pipelineID() const override;
    std::string taskLocalizedTitle() const override;

private:
    ZMPackageQueueTask(std::vector<ZMQueueItem> queue, ZMDryRunResult resolved);
    // Whether the status shows the item carried out (for a failed run).
    bool isDone(const ZMQueueItem& item, const struct ZMDpkgStatusScan& scan) const;

    const std::vector<ZMQueueItem> queue_;
    const ZMDryRunResult resolved_;
};
