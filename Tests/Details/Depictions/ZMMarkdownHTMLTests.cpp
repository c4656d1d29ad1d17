// The HTML of descriptions and changelogs: breaks, lists from the tree, and
// the allow-list that raw HTML passes.
#include <gtest/gtest.h>

#include "Depictions/ZMMarkdownHTML.h"

#include <gumbo.h>

#include <optional>
#include <vector>

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
        // Markup typed as text stays text, in Markdown and in HTML alike.
        {"1 < 2, &lt;b&gt;no&lt;/b&gt; and \\<i>", false, "<p>1 &lt; 2, &lt;b&gt;no&lt;/b&gt; and &lt;i&gt;</p><br /><br />"},
        {"- `<b>` is 1 < 2", true, "<p>\u2022 <code>&lt;b&gt;</code> is 1 &lt; 2</p>"},
        {"<style></style><p>1 &lt; 2, &lt;b&gt;no&lt;/b&gt;</p>", true, "<p>1 &lt; 2, &lt;b&gt;no&lt;/b&gt;</p><br />"},
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

// ---- addresses and dropped elements against an HTML parser ------------------------------

// The elements of a page as a browser's parser reads them (the document's own
// html, head and body left out).
struct ParsedElement {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
};

std::vector<ParsedElement> parsedElements(const std::string& html) {
    std::vector<ParsedElement> out;
    GumboOutput* doc = gumbo_parse_with_options(&kGumboDefaultOptions, html.data(), html.size());
    std::vector<const GumboNode*> stack = {doc->root};
    while (!stack.empty()) {
        const GumboNode* node = stack.back();
        stack.pop_back();
        if (node->type != GUMBO_NODE_ELEMENT) continue;
        const GumboElement& e = node->v.element;
        std::string name = gumbo_normalized_tagname(e.tag);
        if (e.tag == GUMBO_TAG_UNKNOWN) {
            GumboStringPiece original = e.original_tag;
            gumbo_tag_from_original_text(&original);
            name.assign(original.data, original.length);
        }
        if (name != "html" && name != "head" && name != "body") {
            ParsedElement element{name, {}};
            for (unsigned i = 0; i < e.attributes.length; ++i) {
                auto* a = static_cast<const GumboAttribute*>(e.attributes.data[i]);
                element.attributes.emplace_back(a->name, a->value);
            }
            out.push_back(std::move(element));
        }
        for (unsigned i = e.children.length; i-- > 0;) stack.push_back(static_cast<const GumboNode*>(e.children.data[i]));
    }
    gumbo_destroy_output(&kGumboDefaultOptions, doc);
    return out;
}

std::string replaced(std::string text, char what, const std::string& with) {
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, 1, with);
    return text;
}

