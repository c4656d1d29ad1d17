#pragma once
// Markdown to HTML through cmark-gfm, for texts the maker writes (the
// featured package page): GitHub's autolinks, tables and strikethrough, and
// every line break kept. Raw HTML in the text is omitted and links or images
// to anything but safe schemes (javascript:, vbscript:, file:, data:) lose
// their address, so the result runs and loads nothing by itself.
#include <string>
#include <string_view>

namespace ZMMarkdown {

std::string htmlFromMarkdown(std::string_view markdown);

}  // namespace ZMMarkdown
