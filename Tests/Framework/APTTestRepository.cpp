#include "Framework/APTTestRepository.h"


#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
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
#include "Miscellaneous/ZMCommandRunner.h"

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
const std::string kHostDpkg = "/var/lib/dpkg";

// The stanzas of the host's dpkg database by package name, for the names
// asked for: the status file, then the journal dpkg folds into it.
std::map<std::string, std::string> hostStanzas(const std::set<std::string>& names) {
    std::map<std::string, std::string> out;
    auto take = [&](const std::string& text) {
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find("\n\n", start);
            if (end == std::string::npos) end = text.size();
            const std::string stanza = text.substr(start, end - start);
            start = end + 2;
            const size_t at = stanza.rfind("Package: ", 0) == 0 ? 0 : stanza.find("\nPackage: ");
            if (at == std::string::npos) continue;
            const size_t from = stanza.find(' ', at + 1) + 1;
            const std::string name = stanza.substr(from, stanza.find('\n', from) - from);
            if (names.count(name)) out[name] = stanza;
        }
    };
    take(TestSupport::readFile(kHostDpkg + "/status"));
    std::error_code ec;
    std::set<std::string> journal;
    for (fs::directory_iterator it(kHostDpkg + "/updates", ec), end; !ec && it != end; it.increment(ec))
        journal.insert(it->path().string());
    for (const auto& file : journal) take(TestSupport::readFile(file));
    return out;
}

// The packages of the shared repository, by name.
std::set<std::string> repositoryPackages() {
    std::set<std::string> names;
    std::istringstream in(TestSupport::readFile(Repository::shared().indexPath()));
    for (std::string line; std::getline(in, line);)
        if (line.rfind("Package: ", 0) == 0) names.insert(line.substr(9));
    return names;
}

// An argument that names the host's root or its dpkg database, alone or
// after "=", also through a link.
bool namesHostRoot(const std::string& argument) {
    std::string path = argument;
    if (const size_t equals = path.find('='); equals != std::string::npos) path = path.substr(equals + 1);
    if (path.empty() || path[0] != '/') return false;
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(path, ec);
    const std::string r = (ec ? fs::path(path) : resolved).lexically_normal().string();
    return r == "/" || r == kHostDpkg || r.rfind(kHostDpkg + "/", 0) == 0;
}
}  // namespace

// The sandbox whose check is installed: a sandbox made while another lives
// takes over, and the older one's end leaves the newer one's check in place.
namespace {
std::atomic<const Sandbox*> gGuarding{nullptr};
}  // namespace

struct Sandbox::CommandLog {
    std::mutex mutex;
    std::vector<std::string> namingTheHost;  // command lines, joined
};

Sandbox::Sandbox(bool refresh, Commands commands) : commands_(std::make_shared<CommandLog>()) {
    hostStanzas_ = hostStanzas(repositoryPackages());
    ZMCommandRunner::setCommandCheck([log = commands_, commands](const std::vector<std::string>& arguments) {
        if (commands == Commands::HostileOnPurpose) return true;
        if (std::none_of(arguments.begin(), arguments.end(), namesHostRoot)) return true;
        std::string line;
        for (const auto& a : arguments) line += (line.empty() ? "" : " ") + a;
        std::lock_guard lock(log->mutex);
        log->namingTheHost.push_back(line);
        return false;
    });
    gGuarding = this;
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

Sandbox::~Sandbox() {
    const Sandbox* self = this;
    if (gGuarding.compare_exchange_strong(self, nullptr)) ZMCommandRunner::setCommandCheck(nullptr);
}

std::string Sandbox::hostProblem() const {
    std::string problem;
    {
        std::lock_guard lock(commands_->mutex);
        for (const auto& line : commands_->namingTheHost) problem += "a command line named the host's root: " + line + "\n";
    }
    std::set<std::string> names;
    for (const auto& [name, stanza] : hostStanzas_) names.insert(name);
    for (const auto& name : repositoryPackages()) names.insert(name);
    const auto now = hostStanzas(names);
    for (const auto& name : names) {
        const auto before = hostStanzas_.find(name), after = now.find(name);
        if (before == hostStanzas_.end() && after == now.end()) continue;
        if (before == hostStanzas_.end()) problem += "the host's dpkg status gained " + name + "\n";
        else if (after == now.end()) problem += "the host's dpkg status lost " + name + "\n";
        else if (before->second != after->second) problem += "the host's dpkg status changed " + name + "\n";
    }
    return problem;
}

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

}  // namespace APTTest
