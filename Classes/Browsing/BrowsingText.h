#pragma once
// Localized texts with one "%@" or "%lu" argument.
#include <QString>
#include <string>

#include "Miscellaneous/ZMLocalization.h"

namespace BrowsingText {

// The translation of `key` with its first "%@" replaced by `argument`.
inline std::string format(const std::string& key, const std::string& argument) {
    std::string text = ZMLocalizedString(key);
    if (auto at = text.find("%@"); at != std::string::npos) text.replace(at, 2, argument);
    return text;
}

inline QString q(const std::string& key) { return QString::fromStdString(ZMLocalizedString(key)); }
inline QString q(const std::string& key, const std::string& argument) { return QString::fromStdString(format(key, argument)); }

}  // namespace BrowsingText
