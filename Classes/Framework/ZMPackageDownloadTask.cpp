#include "ZMPackageDownloadTask.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <tuple>

#include "Categories/Data+Hashes.h"
#include "Database/ZMRPackageManager.h"
#include "Foundation/URL.h"
#include "Foundation/URLSession.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMPaths.h"
#include "Miscellaneous/ZMRequestError.h"
#include "ZMAPTManager.h"
#include "ZMPackageOperations.h"
#include "ZMPackageQueue.h"
#include "ZMPipelineManager.h"

namespace fs = std::filesystem;

namespace {

std::mutex hooksMutex;
ZMPackageDownloadTask::PaidDownloadHandler paidHandler;
ZMPackageDownloadTask::StatisticsHandler statisticsHandler;

// Archives are never worth caching: a session without a URL cache.
std::shared_ptr<URLSession> downloadSession() {
    static std::shared_ptr<URLSession> session =
        URLSession::sessionWithConfiguration(URLSessionConfiguration::ephemeralSessionConfiguration());
    return session;
}

ZMError invalid(const std::string& detail) { return ZMError::make(ZMError::InvalidServerData, detail); }

bool isHex(const std::string& s, size_t length) {
    return s.size() == length && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isxdigit(c); });
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

std::optional<uint64_t> parseSize(const std::string& text) {
    if (text.empty() || text.size() > 19 || !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return std::nullopt;
    return std::stoull(text);
}

bool isArchitecture(const std::string& a) {
    return !a.empty() && a.size() < 64 && std::all_of(a.begin(), a.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
    });
}

std::string archivesDirectory() { return ZMAPTManager::treePath() + "/var/cache/apt/archives"; }

std::string replaceFirst(std::string text, const std::string& what, const std::string& with) {
    auto at = text.find(what);
    if (at != std::string::npos) text.replace(at, what.size(), with);
    return text;
}

}  // namespace

// ---- the archive ---------------------------------------------------------------

std::string ZMPackageArchive::archiveFileName() const {
    std::string quotedVersion;
    for (char c : version) quotedVersion += c == ':' ? std::string("%3a") : std::string(1, c);
    return identifier + "_" + quotedVersion + "_" + architecture + ".deb";
}

// ---- hooks ---------------------------------------------------------------------

void ZMPackageDownloadTask::setPaidDownloadHandler(PaidDownloadHandler handler) {
    std::lock_guard lock(hooksMutex);
    paidHandler = std::move(handler);
}

void ZMPackageDownloadTask::setStatisticsHandler(StatisticsHandler handler) {
    std::lock_guard lock(hooksMutex);
    statisticsHandler = std::move(handler);
}

// ---- the task ------------------------------------------------------------------

ZMPackageDownloadTask::ZMPackageDownloadTask(ZMPackageArchive archive, std::shared_ptr<ZMDownloadBatch> batch)
    : archive_(std::move(archive)), batch_(std::move(batch)) {
    status_ = replaceFirst(ZMLocalizedString("Downloading %@..."), "%@", archive_.name);
}

std::shared_ptr<ZMPackageDownloadTask> ZMPackageDownloadTask::make(ZMPackageArchive archive,
                                                                   std::shared_ptr<ZMDownloadBatch> batch) {
    if (archive.name.empty()) archive.name = archive.identifier;
    return std::shared_ptr<ZMPackageDownloadTask>(new ZMPackageDownloadTask(std::move(archive), std::move(batch)));
}

std::string ZMPackageDownloadTask::pipelineID() const { return ZMPipelineDownloadOps; }

std::string ZMPackageDownloadTask::taskDescription() const {
    std::lock_guard lock(mutex_);
    return status_;
}

void ZMPackageDownloadTask::setStatus(std::string status) {
    {
        std::lock_guard lock(mutex_);
        status_ = std::move(status);
    }
    ZMPipelineManager::sharedManager().taskStatusChanged(shared_from_this());
}

