// The depiction readers against the libraries they stand on:
//   - each classic page family's readers over a 200 KB page, against a bare
//     gumbo_parse of the same page;
//   - the HTML of 50 KB of Markdown, against a bare cmark_markdown_to_html;
//   - the native depiction walk of a 1 MB document, against a bare
//     nlohmann::json::parse;
//   - 4 MB texts of hostile shapes (nested hundreds of thousands deep,
//     formatting reopened in every paragraph, attributes by the hundred
//     thousand, an address of entities, the Markdown library's quadratic
//     openers, Markdown that writes far more than it reads, an information
//     page of reopened formatting), against a plain
//     4 MB text: each is cut or stopped within the budget of one depiction.
//     Benchmarks/hostile-depictions.sh runs each in a process of its own for
//     its peak memory;
//   - 4 MB Markdown texts read as plain text, as a text past its budget is
//     shown, in shapes that would have the reading search far or lose words.
// Inputs are generated, deterministic and shaped like real pages.
#include <benchmark/benchmark.h>
#include <cmark-gfm.h>
#include <gumbo.h>

#include <cstdlib>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "Depictions/ZMDepictionsParser.h"
#include "Depictions/ZMHTMLDocument.h"
#include "Depictions/ZMMarkdownHTML.h"
#include "Depictions/ZMNativeDepiction.h"

