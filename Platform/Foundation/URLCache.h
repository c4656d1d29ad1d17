#pragma once
// An on-disk cache of HTTP answers, keyed by URL, following the HTTP caching
// rules that matter here: Cache-Control (no-store, no-cache, max-age),
// Expires, and the Last-Modified heuristic; stale answers with an ETag or
// Last-Modified are revalidated with a conditional request.
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "URLRequest.h"
#include "URLResponse.h"

class URLCache {
public:
    struct Entry {
        URLResponse response;
        std::string data;
        std::time_t storedAt = 0;  // when the answer arrived (or was last revalidated)
    };

    // directory empty: <application support>/URLCache, looked up at each use.
    explicit URLCache(std::string directory = {}, uint64_t diskCapacity = 64ull << 20);
    // The cache of the default configuration.
    static std::shared_ptr<URLCache> sharedURLCache();

    std::optional<Entry> cachedResponseForRequest(const URLRequest& request) const;
    void storeCachedResponse(const Entry& entry, const URLRequest& request);
    void removeCachedResponseForRequest(const URLRequest& request);
    void removeAllCachedResponses();
    uint64_t currentDiskUsage() const;
    uint64_t diskCapacity() const { return diskCapacity_; }
    std::string directory() const;

    // May this answer to this request be stored?
    static bool isStorable(const URLRequest& request, const URLResponse& response, uint64_t size, uint64_t capacity);
    // Is the stored answer still fresh at `now` for this request?
    static bool isFresh(const Entry& entry, const URLRequest& request, std::time_t now);
    // Can a stale entry be revalidated (has ETag or Last-Modified)?
    static bool canRevalidate(const Entry& entry);

private:
    std::string fileFor(const URLRequest& request) const;
    void trim() const;

    std::string directory_;
    uint64_t diskCapacity_;
    mutable std::mutex mutex_;
};
