#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <set>
#include <tuple>

#include "Platform/Foundation/TestHTTPServer.h"
#include "Support/TestSupport.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::shared_ptr<URLSession> ephemeral() {
    return URLSession::sessionWithConfiguration(URLSessionConfiguration::ephemeralSessionConfiguration());
}

class URLSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.server.Get("/hello", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("X-Answer", "42");
            res.set_content("hello world", "text/plain; charset=utf-8");
        });
        server.server.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
            res.status = 404;
            res.set_content("no such page", "text/plain");
        });
        server.server.Get("/hop1", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/hop2", 301); });
        server.server.Get("/hop2", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/hello", 302); });
        server.server.Get("/loop", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/loop", 302); });
        server.server.Get("/to-file", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("file:///etc/passwd", 302);
        });
        server.server.Get("/to-ftp", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("ftp://127.0.0.1/x", 302);
        });
        server.server.Post("/echo", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(mutex);
            lastRequest = req;
            res.set_content("got " + std::to_string(req.body.size()), "text/plain");
        });
        server.server.Get("/headers", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(mutex);
            lastRequest = req;
            res.set_content("ok", "text/plain");
        });
        server.server.Get("/etag", [](const httplib::Request& req, httplib::Response& res) {
            if (req.get_header_value("If-None-Match") == "\"v1\"") {
                res.status = 304;
                return;
            }
            res.set_header("ETag", "\"v1\"");
            res.set_content("version one", "text/plain");
        });
        server.server.Get("/modified", [](const httplib::Request& req, httplib::Response& res) {
            if (req.get_header_value("If-Modified-Since") == "Sat, 01 Jan 2022 00:00:00 GMT") {
                res.status = 304;
                return;
            }
            res.set_header("Last-Modified", "Sat, 01 Jan 2022 00:00:00 GMT");
            res.set_content("index", "text/plain");
        });
        server.server.Get("/big", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string(5000, 'x'), "application/octet-stream");
        });
        server.server.Get("/big-chunked", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("application/octet-stream", [](size_t offset, httplib::DataSink& sink) {
                if (offset >= 5000) {
                    sink.done();
                    return true;
                }
                std::string piece(500, 'y');
                sink.write(piece.data(), piece.size());
                return true;
            });
        });
        server.server.Get("/set-cookie", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Set-Cookie", "sid=abc; Path=/");
            res.set_content("set", "text/plain");
        });
        server.server.Get("/read-cookie", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(req.get_header_value("Cookie"), "text/plain");
        });
        server.start();
    }

    TestHTTPServer server;
    std::mutex mutex;
    httplib::Request lastRequest;
};

// Off the main thread; an HTTP error status is an answer, not an error;
// redirects are followed and give the final answer's header fields only.
TEST_F(URLSessionTest, AnswersArriveOffTheMainThreadAfterRedirects) {
    const std::tuple<const char*, int, const char*, const char*> cases[] = {
        {"/hello", 200, "hello world", "/hello"}, {"/missing", 404, "no such page", "/missing"}, {"/hop1", 200, "hello world", "/hello"}};
    for (const auto& [path, status, body, finalPath] : cases) {
        auto r = fetch(ephemeral(), URLRequest(server.url(path)));
        ASSERT_TRUE(r.completed && r.response) << path;
        EXPECT_FALSE(r.error) << path;
        EXPECT_EQ(r.response->statusCode, status) << path;
        EXPECT_EQ(r.data, body) << path;
        EXPECT_EQ(r.response->url.path(), finalPath);
        EXPECT_FALSE(r.response->headers.contains("Location")) << path;
        EXPECT_FALSE(r.onMainThread);
    }
    auto r = fetch(ephemeral(), URLRequest(server.url("/hello")));
    EXPECT_EQ(r.response->valueForHTTPHeaderField("x-answer"), "42");
    EXPECT_EQ(r.response->mimeType(), "text/plain");
    // The test server compresses in transit; the body arrives decoded.
    EXPECT_GT(r.response->expectedContentLength(), 0);
    auto loop = fetch(ephemeral(), URLRequest(server.url("/loop")));
    ASSERT_TRUE(loop.error);
    EXPECT_TRUE(URLError::is(*loop.error, URLError::HTTPTooManyRedirects)) << loop.error->debugDescription();
}

