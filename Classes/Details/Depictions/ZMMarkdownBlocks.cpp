#include "Depictions/ZMMarkdownBlocks.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace {

using Line = ZMMarkdownBlocks::Line;
using Kind = ZMMarkdownBlocks::Kind;

bool isSpaceOrTab(char c) { return c == ' ' || c == '\t'; }
// CommonMark's white space inside a tag (a line break among it).
bool isSpaceChar(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isAlnum(char c) { return isLetter(c) || isDigit(c); }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool startsWithIgnoringCase(std::string_view text, std::string_view lowerPrefix) {
    if (text.size() < lowerPrefix.size()) return false;
    for (size_t k = 0; k < lowerPrefix.size(); ++k)
        if (lower(text[k]) != lowerPrefix[k]) return false;
    return true;
}

bool containsIgnoringCase(std::string_view text, std::string_view lowerNeedle) {
    for (size_t at = 0; at + lowerNeedle.size() <= text.size(); ++at)
        if (lower(text[at]) == lowerNeedle[0] && startsWithIgnoringCase(text.substr(at), lowerNeedle)) return true;
    return false;
}

bool isBlank(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return isSpaceOrTab(c); });
}

// Names that begin an HTML block which a paragraph cannot hold (the
// library's list; "source", "search" and "meta" are not in it).
bool isBlockName(std::string_view name) {
    static constexpr std::array<std::string_view, 61> kNames = {
        "address", "article", "aside",    "base",     "basefont", "blockquote", "body",   "caption", "center", "col",
        "colgroup", "dd",     "details",  "dialog",   "dir",      "div",        "dl",     "dt",      "fieldset", "figcaption",
        "figure",  "footer",  "form",     "frame",    "frameset", "h1",         "h2",     "h3",      "h4",     "h5",
        "h6",      "head",    "header",   "hr",       "html",     "iframe",     "legend", "li",      "link",   "main",
        "menu",    "menuitem", "nav",     "noframes", "ol",       "optgroup",   "option", "p",       "param",  "section",
        "summary", "table",   "tbody",    "td",       "tfoot",    "th",         "thead",  "title",   "tr",     "track",
        "ul"};
    return std::find(kNames.begin(), kNames.end(), name) != kNames.end();
}

// One line as the reading stands in it: where, in bytes and in columns (a
// tab goes on to the next multiple of 4, and may be taken in part).
struct Cursor {
    std::string_view line;  // without its break
    size_t offset = 0;
    int column = 0;
    bool partialTab = false;  // the tab at `offset` is taken in part
    size_t nonspace = 0;  // the first byte from `offset` that is no space or tab
    int nonspaceColumn = 0;
    int indent = 0;       // its columns past `offset`
    bool blank = false;
    bool found = false;   // nonspace is known (it stays while `offset` does not pass it)

    // A line's end reads as its break.
    char at(size_t i) const { return i < line.size() ? line[i] : '\n'; }
    std::string_view rest() const { return line.substr(std::min(nonspace, line.size())); }

    // Found once for all the containers a line's blanks go through.
    void findNonspace() {
        if (!found || offset > nonspace) {
            nonspace = offset;
            nonspaceColumn = column;
            while (nonspace < line.size() && isSpaceOrTab(line[nonspace]))
                nonspaceColumn += line[nonspace++] == '\t' ? 4 - nonspaceColumn % 4 : 1;
            found = true;
        }
        indent = nonspaceColumn - column;
        blank = nonspace == line.size();
    }
    // Moves `count` bytes on, or `count` columns (a tab only once all of it is taken).
    void advance(int count, bool columns) {
        while (count > 0 && offset < line.size()) {
            if (line[offset] == '\t') {
                const int toTab = 4 - column % 4;
                if (columns) {
                    const int taken = std::min(count, toTab);
                    column += taken;
                    count -= taken;
                    partialTab = taken < toTab;
                    if (!partialTab) ++offset;
                } else {
                    partialTab = false;
                    column += toTab;
                    ++offset;
                    --count;
                }
            } else {
                partialTab = false;
                ++offset;
                ++column;
                --count;
            }
        }
    }
    void advanceTo(size_t to) { advance(static_cast<int>(to - offset), false); }
};

