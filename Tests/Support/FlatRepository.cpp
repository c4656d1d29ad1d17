#include "Support/FlatRepository.h"

#include <sys/stat.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <stdexcept>

#include "Miscellaneous/ZMCommandRunner.h"
#include "Support/TestSupport.h"

namespace fs = std::filesystem;

namespace FlatRepository {

namespace {

void mustRun(const std::vector<std::string>& argv) {
    auto result = ZMCommandRunner::capture(argv);
    if (!result || !result.value->succeeded())
        throw std::runtime_error("flat repository: " + argv[0] + " failed: " +
                                 (result ? result.value->standardError : result.error->detail));
}

void compressAndRelease(const std::string& directory, const std::string& origin, const std::string& description) {
    for (const char* tool : {"/usr/bin/gzip", "/usr/bin/xz", "/usr/bin/bzip2"}) mustRun({tool, "-kf", directory + "/Packages"});
    mustRun({"/usr/bin/xz", "--format=lzma", "-kf", directory + "/Packages"});
    mustRun({"/bin/sh", "-c",
             "cd \"$0\" && apt-ftparchive -o APT::FTPArchive::Release::Origin=\"$1\" "
             "-o APT::FTPArchive::Release::Label=\"$1\" -o APT::FTPArchive::Release::Description=\"$2\" "
             "release . > .Release.partial && mv .Release.partial Release",
             directory, origin, description});
}

std::string httpDate(time_t t) {
    char buffer[64];
    struct tm tm {};
    gmtime_r(&t, &tm);
    strftime(buffer, sizeof buffer, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    return buffer;
}

}  // namespace

std::string buildDeb(const std::string& work, const std::string& directory, const Deb& p) {
    std::string dir = work + "/" + p.name + "-" + p.version + "-" + p.architecture;
    fs::remove_all(dir);
    TestSupport::writeFile(dir + "/usr/share/vostrelle-test/" + p.name, p.version + "\n");
    TestSupport::writeFile(dir + "/DEBIAN/control", "Package: " + p.name + "\nVersion: " + p.version +
                                                        "\nArchitecture: " + p.architecture +
                                                        "\nMaintainer: " + p.maintainer + "\n" + p.extraControl +
                                                        "Description: " + p.description + "\n");
    for (const auto& [script, body] : {std::pair{"postinst", &p.postinst}, std::pair{"preinst", &p.preinst}}) {
        if (body->empty()) continue;
        TestSupport::writeFile(dir + "/DEBIAN/" + script, "#!/bin/sh\n" + *body + "\n");
        fs::permissions(dir + "/DEBIAN/" + script, fs::perms(0755));
    }
    fs::create_directories(directory);
    const std::string file = p.name + "_" + p.version + "_" + p.architecture + ".deb";
    mustRun({"/usr/bin/dpkg-deb", "--root-owner-group", "-Zgzip", "--build", dir, directory + "/" + file});
    return file;
}

void removeIndexes(const std::string& directory) {
    for (const char* name : {"Packages", "Packages.gz", "Packages.xz", "Packages.bz2", "Packages.lzma", "Release"})
        fs::remove(directory + "/" + name);
}

void writeIndexes(const std::string& directory, const std::string& origin, const std::string& description) {
    removeIndexes(directory);
    // apt-ftparchive names files relative to its working directory: run it in the
    // repository. The index is written beside the archives (it reads only .deb
    // files), never in the parent, which parallel tests may share.
    mustRun({"/bin/sh", "-c", "cd \"$0\" && apt-ftparchive packages . > Packages.tmp && mv Packages.tmp Packages",
             directory});
    compressAndRelease(directory, origin, description);
}

void writeIndexesForText(const std::string& directory, const std::string& packagesText, const std::string& origin) {
    removeIndexes(directory);
    fs::create_directories(directory);
    TestSupport::writeFile(directory + "/Packages", packagesText);
    compressAndRelease(directory, origin, "A repository for tests");
}

FileServer::FileServer(std::string root) : root_(std::move(root)) {
    server_.set_keep_alive_max_count(1);
    auto serve = [this](const httplib::Request& req, httplib::Response& res) {
        const std::string path = req.matches[1];
        std::function<void(const httplib::Request&, httplib::Response&)> handler;
        {
            std::lock_guard lock(mutex_);
            auto it = routes_.find(path);
            for (auto r = routes_.begin(); !handler && it == routes_.end() && r != routes_.end(); ++r)
                if (r->first.back() == '/' && path.rfind(r->first, 0) == 0) handler = r->second;
            if (it != routes_.end()) handler = it->second;
        }
        if (handler) {
            handler(req, res);
        } else if (path.find("..") != std::string::npos) {
            res.status = 403;
        } else {
            const std::string file = root_ + "/" + path;
            struct stat st {};
            if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
                res.status = 404;
            } else {
                const std::string lastModified = httpDate(st.st_mtim.tv_sec);
                const std::string etag = "\"" + std::to_string(st.st_size) + "-" + std::to_string(st.st_mtim.tv_sec) +
                                         "." + std::to_string(st.st_mtim.tv_nsec) + "\"";
                res.set_header("Last-Modified", lastModified);
                res.set_header("ETag", etag);
                const bool etagMatches = req.has_header("If-None-Match") && req.get_header_value("If-None-Match") == etag;
                const bool dateMatches = !req.has_header("If-None-Match") && req.has_header("If-Modified-Since") &&
                                         req.get_header_value("If-Modified-Since") == lastModified;
                if (etagMatches || dateMatches) {
                    res.status = 304;
                } else {
                    res.status = 200;
                    res.set_content(TestSupport::readFile(file), "application/octet-stream");
                }
            }
        }
        const auto mark = req.target.find('?');
        std::lock_guard lock(mutex_);
        requests_.push_back({path, res.status, req.method, req.body, req.headers,
                             mark == std::string::npos ? std::string() : req.target.substr(mark + 1)});
    };
    server_.Get(R"(/(.*))", serve);
    server_.Post(R"(/(.*))", serve);
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("file server: cannot bind");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

FileServer::~FileServer() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
}

std::string FileServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
}

void FileServer::route(const std::string& path, std::function<void(const httplib::Request&, httplib::Response&)> handler) {
    std::lock_guard lock(mutex_);
    routes_[path] = std::move(handler);
}

std::vector<Request> FileServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void FileServer::clearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

size_t FileServer::count(const std::string& suffix) const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const auto& r : requests_)
        if (r.path.size() >= suffix.size() && r.path.compare(r.path.size() - suffix.size(), suffix.size(), suffix) == 0) ++n;
    return n;
}

}  // namespace FlatRepository