TEST_F(URLSessionTest, DataTaskProgressNeverPromisesLessThanArrives) {
    std::promise<void> done;
    std::vector<std::pair<int64_t, int64_t>> reports;  // touched only on the session's queue
    auto task = ephemeral()->dataTaskWithRequest(URLRequest(server.url("/hello")),
                                                 [&](auto, auto, auto) { done.set_value(); });
    task->setProgressHandler([&](int64_t received, int64_t expected) { reports.emplace_back(received, expected); });
    task->resume();
    ASSERT_EQ(done.get_future().wait_for(10s), std::future_status::ready);
    ASSERT_FALSE(reports.empty());
    // The body is compressed in transit: its length then stays unknown rather than wrong.
    EXPECT_EQ(reports.back().first, 11);
    EXPECT_TRUE(reports.back().second == -1 || reports.back().second == 11) << reports.back().second;
    EXPECT_EQ(task->countOfBytesReceived(), 11);
}

TEST_F(URLSessionTest, OnlyHTTPAndHTTPSAreEverFetched) {
    const uint64_t started = URLSession::startedTransferCount();
    for (const char* text : {"file:///etc/passwd", "ftp://127.0.0.1/x", "gopher://127.0.0.1/", "dict://127.0.0.1/"}) {
        auto r = fetch(ephemeral(), URLRequest(*URL::parse(text)));
        ASSERT_TRUE(r.completed) << text;
        ASSERT_TRUE(r.error) << text;
        EXPECT_TRUE(URLError::is(*r.error, URLError::UnsupportedURL)) << text;
        EXPECT_TRUE(r.data.empty());
    }
    // A refused address never reaches the network; the count of started transfers says so.
    EXPECT_EQ(URLSession::startedTransferCount(), started);
    fetch(ephemeral(), URLRequest(server.url("/hello")));
    EXPECT_EQ(URLSession::startedTransferCount(), started + 1);
    for (const char* path : {"/to-file", "/to-ftp"}) {
        auto r = fetch(ephemeral(), URLRequest(server.url(path)));
        ASSERT_TRUE(r.error) << path;
        EXPECT_TRUE(URLError::is(*r.error, URLError::UnsupportedURL)) << r.error->debugDescription();
        EXPECT_EQ(r.data.find("root:"), std::string::npos);
    }
    // Also a download never writes a local file's contents.
    TestSupport::TempDir dir;
    std::promise<std::optional<ZMError>> done;
    ephemeral()
        ->downloadTaskWithRequest(URLRequest(server.url("/to-file")), dir.file("out"),
                                  [&](auto location, auto, auto error) { done.set_value(error); })
        ->resume();
    auto error = done.get_future().get();
    ASSERT_TRUE(error);
    EXPECT_TRUE(URLError::is(*error, URLError::UnsupportedURL));
    EXPECT_FALSE(fs::exists(dir.file("out")));
}

TEST_F(URLSessionTest, PostSendsBodyMethodAndHeaders) {
    URLRequest request(server.url("/echo"));
    request.httpMethod = "POST";
    std::string body = "token=abc&udid=123&device=x86_64";
    body += std::string(3 << 20, 'z');  // big enough that curl would otherwise wait for "100 Continue"
    request.httpBody = body;
    request.setValue("application/json", "Content-Type");
    request.setValue("Quendarix", "X-Client-Key");
    // A value trying to smuggle a header of its own stays one header.
    request.setValue("value\r\nX-Injected: yes", "X-Note");
    // The session's header fields apply unless the request sets them.
    auto config = URLSessionConfiguration::ephemeralSessionConfiguration();
    config.additionalHeaders.set("X-Session", "s");
    config.additionalHeaders.set("Content-Type", "text/plain");
    auto r = fetch(URLSession::sessionWithConfiguration(config), request);
    ASSERT_TRUE(r.completed);
    ASSERT_FALSE(r.error) << r.error->debugDescription();
    ASSERT_TRUE(r.response);
    EXPECT_EQ(r.response->statusCode, 200);
    EXPECT_EQ(r.data, "got " + std::to_string(body.size()));
    std::lock_guard lock(mutex);
    EXPECT_EQ(lastRequest.method, "POST");
    EXPECT_TRUE(lastRequest.body == body) << "body of " << lastRequest.body.size() << " bytes";
    EXPECT_EQ(lastRequest.get_header_value("Content-Type"), "application/json");
    EXPECT_EQ(lastRequest.get_header_value("X-Client-Key"), "Quendarix");
    EXPECT_EQ(lastRequest.get_header_value("Content-Length"), std::to_string(body.size()));
    EXPECT_FALSE(lastRequest.has_header("X-Injected"));
    EXPECT_EQ(lastRequest.get_header_value("X-Session"), "s");
}

