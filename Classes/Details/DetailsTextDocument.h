#pragma once
// The road of a page's text (a package's description or changelog, the
// featured package's text) from what was written to the document its text
// view shows. Built on any thread: QTextDocument is reentrant, so pages build
// them on the depictions' queue (ZMDepictionBudget::queue) and hand each one
// whole to the GUI thread.
//
// One budget of one depiction (ZMDepictionBudget) covers the whole road, in
// this order: the rendering to HTML; the count of what that HTML would make
// of a text view (elements, paragraphs and their length, tables), before any
// document is built; the HTML import; the same count on the document; the
// pass over the links; the tidying; a trial of the layout the view will do
// (DetailsTextLayout). Past the budget or past one of the limits below, the
// text shows as plain text instead, every word kept
// (ZMMarkdownHTML::displayText), and the log says why, once. Plain text whose
// layout is still past the trial's limits shows cut: as much as fits, then a
// mark with a link that asks for the whole text (UITextView's
// wholeTextRequested; the document holds it, in lines any view lays out
// quickly). Every pass of ours is linear in the text. A build whose view has
// no use for it any more (`superseded`) stops at its next check and gives no
// document.
#include <QColor>
#include <QFont>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Depictions/ZMDepictionBudget.h"
#include "Depictions/ZMMarkdownHTML.h"

class DetailsTextLayout;
class QTextDocument;

class DetailsTextDocument {
public:
    // Bytes of HTML: Qt imports some 30 MB a second, and the import is the
    // one step that cannot stop half-way; more would leave no time for the rest.
    static constexpr size_t kMaximumHTML = 8u << 20;
    // Start tags of the HTML: each becomes a node of Qt's HTML parser, about a
    // kilobyte and several microseconds, before anything is known of the result.
    static constexpr size_t kMaximumElements = 20'000;
    // Paragraphs: the layout's steps are counted in characters, so many tiny
    // paragraphs make one step long.
    static constexpr int kMaximumBlocks = static_cast<int>(ZMMarkdownHTML::kMaximumLines);
    // Characters of one paragraph, which the layout takes in one go.
    static constexpr int kMaximumBlockLength = static_cast<int>(ZMMarkdownHTML::kMaximumLineLength);
    // Cells, and characters inside tables: a table is laid out whole, in one
    // step, and its time grows faster than its rows.
    static constexpr int kMaximumTableCells = 500;
    static constexpr int kMaximumTableText = 16 * 1024;

    using Superseded = std::function<bool()>;
    struct Built {
        std::unique_ptr<QTextDocument> document;  // null only for a superseded build
        std::string plainBecause;                 // why a rich text shows as plain text (logged); empty when it does not
        std::string cutBecause;                   // why the plain text shows cut (logged); empty when it does not
    };
    // Wall time of the trial layouts of a rich and a plain text, and of the
    // one that finds where to cut: a bound for a loaded machine, where the
    // trials' own limits (DetailsTextLayout, in CPU time) have not ended them.
    static constexpr std::chrono::milliseconds kTrialTime{1000};
    static constexpr std::chrono::milliseconds kCutTrialTime{800};
    // Bytes of a line of a text shown cut (and of the whole text it holds):
    // short enough that any line, whatever it holds, lays out at once.
    static constexpr size_t kCutLineBytes = 512;

    // A description (forChangelog false) or a changelog from Markdown (or HTML
    // that begins with "<style>"), through ZMMarkdownHTML::render: links that
    // show their own address without underline, left-aligned, without trailing
    // line breaks, in 15-pixel type.
    static Built fromMarkdown(std::string_view text, bool forChangelog, bool darkMode, Superseded superseded = {});
    // The featured package's text, through ZMMarkdown::render: links without
    // underline, in 17-pixel grey type.
    static Built fromFeaturedMarkdown(std::string_view text, Superseded superseded = {});
    // A text shown as it is (an index's description, a changelog read from a
    // page), in `font`.
    static Built fromPlainText(std::string_view text, const QFont& font = QFont(), Superseded superseded = {});

    // Why the document cannot be shown as it is (which limit it passes), or nothing.
    static std::optional<std::string> overLayoutLimits(const QTextDocument& document);
    // The same, counted on HTML before a document is built from it.
    static std::optional<std::string> overLayoutLimits(std::string_view html);

private:
    struct Look {
        int pixelSize;  // 0: the font given
        QColor plainColor;  // of the plain text; invalid: the view's own
        const char* styleSheet;
    };
    using Render = std::function<ZMMarkdownHTML::Rendering(ZMDepictionBudget&)>;

    DetailsTextDocument(std::string_view text, const Look& look, Superseded superseded, const QFont& font = QFont());
    ZMDepictionBudget& trialBudget();
    Built build(const Render& render);
    std::unique_ptr<QTextDocument> import(const std::string& html);
    void showAddressesWithoutUnderline(QTextDocument& doc);
    Built plainInstead(std::string_view shown, std::string because);
    Built plain(std::string_view shown, std::string because);
    Built cut(std::string_view shown, std::string plainBecause);
    Built cutAfter(const QString& text, const DetailsTextLayout& layout, const QString& whole, std::string plainBecause);
    std::unique_ptr<QTextDocument> plainDocument(const QString& text) const;

    std::string_view text_;
    const Look& look_;
    QFont font_;
    Superseded superseded_;
    ZMDepictionBudget budget_;
    std::optional<ZMDepictionBudget> trialBudget_;
};