// ---- what begins a block, at the first non-blank byte of a line ------------

// "#" to "######" and a blank (or the line's end): the marker's length with its blanks.
size_t headingMarker(std::string_view s) {
    size_t n = 0;
    while (n < s.size() && n < 7 && s[n] == '#') ++n;
    if (n == 0 || n > 6 || (n < s.size() && !isSpaceOrTab(s[n]))) return 0;
    while (n < s.size() && isSpaceOrTab(s[n])) ++n;
    return n;
}

// Three or more '`' (none after them on the line) or '~': their count.
size_t openingFence(std::string_view s) {
    if (s.empty() || (s[0] != '`' && s[0] != '~')) return 0;
    const size_t n = std::min(s.find_first_not_of(s[0]), s.size());
    if (n < 3 || (s[0] == '`' && s.find('`', n) != std::string_view::npos)) return 0;
    return n;
}

// Three or more of one fence character and nothing but blanks after them: their count.
size_t closingFence(std::string_view s) {
    const size_t n = s.empty() ? 0 : std::min(s.find_first_not_of(s[0]), s.size());
    return n >= 3 && isBlank(s.substr(n)) ? n : 0;
}

bool setextUnderline(std::string_view s) {
    if (s.empty() || (s[0] != '=' && s[0] != '-')) return false;
    return isBlank(s.substr(std::min(s.find_first_not_of(s[0]), s.size())));
}

// Three or more of one of "*", "-", "_", blanks between and nothing else.
// Where it is not one, `failed` is where the reading stopped: no rule can
// begin before it on the line either.
bool thematicBreak(std::string_view s, size_t& failed) {
    failed = 0;
    if (s.empty() || (s[0] != '*' && s[0] != '-' && s[0] != '_')) return false;
    size_t marks = 0, i = 0;
    for (; i < s.size(); ++i) {
        if (s[i] == s[0]) ++marks;
        else if (!isSpaceOrTab(s[i])) break;
    }
    failed = i;
    return i == s.size() && marks >= 3;
}

// A list item's marker ("-", "+", "*", or up to nine digits and "." or ")"),
// followed by a blank or the line's end: its length. One that would break a
// paragraph must have text after it, and a number must be 1.
size_t listMarker(const Cursor& c, bool interruptsParagraph) {
    size_t pos = c.nonspace;
    const char first = c.at(pos);
    if (first == '*' || first == '-' || first == '+') {
        ++pos;
    } else if (isDigit(first)) {
        long start = 0;
        int digits = 0;
        do {
            start = start * 10 + (c.at(pos++) - '0');
        } while (++digits < 9 && isDigit(c.at(pos)));
        if (interruptsParagraph && start != 1) return 0;
        if (c.at(pos) != '.' && c.at(pos) != ')') return 0;
        ++pos;
    } else {
        return 0;
    }
    if (!isSpaceChar(c.at(pos))) return 0;
    if (interruptsParagraph) {
        size_t i = pos;
        while (isSpaceOrTab(c.at(i))) ++i;
        if (i >= c.line.size()) return 0;
    }
    return pos - c.nonspace;
}

// Whether an HTML block of `kind` (1 to 5) ends on this line.
bool endsHTMLBlock(int kind, std::string_view s) {
    switch (kind) {
        case 1:
            return containsIgnoringCase(s, "</script>") || containsIgnoringCase(s, "</pre>") ||
                   containsIgnoringCase(s, "</style>");
        case 2: return s.find("-->") != std::string_view::npos;
        case 3: return s.find("?>") != std::string_view::npos;
        case 4: return s.find('>') != std::string_view::npos;
        case 5: return s.find("]]>") != std::string_view::npos;
        default: return false;
    }
}

