#pragma once
// The four ways code hops threads: the main thread, a default-priority queue,
// a background-priority queue, and the main thread after a delay.
//
// The core has no GUI toolkit. Its "main thread" is whatever executor is
// installed with setMainExecutor(): the application installs Qt's event loop;
// core tests and command-line tools use MainLoop, which they drive themselves.
#include <chrono>
#include <functional>

namespace Dispatch {

using Block = std::function<void()>;

// Runs the block on the main thread, asynchronously (also when called there).
void main(Block block);
// Runs the block on the main thread after `seconds` seconds.
void mainAfter(double seconds, Block block);
// Runs the block on a shared pool of default-priority worker threads.
void defaultQueue(Block block);
// Runs the block on a shared pool of background-priority worker threads.
void backgroundQueue(Block block);

// Runs the block on the main thread and waits for it; runs it at once when
// already there.
void mainSync(const Block& block);

bool isMainThread();

// True once the program has begun to exit: the pools start no more blocks.
bool isEnding();

// For the threads of this module (the pools, a serial queue's own thread):
// the exit waits a moment for the blocks they run.
namespace detail {
// Makes the exit gate, once: before such a thread starts, on the thread that
// starts it (not on the new one, while exit() may be under way).
void prepareExitGate();
// Declares the calling thread one of them.
void markWorkerThread();
// Brackets a block: false once the program is ending, and the block must not run.
bool blockStarts();
void blockEnded();
}  // namespace detail

// The executor that owns the main thread. `post` must run the block on the
// main thread soon; `postDelayed` after the given delay.
struct MainExecutor {
    std::function<void(Block)> post;
    std::function<void(Block, std::chrono::milliseconds)> postDelayed;
};
// Installs the executor and declares the calling thread the main thread.
void setMainExecutor(MainExecutor executor);

// The built-in executor: a queue drained by whoever runs it. Installed by
// default, with the first thread that touches Dispatch as the main thread.
class MainLoop {
public:
    static MainLoop& instance();
    // Installs MainLoop as the main executor and makes the caller the main thread.
    void install();
    // Runs due blocks until `pred` holds or `timeout` passes; true when pred held.
    bool runUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);
    // Runs due blocks for the given time.
    void runFor(std::chrono::milliseconds duration);
    // Runs every block already due, without waiting.
    void drain();
};

} // namespace Dispatch
