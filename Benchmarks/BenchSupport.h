#pragma once
// Shared by the benchmarks: the host's Debian index as plain text (read once
// through apt-helper, which knows the .lz4 the lists come in) and on-disk
// copies of it, plain and xz-compressed, for the readers that want files.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace BenchSupport {

inline const char* kIndexFile = "/var/lib/apt/lists/deb.debian.org_debian_dists_bookworm_main_binary-amd64_Packages.lz4";

// The uncompressed index; empty when the host has none (benchmarks then skip).
inline const std::string& debianIndex() {
    static const std::string text = [] {
        std::string out;
        if (!std::filesystem::exists(kIndexFile)) return out;
        const std::string command = std::string("/usr/lib/apt/apt-helper cat-file '") + kIndexFile + "' 2>/dev/null";
        FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) return out;
        char buffer[1 << 16];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        if (pclose(pipe) != 0) out.clear();
        return out;
    }();
    return text;
}

inline bool skipWithoutIndex(benchmark::State& state) {
    if (!debianIndex().empty()) return false;
    state.SkipWithError((std::string("no Debian index at ") + kIndexFile + " (or apt-helper failed)").c_str());
    return true;
}

inline std::string scratchDirectory() {
    const std::string dir = (std::filesystem::temp_directory_path() / ("vostrelle-bench-" + std::to_string(getuid()))).string();
    std::filesystem::create_directories(dir);
    return dir;
}

// The index as a plain file; "" without an index.
inline const std::string& plainIndexFile() {
    static const std::string path = []() -> std::string {
        const std::string& text = debianIndex();
        if (text.empty()) return {};
        const std::string p = scratchDirectory() + "/Packages";
        std::error_code ec;
        if (std::filesystem::file_size(p, ec) == text.size()) return p;  // left by an earlier run
        FILE* f = fopen(p.c_str(), "wb");
        if (!f) return {};
        const bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
        return (fclose(f) == 0 && ok) ? p : std::string();
    }();
    return path;
}

// The index compressed with `xz -T1 -6` (made at startup unless an earlier run left it); "" on failure.
inline const std::string& xzIndexFile() {
    static const std::string path = []() -> std::string {
        const std::string& plain = plainIndexFile();
        if (plain.empty()) return {};
        const std::string p = plain + ".xz";
        std::error_code ec;
        if (std::filesystem::exists(p, ec) &&
            std::filesystem::last_write_time(p, ec) >= std::filesystem::last_write_time(plain, ec))
            return p;  // already made from this copy
        const std::string command = "xz -T1 -6 -c '" + plain + "' > '" + p + "'";
        return std::system(command.c_str()) == 0 ? p : std::string();
    }();
    return path;
}

// A size line in kB of /proc/<pid>/<file> ("VmRSS:", "VmHWM:", "RssAnon:" of
// "status"; "Pss:" of "smaps_rollup"), this process's by default; -1 when the
// line is missing.
inline long statusKilobytes(const char* key, long pid = 0, const char* file = "status") {
    std::ifstream status("/proc/" + (pid > 0 ? std::to_string(pid) : std::string("self")) + "/" + file);
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::string(key).size()));
    return -1;
}

}  // namespace BenchSupport
