// Nesting cut before parsing: hostile texts parse shallow and whole, the
// readers and the renderer take them without a crash, and pages nested the
// ordinary way (implicit ends of paragraphs, items, cells) lose nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "Depictions/ZMDepictionsParser.h"
#include "Depictions/ZMHTMLDocument.h"
#include "Depictions/ZMHTMLNestingLimit.h"
#include "Depictions/ZMMarkdownHTML.h"
#include "Support/TestSupport.h"

namespace {

std::string times(std::string_view unit, int n) {
    std::string out;
    out.reserve(unit.size() * static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) out += unit;
    return out;
}

// The deepest element of the parsed page.
size_t parsedDepth(const std::string& html) {
    auto doc = ZMHTMLDocument::parse(html);
    size_t depth = 0, deepest = 0;
    ZMHTMLDocument::traverse(
        doc->document(),
        [&](ZMHTMLDocument::Element node) {
            if (ZMHTMLDocument::tagName(node).empty()) return false;  // text and comments
            deepest = std::max(deepest, ++depth);
            return true;
        },
        [&](ZMHTMLDocument::Element) { --depth; });
    return deepest;
}

// What a parser reaches stays within a small multiple of the cut, whatever
// the text does to lead the count astray; the text itself is all kept.
TEST(ZMHTMLNestingLimit, HostileNestingParsesShallowWithItsText) {
    const size_t bound = 2 * ZMHTMLNestingLimit::kMaximumDepth;
    struct Case {
        const char* name;
        std::string html;
        bool rendered = true;  // false: the renderer drops what holds the text (svg, select)
    };
    const Case cases[] = {
        {"spans", "<style></style>" + times("<span>", 300000) + "deep"},
        {"quotes and lists", times("<blockquote><ul><li>", 20000) + "deep"},
        {"divs", times("<div>", 40000) + "deep"},
        {"page", "<html><body>" + times("<span>", 300000) + "deep"},
        {"unclosed paragraphs between", times("<div><p>", 20000) + "deep"},
        // Formatting a parser reopens after each implicit close.
        {"reopened formatting", times("<p>" + times("<b x=1><i y=2>", 40) + "</p>t", 2000) + "deep"},
        // End tags that a parser ignores must not lower the count.
        {"ignored end tags", "<div><table><tr><td>" + times("<span>" + times("<em>", 20) + "</div>", 5000) + "deep"},
        {"ignored end tags of ordinary elements", times("<span><div></span>", 20000) + "deep"},
        {"self-closing after a breakout", "<svg><p>" + times("<div/>", 40000) + "deep", false},
        {"comments that end early", "<!-- a --!>" + times("<div>", 40000) + "deep -->"},
        {"raw text that is none", "<select><title><textarea></textarea>" + times("<span>", 40000) + "deep</title>", false},
        {"tables", times("<table><td>", 20000) + "deep"},
        {"list items in spans", times("<li><span>", 20000) + "deep"},
    };
    for (const auto& c : cases) {
        EXPECT_LE(parsedDepth(c.html), bound) << c.name;
        auto doc = ZMHTMLDocument::parse(c.html);
        EXPECT_NE(ZMHTMLDocument::textContent(doc->document()).find("deep"), std::string::npos) << c.name;
        const std::string rendered = ZMMarkdownHTML::htmlForText(c.html, false, false);
        EXPECT_EQ(rendered.find("deep") != std::string::npos, c.rendered) << c.name;
        EXPECT_FALSE(ZMDepictionsParser::orvaneChangelogFromPage("<panel>" + c.html).value_or("").empty()) << c.name;
    }
}

// Short runs of tags of every kind, repeated: whatever the mix, the parser
// ends no deeper than a small multiple of the cut. (Each run here once led
// the count astray.)
TEST(ZMHTMLNestingLimit, RepeatedRunsOfAnyTagsParseShallow) {
    const std::string runs[] = {
        "<th><span><rtc>",                                    // a cell outside a table
        "<thead><td><nav><dt><ul>",                           // table parts outside a table
        "<html><svg>",                                        // html inside SVG
        "<optgroup><menu><listing>",                          // an optgroup outside a select
        "<desc><aside></desc><h1></body>",                    // desc is no SVG outside SVG
        "<td><ol></desc><menu><svg><desc><font></td>",        // an SVG cell left by a breakout
        "</a><details><div/></p><svg>",                       // </p> in SVG
        "<summary><nav></p></template><caption><colgroup><svg><th>",
        "<frameset></object>]]><object></td><input></em><optgroup>",
        "<u><math>",                                          // a breakout cut past the formatting cap
        "<a href=x></h1><div/></noscript><noscript><label>",  // </noscript> under a div
        "<select></tr><template><thead><article><svg><code><keygen></em>",
        "<template><td>",
        "<p><b x=1><i y=2></p>t",                             // formatting reopened
        "<ruby><mi><li><image><input><rtc>",                  // ruby text ends the item
    };
    for (const auto& run : runs) {
        std::string html = "<div>";
        while (html.size() < 200000) html += run;
        EXPECT_LE(parsedDepth(html), 2 * ZMHTMLNestingLimit::kMaximumDepth) << run;
    }
}

// A heading ended from inside SVG leaves the count behind the parser, which
// then nests the self-closed elements that follow: the coarser bound still
// holds the depth.
TEST(ZMHTMLNestingLimit, WhereTheCountFallsBehindTheBoundHolds) {
    for (const char* run : {"<h1><svg></h1><path/><path/><path/>", "<h1><svg></h1><g/><div/>"}) {
        std::string html;
        while (html.size() < 400000) html += run;
        EXPECT_LE(parsedDepth(html), 4 * ZMHTMLNestingLimit::kMaximumDepth + 64) << run;
    }
}

// Past the cut nothing takes effect: a script there is text, not a script.
TEST(ZMHTMLNestingLimit, MarkupPastTheCutIsText) {
    const std::string page = times("<div>", 1000) + "<script>run()</script><b>bold</b>";
    auto doc = ZMHTMLDocument::parse(page);
    EXPECT_TRUE(doc->elementsNamed("script").empty());
    EXPECT_TRUE(doc->elementsNamed("b").empty());
    EXPECT_NE(ZMHTMLDocument::textContent(doc->document()).find("run()"), std::string::npos);
    EXPECT_EQ(doc->elementsNamed("div").size(), ZMHTMLNestingLimit::kMaximumDepth);
}

// Pages nest in ways whose ends a parser supplies: none of these is cut.
TEST(ZMHTMLNestingLimit, OrdinaryPagesAreNotCut) {
    const std::string ordinary[] = {
        times("<p>paragraph", 2000),
        "<ul>" + times("<li>item", 2000) + "</ul>",
        "<ol>" + times("<li><p>item<div>x</div>", 2000) + "</ol>",
        "<dl>" + times("<dt>term<dd>definition", 2000) + "</dl>",
        "<table>" + times("<tr><td>a<td>b<th>c", 2000) + "</table>",
        "<table>" + times("<tbody><tr><td>a", 1000) + "</table>",
        "<select>" + times("<optgroup><option>a<option>b", 1000) + "</select>",
        times("<h1>a<h2>b<p>c", 1000),
        times("<a href=x>link<a href=y>other", 2000),
        times("<p><b>bold</b> <i>it</i> <font>f</font></p>", 2000),
        times("<div><span>a</span></div>", 2000) + times("<div>", 200) + times("</div>", 200),
        "<script>" + times("<div>", 2000) + "</script><style>" + times("<div>", 2000) + "</style>",
        "<!--" + times("<div>", 2000) + "-->" + "<textarea>" + times("<div>", 2000) + "</textarea>",
    };
    for (const auto& page : ordinary) EXPECT_FALSE(ZMHTMLNestingLimit::limited(page)) << page.substr(0, 60);
    for (const auto& entry : std::filesystem::directory_iterator(TestSupport::dataDirectory() + "/Depictions/html")) {
        std::ifstream file(entry.path(), std::ios::binary);
        std::stringstream data;
        data << file.rdbuf();
        EXPECT_FALSE(ZMHTMLNestingLimit::limited(ZMHTMLDocument::toUTF8(data.str()))) << entry.path();
    }
}

}  // namespace
