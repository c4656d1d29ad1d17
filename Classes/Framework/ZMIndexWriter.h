#pragma once
// The one thread that writes what source refreshes bring, whatever the
// number of refreshes running at once: they download and parse in parallel,
// and hand their writes here, where they run one after the other.
//
// Jobs run in the order they came, inside write transactions on the
// writer's thread. A job that can still fail half-way (its index not yet
// read to the end) opens a transaction of its own, so that its failure rolls
// back its work alone. Jobs that cannot fail half-way join the open
// transaction for a short while, so many small sources cost few commits,
// while the refreshes waiting for their outcome (each holds one of the
// pipeline's places) are let go soon. A job is told its outcome once its
// transaction is committed.
//
// Failures: a job's prepare() that throws ZMIndexFailure refuses that job
// alone (prepare() must not write). A run() that throws rolls back the whole
// transaction: its job fails with that error, the jobs that ran before it
// in the same transaction fail with "the records could not be written".
//
// Between transactions, when the database's write-ahead log has grown past
// the database's own size, the writer copies it back and empties it before
// going on, so the log cannot grow without bound while refreshes keep coming.
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Miscellaneous/ZMError.h"
#include "Realm/Realm.h"

class ZMIndexWriter {
public:
    static ZMIndexWriter& shared();

    // What a job sees, on the writer's thread, inside the transaction.
    class Session {
    public:
        Realm& realm() { return *realm_; }
        // Whether a package record with this identifier may exist, as the
        // transaction sees them (never false when one does; seldom true when
        // none does: the caller then finds no record), leaving out the
        // records the running job added itself. The identifiers are read
        // once, then kept by the jobs, which report the records they add and
        // delete; valid across transactions as long as nobody else commits in
        // between.
        bool mayHavePackage(std::string_view identifier);
        void packageAdded(std::string_view identifier);
        void packageDeleted(std::string_view identifier);

    private:
        friend class ZMIndexWriter;
        std::shared_ptr<Realm> realm_;
        void load();
        void merge();
        // Digests of the identifiers (with their count, for the rare two of one digest).
        std::unordered_map<uint64_t, uint32_t> identifiers_;
        // Added by the running job: merged when the next job starts (a
        // refresh of one large source never pays for it).
        std::vector<uint64_t> added_;
        bool loaded_ = false;
        std::weak_ptr<Realm> loadedFor_;
        uint64_t commitsSeen_ = 0;
    };

    struct Job {
        std::shared_ptr<Realm> realm;
        // True when run() can no longer fail but for the database itself.
        std::function<bool()> cannotFailHalfway = [] { return true; };
        // Checks before anything is written; throws ZMIndexFailure to refuse.
        std::function<void(Session&)> prepare;
        std::function<void(Session&)> run;
    };

    // Queues the job; the future answers after its transaction ended:
    // nullopt when committed, else why it was not.
    std::future<std::optional<ZMError>> submit(Job job);
    std::optional<ZMError> perform(Job job) { return submit(std::move(job)).get(); }
    // Drops what the writer keeps between transactions (the identifiers),
    // once refreshes are over.
    void forgetIdentifiers();

    // Transactions end after about this long when more jobs wait and tasks
    // wait for a place in the pipeline (a refresh ends only once its records
    // are committed). Short enough that the refreshes of a full pipeline
    // end in turn rather than all at one commit, so the sources queued
    // behind them start (and their lists reach apt) while the writer is
    // still busy.
    static constexpr double kTransactionSeconds = 0.08;
    // Otherwise jobs share a transaction up to this long: every commit
    // writes the pages of the indexes it touched to the log again, so a
    // refresh of twenty sources committed at each source writes the same
    // index pages twenty times.
    static constexpr double kLongestTransaction = 1.0;

private:
    ZMIndexWriter();
    void loop();
    struct Pending {
        Job job;
        std::promise<std::optional<ZMError>> promise;
        std::optional<ZMError> outcome;
    };
    void writeSome(std::unique_lock<std::mutex>& lock);
    void keepLogBounded(Realm& realm);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::unique_ptr<Pending>> queue_;
    bool writing_ = false;  // the session is in use
    Session session_;
};
