#include "Depictions/ZMScreenshotPass.h"

#include <algorithm>
#include <filesystem>

#include "Database/ZMRPackage.h"
#include "Depictions/ZMDepictionRequests.h"
#include "Depictions/ZMScreenshotCache.h"
#include "Dispatch/Dispatch.h"
#include "Foundation/AtomicFile.h"
#include "Foundation/URLSession.h"
#include "Miscellaneous/ZMLog.h"
#include "Realm/Realm.h"

namespace {

std::mutex gSessionMutex;
std::shared_ptr<URLSession> gSession;

std::shared_ptr<URLSession> session() {
    std::lock_guard lock(gSessionMutex);
    // A session of its own: images are decoded on its queue, which would
    // hold up the other answers of the shared session.
    if (!gSession) {
        auto configuration = URLSessionConfiguration::defaultSessionConfiguration();
        configuration.timeoutIntervalForResource = 60;  // a trickling host is not waited on for ever
        gSession = URLSession::sessionWithConfiguration(configuration);
    }
    return gSession;
}

}  // namespace

void ZMScreenshotPass::setSession(std::shared_ptr<URLSession> s) {
    std::lock_guard lock(gSessionMutex);
    gSession = std::move(s);
}

std::shared_ptr<ZMScreenshotPass> ZMScreenshotPass::start(Request request, std::shared_ptr<const ZMScreenshotCodec> codec,
                                                          std::function<void(Outcome)> finished,
                                                          std::function<void()> recorded) {
    if (request.urls.size() > kMaximumScreenshots) request.urls.resize(kMaximumScreenshots);
    std::shared_ptr<ZMScreenshotPass> pass(new ZMScreenshotPass(std::move(request), std::move(codec)));
    pass->finished_ = std::move(finished);
    pass->recorded_ = std::move(recorded);
    Dispatch::defaultQueue([pass] { pass->run(); });
    return pass;
}

void ZMScreenshotPass::run() {
    if (cancelled_) return;
    if (request_.readCache && !request_.cachedPaths.empty() && request_.cachedPaths.size() == request_.urls.size() &&
        showCache())
        return;
    if (request_.urls.empty()) {
        // An empty list from a depiction is recorded; nothing is shown.
        if (request_.recordsURLs) writeRecord(false);
        return;
    }
    download();
}

bool ZMScreenshotPass::showCache() {
    // All paths are checked first; the files are then decoded side by side.
    for (const auto& path : request_.cachedPaths)
        if (!ZMScreenshotCache::isCachePath(path) || !std::filesystem::is_regular_file(path)) return false;
    struct Reading {
        std::mutex mutex;
        Images images;
        size_t remaining;
        bool failed = false;
    };
    auto reading = std::make_shared<Reading>();
    reading->remaining = request_.cachedPaths.size();
    auto self = shared_from_this();
    for (size_t i = 0; i < request_.cachedPaths.size(); ++i) {
        Dispatch::defaultQueue([self, reading, position = static_cast<int>(i) + 1, path = request_.cachedPaths[i]] {
            std::string data;
            auto image = AtomicFile::read(path, data) ? self->decodeWithinBudget(data) : nullptr;
            bool last;
            {
                std::lock_guard lock(reading->mutex);
                if (image) reading->images[position] = std::move(image);
                else reading->failed = true;
                last = --reading->remaining == 0;
            }
            if (!last) return;
            if (!reading->failed) {
                Outcome outcome;
                outcome.fromCache = true;
                outcome.images = std::move(reading->images);
                for (size_t k = 0; k < self->request_.cachedPaths.size(); ++k)
                    outcome.files[static_cast<int>(k) + 1] = self->request_.cachedPaths[k];
                self->deliver(std::move(outcome));
            } else if (!self->request_.urls.empty()) {
                self->download();  // a file that does not decode: the cache failed
            }
        });
    }
    return true;
}

void ZMScreenshotPass::download() {
    expected_ = request_.urls.size();
    for (size_t i = 0; i < std::min(kConcurrentDownloads, request_.urls.size()); ++i) downloadNext();
}

