#pragma once
// The text of a Packages index turned into records on threads of their own,
// ahead of the writer that stores them: the index is cut at stanza
// boundaries into pieces, the pieces are parsed on a few worker threads, and
// the writer receives their results in the index's order. Memory stays flat
// whatever the index's size: each stage holds only a few pieces.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Categories/Data+Decompression.h"
#include "Database/ZMRPackage.h"
#include "Miscellaneous/ZMControlParser.h"
#include "Miscellaneous/ZMError.h"
#include "Realm/Realm.h"

// Thrown by a text source (or the reader) to end the parsing with a reason.
struct ZMIndexFailure {
    ZMError error;
};

// One stanza accepted, made ready on a parsing thread.
struct ZMParsedStanza {
    ZMRPackage record;   // as a new record: dated by this refresh, not installed
    RealmStoredRow row;  // the record's stored form, for the insert of a new package
    bool hasEssential = false;
};

// One piece's results, in the index's order.
struct ZMParsedBatch {
    std::vector<ZMParsedStanza> stanzas;
    // The accepted stanzas as served, each followed by one empty line: the
    // piece of the index that apt is given.
    std::string accepted;
};

// What the parsing threads saw, for the writer's summary.
struct ZMParseTally {
    size_t valid = 0, foreign = 0, skipped = 0;
    bool sawText = false;
};

// Work handed from one stage of the refresh to the next (decompressed text to
// the parser, parsed records to the writer), a few items at a time so memory
// stays flat whatever the index's size.
template <typename T> class ZMHandOver {
public:
    explicit ZMHandOver(size_t depth = 8) : depth_(depth) {}
    // Producer side: false once the consumer gave up.
    bool push(T item) {
        std::unique_lock lock(mutex_);
        roomy_.wait(lock, [&] { return items_.size() < depth_ || cancelled_; });
        if (cancelled_) return false;
        items_.push_back(std::move(item));
        ready_.notify_one();
        return true;
    }
    void finish(std::optional<ZMError> error) {
        std::lock_guard lock(mutex_);
        done_ = true;
        error_ = std::move(error);
        ready_.notify_all();
    }
    // Consumer side: false at the end (or after a failure of the producer).
    bool pop(T& item) {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [&] { return !items_.empty() || done_; });
        if (items_.empty() || error_) return false;
        item = std::move(items_.front());
        items_.pop_front();
        roomy_.notify_one();
        return true;
    }
    // Consumer side, without waiting: false when nothing is there yet.
    bool tryPop(T& item) {
        std::lock_guard lock(mutex_);
        if (items_.empty()) return false;
        item = std::move(items_.front());
        items_.pop_front();
        roomy_.notify_one();
        return true;
    }
    void cancel() {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        roomy_.notify_all();
    }
    std::optional<ZMError> error() const {
        std::lock_guard lock(mutex_);
        return error_;
    }

private:
    const size_t depth_;
    mutable std::mutex mutex_;
    std::condition_variable ready_, roomy_;
    std::deque<T> items_;
    bool done_ = false, cancelled_ = false;
    std::optional<ZMError> error_;
};

// The index text cut at stanza boundaries and parsed on several threads; the
// writer receives the pieces' records in the index's order. One thread reads
// the text (calling `next`) and deals the pieces out in turn; piece i goes to
// worker i % n, so taking the results from the workers in turn keeps the order.
class ZMIndexParsing {
public:
    // Decompresses the file at `source` into `pipe` in chunks of about 1 MiB;
    // the error of a corrupt or too large (beyond `limit`) archive. Stops
    // early, without an error, when the consumer cancels the pipe.
    static std::optional<ZMError> decompress(const std::string& source, DataDecompression::Format format,
                                             uint64_t limit, ZMHandOver<std::string>& pipe);
    static constexpr size_t kChunk = 1 << 20;

    // Turns one stanza into records of the batch (or counts it as skipped).
    using Convert = std::function<void(const ZMControlStanza&, ZMParsedBatch&, ZMParseTally&)>;

    ZMIndexParsing(size_t workers, const std::function<bool(std::string&)>& next, Convert convert,
                   std::function<void(double bytesRead)> progress);
    ~ZMIndexParsing();

    // The next piece's records, in order; false at the end or on a failure (see error()).
    bool pop(ZMParsedBatch& batch);
    // A batch the writer is done with goes back to the thread that made it,
    // which frees it: its many small strings never cross to another allocator arena.
    void giveBack(ZMParsedBatch batch);
    std::optional<ZMError> error() const { return error_; }
    // After pop() answered false: what every thread saw.
    ZMParseTally tally() const;

private:
    static constexpr size_t kPiece = 256 << 10;
    struct Worker {
        ZMHandOver<std::string> pieces{2};
        ZMHandOver<ZMParsedBatch> batches{2};
        ZMHandOver<ZMParsedBatch> used{64};
        ZMParseTally tally;
        std::atomic<bool> done{false};
        std::thread thread;
    };

    // Where the first stanza boundary at or after `from` ends: the end of a
    // line holding only blanks, as the parser reads them. npos when there is none yet.
    static size_t boundaryAfter(std::string_view text, size_t from);

    void read(const std::function<bool(std::string&)>& next, const std::function<void(double)>& progress);

    void work(Worker& w);

    Convert convert_;
    std::vector<std::unique_ptr<Worker>> workers_;
    std::thread reader_;
    bool sawText_ = false;
    size_t taken_ = 0;
    std::optional<ZMError> error_;
};
