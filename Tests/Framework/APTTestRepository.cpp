#include "Framework/APTTestRepository.h"

#include <sys/stat.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <sstream>

#include <gtest/gtest.h>

#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageVersion.h"
#include "Miscellaneous/ZMPaths.h"
#include "Database/ZMRSource.h"
#include "Realm/Realm.h"
#include "ZMSourceRefresh.h"
#include "Support/FlatRepository.h"
#include "ZMAPTManager.h"

namespace fs = std::filesystem;

namespace APTTest {

std::string foreignArchitecture() { return ZMAPTManager::hostArchitecture() == "arm64" ? "amd64" : "arm64"; }

struct Repository::State {
    TestSupport::TempDir dir;
    std::string repo = dir.path() + "/repo";
    std::unique_ptr<FlatRepository::FileServer> server;
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
    const std::string work = s.dir.path() + "/build";
    const FlatRepository::Deb packages[] = {
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
    for (const auto& p : packages) FlatRepository::buildDeb(work, s.repo, p);
    for (const auto& name : benchPackages()) FlatRepository::buildDeb(work, s.repo, {name, "1.0", "", ""});
    FlatRepository::writeIndexes(s.repo);
    fs::create_directory_symlink(s.repo, s.dir.path() + "/other");  // the same packages elsewhere
    s.server = std::make_unique<FlatRepository::FileServer>(s.dir.path());
    s.server->route("slow/", [&s](const httplib::Request&, httplib::Response& res) {
        std::unique_lock lock(s.mutex);
        s.slowArrived = true;
        s.cv.notify_all();
        s.cv.wait_for(lock, std::chrono::seconds(30), [&s] { return s.slowReleased; });
        res.status = 404;
    });
}

Repository::~Repository() {
    releaseSlow();
    state_->server.reset();
}

std::string Repository::url() const { return state_->server->url("repo/"); }
std::string Repository::otherUrl() const { return state_->server->url("other/"); }
std::string Repository::slowUrl() const { return state_->server->url("slow/"); }
std::string Repository::archive(const std::string& fileName) const { return state_->repo + "/" + fileName; }
std::string Repository::indexPath() const { return state_->repo + "/Packages"; }
size_t Repository::requestCount() const { return state_->server->requests().size(); }

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
