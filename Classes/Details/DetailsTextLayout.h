#pragma once
// What laying out a text will cost the window, found before the text reaches
// it: a trial layout on the depictions' queue, paragraph by paragraph and
// line by line, as a text view's document layout will do it.
//
// The view lays a document out on the GUI thread, in Qt's steps: each step
// goes on to the first paragraph at least 200,000 characters and 2,000
// pixels past where it started, and cannot stop half-way. Nothing of that
// stops at a cost, and a text past 8,388,607 pixels (Qt's fixed-point
// maximum) is never laid out at all: the layout loops for good. What costs is
// no count of characters: the runs of direction and of formats in a
// paragraph (its layout grows with their square), clusters of combining
// marks (a line holds thousands of glyphs), nesting that leaves no width (a
// line per word). So the trial measures what the window would spend: the
// height at the narrowest width the view takes, the thread's CPU time of each
// paragraph, the steps Qt would make of them, and the characters a line holds.
//
// A text passes when its whole layout fits kMaximumTime, each step
// kMaximumStep, its height kMaximumHeight and each line kMaximumLineLength.
// The trial stops at the first paragraph past a limit (what came before it
// fits: a text may be cut there) or when its budget is spent (its time, or its
// page went: ZMDepictionBudget::check throws).
#include <QFont>
#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>
#include <string>

class QTextDocument;
class ZMDepictionBudget;

class DetailsTextLayout {
public:
    // The widths a text view takes: the narrowest window leaves a page's
    // column some 340 pixels; a wide screen's window, some 2,500.
    static constexpr double kNarrowestWidth = 320;
    static constexpr double kWidestWidth = 2560;
    // Height at the narrowest width: half of what Qt's layout can reach.
    static constexpr double kMaximumHeight = 4'000'000;
    // CPU time of the whole layout, which the window spends in steps.
    static constexpr std::chrono::milliseconds kMaximumTime{500};
    // CPU time of one step: the window's longest stall over the text.
    static constexpr std::chrono::milliseconds kMaximumStep{50};
    // Characters on one line at the narrowest width: a line is drawn whole
    // whenever a part of it shows.
    static constexpr int kMaximumLineLength = 1000;

    // A document as a text view would show it (its own fonts and formats, no margin).
    static DetailsTextLayout of(const QTextDocument& document, ZMDepictionBudget& budget);
    // Plain text, one paragraph per line of `text` ("\n"), in `font`.
    static DetailsTextLayout ofPlainText(const QString& text, const QFont& font, ZMDepictionBudget& budget);

    // Why the text cannot be shown whole (the first limit it passes); nothing when it can.
    const std::optional<std::string>& overLimits() const { return over_; }
    // Which limit that is: the time covers the trial's own budget too.
    enum class Limit { None, Height, Time, Step, Line };
    Limit limit() const { return limit_; }
    // The paragraphs before the first one past a limit: all of them when none is.
    int fittingBlocks() const { return fittingBlocks_; }
    // The CPU time and the height of laying out what fits.
    std::chrono::nanoseconds cost() const { return std::chrono::nanoseconds(fittingCost_); }
    double height() const { return fittingHeight_; }

private:
    class Trial;
    std::optional<std::string> over_;
    Limit limit_ = Limit::None;
    int fittingBlocks_ = 0;
    long long fittingCost_ = 0;
    double fittingHeight_ = 0;
};