// ---- the reading ------------------------------------------------------------

class Reader {
public:
    // `limit`: where the lines it is given end in `text`.
    Reader(std::string_view text, size_t limit, const ZMMarkdownBlocks::Block& emit, int depth, bool commentBlocks)
        : text_(text), limit_(limit), emit_(emit), depth_(depth), commentBlocks_(commentBlocks) {}

    void line(size_t start, size_t end, int spaces = 0);
    void finish() {
        closeLeaf();
        containers_.clear();
        blankStops_.clear();
    }

private:
    enum class Leaf { None, Paragraph, Fenced, Indented, HTML };
    struct Container {
        bool quote;     // else a list item
        int indent;     // a list item's: the columns its content begins at
        bool hasChild;  // a list item that holds nothing ends at a blank line
    };

    // The start of an HTML block of kind 1 to 7 (0: none) at the cursor.
    int htmlBlockStart(const Cursor& c, bool mayBeOpenTag) const;
    void open(bool& started, size_t matched);
    // Containers nest no deeper (ZMMarkdownHTML keeps as many markers on a
    // line): a line goes through each of them.
    static constexpr size_t kMaximumContainers = 64;
    bool full() const { return containers_.size() >= kMaximumContainers; }
    // A block opens in the innermost container: it holds something.
    void holdsChild() {
        if (containers_.empty() || containers_.back().hasChild) return;
        containers_.back().hasChild = true;
        blankStops_.clear();
    }
    void openContainer(bool quote, int indent) {
        holdsChild();
        containers_.push_back({quote, indent, false});
        blankStops_.clear();
    }
    void openLeaf(Leaf leaf) {
        holdsChild();
        leaf_ = leaf;
        lines_.clear();
    }
    void closeLeaf();
    void closeHTML();
    bool endsAtBlankLine(size_t from);
    void reread(std::vector<Line> lines, bool commentBlocks) const;

    // A search that goes on from where it answered last, for a reading's
    // searches only go forward.
    struct Search {
        size_t from = std::string_view::npos, at = std::string_view::npos;
    };
    // The first "</" at or after `from` that `matches` (given what follows "</"), before limit_.
    template <class Matches> size_t nextEndTag(Search& search, size_t from, Matches&& matches) {
        if (search.from == std::string_view::npos || from < search.from || (search.at != std::string_view::npos && search.at < from)) {
            search.from = from;
            search.at = std::string_view::npos;
            // Only up to limit_: a reading of a container's lines must not look
            // through the rest of the text each time (quadratic over many such containers).
            const std::string_view within = text_.substr(0, limit_);
            for (size_t at = within.find("</", from); at != std::string_view::npos; at = within.find("</", at + 2))
                if (matches(within.substr(at + 2, 8))) {
                    search.at = at;
                    break;
                }
        }
        return search.at;
    }

    std::string_view text_;
    size_t limit_;
    const ZMMarkdownBlocks::Block& emit_;
    int depth_;
    bool commentBlocks_;
    std::vector<Container> containers_;
    Leaf leaf_ = Leaf::None;
    std::vector<Line> lines_;  // the open paragraph's or HTML block's
    char fenceChar_ = 0;
    size_t fenceLength_ = 0;
    int fenceOffset_ = 0;
    int htmlKind_ = 0;
    bool htmlEnded_ = false;  // by its own end, not its container's
    // An HTML block that opens a script or a style: which, whether its lines
    // so far hold its end tag, whether its first blank line was met, and the
    // containers it lies in.
    std::string_view rawTag_;
    bool holdsEndTag_ = false, blankMet_ = false;
    size_t htmlContainers_ = 0;
    Search endTags_[2], endCondition_;  // of scripts, of styles
    // For each container, the first at or after it that a blank line with no
    // blanks left stops at (a quote, or a list item that holds nothing):
    // made once for a run of blank lines (empty: to be made again).
    std::vector<size_t> blankStops_;
    // Where the lines after a split block end, read as a text of their own
    // (npos: none): what is open there ends there.
    size_t splitEnd_ = std::string_view::npos;
};

