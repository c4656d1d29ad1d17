#include "ZMIndexParsing.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

std::optional<ZMError> ZMIndexParsing::decompress(const std::string& source, DataDecompression::Format format,
                                                  uint64_t limit, ZMHandOver<std::string>& pipe) {
    FILE* in = std::fopen(source.c_str(), "rb");
    if (!in) return ZMError::make(ZMError::Unknown, "cannot read " + source);
    DataDecompression::Decompressor decompressor(format, limit);
    std::string pending;
    bool stopped = false;
    auto sink = [&](std::string_view piece) {
        pending.append(piece);
        if (pending.size() >= kChunk) {
            if (!pipe.push(std::move(pending))) stopped = true;
            pending = std::string();
            pending.reserve(kChunk + (64 << 10));
        }
        return !stopped;
    };
    std::vector<char> buffer(256 << 10);
    std::optional<ZMError> error;
    size_t n;
    while (!error && !stopped && (n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0)
        error = decompressor.feed(std::string_view(buffer.data(), n), sink);
    if (!error && !stopped) error = decompressor.finish(sink);
    if (!error && !stopped && !pending.empty()) pipe.push(std::move(pending));
    std::fclose(in);
    if (stopped) return std::nullopt;  // the consumer has its own reason
    return error;
}

ZMIndexParsing::ZMIndexParsing(size_t workers, const std::function<bool(std::string&)>& next, Convert convert,
                               std::function<void(double bytesRead)> progress)
    : convert_(std::move(convert)) {
    for (size_t i = 0; i < std::max<size_t>(workers, 1); ++i) workers_.push_back(std::make_unique<Worker>());
    for (auto& w : workers_) w->thread = std::thread([this, worker = w.get()] { work(*worker); });
    reader_ = std::thread([this, &next, progress = std::move(progress)] { read(next, progress); });
}

ZMIndexParsing::~ZMIndexParsing() {
    for (auto& w : workers_) {
        w->pieces.cancel();
        w->pieces.finish(std::nullopt);
        w->batches.cancel();
    }
    if (reader_.joinable()) reader_.join();
    for (auto& w : workers_)
        if (w->thread.joinable()) w->thread.join();
}

bool ZMIndexParsing::pop(ZMParsedBatch& batch) {
    Worker& w = *workers_[taken_ % workers_.size()];
    if (!w.batches.pop(batch)) {
        if (!error_) error_ = w.batches.error();
        return false;
    }
    ++taken_;
    return true;
}

void ZMIndexParsing::giveBack(ZMParsedBatch batch) {
    Worker& w = *workers_[(taken_ - 1) % workers_.size()];
    if (!w.done.load()) w.used.push(std::move(batch));
}

ZMParseTally ZMIndexParsing::tally() const {
    ZMParseTally sum;
    for (const auto& w : workers_) {
        sum.valid += w->tally.valid;
        sum.foreign += w->tally.foreign;
        sum.skipped += w->tally.skipped;
    }
    sum.sawText = sawText_;
    return sum;
}

size_t ZMIndexParsing::boundaryAfter(std::string_view text, size_t from) {
    for (size_t nl = text.find('\n', from); nl != std::string_view::npos; nl = text.find('\n', nl + 1)) {
        size_t i = nl + 1;
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r')) ++i;
        if (i < text.size() && text[i] == '\n') return i + 1;
    }
    return std::string_view::npos;
}

void ZMIndexParsing::read(const std::function<bool(std::string&)>& next, const std::function<void(double)>& progress) {
    std::optional<ZMError> failure;
    size_t dealt = 0;
    auto deal = [&](std::string piece) { return workers_[dealt++ % workers_.size()]->pieces.push(std::move(piece)); };
    try {
        std::string chunk, buffer;
        double read = 0;
        bool stopped = false;
        while (!stopped && next(chunk)) {
            if (std::memchr(chunk.data(), '\0', chunk.size()))
                throw ZMIndexFailure{ZMError::make(ZMError::InvalidServerData, "the index holds binary data")};
            if (!sawText_) sawText_ = chunk.find_first_not_of(" \t\r\n") != std::string::npos;
            read += static_cast<double>(chunk.size());
            progress(read);
            buffer.append(chunk);
            size_t start = 0;
            while (buffer.size() - start > kPiece) {
                const size_t end = boundaryAfter(buffer, start + kPiece);
                if (end == std::string::npos) break;
                if (!deal(buffer.substr(start, end - start))) {
                    stopped = true;
                    break;
                }
                start = end;
            }
            buffer.erase(0, start);
        }
        if (!stopped && !buffer.empty()) deal(std::move(buffer));
    } catch (const ZMIndexFailure& f) {
        failure = f.error;
    } catch (const std::exception& e) {
        failure = ZMError::make(ZMError::Unknown, e.what());
    }
    for (auto& w : workers_) w->pieces.finish(failure);
}

void ZMIndexParsing::work(Worker& w) {
    std::optional<ZMError> failure;
    try {
        std::string piece;
        while (w.pieces.pop(piece)) {
            ZMParsedBatch used;
            while (w.used.tryPop(used)) used = ZMParsedBatch();
            ZMParsedBatch batch;
            ZMControlParser parser([&](const ZMControlStanza& stanza) {
                convert_(stanza, batch, w.tally);
                return true;
            });
            parser.feed(piece);
            parser.finish();
            if (!w.batches.push(std::move(batch))) break;
        }
        failure = w.pieces.error();
    } catch (const std::exception& e) {
        failure = ZMError::make(ZMError::Unknown, e.what());
    }
    w.done = true;
    w.batches.finish(std::move(failure));
}