TEST_F(URLSessionTest, ConditionalRequestsOfTheCallerSee304) {
    // The no-cache configuration: the caller's validators go out as given.
    auto session = URLSession::sessionWithConfiguration(URLSessionConfiguration::noCacheConfigureation());
    auto first = fetch(session, URLRequest(server.url("/etag")));
    ASSERT_TRUE(first.response);
    EXPECT_EQ(first.response->statusCode, 200);
    auto etag = first.response->valueForHTTPHeaderField("ETag");
    ASSERT_TRUE(etag);

    URLRequest again(server.url("/etag"));
    again.setValue(*etag, "If-None-Match");
    auto second = fetch(session, again);
    ASSERT_TRUE(second.response);
    EXPECT_FALSE(second.error);
    EXPECT_EQ(second.response->statusCode, 304);
    EXPECT_TRUE(second.data.empty());

    URLRequest byDate(server.url("/modified"));
    byDate.setValue("Sat, 01 Jan 2022 00:00:00 GMT", "If-Modified-Since");
    auto third = fetch(session, byDate);
    ASSERT_TRUE(third.response);
    EXPECT_EQ(third.response->statusCode, 304);

    // Also through a session with a cache: the caller's own validators win.
    TestSupport::TempDir dir;
    auto config = URLSessionConfiguration::defaultSessionConfiguration();
    config.urlCache = std::make_shared<URLCache>(dir.path());
    auto cached = URLSession::sessionWithConfiguration(config);
    fetch(cached, URLRequest(server.url("/etag")));
    auto fourth = fetch(cached, again);
    ASSERT_TRUE(fourth.response);
    EXPECT_EQ(fourth.response->statusCode, 304);
}

TEST_F(URLSessionTest, TransportFailures) {
    // Nothing listens.
    auto refused = fetch(ephemeral(), URLRequest(*URL::parse("http://127.0.0.1:" + std::to_string(closedPort()) + "/")));
    ASSERT_TRUE(refused.completed);
    ASSERT_TRUE(refused.error);
    EXPECT_TRUE(URLError::is(*refused.error, URLError::CannotConnectToHost)) << refused.error->debugDescription();
    EXPECT_FALSE(refused.response);

    // Connected, but the server never answers.
    SilentServer silent;
    URLRequest slow(silent.url("/"));
    slow.timeoutInterval = 0.3;
    auto timedOut = fetch(ephemeral(), slow);
    ASSERT_TRUE(timedOut.completed);
    ASSERT_TRUE(timedOut.error);
    EXPECT_TRUE(URLError::is(*timedOut.error, URLError::TimedOut)) << timedOut.error->debugDescription();

    // The configuration's time-out applies when the request has none.
    auto config = URLSessionConfiguration::ephemeralSessionConfiguration();
    config.timeoutIntervalForRequest = 0.3;
    auto viaConfig = fetch(URLSession::sessionWithConfiguration(config), URLRequest(silent.url("/")));
    ASSERT_TRUE(viaConfig.error);
    EXPECT_TRUE(URLError::is(*viaConfig.error, URLError::TimedOut));
}

TEST_F(URLSessionTest, CancelEndsATaskWithCancelled) {
    SilentServer silent;
    std::promise<std::optional<ZMError>> done;
    auto task = ephemeral()->dataTaskWithRequest(URLRequest(silent.url("/")),
                                                 [&](auto, auto, auto error) { done.set_value(error); });
    task->resume();
    std::this_thread::sleep_for(100ms);
    task->cancel();
    auto future = done.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    auto error = future.get();
    ASSERT_TRUE(error);
    EXPECT_TRUE(URLError::is(*error, URLError::Cancelled));
    EXPECT_EQ(task->state(), URLSessionTask::State::Completed);

    // A task cancelled before it started completes once, with Cancelled.
    std::atomic<int> calls{0};
    std::promise<void> second;
    auto idle = ephemeral()->dataTaskWithRequest(URLRequest(server.url("/hello")), [&](auto, auto, auto error) {
        if (error && URLError::is(*error, URLError::Cancelled)) ++calls;
        second.set_value();
    });
    idle->cancel();
    idle->resume();
    second.get_future().wait_for(5s);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(calls.load(), 1);
}

