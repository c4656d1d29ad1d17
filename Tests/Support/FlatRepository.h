#pragma once
// Flat APT repositories for tests: .deb files built with dpkg-deb, indexes
// made by apt-ftparchive (Packages in every compression, Release), and a
// loopback file server that answers conditional requests and logs what it
// was asked.
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

namespace FlatRepository {

struct Deb {
    std::string name, version;
    std::string extraControl;  // more "Field: value\n" lines
    std::string postinst = {}; // body of a postinst script, or ""
    std::string architecture = "all";
    std::string preinst = {};  // body of a preinst script, or ""
    std::string maintainer = "Test <test@example.com>";
    // The Description field's value: a synopsis, then (on further lines,
    // each starting with a blank) the extended description.
    std::string description = "test package";
};

// Builds the archive into `directory` (its scratch files under `work`) and
// returns its file name "<name>_<version>_<arch>.deb". Throws on failure.
std::string buildDeb(const std::string& work, const std::string& directory, const Deb& deb);
// Writes Packages (apt-ftparchive, over the .deb files in `directory`),
// Packages.xz/.lzma/.bz2/.gz and Release (with the given Origin, Label and
// Description). Throws on failure.
void writeIndexes(const std::string& directory, const std::string& origin = "Test Origin",
                  const std::string& description = "A repository for tests");
// The same indexes for a Packages text written by hand.
void writeIndexesForText(const std::string& directory, const std::string& packagesText,
                         const std::string& origin = "Test Origin");
// Removes Packages* and Release from the directory.
void removeIndexes(const std::string& directory);

struct Request {
    std::string path;
    int status = 0;
    std::string method;
    std::string body;             // what a POST sent
    httplib::Headers headers;     // as received
    std::string query;            // the raw query, without "?"
};

// Serves files under `root` at http://127.0.0.1:<port>/<path>, with
// Last-Modified and ETag; If-None-Match / If-Modified-Since get 304.
class FileServer {
public:
    explicit FileServer(std::string root);
    ~FileServer();
    std::string url(const std::string& path = "") const;  // "http://127.0.0.1:<port>/" + path
    // Answers this path (GET or POST) with a handler instead of a file; a path ending in "/"
    // answers everything below it.
    void route(const std::string& path, std::function<void(const httplib::Request&, httplib::Response&)> handler);
    std::vector<Request> requests() const;
    void clearRequests();
    // Requests whose path ends with `suffix`.
    size_t count(const std::string& suffix) const;

private:
    std::string root_;
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::vector<Request> requests_;
    std::map<std::string, std::function<void(const httplib::Request&, httplib::Response&)>> routes_;
};

}  // namespace FlatRepository
