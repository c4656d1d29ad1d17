#include "String+URLsFromString.h"

#include <locale.h>
#include <wctype.h>

#include <cctype>
#include <optional>

namespace {

locale_t utf8Locale() {
    static locale_t locale = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        return l ? l : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
    }();
    return locale;
}

// Decodes one UTF-8 character at `pos`; a broken sequence reads as U+FFFD of one byte.
char32_t decode(std::string_view s, size_t pos, size_t& length) {
    auto b = static_cast<unsigned char>(s[pos]);
    length = 1;
    if (b < 0x80) return b;
    int extra = (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || pos + static_cast<size_t>(extra) >= s.size()) return 0xFFFD;
    char32_t cp = b & (0x3F >> extra);
    for (int i = 1; i <= extra; ++i) {
        auto c = static_cast<unsigned char>(s[pos + i]);
        if ((c & 0xC0) != 0x80) return 0xFFFD;
        cp = (cp << 6) | (c & 0x3F);
    }
    length = static_cast<size_t>(extra) + 1;
    return cp;
}

bool isWord(char32_t c) {
    if (c < 0x80) return std::isalnum(static_cast<int>(c)) || c == '_';
    if ((c >= 0x300 && c <= 0x36F) || c == 0x200C || c == 0x200D) return true;
    return c != 0xFFFD && iswalnum_l(static_cast<wint_t>(c), utf8Locale());
}

bool isSpace(char32_t c) {
    if (c < 0x80) return std::isspace(static_cast<int>(c));
    return c == 0xA0 || c == 0x2007 || c == 0x202F || c == 0x85 || iswspace_l(static_cast<wint_t>(c), utf8Locale());
}

// Consumes characters while `pred` holds; returns the end position.
template <typename Pred>
size_t span(std::string_view s, size_t pos, Pred pred) {
    while (pos < s.size()) {
        size_t len = 0;
        char32_t c = decode(s, pos, len);
        if (!pred(c)) break;
        pos += len;
    }
    return pos;
}

bool startsWithIgnoringCase(std::string_view s, size_t pos, std::string_view prefix) {
    if (s.size() - pos < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[pos + i])) != prefix[i]) return false;
    return true;
}

// The end of the match starting at `pos`, if one starts there.
std::optional<size_t> matchAt(std::string_view s, size_t pos) {
    if (!startsWithIgnoringCase(s, pos, "http")) return std::nullopt;
    size_t p = pos + 4;
    if (p < s.size() && std::tolower(static_cast<unsigned char>(s[p])) == 's') ++p;
    if (!startsWithIgnoringCase(s, p, "://")) return std::nullopt;
    p += 3;
    size_t hostEnd = span(s, p, [](char32_t c) { return isWord(c) || c == '-' || c == '.'; });
    if (hostEnd == p) return std::nullopt;
    p = hostEnd;
    if (p + 1 < s.size() && s[p] == ':' && std::isdigit(static_cast<unsigned char>(s[p + 1])))
        p = span(s, p + 1, [](char32_t c) { return c < 0x80 && std::isdigit(static_cast<int>(c)); });
    if (p < s.size() && s[p] == '/') {
        p = span(s, p + 1, [](char32_t c) { return isWord(c) || c == '/' || c == '.'; });
        if (p + 1 < s.size() && s[p] == '?') {
            size_t queryEnd = span(s, p + 1, [](char32_t c) { return !isSpace(c); });
            if (queryEnd > p + 1) p = queryEnd;
        }
    }
    return p;
}

}  // namespace

namespace StringURLsFromString {

std::vector<Match> matches(std::string_view text) {
    std::vector<Match> found;
    size_t pos = 0;
    while (pos < text.size()) {
        auto end = matchAt(text, pos);
        if (!end) {
            ++pos;
            continue;
        }
        auto url = URL::parse(text.substr(pos, *end - pos));
        if (url && !url->scheme().empty() && !url->host().empty()) found.push_back({pos, *end - pos, std::move(*url)});
        pos = *end;
    }
    return found;
}

std::vector<URL> URLs(std::string_view text) {
    std::vector<URL> urls;
    for (Match& match : matches(text)) urls.push_back(std::move(match.url));
    return urls;
}

}  // namespace StringURLsFromString
