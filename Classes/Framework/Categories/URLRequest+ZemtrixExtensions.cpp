#include "URLRequest+ZemtrixExtensions.h"

#include <fmt/format.h>

#include "Miscellaneous/ZMPlatform.h"

#ifndef VOSTRELLE_VERSION
#define VOSTRELLE_VERSION "5.0.0"
#endif

namespace URLRequestZemtrix {

std::string shortVersion() { return VOSTRELLE_VERSION; }

URLRequest requestWithURL(const URL& url) {
    URLRequest request(url);
    request.cachePolicy = URLRequestCachePolicy::UseProtocolCachePolicy;
    request.timeoutInterval = 30;
    request.setValue(fmt::format("Vostrelle/{} ({}/{}, like CFNetwork/220.0)", shortVersion(),
                                 ZMPlatform::platformName(), ZMPlatform::firmwareVersion()),
                     "User-Agent");
    request.setValue(ZMPlatform::deviceUDID(), "X-Device-UUID");
    return request;
}

URLRequest VostrelleGetRequestWithURL(const URL& url) {
    URLRequest request(url);
    request.httpMethod = "GET";
    request.cachePolicy = URLRequestCachePolicy::ReloadIgnoringLocalCacheData;
    request.timeoutInterval = 30;
    std::string udid = ZMPlatform::deviceUDID();
    request.setValue(ZMPlatform::deviceModelID(), "X-Machine");
    request.setValue(ZMPlatform::firmwareVersion(), "X-Firmware");
    request.setValue(udid, "X-Unique-ID");
    request.setValue(udid, "X-Cydia-ID");
    request.setValue("Telesphoreo APT-HTTP/1.0.592", "User-Agent");
    return request;
}

std::optional<URLRequest> VostrelleGetRequestWithString(std::string_view string) {
    auto url = URL::parse(string);
    if (!url) return std::nullopt;
    return VostrelleGetRequestWithURL(*url);
}

}  // namespace URLRequestZemtrix
