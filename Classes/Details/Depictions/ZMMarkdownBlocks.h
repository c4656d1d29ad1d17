#pragma once
// The blocks of a Markdown text as the Markdown library of the rendering
// (cmark-gfm, CommonMark 0.29) finds them, for reading the text as plain
// text (ZMTextWithoutMarkup): which lines hold inline text (paragraphs and
// headings) and which hold HTML, and where each line's content begins past
// the markers of the quotes, list items and headings around it. Code blocks,
// blank lines, fences, rules and underlines are no block here: they read as
// they are written.
//
// Two shapes are read otherwise than the library reads them. As the
// rendering reads it (ZMMarkdownHTML), an HTML block that opens a script or
// a style and holds no end tag of it ends at its first blank line, and the
// lines after it are read again as a text of their own (nested at most
// kMaximumRereads deep). And an HTML block of a comment that nothing closes,
// which would take every line up to the end of its container, is no HTML
// block: its lines are read again as text, so its words stay.
//
// Linear in the text: every line is read once, the lines read again at most
// kMaximumRereads times more.
#include <cstddef>
#include <functional>
#include <span>
#include <string_view>

#include "Depictions/ZMMarkdownHTML.h"

class ZMMarkdownBlocks {
public:
    struct Line {
        size_t start, end;  // the content in the text: past the markers, before the line break
        int spaces = 0;     // before it: what is left of a tab the markers took in part
    };
    enum class Kind { Text, HTML };
    using Block = std::function<void(Kind, std::span<const Line>)>;

    // Calls `block` for each block of `text` in order, with its lines.
    static void read(std::string_view text, const Block& block);

    // The length of the open or closing tag at the start of `text` by
    // CommonMark's grammar of raw HTML (a name, attributes, an optional '/',
    // '>'), or 0 when none begins there. Adds the bytes it looked at to `examined`.
    static size_t tagLength(std::string_view text, size_t& examined);

    static constexpr int kMaximumRereads = ZMMarkdownHTML::kMaximumReopenedBlocks;  // as the rendering does
};