int Reader::htmlBlockStart(const Cursor& c, bool mayBeOpenTag) const {
    const std::string_view s = c.rest();
    if (s.size() < 2 || s[0] != '<') return 0;
    for (std::string_view name : {"script", "pre", "style"})
        if (startsWithIgnoringCase(s.substr(1), name) && (isSpaceChar(c.at(c.nonspace + 1 + name.size())) || c.at(c.nonspace + 1 + name.size()) == '>'))
            return 1;
    if (s.starts_with("<!--")) return commentBlocks_ ? 2 : 0;
    if (s[1] == '?') return 3;
    if (s[1] == '!' && s.size() > 2 && s[2] >= 'A' && s[2] <= 'Z') return 4;
    if (s.starts_with("<![CDATA[")) return 5;
    size_t end = s[1] == '/' ? 2 : 1;
    std::string name;
    while (end < s.size() && isAlnum(s[end]) && name.size() < 16) name += lower(s[end++]);
    const char after = c.at(c.nonspace + end);
    if (isBlockName(name) && (isSpaceChar(after) || after == '>' || (after == '/' && c.at(c.nonspace + end + 1) == '>'))) return 6;
    if (mayBeOpenTag) {
        size_t examined = 0;
        const size_t length = ZMMarkdownBlocks::tagLength(s, examined);
        if (length > 0 && s.find_first_not_of(" \t\f", length) == std::string_view::npos) return 7;
    }
    return 0;
}

// Before the first block a line begins: what did not go on ends.
void Reader::open(bool& started, size_t matched) {
    if (started) return;
    started = true;
    closeLeaf();
    if (matched == containers_.size()) return;
    containers_.resize(matched);
    blankStops_.clear();
}

