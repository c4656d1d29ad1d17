#pragma once
// A long-running job of the pipeline (source refresh, download, queue run,
// .deb installation, cache rebuild, setup backup).
//
// Life of a task:
//   1. Someone hands it to ZMPipelineManager::sharedManager().queueTask().
//   2. A pipeline worker thread calls taskPrepare() and then taskStart().
//      taskStart() may block (downloads, commands): the pipeline has worker
//      threads of its own, so a blocked task never starves Dispatch's pools.
//   3. The task reports its end exactly once, from any thread, with
//      taskDoneWithSuccess(), taskDoneWithError() or taskDone() of the
//      pipeline. Returning from taskStart() does NOT end the task: a task may
//      start an asynchronous request and report from its completion. Until
//      the report, the task keeps its place among the 15 running tasks.
//      A taskPrepare()/taskStart() that throws is reported as failed by the
//      pipeline. A task that returns without ever reporting cannot be told
//      apart from one waiting for a completion, so it stays live: report on
//      every path (ZMFunctionTask does it for plain synchronous jobs).
//
// The pipeline calls taskID(), pipelineID(), taskDescription() and
// taskProgress() from any thread, also while taskStart() runs: tasks keep
// their status and progress in atomics or behind a lock.
#include <memory>
#include <string>

class ZMTask : public std::enable_shared_from_this<ZMTask> {
public:
    virtual ~ZMTask() = default;

    // Required.
    // The job itself; runs on a pipeline worker thread.
    virtual void taskStart() = 0;
    // Identity in the pipeline: while a task with this identifier is queued
    // or running, another one with the same identifier is ignored.
    virtual std::string taskID() const = 0;
    // One of the pipeline identifiers of ZMPipelineManager.h ("package.ops"...).
    virtual std::string pipelineID() const = 0;
    // The current status line shown by the task screens.
    virtual std::string taskDescription() const = 0;
    // 0..1.
    virtual double taskProgress() const = 0;

    // Optional.
    // Runs on the worker thread right before taskStart().
    virtual void taskPrepare() {}
    // Asks a running task to stop; it still reports its end itself (as a
    // failure). Only called when taskCanCancel() is true.
    virtual void taskCancel() {}
    virtual bool taskCanCancel() const { return false; }
    // Texts for the task screens; empty means "use the description".
    virtual std::string taskLocalizedTitle() const { return {}; }
    virtual std::string taskLocalizedObjectName() const { return {}; }
    // Read when the task has ended: true when it left every record as it
    // was (a source answering "not modified"), so that the idle hooks need
    // not rebuild what is built from the records.
    virtual bool taskChangedNothing() const { return false; }
};

using ZMTaskPtr = std::shared_ptr<ZMTask>;
