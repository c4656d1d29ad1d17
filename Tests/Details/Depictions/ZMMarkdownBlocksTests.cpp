// The blocks a Markdown text is read in when it is shown plain: which lines
// hold inline text and which HTML, and where each line's content begins past
// its markers, as the Markdown library finds them.
#include <gtest/gtest.h>

#include <string>

#include "Depictions/ZMMarkdownBlocks.h"

namespace {

// Each block as "T[...]" (inline text) or "H[...]" (HTML), its lines' contents
// between '|', the spaces left of a tab the markers took in part as '_'.
std::string blocksOf(std::string_view text) {
    std::string out;
    ZMMarkdownBlocks::read(text, [&](ZMMarkdownBlocks::Kind kind, std::span<const ZMMarkdownBlocks::Line> lines) {
        out += kind == ZMMarkdownBlocks::Kind::Text ? "T[" : "H[";
        for (size_t k = 0; k < lines.size(); ++k) {
            if (k > 0) out += '|';
            out += std::string(static_cast<size_t>(lines[k].spaces), '_');
            out += text.substr(lines[k].start, lines[k].end - lines[k].start);
        }
        out += ']';
    });
    return out;
}

TEST(ZMMarkdownBlocks, LinesBeginPastTheirMarkers) {
    struct Row {
        const char* text;
        const char* blocks;
    };
    const Row rows[] = {
        {"# Title #\n\n  a\r\n b\rc", "T[Title #]T[a|b|c]"},
        {"> a\n>b\nlazy\n\n> > c", "T[a|b|lazy]T[c]"},
        {"- a\n  b\n\n  c\n-\n\n  d", "T[a|b]T[c]T[d]"},
        {"1. a\n   - b\n     c\n10) d\n    e", "T[a]T[b|c]T[d|e]"},
        {"a\n    b\n\n    code\n  d", "T[a|b]T[d]"},
        {"```\n<b>\n```\n~~~~\n~~~\n<i>\n~~~~\n  ```\n  x\n    ```\n", ""},
        {"a\n-     code\n\n-  \tx", "T[a]T[x]"},
        // What HTML blocks take, and where they end.
        {"<div>\na\n\nb\n<foo>\nc", "H[<div>|a]T[b|<foo>|c]"},
        {"<foo>\nc\n\n  <!-- a\nb -->c\nd", "H[<foo>|c]H[  <!-- a|b -->c]T[d]"},
        {"<pre>\n\nx</pre>y\nz", "H[<pre>||x</pre>y]T[z]"},
        {"> <div>\n> a\nb", "H[<div>|a]T[b]"},
        {"- <p>\n\tx\n-\t<p>\n \ty", "H[<p>|__x]H[<p>|y]"},
        // A comment nothing closes is text; a script or style without its end
        // tag ends at its first blank line, and what follows is read again.
        {"<!-- a\nb\n\nc", "T[<!-- a|b]T[c]"},
        {"<style>\na\n\n# b\n<div>\nc", "H[<style>|a]T[b]H[<div>|c]"},
        {"<script>\na\n\nb</script>\nc", "H[<script>|a||b</script>]T[c]"},
        {"<style>\na\n\nb\n</pre>\nc", "H[<style>|a]T[b|</pre>]T[c]"},
        {"- <style>\n  a\n\n  b\nc", "H[<style>|a]T[b]T[c]"},
    };
    for (const Row& row : rows) EXPECT_EQ(blocksOf(row.text), row.blocks) << row.text;
}

}  // namespace
