#pragma once
// The HTML that the details page shows for a description or a changelog.
//
// The text is Markdown (CommonMark, no extensions), or HTML when it begins
// with "<style>". Lines beginning with "<p><img" are dropped first. Raw HTML
// passes an allow-list: style, script, link, iframe, img, form and the like
// go with their content, every attribute but a link's address goes, links
// keep only http, https and mailto addresses no longer than a tag of a page
// may be (ZMHTMLNestingLimit::kMaximumTagBytes); so the result loads nothing.
// Tables nest at most three deep. Lists are written from the parse tree: each item a paragraph starting with
// "• " (numbered in an ordered list), nested lists indented. Paragraphs end
// with one line break in a changelog and two in a description, headings with
// one. The whole sits in a span of the page's font and text colour ("white"
// in dark mode, else "black"). The output is balanced whatever the raw HTML
// does (an end tag with nothing open is dropped, what a block leaves open is
// closed where it ends) and nests at most a few hundred deep. A byte that is
// not UTF-8 is one U+FFFD, as Qt shows it, whether the text is Markdown or HTML.
#include <string>
#include <string_view>

class ZMDepictionBudget;

class ZMMarkdownHTML {
public:
    // What the page shows for a text: its HTML, or, when rendering it would
    // pass the budget of one depiction, the text without its markup, to be
    // shown as plain text (through displayText()). The budget: the parsers'
    // memory and the time (ZMDepictionBudget), and at most
    // kMaximumOutputFactor times the text's bytes of HTML (and
    // kOutputAllowance). Some shapes are kept from the parsers before they
    // read them: a few hundred openers the Markdown library searches the
    // rest of a paragraph for are written as text. (What a text view lays out
    // quickly is the page's to check: DetailsTextDocument.)
    struct Rendering {
        std::string html;    // empty when nothing remains to show, or when `plain` is shown instead
        std::string plain;   // shown as plain text when `html` is empty
        std::string reason;  // why the budget stopped the HTML (logged); empty when it did not
    };
    static Rendering render(std::string_view text, bool forChangelog, bool darkMode);
    // A text that begins with a style element is read as HTML, not Markdown.
    static bool isHTML(std::string_view text);
    // The same within `budget`, which the caller may go on spending after
    // it (the road of a page's text: DetailsTextDocument). A rendering the
    // budget stopped (ZMDepictionBudget::stopped) gives neither HTML nor text.
    static Rendering render(std::string_view text, bool forChangelog, bool darkMode, ZMDepictionBudget& budget);
    // render()'s HTML; past the budget, its plain text as HTML. The caller logs the reason.
    static std::string htmlForText(std::string_view text, bool forChangelog, bool darkMode);

    // An HTML block of a script or style that ends at a blank line has the
    // text after it read as Markdown again, at most this deep.
    static constexpr int kMaximumReopenedBlocks = 16;
    static constexpr size_t kMaximumOutputFactor = 4;
    static constexpr size_t kOutputAllowance = 64 * 1024;
    static constexpr size_t kMaximumLines = 10'000;
    static constexpr size_t kMaximumLineLength = 32 * 1024;
    // A text to be shown as plain text, shaped so a text view lays it out in
    // small steps: line breaks normalised to "\n" (also vertical tab, form
    // feed, next line and the line and paragraph separators, where a view
    // breaks lines too), lines of `maximumLineLength` bytes or more broken
    // (at a space where there is one), and
    // past kMaximumLines lines, runs of blank lines made one, then no blank
    // line kept and lines joined by spaces. Every word stays, in order.
    static std::string displayText(std::string_view text, size_t maximumLineLength = kMaximumLineLength);

    // Raw HTML's elements that go with what they hold (script, style,
    // iframe...); of those, the void ones (img, input...) hold nothing.
    static bool isDroppedWithContent(std::string_view name);
    static bool isVoidElement(std::string_view name);

    // Whether a link may keep its address.
    static bool isAllowedLink(std::string_view url);
};
