#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>

#include "Dispatch/Dispatch.h"
#include "Notifications/NotificationCenter.h"
#include "Support/TestSupport.h"
#include "ZMFunctionTask.h"
#include "ZMPipelineManager.h"

using namespace std::chrono_literals;

namespace {

// Holds tasks inside taskStart until the test opens it.
class Gate {
public:
    void wait() {
        std::unique_lock lock(mutex_);
        cv_.wait_for(lock, 30s, [this] { return open_; });  // never hang a failing run forever
    }
    void open() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        cv_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool open_ = false;
};

// A task that reports its end itself, like the real ones.
class ManualTask : public ZMTask {
public:
    ManualTask(std::string id, std::string pipeline, std::function<void(ManualTask&)> start)
        : id_(std::move(id)), pipeline_(std::move(pipeline)), start_(std::move(start)) {}
    void taskStart() override { start_(*this); }
    std::string taskID() const override { return id_; }
    std::string pipelineID() const override { return pipeline_; }
    std::string taskDescription() const override { return "Working on " + id_; }
    double taskProgress() const override { return 0; }
    ZMTaskPtr self() { return shared_from_this(); }

private:
    std::string id_, pipeline_;
    std::function<void(ManualTask&)> start_;
};

ZMTaskPtr manual(std::string id, std::string pipeline, std::function<void(ManualTask&)> start) {
    return std::make_shared<ManualTask>(std::move(id), std::move(pipeline), std::move(start));
}

// Records notifications as observers on the posting thread see them.
class Recorder {
public:
    struct Entry {
        std::string name;
        nlohmann::json info;
        bool onMain;
        std::thread::id thread;
    };
    explicit Recorder(std::vector<std::string> names) {
        for (const auto& name : names) {
            bag_.add(NotificationCenter::defaultCenter().addObserver(
                name, NotificationCenter::Queue::Posting, [this](const Notification& n) {
                    std::lock_guard lock(mutex_);
                    entries_.push_back({n.name, n.userInfo, Dispatch::isMainThread(), std::this_thread::get_id()});
                }));
        }
    }
    std::vector<Entry> forTask(const std::string& taskID) const {
        std::lock_guard lock(mutex_);
        std::vector<Entry> out;
        for (const auto& e : entries_) {
            if (e.info.is_object() && e.info.value("taskID", "") == taskID) out.push_back(e);
        }
        return out;
    }
    std::vector<Entry> named(const std::string& name) const {
        std::lock_guard lock(mutex_);
        std::vector<Entry> out;
        for (const auto& e : entries_) {
            if (e.name == name) out.push_back(e);
        }
        return out;
    }
    size_t finishedCount(const std::string& taskID) const {
        size_t n = 0;
        for (const auto& e : forTask(taskID)) n += e.name == ZMPipelineTaskFinishedNotification;
        return n;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
    ObserverBag bag_;
};

const std::vector<std::string> kTaskNotifications = {ZMPipelineTaskQueuedNotification, ZMPipelineTaskStatusNotification,
                                                      ZMPipelineTaskProgressNotification,
                                                      ZMPipelineTaskFinishedNotification};

class Pipeline : public ::testing::Test {
protected:
    ZMPipelineManager& pipeline = ZMPipelineManager::sharedManager();

    Gate& gate() { return gates_.emplace_back(); }

    void TearDown() override {
        for (auto& g : gates_) g.open();
        EXPECT_TRUE(TestSupport::waitUntil([&] { return pipeline.liveTaskCount() == 0; }));
        TestSupport::pumpMainLoop(100ms);
        for (auto id : idleHooks) pipeline.removeIdleHook(id);
        pipeline.setPostInstallHandler(nullptr);
        pipeline.setSourceRefreshEndedHook(nullptr);
    }