void Reader::line(size_t start, size_t end, int spaces) {
    if (splitEnd_ != std::string_view::npos && start > splitEnd_) {
        finish();
        splitEnd_ = std::string_view::npos;
    }
    // A line read again after markers that took part of a tab begins with
    // what was left of it, as spaces.
    std::string padded;
    if (spaces > 0) padded = std::string(static_cast<size_t>(spaces), ' ').append(text_.substr(start, end - start));
    Cursor c{spaces > 0 ? std::string_view(padded) : text_.substr(start, end - start)};
    const size_t padding = static_cast<size_t>(spaces);
    auto inText = [&](size_t offset) { return offset < padding ? start : start + offset - padding; };
    // The containers this line goes on.
    size_t matched = 0;
    c.findNonspace();
    if (c.blank) {
        // A list item takes a blank line's blanks as far as they go, then it
        // goes on if it holds something: the blanks are read once.
        if (blankStops_.empty()) {
            blankStops_.resize(containers_.size() + 1, containers_.size());
            for (size_t k = containers_.size(); k-- > 0;)
                blankStops_[k] = containers_[k].quote || !containers_[k].hasChild ? k : blankStops_[k + 1];
        }
        while (matched < containers_.size() && !containers_[matched].quote && c.indent >= containers_[matched].indent) {
            c.advance(containers_[matched++].indent, true);
            c.findNonspace();
        }
        matched = blankStops_[matched];
        c.advanceTo(c.nonspace);
    }
    for (; !c.blank && matched < containers_.size(); ++matched) {
        Container& k = containers_[matched];
        c.findNonspace();
        if (k.quote) {
            if (c.indent > 3 || c.at(c.nonspace) != '>') break;
            c.advance(c.indent + 1, true);
            if (isSpaceOrTab(c.at(c.offset))) c.advance(1, true);
        } else if (c.indent >= k.indent) {
            c.advance(k.indent, true);
        } else {
            break;
        }
    }
    // The open leaf, when they all do.
    bool leafGoesOn = false;
    if (matched == containers_.size()) {
        c.findNonspace();
        switch (leaf_) {
            case Leaf::Fenced:
                if (c.indent <= 3 && c.at(c.nonspace) == fenceChar_ && closingFence(c.rest()) >= fenceLength_) {
                    closeLeaf();  // the closing fence: the line is read
                    return;
                }
                for (int i = fenceOffset_; i > 0 && isSpaceOrTab(c.at(c.offset)); --i) c.advance(1, true);
                leafGoesOn = true;
                break;
            case Leaf::Indented:
                if (c.indent >= 4) c.advance(4, true);
                else if (c.blank) c.advanceTo(c.nonspace);
                leafGoesOn = c.indent >= 4 || c.blank;
                break;
            case Leaf::HTML: leafGoesOn = !(c.blank && htmlKind_ >= 6); break;
            case Leaf::Paragraph: leafGoesOn = !c.blank; break;
            case Leaf::None: break;
        }
    }
    // New blocks, unless the line is a code block's or an HTML block's.
    bool maybeLazy = leaf_ == Leaf::Paragraph;  // until a container opens
    size_t ruleFailedAt = 0;
    bool started = false;
    const bool literal = leafGoesOn && leaf_ != Leaf::Paragraph;
    while (!literal) {
        c.findNonspace();
        const bool indented = c.indent >= 4;
        const bool inParagraph = !started && leafGoesOn;  // a paragraph that goes on: what may break it is limited
        const std::string_view s = c.rest();
        if (!indented && c.at(c.nonspace) == '>' && !full()) {
            open(started, matched);
            c.advanceTo(c.nonspace + 1);
            if (isSpaceOrTab(c.at(c.offset))) c.advance(1, true);
            openContainer(true, 0);
            maybeLazy = false;
            continue;
        }
        if (!indented) {
            if (const size_t marker = headingMarker(s)) {
                open(started, matched);
                c.advanceTo(c.nonspace + marker);
                openLeaf(Leaf::None);
                const Line heading{inText(c.offset), end};
                emit_(Kind::Text, std::span<const Line>(&heading, 1));
                return;
            }
            if (const size_t fence = openingFence(s)) {
                open(started, matched);
                openLeaf(Leaf::Fenced);
                fenceChar_ = s[0];
                fenceLength_ = fence;
                fenceOffset_ = static_cast<int>(c.nonspace - c.offset);
                return;
            }
            if (const int kind = htmlBlockStart(c, !inParagraph)) {
                open(started, matched);
                openLeaf(Leaf::HTML);
                htmlKind_ = kind;
                htmlEnded_ = false;
                rawTag_ = kind == 1 && startsWithIgnoringCase(c.line.substr(c.offset), "<script") ? "script"
                          : kind == 1 && startsWithIgnoringCase(c.line.substr(c.offset), "<style") ? "style"
                                                                                                   : "";
                holdsEndTag_ = blankMet_ = false;
                htmlContainers_ = containers_.size();
                break;
            }
            if (inParagraph && setextUnderline(s)) {
                closeLeaf();  // a heading: the paragraph's lines, underlined by this one
                return;
            }
            // A rule's scan stops where the last one did: the markers of
            // a line are not read again for each container they open.
            size_t failed = 0;
            if (c.nonspace >= ruleFailedAt && thematicBreak(s, failed)) {
                open(started, matched);
                openLeaf(Leaf::None);  // a rule, read as written
                return;
            }
            if (c.nonspace >= ruleFailedAt) ruleFailedAt = c.nonspace + failed;
            if (const size_t marker = full() ? 0 : listMarker(c, inParagraph)) {
                open(started, matched);
                c.advanceTo(c.nonspace + marker);
                // The item's content begins past one to four blanks; past
                // more, or none, one blank after the marker.
                const int markerColumn = c.column;
                Cursor spaces = c;
                while (spaces.column - markerColumn <= 5 && isSpaceOrTab(spaces.at(spaces.offset))) spaces.advance(1, true);
                const int blanks = spaces.column - markerColumn;
                int padding = static_cast<int>(marker) + blanks;
                if (blanks >= 5 || blanks < 1 || spaces.offset >= c.line.size()) {
                    padding = static_cast<int>(marker) + 1;
                    if (blanks > 0) c.advance(1, true);
                } else {
                    c = spaces;
                }
                openContainer(false, c.indent + padding);
                maybeLazy = false;
                continue;
            }
        }
        if (indented && !maybeLazy && !c.blank) {
            open(started, matched);
            c.advance(4, true);
            openLeaf(Leaf::Indented);
            return;
        }
        break;
    }
    c.findNonspace();
    // A line that begins nothing new goes on a paragraph whose containers it did not match.
    if (!started && leaf_ == Leaf::Paragraph && !leafGoesOn && !c.blank) {
        lines_.push_back({inText(c.nonspace), end});
        return;
    }
    if (!started && !leafGoesOn) open(started, matched);
    switch (leaf_) {
        case Leaf::Fenced:
        case Leaf::Indented: return;  // code reads as written
        case Leaf::HTML:
            if (!rawTag_.empty() && !holdsEndTag_ && !blankMet_ && !lines_.empty() && isBlank(c.line.substr(c.offset))) {
                blankMet_ = true;
                // Out of any container the block would end at the end of
                // the text (or its end condition's line): whether the
                // rendering splits it is known now.
                if (htmlContainers_ == 0 && endsAtBlankLine(std::min(end + 1, limit_))) {
                    closeLeaf();
                    return;
                }
            }
            // The HTML's line, as the block holds it: a tab taken in part by
            // the markers is what is left of it, in spaces.
            if (c.partialTab) lines_.push_back({inText(c.offset) + 1, end, 4 - c.column % 4});
            else lines_.push_back({inText(c.offset), end, c.offset < padding ? spaces - static_cast<int>(c.offset) : 0});
            if (!rawTag_.empty() && containsIgnoringCase(c.line.substr(c.offset), "</" + std::string(rawTag_))) holdsEndTag_ = true;
            if (htmlKind_ <= 5 && endsHTMLBlock(htmlKind_, c.rest())) {
                htmlEnded_ = true;
                closeLeaf();
            }
            return;
        case Leaf::Paragraph: lines_.push_back({inText(c.nonspace), end}); return;
        case Leaf::None:
            if (c.blank) return;
            openLeaf(Leaf::Paragraph);
            lines_.push_back({inText(c.nonspace), end});
            return;
    }
}

