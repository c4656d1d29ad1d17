#pragma once
// What the queue run, the .deb installation and the shell share around apt
// commands: the rescan of the installed state after a run, the per-package
// queue-state notifications, the post-install actions a package calls for,
// holds, and the repair at launch.
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "Miscellaneous/ZMError.h"
#include "ZMAPTManager.h"
#include "ZMDpkgStatus.h"
#include "ZMPipelineManager.h"

// Posted on the main thread for each package a run touched:
// "UpdateQueueStateNotification-" + identifier, object and user info
// {"identifier"} the identifier.
inline constexpr const char* ZMQueueStateNotificationPrefix = "UpdateQueueStateNotification-";

class ZMPackageOperations {
public:
    // Reads the target root's dpkg status and brings the package records in
    // line with it (ZMDpkgStatusScanner::apply); returns what was read, so a
    // run can tell which of its packages reached their wanted state.
    static ZMResult<ZMDpkgStatusScan> rescanInstalledState();

    static void postQueueStateChanged(const std::vector<std::string>& identifiers);

    // The actions named in a package's post-install field (the record's
    // `postinstallaction`, filled from the stanza field "Post-Install-Action"):
    // words "respring", "reboot", "uicache" in any letter case, separated by
    // blanks or commas; anything else is ignored.
    static std::set<ZMPostInstallAction> parsePostInstallActions(const std::string& text);

    // Whether an output line of apt or dpkg is an error for the console:
    // standard-error lines except apt's warnings and notices (W:, N:), and
    // dpkg's "dpkg: error..." lines, which apt relays on standard output.
    static bool isErrorLine(const std::string& line, bool fromStandardError);

    // apt-mark hold|unhold, then isHeld of the record. Blocks: call off the
    // main thread (the options sheet's "ignore updates" uses setHeldAsync).
    // A record the database refused to change fails with its failure
    // (ZMError::isStoreFailure), dpkg's mark taken back.
    static ZMResult<bool> setHeld(const std::string& identifier, bool held);
    static void setHeldAsync(const std::string& identifier, bool held, std::function<void(ZMResult<bool>)> completion);

    // The launch repair: on a background queue, apt-get -f install when the
    // status lists half-installed packages, its lines to the console, then the
    // rescan; `completion` (optional) on the main thread with true when
    // something was repaired, false when nothing needed it, or the error.
    static void repairAtLaunch(std::function<void(ZMResult<bool>)> completion = {});
};
