#include "Dispatch.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <algorithm>
#include <map>
#include <optional>
#include <mutex>
#include <thread>
#include <vector>

namespace Dispatch {
namespace {

using Clock = std::chrono::steady_clock;

std::mutex gExecutorMutex;
MainExecutor gExecutor;
std::atomic<std::thread::id> gMainThread{std::this_thread::get_id()};
std::atomic<bool> gExecutorInstalled{false};

// At exit, static objects are torn down while the workers still run: from
// then on no block starts, and those already running get a moment to end.
// The count is an atomic: only the exit waits on it, and blocks run without a
// shared lock. The gate is never destroyed: a block that outlives the wait
// still ends through it, after the exit handlers ran.
struct ExitGate {
    std::atomic<int> running{0};
    std::mutex mutex;
    std::condition_variable cv;
};
ExitGate& gate() {
    static auto* gate = new ExitGate;
    return *gate;
}
std::atomic<bool> gEnding{false};
thread_local bool tWorker = false;

void endAtExit() {
    gEnding = true;
    auto& g = gate();
    std::unique_lock lock(g.mutex);
    const int self = tWorker ? 1 : 0;  // exit() called from a block
    g.cv.wait_for(lock, std::chrono::milliseconds(300), [&g, self] { return g.running.load() <= self; });
}

void registerExitGate() {
    static std::once_flag once;
    std::call_once(once, [] {
        gate();  // made before the handler is registered, so it outlives it
        std::atexit(endAtExit);
    });
}

// A fixed pool of workers; background workers lower their scheduling priority.
class WorkerPool {
public:
    WorkerPool(unsigned count, int niceness) {
        for (unsigned i = 0; i < count; ++i) {
            std::thread([this, niceness] { run(niceness); }).detach();
        }
    }
    void post(Block block) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(block));
        }
        cv_.notify_one();
    }

private:
    void run(int niceness) {
        detail::markWorkerThread();
        if (niceness != 0) {
            setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), niceness);
        }
        for (;;) {
            Block block;
            {
                std::unique_lock lock(mutex_);
                cv_.wait(lock, [this] { return !queue_.empty(); });
                block = std::move(queue_.front());
                queue_.pop_front();
            }
            if (!detail::blockStarts()) return;  // the program is ending: the block would meet torn-down state
            block();
            block = nullptr;  // its captures go before the exit may go on
            detail::blockEnded();
        }
    }
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Block> queue_;
};

// Each worker gets an allocator arena of its own. With glibc's default
// (dynamic) thresholds, a large block freed on a worker raises them, and its
// arena keeps up to 64 MB free for ever after: a few texts read on a few
// workers would hold hundreds of MB. Fixed thresholds give large blocks and
// free tops back to the system.
void keepWorkersFromHoardingMemory() {
#ifdef __GLIBC__
    static std::once_flag once;
    std::call_once(once, [] {
        mallopt(M_MMAP_THRESHOLD, 128 * 1024);
        mallopt(M_TRIM_THRESHOLD, 1024 * 1024);
    });
#endif
}

WorkerPool& defaultPool() {
    static auto* pool = (registerExitGate(), keepWorkersFromHoardingMemory(),
                         new WorkerPool(std::max(4u, std::thread::hardware_concurrency()), 0));
    return *pool;
}
WorkerPool& backgroundPool() {
    static auto* pool = (registerExitGate(), keepWorkersFromHoardingMemory(),
                         new WorkerPool(std::max(2u, std::thread::hardware_concurrency() / 2), 10));
    return *pool;
}

// State of the built-in main loop.
struct LoopState {
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<Block> ready;
    std::multimap<Clock::time_point, Block> delayed;
};
LoopState& loop() {
    static auto* state = new LoopState;
    return *state;
}

MainExecutor loopExecutor() {
    MainExecutor executor;
    executor.post = [](Block block) {
        auto& state = loop();
        {
            std::lock_guard lock(state.mutex);
            state.ready.push_back(std::move(block));
        }
        state.cv.notify_all();
    };
    executor.postDelayed = [](Block block, std::chrono::milliseconds delay) {
        auto& state = loop();
        {
            std::lock_guard lock(state.mutex);
            state.delayed.emplace(Clock::now() + delay, std::move(block));
        }
        state.cv.notify_all();
    };
    return executor;
}

