// The native depiction walk: what it takes from a document, the changelog
// tab and page, and the depictions real repositories publish.
#include <gtest/gtest.h>

#include <filesystem>

#include "Depictions/ZMNativeDepiction.h"
#include "Support/TestSupport.h"

namespace {

TEST(ZMNativeDepiction, WalkTakesWhatItKnowsAndSkipsWrongTypes) {
    auto d = ZMNativeDepiction::parse(R"J({"headerImage": "https://h.example/banner.png", "tabs": [
        {"tabname": "Details", "views": [{"markdown": "One"},
            {"screenshots": [{"url": "https://s.example/1.png"}, {"url": 5}, "x", {"url": "file:///etc/passwd"}]},
            {"markdown": "Two"}, {"title": "Changelog", "action": "https://c.example/page"},
            {"title": "Changelog", "action": "javascript:alert(1)"}]},
        "not a tab", {"tabname": "More", "views": {"markdown": "skipped"}}, {"tabname": 3, "views": 4},
        {"tabname": "Extra", "views": [{"screenshots": [{"url": "http://s.example/2.png"}]}, {"markdown": 7}, 3, null]}]})J");
    EXPECT_EQ(d.headerImage, "https://h.example/banner.png");
    EXPECT_EQ(d.description, "One\nTwo");
    EXPECT_EQ(d.screenshots, (std::vector<std::string>{"https://s.example/1.png", "http://s.example/2.png"}));
    EXPECT_EQ(d.changelogPages, std::vector<std::string>{"https://c.example/page"});
    EXPECT_FALSE(d.hasChangelogTab);

    for (const char* body : {"", "{", "[1, 2]", "null", "{\"tabs\": 5, \"headerImage\": null}", "{\"headerImage\": \"\"}",
                             "{\"headerImage\": \"https:///x.png\"}", "{\"tabs\": [{\"tabname\": \"A\",}]}"}) {
        auto empty = ZMNativeDepiction::parse(body);
        EXPECT_FALSE(empty.headerImage || empty.description || empty.changelog || !empty.screenshots.empty()) << body;
    }
}

TEST(ZMNativeDepiction, ChangeLogTabPutsNewestVersionsFirst) {
    struct Case {
        const char* views;
        std::optional<std::string> text;
    };
    const Case cases[] = {
        {R"([{"title": "1.1"}, {"markdown": "A"}, {"title": "1.0"}, {"markdown": "B"}])", "1.1:\nA\n\n1.0:\nB"},
        {R"([{"title": "1.9"}, {"markdown": "old"}, {"title": "1.10"}, {"markdown": "new"}])", "1.10:\nnew\n\n1.9:\nold"},
        {R"([{"title": "1.0"}, {"markdown": "A"}, {"markdown": "B"}])", "1.0:\nA\n\nB"},
        {R"([{"views": [{"views": [{"text": ""}, {"text": "2.0"}, {"text": "x"}]}, {"markdown": "X"}, {"markdown": "lost"}]}])",
         "2.0:\nX"},
        {R"([{"title": "alpha"}, {"markdown": "a"}, {"title": "Beta"}, {"markdown": "b"}])", "Beta:\nb\n\nalpha:\na"},
        // Versions written inside the Markdown, with no heading view: kept as they stand.
        {R"([{"markdown": "## 1.1\n- x"}, {"text": "footer"}])", "## 1.1\n- x"},
        {R"([{"markdown": "intro"}, {"title": "1.0"}, {"markdown": "A"}])", "intro\n\n1.0:\nA"},
        {R"([{"title": "1.0"}, {"title": 5}])", std::nullopt},
        {"[]", std::nullopt},
    };
    for (const auto& c : cases) {
        auto d = ZMNativeDepiction::parse(std::string(R"({"tabs": [{"tabname": "Change Log", "views": )") + c.views + "}]}");
        EXPECT_TRUE(d.hasChangelogTab);
        EXPECT_EQ(d.changelog, c.text) << c.views;
    }
    // Version order where both are versions, text order otherwise, and always a consistent order.
    EXPECT_EQ(ZMNativeDepiction::sortedHeadings({"2", "15 x", "10", "1.0~beta", "1.0"}),
              (std::vector<std::string>{"10", "15 x", "2", "1.0", "1.0~beta"}));
}

TEST(ZMNativeDepiction, ChangelogPageTakesTheLastContentSectionWithoutInitialRelease) {
    struct Case {
        const char* html;
        std::optional<std::string> text;
    };
    const Case cases[] = {
        {"<section class='main-content'><ul><li>Fixed</li><li>Added</li></ul></section>", "FixedAdded"},
        {"<section class='maincontents'><ul><li>A</li></ul></section><section class='content'><ul><li>B</li></ul></section>", "B"},
        {"<section class='content'><ul><li>Initial release</li></ul></section>", std::nullopt},
        {"<section class='content'><ul><li>A</li></ul></section><section class='content'><ul><li>Initial release</li></ul></section>", "A"},
        {"<section class='header'><ul><li>A</li></ul></section><section class='content'><p>no list</p></section>", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ZMNativeDepiction::changelogFromPage(c.html), c.text) << c.html;
}

// Every depiction from the shared collection reads without a crash; the valid
// ones give what they hold, the broken ones nothing.
TEST(ZMNativeDepiction, RealDepictionsFromRepositories) {
    struct Expected {
        bool description;
        size_t screenshots;
        bool header;
        std::optional<std::string> changelogStart;
    };
    const std::map<std::string, Expected> expected = {
        {"01-2kgt.json", {true, 8, true, "Version 1.0.10:\n### v1.0.10"}},
        {"02-dave1482-powerapp.json", {true, 3, true, "Version 5.0-beta2003152035:"}},
        {"04-dtinternal.json", {true, 0, true, std::nullopt}},
        {"05-6080737.json", {true, 0, true, std::nullopt}},
        {"06-lans233.json", {true, 3, true, std::nullopt}},
        {"07-asorebent.json", {true, 1, true, std::nullopt}},
        {"09-poomsmart.json", {true, 1, false, "Version 15.0.0:\n- Updated to Unicode 15.0"}},
        {"10-burritoz.json", {true, 3, true, "Changelog:\nThis package has no changelog."}},
        {"12-kgeetings-darkpapers.json", {true, 8, true, "Version 1.0.1:"}},
        {"13-castdrian.json", {true, 0, true, std::nullopt}},
        {"14-maxleiter.json", {true, 4, true, "## 0.3.2"}},
        {"15-qnblackcat.json", {true, 0, false, "#### Version 1.0.7"}},
        {"16-qnblackcat-help.json", {false, 0, false, std::nullopt}},
        {"17-bomberfish.json", {true, 0, true, "VERSION_NUMBER:"}},
        {"18-randomblock1.json", {true, 2, true, "#### Version 1.0"}},
        {"21-tools4cydia.json", {true, 2, true, std::nullopt}},
        {"22-mauromarzocca.json", {true, 0, false, "1.0.2:\n- Added banner and depiction\n\n1.0.1:"}},
        {"23-un1ockdev.json", {true, 2, false, std::nullopt}},
        {"24-un1ockdev-dock.json", {false, 0, false, std::nullopt}},
        {"26-wangdaodaodao.json", {true, 0, false, std::nullopt}},
        {"27-knighty.json", {true, 0, false, "1.1.30:\n- Fix Dasher"}},
        {"28-xsf1re.json", {true, 0, false, "\xEB\xB2\x84\xEC\xA0\x84 0.1.3:"}},
        {"30-jj1625800985.json", {false, 0, false, std::nullopt}},
    };
    size_t read = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TestSupport::dataDirectory() + "/Depictions")) {
        if (entry.path().extension() != ".json") continue;
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        auto d = ZMNativeDepiction::parse(TestSupport::readFile(entry.path().string()));
        ++read;
        auto it = expected.find(name);
        if (it == expected.end()) {  // not JSON: a document without keys
            EXPECT_FALSE(d.description || d.changelog || d.headerImage || !d.screenshots.empty());
            continue;
        }
        EXPECT_EQ(d.description.has_value(), it->second.description);
        EXPECT_EQ(d.screenshots.size(), it->second.screenshots);
        EXPECT_EQ(d.headerImage.has_value(), it->second.header);
        ASSERT_EQ(d.changelog.has_value(), it->second.changelogStart.has_value());
        if (d.changelog) { EXPECT_EQ(d.changelog->rfind(*it->second.changelogStart, 0), 0u) << *d.changelog; }
    }
    EXPECT_EQ(read, 29u);
}

