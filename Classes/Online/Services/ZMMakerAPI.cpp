#include "Services/ZMMakerAPI.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <mutex>

#include <fmt/format.h>

#include "Categories/URLRequest+ZemtrixExtensions.h"
#include "Foundation/URLSession.h"
#include "Miscellaneous/ZMJSON.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"

namespace ZMMakerAPI {

namespace {

struct Settings {
    std::mutex mutex;
    std::optional<std::string> base, web;
    std::optional<double> timeLimit;
};
Settings& settings() {
    static auto* s = new Settings;
    return *s;
}

std::optional<std::string> configured(std::optional<std::string> Settings::*member, const char* variable) {
    {
        auto& s = settings();
        std::lock_guard lock(s.mutex);
        if (s.*member) return s.*member;
    }
    const char* env = std::getenv(variable);
    if (env && *env) return std::string(env);
    return std::nullopt;
}

bool isLoopbackHost(const std::string& host) {
    if (host == "localhost" || host == "::1") return true;
    in_addr address{};
    return inet_pton(AF_INET, host.c_str(), &address) == 1 && (ntohl(address.s_addr) >> 24) == 127;
}

// The configured text as a service URL, without a trailing "/".
std::optional<URL> serviceURL(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    auto url = URL::parse(*text);
    if (!url || !isAcceptableServiceURL(*url)) return std::nullopt;
    std::string path = url->path();
    while (!path.empty() && path.back() == '/') path.pop_back();
    url->setPath(path);
    return url;
}

// Code points of valid UTF-8; anything else becomes U+FFFD.
std::string validUTF8(const std::string& in) {
    std::string out;
    out.reserve(in.size());
    size_t i = 0;
    while (i < in.size()) {
        unsigned char c = static_cast<unsigned char>(in[i]);
        size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        bool valid = length > 0 && i + length <= in.size();
        for (size_t k = 1; valid && k < length; ++k) valid = (static_cast<unsigned char>(in[i + k]) >> 6) == 0x2;
        if (valid && length == 2) valid = c >= 0xC2;
        if (valid && length == 3) {
            unsigned char d = static_cast<unsigned char>(in[i + 1]);
            valid = !(c == 0xE0 && d < 0xA0) && !(c == 0xED && d >= 0xA0);
        }
        if (valid && length == 4) {
            unsigned char d = static_cast<unsigned char>(in[i + 1]);
            valid = c <= 0xF4 && !(c == 0xF0 && d < 0x90) && !(c == 0xF4 && d >= 0x90);
        }
        if (valid) {
            out.append(in, i, length);
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

constexpr int kMaximumJSONDepth = ZMJSON::kMaximumDepth;

}  // namespace

ZMError makeError(int code, const std::string& text) { return ZMError{kErrorDomain, code, text, {}}; }

bool isError(const std::optional<ZMError>& error, int code) {
    return error && error->domain == kErrorDomain && error->code == code;
}

ZMError invalidReplyError() {
    return makeError(InvalidReply, ZMError::make(ZMError::InvalidServerData).localizedDescription());
}

// ---- configuration ----------------------------------------------------------

bool isAcceptableServiceURL(const URL& url) {
    if (!url.hasAuthority() || url.host().empty() || !url.user().empty() || url.query() || url.fragment()) return false;
    std::string scheme = url.scheme();
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (scheme == "https") return true;
    return scheme == "http" && isLoopbackHost(url.host());
}

bool mayFollowRedirect(const URLRequest& request, const URL& to) {
    // The configured address's rule (a query is fine here: it is the server's own).
    std::string scheme = to.scheme();
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!to.hasAuthority() || to.host().empty() || !to.user().empty()) return false;
    if (scheme != "https" && !(scheme == "http" && isLoopbackHost(to.host()))) return false;
    // What a request carries for its own server stays there.
    const bool carriesSecrets = !request.httpBody.empty() || request.headers.contains("Authorization") ||
                                request.headers.contains("Cookie");
    return !carriesSecrets || request.url.isSameOrigin(to);
}

std::optional<URL> baseURL() { return serviceURL(configured(&Settings::base, "VOSTRELLE_MAKER_API_URL")); }

bool isConfigured() { return baseURL().has_value(); }

std::string notConfiguredText() {
    return ZMLocalizedString("The online service is not configured (set VOSTRELLE_MAKER_API_URL to use it).");
}

void setBaseURL(std::optional<std::string> url) {
    auto& s = settings();
    std::lock_guard lock(s.mutex);
    s.base = std::move(url);
}

std::optional<URL> webURL() {
    if (auto web = configured(&Settings::web, "VOSTRELLE_MAKER_WEB_URL")) return serviceURL(web);
    auto base = baseURL();
    if (!base) return std::nullopt;
    base->setPath("");
    return base;
}

void setWebURL(std::optional<std::string> url) {
    auto& s = settings();
    std::lock_guard lock(s.mutex);
    s.web = std::move(url);
}

std::optional<URL> registerPageURL() {
    auto web = webURL();
    return web ? URL::parse(web->string() + "/register/") : std::nullopt;
}

std::optional<URL> lostPasswordPageURL() {
    auto web = webURL();
    return web ? URL::parse(web->string() + "/index.php?lost-password/") : std::nullopt;
}

void setRequestTimeLimit(std::optional<double> seconds) {
    auto& s = settings();
    std::lock_guard lock(s.mutex);
    s.timeLimit = seconds;
}

double requestTimeLimit() {
    auto& s = settings();
    std::lock_guard lock(s.mutex);
    return s.timeLimit.value_or(kRequestTimeLimit);
}

// ---- requests ---------------------------------------------------------------

std::string encodeFields(const Fields& fields, Blank blank) {
    std::string out;
    for (const auto& field : fields) {
        if (!out.empty()) out += '&';
        out += field.name;
        out += '=';
        out += URLEncoding::encodeQueryValue(field.value, blank == Blank::Plus);
    }
    return out;
}

Request get(const std::string& path, const Fields& query, Blank blank) {
    Request request;
    request.path = path;
    request.query = encodeFields(query, blank);
    return request;
}

Request postForm(const std::string& path, const Fields& form, Blank blank) {
    Request request;
    request.method = "POST";
    request.path = path;
    request.body = encodeFields(form, blank);
    return request;
}

void send(const Request& request, ReplyHandler handler) {
    auto base = baseURL();
    if (!base) {
        Reply reply;
        reply.error = makeError(NotConfigured, notConfiguredText());
        handler(std::move(reply));
        return;
    }
    std::string text = base->string() + kPathHead + request.path;
    if (!request.query.empty()) text += "?" + request.query;
    auto url = URL::parse(text);
    if (!url) {
        // Paths are ours and values are encoded: this would be a fault of a client.
        Reply reply;
        reply.error = URLError::make(URLError::BadURL, request.path);
        handler(std::move(reply));
        return;
    }

    URLRequest urlRequest = request.programHeaders ? URLRequestZemtrix::requestWithURL(*url) : URLRequest(*url);
    urlRequest.httpMethod = request.method;
    if (request.method == "POST") {
        urlRequest.httpBody = request.body;
        urlRequest.setValue(std::to_string(request.body.size()), "Content-Length");
        urlRequest.setValue("application/x-www-form-urlencoded", "Content-Type");
    }
    urlRequest.maximumBodySize = kMaximumReplySize;

    // A session per request, as cheap as a request: each completion runs on
    // a queue of its own, so one slow handler never holds back another.
    auto configuration = URLSessionConfiguration::noCacheConfigureation();
    configuration.timeoutIntervalForResource = requestTimeLimit();
    configuration.maximumDataTaskBodySize = kMaximumReplySize;
    configuration.keepsCookies = false;
    configuration.redirectPolicy = mayFollowRedirect;
    auto session = URLSession::sessionWithConfiguration(std::move(configuration));
    session
        ->dataTaskWithRequest(
            urlRequest,
            [handler = std::move(handler)](std::string data, std::optional<URLResponse> response,
                                           std::optional<ZMError> error) {
                Reply reply;
                if (response) reply.statusCode = response->statusCode;
                reply.answered =
                    response.has_value() || (error && URLError::is(*error, URLError::DataLengthExceedsMaximum));
                if (error) {
                    reply.error = std::move(error);
                } else if (!response) {
                    reply.error = URLError::make(URLError::Unknown);
                } else if (!response->isSuccess()) {
                    reply.error = makeError(
                        HTTPStatus,
                        fmt::format(fmt::runtime(ZMLocalizedString("The server answered with HTTP status {}.")),
                                    response->statusCode));
                } else {
                    reply.body = std::move(data);
                }
                handler(std::move(reply));
            })
        ->resume();
}

// ---- replies ----------------------------------------------------------------

std::optional<nlohmann::json> parseJSON(const std::string& body, std::string* why) {
    return ZMJSON::parse(body, why, kMaximumJSONDepth);
}

std::string text(const nlohmann::json& object, const char* key) {
    if (!object.is_object()) return {};
    auto it = object.find(key);
    if (it == object.end()) return {};
    if (it->is_string()) return it->get<std::string>();
    if (it->is_number_integer()) return std::to_string(it->get<int64_t>());
    if (it->is_number_unsigned()) return std::to_string(it->get<uint64_t>());
    return {};
}

bool isHTTPURL(const std::string& text) {
    auto url = URL::parse(text);
    return url && url->isHTTP() && url->hasAuthority() && !url->host().empty();
}

std::string httpURL(const nlohmann::json& object, const char* key) {
    std::string value = text(object, key);
    return isHTTPURL(value) ? value : std::string();
}

std::optional<int32_t> positiveInteger(const nlohmann::json& value) {
    int64_t number = 0;
    if (value.is_number_integer()) {
        number = value.get<int64_t>();
    } else if (value.is_string()) {
        const auto& s = value.get_ref<const std::string&>();
        if (s.empty() || s.size() > 10) return std::nullopt;
        for (char c : s) {
            if (c < '0' || c > '9') return std::nullopt;
            number = number * 10 + (c - '0');
        }
    } else {
        return std::nullopt;
    }
    if (number <= 0 || number > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(number);
}

size_t utf16Length(const std::string& text) {
    size_t units = 0;
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) != 0x80) units += byte >= 0xF0 ? 2 : 1;
    }
    return units;
}

std::string displayText(const std::string& body) {
    std::string text = validUTF8(body);
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    text = text.substr(first, text.find_last_not_of(blanks) - first + 1);
    size_t characters = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (++characters > kMaximumDisplayedText) {
            text.resize(i);
            text += "\xE2\x80\xA6";
            break;
        }
    }
    return text;
}

void logFailure(const char* function, int line, const std::string& description) {
    ZMLog::write(function, line, "Error : " + description);
}

}  // namespace ZMMakerAPI
