// A session with a redirect policy follows redirects itself: what the next
// request carries after each kind of redirect, what a refusal ends in, and
// that the chain shares one total deadline.
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "Platform/Foundation/TestHTTPServer.h"

namespace {

struct Seen {
    std::string method, body, authorization, cookie;
};

class RedirectPolicy : public ::testing::Test {
protected:
    TestHTTPServer home, other;
    std::mutex mutex;
    std::vector<Seen> landed;  // what /land was sent, on either server
    std::vector<std::pair<std::string, std::string>> asked;  // the policy's (from, to)

    void SetUp() override {
        for (TestHTTPServer* s : {&home, &other}) {
            auto land = [this](const httplib::Request& req, httplib::Response& res) {
                std::lock_guard lock(mutex);
                landed.push_back({req.method, req.body, req.get_header_value("Authorization"), req.get_header_value("Cookie")});
                res.set_content("landed", "text/plain");
            };
            s->server.Get("/land", land);
            s->server.Post("/land", land);
        }
        auto hop = [this](const httplib::Request& req, httplib::Response& res) {
            res.status = std::stoi(req.get_param_value("status"));
            res.set_header("Location", (req.get_param_value("to") == "other" ? other.base() : home.base()) + "/land");
        };
        home.server.Get("/hop", hop);
        home.server.Post("/hop", hop);
        home.server.Get("/slow-hop", [this](const httplib::Request&, httplib::Response& res) {
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
            res.status = 302;
            res.set_header("Location", home.base() + "/slow-hop");
        });
        home.start();
        other.start();
    }
    std::shared_ptr<URLSession> session(bool allowOtherOrigins) {
        auto configuration = URLSessionConfiguration::ephemeralSessionConfiguration();
        configuration.keepsCookies = false;
        configuration.redirectPolicy = [this, allowOtherOrigins](const URLRequest& request, const URL& to) {
            std::lock_guard lock(mutex);
            asked.push_back({request.url.path(), to.string()});
            return allowOtherOrigins || request.url.isSameOrigin(to);
        };
        return URLSession::sessionWithConfiguration(configuration);
    }
};

TEST_F(RedirectPolicy, TheNextRequestCarriesWhatItsKindOfRedirectKeeps) {
    struct Case {
        int status;
        std::string to;
        std::string method, body;  // what /land is sent
        bool credentials;
    };
    for (const auto& c : std::vector<Case>{{307, "home", "POST", "secret=1", true},
                                           {308, "home", "POST", "secret=1", true},
                                           {301, "home", "GET", "", true},
                                           {302, "home", "GET", "", true},
                                           {303, "home", "GET", "", true},
                                           {307, "other", "POST", "secret=1", false},
                                           {303, "other", "GET", "", false}}) {
        const std::string name = std::to_string(c.status) + " to " + c.to;
        landed.clear();
        URLRequest request(home.url("/hop?status=" + std::to_string(c.status) + "&to=" + c.to));
        request.httpMethod = "POST";
        request.httpBody = "secret=1";
        request.setValue("application/x-www-form-urlencoded", "Content-Type");
        request.setValue("Bearer t", "Authorization");
        request.setValue("session=s", "Cookie");
        auto r = fetch(session(true), request);
        ASSERT_TRUE(r.completed && r.response) << name;
        EXPECT_EQ(r.data, "landed") << name;
        EXPECT_EQ(r.response->url.path(), "/land") << name;
        std::lock_guard lock(mutex);
        ASSERT_EQ(landed.size(), 1u) << name;
        EXPECT_EQ(landed[0].method, c.method) << name;
        EXPECT_EQ(landed[0].body, c.body) << name;
        EXPECT_EQ(!landed[0].authorization.empty(), c.credentials) << name;
        EXPECT_EQ(!landed[0].cookie.empty(), c.credentials) << name;
    }
}

TEST_F(RedirectPolicy, ARefusedRedirectSendsNothingFurther) {
    auto r = fetch(session(false), URLRequest(home.url("/hop?status=302&to=other")));
    ASSERT_TRUE(r.error);
    EXPECT_TRUE(URLError::is(*r.error, URLError::RedirectRefused)) << r.error->debugDescription();
    std::lock_guard lock(mutex);
    EXPECT_TRUE(landed.empty());
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].first, "/hop");
    EXPECT_EQ(asked[0].second, other.base() + "/land");
}

TEST_F(RedirectPolicy, TheWholeChainSharesTheTotalDeadline) {
    // Each hop answers within the idle limit; together they pass the total one.
    URLRequest request(home.url("/slow-hop"));
    request.timeoutInterval = 5;
    request.timeoutIntervalForResource = 1.5;
    auto r = fetch(session(true), request);
    ASSERT_TRUE(r.error);
    EXPECT_TRUE(URLError::is(*r.error, URLError::TimedOut)) << r.error->debugDescription();
}

}  // namespace
