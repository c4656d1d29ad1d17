// One refresh of a source, timed, for Benchmarks/source-refresh.sh: downloads,
// decompresses, parses and stores the index into a fresh database, then
// prints one JSON line with the wall time and the process's peak resident
// memory (VmHWM). The script runs it once per measurement, beside
// `apt-get update` of a private tree on the same files.
//
//   bench_SourceRefreshBench <location> <data directory> [refreshes]
//
// With refreshes > 1 the later ones show the unchanged (304) path.
#include <chrono>
#include <cstdio>
#include <string>

#include "BenchSupport.h"
#include "Database/ZMRSource.h"
#include "Miscellaneous/ZMPaths.h"
#include "ZMSourceRefresh.h"


int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <location> <data directory> [refreshes]\n", argv[0]);
        return 2;
    }
    const std::string location = argv[1];
    ZMPaths::setApplicationSupport(argv[2]);
    const int refreshes = argc > 3 ? std::stoi(argv[3]) : 1;
    auto realm = Realm::defaultRealm();
    realm->transactionWithBlock([&] {
        auto source = ZMRSource::newSourceWithLocation(location);
        realm->addOrUpdate(source);
    });
    for (int i = 0; i < refreshes; ++i) {
        const auto start = std::chrono::steady_clock::now();
        auto result = ZMSourceRefresh::make(location)->refresh();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!result) {
            std::printf("{\"error\": \"%s\"}\n", result.error->debugDescription().c_str());
            return 1;
        }
        if (i == 0 && result.value->packages == 0) {
            // A refresh that stored nothing measures nothing.
            std::printf("{\"error\": \"the refresh stored no package\"}\n");
            return 1;
        }
        std::printf("{\"seconds\": %.3f, \"vmhwm_kb\": %ld, \"packages\": %zu, \"variant\": \"%s\", \"unchanged\": %s}\n",
                    seconds, BenchSupport::statusKilobytes("VmHWM:"), result.value->packages, result.value->variant.c_str(),
                    result.value->unchanged ? "true" : "false");
        std::fflush(stdout);
    }
    return 0;
}
