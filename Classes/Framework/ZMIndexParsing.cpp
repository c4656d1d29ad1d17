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
    uint64_t ticket = 0;
    bool urgent = false;

    // The list pass.
    bool reading = false, readStarted = false, textEnded = false;
    std::string carry;  // text after the last boundary cut
    double bytesRead = 0;
    size_t nextPiece = 0;
    std::deque<std::pair<size_t, std::string>> pieces;  // cut, not yet checked
    size_t checking = 0;
    std::map<size_t, std::string> checked;  // accepted text waiting for its turn in the list
    size_t nextListed = 0;
    bool listing = false, listDone = false;
    uint64_t listBytes = 0;
    std::vector<std::pair<uint64_t, size_t>> ranges;  // listed pieces: offset, length
    ZMParseTally tally;

    // The record pass.
    size_t nextRange = 0, recording = 0;
    std::map<size_t, ZMParsedBatch> made;
    size_t nextOut = 0;
    std::deque<ZMParsedBatch> garbage;

    std::optional<ZMError> error;
    bool cancelled = false;
    int busy = 0;  // pool threads working on it
    ZMIndexParsing::Pool* pool = nullptr;

    bool stopped() const { return error.has_value() || cancelled; }
    bool reads() const { return readStarted && !textEnded && !stopped(); }
    size_t piecesHeld() const { return pieces.size() + checking + checked.size(); }
    size_t batchesHeld() const { return made.size() + recording; }
    bool recordsDone() const { return listDone && nextOut == ranges.size(); }
};

struct ZMIndexParsing::Pool {
    std::mutex mutex;
    std::condition_variable work;    // pool threads
    std::condition_variable events;  // consumers and closing streams
    std::vector<std::shared_ptr<ZMIndexStream::State>> streams;  // in the order they were opened
    uint64_t nextTicket = 1;

    enum class Kind { None, Free, Read, Check, Record };
    struct Task {
        Kind kind = Kind::None;
        std::shared_ptr<ZMIndexStream::State> stream;
        size_t seq = 0;
        std::string text;
        std::deque<ZMParsedBatch> garbage;
        std::pair<uint64_t, size_t> range;
    };

    void fail(ZMIndexStream::State& s, ZMError error) {
        if (!s.error) s.error = std::move(error);
        events.notify_all();
    }

    bool canRecord(const ZMIndexStream::State& s, size_t limit) const {
        return !s.stopped() && s.nextRange < s.ranges.size() && s.batchesHeld() < limit;
    }

    // The next thing to do, most useful first: free what the writer gave
    // back, make records for the index the writer is on, read and check the
    // indexes in the order they came (so their lists are ready in turn),
    // then make records ahead for the next indexes.
    Task pick() {
        Task task;
        for (auto& s : streams)
            if (!s->garbage.empty()) {
                task.kind = Kind::Free;
                task.stream = s;
                task.garbage.swap(s->garbage);
                return task;
            }
        for (auto& s : streams)
            if (s->urgent && canRecord(*s, kBatchesAhead)) return takeRecord(s);
        size_t readers = 0;
        for (const auto& s : streams) readers += s->reads() ? 1 : 0;
        for (auto& s : streams) {
            if (s->stopped()) continue;
            if (!s->pieces.empty()) {
                task.kind = Kind::Check;
                task.stream = s;
                task.seq = s->pieces.front().first;
                task.text = std::move(s->pieces.front().second);
                s->pieces.pop_front();
                ++s->checking;
                ++s->busy;
                return task;
            }
            if (!s->reading && !s->textEnded && s->piecesHeld() < kPiecesAhead &&
                (s->readStarted || readers < kReadersAtOnce)) {
                task.kind = Kind::Read;
                task.stream = s;
                s->reading = s->readStarted = true;
                ++s->busy;
                return task;
            }
        }
        size_t prefetched = 0;
        for (const auto& s : streams)
            if (!s->urgent) prefetched += s->batchesHeld();
        if (prefetched < kBatchesPrefetched)
            for (auto& s : streams)
                if (!s->urgent && canRecord(*s, kBatchesAhead)) return takeRecord(s);
        return task;
    }

