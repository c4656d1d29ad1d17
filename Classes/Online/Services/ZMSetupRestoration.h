#pragma once
// Restoring a setup backup (ZMSetupBackup): finding it, comparing it with the
// database, and bringing back what the user selected. The restoration screen
// shows the comparison and calls launchSetupRestoration(); everything here
// is free of the interface.
//
//   ZMSetupRestoration::openBackup([](ZMSetupRestoration::Finding found) {
//       // main thread: found.kind says which popup or screen to show
//   });
//   ...the user picks and confirms (device-owner authentication is the screen's)...
//   ZMSetupRestoration::launchSetupRestoration(sources, packages, httpApproved,
//                                              [](ZMSetupRestoration::Summary s) { /* main thread: pop */ });
//
// Restoring: each selected source location passes the rules of adding a
// source (normalised with a trailing "/"; one configured under http:// or
// https:// counts as configured; an unusable one is never added; plain http
// only when the user approved it). A configured source is refreshed, never
// purged; a missing one gets its stale APT list files removed, its record
// (all new records in one write transaction) and a refresh. The packages
// part runs once: after the refreshes this restoration queued (or found
// running) have ended, at once when none could be queued (before the
// first-run setup is done, or offline). It marks each selected package that
// has a record and is not installed queued for installation, and skips the
// others (queued, an installed package would be removed).
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Notifications/NotificationCenter.h"
#include "Services/ZMSetupBackup.h"

class ZMSetupRestoration : public std::enable_shared_from_this<ZMSetupRestoration> {
public:
    // A backup against the database. Keys in a fixed (sorted) order;
    // duplicates of the backup collapse into one key.
    struct Comparison {
        // Location as the backup has it -> selected: YES when it is not
        // configured under either scheme, with or without the trailing "/".
        std::map<std::string, bool> sourcesToRestore;
        // Identifier -> selected: YES when there is no record or it is not installed.
        std::map<std::string, bool> packagesToRestore;
        // Locations that can never be added (not offered in sourcesToRestore).
        std::vector<std::string> unusableSources;
        bool hasSelection() const;
    };

    struct Finding {
        enum class Kind {
            Compared,      // something to restore: show the restoration screen
            AllInstalled,  // message asks whether to show the backup anyway
            Unrestorable,  // nothing to restore but sources that cannot be added: the message names
                           // them and asks whether to show the backup anyway
            Empty,         // message "This backup is empty"
            Failed,        // message says why (transport, "Error", unreadable document)
            NoBackup,      // not premium and no local file: message offers a new backup
        };
        Kind kind = Kind::Failed;
        std::string message;  // localized; empty for Compared
        Comparison comparison;
    };

    // Finds the backup: premium accounts fetch it from the server (never
    // reading the local file), others read "local_backup.txt". Then as
    // restoreBackupWithJSONData. `completion` runs on the main thread.
    static void openBackup(std::function<void(Finding)> completion);
    // Compares a document's bytes with the database off the main thread;
    // `completion` on the main thread.
    static void restoreBackupWithJSONData(std::string bytes, std::function<void(Finding)> completion);
    // The comparison itself (reads the database; any thread).
    static Finding compare(const std::string& bytes);

    // The selected keys of a map.
    static std::vector<std::string> selected(const std::map<std::string, bool>& map);
    // Which of these locations are plain http (the screen asks the user to
    // approve them before restoring).
    static std::vector<std::string> plainHTTPSources(const std::vector<std::string>& locations);

    struct Summary {
        std::vector<std::string> sourcesAdded;      // new records, refresh queued when possible
        std::vector<std::string> sourcesRefreshed;  // configured already: refreshed only
        std::vector<std::string> sourcesSkipped;    // unusable, or plain http without approval
        std::vector<std::string> packagesQueued;
        // No record (its source offers no such package), or installed already.
        std::vector<std::string> packagesSkipped;
    };
    // Runs the restoration of the selected items. Returns at once; the
    // restoration keeps itself alive until its packages part has run and
    // `completion` (main thread) has been called.
    static std::shared_ptr<ZMSetupRestoration> launchSetupRestoration(std::vector<std::string> sources,
                                                                      std::vector<std::string> packages,
                                                                      bool httpApproved,
                                                                      std::function<void(Summary)> completion);
    // The refreshes this restoration waits for (main thread).
    std::set<std::string> waitingForRefreshes() const { return waiting_; }

private:
    ZMSetupRestoration(std::vector<std::string> sources, std::vector<std::string> packages, bool httpApproved,
                       std::function<void(Summary)> completion);
    void launchSetupRestorationSourcesPart();
    void queueRefreshes(const std::vector<std::string>& locations);
    void sourceRefreshed(const std::string& location);
    void launchSetupRestorationPackagesPart();

    const std::vector<std::string> sources_;
    const std::vector<std::string> packages_;
    const bool httpApproved_;
    std::function<void(Summary)> completion_;
    Summary summary_;
    std::set<std::string> waiting_;  // main thread
    bool packagesPartStarted_ = false;
    ObserverToken observer_;
    std::shared_ptr<ZMSetupRestoration> keepAlive_;
};
