#pragma once
// A request: URL, method, header fields, body, cache policy and time-out.
#include <cstdint>
#include <optional>
#include <string>

#include "HTTPHeaderFields.h"
#include "URL.h"

enum class URLRequestCachePolicy {
    UseProtocolCachePolicy,        // HTTP caching rules of the session's cache
    ReloadIgnoringLocalCacheData,  // always ask the server (the answer may still be stored)
    ReturnCacheDataElseLoad,       // any stored answer, however old, else the server
    ReturnCacheDataDontLoad,       // only a stored answer; fails without one
};

struct URLRequest {
    URLRequest() = default;
    explicit URLRequest(URL u) : url(std::move(u)) {}

    URL url;
    std::string httpMethod = "GET";
    HTTPHeaderFields headers;
    std::string httpBody;
    // Unset: the session configuration's value applies.
    std::optional<URLRequestCachePolicy> cachePolicy;
    // Seconds without any data moving before the request fails as timed out.
    std::optional<double> timeoutInterval;
    // Seconds the whole transfer may take, redirects included (unset: the
    // session configuration's timeoutIntervalForResource).
    std::optional<double> timeoutIntervalForResource;
    // The largest body accepted, in bytes (0: no limit).
    std::optional<uint64_t> maximumBodySize;
    // Off: a 3xx answer arrives as the response (with its Location) for the
    // caller to follow, e.g. to decide which header fields the next host gets.
    bool followsRedirects = true;
    // A path that is a secret (a store's one-time download ticket): the
    // session's log lines name the scheme, host and port only.
    bool pathIsSecret = false;

    void setValue(std::string_view value, std::string_view field) { headers.set(field, value); }
    std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const { return headers.value(field); }
    // True when the caller itself asked for a conditional answer.
    bool isConditional() const {
        return headers.contains("If-Modified-Since") || headers.contains("If-None-Match");
    }
};