    std::vector<uint64_t> idleHooks;

private:
    std::list<Gate> gates_;
};

}  // namespace

TEST_F(Pipeline, DuplicateTaskIDIsIgnoredWhileLiveAndAcceptedAfterItEnded) {
    Recorder rec(kTaskNotifications);
    auto& g1 = gate();
    std::atomic<int> secondRuns{0};
    auto first = ZMFunctionTask::make("dup.task", ZMPipelineMisc, "first", [&](ZMFunctionTask&) {
        g1.wait();
        return std::optional<ZMError>{};
    });
    auto second = ZMFunctionTask::make("dup.task", ZMPipelineMisc, "second", [&](ZMFunctionTask&) {
        ++secondRuns;
        return std::optional<ZMError>{};
    });
    EXPECT_TRUE(pipeline.queueTask(first));
    EXPECT_FALSE(pipeline.queueTask(second));
    EXPECT_FALSE(pipeline.queueTask(nullptr));
    EXPECT_TRUE(pipeline.isTaskLive("dup.task"));
    auto live = pipeline.runningTasks();
    ASSERT_EQ(live.size(), 1u);
    EXPECT_EQ(live[0], first);

    g1.open();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return rec.finishedCount("dup.task") == 1; }));
    EXPECT_FALSE(pipeline.isTaskLive("dup.task"));
    EXPECT_EQ(secondRuns, 0);
    EXPECT_EQ(rec.forTask("dup.task").size(), 2u);  // queued + finished of the first only

    // Once the first has ended the identifier is free again.
    auto& g2 = gate();
    auto third = ZMFunctionTask::make("dup.task", ZMPipelineMisc, "third", [&](ZMFunctionTask&) {
        g2.wait();
        return std::optional<ZMError>{};
    });
    EXPECT_TRUE(pipeline.queueTask(third));
    // A stray second report of the first task must not end the new one.
    pipeline.taskDoneWithSuccess(first);
    TestSupport::pumpMainLoop(100ms);
    EXPECT_TRUE(pipeline.isTaskLive("dup.task"));
    EXPECT_EQ(rec.finishedCount("dup.task"), 1u);
    g2.open();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return rec.finishedCount("dup.task") == 2; }));
}

// Fifteen at once, counting the tasks that return from taskStart and report
// later; blocked tasks leave the shared pools free.
TEST_F(Pipeline, RunsAtMostFifteenTasksOnThreadsOfItsOwn) {
    auto& g = gate();
    std::atomic<int> started{0};
    std::vector<ZMTaskPtr> tasks;
    for (int i = 0; i < 20; ++i) {
        const std::string id = "limit." + std::to_string(i);
        if (i % 2) {
            tasks.push_back(ZMFunctionTask::make(id, ZMPipelineDownloadOps, "blocking", [&](ZMFunctionTask&) {
                ++started;
                g.wait();
                return std::optional<ZMError>{};
            }));
            continue;
        }
        tasks.push_back(manual(id, ZMPipelineDownloadOps, [&](ManualTask& t) {
            ++started;
            // The gate outlives the thread: tear-down opens it and waits for every task to have reported.
            std::thread([&g, self = t.self(), this] {
                g.wait();
                pipeline.taskDoneWithSuccess(self);
            }).detach();
        }));
    }
    EXPECT_EQ(pipeline.queueTasks(tasks), 20u);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return started == 15; }));
    TestSupport::pumpMainLoop(200ms);
    EXPECT_EQ(started, 15);
    EXPECT_EQ(pipeline.activeTaskCount(), 15u);
    EXPECT_EQ(pipeline.liveTaskCount(), 20u);
    std::atomic<bool> defaultRan{false}, backgroundRan{false};
    Dispatch::defaultQueue([&] { defaultRan = true; });
    Dispatch::backgroundQueue([&] { backgroundRan = true; });
    EXPECT_TRUE(TestSupport::waitUntil([&] { return defaultRan && backgroundRan; }, 5s));
    g.open();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return pipeline.liveTaskCount() == 0; }));
    EXPECT_EQ(started, 20);
}

TEST_F(Pipeline, QueuedGoesOutOnTheQueuingThreadTheRestOnTheMainThread) {
    Recorder rec(kTaskNotifications);
    auto task = ZMFunctionTask::make("threads.task", ZMPipelineSearch, "Waiting", [](ZMFunctionTask& t) {
        t.setStatus("Working");
        t.setProgress(0.5);
        return std::optional<ZMError>{};
    });
    std::thread::id queuingThread;
    std::thread queuer([&] {
        queuingThread = std::this_thread::get_id();
        EXPECT_TRUE(pipeline.queueTask(task));
    });
    queuer.join();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return rec.finishedCount("threads.task") == 1; }));

    auto seen = rec.forTask("threads.task");
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].name, ZMPipelineTaskQueuedNotification);
    EXPECT_EQ(seen[0].thread, queuingThread);
    EXPECT_FALSE(seen[0].onMain);
    EXPECT_EQ(seen[0].info["status"], "Waiting");
    EXPECT_EQ(seen[1].name, ZMPipelineTaskStatusNotification);
    EXPECT_EQ(seen[1].info["status"], "Working");
    EXPECT_EQ(seen[2].name, ZMPipelineTaskProgressNotification);
    EXPECT_DOUBLE_EQ(seen[2].info["progress"].get<double>(), 0.5);
    EXPECT_EQ(seen[3].name, ZMPipelineTaskFinishedNotification);
    EXPECT_EQ(seen[3].info["success"], true);
    EXPECT_FALSE(seen[3].info.contains("error"));
    for (size_t i = 1; i < seen.size(); ++i) EXPECT_TRUE(seen[i].onMain) << seen[i].name;
    for (const auto& e : seen) EXPECT_EQ(e.info["pipelineID"], "search") << e.name;
}

