// Depictions shaped to exhaust the readers: whatever the shape, a rendering
// keeps every word and stays in proportion to its text (as HTML, or as plain
// text once the budget is spent), and a page reader gives what it can.
#include <gtest/gtest.h>

#include <gumbo.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "Depictions/ZMDepictionBudget.h"
#include "Depictions/ZMDepictionsParser.h"
#include "Depictions/ZMHTMLDocument.h"
#include "Depictions/ZMHTMLNestingLimit.h"
#include "Depictions/ZMMarkdown.h"
#include "Depictions/ZMMarkdownHTML.h"
#include "Depictions/ZMNativeDepiction.h"

namespace {

using Rendering = ZMMarkdownHTML::Rendering;

std::string times(std::string_view unit, size_t n) {
    std::string out;
    out.reserve(unit.size() * n);
    for (size_t i = 0; i < n; ++i) out += unit;
    return out;
}

std::string attributes(size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += " a" + std::to_string(i) + "=1";
    return out;
}

size_t occurrences(std::string_view text, std::string_view word) {
    size_t n = 0;
    for (size_t at = text.find(word); at != std::string_view::npos; at = text.find(word, at + word.size())) ++n;
    return n;
}

// What the page shows of a rendering.
std::string shown(const Rendering& r) { return r.html.empty() ? r.plain : ZMHTMLDocument::textWithoutMarkup(r.html); }

void expectBounded(const Rendering& r, size_t input, const std::string& name) {
    EXPECT_LE(r.html.size(), ZMMarkdownHTML::kMaximumOutputFactor * input + ZMMarkdownHTML::kOutputAllowance) << name;
    EXPECT_LE(r.plain.size(), input) << name;
    EXPECT_EQ(r.plain.empty(), r.reason.empty()) << name;
}

// The most attributes an element of the parsed page holds, and the longest value.
std::pair<size_t, size_t> attributesParsed(const std::string& html) {
    auto doc = ZMHTMLDocument::parse(html);
    size_t most = 0, longest = 0;
    ZMHTMLDocument::traverse(
        doc->document(),
        [&](ZMHTMLDocument::Element node) {
            if (node->type != GUMBO_NODE_ELEMENT) return false;
            const GumboVector& list = node->v.element.attributes;
            most = std::max<size_t>(most, list.length);
            for (unsigned i = 0; i < list.length; ++i)
                longest = std::max(longest, std::string_view(static_cast<GumboAttribute*>(list.data[i])->value).size());
            return true;
        },
        [](ZMHTMLDocument::Element) {});
    return {most, longest};
}

struct Case {
    std::string name;
    std::string text;
    size_t words;  // how many times "kiwi" is in it
};

// Formatting the parser reopens in every paragraph it copies with its
// attributes: the attributes are cut, and copies past the memory budget
// leave the text plain.
TEST(ZMDepictionBudget, FormattingReopenedInEveryParagraphStaysInProportion) {
    std::string unclosed;
    for (int k = 0; k < 64; ++k) unclosed += "<b id=" + std::to_string(k) + ">";
    const Case cases[] = {
        {"2,000 attributes reopened in 300 paragraphs", "<style></style><p><b" + attributes(2000) + "></p>" + times("<p>kiwi</p>", 300), 300},
        {"64 unclosed elements before 5,000 paragraphs", "<style></style><p>" + unclosed + "</p>" + times("<p>kiwi</p>", 5000), 5000},
    };
    for (const auto& c : cases) {
        EXPECT_LE(attributesParsed(c.text).first, ZMHTMLNestingLimit::kMaximumAttributes) << c.name;
        const Rendering r = ZMMarkdownHTML::render(c.text, false, false);
        expectBounded(r, c.text.size(), c.name);
        EXPECT_EQ(occurrences(shown(r), "kiwi"), c.words) << c.name;
    }
}

// The parser compares each attribute with those before it, and gathers those
// of every html and body tag: no element keeps more than the cap, nor a value
// that ends past the tag's byte cap.
TEST(ZMDepictionBudget, AttributesPastTheCapsAreCut) {
    std::string bodies, roots;
    for (int i = 0; i < 5000; ++i) {
        bodies += "<body b" + std::to_string(i) + "=1>";
        roots += "<html h" + std::to_string(i) + "=1>";
    }
    const Case cases[] = {
        {"20,000 on one element", "<div" + attributes(20000) + ">kiwi</div>", 1},
        {"5,000 body tags", bodies + "kiwi", 1},
        {"5,000 html tags", roots + "kiwi", 1},
        {"a value of 100 KB among others", "<p title='" + std::string(100000, 'v') + "'" + attributes(10) + ">kiwi</p>", 1},
        {"self-closing", "<br" + attributes(40) + "/>kiwi", 1},
    };
    for (const auto& c : cases) {
        const auto [most, longest] = attributesParsed(c.text);
        EXPECT_LE(most, ZMHTMLNestingLimit::kMaximumAttributes) << c.name;
        EXPECT_LE(longest, ZMHTMLNestingLimit::kMaximumTagBytes) << c.name;
        EXPECT_EQ(occurrences(ZMHTMLDocument::textContent(ZMHTMLDocument::parse(c.text)->document()), "kiwi"), c.words) << c.name;
        const Rendering r = ZMMarkdownHTML::render("<style></style>" + c.text, false, false);
        EXPECT_EQ(occurrences(shown(r), "kiwi"), c.words) << c.name;
    }
}

// A link address longer than any tag may be is no link: it is neither
// decoded nor written, and its text stays.
TEST(ZMDepictionBudget, LinksWithAddressesPastTheCapKeepOnlyTheirText) {
    const std::string address = "https://example.org/?" + std::string(200000, '&');
    const Case cases[] = {
        {"raw HTML in Markdown", "See <a href=\"" + address + "\">kiwi</a> now", 1},
        {"a Markdown link", "See [kiwi](" + address + ") now", 1},
        {"HTML", "<style></style><p>See <a href=\"" + address + "\">kiwi</a> now</p>", 1},
    };
    for (const auto& c : cases) {
        const Rendering r = ZMMarkdownHTML::render(c.text, false, false);
        EXPECT_EQ(r.html.find("href"), std::string::npos) << c.name;
        EXPECT_EQ(occurrences(shown(r), "kiwi"), c.words) << c.name;
        expectBounded(r, c.text.size(), c.name);
    }
}

// A self-closing raw-text element in SVG or MathML holds nothing, but where
// the cut cannot be sure of that it looks for the element's end tag: each
// search must not cover the rest of the page again (the cut's own work is
// held to a multiple of the page, past which the page would be plain).
TEST(ZMDepictionBudget, RawTextEndsAreSoughtOnceInForeignContent) {
    const Case cases[] = {
        {"titles in SVG", "<svg>" + times("<title/>", 20000) + "</svg><p>kiwi</p>", 1},
        {"styles in SVG", "<svg>" + times("<style/><g>", 20000) + "</svg><p>kiwi</p>", 1},
        {"scripts in MathML", "<math>" + times("<script/>", 20000) + "</math><p>kiwi</p>", 1},
        {"textareas in a select", "<select>" + times("<textarea>", 20000) + "</select><p>kiwi</p>", 1},
    };
    for (const auto& c : cases) {
        auto doc = ZMHTMLDocument::parse(c.text);
        EXPECT_FALSE(doc->overBudget()) << c.name << ": " << doc->overBudget().value_or("");
        EXPECT_EQ(occurrences(ZMHTMLDocument::textContent(doc->document()), "kiwi"), c.words) << c.name;
        const Rendering r = ZMMarkdownHTML::render("<style></style>" + c.text, false, false);
        EXPECT_TRUE(r.reason.empty()) << c.name << ": " << r.reason;
    }
}

// Openers the Markdown library searches the rest of the paragraph for (or
// walks at each link) are written as text once a text holds a few hundred:
// a closer at the very end no longer swallows everything between.
TEST(ZMDepictionBudget, QuadraticMarkdownOpenersAreTextPastAFewHundred) {
    const Case cases[] = {
        {"processing instructions", times("a <? kiwi ", 300) + "?>", 300},
        {"declarations", times("a <!A kiwi ", 300) + ">", 300},
        {"CDATA", times("a <![CDATA[ kiwi ", 300) + "]]>", 300},
        {"images", times("![kiwi](u) ", 300), 300},
    };
    for (const auto& c : cases) {
        const Rendering r = ZMMarkdownHTML::render(c.text, false, false);
        EXPECT_FALSE(r.html.empty()) << c.name << ": " << r.reason;
        EXPECT_EQ(occurrences(shown(r), "kiwi"), c.words) << c.name;
    }
}

// Markdown that nests lists and quotes deep with raw HTML inside writes far
// more than it reads: the HTML stays within a multiple of the text, or the
// text is shown plain.
TEST(ZMDepictionBudget, NestedMarkdownStaysInProportion) {
    const Case cases[] = {
        {"list markers", times(times("- ", 60) + "<b>kiwi</b> <i>y\n", 1000), 1000},
        {"quote markers", times(times("> ", 60) + "<div>kiwi\n\n", 1000), 1000},
        {"ordered markers", times(times("1. ", 60) + "<em>kiwi\n", 1000), 1000},
        {"mixed markers", times(times("> - ", 30) + "<span>kiwi</span>\n", 1000), 1000},
    };
    for (const auto& c : cases) {
        const Rendering r = ZMMarkdownHTML::render(c.text, false, false);
        expectBounded(r, c.text.size(), c.name);
        EXPECT_EQ(occurrences(shown(r), "kiwi"), c.words) << c.name;
    }
}

// A text view lays out nested tables in time that doubles with each level.
TEST(ZMDepictionBudget, TablesNestThreeDeepAtMost) {
    const Rendering r = ZMMarkdownHTML::render("<style></style>" + times("<table><tr><td>", 8) + "kiwi", false, false);
    EXPECT_EQ(occurrences(r.html, "<table>"), 3u);
    EXPECT_EQ(occurrences(shown(r), "kiwi"), 1u);
}

// The text of what could not be read: whatever its markup, every word, with
// lines where blocks end.
TEST(ZMDepictionBudget, TheTextWithoutMarkupKeepsEveryWord) {
    struct Row {
        const char* text;
        bool html;
        const char* expected;
    };
    const Row rows[] = {
        {"<p>one</p><br /><br /><p>two</p>", true, "one\n\n\ntwo"},
        {"<span style=\"color:black\"><h1>Head</h1><p>a <b>bold</b> word</p></span>", true, "Head\na bold word"},
        {"<p>a&amp;b &lt;c&gt; &quot;d&quot; &#233; &#x263A; &nbsp;e &bogus; & f</p>", true,
         "a&b <c> \"d\" \xC3\xA9 \xE2\x98\xBA \xC2\xA0" "e &bogus; & f"},
        // Every named reference of HTML5 (with its ';'), one character or two.
        {"<p>caf&eacute; &copy;&mdash;&NotEqualTilde; &CounterClockwiseContourIntegral; &eacute &Eacute;</p>", true,
         "caf\xC3\xA9 \xC2\xA9\xE2\x80\x94\xE2\x89\x82\xCC\xB8 \xE2\x88\xB3 &eacute \xC3\x89"},
        {"<p>soft\nbreak</p><pre>kept\n  lines</pre>", true, "soft break\nkept\n  lines"},
        {"<table><tr><td>a</td><td>b</td></tr><tr><td>c</td></tr></table>", true, " a b\n c"},
        {"<a href=\"https://x.example/?a&amp;b\">link</a> 1 < 2 <unfinished", true, "link 1 < 2 <unfinished"},
        {"a<!-- hidden <p> -->b<script>var x = '<p>';</script><STYLE>p{}</style>c<!-- never closed", true, "abc"},
        {"# Title\n\n- one <b>item</b>\n- two", false, "# Title\n\n- one item\n- two"},
        // In Markdown, a script without its end tag ends at its paragraph; in HTML it takes the rest.
        {"<script>\nx\n\n*a *b", false, "*a *b"},
        {"a <script>x</script> b\n\n<style>\np{}\n\nc", false, "a  b\n\n\n\nc"},
        {"a<script>\nx\n\nb", true, "a"},
        // After a byte-order mark, broken UTF-8 reads as replacement characters.
        {"\xEF\xBB\xBF" "a\x80\x80" "b", false, "a\xEF\xBF\xBD\xEF\xBF\xBD" "b"},
        // Markdown keeps its markers and lines, also where markup spans lines or goes.
        {"> a <b\n> c=\"d\">e</b>\n> f", false, "> a e\n> f"},
        {"- a <i>b</i>\n  c\n\n      <b>code</b>\n- d &amp; e", false, "- a b\n  c\n\n      <b>code</b>\n- d & e"},
        {"> <div>\n> <b>x</b> &eacute;\n> </div>\n\ny", false, "> \n> x \xC3\xA9\n> \n\ny"},
        {"see <http://a.example/?b&amp;c> and <x@a.example> `<b>` \\<i>", false,
         "see http://a.example/?b&c and x@a.example `<b>` \\<i>"},
        {"a <br> b <td>c</td> <p>d</p>", false, "a \n b  c \nd"},
        {"a <style>p{}</style> b <style><video></style> c\n\nd", false, "a  b \n\nd"},
        {"a <!-- b\n\n<!-- c -->d <!--> e\n\nf <!--> g", false, "a <!-- b\n\nd  e\n\nf <!--> g"},
        {"<!-- never\nclosed <b>x</b>", false, "<!-- never\nclosed x"},
        {"~~~\n<b>&eacute;\n~~~\n<i>&eacute;</i>", false, "~~~\n<b>&eacute;\n~~~\n\xC3\xA9"},
        {"", true, ""},
    };
    for (const auto& row : rows) EXPECT_EQ(ZMHTMLDocument::textWithoutMarkup(row.text, row.html), row.expected) << row.text;
}

// The words a text shows: runs of letters and digits (any byte past ASCII
// counts as a letter), without the bullets the rendering writes before items.
std::vector<std::string> wordsOf(std::string text) {
    for (size_t at; (at = text.find("\u2022")) != std::string::npos;) text.erase(at, 3);
    std::vector<std::string> words(1);
    for (unsigned char c : text) {
        if (std::isalnum(c) || c >= 0x80) words.back() += static_cast<char>(c);
        else if (!words.back().empty()) words.emplace_back();
    }
    if (words.back().empty()) words.pop_back();
    return words;
}

// Past its budget a Markdown text reads as its rendering does, minus the
// formatting: what CommonMark takes for markup goes, the rest stays. So its
// words are the words of its own HTML.
TEST(ZMDepictionBudget, AMarkdownTextReadPlainShowsTheWordsItsRenderingShows) {
    const char* texts[] = {
        "if count<limit and x > 0 then stop",
        "a <b>bold</b> <span class=\"x\" title='y'>word</span> and </i> <a\nhref=\"u\">split</a> tag",
        "not tags: <1a> <a b=> <a b=\"c\"d> </a b> <!A> <?> a<b",
        "a <!-- hidden <p> --> b <!-- x -- y --> c <!--> d",
        "a <!-- never closed\nb c\n\nd e",
        "a <?php hidden ?> b <![CDATA[ hidden ]]> c <!DOCTYPE hidden> d <? a?" "?> e",
        "`<b>shown</b>` and `` a ` <!-- b `` then <i>c</i>",
        "```\n<style>\nshown <b>too</b>\n```\n\nafter <b>it</b>",
        "    <script>indented</script>\n\nafter <i>it</i>",
        "- item <b>one</b>\n\n      <style>code in an item</style>\n- two",
        "> quoted <i>text</i> and\n> <!-- a comment\n> over lines --> more",
        "caf&eacute; &copy; &NotEqualTilde; &bogus; &#233; &#x263A; &amp;eacute; `&eacute;`",
        "\\<b>escaped</b> and \\&eacute; and \\`<i>not code</i>`",
        "see <http://example.org/a?b&amp;c> or <mail@example.org>, not <http: x>",
        "a <script>x()</script> b <style>p{}</style> e",
        "a <video>b</video> c <noscript>enable js</noscript> d <form>in <b>form</b></form> e <img src=x> f",
        "a <iframe>b\n\nc d",
        "a <style>unclosed\nstill unclosed\n\nnext paragraph",
        "<div>\nan <b>HTML</b> block &eacute;\n</div>\n\nafter *it*",
        "<script>\nvar x;\n\nafter the blank line",
        "text\n\n<style>\na{}\n\nhidden</style>\n\nafter",
        "<div title=\"a > b\">quoted</div> after",
        "broken \xff bytes \xe2\x82 and \xd1\x81\xd0\xbb\xd0\xbe\xd0\xb2\xd0\xbe",
        "# a <b>heading</b> &eacute;\n\ntext\n===",
    };
    for (const char* text : texts) {
        const Rendering r = ZMMarkdownHTML::render(text, false, false);
        ASSERT_TRUE(r.reason.empty()) << text;
        EXPECT_EQ(wordsOf(ZMHTMLDocument::textWithoutMarkup(text, false)), wordsOf(ZMHTMLDocument::textWithoutMarkup(r.html)))
            << text;
    }
}

// What is code, what is HTML and what is a paragraph follows the blocks the
// rendering finds, through quotes, list items, tabs and HTML blocks cut short.
TEST(ZMDepictionBudget, AMarkdownTextReadPlainFindsTheBlocksItsRenderingFinds) {
    const char* texts[] = {
        "a\n-     <b>code</b> in an item after a paragraph",
        "a\n>     <b>code</b> in a quote",
        "> a\n<b>lazy</b> line\n\n> b\n    <i>lazy too</i>",
        "100. c <b>x</b>\n    - <i>not an item</i>",
        "1. w <!X <\n</b>\nafter",
        "-\n\n  <b>no longer in the item</b>\n\n-\n  <i>in it</i>",
        "1) ---\n\n    <b>x</b> &#65; in the item",
        "- <style> a\n\n     <b>x</b>\n\t```=\n    <style>\n``&eacute;</b>",
        "\n- <script>``\n\n\n  - \t> caf&eacute;\n  - y",
        "\n<style>\n=# \n\n<b\n</pre>\t --><script>--\n\"after",
        "<script>\n_ a\n\n<?</style>&bogus; <p>\n    <?&amp;</style>``",
        "<pre>\n<b>x</b>\n\ny *z*\n</pre>\nafter",
        "~~~\n<b>\n~~~~\n<i>x</i>",
        "```\n<b>a\n  ```\nafter <i>b</i>",
        "    <b>code\n\n    more\nafter <i>c</i>",
        "# <b>h</b> #\nSetext <i>x</i>\n---\n***\n<u>y</u>",
        "a\n<div>\n*b* <i>c</i>\n\na\n<foo>\nb",
        "\t- <b>a</b>\n\t\t<i>code</i>",
        "<!-- a --> b\n<b>c</b>\n\n<?x ?> d\n<i>e</i>",
    };
    for (const char* text : texts) {
        const Rendering r = ZMMarkdownHTML::render(text, false, false);
        ASSERT_TRUE(r.reason.empty()) << text;
        EXPECT_EQ(wordsOf(ZMHTMLDocument::textWithoutMarkup(text, false)), wordsOf(ZMHTMLDocument::textWithoutMarkup(r.html)))
            << text;
    }
}

// The shapes that lost words once a text passed its budget keep them all.
TEST(ZMDepictionBudget, AMarkdownTextPastItsBudgetKeepsEveryWord) {
    const std::string quotes(60, '"');  // six bytes of HTML each: the text passes its budget
    constexpr size_t kLines = 2000;
    auto lines = [&](const std::string& head, const std::string& line, const std::string& tail) {
        return head + times(line + " " + quotes + "\n", kLines) + tail;
    };
    const std::string cyrillic = "\xd1\x81\xd0\xbb\xd0\xbe\xd0\xb2\xd0\xbe";
    struct Shape {
        const char* name;
        std::string text;
        std::vector<std::pair<std::string, size_t>> shown;  // what is shown, how many times
    };
    const Shape shapes[] = {
        {"a '<' that opens no tag, a '>' far below", lines("", "count<limit kiwi", ">"), {{"count<limit kiwi", kLines}}},
        {"an inline comment that nothing closes", lines("a <!-- b\n", "kiwi", ""), {{"<!-- b", 1}, {"kiwi", kLines}}},
        {"one byte that is not UTF-8", lines("\xff\n", cyrillic + " kiwi", ""), {{cyrillic + " kiwi", kLines}, {"\xEF\xBF\xBD", 1}}},
        {"a code block that shows <style>", lines("```\n<style>\n```\n\n", "kiwi", ""), {{"<style>", 1}, {"kiwi", kLines}}},
        {"an indented one", lines("    <script>\n\n", "kiwi", ""), {{"<script>", 1}, {"kiwi", kLines}}},
        {"named entities", lines("", "caf&eacute; kiwi", ""), {{"caf\xC3\xA9 kiwi", kLines}, {"&eacute;", 0}}},
    };
    for (const Shape& s : shapes) {
        SCOPED_TRACE(s.name);
        const Rendering r = ZMMarkdownHTML::render(s.text, false, false);
        EXPECT_FALSE(r.reason.empty());
        for (const auto& [shown, count] : s.shown) EXPECT_EQ(occurrences(r.plain, shown), count) << shown;
    }
    // Tags in an HTML block whose quotes never close are text: every word
    // stays. (That their search stays linear is DepictionParsingBench's.)
    const std::string tags = "<div>\n" + times("<a b=\"kiwi\n", 20'000);
    EXPECT_EQ(occurrences(ZMHTMLDocument::textWithoutMarkup(tags, false), "kiwi"), 20'000u);
}

// A byte that is not UTF-8 is one U+FFFD wherever the text goes, rich or
// plain, Markdown or HTML: never the whole text read in another encoding.
TEST(ZMDepictionBudget, ABrokenByteIsOneReplacementCharacter) {
    const std::string cyrillic = "\xd1\x81\xd0\xbb\xd0\xbe\xd0\xb2\xd0\xbe";
    const std::string words = cyrillic + " \xff\xe2\x82 " + cyrillic + " ";
    const std::string pastBudget(100'000, '"');  // six bytes of HTML each
    for (const auto& [text, plain] : {std::pair{words, false}, std::pair{words + pastBudget, true},
                                      std::pair{"<style></style><p>" + words + "</p>", false},
                                      std::pair{"<style></style><p>" + words + pastBudget + "</p>", true}}) {
        SCOPED_TRACE(text.substr(0, 40));
        const Rendering r = ZMMarkdownHTML::render(text, false, false);
        EXPECT_EQ(r.html.empty(), plain);
        EXPECT_EQ(occurrences(shown(r), cyrillic), 2u);
        EXPECT_EQ(occurrences(shown(r), "\xEF\xBF\xBD"), 3u);
    }
    // A page that says it is UTF-8 reads the same bytes the same way.
    EXPECT_EQ(occurrences(ZMHTMLDocument::toUTF8("\xEF\xBB\xBF" + words), "\xEF\xBF\xBD"), 3u);
}

// A page past the parser's budget: its descriptions are its text, the
// changelog pages give their text, the rest gives nothing.
TEST(ZMDepictionBudget, APageOverTheBudgetIsReadAsPlainText) {
    std::string unclosed;
    for (int k = 0; k < 64; ++k) unclosed += "<b id=" + std::to_string(k) + ">";
    const std::string page = "<html><head><title>Name - Marlgate - x</title></head><body><p>" + unclosed + "</p>" +
                             "<fieldset id='description'>" + times("<p>kiwi</p>", 6000) +
                             "<img src='https://a.example/s.png'></fieldset><panel><img src='https://a.example/p.png'></panel></body></html>";
    auto parser = ZMDepictionsParser::depictionsParserWithData(page, "https://a.example/p");
    ASSERT_TRUE(parser->overBudget());
    for (const auto& description : {parser->marlgateDescription(), parser->orvaneDescription(), parser->kestrumDescription()})
        EXPECT_EQ(occurrences(description.value_or(""), "kiwi"), 6000u);
    EXPECT_FALSE(parser->marlgateName("Marlgate"));
    EXPECT_TRUE(parser->marlgateScreenshots("https://a.example/p").empty());
    EXPECT_TRUE(ZMDepictionsParser::kestrumScreenshotsFromPage(page, "https://a.example/p").empty());
    for (const auto& changelog : {ZMDepictionsParser::orvaneChangelogFromPage(page), ZMDepictionsParser::kestrumChangelogFromPage(page),
                                  ZMNativeDepiction::changelogFromPage(page)}) {
        EXPECT_EQ(occurrences(changelog.value_or(""), "kiwi"), 6000u);
        EXPECT_EQ(changelog.value_or("").find('<'), std::string::npos);
    }
    const Rendering r = ZMMarkdownHTML::render("<style></style>" + page, false, false);
    EXPECT_FALSE(r.reason.empty());
    EXPECT_EQ(occurrences(r.plain, "kiwi"), 6000u);
}

// A spent budget says why, whichever limit it passed.
TEST(ZMDepictionBudget, ASpentBudgetStopsAndSaysWhy) {
    ZMDepictionBudget memory(1000, std::chrono::hours(1));
    EXPECT_TRUE(memory.charge(1000));
    EXPECT_FALSE(memory.charge(1));
    EXPECT_THROW(memory.check(), ZMDepictionBudget::Exceeded);
    memory.release(500);
    EXPECT_FALSE(memory.charge(0)) << "spent stays spent";
    ZMDepictionBudget work(1 << 30, std::chrono::hours(1), 100);
    EXPECT_NO_THROW(work.work(100));
    EXPECT_THROW(work.work(1), ZMDepictionBudget::Exceeded);
    ZMDepictionBudget time(1 << 30, std::chrono::milliseconds(0));
    EXPECT_THROW(for (int i = 0; i < 100; ++i) time.check(), ZMDepictionBudget::Exceeded);
    ZMDepictionBudget gone(1 << 30, std::chrono::hours(1));
    gone.stopWhen([] { return true; });
    EXPECT_THROW(gone.checkNow(), ZMDepictionBudget::Exceeded);
    for (const auto* b : {&memory, &work, &time, &gone}) {
        EXPECT_FALSE(b->reason().empty());
        EXPECT_EQ(b->stopped(), b == &gone);
    }
}

// The featured page's flavour of Markdown spends the same budget: rich while
// it fits, past it the text without markup (every word), nothing once its
// page went.
TEST(ZMDepictionBudget, TheFeaturedFlavourSpendsTheSameBudget) {
    std::string hostile;
    while (hostile.size() < 1'000'000) hostile += "kiwi<<<<<<<< ";
    struct Case {
        const char* name;
        std::string text;
        bool gone;
        bool rich;
        size_t words;
    };
    const Case cases[] = {{"fits", "a [kiwi](https://k.example/) | b\n--|--\nkiwi | ~~kiwi~~", false, true, 3},
                          {"past the budget", hostile, false, false, occurrences(hostile, "kiwi")},
                          {"its page went", hostile, true, false, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ZMDepictionBudget budget(c.text.size());
        budget.stopWhen([gone = c.gone] { return gone; });
        const Rendering r = ZMMarkdown::render(c.text, budget);
        EXPECT_EQ(!r.html.empty(), c.rich);
        EXPECT_EQ(budget.stopped(), c.gone);
        EXPECT_EQ(occurrences(c.rich ? r.html : r.plain, "kiwi"), c.words);
    }
}

// A reading whose page went stops at its next check and gives nothing,
// not even its text as plain text: nobody would see it.
TEST(ZMDepictionBudget, AReadingWhosePageWentGivesNothing) {
    const std::string text = times("<b>kiwi <i>", 200'000);
    int asked = 0;
    ZMDepictionBudget budget(text.size());
    budget.stopWhen([&] { return ++asked > 0; });
    const Rendering r = ZMMarkdownHTML::render(text, false, false, budget);
    EXPECT_TRUE(r.html.empty() && r.plain.empty());
    EXPECT_TRUE(budget.stopped());
    EXPECT_EQ(asked, 1);
    const std::string page = "<panel><p>" + times("<b id=1>", 64) + "</p>" + times("<p>kiwi</p>", 400'000);
    const auto gone = [] { return true; };
    auto parser = ZMDepictionsParser::depictionsParserWithData(page, "https://a.example/p", gone);
    EXPECT_EQ(parser->orvaneDescription(), std::nullopt);
    EXPECT_EQ(ZMDepictionsParser::orvaneChangelogFromPage(page, gone), std::nullopt);
}

// Plain text for a text view: lines and their lengths bounded, every word
// kept in order.
TEST(ZMMarkdownHTML, DisplayTextKeepsEveryWordInFewLines) {
    auto letters = [](std::string text) {
        std::erase_if(text, [](char c) { return c == ' ' || c == '\n' || c == '\r'; });
        return text;
    };
    auto lines = [](const std::string& text) { return std::count(text.begin(), text.end(), '\n') + 1; };
    const std::string cases[] = {
        "short\r\ntext\rhere\n\n\nend",
        times("w\n", 30000),
        times("w\n\n\n", 12000),
        times("word ", 20000),
        times("\xC3\xA9", 40000),  // no space: broken between characters
        times(times("w ", 10) + "\n", 9000) + times("\n", 3000),
        std::string(1 << 20, '\x80'),  // no character boundary where a line would end
    };
    for (const auto& text : cases) {
        const std::string out = ZMMarkdownHTML::displayText(text);
        EXPECT_EQ(letters(out), letters(text)) << text.substr(0, 20);
        EXPECT_LE(static_cast<size_t>(lines(out)), ZMMarkdownHTML::kMaximumLines + text.size() / ZMMarkdownHTML::kMaximumLineLength + 1);
        size_t longest = 0, start = 0;
        for (size_t at = out.find('\n'); ; at = out.find('\n', start)) {
            longest = std::max(longest, (at == std::string::npos ? out.size() : at) - start);
            if (at == std::string::npos) break;
            start = at + 1;
        }
        EXPECT_LE(longest, ZMMarkdownHTML::kMaximumLineLength);
    }
    EXPECT_EQ(ZMMarkdownHTML::displayText("a\r\nb\n\n\nc"), "a\nb\n\n\nc");
    EXPECT_EQ(ZMMarkdownHTML::displayText(times("\xC3\xA9", 40000)).find("\xC3\n"), std::string::npos);
}

}  // namespace
