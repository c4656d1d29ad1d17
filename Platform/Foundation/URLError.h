#pragma once
// Transport failures of URL sessions: ZMError values of the domain
// URLError::kDomain with the codes below (HTTP statuses are not errors; they
// arrive in the response).
#include <string>

#include "Miscellaneous/ZMError.h"

namespace URLError {
inline constexpr const char* kDomain = "URLErrorDomain";
enum Code : int {
    Unknown = -1,
    Cancelled = -999,
    BadURL = -1000,
    TimedOut = -1001,
    UnsupportedURL = -1002,  // any scheme but http and https, also after a redirect
    CannotFindHost = -1003,
    CannotConnectToHost = -1004,
    NetworkConnectionLost = -1005,
    HTTPTooManyRedirects = -1007,
    RedirectRefused = -1050,  // the session's redirect policy said no
    ResourceUnavailable = -1008,  // ReturnCacheDataDontLoad without a stored answer
    NotConnectedToInternet = -1009,
    CannotDecodeContentData = -1016,
    DataLengthExceedsMaximum = -1103,
    SecureConnectionFailed = -1200,
    ServerCertificateUntrusted = -1202,
    CannotCreateFile = -3000,
    CannotWriteToFile = -3003,
};
// The English description of a code ("The request timed out.").
std::string description(int code);
// An error of this domain; detail is the description plus `extra` when given.
ZMError make(int code, const std::string& extra = {});
inline bool is(const ZMError& e, int code) { return e.domain == kDomain && e.code == code; }
}  // namespace URLError
