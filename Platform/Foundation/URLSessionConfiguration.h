#pragma once
// How a session behaves: cache, cache policy, time-outs, size limits and the
// header fields added to every request.
#include <cstdint>
#include <functional>
#include <memory>

#include "HTTPHeaderFields.h"
#include "URLRequest.h"

class URLCache;

struct URLSessionConfiguration {
    // The shared on-disk cache, protocol cache policy.
    static URLSessionConfiguration defaultSessionConfiguration();
    // No cache on disk: nothing is read from or written to a cache.
    static URLSessionConfiguration ephemeralSessionConfiguration();
    // Ephemeral, local cache data ignored, no URL cache at all.
    static URLSessionConfiguration noCacheConfigureation();

    std::shared_ptr<URLCache> urlCache;  // null: no caching
    URLRequestCachePolicy requestCachePolicy = URLRequestCachePolicy::UseProtocolCachePolicy;
    // Seconds a request may go without any data moving (requests may override).
    double timeoutIntervalForRequest = 30.0;
    // Seconds a whole transfer may take (0: no limit).
    double timeoutIntervalForResource = 0;
    // Largest body of a data task kept in memory (0: no limit).
    uint64_t maximumDataTaskBodySize = 256ull << 20;
    // Largest file a download task writes (0: no limit).
    uint64_t maximumDownloadSize = 0;
    int maximumRedirects = 16;
    // When set, the session follows redirects itself and asks this first
    // (on the network thread; keep it quick): may `request`, as it was sent,
    // go on to `to`? A refusal fails the task with URLError::RedirectRefused.
    // The request that follows keeps method and body on 307 and 308 and
    // becomes a GET without body after 301, 302 (from a POST) and 303; it
    // loses Authorization and Cookie when it leaves the origin.
    std::function<bool(const URLRequest& request, const URL& to)> redirectPolicy;
    // Added to every request unless the request sets the field itself.
    HTTPHeaderFields additionalHeaders;
    // Cookies set by servers are kept for the session's later requests.
    bool keepsCookies = true;
};
