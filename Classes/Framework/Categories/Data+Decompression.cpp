#include "Data+Decompression.h"

#include <bzlib.h>
#include <lzma.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace DataDecompression {
namespace {

constexpr size_t kChunk = 1 << 16;
// liblzma may allocate this much for a dictionary; more is treated as damage.
constexpr uint64_t kLZMAMemoryLimit = 512ull << 20;

ZMError failure(std::string detail) { return ZMError::make(ZMError::DecompressionFailed, std::move(detail)); }

bool endsWithIgnoringCase(std::string_view s, std::string_view suffix) {
    if (s.size() < suffix.size()) return false;
    return std::equal(suffix.begin(), suffix.end(), s.end() - static_cast<long>(suffix.size()),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

}  // namespace

Format formatForName(std::string_view name) {
    name = name.substr(0, name.find_first_of("?#"));
    if (endsWithIgnoringCase(name, ".gz") || endsWithIgnoringCase(name, ".tgz")) return Format::Gzip;
    if (endsWithIgnoringCase(name, ".bz2")) return Format::Bzip2;
    if (endsWithIgnoringCase(name, ".xz")) return Format::Xz;
    if (endsWithIgnoringCase(name, ".lzma")) return Format::Lzma;
    return Format::None;
}

std::optional<Format> formatForMagic(std::string_view head) {
    auto starts = [&](std::string_view magic) { return head.substr(0, magic.size()) == magic; };
    if (starts("\x1f\x8b")) return Format::Gzip;
    if (starts("BZh") && head.size() > 3 && head[3] >= '1' && head[3] <= '9') return Format::Bzip2;
    if (starts(std::string_view("\xfd" "7zXZ\0", 6))) return Format::Xz;
    // lzma-alone has no magic; this is the header every common encoder writes
    // (lc=3 lp=0 pb=2 and a power-of-two dictionary).
    if (head.size() >= 13 && static_cast<unsigned char>(head[0]) == 0x5d && head[1] == 0 && head[2] == 0) return Format::Lzma;
    return std::nullopt;
}

Format detectFormat(std::string_view name, std::string_view head) {
    if (auto f = formatForMagic(head)) return *f;
    return formatForName(name);
}

std::string_view extension(Format format) {
    switch (format) {
    case Format::Gzip: return ".gz";
    case Format::Bzip2: return ".bz2";
    case Format::Xz: return ".xz";
    case Format::Lzma: return ".lzma";
    case Format::None: return "";
    }
    return "";
}

struct Decompressor::Impl {
    explicit Impl(uint64_t limit) : limit(limit) {}
    virtual ~Impl() = default;
    virtual std::optional<ZMError> feed(std::string_view input, const Sink& sink) = 0;
    virtual std::optional<ZMError> finish(const Sink& sink) = 0;
    // Input of the last feed the library has not taken.
    virtual size_t untakenInput() const { return 0; }

    // Hands output on, enforcing the cap.
    std::optional<ZMError> deliverOutput(const char* data, size_t length, const Sink& sink) {
        if (length == 0) return std::nullopt;
        if (limit > 0 && total + length > limit)
            return failure("output exceeds the limit of " + std::to_string(limit) + " bytes");
        total += length;
        if (!sink(std::string_view(data, length))) return failure("output could not be written");
        return std::nullopt;
    }

    // A feed stops taking input once the output reaches this (feedSome).
    bool enoughOutput() const { return total >= stopAt; }

    uint64_t limit;
    uint64_t total = 0;
    uint64_t stopAt = UINT64_MAX;
    std::vector<char> buffer = std::vector<char>(kChunk);
};

namespace {

struct Stored : Decompressor::Impl {
    using Impl::Impl;
    std::optional<ZMError> feed(std::string_view input, const Decompressor::Sink& sink) override {
        return deliverOutput(input.data(), input.size(), sink);
    }
    std::optional<ZMError> finish(const Decompressor::Sink&) override { return std::nullopt; }
};

struct Gzip : Decompressor::Impl {
    explicit Gzip(uint64_t limit) : Impl(limit) { ok = inflateInit2(&z, 15 + 32) == Z_OK; }
    ~Gzip() override { inflateEnd(&z); }

    std::optional<ZMError> feed(std::string_view input, const Decompressor::Sink& sink) override {
        if (!ok) return failure("zlib could not start");
        if (!input.empty()) sawInput = true;
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
        z.avail_in = static_cast<uInt>(input.size());
        while (z.avail_in > 0) {
            if (enoughOutput()) return std::nullopt;
            if (ended) {
                // After a member: another member, zero padding, or damage.
                if (*z.next_in == 0) {
                    ++z.next_in;
                    --z.avail_in;
                    continue;
                }
                if (*z.next_in != 0x1f) return failure("gzip: trailing garbage after the compressed data");
                inflateReset(&z);
                ended = false;
            }
            z.next_out = reinterpret_cast<Bytef*>(buffer.data());
            z.avail_out = static_cast<uInt>(buffer.size());
            int ret = inflate(&z, Z_NO_FLUSH);
            if (auto e = deliverOutput(buffer.data(), buffer.size() - z.avail_out, sink)) return e;
            if (ret == Z_STREAM_END) {
                ended = true;
            } else if (ret == Z_BUF_ERROR) {
                if (z.avail_out != 0) break;  // needs more input
            } else if (ret != Z_OK) {
                return failure(std::string("gzip: ") + (z.msg ? z.msg : "data error"));
            }
        }
        // Flush output still held back for lack of room.
        while (!ended && z.avail_out == 0) {
            z.next_out = reinterpret_cast<Bytef*>(buffer.data());
            z.avail_out = static_cast<uInt>(buffer.size());
            int ret = inflate(&z, Z_NO_FLUSH);
            if (auto e = deliverOutput(buffer.data(), buffer.size() - z.avail_out, sink)) return e;
            if (ret == Z_STREAM_END) ended = true;
            else if (ret != Z_OK && ret != Z_BUF_ERROR) return failure(std::string("gzip: ") + (z.msg ? z.msg : "data error"));
        }
        return std::nullopt;
    }
    std::optional<ZMError> finish(const Decompressor::Sink&) override {
        if (!sawInput || !ended) return failure("gzip: unexpected end of data");
        return std::nullopt;
    }
    size_t untakenInput() const override { return z.avail_in; }

    z_stream z{};
    bool ok = false, ended = false, sawInput = false;
};

struct Bzip2 : Decompressor::Impl {
    explicit Bzip2(uint64_t limit) : Impl(limit) { ok = BZ2_bzDecompressInit(&s, 0, 0) == BZ_OK; }
    ~Bzip2() override {
        if (ok) BZ2_bzDecompressEnd(&s);
    }

    std::optional<ZMError> feed(std::string_view input, const Decompressor::Sink& sink) override {
        if (!ok) return failure("bzip2 could not start");
        if (!input.empty()) sawInput = true;
        s.next_in = const_cast<char*>(input.data());
        s.avail_in = static_cast<unsigned>(input.size());
        for (;;) {
            // Even with all input taken: the rest of a block (tens of
            // megabytes from a few bytes) comes with the next feed.
            if (enoughOutput()) return std::nullopt;
            if (ended) {
                if (s.avail_in == 0) break;
                if (*s.next_in != 'B') return failure("bzip2: trailing garbage after the compressed data");
                // Concatenated streams, as bzip2 itself accepts them.
                BZ2_bzDecompressEnd(&s);
                char* next = s.next_in;
                unsigned avail = s.avail_in;
                s = bz_stream{};
                ok = BZ2_bzDecompressInit(&s, 0, 0) == BZ_OK;
                if (!ok) return failure("bzip2 could not start");
                s.next_in = next;
                s.avail_in = avail;
                ended = false;
            }
            s.next_out = buffer.data();
            s.avail_out = static_cast<unsigned>(buffer.size());
            int ret = BZ2_bzDecompress(&s);
            size_t produced = buffer.size() - s.avail_out;
            if (auto e = deliverOutput(buffer.data(), produced, sink)) return e;
            if (ret == BZ_STREAM_END) {
                ended = true;
                continue;
            }
            if (ret != BZ_OK) return failure("bzip2: data error " + std::to_string(ret));
            if (s.avail_in == 0 && produced < buffer.size()) break;  // needs more input
        }
        return std::nullopt;
    }
    std::optional<ZMError> finish(const Decompressor::Sink&) override {
        if (!sawInput || !ended) return failure("bzip2: unexpected end of data");
        return std::nullopt;
    }
    size_t untakenInput() const override { return s.avail_in; }

    bz_stream s{};
    bool ok = false, ended = false, sawInput = false;
};

struct LZMA : Decompressor::Impl {
    LZMA(uint64_t limit, bool alone) : Impl(limit) {
        ok = (alone ? lzma_alone_decoder(&s, kLZMAMemoryLimit)
                    : lzma_stream_decoder(&s, kLZMAMemoryLimit, LZMA_CONCATENATED)) == LZMA_OK;
    }
    ~LZMA() override { lzma_end(&s); }

    std::optional<ZMError> run(std::string_view input, lzma_action action, const Decompressor::Sink& sink) {
        if (!ok) return failure("lzma could not start");
        if (ended) {
            if (!input.empty()) return failure("lzma: trailing garbage after the compressed data");
            return std::nullopt;
        }
        s.next_in = reinterpret_cast<const uint8_t*>(input.data());
        s.avail_in = input.size();
        for (;;) {
            if (enoughOutput() && s.avail_in > 0 && action == LZMA_RUN) return std::nullopt;
            s.next_out = reinterpret_cast<uint8_t*>(buffer.data());
            s.avail_out = buffer.size();
            lzma_ret ret = lzma_code(&s, action);
            size_t produced = buffer.size() - s.avail_out;
            if (auto e = deliverOutput(buffer.data(), produced, sink)) return e;
            if (ret == LZMA_STREAM_END) {
                ended = true;
                if (s.avail_in > 0) return failure("lzma: trailing garbage after the compressed data");
                return std::nullopt;
            }
            // Running, no progress only means nothing more for now (a feed
            // with no input); the end of the data is judged at finish().
            if (ret == LZMA_BUF_ERROR && action == LZMA_RUN) return std::nullopt;
            if (ret == LZMA_BUF_ERROR) return failure("lzma: unexpected end of data");
            if (ret != LZMA_OK) return failure("lzma: data error " + std::to_string(static_cast<int>(ret)));
            if (s.avail_in == 0 && produced < buffer.size()) {
                if (action == LZMA_FINISH) return failure("lzma: unexpected end of data");
                return std::nullopt;
            }
        }
    }
    std::optional<ZMError> feed(std::string_view input, const Decompressor::Sink& sink) override {
        if (!input.empty()) sawInput = true;
        return run(input, LZMA_RUN, sink);
    }
    std::optional<ZMError> finish(const Decompressor::Sink& sink) override {
        if (!sawInput) return failure("lzma: no data");
        if (ended) return std::nullopt;
        if (auto e = run({}, LZMA_FINISH, sink)) return e;
        return ended ? std::nullopt : std::optional<ZMError>(failure("lzma: unexpected end of data"));
    }
    size_t untakenInput() const override { return s.avail_in; }

    lzma_stream s = LZMA_STREAM_INIT;
    bool ok = false, ended = false, sawInput = false;
};

}  // namespace

Decompressor::Decompressor(Format format, uint64_t maximumOutputSize) {
    switch (format) {
    case Format::None: impl_ = std::make_unique<Stored>(maximumOutputSize); break;
    case Format::Gzip: impl_ = std::make_unique<Gzip>(maximumOutputSize); break;
    case Format::Bzip2: impl_ = std::make_unique<Bzip2>(maximumOutputSize); break;
    case Format::Xz: impl_ = std::make_unique<LZMA>(maximumOutputSize, false); break;
    case Format::Lzma: impl_ = std::make_unique<LZMA>(maximumOutputSize, true); break;
    }
}

Decompressor::~Decompressor() = default;

std::optional<ZMError> Decompressor::feed(std::string_view input, const Sink& sink) { return impl_->feed(input, sink); }
std::optional<ZMError> Decompressor::finish(const Sink& sink) { return impl_->finish(sink); }

ZMResult<size_t> Decompressor::feedSome(std::string_view input, uint64_t enough, const Sink& sink) {
    impl_->stopAt = impl_->total + std::max<uint64_t>(enough, 1);
    auto error = impl_->feed(input, sink);
    impl_->stopAt = UINT64_MAX;
    if (error) return ZMResult<size_t>::failure(*error);
    return ZMResult<size_t>::success(input.size() - impl_->untakenInput());
}
uint64_t Decompressor::totalOutput() const { return impl_->total; }

ZMResult<std::string> decompress(std::string_view data, Format format, uint64_t maximumOutputSize) {
    std::string out;
    Decompressor d(format, maximumOutputSize);
    auto sink = [&out](std::string_view piece) {
        out.append(piece);
        return true;
    };
    // Fed in chunks so the cap is checked before the output grows far past it.
    for (size_t pos = 0; pos < data.size(); pos += kChunk)
        if (auto e = d.feed(data.substr(pos, kChunk), sink)) return ZMResult<std::string>::failure(*e);
    if (auto e = d.finish(sink)) return ZMResult<std::string>::failure(*e);
    return ZMResult<std::string>::success(std::move(out));
}

ZMResult<uint64_t> decompressFile(const std::string& source, const std::string& destination,
                                  std::optional<Format> format, uint64_t maximumOutputSize) {
    using Result = ZMResult<uint64_t>;
    std::ifstream in(source, std::ios::binary);
    if (!in) return Result::failure(failure("cannot open " + source));
    std::vector<char> chunk(kChunk);
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    size_t got = static_cast<size_t>(in.gcount());
    Format f = format.value_or(detectFormat(source, std::string_view(chunk.data(), got)));

    std::string temp = destination + ".tmp-XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd >= 0) fchmod(fd, 0644);  // an ordinary file, not mkstemp's private one
    FILE* out = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (!out) {
        if (fd >= 0) close(fd);
        return Result::failure(failure("cannot create " + destination));
    }
    auto fail = [&](ZMError e) {
        fclose(out);
        std::error_code ec;
        std::filesystem::remove(temp, ec);
        return Result::failure(std::move(e));
    };
    Decompressor d(f, maximumOutputSize);
    auto sink = [out](std::string_view piece) { return fwrite(piece.data(), 1, piece.size(), out) == piece.size(); };
    while (got > 0) {
        if (auto e = d.feed(std::string_view(chunk.data(), got), sink)) return fail(*e);
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        got = static_cast<size_t>(in.gcount());
    }
    if (in.bad()) return fail(failure("cannot read " + source));
    if (auto e = d.finish(sink)) return fail(*e);
    if (fflush(out) != 0) return fail(failure("cannot write " + destination));
    fclose(out);
    std::error_code ec;
    std::filesystem::rename(temp, destination, ec);
    if (ec) {
        std::filesystem::remove(temp, ec);
        return Result::failure(failure("cannot write " + destination));
    }
    return Result::success(d.totalOutput());
}

}  // namespace DataDecompression
