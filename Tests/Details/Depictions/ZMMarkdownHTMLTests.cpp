// The HTML of descriptions and changelogs: breaks, lists from the tree, and
// the allow-list that raw HTML passes.
#include <gtest/gtest.h>

#include "Depictions/ZMMarkdownHTML.h"

namespace {

std::string body(const std::string& html) {
    const std::string open = "<span style=\"font-family: -apple-system; font-size: 15.0; color:black\">";
    EXPECT_EQ(html.rfind(open, 0), 0u) << html;
    return html.substr(open.size(), html.size() - open.size() - 7);
}

TEST(ZMMarkdownHTML, BreaksListsAndDroppedLines) {
    struct Case {
        const char* text;
        bool changelog;
        const char* html;
    };
    const Case cases[] = {
        {"# Title\n\nSome *text*.", false, "<h1>Title</h1><br /><p>Some <em>text</em>.</p><br /><br />"},
        {"# Title\n\nSome *text*.", true, "<h1>Title</h1><br /><p>Some <em>text</em>.</p><br />"},
        {"- one\n- two", false, "<p>\u2022 one</p><p>\u2022 two</p>"},
        {"3. c\n4. d\n   - inner\n\n     more", true,
         "<p>3. c</p><p>4. d</p><p style=\"margin-left:18px\">\u2022 inner<br />more</p>"},
        {"<ul><li>raw <b>item</b><ol><li>sub</li></ol></li></ul>", false,
         "<p>\u2022 raw <b>item</b></p><p style=\"margin-left:18px\">1. sub</p>\n"},
        {"<p><img src=x>\nkept\r\n<p><img src=y>", false, "<p>kept</p><br /><br />"},
        {"line one\r\nline two", true, "<p>line one\nline two</p><br />"},
        {"<style>p{}</style># not a heading\n<p>x</p>", false, "# not a heading\n<p>x</p><br /><br />"},
    };
    for (const auto& c : cases) EXPECT_EQ(body(ZMMarkdownHTML::htmlForText(c.text, c.changelog, false)), c.html) << c.text;
    for (const char* nothing : {"", "<p><img src=a>", "<p><img src=a>\n<p><img src=b>"})
        EXPECT_EQ(ZMMarkdownHTML::htmlForText(nothing, false, false), "") << nothing;
    EXPECT_NE(ZMMarkdownHTML::htmlForText("x", false, true).find("color:white"), std::string::npos);
}

TEST(ZMMarkdownHTML, RawHTMLPassesTheAllowList) {
    const char* hostile[] = {
        "Hi <script>alert(1)</script> there",
        "<script>\nalert(1)\n</script>\n\nHi there",
        "<iframe src='https://evil.example/'>inner</iframe>Hi there",
        "Hi <img src='https://track.example/p.png' onerror='alert(1)'> there",
        "<div style='background:url(https://track.example/)' onclick='alert(1)'>Hi there</div>",
        "<link rel=stylesheet href='https://evil.example/s.css'><style>body{}</style>Hi there",
        "<form action='https://evil.example/'><input name=a><button>Go</button></form>Hi there",
        "Hi ![track](https://track.example/p.png) there",
    };
    for (const char* text : hostile) {
        const std::string html = ZMMarkdownHTML::htmlForText(text, false, false);
        for (const char* banned : {"script", "alert", "iframe", "img", "onerror", "onclick", "style=", "url(", "link",
                                   "evil.example", "track.example", "form", "input", "button", "inner"}) {
            const std::string b = body(html);
            EXPECT_EQ(b.find(banned), std::string::npos) << text << " -> " << b;
        }
        EXPECT_NE(html.find("Hi"), std::string::npos) << text;
        EXPECT_NE(html.find("there"), std::string::npos) << text;
    }
    struct Link {
        const char* text;
        bool kept;
    };
    const Link links[] = {
        {"[a](https://ok.example/x?y=1&z=2)", true},   {"<a href=\"http://ok.example/\">a</a>", true},
        {"[a](mailto:dev@ok.example)", true},          {"[a](javascript:alert(1))", false},
        {"<a href='JavaScript:alert(1)'>a</a>", false}, {"[a](file:///etc/passwd)", false},
        {"[a](vostrelle://add/x)", false},             {"<a href=\"data:text/html,x\">a</a>", false},
        {"[a](relative/page.html)", false},
    };
    for (const auto& l : links) {
        const std::string b = body(ZMMarkdownHTML::htmlForText(l.text, false, false));
        EXPECT_EQ(b.find("<a href=") != std::string::npos, l.kept) << l.text << " -> " << b;
        EXPECT_NE(b.find(">a<"), std::string::npos) << l.text;  // the text stays either way
    }
}

TEST(ZMMarkdownHTML, AnUnclosedDroppedTagLosesNothingBeyondItsBlock) {
    // Changelogs mention these elements by name; none of them may swallow what follows.
    for (const char* tag : {"video", "canvas", "script", "textarea", "audio", "svg", "iframe", "select"}) {
        for (bool changelog : {false, true}) {
            for (const std::string& text : {
                     "Fixed <" + std::string(tag) + "> playback in Safari.\n\n- Added dark mode\n- Faster *start*",
                     "<" + std::string(tag) + "> tags are escaped now\n\n- Added dark mode\n- Faster *start*",
                     "# Fixed <" + std::string(tag) + ">\n\n- Added dark mode\n- Faster *start*",
                 }) {
                const std::string b = body(ZMMarkdownHTML::htmlForText(text, changelog, false));
                EXPECT_NE(b.find("Added dark mode"), std::string::npos) << text << " -> " << b;
                EXPECT_NE(b.find("Faster <em>start</em>"), std::string::npos) << text << " -> " << b;
                EXPECT_EQ(b.find("<" + std::string(tag)), std::string::npos) << text << " -> " << b;
            }
        }
    }
    // The open paragraph is closed where the text before the tag ended.
    EXPECT_EQ(body(ZMMarkdownHTML::htmlForText("Fixed <video> playback in Safari.\n\n- Added dark mode", true, false)),
              "<p>Fixed </p><br /><p>\u2022 Added dark mode</p>");
    // Closed within its block, only the element's own content goes.
    EXPECT_EQ(body(ZMMarkdownHTML::htmlForText("a <video>x</video> b\n\nc", true, false)), "<p>a  b</p><br /><p>c</p><br />");
}

}  // namespace
