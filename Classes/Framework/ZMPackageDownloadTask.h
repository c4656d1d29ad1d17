#pragma once
// Downloads one package's archive ("download.ops") into the private tree's
// archives directory, under the name apt gives it, so that the queue run
// finds it there and fetches nothing again. The archive is written into
// archives/partial first and moved into place only once its size and every
// checksum the index gives (SHA-256, MD5) match; a mismatch is a failure and
// the file is removed.
//
// Downloads of one confirmation share a ZMDownloadBatch: when the last one
// has succeeded the batch queues the run task; when any fails, the others are
// cancelled and the run is not queued (the batch reports it).
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Foundation/URL.h"
#include "Miscellaneous/ZMError.h"
#include "ZMTask.h"

class URLSessionTask;
class URLSession;
class ZMDownloadBatch;

// What the download needs to know of one package version, taken from its
// index stanza.
struct ZMPackageArchive {
    std::string identifier;
    std::string name;            // shown in the status ("Done downloading %@.")
    std::string version;
    std::string architecture;    // "all", "amd64"...
    std::string sourceLocation;  // the repository URL the Filename is relative to
    std::string fileName;        // the stanza's Filename
    std::string size;            // bytes, as text; empty when the index gives none
    std::string sha256;
    std::string md5sum;
    std::string maintainer;
    bool isPaid = false;         // the package has a price that is not free

    // apt's name for it in the archives directory: name_version_arch.deb
    // with the epoch's ':' written "%3a".
    std::string archiveFileName() const;
};

class ZMPackageDownloadTask : public ZMTask {
public:
    // ---- hooks for other subsystems -------------------------------------------
    // The paid branch: for a paid package of a source with a payment endpoint,
    // asks the payment client where to download it from. The handler calls
    // `completion` once, from any thread, with the URL to download (checked
    // against the index like any other), or an error to fail the download.
    // Unset: paid packages download from the repository like free ones.
    using DownloadURLCompletion = std::function<void(std::optional<std::string> url, std::optional<ZMError> error)>;
    using PaidDownloadHandler = std::function<void(const ZMPackageArchive& archive, DownloadURLCompletion completion)>;
    static void setPaidDownloadHandler(PaidDownloadHandler handler);
    // Called on the task's thread once an archive has been verified and
    // stored, for the download statistics. Unset: nothing.
    using StatisticsHandler = std::function<void(const ZMPackageArchive& archive)>;
    static void setStatisticsHandler(StatisticsHandler handler);

    static std::shared_ptr<ZMPackageDownloadTask> make(ZMPackageArchive archive,
                                                       std::shared_ptr<ZMDownloadBatch> batch = nullptr);

    // The archive's URL: the Filename under the source location. nullopt for
    // a location that is not plain http(s), or a Filename that is absolute,
    // carries a scheme, a ".." component, a backslash, '%', '?', '#',
    // whitespace or control characters.
    static std::optional<std::string> archiveURL(const std::string& sourceLocation, const std::string& fileName);
    // Where the verified archive goes: <tree>/var/cache/apt/archives/<archiveFileName>.
    static std::string destinationPath(const ZMPackageArchive& archive);

    const ZMPackageArchive& archive() const { return archive_; }

    void taskStart() override;
    std::string taskID() const override { return "download:" + archive_.identifier + "=" + archive_.version; }
    std::string pipelineID() const override;
    std::string taskDescription() const override;
    double taskProgress() const override { return progress_; }
    void taskCancel() override;
    // Only once started: a queued download the pipeline dropped by itself
    // would never tell its batch, which would then wait for it forever.
    bool taskCanCancel() const override { return started_ && !finished_; }
    std::string taskLocalizedObjectName() const override { return archive_.name; }

private:
    ZMPackageDownloadTask(ZMPackageArchive archive, std::shared_ptr<ZMDownloadBatch> batch);
    void download(const std::string& url, std::optional<double> timeout, bool fromStore);
    // Why the transfer failed, in words: a transport error or an HTTP status.
    ZMError transferFailure(const std::optional<ZMError>& transport, int status);
    void finish(std::optional<ZMError> error, bool cancelled = false);
    void setStatus(std::string status);

    const ZMPackageArchive archive_;
    std::shared_ptr<ZMDownloadBatch> batch_;
    mutable std::mutex mutex_;
    std::string status_;
    std::shared_ptr<URLSessionTask> transfer_;
    std::atomic<double> progress_{0.0};
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> started_{false};
    std::atomic<bool> finished_{false};
    URL requestURL_;  // what download() asked for, to say which server failed
    // The address came from the package's store: its path is a one-time
    // ticket, named in no message and no log line.
    std::atomic<bool> fromStore_{false};
};

// The downloads of one confirmation and the run that follows them.
class ZMDownloadBatch : public std::enable_shared_from_this<ZMDownloadBatch> {
public:
    // `run` is queued when every download has succeeded. `onFailure` (any
    // thread, optional) hears once that the run was not queued, and why.
    static std::shared_ptr<ZMDownloadBatch> make(ZMTaskPtr run, std::function<void(const ZMError&)> onFailure = {});

    // Before queueing: adds a download that the run waits for.
    void add(const std::shared_ptr<ZMPackageDownloadTask>& task);
    // Queues the downloads, or the run at once when there is none. False when
    // the pipeline took nothing (the same downloads or run are already live).
    bool start();

    // A download has ended. The last success queues the run (before the
    // download itself reports done, so the pipeline never looks idle in
    // between); the first failure cancels the others.
    void downloadEnded(const ZMPackageDownloadTask& task, bool success, const std::optional<ZMError>& error);

    bool failed() const;
    const ZMTaskPtr& runTask() const { return run_; }

private:
    ZMDownloadBatch(ZMTaskPtr run, std::function<void(const ZMError&)> onFailure);

    ZMTaskPtr run_;
    std::function<void(const ZMError&)> onFailure_;
    mutable std::mutex mutex_;
    std::vector<std::weak_ptr<ZMPackageDownloadTask>> tasks_;
    size_t remaining_ = 0;
    bool failed_ = false;
};
