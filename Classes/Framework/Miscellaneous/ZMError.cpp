#include "ZMError.h"

#include <fmt/format.h>

#include "ZMLocalization.h"

std::string ZMError::localizedDescription() const {
    if (!reason.empty()) return reason;
    // The "Errors" table speaks for our own domain only; a transport error
    // (or any other domain) carries its own description in the detail.
    if (domain != kDomain && !detail.empty()) return ZMLocalization::string(detail);
    std::string key = std::to_string(code);
    std::string text = ZMLocalization::string(key, "Errors");
    if (text != key) return text;
    static const char* kGeneric = "An unexpected error occurred (code {}). Please report this code to support@zemtrix.me.";
    // The translated format is data: a broken one must not throw while an
    // error is being reported.
    try {
        return fmt::format(fmt::runtime(ZMLocalization::string(kGeneric, "Errors")), code);
    } catch (const fmt::format_error&) {
        return fmt::format(fmt::runtime(kGeneric), code);
    }
}

std::string ZMError::debugDescription() const {
    return fmt::format("Error Domain={} Code={} \"{}\"", domain, code, detail.empty() ? localizedDescription() : detail);
}
