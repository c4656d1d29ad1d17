#pragma once
// One pass over a package's screenshots: show the cached files, or download
// every URL at once, keep the images, save them in the screenshot cache and
// record the saved paths on the package record.
//
// Positions: the screenshots that arrive are numbered 1, 2, 3... in the order
// their downloads complete (and decode; at most kConcurrentDownloads run at
// a time, started in list order); a download that fails or brings no
// image takes no number, so images, cache names and recorded paths always run
// 1..k.
//
// The record is written once, when the pass is over, in one transaction
// (never emptied while another pass appends): its `screenshotsLocalPaths`
// become the saved paths in position order, and for a list that came from a
// depiction its `screenshots` become that list. A pass that brought no image
// leaves the record's `screenshots` as they were.
//
// A cancelled pass (the page closed, or a newer pass replaced it) delivers
// nothing more and writes nothing more.
//
// Decoding and PNG encoding belong to the interface (a codec object); they run
// on worker threads, never on the main thread, one at a time per pass: a
// decoder may need the whole picture in memory for a moment, and a
// screenshot is small on the wire but may be huge decoded.
//
// Memory: the images a pass keeps share kMaximumPassBytes. Each is decoded
// to the size the codec shows it at, within what is left of that budget; one
// that would not fit in a useful size is not shown (the others are).
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class URLSession;

// A decoded screenshot, whatever the interface keeps in it.
class ZMScreenshotImage {
public:
    virtual ~ZMScreenshotImage() = default;
    // What its pixels take in memory.
    virtual uint64_t byteCount() const = 0;
};

class ZMScreenshotCodec {
public:
    virtual ~ZMScreenshotCodec() = default;
    // The image in `data` at the size it is shown at, scaled down further
    // when needed to take at most `maximumBytes`; null when the data are no
    // image, one larger than ZMDepictionRequests::kMaximumImagePixels, or
    // `maximumBytes` leaves too little for a useful picture.
    virtual std::shared_ptr<const ZMScreenshotImage> decode(const std::string& data, uint64_t maximumBytes) const = 0;
    // Writes the PNG form of the image as downloaded (`data` are its
    // downloaded bytes) to `path`, atomically.
    virtual bool writePNG(const ZMScreenshotImage& image, const std::string& data, const std::string& path) const = 0;
};

class ZMScreenshotPass : public std::enable_shared_from_this<ZMScreenshotPass> {
public:
    // More URLs than this are not fetched: a document cannot start thousands of downloads.
    static constexpr size_t kMaximumScreenshots = 64;
    // What the decoded images of one pass may take together.
    static constexpr uint64_t kMaximumPassBytes = 48ull << 20;
    // Downloads of one pass under way (or waiting for their decode) at a time.
    static constexpr size_t kConcurrentDownloads = 4;

    using Images = std::map<int, std::shared_ptr<const ZMScreenshotImage>>;
    struct Outcome {
        Images images;  // keyed 1..k
        bool fromCache = false;
        // The cache files shown (from the cache); a download's files are
        // known once the pass recorded them (savedFiles()).
        std::map<int, std::string> files;
    };
    struct Request {
        std::string identifier;
        std::vector<std::string> urls;
        // The record's cached paths: shown instead of downloading when
        // `readCache` is set and there are as many as URLs.
        std::vector<std::string> cachedPaths;
        bool readCache = false;
        // The list is new (from a depiction): the record's URLs become it.
        bool recordsURLs = false;
    };

    // `finished` runs on the main thread once the images are known (for a
    // pass with no URL it never runs); `recorded` after the record has been
    // written. Neither runs after cancel().
    static std::shared_ptr<ZMScreenshotPass> start(Request request, std::shared_ptr<const ZMScreenshotCodec> codec,
                                                   std::function<void(Outcome)> finished,
                                                   std::function<void()> recorded = {});
    // The cache files this pass saved, by position (complete once `recorded` ran).
    std::map<int, std::string> savedFiles() const;
    // Main thread.
    void cancel() { cancelled_ = true; }
    bool isCancelled() const { return cancelled_; }

    // The session the downloads go through (the default configuration, with
    // the shared cache); tests may use another.
    static void setSession(std::shared_ptr<URLSession> session);

private:
    ZMScreenshotPass(Request request, std::shared_ptr<const ZMScreenshotCodec> codec) : request_(std::move(request)), codec_(std::move(codec)) {}
    void run();
    bool showCache();
    void download();
    void downloadNext();
    void arrived(const std::string& data);
    void completed();
    void saved(int position, const std::string& path);
    void finishIfDone();
    void writeRecord(bool downloaded);
    void deliver(Outcome outcome);
    // Decodes within what is left of the budget, one decode of the pass at a time.
    std::shared_ptr<const ZMScreenshotImage> decodeWithinBudget(const std::string& data);

    Request request_;
    std::shared_ptr<const ZMScreenshotCodec> codec_;
    std::function<void(Outcome)> finished_;
    std::function<void()> recorded_;
    std::atomic<bool> cancelled_{false};

    mutable std::mutex mutex_;
    std::mutex codecMutex_;  // one decode or encode of this pass at a time
    uint64_t budgetLeft_ = kMaximumPassBytes;
    size_t expected_ = 0;
    size_t nextDownload_ = 0;
    size_t completed_ = 0;
    int pendingWrites_ = 0;
    bool delivered_ = false;
    bool written_ = false;
    Images images_;
    std::map<int, std::string> paths_;
};
