// One refresh of many sources, as the application runs it, for
// Benchmarks/refresh-many.sh: the private APT tree prepared, the sources
// added without refreshing them, then one refresh of all sources through the
// collection and the pipeline, waited for until the pipeline is idle and the
// caches are rebuilt. Prints one JSON line: the wall time from the
// refresh-all call, the sources that failed, the packages stored, the
// database and log (WAL) sizes at the end, and the peak resident memory
// (VmHWM). Exits 1 when a source failed or no package was stored.
//
//   bench_RefreshManyBench <data directory> <target root> <location>...
//
// A location written "refused:<location>" is one that must fail (a
// decompression bomb): the line then counts those refused with the error of
// a failed decompression, and any other outcome of theirs exits 1; the
// packages of the others must still be stored.
//
// Run it a second time on the same data directory for the unchanged refresh
// (every source answers 304).
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageManager.h"
#include "Database/ZMRSource.h"
#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMHeap.h"
#include "Miscellaneous/ZMPaths.h"
#include "Notifications/NotificationCenter.h"
#include "VostrellePersistentPreferences.h"
#include "ZMAPTManager.h"
#include "ZMPipelineManager.h"
#include "ZMSourceRefresh.h"

namespace {
long long fileSize(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <data directory> <target root> <location>...\n", argv[0]);
        return 2;
    }
    ZMHeap::configure();  // as main() does, before any thread allocates
    Dispatch::MainLoop::instance().install();
    ZMPaths::setApplicationSupport(argv[1]);
    ZMPaths::setTargetRoot(argv[2]);
    std::vector<std::string> locations;
    std::set<std::string> mustFail;  // their refresh task identifiers
    for (int i = 3; i < argc; ++i) {
        std::string location = argv[i];
        if (location.rfind("refused:", 0) == 0) {
            location.erase(0, 8);
            mustFail.insert(ZMSourceRefresh::taskIDForLocation(location));
        }
        locations.push_back(location);
    }

    auto prepared = ZMAPTManager::prepareTree();
    if (!prepared) {
        std::printf("{\"error\": \"the APT tree: %s\"}\n", prepared.error->debugDescription().c_str());
        return 1;
    }
    auto realm = Realm::defaultRealm();
    realm->transactionWithBlock([&] {
        for (const auto& location : locations)
            if (!realm->objectForPrimaryKey<ZMRSource>(location)) {
                auto source = ZMRSource::newSourceWithLocation(location);
                realm->add(source);
            }
    });
    auto& preferences = VostrellePersistentPreferences::sharedInstance();
    preferences.setValue(VostrellePreferenceKey::SetupDone, true);
    // No launch refresh: the one below is the one measured.
    ZMRSources::setReachabilityHook([] { return false; });
    auto& manager = ZMRPackageManager::sharedPackageManager();
    ZMRSources::setReachabilityHook([] { return true; });

    size_t failed = 0, finished = 0, refused = 0;
    bool refreshed = false, rebuilt = false;
    auto& center = NotificationCenter::defaultCenter();
    auto finishedToken = center.addObserver(ZMPipelineTaskFinishedNotification, NotificationCenter::Queue::Main,
                                            [&](const Notification& n) {
                                                if (n.userInfo.value("pipelineID", "") != ZMPipelineSourceOps) return;
                                                ++finished;
                                                const std::string task = n.userInfo.value("taskID", "");
                                                if (mustFail.count(task)) {
                                                    const auto& info = n.userInfo;
                                                    const int code = info.contains("error") ? info["error"].value("code", 0) : 0;
                                                    const bool asRefused =
                                                        !info.value("success", false) && code == ZMError::DecompressionFailed;
                                                    if (asRefused) ++refused;
                                                    else std::fprintf(stderr, "%s was not refused: %s\n", task.c_str(),
                                                                      n.userInfo.dump().c_str());
                                                    return;
                                                }
                                                if (!n.userInfo.value("success", false)) {
                                                    ++failed;
                                                    std::fprintf(stderr, "%s failed: %s\n",
                                                                 n.userInfo.value("taskID", "").c_str(),
                                                                 n.userInfo.dump().c_str());
                                                }
                                            });
    auto rebuiltToken = center.addObserver(ZMRDoneRebuildingPackagesCacheNotification, NotificationCenter::Queue::Main,
                                           [&](const Notification&) { rebuilt = true; });
    bool rebuildWanted = false;
    const uint64_t idleHook = ZMPipelineManager::sharedManager().addIdleHook([&](const ZMPipelineIdleInfo& info) {
        if (info.sourcesRefreshed()) {
            refreshed = true;
            rebuildWanted = manager.cachesRebuildPending();
        }
    });

    const auto start = std::chrono::steady_clock::now();
    if (!manager.sources().refreshAllSources()) {
        std::printf("{\"error\": \"the refresh did not start\"}\n");
        return 1;
    }
    auto& loop = Dispatch::MainLoop::instance();
    const bool done = loop.runUntil(
        [&] {
            return refreshed && (!rebuildWanted || !manager.cachesRebuildPending()) &&
                   ZMPipelineManager::sharedManager().liveTaskCount() == 0;
        },
        std::chrono::minutes(10));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ZMPipelineManager::sharedManager().removeIdleHook(idleHook);
    const size_t packages = ZMRPackage::objectsWhere("sourceLocation != %@", "DPKG").count();
    const std::string database = realm->path();
    std::printf("{\"seconds\": %.3f, \"sources\": %zu, \"failed\": %zu, \"refused\": %zu, \"packages\": %zu, "
                "\"rebuilt\": %s, \"database_bytes\": %lld, \"wal_bytes\": %lld, \"vmhwm_kb\": %ld}\n",
                seconds, locations.size(), failed, refused, packages, rebuilt ? "true" : "false", fileSize(database),
                fileSize(database + "-wal"), BenchSupport::statusKilobytes("VmHWM:"));
    std::fflush(stdout);
    if (!done || finished != locations.size() || failed > 0 || refused != mustFail.size() ||
        (packages == 0 && locations.size() > mustFail.size())) {
        std::fprintf(stderr,
                     "refresh incomplete: done %d, %zu of %zu sources finished, %zu failed, %zu of %zu refused, %zu packages\n",
                     done, finished, locations.size(), failed, refused, mustFail.size(), packages);
        return 1;
    }
    return 0;
}
