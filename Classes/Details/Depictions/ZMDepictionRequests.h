#pragma once
// The requests of the depiction readers: size limits, and a GET whose
// identifying header fields only reach the hosts allowed to see them.
//
// Bodies above the limits fail (the transfer stops at the limit): a page or a
// JSON document above kMaximumDocumentSize, an image above kMaximumImageSize.
// Images larger than kMaximumImagePixels are refused by their decoder.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Foundation/URLSession.h"

namespace ZMDepictionRequests {

inline constexpr uint64_t kMaximumDocumentSize = 4ull << 20;
inline constexpr uint64_t kMaximumImageSize = 16ull << 20;
inline constexpr uint64_t kMaximumImagePixels = 40'000'000;

// A GET of an http(s) URL limited to `maximumBodySize`; nullopt for any other
// text (file:, javascript:, no host...).
std::optional<URLRequest> request(const std::string& url, uint64_t maximumBodySize);

// (body, error): the body of a completed answer, whatever its HTTP status,
// or the error that stopped it.
using Completion = std::function<void(std::string data, std::optional<URLResponse> response, std::optional<ZMError> error)>;

// Runs `request`, following redirects itself (at most 16): the header fields
// named in `guarded` go only to hosts for which `mayReceive` answers true;
// once a redirect leaves for another host they are dropped for good.
// Completes on the session's queue.
void fetchGuarded(const std::shared_ptr<URLSession>& session, URLRequest request, std::vector<std::string> guarded,
                  std::function<bool(const std::string& host)> mayReceive, Completion completion);

// Data of an http(s) URL, limited to `maximumBodySize`, through `session`;
// an unusable URL completes at once with URLError::UnsupportedURL.
void fetch(const std::shared_ptr<URLSession>& session, const std::string& url, uint64_t maximumBodySize,
           Completion completion);

}  // namespace ZMDepictionRequests