std::optional<std::string> ZMPackageDownloadTask::archiveURL(const std::string& sourceLocation,
                                                             const std::string& fileName) {
    if (!ZMAPTManager::isAcceptableSourceLocation(sourceLocation)) return std::nullopt;
    if (fileName.empty() || fileName.size() > 1024 || fileName[0] == '/') return std::nullopt;
    if (fileName.find("://") != std::string::npos) return std::nullopt;
    for (unsigned char c : fileName)
        if (c <= 0x20 || c == 0x7f || c == '\\' || c == '%' || c == '?' || c == '#') return std::nullopt;
    // Components: "." is dropped (apt-ftparchive writes "./name.deb"), ".."
    // refused, empty ones (from "//") refused.
    std::string path;
    size_t start = 0;
    while (start <= fileName.size()) {
        size_t slash = fileName.find('/', start);
        std::string component = fileName.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (component == "..") return std::nullopt;
        if (component.empty()) return std::nullopt;
        // A first component like "http:" would read as a scheme to some parsers.
        if (path.empty() && component.find(':') != std::string::npos) return std::nullopt;
        if (component != ".") path += (path.empty() ? "" : "/") + component;
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    if (path.empty()) return std::nullopt;
    std::string base = sourceLocation;
    if (base.back() != '/') base += '/';
    return base + path;
}

std::string ZMPackageDownloadTask::destinationPath(const ZMPackageArchive& archive) {
    return archivesDirectory() + "/" + archive.archiveFileName();
}

void ZMPackageDownloadTask::taskCancel() {
    cancelled_ = true;
    std::shared_ptr<URLSessionTask> transfer;
    {
        std::lock_guard lock(mutex_);
        transfer = transfer_;
    }
    if (transfer) transfer->cancel();
}

void ZMPackageDownloadTask::taskStart() {
    started_ = true;
    if (batch_ && batch_->failed()) return finish(std::nullopt, true);
    if (cancelled_) return finish(std::nullopt, true);

    // Everything below ends up in a URL and a file name: check it before any request.
    const auto& a = archive_;
    if (!ZMAPTManager::isValidPackageName(a.identifier) || !ZMAPTManager::isValidVersion(a.version) ||
        !isArchitecture(a.architecture))
        return finish(invalid("Refused archive of \"" + a.identifier + "\" version \"" + a.version + "\""));
    auto url = archiveURL(a.sourceLocation, a.fileName);
    if (!url) return finish(invalid("Refused file name \"" + a.fileName + "\" of " + a.identifier));
    if (!isHex(a.sha256, 64) && !isHex(a.md5sum, 32))
        return finish(invalid("The index gives no checksum for " + a.identifier + " " + a.version));
    if (!a.size.empty() && !parseSize(a.size)) return finish(invalid("Bad size \"" + a.size + "\" of " + a.identifier));

    PaidDownloadHandler paid;
    {
        std::lock_guard lock(hooksMutex);
        paid = paidHandler;
    }
    if (a.isPaid && paid) {
        auto self = std::static_pointer_cast<ZMPackageDownloadTask>(shared_from_this());
        paid(a, [self](std::optional<std::string> paidURL, std::optional<ZMError> error) {
            if (error) return self->finish(error);
            if (!paidURL || (paidURL->rfind("http://", 0) != 0 && paidURL->rfind("https://", 0) != 0))
                return self->finish(invalid("No download location for " + self->archive_.identifier));
            // The store's links are short-lived: give up quickly rather than wait on them.
            self->download(*paidURL, 10.0, true);
        });
        return;
    }
    download(*url, std::nullopt, false);
}

void ZMPackageDownloadTask::download(const std::string& urlText, std::optional<double> timeout, bool fromStore) {
    auto url = URL::parse(urlText);
    if (!url) return finish(invalid(fromStore ? "Bad archive URL from the store of " + archive_.sourceLocation : "Bad archive URL " + urlText));
    std::string partialDirectory = archivesDirectory() + "/partial";
    if (!ZMPaths::createDirectories(partialDirectory))
        return finish(ZMError::make(ZMError::CommandFailed, "Cannot create " + partialDirectory));
    std::string partial = partialDirectory + "/" + archive_.archiveFileName();
    std::error_code ec;
    fs::remove(partial, ec);

    requestURL_ = *url;
    fromStore_ = fromStore;
    URLRequest request(*url);
    request.pathIsSecret = fromStore;
    request.timeoutInterval = timeout;
    auto expected = parseSize(archive_.size);
    // A server sending more than the index announced is cut off early.
    if (expected) request.maximumBodySize = *expected;

    auto self = std::static_pointer_cast<ZMPackageDownloadTask>(shared_from_this());
    auto transfer = downloadSession()->downloadTaskWithRequest(
        request, partial,
        [self, partial, expected](std::optional<std::string> location, std::optional<URLResponse> response,
                                  std::optional<ZMError> error) {
            std::error_code ec;
            auto fail = [&](ZMError e) {
                fs::remove(partial, ec);
                self->finish(std::move(e));
            };
            if (self->cancelled_) {
                fs::remove(partial, ec);
                return self->finish(std::nullopt, true);
            }
            if (error) return fail(self->transferFailure(error, 0));
            if (!location) return fail(self->transferFailure(std::nullopt, response ? response->statusCode : 0));
            const auto& a = self->archive_;
            uint64_t size = fs::file_size(*location, ec);
            if (ec || (expected && size != *expected))
                return fail(invalid("Size mismatch for " + a.fileName + ": " + std::to_string(size) + " bytes, the index says " +
                                    a.size));
            // Every checksum the index gives must match: a file that matches
            // only one of two is not the file the index describes.
            const std::tuple<const char*, const std::string&, size_t, DataHashes::Algorithm> checksums[] = {
                {"SHA-256", a.sha256, 64, DataHashes::Algorithm::SHA256}, {"MD5", a.md5sum, 32, DataHashes::Algorithm::MD5}};
            for (const auto& [label, expectedDigest, length, algorithm] : checksums) {
                if (!isHex(expectedDigest, length)) continue;
                auto digest = DataHashes::digestOfFile(algorithm, *location);
                if (!digest || *digest != lower(expectedDigest))
                    return fail(invalid(std::string(label) + " mismatch for " + a.fileName));
            }
            fs::rename(*location, destinationPath(a), ec);
            if (ec) return fail(ZMError::make(ZMError::CommandFailed, "Cannot store " + a.fileName + ": " + ec.message()));
            self->progress_ = 1.0;
            ZMPipelineManager::sharedManager().taskProgressChanged(self);
            self->setStatus(replaceFirst(ZMLocalizedString("Done downloading %@."), "%@", a.name));
            StatisticsHandler statistics;
            {
                std::lock_guard lock(hooksMutex);
                statistics = statisticsHandler;
            }
            if (statistics) statistics(a);
            self->finish(std::nullopt);
        });
    transfer->setProgressHandler([self, expected](int64_t received, int64_t total) {
        int64_t whole = expected ? static_cast<int64_t>(*expected) : total;
        if (whole <= 0) return;
        self->progress_ = std::min(1.0, static_cast<double>(received) / static_cast<double>(whole));
        ZMPipelineManager::sharedManager().taskProgressChanged(self);
    });
    {
        std::lock_guard lock(mutex_);
        transfer_ = transfer;
    }
    transfer->resume();
    if (cancelled_) transfer->cancel();  // a cancel that came before the transfer existed
}

ZMError ZMPackageDownloadTask::transferFailure(const std::optional<ZMError>& transport, int status) {
    const URL& from = requestURL_;
    ZMError error = transport ? ZMRequestError::fromTransport(from, *transport) : ZMRequestError::fromHTTPStatus(from, status);
    if (!fromStore_) return error;
    const auto& a = archive_;
    if (!transport && status >= 400 && status < 500) {
        // The store will not hand it over: the run cannot go on with it, as
        // when the store's earlier steps refuse it. A database that cannot
        // take the mark off must not keep the run from ending.
        bool dequeued = false;
        try {
            ZMPackageQueue::removeFromQueue(a.identifier);
            dequeued = true;
        } catch (const std::exception& e) {
            ZMLOG("{} stays queued: {}", a.identifier, e.what());
        }
        return ZMError::make(ZMError::InvalidServerData, "the store refused the archive of " + a.identifier + ": HTTP " + std::to_string(status))
            .withReason(ZMLocalization::format(dequeued ? "The store of %@ refused to hand over %@ (HTTP status %@); it was taken out of the queue."
                                                        : "The store of %@ refused to hand over %@ (HTTP status %@).",
                                               {a.sourceLocation, a.name, std::to_string(status)}));
    }
    // Said with the host only: the path is the ticket.
    const std::string path = from.path(), shown = ZMLocalizedString("the store's download address");
    for (std::string* text : {&error.detail, &error.reason})
        for (size_t at = 0; path.size() > 1 && (at = text->find(path, at)) != std::string::npos; at += shown.size())
            text->replace(at, path.size(), shown);
    return error;
}

void ZMPackageDownloadTask::finish(std::optional<ZMError> error, bool cancelled) {
    if (finished_.exchange(true)) return;
    auto self = shared_from_this();
    {
        std::lock_guard lock(mutex_);
        transfer_.reset();
    }
    if (error) ZMLOG("download of {} {} failed: {}", archive_.identifier, archive_.version, error->detail);
    if (batch_) {
        std::optional<ZMError> reason = error;
        if (cancelled && !reason) reason = ZMError::make(ZMError::Unknown, "Downloading " + archive_.identifier + " was cancelled");
        batch_->downloadEnded(*this, !error && !cancelled, reason);
    }
    auto& pipeline = ZMPipelineManager::sharedManager();
    if (error) pipeline.taskDoneWithError(self, *error);
    else if (cancelled) pipeline.taskCancelled(self);
    else pipeline.taskDoneWithSuccess(self);
}

// ---- the batch -----------------------------------------------------------------

ZMDownloadBatch::ZMDownloadBatch(ZMTaskPtr run, std::function<void(const ZMError&)> onFailure)
    : run_(std::move(run)), onFailure_(std::move(onFailure)) {}

std::shared_ptr<ZMDownloadBatch> ZMDownloadBatch::make(ZMTaskPtr run, std::function<void(const ZMError&)> onFailure) {
    return std::shared_ptr<ZMDownloadBatch>(new ZMDownloadBatch(std::move(run), std::move(onFailure)));
}

void ZMDownloadBatch::add(const std::shared_ptr<ZMPackageDownloadTask>& task) {
    std::lock_guard lock(mutex_);
    tasks_.push_back(task);
    ++remaining_;
}

bool ZMDownloadBatch::start() {
    std::vector<ZMTaskPtr> tasks;
    {
        std::lock_guard lock(mutex_);
        for (auto& weak : tasks_)
            if (auto t = weak.lock()) tasks.push_back(t);
    }
    auto& pipeline = ZMPipelineManager::sharedManager();
    if (tasks.empty()) return run_ && pipeline.queueTask(run_);
    size_t accepted = pipeline.queueTasks(tasks);
    if (accepted != tasks.size()) {
        // Some of these archives are already being fetched by another batch:
        // this one could not tell when they are done. Call the rest off.
        ZMError error = ZMError::make(ZMError::Unknown, "These packages are already being downloaded");
        bool first;
        {
            std::lock_guard lock(mutex_);
            first = !failed_;
            failed_ = true;
        }
        for (auto& t : tasks) pipeline.cancelTask(t->taskID());
        if (first && onFailure_) onFailure_(error);
        return accepted > 0;
    }
    return true;
}

bool ZMDownloadBatch::failed() const {
    std::lock_guard lock(mutex_);
    return failed_;
}

void ZMDownloadBatch::downloadEnded(const ZMPackageDownloadTask& task, bool success,
                                    const std::optional<ZMError>& error) {
    bool queueRun = false, reportFailure = false;
    std::vector<std::string> cancel;
    {
        std::lock_guard lock(mutex_);
        if (remaining_ > 0) --remaining_;
        if (!success && !failed_) {
            failed_ = true;
            reportFailure = true;
            for (auto& weak : tasks_)
                if (auto t = weak.lock(); t && t.get() != &task) cancel.push_back(t->taskID());
        }
        queueRun = remaining_ == 0 && !failed_;
    }
    std::optional<ZMError> runRefused;
    if (queueRun && run_ && !ZMPipelineManager::sharedManager().queueTask(run_)) {
        // Another run of the queue is live: this one would vanish silently.
        runRefused = ZMError::make(ZMError::CommandFailed, "Another run of the queue is in progress");
        reportFailure = true;
    }
    if (reportFailure) {
        ZMError reason = runRefused ? *runRefused : error.value_or(ZMError::make(ZMError::Unknown, "A download failed"));
        std::string message = "The queue was not run: " + reason.detail;
        ZMLOG("{}", message);
        ZMPipelineManager::postVerbose(message, true);
        // Running downloads are stopped; queued ones end at their start.
        for (const auto& id : cancel) ZMPipelineManager::sharedManager().cancelTask(id);
        if (onFailure_) onFailure_(reason);
    }
}
