#pragma once
// A failed request said as what happened, for the user: the server's address
// with its port, and whether it refused the connection, did not answer in
// time, redirected where we do not follow, sent too much or answered with an
// HTTP error status. The codes stay those of the program's domain (32 for a
// server that cannot be reached, 35 for one whose answer is refused); the
// reason carries the words.
#include "Foundation/URL.h"
#include "Miscellaneous/ZMError.h"

namespace ZMRequestError {
// From a transport error of a URL session (URLError's domain).
ZMError fromTransport(const URL& url, const ZMError& error);
// From an answer whose HTTP status is not a success.
ZMError fromHTTPStatus(const URL& url, int status);
}  // namespace ZMRequestError
