#include "Miscellaneous/ZMURLSchemeHandler.h"

#include <algorithm>
#include <cctype>

#include "Database/ZMRSources.h"
#include "Foundation/URL.h"

namespace {

std::string lowercase(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

std::string_view trimBlanks(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

ZMURLAction refuse(std::string problem) {
    ZMURLAction action;
    action.problem = std::move(problem);
    return action;
}

// A value that already is an address ("https://host/a%20b/") keeps its escapes:
// they belong to that address. Anything else was escaped to travel inside ours.
std::string decodeAddress(std::string_view raw) {
    size_t separator = raw.find("://");
    size_t escape = raw.find('%');
    if (separator != std::string_view::npos && (escape == std::string_view::npos || separator < escape))
        return std::string(raw);
    return URLEncoding::decode(raw);
}

const char* problemText(ZMRSourceLocationProblem problem) {
    switch (problem) {
        case ZMRSourceLocationProblem::Empty: return "no source location";
        case ZMRSourceLocationProblem::SchemeOnly: return "source location without a host";
        case ZMRSourceLocationProblem::NoScheme: return "source location without a scheme";
        case ZMRSourceLocationProblem::UnsupportedScheme: return "source location is not http or https";
        case ZMRSourceLocationProblem::InvalidCharacters: return "source location with invalid characters";
        case ZMRSourceLocationProblem::None: break;
    }
    return "invalid source location";
}

// A source location from outside, or the reason it is refused.
bool acceptLocation(const std::string& candidate, std::string& location, std::string& problem) {
    auto normalized = ZMRSources::normalizeSourceLocation(candidate);
    if (!normalized.ok()) {
        problem = problemText(normalized.problem);
        return false;
    }
    auto url = URL::parse(normalized.location);
    if (!url || !url->isHTTP() || url->host().empty()) {
        problem = "source location is not a valid address";
        return false;
    }
    // A host name is letters, digits, dots and hyphens (an IPv6 literal also
    // colons); an escape there only hides something.
    for (unsigned char c : url->host()) {
        if (!std::isalnum(c) && c != '.' && c != '-' && c != ':') {
            problem = "source location with an invalid host";
            return false;
        }
    }
    // Nor may an escape elsewhere stand for a control character.
    if (ZMURLSchemeHandler::containsControlCharacter(URLEncoding::decode(normalized.location))) {
        problem = "source location with escaped control characters";
        return false;
    }
    location = normalized.location;
    return true;
}

constexpr size_t kMaximumValueLength = 1024;

}  // namespace

bool ZMURLSchemeHandler::namesOurScheme(std::string_view text) {
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string scheme = lowercase(text.substr(0, colon));
    return scheme == kScheme || scheme == kStoreCallbackScheme;
}

bool ZMURLSchemeHandler::containsControlCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; });
}

bool ZMURLSchemeHandler::isPlausiblePackageIdentifier(std::string_view identifier) {
    if (identifier.empty() || identifier.size() > 256) return false;
    return std::all_of(identifier.begin(), identifier.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '.' || c == '+' || c == '-' || c == '_';
    });
}

bool ZMURLSchemeHandler::parseParameters(std::string_view text, std::map<std::string, std::string>& out) {
    size_t position = 0;
    while (position <= text.size()) {
        size_t end = text.find('&', position);
        if (end == std::string_view::npos) end = text.size();
        std::string_view pair = text.substr(position, end - position);
        if (!pair.empty()) {
            size_t equals = pair.find('=');
            std::string name = URLEncoding::decode(pair.substr(0, equals), true);
            std::string value =
                equals == std::string_view::npos ? std::string() : URLEncoding::decode(pair.substr(equals + 1), true);
            if (containsControlCharacter(name) || containsControlCharacter(value)) return false;
            out.emplace(lowercase(name), std::move(value));
        }
        position = end + 1;
    }
    return true;
}

