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
// Run it a second time on the same data directory for the unchanged refresh
// (every source answers 304).
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageManager.h"
#include "Database/ZMRSource.h"
#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMPaths.h"
#include "Notifications/NotificationCenter.h"
#include "VostrellePersistentPreferences.h"
#include "ZMAPTManager.h"
#include "ZMPipelineManager.h"

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
    Dispatch::MainLoop::instance().install();
    ZMPaths::setApplicationSupport(argv[1]);
    ZMPaths::setTargetRoot(argv[2]);
    std::vector<std::string> locations(argv + 3, argv + argc);

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

    size_t failed = 0, finished = 0;
    bool refreshed = false, rebuilt = false;
    auto& center = NotificationCenter::defaultCenter();
    auto finishedToken = center.addObserver(ZMPipelineTaskFinishedNotification, NotificationCenter::Queue::Main,
                                            [&](const Notification& n) {
                                                if (n.userInfo.value("pipelineID", "") != ZMPipelineSourceOps) return;
                                                ++finished;
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
    std::printf("{\"seconds\": %.3f, \"sources\": %zu, \"failed\": %zu, \"packages\": %zu, \"rebuilt\": %s, "
                "\"database_bytes\": %lld, \"wal_bytes\": %lld, \"vmhwm_kb\": %ld}\n",
                seconds, locations.size(), failed, packages, rebuilt ? "true" : "false", fileSize(database),
                fileSize(database + "-wal"), BenchSupport::statusKilobytes("VmHWM:"));
    std::fflush(stdout);
    if (!done || finished != locations.size() || failed > 0 || packages == 0) {
        std::fprintf(stderr, "refresh incomplete: done %d, %zu of %zu sources finished, %zu failed, %zu packages\n",
                     done, finished, locations.size(), failed, packages);
        return 1;
    }
    return 0;
}
