#include "SerialQueue.h"

#include <condition_variable>
#include <exception>

#include "Miscellaneous/ZMLog.h"

namespace Dispatch {
namespace {
thread_local const SerialQueue* tCurrent = nullptr;
// Blocks run per pool visit before the queue yields its thread to others.
constexpr int kBatch = 16;

void runLogged(const Block& block, const std::string& label) {
    try {
        block();
    } catch (const std::exception& e) {
        ZMLOG("Uncaught exception on queue {}: {}", label, e.what());
    }
}
}  // namespace

struct SerialQueue::OwnThread {
    explicit OwnThread(std::string label) : label(std::move(label)) {}
    const std::string label;
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<Block> blocks;
    Block whenIdle;
    bool finishing = false;
    bool ended = false;  // the thread's function returned
};

std::shared_ptr<SerialQueue> SerialQueue::create(std::string label) {
    return std::shared_ptr<SerialQueue>(new SerialQueue(std::move(label)));
}

std::shared_ptr<SerialQueue> SerialQueue::createWithThread(std::string label) {
    detail::prepareExitGate();
    std::shared_ptr<SerialQueue> queue(new SerialQueue(label));
    queue->own_ = std::make_shared<OwnThread>(std::move(label));
    return queue;
}

SerialQueue::~SerialQueue() {
    if (!own_) return;
    std::deque<Block> dropped;
    {
        std::lock_guard lock(own_->mutex);
        own_->finishing = true;
        dropped.swap(own_->blocks);
    }
    own_->cv.notify_all();
    dropped.clear();
    if (!thread_.joinable()) return;
    // The last owner let go inside one of the queue's blocks: the thread ends
    // after it, on the state it shares.
    if (thread_.get_id() == std::this_thread::get_id()) thread_.detach();
    else thread_.join();
}

void SerialQueue::async(Block block) {
    if (own_) {
        std::unique_lock lock(own_->mutex);
        if (own_->finishing) return;  // the block goes with this call
        own_->blocks.push_back(std::move(block));
        if (!thread_.joinable()) thread_ = std::thread(&SerialQueue::runThread, own_, this);
        lock.unlock();
        own_->cv.notify_one();
        return;
    }
    bool schedule = false;
    {
        std::lock_guard lock(mutex_);
        blocks_.push_back(std::move(block));
        if (!scheduled_) scheduled_ = schedule = true;
    }
    if (schedule) defaultQueue([self = shared_from_this()] { self->drain(); });
}

bool SerialQueue::isCurrent() const { return tCurrent == this; }

void SerialQueue::setWhenIdle(Block block) {
    if (!own_) return;
    std::lock_guard lock(own_->mutex);
    own_->whenIdle = std::move(block);
}

void SerialQueue::idleAgain() {
    if (own_) async([] {});  // any block ending with none waiting brings the idle work
}

bool SerialQueue::finish(std::chrono::milliseconds bound) {
    if (!own_) return true;
    std::deque<Block> dropped;
    std::unique_lock lock(own_->mutex);
    own_->finishing = true;
    dropped.swap(own_->blocks);
    const bool started = thread_.joinable();
    lock.unlock();
    own_->cv.notify_all();
    dropped.clear();  // their captures go on this thread, before the caller tears anything down
    if (!started) return true;
    if (thread_.get_id() == std::this_thread::get_id()) return false;
    lock.lock();
    if (!own_->cv.wait_for(lock, bound, [this] { return own_->ended; })) return false;
    lock.unlock();
    thread_.join();  // the thread-local state is destroyed before this returns
    return true;
}

// `state` is the thread's own reference: the queue may go while its thread still runs a block.
void SerialQueue::runThread(std::shared_ptr<OwnThread> state, const SerialQueue* queue) {
    OwnThread& s = *state;
    detail::markWorkerThread();
    tCurrent = queue;
    std::unique_lock lock(s.mutex);
    bool ranSinceIdle = false;
    for (;;) {
        Block block;
        if (s.blocks.empty() && ranSinceIdle && s.whenIdle && !s.finishing) {
            ranSinceIdle = false;
            block = s.whenIdle;
        } else {
            s.cv.wait(lock, [&s] { return s.finishing || !s.blocks.empty(); });
            if (s.finishing) break;
            block = std::move(s.blocks.front());
            s.blocks.pop_front();
            ranSinceIdle = true;
        }
        lock.unlock();
        if (!detail::blockStarts()) {  // the program is exiting: leave the rest unrun
            lock.lock();
            break;
        }
        runLogged(block, s.label);
        block = nullptr;  // its captures go before the next block, and before the exit may go on
        detail::blockEnded();
        lock.lock();
    }
    s.ended = true;
    lock.unlock();
    s.cv.notify_all();
    tCurrent = nullptr;
}

void SerialQueue::drain() {
    const SerialQueue* previous = tCurrent;
    tCurrent = this;
    for (int i = 0; i < kBatch; ++i) {
        if (isEnding()) return;  // the program is exiting: leave the rest unrun
        Block block;
        {
            std::lock_guard lock(mutex_);
            if (blocks_.empty()) {
                scheduled_ = false;
                tCurrent = previous;
                return;
            }
            block = std::move(blocks_.front());
            blocks_.pop_front();
        }
        runLogged(block, label_);
    }
    tCurrent = previous;
    // Still scheduled: continue on a fresh pool visit.
    defaultQueue([self = shared_from_this()] { self->drain(); });
}

}  // namespace Dispatch
