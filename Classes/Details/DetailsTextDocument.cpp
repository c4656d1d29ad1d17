#include "Details/DetailsTextDocument.h"

#include <QGuiApplication>
#include <QPalette>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <algorithm>
#include <array>
#include <cctype>

#include "Categories/String+URLsFromString.h"
#include "Depictions/ZMHTMLDocument.h"
#include "Depictions/ZMMarkdown.h"
#include "Details/DetailsTextLayout.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "UIKit/UITextView.h"

namespace {

constexpr size_t npos = std::string_view::npos;

QFont fontOfSize(int pixelSize) {
    QFont font;
    if (pixelSize > 0) font.setPixelSize(pixelSize);
    return font;
}

void emptyWhenBlank(QTextDocument& doc) {
    if (doc.toPlainText().trimmed().isEmpty()) doc.clear();
}

// The document as UTF-8, where each UTF-16 unit of the document lies in it
// can be found again by walking both (a lone surrogate is one U+FFFD).
std::string utf8Of(const QString& text) {
    std::string out;
    out.reserve(static_cast<size_t>(text.size()) + static_cast<size_t>(text.size()) / 2);
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            c = QChar::surrogateToUcs4(static_cast<char16_t>(c), text[++i].unicode());
        else if (QChar::isSurrogate(c))
            c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Elements after which Qt's import begins a new paragraph.
bool beginsAParagraph(std::string_view name) {
    static constexpr std::array<std::string_view, 21> kBlocks = {
        "p",  "div", "h1", "h2", "h3", "h4", "h5",  "h6", "ul",     "ol",
        "li", "dl",  "dt", "dd", "hr", "tr", "pre", "td", "th", "center", "blockquote"};
    return std::find(kBlocks.begin(), kBlocks.end(), name) != kBlocks.end();
}

}  // namespace

DetailsTextDocument::DetailsTextDocument(std::string_view text, const Look& look, Superseded superseded, const QFont& font)
    : text_(text), look_(look), font_(look.pixelSize > 0 ? fontOfSize(look.pixelSize) : font), superseded_(superseded),
      budget_(text.size()) {
    budget_.stopWhen(std::move(superseded));
}

DetailsTextDocument::Built DetailsTextDocument::fromMarkdown(std::string_view text, bool forChangelog, bool darkMode,
                                                             Superseded superseded) {
    // The breaks written after paragraphs and headings are the spacing.
    static const Look look{15, QColor(), "p, h1, h2, h3, h4, h5, h6 { margin-top: 0; margin-bottom: 0; }"};
    DetailsTextDocument road(text, look, std::move(superseded));
    return road.build([&](ZMDepictionBudget& budget) { return ZMMarkdownHTML::render(text, forChangelog, darkMode, budget); });
}

DetailsTextDocument::Built DetailsTextDocument::fromFeaturedMarkdown(std::string_view text, Superseded superseded) {
    static const Look look{17, QColor(0x70, 0x70, 0x70), "a { text-decoration: none; }"};
    DetailsTextDocument road(text, look, std::move(superseded));
    return road.build([&](ZMDepictionBudget& budget) { return ZMMarkdown::render(text, budget); });
}

DetailsTextDocument::Built DetailsTextDocument::fromPlainText(std::string_view text, const QFont& font, Superseded superseded) {
    static const Look look{0, QColor(), ""};
    DetailsTextDocument road(text, look, std::move(superseded), font);
    return road.plain(text, {});
}

ZMDepictionBudget& DetailsTextDocument::trialBudget() {
    // Its time runs from the first trial, not from the build.
    if (!trialBudget_) {
        trialBudget_.emplace(SIZE_MAX, kTrialTime);
        trialBudget_->stopWhen(superseded_);
    }
    return *trialBudget_;
}

DetailsTextDocument::Built DetailsTextDocument::build(const Render& render) {
    std::string html;
    try {
        ZMMarkdownHTML::Rendering rendering = render(budget_);
        if (budget_.stopped()) return {};
        if (rendering.html.empty()) {
            if (rendering.reason.empty()) return plain(rendering.plain, {});  // nothing to show
            return plainInstead(rendering.plain, rendering.reason);
        }
        html = std::move(rendering.html);
        // Counted before a document is built: Qt's import of a text it
        // would turn away is the longest step of all.
        if (auto over = overLayoutLimits(html)) return plainInstead(ZMHTMLDocument::textWithoutMarkup(html), std::move(*over));
        budget_.checkNow();
        std::unique_ptr<QTextDocument> doc = import(html);
        budget_.checkNow();
        if (auto over = overLayoutLimits(*doc)) return plainInstead(doc->toPlainText().toStdString(), std::move(*over));
        // One edit: Qt would otherwise redo a paragraph's formats for each change in it.
        QTextCursor edit(doc.get());
        edit.beginEditBlock();
        showAddressesWithoutUnderline(*doc);
        QTextCursor all(doc.get());
        all.select(QTextCursor::Document);
        QTextBlockFormat left;
        left.setAlignment(Qt::AlignLeft);
        all.mergeBlockFormat(left);
        // No trailing line breaks (the break after the last paragraph).
        for (int count = doc->characterCount(); count > 1; count = doc->characterCount()) {
            const QChar last = doc->characterAt(count - 2);
            if (last != QChar::LineSeparator && last != QChar::ParagraphSeparator && last != '\n') break;
            QTextCursor end(doc.get());
            end.movePosition(QTextCursor::End);
            end.deletePreviousChar();
            if (doc->characterCount() == count) break;
        }
        edit.endEditBlock();
        emptyWhenBlank(*doc);
        budget_.checkNow();
        ZMDepictionBudget& trial = trialBudget();
        const DetailsTextLayout layout = DetailsTextLayout::of(*doc, trial);
        if (trial.stopped()) return {};
        if (layout.overLimits()) return plainInstead(doc->toPlainText().toStdString(), *layout.overLimits());
        doc->setProperty(UITextView::kLayoutCostProperty, QVariant::fromValue<qint64>(layout.cost().count()));
        return {std::move(doc), {}, {}};
    } catch (const ZMDepictionBudget::Exceeded& e) {
        if (budget_.stopped()) return {};
        // A description in HTML is no page: its broken bytes are U+FFFD, never another encoding.
        return plainInstead(html.empty() ? ZMHTMLDocument::textWithoutMarkup(ZMHTMLDocument::validUTF8(text_), ZMMarkdownHTML::isHTML(text_))
                                         : ZMHTMLDocument::textWithoutMarkup(html),
                            e.what());
    }
}

std::unique_ptr<QTextDocument> DetailsTextDocument::import(const std::string& html) {
    auto doc = std::make_unique<QTextDocument>();
    doc->setUndoRedoEnabled(false);  // nobody edits it: no history to keep
    doc->setDefaultFont(fontOfSize(look_.pixelSize));
    doc->setDefaultStyleSheet(look_.styleSheet);
    doc->setHtml(QString::fromStdString(html));
    return doc;
}

// A link written as its own address shows without underline: each address
// where it was found, when it reads there as the URL prints it (one written
// otherwise is not looked for elsewhere).
void DetailsTextDocument::showAddressesWithoutUnderline(QTextDocument& doc) {
    const QString plain = doc.toPlainText();
    const std::string text = utf8Of(plain);
    QTextCharFormat noUnderline;
    noUnderline.setFontUnderline(false);
    noUnderline.setUnderlineStyle(QTextCharFormat::NoUnderline);
    QTextCursor cursor(&doc);
    size_t byte = 0;
    int unit = 0;
    // The document's position of `offset` in `text`, going on from the last one.
    auto positionOf = [&](size_t offset) {
        for (; byte < offset; ++byte) {
            const auto b = static_cast<unsigned char>(text[byte]);
            if ((b & 0xC0) != 0x80) unit += b >= 0xF0 ? 2 : 1;
        }
        return unit;
    };
    for (const auto& match : StringURLsFromString::matches(text)) {
        budget_.check();
        if (text.compare(match.offset, match.length, match.url.string()) != 0) continue;
        const int start = positionOf(match.offset);
        cursor.setPosition(start);
        cursor.setPosition(positionOf(match.offset + match.length), QTextCursor::KeepAnchor);
        cursor.mergeCharFormat(noUnderline);
    }
}

DetailsTextDocument::Built DetailsTextDocument::plainInstead(std::string_view shown, std::string because) {
    ZMLOG("a text of {} bytes shows as plain text: {}", text_.size(), because);
    return plain(shown, std::move(because));
}

std::unique_ptr<QTextDocument> DetailsTextDocument::plainDocument(const QString& text) const {
    auto doc = std::make_unique<QTextDocument>();
    doc->setUndoRedoEnabled(false);
    doc->setDefaultFont(font_);
    doc->setPlainText(text);
    emptyWhenBlank(*doc);
    if (look_.plainColor.isValid()) {
        QTextCursor all(doc.get());
        all.select(QTextCursor::Document);
        QTextCharFormat color;
        color.setForeground(look_.plainColor);
        all.mergeCharFormat(color);
    }
    return doc;
}

DetailsTextDocument::Built DetailsTextDocument::plain(std::string_view shown, std::string because) {
    const QString text = QString::fromStdString(ZMMarkdownHTML::displayText(shown));
    ZMDepictionBudget& trial = trialBudget();
    const DetailsTextLayout layout = DetailsTextLayout::ofPlainText(text, font_, trial);
    if (trial.stopped()) return {};
    if (!layout.overLimits()) {
        std::unique_ptr<QTextDocument> doc = plainDocument(text);
        doc->setProperty(UITextView::kLayoutCostProperty, QVariant::fromValue<qint64>(layout.cost().count()));
        return {std::move(doc), std::move(because), {}};
    }
    ZMLOG("a text of {} bytes is too costly to lay out as plain text: {}", text_.size(), *layout.overLimits());
    // Only long: what fits is shown as it is. Shorter lines would cost as much in all.
    if (layout.limit() == DetailsTextLayout::Limit::Time)
        return cutAfter(text, layout, QString::fromStdString(ZMMarkdownHTML::displayText(shown, kCutLineBytes)), std::move(because));
    return cut(shown, std::move(because));
}

// The text in short lines: a line costly to lay out (a long paragraph whose
// direction changes often, a cluster of thousands of marks) is broken up.
// It shows whole when it fits so, else as much as fits.
DetailsTextDocument::Built DetailsTextDocument::cut(std::string_view shown, std::string plainBecause) {
    const QString whole = QString::fromStdString(ZMMarkdownHTML::displayText(shown, kCutLineBytes));
    ZMDepictionBudget trial(SIZE_MAX, kCutTrialTime);
    trial.stopWhen(superseded_);
    const DetailsTextLayout layout = DetailsTextLayout::ofPlainText(whole, font_, trial);
    if (trial.stopped()) return {};
    if (!layout.overLimits()) {
        ZMLOG("a text of {} bytes shows in short lines", text_.size());
        std::unique_ptr<QTextDocument> doc = plainDocument(whole);
        doc->setProperty(UITextView::kLayoutCostProperty, QVariant::fromValue<qint64>(layout.cost().count()));
        return {std::move(doc), std::move(plainBecause), {}};
    }
    return cutAfter(whole, layout, whole, std::move(plainBecause));
}

// The lines of `text` that `layout` found fit, then a mark that says the rest
// is not shown and links to `whole`.
DetailsTextDocument::Built DetailsTextDocument::cutAfter(const QString& text, const DetailsTextLayout& layout, const QString& whole,
                                                         std::string plainBecause) {
    ZMLOG("a text of {} bytes shows cut after {} lines: {}", text_.size(), layout.fittingBlocks(), *layout.overLimits());
    qsizetype end = 0;
    for (int line = 0; line < layout.fittingBlocks() && end >= 0; ++line) {
        end = text.indexOf(u'\n', end);
        if (end >= 0) ++end;
    }
    if (end < 0) end = text.size();
    std::unique_ptr<QTextDocument> doc = plainDocument(text.left(end).trimmed());
    QTextCursor at(doc.get());
    at.movePosition(QTextCursor::End);
    if (!doc->isEmpty()) at.insertBlock();
    QTextCharFormat mark;
    mark.setFontItalic(true);
    // In the palette's colours, as Qt's import gives a rich text's links.
    const QPalette palette = QGuiApplication::palette();
    mark.setForeground(look_.plainColor.isValid() ? look_.plainColor : palette.color(QPalette::PlaceholderText));
    at.insertText(QString::fromStdString(ZMLocalizedString("The rest of this text is too long to show here.")) + " ", mark);
    QTextCharFormat link = mark;
    link.setAnchor(true);
    link.setAnchorHref(UITextView::wholeTextLink().toString());
    link.setFontUnderline(true);
    link.setForeground(palette.link());
    at.insertText(QString::fromStdString(ZMLocalizedString("Show the whole text")), link);
    doc->setProperty(UITextView::kWholeTextProperty, whole);
    doc->setProperty(UITextView::kLayoutCostProperty, QVariant::fromValue<qint64>(layout.cost().count()));
    return {std::move(doc), std::move(plainBecause), *layout.overLimits()};
}

std::optional<std::string> DetailsTextDocument::overLayoutLimits(std::string_view html) {
    if (html.size() > kMaximumHTML) return fmt::format("its HTML has {} KiB (at most {})", html.size() >> 10, kMaximumHTML >> 10);
    // What Qt's import makes of the HTML: a paragraph after each element
    // that begins one (when the one before holds anything) and for each line
    // of preformatted text; a paragraph's characters, where a run of white
    // space outside <pre> is one (none at its start), and so are an entity
    // and a break.
    size_t elements = 0;
    int blocks = 1, cells = 0, tableText = 0, block = 0, longest = 0, preformatted = 0, tables = 0;
    bool space = false;
    auto endBlock = [&](bool always) {
        if (block == 0 && !always) return;
        longest = std::max(longest, block);
        block = 0;
        ++blocks;
        space = false;
    };
    auto character = [&] {
        ++block;
        if (tables > 0) ++tableText;
    };
    for (size_t i = 0; i < html.size();) {
        const char c = html[i];
        if (c == '<') {
            const size_t end = html.find('>', i);
            if (end == npos) break;
            const bool closing = i + 1 < end && html[i + 1] == '/';
            size_t at = i + (closing ? 2 : 1);
            std::string name;
            while (at < end && std::isalnum(static_cast<unsigned char>(html[at])) && name.size() < 16)
                name += static_cast<char>(std::tolower(static_cast<unsigned char>(html[at++])));
            if (!closing && !name.empty() && std::isalpha(static_cast<unsigned char>(name[0]))) ++elements;
            const int step = closing ? -1 : 1;
            if (name == "pre") preformatted = std::max(0, preformatted + step);
            else if (name == "table") tables = std::max(0, tables + step);
            if (!closing && (name == "td" || name == "th")) ++cells;
            if (name == "br") character();
            else if (beginsAParagraph(name)) endBlock(false);
            i = end + 1;
            continue;
        }
        if (c == '&') {
            const size_t semicolon = html.substr(i, 12).find(';');
            character();
            space = false;
            i += semicolon == npos ? 1 : semicolon + 1;
            continue;
        }
        if (preformatted > 0 && c == '\n') {
            endBlock(true);
        } else if (preformatted == 0 && std::isspace(static_cast<unsigned char>(c))) {
            if (!space && block > 0) character();  // white space that begins a paragraph is dropped
            space = true;
        } else {
            space = false;
            if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) character();
        }
        ++i;
    }
    longest = std::max(longest, block);
    if (elements > kMaximumElements) return fmt::format("its HTML has {} elements (at most {})", elements, kMaximumElements);
    if (blocks > kMaximumBlocks) return fmt::format("{} paragraphs (at most {})", blocks, kMaximumBlocks);
    if (longest > kMaximumBlockLength) return fmt::format("a paragraph of {} characters (at most {})", longest, kMaximumBlockLength);
    if (cells > kMaximumTableCells) return fmt::format("{} table cells (at most {})", cells, kMaximumTableCells);
    if (tableText > kMaximumTableText) return fmt::format("{} characters in tables (at most {})", tableText, kMaximumTableText);
    return std::nullopt;
}

std::optional<std::string> DetailsTextDocument::overLayoutLimits(const QTextDocument& document) {
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