TEST_F(Pipeline, FailuresAreReportedAsFailuresWithTheirError) {
    Recorder rec(kTaskNotifications);
    pipeline.queueTask(ZMFunctionTask::make("fail.error", ZMPipelinePackageOps, "run", [](ZMFunctionTask&) {
        return std::optional<ZMError>(ZMError::make(ZMError::CommandFailed, "dpkg exited with status 1"));
    }));
    // Failure without an error object, then a second (ignored) report.
    pipeline.queueTask(manual("fail.bare", ZMPipelineMisc, [&](ManualTask& t) {
        pipeline.taskDone(t.self(), false);
        pipeline.taskDoneWithSuccess(t.self());
    }));
    pipeline.queueTask(manual("fail.throw", ZMPipelineMisc, [](ManualTask&) { throw std::runtime_error("disk full"); }));

    ASSERT_TRUE(TestSupport::waitUntil([&] {
        return rec.finishedCount("fail.error") && rec.finishedCount("fail.bare") && rec.finishedCount("fail.throw");
    }));
    TestSupport::pumpMainLoop(100ms);

    auto finished = [&](const std::string& id) {
        for (const auto& e : rec.forTask(id)) {
            if (e.name == ZMPipelineTaskFinishedNotification) return e.info;
        }
        return nlohmann::json();
    };
    auto error = finished("fail.error");
    EXPECT_EQ(error["success"], false);
    EXPECT_EQ(error["cancelled"], false);
    EXPECT_EQ(error["error"]["domain"], "com.zemtrix.vostrelle");
    EXPECT_EQ(error["error"]["code"], 34);
    EXPECT_EQ(error["error"]["detail"], "dpkg exited with status 1");
    EXPECT_FALSE(error["error"]["message"].get<std::string>().empty());

    EXPECT_EQ(rec.finishedCount("fail.bare"), 1u);
    auto bare = finished("fail.bare");
    EXPECT_EQ(bare["success"], false);
    EXPECT_EQ(bare["error"]["code"], ZMError::Unknown);

    auto thrown = finished("fail.throw");
    EXPECT_EQ(thrown["success"], false);
    EXPECT_EQ(thrown["error"]["detail"], "disk full");
}

