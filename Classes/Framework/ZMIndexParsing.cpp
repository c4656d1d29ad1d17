#include "ZMIndexParsing.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace {

bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Of text being dropped, keeps only what may begin a stanza boundary at its
// end: its last line end and the blanks after it.
void keepBoundaryStart(std::string& text) {
    const size_t lineEnd = text.rfind('\n');
    if (lineEnd == std::string::npos || text.find_first_not_of(" \t\r", lineEnd + 1) != std::string::npos) text.clear();
    else text.erase(0, lineEnd);
}

bool readAll(int fd, std::string& out, uint64_t offset, size_t length) {
    out.resize(length);
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, out.data() + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

// Everything below is guarded by the pool's mutex, except what one thread
// owns while a flag says so (the text and `carry` while `reading`).
struct ZMIndexStream::State {
    ZMIndexStream::Text text;
    ZMIndexStream::Accept accept;
    ZMIndexStream::Convert convert;
    std::function<void(double)> progress;
    int listFd = -1, readFd = -1;
    bool urgent = false;  // a writer waits on its records

    // The list pass.
    bool reading = false, readStarted = false, textEnded = false;
    std::string carry;  // text after the last boundary cut
    bool dropping = false;  // the carry is the end of a stanza too long to keep
    double bytesRead = 0;
    size_t nextPiece = 0;
    std::deque<std::pair<size_t, std::string>> pieces;  // cut, not yet checked
    size_t checking = 0;
    std::map<size_t, std::string> checked;  // accepted text waiting for its turn in the list
    size_t nextListed = 0;
    bool listing = false, listDone = false;
    uint64_t listBytes = 0;
    std::vector<std::pair<uint64_t, size_t>> ranges;  // listed pieces, by number: offset, length
    ZMParseTally tally;

    // The records, by piece number: made by the check of a piece when the
    // writer waits for them (one parse), else read back from the list.
    std::vector<char> recordTaken;  // by piece: made, or being made
    size_t nextRange = 0, recording = 0;
    std::map<size_t, ZMParsedBatch> made;
    size_t nextOut = 0;
    std::deque<ZMParsedBatch> garbage;

    std::optional<ZMError> error;
    bool cancelled = false;
    int busy = 0;  // pool threads working on it
    ZMIndexParsing::Pool* pool = nullptr;
    // The consumer (and a closing stream) waits on this one: each index
    // wakes only its own writer.
    std::condition_variable changed;

    bool stopped() const { return error.has_value() || cancelled; }
    bool reads() const { return readStarted && !textEnded && !stopped(); }
    size_t piecesHeld() const { return pieces.size() + checking + checked.size(); }
    size_t batchesHeld() const { return made.size() + recording; }
    bool recordsDone() const { return listDone && nextOut == ranges.size(); }
    bool taken(size_t piece) const { return piece < recordTaken.size() && recordTaken[piece]; }
    void take(size_t piece) {
        if (recordTaken.size() <= piece) recordTaken.resize(piece + 1, 0);
        recordTaken[piece] = 1;
        ++recording;
    }
    // The next listed piece whose records are still to be read back.
    bool nextToRecord() {
        while (nextRange < ranges.size() && taken(nextRange)) ++nextRange;
        return nextRange < ranges.size();
    }
};

struct ZMIndexParsing::Pool {
    std::mutex mutex;
    std::condition_variable work;  // pool threads
    std::vector<std::shared_ptr<ZMIndexStream::State>> streams;  // in the order they were opened

    enum class Kind { None, Free, Read, Check, Record };
    struct Task {
        Kind kind = Kind::None;
        std::shared_ptr<ZMIndexStream::State> stream;
        size_t seq = 0;
        std::string text;
        std::deque<ZMParsedBatch> garbage;
        std::pair<uint64_t, size_t> range;
        bool direct = false;  // a check that makes the records too
    };

    void fail(ZMIndexStream::State& s, ZMError error) {
        if (!s.error) s.error = std::move(error);
        s.changed.notify_all();
    }

    // Records are made only for the pieces within `limit` of the writer's
    // next one: the one it waits for always fits, and no more are held.
    bool canRecord(ZMIndexStream::State& s, size_t limit) const {
        return !s.stopped() && s.nextToRecord() && s.nextRange < s.nextOut + limit;
    }

    // The next thing to do, most useful first: free what the writers gave
    // back; the work of an index a writer waits on (its next pieces, checked
    // with their records made in the same parse, or read back from the
    // list; its text read on; its list pass beyond them); the list passes of
    // the other indexes in the order they came (so that their lists are
    // ready in turn); records made ahead for the indexes no writer has
    // reached yet.
    Task pick() {
        Task task;
        for (auto& s : streams)
            if (!s->garbage.empty()) {
                task.kind = Kind::Free;
                task.stream = s;
                task.garbage.swap(s->garbage);
                return task;
            }
        size_t readers = 0;
        for (const auto& s : streams) readers += s->reads() ? 1 : 0;
        auto canRead = [&](const ZMIndexStream::State& s) {
            return !s.reading && !s.textEnded && s.piecesHeld() < kPiecesAhead &&
                   (s.readStarted || readers < kReadersAtOnce);
        };
        for (auto& s : streams) {
            if (!s->urgent || s->stopped()) continue;
            // The pieces the writer wants soon are checked with their records
            // made in the same parse. Reading goes on ahead (the text waits,
            // cut, in a bounded queue), and so does the list pass, its
            // records read back later: apt rebuilds its caches from the
            // lists, and the list must not wait for the writer.
            if (!s->pieces.empty() && s->pieces.front().first < s->nextOut + kBatchesAhead)
                return takeCheck(s, true);
            if (canRecord(*s, kBatchesAhead)) return takeRecord(s);
            if (canRead(*s)) return takeRead(s);
            if (!s->pieces.empty()) return takeCheck(s, false);
        }
        for (auto& s : streams) {
            if (s->urgent || s->stopped()) continue;
            if (!s->pieces.empty()) return takeCheck(s, false);
            if (canRead(*s)) return takeRead(s);
        }
        size_t prefetched = 0;
        for (const auto& s : streams)
            if (!s->urgent) prefetched += s->batchesHeld();
        if (prefetched < kBatchesPrefetched)
            for (auto& s : streams)
                if (!s->urgent && canRecord(*s, kBatchesAhead)) return takeRecord(s);
        return task;
    }

    Task takeCheck(const std::shared_ptr<ZMIndexStream::State>& s, bool direct) {
        Task task;
        task.kind = Kind::Check;
        task.stream = s;
        task.seq = s->pieces.front().first;
        task.text = std::move(s->pieces.front().second);
        s->pieces.pop_front();
        ++s->checking;
        ++s->busy;
        task.direct = direct;
        if (direct) s->take(task.seq);
        return task;
    }

    Task takeRead(const std::shared_ptr<ZMIndexStream::State>& s) {
        Task task;
        task.kind = Kind::Read;
        task.stream = s;
        s->reading = s->readStarted = true;
        ++s->busy;
        return task;
    }

    Task takeRecord(const std::shared_ptr<ZMIndexStream::State>& s) {
        Task task;
        task.kind = Kind::Record;
        task.stream = s;
        task.seq = s->nextRange;
        task.range = s->ranges[s->nextRange];
        s->take(s->nextRange++);
        ++s->busy;
        return task;
    }

    void run() {
        std::unique_lock lock(mutex);
        for (;;) {
            Task task = pick();
            if (task.kind == Kind::None) {
                work.wait(lock);
                continue;
            }
            lock.unlock();
            switch (task.kind) {
                case Kind::Free: task.garbage.clear(); break;
                case Kind::Read: read(task, lock); break;
                case Kind::Check: check(task, lock); break;
                case Kind::Record: record(task, lock); break;
                case Kind::None: break;
            }
            if (!lock.owns_lock()) lock.lock();
            if (task.stream && task.kind != Kind::Free && --task.stream->busy == 0) task.stream->changed.notify_all();
            task.stream.reset();
        }
    }

    // Chunks of text, cut into pieces at stanza boundaries, for as long as
    // the index may hold more pieces: while an index needs reading, one
    // thread does nothing else.
    void read(Task& task, std::unique_lock<std::mutex>& lock) {
        ZMIndexStream::State& s = *task.stream;
        for (;;) {
            std::vector<std::string> cut;
            bool more = false;
            std::optional<ZMError> failure;
            bool sawText = false;
            size_t dropped = 0;
            try {
                const size_t before = s.carry.size();
                more = s.text(s.carry);
                const std::string_view chunk = std::string_view(s.carry).substr(before);
                if (std::memchr(chunk.data(), '\0', chunk.size()))
                    throw ZMIndexFailure{ZMError::make(ZMError::InvalidServerData, "the index holds binary data")};
                sawText = chunk.find_first_not_of(" \t\r\n") != std::string::npos;
                s.bytesRead += static_cast<double>(chunk.size());
                if (s.progress) s.progress(s.bytesRead);
                if (s.dropping) {
                    // The long stanza goes on up to its end.
                    const size_t end = boundaryAfter(s.carry, 0);
                    if (end == std::string::npos) {
                        keepBoundaryStart(s.carry);
                    } else {
                        s.carry.erase(0, end);
                        s.dropping = false;
                    }
                }
                size_t start = 0;
                for (size_t end = pieceEnd(s.carry, start); end != std::string::npos; end = pieceEnd(s.carry, start)) {
                    cut.push_back(s.carry.substr(start, end - start));
                    start = end;
                }
                if (!s.dropping && s.carry.size() - start > kPiece + kLongestStanza) {
                    // No boundary for longer than any stanza: the stanzas before
                    // it make a piece, and the long one is dropped as it comes.
                    size_t last = start;
                    for (size_t end = boundaryAfter(s.carry, start); end != std::string::npos;
                         end = boundaryAfter(s.carry, end))
                        last = end;
                    if (last > start) cut.push_back(s.carry.substr(start, last - start));
                    s.carry.erase(0, last);
                    keepBoundaryStart(s.carry);
                    s.dropping = true;
                    ++dropped;
                } else {
                    s.carry.erase(0, start);
                }
                if (!more && !s.carry.empty()) cut.push_back(std::exchange(s.carry, std::string()));
            } catch (const ZMIndexFailure& f) {
                failure = f.error;
            } catch (const std::exception& e) {
                failure = ZMError::make(ZMError::Unknown, e.what());
            }
            // The decompressor goes as soon as the text has ended.
            ZMIndexStream::Text finished;
            lock.lock();
            if (sawText) s.tally.sawText = true;
            s.tally.skipped += dropped;
            if (failure) {
                fail(s, *failure);
            } else {
                for (auto& piece : cut) s.pieces.emplace_back(s.nextPiece++, std::move(piece));
                if (!more) s.textEnded = true;
            }
            const bool goOn = !failure && more && !s.stopped() && s.piecesHeld() < kPiecesAhead;
            if (!goOn) {
                s.reading = false;
                if (!failure) maybeListDone(s);
                if (failure || !more) finished.swap(s.text);
            }
            // New pieces to check; a reader's place free when it stopped.
            if (cut.size() > 1) work.notify_all();
            else if (!cut.empty() || !goOn) work.notify_one();
            lock.unlock();
            if (!goOn) return;
        }
    }

    // The list pass over one piece; the accepted text joins the list in turn.
    void check(Task& task, std::unique_lock<std::mutex>& lock) {
        ZMIndexStream::State& s = *task.stream;
        std::string accepted;
        ZMParseTally tally;
        ZMParsedBatch batch;
        std::optional<ZMError> failure;
        try {
            accepted.reserve(task.text.size());
            ZMControlParser parser([&](const ZMControlStanza& stanza) {
                if (!s.accept(stanza, tally)) return true;
                accepted.append(stanza.raw());
                if (accepted.back() != '\n') accepted.push_back('\n');
                accepted.push_back('\n');
                if (task.direct) s.convert(stanza, batch);
                return true;
            });
            parser.feed(task.text);
            parser.finish();
        } catch (const ZMIndexFailure& f) {
            failure = f.error;
        } catch (const std::exception& e) {
            failure = ZMError::make(ZMError::Unknown, e.what());
        }
        task.text = std::string();
        lock.lock();
        --s.checking;
        if (task.direct) {
            --s.recording;
            if (!failure && !s.stopped()) s.made.emplace(task.seq, std::move(batch));
            s.changed.notify_all();
        }
        s.tally.valid += tally.valid;
        s.tally.foreign += tally.foreign;
        s.tally.skipped += tally.skipped;
        if (failure) {
            fail(s, *failure);
            return;
        }
        s.checked.emplace(task.seq, std::move(accepted));
        if (s.listing) return;  // the thread listing now takes it too
        s.listing = true;
        size_t listed = 0;
        while (!s.stopped()) {
            auto next = s.checked.find(s.nextListed);
            if (next == s.checked.end()) break;
            std::string text = std::move(next->second);
            s.checked.erase(next);
            ++s.nextListed;
            const uint64_t offset = s.listBytes;
            lock.unlock();
            const bool written = writeAll(s.listFd, text);
            lock.lock();
            if (!written) {
                fail(s, ZMError::make(ZMError::Unknown, std::string("cannot write the list: ") + std::strerror(errno)));
                break;
            }
            s.listBytes += text.size();
            s.ranges.emplace_back(offset, text.size());
            // Nothing taken from this piece: no records to wait for.
            if (text.empty() && !s.taken(s.ranges.size() - 1)) {
                s.take(s.ranges.size() - 1);
                --s.recording;
                s.made.emplace(s.ranges.size() - 1, ZMParsedBatch());
                s.changed.notify_all();
            }
            ++listed;
        }
        s.listing = false;
        maybeListDone(s);
        // Room to read on, or records to make for what was listed.
        const bool canRead = !s.reading && !s.textEnded && s.piecesHeld() < kPiecesAhead;
        if (listed > 1) work.notify_all();
        else if (canRead || s.nextToRecord()) work.notify_one();
    }

    void maybeListDone(ZMIndexStream::State& s) {
        if (s.listDone || s.stopped() || !s.textEnded || s.reading || s.piecesHeld() > 0 || s.listing) return;
        s.listDone = true;
        s.changed.notify_all();
    }

    // The record pass over one listed piece.
    void record(Task& task, std::unique_lock<std::mutex>& lock) {
        ZMIndexStream::State& s = *task.stream;
        ZMParsedBatch batch;
        std::optional<ZMError> failure;
        try {
            std::string text;
            if (!readAll(s.readFd, text, task.range.first, task.range.second))
                throw ZMIndexFailure{ZMError::make(ZMError::Unknown, "cannot read the list back")};
            ZMControlParser parser([&](const ZMControlStanza& stanza) {
                s.convert(stanza, batch);
                return true;
            });
            parser.feed(text);
            parser.finish();
        } catch (const ZMIndexFailure& f) {
            failure = f.error;
        } catch (const std::exception& e) {
            failure = ZMError::make(ZMError::Unknown, e.what());
        }
        lock.lock();
        --s.recording;
        if (failure) fail(s, *failure);
        else if (!s.stopped()) s.made.emplace(task.seq, std::move(batch));
        s.changed.notify_all();
        if (!batch.stanzas.empty()) {  // not taken: freed here, outside the lock
            lock.unlock();
            batch = ZMParsedBatch();
        }
    }
};

size_t ZMIndexParsing::boundaryAfter(std::string_view text, size_t from) {
    for (size_t nl = text.find('\n', from); nl != std::string_view::npos; nl = text.find('\n', nl + 1)) {
        size_t i = nl + 1;
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r')) ++i;
        if (i < text.size() && text[i] == '\n') return i + 1;
    }
    return std::string_view::npos;
}

size_t ZMIndexParsing::pieceEnd(std::string_view text, size_t start) {
    size_t stanzas = 0;
    for (size_t end = boundaryAfter(text, start); end != std::string_view::npos; end = boundaryAfter(text, end))
        if (++stanzas == kPieceStanzas || end > start + kPiece) return end;
    return std::string_view::npos;
}

ZMIndexParsing& ZMIndexParsing::shared() {
    // Never destroyed: its threads live as long as the process.
    static auto* parsing = new ZMIndexParsing;
    return *parsing;
}

ZMIndexParsing::ZMIndexParsing()
    : threads_(std::clamp<size_t>(std::thread::hardware_concurrency() / 2, 1, 4)), pool_(std::make_unique<Pool>()) {
    for (size_t i = 0; i < threads_; ++i) std::thread([pool = pool_.get()] { pool->run(); }).detach();
}

ZMResult<std::shared_ptr<ZMIndexStream>> ZMIndexParsing::open(ZMIndexStream::Text text, const std::string& listPath,
                                                              ZMIndexStream::Accept accept,
                                                              ZMIndexStream::Convert convert,
                                                              std::function<void(double)> progress) {
    using Result = ZMResult<std::shared_ptr<ZMIndexStream>>;
    auto state = std::make_shared<ZMIndexStream::State>();
    state->listFd = ::open(listPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (state->listFd >= 0) state->readFd = ::open(listPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (state->listFd < 0 || state->readFd < 0) {
        const std::string reason = std::strerror(errno);
        if (state->listFd >= 0) ::close(state->listFd);
        return Result::failure(ZMError::make(ZMError::Unknown, "cannot write " + listPath + ": " + reason));
    }
    state->text = std::move(text);
    state->accept = std::move(accept);
    state->convert = std::move(convert);
    state->progress = std::move(progress);
    state->pool = pool_.get();
    {
        std::lock_guard lock(pool_->mutex);
        pool_->streams.push_back(state);
    }
    pool_->work.notify_all();
    return Result::success(std::shared_ptr<ZMIndexStream>(new ZMIndexStream(state)));
}

// ---- the consumer's side ----------------------------------------------------------

ZMIndexStream::~ZMIndexStream() {
    State& s = *state_;
    auto& pool = *s.pool;
    ZMIndexStream::Text text;
    std::map<size_t, ZMParsedBatch> made;
    std::deque<ZMParsedBatch> garbage;
    {
        std::unique_lock lock(pool.mutex);
        s.cancelled = true;
        s.changed.wait(lock, [&] { return s.busy == 0; });
        pool.streams.erase(std::remove(pool.streams.begin(), pool.streams.end(), state_), pool.streams.end());
        text.swap(s.text);
        made.swap(s.made);
        garbage.swap(s.garbage);
    }
    pool.work.notify_all();
    if (s.listFd >= 0) ::close(s.listFd);
    if (s.readFd >= 0) ::close(s.readFd);
}

std::optional<ZMError> ZMIndexStream::waitForList() {
    State& s = *state_;
    std::unique_lock lock(s.pool->mutex);
    s.changed.wait(lock, [&] { return s.listDone || s.stopped(); });
    if (s.error) return s.error;
    if (!s.listDone) return ZMError::make(ZMError::Unknown, "the index was given up");
    return std::nullopt;
}

bool ZMIndexStream::listComplete() const {
    std::lock_guard lock(state_->pool->mutex);
    return state_->listDone && !state_->stopped();
}

ZMParseTally ZMIndexStream::tally() const {
    std::lock_guard lock(state_->pool->mutex);
    return state_->tally;
}

bool ZMIndexStream::pop(ZMParsedBatch& batch) {
    State& s = *state_;
    auto& pool = *s.pool;
    std::unique_lock lock(pool.mutex);
    if (!s.urgent) {
        s.urgent = true;
        pool.work.notify_all();
    }
    for (;;) {
        s.changed.wait(lock, [&] { return s.stopped() || s.made.count(s.nextOut) || s.recordsDone(); });
        if (s.stopped() || s.recordsDone()) return false;
        auto it = s.made.find(s.nextOut);
        batch = std::move(it->second);
        s.made.erase(it);
        ++s.nextOut;
        // Room for one more piece of the writer's window.
        const size_t edge = s.nextOut + ZMIndexParsing::kBatchesAhead - 1;
        if ((!s.pieces.empty() && s.pieces.front().first <= edge) || (s.nextToRecord() && s.nextRange <= edge))
            pool.work.notify_one();
        if (!batch.stanzas.empty()) return true;
    }
}

void ZMIndexStream::giveBack(ZMParsedBatch batch) {
    if (batch.stanzas.empty()) return;
    // Freed by the next pool thread that looks for work: waking one only
    // for this would cost the writer more than freeing it itself.
    std::lock_guard lock(state_->pool->mutex);
    state_->garbage.push_back(std::move(batch));
}

std::optional<ZMError> ZMIndexStream::error() const {
    std::lock_guard lock(state_->pool->mutex);
    return state_->error;
}

void ZMIndexStream::cancel() {
    std::map<size_t, ZMParsedBatch> made;
    {
        std::lock_guard lock(state_->pool->mutex);
        state_->cancelled = true;
        made.swap(state_->made);
        state_->changed.notify_all();
    }
    state_->pool->work.notify_all();
}

// ---- text sources -------------------------------------------------------------------

ZMIndexStream::Text ZMIndexParsing::fileText(const std::string& path, DataDecompression::Format format,
                                             uint64_t limit) {
    struct Reader {
        std::string path;
        DataDecompression::Format format = DataDecompression::Format::None;
        uint64_t limit = 0;
        FILE* file = nullptr;
        std::unique_ptr<DataDecompression::Decompressor> decompressor;
        std::vector<char> buffer;
        size_t taken = 0, held = 0;  // the part of the buffer the decompressor has not taken yet
        bool ended = false;
        ~Reader() {
            if (file) std::fclose(file);
        }
        void close() {
            if (file) std::fclose(file);
            file = nullptr;
            decompressor.reset();
            buffer = std::vector<char>();
        }
        bool next(std::string& text) {
            if (ended) return false;
            const size_t start = text.size();
            text.reserve(start + kChunk + (256 << 10));
            if (!file) {
                file = std::fopen(path.c_str(), "rb");
                if (!file)
                    throw ZMIndexFailure{ZMError::make(ZMError::Unknown, "cannot read " + path + ": " + std::strerror(errno))};
                if (format != DataDecompression::Format::None)
                    decompressor = std::make_unique<DataDecompression::Decompressor>(format, limit);
                buffer.resize(format == DataDecompression::Format::None ? kChunk : 64 << 10);
            }
            auto sink = [&](std::string_view piece) {
                text.append(piece);
                return true;
            };
            while (text.size() - start < kChunk) {
                if (held == 0) {
                    taken = 0;
                    held = std::fread(buffer.data(), 1, buffer.size(), file);
                }
                if (held == 0) {
                    if (std::ferror(file)) throw ZMIndexFailure{ZMError::make(ZMError::Unknown, "read error in " + path)};
                    if (decompressor) {
                        // What the library still holds, a chunk's worth at a time.
                        const uint64_t before = decompressor->totalOutput();
                        auto rest = decompressor->feedSome({}, kChunk - (text.size() - start), sink);
                        if (!rest) throw ZMIndexFailure{*rest.error};
                        if (decompressor->totalOutput() > before) continue;
                        if (auto error = decompressor->finish(sink)) throw ZMIndexFailure{*error};
                    }
                    ended = true;
                    close();
                    return text.size() > start;
                }
                if (!decompressor) {
                    text.append(buffer.data(), held);
                    held = 0;
                    continue;
                }
                // A chunk's worth at a time: a few kilobytes of a bomb expand to gigabytes.
                const uint64_t before = decompressor->totalOutput();
                auto used = decompressor->feedSome(std::string_view(buffer.data() + taken, held),
                                                   kChunk - (text.size() - start), sink);
                if (!used) throw ZMIndexFailure{*used.error};
                if (*used.value == 0 && decompressor->totalOutput() == before)
                    throw ZMIndexFailure{ZMError::make(ZMError::DecompressionFailed, "the decompression stopped in " + path)};
                taken += *used.value;
                held -= *used.value;
            }
            return true;
        }
    };
    auto reader = std::make_shared<Reader>();
    reader->path = path;
    reader->format = format;
    reader->limit = limit;
    return [reader](std::string& text) { return reader->next(text); };
}
