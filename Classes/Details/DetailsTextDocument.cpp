#include "Details/DetailsTextDocument.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <algorithm>
#include <cctype>

#include "Categories/String+URLsFromString.h"
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

bool isBlockTag(std::string_view name) {
    static constexpr std::string_view kBlocks[] = {"p",  "div", "h1", "h2", "h3",         "h4",  "h5",    "h6", "li", "ul",
                                                   "ol", "tr",  "dl", "dd", "dt",         "pre", "table", "hr", "center",
                                                   "blockquote"};
    return std::find(std::begin(kBlocks), std::end(kBlocks), name) != std::end(kBlocks);
}

void appendUtf8(std::string& out, char32_t c) {
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

// The character of the entity that starts at html[at] ('&'), and its length; nothing when it is none.
std::optional<std::pair<char32_t, size_t>> entityAt(std::string_view html, size_t at) {
    constexpr size_t kLongest = 10;  // "&#x10FFFF;"
    const size_t semi = html.substr(at, kLongest + 1).find(';');
    if (semi == std::string_view::npos) return std::nullopt;
    const std::string_view name = html.substr(at + 1, semi - 1);
    static constexpr std::pair<std::string_view, char32_t> kNamed[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}, {"nbsp", 0xA0}};
    for (const auto& [named, c] : kNamed)
        if (name == named) return std::pair{c, semi + 1};
    if (name.size() < 2 || name[0] != '#') return std::nullopt;
    const bool hex = name[1] == 'x' || name[1] == 'X';
    const std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty()) return std::nullopt;
    char32_t value = 0;
    for (char d : digits) {
        const int digit = std::isdigit(static_cast<unsigned char>(d)) ? d - '0'
                          : hex && std::isxdigit(static_cast<unsigned char>(d))
                              ? std::tolower(static_cast<unsigned char>(d)) - 'a' + 10
                              : -1;
        if (digit < 0) return std::nullopt;
        value = value * (hex ? 16 : 10) + static_cast<char32_t>(digit);
    }
    if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) value = 0xFFFD;
    return std::pair{value, semi + 1};
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
        return plain(textOfHtml(rendering.html), fmt::format("its HTML has {} elements (at most {})", tags, kMaximumElements));
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

std::string textOfHtml(std::string_view html) {
    std::string out;
    out.reserve(html.size());
    int pre = 0;
    auto endLine = [&] {
        if (!out.empty() && out.back() != '\n') out += '\n';
    };
    for (size_t i = 0; i < html.size();) {
        const char c = html[i];
        if (c == '<') {
            const size_t end = html.find('>', i);
            if (end == std::string_view::npos) break;  // an unfinished tag holds no text
            std::string_view tag = html.substr(i + 1, end - i - 1);
            i = end + 1;
            const bool closing = !tag.empty() && tag.front() == '/';
            if (closing) tag.remove_prefix(1);
            std::string name;
            for (char n : tag) {
                if (!std::isalnum(static_cast<unsigned char>(n))) break;
                name += static_cast<char>(std::tolower(static_cast<unsigned char>(n)));
            }
            if (name == "br") out += '\n';
            else if ((name == "td" || name == "th") && !closing) out += ' ';
            else if (isBlockTag(name)) endLine();
            if (name == "pre") pre = std::max(0, pre + (closing ? -1 : 1));
            continue;
        }
        if (c == '&') {
            if (const auto entity = entityAt(html, i)) {
                appendUtf8(out, entity->first);
                i += entity->second;
                continue;
            }
        }
        out += pre == 0 && (c == '\n' || c == '\r' || c == '\t') ? ' ' : c;
        ++i;
    }
    const size_t first = out.find_first_not_of('\n');
    if (first == std::string::npos) return {};
    out.erase(0, first);
    out.erase(out.find_last_not_of('\n') + 1);
    return out;
}

}  // namespace DetailsTextDocument
