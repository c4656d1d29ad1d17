#pragma once
// Date texts: the relative "… ago" description of a timestamp and the fixed
// formats the program stores dates in; and server texts made fit to store
// and show.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace ZemtrixExtensions {

using Clock = std::chrono::system_clock;

// "N seconds ago" … "N days ago" for a UTC timestamp "yyyy-MM-ddTHH:mm:ssZ",
// localized. nullopt for an empty or unreadable text. A time in the future
// reads as "0 seconds ago". Counts are whole units, rounded down.
std::optional<std::string> timeSince(const std::string& text, Clock::time_point now = Clock::now());

// "yyyy-MM-dd HH:mm" in local time (the refresh date of packages; it sorts
// chronologically as text).
std::string dateMinuteString(Clock::time_point date);
// "yyyy-MM-dd HH:mm:ss" in local time.
std::string dateSecondString(Clock::time_point date);
// "yyyy-MM-ddTHH:mm:ssZ" in UTC.
std::string iso8601String(Clock::time_point date);

// Reads "yyyy-MM-ddTHH:mm:ss" followed by optional fractional seconds and
// "Z" or a "+hh:mm"/"-hh:mm"/"+hhmm" offset. nullopt for anything else.
std::optional<Clock::time_point> dateFromISO8601(const std::string& text);
// Reads "yyyy-MM-dd HH:mm" or "yyyy-MM-dd HH:mm:ss" as local time.
std::optional<Clock::time_point> dateFromLocalString(const std::string& text);

// A server's text as one line of plain text: line breaks and tabs become
// blanks, other control characters (C0, DEL, C1) and invalid UTF-8 bytes are
// dropped, blanks at both ends trimmed, and the result cut to at most
// `maximumCharacters` code points (never inside one).
std::string plainTextLine(std::string_view text, size_t maximumCharacters);

}  // namespace ZemtrixExtensions
