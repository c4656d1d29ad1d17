#include "Details/DetailsTextDocument.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <algorithm>
#include <cctype>

#include "Categories/String+URLsFromString.h"
#include "Depictions/ZMHTMLDocument.h"
#include "Depictions/ZMMarkdownHTML.h"
#include "Miscellaneous/ZMLog.h"

namespace DetailsTextDocument {
namespace {

// Start tags: a "<" and a letter (the text itself escapes "<").
size_t startTags(std::string_view html) {
    size_t count = 0;
    for (size_t at = html.find('<'); at != std::string_view::npos; at = html.find('<', at + 1))
        if (at + 1 < html.size() && std::isalpha(static_cast<unsigned char>(html[at + 1]))) ++count;
    return count;
}

QFont richFont() {
    QFont font;
    font.setPixelSize(15);
    return font;
}

// A link written as its own address shows without underline. The addresses
// come in text order: each is looked for after the one before.
void showAddressesWithoutUnderline(QTextDocument& doc) {
    const QString plain = doc.toPlainText();
    qsizetype from = 0;
    for (const URL& url : StringURLsFromString::URLs(plain.toStdString())) {
        const QString address = QString::fromStdString(url.string());
        const qsizetype at = plain.indexOf(address, from);
        if (at < 0) continue;
        from = at + address.size();
        QTextCursor c(&doc);
        c.setPosition(static_cast<int>(at));
        c.setPosition(static_cast<int>(from), QTextCursor::KeepAnchor);
        QTextCharFormat f;
        f.setFontUnderline(false);
        f.setUnderlineStyle(QTextCharFormat::NoUnderline);
        c.mergeCharFormat(f);
    }
}

void removeTrailingBreaks(QTextDocument& doc) {
    for (;;) {
        const int count = doc.characterCount();
        if (count <= 1) break;
        const QChar last = doc.characterAt(count - 2);
        if (last != QChar::LineSeparator && last != QChar::ParagraphSeparator && last != '\n') break;
        QTextCursor c(&doc);
        c.movePosition(QTextCursor::End);
        c.deletePreviousChar();
        if (doc.characterCount() == count) break;
    }
}

void emptyWhenBlank(QTextDocument& doc) {
    if (doc.toPlainText().trimmed().isEmpty()) doc.clear();
}

}  // namespace

std::unique_ptr<QTextDocument> fromPlainText(std::string_view text, const QFont& font) {
    auto doc = std::make_unique<QTextDocument>();
    doc->setDefaultFont(font);
    doc->setPlainText(QString::fromStdString(ZMMarkdownHTML::displayText(text)));
    emptyWhenBlank(*doc);
    return doc;
}

namespace {

// A rich text shown as the plain text `shown`, and why.
Built plainInstead(size_t bytes, std::string_view shown, std::string because) {
    ZMLOG("a text of {} bytes shows as plain text: {}", bytes, because);
    return {fromPlainText(shown, richFont()), std::move(because)};
}

}  // namespace

Built fromMarkdown(std::string_view text, bool forChangelog, bool darkMode) {
    const ZMMarkdownHTML::Rendering rendering = ZMMarkdownHTML::render(text, forChangelog, darkMode);
    auto plain = [&](std::string_view shown, std::string because) { return plainInstead(text.size(), shown, std::move(because)); };
    if (rendering.html.empty()) {
        if (rendering.reason.empty()) return {fromPlainText(rendering.plain, richFont()), {}};  // nothing to show
        return plain(rendering.plain, rendering.reason);
    }
    if (const size_t tags = startTags(rendering.html); tags > kMaximumElements)
        return plain(ZMHTMLDocument::textWithoutMarkup(rendering.html), fmt::format("its HTML has {} elements (at most {})", tags, kMaximumElements));
    auto doc = std::make_unique<QTextDocument>();
    doc->setDefaultFont(richFont());
    // The breaks written after paragraphs and headings are the spacing.
    doc->setDefaultStyleSheet("p, h1, h2, h3, h4, h5, h6 { margin-top: 0; margin-bottom: 0; }");
    doc->setHtml(QString::fromStdString(rendering.html));
    if (auto over = overLayoutLimits(*doc)) return plain(doc->toPlainText().toStdString(), std::move(*over));
    showAddressesWithoutUnderline(*doc);
    QTextCursor all(doc.get());
    all.select(QTextCursor::Document);
    QTextBlockFormat left;
    left.setAlignment(Qt::AlignLeft);
    all.mergeBlockFormat(left);
    // No trailing line breaks (the break after the last paragraph).
    removeTrailingBreaks(*doc);
    emptyWhenBlank(*doc);
    return {std::move(doc), {}};
}

std::optional<std::string> overLayoutLimits(const QTextDocument& document) {
    if (document.blockCount() > kMaximumBlocks)
        return fmt::format("{} paragraphs (at most {})", document.blockCount(), kMaximumBlocks);
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        if (block.length() > kMaximumBlockLength)
            return fmt::format("a paragraph of {} characters (at most {})", block.length(), kMaximumBlockLength);
    int cells = 0, tableText = 0;
    // Every table's cells; the text of the outermost ones (it holds the inner ones').
    auto visit = [&](auto&& self, const QTextFrame* frame, bool inTable) -> void {
        for (const QTextFrame* child : frame->childFrames()) {
            const auto* table = qobject_cast<const QTextTable*>(child);
            if (table) {
                cells += table->rows() * table->columns();
                if (!inTable) tableText += table->lastPosition() - table->firstPosition();
            }
            self(self, child, inTable || table);
        }
    };
    visit(visit, document.rootFrame(), false);
    if (cells > kMaximumTableCells) return fmt::format("{} table cells (at most {})", cells, kMaximumTableCells);
    if (tableText > kMaximumTableText)
        return fmt::format("{} characters in tables (at most {})", tableText, kMaximumTableText);
    return std::nullopt;
}

}  // namespace DetailsTextDocument
