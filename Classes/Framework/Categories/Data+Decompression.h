#pragma once
// Decompression of repository indexes: gzip (zlib), bzip2, xz and the older
// lzma format (liblzma), streaming, with a cap on the output size. Corrupt,
// truncated or oversized input fails with ZMError code 31.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Miscellaneous/ZMError.h"

namespace DataDecompression {

enum class Format { None, Gzip, Bzip2, Xz, Lzma };

// Output allowed unless the caller says otherwise: a decompression bomb stops here.
inline constexpr uint64_t kDefaultMaximumOutputSize = 1ull << 30;

// By file-name or URL suffix (".gz", ".bz2", ".xz", ".lzma", any case; a
// query or fragment is ignored); Format::None for any other name.
Format formatForName(std::string_view name);
// By the first bytes of the data; nullopt when no format is recognised.
std::optional<Format> formatForMagic(std::string_view head);
// The magic wins (servers sometimes undo or add a compression the name does
// not show); the name decides when the magic says nothing.
Format detectFormat(std::string_view name, std::string_view head);
std::string_view extension(Format format);  // ".gz", ... ("" for None)

// Streaming decompressor: feed chunks, then finish.
class Decompressor {
public:
    // Receives output in pieces; returning false stops with an error.
    using Sink = std::function<bool(std::string_view)>;

    explicit Decompressor(Format format, uint64_t maximumOutputSize = kDefaultMaximumOutputSize);
    ~Decompressor();
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    std::optional<ZMError> feed(std::string_view input, const Sink& sink);
    // As feed(), but stops once `enough` bytes came out of this call (one
    // step of the library may go up to 64 KiB past it), so that a small
    // input that expands enormously is read a part at a time. The value is
    // the number of input bytes taken; the rest is to be given again. Once
    // the input has ended, feedSome() with no input gives what is still held
    // (the rest of a bzip2 block), until it gives nothing; then finish().
    ZMResult<size_t> feedSome(std::string_view input, uint64_t enough, const Sink& sink);
    // Fails when the input ended before the compressed stream did.
    std::optional<ZMError> finish(const Sink& sink);
    uint64_t totalOutput() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// Buffer to buffer.
ZMResult<std::string> decompress(std::string_view data, Format format,
                                 uint64_t maximumOutputSize = kDefaultMaximumOutputSize);
// File to file, in chunks; the format comes from the magic or the source's
// name unless given. The destination appears only when everything worked.
// The value is the number of bytes written.
ZMResult<uint64_t> decompressFile(const std::string& source, const std::string& destination,
                                  std::optional<Format> format = std::nullopt,
                                  uint64_t maximumOutputSize = kDefaultMaximumOutputSize);

}  // namespace DataDecompression