MainExecutor currentExecutor() {
    std::lock_guard lock(gExecutorMutex);
    if (!gExecutorInstalled.load()) {
        gExecutor = loopExecutor();
        gExecutorInstalled = true;
    }
    return gExecutor;
}

// Moves due delayed blocks to the ready queue; returns the next due time.
std::optional<Clock::time_point> promoteDue(LoopState& state) {
    auto now = Clock::now();
    while (!state.delayed.empty() && state.delayed.begin()->first <= now) {
        state.ready.push_back(std::move(state.delayed.begin()->second));
        state.delayed.erase(state.delayed.begin());
    }
    if (state.delayed.empty()) return std::nullopt;
    return state.delayed.begin()->first;
}

// Runs ready blocks one at a time until none is ready or the deadline passes.
// Returns after at least one wait when nothing was ready.
void pump(Clock::time_point deadline, bool wait) {
    auto& state = loop();
    for (;;) {
        Block block;
        {
            std::unique_lock lock(state.mutex);
            auto nextDue = promoteDue(state);
            if (state.ready.empty()) {
                if (!wait) return;
                auto until = deadline;
                if (nextDue && *nextDue < until) until = *nextDue;
                state.cv.wait_until(lock, until);
                promoteDue(state);
                if (state.ready.empty()) return;
            }
            block = std::move(state.ready.front());
            state.ready.pop_front();
        }
        block();
        wait = false;
        if (Clock::now() >= deadline) return;
    }
}

} // namespace

namespace detail {

void prepareExitGate() { registerExitGate(); }

void markWorkerThread() {
    registerExitGate();
    tWorker = true;
}

bool blockStarts() {
    auto& g = gate();
    g.running.fetch_add(1);
    if (!gEnding) return true;
    blockEnded();
    return false;
}

void blockEnded() {
    auto& g = gate();
    g.running.fetch_sub(1);
    if (!gEnding) return;
    std::lock_guard lock(g.mutex);  // the exit may be waiting
    g.cv.notify_all();
}

}  // namespace detail

void main(Block block) { currentExecutor().post(std::move(block)); }

void mainAfter(double seconds, Block block) {
    auto ms = std::chrono::milliseconds(static_cast<long long>(std::max(0.0, seconds) * 1000.0));
    currentExecutor().postDelayed(std::move(block), ms);
}

void defaultQueue(Block block) { defaultPool().post(std::move(block)); }
void backgroundQueue(Block block) { backgroundPool().post(std::move(block)); }

void mainSync(const Block& block) {
    if (isMainThread()) {
        block();
        return;
    }
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    main([&] {
        block();
        std::lock_guard lock(m);
        done = true;
        cv.notify_all();
    });
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return done; });
}

bool isMainThread() { return std::this_thread::get_id() == gMainThread.load(); }

bool isEnding() { return gEnding.load(); }

void setMainExecutor(MainExecutor executor) {
    std::lock_guard lock(gExecutorMutex);
    gExecutor = std::move(executor);
    gExecutorInstalled = true;
    gMainThread = std::this_thread::get_id();
}

MainLoop& MainLoop::instance() {
    static MainLoop instance;
    return instance;
}

void MainLoop::install() { setMainExecutor(loopExecutor()); }

bool MainLoop::runUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    for (;;) {
        if (pred()) return true;
        if (Clock::now() >= deadline) return pred();
        pump(std::min(deadline, Clock::now() + std::chrono::milliseconds(20)), true);
    }
}

void MainLoop::runFor(std::chrono::milliseconds duration) {
    auto deadline = Clock::now() + duration;
    while (Clock::now() < deadline) pump(deadline, true);
}

void MainLoop::drain() { pump(Clock::now() + std::chrono::hours(1), false); }

} // namespace Dispatch
