#pragma once
// The refresh of one source: a pipeline task ("source.ops", taskID
// "source.ops:<location>") that
//   1. fetches the source's Release (conditional when the last refresh
//      worked; at most 1 MiB) and copies its fields, made plain and capped,
//      into the source record,
//   2. asks the payment client for the source's payment endpoint (the answer
//      is stored with the refresh's outcome: nothing is written between the
//      two downloads),
//   3. fetches the Packages index through its compression variants
//      (Packages.xz, .lzma, .bz2, .gz, plain: the first that exists),
//   4. has it decompressed and checked on the shared parsing threads
//      (ZMIndexParsing), which write the stanzas it accepts, as served, to
//      SourcesFiles/<location, "/" as "_">-Packages, and make its records,
//      which the shared writer (ZMIndexWriter) stores in the index's order
//      (ZMIndexStore says how records follow from an index),
//   5. gives the private APT tree that file as the source's list, with a
//      Release holding only the fields apt reads, and rewrites its sources
//      list: apt knows exactly the packages the records know. The list goes
//      to apt as soon as it is complete, while the records are being written
//      (a late failure gives apt its previous list back); once every refresh
//      of the pipeline has settled its list, apt's caches are rebuilt unless
//      they are current,
// and ends by posting ZMRSourceUpdatedNotification (object: the location) on
// the main thread, after the pipeline's refresh count has dropped. A refresh
// that brought packages no source had before first posts
// ZMRSourcePackagesAddedNotification with their identifiers.
//
// Failure at any step (unreachable server, Release or every index variant
// missing or too large, corrupt archive: error 31, an index over the size
// cap, binary garbage) leaves the source's package records and its list as
// they were, sets the source's hasErrors and reports the task failed with
// the error, whose reason says what happened (the server's address with its
// port, refused connection, time-out, refused redirect, HTTP status). A
// refresh answered 304 everywhere reports that it changed nothing, so the
// caches built from the records are not rebuilt for it.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Miscellaneous/ZMError.h"
#include "ZMIndexParsing.h"
#include "ZMIndexStore.h"
#include "ZMTask.h"

class Realm;
struct ZMRSource;


class ZMSourceRefresh : public ZMTask {
public:
    // The payment client's answer for a source: what becomes of the stored
    // endpoint. Only a definitive answer of the source sets or clears it; a
    // failed or missing answer keeps what the source had.
    struct PaymentEndpoint {
        enum class Change { Keep, Set, Clear };
        Change change = Change::Keep;
        std::string endpoint;  // with Set
    };
    using PaymentEndpointHook =
        std::function<void(const std::string& location, std::function<void(PaymentEndpoint)> completion)>;
    // Called (on the refresh's thread) after a successful refresh, for the
    // repository store and the repository directory.
    using RefreshedHook = std::function<void(const std::string& location)>;

    static std::shared_ptr<ZMSourceRefresh> make(std::string location);
    ~ZMSourceRefresh() override;
    static std::string taskIDForLocation(const std::string& location);

    // The payment client installs this; without it every source has no
    // endpoint. A hook that does not answer within 60 s keeps the endpoint.
    static void setPaymentEndpointHook(PaymentEndpointHook hook);
    // Refreshed hooks run in the order they were added. addRefreshedHook
    // returns an id for removeRefreshedHook; setRefreshedHook replaces them
    // all by one (null: none).
    static uint64_t addRefreshedHook(RefreshedHook hook);
    static void removeRefreshedHook(uint64_t id);
    static void setRefreshedHook(RefreshedHook hook);
    // Seconds a request may wait for the server before it fails (0: the
    // requests' own default of 30).
    static void setRequestTimeout(double seconds);
    // The largest index accepted, decompressed or downloaded (default 256 MiB).
    static void setMaximumIndexSize(uint64_t bytes);
    static uint64_t maximumIndexSize();
    // "Packages.xz", "Packages.lzma", "Packages.bz2", "Packages.gz", "Packages".
    static const std::vector<std::string>& packagesVariants();

    const std::string& location() const { return location_; }

    // The whole refresh on the calling thread (it blocks on the network):
    // what taskStart() runs before it reports to the pipeline.
    ZMResult<ZMSourceRefreshSummary> refresh();
    // Asks the payment endpoint hook and stores its answer (hasEndpoint,
    // endpoint) before returning; Keep writes nothing.
    void checkPaymentEndpoint();
    // Parses a decompressed Packages file and rewrites the source's package
    // records from it in one write transaction (nothing is written on
    // failure). The source record's fields read from the Release, its
    // package count and hasErrors NO go into the same transaction.
    ZMResult<ZMSourceRefreshSummary> packagesFileParserFromPath(const std::string& path);

    // ZMTask
    void taskStart() override;
    std::string taskID() const override { return taskIDForLocation(location_); }
    std::string pipelineID() const override;
    std::string taskDescription() const override;
    double taskProgress() const override { return progress_; }
    std::string taskLocalizedTitle() const override;
    std::string taskLocalizedObjectName() const override { return location_; }
    bool taskChangedNothing() const override { return changedNothing_; }

    // The outcome of the last refresh() (tests).
    std::optional<ZMError> lastError() const;

private:
    explicit ZMSourceRefresh(std::string location);
    void setStatus(std::string status);
    void setProgress(double progress);
    PaymentEndpoint askPaymentEndpoint() const;
    // The index's text through the list pass into `listPath` and the record
    // pass into the records; with `handToAPTEarly`, apt gets the list once
    // it is complete (handedEarly_ then says so).
    ZMResult<ZMSourceRefreshSummary> storeIndex(ZMIndexStream::Text text, double expectedBytes,
                                                const std::string& listPath, bool handToAPTEarly);
    // Inside the writer's transaction: the fields of the Release, hasErrors
    // NO, the refresh date, the validators and the payment answer.
    void storeSourceFields(Realm& realm, ZMRSource& source) const;
    void storePaymentEndpoint(Realm& realm, ZMRSource& source) const;
    // Gives the private APT tree the source's lists (the copy of the accepted
    // stanzas and the Release made for apt) and rewrites its sources list.
    // Files already holding that content are left alone.
    void handToAPT(const std::string& copyPath, const std::string& aptRelease) const;
    // After a late failure: apt's list as the last refresh that worked left it.
    void restoreAPT(const std::string& copyPath, const std::string& aptRelease) const;
    // This task's list for apt will not change any more (see the header).
    void settleLists();

    struct Work;
    const std::string location_;
    mutable std::mutex mutex_;
    std::string status_;
    std::optional<ZMError> lastError_;
    std::atomic<double> progress_{0.0};
    std::unique_ptr<Work> work_;
    bool asTask_ = false, settled_ = false, handedEarly_ = false;
    std::atomic<bool> changedNothing_{false};
};
