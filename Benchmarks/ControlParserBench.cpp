// Stanza parsing throughput over the host's Debian index (about 50 MB, 63k
// stanzas): ours from memory, from the file in pieces, and from an .xz copy
// through liblzma, against libapt-pkg's pkgTagFile over the same files. Each
// stanza's Package, Version and Architecture are looked up, as a refresh does.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <lzma.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Miscellaneous/ZMControlParser.h"

#ifdef VOSTRELLE_HAVE_APT_PKG
#include <apt-pkg/configuration.h>
#include <apt-pkg/fileutl.h>
#include <apt-pkg/init.h>
#include <apt-pkg/tagfile.h>
#endif

namespace {

constexpr size_t kPiece = 1 << 16;
constexpr size_t kDecodedPiece = 1 << 20;  // fewer, larger hand-overs from the decoder

struct Tally {
    size_t stanzas = 0, bytes = 0;
    bool operator()(const ZMControlStanza& s) {
        ++stanzas;
        bytes += s.field("Package").value_or("").size() + s.field("Version").value_or("").size() +
                 s.field("Architecture").value_or("").size();
        return true;
    }
};

void report(benchmark::State& state, size_t stanzas) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * BenchSupport::debianIndex().size()));
    state.counters["stanzas"] = static_cast<double>(stanzas);
}

bool skipWithoutFile(benchmark::State& state, const std::string& path, const char* what) {
    if (BenchSupport::skipWithoutIndex(state)) return true;
    if (!path.empty()) return false;
    state.SkipWithError(what);
    return true;
}

}  // namespace

static void BM_ZMControlParser_Memory(benchmark::State& state) {
    if (BenchSupport::skipWithoutIndex(state)) return;
    const std::string& text = BenchSupport::debianIndex();
    size_t stanzas = 0;
    for (auto _ : state) {
        Tally tally;
        ZMControlParser::forEachStanza(text, std::ref(tally));
        stanzas = tally.stanzas;
        benchmark::DoNotOptimize(tally.bytes);
    }
    report(state, stanzas);
}
BENCHMARK(BM_ZMControlParser_Memory)->Unit(benchmark::kMillisecond);

static void BM_ZMControlParser_FilePieces(benchmark::State& state) {
    const std::string& path = BenchSupport::plainIndexFile();
    if (skipWithoutFile(state, path, "cannot write the plain index copy")) return;
    std::vector<char> buffer(kPiece);
    size_t stanzas = 0;
    for (auto _ : state) {
        Tally tally;
        ZMControlParser parser(std::ref(tally));
        const int fd = ::open(path.c_str(), O_RDONLY);
        ssize_t n;
        while ((n = ::read(fd, buffer.data(), buffer.size())) > 0) parser.feed(std::string_view(buffer.data(), n));
        parser.finish();
        ::close(fd);
        stanzas = tally.stanzas;
        benchmark::DoNotOptimize(tally.bytes);
    }
    report(state, stanzas);
}
BENCHMARK(BM_ZMControlParser_FilePieces)->Unit(benchmark::kMillisecond);

// Decodes the .xz copy with liblzma, handing each decoded piece to sink.
template <typename Sink>
bool decodeXz(const std::string& path, std::vector<uint8_t>& in, std::vector<uint8_t>& out, Sink&& sink) {
    lzma_stream strm = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&strm, UINT64_MAX, 0) != LZMA_OK) return false;
    const int fd = ::open(path.c_str(), O_RDONLY);
    lzma_ret ret = fd < 0 ? LZMA_PROG_ERROR : LZMA_OK;
    bool eof = false;
    while (ret == LZMA_OK) {
        if (strm.avail_in == 0 && !eof) {
            const ssize_t n = ::read(fd, in.data(), in.size());
            eof = n <= 0;
            strm.next_in = in.data();
            strm.avail_in = n > 0 ? static_cast<size_t>(n) : 0;
        }
        strm.next_out = out.data();
        strm.avail_out = out.size();
        ret = lzma_code(&strm, eof ? LZMA_FINISH : LZMA_RUN);
        sink(std::string_view(reinterpret_cast<const char*>(out.data()), out.size() - strm.avail_out));
    }
    lzma_end(&strm);
    if (fd >= 0) ::close(fd);
    return ret == LZMA_STREAM_END;
}

static void BM_ZMControlParser_Xz(benchmark::State& state) {
    const std::string& path = BenchSupport::xzIndexFile();
    if (skipWithoutFile(state, path, "cannot make the .xz copy (xz missing?)")) return;
    std::vector<uint8_t> in(kPiece), out(kDecodedPiece);
    size_t stanzas = 0;
    for (auto _ : state) {
        Tally tally;
        ZMControlParser parser(std::ref(tally));
        if (!decodeXz(path, in, out, [&](std::string_view piece) { parser.feed(piece); })) state.SkipWithError("xz stream did not decode");
        parser.finish();
        stanzas = tally.stanzas;
        benchmark::DoNotOptimize(tally.bytes);
    }
    report(state, stanzas);
}
BENCHMARK(BM_ZMControlParser_Xz)->Unit(benchmark::kMillisecond)->Iterations(3);

// Reference: liblzma alone, what any xz reader pays before parsing.
static void BM_XzDecodeOnly(benchmark::State& state) {
    const std::string& path = BenchSupport::xzIndexFile();
    if (skipWithoutFile(state, path, "cannot make the .xz copy (xz missing?)")) return;
    std::vector<uint8_t> in(kPiece), out(kDecodedPiece);
    for (auto _ : state) {
        size_t bytes = 0;
        if (!decodeXz(path, in, out, [&](std::string_view piece) { bytes += piece.size(); })) state.SkipWithError("xz stream did not decode");
        benchmark::DoNotOptimize(bytes);
    }
    report(state, 0);
}
BENCHMARK(BM_XzDecodeOnly)->Unit(benchmark::kMillisecond)->Iterations(3);

#ifdef VOSTRELLE_HAVE_APT_PKG
namespace {

size_t aptTagFile(const std::string& path, FileFd::CompressMode mode, size_t& bytes) {
    FileFd fd(path, FileFd::ReadOnly, mode);
    pkgTagFile tags(&fd);
    pkgTagSection section;
    size_t stanzas = 0;
    while (tags.Step(section)) {
        ++stanzas;
        bytes += section.Find("Package").size() + section.Find("Version").size() + section.Find("Architecture").size();
    }
    return stanzas;
}

void aptBench(benchmark::State& state, const std::string& path, FileFd::CompressMode mode) {
    static const bool initialised = pkgInitConfig(*_config);
    (void)initialised;
    size_t stanzas = 0, bytes = 0;
    for (auto _ : state) stanzas = aptTagFile(path, mode, bytes);
    benchmark::DoNotOptimize(bytes);
    report(state, stanzas);
}

}  // namespace

static void BM_AptTagFile_Plain(benchmark::State& state) {
    const std::string& path = BenchSupport::plainIndexFile();
    if (skipWithoutFile(state, path, "cannot write the plain index copy")) return;
    aptBench(state, path, FileFd::None);
}
BENCHMARK(BM_AptTagFile_Plain)->Unit(benchmark::kMillisecond);

static void BM_AptTagFile_Xz(benchmark::State& state) {
    const std::string& path = BenchSupport::xzIndexFile();
    if (skipWithoutFile(state, path, "cannot make the .xz copy (xz missing?)")) return;
    aptBench(state, path, FileFd::Xz);
}
BENCHMARK(BM_AptTagFile_Xz)->Unit(benchmark::kMillisecond)->Iterations(3);
#endif

BENCHMARK_MAIN();