TEST_F(Pipeline, RefreshEndsOnceAndIdleHooksWaitForAnEmptyPipeline) {
    int doneCount = 0;
    auto doneToken = NotificationCenter::defaultCenter().addObserver(
        ZMPipelineSourceRefreshComplete, NotificationCenter::Queue::Main, [&](const Notification&) { ++doneCount; });
    // The sources' in-progress flag is cleared before anyone hears "done".
    bool refreshInProgress = true, flagClearedBeforeDone = false;
    pipeline.setSourceRefreshEndedHook([&](bool) { refreshInProgress = false; });
    auto flagToken = NotificationCenter::defaultCenter().addObserver(
        ZMPipelineSourceRefreshComplete, NotificationCenter::Queue::Main,
        [&](const Notification&) { flagClearedBeforeDone = !refreshInProgress; });
    std::vector<ZMPipelineIdleInfo> idles;
    int doneCountAtFirstIdle = -1;
    // Rebuilds "caches" after a refresh, the way the caches will.
    idleHooks.push_back(pipeline.addIdleHook([&](const ZMPipelineIdleInfo& info) {
        if (idles.empty()) doneCountAtFirstIdle = doneCount;
        idles.push_back(info);
        if (info.sourcesRefreshed()) {
            pipeline.queueTask(ZMFunctionTask::make("idle.caches", ZMPipelineCacheOps, "Rebuilding caches",
                                                    [](ZMFunctionTask&) { return std::optional<ZMError>{}; }));
        }
    }));

    std::vector<Gate*> sources;
    std::vector<ZMTaskPtr> tasks;
    for (int i = 0; i < 3; ++i) {
        auto* g = &gate();
        sources.push_back(g);
        tasks.push_back(ZMFunctionTask::make("idle.source." + std::to_string(i), ZMPipelineSourceOps, "refresh",
                                             [g](ZMFunctionTask&) {
                                                 g->wait();
                                                 return std::optional<ZMError>{};
                                             }));
    }
    auto& other = gate();
    tasks.push_back(ZMFunctionTask::make("idle.other", ZMPipelineMisc, "other", [&](ZMFunctionTask&) {
        other.wait();
        return std::optional<ZMError>{};
    }));
    EXPECT_EQ(pipeline.queueTasks(tasks), 4u);

    sources[0]->open();
    sources[1]->open();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return pipeline.sourceRefreshCount() == 1; }));
    TestSupport::pumpMainLoop(150ms);
    EXPECT_EQ(doneCount, 0);

    EXPECT_TRUE(refreshInProgress);
    sources[2]->open();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return doneCount == 1; }));
    EXPECT_TRUE(flagClearedBeforeDone);
    TestSupport::pumpMainLoop(150ms);
    EXPECT_TRUE(idles.empty());  // "idle.other" still runs

    other.open();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return idles.size() == 2; }));
    TestSupport::pumpMainLoop(200ms);
    ASSERT_EQ(idles.size(), 2u);  // the cache task's own end does not loop
    EXPECT_EQ(doneCountAtFirstIdle, 1);
    EXPECT_EQ(idles[0].finishedPipelines, (std::set<std::string>{"source.ops", "misc"}));
    EXPECT_EQ(idles[1].finishedPipelines, (std::set<std::string>{"cache.ops"}));
    EXPECT_EQ(doneCount, 1);
}

// A refresh that found its source unchanged says so; the end of the
// refreshes tells whether any of them may have changed something.
TEST_F(Pipeline, TheEndOfRefreshesTellsWhetherTheyChangedAnything) {
    class Unchanging : public ZMTask {
    public:
        Unchanging(std::string id, std::string pipeline, bool changedNothing)
            : id_(std::move(id)), pipeline_(std::move(pipeline)), changedNothing_(changedNothing) {}
        void taskStart() override { ZMPipelineManager::sharedManager().taskDoneWithSuccess(shared_from_this()); }
        std::string taskID() const override { return id_; }
        std::string pipelineID() const override { return pipeline_; }
        std::string taskDescription() const override { return id_; }
        double taskProgress() const override { return 1; }
        bool taskChangedNothing() const override { return changedNothing_; }

    private:
        std::string id_, pipeline_;
        bool changedNothing_;
    };
    struct Case {
        std::vector<bool> changedNothing;  // of the refreshes
        bool changed;
    };
    for (const auto& c : std::vector<Case>{{{true, true, true}, false}, {{true, false, true}, true}, {{false}, true}}) {
        std::optional<bool> ended;
        pipeline.setSourceRefreshEndedHook([&](bool changed) { ended = changed; });
        std::vector<ZMTaskPtr> tasks;
        for (size_t i = 0; i < c.changedNothing.size(); ++i)
            tasks.push_back(std::make_shared<Unchanging>("unchanging." + std::to_string(i), ZMPipelineSourceOps,
                                                         c.changedNothing[i]));
        // Tasks of other pipelines have no say.
        tasks.push_back(std::make_shared<Unchanging>("other", ZMPipelineMisc, false));
        pipeline.queueTasks(tasks);
        ASSERT_TRUE(TestSupport::waitUntil([&] { return ended.has_value() && pipeline.liveTaskCount() == 0; }));
        EXPECT_EQ(*ended, c.changed) << c.changedNothing.size();
    }
}

