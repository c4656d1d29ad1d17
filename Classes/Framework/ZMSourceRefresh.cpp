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
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "Categories/Data+Decompression.h"
#include "Categories/String+VersionCompare.h"
#include "Categories/String+ZemtrixExtensions.h"
#include "Categories/URLRequest+ZemtrixExtensions.h"
#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageVersion.h"
#include "Database/ZMRSource.h"
#include "Database/ZMRSources.h"
#include "Foundation/URLSession.h"
#include "Miscellaneous/ZMControlParser.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMPaths.h"
#include "Miscellaneous/ZMRequestError.h"
#include "Notifications/NotificationCenter.h"
#include "ZMAPTManager.h"
#include "ZMIndexParsing.h"
#include "ZMPipelineManager.h"
#include "ZMReleaseFile.h"

namespace {

std::mutex hooksMutex;
ZMSourceRefresh::PaymentEndpointHook paymentEndpointHook;
std::map<uint64_t, ZMSourceRefresh::RefreshedHook> refreshedHooks;
uint64_t nextRefreshedHook = 1;
std::atomic<uint64_t> maximumIndexBytes{256ull << 20};

// Stanzas refused are logged one by one up to this many per refresh, then counted.
constexpr size_t kLoggedSkips = 20;
constexpr size_t kChunk = ZMIndexParsing::kChunk;
// A stanza larger than this is refused: apt fails on one of about 1 MiB, and
// Debian's largest are some 40 KiB.
constexpr size_t kMaximumStanzaBytes = 256u << 10;
// Stored with the validators: a source refreshed by a program that wrote its
// lists another way is fetched in full once, not answered from a 304.
constexpr int kListsFormat = 2;

// Thrown inside the write transaction to roll it back with a reason.
using RefreshFailure = ZMIndexFailure;

std::string trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
    return std::string(s.substr(b, e - b));
}

std::string fieldText(const ZMControlStanza& stanza, std::string_view name) {
    auto v = stanza.field(name);
    return v ? trim(*v) : std::string();
}

// A log-safe rendering of untrusted text: control characters escaped, length capped.
std::string printable(std::string_view s) {
    std::string out;
    for (unsigned char c : s.substr(0, 80)) {
        if (c < 0x20 || c == 0x7F) out += fmt::format("\\x{:02x}", c);
        else out.push_back(static_cast<char>(c));
    }
    if (s.size() > 80) out += "…";
    return out;
}

// Whether a comma-separated Tag list holds `tag` (blanks around entries aside).
bool hasTag(std::string_view tags, std::string_view tag) {
    size_t start = 0;
    while (start <= tags.size()) {
        size_t end = tags.find(',', start);
        if (end == std::string_view::npos) end = tags.size();
        std::string_view entry = tags.substr(start, end - start);
        while (!entry.empty() && std::isspace(static_cast<unsigned char>(entry.front()))) entry.remove_prefix(1);
        while (!entry.empty() && std::isspace(static_cast<unsigned char>(entry.back()))) entry.remove_suffix(1);
        if (entry == tag) return true;
        start = end + 1;
    }
    return false;
}

StringList splitRelations(std::string_view text) {
    StringList out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) comma = text.size();
        std::string item = trim(text.substr(start, comma - start));
        // Folded lines of a long Depends field keep their line breaks: flatten them.
        for (char& c : item)
            if (c == '\n' || c == '\t') c = ' ';
        if (!item.empty()) out.push_back(std::move(item));
        start = comma + 1;
    }
    return out;
}