TEST_F(URLSessionTest, InvalidateAndCancelStopsEveryTask) {
    SilentServer silent;
    auto session = ephemeral();
    std::atomic<int> cancelled{0};
    for (int i = 0; i < 5; ++i)
        session
            ->dataTaskWithRequest(URLRequest(silent.url("/")),
                                  [&](auto, auto, auto error) {
                                      if (error && URLError::is(*error, URLError::Cancelled)) ++cancelled;
                                  })
            ->resume();
    std::this_thread::sleep_for(100ms);
    session->invalidateAndCancel();
    EXPECT_TRUE(TestSupport::waitUntil([&] { return cancelled.load() == 5; }, 5s));
}

// A body exactly at the cap arrives whole; one byte more fails, whether the
// server announces its length or streams it in chunks, and whether the cap
// comes from the request or the session.
TEST_F(URLSessionTest, TheBodyCapAdmitsExactlyItsSize) {
    for (const char* path : {"/big", "/big-chunked"}) {
        for (uint64_t cap : {5000u, 4999u}) {
            for (bool perRequest : {true, false}) {
                auto config = URLSessionConfiguration::ephemeralSessionConfiguration();
                URLRequest request(server.url(path));
                if (perRequest) request.maximumBodySize = cap;
                else config.maximumDataTaskBodySize = cap;
                auto r = fetch(URLSession::sessionWithConfiguration(config), request);
                ASSERT_TRUE(r.completed) << path << " " << cap;
                if (cap == 5000) {
                    EXPECT_FALSE(r.error) << path << " " << r.error->debugDescription();
                    EXPECT_EQ(r.data.size(), 5000u) << path;
                    continue;
                }
                ASSERT_TRUE(r.error) << path << " " << cap;
                EXPECT_TRUE(URLError::is(*r.error, URLError::DataLengthExceedsMaximum)) << r.error->debugDescription();
                EXPECT_TRUE(r.data.empty());
            }
        }
    }
}

TEST_F(URLSessionTest, CompletionsOfASessionRunOneAtATime) {
    auto session = ephemeral();
    constexpr int kCount = 24;
    std::atomic<int> inside{0}, maxInside{0}, done{0}, onMain{0};
    std::mutex idsMutex;
    std::set<std::thread::id> threads;
    for (int i = 0; i < kCount; ++i) {
        session
            ->dataTaskWithRequest(URLRequest(server.url("/hello")),
                                  [&](std::string data, auto, auto error) {
                                      int now = ++inside;
                                      int seen = maxInside.load();
                                      while (now > seen && !maxInside.compare_exchange_weak(seen, now)) {
                                      }
                                      if (Dispatch::isMainThread()) ++onMain;
                                      {
                                          std::lock_guard lock(idsMutex);
                                          threads.insert(std::this_thread::get_id());
                                      }
                                      std::this_thread::sleep_for(3ms);
                                      --inside;
                                      if (!error && data == "hello world") ++done;
                                  })
            ->resume();
    }
    ASSERT_TRUE(TestSupport::waitUntil([&] { return done.load() == kCount; }, 20s));
    EXPECT_EQ(maxInside.load(), 1);
    EXPECT_EQ(onMain.load(), 0);
}

TEST_F(URLSessionTest, CookiesStayWithinTheirSession) {
    auto a = ephemeral();
    auto b = ephemeral();
    ASSERT_FALSE(fetch(a, URLRequest(server.url("/set-cookie"))).error);
    EXPECT_EQ(fetch(a, URLRequest(server.url("/read-cookie"))).data, "sid=abc");
    EXPECT_EQ(fetch(b, URLRequest(server.url("/read-cookie"))).data, "");
}

}  // namespace
