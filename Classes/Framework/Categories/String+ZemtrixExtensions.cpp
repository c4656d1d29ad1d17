#include "String+ZemtrixExtensions.h"

#include <algorithm>
#include <ctime>

#include "Miscellaneous/ZMLocalization.h"

namespace ZemtrixExtensions {
namespace {

// Reads exactly `count` digits at `pos`.
bool digits(const std::string& text, size_t& pos, size_t count, int& value) {
    if (pos + count > text.size()) return false;
    value = 0;
    for (size_t i = 0; i < count; ++i) {
        char c = text[pos + i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    pos += count;
    return true;
}

bool expect(const std::string& text, size_t& pos, char c) {
    if (pos >= text.size() || text[pos] != c) return false;
    ++pos;
    return true;
}

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

// "yyyy-MM-dd", then `separator`, then "HH:mm" and, when `seconds`, ":ss".
bool readDateTime(const std::string& text, size_t& pos, char separator, bool seconds, std::tm& tm) {
    int year, month, day, hour, minute, second = 0;
    if (!digits(text, pos, 4, year) || !expect(text, pos, '-') || !digits(text, pos, 2, month) ||
        !expect(text, pos, '-') || !digits(text, pos, 2, day) || !expect(text, pos, separator) ||
        !digits(text, pos, 2, hour) || !expect(text, pos, ':') || !digits(text, pos, 2, minute))
        return false;
    if (seconds && (!expect(text, pos, ':') || !digits(text, pos, 2, second))) return false;
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 || minute > 59 ||
        second > 59)
        return false;
    tm = {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return true;
}

std::string format(Clock::time_point date, const char* pattern, bool utc) {
    std::time_t seconds = Clock::to_time_t(date);
    std::tm tm{};
    if (utc) gmtime_r(&seconds, &tm); else localtime_r(&seconds, &tm);
    char buffer[64];
    size_t n = std::strftime(buffer, sizeof buffer, pattern, &tm);
    return std::string(buffer, n);
}

// Puts the count into a localized format. The translation is data, so it is
// never used as a printf format: only its "%.0f" placeholder is replaced.
std::string fill(const char* key, long long count) {
    std::string text = ZMLocalizedString(key);
    const std::string placeholder = "%.0f";
    auto at = text.find(placeholder);
    if (at == std::string::npos) return text;
    return text.replace(at, placeholder.size(), std::to_string(count));
}

}  // namespace

std::optional<Clock::time_point> dateFromISO8601(const std::string& text) {
    size_t pos = 0;
    std::tm tm{};
    if (!readDateTime(text, pos, 'T', true, tm)) return std::nullopt;
    std::chrono::microseconds fraction{0};
    if (pos < text.size() && (text[pos] == '.' || text[pos] == ',')) {
        ++pos;
        size_t start = pos;
        long long micro = 0;
        int used = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            if (used < 6) {
                micro = micro * 10 + (text[pos] - '0');
                ++used;
            }
            ++pos;
        }
        if (pos == start) return std::nullopt;
        while (used++ < 6) micro *= 10;
        fraction = std::chrono::microseconds(micro);
    }
    long offsetSeconds = 0;
    if (pos < text.size() && text[pos] == 'Z') {
        ++pos;
    } else if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        int sign = text[pos] == '-' ? -1 : 1;
        ++pos;
        int hours, minutes;
        if (!digits(text, pos, 2, hours)) return std::nullopt;
        if (pos < text.size() && text[pos] == ':') ++pos;
        if (!digits(text, pos, 2, minutes) || hours > 23 || minutes > 59) return std::nullopt;
        offsetSeconds = sign * (hours * 3600L + minutes * 60L);
    } else {
        return std::nullopt;
    }
    if (pos != text.size()) return std::nullopt;
    std::time_t utc = timegm(&tm);
    return Clock::from_time_t(utc - offsetSeconds) + fraction;
}

std::optional<Clock::time_point> dateFromLocalString(const std::string& text) {
    std::tm tm{};
    size_t pos = 0;
    bool withSeconds = text.size() == 19;
    if (!readDateTime(text, pos, ' ', withSeconds, tm) || pos != text.size()) return std::nullopt;
    tm.tm_isdst = -1;
    std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1)) return std::nullopt;
    return Clock::from_time_t(t);
}

std::string dateMinuteString(Clock::time_point date) { return format(date, "%Y-%m-%d %H:%M", false); }
std::string dateSecondString(Clock::time_point date) { return format(date, "%Y-%m-%d %H:%M:%S", false); }
std::string iso8601String(Clock::time_point date) { return format(date, "%Y-%m-%dT%H:%M:%SZ", true); }

std::optional<std::string> timeSince(const std::string& text, Clock::time_point now) {
    if (text.empty()) return std::nullopt;
    // The stored form is "yyyy-MM-ddTHH:mm:ssZ"; the Z says the time is UTC.
    size_t pos = 0;
    std::tm tm{};
    if (!readDateTime(text, pos, 'T', true, tm) || !expect(text, pos, 'Z') || pos != text.size()) return std::nullopt;
    auto then = Clock::from_time_t(timegm(&tm));
    long long elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - then).count();
    // Clocks disagree a little; a moment in the future is "now", never negative.
    if (elapsed < 0) elapsed = 0;
    if (elapsed < 60) return fill("%.0f seconds ago", elapsed);
    if (elapsed < 120) return fill("%.0f minute ago", elapsed / 60);
    if (elapsed < 3600) return fill("%.0f minutes ago", elapsed / 60);
    if (elapsed < 7200) return fill("%.0f hour ago", elapsed / 3600);
    if (elapsed < 86400) return fill("%.0f hours ago", elapsed / 3600);
    if (elapsed < 172800) return fill("%.0f day ago", elapsed / 86400);
    return fill("%.0f days ago", elapsed / 86400);
}

std::string plainTextLine(std::string_view text, size_t maximumCharacters) {
    // The common case, printable ASCII that fits, costs one pass.
    if (text.size() <= maximumCharacters && (text.empty() || (text.front() != ' ' && text.back() != ' ')) &&
        std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; }))
        return std::string(text);
    std::string out;
    out.reserve(std::min(text.size(), maximumCharacters * 4));
    size_t characters = 0;
    for (size_t i = 0; i < text.size() && characters < maximumCharacters;) {
        const auto c = static_cast<unsigned char>(text[i]);
        // The length of a well-formed UTF-8 sequence starting here, 0 when it is not one.
        size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (length > 1) {
            if (i + length > text.size()) length = 0;
            for (size_t k = 1; k < length; ++k)
                if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) length = 0;
        }
        if (length == 0) {
            ++i;
            continue;
        }
        if (length == 1) {
            if (c == '\t' || c == '\n' || c == '\r') {
                if (!out.empty() && out.back() != ' ') {
                    out.push_back(' ');
                    ++characters;
                }
            } else if (c >= 0x20 && c != 0x7F) {
                out.push_back(static_cast<char>(c));
                ++characters;
            }
        } else if (!(c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0)) {  // C1 controls: U+0080..U+009F
            out.append(text.substr(i, length));
            ++characters;
        }
        i += length;
    }
    size_t begin = out.find_first_not_of(' ');
    if (begin == std::string::npos) return {};
    out.erase(out.find_last_not_of(' ') + 1);
    out.erase(0, begin);
    return out;
}

}  // namespace ZemtrixExtensions