void Reader::closeLeaf() {
    if (leaf_ == Leaf::Paragraph && !lines_.empty()) emit_(Kind::Text, lines_);
    if (leaf_ == Leaf::HTML) closeHTML();
    leaf_ = Leaf::None;
    lines_.clear();
}

void Reader::closeHTML() {
    if (htmlKind_ == 2 && !htmlEnded_) return reread(std::move(lines_), false);
    // In a container, the block ended with it: split it at its first blank
    // line now, and read the lines after it again.
    if (htmlContainers_ > 0 && !rawTag_.empty() && !holdsEndTag_ && depth_ < ZMMarkdownBlocks::kMaximumRereads) {
        const auto blank = std::find_if(lines_.begin() + 1, lines_.end(),
                                        [&](const Line& l) { return isBlank(text_.substr(l.start, l.end - l.start)); });
        if (blank != lines_.end()) {
            emit_(Kind::HTML, std::span<const Line>(lines_.begin(), blank));
            return reread(std::vector<Line>(blank + 1, lines_.end()), commentBlocks_);
        }
    }
    emit_(Kind::HTML, lines_);
}

// Whether the open script or style block, met by a blank line whose next
// line begins at `from`, ends there: when its end tag is not in it, up to the
// line of its end condition (or the end of the text).
bool Reader::endsAtBlankLine(size_t from) {
    const size_t condition = nextEndTag(endCondition_, from, [](std::string_view name) {
        return startsWithIgnoringCase(name, "script>") || startsWithIgnoringCase(name, "style>") || startsWithIgnoringCase(name, "pre>");
    });
    const size_t blockEnd = condition == std::string_view::npos ? limit_ : std::min(text_.find_first_of("\r\n", condition), limit_);
    const size_t endTag = nextEndTag(endTags_[rawTag_ == "script" ? 0 : 1], from,
                                     [&](std::string_view name) { return startsWithIgnoringCase(name, rawTag_); });
    if (endTag != std::string_view::npos && endTag < blockEnd) return false;
    if (condition != std::string_view::npos) splitEnd_ = blockEnd;
    return true;
}

