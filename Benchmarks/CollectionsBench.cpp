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

#include "Database/ZMRDeveloper.h"
#include "Database/ZMRDevelopers.h"
#include "Database/ZMRPackages.h"
#include "Miscellaneous/ZMPaths.h"

namespace {

constexpr size_t kPackages = 63440;
const char* kIndex = "/var/lib/apt/lists/deb.debian.org_debian_dists_bookworm_main_binary-amd64_Packages.lz4";

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

std::vector<ZMRPackage> readDebianIndex() {
    std::vector<ZMRPackage> out;
    if (!std::filesystem::exists(kIndex)) return out;
    FILE* pipe = popen((std::string("/usr/lib/apt/apt-helper cat-file '") + kIndex + "' 2>/dev/null").c_str(), "r");
    if (!pipe) return out;
    ZMRPackage current;
    char* line = nullptr;
    size_t capacity = 0;
    ssize_t length;
    auto flush = [&] {
        if (!current.identifier.empty()) {
            decorate(current, out.size());
            out.push_back(std::move(current));
        }
        current = ZMRPackage();
    };
    while ((length = getline(&line, &capacity, pipe)) > 0) {
        std::string l(line, static_cast<size_t>(length));
        if (!l.empty() && l.back() == '\n') l.pop_back();
        if (l.empty()) {
            flush();
            continue;
        }
        auto colon = l.find(": ");
        if (colon == std::string::npos || l[0] == ' ') continue;
        std::string key = l.substr(0, colon), value = l.substr(colon + 2);
        if (key == "Package") current.identifier = value;
        else if (key == "Version") current.version = value;
        else if (key == "Section") current.category = value;
        else if (key == "Maintainer") current.maintainer = value;
        else if (key == "Description") current.Description = value;
    }
    flush();
    free(line);
    pclose(pipe);
    return out;
}

std::vector<ZMRPackage> syntheticPackages() {
    static const char* sections[] = {"libs", "python", "utils", "devel", "doc", "fonts", "net", "x11", "admin",
                                     "text", "web", "games", "graphics", "sound", "science", "misc"};
    std::mt19937 random(42);
    std::vector<ZMRPackage> out;
    for (size_t i = 0; i < kPackages; ++i) {
        ZMRPackage p;
        p.identifier = "synthetic-package-" + std::to_string(i);
        p.version = "1." + std::to_string(i % 17);
        p.category = sections[random() % 16];
        p.maintainer = "Maintainer " + std::to_string(i % 900) + " <m" + std::to_string(i % 900) + "@example.org>";
        decorate(p, i);
        out.push_back(std::move(p));
    }
    return out;
}

size_t packageCount = 0;

// One populated database for every benchmark of the run.
void populate() {
    static bool done = [] {
        char pattern[] = "/tmp/vostrelle-collections-bench-XXXXXX";
        ZMPaths::setApplicationSupport(mkdtemp(pattern));
        auto all = readDebianIndex();
        if (all.size() < 1000) all = syntheticPackages();
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
