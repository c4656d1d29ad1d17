#include "URL.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

bool isUnreserved(unsigned char c) { return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~'; }
bool isSubDelim(unsigned char c) {
    return c == '!' || c == '$' || c == '&' || c == '\'' || c == '(' || c == ')' || c == '*' || c == '+' ||
           c == ',' || c == ';' || c == '=';
}
bool isHex(unsigned char c) { return std::isxdigit(c) != 0; }

// The characters a URL may carry literally.
bool isURLCharacter(unsigned char c) {
    return isUnreserved(c) || isSubDelim(c) || c == ':' || c == '/' || c == '?' || c == '#' || c == '[' ||
           c == ']' || c == '@' || c == '%';
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// RFC 3986 section 5.2.4.
std::string removeDotSegments(std::string_view input) {
    std::vector<std::string> out;
    bool absolute = !input.empty() && input.front() == '/';
    size_t pos = absolute ? 1 : 0;
    bool trailingSlash = false;
    while (pos <= input.size()) {
        size_t end = input.find('/', pos);
        if (end == std::string_view::npos) end = input.size();
        std::string_view seg = input.substr(pos, end - pos);
        bool last = end == input.size();
        if (seg == ".") {
            trailingSlash = true;
        } else if (seg == "..") {
            if (!out.empty()) out.pop_back();
            trailingSlash = true;
        } else {
            out.emplace_back(seg);
            trailingSlash = false;
        }
        if (last) break;
        pos = end + 1;
    }
    std::string result = absolute ? "/" : "";
    for (size_t i = 0; i < out.size(); ++i) {
        if (i) result += '/';
        result += out[i];
    }
    if (trailingSlash && (result.empty() || result.back() != '/')) result += '/';
    return result;
}

std::string encode(std::string_view text, bool (*keep)(unsigned char)) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (keep(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

}  // namespace

std::optional<URL> URL::parse(std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (!isURLCharacter(c)) return std::nullopt;
        if (c == '%' && (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2]))) return std::nullopt;
    }
    size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || !std::isalpha(static_cast<unsigned char>(text[0])))
        return std::nullopt;
    for (size_t i = 1; i < colon; ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
    }
    URL url;
    url.scheme_ = std::string(text.substr(0, colon));
    std::string_view rest = text.substr(colon + 1);

    if (size_t hash = rest.find('#'); hash != std::string_view::npos) {
        url.fragment_ = std::string(rest.substr(hash + 1));
        rest = rest.substr(0, hash);
    }
    if (size_t q = rest.find('?'); q != std::string_view::npos) {
        url.query_ = std::string(rest.substr(q + 1));
        rest = rest.substr(0, q);
    }
    if (rest.substr(0, 2) == "//") {
        url.hasAuthority_ = true;
        rest.remove_prefix(2);
        size_t slash = rest.find('/');
        std::string_view authority = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
        if (size_t at = authority.rfind('@'); at != std::string_view::npos) {
            url.user_ = std::string(authority.substr(0, at));
            authority.remove_prefix(at + 1);
        }
        std::string_view portText;
        bool hasPort = false;
        if (!authority.empty() && authority.front() == '[') {
            size_t close = authority.find(']');
            if (close == std::string_view::npos) return std::nullopt;
            url.host_ = std::string(authority.substr(1, close - 1));
            std::string_view after = authority.substr(close + 1);
            if (!after.empty()) {
                if (after.front() != ':') return std::nullopt;
                hasPort = true;
                portText = after.substr(1);
            }
        } else {
            size_t c = authority.rfind(':');
            if (c != std::string_view::npos) {
                hasPort = true;
                portText = authority.substr(c + 1);
                authority = authority.substr(0, c);
            }
            if (authority.find_first_of("[]") != std::string_view::npos) return std::nullopt;
            url.host_ = std::string(authority);
        }
        if (hasPort && !portText.empty()) {
            if (portText.size() > 5 || !std::all_of(portText.begin(), portText.end(), [](char ch) {
                    return std::isdigit(static_cast<unsigned char>(ch));
                }))
                return std::nullopt;
            int port = std::stoi(std::string(portText));
            if (port > 65535) return std::nullopt;
            url.port_ = port;
        }
    }
    if (rest.find_first_of("[]") != std::string_view::npos) return std::nullopt;
    url.path_ = std::string(rest);
    return url;
}

