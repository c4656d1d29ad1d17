// The readers of the classic repositories' information pages, their second
// pages on a loopback server, hostile pages and the real pages of the shared
// collection.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>

#include "Depictions/ZMDepictionSettings.h"
#include "Depictions/ZMDepictionsParser.h"
#include "Platform/Foundation/TestHTTPServer.h"
#include "Support/TestSupport.h"

namespace {

using Parser = ZMDepictionsParser;
using Text = std::optional<std::string>;
using List = std::optional<std::vector<std::string>>;

// Starts an operation and waits for its answer (they answer on worker threads).
template <class T> T await(const std::function<void(std::function<void(T)>)>& start) {
    auto promise = std::make_shared<std::promise<T>>();
    auto future = promise->get_future();
    start([promise](T value) { promise->set_value(std::move(value)); });
    EXPECT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    return future.get();
}

TEST(ZMDepictionsParser, MarlgatePages) {
    const std::string page = "http://m.example/depictions/pkg.php?p=1";
    auto p = Parser::depictionsParserWithData(
        "<html><head><title>Tweak Name - Marlgate - Depiction</title></head><body>"
        "<fieldset id='description'>Description: A <b>great</b> tweak.<img src='shot1.png'><img src='/abs.png'>"
        "<img src='https://cdn.example/y.png'><img src='javascript:alert(1)'><img>"
        "<fieldset id='description'><img src='nested.png'></fieldset></fieldset>"
        "<fieldset><label>What's New</label><div>Fixed things\n\nAdded more  \n\n</div></fieldset></body></html>");
    EXPECT_EQ(p->marlgateName("Marlgate"), "Tweak Name");
    EXPECT_EQ(p->marlgateDescription(), "A great tweak.");
    EXPECT_EQ(p->marlgateChangelog(), "Fixed things\n\nAdded more");
    EXPECT_EQ(p->marlgateScreenshots(page),
              (std::vector<std::string>{"http://m.example/depictions/shot1.png", "http://m.example/abs.png",
                                        "https://cdn.example/y.png", "http://m.example/depictions/nested.png"}));

    struct Case {
        const char* html;
        Text name, description, changelog;
    };
    const Case cases[] = {
        // The cut counts characters (é is two bytes), and 13 or fewer leave nothing.
        {"<title>404 Not Found - Marlgate - x</title><fieldset id='description'>D\xC3\xA9scription: X</fieldset>",
         std::nullopt, "X", std::nullopt},
        {"<title>Only</title><fieldset id='description'>Description: </fieldset>", "Only", std::nullopt, std::nullopt},
        {"<title></title><fieldset id='description'></fieldset><fieldset id='description'>abcde</fieldset>", std::nullopt,
         std::nullopt, std::nullopt},
        {"<fieldset><label>What's New</label><div>One line  </div></fieldset>", std::nullopt, std::nullopt, "One line  "},
        {"<fieldset><label>Whats New</label><div>x</div></fieldset>", std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        auto q = Parser::depictionsParserWithData(c.html);
        EXPECT_EQ(q->marlgateName("Marlgate"), c.name) << c.html;
        EXPECT_EQ(q->marlgateDescription(), c.description) << c.html;
        EXPECT_EQ(q->marlgateChangelog(), c.changelog) << c.html;
    }
}

TEST(ZMDepictionsParser, OrvanePages) {
    auto p = Parser::depictionsParserWithData(
        "<title>Tweak Name \xC2\xB7 Store</title><body><panel><img class='icon' src='icon.png'>"
        "<label>Description</label><p>skipped</p><fieldset><div><p>First</p><p>Second</p></div></fieldset>"
        "<img class='icon big' src='a.png'><img src='https://cdn.example/b.png'></panel><panel><img src='c.png'></panel>");
    EXPECT_EQ(p->orvaneName(), "Tweak Name");
    EXPECT_EQ(p->orvaneDescription(), "First\n\nSecond");
    EXPECT_EQ(p->orvaneScreenshots("http://store.example/info/com.x/"),
              (std::vector<std::string>{"http://store.example/info/com.x/a.png", "https://cdn.example/b.png"}));
    EXPECT_EQ(Parser::depictionsParserWithData("<panel><p>Description</p><p>no fieldset</p></panel>")->orvaneDescription(),
              std::nullopt);
}

TEST(ZMDepictionsParser, KestrumParagraphsAreTakenOnceWhateverEnclosesThem) {
    auto p = Parser::depictionsParserWithData("<p>outside</p><div><div><p>A</p></div><p>B</p></div><div>no paragraph</div>");
    EXPECT_EQ(p->kestrumDescription(), "A\n\nB");
    std::string deep;
    for (int i = 0; i < 10000; ++i) deep += "<div><p>x</p>";
    auto nested = Parser::depictionsParserWithData(deep);
    auto text = nested->kestrumDescription();
    ASSERT_TRUE(text);
    EXPECT_EQ(std::count(text->begin(), text->end(), 'x'), 10000);
    EXPECT_EQ(Parser::depictionsParserWithData("")->kestrumDescription(), std::nullopt);
}

class SecondPages : public ::testing::Test {
protected:
    TestHTTPServer server;
    void SetUp() override {
        server.server.Get("/repo/pkg/changelog.php", [](const httplib::Request&, httplib::Response& r) {
            r.set_content("<div>v2 <div>nested</div></div><div>v1</div>", "text/html");
        });
        server.server.Get("/repo/pkg/screenshots.php", [](const httplib::Request&, httplib::Response& r) {
            r.set_content("<panel><img src='a.png'><panel><img src='b.png'></panel></panel><img src='out.png'>", "text/html");
        });
        server.server.Get("/info/com.example.pkg/changelog.html", [](const httplib::Request&, httplib::Response& r) {
            r.set_content("<panel><div>Header</div><label>1.1</label><fieldset><div>Fix A</div><div>Fix B</div></fieldset>"
                          "<p>skipped</p></panel>",
                          "text/html");
        });
        server.start();
        ZMDepictionSettings s;
        s.cydiaStoreHost = "127.0.0.1:" + std::to_string(server.port());
        ZMDepictionSettings::set(s);
    }
    void TearDown() override { ZMDepictionSettings::set(std::nullopt); }
};

TEST_F(SecondPages, KestrumAndOrvaneFetchTheirSecondPages) {
    const std::string page = server.base() + "/repo/pkg/index.php";
    auto p = Parser::depictionsParserWithData("<a href='changelog.php'>c</a><a href='screenshots.php'>s</a>", page);
    EXPECT_EQ(await<Text>([&](auto h) { p->retrieveChangelogFromKestrumDepictionForPackageWithURL(page, h); }),
              "v2 nested\n\nnested\n\nv1");
    EXPECT_EQ(await<List>([&](auto h) { p->retrieveScreenshotsFromKestrumDepictionForPackageWithURL(page, h); }),
              (std::vector<std::string>{server.base() + "/repo/pkg/a.png", server.base() + "/repo/pkg/b.png"}));
    // Without the links there is nothing to fetch.
    auto bare = Parser::depictionsParserWithData("<a href='other.php'>x</a>", page);
    EXPECT_EQ(await<Text>([&](auto h) { bare->retrieveChangelogFromKestrumDepictionForPackageWithURL(page, h); }), std::nullopt);
    EXPECT_EQ(await<List>([&](auto h) { bare->retrieveScreenshotsFromKestrumDepictionForPackageWithURL(page, h); }), std::nullopt);

    EXPECT_EQ(await<Text>([&](auto h) { p->retrieveChangelogFromOrvaneTypeDepictionForPackageWithIdentifier("com.example.pkg", h); }),
              "Header\n\n\n1.1\n\n- Fix A\n- Fix B");
    for (const char* hostile : {"../etc", "a/b", "com.example.missing"})
        EXPECT_EQ(await<Text>([&](auto h) { p->retrieveChangelogFromOrvaneTypeDepictionForPackageWithIdentifier(hostile, h); }),
                  std::nullopt)
            << hostile;
}

TEST(ZMDepictionsParser, InterleavedScrapesEachAnswerTheirOwnPage) {
    std::vector<std::shared_ptr<Parser>> parsers;
    std::vector<std::future<Text>> names;
    for (int i = 0; i < 8; ++i) {
        parsers.push_back(Parser::depictionsParserWithData("<title>Page " + std::to_string(i) + " \xC2\xB7 Store</title>"));
        auto promise = std::make_shared<std::promise<Text>>();
        names.push_back(promise->get_future());
        parsers.back()->retrieveNameFromOrvaneTypeDepictionWithCompletionHandler([promise](Text t) { promise->set_value(t); });
    }
    parsers.clear();  // the operations keep their pages
    for (int i = 0; i < 8; ++i) EXPECT_EQ(names[i].get(), "Page " + std::to_string(i));
}

TEST(ZMDepictionsParser, RealPagesFromRepositories) {
    struct Expected {
        Text orvaneName;
        size_t orvaneScreenshots;
        const char* kestrumHas;  // nullptr: no description
        const char* marlgateHas;
    };
    const std::map<std::string, Expected> expected = {
        {"01-evilgoldfish.html", {"FailSafe", 0, "incorrect passcode", nullptr}},
        {"02-laughingquoll.html", {std::nullopt, 0, "Forton", "Forton"}},
        {"03-dannyglover.html", {"Details", 0, "Install this tweak", nullptr}},
        {"04-cgm616.html", {"VolumeBar9", 0, nullptr, nullptr}},
        {"05-simalary.html", {std::nullopt, 0, nullptr, nullptr}},
        {"06-poomsmart.html", {"Amber", 0, "iOS 7.0", nullptr}},
        {"07-kgeetings.html", {"DarkPapers", 9, "OLED", nullptr}},
        {"08-tools4cydia.html", {"Official Cydia Repo", 0, "", nullptr}},
        {"09-burritoz.html", {"Aperio", 0, "app launcher", nullptr}},
        {"10-maxleiter.html", {"Kiosk Mode", 0, "single app", nullptr}},
        {"11-shaundegr8.html", {"/shaundegr8/", 0, "shaundegr8", nullptr}},
    };
    size_t read = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TestSupport::dataDirectory() + "/Depictions/html")) {
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        ASSERT_TRUE(expected.count(name));
        const auto& e = expected.at(name);
        auto p = Parser::depictionsParserWithData(TestSupport::readFile(entry.path().string()));
        ++read;
        EXPECT_EQ(p->orvaneName(), e.orvaneName);
        EXPECT_EQ(p->orvaneScreenshots("https://repo.example/d/").size(), e.orvaneScreenshots);
        auto kestrum = p->kestrumDescription();
        EXPECT_EQ(kestrum.has_value(), e.kestrumHas != nullptr);
        if (kestrum && e.kestrumHas) { EXPECT_NE(kestrum->find(e.kestrumHas), std::string::npos); }
        auto marlgate = p->marlgateDescription();
        EXPECT_EQ(marlgate.has_value(), e.marlgateHas != nullptr);
        if (marlgate && e.marlgateHas) { EXPECT_NE(marlgate->find(e.marlgateHas), std::string::npos); }
        // The other readers find nothing on these pages, but read them.
        (void)p->marlgateChangelog();
        (void)p->orvaneDescription();
    }
    EXPECT_EQ(read, expected.size());
}


