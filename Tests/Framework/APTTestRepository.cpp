#include "Framework/APTTestRepository.h"

#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>
#include <httplib.h>

#include "Categories/String+VersionCompare.h"
#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageVersion.h"
#include "Miscellaneous/ZMControlParser.h"
#include "Miscellaneous/ZMPaths.h"
#include "Database/ZMRSource.h"
#include "Realm/Realm.h"
#include "ZMSourceRefresh.h"
#include "Support/FlatRepository.h"
#include "ZMAPTManager.h"

namespace fs = std::filesystem;

namespace APTTest {

namespace {

void mustRun(const std::vector<std::string>& argv, const std::string& stdoutFile = {}) {
    auto result = ZMCommandRunner::capture(argv);
    if (!result || !result.value->succeeded())
        throw std::runtime_error("test repository: " + argv[0] + " failed: " +
                                 (result ? result.value->standardError : result.error->detail));
    if (!stdoutFile.empty()) TestSupport::writeFile(stdoutFile, result.value->standardOutput);
}

using PackageSpec = FlatRepository::Deb;

void buildPackage(const std::string& work, const std::string& repo, const PackageSpec& p) {
    FlatRepository::buildDeb(work, repo, p);
}

}  // namespace

std::string foreignArchitecture() { return ZMAPTManager::hostArchitecture() == "arm64" ? "amd64" : "arm64"; }

struct Repository::State {
    TestSupport::TempDir dir;
    std::string repo;
    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::atomic<size_t> requests{0};
    std::mutex mutex;
    std::condition_variable cv;
    bool slowArrived = false;
    bool slowReleased = false;
};

Repository& Repository::shared() {
    static Repository repository;
    return repository;
}

Repository::Repository() : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.repo = s.dir.path() + "/repo";
    std::string work = s.dir.path() + "/build";
    fs::create_directories(s.repo);
    const PackageSpec packages[] = {
        {"com.example.alpha", "1.0", "", ""},
        {"com.example.alpha", "2.0", "", ""},
        {"com.example.beta", "1.1", "", ""},
        {"com.example.gamma", "1.0", "Depends: com.example.beta\n", ""},
        {"com.example.broken", "1.0", "Depends: com.example.missing\n", ""},
        {"com.example.conflict", "1.0", "Conflicts: com.example.beta\n", ""},
        {"com.example.failing", "1.0", "", "echo 'postinst of com.example.failing fails' >&2\nexit 1"},
        // Maintainer scripts run with the host's shell, inside the target root.
        {"com.example.scripted", "1.0", "", "touch \"$DPKG_ROOT/postinst-ran\""},
        // Flat repositories are not filtered by architecture.
        {"com.example.foreign", "1.0", "", "", foreignArchitecture()},
        // Calls for a respring once installed.
        {"com.example.respring", "1.0", "Post-Install-Action: respring\n", ""},
        // Installs in 1.0; moving to 2.0 or 0.9 fails before unpacking and leaves 1.0 installed.
        {"com.example.brittle", "1.0", "", ""},
        {"com.example.brittle", "2.0", "", "", "all", "exit 1"},
        {"com.example.brittle", "0.9", "", "", "all", "exit 1"},
    };
    for (const auto& p : packages) buildPackage(work, s.repo, p);
    for (const auto& name : benchPackages()) buildPackage(work, s.repo, {name, "1.0", "", ""});
    // apt-ftparchive names files relative to its working directory: run it in the repository.
    mustRun({"/bin/sh", "-c", "cd \"$0\" && apt-ftparchive packages . > Packages", s.repo});
    mustRun({"/usr/bin/gzip", "-kf", s.repo + "/Packages"});
    mustRun({"/usr/bin/xz", "-kf", s.repo + "/Packages"});
    mustRun({"/bin/sh", "-c", "cd \"$0\" && apt-ftparchive release . > Release.tmp && mv Release.tmp Release", s.repo});