// Refreshes that end at the same moment on different workers: whichever
// takes the count to zero, the end of the refreshes (hook, "done") and the
// idle hooks reach the main thread after every refresh's own block and
// finished notification, so an observer that waits for "done" after the last
// finished one sees it.
TEST_F(Pipeline, TheEndOfRefreshesFollowsEveryRefreshThatEndedAtTheSameMoment) {
    std::vector<std::string> events;  // on the main thread
    auto& center = NotificationCenter::defaultCenter();
    auto finishedToken = center.addObserver(ZMPipelineTaskFinishedNotification, NotificationCenter::Queue::Main,
                                            [&](const Notification&) { events.push_back("finished"); });
    auto doneToken = center.addObserver(ZMPipelineSourceRefreshComplete, NotificationCenter::Queue::Main,
                                        [&](const Notification&) { events.push_back("done"); });
    pipeline.setSourceRefreshEndedHook([&](bool) { events.push_back("ended"); });
    idleHooks.push_back(pipeline.addIdleHook([&](const ZMPipelineIdleInfo&) { events.push_back("idle"); }));
    constexpr int kTasks = ZMPipelineManager::kMaxConcurrentTasks;
    const auto last = [&](const std::string& name) {
        return std::find(events.rbegin(), events.rend(), name).base() - events.begin() - 1;
    };
    const auto first = [&](const std::string& name) { return std::find(events.begin(), events.end(), name) - events.begin(); };
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        events.clear();
        std::atomic<int> waiting{0};
        auto& go = gate();
        std::vector<ZMTaskPtr> tasks;
        for (int i = 0; i < kTasks; ++i) {
            tasks.push_back(manual("together." + std::to_string(i), ZMPipelineSourceOps, [&, i](ManualTask& t) {
                ++waiting;
                go.wait();
                // Half of them fail, as refreshes do, and a failure is logged on its way out.
                std::optional<ZMError> error;
                if (i % 2) error = ZMError::make(ZMError::Unknown, "failed together");
                pipeline.taskDone(t.self(), !error, error, [&events] { events.push_back("updated"); });
            }));
        }
        ASSERT_EQ(pipeline.queueTasks(tasks), static_cast<size_t>(kTasks));
        ASSERT_TRUE(TestSupport::waitUntil([&] { return waiting == kTasks; }));
        go.open();
        ASSERT_TRUE(TestSupport::waitUntil([&] { return events.size() == 2 * kTasks + 3; }));
        TestSupport::pumpMainLoop(5ms);  // nothing comes late
        ASSERT_EQ(events.size(), 2u * kTasks + 3);
        ASSERT_EQ(std::count(events.begin(), events.end(), "done"), 1);
        ASSERT_EQ(std::count(events.begin(), events.end(), "idle"), 1);
        EXPECT_GT(first("ended"), last("updated"));
        EXPECT_GT(first("done"), last("finished"));
        EXPECT_GT(first("idle"), first("done"));
    }
}

TEST_F(Pipeline, PostInstallActionsAreHandedOverOnceAtTheEndOfARun) {
    std::vector<std::set<ZMPostInstallAction>> handed;
    std::vector<std::string> order;
    pipeline.setPostInstallHandler([&](const std::set<ZMPostInstallAction>& actions) {
        handed.push_back(actions);
        order.push_back("actions");
    });
    auto finishedToken = NotificationCenter::defaultCenter().addObserver(
        ZMPipelineTaskFinishedNotification, NotificationCenter::Queue::Main,
        [&](const Notification& n) { order.push_back(n.userInfo["taskID"]); });

    auto packageTask = [&](std::string id, Gate& g, ZMPostInstallAction action) {
        return ZMFunctionTask::make(id, ZMPipelinePackageOps, "install", [&g, action, this](ZMFunctionTask&) {
            pipeline.addPostInstallAction(action);
            g.wait();
            return std::optional<ZMError>{};
        });
    };
    auto &g1 = gate(), &g2 = gate(), &g3 = gate();
    pipeline.queueTasks({packageTask("post.1", g1, ZMPostInstallAction::Respring),
                         packageTask("post.2", g2, ZMPostInstallAction::RefreshIcons),
                         packageTask("post.3", g3, ZMPostInstallAction::Respring)});
    // A download ending meanwhile is not the end of the run.
    pipeline.queueTask(ZMFunctionTask::make("post.download", ZMPipelineDownloadOps, "download",
                                            [](ZMFunctionTask&) { return std::optional<ZMError>{}; }));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return pipeline.pendingPostInstallActions().size() == 2; }));
    g1.open();
    g2.open();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return pipeline.liveTaskCount() == 1; }));
    TestSupport::pumpMainLoop(150ms);
    EXPECT_TRUE(handed.empty());

    g3.open();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return handed.size() == 1; }));
    TestSupport::pumpMainLoop(150ms);
    ASSERT_EQ(handed.size(), 1u);
    EXPECT_EQ(handed[0], (std::set<ZMPostInstallAction>{ZMPostInstallAction::Respring, ZMPostInstallAction::RefreshIcons}));
    EXPECT_TRUE(pipeline.pendingPostInstallActions().empty());
    ASSERT_GE(order.size(), 2u);
    EXPECT_EQ(order.back(), "actions");
    EXPECT_EQ(order[order.size() - 2], "post.3");

    // The next run starts empty; a .deb installation counts as a run too.
    pipeline.queueTask(ZMFunctionTask::make("post.deb", ZMPipelineZMPInstallOps, "deb", [this](ZMFunctionTask&) {
        pipeline.addPostInstallAction(ZMPostInstallAction::Reboot);
        return std::optional<ZMError>{};
    }));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return handed.size() == 2; }));
    EXPECT_EQ(handed[1], (std::set<ZMPostInstallAction>{ZMPostInstallAction::Reboot}));
}

