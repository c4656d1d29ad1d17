#pragma once
// The one thread that writes what source refreshes bring, whatever the
// number of refreshes running at once: they download and parse in parallel,
// and hand their writes here, where they run one after the other.
//
// Jobs run in the order they came, inside write transactions on the
// writer's thread. A job that can still fail half-way (its index not yet
// read to the end) opens a transaction of its own, so that its failure rolls
// back its work alone. Jobs that cannot fail half-way join the open
// transaction, up to about a second of writing, so many small sources cost
// few commits. A job is told its outcome once its transaction is committed.
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
#include <unordered_set>

#include "Miscellaneous/ZMError.h"
#include "Realm/Realm.h"

class ZMIndexWriter {
public:
    static ZMIndexWriter& shared();

    // What a job sees, on the writer's thread, inside the transaction.
    class Session {
    public:
        Realm& realm() { return *realm_; }
        // The identifiers of every package record, as the transaction sees
        // them: read once, then kept by the jobs, which report the records
        // they add and delete. Valid across transactions as long as nobody
        // else commits in between.
        const std::unordered_set<std::string>& packageIdentifiers();
        void packageAdded(const std::string& identifier);
        void packageDeleted(const std::string& identifier);

    private:
        friend class ZMIndexWriter;
        std::shared_ptr<Realm> realm_;
        std::unordered_set<std::string> identifiers_;
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

    // Transactions end after about this long when more jobs wait.
    static constexpr double kTransactionSeconds = 1.0;

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
