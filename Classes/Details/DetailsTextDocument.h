#pragma once
// The documents of a package page's texts (descriptions and changelogs),
// built on any thread: QTextDocument is reentrant, so the page builds them on
// a background queue and hands each one whole to the GUI thread.
//
// Whatever the text, a document stays within what a text view lays out in
// small steps there. Rich text past one of the limits below shows as its
// plain text instead (every word kept, through ZMMarkdownHTML::displayText),
// and the log says which limit it passed; so does a text the renderer itself
// gave up on. A text without a word gives an empty document.
#include <QFont>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Depictions/ZMMarkdownHTML.h"

class QTextDocument;

namespace DetailsTextDocument {

// Start tags of the HTML: each becomes a node of Qt's HTML parser, about a
// kilobyte and several microseconds, before anything is known of the result.
inline constexpr size_t kMaximumElements = 20'000;
// Paragraphs: the layout's steps are counted in characters, so many tiny
// paragraphs make one step long.
inline constexpr int kMaximumBlocks = static_cast<int>(ZMMarkdownHTML::kMaximumLines);
// Characters of one paragraph, which the layout takes in one go.
inline constexpr int kMaximumBlockLength = static_cast<int>(ZMMarkdownHTML::kMaximumLineLength);
// Cells, and characters inside tables: a table is laid out whole, in one
// step, and its time grows faster than its rows.
inline constexpr int kMaximumTableCells = 500;
inline constexpr int kMaximumTableText = 16 * 1024;

struct Built {
    std::unique_ptr<QTextDocument> document;  // never null
    std::string plainBecause;                 // why a rich text shows as plain text (logged); empty when it does not
};
// A description (forChangelog false) or a changelog from Markdown (or HTML
// that begins with "<style>"), through ZMMarkdownHTML::render: links that
// show their own address without underline, left-aligned, without trailing
// line breaks, in 15-pixel type.
Built fromMarkdown(std::string_view text, bool forChangelog, bool darkMode);
// A text shown as it is (an index's description, a changelog read from a
// page), in `font`. Never null.
std::unique_ptr<QTextDocument> fromPlainText(std::string_view text, const QFont& font = QFont());

// Why the document cannot be shown as it is (which limit it passes), or nothing.
std::optional<std::string> overLayoutLimits(const QTextDocument& document);


}  // namespace DetailsTextDocument
