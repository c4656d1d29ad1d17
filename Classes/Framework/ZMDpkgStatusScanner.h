#pragma once
// Brings the package records in line with what dpkg reports for the target
// root: isInstalled, installedVersion, installDate, isHeld, isEssential,
// isUpdated and installedFiles of existing records; a record with source
// location "DPKG" for every installed package no source carries; installed
// state cleared from records dpkg no longer lists as installed (records
// known only to dpkg are then deleted). One write transaction. Posts
// "UpdateQueueStateNotification-<identifier>" (object and user info
// {"identifier"}: the identifier) on the main thread for every package whose
// installed state changed.
//
// Run at launch, after a queue run and after a source removal (the package
// manager installs it as the sources collection's rescan hook).
//
// Installed means dpkg's state "installed" or a configured package whose
// triggers are pending. A package a failed or interrupted run left unpacked,
// half-configured or half-installed is not installed (ZMDpkgPackage's
// needsRepair tells the launch repair about it).
#include <functional>
#include <string>
#include <vector>

#include "Miscellaneous/ZMError.h"
#include "ZMDpkgStatus.h"

struct ZMDpkgStatusScanSummary {
    size_t installed = 0;  // packages dpkg lists as installed
    size_t created = 0;    // new "DPKG" records
    size_t removed = 0;    // "DPKG" records deleted: no longer installed
    std::vector<std::string> changedIdentifiers;  // installed state changed
};

class ZMDpkgStatusScanner {
public:
    // Reads ZMPaths::dpkgDirectory() and writes the records, on the calling thread.
    static ZMResult<ZMDpkgStatusScanSummary> scan();
    static ZMResult<ZMDpkgStatusScanSummary> scan(const std::string& dpkgDirectory);
    // Writes the records from a status already read.
    static ZMResult<ZMDpkgStatusScanSummary> apply(const ZMDpkgStatusScan& status);
    // scan() on a background queue; the completion (optional) runs on the main thread.
    static void scanInBackground(std::function<void(ZMResult<ZMDpkgStatusScanSummary>)> completion = {});
    // "UpdateQueueStateNotification-" + identifier.
    static std::string queueStateNotificationName(const std::string& identifier);
};