void ZMScreenshotPass::downloadNext() {
    std::string text;
    {
        std::lock_guard lock(mutex_);
        if (nextDownload_ >= request_.urls.size()) return;
        text = request_.urls[nextDownload_++];
    }
    auto self = shared_from_this();
    // The next one starts when this one has been decoded: bodies wait in memory only a few at a time.
    auto done = [self] {
        self->completed();
        self->downloadNext();
    };
    auto r = ZMDepictionRequests::request(text, ZMDepictionRequests::kMaximumImageSize);
    if (!r || cancelled_) {
        Dispatch::defaultQueue(done);
        return;
    }
    session()
        ->dataTaskWithRequest(*r, [self, done](std::string data, std::optional<URLResponse> response, std::optional<ZMError> error) {
            // An error page is no screenshot, even one that is an image.
            if (error || !response || !response->isSuccess() || self->cancelled_) return done();
            // Decoded off the session's queue; numbered as they are ready.
            Dispatch::defaultQueue([self, done, data = std::move(data)] {
                self->arrived(data);
                done();
            });
        })
        ->resume();
}

std::shared_ptr<const ZMScreenshotImage> ZMScreenshotPass::decodeWithinBudget(const std::string& data) {
    std::lock_guard codec(codecMutex_);
    if (cancelled_) return nullptr;
    uint64_t left;
    {
        std::lock_guard lock(mutex_);
        left = budgetLeft_;
    }
    auto image = codec_->decode(data, left);
    if (!image) return nullptr;
    std::lock_guard lock(mutex_);
    budgetLeft_ -= std::min(budgetLeft_, image->byteCount());
    return image;
}

std::map<int, std::string> ZMScreenshotPass::savedFiles() const {
    std::lock_guard lock(mutex_);
    return paths_;
}

void ZMScreenshotPass::arrived(const std::string& data) {
    auto image = decodeWithinBudget(data);
    if (!image) return;
    int position;
    {
        std::lock_guard lock(mutex_);
        position = static_cast<int>(images_.size()) + 1;
        images_[position] = image;
        ++pendingWrites_;
    }
    auto self = shared_from_this();
    Dispatch::defaultQueue([self, image, data, position] {
        std::string written;
        if (!self->cancelled_) {
            std::lock_guard codec(self->codecMutex_);  // an encode may decode the download again
            if (auto path = ZMScreenshotCache::pathForPosition(self->request_.identifier, position);
                path && ZMScreenshotCache::ensureDirectory() && self->codec_->writePNG(*image, data, *path))
                written = *path;
        }
        self->saved(position, written);
    });
}

void ZMScreenshotPass::completed() {
    {
        std::lock_guard lock(mutex_);
        ++completed_;
    }
    finishIfDone();
}

void ZMScreenshotPass::saved(int position, const std::string& path) {
    {
        std::lock_guard lock(mutex_);
        if (!path.empty()) paths_[position] = path;
        --pendingWrites_;
    }
    finishIfDone();
}

void ZMScreenshotPass::finishIfDone() {
    bool deliverNow = false, writeNow = false;
    Outcome outcome;
    {
        std::lock_guard lock(mutex_);
        if (completed_ < expected_) return;
        if (!delivered_) {
            delivered_ = deliverNow = true;
            outcome.images = images_;
        }
        if (pendingWrites_ == 0 && !written_) written_ = writeNow = true;
    }
    // The images go to the screen before the files are written.
    if (deliverNow) deliver(std::move(outcome));
    if (writeNow) writeRecord(true);
}

void ZMScreenshotPass::writeRecord(bool downloaded) {
    if (cancelled_) return;
    StringList paths;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [position, path] : paths_) paths.push_back(path);
    }
    try {
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] {
            auto package = realm->objectForPrimaryKey<ZMRPackage>(request_.identifier);
            if (!package) return;
            if (request_.recordsURLs) realm->setValueForKey(*package, "screenshots", StringList(request_.urls));
            if (downloaded || request_.recordsURLs) realm->setValueForKey(*package, "screenshotsLocalPaths", paths);
        });
    } catch (const std::exception& e) {
        ZMLOG("screenshots of {} not recorded: {}", request_.identifier, e.what());
    }
    auto self = shared_from_this();
    Dispatch::main([self] {
        if (!self->cancelled_ && self->recorded_) self->recorded_();
    });
}

void ZMScreenshotPass::deliver(Outcome outcome) {
    auto self = shared_from_this();
    Dispatch::main([self, outcome = std::move(outcome)]() mutable {
        if (!self->cancelled_ && self->finished_) self->finished_(std::move(outcome));
    });
}
