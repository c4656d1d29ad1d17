#pragma once
// The HTML that the details page shows for a description or a changelog.
//
// The text is Markdown (CommonMark, no extensions), or HTML when it begins
// with "<style>". Lines beginning with "<p><img" are dropped first. Raw HTML
// passes an allow-list: style, script, link, iframe, img, form and the like
// go with their content, every attribute but a link's address goes, links
// keep only http, https and mailto addresses; so the result loads nothing.
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
    // Empty when nothing remains to show.
    static std::string htmlForText(std::string_view text, bool forChangelog, bool darkMode);
    // The allow-list alone, over an HTML document or fragment (what a body holds).
    static std::string sanitize(std::string_view html, bool forChangelog);
    // Whether a link may keep its address.
    static bool isAllowedLink(std::string_view url);
};
