#pragma once
// The text of a text with markup, for what is shown as plain text: a page or
// a text read past its budget, our own HTML past a view's limits (callers go
// through ZMHTMLDocument::textWithoutMarkup).
//
// HTML: tags, comments and what script and style elements hold go, a line
// ends where a block does and at a break, a space stands before each table
// cell, entities are decoded, and white space outside <pre> is a space. A "<"
// that begins no whole tag is text.
//
// Markdown is read as the rendering reads it (ZMMarkdownHTML), minus the
// formatting. Raw HTML is what CommonMark's grammar makes of it: its blocks
// (ZMMarkdownBlocks) read as HTML above, but line by line; inline, a tag, a
// comment, a processing instruction, a declaration or CDATA goes, and any
// other "<" is text, as is a comment that nothing closes. Code spans and code
// blocks read as written, an autolink shows its address, entities are decoded
// outside code, and a script or style element's content goes up to its end
// tag or the end of its paragraph. The Markdown itself (markers, emphasis,
// escapes) stays as written, and so do the lines. A byte-order mark goes, and
// each byte of broken UTF-8 (and NUL) reads as U+FFFD, as the rendering shows it.
//
// Both readings are linear in the text whatever its shape. Inline raw HTML
// is sought within the work of a depiction's budget (ZMDepictionBudget):
// past it, every "<" left is text.
#include <string>
#include <string_view>

class ZMTextWithoutMarkup {
public:
    // `utf8`: an HTML text, already UTF-8 (ZMHTMLDocument::toUTF8).
    static std::string ofHTML(std::string_view utf8);
    // `text`: a Markdown text, whatever its bytes.
    static std::string ofMarkdown(std::string_view text);
};
