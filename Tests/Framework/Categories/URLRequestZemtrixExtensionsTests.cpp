#include <gtest/gtest.h>

#include <mutex>

#include "Categories/URLRequest+ZemtrixExtensions.h"
#include "Miscellaneous/ZMPlatform.h"
#include "Platform/Foundation/TestHTTPServer.h"
#include "Support/TestSupport.h"

namespace {

class RequestFactoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestSupport::writeFile(dir.file("os-release"), "NAME=\"Testix\"\nVERSION_ID=\"9.1\"\n");
        ZMPlatform::setOSReleasePath(dir.file("os-release"));
        server.server.Get("/Release", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(mutex);
            seen = req;
            res.set_content("Origin: Test\n", "text/plain");
        });
        server.start();
    }
    void TearDown() override { ZMPlatform::setOSReleasePath(std::nullopt); }

    TestSupport::TempDir dir;
    TestHTTPServer server;
    std::mutex mutex;
    httplib::Request seen;
};

TEST_F(RequestFactoryTest, ProgramRequestCarriesItsUserAgentAndDeviceID) {
    auto request = URLRequestZemtrix::requestWithURL(server.url("/Release"));
    EXPECT_EQ(request.timeoutInterval, 30.0);
    EXPECT_EQ(request.cachePolicy, URLRequestCachePolicy::UseProtocolCachePolicy);
    auto r = fetch(URLSession::sessionWithConfiguration(URLSessionConfiguration::ephemeralSessionConfiguration()), request);
    ASSERT_FALSE(r.error);
    std::lock_guard lock(mutex);
    EXPECT_EQ(seen.get_header_value("User-Agent"),
              "Vostrelle/" + URLRequestZemtrix::shortVersion() + " (Testix/9.1, like CFNetwork/220.0)");
    EXPECT_EQ(seen.get_header_value("X-Device-UUID"), ZMPlatform::deviceUDID());
    EXPECT_EQ(URLRequestZemtrix::shortVersion(), VOSTRELLE_VERSION);
}

TEST_F(RequestFactoryTest, RepositoryRequestCarriesTheAPTHeaders) {
    auto request = URLRequestZemtrix::VostrelleGetRequestWithURL(server.url("/Release"));
    EXPECT_EQ(request.timeoutInterval, 30.0);
    EXPECT_EQ(request.cachePolicy, URLRequestCachePolicy::ReloadIgnoringLocalCacheData);
    auto r = fetch(URLSession::sessionWithConfiguration(URLSessionConfiguration::ephemeralSessionConfiguration()), request);
    ASSERT_FALSE(r.error);
    std::lock_guard lock(mutex);
    EXPECT_EQ(seen.method, "GET");
    EXPECT_EQ(seen.get_header_value("User-Agent"), "Telesphoreo APT-HTTP/1.0.592");
    EXPECT_EQ(seen.get_header_value("X-Machine"), ZMPlatform::deviceModelID());
    EXPECT_EQ(seen.get_header_value("X-Firmware"), "9.1");
    EXPECT_EQ(seen.get_header_value("X-Unique-ID"), ZMPlatform::deviceUDID());
    EXPECT_EQ(seen.get_header_value("X-Cydia-ID"), ZMPlatform::deviceUDID());
    EXPECT_FALSE(seen.has_header("If-Modified-Since"));
    EXPECT_FALSE(seen.has_header("X-Device-UUID"));

    EXPECT_TRUE(URLRequestZemtrix::VostrelleGetRequestWithString(server.base() + "/Release"));
    EXPECT_FALSE(URLRequestZemtrix::VostrelleGetRequestWithString("not a url"));
    EXPECT_FALSE(URLRequestZemtrix::VostrelleGetRequestWithString(""));
}

}  // namespace
