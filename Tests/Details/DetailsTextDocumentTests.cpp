// The documents of a page's texts: hostile texts come out as documents a
// view lays out in small steps, with every word; real depictions stay rich
// text; the text of HTML read without Qt's parser.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <filesystem>
#include <set>

#include "Depictions/ZMNativeDepiction.h"
#include "Details/DetailsTextDocument.h"
#include "Details/PackageDetailsViewController.h"
#include "Support/TestSupport.h"

namespace {

using D = DetailsTextDocument;

std::string repeat(int count, const std::function<std::string(int)>& make) {
    std::string out;
    for (int i = 0; i < count; ++i) out += make(i);
    return out;
}
std::string word(int i) { return "w" + std::to_string(i); }

// What a view must lay out in one go: the longest paragraph, and the cells
// and characters of the tables (each laid out whole).
struct Shape {
    int blocks = 0, longestBlock = 0, cells = 0, tableText = 0;
};
Shape shapeOf(const QTextDocument& doc) {
    Shape s;
    s.blocks = doc.blockCount();
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) s.longestBlock = std::max(s.longestBlock, b.length());
    std::function<void(QTextFrame*)> visit = [&](QTextFrame* frame) {
        for (QTextFrame* child : frame->childFrames()) {
            if (auto* table = qobject_cast<QTextTable*>(child)) {
                s.cells += table->rows() * table->columns();
                s.tableText += table->lastPosition() - table->firstPosition();
            }
            visit(child);
        }
    };
    visit(doc.rootFrame());
    return s;
}

std::set<QString> wordsOf(const QString& text) {
    const QStringList list = text.split(QRegularExpression("[^A-Za-z0-9]+"), Qt::SkipEmptyParts);
    return {list.begin(), list.end()};
}

// Each shape, at a size the renderer itself takes in its stride, passes one
// limit of what a view lays out in steps; through the page's own entry point.
TEST(DetailsTextDocument, HostileTextsComeOutAsDocumentsLaidOutInStepsWithEveryWord) {
    struct Case {
        const char* name;
        std::string text;
        int words;
    };
    const Case cases[] = {
        {"one long paragraph", repeat(12'000, [](int i) { return word(i) + " "; }), 12'000},
        {"many short paragraphs", repeat(12'000, [](int i) { return word(i) + "\n\n"; }), 12'000},
        {"a code block of many lines", "```\n" + repeat(12'000, [](int i) { return word(i) + "\n"; }) + "```\n", 12'000},
        {"many HTML elements", "<style></style>" + repeat(12'000, [](int i) { return "<p><b>" + word(i) + "</b></p>"; }), 12'000},
        {"a table of many cells", "<style></style><table>" + repeat(800, [](int i) { return "<tr><td>" + word(i) + "</td></tr>"; }) + "</table>",
         800},
        {"a table of much text",
         "<style></style><table>" +
             repeat(100, [](int i) { return "<tr><td>" + word(i) + repeat(50, [](int) { return " lorem"; }) + "</td></tr>"; }) + "</table>",
         100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<QTextDocument> doc(PackageDetailsViewController::attributedTextFromMarkdown(c.text, false, false));
        const Shape s = shapeOf(*doc);
        EXPECT_LE(s.blocks, D::kMaximumBlocks);
        EXPECT_LE(s.longestBlock, D::kMaximumBlockLength);
        EXPECT_LE(s.cells, D::kMaximumTableCells);
        EXPECT_LE(s.tableText, D::kMaximumTableText);
        const std::set<QString> shown = wordsOf(doc->toPlainText());
        int missing = 0;
        for (int i = 0; i < c.words; ++i) missing += shown.count(QString::fromStdString(word(i))) ? 0 : 1;
        EXPECT_EQ(missing, 0);
        EXPECT_FALSE(D::fromMarkdown(c.text, false, false).plainBecause.empty()) << "the fallback is not told";
    }
}

// What real repositories publish stays rich text: no limit comes near it.
TEST(DetailsTextDocument, RealDepictionsStayRichText) {
    size_t texts = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TestSupport::dataDirectory() + "/Depictions")) {
        if (entry.path().extension() != ".json") continue;
        SCOPED_TRACE(entry.path().filename().string());
        const auto depiction = ZMNativeDepiction::parse(TestSupport::readFile(entry.path().string()));
        for (const auto& [text, changelog] : {std::pair{depiction.description, false}, std::pair{depiction.changelog, true}}) {
            if (!text) continue;
            ++texts;
            const auto built = D::fromMarkdown(*text, changelog, false);
            EXPECT_EQ(built.plainBecause, "");
            EXPECT_EQ(D::overLayoutLimits(*built.document), std::nullopt);
        }
    }
    EXPECT_GT(texts, 30u);
}

// A text without a word takes no room: its document is empty, whichever way it is shown.
TEST(DetailsTextDocument, BlankTextsGiveEmptyDocuments) {
    for (const char* text : {"", "   ", "\n\n  \n"}) {
        SCOPED_TRACE(text);
        EXPECT_TRUE(D::fromMarkdown(text, true, false).document->isEmpty());
        EXPECT_TRUE(D::fromPlainText(text)->isEmpty());
    }
    EXPECT_TRUE(D::fromMarkdown("<style></style><p> </p><br>", false, false).document->isEmpty());
    EXPECT_FALSE(D::fromPlainText(" a ")->isEmpty());
}

}  // namespace
