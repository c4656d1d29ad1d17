#pragma once
// The refresh of one source: a pipeline task ("source.ops", taskID
// "source.ops:<location>") that
//   1. fetches the source's Release (conditional when the last refresh
//      worked; at most 1 MiB) and copies its fields, made plain and capped,
//      into the source record,
//   2. asks the payment client for the source's payment endpoint,
//   3. fetches the Packages index through its compression variants
//      (Packages.xz, .lzma, .bz2, .gz, plain: the first that exists),
//   4. decompresses it and, as the text comes, cuts it at stanza boundaries
//      into pieces parsed on a few threads of its own, while the calling
//      thread rewrites the source's package records from them, in the
//      index's order, in ONE write transaction, and writes the stanzas it
//      accepted, as served, to SourcesFiles/<location, "/" as "_">-Packages,
//   5. gives the private APT tree that file as the source's list, with a
//      Release holding only the fields apt reads, and rewrites its sources
//      list: apt knows exactly the packages the records know,
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
// port, refused connection, time-out, refused redirect, HTTP status).
//
// Records: new packages and packages whose version changed get updatedDateStr
// ("yyyy-MM-dd HH:mm", local time of this refresh); a changed version also sets
// hasNewVersion. Unchanged packages keep both. Packages gone from the index
// are deleted, except installed ones, which stay with source location "DPKG".
// Refused with a log line, and kept from apt as well: stanzas without
// Package, with a name or version outside Debian's grammar (apt would fold or
// reject them), of a foreign architecture, larger than 256 KiB, or that apt
// would read otherwise (a line that is no field, a field twice: see
// ZMControlStanza::isStrict).
//
// One record per identifier: when an index lists several versions the highest
// wins; when several sources carry the same identifier, the record belongs to
// the source with the highest version (a later refresh of a source with a
// lower or equal version leaves it alone). A record carries its own
// version's archive (filename, size, digests); the other versions a source
// offers (older ones of its index, or ones another source's record
// supersedes) are kept as ZMRPackageVersion rows. When the owning source drops a package that
// another source still carries, the record returns with that source's next
// refresh.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Miscellaneous/ZMError.h"
#include "ZMTask.h"

struct ZMSourceRefreshSummary {
    bool unchanged = false;  // the server answered 304: records untouched
    std::string variant;     // the index file used ("Packages.xz", ...)
    size_t packages = 0;     // records the source owns afterwards
    size_t added = 0;        // new records
    size_t changed = 0;      // records whose version changed
    size_t removed = 0;      // deleted, or handed back to "DPKG"
    size_t skipped = 0;      // stanzas refused (no Package, bad name/version, foreign architecture)
    size_t superseded = 0;   // identifiers another source carries in a higher version
    // Packages that no source had before this refresh, sorted; a successful
    // refresh posts them with ZMRSourcePackagesAddedNotification.
    std::vector<std::string> newIdentifiers;
};

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
    // endpoint) in one write transaction before returning; Keep writes nothing.
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

    // The outcome of the last refresh() (tests).
    std::optional<ZMError> lastError() const;

private:
    explicit ZMSourceRefresh(std::string location);
    void setStatus(std::string status);
    void setProgress(double progress);
    // packagesFileParserFromPath() over text that arrives in pieces: `next`
    // fills the next piece and returns false at the end.
    ZMResult<ZMSourceRefreshSummary> storeIndex(const std::function<bool(std::string&)>& next, double expectedBytes);
    // Gives the private APT tree the source's lists (the copy of the accepted
    // stanzas and the Release made for apt) and rewrites its sources list.
    void handToAPT(const std::string& copyPath, const std::string& aptRelease) const;

    struct Work;
    const std::string location_;
    mutable std::mutex mutex_;
    std::string status_;
    std::optional<ZMError> lastError_;
    std::atomic<double> progress_{0.0};
    std::unique_ptr<Work> work_;
};
