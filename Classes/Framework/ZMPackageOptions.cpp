#include "ZMPackageOptions.h"

#include <algorithm>
#include <set>

#include "Categories/String+VersionCompare.h"
#include "Miscellaneous/ZMLocalization.h"

std::string ZMPackageOptions::title() { return ZMLocalizedString("What would you like to do?"); }

std::vector<std::string> ZMPackageOptions::availableVersions(const std::string& identifier) {
    std::vector<std::string> versions;
    for (const auto& value : ZMRPackageVersion::objectsWhere("identifier = %@", identifier).valueForKey("version")) {
        if (value.is_string() && !value.get<std::string>().empty()) versions.push_back(value.get<std::string>());
    }
    // A package record of a source without version records still offers its own version.
    if (auto package = ZMRPackage::objectForPrimaryKey(identifier); package && !package->version.empty() &&
                                                                     !package->sourceLocation.empty())
        versions.push_back(package->version);
    std::sort(versions.begin(), versions.end(),
              [](const std::string& a, const std::string& b) { return ZMVersionCompare(a, b) > 0; });
    versions.erase(std::unique(versions.begin(), versions.end(),
                               [](const std::string& a, const std::string& b) { return ZMVersionCompare(a, b) == 0; }),
                   versions.end());
    return versions;
}

std::vector<std::string> ZMPackageOptions::selectableVersions(const ZMRPackage& package,
                                                              const std::vector<std::string>& availableVersions) {
    std::vector<std::string> out;
    const bool installed = package.isInstalled.value_or(false);
    for (const auto& version : availableVersions) {
        if (installed && ZMVersionCompare(version, package.installedVersion) == 0) continue;
        out.push_back(version);
    }
    return out;
}

std::vector<ZMPackageOption> ZMPackageOptions::optionsForPackage(const ZMRPackage& package,
                                                                 const std::vector<std::string>& availableVersions) {
    using Kind = ZMPackageOption::Kind;
    std::vector<ZMPackageOption> out;
    const bool installed = package.isInstalled.value_or(false);
    if (installed) {
        bool offered = std::any_of(availableVersions.begin(), availableVersions.end(), [&](const std::string& v) {
            return ZMVersionCompare(v, package.installedVersion) == 0;
        });
        // Reinstalling needs the archive of the installed version from a source.
        if (offered) out.push_back({Kind::Reinstall, ZMLocalizedString("Reinstall")});
        // Removing an essential package would break the system.
        if (!package.isEssential.value_or(false)) out.push_back({Kind::Uninstall, ZMLocalizedString("Uninstall")});
        if (package.isHeld.value_or(false))
            out.push_back({Kind::ShowUpdates, ZMLocalizedString("Show Updates")});
        else
            out.push_back({Kind::IgnoreUpdates, ZMLocalizedString("Ignore Updates")});
    }
    if (!selectableVersions(package, availableVersions).empty())
        out.push_back({Kind::SelectVersion, ZMLocalizedString("Select Version")});
    out.push_back({Kind::Share, ZMLocalizedString("Share")});
    out.push_back({Kind::Cancel, ZMLocalizedString("Cancel")});
    return out;
}