void Reader::reread(std::vector<Line> lines, bool commentBlocks) const {
    Reader again(text_, lines.empty() ? 0 : lines.back().end, emit_, depth_ + 1, commentBlocks);
    for (const Line& l : lines) again.line(l.start, l.end, l.spaces);
    again.finish();
}

}  // namespace

void ZMMarkdownBlocks::read(std::string_view text, const Block& block) {
    Reader reader(text, text.size(), block, 0, true);
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find_first_of("\r\n", start), text.size());
        reader.line(start, end);
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    reader.finish();
}

size_t ZMMarkdownBlocks::tagLength(std::string_view s, size_t& examined) {
    size_t i = 1, furthest = 0;
    auto result = [&](size_t length) {
        examined += std::max(i, furthest);
        return length;
    };
    if (s.size() < 3 || s[0] != '<') return 0;
    const bool closing = s[1] == '/';
    if (closing) ++i;
    if (i >= s.size() || !isLetter(s[i])) return result(0);
    while (i < s.size() && (isAlnum(s[i]) || s[i] == '-')) ++i;
    if (closing) {
        while (i < s.size() && isSpaceChar(s[i])) ++i;
        return result(i < s.size() && s[i] == '>' ? i + 1 : 0);
    }
    auto isNameStart = [](char c) { return isLetter(c) || c == '_' || c == ':'; };
    auto isNameChar = [](char c) { return isAlnum(c) || c == '_' || c == ':' || c == '.' || c == '-'; };
    auto isUnquoted = [](char c) {
        return !isSpaceChar(c) && c != '"' && c != '\'' && c != '=' && c != '<' && c != '>' && c != '`' && c != '\0';
    };
    for (;;) {
        const size_t spaceStart = i;
        while (i < s.size() && isSpaceChar(s[i])) ++i;
        if (i >= s.size()) return result(0);
        if (s[i] == '>') return result(i + 1);
        if (s[i] == '/') return result(i + 1 < s.size() && s[i + 1] == '>' ? i + 2 : 0);
        if (i == spaceStart || !isNameStart(s[i])) return result(0);  // an attribute has a blank before it
        while (i < s.size() && isNameChar(s[i])) ++i;
        size_t j = i;
        while (j < s.size() && isSpaceChar(s[j])) ++j;
        if (j >= s.size() || s[j] != '=') continue;  // no value: the blanks are the next attribute's
        ++j;
        while (j < s.size() && isSpaceChar(s[j])) ++j;
        if (j >= s.size()) return result(0);
        if (s[j] == '"' || s[j] == '\'') {
            const size_t close = s.find(s[j], j + 1);
            furthest = std::max(furthest, close == std::string_view::npos ? s.size() : close);
            if (close == std::string_view::npos) return result(0);
            i = close + 1;
        } else {
            const size_t valueStart = j;
            while (j < s.size() && isUnquoted(s[j])) ++j;
            i = j;
            if (j == valueStart) return result(0);
        }
    }
}
