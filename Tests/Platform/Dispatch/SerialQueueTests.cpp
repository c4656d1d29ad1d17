#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Dispatch/SerialQueue.h"
#include "Support/TestSupport.h"

using namespace std::chrono_literals;

// Both kinds: on the shared pool, and on a thread of its own.
class SerialQueueKinds : public testing::TestWithParam<bool> {
protected:
    std::shared_ptr<Dispatch::SerialQueue> make(std::string label) const {
        return GetParam() ? Dispatch::SerialQueue::createWithThread(std::move(label)) : Dispatch::SerialQueue::create(std::move(label));
    }
};
INSTANTIATE_TEST_SUITE_P(SerialQueue, SerialQueueKinds, testing::Bool(),
                         [](const auto& info) { return info.param ? "OwnThread" : "OnThePool"; });

TEST_P(SerialQueueKinds, RunsBlocksOneAtATimeInOrderOffTheMainThread) {
    auto queue = make("test");
    std::vector<int> order;
    std::set<std::thread::id> threads;
    std::atomic<int> inside{0}, overlap{0}, onMain{0}, notCurrent{0};
    constexpr int kCount = 200;
    // Blocks are added from several threads at once; each thread's own blocks keep their order.
    std::vector<std::thread> producers;
    std::mutex orderMutex;
    for (int p = 0; p < 4; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < kCount / 4; ++i) {
                queue->async([&, p, i] {
                    if (++inside > 1) ++overlap;
                    if (Dispatch::isMainThread()) ++onMain;
                    if (!queue->isCurrent()) ++notCurrent;
                    {
                        std::lock_guard lock(orderMutex);
                        order.push_back(p * 1000 + i);
                        threads.insert(std::this_thread::get_id());
                    }
                    --inside;
                });
            }
        });
    }
    for (auto& t : producers) t.join();
    ASSERT_TRUE(TestSupport::waitUntil([&] {
        std::lock_guard lock(orderMutex);
        return order.size() == kCount;
    }));
    EXPECT_EQ(overlap.load(), 0);
    EXPECT_EQ(onMain.load(), 0);
    EXPECT_EQ(notCurrent.load(), 0);
    EXPECT_FALSE(queue->isCurrent());
    if (GetParam()) {
        EXPECT_EQ(threads.size(), 1u) << "the blocks of a queue with a thread ran elsewhere";
    }
    for (int p = 0; p < 4; ++p) {
        int last = -1;
        for (int v : order)
            if (v / 1000 == p) {
                EXPECT_GT(v % 1000, last);
                last = v % 1000;
            }
    }
}

TEST_P(SerialQueueKinds, SurvivesAThrowingBlock) {
    auto queue = make("throws");
    std::atomic<bool> after{false};
    queue->async([] { throw std::runtime_error("boom"); });
    queue->async([&] { after = true; });
    EXPECT_TRUE(TestSupport::waitUntil([&] { return after.load(); }));
}

namespace {
// Holds a queue's thread inside a block until released.
struct Gate {
    std::promise<void> open;
    std::shared_future<void> opened = open.get_future().share();
    std::atomic<bool> entered{false};
    Dispatch::Block block() {
        return [this, opened = opened] {
            entered = true;
            opened.wait();
        };
    }
};
// Counts its copies alive: a block's captures, destroyed or not.
struct Capture {
    explicit Capture(std::shared_ptr<std::atomic<int>> alive) : alive(std::move(alive)) { ++*this->alive; }
    Capture(const Capture& other) : alive(other.alive) { ++*alive; }
    ~Capture() { --*alive; }
    std::shared_ptr<std::atomic<int>> alive;
};
}  // namespace

// The idle work runs on the queue's thread once the blocks waiting together
// have all ended, not between them, and again after a later block.
TEST(SerialQueue, IdleWorkRunsOnItsThreadWhenTheLastWaitingBlockEnded) {
    auto queue = Dispatch::SerialQueue::createWithThread("idle");
    std::mutex mutex;
    std::vector<std::string> events;
    std::thread::id blockThread, idleThread;
    auto note = [&](std::string what) {
        std::lock_guard lock(mutex);
        events.push_back(std::move(what));
    };
    queue->setWhenIdle([&] {
        idleThread = std::this_thread::get_id();
        note("idle");
    });
    Gate gate;
    queue->async(gate.block());
    ASSERT_TRUE(TestSupport::waitUntil([&] { return gate.entered.load(); }));
    queue->async([&] { note("a"); });
    queue->async([&] {
        blockThread = std::this_thread::get_id();
        note("b");
    });
    gate.open.set_value();
    auto seen = [&](size_t count) {
        return TestSupport::waitUntil([&] {
            std::lock_guard lock(mutex);
            return events.size() >= count;
        });
    };
    ASSERT_TRUE(seen(3));
    queue->async([&] { note("c"); });
    ASSERT_TRUE(seen(5));
    std::this_thread::sleep_for(50ms);  // nothing more comes: idle runs once per fall
    std::lock_guard lock(mutex);
    EXPECT_EQ(events, (std::vector<std::string>{"a", "b", "idle", "c", "idle"}));
    EXPECT_EQ(idleThread, blockThread);
}

