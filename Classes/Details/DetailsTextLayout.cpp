#include "Details/DetailsTextLayout.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextLayout>
#include <QTextList>
#include <QTextTable>
#include <algorithm>
#include <cmath>
#include <ctime>
#include <vector>

#include <fmt/format.h>

#include "Depictions/ZMDepictionBudget.h"

namespace {

long long threadCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<long long>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Qt's steps (QTextDocumentLayout): the first goes 1,000 characters on, each
// next one twice as far, up to 200,000, and a step ends only at a paragraph
// of the top level some 2,000 pixels below where the layout last could end
// one. So a step that begins at position p goes at most min(200,000, p +
// 1,000) characters on (the steps before it went at least as far in all),
// then on to 2,000 pixels further down. Heights are measured at the
// narrowest width, where a paragraph has the most lines: at the widest, the
// same 2,000 pixels hold up to this many times the text.
constexpr int kFirstStep = 1000;
constexpr int kLargestStep = 200'000;
constexpr double kCheckpointSpacing = 2000 * DetailsTextLayout::kWidestWidth / DetailsTextLayout::kNarrowestWidth;
// A table's cells are laid out once to find the columns' widths, and again at them.
constexpr int kTableLayoutsPerLevel = 3;
// The CPU clock is a system call: read every few lines.
constexpr int kLinesPerClockReading = 8;

long long toNanoseconds(std::chrono::milliseconds ms) { return std::chrono::duration_cast<std::chrono::nanoseconds>(ms).count(); }

}  // namespace

class DetailsTextLayout::Trial {
public:
    Trial(DetailsTextLayout& result, ZMDepictionBudget& budget) : result_(result), budget_(budget) {}

    // Where a paragraph, or a table, of the document's top level begins: the
    // points where Qt may end a step. Ends the steps that may end here: from
    // then on, the longest step the layout may make is the one that begins
    // at the first piece still open.
    void beginItem(int position) {
        pieces_.push_back({position, y_, spent_});
        while (firstOpen_ + 1 < pieces_.size()) {
            Piece& first = pieces_[firstOpen_];
            const long long reach = static_cast<long long>(first.position) + std::min(kLargestStep, first.position + kFirstStep);
            if (position < reach) break;
            if (first.yAtReach < 0) {  // the height where its characters end: the first piece that reaches that far
                auto it = std::lower_bound(pieces_.begin() + static_cast<long>(firstOpen_), pieces_.end(), reach,
                                           [](const Piece& p, long long at) { return p.position < at; });
                first.yAtReach = it->y;
            }
            if (y_ < first.yAtReach + kCheckpointSpacing) break;
            ++firstOpen_;
        }
    }

    struct Paragraph {
        QString text;
        QFont font;
        QList<QTextLayout::FormatRange> formats;
        Qt::LayoutDirection direction = Qt::LayoutDirectionAuto;
        double width = 0;  // for its lines, its margins and indents taken off
        double topMargin = 0, bottomMargin = 0, textIndent = 0;
        int costFactor = 1;
    };

    // Lays out one paragraph after the last one, as QTextDocumentLayout
    // does; false once a limit is passed (the paragraph does not fit).
    bool layOut(const Paragraph& p) {
        const long long start = threadCpuNanoseconds();
        if (blocks_ > 0) y_ += std::max(p.topMargin, previousBottomMargin_);
        QTextLayout layout(p.text, p.font);
        layout.setFormats(p.formats);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        option.setTextDirection(p.direction);
        layout.setTextOption(option);
        layout.beginLayout();
        double bottom = y_;
        bool first = true;
        for (int lines = 1;; ++lines) {
            budget_.check();
            QTextLine line = layout.createLine();
            if (!line.isValid()) break;
            line.setLeadingIncluded(true);
            const double width = p.width - (first ? p.textIndent : 0);
            first = false;
            line.setLineWidth(std::max(0.0, width));
            if (line.naturalTextWidth() > width) {  // a word wider than the line: Qt breaks it anywhere
                option.setWrapMode(QTextOption::WrapAnywhere);
                layout.setTextOption(option);
                line.setLineWidth(std::max(line.naturalTextWidth(), width));
                option.setWrapMode(QTextOption::WordWrap);
                layout.setTextOption(option);
            }
            bottom = y_ + line.height();
            y_ += std::ceil(line.ascent() + line.descent() + line.leading());
            if (line.textLength() > kMaximumLineLength)
                return pass(Limit::Line, fmt::format("a line of {} characters (at most {})", line.textLength(), kMaximumLineLength));
            if (std::max(y_, bottom) > kMaximumHeight)
                return pass(Limit::Height, fmt::format("it would be more than {} pixels high", static_cast<long long>(kMaximumHeight)));
            if (lines % kLinesPerClockReading == 0 && !withinTime(start, p.costFactor)) return false;
        }
        layout.endLayout();
        y_ = std::max(y_, bottom);
        previousBottomMargin_ = p.bottomMargin;
        if (!withinTime(start, p.costFactor)) return false;
        spent_ += (threadCpuNanoseconds() - start) * p.costFactor;
        ++blocks_;
        result_.fittingBlocks_ = blocks_;
        result_.fittingCost_ = spent_;
        result_.fittingHeight_ = y_;
        return true;
    }

private:
    bool withinTime(long long start, int factor) {
        const long long paragraph = (threadCpuNanoseconds() - start) * factor;
        if (spent_ + paragraph > toNanoseconds(kMaximumTime))
            return pass(Limit::Time, fmt::format("laying it out would take more than {} ms", kMaximumTime.count()));
        if (spent_ - pieces_[firstOpen_].spentBefore + paragraph > toNanoseconds(kMaximumStep))
            return pass(Limit::Step, fmt::format("a step of its layout would take more than {} ms", kMaximumStep.count()));
        return true;
    }
    bool pass(Limit limit, std::string why) {
        result_.over_ = std::move(why);
        result_.limit_ = limit;
        return false;
    }

