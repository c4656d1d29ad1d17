// Which reader a package gets, and the requests of the readers: addresses,
// size limits, and identifying headers that never follow a redirect to
// another host.
#include <gtest/gtest.h>

#include <future>
#include <map>
#include <mutex>
#include <set>

#include "Depictions/ZMDepictionChoice.h"
#include "Depictions/ZMDepictionRequests.h"
#include "Platform/Foundation/TestHTTPServer.h"

namespace {

TEST(ZMDepictionChoice, InfoFilesPreferenceReachAndNativeFirst) {
    ZMDepictionSettings settings;
    using R = ZMDepictionChoice::Reader;
    struct Case {
        bool infoJson, preference;
        int64_t reach;
        const char* native;
        std::string source;
        R reader;
    };
    const std::string classic = settings.kestrumSource;
    const Case cases[] = {
        {true, true, 2, "https://d.example/x.json", classic, R::None},
        {false, false, 0, "https://d.example/x.json", classic, R::None},
        {false, false, 1, "https://d.example/x.json", classic, R::Native},
        {false, true, 0, "https://d.example/x.json", classic, R::Native},
        {false, false, 2, "", classic, R::ClassicPage},
        {false, false, 2, "", settings.orvanePartnerSource, R::ClassicPage},
        // Exact locations only: no missing slash, no other scheme.
        {false, false, 2, "", classic.substr(0, classic.size() - 1), R::None},
        {false, false, 2, "", "https" + classic.substr(4), R::None},
        {false, true, 2, "", "https://other.example/", R::None},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ZMDepictionChoice::decide({c.infoJson, c.preference, c.reach, c.native, c.source}, settings), c.reader)
            << c.source << " " << c.native;
}

struct Seen {
    std::mutex mutex;
    std::map<std::string, std::string> idAtHost;  // host -> X-Unique-ID received
};

TEST(ZMDepictionRequests, GuardedHeadersStayWithTheirHostAcrossRedirects) {
    TestHTTPServer server;
    Seen seen;
    server.server.Get(R"(/(\w+))", [&](const httplib::Request& r, httplib::Response& res) {
        {
            std::lock_guard lock(seen.mutex);
            seen.idAtHost[r.get_header_value("Host") + r.path] = r.get_header_value("X-Unique-ID") + "|" + r.get_header_value("X-Machine");
        }
        const std::string port = std::to_string(r.local_port);
        if (r.path == "/start") res.set_redirect("/same");
        else if (r.path == "/same") res.set_redirect("http://localhost:" + port + "/away");
        else if (r.path == "/away") res.set_redirect("http://127.0.0.1:" + port + "/back");
        else res.set_content("done", "text/plain");
    });
    server.start();
    auto request = *ZMDepictionRequests::request(server.base() + "/start", 1024);
    request.setValue("secret", "X-Unique-ID");
    request.setValue("machine", "X-Machine");
    std::promise<std::string> body;
    ZMDepictionRequests::fetchGuarded(URLSession::sessionWithConfiguration(URLSessionConfiguration::noCacheConfigureation()),
                                      request, {"X-Unique-ID"}, [](const std::string& host) { return host == "127.0.0.1"; },
                                      [&](std::string data, std::optional<URLResponse>, std::optional<ZMError> error) {
                                          body.set_value(error ? "error" : data);
                                      });
    auto future = body.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(future.get(), "done");
    const std::string p = std::to_string(server.port());
    std::lock_guard lock(seen.mutex);
    EXPECT_EQ(seen.idAtHost["127.0.0.1:" + p + "/start"], "secret|machine");
    EXPECT_EQ(seen.idAtHost["127.0.0.1:" + p + "/same"], "secret|machine");
    EXPECT_EQ(seen.idAtHost["localhost:" + p + "/away"], "|machine");
    EXPECT_EQ(seen.idAtHost["127.0.0.1:" + p + "/back"], "|machine");  // gone for good
}

TEST(ZMDepictionRequests, OnlyWebAddressesAndBoundedBodies) {
    for (const char* refused : {"file:///etc/passwd", "javascript:alert(1)", "http:///nohost", "", "vostrelle://show"})
        EXPECT_FALSE(ZMDepictionRequests::request(refused, 10)) << refused;
    TestHTTPServer server;
    server.server.Get("/big", [](const httplib::Request&, httplib::Response& r) {
        r.set_content(std::string(ZMDepictionRequests::kMaximumDocumentSize + 1, 'x'), "application/json");
    });
    server.start();
    std::promise<std::optional<ZMError>> result;
    ZMDepictionRequests::fetch(URLSession::sessionWithConfiguration(URLSessionConfiguration::noCacheConfigureation()),
                               server.base() + "/big", ZMDepictionRequests::kMaximumDocumentSize,
                               [&](std::string, std::optional<URLResponse>, std::optional<ZMError> error) { result.set_value(error); });
    auto error = result.get_future().get();
    ASSERT_TRUE(error);
    EXPECT_TRUE(URLError::is(*error, URLError::DataLengthExceedsMaximum));
}


// ---- the device identifier across redirects -----------------------------------------------

// Each chain of hosts is followed by redirects; the guarded header reaches a
// host only while the chain has not yet left the first host, and only when
// that host may receive it. Between two hosts that both may, it is dropped too.
TEST(ZMDepictionRequestsHeaders, TheDeviceIdentifierStaysWithTheFirstHostItMayReach) {
    struct Chain {
        const char* name;
        std::set<std::string> allowed;
        std::vector<std::string> hosts;
        std::vector<bool> carries;  // per hop: the identifier arrived
        int status = 302;
    };
    const std::string a = "127.0.0.1", b = "localhost";
    const std::vector<Chain> chains = {
        {"between two allowed hosts", {a, b}, {a, a, b}, {true, true, false}},
        {"between two allowed hosts, 307", {a, b}, {a, b, b}, {true, false, false}, 307},
        {"between two allowed hosts, 303", {b, a}, {b, a}, {true, false}, 303},
        {"there and back between allowed hosts", {a, b}, {a, b, a}, {true, false, false}},
        {"to another host", {a}, {a, b}, {true, false}},
        {"to another host and back", {a}, {a, b, a}, {true, false, false}},
        {"from a host that may not", {b}, {a, b}, {false, false}},
        {"nowhere allowed", {}, {a, a, b}, {false, false, false}},
        {"no redirect", {a}, {a}, {true}},
    };
    std::mutex mutex;
    std::map<std::pair<size_t, size_t>, std::string> received;  // (chain, hop) -> identifier
    TestHTTPServer server;
    server.server.Get(R"(/(\d+)/(\d+))", [&](const httplib::Request& r, httplib::Response& res) {
        const size_t c = std::stoul(r.matches[1]), hop = std::stoul(r.matches[2]);
        {
            std::lock_guard lock(mutex);
            received[{c, hop}] = r.get_header_value("X-Unique-ID") + "|" + r.get_header_value("X-Machine");
        }
        const Chain& chain = chains.at(c);
        if (hop + 1 < chain.hosts.size())
            res.set_redirect("http://" + chain.hosts[hop + 1] + ":" + std::to_string(r.local_port) + "/" +
                                 std::to_string(c) + "/" + std::to_string(hop + 1),
                             chain.status);
        else
            res.set_content("done", "text/plain");
    });
    server.start();
    auto session = URLSession::sessionWithConfiguration(URLSessionConfiguration::noCacheConfigureation());
    for (size_t c = 0; c < chains.size(); ++c) {
        const Chain& chain = chains[c];
        auto request = *ZMDepictionRequests::request(
            "http://" + chain.hosts[0] + ":" + std::to_string(server.port()) + "/" + std::to_string(c) + "/0", 1024);
        request.setValue("secret", "X-Unique-ID");
        request.setValue("machine", "X-Machine");
        std::promise<std::string> body;
        ZMDepictionRequests::fetchGuarded(session, request, {"X-Unique-ID"},
                                          [&](const std::string& host) { return chain.allowed.count(host) > 0; },
                                          [&](std::string data, std::optional<URLResponse>, std::optional<ZMError> error) {
                                              body.set_value(error ? "error: " + error->localizedDescription() : data);
                                          });
        auto future = body.get_future();
        ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready) << chain.name;
        EXPECT_EQ(future.get(), "done") << chain.name;
        std::lock_guard lock(mutex);
        for (size_t hop = 0; hop < chain.hosts.size(); ++hop)
            EXPECT_EQ(received[std::make_pair(c, hop)], chain.carries[hop] ? "secret|machine" : "|machine")
                << chain.name << ", hop " << hop << " at " << chain.hosts[hop];
    }
}

TEST(ZMDepictionRequestsHeaders, ClassicHostsAreTheConfiguredOnesExactly) {
    ZMDepictionSettings settings;
    settings.marlgateSource = "http://m.example/repofiles/";
    settings.orvaneSource = "https://O.example/";
    settings.orvanePartnerSource = "http://p.example:8080/";
    settings.kestrumSource = "http://k.example/repo/";
    settings.cydiaStoreHost = "store.example:8081";
    for (const char* host : {"m.example", "M.Example", "o.example", "p.example", "k.example", "store.example"})
        EXPECT_TRUE(settings.isClassicHost(host)) << host;
    for (const char* host : {"", "evil.example", "m.example.evil.example", "xm.example", "example", "p.example:8080",
                             "store.example:8081", "127.0.0.1", "localhost"})
        EXPECT_FALSE(settings.isClassicHost(host)) << host;
}

}  // namespace
