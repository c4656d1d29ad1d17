#include "ZMSourceRefresh.h"

#include "Miscellaneous/ZMJSON.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <map>

#include <nlohmann/json.hpp>

#include "Categories/Data+Decompression.h"
#include "Categories/String+ZemtrixExtensions.h"
#include "Categories/URLRequest+ZemtrixExtensions.h"
#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackage.h"
#include "Database/ZMRSource.h"
#include "Database/ZMRSources.h"
#include "Foundation/URLSession.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMPaths.h"
#include "Miscellaneous/ZMRequestError.h"
#include "Notifications/NotificationCenter.h"
#include "ZMAPTManager.h"
#include "ZMIndexParsing.h"
#include "ZMIndexStore.h"
#include "ZMIndexWriter.h"
#include "ZMPipelineManager.h"
#include "ZMReleaseFile.h"

namespace {

std::mutex hooksMutex;
ZMSourceRefresh::PaymentEndpointHook paymentEndpointHook;
std::map<uint64_t, ZMSourceRefresh::RefreshedHook> refreshedHooks;
uint64_t nextRefreshedHook = 1;
std::atomic<uint64_t> maximumIndexBytes{256ull << 20};
std::atomic<double> requestTimeout{0};

constexpr size_t kChunk = ZMIndexParsing::kChunk;
// Stored with the validators: a source refreshed by a program that wrote its
// lists another way is fetched in full once, not answered from a 304.
constexpr int kListsFormat = 2;

// Thrown inside the write transaction to roll it back with a reason.
using RefreshFailure = ZMIndexFailure;

// Refresh tasks of the pipeline whose lists for apt are settled (handed
// over, or left as they were). Once every live refresh is settled, apt's
// caches are rebuilt (when the lists changed) while records may still be
// being written.
std::mutex wavesMutex;
int settledRefreshes = 0;

std::string flatName(const std::string& location) {
    std::string name = location;
    for (char& c : name)
        if (c == '/') c = '_';
    return name;
}

bool fileExists(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void removeFile(const std::string& path) {
    if (!path.empty()) ::unlink(path.c_str());
}

std::shared_ptr<URLSession> refreshSession() {
    static std::shared_ptr<URLSession> session = [] {
        auto configuration = URLSessionConfiguration::noCacheConfigureation();
        configuration.keepsCookies = false;
        // Generous (indexes are large, links slow), but a host that trickles
        // a byte now and then does not hold a refresh for ever.
        configuration.timeoutIntervalForResource = 600;
        return URLSession::sessionWithConfiguration(configuration);
    }();
    return session;
}

struct Fetched {
    std::string data;
    std::optional<std::string> file;
    std::optional<URLResponse> response;
    std::optional<ZMError> error;
};

// Runs a request to its end on the session and waits for it; the session's
// own time-outs bound the wait.
Fetched fetchBlocking(const URLRequest& request, const std::optional<std::string>& destination) {
    auto promise = std::make_shared<std::promise<Fetched>>();
    auto future = promise->get_future();
    auto session = refreshSession();
    std::shared_ptr<URLSessionTask> task;
    if (destination) {
        task = session->downloadTaskWithRequest(
            request, *destination,
            [promise](std::optional<std::string> location, std::optional<URLResponse> response,
                      std::optional<ZMError> error) {
                promise->set_value(Fetched{{}, std::move(location), std::move(response), std::move(error)});
            });
    } else {
        task = session->dataTaskWithRequest(
            request, [promise](std::string data, std::optional<URLResponse> response, std::optional<ZMError> error) {
                promise->set_value(Fetched{std::move(data), std::nullopt, std::move(response), std::move(error)});
            });
    }
    task->resume();
    return future.get();
}

nlohmann::json parseValidators(const std::string& text) {
    if (text.empty()) return nlohmann::json::object();
    auto parsed = ZMJSON::parse(text);
    return parsed && parsed->is_object() ? std::move(*parsed) : nlohmann::json::object();
}

void addConditionalHeaders(URLRequest& request, const nlohmann::json& validators) {
    const std::string lastModified = ZMJSON::stringValue(validators, "Last-Modified");
    const std::string etag = ZMJSON::stringValue(validators, "ETag");
    if (!lastModified.empty()) request.setValue(lastModified, "If-Modified-Since");
    if (!etag.empty()) request.setValue(etag, "If-None-Match");
}

nlohmann::json validatorsOf(const URLResponse& response) {
    nlohmann::json out = nlohmann::json::object();
    if (auto v = response.valueForHTTPHeaderField("Last-Modified")) out["Last-Modified"] = *v;
    if (auto v = response.valueForHTTPHeaderField("ETag")) out["ETag"] = *v;
    return out;
}

// Places `source` at `destination` (hard link, else copy), replacing it atomically.
bool installCopy(const std::string& source, const std::string& destination) {
    const std::string temporary = destination + ".vostrelle-new";
    ::unlink(temporary.c_str());
    if (::link(source.c_str(), temporary.c_str()) != 0) {
        FILE* in = std::fopen(source.c_str(), "rb");
        FILE* out = in ? std::fopen(temporary.c_str(), "wb") : nullptr;
        bool ok = in && out;
        std::vector<char> buffer(kChunk);
        size_t n;
        while (ok && (n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) ok = std::fwrite(buffer.data(), 1, n, out) == n;
        if (in) std::fclose(in);
        if (out && std::fclose(out) != 0) ok = false;
        if (!ok) {
            ::unlink(temporary.c_str());
            return false;
        }
    }
    if (::rename(temporary.c_str(), destination.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool writeWholeFile(const std::string& path, std::string_view content) {
    const std::string temporary = path + ".vostrelle-new";
    FILE* out = std::fopen(temporary.c_str(), "wb");
    if (!out) return false;
    bool ok = std::fwrite(content.data(), 1, content.size(), out) == content.size();
    if (std::fclose(out) != 0) ok = false;
    if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa{}, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool sameContent(const std::string& path, std::string_view content) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::string existing(content.size() + 1, '\0');
    existing.resize(std::fread(existing.data(), 1, existing.size(), f));
    std::fclose(f);
    return existing == content;
}

}  // namespace

// What one refresh carries from step to step.
struct ZMSourceRefresh::Work {
    std::string updatedDateStr;  // of this refresh
    std::string hostArchitecture;
    nlohmann::json sourceFields = nlohmann::json::object();  // from the Release
    nlohmann::json validators = nlohmann::json::object();    // to store on success
    std::string aptRelease;  // the Release for the private APT tree ("" when none was fetched)
    std::vector<std::string> listedFiles;  // the files the Release lists
    std::string variant;
    PaymentEndpoint payment;  // the payment client's answer, stored with the outcome
};

// ---- configuration ----------------------------------------------------------------

std::shared_ptr<ZMSourceRefresh> ZMSourceRefresh::make(std::string location) {
    return std::shared_ptr<ZMSourceRefresh>(new ZMSourceRefresh(std::move(location)));
}

ZMSourceRefresh::ZMSourceRefresh(std::string location) : location_(std::move(location)) {
    status_ = ZMLocalizedString("Refreshing") + " " + location_;
}

ZMSourceRefresh::~ZMSourceRefresh() = default;

std::string ZMSourceRefresh::taskIDForLocation(const std::string& location) {
    return std::string(ZMPipelineSourceOps) + ":" + location;
}

void ZMSourceRefresh::setPaymentEndpointHook(PaymentEndpointHook hook) {
    std::lock_guard lock(hooksMutex);
    paymentEndpointHook = std::move(hook);
}

uint64_t ZMSourceRefresh::addRefreshedHook(RefreshedHook hook) {
    std::lock_guard lock(hooksMutex);
    refreshedHooks[nextRefreshedHook] = std::move(hook);
    return nextRefreshedHook++;
}

void ZMSourceRefresh::removeRefreshedHook(uint64_t id) {
    std::lock_guard lock(hooksMutex);
    refreshedHooks.erase(id);
}

void ZMSourceRefresh::setRefreshedHook(RefreshedHook hook) {
    {
        std::lock_guard lock(hooksMutex);
        refreshedHooks.clear();
    }
    if (hook) addRefreshedHook(std::move(hook));
}

void ZMSourceRefresh::setRequestTimeout(double seconds) { requestTimeout = seconds > 0 ? seconds : 0; }

void ZMSourceRefresh::setMaximumIndexSize(uint64_t bytes) { maximumIndexBytes = bytes ? bytes : (256ull << 20); }
uint64_t ZMSourceRefresh::maximumIndexSize() { return maximumIndexBytes; }

const std::vector<std::string>& ZMSourceRefresh::packagesVariants() {
    static const std::vector<std::string> variants = {"Packages.xz", "Packages.lzma", "Packages.bz2", "Packages.gz",
                                                      "Packages"};
    return variants;
}

std::string ZMSourceRefresh::pipelineID() const { return ZMPipelineSourceOps; }

std::string ZMSourceRefresh::taskDescription() const {
    std::lock_guard lock(mutex_);
    return status_;
}

std::string ZMSourceRefresh::taskLocalizedTitle() const { return ZMLocalizedString("Refreshing Sources"); }

std::optional<ZMError> ZMSourceRefresh::lastError() const {
    std::lock_guard lock(mutex_);
    return lastError_;
}

void ZMSourceRefresh::setStatus(std::string status) {
    {
        std::lock_guard lock(mutex_);
        status_ = std::move(status);
    }
    auto self = shared_from_this();
    if (ZMPipelineManager::sharedManager().isTaskLive(taskID())) ZMPipelineManager::sharedManager().taskStatusChanged(self);
}

void ZMSourceRefresh::setProgress(double progress) {
    progress_ = progress;
    if (ZMPipelineManager::sharedManager().isTaskLive(taskID()))
        ZMPipelineManager::sharedManager().taskProgressChanged(shared_from_this());
}

// ---- the task -----------------------------------------------------------------------

void ZMSourceRefresh::taskStart() {
    ZMPipelineManager::postVerbose(ZMLocalizedString("Refreshing") + " " + location_);
    asTask_ = true;
    auto result = refresh();
    settleLists();
    if (result) {
        ZMPipelineManager::postVerbose(
            fmt::format("{}: {} ({} {})", location_, ZMLocalizedString("Done"), result.value->packages,
                        ZMLocalizedString("packages")));
    } else {
        ZMPipelineManager::postVerbose(location_ + ": " + result.error->localizedDescription() + " (" +
                                           result.error->detail + ")",
                                       true);
    }
    changedNothing_ = result && result.value->unchanged;
    {
        std::lock_guard lock(wavesMutex);
        if (settled_) --settledRefreshes;
    }
    const std::string location = location_;
    // The notification goes out after the pipeline has dropped this refresh
    // from its count, so its observers see the count without it.
    ZMPipelineManager::sharedManager().taskDone(shared_from_this(), result.ok(), result.error, [location] {
        NotificationCenter::defaultCenter().post(ZMRSourceUpdatedNotification, std::any(location), nullptr);
    });
}

void ZMSourceRefresh::settleLists() {
    if (!asTask_ || settled_) return;
    settled_ = true;
    bool rebuild = false;
    {
        std::lock_guard lock(wavesMutex);
        rebuild = ++settledRefreshes >= ZMPipelineManager::sharedManager().sourceRefreshCount();
    }
    struct stat st{};
    if (rebuild && !ZMAPTManager::cachesAreCurrent() &&
        ::stat((ZMAPTManager::treePath() + "/apt.conf").c_str(), &st) == 0)
        ZMPipelineManager::sharedManager().queueTask(ZMAPTManager::cacheRebuildTask());
}

ZMResult<ZMSourceRefreshSummary> ZMSourceRefresh::refresh() {
    using Result = ZMResult<ZMSourceRefreshSummary>;
    const auto startedAt = std::chrono::steady_clock::now();
    work_ = std::make_unique<Work>();
    Work& work = *work_;
    work.updatedDateStr = ZemtrixExtensions::dateMinuteString(std::chrono::system_clock::now());
    work.hostArchitecture = ZMAPTManager::hostArchitecture();
    std::shared_ptr<Realm> realm;

    auto fail = [&](ZMError error) -> Result {
        ZMLOG("refresh of {} failed: {}", location_, error.debugDescription());
        settleLists();
        try {
            ZMIndexWriter::Job job;
            job.realm = realm;
            job.run = [&](ZMIndexWriter::Session& session) {
                Realm& r = session.realm();
                if (auto source = r.objectForPrimaryKey<ZMRSource>(location_)) {
                    r.setValueForKey(*source, "hasErrors", true);
                    storePaymentEndpoint(r, *source);
                }
            };
            if (auto error = ZMIndexWriter::shared().perform(std::move(job)))
                ZMLOG("could not mark {} as failed: {}", location_, error->debugDescription());
        } catch (const std::exception& e) {
            ZMLOG("could not mark {} as failed: {}", location_, e.what());
        }
        std::lock_guard lock(mutex_);
        lastError_ = error;
        return Result::failure(std::move(error));
    };

    std::optional<ZMRSource> source;
    try {
        realm = Realm::defaultRealm();
        source = realm->objectForPrimaryKey<ZMRSource>(location_);
    } catch (const std::exception& e) {
        return fail(ZMError::make(ZMError::Unknown, e.what()));
    }
    if (!source) return fail(ZMError::make(ZMError::Unknown, "no source record for " + location_));
    auto base = URL::parse(location_);
    if (!base || !base->isHTTP()) return fail(ZMError::make(ZMError::InvalidServerData, "not an http(s) location: " + location_));

    const std::string copyPath = ZMRSources::packagesFilePath(location_);
    ZMPaths::createDirectories(ZMPaths::subdirectory("SourcesFiles"));
    // Validators are only trusted when the previous refresh stored everything they vouch for.
    nlohmann::json previous = nlohmann::json::object();
    if (source->hasErrors == false && fileExists(copyPath)) {
        previous = parseValidators(source->httpValidators);
        if (previous.value("format", 0) != kListsFormat) previous = nlohmann::json::object();
    }
    // What apt had from the last refresh that worked, to give it back should this one fail late.
    const std::string previousAptRelease = ZMJSON::stringValue(parseValidators(source->httpValidators), "aptRelease");
    work.validators["format"] = kListsFormat;
    auto withTimeout = [](URLRequest request) {
        if (const double seconds = requestTimeout.load(); seconds > 0) request.timeoutInterval = seconds;
        return request;
    };

    // 1. Release.
    setStatus(ZMLocalizedString("Downloading") + " " + location_ + "Release");
    {
        const URL releaseURL = *URL::parse(location_ + "Release");
        auto request = withTimeout(URLRequestZemtrix::VostrelleGetRequestWithURL(releaseURL));
        request.maximumBodySize = ZMReleaseFile::kMaximumBytes;
        if (previous.contains("release")) addConditionalHeaders(request, previous["release"]);
        Fetched release = fetchBlocking(request, std::nullopt);
        if (release.error) return fail(ZMRequestError::fromTransport(releaseURL, *release.error));
        if (!release.response) return fail(ZMError::make(ZMError::NoNetwork, "Release: no answer"));
        const int status = release.response->statusCode;
        if (status == 304) {
            work.validators["release"] = previous["release"];
            work.aptRelease = previous.value("aptRelease", "");
            work.validators["aptRelease"] = work.aptRelease;
        } else if (release.response->isSuccess()) {
            work.validators["release"] = validatorsOf(*release.response);
            const auto modified = release.response->valueForHTTPHeaderField("Last-Modified");
            if (auto parsed = ZMReleaseFile::parse(release.data, modified.value_or(""))) {
                if (!parsed->name.empty()) work.sourceFields["name"] = parsed->name;
                if (parsed->description) work.sourceFields["Description"] = *parsed->description;
                if (!parsed->maintainer.empty()) work.sourceFields["maintainer"] = parsed->maintainer;
                work.sourceFields["regenDate"] = parsed->regenDate;
                work.aptRelease = parsed->aptText;
                work.listedFiles = parsed->listedFiles;
            } else {
                ZMLOG("{}Release has no fields", location_);
            }
            // Kept to give apt the same Release when the server later answers 304.
            work.validators["aptRelease"] = work.aptRelease;
        } else {
            return fail(ZMRequestError::fromHTTPStatus(releaseURL, status));
        }
        work.sourceFields["iconURL"] = location_ + "CydiaIcon.png";
    }
    setProgress(0.1);

    // 2. Payment endpoint: asked now, stored with the outcome, so nothing is
    // written between the two downloads.
    work.payment = askPaymentEndpoint();
    setProgress(0.2);

    // 3. Packages, through its variants.
    setStatus(ZMLocalizedString("Downloading") + " " + location_ + "Packages");
    const std::string partialDirectory = ZMPaths::subdirectory("SourcesFiles") + "/partial";
    ZMPaths::createDirectories(partialDirectory);
    std::string downloaded;
    // The variants the Release lists first: those exist, and the others are
    // asked for only when none of them answers.
    std::vector<std::string> variants = packagesVariants();
    std::stable_partition(variants.begin(), variants.end(), [&](const std::string& v) {
        return std::find(work.listedFiles.begin(), work.listedFiles.end(), v) != work.listedFiles.end();
    });
    std::optional<std::string> knownVariant;
    if (previous.contains("packages")) {
        std::string v = ZMJSON::stringValue(previous["packages"], "variant");
        for (const auto& candidate : variants)
            if (candidate == v) knownVariant = v;
    }
    auto downloadVariant = [&](const std::string& variant, bool conditional, int& status) -> std::optional<ZMError> {
        const URL url = *URL::parse(location_ + variant);
        auto request = withTimeout(URLRequestZemtrix::VostrelleGetRequestWithURL(url));
        request.maximumBodySize = maximumIndexBytes.load();
        if (conditional) addConditionalHeaders(request, previous["packages"]);
        const std::string destination = partialDirectory + "/" + flatName(location_) + "-" + variant;
        Fetched fetched = fetchBlocking(request, destination);
        if (fetched.error) return ZMRequestError::fromTransport(url, *fetched.error);
        status = fetched.response ? fetched.response->statusCode : 0;
        if (fetched.file && fetched.response && fetched.response->isSuccess()) {
            downloaded = *fetched.file;
            work.variant = variant;
            nlohmann::json v = validatorsOf(*fetched.response);
            v["variant"] = variant;
            work.validators["packages"] = v;
        }
        return std::nullopt;
    };
    if (knownVariant) {
        int status = 0;
        if (auto error = downloadVariant(*knownVariant, true, status)) return fail(*error);
        if (status == 304) {
            // Nothing changed since the last refresh that stored everything.
            work.validators["packages"] = previous["packages"];
            ZMSourceRefreshSummary summary;
            summary.unchanged = true;
            summary.variant = *knownVariant;
            ZMIndexWriter::Job job;
            job.realm = realm;
            job.run = [&](ZMIndexWriter::Session& session) {
                Realm& r = session.realm();
                auto record = r.objectForPrimaryKey<ZMRSource>(location_);
                if (!record) return;
                storeSourceFields(r, *record);
                summary.packages = r.objectsWhere<ZMRPackage>("sourceLocation = %@", location_).count();
            };
            if (auto error = ZMIndexWriter::shared().perform(std::move(job))) return fail(*error);
            ZMLOG("{} unchanged (HTTP 304)", location_);
            handToAPT(copyPath, work.aptRelease);
            settleLists();
            setProgress(1.0);
            return Result::success(summary);
        }
    }
    int lastStatus = 0;
    for (const auto& variant : variants) {
        if (!downloaded.empty()) break;
        int status = 0;
        if (auto error = downloadVariant(variant, false, status)) return fail(*error);
        if (downloaded.empty()) lastStatus = status;
    }
    if (downloaded.empty()) return fail(ZMRequestError::fromHTTPStatus(*URL::parse(location_ + "Packages"), lastStatus));
    setProgress(0.4);
    const auto downloadedAt = std::chrono::steady_clock::now();

    // 4. The index read and checked into a new copy of the list, then into
    // records, on the shared parsing threads; the records written by the
    // shared writer. The copy replaces the old one once everything worked.
    setStatus(ZMLocalizedString("Parsing") + " " + location_ + work.variant);
    std::string head;
    if (FILE* f = std::fopen(downloaded.c_str(), "rb")) {
        head.resize(16);
        head.resize(std::fread(head.data(), 1, head.size(), f));
        std::fclose(f);
    }
    const auto format = DataDecompression::detectFormat(work.variant, head);
    struct stat packed{};
    const double packedBytes = ::stat(downloaded.c_str(), &packed) == 0 ? static_cast<double>(packed.st_size) : 0;
    const double expected = format == DataDecompression::Format::None ? packedBytes : 5.0 * packedBytes;
    const std::string newCopy = copyPath + ".new";
    ZMResult<ZMSourceRefreshSummary> parsed =
        storeIndex(ZMIndexParsing::fileText(downloaded, format, maximumIndexBytes.load()), expected, newCopy,
                   /*handToAPTEarly=*/true);
    removeFile(downloaded);
    const auto storedAt = std::chrono::steady_clock::now();
    ZMLOG("{}: fetched in {:.0f} ms, decompressed, parsed and stored in {:.0f} ms", location_,
          std::chrono::duration<double, std::milli>(downloadedAt - startedAt).count(),
          std::chrono::duration<double, std::milli>(storedAt - downloadedAt).count());
    if (!parsed) {
        removeFile(newCopy);
        if (handedEarly_) restoreAPT(copyPath, previousAptRelease);
        return fail(*parsed.error);
    }
    if (::rename(newCopy.c_str(), copyPath.c_str()) != 0) ZMLOG("could not keep {}: {}", copyPath, std::strerror(errno));
    setProgress(0.95);

    // 5. The private APT tree reads the same packages (already, when it was
    // given the list before the records were written).
    if (!handedEarly_) handToAPT(copyPath, work.aptRelease);
    settleLists();

    std::vector<RefreshedHook> hooks;
    {
        std::lock_guard lock(hooksMutex);
        for (const auto& [id, hook] : refreshedHooks) hooks.push_back(hook);
    }
    for (const auto& hook : hooks) hook(location_);
    auto& center = NotificationCenter::defaultCenter();
    // A new source's first refresh brings thousands: nothing is built for nobody.
    if (!parsed.value->newIdentifiers.empty() && center.observerCount(ZMRSourcePackagesAddedNotification) > 0)
        center.post(ZMRSourcePackagesAddedNotification, std::any(location_),
                    {{ZMRPackageIdentifiersKey, parsed.value->newIdentifiers}});
    {
        std::lock_guard lock(mutex_);
        lastError_.reset();
    }
    setProgress(1.0);
    return parsed;
}

ZMResult<ZMSourceRefreshSummary> ZMSourceRefresh::storeIndex(ZMIndexStream::Text text, double expectedBytes,
                                                             const std::string& listPath, bool handToAPTEarly) {
    using Result = ZMResult<ZMSourceRefreshSummary>;
    Work& work = *work_;
    handedEarly_ = false;
    ZMIndexStore store(location_, work.hostArchitecture, work.updatedDateStr);
    auto opened = ZMIndexParsing::shared().open(std::move(text), listPath, store.accept(), store.convert(),
                                                [this, expectedBytes](double read) {
                                                    if (expectedBytes > 0)
                                                        progress_ = 0.4 + 0.55 * std::min(1.0, read / expectedBytes);
                                                });
    if (!opened) return Result::failure(*opened.error);
    std::shared_ptr<ZMIndexStream> stream = *opened.value;
    auto usable = [](const ZMParseTally& tally) { return !tally.sawText || tally.valid > 0 || tally.foreign > 0; };

    ZMSourceRefreshSummary summary;
    ZMIndexWriter::Job job;
    try {
        job.realm = Realm::defaultRealm();
    } catch (const std::exception& e) {
        return Result::failure(ZMError::make(ZMError::Unknown, e.what()));
    }
    job.cannotFailHalfway = [&stream] { return stream->listComplete(); };
    job.prepare = [&](ZMIndexWriter::Session& session) {
        if (!session.realm().objectForPrimaryKey<ZMRSource>(location_))
            throw RefreshFailure{ZMError::make(ZMError::Unknown, "the source was removed during its refresh")};
        if (stream->listComplete() && !usable(stream->tally()))
            throw RefreshFailure{ZMError::make(ZMError::InvalidServerData, "the index holds no usable package")};
    };
    job.run = [&](ZMIndexWriter::Session& session) {
        const auto started = std::chrono::steady_clock::now();
        summary = store.store(session, *stream);
        summary.variant = work.variant;
        Realm& realm = session.realm();
        auto source = realm.objectForPrimaryKey<ZMRSource>(location_);
        if (!source) throw RefreshFailure{ZMError::make(ZMError::Unknown, "the source was removed during its refresh")};
        source->totalPackages = std::to_string(summary.packages);
        storeSourceFields(realm, *source);
        ZMLOG("{}: records written in {:.0f} ms", location_,
              std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count());
    };
    auto outcome = ZMIndexWriter::shared().submit(std::move(job));
    // apt is given the list as soon as it is complete, so that its caches
    // are rebuilt while the records are still being written; a failure of
    // the records gives apt its previous list back.
    if (!stream->waitForList() && usable(stream->tally())) {
        if (handToAPTEarly) {
            handToAPT(listPath, work.aptRelease);
            handedEarly_ = true;
            settleLists();
        }
    }
    auto failure = outcome.get();
    stream->cancel();
    stream.reset();
    if (failure) return Result::failure(*failure);
    ZMLOG("{}: {} packages ({} new, {} changed, {} removed, {} skipped, {} in a higher version elsewhere)", location_,
          summary.packages, summary.added, summary.changed, summary.removed, summary.skipped, summary.superseded);
    return Result::success(std::move(summary));
}

void ZMSourceRefresh::storeSourceFields(Realm& realm, ZMRSource& source) const {
    const Work& work = *work_;
    for (auto it = work.sourceFields.begin(); it != work.sourceFields.end(); ++it)
        if (it->is_string()) source.setValueForKey(it.key(), RealmArg(it->get<std::string>()));
    source.hasErrors = false;
    source.lastrefresh = ZemtrixExtensions::iso8601String(std::chrono::system_clock::now());
    source.httpValidators = work.validators.empty() ? std::string() : work.validators.dump();
    if (work.payment.change != PaymentEndpoint::Change::Keep) {
        const bool has = work.payment.change == PaymentEndpoint::Change::Set;
        source.hasEndpoint = has;
        source.endpoint = has ? work.payment.endpoint : std::string();
    }
    realm.addOrUpdate(source);
}

void ZMSourceRefresh::storePaymentEndpoint(Realm& realm, ZMRSource& source) const {
    const PaymentEndpoint& answer = work_->payment;
    if (answer.change == PaymentEndpoint::Change::Keep) return;
    const bool has = answer.change == PaymentEndpoint::Change::Set;
    realm.setValueForKey(source, "hasEndpoint", has);
    realm.setValueForKey(source, "endpoint", has ? answer.endpoint : std::string());
}

ZMResult<ZMSourceRefreshSummary> ZMSourceRefresh::packagesFileParserFromPath(const std::string& path) {
    if (!work_) {
        work_ = std::make_unique<Work>();
        work_->updatedDateStr = ZemtrixExtensions::dateMinuteString(std::chrono::system_clock::now());
        work_->hostArchitecture = ZMAPTManager::hostArchitecture();
    }
    struct stat st{};
    const double totalBytes = ::stat(path.c_str(), &st) == 0 ? static_cast<double>(st.st_size) : 0.0;
    const std::string partialDirectory = ZMPaths::subdirectory("SourcesFiles") + "/partial";
    ZMPaths::createDirectories(partialDirectory);
    const std::string listPath = partialDirectory + "/" + flatName(location_) + "-accepted";
    auto result = storeIndex(ZMIndexParsing::fileText(path, DataDecompression::Format::None, maximumIndexBytes.load()),
                             totalBytes, listPath, /*handToAPTEarly=*/false);
    removeFile(listPath);
    return result;
}

void ZMSourceRefresh::restoreAPT(const std::string& copyPath, const std::string& aptRelease) const {
    if (fileExists(copyPath)) {
        handToAPT(copyPath, aptRelease);
        return;
    }
    // Never refreshed before: apt had nothing of this source.
    const std::string prefix =
        ZMAPTManager::treePath() + "/var/lib/apt/lists/" + ZMAPTManager::listFilePrefix(location_);
    removeFile(prefix + "Packages");
    removeFile(prefix + "Release");
    ZMAPTManager::noteListsChanged();
}

void ZMSourceRefresh::handToAPT(const std::string& copyPath, const std::string& aptRelease) const {
    const std::string lists = ZMAPTManager::treePath() + "/var/lib/apt/lists";
    struct stat st{};
    if (ZMAPTManager::isAcceptableSourceLocation(location_) && ::stat(lists.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        const std::string prefix = lists + "/" + ZMAPTManager::listFilePrefix(location_);
        // Files left as they are when nothing changed: apt's caches stay valid.
        bool changed = false;
        if (aptRelease.empty()) {
            changed = ::unlink((prefix + "Release").c_str()) == 0;
        } else if (!sameContent(prefix + "Release", aptRelease)) {
            changed = true;
            if (!writeWholeFile(prefix + "Release", aptRelease)) ZMLOG("could not write {}Release", prefix);
        }
        if (!sameFile(copyPath, prefix + "Packages")) {
            changed = true;
            if (!installCopy(copyPath, prefix + "Packages")) ZMLOG("could not write {}Packages", prefix);
        }
        if (changed) ZMAPTManager::noteListsChanged();
    }
    if (::stat((ZMAPTManager::treePath() + "/apt.conf").c_str(), &st) == 0) try {
        std::vector<std::string> locations;
        for (const auto& v : ZMRSource::allObjects().valueForKey("location"))
            if (v.is_string()) locations.push_back(v.get<std::string>());
        auto written = ZMAPTManager::writeSourcesList(locations);
        if (!written) ZMLOG("sources list not written: {}", written.error->debugDescription());
    } catch (const std::exception& e) {
        ZMLOG("sources list not written: {}", e.what());
    }
}

ZMSourceRefresh::PaymentEndpoint ZMSourceRefresh::askPaymentEndpoint() const {
    PaymentEndpointHook hook;
    {
        std::lock_guard lock(hooksMutex);
        hook = paymentEndpointHook;
    }
    PaymentEndpoint answer{PaymentEndpoint::Change::Clear, {}};
    if (hook) {
        answer.change = PaymentEndpoint::Change::Keep;
        auto promise = std::make_shared<std::promise<PaymentEndpoint>>();
        auto future = promise->get_future();
        auto once = std::make_shared<std::once_flag>();
        hook(location_, [promise, once](PaymentEndpoint value) {
            std::call_once(*once, [&] { promise->set_value(std::move(value)); });
        });
        // A client that never answers must not hold the refresh forever.
        if (future.wait_for(std::chrono::seconds(60)) == std::future_status::ready) answer = future.get();
        else ZMLOG("payment endpoint of {} did not answer", location_);
    }
    return answer;
}

void ZMSourceRefresh::checkPaymentEndpoint() {
    if (!work_) work_ = std::make_unique<Work>();
    work_->payment = askPaymentEndpoint();
    if (work_->payment.change == PaymentEndpoint::Change::Keep) return;
    try {
        ZMIndexWriter::Job job;
        job.run = [&](ZMIndexWriter::Session& session) {
            if (auto source = session.realm().objectForPrimaryKey<ZMRSource>(location_))
                storePaymentEndpoint(session.realm(), *source);
        };
        if (auto error = ZMIndexWriter::shared().perform(std::move(job)))
            ZMLOG("could not store the payment endpoint of {}: {}", location_, error->debugDescription());
    } catch (const std::exception& e) {
        ZMLOG("could not store the payment endpoint of {}: {}", location_, e.what());
    }
}
