#include <gtest/gtest.h>

#include <atomic>

#include "Platform/Foundation/TestHTTPServer.h"
#include "Support/TestSupport.h"

namespace {

class URLCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* p : {"/fresh", "/revalidate", "/nostore", "/plain"}) hits[p] = 0;
        auto counted = [this](const char* path, std::function<void(const httplib::Request&, httplib::Response&)> body) {
            server.server.Get(path, [this, path, body](const httplib::Request& req, httplib::Response& res) {
                ++hits[path];
                body(req, res);
            });
        };
        counted("/fresh", [](const auto&, auto& res) {
            res.set_header("Cache-Control", "max-age=600");
            res.set_content("fresh body", "text/plain");
        });
        counted("/revalidate", [this](const auto& req, auto& res) {
            if (req.get_header_value("If-None-Match") == "\"r1\"") {
                ++revalidations;
                res.status = 304;
                res.set_header("ETag", "\"r1\"");
                return;
            }
            res.set_header("Cache-Control", "no-cache");
            res.set_header("ETag", "\"r1\"");
            res.set_content("revalidated body", "text/plain");
        });
        counted("/nostore", [](const auto&, auto& res) {
            res.set_header("Cache-Control", "no-store, max-age=600");
            res.set_content("secret", "text/plain");
        });
        counted("/plain", [](const auto&, auto& res) { res.set_content("no validators", "text/plain"); });
        server.start();
        config = URLSessionConfiguration::defaultSessionConfiguration();
        config.urlCache = std::make_shared<URLCache>(dir.path());
    }

    int count(const std::string& path) { return hits[path].load(); }

    TestHTTPServer server;
    TestSupport::TempDir dir;
    URLSessionConfiguration config;
    std::map<std::string, std::atomic<int>> hits;  // keys made before the server starts
    std::atomic<int> revalidations{0};
};

TEST_F(URLCacheTest, FreshAnswersComeFromTheDiskCache) {
    auto session = URLSession::sessionWithConfiguration(config);
    auto first = fetch(session, URLRequest(server.url("/fresh")));
    ASSERT_TRUE(first.response);
    EXPECT_FALSE(first.response->fromCache);
    auto second = fetch(session, URLRequest(server.url("/fresh")));
    ASSERT_TRUE(second.response);
    EXPECT_TRUE(second.response->fromCache);
    EXPECT_EQ(second.response->statusCode, 200);
    EXPECT_EQ(second.data, "fresh body");
    EXPECT_EQ(count("/fresh"), 1);
    EXPECT_GT(config.urlCache->currentDiskUsage(), 0u);

    // A new session over the same directory finds it too (it is on disk).
    auto other = URLSession::sessionWithConfiguration(config);
    EXPECT_EQ(fetch(other, URLRequest(server.url("/fresh"))).data, "fresh body");
    EXPECT_EQ(count("/fresh"), 1);

    // Ignoring the local cache asks the server again.
    URLRequest reload(server.url("/fresh"));
    reload.cachePolicy = URLRequestCachePolicy::ReloadIgnoringLocalCacheData;
    fetch(session, reload);
    EXPECT_EQ(count("/fresh"), 2);
}

TEST_F(URLCacheTest, StaleAnswersAreRevalidated) {
    auto session = URLSession::sessionWithConfiguration(config);
    EXPECT_EQ(fetch(session, URLRequest(server.url("/revalidate"))).data, "revalidated body");
    auto again = fetch(session, URLRequest(server.url("/revalidate")));
    EXPECT_EQ(revalidations.load(), 1);
    ASSERT_TRUE(again.response);
    // The caller did not ask for a conditional request: it sees the stored 200.
    EXPECT_EQ(again.response->statusCode, 200);
    EXPECT_TRUE(again.response->fromCache);
    EXPECT_EQ(again.data, "revalidated body");
    EXPECT_EQ(count("/revalidate"), 2);
}

TEST_F(URLCacheTest, NoStoreAndNoCacheConfigurationsKeepNothing) {
    auto session = URLSession::sessionWithConfiguration(config);
    fetch(session, URLRequest(server.url("/nostore")));
    fetch(session, URLRequest(server.url("/nostore")));
    EXPECT_EQ(count("/nostore"), 2);

    auto noCache = URLSession::sessionWithConfiguration(URLSessionConfiguration::noCacheConfigureation());
    EXPECT_FALSE(noCache->configuration().urlCache);
    EXPECT_EQ(noCache->configuration().requestCachePolicy, URLRequestCachePolicy::ReloadIgnoringLocalCacheData);
    fetch(noCache, URLRequest(server.url("/fresh")));
    fetch(noCache, URLRequest(server.url("/fresh")));
    EXPECT_EQ(count("/fresh"), 2);
}

