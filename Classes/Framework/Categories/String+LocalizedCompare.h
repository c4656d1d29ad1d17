#pragma once
// Texts in the order of the user's locale, without regard to letter case, as
// lists of names show them: "com.walk.tool" between "Cydia" and "Walk", not
// after every capital. ICU's collation for the default locale (the root
// order under the C and POSIX locales) at secondary strength: letter case is
// ignored, accents are not ("e" < "é" < "f").
// Texts equal under that order keep their relative order where a sort is
// stable.
#include <string>
#include <string_view>

namespace LocalizedCompare {
// A key whose byte order (std::string's <) is the locale's order of `text`:
// sort many texts by their keys, made once each, rather than comparing them
// again and again. Invalid UTF-8 is read as the replacement character.
std::string sortKey(std::string_view text);
// <0, 0 or >0 as a orders before, the same as, or after b.
int compare(std::string_view a, std::string_view b);
}  // namespace LocalizedCompare
