#include "URLResponse.h"

#include <cctype>
#include <charconv>

int64_t URLResponse::expectedContentLength() const {
    auto v = headers.value("Content-Length");
    if (!v) return -1;
    int64_t n = -1;
    auto [p, ec] = std::from_chars(v->data(), v->data() + v->size(), n);
    return ec == std::errc() && n >= 0 ? n : -1;
}

std::string URLResponse::mimeType() const {
    std::string type = headers.value("Content-Type").value_or("");
    type = type.substr(0, type.find(';'));
    std::string out;
    for (char c : type)
        if (!std::isspace(static_cast<unsigned char>(c))) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}