TEST(ZMNativeDepiction, ADeeplyNestedDocumentIsReadWithoutHarm) {
    // Nesting through the keys the walk keeps, and through plain arrays.
    std::string views = "{\"markdown\": \"kept\"}";
    std::string deep;
    for (int i = 0; i < 50'000; ++i) deep += "{\"views\": [";
    for (int i = 0; i < 50'000; ++i) deep += "]}";
    for (const std::string& body : {std::string("{\"tabs\": [") + deep + "]}",
                                    std::string("{\"tabs\": [{\"views\": [") + std::string(100'000, '[') +
                                        std::string(100'000, ']') + "]}]}"}) {
        auto d = ZMNativeDepiction::parse(body);
        EXPECT_FALSE(d.description);
        EXPECT_TRUE(d.screenshots.empty());
    }
    auto shallow = ZMNativeDepiction::parse("{\"tabs\": [{\"views\": [" + views + "]}]}");
    EXPECT_EQ(shallow.description.value_or(""), "kept");
}

// Images and pages load from web addresses with a host only, whichever other
// scheme an address names.
TEST(ZMNativeDepictionAddresses, OtherSchemesWithAHostAreDropped) {
    for (const char* address : {"ftp://host.example/a.png", "file://host.example/a.png", "gopher://host.example/a.png",
                                "ws://host.example/a.png", "vostrelle://host.example/a.png", "data:image/png;base64,AA==",
                                "//host.example/a.png", "https:///a.png"}) {
        const std::string a = address;
        auto d = ZMNativeDepiction::parse(R"({"headerImage": ")" + a + R"(", "tabs": [{"tabname": "Details", "views": [)"
                                          R"({"screenshots": [{"url": ")" + a + R"("}, {"url": "https://s.example/ok.png"}]},)"
                                          R"({"title": "Changelog", "action": ")" + a + R"("}]}]})");
        EXPECT_EQ(d.headerImage, std::nullopt) << a;
        EXPECT_EQ(d.screenshots, std::vector<std::string>{"https://s.example/ok.png"}) << a;
        EXPECT_TRUE(d.changelogPages.empty()) << a;
    }
}

}  // namespace