std::string URL::string() const {
    std::string s = scheme_ + ":";
    if (hasAuthority_) {
        s += "//";
        if (!user_.empty()) s += user_ + "@";
        s += host_.find(':') != std::string::npos ? "[" + host_ + "]" : host_;
        if (port_) s += ":" + std::to_string(*port_);
    }
    s += path_;
    if (query_) s += "?" + *query_;
    if (fragment_) s += "#" + *fragment_;
    return s;
}

std::optional<int> URL::effectivePort() const {
    if (port_) return port_;
    if (equalsIgnoringCase(scheme_, "http")) return 80;
    if (equalsIgnoringCase(scheme_, "https")) return 443;
    return std::nullopt;
}

bool URL::isHTTP() const { return equalsIgnoringCase(scheme_, "http") || equalsIgnoringCase(scheme_, "https"); }

bool URL::isSameOrigin(const URL& other) const {
    return equalsIgnoringCase(scheme_, other.scheme_) && equalsIgnoringCase(host_, other.host_) &&
           effectivePort() == other.effectivePort();
}

std::optional<URL> URL::resolving(std::string_view reference) const {
    if (auto absolute = parse(reference)) {
        absolute->path_ = absolute->hasAuthority_ ? removeDotSegments(absolute->path_) : absolute->path_;
        return absolute;
    }
    // A relative reference: parse it under a placeholder scheme.
    std::string probe = "x:" + std::string(reference);
    auto ref = parse(probe);
    if (!ref) return std::nullopt;
    URL target = *this;
    target.fragment_ = ref->fragment_;
    if (ref->hasAuthority_) {
        target.user_ = ref->user_;
        target.host_ = ref->host_;
        target.port_ = ref->port_;
        target.path_ = removeDotSegments(ref->path_);
        target.query_ = ref->query_;
        return target;
    }
    if (ref->path_.empty()) {
        if (ref->query_) target.query_ = ref->query_;
        return target;
    }
    if (ref->path_.front() == '/') {
        target.path_ = removeDotSegments(ref->path_);
    } else {
        std::string merged;
        if (hasAuthority_ && path_.empty()) {
            merged = "/" + ref->path_;
        } else {
            size_t slash = path_.rfind('/');
            merged = (slash == std::string::npos ? std::string() : path_.substr(0, slash + 1)) + ref->path_;
        }
        target.path_ = removeDotSegments(merged);
    }
    target.query_ = ref->query_;
    return target;
}

URL URL::appendingPathComponent(std::string_view component) const {
    URL u = *this;
    if (u.path_.empty() || u.path_.back() != '/') u.path_ += '/';
    u.path_ += URLEncoding::encodePathComponent(component);
    return u;
}

URL URL::deletingLastPathComponent() const {
    URL u = *this;
    std::string p = path_;
    if (p.size() > 1 && p.back() == '/') p.pop_back();
    size_t slash = p.rfind('/');
    u.path_ = slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
    u.query_.reset();
    u.fragment_.reset();
    return u;
}

std::string URL::lastPathComponent() const {
    std::string p = path_;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    if (p == "/") return "/";
    size_t slash = p.rfind('/');
    return URLEncoding::decode(slash == std::string::npos ? p : p.substr(slash + 1));
}

URL URL::withoutFragment() const {
    URL u = *this;
    u.fragment_.reset();
    return u;
}

namespace URLEncoding {

std::string encodeQueryValue(std::string_view text, bool spaceAsPlus) {
    auto keep = [](unsigned char c) { return isUnreserved(c); };
    if (!spaceAsPlus) return encode(text, keep);
    std::string out;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != ' ') continue;
        out += encode(text.substr(start, i - start), keep);
        if (i < text.size()) out += '+';
        start = i + 1;
    }
    return out;
}

std::string encodePath(std::string_view text) {
    return encode(text, [](unsigned char c) {
        return isUnreserved(c) || (isSubDelim(c) && c != ';') || c == ':' || c == '@' || c == '/';
    });
}

std::string encodePathComponent(std::string_view text) {
    return encode(text, [](unsigned char c) { return isUnreserved(c) || (isSubDelim(c) && c != ';') || c == ':' || c == '@'; });
}

std::string decode(std::string_view text, bool plusAsSpace) {
    std::string out;
    out.reserve(text.size());
    auto hexValue = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10); };
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%' && i + 2 < text.size() && isHex(text[i + 1]) && isHex(text[i + 2])) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else if (c == '+' && plusAsSpace) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace URLEncoding
