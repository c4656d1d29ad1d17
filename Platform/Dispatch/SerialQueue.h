#pragma once
// A serial queue: blocks run one at a time, in the order they were added,
// never on the main thread.
//
// create() makes one on top of the shared default-priority pool: blocks run
// on whichever worker is free. Cheap; it holds no thread of its own.
//
// createWithThread() makes one that runs its blocks on a thread of its own,
// started with the first block. What its work leaves behind stays in one
// place: the thread's allocator arena (on the pool, each worker's arena would
// keep what the largest block it ever ran used) and its thread-local state
// (a text library's caches). The idle work (setWhenIdle) runs on that
// thread each time the last waiting block has ended, to give such memory
// back; finish() ends the thread, and that state with it, when the program
// quits.
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Dispatch.h"

namespace Dispatch {

class SerialQueue : public std::enable_shared_from_this<SerialQueue> {
public:
    static std::shared_ptr<SerialQueue> create(std::string label);
    static std::shared_ptr<SerialQueue> createWithThread(std::string label);
    // A queue with a thread finishes it (see finish), waiting as long as its running block takes.
    ~SerialQueue();

    // Runs the block later; dropped (destroyed at once) once the queue is finished.
    void async(Block block);
    // True while the calling thread runs a block of this queue.
    bool isCurrent() const;
    const std::string& label() const { return label_; }

    // A queue with a thread: runs `block` on it whenever a block ended and no
    // other waits. Set it before the first block.
    void setWhenIdle(Block block);
    // A queue with a thread: runs the idle work again once the blocks
    // waiting now have ended, e.g. when what its blocks made was freed elsewhere.
    void idleAgain();
    // A queue with a thread: no block starts any more (those waiting are
    // dropped, here), and the call waits up to `bound` for the running block
    // to end and the thread to exit, its thread-local state destroyed.
    // True once the thread ended (or never started); false when the bound
    // passed first (the thread still runs its block) or when called from a
    // block of the queue itself.
    bool finish(std::chrono::milliseconds bound);

private:
    // What the own thread shares with the queue: it outlives the queue when
    // the queue goes from inside one of its own blocks.
    struct OwnThread;

    explicit SerialQueue(std::string label) : label_(std::move(label)) {}
    void drain();
    static void runThread(std::shared_ptr<OwnThread> state, const SerialQueue* queue);

    std::string label_;
    // On the pool:
    std::mutex mutex_;
    std::deque<Block> blocks_;
    bool scheduled_ = false;
    // With a thread of its own (started under own_'s mutex):
    std::shared_ptr<OwnThread> own_;
    std::thread thread_;
};

}  // namespace Dispatch