    DetailsTextLayout& result_;
    ZMDepictionBudget& budget_;
    struct Piece {
        int position;
        double y;
        long long spentBefore;
        double yAtReach = -1;
    };
    std::vector<Piece> pieces_;
    size_t firstOpen_ = 0;
    double y_ = 0, previousBottomMargin_ = 0;
    int blocks_ = 0;
    long long spent_ = 0;
};

namespace {

struct Table {
    int first, last, columns;
};

// The document's tables, outer ones before the ones they hold.
std::vector<Table> tablesOf(const QTextDocument& document) {
    std::vector<Table> tables;
    std::vector<const QTextFrame*> frames{document.rootFrame()};
    while (!frames.empty()) {
        const QTextFrame* frame = frames.back();
        frames.pop_back();
        for (const QTextFrame* child : frame->childFrames()) {
            if (const auto* table = qobject_cast<const QTextTable*>(child))
                tables.push_back({table->firstPosition(), table->lastPosition(), std::max(1, table->columns())});
            frames.push_back(child);
        }
    }
    std::sort(tables.begin(), tables.end(), [](const Table& a, const Table& b) { return a.first < b.first; });
    return tables;
}

}  // namespace

DetailsTextLayout DetailsTextLayout::of(const QTextDocument& document, ZMDepictionBudget& budget) {
    DetailsTextLayout result;
    Trial trial(result, budget);
    const std::vector<Table> tables = tablesOf(document);
    size_t nextTable = 0;
    std::vector<const Table*> open;  // the tables around the paragraph, outermost first
    try {
        for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
            const int position = block.position();
            while (!open.empty() && open.back()->last < position) open.pop_back();
            const bool topLevel = open.empty();
            while (nextTable < tables.size() && tables[nextTable].first <= position) {
                if (tables[nextTable].last >= position) open.push_back(&tables[nextTable]);
                ++nextTable;
            }
            // A table is one piece of the top level: Qt lays it out whole.
            if (topLevel) trial.beginItem(position);
            Trial::Paragraph p;
            p.width = kNarrowestWidth;
            for (const Table* table : open) {
                p.width /= table->columns;
                p.costFactor *= kTableLayoutsPerLevel;
            }
            const QTextBlockFormat format = block.blockFormat();
            double indent = format.indent();
            if (const QTextList* list = block.textList()) indent += list->format().indent();
            p.width -= format.leftMargin() + format.rightMargin() + indent * document.indentWidth();
            p.topMargin = format.topMargin();
            p.bottomMargin = format.bottomMargin();
            p.textIndent = format.textIndent();
            p.text = block.text();
            p.font = block.charFormat().font();  // an empty line's height is the block's font's
            p.formats = block.textFormats();
            p.direction = block.textDirection();
            if (!trial.layOut(p)) break;
        }
    } catch (const ZMDepictionBudget::Exceeded& e) {
        result.over_ = e.what();
        result.limit_ = Limit::Time;
    }
    return result;
}

DetailsTextLayout DetailsTextLayout::ofPlainText(const QString& text, const QFont& font, ZMDepictionBudget& budget) {
    DetailsTextLayout result;
    Trial trial(result, budget);
    Trial::Paragraph p;
    p.font = font;
    p.width = kNarrowestWidth;
    // A view's paragraph reads its font from the document's format for each
    // run of a script (QTextEngine::fontEngine): so does the trial.
    QTextLayout::FormatRange whole;
    whole.format.setFont(font);
    try {
        for (qsizetype start = 0;;) {
            qsizetype end = text.indexOf(u'\n', start);
            if (end < 0) end = text.size();
            trial.beginItem(static_cast<int>(start));
            p.text = text.mid(start, end - start);
            whole.length = static_cast<int>(p.text.size());
            p.formats = {whole};
            if (!trial.layOut(p)) break;
            if (end == text.size()) break;
            start = end + 1;
        }
    } catch (const ZMDepictionBudget::Exceeded& e) {
        result.over_ = e.what();
        result.limit_ = Limit::Time;
    }
    return result;
}
