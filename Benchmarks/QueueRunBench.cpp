// From "confirm" to "installed" for a queue of 20 small packages, against a
// plain `apt-get -y install` of the same 20 through the same helper, each
// iteration in a fresh sandbox (tree, target root, database) whose setup is
// not timed. The repository is served on loopback by python3's http.server.
//
//   ninja -C build bench_QueueRunBench && build/Benchmarks/bench_QueueRunBench
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "Categories/String+VersionCompare.h"
#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageVersion.h"
#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMCommandRunner.h"
#include "Miscellaneous/ZMControlParser.h"
#include "Miscellaneous/ZMPaths.h"
#include "Notifications/NotificationCenter.h"
#include "Realm/Realm.h"
#include "ZMAPTManager.h"
#include "ZMPipelineManager.h"
#include "ZMQueue.h"

namespace fs = std::filesystem;

namespace {

constexpr int kPackages = 20;
constexpr int kPort = 18473;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

void mustRun(const std::vector<std::string>& argv) {
    auto r = ZMCommandRunner::capture(argv);
    if (!r || !r.value->succeeded()) {
        fprintf(stderr, "%s failed: %s\n", argv[0].c_str(), r ? r.value->standardError.c_str() : r.error->detail.c_str());
        std::exit(1);
    }
}

std::vector<std::string> names() {
    std::vector<std::string> out;
    for (int i = 1; i <= kPackages; ++i) out.push_back("com.example.timed" + std::to_string(i));
    return out;
}

struct Repository {
    std::string dir;
    pid_t server = 0;
    std::string url() const { return "http://127.0.0.1:" + std::to_string(kPort) + "/"; }

    Repository() {
        char tmpl[] = "/tmp/vostrelle-bench-repo-XXXXXX";
        dir = mkdtemp(tmpl);
        for (const auto& name : names()) {
            std::string pkg = dir + "/build/" + name;
            // About 64 KB of content each, like a small tweak.
            writeFile(pkg + "/usr/share/vostrelle-bench/" + name, std::string(64 * 1024, 'x'));
            writeFile(pkg + "/DEBIAN/control", "Package: " + name + "\nVersion: 1.0\nArchitecture: all\n"
                                               "Maintainer: Bench <b@example.com>\nDescription: timed package\n");
            mustRun({"/usr/bin/dpkg-deb", "--root-owner-group", "-Zgzip", "--build", pkg,
                     dir + "/" + name + "_1.0_all.deb"});
        }
        fs::remove_all(dir + "/build");
        mustRun({"/bin/sh", "-c", "cd \"$0\" && apt-ftparchive packages . > Packages", dir});
        mustRun({"/bin/sh", "-c", "cd \"$0\" && apt-ftparchive release . > Release.tmp && mv Release.tmp Release", dir});
        server = fork();
        if (server == 0) {
            int devnull = ::open("/dev/null", O_WRONLY);
            dup2(devnull, 1);
            dup2(devnull, 2);
            // HTTP/1.1 keeps connections open: apt pipelines its requests on one.
            execl("/usr/bin/python3", "python3", "-m", "http.server", std::to_string(kPort).c_str(), "--bind",
                  "127.0.0.1", "--protocol", "HTTP/1.1", "--directory", dir.c_str(), (char*)nullptr);
            _exit(127);
        }
        for (int i = 0; i < 100; ++i) {
            auto r = ZMCommandRunner::capture({"/usr/bin/curl", "-sf", "-o", "/dev/null", url() + "Release"});
            if (r && r.value->succeeded()) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        fprintf(stderr, "the repository server did not start\n");
        std::exit(1);
    }
    ~Repository() {
        if (server > 0) {
            kill(server, SIGTERM);
            waitpid(server, nullptr, 0);
        }
        fs::remove_all(dir);
    }
};

Repository& repository() {
    static Repository repo;
    return repo;
}

// A fresh support directory and target root, the tree prepared and refreshed,
// and the records the refresh would have written.
struct Sandbox {
    std::string dir;
    Sandbox() {
        char tmpl[] = "/tmp/vostrelle-bench-XXXXXX";
        dir = mkdtemp(tmpl);
        fs::create_directories(dir + "/support");
        fs::create_directories(dir + "/target/var/lib/dpkg");
        fs::create_directories(dir + "/log");
        ZMPaths::setApplicationSupport(dir + "/support");
        ZMPaths::setLogDirectory(dir + "/log");
        ZMPaths::setTargetRoot(dir + "/target");
        if (!ZMAPTManager::prepareTree() || !ZMAPTManager::writeSourcesList({repository().url()})) std::exit(1);
        std::thread([] {
            if (!ZMAPTManager::update()) std::exit(1);
        }).join();
        loadRecords();
    }
    ~Sandbox() { fs::remove_all(dir); }

    void loadRecords() {
        std::string location = repository().url();
        std::string index = readFile(repository().dir + "/Packages");
        std::vector<ZMRPackage> packages;
        std::vector<ZMRPackageVersion> versions;
        ZMControlParser::forEachStanza(index, [&](const ZMControlStanza& s) {
            auto text = [&](const char* n) { return std::string(s.field(n).value_or("")); };
            ZMRPackageVersion v;
            v.identifier = text("Package");
            v.version = text("Version");
            v.source = location;
            v.versionKey = ZMRPackageVersion::makeKey(location, v.identifier, v.version);
            v.fileLocation = text("Filename");
            v.size = text("Size");
            v.sha256 = text("SHA256");
            versions.push_back(v);
            ZMRPackage p;
            p.identifier = p.name = v.identifier;
            p.version = v.version;
            p.architecture = text("Architecture");
            p.sourceLocation = location;
            packages.push_back(p);
            return true;
        });
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] {
            for (auto& p : packages) realm->addOrUpdate(p);
            for (auto& v : versions) realm->addOrUpdate(v);
        });
    }
};

