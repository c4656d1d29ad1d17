#pragma once
// Markdown to HTML through cmark-gfm, for texts the maker writes (the
// featured package page): GitHub's autolinks, tables and strikethrough, and
// every line break kept. Raw HTML in the text is omitted and links or images
// to anything but safe schemes (javascript:, vbscript:, file:, data:) lose
// their address, so the result runs and loads nothing by itself. The HTML
// sits in a span of the page's type (17 pixels, grey).
//
// It costs what one depiction may (ZMDepictionBudget): past that, the
// rendering gives the text without its markup instead, to be shown plain.
#include <string>
#include <string_view>

#include "Depictions/ZMMarkdownHTML.h"

class ZMDepictionBudget;

namespace ZMMarkdown {

ZMMarkdownHTML::Rendering render(std::string_view markdown, ZMDepictionBudget& budget);
// render()'s HTML within a budget of its own (empty past it).
std::string htmlFromMarkdown(std::string_view markdown);

}  // namespace ZMMarkdown
