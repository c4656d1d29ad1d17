#pragma once
// Finds the web links in a text: every match of
//   https?://([-\w\.]+)+(:\d+)?(/([\w/_\.]*(\?\S+)?)?)?
// (case-insensitive, Unicode word characters) in text order, kept when the
// match is a valid URL with a scheme and a host.
#include <string_view>
#include <vector>

#include "Foundation/URL.h"

namespace StringURLsFromString {
std::vector<URL> URLs(std::string_view text);
// The same, each with where its match lies in the text (bytes).
struct Match {
    size_t offset;
    size_t length;
    URL url;
};
std::vector<Match> matches(std::string_view text);
}