std::vector<ZMQueueItem> queue() {
    std::vector<ZMQueueItem> items;
    for (const auto& n : names()) items.push_back({n, ZMQueueOperation::Install, ""});
    return items;
}

bool allInstalled(const std::string& root) {
    std::string status = readFile(root + "/var/lib/dpkg/status");
    size_t count = 0, at = 0;
    while ((at = status.find("Status: install ok installed", at)) != std::string::npos) ++count, ++at;
    return count == kPackages;
}

using Clock = std::chrono::steady_clock;
double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::vector<std::string> installArguments() {
    std::vector<std::string> arguments = {"-y", "install", "--"};
    for (const auto& n : names()) arguments.push_back(n);
    return arguments;
}

// apt-get -y install of the 20, through the helper, in a fresh sandbox.
// With `predownload`, the archives are fetched first (apt-get -d, not timed).
double timeAptGet(bool predownload = false) {
    Sandbox sandbox;
    auto arguments = installArguments();
    if (predownload) {
        auto download = arguments;
        download.insert(download.begin(), "-d");
        std::thread([&] { ZMAPTManager::run("apt-get", download); }).join();
    }
    bool ok = false;
    auto start = Clock::now();
    std::thread([&] { ok = ZMAPTManager::run("apt-get", arguments).ok(); }).join();
    double ms = millisecondsSince(start);
    if (!ok || !allInstalled(sandbox.dir + "/target")) return -1;
    return ms;
}

// "Confirm" (the dry run already shown) to the run task's end, in a fresh
// sandbox; `downloadsMs` is when the last download queued the run.
double timeQueue(double& downloadsMs) {
    Sandbox sandbox;
    ZMResult<ZMDryRunResult> resolved;
    std::thread([&] { resolved = ZMAPTManager::dryRun(queue()); }).join();
    if (!resolved || !resolved.value->canProceed()) return -1;
    std::atomic<bool> done{false}, failed{false};
    bool success = false;
    std::mutex mutex;
    Clock::time_point runQueued{};
    auto finished = NotificationCenter::defaultCenter().addObserver(
        ZMPipelineTaskFinishedNotification, NotificationCenter::Queue::Main, [&](const Notification& n) {
            if (n.userInfo.value("taskID", "") != "package.queue") return;
            success = n.userInfo.value("success", false);
            done = true;
        });
    auto queued = NotificationCenter::defaultCenter().addObserver(
        ZMPipelineTaskQueuedNotification, NotificationCenter::Queue::Posting, [&](const Notification& n) {
            std::lock_guard lock(mutex);
            if (n.userInfo.value("taskID", "") == "package.queue") runQueued = Clock::now();
        });
    auto start = Clock::now();
    auto confirmed = ZMQueue::confirm(queue(), *resolved.value, [&](const ZMError&) { failed = true; });
    if (!confirmed) return -1;
    Dispatch::MainLoop::instance().runUntil([&] { return done || failed; }, std::chrono::seconds(300));
    double ms = millisecondsSince(start);
    {
        std::lock_guard lock(mutex);
        downloadsMs = std::chrono::duration<double, std::milli>(runQueued - start).count();
    }
    Dispatch::MainLoop::instance().runUntil([] { return ZMPipelineManager::sharedManager().liveTaskCount() == 0; },
                                            std::chrono::seconds(10));
    if (!success || !allInstalled(sandbox.dir + "/target")) return -1;
    return ms;
}

// Both in turn in every iteration, so that both meet the same machine load.
// The iteration time is ours; the counters give both means and the ratio.
void BM_ConfirmToInstalledVersusAptGet(benchmark::State& state) {
    double apt = 0, ours = 0, downloads = 0;
    int n = 0;
    for (auto _ : state) {
        double a = timeAptGet();
        double d = 0;
        double o = timeQueue(d);
        if (a < 0 || o < 0) {
            state.SkipWithError("a run did not install everything");
            break;
        }
        state.SetIterationTime(o / 1000.0);
        apt += a;
        ours += o;
        downloads += d;
        ++n;
    }
    if (n == 0) return;
    state.counters["apt_get_ms"] = apt / n;
    state.counters["ours_ms"] = ours / n;
    state.counters["ours_downloads_ms"] = downloads / n;
    state.counters["ratio"] = ours / apt;
}

// The share of the installation itself, archives already in place.
void BM_AptGetInstallFromArchives(benchmark::State& state) {
    for (auto _ : state) {
        double ms = timeAptGet(true);
        if (ms < 0) {
            state.SkipWithError("apt-get did not install everything");
            break;
        }
        state.SetIterationTime(ms / 1000.0);
    }
}

}  // namespace

BENCHMARK(BM_ConfirmToInstalledVersusAptGet)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_AptGetInstallFromArchives)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

int main(int argc, char** argv) {
    Dispatch::MainLoop::instance().install();
    repository();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
