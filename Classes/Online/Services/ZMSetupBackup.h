#pragma once
// The backup of the user's setup: the configured sources and the installed
// packages, kept either on the maker's server (premium accounts) or in the
// local file "local_backup.txt" of the data directory.
//
// Document: {"sources": [location, ...], "packages": [identifier, ...]},
// both in database order, both present (empty arrays when there is nothing).
//
//   save   POST setup/savesetup.php      key=<client key>&userID=<id>&sources[]=<l>&...&packages[]=<p>&
//          (the body ends with "&"; the program's own headers)
//   fetch  POST setup/retrievesetup.php  key=<client key>&userID=<id>   ->  the document, or "Error"
//
// The account screen's backup row: isPremium() -> confirm, then backupOnline();
// otherwise offer backupLocally(). Restoring reads it back (ZMSetupRestoration).
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Miscellaneous/ZMError.h"

class ZMSetupBackup {
public:
    std::vector<std::string> sources;
    std::vector<std::string> packages;

    // The setup as the database has it now (reads the whole tables: not on
    // the main thread with a large database).
    static ZMSetupBackup current();
    // Pretty-printed JSON text.
    std::string jsonText() const;
    // A document: an object whose "sources" and "packages", when present, are
    // arrays of texts (a missing key is an empty list). Anything else, also a
    // non-text member, is nullopt.
    static std::optional<ZMSetupBackup> parse(const std::string& bytes);
    // The save request's body for a user.
    std::string saveBody(int32_t userID) const;

    // <data directory>/local_backup.txt
    static std::string localBackupPath();
    // Writes current() to the local file, atomically: the previous backup is
    // replaced only by a complete new one, and kept when the write fails. The
    // path, or an error whose description says what went wrong.
    static ZMResult<std::string> backupLocally();

    // Queues the upload task (ZMBackupVostrelleSetupTask) with the account's
    // user ID and current(). False when nothing was queued: signed out, or a
    // backup is running already. Reads the database: call it off the main
    // thread, or accept a short wait.
    static bool backupOnline();

    // Fetches the account's backup. The completion runs exactly once, on a
    // background queue (at once on the caller's thread when nothing was
    // sent), with the document's bytes, or an error whose description is the
    // text to show: the transport's description, or "There was an error
    // during the backup retrieval, contact us or retry later." for "Error", a
    // status outside 2xx and when signed out.
    static void fetchOnlineBackup(std::function<void(ZMResult<std::string> bytes)> completion);
};