TEST_F(Pipeline, CancelRemovesAQueuedTaskAndAsksARunningOneToStop) {
    Recorder rec(kTaskNotifications);
    auto& g = gate();
    std::vector<ZMTaskPtr> blockers;
    for (int i = 0; i < ZMPipelineManager::kMaxConcurrentTasks - 1; ++i) {
        blockers.push_back(ZMFunctionTask::make("cancel.block." + std::to_string(i), ZMPipelineMisc, "block",
                                                [&](ZMFunctionTask&) {
                                                    g.wait();
                                                    return std::optional<ZMError>{};
                                                }));
    }
    pipeline.queueTasks(blockers);
    // The fifteenth slot: runs until cancelled.
    auto running = ZMFunctionTask::make("cancel.running", ZMPipelineMisc, "loop", [](ZMFunctionTask& t) {
        for (int i = 0; i < 3000 && !t.isCancelled(); ++i) std::this_thread::sleep_for(10ms);
        return std::optional<ZMError>{};
    });
    running->setCancellable(true);
    pipeline.queueTask(running);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return pipeline.activeTaskCount() == 15; }));

    std::atomic<bool> waitingRan{false};
    auto waiting = ZMFunctionTask::make("cancel.waiting", ZMPipelineMisc, "never", [&](ZMFunctionTask&) {
        waitingRan = true;
        return std::optional<ZMError>{};
    });
    waiting->setCancellable(true);
    pipeline.queueTask(waiting);

    EXPECT_FALSE(pipeline.cancelTask("cancel.block.0"));  // cannot cancel
    EXPECT_FALSE(pipeline.cancelTask("cancel.nothing"));
    EXPECT_TRUE(pipeline.cancelTask("cancel.waiting"));
    EXPECT_TRUE(pipeline.cancelTask("cancel.running"));
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] { return rec.finishedCount("cancel.waiting") == 1 && rec.finishedCount("cancel.running") == 1; }));
    for (const std::string id : {"cancel.waiting", "cancel.running"}) {
        auto seen = rec.forTask(id);
        EXPECT_EQ(seen.back().info["success"], false) << id;
        EXPECT_EQ(seen.back().info["cancelled"], true) << id;
        EXPECT_FALSE(seen.back().info.contains("error")) << id;
    }
    EXPECT_TRUE(pipeline.isTaskLive("cancel.block.0"));
    g.open();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return pipeline.liveTaskCount() == 0; }));
    EXPECT_FALSE(waitingRan);
}

TEST_F(Pipeline, VerboseLinesGoOutOnTheMainThread) {
    Recorder rec({ZMUpdateVerboseViewNotification});
    std::thread([] {
        ZMPipelineManager::postVerbose("Unpacking com.example.tweak");
        ZMPipelineManager::postVerbose("dpkg: error processing archive", true);
    }).join();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return rec.named("UpdateVerboseView").size() == 2; }));
    auto lines = rec.named("UpdateVerboseView");
    EXPECT_EQ(lines[0].info, nlohmann::json({{"Message", "Unpacking com.example.tweak"}, {"Error", false}}));
    EXPECT_EQ(lines[1].info, nlohmann::json({{"Message", "dpkg: error processing archive"}, {"Error", true}}));
    EXPECT_TRUE(lines[0].onMain && lines[1].onMain);
}
