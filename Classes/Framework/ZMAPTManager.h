#pragma once
// The driver of apt-get and dpkg. It keeps a private APT tree (configuration,
// sources list, lists, archives) under the application-support directory and
// runs every command through the privileged helper, one at a time, against
// the configured target root. Commands block the calling thread: call them on
// a background queue.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Miscellaneous/ZMCommandRunner.h"
#include "ZMFunctionTask.h"
#include "Miscellaneous/ZMError.h"
#include "ZMDependencyDescription.h"

enum class ZMQueueOperation { Install, Remove, Upgrade, Downgrade, Reinstall };

// One queued package: what to do with it and, for a chosen version, which.
struct ZMQueueItem {
    std::string identifier;
    ZMQueueOperation operation = ZMQueueOperation::Install;
    std::string version;  // empty: the candidate version
};

// One progress line of apt's APT::Status-Fd.
struct ZMAPTStatus {
    enum class Kind { Download, Install, Error, ConfigFile };
    Kind kind = Kind::Install;
    std::string package;  // for downloads apt gives the item number here
    double percent = 0;
    std::string message;
};

class ZMAPTManager {
public:
    using OutputHandler = std::function<void(const std::string& line, bool isError)>;
    using StatusHandler = std::function<void(const ZMAPTStatus& status)>;

    // ---- the private tree ---------------------------------------------------
    static std::string treePath();    // ZMPaths::aptTree(), symbolic links resolved
    static std::string targetRoot();  // ZMPaths::targetRoot(), symbolic links resolved
    static std::string downloadsDirectory();  // ZMPaths::subdirectory("Downloads")

    // Creates the tree's directories and the target root's dpkg directories,
    // and writes apt.conf. Safe to call at every launch.
    static ZMResult<bool> prepareTree();
    // The apt.conf text for a tree and a root (paths must be absolute and free
    // of quotes and control characters).
    static ZMResult<std::string> aptConfiguration(const std::string& tree, const std::string& root,
                                                  const std::string& architecture);
    // dpkg's architecture of this machine ("amd64"), asked once.
    static std::string hostArchitecture();

    // A location that may be written into the sources list: a plain http or
    // https URL without whitespace, quotes, brackets or other specials.
    static bool isAcceptableSourceLocation(const std::string& location);
    // Rewrites the sources list with one trusted flat-repository line per
    // acceptable location; others are skipped with a log line. Returns the
    // number of lines written.
    static ZMResult<size_t> writeSourcesList(const std::vector<std::string>& locations);
    // Removes the location's line from the sources list and its list files.
    static void purgeSourceFromSandbox(const std::string& location);
    // The prefix of the location's list files, as apt names them.
    static std::string listFilePrefix(const std::string& location);
    // Deletes downloaded archives (at launch and after a queue run).
    static void cleanArchives();

    // ---- commands (block the calling thread; never the main thread) --------
    static ZMResult<ZMCommandOutput> update(const OutputHandler& output = {});
    // The apt-get operands for a queue: name, name- , name=version.
    static ZMResult<std::vector<std::string>> queueArguments(const std::vector<ZMQueueItem>& queue);
    // Resolves the queue with `apt-get -s`. Unmet dependencies, conflicts and
    // unknown packages come back as entries of unmetDependencies; an error
    // means the resolution itself could not run.
    static ZMResult<ZMDryRunResult> dryRun(const std::vector<ZMQueueItem>& queue);
    // dryRun on a background queue, completion on the main thread.
    static void dryRunAsync(std::vector<ZMQueueItem> queue, std::function<void(ZMResult<ZMDryRunResult>)> completion);
    // Carries the queue out: apt-get -y install with the queue's operands.
    static ZMResult<ZMCommandOutput> installQueue(const std::vector<ZMQueueItem>& queue, const OutputHandler& output = {},
                                                  const StatusHandler& status = {});
    // Fetches the queue's archives into the tree without installing (apt-get -d).
    static ZMResult<ZMCommandOutput> downloadQueue(const std::vector<ZMQueueItem>& queue, const OutputHandler& output = {},
                                                   const StatusHandler& status = {});
    // Where the helper can take the archive at `path` from: the archive
    // itself when it lies in the program's directories, else a copy in the
    // downloads directory. `copyAlways` copies any archive, under a name of
    // its own: what the user confirmed stays what is installed, whatever
    // happens to the file meanwhile.
    static ZMResult<std::string> stagedArchive(const std::string& path, bool copyAlways = false);
    // Resolves installing a local archive with `apt-get -s` (as dryRun does).
    static ZMResult<ZMDryRunResult> dryRunDebFile(const std::string& archive);
    // Installs a local archive with its dependencies (stagedArchive first).
    static ZMResult<ZMCommandOutput> installDebFile(const std::string& path, const OutputHandler& output = {},
                                                    const StatusHandler& status = {});
    // apt-get -y -f install: finishes half-installed packages.
    static ZMResult<ZMCommandOutput> fixBroken(const OutputHandler& output = {});
    // True when the target root's status lists a package that is not fully
    // installed, configured or removed.
    static bool needsRepair();
    // The launch repair: fixBroken() when needsRepair(). True when it repaired
    // something, false when nothing needed it; an error when the repair failed.
    static ZMResult<bool> repairIfNeeded(const OutputHandler& output = {});
    static ZMResult<ZMCommandOutput> hold(const std::string& identifier);
    static ZMResult<ZMCommandOutput> unhold(const std::string& identifier);
    // Rebuilds apt's binary caches after a refresh.
    static ZMResult<ZMCommandOutput> rebuildCaches();
    // rebuildCaches() as a pipeline task ("cache.ops").
    static std::shared_ptr<ZMFunctionTask> cacheRebuildTask();
    // Whoever changes the lists in the tree says so (the sources list is
    // noted here); caches are current when a rebuild that started after the
    // last change worked.
    static void noteListsChanged();
    static bool cachesAreCurrent();
    // Runs one helper command against the tree and root; a failure of the
    // command is an error 34 carrying apt's or dpkg's message.
    static ZMResult<ZMCommandOutput> run(const std::string& program, const std::vector<std::string>& arguments,
                                         const OutputHandler& output = {}, const StatusHandler& status = {});

    // ---- parsing ---------------------------------------------------------------
    static ZMDryRunResult parseDryRun(const std::string& standardOutput, const std::string& standardError);
    static std::optional<ZMAPTStatus> parseStatusLine(const std::string& line);
    // The message of a failed command: its E: lines, else its last line of error output.
    static std::string failureMessage(const ZMCommandOutput& output);
    // Debian's grammar for names and versions.
    static bool isValidPackageName(const std::string& name);
    static bool isValidVersion(const std::string& version);
};
