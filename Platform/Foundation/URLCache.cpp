#include "URLCache.h"

#include "Miscellaneous/ZMJSON.h"

#include <curl/curl.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include <nlohmann/json.hpp>

#include "Miscellaneous/ZMPaths.h"

namespace fs = std::filesystem;

namespace {

std::string sha256Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr);
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (unsigned i = 0; i < length; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

// "max-age=60, no-cache" -> {"max-age": "60", "no-cache": ""}
std::map<std::string, std::string> cacheControl(const HTTPHeaderFields& headers) {
    std::map<std::string, std::string> out;
    std::string text = headers.value("Cache-Control").value_or("");
    if (auto pragma = headers.value("Pragma"); pragma && pragma->find("no-cache") != std::string::npos)
        out["no-cache"] = "";
    std::stringstream ss(text);
    std::string item;
    while (std::getline(ss, item, ',')) {
        auto trim = [](std::string s) {
            s.erase(0, s.find_first_not_of(" \t"));
            s.erase(s.find_last_not_of(" \t") + 1);
            return s;
        };
        item = trim(item);
        if (item.empty()) continue;
        std::string key = item, value;
        if (auto eq = item.find('='); eq != std::string::npos) {
            key = trim(item.substr(0, eq));
            value = trim(item.substr(eq + 1));
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        }
        std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
        out[key] = value;
    }
    return out;
}

std::optional<long long> number(const std::string& text) {
    long long n = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || n < 0) return std::nullopt;
    return n;
}

std::optional<std::time_t> httpDate(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    std::time_t t = curl_getdate(text->c_str(), nullptr);
    if (t == -1) return std::nullopt;
    return t;
}

}  // namespace

URLCache::URLCache(std::string directory, uint64_t diskCapacity)
    : directory_(std::move(directory)), diskCapacity_(diskCapacity) {}

std::shared_ptr<URLCache> URLCache::sharedURLCache() {
    static auto cache = std::make_shared<URLCache>();
    return cache;
}

std::string URLCache::directory() const {
    return directory_.empty() ? ZMPaths::subdirectory("URLCache") : directory_;
}

std::string URLCache::fileFor(const URLRequest& request) const {
    return directory() + "/" + sha256Hex(request.url.withoutFragment().string()) + ".cache";
}

bool URLCache::isStorable(const URLRequest& request, const URLResponse& response, uint64_t size, uint64_t capacity) {
    if (request.httpMethod != "GET" || response.statusCode != 200) return false;
    if (cacheControl(request.headers).count("no-store") || cacheControl(response.headers).count("no-store")) return false;
    if (auto vary = response.headers.value("Vary"); vary && !vary->empty() && !HTTPHeaderFields::namesEqual(*vary, "Accept-Encoding"))
        return false;
    // Like the platform's cache: one answer may fill at most 5% of the disk space.
    return size <= capacity / 20;
}

bool URLCache::canRevalidate(const Entry& entry) {
    return entry.response.headers.contains("ETag") || entry.response.headers.contains("Last-Modified");
}

bool URLCache::isFresh(const Entry& entry, const URLRequest& request, std::time_t now) {
    if (cacheControl(request.headers).count("no-cache")) return false;
    auto directives = cacheControl(entry.response.headers);
    if (directives.count("no-cache")) return false;
    const auto& headers = entry.response.headers;
    std::time_t date = httpDate(headers.value("Date")).value_or(entry.storedAt);
    long long lifetime = 0;
    if (auto it = directives.find("max-age"); it != directives.end()) {
        lifetime = number(it->second).value_or(0);
    } else if (auto expires = headers.value("Expires")) {
        auto when = httpDate(expires);
        lifetime = when ? std::max<long long>(0, *when - date) : 0;  // an invalid Expires means already expired
    } else if (auto modified = httpDate(headers.value("Last-Modified"))) {
        lifetime = std::max<long long>(0, (date - *modified) / 10);
    }
    long long age = std::max<long long>(0, now - entry.storedAt) +
                    number(headers.value("Age").value_or("0")).value_or(0);
    return lifetime > age;
}

std::optional<URLCache::Entry> URLCache::cachedResponseForRequest(const URLRequest& request) const {
    std::lock_guard lock(mutex_);
    std::ifstream in(fileFor(request), std::ios::binary);
    if (!in) return std::nullopt;
    std::string metaLine;
    if (!std::getline(in, metaLine)) return std::nullopt;
    auto parsed = ZMJSON::parse(metaLine);
    if (!parsed || !parsed->is_object()) return std::nullopt;
    const nlohmann::json meta = std::move(*parsed);
    Entry entry;
    try {
        auto url = URL::parse(meta.at("url").get<std::string>());
        if (!url || !(*url == request.url.withoutFragment())) return std::nullopt;  // hash collision or damage
        entry.response.url = *url;
        entry.response.statusCode = meta.at("status").get<int>();
        for (const auto& h : meta.at("headers")) entry.response.headers.add(h.at(0).get<std::string>(), h.at(1).get<std::string>());
        entry.storedAt = meta.at("storedAt").get<std::time_t>();
        auto size = meta.at("size").get<uint64_t>();
        entry.data.resize(size);
        if (!in.read(entry.data.data(), static_cast<std::streamsize>(size))) return std::nullopt;
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
    entry.response.fromCache = true;
    return entry;
}

void URLCache::storeCachedResponse(const Entry& entry, const URLRequest& request) {
    nlohmann::json headers = nlohmann::json::array();
    for (const auto& [n, v] : entry.response.headers.fields()) headers.push_back({n, v});
    nlohmann::json meta = {{"url", request.url.withoutFragment().string()},
                           {"status", entry.response.statusCode},
                           {"headers", headers},
                           {"storedAt", entry.storedAt},
                           {"size", entry.data.size()}};
    std::lock_guard lock(mutex_);
    std::string dir = directory();
    if (!ZMPaths::createDirectories(dir)) return;
    std::string path = fileFor(request);
    std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << meta.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        out.write(entry.data.data(), static_cast<std::streamsize>(entry.data.size()));
        if (!out) {
            std::error_code ec;
            fs::remove(temp, ec);
            return;
        }
    }
    std::error_code ec;
    fs::rename(temp, path, ec);
    trim();
}

void URLCache::removeCachedResponseForRequest(const URLRequest& request) {
    std::lock_guard lock(mutex_);
    std::error_code ec;
    fs::remove(fileFor(request), ec);
}

void URLCache::removeAllCachedResponses() {
    std::lock_guard lock(mutex_);
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(directory(), ec))
        if (e.path().extension() == ".cache") fs::remove(e.path(), ec);
}

uint64_t URLCache::currentDiskUsage() const {
    std::lock_guard lock(mutex_);
    uint64_t total = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(directory(), ec))
        if (e.path().extension() == ".cache") total += e.file_size(ec);
    return total;
}

// Removes the least recently stored answers until the cache fits again.
void URLCache::trim() const {
    std::vector<std::pair<fs::file_time_type, fs::path>> files;
    uint64_t total = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(directory(), ec)) {
        if (e.path().extension() != ".cache") continue;
        total += e.file_size(ec);
        files.emplace_back(e.last_write_time(ec), e.path());
    }
    if (total <= diskCapacity_) return;
    std::sort(files.begin(), files.end());
    for (const auto& [when, path] : files) {
        if (total <= diskCapacity_ * 9 / 10) break;
        uint64_t size = fs::file_size(path, ec);
        if (fs::remove(path, ec)) total -= size;
    }
}