// Whatever an address holds, it stays inside the one attribute a link keeps:
// no attribute or element can be smuggled in through it, in Markdown links,
// reference links, images, and raw HTML inline, as a block and as a page.
TEST(ZMMarkdownHTMLAddresses, NoAttributeOrElementCanBeInjectedThroughAnAddress) {
    const std::string addresses[] = {
        "http://a.example/\"onmouseover=\"alert(1)",
        "http://a.example/'onmouseover='alert(1)",
        "http://a.example/\"><script>alert(1)</script>",
        "http://a.example/'><img src=x onerror=alert(1)>",
        "http://a.example/?q=<b>&x=\"y\"",
        "http://a.example/ onmouseover=alert(1)",
        "http://a.example/\tonfocus=alert(1)\tautofocus",
        "http://a.example/&quot;onclick=&quot;alert(1)",
        "https://a.example/\" style=\"position:fixed",
    };
    for (const std::string& address : addresses) {
        const bool hasBlank = address.find_first_of(" \t") != std::string::npos;
        const bool hasAngle = address.find_first_of("<>") != std::string::npos;
        // Markdown reads entities in an address; raw HTML here has its own "&" escaped.
        std::string inMarkdown = address;
        for (size_t at; (at = inMarkdown.find("&quot;")) != std::string::npos;) inMarkdown.replace(at, 6, "\"");
        const std::string escapedParens = replaced(replaced(address, '(', "\\("), ')', "\\)");
        const std::string doubleQuoted = replaced(replaced(address, '&', "&amp;"), '"', "&#34;");
        const std::string singleQuoted = replaced(replaced(address, '&', "&amp;"), '\'', "&#x27;");
        struct Form {
            std::string text;
            std::optional<std::string> href;  // nullopt: no link at all
        };
        std::vector<Form> forms = {
            {"Go <a href=\"" + doubleQuoted + "\">a</a> now", address},
            {"Go <a href='" + singleQuoted + "'>a</a> now", address},
            {"<div>Go <a href=\"" + doubleQuoted + "\">a</a> now</div>", address},
            {"<style></style><p>Go <a href='" + singleQuoted + "'>a</a> now</p>", address},
            {"Go <img src=\"" + doubleQuoted + "\"> now", std::nullopt},
            {"Go <img src='" + singleQuoted + "'/> now", std::nullopt},
        };
        if (!hasBlank) {
            forms.push_back({"Go [a](" + escapedParens + ") now", inMarkdown});
            forms.push_back({"Go ![a](" + escapedParens + ") now", std::nullopt});
        }
        if (!hasAngle) {
            forms.push_back({"Go [a](<" + address + ">) now", inMarkdown});
            forms.push_back({"Go [a][ref] now\n\n[ref]: <" + address + ">", inMarkdown});
            forms.push_back({"Go ![a](<" + address + ">) now", std::nullopt});
        }
        for (const auto& [text, href] : forms) {
            const std::string html = ZMMarkdownHTML::htmlForText(text, false, false);
            int links = 0;
            for (const auto& element : parsedElements(html)) {
                for (const auto& [name, value] : element.attributes) {
                    const bool allowed = (element.name == "a" && name == "href") ||
                                         ((element.name == "p" || element.name == "span") && name == "style");
                    EXPECT_TRUE(allowed) << element.name << " " << name << "=" << value << "\n" << text << "\n" << html;
                    if (name == "style") { EXPECT_EQ(value.find("position"), std::string::npos) << text << "\n" << html; }
                }
                for (const char* banned : {"script", "img", "iframe", "svg", "style", "b"})
                    EXPECT_NE(element.name, banned) << text << "\n" << html;
                if (element.name == "a") {
                    ++links;
                    ASSERT_EQ(element.attributes.size(), 1u) << text << "\n" << html;
                    if (href) { EXPECT_EQ(element.attributes[0].second, *href) << "the whole address, and only it\n" << text; }
                }
            }
            EXPECT_EQ(links, href ? 1 : 0) << text << "\n" << html;
            EXPECT_NE(html.find("Go"), std::string::npos) << text;
            EXPECT_NE(html.find("now"), std::string::npos) << text;
        }
    }
}

// A dropped element written self-closed ("<iframe/>") has no content: the
// text after it stays; written open, its content goes with it.
TEST(ZMMarkdownHTMLAddresses, SelfClosedDroppedElementsTakeNothingAfterThem) {
    for (const char* tag : {"iframe", "script", "style", "video", "svg", "object", "textarea", "form", "img", "embed"}) {
        const std::string t = tag;
        const std::string cases[] = {
            "Before <" + t + "/> after",
            "Before <" + t + " /> after",
            "Before <" + t + " src='https://x.example/'/> after",
            "Before <" + t + "/> middle <" + t + ">inner</" + t + "> after",
            "Before <" + t + ">inner</" + t + "> after",
        };
        for (const auto& text : cases) {
            const std::string html = ZMMarkdownHTML::htmlForText(text, false, false);
            for (const char* kept : {"Before", "after"}) EXPECT_NE(html.find(kept), std::string::npos) << text << " -> " << html;
            if (text.find("middle") != std::string::npos) {
                EXPECT_NE(html.find("middle"), std::string::npos) << text << " -> " << html;
            }
            const bool isVoid = t == "img" || t == "embed";
            if (!isVoid) { EXPECT_EQ(html.find("inner"), std::string::npos) << text << " -> " << html; }
            for (const auto& element : parsedElements(html)) EXPECT_NE(element.name, t) << text << " -> " << html;
        }
    }
}

// ---- balance -------------------------------------------------------------------------