// ---- screenshot addresses -----------------------------------------------------------------

// Screenshots load from web addresses only: whatever the reference or the
// page it is read from, another scheme (with a host or without) is no image.
TEST(ZMDepictionsParserAddresses, OnlyWebAddressesWithAHostAreScreenshots) {
    const std::string page = "https://repo.example/depictions/pkg/";
    struct Case {
        std::string base;
        std::string reference;
        std::optional<std::string> resolved;
    };
    const Case cases[] = {
        {page, "shot.png", page + "shot.png"},
        {page, "/top.png", "https://repo.example/top.png"},
        {page, "../up.png", "https://repo.example/depictions/up.png"},
        {page, "//cdn.example/s.png", "https://cdn.example/s.png"},
        {"http://repo.example/", "//cdn.example/s.png", "http://cdn.example/s.png"},
        {page, "http://cdn.example/s.png", "http://cdn.example/s.png"},
        {page, "ftp://host.example/a.png", std::nullopt},
        {page, "FTP://host.example/a.png", std::nullopt},
        {page, "file://host.example/etc/passwd", std::nullopt},
        {page, "file:///etc/passwd", std::nullopt},
        {page, "gopher://host.example/a.png", std::nullopt},
        {page, "ws://host.example/a.png", std::nullopt},
        {page, "vostrelle://host.example/a.png", std::nullopt},
        {page, "javascript:alert(1)", std::nullopt},
        {page, "data:image/png;base64,iVBORw0KGgo=", std::nullopt},
        {page, "mailto:dev@host.example", std::nullopt},
        {page, "http:///nohost.png", std::nullopt},
        {page, "https://", std::nullopt},
        // A page read from elsewhere gives its relative references its own scheme.
        {"ftp://host.example/pkg/", "shot.png", std::nullopt},
        {"file:///var/www/pkg/", "shot.png", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Parser::resolve(c.base, c.reference), c.resolved) << c.base << " + " << c.reference;

    // The same rule on every page that lists screenshots.
    const std::string images = "<img src='ftp://host.example/a.png'><img src='file://host.example/b.png'>"
                               "<img src='gopher://host.example/c.png'><img src='https://cdn.example/ok.png'>";
    const std::vector<std::string> ok = {"https://cdn.example/ok.png"};
    EXPECT_EQ(Parser::depictionsParserWithData("<fieldset id='description'>" + images + "</fieldset>")->marlgateScreenshots(page), ok);
    EXPECT_EQ(Parser::depictionsParserWithData("<panel>" + images + "</panel>")->orvaneScreenshots(page), ok);
    EXPECT_EQ(Parser::kestrumScreenshotsFromPage("<panel>" + images + "</panel>", page), ok);
}

}  // namespace