// "Name <mail@host>" -> "mail@host".
std::string emailOf(const std::string& maintainer) {
    size_t open = maintainer.find('<');
    size_t close = maintainer.find('>', open == std::string::npos ? 0 : open);
    if (open == std::string::npos || close == std::string::npos || close <= open + 1) return {};
    return maintainer.substr(open + 1, close - open - 1);
}

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
    // Where the stanzas accepted go, in the index's order (null: nowhere).
    FILE* accepted = nullptr;
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
    auto result = refresh();
    if (result) {
        ZMPipelineManager::postVerbose(
            fmt::format("{}: {} ({} {})", location_, ZMLocalizedString("Done"), result.value->packages,
                        ZMLocalizedString("packages")));
    } else {
        ZMPipelineManager::postVerbose(location_ + ": " + result.error->localizedDescription() + " (" +
                                           result.error->detail + ")",
                                       true);
    }
    const std::string location = location_;
    // The notification goes out after the pipeline has dropped this refresh
    // from its count, so its observers see the count without it.
    ZMPipelineManager::sharedManager().taskDone(shared_from_this(), result.ok(), result.error, [location] {
        NotificationCenter::defaultCenter().post(ZMRSourceUpdatedNotification, std::any(location), nullptr);
    });
}

ZMResult<ZMSourceRefreshSummary> ZMSourceRefresh::refresh() {
    using Result = ZMResult<ZMSourceRefreshSummary>;
    const auto startedAt = std::chrono::steady_clock::now();
    work_ = std::make_unique<Work>();
    Work& work = *work_;
    work.updatedDateStr = ZemtrixExtensions::dateMinuteString(std::chrono::system_clock::now());
    work.hostArchitecture = ZMAPTManager::hostArchitecture();

    auto fail = [&](ZMError error) -> Result {
        ZMLOG("refresh of {} failed: {}", location_, error.debugDescription());
        try {
            auto realm = Realm::defaultRealm();
            realm->transactionWithBlock([&] {
                if (auto source = realm->objectForPrimaryKey<ZMRSource>(location_))
                    realm->setValueForKey(*source, "hasErrors", true);
            });
        } catch (const std::exception& e) {
            ZMLOG("could not mark {} as failed: {}", location_, e.what());
        }
        std::lock_guard lock(mutex_);
        lastError_ = error;
        return Result::failure(std::move(error));
    };

    std::optional<ZMRSource> source;
    try {
        source = ZMRSource::objectForPrimaryKey(location_);
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
    work.validators["format"] = kListsFormat;

    // 1. Release.
    setStatus(ZMLocalizedString("Downloading") + " " + location_ + "Release");
    {
        const URL releaseURL = *URL::parse(location_ + "Release");
        auto request = URLRequestZemtrix::VostrelleGetRequestWithURL(releaseURL);
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
            if (auto parsed = ZMReleaseFile::parse(release.data)) {
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

    // 2. Payment endpoint.
    checkPaymentEndpoint();
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
        auto request = URLRequestZemtrix::VostrelleGetRequestWithURL(url);
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
            try {
                auto realm = Realm::defaultRealm();
                realm->transactionWithBlock([&] {
                    auto record = realm->objectForPrimaryKey<ZMRSource>(location_);
                    if (!record) return;
                    for (auto it = work.sourceFields.begin(); it != work.sourceFields.end(); ++it)
                        record->setValueForKey(it.key(), RealmArg(it->get<std::string>()));
                    record->hasErrors = false;
                    record->lastrefresh = ZemtrixExtensions::iso8601String(std::chrono::system_clock::now());
                    record->httpValidators = work.validators.dump();
                    summary.packages = realm->objectsWhere<ZMRPackage>("sourceLocation = %@", location_).count();
                    realm->addOrUpdate(*record);
                });
            } catch (const std::exception& e) {
                return fail(ZMError::make(ZMError::Unknown, e.what()));
            }
            ZMLOG("{} unchanged (HTTP 304)", location_);
            handToAPT(copyPath, work.aptRelease);
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

    // 4. Decompress on a thread of its own; the text goes on to the parsing
    // threads and this one stores what they make of it, and writes the
    // stanzas it accepted to the copy (kept beside it until everything worked).
    setStatus(ZMLocalizedString("Parsing") + " " + location_ + work.variant);
    const std::string newCopy = copyPath + ".new";
    work.accepted = std::fopen(newCopy.c_str(), "wb");
    if (!work.accepted) {
        removeFile(downloaded);
        return fail(ZMError::make(ZMError::Unknown, "cannot write " + newCopy + ": " + std::strerror(errno)));
    }
    std::string head;
    if (FILE* f = std::fopen(downloaded.c_str(), "rb")) {
        head.resize(16);
        head.resize(std::fread(head.data(), 1, head.size(), f));
        std::fclose(f);
    }
    const auto format = DataDecompression::detectFormat(work.variant, head);
    ZMResult<ZMSourceRefreshSummary> parsed;
    if (format == DataDecompression::Format::None) {
        parsed = packagesFileParserFromPath(downloaded);
    } else {
        ZMHandOver<std::string> pipe;
        std::thread producer([&] {
            pipe.finish(ZMIndexParsing::decompress(downloaded, format, maximumIndexBytes.load(), pipe));
        });
        struct stat packed{};
        const double expected = ::stat(downloaded.c_str(), &packed) == 0 ? 5.0 * static_cast<double>(packed.st_size) : 0;
        parsed = storeIndex(
            [&](std::string& chunk) {
                if (pipe.pop(chunk)) return true;
                // A failed decompression must roll the records back, not end the index early.
                if (auto error = pipe.error()) throw RefreshFailure{*error};
                return false;
            },
            expected);
        pipe.cancel();  // a refused index stops the decompression early
        producer.join();
        // The decompression's own failure (corrupt, truncated, too large) comes first.
        if (auto error = pipe.error()) parsed = ZMResult<ZMSourceRefreshSummary>::failure(*error);
    }
    removeFile(downloaded);
    const bool written = std::fclose(std::exchange(work.accepted, nullptr)) == 0;
    if (parsed && !written) parsed = Result::failure(ZMError::make(ZMError::Unknown, "cannot write " + newCopy));
    const auto storedAt = std::chrono::steady_clock::now();
    ZMLOG("{}: fetched in {:.0f} ms, decompressed, parsed and stored in {:.0f} ms", location_,
          std::chrono::duration<double, std::milli>(downloadedAt - startedAt).count(),
          std::chrono::duration<double, std::milli>(storedAt - downloadedAt).count());
    if (!parsed) {
        removeFile(newCopy);
        return fail(*parsed.error);
    }
    if (::rename(newCopy.c_str(), copyPath.c_str()) != 0) ZMLOG("could not keep {}: {}", copyPath, std::strerror(errno));
    setProgress(0.95);

    // 5. The private APT tree reads the same packages.
    handToAPT(copyPath, work.aptRelease);

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

void ZMSourceRefresh::handToAPT(const std::string& copyPath, const std::string& aptRelease) const {
    const std::string lists = ZMAPTManager::treePath() + "/var/lib/apt/lists";
    struct stat st{};
    if (ZMAPTManager::isAcceptableSourceLocation(location_) && ::stat(lists.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        const std::string prefix = lists + "/" + ZMAPTManager::listFilePrefix(location_);
        if (aptRelease.empty()) removeFile(prefix + "Release");
        else if (!writeWholeFile(prefix + "Release", aptRelease)) ZMLOG("could not write {}Release", prefix);
        if (!installCopy(copyPath, prefix + "Packages")) ZMLOG("could not write {}Packages", prefix);
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

void ZMSourceRefresh::checkPaymentEndpoint() {
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
    if (answer.change == PaymentEndpoint::Change::Keep) return;
    const bool has = answer.change == PaymentEndpoint::Change::Set;
    try {
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] {
            auto source = realm->objectForPrimaryKey<ZMRSource>(location_);
            if (!source) return;
            realm->setValueForKey(*source, "hasEndpoint", has);
            realm->setValueForKey(*source, "endpoint", has ? answer.endpoint : std::string());
        });
    } catch (const std::exception& e) {
        ZMLOG("could not store the payment endpoint of {}: {}", location_, e.what());
    }
}

// ---- the index into the records ---------------------------------------------------------

namespace {

// What the store needs to know about a record the source already owns.
struct OwnedRecord {
    std::string version;
    std::string controlHash;
    bool isInstalled = false;
    std::string installedVersion;
};

// Changing how stanzas become records changes this salt, so every stanza is
// rewritten once after an update of the program.
std::string stanzaHash(std::string_view raw) {
    // The leading number changes whenever a stanza yields more fields: every record is then read anew once.
    return fmt::format("4:{:016x}:{}", std::hash<std::string_view>{}(raw), raw.size());
}

void fillFromStanza(ZMRPackage& r, const ZMControlStanza& stanza, const std::string& identifier,
                    const std::string& version, const std::string& architecture, const std::string& location) {
    r.identifier = identifier;
    r.version = version;
    // Texts the lists show: one plain line, capped.
    auto line = [&](std::string_view field, size_t limit) {
        auto v = stanza.field(field);
        return v ? ZemtrixExtensions::plainTextLine(*v, limit) : std::string();
    };
    r.name = line("Name", ZMReleaseFile::kMaximumNameCharacters);
    if (r.name.empty()) r.name = identifier;
    r.author = line("Author", ZMReleaseFile::kMaximumNameCharacters);
    r.maintainer = line("Maintainer", ZMReleaseFile::kMaximumNameCharacters);
    if (r.maintainer.empty()) r.maintainer = r.author;
    r.contact = emailOf(r.maintainer);
    // The synopsis, as the dpkg status scan keeps it: lists show it, and the
    // long texts of large indexes would double the database.
    r.Description = ZemtrixExtensions::plainTextLine(ZMControlParser::firstLine(fieldText(stanza, "Description")),
                                                     ZMReleaseFile::kMaximumDescriptionCharacters);
    r.category = fieldText(stanza, "Section");
    if (r.category.empty()) r.category = "Default";
    r.sourceLocation = location;
    r.website = fieldText(stanza, "Depiction");
    // Field names compare without case: this covers SileoDepiction, sileoDepiction, Sileodepiction, sileodepiction.
    r.sileoDepiction = fieldText(stanza, "SileoDepiction");
    r.homepage = fieldText(stanza, "Homepage");
    r.iconURL = fieldText(stanza, "Icon");
    r.architecture = architecture;
    r.size = fieldText(stanza, "Size");
    r.installedSize = fieldText(stanza, "Installed-Size");
    // Only an explicit Price makes a package paid here; the store API fills in the rest.
    r.price = fieldText(stanza, "Price");
    // What the queue run carries out after installing (respring, reboot, uicache).
    r.postinstallaction = fieldText(stanza, "Post-Install-Action");
    r.filename = fieldText(stanza, "Filename");
    r.sha256 = fieldText(stanza, "SHA256");
    r.md5sum = fieldText(stanza, "MD5sum");
    r.isCommercial = hasTag(fieldText(stanza, "Tag"), "cydia::commercial");
    r.dependencies = splitRelations(fieldText(stanza, "Depends"));
    r.conflicts = splitRelations(fieldText(stanza, "Conflicts"));
    std::string essential = fieldText(stanza, "Essential");
    if (!essential.empty()) r.isEssential = essential == "yes";
}

// The record fields a stanza decides; an update of a stored record writes
// these and leaves the rest (installed state, queue, wishlist...) alone.
const std::vector<std::string>& stanzaProperties() {
    static const std::vector<std::string> names{
        "name",     "version",        "author",   "maintainer", "contact",  "Description",  "category",
        "sourceLocation", "website",  "sileoDepiction", "homepage", "iconURL",  "architecture", "size",
        "installedSize",  "price",    "isCommercial", "postinstallaction", "filename", "sha256", "md5sum", "dependencies",
        "conflicts",      "controlHash", "isUpdated"};
    return names;
}

}  // namespace

ZMResult<ZMSourceRefreshSummary> ZMSourceRefresh::packagesFileParserFromPath(const std::string& path) {
    using Result = ZMResult<ZMSourceRefreshSummary>;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return Result::failure(ZMError::make(ZMError::Unknown, "cannot read " + path + ": " + std::strerror(errno)));
    struct Closer {
        FILE* f;
        ~Closer() { std::fclose(f); }
    } closer{file};
    struct stat st{};
    const double totalBytes = ::fstat(fileno(file), &st) == 0 ? static_cast<double>(st.st_size) : 0.0;
    return storeIndex(
        [&](std::string& chunk) {
            chunk.resize(kChunk);
            const size_t n = std::fread(chunk.data(), 1, chunk.size(), file);
            chunk.resize(n);
            if (n == 0 && std::ferror(file)) throw RefreshFailure{ZMError::make(ZMError::Unknown, "read error in " + path)};
            return n > 0;
        },
        totalBytes);
}

ZMResult<ZMSourceRefreshSummary> ZMSourceRefresh::storeIndex(const std::function<bool(std::string&)>& next,
                                                             double expectedBytes) {
    using Result = ZMResult<ZMSourceRefreshSummary>;
    if (!work_) {
        work_ = std::make_unique<Work>();
        work_->updatedDateStr = ZemtrixExtensions::dateMinuteString(std::chrono::system_clock::now());
        work_->hostArchitecture = ZMAPTManager::hostArchitecture();
    }
    Work& work = *work_;
    ZMSourceRefreshSummary summary;
    summary.variant = work.variant;

    // Parsing (and turning stanzas into stored rows) runs on threads of its
    // own, ahead of the writer: on a large index it takes longer than the
    // database's own work.
    std::atomic<size_t> logged{0};
    auto skip = [&](ZMParseTally& tally, const std::string& why) {
        ++tally.skipped;
        if (logged++ < kLoggedSkips) ZMLOG("{}: skipping a stanza: {}", location_, why);
    };
    // A stanza is taken only when apt reads it as we do; what is taken goes
    // to apt as served, so that apt and the records know the same packages.
    auto convert = [&](const ZMControlStanza& stanza, ZMParsedBatch& batch, ZMParseTally& tally) {
        if (stanza.raw().size() > kMaximumStanzaBytes)
            return skip(tally, fmt::format("a stanza of {} bytes", stanza.raw().size()));
        if (!stanza.isStrict()) return skip(tally, "malformed stanza (a line that is no field, or a field twice)");
        auto packageField = stanza.field("Package");
        if (!packageField) return skip(tally, "no Package field");
        std::string identifier = trim(*packageField);
        if (!isValidDebianPackageName(identifier))
            return skip(tally, "invalid package name \"" + printable(identifier) + "\"");
        auto versionField = stanza.field("Version");
        std::string version = versionField ? trim(*versionField) : std::string();
        if (!isValidDebianVersion(version))
            return skip(tally, "invalid version \"" + printable(version) + "\" of " + identifier);
        std::string architecture = fieldText(stanza, "Architecture");
        if (!architecture.empty() && architecture != "all" && architecture != work.hostArchitecture) {
            ++tally.foreign;
            return skip(tally, identifier + " is for " + printable(architecture));
        }
        ++tally.valid;
        batch.accepted.append(stanza.raw());
        if (batch.accepted.back() != '\n') batch.accepted.push_back('\n');
        batch.accepted.push_back('\n');
        ZMParsedStanza& parsed = batch.stanzas.emplace_back();
        fillFromStanza(parsed.record, stanza, identifier, version, architecture, location_);
        parsed.hasEssential = stanza.has("Essential");
        parsed.record.controlHash = stanzaHash(stanza.raw());
        parsed.record.updatedDateStr = work.updatedDateStr;
        parsed.record.hasNewVersion = false;
        parsed.row = Realm::storedRow(parsed.record);
    };
    const size_t workers = std::clamp<size_t>(std::thread::hardware_concurrency() / 2, 1, 3);

    auto realm = Realm::defaultRealm();
    auto blockStarted = std::chrono::steady_clock::now(), blockEnded = blockStarted;
    try {
        realm->transactionWithBlock([&] {
            blockStarted = std::chrono::steady_clock::now();
            // Started once the write lock is held: refreshes waiting for it do
            // not each pile up parsed records meanwhile.
            ZMIndexParsing parsing(workers, next, convert, [&](double read) {
                if (expectedBytes > 0) progress_ = 0.4 + 0.55 * std::min(1.0, read / expectedBytes);
            });
            // What the source owns now: identifiers, versions, stanza digests and installed state only.
            std::unordered_map<std::string, OwnedRecord> owned;
            {
                auto records = realm->objectsWhere<ZMRPackage>("sourceLocation = %@", location_)
                                   .sortedResultsUsingKeyPath("identifier", true);
                auto ids = records.valueForKey("identifier");
                auto versions = records.valueForKey("version");
                auto hashes = records.valueForKey("controlHash");
                auto installed = records.valueForKey("isInstalled");
                auto installedVersions = records.valueForKey("installedVersion");
                const size_t n = std::min({ids.size(), versions.size(), hashes.size(), installed.size(),
                                           installedVersions.size()});
                owned.reserve(n);
                for (size_t i = 0; i < n; ++i) {
                    if (!ids[i].is_string()) continue;
                    OwnedRecord o;
                    if (versions[i].is_string()) o.version = versions[i].get<std::string>();
                    if (hashes[i].is_string()) o.controlHash = hashes[i].get<std::string>();
                    o.isInstalled = installed[i].is_boolean() && installed[i].get<bool>();
                    if (installedVersions[i].is_string()) o.installedVersion = installedVersions[i].get<std::string>();
                    owned.emplace(ids[i].get<std::string>(), std::move(o));
                }
            }
            // Records of DPKG or of other sources: only their identifiers until one is met.
            std::unordered_set<std::string> elsewhere;
            for (const auto& id : realm->objects<ZMRPackage>().valueForKey("identifier"))
                if (id.is_string() && !owned.count(id.get<std::string>())) elsewhere.insert(id.get<std::string>());
            realm->deleteObjects(realm->objectsWhere<ZMRPackageVersion>("source = %@", location_));

            // Per identifier taken: the stanza the record holds now, and how its
            // first sight in this index was judged against the records before it.
            struct Taken {
                std::string version;
                bool isInstalled = false;
                std::string installedVersion;
                bool isNew = false;
                bool wasOwned = false;  // by this source before the refresh
                std::string priorVersion;
            };
            std::unordered_map<std::string, Taken> stored;
            stored.reserve(std::max<size_t>(owned.size(), 1024));
            std::unordered_map<std::string, std::optional<ZMRPackage>> adopted;  // records met elsewhere, as they were
            std::unordered_set<std::string> superseded;
            std::unordered_set<std::string> versionKeys;

            // The versions a source offers besides its records' own.
            auto addVersionRow = [&](const ZMRPackage& r, const std::string& source) {
                ZMRPackageVersion row;
                row.versionKey = ZMRPackageVersion::makeKey(source, r.identifier, r.version);
                row.identifier = r.identifier;
                row.version = r.version;
                row.source = source;
                row.fileLocation = r.filename;
                row.size = r.size;
                row.md5sum = r.md5sum;
                row.sha256 = r.sha256;
                row.dependencies = r.dependencies;
                row.conflicts = r.conflicts;
                if (source == location_ && versionKeys.insert(row.versionKey).second) realm->add(row);
                else realm->addOrUpdate(row);
            };
            // New records wait here to be inserted several at a time; anything
            // else that reads or writes the records first writes them out.
            std::vector<const RealmStoredRow*> pendingInserts;
            auto flushInserts = [&] {
                realm->insertStoredRows(pendingInserts);
                pendingInserts.clear();
            };
            // The four shapes of update: with or without Essential, dated or not.
            std::vector<RealmStoredUpdate> updates;
            for (int shape = 0; shape < 4; ++shape) {
                std::vector<std::string> properties = stanzaProperties();
                if (shape & 1) properties.push_back("isEssential");
                if (shape & 2) {
                    properties.push_back("updatedDateStr");
                    properties.push_back("hasNewVersion");
                }
                updates.push_back(Realm::storedUpdate(ZMRPackage::schema(), properties));
            }
            auto update = [&](ZMParsedStanza& parsed, bool dated) {
                // The row made while parsing is a new record's: only these two differ for a stored one.
                Realm::setStoredValue(parsed.row, "isUpdated", parsed.record.isUpdated.value_or(false));
                Realm::setStoredValue(parsed.row, "hasNewVersion", parsed.record.hasNewVersion.value_or(false));
                if (!realm->updateStoredRow(parsed.row, updates[(parsed.hasEssential ? 1 : 0) + (dated ? 2 : 0)]))
                    throw RefreshFailure{ZMError::make(ZMError::Unknown, "the record of " + parsed.record.identifier +
                                                                             " vanished during the refresh")};
            };

            auto take = [&](ZMParsedStanza& parsed) {
                ZMRPackage& record = parsed.record;
                const std::string& identifier = record.identifier;
                const std::string& version = record.version;
                auto already = stored.find(identifier);
                const bool owns = owned.count(identifier) != 0;
                if (already != stored.end() || owns || elsewhere.count(identifier)) flushInserts();
                if (already != stored.end()) {
                    // Listed again: a lower or equal version is one more version of the source.
                    const int order = ZMVersionCompare(version, already->second.version);
                    if (order <= 0) {
                        if (order < 0) addVersionRow(record, location_);
                        return;
                    }
                    // A higher version later in the same index: the one taken before becomes another version,
                    // and this one is judged against what was there before this refresh.
                    if (auto previous = realm->objectForPrimaryKey<ZMRPackage>(identifier))
                        addVersionRow(*previous, location_);
                    const Taken& d = already->second;
                    const bool versionChanged = !d.isNew && d.priorVersion != version;
                    record.hasNewVersion = versionChanged;
                    record.isUpdated = d.isInstalled && ZMRPackage::offersUpdate(version, d.installedVersion);
                    update(parsed, d.isNew || versionChanged);
                    already->second.version = version;
                    return;
                }
                Taken taken{version, false, {}, false, false, {}};
                if (auto own = owned.find(identifier); own != owned.end()) {
                    // Taken from the map: what is left there at the end is gone from the index.
                    taken.wasOwned = true;
                    taken.isInstalled = own->second.isInstalled;
                    taken.installedVersion = std::move(own->second.installedVersion);
                    taken.priorVersion = std::move(own->second.version);
                    const bool unchanged = own->second.controlHash == record.controlHash;
                    owned.erase(own);
                    if (unchanged) {
                        stored.emplace(identifier, std::move(taken));
                        return;  // not even read
                    }
                    const bool versionChanged = taken.priorVersion != version;
                    record.hasNewVersion = versionChanged;
                    record.isUpdated = taken.isInstalled && ZMRPackage::offersUpdate(version, taken.installedVersion);
                    update(parsed, versionChanged);
                } else if (elsewhere.count(identifier)) {
                    auto found = adopted.find(identifier);
                    if (found == adopted.end())
                        found = adopted.emplace(identifier, realm->objectForPrimaryKey<ZMRPackage>(identifier)).first;
                    if (!found->second) {
                        pendingInserts.push_back(&parsed.row);
                        taken.isNew = true;
                    } else {
                        const ZMRPackage& other = *found->second;
                        const bool fromDpkg = other.sourceLocation.empty() || other.sourceLocation == "DPKG";
                        if (!fromDpkg && ZMVersionCompare(version, other.version) <= 0) {
                            // Another source carries it in a higher or equal version.
                            superseded.insert(identifier);
                            addVersionRow(record, location_);
                            return;
                        }
                        // The other source's version stays on offer.
                        if (!fromDpkg) addVersionRow(other, other.sourceLocation);
                        taken.isInstalled = other.isInstalled.value_or(false);
                        taken.installedVersion = other.installedVersion;
                        taken.isNew = fromDpkg;
                        taken.priorVersion = other.version;
                        record.hasNewVersion = !fromDpkg;
                        record.isUpdated = taken.isInstalled && ZMRPackage::offersUpdate(version, taken.installedVersion);
                        update(parsed, true);
                    }
                } else {
                    // Never stored: inserted outright, in the form made while parsing.
                    pendingInserts.push_back(&parsed.row);
                    taken.isNew = true;
                }
                stored.emplace(identifier, std::move(taken));
                superseded.erase(identifier);
            };

            // The accepted text goes to its file on a thread of its own, in order.
            ZMHandOver<std::string> acceptedText(8);
            std::atomic<bool> listFailed{false};
            std::thread listWriter([&] {
                std::string text;
                while (acceptedText.pop(text))
                    if (work.accepted && !listFailed &&
                        std::fwrite(text.data(), 1, text.size(), work.accepted) != text.size())
                        listFailed = true;
            });
            struct Joiner {
                ZMHandOver<std::string>& pipe;
                std::thread& thread;
                void operator()() {
                    pipe.finish(std::nullopt);
                    if (thread.joinable()) thread.join();
                }
                ~Joiner() { (*this)(); }
            } joinListWriter{acceptedText, listWriter};
            ZMParsedBatch batch;
            while (parsing.pop(batch)) {
                for (auto& parsed : batch.stanzas) take(parsed);
                flushInserts();
                acceptedText.push(std::move(batch.accepted));
                parsing.giveBack(std::move(batch));
                batch = ZMParsedBatch();
            }
            joinListWriter();
            if (listFailed) throw RefreshFailure{ZMError::make(ZMError::Unknown, "cannot write the list")};
            if (auto error = parsing.error()) throw RefreshFailure{*error};
            const ZMParseTally tally = parsing.tally();
            if (tally.sawText && tally.valid == 0 && tally.foreign == 0)
                throw RefreshFailure{ZMError::make(ZMError::InvalidServerData, "the index holds no usable package")};
            summary.skipped = tally.skipped;

            // Packages gone from the index: the source's records no stanza took.
            for (const auto& [identifier, record] : owned) {
                auto existing = realm->objectForPrimaryKey<ZMRPackage>(identifier);
                if (!existing) continue;
                ++summary.removed;
                if (existing->isInstalled.value_or(false)) {
                    // Still on the system: keep it visible as a package known only to dpkg.
                    existing->sourceLocation = "DPKG";
                    if (!existing->installedVersion.empty()) existing->version = existing->installedVersion;
                    existing->isUpdated = false;
                    existing->controlHash.clear();
                    realm->addOrUpdate(*existing);
                } else {
                    realm->deleteObject(*existing);
                }
            }
            for (const auto& [identifier, taken] : stored) {
                if (!taken.wasOwned) ++summary.added;
                else if (taken.priorVersion != taken.version) ++summary.changed;
                if (taken.isNew) summary.newIdentifiers.push_back(identifier);
            }
            std::sort(summary.newIdentifiers.begin(), summary.newIdentifiers.end());
            summary.superseded = superseded.size();
            summary.packages = realm->objectsWhere<ZMRPackage>("sourceLocation = %@", location_).count();

            auto source = realm->objectForPrimaryKey<ZMRSource>(location_);
            if (!source) throw RefreshFailure{ZMError::make(ZMError::Unknown, "the source was removed during its refresh")};
            for (auto it = work.sourceFields.begin(); it != work.sourceFields.end(); ++it)
                if (it->is_string()) source->setValueForKey(it.key(), RealmArg(it->get<std::string>()));
            source->hasErrors = false;
            source->totalPackages = std::to_string(summary.packages);
            source->lastrefresh = ZemtrixExtensions::iso8601String(std::chrono::system_clock::now());
            source->httpValidators = work.validators.empty() ? std::string() : work.validators.dump();
            realm->addOrUpdate(*source);
            blockEnded = std::chrono::steady_clock::now();
        });
        ZMLOG("{}: records written in {:.0f} ms, committed in {:.0f} ms", location_,
              std::chrono::duration<double, std::milli>(blockEnded - blockStarted).count(),
              std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - blockEnded).count());
    } catch (const RefreshFailure& failure) {
        return Result::failure(failure.error);
    } catch (const std::exception& e) {
        return Result::failure(ZMError::make(ZMError::Unknown, e.what()));
    }
    ZMLOG("{}: {} packages ({} new, {} changed, {} removed, {} skipped, {} in a higher version elsewhere)", location_,
          summary.packages, summary.added, summary.changed, summary.removed, summary.skipped, summary.superseded);
    return Result::success(summary);
}