// Whether every element the output opens is closed, in order (br and hr stand alone).
bool balanced(const std::string& html, std::string& why) {
    std::vector<std::string> open;
    for (size_t at = html.find('<'); at != std::string::npos; at = html.find('<', at + 1)) {
        const size_t end = html.find('>', at);
        if (end == std::string::npos) return why = "a tag runs to the end", false;
        const bool closing = html[at + 1] == '/';
        const size_t nameStart = at + (closing ? 2 : 1);
        const std::string name = html.substr(nameStart, html.find_first_of(" />", nameStart) - nameStart);
        if (html[end - 1] == '/' || name == "br" || name == "hr") continue;
        if (!closing) {
            open.push_back(name);
        } else if (open.empty() || open.back() != name) {
            return why = "</" + name + "> closes " + (open.empty() ? "nothing" : "<" + open.back() + ">"), false;
        } else {
            open.pop_back();
        }
    }
    if (!open.empty()) return why = "<" + open.back() + "> is never closed", false;
    return true;
}

// Raw HTML may close what it never opened, leave open what it opened, or
// close in the wrong order: the output stays balanced, the page's own span
// holds the whole text, and what a block leaves open ends with the block.
TEST(ZMMarkdownHTML, TheOutputIsBalancedWhateverTheRawHTMLDoes) {
    const std::string texts[] = {
        "Fixed a bug with </span></span> tags.\n\nNext paragraph.\n",
        "Some <b>bold\n\nNext paragraph.",
        "<blockquote>quoted\n\nNext paragraph.",
        "A <div>block\n\nNext paragraph.",
        "*a <b>b* c</b> d",
        "[link <i>text](https://example.org/) after</i>",
        "x </p></p> y\n\nz",
        "x </h2> y <h3>z\n\nw",
        "- one <b>two\n- three</li></ul></ol> four\n\nafter",
        "> quote </blockquote> <div>x\n\nafter",
        "<div>a</span><b>b</div>c</b>",
        "<ul><li>a<b>b</li><li>c</ul>d</b>",
        "text <table><tr><td>cell\n\nafter",
        "<style></style></span></div><b>x",
        "<style></style><p>a<b>b</p><p>c</b>d",
        std::string(300, '>') + " deep <b>x",
        "<b>" + std::string(2000, 'x') + "</b></b></b>",
    };
    for (bool dark : {false, true}) {
        for (const auto& text : texts) {
            const std::string html = ZMMarkdownHTML::htmlForText(text, false, dark);
            std::string why;
            EXPECT_TRUE(balanced(html, why)) << text << "\n -> " << html << "\n" << why;
            EXPECT_EQ(html.find("</span>"), html.size() - 7) << text << "\n -> " << html;
        }
    }
    EXPECT_EQ(body(ZMMarkdownHTML::htmlForText("Fixed a bug with </span></span> tags.\n\nNext paragraph.\n", true, false)),
              "<p>Fixed a bug with  tags.</p><br /><p>Next paragraph.</p><br />");
    EXPECT_EQ(body(ZMMarkdownHTML::htmlForText("Some <b>bold\n\nNext", true, false)),
              "<p>Some <b>bold</b></p><br /><p>Next</p><br />");
    EXPECT_EQ(body(ZMMarkdownHTML::htmlForText("*a <b>b* c", true, false)), "<p><em>a <b>b</b></em> c</p><br />");
}

// Nesting past the cap is written as text: a deep text nests no deeper than the cap.
TEST(ZMMarkdownHTML, DeepNestingIsWrittenNoDeeperThanTheCap) {
    const std::string texts[] = {
        [] { std::string t = "Text "; for (int i = 0; i < 5000; ++i) t += "<b>a <i>"; return t + "end"; }(),
        [] { std::string t; for (int i = 0; i < 5000; ++i) t += "<blockquote><ul><li>"; return t + "\nend\n"; }(),
        std::string(5000, '>') + " end",
        [] { std::string t; for (int i = 0; i < 5000; ++i) t += std::string(2 * static_cast<size_t>(i), ' ') + "- a\n"; return t + "end"; }(),
    };
    for (const auto& text : texts) {
        const std::string html = ZMMarkdownHTML::htmlForText(text, false, false);
        size_t depth = 0, deepest = 0;
        for (size_t at = html.find('<'); at != std::string::npos; at = html.find('<', at + 1)) {
            const size_t end = html.find('>', at);
            if (html[at + 1] == '/') --depth;
            else if (html[end - 1] != '/') deepest = std::max(deepest, ++depth);
        }
        EXPECT_LE(deepest, 300u) << text.substr(0, 40);
        EXPECT_NE(html.find("end"), std::string::npos) << text.substr(0, 40);
    }
}

}  // namespace