// finish() drops what waits (its captures gone when it returns), lets the
// running block end, and returns once the thread ended with its
// thread-local state destroyed; what comes later is dropped at once. Where
// the block outlasts the bound, or finish() is called from the queue's own
// block, it answers false without waiting.
TEST(SerialQueue, FinishStopsWhatWaitsAndWaitsForTheRunningBlock) {
    struct Case {
        const char* name;
        std::chrono::milliseconds blockTakes;
        std::chrono::milliseconds bound;
        bool ends;
    };
    const Case cases[] = {
        {"the running block ends within the bound", 100ms, 5000ms, true},
        {"the running block outlasts the bound", 2000ms, 50ms, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        static std::atomic<int> threadStateAlive{0};
        struct ThreadState {
            ThreadState() { ++threadStateAlive; }
            ~ThreadState() { --threadStateAlive; }
        };
        auto queue = Dispatch::SerialQueue::createWithThread("finish");
        std::atomic<bool> started{false}, ended{false}, waitingRan{false}, lateRan{false};
        auto alive = std::make_shared<std::atomic<int>>(0);
        queue->async([&, c] {
            thread_local ThreadState state;
            started = true;
            std::this_thread::sleep_for(c.blockTakes);
            ended = true;
        });
        queue->async([&, capture = Capture(alive)] { waitingRan = true; });
        ASSERT_TRUE(TestSupport::waitUntil([&] { return started.load(); }));
        EXPECT_EQ(*alive, 1);
        EXPECT_EQ(threadStateAlive, 1);
        EXPECT_EQ(queue->finish(c.bound), c.ends);
        EXPECT_EQ(*alive, 0) << "a waiting block's captures outlived finish()";
        EXPECT_EQ(ended.load(), c.ends);
        EXPECT_EQ(threadStateAlive, c.ends ? 0 : 1) << "the thread's own state outlived finish()";
        queue->async([&, capture = Capture(alive)] { lateRan = true; });
        EXPECT_EQ(*alive, 0) << "a block added after finish() was kept";
        queue.reset();  // waits for the block that outlasted the bound
        EXPECT_TRUE(ended.load());
        EXPECT_EQ(threadStateAlive, 0);
        EXPECT_FALSE(waitingRan.load());
        EXPECT_FALSE(lateRan.load());
    }

    auto queue = Dispatch::SerialQueue::createWithThread("finish from within");
    std::promise<bool> answer;
    queue->async([&] { answer.set_value(queue->finish(5000ms)); });
    auto future = answer.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(future.get());
    EXPECT_TRUE(queue->finish(5000ms)) << "the thread did not end after its block";
    EXPECT_TRUE(Dispatch::SerialQueue::createWithThread("never used")->finish(0ms));
}

// The last owner may let go inside one of the queue's own blocks.
TEST(SerialQueue, AQueueWithAThreadMayGoFromItsOwnBlock) {
    auto queue = Dispatch::SerialQueue::createWithThread("lets go");
    Gate gate;
    std::atomic<bool> after{false};
    queue->async(gate.block());
    auto* owner = new std::shared_ptr<Dispatch::SerialQueue>(queue);
    queue->async([owner, &after] {
        delete owner;  // the last reference: the queue goes here, on its own thread
        after = true;
    });
    queue.reset();
    gate.open.set_value();
    EXPECT_TRUE(TestSupport::waitUntil([&] { return after.load(); }));
}

// When the program exits without finish(), the exit waits a moment for the
// block its thread runs, and starts no other.
TEST(SerialQueue, ExitWaitsForTheBlockOnItsThreadAndStartsNoOther) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    constexpr const char* kDirectory = "VOSTRELLE_QUEUE_EXIT_TEST_DIR";
    std::optional<TestSupport::TempDir> dir;
    if (!std::getenv(kDirectory)) {  // the child runs this test again, in the parent's directory
        dir.emplace();
        setenv(kDirectory, dir->path().c_str(), 1);
    }
    static std::string base;
    base = std::string(std::getenv(kDirectory)) + "/";
    EXPECT_EXIT(
        {
            // Registered before the queue's thread starts, so it runs after the exit's wait.
            std::atexit([] {
                std::ofstream(base + "seen") << std::filesystem::exists(base + "done") << ' '
                                             << std::filesystem::exists(base + "next");
            });
            auto* queue = new std::shared_ptr<Dispatch::SerialQueue>(Dispatch::SerialQueue::createWithThread("at exit"));
            (*queue)->async([] {
                std::ofstream(base + "started") << 1;
                std::this_thread::sleep_for(150ms);
                std::ofstream(base + "done") << 1;
            });
            (*queue)->async([] { std::ofstream(base + "next") << 1; });
            while (!std::filesystem::exists(base + "started")) std::this_thread::sleep_for(1ms);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
    unsetenv(kDirectory);
    int done = -1, next = -1;
    std::ifstream(base + "seen") >> done >> next;
    EXPECT_EQ(done, 1) << "the exit went on while the block ran";
    EXPECT_EQ(next, 0) << "a block started while the program exited";
}
