#include "ZMIconCache.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <mutex>
#include <set>

#include "Categories/Data+Hashes.h"
#include "Categories/URLRequest+ZemtrixExtensions.h"
#include "Foundation/URLSession.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMPaths.h"
#include "Notifications/NotificationCenter.h"

namespace {

// Never destroyed: a download's completion may run on a worker while the
// program exits, after static destructors have run.
struct State {
    std::mutex mutex;
    std::set<std::string> inFlight;
    // Addresses that gave no icon lately: rows drawn again and again must not ask again each time.
    std::map<std::string, std::chrono::steady_clock::time_point> failedAt;
};
State& state() {
    static auto* s = new State;
    return *s;
}
constexpr auto kRetryAfter = std::chrono::minutes(10);

bool looksLikeImage(const std::string& path) {
    unsigned char head[12] = {};
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    size_t n = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    auto starts = [&](std::initializer_list<unsigned char> magic, size_t at = 0) {
        if (n < at + magic.size()) return false;
        size_t i = at;
        for (unsigned char c : magic)
            if (head[i++] != c) return false;
        return true;
    };
    return starts({0x89, 'P', 'N', 'G'}) || starts({0xFF, 0xD8, 0xFF}) || starts({'G', 'I', 'F', '8'}) ||
           (starts({'R', 'I', 'F', 'F'}) && starts({'W', 'E', 'B', 'P'}, 8));
}

std::shared_ptr<URLSession> iconSession() {
    static auto* session = [] {
        auto configuration = URLSessionConfiguration::noCacheConfigureation();
        configuration.timeoutIntervalForResource = 60;  // a trickling host is not waited on for ever
        return new std::shared_ptr<URLSession>(URLSession::sessionWithConfiguration(configuration));
    }();
    return *session;
}

}  // namespace

namespace ZMIconCache {

std::string pathForKey(const std::string& key) {
    return ZMPaths::subdirectory("IconCache") + "/" + DataHashes::md5(key) + ".png";
}

bool exists(const std::string& path) {
    struct stat st{};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

bool fetch(const std::string& urlText, const std::string& path, const std::string& notificationName,
           const std::string& object) {
    auto url = URL::parse(urlText);
    if (!url || !url->isHTTP() || url->host().empty()) return false;
    {
        State& s = state();
        std::lock_guard lock(s.mutex);
        if (auto failed = s.failedAt.find(urlText);
            failed != s.failedAt.end() && std::chrono::steady_clock::now() - failed->second < kRetryAfter)
            return false;
        if (!s.inFlight.insert(path).second) return false;
    }
    ZMPaths::createDirectories(ZMPaths::subdirectory("IconCache"));
    auto request = URLRequestZemtrix::requestWithURL(*url);
    request.maximumBodySize = kMaximumIconSize;
    const std::string download = path + ".download";
    auto task = iconSession()->downloadTaskWithRequest(
        request, download,
        [path, download, notificationName, object, urlText](std::optional<std::string> location,
                                                              std::optional<URLResponse> response,
                                                              std::optional<ZMError> error) {
            bool stored = false;
            if (location && looksLikeImage(*location)) {
                stored = ::rename(location->c_str(), path.c_str()) == 0;
            } else if (location) {
                ZMLOG("the icon at {} is not an image", urlText);
            } else if (error) {
                ZMLOG("icon {} not fetched: {}", urlText, error->debugDescription());
            }
            if (!stored) ::unlink(download.c_str());
            {
                State& s = state();
                std::lock_guard lock(s.mutex);
                s.inFlight.erase(path);
                if (stored) s.failedAt.erase(urlText);
                else s.failedAt[urlText] = std::chrono::steady_clock::now();
            }
            if (stored) NotificationCenter::defaultCenter().postOnMain(notificationName, std::any(object), nullptr);
        });
    task->resume();
    return true;
}

size_t inFlightCount() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.inFlight.size();
}

}  // namespace ZMIconCache
