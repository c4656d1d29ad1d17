// The collections' rebuilds over a database the size of Debian's main index
// (63,440 packages): the categories list, the two new-packages dictionaries,
// the developers cache and the Update All queue marking.
//
// Packages come from the local APT lists when present (read through
// apt-helper, which knows their .lz4), otherwise synthetic records of the same
// count. Goal: the categories rebuild under 150 ms.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "BenchPackages.h"
#include "Database/ZMRDeveloper.h"
#include "Database/ZMRDevelopers.h"
#include "Database/ZMRPackages.h"
#include "Miscellaneous/ZMPaths.h"

namespace {


// Fills the states a refreshed database has: some installed, updated, held,
// new versions, compatibility verdicts, update dates over a week.
void decorate(ZMRPackage& p, size_t i) {
    if (p.name.empty()) p.name = p.identifier;
    if (p.category.empty()) p.category = "Default";
    p.sourceLocation = "https://deb.debian.org/debian/";
    p.updatedDateStr = "2026-12-0" + std::to_string(1 + i % 6) + " 10:" + std::to_string(10 + i % 40);
    p.tweakCompatibleStatus = static_cast<int64_t>(i % 3);
    p.isInstalled = i % 25 == 0;
    p.isUpdated = i % 50 == 0;
    p.isHeld = i % 200 == 0;
    p.hasNewVersion = i % 7 == 0;
}

size_t packageCount = 0;

// One populated database for every benchmark of the run.
void populate() {
    static bool done = [] {
        char pattern[] = "/tmp/vostrelle-collections-bench-XXXXXX";
        ZMPaths::setApplicationSupport(mkdtemp(pattern));
        auto all = BenchPackages::records();
        for (size_t i = 0; i < all.size(); ++i) decorate(all[i], i);
        packageCount = all.size();
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] {
            for (auto& p : all) realm->addOrUpdate(p);
        });
        return true;
    }();
    (void)done;
}

void BM_CategoriesRebuild(benchmark::State& state) {
    populate();
    auto packages = std::make_shared<ZMRPackages>();
    packages->rebuildDictOfNewPackages();
    for (auto _ : state) packages->rebuildPackagesCategoriesCacheNow();
    state.counters["packages"] = static_cast<double>(packageCount);
    state.counters["rows"] = static_cast<double>(packages->arrayOfPackagesCategories()->size());
}
BENCHMARK(BM_CategoriesRebuild)->Unit(benchmark::kMillisecond);

void BM_NewPackagesRebuild(benchmark::State& state) {
    populate();
    auto packages = std::make_shared<ZMRPackages>();
    for (auto _ : state) packages->rebuildDictOfNewPackages();
    size_t rows = 0;
    for (const auto& [date, ids] : *packages->dictionaryOfNewPackagesByDateStr()) rows += ids.size();
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["dates"] = static_cast<double>(packages->arrayOfInitialDateStr()->size());
}
BENCHMARK(BM_NewPackagesRebuild)->Unit(benchmark::kMillisecond);

void BM_NewPackagesVersionsRebuild(benchmark::State& state) {
    populate();
    auto packages = std::make_shared<ZMRPackages>();
    for (auto _ : state) packages->rebuildDictOfNewPackagesVersions();
    size_t rows = 0;
    for (const auto& [date, ids] : *packages->dictionaryOfNewPackagesVersionsByDateStr()) rows += ids.size();
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_NewPackagesVersionsRebuild)->Unit(benchmark::kMillisecond);

void BM_DevelopersCacheRebuild(benchmark::State& state) {
    populate();
    auto developers = std::make_shared<ZMRDevelopers>();
    for (auto _ : state) developers->updateDevelopersCache();
    state.counters["developers"] = static_cast<double>(ZMRDeveloper::allObjects().count());
}
BENCHMARK(BM_DevelopersCacheRebuild)->Unit(benchmark::kMillisecond)->Iterations(3);

// Update All: mark every update queued and take the marks off again.
void BM_UpdateAllQueueMarks(benchmark::State& state) {
    populate();
    auto packages = std::make_shared<ZMRPackages>();
    size_t marked = 0;
    for (auto _ : state) {
        marked = packages->setPackagesWhere("isUpdated = 1 AND isHeld = 0", true, std::nullopt, 0);
        packages->setPackagesWhere("isInTheQueue = 1", false, std::nullopt, 0);
    }
    state.counters["marked"] = static_cast<double>(marked);
}
BENCHMARK(BM_UpdateAllQueueMarks)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
