#include "Miscellaneous/ZMRequestError.h"

#include <fmt/format.h>

#include "Foundation/URLError.h"
#include "Miscellaneous/ZMLocalization.h"

namespace ZMRequestError {
namespace {
std::string addressOf(const URL& url) {
    return url.host() + (url.port() ? ":" + std::to_string(*url.port()) : std::string());
}
}  // namespace

ZMError fromTransport(const URL& url, const ZMError& error) {
    const std::string address = addressOf(url);
    const std::string file = url.path();
    auto with = [&](int code, const char* format) {
        return ZMError::make(code, file + ": " + error.detail).withReason(ZMLocalization::format(format, {address, file}));
    };
    switch (URLError::is(error, error.code) ? error.code : URLError::Unknown) {
        case URLError::DataLengthExceedsMaximum:
            return with(ZMError::InvalidServerData, "%@ sent more than the size limit for %@.");
        case URLError::UnsupportedURL:
        case URLError::BadURL:
            return with(ZMError::InvalidServerData, "%@ redirected %@ to an address that is not http or https; it was not followed.");
        case URLError::HTTPTooManyRedirects: return with(ZMError::InvalidServerData, "%@ redirected %@ too many times.");
        case URLError::RedirectRefused:
            return with(ZMError::InvalidServerData, "%@ redirected %@ to an address it may not go to; it was not followed.");
        case URLError::CannotConnectToHost: return with(ZMError::NoNetwork, "%@ refused the connection.");
        case URLError::CannotFindHost: return with(ZMError::NoNetwork, "The server %@ could not be found.");
        case URLError::TimedOut: return with(ZMError::NoNetwork, "%@ did not answer in time.");
        case URLError::NetworkConnectionLost: return with(ZMError::NoNetwork, "The connection to %@ was lost.");
        case URLError::SecureConnectionFailed:
        case URLError::ServerCertificateUntrusted:
            return with(ZMError::NoNetwork, "A secure connection to %@ could not be made.");
        case URLError::NotConnectedToInternet: return ZMError::make(ZMError::NoNetwork, file + ": " + error.detail);
        default: return with(ZMError::NoNetwork, "%@ could not be reached.");
    }
}

ZMError fromHTTPStatus(const URL& url, int status) {
    const std::string address = addressOf(url);
    return ZMError::make(ZMError::InvalidServerData, fmt::format("{}: HTTP {}", url.path(), status))
        .withReason(ZMLocalization::format("%@ answered %@ with HTTP status %@.", {address, url.path(), std::to_string(status)}));
}

}  // namespace ZMRequestError
