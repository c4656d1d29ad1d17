#include "URLError.h"

namespace URLError {

std::string description(int code) {
    switch (code) {
    case Cancelled: return "cancelled";
    case BadURL: return "unsupported URL";
    case TimedOut: return "The request timed out.";
    case UnsupportedURL: return "unsupported URL";
    case CannotFindHost: return "A server with the specified hostname could not be found.";
    case CannotConnectToHost: return "Could not connect to the server.";
    case NetworkConnectionLost: return "The network connection was lost.";
    case HTTPTooManyRedirects: return "too many HTTP redirects";
    case RedirectRefused: return "a redirect to another address was refused";
    case ResourceUnavailable: return "The requested resource is not available.";
    case NotConnectedToInternet: return "The Internet connection appears to be offline.";
    case CannotDecodeContentData: return "cannot decode raw data";
    case DataLengthExceedsMaximum: return "resource exceeds maximum size";
    case SecureConnectionFailed: return "An SSL error has occurred and a secure connection to the server cannot be made.";
    case ServerCertificateUntrusted: return "The certificate for this server is invalid.";
    case CannotCreateFile: return "cannot create file";
    case CannotWriteToFile: return "cannot write file";
    default: return "unknown error";
    }
}

ZMError make(int code, const std::string& extra) {
    ZMError e;
    e.domain = kDomain;
    e.code = code;
    e.detail = description(code);
    if (!extra.empty()) e.detail += " (" + extra + ")";
    return e;
}

}  // namespace URLError
