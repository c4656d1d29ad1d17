// Debian version comparison: ours against libapt-pkg's, over every Version of
// the host's Debian index (in index order, so neighbours are mostly unrelated
// packages, plus a full sort, which compares near-equal versions a lot).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "BenchSupport.h"
#include "Categories/String+VersionCompare.h"
#include "Miscellaneous/ZMControlParser.h"

#ifdef VOSTRELLE_HAVE_APT_PKG
#include <apt-pkg/debversion.h>
#endif

namespace {

const std::vector<std::string>& indexVersions() {
    static const std::vector<std::string> versions = [] {
        std::vector<std::string> out;
        ZMControlParser::forEachStanza(BenchSupport::debianIndex(), [&](const ZMControlStanza& s) {
            if (auto v = s.field("Version")) out.emplace_back(*v);
            return true;
        });
        return out;
    }();
    return versions;
}

template <typename Compare>
void adjacentPairs(benchmark::State& state, Compare compare) {
    if (BenchSupport::skipWithoutIndex(state)) return;
    const auto& v = indexVersions();
    for (auto _ : state) {
        int sum = 0;
        for (size_t i = 0; i + 1 < v.size(); ++i) sum += compare(v[i], v[i + 1]) < 0;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * (v.size() - 1)));
    state.counters["versions"] = static_cast<double>(v.size());
}

template <typename Compare>
void sortAll(benchmark::State& state, Compare compare) {
    if (BenchSupport::skipWithoutIndex(state)) return;
    const auto& v = indexVersions();
    int64_t comparisons = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<const std::string*> items;
        items.reserve(v.size());
        for (const auto& s : v) items.push_back(&s);
        state.ResumeTiming();
        std::sort(items.begin(), items.end(), [&](const std::string* a, const std::string* b) {
            ++comparisons;
            return compare(*a, *b) < 0;
        });
        benchmark::DoNotOptimize(items.data());
    }
    state.SetItemsProcessed(comparisons);  // items/s = comparisons per second
}

int ours(const std::string& a, const std::string& b) { return ZMVersionCompare(a, b); }

}  // namespace

static void BM_ZMVersionCompare_Adjacent(benchmark::State& state) { adjacentPairs(state, ours); }
static void BM_ZMVersionCompare_Sort(benchmark::State& state) { sortAll(state, ours); }
BENCHMARK(BM_ZMVersionCompare_Adjacent)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZMVersionCompare_Sort)->Unit(benchmark::kMillisecond);

#ifdef VOSTRELLE_HAVE_APT_PKG
namespace {
int apts(const std::string& a, const std::string& b) { return debVS.CmpVersion(a, b); }
}  // namespace

static void BM_AptCmpVersion_Adjacent(benchmark::State& state) { adjacentPairs(state, apts); }
static void BM_AptCmpVersion_Sort(benchmark::State& state) { sortAll(state, apts); }
BENCHMARK(BM_AptCmpVersion_Adjacent)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AptCmpVersion_Sort)->Unit(benchmark::kMillisecond);

// Not a speed figure: how many index neighbours the two orderings disagree on (expected 0).
static void BM_Disagreements(benchmark::State& state) {
    if (BenchSupport::skipWithoutIndex(state)) return;
    const auto& v = indexVersions();
    int64_t differ = 0;
    for (auto _ : state) {
        differ = 0;
        for (size_t i = 0; i + 1 < v.size(); ++i) {
            const int a = ours(v[i], v[i + 1]), b = apts(v[i], v[i + 1]);
            differ += ((a > 0) - (a < 0)) != ((b > 0) - (b < 0));
        }
    }
    state.counters["disagreements"] = static_cast<double>(differ);
}
BENCHMARK(BM_Disagreements)->Iterations(1)->Unit(benchmark::kMillisecond);
#endif

BENCHMARK_MAIN();