    Task takeRecord(const std::shared_ptr<ZMIndexStream::State>& s) {
        Task task;
        task.kind = Kind::Record;
        task.stream = s;
        task.seq = s->nextRange;
        task.range = s->ranges[s->nextRange++];
        ++s->recording;
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
            if (task.stream && task.kind != Kind::Free && --task.stream->busy == 0) events.notify_all();
            task.stream.reset();
        }
    }

    // One chunk of text, cut into pieces at stanza boundaries.
    void read(Task& task, std::unique_lock<std::mutex>& lock) {
        ZMIndexStream::State& s = *task.stream;
        std::vector<std::string> cut;
        bool more = false;
        std::optional<ZMError> failure;
        bool sawText = false;
        try {
            std::string chunk;
            more = s.text(chunk);
            if (std::memchr(chunk.data(), '\0', chunk.size()))
                throw ZMIndexFailure{ZMError::make(ZMError::InvalidServerData, "the index holds binary data")};
            sawText = chunk.find_first_not_of(" \t\r\n") != std::string::npos;
            s.bytesRead += static_cast<double>(chunk.size());
            if (s.progress) s.progress(s.bytesRead);
            s.carry.append(chunk);
            size_t start = 0;
            while (s.carry.size() - start > kPiece) {
                const size_t end = boundaryAfter(s.carry, start + kPiece);
                if (end == std::string::npos) break;
                cut.push_back(s.carry.substr(start, end - start));
                start = end;
            }
            s.carry.erase(0, start);
            if (!more && !s.carry.empty()) cut.push_back(std::exchange(s.carry, std::string()));
        } catch (const ZMIndexFailure& f) {
            failure = f.error;
        } catch (const std::exception& e) {
            failure = ZMError::make(ZMError::Unknown, e.what());
        }
        // The decompressor goes as soon as the text has ended.
        ZMIndexStream::Text finished;
        lock.lock();
        s.reading = false;
        if (sawText) s.tally.sawText = true;
        if (failure) {
            fail(s, *failure);
        } else {
            for (auto& piece : cut) s.pieces.emplace_back(s.nextPiece++, std::move(piece));
            if (!more) s.textEnded = true;
            maybeListDone(s);
        }
        if (failure || !more) finished.swap(s.text);
        work.notify_all();
        lock.unlock();
    }

    // The list pass over one piece; the accepted text joins the list in turn.
    void check(Task& task, std::unique_lock<std::mutex>& lock) {
        ZMIndexStream::State& s = *task.stream;
        std::string accepted;
        ZMParseTally tally;
        std::optional<ZMError> failure;
        try {
            accepted.reserve(task.text.size());
            ZMControlParser parser([&](const ZMControlStanza& stanza) {
                if (!s.accept(stanza, tally)) return true;
                accepted.append(stanza.raw());
                if (accepted.back() != '\n') accepted.push_back('\n');
                accepted.push_back('\n');
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
            if (!text.empty()) s.ranges.emplace_back(offset, text.size());
        }
        s.listing = false;
        maybeListDone(s);
        work.notify_all();
    }

    void maybeListDone(ZMIndexStream::State& s) {
        if (s.listDone || s.stopped() || !s.textEnded || s.reading || s.piecesHeld() > 0 || s.listing) return;
        s.listDone = true;
        events.notify_all();
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
        events.notify_all();
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
        state->ticket = pool_->nextTicket++;
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
        pool.events.wait(lock, [&] { return s.busy == 0; });
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
    s.pool->events.wait(lock, [&] { return s.listDone || s.stopped(); });
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
    pool.events.wait(lock, [&] { return s.stopped() || s.made.count(s.nextOut) || s.recordsDone(); });
    if (s.stopped() || s.recordsDone()) return false;
    auto it = s.made.find(s.nextOut);
    batch = std::move(it->second);
    s.made.erase(it);
    ++s.nextOut;
    pool.work.notify_all();  // room for the next one
    return true;
}

void ZMIndexStream::giveBack(ZMParsedBatch batch) {
    if (batch.stanzas.empty()) return;
    {
        std::lock_guard lock(state_->pool->mutex);
        state_->garbage.push_back(std::move(batch));
    }
    state_->pool->work.notify_one();
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
        state_->pool->events.notify_all();
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
        bool next(std::string& chunk) {
            chunk.clear();
            if (ended) return false;
            if (!file) {
                file = std::fopen(path.c_str(), "rb");
                if (!file)
                    throw ZMIndexFailure{ZMError::make(ZMError::Unknown, "cannot read " + path + ": " + std::strerror(errno))};
                if (format != DataDecompression::Format::None)
                    decompressor = std::make_unique<DataDecompression::Decompressor>(format, limit);
                buffer.resize(format == DataDecompression::Format::None ? kChunk : 64 << 10);
            }
            auto sink = [&](std::string_view piece) {
                chunk.append(piece);
                return true;
            };
            while (chunk.size() < kChunk) {
                const size_t n = std::fread(buffer.data(), 1, buffer.size(), file);
                if (n == 0) {
                    if (std::ferror(file)) throw ZMIndexFailure{ZMError::make(ZMError::Unknown, "read error in " + path)};
                    if (decompressor)
                        if (auto error = decompressor->finish(sink)) throw ZMIndexFailure{*error};
                    ended = true;
                    close();
                    return !chunk.empty();
                }
                if (!decompressor) {
                    chunk.append(buffer.data(), n);
                } else if (auto error = decompressor->feed(std::string_view(buffer.data(), n), sink)) {
                    throw ZMIndexFailure{*error};
                }
            }
            return true;
        }
    };
    auto reader = std::make_shared<Reader>();
    reader->path = path;
    reader->format = format;
    reader->limit = limit;
    return [reader](std::string& chunk) { return reader->next(chunk); };
}
