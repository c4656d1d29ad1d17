// The package database at the size of Debian's main index (63,440 packages):
// bulk insert, primary-key lookup, the search screen's queries, the distinct
// categories behind the categories rebuild, and a cold open.
//
// Packages come from the local APT lists when present (apt-helper cat-file),
// otherwise synthetic records of the same count.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>

#include "BenchPackages.h"
#include "Database/ZMRPackage.h"
#include "Miscellaneous/ZMPaths.h"

namespace {


const std::vector<ZMRPackage>& packages() {
    static const std::vector<ZMRPackage> all = [] {
        auto out = BenchPackages::records();
        for (size_t i = 0; i < out.size(); ++i) {
            auto& p = out[i];
            if (p.name.empty()) p.name = p.identifier;
            if (p.category.empty()) p.category = "Default";
            p.sourceLocation = "https://deb.debian.org/debian/";
            p.updatedDateStr = "2026-12-0" + std::to_string(1 + i % 6) + " 10:00";
            p.tweakCompatibleStatus = static_cast<int64_t>(i % 3);
        }
        return out;
    }();
    return all;
}

std::string scratchRoot() {
    static const std::string root = [] {
        char pattern[] = "/tmp/vostrelle-bench-XXXXXX";
        return std::string(mkdtemp(pattern));
    }();
    return root;
}

void insertAll(Realm& realm) {
    realm.transactionWithBlock([&] {
        for (auto p : packages()) realm.addOrUpdate(p);
    });
}

// The populated database shared by the query benchmarks.
std::shared_ptr<Realm> populated() {
    static std::shared_ptr<Realm> realm = [] {
        ZMPaths::setApplicationSupport(scratchRoot() + "/populated");
        auto r = Realm::defaultRealm();
        if (r->objects<ZMRPackage>().count() == 0) insertAll(*r);
        return r;
    }();
    return realm;
}

void BM_InsertAllInOneTransaction(benchmark::State& state) {
    const auto& all = packages();
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto realm = Realm::open({scratchRoot() + "/insert-" + std::to_string(round++) + ".realm"});
        state.ResumeTiming();
        insertAll(*realm);
    }
    state.counters["packages"] = static_cast<double>(all.size());
}
BENCHMARK(BM_InsertAllInOneTransaction)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PrimaryKeyLookup(benchmark::State& state) {
    auto realm = populated();
    const auto& all = packages();
    size_t i = 0;
    for (auto _ : state) {
        auto p = realm->objectForPrimaryKey<ZMRPackage>(all[(i += 7919) % all.size()].identifier);
        benchmark::DoNotOptimize(p);
    }
}
BENCHMARK(BM_PrimaryKeyLookup)->Unit(benchmark::kMicrosecond);

// The search screen: matches sorted by name; the count is what it shows first.
void searchQuery(benchmark::State& state, const char* format, const char* text) {
    auto realm = populated();
    size_t matches = 0;
    for (auto _ : state) {
        auto results = realm->objectsWhere<ZMRPackage>(format, text).sortedResultsUsingKeyPath("name", true);
        matches = results.count();
        if (matches) benchmark::DoNotOptimize(results[0]);
    }
    state.counters["matches"] = static_cast<double>(matches);
}
void BM_NameBeginsWith(benchmark::State& state) { searchQuery(state, "name BEGINSWITH[cd] %@", "LIB"); }
void BM_NameBeginsWithShort(benchmark::State& state) { searchQuery(state, "name BEGINSWITH[cd] %@", "p"); }
void BM_NameBeginsWithSearchScreen(benchmark::State& state) {
    searchQuery(state, "name BEGINSWITH[cd] %@ AND NOT name BEGINSWITH[cd] 'cy+' AND tweakCompatibleStatus != 1",
                "python3-");
}
void BM_NameContains(benchmark::State& state) { searchQuery(state, "name CONTAINS[cd] %@", "gtk"); }
void BM_NameContainsSearchScreen(benchmark::State& state) {
    searchQuery(state, "name contains[cd] %@ AND NOT name BEGINSWITH[cd] 'cy+' AND tweakCompatibleStatus != 1",
                "Python");
}
void BM_MaintainerContains(benchmark::State& state) { searchQuery(state, "maintainer contains[cd] %@", "debian"); }
BENCHMARK(BM_NameBeginsWith)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NameBeginsWithShort)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NameBeginsWithSearchScreen)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NameContains)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NameContainsSearchScreen)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MaintainerContains)->Unit(benchmark::kMillisecond);

// What a categories rebuild reads: the update count and the distinct sections.
void BM_DistinctCategories(benchmark::State& state) {
    auto realm = populated();
    size_t n = 0;
    for (auto _ : state) {
        auto updates = realm->objectsWhere<ZMRPackage>("isUpdated = 1 && isHeld = 0").count();
        auto categories = realm->objectsWhere<ZMRPackage>("category != nil")
                              .distinctResultsUsingKeyPaths({"category"})
                              .sortedResultsUsingKeyPath("category", true)
                              .valueForKey("category");
        n = categories.size();
        benchmark::DoNotOptimize(updates);
    }
    state.counters["categories"] = static_cast<double>(n);
}
BENCHMARK(BM_DistinctCategories)->Unit(benchmark::kMillisecond);

// The new-packages rebuild's reads: distinct dates, then identifiers per date.
void BM_NewPackagesByDate(benchmark::State& state) {
    auto realm = populated();
    for (auto _ : state) {
        auto dates = realm->objectsWhere<ZMRPackage>("tweakCompatibleStatus != 1")
                         .distinctResultsUsingKeyPaths({"updatedDateStr"})
                         .sortedResultsUsingKeyPath("updatedDateStr", false)
                         .valueForKey("updatedDateStr");
        size_t total = 0;
        for (const auto& date : dates) {
            if (!date.is_string()) continue;
            total += realm->objectsWhere<ZMRPackage>("updatedDateStr = %@ AND tweakCompatibleStatus != 1",
                                                     date.get<std::string>())
                         .sortedResultsUsingKeyPath("name", true)
                         .valueForKey("identifier")
                         .size();
        }
        benchmark::DoNotOptimize(total);
    }
}
BENCHMARK(BM_NewPackagesByDate)->Unit(benchmark::kMillisecond);

// Opening the populated file (as at launch) and answering a first query.
void BM_ColdOpen(benchmark::State& state) {
    const std::string path = populated()->path();
    for (auto _ : state) {
        auto realm = Realm::open({path});
        auto count = realm->objectsWhere<ZMRPackage>("isInstalled = 1").count();
        auto first = realm->objectForPrimaryKey<ZMRPackage>(packages()[100].identifier);
        benchmark::DoNotOptimize(count);
        benchmark::DoNotOptimize(first);
    }
}
BENCHMARK(BM_ColdOpen)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!std::getenv("VOSTRELLE_BENCH_KEEP")) std::filesystem::remove_all(scratchRoot());
    return 0;
}
