#pragma once
// The maker's web API: where it is, how requests to it are built and sent,
// and how its replies are checked. Every client in Online/Services goes
// through here; screens never talk to the API themselves.
//
// Where: the API's base URL is $VOSTRELLE_MAKER_API_URL (or setBaseURL() in
// tests), e.g. "https://api.example.com"; requests go to
// "<base>/vostrelleapi/<path>". The maker's web pages (registration, lost
// password) live under $VOSTRELLE_MAKER_WEB_URL, by default the API's origin.
// Only https is accepted, and plain http only to a loopback address (test
// servers). Unset or unacceptable: every request fails at once, on the
// caller's thread, and nothing is sent.
//
// Requests: every query and form value is percent-encoded from UTF-8, blanks
// as "%20" or "+" as each request wants, so that "&", "=", "%", ";" or a
// line break in a value arrive as one intact value. The fixed client key
// (kClientKey) travels where a request carries it.
//
// Redirects: followed only under mayFollowRedirect(); a refused one fails.
//
// Replies: a body larger than kMaximumReplySize fails; a request that has not
// ended kRequestTimeLimit seconds after it started fails as timed out; a
// status outside 2xx is a failure (its body is never taken for an answer).
// JSON is read with a depth limit and checked field by field (text(),
// httpURL(), positiveInteger()): a field of the wrong type reads as absent.
//
// Threads: the handler runs exactly once, on a background queue of the
// request's own URL session (never the main thread), or at once on the
// caller's thread when nothing could be sent.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Foundation/URL.h"
#include "Foundation/URLRequest.h"
#include "Miscellaneous/ZMError.h"

namespace ZMMakerAPI {

inline constexpr const char* kClientKey = "Quendarix";
inline constexpr const char* kPathHead = "/vostrelleapi/";
// Larger than any list the service serves; a bigger body is an attack or a fault.
inline constexpr uint64_t kMaximumReplySize = 8ull << 20;
// Seconds a whole request may take, connection included.
inline constexpr double kRequestTimeLimit = 60;
// Server texts handed to screens (refusals, rating answers) are cut to this
// many characters: an alert is no place for a page of text.
inline constexpr size_t kMaximumDisplayedText = 1000;

// Failures found by this layer (transport failures keep URLError's domain).
inline constexpr const char* kErrorDomain = "ZMMakerAPIErrorDomain";
enum ErrorCode : int {
    NotConfigured = 1,  // no acceptable base URL: nothing was sent
    HTTPStatus = 2,     // the server answered outside 2xx
    InvalidReply = 3,   // the body is not what the request expects
    SignedOut = 4,      // the request needs a signed-in account: nothing was sent
};
// An error of kErrorDomain; its localized description is `text` localized.
ZMError makeError(int code, const std::string& text);
// Whether the error is of kErrorDomain with that code.
bool isError(const std::optional<ZMError>& error, int code);
// A reply that cannot be read; its text is the "Errors" table's 35.
ZMError invalidReplyError();

// ---- configuration ----------------------------------------------------------
// The API base (without a trailing "/"), or nullopt when none is configured
// or it is not acceptable.
std::optional<URL> baseURL();
// Whether a usable base URL is configured now. Screens ask before they ask
// the service anything: without one they say so in one line and send nothing.
bool isConfigured();
// That line, naming the setting that configures the service.
std::string notConfiguredText();
// Tests: another base URL; nullopt reads $VOSTRELLE_MAKER_API_URL again.
void setBaseURL(std::optional<std::string> url);
// The web site: $VOSTRELLE_MAKER_WEB_URL, else the API base's origin.
std::optional<URL> webURL();
void setWebURL(std::optional<std::string> url);
// "<web>/register/" and "<web>/index.php?lost-password/".
std::optional<URL> registerPageURL();
std::optional<URL> lostPasswordPageURL();
// https with a host, or http to 127.0.0.0/8, ::1 or localhost; no user
// information, query or fragment.
bool isAcceptableServiceURL(const URL& url);
// Tests: a shorter overall limit (nullopt: kRequestTimeLimit).
void setRequestTimeLimit(std::optional<double> seconds);
double requestTimeLimit();

// ---- requests ---------------------------------------------------------------
enum class Blank { Percent20, Plus };
struct Field {
    std::string name;   // written as it stands (e.g. "sources[]")
    std::string value;  // percent-encoded
};
using Fields = std::vector<Field>;
// "name=value&name=value" with every value percent-encoded.
std::string encodeFields(const Fields& fields, Blank blank);

struct Request {
    std::string method = "GET";
    std::string path;   // under kPathHead, e.g. "login/login.php"
    std::string query;  // encoded, without "?"
    std::string body;   // encoded form; POSTs get Content-Type and Content-Length
    // Adds the program's own headers (user agent, device identifier).
    bool programHeaders = false;
};
// A GET with the fields as query.
Request get(const std::string& path, const Fields& query = {}, Blank blank = Blank::Percent20);
// A form POST of the fields.
Request postForm(const std::string& path, const Fields& form, Blank blank = Blank::Percent20);

struct Reply {
    std::string body;
    int statusCode = 0;            // 0 when no status arrived
    std::optional<ZMError> error;  // set for every failure (see the top of the file)
    // The server answered, with a status outside 2xx or too large a body,
    // as opposed to no answer at all (no connection, time limit, not sent).
    bool answered = false;
    bool ok() const { return !error.has_value(); }
};
using ReplyHandler = std::function<void(Reply)>;
void send(const Request& request, ReplyHandler handler);
// Whether a request may follow a redirect to `to`: only to an address the
// configured one could be (https, or http to loopback; no user information),
// and a request carrying a body (the sign-in's password), a cookie or an
// authorization only within its own origin.
bool mayFollowRedirect(const URLRequest& request, const URL& to);

// ---- replies ----------------------------------------------------------------
// The body as JSON, or nullopt (with the reason in `why`). Nesting deeper
// than 64 levels is refused.
std::optional<nlohmann::json> parseJSON(const std::string& body, std::string* why = nullptr);
// A member's text: a string as it is, an integer in decimal; anything else
// (missing, null, array, object, float, boolean) is empty.
std::string text(const nlohmann::json& object, const char* key);
// A member that must be an http(s) URL with a host: the text, or empty.
std::string httpURL(const nlohmann::json& object, const char* key);
bool isHTTPURL(const std::string& text);
// A positive integer that fits 32 bits, given as a number or as decimal text.
std::optional<int32_t> positiveInteger(const nlohmann::json& value);
// The length of a UTF-8 text in UTF-16 units (how the 3-character minimum of
// searches counts).
size_t utf16Length(const std::string& text);
// Server text for the user: invalid UTF-8 replaced, surrounding blanks
// trimmed, cut to kMaximumDisplayedText characters.
std::string displayText(const std::string& body);

// "Error : <description>" in the log, the line every client writes for a failure.
void logFailure(const char* function, int line, const std::string& description);

}  // namespace ZMMakerAPI

#define ZMMAKER_LOG_FAILURE(description) ::ZMMakerAPI::logFailure(__func__, __LINE__, (description))

// The status texts the clients hand to their completions.
inline constexpr const char* kZMStatusSuccess = "Success";
inline constexpr const char* kZMStatusError = "Error";
// A status text ("Success", "Error", a description) or nothing.
using ZMStatusCompletion = std::function<void(std::optional<std::string> status)>;
