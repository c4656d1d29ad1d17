#pragma once
// The HTML that the details page shows for a description or a changelog.
//
// The text is Markdown (CommonMark, no extensions), or HTML when it begins
// with "<style>". Lines beginning with "<p><img" are dropped first. Raw HTML
// passes an allow-list: style, script, link, iframe, img, form and the like
// go with their content, every attribute but a link's address goes, links
// keep only http, https and mailto addresses no longer than a tag of a page
// may be (ZMHTMLNestingLimit::kMaximumTagBytes); so the result loads nothing.
// Lists are written from the parse tree: each item a paragraph starting with
// "• " (numbered in an ordered list), nested lists indented. Paragraphs end
// with one line break in a changelog and two in a description, headings with
// one. The whole sits in a span of the page's font and text colour ("white"
// in dark mode, else "black"). The output is balanced whatever the raw HTML
// does (an end tag with nothing open is dropped, what a block leaves open is
// closed where it ends) and nests at most a few hundred deep.
#include <string>
#include <string_view>

class ZMMarkdownHTML {
public:
    // What the page shows for a text: its HTML, or, when rendering it would
    // take more than the budget of one depiction (ZMDepictionBudget), the
    // text itself without its markup, shown as plain text (displayText()).
    struct Rendering {
        std::string html;    // empty when nothing remains to show, or when `plain` is shown instead
        std::string plain;   // shown as plain text when `html` is empty
        std::string reason;  // why the budget stopped the HTML (logged); empty when it did not
    };
    static Rendering render(std::string_view text, bool forChangelog, bool darkMode);
    // render()'s HTML; past the budget, its plain text as HTML.
    static std::string htmlForText(std::string_view text, bool forChangelog, bool darkMode);
    // A text to be shown as plain text, shaped so a text view lays it out in
    // small steps: line breaks normalised to "\n", lines longer than
    // kMaximumLineLength bytes broken (at a space where there is one), and
    // past kMaximumLines lines, blank lines dropped and then lines joined by
    // spaces. Every word stays.
    static constexpr size_t kMaximumLines = 10'000;
    // The HTML written for a text: at most this many times its bytes, and the allowance.
    static constexpr size_t kMaximumOutputFactor = 4;
    static constexpr size_t kOutputAllowance = 64 * 1024;
    static constexpr size_t kMaximumLineLength = 32 * 1024;
    static std::string displayText(std::string_view text);
    // The allow-list alone, over an HTML document or fragment (what a body holds).
    static std::string sanitize(std::string_view html, bool forChangelog);
    // Whether a link may keep its address.
    static bool isAllowedLink(std::string_view url);
};