TEST_F(URLCacheTest, CachePoliciesThatPreferStoredData) {
    auto session = URLSession::sessionWithConfiguration(config);
    URLRequest onlyCache(server.url("/plain"));
    onlyCache.cachePolicy = URLRequestCachePolicy::ReturnCacheDataDontLoad;
    auto none = fetch(session, onlyCache);
    ASSERT_TRUE(none.error);
    EXPECT_TRUE(URLError::is(*none.error, URLError::ResourceUnavailable));
    EXPECT_EQ(count("/plain"), 0);

    // Stored without a lifetime: the protocol policy refetches, the others take it.
    fetch(session, URLRequest(server.url("/plain")));
    fetch(session, URLRequest(server.url("/plain")));
    EXPECT_EQ(count("/plain"), 2);
    URLRequest elseLoad(server.url("/plain"));
    elseLoad.cachePolicy = URLRequestCachePolicy::ReturnCacheDataElseLoad;
    EXPECT_EQ(fetch(session, elseLoad).data, "no validators");
    EXPECT_EQ(fetch(session, onlyCache).data, "no validators");
    EXPECT_EQ(count("/plain"), 2);
}

TEST(URLCacheRules, FreshnessAndStorability) {
    URLRequest get(*URL::parse("http://example.com/a"));
    URLCache::Entry entry;
    entry.response.statusCode = 200;
    entry.storedAt = 1'000'000;
    entry.response.headers.set("Cache-Control", "max-age=100");
    EXPECT_TRUE(URLCache::isFresh(entry, get, 1'000'050));
    EXPECT_FALSE(URLCache::isFresh(entry, get, 1'000'101));
    entry.response.headers.set("Age", "60");
    EXPECT_FALSE(URLCache::isFresh(entry, get, 1'000'050));

    URLCache::Entry heuristic;
    heuristic.storedAt = 1'000'000;
    heuristic.response.headers.set("Date", "Mon, 12 Jan 1970 13:46:40 GMT");           // 1'000'000
    heuristic.response.headers.set("Last-Modified", "Sun, 11 Jan 1970 10:00:00 GMT");  // 100'000 s earlier
    EXPECT_TRUE(URLCache::isFresh(heuristic, get, 1'009'000));                        // lifetime 10'000 s
    EXPECT_FALSE(URLCache::isFresh(heuristic, get, 1'011'000));
    EXPECT_TRUE(URLCache::canRevalidate(heuristic));

    URLRequest noCache = get;
    noCache.setValue("no-cache", "Cache-Control");
    EXPECT_FALSE(URLCache::isFresh(entry, noCache, 1'000'001));

    URLResponse ok;
    ok.statusCode = 200;
    EXPECT_TRUE(URLCache::isStorable(get, ok, 10, 1000));
    EXPECT_FALSE(URLCache::isStorable(get, ok, 51, 1000));  // over 5% of the capacity
    URLRequest post = get;
    post.httpMethod = "POST";
    EXPECT_FALSE(URLCache::isStorable(post, ok, 10, 1000));
    URLResponse partial = ok;
    partial.statusCode = 206;
    EXPECT_FALSE(URLCache::isStorable(get, partial, 10, 1000));
    URLResponse varies = ok;
    varies.headers.set("Vary", "Cookie");
    EXPECT_FALSE(URLCache::isStorable(get, varies, 10, 1000));
}

TEST(URLCacheRules, CapacityIsKept) {
    TestSupport::TempDir dir;
    URLCache cache(dir.path(), 100'000);
    for (int i = 0; i < 20; ++i) {
        URLRequest request(*URL::parse("http://example.com/" + std::to_string(i)));
        URLCache::Entry e;
        e.response.url = request.url;
        e.response.statusCode = 200;
        e.data = std::string(4'000, 'a');
        cache.storeCachedResponse(e, request);
    }
    EXPECT_LE(cache.currentDiskUsage(), 100'000u);
    // The newest answer survives.
    EXPECT_TRUE(cache.cachedResponseForRequest(URLRequest(*URL::parse("http://example.com/19"))));
    cache.removeAllCachedResponses();
    EXPECT_EQ(cache.currentDiskUsage(), 0u);
}

}  // namespace
