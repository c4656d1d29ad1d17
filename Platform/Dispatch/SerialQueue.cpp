#include "SerialQueue.h"

#include <exception>

#include "Miscellaneous/ZMLog.h"

namespace Dispatch {
namespace {
thread_local const SerialQueue* tCurrent = nullptr;
// Blocks run per pool visit before the queue yields its thread to others.
constexpr int kBatch = 16;
}  // namespace

std::shared_ptr<SerialQueue> SerialQueue::create(std::string label) {
    return std::shared_ptr<SerialQueue>(new SerialQueue(std::move(label)));
}

void SerialQueue::async(Block block) {
    bool schedule = false;
    {
        std::lock_guard lock(mutex_);
        blocks_.push_back(std::move(block));
        if (!scheduled_) scheduled_ = schedule = true;
    }
    if (schedule) defaultQueue([self = shared_from_this()] { self->drain(); });
}

bool SerialQueue::isCurrent() const { return tCurrent == this; }

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
        try {
            block();
        } catch (const std::exception& e) {
            ZMLOG("Uncaught exception on queue {}: {}", label_, e.what());
        }
    }
    tCurrent = previous;
    // Still scheduled: continue on a fresh pool visit.
    defaultQueue([self = shared_from_this()] { self->drain(); });
}

}  // namespace Dispatch
