#pragma once
// The two kinds of request the program builds for servers: its own
// (program user agent and device id) and the APT-style one that repositories
// expect (machine, firmware and device id headers, APT's user agent).
#include <optional>
#include <string_view>

#include "Foundation/URLRequest.h"

namespace URLRequestZemtrix {
// GET, protocol cache policy, 30 s time-out, "User-Agent"
// "Vostrelle/<short version> (<platform name>/<firmware>, like CFNetwork/220.0)"
// and "X-Device-UUID".
URLRequest requestWithURL(const URL& url);
// GET, local cache ignored, 30 s time-out, "X-Machine", "X-Firmware",
// "X-Unique-ID", "X-Cydia-ID" and "User-Agent" "Telesphoreo APT-HTTP/1.0.592";
// never "If-Modified-Since".
URLRequest VostrelleGetRequestWithURL(const URL& url);
// The same for a URL given as text; nullopt when the text is no URL.
std::optional<URLRequest> VostrelleGetRequestWithString(std::string_view string);

// The short version the user agent carries.
std::string shortVersion();
}  // namespace URLRequestZemtrix
