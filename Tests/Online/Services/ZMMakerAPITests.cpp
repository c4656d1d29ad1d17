// The transport every maker client shares: configuration, what reaches the
// server for hostile values, and how hostile or broken replies end (once,
// without a crash) for each client.
#include <cstdlib>

#include <fmt/format.h>

#include "Online/Services/OnlineServicesFixture.h"
#include "Services/ZMPackageRatings.h"
#include "Services/ZMPackagesWishlist.h"
#include "Support/FlatRepository.h"

using Behaviour = FakeMakerAPI::Behaviour;

TEST(ZMMakerAPIConfiguration, AcceptsHTTPSAndLoopbackHTTPOnly) {
    struct Case {
        const char* text;
        const char* base;  // "" when refused
    } cases[] = {
        {"https://api.example.com/", "https://api.example.com"},
        {"https://api.example.com/prefix//", "https://api.example.com/prefix"},
        {"http://127.0.0.1:8080", "http://127.0.0.1:8080"},
        {"http://127.9.9.9", "http://127.9.9.9"},
        {"http://localhost:1", "http://localhost:1"},
        {"http://[::1]:9/", "http://[::1]:9"},
        {"http://api.example.com", ""},
        {"http://128.0.0.1", ""},
        {"ftp://api.example.com", ""},
        {"https://user:pw@api.example.com", ""},
        {"https://api.example.com/?a=b", ""},
        {"api.example.com", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        ZMMakerAPI::setBaseURL(c.text);
        auto base = ZMMakerAPI::baseURL();
        EXPECT_EQ(base ? base->string() : "", c.base) << c.text;
    }
    ZMMakerAPI::setBaseURL("https://api.example.com/prefix/");
    EXPECT_EQ(ZMMakerAPI::registerPageURL()->string(), "https://api.example.com/register/")
        << "web defaults to the origin";
    ZMMakerAPI::setWebURL("https://www.example.com");
    EXPECT_EQ(ZMMakerAPI::lostPasswordPageURL()->string(), "https://www.example.com/index.php?lost-password/");
    ZMMakerAPI::setBaseURL(std::nullopt);
    ZMMakerAPI::setWebURL(std::nullopt);
    ::setenv("VOSTRELLE_MAKER_API_URL", "https://env.example.com", 1);
    EXPECT_EQ(ZMMakerAPI::baseURL()->string(), "https://env.example.com");
    ::unsetenv("VOSTRELLE_MAKER_API_URL");
    EXPECT_FALSE(ZMMakerAPI::baseURL());
}

TEST_F(OnlineServices, UnconfiguredServiceFailsAtOnceAndSendsNothing) {
    ZMMakerAPI::setBaseURL("http://api.example.com");  // plain http to a real host: refused
    Answer<std::optional<std::string>> featured;
    ZMFeaturedPackagesMethods::instance().fetchFeaturedPackages(featured.callback());
    EXPECT_EQ(featured.calls(), 1) << "on the caller's thread, before returning";
    EXPECT_EQ(featured.value(), std::nullopt);
    Answer<std::string> login;
    ZMAccount::instance().performLogin("ada", "pässword & co", login.callback());
    ASSERT_EQ(login.calls(), 1);
    EXPECT_EQ(login.value(), ZMMakerAPI::notConfiguredText());
    EXPECT_TRUE(maker->requests().empty());
}

// A redirect is followed only within the rules of the configured address:
// https or loopback, and a request with a body (the sign-in's password) stays
// on its origin.
TEST_F(OnlineServices, ARedirectNeverTakesTheSignInElsewhere) {
    TestSupport::TempDir dir;
    FlatRepository::FileServer elsewhere(dir.path());
    elsewhere.route("catch", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("{\"username\": \"ada\", \"userID\": 12}", "application/json");
    });
    for (int status : {307, 308, 301, 302, 303}) {
        maker->setBehaviour("login/login.php", {.status = status, .times = 1, .location = elsewhere.url("catch")});
        Answer<std::string> answer;
        ZMAccount::instance().performLogin("ada", "pässword & co", answer.callback());
        ASSERT_TRUE(answer.wait()) << status;
        EXPECT_NE(answer.value(), kZMStatusSuccess) << status;
        EXPECT_TRUE(elsewhere.requests().empty()) << status << ": " << elsewhere.requests().front().method << " "
                                                  << elsewhere.requests().front().body;
    }
    // Within its own origin a redirect is followed, body and all.
    maker->setBehaviour("login/login.php", {.status = 307, .times = 1, .location = maker->url() + "/vostrelleapi/login/login.php"});
    Answer<std::string> again;
    ZMAccount::instance().performLogin("ada", "pässword & co", again.callback());
    ASSERT_TRUE(again.wait());
    EXPECT_EQ(again.value(), kZMStatusSuccess);
    EXPECT_EQ(maker->requests("login/login.php").back().field("password"), "pässword & co");

    struct Case {
        const char* from;
        const char* to;
        bool body;
        bool followed;
    };
    for (const auto& c : std::vector<Case>{{"https://api.example.com/a", "https://api.example.com/b", true, true},
                                           {"https://api.example.com/a", "https://cdn.example.com/b", false, true},
                                           {"https://api.example.com/a", "https://cdn.example.com/b", true, false},
                                           {"https://api.example.com/a", "https://api.example.com:8443/b", true, false},
                                           {"https://api.example.com/a", "http://api.example.com/b", false, false},
                                           {"https://api.example.com/a", "http://127.0.0.1:9/b", false, true},
                                           {"http://127.0.0.1:8/a", "http://127.0.0.1:9/b", true, false},
                                           {"https://api.example.com/a", "https://user:pw@api.example.com/b", false, false},
                                           {"https://api.example.com/a", "ftp://api.example.com/b", false, false}}) {
        URLRequest request(*URL::parse(c.from));
        if (c.body) request.httpMethod = "POST", request.httpBody = "password=x";
        EXPECT_EQ(ZMMakerAPI::mayFollowRedirect(request, *URL::parse(c.to)), c.followed) << c.from << " -> " << c.to;
    }
}

