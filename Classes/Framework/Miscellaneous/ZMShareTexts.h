#pragma once
// What the share sheet carries: a package's text with its show-package link,
// the list of all sources, and a source's text with its add-source link.
// Values inside the links are percent-encoded, so a name or location with
// "&", "=", "#" or blanks cannot change the link's meaning.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Miscellaneous/ZMLocalization.h"

namespace ZMShareTexts {

// ZMLocalization::fill under the name the screens have long used.
inline std::string fillFormat(std::string_view format, const std::vector<std::string>& arguments) {
    return ZMLocalization::fill(format, arguments);
}

// A link value: every blank becomes "+" and everything but the unreserved
// characters is percent-encoded ("+" itself as "%2B").
std::string encodeLinkValue(std::string_view value);

// "vostrelle://show/shared=Vostrelle&name=<name>&bundleid=<id>&repo=<location>"
std::string showPackageLink(const std::string& identifier, const std::string& name, const std::string& repository);
// "vostrelle://add/<location>" (escaped where the location needs it).
std::string addSourceLink(const std::string& location);

// The localized share text of a package (it contains the link).
std::string packageText(const std::string& name, const std::string& maintainer, const std::string& sourceName,
                        const std::string& identifier, const std::string& sourceLocation);
// From the database: nullopt when there is no package of that identifier. The
// source's name comes from its record, else the location itself.
std::optional<std::string> packageTextForIdentifier(const std::string& identifier);

// All locations, one per line; the share sheet's title is allSourcesTitle().
std::string allSourcesText(const std::vector<std::string>& locations);
std::string allSourcesTitle();

// The localized share text of a source with its add-source link; the name
// comes from the source's record when there is one.
std::string sourceText(const std::string& name, const std::string& location);
std::string sourceTextForLocation(const std::string& location);

}  // namespace ZMShareTexts
