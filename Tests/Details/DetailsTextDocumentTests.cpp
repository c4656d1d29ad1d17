// The documents of a page's texts: hostile texts come out as documents a
// view lays out in small steps, with every word; real depictions stay rich
// text; the text of HTML read without Qt's parser.
#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <filesystem>
#include <set>

#include "Depictions/ZMNativeDepiction.h"
#include "Details/DetailsTextDocument.h"
#include "Details/DetailsTextLayout.h"
#include "Details/PackageDetailsViewController.h"
#include "Support/TestSupport.h"
#include "UIKit/UITextView.h"

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

// What a reader can reach: the text shown, or, when it shows cut (on a machine
// slow enough that a step of its layout passes the limit), the whole text
// its link opens.
QString reachableText(const QTextDocument& doc) {
    const QString whole = doc.property(UITextView::kWholeTextProperty).toString();
    return whole.isEmpty() ? doc.toPlainText() : whole;
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
        // Preformatted lines are counted before Qt makes a paragraph of each.
        {"an HTML block of preformatted lines", "<pre>" + repeat(12'000, [](int i) { return word(i) + "\n"; }), 12'000},
        {"preformatted lines ended by returns", "<style></style><pre>" + repeat(12'000, [](int i) { return word(i) + "\r"; }), 12'000},
        // Past the budget an unclosed script ends at its paragraph, as the rendering reads it.
        {"an unclosed script, then more than the budget takes",
         "<script>\nx\n\n" + repeat(120'000, [](int i) { return "*" + word(i) + " "; }), 120'000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<QTextDocument> doc(PackageDetailsViewController::attributedTextFromMarkdown(c.text, false, false));
        const Shape s = shapeOf(*doc);
        EXPECT_LE(s.blocks, D::kMaximumBlocks);
        EXPECT_LE(s.longestBlock, D::kMaximumBlockLength);
        EXPECT_LE(s.cells, D::kMaximumTableCells);
        EXPECT_LE(s.tableText, D::kMaximumTableText);
        const std::set<QString> shown = wordsOf(reachableText(*doc));
        int missing = 0;
        for (int i = 0; i < c.words; ++i) missing += shown.count(QString::fromStdString(word(i))) ? 0 : 1;
        EXPECT_EQ(missing, 0);
        EXPECT_FALSE(D::fromMarkdown(c.text, false, false).plainBecause.empty()) << "the fallback is not told";
    }
}

// The shapes that lost words when a text passed its budget, at full size
// through the page's own entry point: the plain document shows every one.
TEST(DetailsTextDocument, TextsPastTheBudgetShowEveryWordPlain) {
    constexpr int kLines = 20'000;
    const std::string quotes(60, '"');  // six bytes of HTML each: the text passes its budget
    const std::string cyrillic = "\xd1\x81\xd0\xbb\xd0\xbe\xd0\xb2\xd0\xbe";
    auto lines = [&](const std::string& head, const std::function<std::string(int)>& line, const std::string& tail) {
        return head + repeat(kLines, [&](int i) { return line(i) + " " + quotes + "\n"; }) + tail;
    };
    struct Case {
        const char* name;
        std::string text;
        QString each;  // shown once a line besides its word
    };
    const Case cases[] = {
        {"a '<' that opens no tag, a '>' far below", lines("", [](int i) { return "count<limit " + word(i); }, ">"), "count<limit"},
        {"an inline comment that nothing closes", lines("a <!-- b\n", word, ""), ""},
        {"one byte that is not UTF-8", lines("\xff\n", [&](int i) { return cyrillic + " " + word(i); }, ""), QString::fromStdString(cyrillic)},
        {"a code block that shows <style>", lines("```\n<style>\n```\n\n", word, ""), ""},
        {"named entities", lines("", [](int i) { return "caf&eacute; " + word(i); }, ""), "caf\u00e9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const D::Built built = D::fromMarkdown(c.text, true, false);
        EXPECT_FALSE(built.plainBecause.empty());
        const QString plain = reachableText(*built.document);
        const std::set<QString> shown = wordsOf(plain);
        int missing = 0;
        for (int i = 0; i < kLines; ++i) missing += shown.count(QString::fromStdString(word(i))) ? 0 : 1;
        EXPECT_EQ(missing, 0);
        if (!c.each.isEmpty()) {
            EXPECT_EQ(plain.count(c.each), kLines);
        }
    }
}

// The count made before a document is built agrees with the document's own
// on either side of each limit: texts under it are built, texts over it are
// turned away before Qt builds them.
TEST(DetailsTextDocument, TheCountBeforeBuildingAgreesWithTheDocument) {
    struct Case {
        const char* name;
        std::function<std::string(int)> html;
        int under, over;
    };
    const auto times = [](int n, const std::string& unit) { return repeat(n, [&](int) { return unit; }); };
    const Case cases[] = {
        {"paragraphs", [&](int n) { return times(n, "<p>w</p>"); }, 9'990, 10'010},
        {"paragraphs on lines of their own", [&](int n) { return times(n, "<p>w</p>\n"); }, 9'990, 10'010},
        {"preformatted lines", [&](int n) { return "<pre>" + times(n, "w\n") + "</pre>"; }, 9'990, 10'010},
        {"a long paragraph", [&](int n) { return "<p>" + times(n, "w ") + "</p>"; }, 16'000, 16'500},
        {"a long paragraph of breaks and entities", [&](int n) { return "<p>" + times(n, "&amp;<br />") + "</p>"; }, 16'000, 16'500},
        {"table cells", [&](int n) { return "<table>" + times(n, "<tr><td>w</td></tr>") + "</table>"; }, 490, 510},
        {"elements", [&](int n) { return "<p>" + times(n, "<b>w</b>") + "</p>"; }, 19'990, 20'010},
    };
    for (const Case& c : cases) {
        for (const auto& [n, over] : {std::pair{c.under, false}, std::pair{c.over, true}}) {
            SCOPED_TRACE(std::string(c.name) + " " + std::to_string(n));
            const std::string html = c.html(n);
            QTextDocument doc;
            doc.setHtml(QString::fromStdString(html));
            EXPECT_EQ(D::overLayoutLimits(html).has_value(), over);
            // The elements are the count's own limit: Qt's document has no elements to count.
            if (std::string_view(c.name) != "elements") {
                EXPECT_EQ(D::overLayoutLimits(doc).has_value(), over);
            }
        }
    }
}

// Text shown plain comes in lines a view lays out in steps, whatever its
// bytes: a line of UTF-8 continuation bytes (alone, or after a byte-order
// mark and a run the rendering cannot take) is broken in few pieces. What a
// view shows, or the whole text a cut one holds, keeps every character.
TEST(DetailsTextDocument, PlainTextOfAnyBytesComesInFewLines) {
    const std::string continuation(1 << 20, '\x80');
    const std::string marked = "\xEF\xBB\xBF" + std::string(300'000, '"') + std::string(600'000, '\x80') + " wlast";
    struct Case {
        const char* name;
        size_t bytes;
        std::unique_ptr<QTextDocument> doc;
    };
    Case cases[] = {{"plain", continuation.size(), D::fromPlainText(continuation).document},
                    {"after a mark, past the budget", marked.size(), D::fromMarkdown(marked, false, false).document}};
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Shape s = shapeOf(*c.doc);
        EXPECT_LE(s.longestBlock, D::kMaximumBlockLength);
        const QString whole = c.doc->property(UITextView::kWholeTextProperty).toString();
        const QString shown = whole.isEmpty() ? c.doc->toPlainText() : whole;
        EXPECT_GT(shown.size(), 500'000);
        // Each byte becomes one character: three bytes of UTF-8 a line would fill.
        EXPECT_LE(shown.count(u'\n'), static_cast<qsizetype>(3 * c.bytes / D::kCutLineBytes + 10));
    }
    const QString whole = cases[1].doc->property(UITextView::kWholeTextProperty).toString();
    EXPECT_TRUE((whole.isEmpty() ? cases[1].doc->toPlainText() : whole).endsWith("wlast"));
}

// A build whose view went stops at its next check, mid-way through a text
// the budget would take whole, and gives no document.
TEST(DetailsTextDocument, ABuildWhoseViewWentStopsAndBuildsNothing) {
    const std::string hostile = repeat(200'000, [](int i) { return "<b>" + word(i) + " <i>"; });
    for (const char* flavour : {"description", "featured"}) {
        SCOPED_TRACE(flavour);
        int asked = 0;
        auto goneAtOnce = [&] { return ++asked > 0; };
        const D::Built built = std::string_view(flavour) == "featured" ? D::fromFeaturedMarkdown(hostile, goneAtOnce)
                                                                        : D::fromMarkdown(hostile, false, false, goneAtOnce);
        EXPECT_EQ(built.document, nullptr);
        EXPECT_EQ(built.plainBecause, "");
        EXPECT_LE(asked, 3) << "it went on after it was told";
    }
    EXPECT_NE(D::fromMarkdown("a *short* text", false, false, [] { return false; }).document, nullptr);
}

// Addresses written as links show without underline where they stand, after
// characters of two UTF-16 units too; one written otherwise than its URL
// prints keeps its underline, and the ones after it are still found.
TEST(DetailsTextDocument, AddressesShowWithoutUnderlineWhereTheyAreWritten) {
    struct Case {
        const char* markdown;
        std::vector<std::pair<const char*, bool>> underlined;  // a text shown, and whether it is underlined
    };
    const Case cases[] = {
        {"[https://a.example/x](https://a.example/x) and [site](https://a.example/y)",
         {{"https://a.example/x", false}, {"site", true}}},
        {"\xF0\x9F\x98\x80\xF0\x9F\x98\x80 [https://a.example/x](https://a.example/x) [http://b.example/](http://b.example/)",
         {{"https://a.example/x", false}, {"http://b.example/", false}}},
        {"[http://a.example:01](http://a.example:01) then [http://c.example/z](http://c.example/z)",
         {{"http://a.example:01", true}, {"http://c.example/z", false}}},
        {"[http://d.example/](http://d.example/) twice [http://d.example/](http://d.example/)", {{"twice http://d.example/", false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.markdown);
        const auto doc = D::fromMarkdown(c.markdown, false, false).document;
        const QString plain = doc->toPlainText();
        for (const auto& [what, underline] : c.underlined) {
            const QString text = QString::fromUtf8(what);
            const qsizetype at = plain.lastIndexOf(text);
            ASSERT_GE(at, 0) << what;
            QTextCursor cursor(doc.get());
            cursor.setPosition(static_cast<int>(at + text.size()));  // the format of the character before
            EXPECT_EQ(cursor.charFormat().fontUnderline(), underline) << what;
        }
    }
}

// Texts that would pass Qt's layout limit (8,388,607 pixels: its layout then
// never returns) or cost it seconds, on each road: they show plain or cut,
// the view's layout of what shows ends within the limit, and every word is
// in what shows or, for a cut text, in the whole text its link opens.
TEST(DetailsTextDocument, TextsPastTheLayoutsLimitsShowBoundedWithEveryWordReachable) {
    const std::string separator = "\xE2\x80\xA8";
    auto quoted = [](int depth, const std::string& line) { return repeat(depth, [](int) { return std::string("> "); }) + line; };
    auto words = [](int from, int count) { return repeat(count, [from](int i) { return word(from + i) + " "; }); };
    struct Case {
        const char* name;
        std::function<D::Built(const std::string&)> road;
        std::string text;
    };
    auto description = [](const std::string& t) { return D::fromMarkdown(t, false, false); };
    // Within the counts a document is built under (elements, paragraphs and
    // their length): nesting leaves no width, so each word takes a line.
    const Case cases[] = {
        {"64 nested quotes and a heading of words", description,
         repeat(40, [&](int i) { return quoted(64, "# " + words(i * 4000, 4000)) + "\n\n"; })},
        {"nine nested quotes in a changelog", [](const std::string& t) { return D::fromMarkdown(t, true, false); },
         repeat(56, [&](int i) { return quoted(9, words(i * 4000, 4000)) + "\n\n"; })},
        {"45 nested lists in the featured text", [](const std::string& t) { return D::fromFeaturedMarkdown(t); },
         repeat(45, [&](int d) { return std::string(2 * d, ' ') + "- " + words(d * 4000, 4000) + "\n"; })},
        {"an index description in line separators", [](const std::string& t) { return D::fromPlainText(t); },
         repeat(400'000, [&](int i) { return word(i) + separator; })},
        {"line separators past the budget", description, repeat(700'000, [&](int i) { return word(i) + separator; })},
        {"combining marks on one letter", description, "w0" + repeat(300'000, [](int) { return std::string("\xCC\x81"); }) + " w1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        D::Built built = c.road(c.text);
        ASSERT_NE(built.document, nullptr);
        QTextDocument& doc = *built.document;
        doc.setDocumentMargin(0);
        doc.setPageSize(QSizeF(DetailsTextLayout::kNarrowestWidth, -1));
        EXPECT_LT(doc.documentLayout()->documentSize().height(), DetailsTextLayout::kMaximumHeight) << "Qt's own layout ended";
        const QString whole = doc.property(UITextView::kWholeTextProperty).toString();
        EXPECT_EQ(whole.isEmpty(), built.cutBecause.empty());
        if (!whole.isEmpty()) {
            EXPECT_TRUE(doc.toHtml().contains(UITextView::wholeTextLink().toString())) << "the mark links to the whole text";
        }
        const std::set<QString> expected = wordsOf(QString::fromStdString(c.text));
        const std::set<QString> shown = wordsOf(reachableText(doc));
        size_t missing = 0;
        for (const QString& w : expected) missing += shown.count(w) ? 0 : 1;
        EXPECT_EQ(missing, 0u) << "of " << expected.size() << " words";
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
        EXPECT_TRUE(D::fromPlainText(text).document->isEmpty());
    }
    EXPECT_TRUE(D::fromMarkdown("<style></style><p> </p><br>", false, false).document->isEmpty());
    EXPECT_FALSE(D::fromPlainText(" a ").document->isEmpty());
}

}  // namespace
