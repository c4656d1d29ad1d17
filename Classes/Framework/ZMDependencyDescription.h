#pragma once
// One package of a resolved queue, as apt-get's dry run describes it, and the
// dry-run result the confirmation screen shows.
#include <string>
#include <vector>

enum class ZMDependencyOperation { Install, Upgrade, Downgrade, Reinstall, Remove, Purge, Unmet };

struct ZMDependencyDescription {
    std::string identifier;
    std::string version;           // the version to be installed; for removals the installed one
    ZMDependencyOperation operation = ZMDependencyOperation::Install;
    std::string repository;        // where apt takes it from, as apt names it ("127.0.0.1", "Debian:12/stable")
    std::string installedVersion;  // the version installed before, when there is one
    std::string architecture;      // of the version to be installed ("all", "amd64")
    std::string reason;            // for unmet dependencies: apt's readable explanation

    bool operator==(const ZMDependencyDescription&) const = default;
};

struct ZMDryRunResult {
    std::vector<ZMDependencyDescription> allPackagesToInstall;  // everything unpacked: new, additional, upgrades, downgrades, reinstalls
    std::vector<ZMDependencyDescription> additionalPackages;    // pulled in as dependencies
    std::vector<ZMDependencyDescription> packagesToRemove;
    std::vector<ZMDependencyDescription> packagesToUpgrade;
    std::vector<ZMDependencyDescription> newPackages;           // not installed before
    std::vector<ZMDependencyDescription> unmetDependencies;     // why the queue cannot be carried out
    std::vector<ZMDependencyDescription> packagesToDowngrade;

    bool canProceed() const { return unmetDependencies.empty(); }
};
