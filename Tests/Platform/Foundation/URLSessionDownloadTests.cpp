#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <vector>

#include "Platform/Foundation/TestHTTPServer.h"
#include "Support/TestSupport.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

struct DownloadResult {
    std::optional<std::string> location;
    std::optional<URLResponse> response;
    std::optional<ZMError> error;
    std::vector<std::pair<int64_t, int64_t>> progress;
    bool progressOffMain = true;
};

DownloadResult download(const std::shared_ptr<URLSession>& session, const URLRequest& request, const std::string& path) {
    auto result = std::make_shared<DownloadResult>();
    std::promise<void> done;
    auto task = session->downloadTaskWithRequest(request, path, [&, result](auto location, auto response, auto error) {
        result->location = location;
        result->response = response;
        result->error = error;
        done.set_value();
    });
    task->setProgressHandler([result](int64_t received, int64_t expected) {
        if (Dispatch::isMainThread()) result->progressOffMain = false;
        result->progress.emplace_back(received, expected);
    });
    task->resume();
    done.get_future().wait_for(30s);
    return *result;
}

std::string pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + i / 7) & 0xff);
    return s;
}

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        payload = pattern(6 << 20);
        server.server.Get("/archive.deb", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(payload.size(), "application/octet-stream",
                                     [this](size_t offset, size_t length, httplib::DataSink& sink) {
                                         size_t n = std::min<size_t>(length, 64 * 1024);
                                         sink.write(payload.data() + offset, n);
                                         return true;
                                     });
        });
        server.server.Get("/gone.deb", [](const httplib::Request&, httplib::Response& res) {
            res.status = 404;
            res.set_content("not here", "text/plain");
        });
        server.server.Get("/stalls.deb", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("application/octet-stream", [](size_t offset, httplib::DataSink& sink) {
                if (offset == 0) {
                    sink.write("first part", 10);
                    return true;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // then silence
                sink.done();
                return true;
            });
        });
        server.start();
    }
    TestHTTPServer server;
    std::string payload;
    TestSupport::TempDir dir;
};

TEST_F(DownloadTest, StreamsToTheDestinationWithProgress) {
    auto session = URLSession::sessionWithConfiguration(URLSessionConfiguration::ephemeralSessionConfiguration());
    std::string path = dir.file("debs/archive.deb");
    auto r = download(session, URLRequest(server.url("/archive.deb")), path);
    ASSERT_FALSE(r.error) << r.error->debugDescription();
    ASSERT_TRUE(r.location);
    EXPECT_EQ(*r.location, path);
    ASSERT_TRUE(r.response);
    EXPECT_EQ(r.response->statusCode, 200);
    EXPECT_EQ(TestSupport::readFile(path), payload);
    // Several reports, growing, the last one complete, all off the main thread.
    ASSERT_GE(r.progress.size(), 2u);
    for (size_t i = 1; i < r.progress.size(); ++i) EXPECT_GE(r.progress[i].first, r.progress[i - 1].first);
    EXPECT_EQ(r.progress.back().first, static_cast<int64_t>(payload.size()));
    EXPECT_EQ(r.progress.back().second, static_cast<int64_t>(payload.size()));
    EXPECT_TRUE(r.progressOffMain);
    // No temporary file is left beside it.
    int files = 0;
    for (const auto& e : fs::directory_iterator(dir.file("debs"))) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST_F(DownloadTest, FailedDownloadsLeaveNoFile) {
    auto session = URLSession::sessionWithConfiguration(URLSessionConfiguration::ephemeralSessionConfiguration());
    // An HTTP error: the response says so, and the error page is not stored as the archive.
    auto missing = download(session, URLRequest(server.url("/gone.deb")), dir.file("gone.deb"));
    EXPECT_FALSE(missing.error);
    ASSERT_TRUE(missing.response);
    EXPECT_EQ(missing.response->statusCode, 404);
    EXPECT_FALSE(missing.location);
    EXPECT_FALSE(fs::exists(dir.file("gone.deb")));

    // Over the cap.
    URLRequest capped(server.url("/archive.deb"));
    capped.maximumBodySize = 1 << 20;
    auto big = download(session, capped, dir.file("big.deb"));
    ASSERT_TRUE(big.error);
    EXPECT_TRUE(URLError::is(*big.error, URLError::DataLengthExceedsMaximum));
    EXPECT_FALSE(fs::exists(dir.file("big.deb")));

    // An existing file stays as it was when a new download fails.
    TestSupport::writeFile(dir.file("keep.deb"), "old");
    auto kept = download(session, URLRequest(server.url("/gone.deb")), dir.file("keep.deb"));
    EXPECT_EQ(TestSupport::readFile(dir.file("keep.deb")), "old");
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();
}

TEST_F(DownloadTest, ATransferThatStallsMidwayTimesOut) {
    auto session = URLSession::sessionWithConfiguration(URLSessionConfiguration::ephemeralSessionConfiguration());
    URLRequest request(server.url("/stalls.deb"));
    request.timeoutInterval = 0.4;
    auto r = download(session, request, dir.file("stalls.deb"));
    ASSERT_TRUE(r.error);
    EXPECT_TRUE(URLError::is(*r.error, URLError::TimedOut)) << r.error->debugDescription();
    EXPECT_FALSE(r.location);
    EXPECT_FALSE(fs::exists(dir.file("stalls.deb")));
}

}  // namespace
