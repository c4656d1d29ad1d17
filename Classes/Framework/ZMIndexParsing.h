#pragma once
// Packages indexes read, checked and turned into records on a small pool of
// threads shared by every refresh, ahead of the writer that stores them.
//
// An index goes through two passes, both cut at stanza boundaries into
// pieces that the pool's threads take in turn:
//   1. the list pass reads the text (decompressing it), checks every stanza
//      and appends the accepted ones, as served and in the index's order, to
//      the list file; every fault of the index itself (a corrupt or truncated
//      archive, binary data) shows here;
//   2. the record pass reads the list back and makes the records of its
//      stanzas; the writer receives them in the list's order. For the index
//      a writer is waiting on, the list pass makes the records itself (one
//      parse instead of two).
// The record pass follows the list pass closely, so a writer can start on an
// index whose end has not been read yet; an index whose list pass is over
// can no longer fail (see listComplete()).
//
// Memory stays bounded whatever the number and size of the indexes: only a
// few indexes are read at once (each holds a decompressor and takes its
// output a chunk at a time), each holds a few pieces, and records are made
// only a few pieces ahead of the writer; a stanza longer than
// kLongestStanza is dropped as it is read (and counted as skipped) rather
// than held whole. The
// pool's threads never wait on anything but the pool: a slow writer holds
// back only its own index.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Categories/Data+Decompression.h"
#include "Database/ZMRPackage.h"
#include "Miscellaneous/ZMControlParser.h"
#include "Miscellaneous/ZMError.h"
#include "Realm/Realm.h"

// Thrown by a text source, a check or a writer to end with a reason.
struct ZMIndexFailure {
    ZMError error;
};

// One stanza accepted, made ready on a pool thread.
struct ZMParsedStanza {
    ZMRPackage record;   // as a new record: dated by this refresh, not installed
    RealmStoredRow row;  // the record's stored form, for the insert of a new package
    bool hasEssential = false;
};

// The records of one piece, in the index's order.
struct ZMParsedBatch {
    std::vector<ZMParsedStanza> stanzas;
};

// What the list pass saw.
struct ZMParseTally {
    size_t valid = 0, foreign = 0, skipped = 0;
    bool sawText = false;
};

class ZMIndexParsing;

// One index in the pool. Destroying it stops its work and frees what it holds.
class ZMIndexStream {
public:
    // Appends the next chunk of the index's text to `text`; false at the
    // end (when it appended nothing). Called by one thread at a time. Throws
    // ZMIndexFailure (or another exception) to fail the index.
    using Text = std::function<bool(std::string& text)>;
    // The list pass: true when the stanza is taken (a refusal is counted in the tally).
    using Accept = std::function<bool(const ZMControlStanza&, ZMParseTally&)>;
    // The record pass: appends the records of a stanza the list pass took.
    // The stanza is the one listed, or the one served (when the writer
    // waits, records are made in the list pass): the two differ at most by
    // the line end after the last field.
    using Convert = std::function<void(const ZMControlStanza&, ZMParsedBatch&)>;

    ~ZMIndexStream();
    ZMIndexStream(const ZMIndexStream&) = delete;
    ZMIndexStream& operator=(const ZMIndexStream&) = delete;

    // Waits until the list pass is over: nullopt when the list file holds
    // every accepted stanza, else the index's fault.
    std::optional<ZMError> waitForList();
    // Without waiting: the list pass is over and worked.
    bool listComplete() const;
    // What the list pass saw (complete once waitForList() answered).
    ZMParseTally tally() const;
    // The next piece's records, in order; false at the end or on a fault
    // (error()). The first call makes this index the one the pool serves first.
    bool pop(ZMParsedBatch& batch);
    // A batch the writer is done with: freed on a pool thread.
    void giveBack(ZMParsedBatch batch);
    std::optional<ZMError> error() const;
    // The consumer gives up: reading stops and nothing more is made.
    void cancel();

    struct State;

private:
    friend class ZMIndexParsing;
    explicit ZMIndexStream(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
};

class ZMIndexParsing {
public:
    static ZMIndexParsing& shared();

    // Starts an index: its text comes from `text`, the accepted stanzas go
    // to `listPath` (created or emptied). Fails when the list file cannot be
    // made. `progress` receives the bytes of text read so far.
    ZMResult<std::shared_ptr<ZMIndexStream>> open(ZMIndexStream::Text text, const std::string& listPath,
                                                  ZMIndexStream::Accept accept, ZMIndexStream::Convert convert,
                                                  std::function<void(double bytesRead)> progress = nullptr);

    // The text of a file, decompressed as it is read (Format::None: as it
    // is), in chunks of at least 1 MiB; a corrupt, truncated or too large (beyond
    // `limit`) archive fails with its error. The decompressor lives only
    // while the file is being read.
    static ZMIndexStream::Text fileText(const std::string& path, DataDecompression::Format format, uint64_t limit);

    static constexpr size_t kChunk = 1 << 20;
    // A piece ends at the first stanza boundary after kPiece bytes, or after
    // kPieceStanzas stanzas when they are small: the records of a piece then
    // stay a few megabytes, whatever the index.
    static constexpr size_t kPiece = 256 << 10;
    static constexpr size_t kPieceStanzas = 1024;
    // Longer than any stanza a check may take (apt itself fails on one of
    // about 1 MiB): text without a stanza boundary for longer is dropped.
    static constexpr size_t kLongestStanza = 1 << 20;
    // Pieces a read index may hold between reading and listing.
    static constexpr size_t kPiecesAhead = 16;
    // Indexes read at once: each holds a decompressor (an xz one, 8 MiB).
    static constexpr size_t kReadersAtOnce = 2;
    // Record batches made ahead for the index the writer is on, and for all
    // the others together.
    static constexpr size_t kBatchesAhead = 6;
    static constexpr size_t kBatchesPrefetched = 6;
    size_t threadCount() const { return threads_; }

    // Where the first stanza boundary at or after `from` ends: the end of a
    // line holding only blanks, as the parser reads them. npos when there is none yet.
    static size_t boundaryAfter(std::string_view text, size_t from);
    // Where the piece that begins at `start` ends (see kPiece); npos when
    // the text does not reach that end yet.
    static size_t pieceEnd(std::string_view text, size_t start);

    struct Pool;

private:
    ZMIndexParsing();
    size_t threads_;
    std::unique_ptr<Pool> pool_;
};
