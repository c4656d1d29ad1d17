#include "HTTPHeaderFields.h"

#include <algorithm>
#include <cctype>

namespace {
std::string clean(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c == '\r' || c == '\n' || c == '\0') c = ' ';
    return out;
}
}  // namespace

bool HTTPHeaderFields::namesEqual(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

void HTTPHeaderFields::set(std::string_view name, std::string_view value) {
    remove(name);
    fields_.emplace_back(clean(name), clean(value));
}

void HTTPHeaderFields::add(std::string_view name, std::string_view value) {
    for (auto& [n, v] : fields_) {
        if (namesEqual(n, name)) {
            v += ", " + clean(value);
            return;
        }
    }
    fields_.emplace_back(clean(name), clean(value));
}

void HTTPHeaderFields::remove(std::string_view name) {
    std::erase_if(fields_, [&](const Field& f) { return namesEqual(f.first, name); });
}

std::optional<std::string> HTTPHeaderFields::value(std::string_view name) const {
    for (const auto& [n, v] : fields_)
        if (namesEqual(n, name)) return v;
    return std::nullopt;
}
