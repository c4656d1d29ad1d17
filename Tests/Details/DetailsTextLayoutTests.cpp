// The trial layout finds what the view's own layout will make of a text: the
// same height at the same width, whatever the text holds, and it stops at the
// first paragraph past a limit, so what comes before fits.
#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QTextDocument>
#include <chrono>
#include <functional>
#include <string>

#include "Depictions/ZMDepictionBudget.h"
#include "Details/DetailsTextDocument.h"
#include "Details/DetailsTextLayout.h"

namespace {

using L = DetailsTextLayout;

std::string repeat(int count, const std::function<std::string(int)>& make) {
    std::string out;
    for (int i = 0; i < count; ++i) out += make(i);
    return out;
}

ZMDepictionBudget roomy() { return ZMDepictionBudget(SIZE_MAX, std::chrono::seconds(60)); }

// What Qt lays the document out to at the trial's width.
double qtHeight(QTextDocument& doc) {
    doc.setDocumentMargin(0);
    doc.setPageSize(QSizeF(L::kNarrowestWidth, -1));
    return doc.documentLayout()->documentSize().height();
}

// The height the trial finds is the one Qt lays the document out to, for
// each thing that changes a line's width or height: nesting (quotes and
// lists), headings, breaks inside a paragraph, other scripts, long words.
TEST(DetailsTextLayout, FindsTheHeightQtLaysTheDocumentOutTo) {
    struct Case {
        const char* name;
        std::string markdown;
    };
    const Case cases[] = {
        {"paragraphs", repeat(40, [](int i) { return "Paragraph " + std::to_string(i) + " says a few ordinary words here.\n\n"; })},
        {"nested quotes", repeat(20, [](int i) { return std::string(2 * (1 + i % 6), '>') + " quoted words at some depth\n\n"; })},
        {"nested lists", repeat(30, [](int i) { return std::string(2 * (i % 8), ' ') + "- item " + std::to_string(i) + " of a list\n"; })},
        {"headings", repeat(12, [](int i) { return std::string(1 + i % 6, '#') + " Heading " + std::to_string(i) + "\n\ntext\n\n"; })},
        {"breaks in a paragraph", repeat(50, [](int i) { return "line " + std::to_string(i) + "  \n"; })},
        {"scripts", repeat(30, [](int) { return "Latin \xD7\xA2\xD7\x91\xD7\xA8\xD7\x99\xD7\xAA \xD8\xB9\xD8\xB1\xD8\xA8\xD9\x8A 123 \xE4\xB8\xAD\xE6\x96\x87 "; })},
        {"long words", repeat(10, [](int) { return std::string(300, 'x') + " " + std::string(80, 'y') + "\n\n"; })},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto built = DetailsTextDocument::fromMarkdown(c.markdown, false, false);
        ASSERT_TRUE(built.plainBecause.empty()) << built.plainBecause;
        auto budget = roomy();
        const L trial = L::of(*built.document, budget);
        ASSERT_FALSE(trial.overLimits()) << *trial.overLimits();
        EXPECT_EQ(trial.fittingBlocks(), built.document->blockCount());
        EXPECT_NEAR(trial.height(), qtHeight(*built.document), 1.0);
    }
    // Plain text, one paragraph per line, with line separators inside them.
    const QString plain = QString::fromStdString(repeat(60, [](int i) { return "plain line " + std::to_string(i) + "\xE2\x80\xA8" "after a separator\n"; }));
    QFont font;
    font.setPixelSize(15);
    auto budget = roomy();
    const L trial = L::ofPlainText(plain.chopped(1), font, budget);
    QTextDocument doc;
    doc.setDefaultFont(font);
    doc.setPlainText(plain.chopped(1));
    EXPECT_NEAR(trial.height(), qtHeight(doc), 1.0);
}

// Past a limit the trial stops at the paragraph that passes it: the ones
// before fit (in height and in their longest line), and it says which limit.
TEST(DetailsTextLayout, StopsAtTheFirstParagraphPastALimit) {
    QFont font;
    font.setPixelSize(15);
    struct Case {
        const char* name;
        QString text;
        const char* reason;
    };
    // Lines of one letter each: each paragraph some 20,000 pixels high.
    QString tall;
    for (int p = 0; p < 400; ++p) tall += QString(1000, QChar(0x2028)) + "\n";
    const Case cases[] = {
        {"too high", tall, "pixels high"},
        {"a line of too many characters", "short\n" + QString(3000, QChar(0x0301)) + "\nshort", "a line of"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto budget = roomy();
        const L trial = L::ofPlainText(c.text, font, budget);
        ASSERT_TRUE(trial.overLimits());
        EXPECT_NE(trial.overLimits()->find(c.reason), std::string::npos) << *trial.overLimits();
        const int paragraphs = static_cast<int>(c.text.count('\n')) + 1;
        EXPECT_LT(trial.fittingBlocks(), paragraphs);
        EXPECT_LE(trial.height(), L::kMaximumHeight);
        QTextDocument fits;
        fits.setDefaultFont(font);
        ASSERT_GT(trial.fittingBlocks(), 0) << "the first paragraph fits";
        fits.setPlainText(c.text.section('\n', 0, trial.fittingBlocks() - 1));
        EXPECT_NEAR(qtHeight(fits), trial.height(), 1.0);
    }
}

// A trial whose page went stops at once, and says so.
TEST(DetailsTextLayout, ATrialWhosePageWentStops) {
    QFont font;
    ZMDepictionBudget budget(SIZE_MAX, std::chrono::seconds(60));
    budget.stopWhen([] { return true; });
    const L trial = L::ofPlainText(QString("words\n").repeated(100'000), font, budget);
    EXPECT_TRUE(budget.stopped());
    EXPECT_TRUE(trial.overLimits());
    EXPECT_LT(trial.fittingBlocks(), 1000);
}

}  // namespace
