#pragma once
// The answer of a server: the final URL (after redirects), HTTP status and
// header fields. Repeated fields are joined with ", ".
#include <cstdint>
#include <optional>
#include <string>

#include "HTTPHeaderFields.h"
#include "URL.h"

struct URLResponse {
    URL url;
    int statusCode = 0;
    HTTPHeaderFields headers;
    // The request was answered from the session's cache (also after a 304
    // revalidation the session did on its own).
    bool fromCache = false;

    std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const { return headers.value(field); }
    // Content-Length when the server sent one, else -1.
    int64_t expectedContentLength() const;
    // The media type of Content-Type, lower-cased, without parameters.
    std::string mimeType() const;
    bool isSuccess() const { return statusCode >= 200 && statusCode < 300; }
};
