#include "Miscellaneous/ZMShareTexts.h"

#include <cctype>

#include "Database/ZMRPackage.h"
#include "Database/ZMRSource.h"
#include "Foundation/URL.h"
#include "Miscellaneous/ZMLocalization.h"

namespace ZMShareTexts {

std::string encodeLinkValue(std::string_view value) { return URLEncoding::encodeQueryValue(value, true); }

std::string showPackageLink(const std::string& identifier, const std::string& name, const std::string& repository) {
    return "vostrelle://show/shared=Vostrelle&name=" + encodeLinkValue(name) + "&bundleid=" +
           encodeLinkValue(identifier) + "&repo=" + encodeLinkValue(repository);
}

std::string addSourceLink(const std::string& location) {
    // A plain location stays readable. One with a query, a fragment or
    // characters a URL cannot carry is escaped as a whole, so that the link
    // neither ends early nor changes the location on the way back.
    auto url = URL::parse(location);
    if (url && !url->query() && !url->fragment()) return "vostrelle://add/" + location;
    return "vostrelle://add/" + URLEncoding::encodeQueryValue(location);
}

std::string packageText(const std::string& name, const std::string& maintainer, const std::string& sourceName,
                        const std::string& identifier, const std::string& sourceLocation) {
    return ZMLocalization::fill(
        ZMLocalizedString("Check out the package \"%@\" by %@ from the source %@ on Vostrelle !%@(See the package : %@)"),
        {name, maintainer, sourceName, "\n", showPackageLink(identifier, name, sourceLocation)});
}

std::optional<std::string> packageTextForIdentifier(const std::string& identifier) {
    auto package = ZMRPackage::objectForPrimaryKey(identifier);
    if (!package) return std::nullopt;
    std::string sourceName = package->sourceLocation;
    if (auto source = ZMRSource::objectForPrimaryKey(package->sourceLocation); source && !source->name.empty())
        sourceName = source->name;
    if (sourceName.empty()) sourceName = ZMLocalizedString("Unknown");
    std::string name = package->name.empty() ? package->identifier : package->name;
    return packageText(name, package->maintainer, sourceName, package->identifier, package->sourceLocation);
}

std::string allSourcesText(const std::vector<std::string>& locations) {
    std::string out;
    for (const auto& location : locations) {
        if (!out.empty()) out += '\n';
        out += location;
    }
    return out;
}

std::string allSourcesTitle() { return ZMLocalizedString("All Sources"); }

std::string sourceText(const std::string& name, const std::string& location) {
    return ZMLocalization::fill(ZMLocalizedString("Check out the source \"%@\" on Vostrelle !%@(Add the source : %@)"),
                      {name.empty() ? location : name, "\n", addSourceLink(location)});
}

std::string sourceTextForLocation(const std::string& location) {
    std::string name;
    if (auto source = ZMRSource::objectForPrimaryKey(location)) name = source->name;
    return sourceText(name, location);
}

}  // namespace ZMShareTexts
