#include "ZMIndexWriter.h"

#include <chrono>
#include <thread>

#include "Database/ZMRPackage.h"
#include "Miscellaneous/ZMLog.h"
#include "ZMIndexParsing.h"
#include "ZMPipelineManager.h"

namespace {
uint64_t digestOf(std::string_view identifier) { return std::hash<std::string_view>{}(identifier); }
}  // namespace

void ZMIndexWriter::Session::load() {
    identifiers_.clear();
    added_.clear();
    const auto& schema = ZMRPackage::schema();
    auto results = realm_->objects<ZMRPackage>();
    auto values = realm_->queryColumn(results.core()->querySql("\"identifier\""), {}, *schema.primaryKey());
    identifiers_.reserve(values.size() + values.size() / 4);
    for (const auto& value : values)
        if (auto text = std::get_if<std::string>(&value)) ++identifiers_[digestOf(*text)];
    loaded_ = true;
    loadedFor_ = realm_;
}

void ZMIndexWriter::Session::merge() {
    for (uint64_t digest : added_) ++identifiers_[digest];
    added_.clear();
}

bool ZMIndexWriter::Session::mayHavePackage(std::string_view identifier) {
    if (!loaded_) load();
    return identifiers_.count(digestOf(identifier)) > 0;
}

void ZMIndexWriter::Session::packageAdded(std::string_view identifier) {
    if (loaded_) added_.push_back(digestOf(identifier));
}

void ZMIndexWriter::Session::packageDeleted(std::string_view identifier) {
    if (!loaded_) return;
    if (!added_.empty()) merge();
    auto it = identifiers_.find(digestOf(identifier));
    if (it != identifiers_.end() && --it->second == 0) identifiers_.erase(it);
}

ZMIndexWriter& ZMIndexWriter::shared() {
    // Never destroyed: its thread lives as long as the process.
    static auto* writer = new ZMIndexWriter;
    return *writer;
}

ZMIndexWriter::ZMIndexWriter() {
    std::thread([this] { loop(); }).detach();
}

std::future<std::optional<ZMError>> ZMIndexWriter::submit(Job job) {
    auto pending = std::make_unique<Pending>();
    pending->job = std::move(job);
    if (!pending->job.realm) pending->job.realm = Realm::defaultRealm();
    auto future = pending->promise.get_future();
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(pending));
    }
    wake_.notify_one();
    return future;
}

void ZMIndexWriter::loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return !queue_.empty(); });
        writing_ = true;
        writeSome(lock);
        writing_ = false;
    }
}

void ZMIndexWriter::forgetIdentifiers() {
    std::unordered_map<uint64_t, uint32_t> identifiers;
    std::vector<uint64_t> added;
    {
        std::lock_guard lock(mutex_);
        if (writing_) return;  // in use: the next refresh-all keeps them
        identifiers.swap(session_.identifiers_);
        added.swap(session_.added_);
        session_.loaded_ = false;
        session_.loadedFor_.reset();
    }
}

namespace {
ZMError errorOf(const std::exception_ptr& exception) {
    try {
        std::rethrow_exception(exception);
    } catch (const ZMIndexFailure& failure) {
        return failure.error;
    } catch (const std::exception& e) {
        return ZMError::make(ZMError::Unknown, e.what());
    } catch (...) {
        return ZMError::make(ZMError::Unknown, "unknown exception");
    }
}
}  // namespace

// One transaction: the first job waiting, then those that cannot fail
// half-way, for as long as they come and the transaction is young.
void ZMIndexWriter::writeSome(std::unique_lock<std::mutex>& lock) {
    std::shared_ptr<Realm> realm = queue_.front()->job.realm;
    lock.unlock();
    Session& session = session_;
    session.realm_ = realm;
    std::vector<std::unique_ptr<Pending>> done;
    Pending* running = nullptr;
    uint64_t commitsBefore = 0;
    std::exception_ptr failure;
    try {
        realm->transactionWithBlock(
            [&] {
            commitsBefore = realm->commitCount();
            if (session.loadedFor_.lock() != realm || session.commitsSeen_ != commitsBefore) session.loaded_ = false;
            const auto started = std::chrono::steady_clock::now();
            for (bool first = true;; first = false) {
                std::unique_ptr<Pending> pending;
                {
                    std::lock_guard guard(mutex_);
                    if (queue_.empty() || queue_.front()->job.realm != realm) break;
                    if (!first) {
                        if (!queue_.front()->job.cannotFailHalfway()) break;
                        const double age =
                            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
                        if (age > kLongestTransaction ||
                            (age > kTransactionSeconds && ZMPipelineManager::sharedManager().waitingTaskCount() > 0))
                            break;
                    }
                    pending = std::move(queue_.front());
                    queue_.pop_front();
                }
                running = pending.get();
                done.push_back(std::move(pending));
                session.merge();  // what the jobs before added
                if (running->job.prepare) {
                    try {
                        running->job.prepare(session);
                    } catch (...) {
                        running->outcome = errorOf(std::current_exception());
                        continue;
                    }
                }
                if (running->job.run) running->job.run(session);
            }
            running = nullptr;
            },
            /*releaseAfterBulkWrite=*/false);
        session.commitsSeen_ = commitsBefore + 1;
    } catch (...) {
        failure = std::current_exception();
        session.loaded_ = false;
    }
    session.realm_.reset();
    if (failure) {
        const ZMError error = errorOf(failure);
        for (auto& pending : done) {
            if (pending->outcome) continue;  // refused before writing
            pending->outcome = pending.get() == running || !running
                                   ? error
                                   : ZMError::make(ZMError::Unknown, "the records could not be written: " + error.detail);
        }
        ZMLOG("index writes rolled back: {}", error.debugDescription());
    }
    try {
        // Between transactions of a refresh the page cache is worth keeping;
        // once no more work waits, it goes, before the jobs learn their
        // outcome: what follows the last refresh (the rebuilds) reads the
        // whole table while this memory would still be held.
        bool idle;
        {
            std::lock_guard guard(mutex_);
            idle = queue_.empty();
        }
        if (idle) realm->releaseMemory();
    } catch (const std::exception& e) {
        ZMLOG("could not release the writer's memory: {}", e.what());
    }
    for (auto& pending : done) pending->promise.set_value(pending->outcome);
    done.clear();
    try {
        keepLogBounded(*realm);
    } catch (const std::exception& e) {
        ZMLOG("checkpoint after the index writes failed: {}", e.what());
    }
    realm.reset();
    lock.lock();
}

void ZMIndexWriter::keepLogBounded(Realm& realm) {
    const auto sizes = realm.fileSizes();
    // A small log is left to the background checkpoints.
    constexpr uint64_t kSmallLog = 64ull << 20;
    if (sizes.log <= std::max<uint64_t>(sizes.database, kSmallLog)) return;
    realm.checkpointAndTruncate();
}