ZMURLAction ZMURLSchemeHandler::parse(std::string_view input) {
    if (input.size() > kMaximumLength) return refuse("address too long");
    std::string_view text = trimBlanks(input);
    if (text.empty()) return refuse("empty address");
    if (containsControlCharacter(text)) return refuse("control characters in the address");

    size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0) return refuse("no scheme");
    const std::string scheme = lowercase(text.substr(0, colon));
    if (scheme != kScheme && scheme != kStoreCallbackScheme) return refuse("unknown scheme '" + scheme + "'");
    if (text.substr(colon + 1, 2) != "//") return refuse("no host");
    std::string_view rest = text.substr(colon + 3);

    size_t hostEnd = rest.find_first_of("/?#");
    const std::string host = lowercase(rest.substr(0, hostEnd));
    // After the host: the path form ("/...") or the query form ("?...").
    std::string_view afterHost = hostEnd == std::string_view::npos ? std::string_view() : rest.substr(hostEnd);
    std::string_view pathValue, query;
    bool hasPath = false;
    if (!afterHost.empty() && afterHost.front() == '/') {
        hasPath = true;
        pathValue = afterHost.substr(1);
    } else if (!afterHost.empty() && afterHost.front() == '?') {
        query = afterHost.substr(1);
        size_t hash = query.find('#');
        if (hash != std::string_view::npos) query = query.substr(0, hash);
    }
    std::map<std::string, std::string> queryParameters;
    if (!parseParameters(query, queryParameters)) return refuse("control characters in the parameters");

    ZMURLAction action;
    if (scheme == kStoreCallbackScheme) {
        // The callbacks name their kind in the host, possibly followed by more
        // path; the parameters come as a query.
        std::string_view tail = hasPath ? pathValue : std::string_view();
        size_t q = tail.find('?');
        if (q != std::string_view::npos) {
            std::string_view inner = tail.substr(q + 1);
            size_t hash = inner.find('#');
            if (hash != std::string_view::npos) inner = inner.substr(0, hash);
            if (!parseParameters(inner, queryParameters)) return refuse("control characters in the parameters");
        }
        if (host == "authentication_success") {
            action.kind = ZMURLAction::Kind::AuthenticationSuccess;
        } else if (host == "payment_completed") {
            action.kind = ZMURLAction::Kind::PaymentCompleted;
        } else {
            return refuse("unknown store callback '" + host + "'");
        }
        action.url = std::string(text);
        action.parameters = std::move(queryParameters);
        return action;
    }

    auto firstOf = [&](std::initializer_list<const char*> names) -> std::optional<std::string> {
        for (const char* name : names) {
            auto it = queryParameters.find(name);
            if (it != queryParameters.end()) return it->second;
        }
        return std::nullopt;
    };

    if (host == "add") {
        std::string candidate;
        if (hasPath) {
            candidate = decodeAddress(pathValue);
        } else if (auto value = firstOf({"url", "source", "location", "repo"})) {
            candidate = *value;
        } else {
            return refuse("no source location");
        }
        if (candidate.size() > kMaximumValueLength) return refuse("source location too long");
        if (containsControlCharacter(candidate)) return refuse("control characters in the source location");
        std::string problem;
        if (!acceptLocation(candidate, action.location, problem)) return refuse(problem);
        action.kind = ZMURLAction::Kind::AddSource;
        return action;
    }

    if (host == "url") {
        std::string candidate;
        if (hasPath) {
            candidate = decodeAddress(pathValue);
        } else if (auto value = firstOf({"url"})) {
            candidate = *value;
        } else {
            return refuse("no address");
        }
        if (containsControlCharacter(candidate)) return refuse("control characters in the address");
        auto url = URL::parse(candidate);
        if (!url || !url->isHTTP() || url->host().empty()) return refuse("only http and https addresses are opened");
        action.kind = ZMURLAction::Kind::OpenURL;
        action.url = url->string();
        return action;
    }

    if (host == "show") {
        std::map<std::string, std::string> parameters;
        if (hasPath) {
            std::string_view path = pathValue;
            if (!path.empty() && path.front() == '?') path.remove_prefix(1);
            size_t hash = path.find('#');
            if (hash != std::string_view::npos) path = path.substr(0, hash);
            if (!parseParameters(path, parameters)) return refuse("control characters in the parameters");
        }
        for (auto& [name, value] : queryParameters) parameters.emplace(name, value);
        auto find = [&](const char* name) -> std::string {
            auto it = parameters.find(name);
            return it == parameters.end() ? std::string() : it->second;
        };
        std::string identifier = find("bundleid");
        if (identifier.empty()) identifier = find("package");
        if (identifier.empty()) return refuse("no package identifier");
        if (!isPlausiblePackageIdentifier(identifier)) return refuse("invalid package identifier");
        std::string name = find("name");
        if (name.size() > kMaximumValueLength) return refuse("package name too long");
        std::string repository = find("repo");
        if (!repository.empty()) {
            std::string problem;
            if (!acceptLocation(repository, action.repository, problem)) return refuse(problem);
        }
        action.kind = ZMURLAction::Kind::ShowPackage;
        action.packageIdentifier = identifier;
        action.packageName = name;
        return action;
    }

    if (host == "developer") {
        std::string name;
        if (hasPath) {
            std::string_view path = pathValue;
            size_t hash = path.find('#');
            if (hash != std::string_view::npos) path = path.substr(0, hash);
            name = URLEncoding::decode(path, true);
            // "developer/name=Someone" is the parameter form of the same link.
            if (name.rfind("name=", 0) == 0) name = name.substr(5);
        } else if (auto value = firstOf({"name", "developer"})) {
            name = *value;
        }
        if (containsControlCharacter(name)) return refuse("control characters in the developer name");
        name = std::string(trimBlanks(name));
        if (name.empty()) return refuse("no developer name");
        if (name.size() > 256) return refuse("developer name too long");
        action.kind = ZMURLAction::Kind::ShowDeveloper;
        action.developer = name;
        return action;
    }

    return refuse("unknown host '" + host + "'");
}