// Every value arrives as one intact value, with the blanks the request wants.
TEST_F(OnlineServices, HostileValuesArriveIntact) {
    ASSERT_TRUE(signIn());
    const std::vector<std::string> values = {"a&rate=5", "=", "%", "+", ";", "line\nbreak", "ü", "dark mode"};
    for (const auto& value : values) {
        maker->clearRequests();
        ZMStatistics::instance().postSearchStatistic(value);
        ZMPackageRatings("ada").postRatingReview("com.a", value, "t", 4, [](std::string) {});
        ZMSearchDeveloper::instance().searchDeveloper(value + "xyz", [](auto, auto) {});
        ZMPackageRatings().replyToReviewWithUserID(12, 34, value, false, false, [](auto) {});
        ASSERT_TRUE(maker->waitForCount("ratings/reply.php", 1));
        ASSERT_TRUE(maker->waitForCount("stats/stats.php", 1));
        ASSERT_TRUE(maker->waitForCount("ratings/rate.php", 1));
        ASSERT_TRUE(maker->waitForCount("developers/devs.php", 1));
        auto stat = maker->requests("stats/stats.php").at(0);
        auto rate = maker->requests("ratings/rate.php").at(0);
        auto reply = maker->requests("ratings/reply.php").at(0);
        EXPECT_EQ(stat.field("search"), value);
        EXPECT_EQ(stat.field("key"), "Quendarix");
        EXPECT_EQ(rate.field("description"), value);
        EXPECT_EQ(rate.field("rate"), "4");
        EXPECT_EQ(maker->requests("developers/devs.php").at(0).field("searchParam"), value + "xyz");
        EXPECT_EQ(reply.field("reply"), value);
        EXPECT_EQ(reply.fields.size(), 3u) << value;
    }
    // Long texts go in form bodies (a server refuses request lines that long).
    const std::string big = std::string(10000, 'z') + "&=%+;\n";
    ZMPackageRatings().replyToReviewWithUserID(12, 34, big, false, false, [](auto) {});
    ASSERT_TRUE(maker->waitForCount("ratings/reply.php", 2));
    EXPECT_EQ(maker->requests("ratings/reply.php").at(1).field("reply"), big);
    maker->clearRequests();
    ZMStatistics::instance().postSearchStatistic("dark mode");
    ZMPackageRatings().replyToReviewWithUserID(12, 34, std::string("thanks a lot"), false, false, [](auto) {});
    ASSERT_TRUE(maker->waitForCount("stats/stats.php", 1) && maker->waitForCount("ratings/reply.php", 1));
    EXPECT_EQ(maker->requests("stats/stats.php").at(0).rawQuery, "searchStat=1&search=dark+mode&key=Quendarix");
    auto reply = maker->requests("ratings/reply.php").at(0);
    EXPECT_EQ(reply.body, "id=12&reply=thanks%20a%20lot&review_id=34");
    EXPECT_EQ(reply.header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(reply.header("Content-Length"), std::to_string(reply.body.size()));
}

// Each client against broken answers: one completion each, the documented
// failure, nothing kept from the broken reply.
TEST_F(OnlineServices, BrokenRepliesEndOnceAsFailures) {
    ASSERT_TRUE(signIn());
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    struct Case {
        const char* endpoint;
        Behaviour behaviour;
        std::function<void(std::function<void(std::string)>)> run;
        const char* expected;
    };
    auto status = [](const std::optional<std::string>& s) { return s ? *s : std::string("nil"); };
    auto featured = [&](auto done) {
        ZMFeaturedPackagesMethods::instance().fetchFeaturedPackages([=](auto s) { done(status(s)); });
    };
    auto trending = [&](auto done) {
        ZMStatistics::instance().retrieveSearchesTrendingWithCompletionHandler([=](auto s) { done(status(s)); });
    };
    auto wishlist = [&](auto done) {
        ZMPackagesWishlist::sharedInstance().retrieveZemtrixAccountWishlist(
            [=](auto list) { done(list ? std::to_string(list->size()) : "nil"); });
    };
    auto reviews = [&](auto done) {
        ZMPackageRatings().getReviews("com.a", [=](auto s, auto r) { done(status(s) + std::to_string(r.size())); });
    };
    auto login = [&](auto done) { ZMAccount::instance().performLogin("ada", "pässword & co", done); };
    auto rating = [&](auto done) { ZMPackageRatings("ada").postRatingReview("com.a", "", "", 5, done); };
    auto news = [&](auto done) { ZMNewsRetrieval::instance().fetchNewsWithCompletionHandler(done); };
    const std::string unreadable = "The server sent data that could not be read.";
    const Case cases[] = {
        {"featured/featured.php", {.status = 500, .body = "<html>Could not connect</html>"}, featured, "Error"},
        {"featured/featured.php", {.body = "{\"featuredTop\": {\"a\": 1}}"}, featured, "Success"},
        {"featured/featured.php", {.oversizedBytes = 20u << 20}, featured, "Error"},
        {"featured/featured.php", {.hold = true}, featured, "nil"},
        {"featured/featured.php", {.body = deep}, featured, "Error"},
        {"stats/trending.php", {.body = "not json"}, trending, "Error"},
        {"stats/trending.php", {.body = "[1, {}]"}, trending, "Success"},
        {"wishlist/retrievewishlist.php", {.body = "{\"wishlist\": 5}"}, wishlist, "nil"},
        {"wishlist/retrievewishlist.php", {.body = "{\"wishlist\": null}"}, wishlist, "nil"},
        {"wishlist/retrievewishlist.php", {.body = "{\"wishlist\": \"\"}"}, wishlist, "1"},
        {"ratings/reviews.php", {.body = "{\"id\": 1}"}, reviews, "nil0"},
        {"ratings/reviews.php", {.body = "[null, 3, {\"id\": [1], \"reply\": null}]"}, reviews, "Success1"},
        {"login/login.php", {.body = "{\"username\": \"ada\", \"user_id\": [12]}"}, login, unreadable.c_str()},
        {"login/login.php", {.body = "{\"username\": \"\", \"user_id\": 12}"}, login, unreadable.c_str()},
        {"login/login.php", {.body = "{\"username\": \"ada\", \"user_id\": \"0\"}"}, login, unreadable.c_str()},
        {"login/login.php",
         {.status = 503, .body = "Incorrect password. Please try again."},
         login,
         "The server answered with HTTP status 503."},
        {"login/login.php", {.hold = true}, login, "The request timed out."},
        {"ratings/rate.php",
         {.status = 500, .body = "<b>Fatal</b>"},
         rating,
         "The server answered with HTTP status 500."},
        {"news/retrievenews.php", {.body = "{}"}, news, unreadable.c_str()},
    };
    for (const auto& c : cases) {
        // Only a silent server waits for the limit; the others must not run into it on a loaded machine.
        ZMMakerAPI::setRequestTimeLimit(c.behaviour.hold ? 1.0 : 30.0);
        maker->setBehaviour(c.endpoint, c.behaviour);
        Answer<std::string> answer;
        c.run(answer.callback());
        ASSERT_TRUE(answer.wait()) << c.endpoint << " " << c.expected;
        TestSupport::pumpMainLoop(std::chrono::milliseconds(20));
        EXPECT_EQ(answer.value().rfind(c.expected, 0), 0u) << c.endpoint << ": " << answer.value();
        EXPECT_EQ(answer.calls(), 1) << c.endpoint;
        maker->clearBehaviour(c.endpoint);
        while (maker->releaseHeld(c.endpoint)) {
        }
    }
    EXPECT_TRUE(ZMStatistics::instance().searchesTrending().empty()) << "[1, {}] holds no text";
    auto lists = ZMFeaturedPackagesMethods::instance().featuredLists();
    ASSERT_TRUE(lists);
    EXPECT_TRUE(lists->packagesTop.empty()) << "a list that is an object reads as empty";
    EXPECT_TRUE(ZMAccount::instance().isSignedIn()) << "failed sign-ins leave the account as it was";
    ZMMakerAPI::setRequestTimeLimit(std::nullopt);
}

TEST(ZMMakerAPIReplies, FieldsKeepTheirTypeAndOnlyWebURLs) {
    auto reply = nlohmann::json::parse(R"j({"a": "text", "n": 42, "f": 1.5, "b": true, "z": null, "l": [1],
        "web": "https://x.example/p.png", "file": "file:///etc/passwd", "js": "javascript:alert(1)",
        "rel": "/p.png", "blank": "https://"})j");
    EXPECT_EQ(ZMMakerAPI::text(reply, "a"), "text");
    EXPECT_EQ(ZMMakerAPI::text(reply, "n"), "42");
    for (const char* key : {"f", "b", "z", "l", "missing"}) EXPECT_EQ(ZMMakerAPI::text(reply, key), "") << key;
    EXPECT_EQ(ZMMakerAPI::httpURL(reply, "web"), "https://x.example/p.png");
    for (const char* key : {"file", "js", "rel", "blank", "n"}) EXPECT_EQ(ZMMakerAPI::httpURL(reply, key), "") << key;
    EXPECT_EQ(ZMMakerAPI::displayText("  \xff ok\n"), "\xEF\xBF\xBD ok");
    EXPECT_EQ(ZMMakerAPI::utf16Length("ab\xF0\x9F\x98\x80"), 4u) << "an emoji is two UTF-16 units";
}

