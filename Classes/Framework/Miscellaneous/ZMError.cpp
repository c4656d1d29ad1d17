#include "ZMError.h"

#include <fmt/format.h>

#include "ZMLocalization.h"

std::string ZMError::localizedDescription() const {
    std::string key = std::to_string(code);
    std::string text = ZMLocalization::string(key, "Errors");
    if (text != key) return text;
    return fmt::format(fmt::runtime(ZMLocalization::string(
                           "An unexpected error occurred (code {}). Please report this code to support@zemtrix.me.",
                           "Errors")),
                       code);
}

std::string ZMError::debugDescription() const {
    return fmt::format("Error Domain={} Code={} \"{}\"", domain, code, detail.empty() ? localizedDescription() : detail);
}
