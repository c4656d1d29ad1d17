#include "Depictions/ZMDepictionBudget.h"

#include <algorithm>
#include <atomic>

#include <fmt/format.h>

#include "Dispatch/SerialQueue.h"
#include "Miscellaneous/ZMHeap.h"

namespace {

thread_local ZMDepictionBudget* tCurrent = nullptr;
std::atomic<bool> gStopAll{false};

// Reading the clock costs some 20 ns: a parse allocates millions of times.
constexpr unsigned kCallsPerClockReading = 16;

}  // namespace

ZMDepictionBudget::ZMDepictionBudget(size_t inputSize)
    : ZMDepictionBudget(std::min(kMaximumMemory, kBaseMemory + kMemoryPerInputByte * inputSize), kTime,
                        kBaseWork + kWorkPerInputByte * inputSize) {}

ZMDepictionBudget::ZMDepictionBudget(size_t memoryLimit, std::chrono::steady_clock::duration time, size_t workLimit)
    : limit_(memoryLimit), time_(time), deadline_(std::chrono::steady_clock::now() + time), workLimit_(workLimit) {}

bool ZMDepictionBudget::charge(size_t bytes) {
    used_ += bytes;
    if (spent()) return false;
    if (used_ > limit_) spend(fmt::format("it would take more than {} MiB", limit_ >> 20));
    else timeIsUp();
    return !spent();
}

void ZMDepictionBudget::release(size_t bytes) { used_ -= std::min(used_, bytes); }

void ZMDepictionBudget::check() {
    if (!spent()) timeIsUp();
    if (spent()) throw Exceeded(reason_);
}

void ZMDepictionBudget::checkNow() {
    if (!spent()) timeIsUp(true);
    if (spent()) throw Exceeded(reason_);
}

void ZMDepictionBudget::work(size_t bytes) {
    worked_ += bytes;
    if (worked_ > workLimit_) spend(fmt::format("reading it would examine more than {} MiB", workLimit_ >> 20));
    check();
}

bool ZMDepictionBudget::timeIsUp(bool now) {
    if (++calls_ % kCallsPerClockReading != 0 && !now) return false;
    if (gStopAll.load(std::memory_order_relaxed) || (gone_ && gone_())) {
        stopped_ = true;
        spend("its page went");
        return true;
    }
    if (std::chrono::steady_clock::now() < deadline_) return false;
    spend(fmt::format("it would take more than {} ms",
                      std::chrono::duration_cast<std::chrono::milliseconds>(time_).count()));
    return true;
}

void ZMDepictionBudget::spend(std::string reason) {
    if (!spent()) reason_ = std::move(reason);
}

ZMDepictionBudget::Scope::Scope(ZMDepictionBudget& budget) : previous_(tCurrent) { tCurrent = &budget; }
ZMDepictionBudget::Scope::~Scope() { tCurrent = previous_; }

ZMDepictionBudget* ZMDepictionBudget::current() { return tCurrent; }

void ZMDepictionBudget::stopAll() { gStopAll = true; }

const std::shared_ptr<Dispatch::SerialQueue>& ZMDepictionBudget::queue() {
    // Never destroyed: blocks may still be added while the program exits.
    static const auto* queue = [] {
        auto q = Dispatch::SerialQueue::createWithThread("depictions");
        // What a build freed lies among what stays (the documents shown, the
        // caches): only a trim gives those pages back.
        q->setWhenIdle([] { ZMHeap::giveBack(); });
        return new std::shared_ptr<Dispatch::SerialQueue>(std::move(q));
    }();
    return *queue;
}
