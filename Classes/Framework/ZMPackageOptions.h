#pragma once
// The entries of a package's options sheet ("What would you like to do?"),
// worked out from its record and its known versions, without any interface.
#include <optional>
#include <string>
#include <vector>

#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageVersion.h"

struct ZMPackageOption {
    enum class Kind { Reinstall, Uninstall, ShowUpdates, IgnoreUpdates, SelectVersion, Share, Cancel };
    Kind kind;
    std::string title;  // localized
    bool operator==(const ZMPackageOption& o) const { return kind == o.kind && title == o.title; }
};

class ZMPackageOptions {
public:
    // In sheet order:
    //   Reinstall       installed, and a source offers the installed version
    //   Uninstall       installed and not essential
    //   Show Updates    installed and held (updates are ignored)
    //   Ignore Updates  installed and not held
    //   Select Version  some source offers a version other than the installed one
    //   Share, Cancel   always
    // A queued package offers the same: choosing replaces its queue mark.
    static std::vector<ZMPackageOption> optionsForPackage(const ZMRPackage& package,
                                                          const std::vector<std::string>& availableVersions);
    // The versions offered by the sources for `identifier`, newest first (Debian
    // ordering), each once.
    static std::vector<std::string> availableVersions(const std::string& identifier);
    // The versions the version picker lists: all but the installed one.
    static std::vector<std::string> selectableVersions(const ZMRPackage& package,
                                                       const std::vector<std::string>& availableVersions);
    static std::string title();  // "What would you like to do?"
};