    s.server.set_pre_routing_handler([&s](const httplib::Request&, httplib::Response&) {
        ++s.requests;
        return httplib::Server::HandlerResponse::Unhandled;
    });
    s.server.set_mount_point("/repo", s.repo);
    s.server.set_mount_point("/other", s.repo);
    s.server.Get(R"(/slow/.*)", [&s](const httplib::Request&, httplib::Response& res) {
        std::unique_lock lock(s.mutex);
        s.slowArrived = true;
        s.cv.notify_all();
        s.cv.wait_for(lock, std::chrono::seconds(30), [&s] { return s.slowReleased; });
        res.status = 404;
    });
    // apt pipelines requests on one connection; one request per connection keeps it from waiting on keep-alive.
    s.server.set_keep_alive_max_count(1);
    s.port = s.server.bind_to_any_port("127.0.0.1");
    if (s.port <= 0) throw std::runtime_error("test repository: cannot bind");
    s.thread = std::thread([&s] { s.server.listen_after_bind(); });
    while (!s.server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

Repository::~Repository() {
    releaseSlow();
    state_->server.stop();
    if (state_->thread.joinable()) state_->thread.join();
}

std::string Repository::url() const { return "http://127.0.0.1:" + std::to_string(state_->port) + "/repo/"; }
std::string Repository::otherUrl() const { return "http://127.0.0.1:" + std::to_string(state_->port) + "/other/"; }
std::string Repository::slowUrl() const { return "http://127.0.0.1:" + std::to_string(state_->port) + "/slow/"; }
std::string Repository::archive(const std::string& fileName) const { return state_->repo + "/" + fileName; }
std::string Repository::indexPath() const { return state_->repo + "/Packages"; }
size_t Repository::requestCount() const { return state_->requests; }

std::vector<std::string> benchPackages() {
    std::vector<std::string> names;
    for (int i = 1; i <= 20; ++i) names.push_back("com.example.bench" + std::string(i < 10 ? "0" : "") + std::to_string(i));
    return names;
}

void loadRecordsFromIndex(const std::string& location) {
    // The refresh's own parser, without the download: the records are what a
    // refresh of the repository writes.
    if (!ZMRSource::objectForPrimaryKey(location)) {
        auto realm = Realm::defaultRealm();
        auto source = ZMRSource::newSourceWithLocation(location);
        realm->transactionWithBlock([&] { realm->add(source); });
    }
    auto parsed = ZMSourceRefresh::make(location)->packagesFileParserFromPath(Repository::shared().indexPath());
    ASSERT_TRUE(parsed.ok()) << parsed.error->debugDescription();
}

bool Repository::slowRequestArrived() const {
    std::lock_guard lock(state_->mutex);
    return state_->slowArrived;
}

void Repository::releaseSlow() {
    std::lock_guard lock(state_->mutex);
    state_->slowReleased = true;
    state_->cv.notify_all();
}

void Repository::rearmSlow() {
    std::lock_guard lock(state_->mutex);
    state_->slowArrived = false;
    state_->slowReleased = false;
}

void offMain(const std::function<void()>& body) {
    std::thread thread(body);
    thread.join();
}

namespace {
long long modificationTime(const std::string& path) {
    struct stat st{};
    if (stat(path.c_str(), &st) != 0) return -1;
    return static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}
}  // namespace

Sandbox::Sandbox(bool refresh) {
    hostStatus_ = TestSupport::readFile("/var/lib/dpkg/status");
    hostModified_ = modificationTime("/var/lib/dpkg/status");
    auto& repository = Repository::shared();
    auto prepared = ZMAPTManager::prepareTree();
    if (!prepared) {
        problem_ = "prepareTree: " + prepared.error->detail;
        return;
    }
    auto written = ZMAPTManager::writeSourcesList({repository.url()});
    if (!written || *written.value != 1) {
        problem_ = "writeSourcesList failed";
        return;
    }
    if (!refresh) return;
    offMain([&] {
        auto updated = ZMAPTManager::update();
        if (!updated) problem_ = "update: " + updated.error->detail;
    });
}

Sandbox::~Sandbox() = default;

std::string Sandbox::tree() const { return ZMPaths::aptTree(); }

std::string Sandbox::statusOf(const std::string& package) const {
    std::istringstream in(statusText());
    std::string line;
    bool inPackage = false;
    while (std::getline(in, line)) {
        if (line.rfind("Package: ", 0) == 0) inPackage = line.substr(9) == package;
        else if (inPackage && line.rfind("Status: ", 0) == 0) return line.substr(8);
    }
    return {};
}

bool Sandbox::hostStatusUnchanged() const {
    return TestSupport::readFile("/var/lib/dpkg/status") == hostStatus_ &&
           modificationTime("/var/lib/dpkg/status") == hostModified_;
}

}  // namespace APTTest
