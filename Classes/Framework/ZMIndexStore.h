#pragma once
// A source's Packages index made into its package records: which stanzas
// are taken (the list pass), the records they become (the record pass), and
// the rewrite of the source's records from them on the writer's thread.
//
// Refused with a log line, and kept from apt as well: stanzas without
// Package, with a name or version outside Debian's grammar (apt would fold or
// reject them), of a foreign architecture, larger than 256 KiB, or that apt
// would read otherwise (a line that is no field, a field twice: see
// ZMControlStanza::isStrict).
//
// Records: new packages and packages whose version changed get updatedDateStr
// (the refresh's "yyyy-MM-dd HH:mm"); a changed version also sets
// hasNewVersion. Unchanged packages keep both (also one listed in several
// stanzas, a lower version first), and unchanged stanzas are not even read
// back. Packages gone from the index are deleted, except installed
// ones, which stay with source location "DPKG".
//
// One record per identifier: when an index lists several versions the highest
// wins; when several sources carry the same identifier, the record belongs to
// the source with the highest version (a later refresh of a source with a
// lower or equal version leaves it alone). A record carries its own
// version's archive (filename, size, digests); the other versions a source
// offers (older ones of its index, or ones another source's record
// supersedes) are kept as ZMRPackageVersion rows. When the owning source
// drops a package that another source still carries, the record returns with
// that source's next refresh.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "ZMIndexParsing.h"
#include "ZMIndexWriter.h"

struct ZMSourceRefreshSummary {
    bool unchanged = false;  // the server answered 304: records untouched
    std::string variant;     // the index file used ("Packages.xz", ...)
    size_t packages = 0;     // records the source owns afterwards
    size_t added = 0;        // new records
    size_t changed = 0;      // records whose version changed
    size_t removed = 0;      // deleted, or handed back to "DPKG"
    size_t skipped = 0;      // stanzas refused (no Package, bad name/version, foreign architecture)
    size_t superseded = 0;   // identifiers another source carries in a higher version
    // Packages that no source had before this refresh, sorted; a successful
    // refresh posts them with ZMRSourcePackagesAddedNotification.
    std::vector<std::string> newIdentifiers;
};

class ZMIndexStore {
public:
    ZMIndexStore(std::string location, std::string hostArchitecture, std::string updatedDateStr);

    // The list pass's check (logs the first refusals of the index).
    ZMIndexStream::Accept accept();
    // The record pass: a taken stanza as a new record and its stored form.
    ZMIndexStream::Convert convert();

    // On the writer's thread, inside its transaction: rewrites the source's
    // package records from the stream's records and fills the summary (but
    // `variant`). Throws ZMIndexFailure on a fault of the index (which then
    // must roll back).
    ZMSourceRefreshSummary store(ZMIndexWriter::Session& session, ZMIndexStream& stream) const;

    // The record fields a stanza decides; an update of a stored record writes
    // these and leaves the rest (installed state, queue, wishlist...) alone.
    static const std::vector<std::string>& stanzaProperties();

private:
    std::string location_, hostArchitecture_, updatedDateStr_;
    std::shared_ptr<std::atomic<size_t>> logged_;
};