// ---- text shown to the user ---------------------------------------------------------------

// Server text reaches the screens as well-formed UTF-8: every ill-formed
// sequence (overlong forms, surrogates, code points above U+10FFFF, stray
// and missing continuation bytes) becomes U+FFFD and nothing else of it
// survives, while every well-formed sequence passes unchanged.
TEST(ZMMakerAPIText, IllFormedUTF8BecomesReplacementCharactersOnly) {
    const char* illFormed[] = {
        "\xC0\x80", "\xC0\xAF", "\xC1\xBF", "\xC1\x81",                  // overlong two-byte forms
        "\xE0\x80\x80", "\xE0\x9F\xBF", "\xE0\x80\xAF",                  // overlong three-byte forms
        "\xED\xA0\x80", "\xED\xBF\xBF",                                  // surrogates
        "\xF0\x80\x80\x80", "\xF0\x8F\xBF\xBF", "\xF0\x80\x80\xAF",      // overlong four-byte forms
        "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xF7\xBF\xBF\xBF",      // above U+10FFFF
        "\xF8\x88\x80\x80\x80", "\xFC\x84\x80\x80\x80\x80", "\xFE", "\xFF",
        "\x80", "\xBF", "\x80\x80",                                      // continuations alone
        "\xC2", "\xE2\x82", "\xF0\x9F\x98",                              // cut short
    };
    for (const char* bytes : illFormed) {
        const std::string text = ZMMakerAPI::displayText(std::string("a") + bytes + "z");
        std::string rest = text;
        size_t replacements = 0;
        for (size_t at; (at = rest.find("\xEF\xBF\xBD")) != std::string::npos; ++replacements) rest.erase(at, 3);
        std::string hex;
        for (unsigned char c : std::string(bytes)) hex += fmt::format("{:02X} ", c);
        EXPECT_EQ(rest, "az") << hex;
        EXPECT_GE(replacements, 1u) << hex;
    }
    const char* wellFormed[] = {"\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEE\x80\x80",
                                "\xEF\xBF\xBD", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF", "\xF0\x9F\x98\x80",
                                "caf\xC3\xA9"};
    for (const char* bytes : wellFormed) {
        const std::string text = std::string("a") + bytes + "z";
        EXPECT_EQ(ZMMakerAPI::displayText(text), text) << bytes;
    }
}
