// Throughput of the index decompressors on a Packages-like text, the work a
// source refresh does for every repository.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "Categories/Data+Decompression.h"

namespace {

std::string packagesText(size_t stanzas) {
    std::string s;
    for (size_t i = 0; i < stanzas; ++i) {
        s += "Package: com.example.tweak" + std::to_string(i) + "\nVersion: 1." + std::to_string(i % 17) +
             "\nArchitecture: iphoneos-arm\nMaintainer: Dev " + std::to_string(i % 97) +
             " <dev@example.com>\nFilename: pool/main/t/tweak" + std::to_string(i) +
             ".deb\nSize: " + std::to_string(1000 + i * 37 % 90000) + "\nDescription: number " +
             std::to_string(i * 7919 % 10007) + "\n\n";
    }
    return s;
}

// Compresses with the command-line tool once per format.
std::string compressed(const char* command) {
    static std::string plain = packagesText(60000);  // about 12 MB
    std::string dir = std::filesystem::temp_directory_path() / "vostrelle-bench";
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/Packages", std::ios::binary) << plain;
    std::string out = dir + "/Packages.out";
    std::string line = std::string(command) + " < " + dir + "/Packages > " + out;
    if (std::system(line.c_str()) != 0) return {};
    std::stringstream ss;
    {
        std::ifstream in(out, std::ios::binary);
        ss << in.rdbuf();
    }
    std::filesystem::remove_all(dir);
    return ss.str();
}

void decompress(benchmark::State& state, const char* command, DataDecompression::Format format) {
    std::string data = compressed(command);
    size_t produced = 0;
    for (auto _ : state) {
        DataDecompression::Decompressor d(format);
        size_t bytes = 0;
        auto sink = [&](std::string_view piece) {
            bytes += piece.size();
            return true;
        };
        if (d.feed(data, sink) || d.finish(sink)) state.SkipWithError("decompression failed");
        produced = bytes;
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * produced));
}

}  // namespace

BENCHMARK_CAPTURE(decompress, gzip, "gzip -c", DataDecompression::Format::Gzip)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decompress, bzip2, "bzip2 -c", DataDecompression::Format::Bzip2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decompress, xz, "xz -c", DataDecompression::Format::Xz)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decompress, lzma, "xz --format=lzma -c", DataDecompression::Format::Lzma)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