namespace {

const std::string kPage = "https://repo.example/depictions/package.php?id=7";

// Every family's elements, repeated to 200 KB: a title, the Marlgate
// fieldsets, an Orvane panel, Kestrum paragraphs in nested divs, links.
const std::string& page200KB() {
    static const std::string page = [] {
        std::string p = "<!DOCTYPE html><html><head><meta charset='utf-8'><title>Bench Tweak - Marlgate - Depiction</title>"
                        "<style>body{font-family:sans-serif}</style></head><body>"
                        "<a href='changelog.php'>Changes</a><a href='screenshots.php'>Shots</a>"
                        "<fieldset id='description'>Description: A tweak that does many things.";
        for (int i = 0; i < 8; ++i) p += "<img src='shot" + std::to_string(i) + ".png'>";
        p += "</fieldset><fieldset><label>What's New</label><div>Fixed crashes\n\nAdded options  </div></fieldset>"
             "<panel><img class='icon' src='icon.png'><label>Description</label><p>intro</p><fieldset><div>";
        for (int i = 0; i < 20; ++i) p += "<p>Feature " + std::to_string(i) + " makes the device faster.</p>";
        p += "</div></fieldset><img src='a.png'><img src='b.png'></panel>";
        int n = 0;
        while (p.size() < 200 * 1024) {
            p += "<div class='section'><h3>Section " + std::to_string(n) + "</h3><div class='inner'><p>Paragraph " +
                 std::to_string(n) +
                 " explains a setting with <b>bold</b> words, <a href='https://example.org/x'>a link</a> and more text "
                 "to fill the line the way depiction pages do.</p><ul><li>one</li><li>two</li></ul></div></div>";
            ++n;
        }
        return p + "</body></html>";
    }();
    return page;
}

const std::string& markdown50KB() {
    static const std::string text = [] {
        std::string md;
        for (int i = 0; md.size() < 50 * 1024; ++i) {
            md += "## Version 1." + std::to_string(i) + "\n\nThis release makes *things* faster and adds a [link](https://example.org/" +
                  std::to_string(i) + ") with `code`, **bold** text and more words to fill the paragraph.\n\n"
                  "- fixed a crash\n- added an option\n  - with a nested note\n\n1. first\n2. second\n\n";
            if (i % 10 == 0) md += "<p>Raw <b>HTML</b> from the depiction</p>\n\n";
        }
        return md;
    }();
    return text;
}

const std::string& depiction1MB() {
    static const std::string doc = [] {
        nlohmann::json views = nlohmann::json::array();
        nlohmann::json changelog = nlohmann::json::array();
        nlohmann::json shots = nlohmann::json::array();
        for (int i = 0; i < 8; ++i) shots.push_back({{"url", "https://repo.example/shots/" + std::to_string(i) + ".png"}, {"accessibilityText", "Screenshot"}});
        views.push_back({{"class", "DepictionScreenshotsView"}, {"itemCornerRadius", 8}, {"screenshots", shots}});
        size_t size = 0;  // roughly what dump(2) writes for each view
        for (int i = 0; size < 700 * 1024; ++i) {
            const std::string text = "Paragraph " + std::to_string(i) + " of the description with **bold** text, a [link](https://example.org/) and more words.";
            views.push_back({{"class", "DepictionMarkdownView"}, {"useSpacing", true}, {"markdown", text}});
            size += text.size() + 110;
        }
        size = 0;
        for (int v = 0; size < 300 * 1024; ++v) {
            changelog.push_back({{"class", "DepictionSubheaderView"}, {"title", "1." + std::to_string(v / 10) + "." + std::to_string(v % 10)}});
            changelog.push_back({{"class", "DepictionMarkdownView"}, {"markdown", "- fixed issue " + std::to_string(v) + "\n- improved things"}});
            size += 200;
        }
        nlohmann::json d = {{"minVersion", "0.1"},
                            {"headerImage", "https://repo.example/banner.png"},
                            {"class", "DepictionTabView"},
                            {"tabs", {{{"tabname", "Details"}, {"class", "DepictionStackView"}, {"views", views}},
                                      {{"tabname", "Changelog"}, {"class", "DepictionStackView"}, {"views", changelog}}}}};
        return d.dump(2);
    }();
    return doc;  // about 1 MB
}

void BM_GumboParse200KB(benchmark::State& state) {
    const std::string& p = page200KB();
    for (auto _ : state) {
        GumboOutput* out = gumbo_parse_with_options(&kGumboDefaultOptions, p.data(), p.size());
        benchmark::DoNotOptimize(out);
        gumbo_destroy_output(&kGumboDefaultOptions, out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * p.size()));
}
BENCHMARK(BM_GumboParse200KB);

// One scrape of a family: the page parsed once, then every reader of the family.
void BM_Scrape200KB(benchmark::State& state) {
    const std::string& p = page200KB();
    const int family = static_cast<int>(state.range(0));
    {
        // The page holds every family's parts: a reader that finds nothing measures nothing.
        auto parser = ZMDepictionsParser::depictionsParserWithData(p, kPage);
        const bool found = family == 0   ? parser->marlgateDescription() && !parser->marlgateScreenshots(kPage).empty()
                           : family == 1 ? parser->orvaneDescription() && !parser->orvaneScreenshots(kPage).empty()
                                         : parser->kestrumDescription() && parser->linksTo("changelog.php");
        if (!found) {
            state.SkipWithError("the readers found nothing on the page");
            return;
        }
    }
    for (auto _ : state) {
        auto parser = ZMDepictionsParser::depictionsParserWithData(p, kPage);
        if (family == 0) {
            benchmark::DoNotOptimize(parser->marlgateName("Marlgate"));
            benchmark::DoNotOptimize(parser->marlgateDescription());
            benchmark::DoNotOptimize(parser->marlgateChangelog());
            benchmark::DoNotOptimize(parser->marlgateScreenshots(kPage));
        } else if (family == 1) {
            benchmark::DoNotOptimize(parser->orvaneName());
            benchmark::DoNotOptimize(parser->orvaneDescription());
            benchmark::DoNotOptimize(parser->orvaneScreenshots(kPage));
        } else {
            benchmark::DoNotOptimize(parser->kestrumDescription());
            benchmark::DoNotOptimize(parser->linksTo("changelog.php"));
            benchmark::DoNotOptimize(parser->linksTo("screenshots.php"));
        }
    }
    state.SetLabel(family == 0 ? "Marlgate" : family == 1 ? "Orvane" : "Kestrum");
}
BENCHMARK(BM_Scrape200KB)->Arg(0)->Arg(1)->Arg(2);

void BM_CmarkToHTML50KB(benchmark::State& state) {
    const std::string& md = markdown50KB();
    for (auto _ : state) {
        char* html = cmark_markdown_to_html(md.data(), md.size(), CMARK_OPT_DEFAULT);
        benchmark::DoNotOptimize(html);
        free(html);
    }
}
BENCHMARK(BM_CmarkToHTML50KB);

void BM_MarkdownHTML50KB(benchmark::State& state) {
    const std::string& md = markdown50KB();
    if (ZMMarkdownHTML::htmlForText(md, false, false).size() < md.size() / 2) {
        state.SkipWithError("the Markdown gave (almost) no HTML");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(ZMMarkdownHTML::htmlForText(md, false, false));
}
BENCHMARK(BM_MarkdownHTML50KB);

// 4 MB of one shape, repeated.
std::string repeated(std::string_view head, std::string_view unit, std::string_view tail) {
    std::string text(head);
    while (text.size() + unit.size() + tail.size() <= 4 * 1024 * 1024) text += unit;
    return text + std::string(tail);
}

struct HostileText {
    const char* label;
    std::function<std::string()> text;  // made when its case runs: one process may run one case alone
    bool page;  // read by a page reader, not rendered
    // Read as an information page is (depictionsParserWithData and every
    // family's description reader), not as a second page.
    bool pageReaders = false;
};

std::string attributeList(size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += " a" + std::to_string(i) + "=1";
    return out;
}

// 4 MB of `unit(i)` for i = 0, 1, 2...: attributes of names all different,
// which the parser compares one with another.
std::string numbered(std::string_view head, const std::function<std::string(size_t)>& unit, std::string_view tail) {
    std::string text(head);
    for (size_t i = 0;; ++i) {
        std::string next = unit(i);
        if (text.size() + next.size() + tail.size() > 4 * 1024 * 1024) break;
        text += next;
    }
    return text + std::string(tail);
}

// The head of a page both the Orvane and the Kestrum description readers read.
const std::string kDescribedPage = "<panel><label>Description</label><fieldset><div><p>";

std::string unclosedFormatting() {
    std::string out;
    for (int k = 0; k < 64; ++k) out += "<b id=" + std::to_string(k) + ">";
    return out;
}

const std::vector<HostileText>& hostileTexts() {
    static const std::vector<HostileText> texts = {
        {"plain Markdown", [] { return repeated("", "Plain words of a description, *some* in a [link](https://example.org/).\n\n", ""); }, false},
        {"<style> + <span> nested", [] { return repeated("<style></style>", "<span>", "x"); }, false},
        {"<blockquote><ul><li> nested", [] { return repeated("", "<blockquote><ul><li>", "\nx\n"); }, false},
        {"<div> nested", [] { return repeated("", "<div>", "x"); }, false},
        {"inline <b> <i> unclosed", [] { return repeated("Some ", "<b>a <i>", " text."); }, false},
        {"Markdown quotes nested", [] { return repeated("", ">", " x"); }, false},
        {"closing tags after nesting", [] { return repeated("<style></style>" + std::string(300 * 6, ' '), "<span></b>", "x"); }, false},
        {"page: <span> nested", [] { return repeated("<html><body><panel>", "<span>", "x"); }, true},
        {"page: held by the coarser count", [] { return repeated("<html><body><panel>", "<h1><svg></h1><g/><div/>", "x"); }, true},
        // Formatting reopened in every paragraph, with its attributes.
        {"10,000 attributes reopened", [] { return repeated("<style></style><p><b" + attributeList(10000) + "></p>", "<p>x</p>", ""); }, false},
        {"64 unclosed <b id> reopened", [] { return repeated("<style></style><p>" + unclosedFormatting() + "</p>", "<p>x</p>", ""); }, false},
        {"page: 64 unclosed <b id> reopened", [] { return repeated("<panel><p>" + unclosedFormatting() + "</p>", "<p>x</p>", ""); }, true},
        // Attributes the parser compares with each other.
        {"attributes on one element",
         [] { return numbered("<style></style><div", [](size_t i) { return " a" + std::to_string(i) + "=1"; }, ">x</div>"); }, false},
        {"page: <body> tags with attributes",
         [] { return numbered("<panel><label>x</label>", [](size_t i) { return "<body b" + std::to_string(i) + "=1>"; }, ""); }, true},
        {"page: <html> tags with attributes",
         [] { return numbered("<panel><label>x</label>", [](size_t i) { return "<html h" + std::to_string(i) + "=1>"; }, ""); }, true},
        // An address of entities.
        {"link address of '&'", [] { return repeated("See <a href=\"https://example.org/?", "&", "\">x</a>"); }, false},
        // Self-closing raw text in SVG.
        {"<title/> in SVG", [] { return repeated("<style></style><svg>", "<title/>", "</svg>x"); }, false},
        {"page: <title/> in SVG", [] { return repeated("<panel><label>x</label><svg>", "<title/>", ""); }, true},
        // The Markdown library's quadratic openers.
        {"Markdown 'a <![CDATA['", [] { return repeated("", "a <![CDATA[", ""); }, false},
        {"Markdown 'a <!A '", [] { return repeated("", "a <!A ", ""); }, false},
        {"Markdown 'a <?'", [] { return repeated("", "a <?", ""); }, false},
        {"Markdown '![[]()'", [] { return repeated("", "![[]()", ""); }, false},
        // Markdown that writes far more than it reads.
        {"nested list markers with raw HTML", [] { return repeated("", "- - - - - - - - - - - - - - - - <b>x</b> <i>y\n", ""); }, false},
        {"nested quote markers with raw HTML", [] { return repeated("", "> > > > > > > > > > > > > > > > <div>x\n\n", ""); }, false},
        // An information page of formatting reopened in every paragraph, as its description readers read it.
        {"page readers: 64 unclosed <b id> reopened",
         [] { return repeated(kDescribedPage + unclosedFormatting() + "</p>", "<p>x</p>", ""); }, true, true},
        {"page readers: 10,000 attributes reopened",
         [] { return repeated(kDescribedPage + "<b" + attributeList(10000) + "></p>", "<p>x</p>", ""); }, true, true},
    };
    return texts;
}

// Each text as a description is rendered, or as a page read by the changelog
// reader or by the description readers of an information page. The label
// says when the budget had the text shown plain.
void BM_Hostile4MB(benchmark::State& state) {
    const HostileText& t = hostileTexts()[static_cast<size_t>(state.range(0))];
    const std::string text = t.text();
    bool plain = false;
    auto once = [&] {
        if (t.pageReaders) {
            auto parser = ZMDepictionsParser::depictionsParserWithData(text, kPage);
            plain = parser->overBudget();
            return parser->marlgateDescription().value_or("").size() + parser->orvaneDescription().value_or("").size() +
                   parser->kestrumDescription().value_or("").size();
        }
        if (t.page) return ZMDepictionsParser::orvaneChangelogFromPage(text).value_or("").size();
        auto r = ZMMarkdownHTML::render(text, false, false);
        plain = !r.plain.empty();
        return r.html.size() + r.plain.size();
    };
    if (once() == 0) {
        state.SkipWithError("the text gave nothing");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(once());
    state.SetLabel(std::string(t.label) + (plain ? " (shown plain)" : ""));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Hostile4MB)->DenseRange(0, 25)->Unit(benchmark::kMillisecond);

std::string times(std::string_view unit, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += unit;
    return out;
}

size_t occurrences(std::string_view text, std::string_view word) {
    size_t n = 0;
    for (size_t at = text.find(word); at != std::string_view::npos; at = text.find(word, at + word.size())) ++n;
    return n;
}

// 4 MB Markdown texts read as plain text (a text past its budget), each
// shaped so a reading that searches far at every opener, or takes text for
// markup, would show it. Each holds `word` (as written) a number of times
// as text, and must show it as often (`shown`, when it is written otherwise).
struct PlainTextShape {
    const char* label;
    std::function<std::string()> text;
    std::string word = "kiwi", shown = word;
};

const std::vector<PlainTextShape>& plainTextShapes() {
    static const std::vector<PlainTextShape> shapes = {
        {"plain Markdown", [] { return repeated("", "Plain words of a description, *some* in a [link](https://example.org/) kiwi.\n\n", ""); }},
        {"'count<limit', a '>' at the end", [] { return repeated("", "while count<limit kiwi\n\n", ">"); }},
        {"an inline comment nothing closes", [] { return repeated("a <!-- b\n\n", "kiwi ", ""); }},
        {"a byte not UTF-8, Cyrillic words", [] { return repeated("\xff", "\xd1\x81\xd0\xbb\xd0\xbe\xd0\xb2\xd0\xbe ", ""); },
         "\xd1\x81\xd0\xbb\xd0\xbe\xd0\xb2\xd0\xbe"},
        {"a code block showing <style>", [] { return repeated("```\n<style>\n```\n", "kiwi ", ""); }},
        {"named entities", [] { return repeated("", "caf&eacute; ", ""); }, "caf&eacute;", "caf\xc3\xa9"},
        {"comments never closed", [] { return repeated("", "<!-- kiwi ", ""); }},
        {"instructions never ended", [] { return repeated("", "a <? kiwi ", ""); }},
        {"backtick runs", [] { return repeated("", "` `` ``` kiwi ", ""); }},
        {"HTML block tags whose quotes never close", [] { return repeated("<div>\n", "<a b=\"kiwi\n", ""); }},
        {"scripts ended by blank lines", [] { return repeated("", "<script>\nx\n\nkiwi\n\n", ""); }},
        // Each item's lines are read again apart: each reading looks for its end tags within them only.
        {"styles in list items ended by blank lines", [] { return repeated("", "- kiwi\n  <style>\n  a\n\n  <style>\n  b\n\n", ""); }},
        {"styles in quotes ended by blank lines", [] { return repeated("", "> kiwi\n> <style>\n> a\n>\n> <style>\n> b\n\n", ""); }},
        {"list markers on one line", [] { return repeated("", "- ", "kiwi"); }},
        {"list items each deeper than the last",
         [] {
             std::string text;
             for (size_t depth = 0; text.size() < 4 * 1024 * 1024; ++depth) text += std::string(2 * depth, ' ') + "- kiwi\n";
             return text;
         }},
        {"blank lines in 64 nested items", [] { return repeated(times("- ", 64) + "kiwi\n", "\n", ""); }},
    };
    return shapes;
}

void BM_PlainText4MB(benchmark::State& state) {
    const PlainTextShape& shape = plainTextShapes()[static_cast<size_t>(state.range(0))];
    const std::string text = shape.text();
    const size_t words = occurrences(text, shape.word);
    const size_t shown = occurrences(ZMHTMLDocument::textWithoutMarkup(text, false), shape.shown);
    if (words == 0 || shown != words) {
        state.SkipWithError(("the text lost words: " + std::to_string(shown) + " of " + std::to_string(words) + " shown").c_str());
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(ZMHTMLDocument::textWithoutMarkup(text, false));
    state.SetLabel(shape.label);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_PlainText4MB)->DenseRange(0, static_cast<int>(plainTextShapes().size()) - 1)->Unit(benchmark::kMillisecond);

void BM_JsonParse1MB(benchmark::State& state) {
    const std::string& doc = depiction1MB();
    for (auto _ : state) benchmark::DoNotOptimize(nlohmann::json::parse(doc));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}
BENCHMARK(BM_JsonParse1MB);

void BM_NativeWalk1MB(benchmark::State& state) {
    const std::string& doc = depiction1MB();
    if (!ZMNativeDepiction::parse(doc).description) {
        state.SkipWithError("the walk found no description");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(ZMNativeDepiction::parse(doc));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}
BENCHMARK(BM_NativeWalk1MB);

}  // namespace

BENCHMARK_MAIN();
