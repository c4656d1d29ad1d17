#pragma once
// The work one depiction may cost: one text rendered, or one page read.
//
// Repositories write these texts, and the libraries that parse them have
// inputs that take quadratic time or copy an element for every paragraph.
// The known shapes are kept from them where they are met (capped attributes,
// nesting, openers); this is the bound for every other shape. What the
// parsers allocate (gumbo's arena, cmark's nodes) is charged here, up to a
// limit that grows with the input, and the reading must end within kTime.
// Past either it stops: the parse in progress is abandoned, its memory freed,
// and the caller shows the text as plain text. The reason is kept for the log.
//
// A budget belongs to one reading on one thread. The parsers' allocators
// find it through Scope (cmark's allocator has no context of its own).
// A reading whose page went stops at its next check (stopWhen), with no
// fallback to make: nobody will see it.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace Dispatch {
class SerialQueue;
}

class ZMDepictionBudget {
public:
    // Ends a reading from our own code; the parsers' allocators end theirs by
    // returning to the parse's start (see ZMHTMLDocument, ZMMarkdownHTML).
    struct Exceeded : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    static constexpr std::chrono::milliseconds kTime{700};
    // Memory: kBaseMemory plus kMemoryPerInputByte for each byte read, at most kMaximumMemory.
    static constexpr size_t kBaseMemory = 32u << 20;
    static constexpr size_t kMemoryPerInputByte = 32;
    static constexpr size_t kMaximumMemory = 192u << 20;
    // The work of our own scans, in bytes examined: kBaseWork plus
    // kWorkPerInputByte for each byte read. Unlike the time, this does not
    // depend on the machine: it holds our own passes to linear work.
    static constexpr size_t kBaseWork = 1u << 20;
    static constexpr size_t kWorkPerInputByte = 16;

    explicit ZMDepictionBudget(size_t inputSize);
    ZMDepictionBudget(size_t memoryLimit, std::chrono::steady_clock::duration time, size_t workLimit = SIZE_MAX);

    // Charges an allocation; false once the memory or the time is spent
    // (the reason is kept; the memory is counted all the same).
    bool charge(size_t bytes);
    void release(size_t bytes);
    // Throws Exceeded once the budget is spent; checks the time every
    // few calls, so a loop may call it for each step.
    void check();
    // The same, checking the time now: between steps of their own.
    void checkNow();
    // Counts `bytes` examined by a scan of ours; throws Exceeded past the work limit.
    void work(size_t bytes);
    bool spent() const { return !reason_.empty(); }
    const std::string& reason() const { return reason_; }
    // Spends the budget once `gone` answers true (asked with the clock, from
    // any thread's reading: it must be cheap and thread-safe).
    void stopWhen(std::function<bool()> gone) { gone_ = std::move(gone); }
    // The reading was stopped by stopWhen's answer, not by its cost.
    bool stopped() const { return stopped_; }

    // Where depictions are read and their texts built: one at a time, so
    // the process spends one budget at once however many pages open, and
    // the shared pools' other work never waits behind a depiction. A thread
    // of its own, whose memory goes back to the system each time it falls
    // idle: a build may take a hundred megabytes, and an arena of the pool
    // would keep them (one such arena per worker the queue happened to use).
    static const std::shared_ptr<Dispatch::SerialQueue>& queue();

    // The program is quitting: every reading spends its budget at its next
    // check, as when its page goes, and none starts again.
    static void stopAll();
    // The longest queue().finish() should wait for once stopAll() was
    // called: a build's time, then a step that cannot stop half-way (Qt's
    // HTML import of the most HTML a text may make), on a loaded machine.
    static constexpr std::chrono::milliseconds kLongestStop{kTime + std::chrono::milliseconds(2300)};

    // Makes `budget` the current one of this thread while it lives.
    class Scope {
    public:
        explicit Scope(ZMDepictionBudget& budget);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        ZMDepictionBudget* previous_;
    };
    static ZMDepictionBudget* current();

private:
    bool timeIsUp(bool now = false);
    void spend(std::string reason);

    size_t limit_;
    std::chrono::steady_clock::duration time_;
    std::chrono::steady_clock::time_point deadline_;
    size_t workLimit_, worked_ = 0;
    size_t used_ = 0;
    unsigned calls_ = 0;
    std::string reason_;
    std::function<bool()> gone_;
    bool stopped_ = false;
};
