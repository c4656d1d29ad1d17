#include "Depictions/ZMTextWithoutMarkup.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

#include "Depictions/ZMDepictionBudget.h"
#include "Depictions/ZMHTMLDocument.h"
#include "Depictions/ZMMarkdownBlocks.h"
#include "Depictions/ZMMarkdownHTML.h"

namespace {

constexpr size_t npos = std::string_view::npos;
using Line = ZMMarkdownBlocks::Line;

void appendUTF8(std::string& out, char32_t c) {
    char buffer[4];
    int32_t length = 0;
    U8_APPEND_UNSAFE(buffer, length, static_cast<UChar32>(c));
    out.append(buffer, static_cast<size_t>(length));
}

void appendReference(std::string& out, const ZMHTMLDocument::CharacterReference& reference) {
    appendUTF8(out, reference.first);
    if (reference.second != 0) appendUTF8(out, reference.second);
}

bool startsWithIgnoringCase(std::string_view text, size_t at, std::string_view prefix) {
    if (text.size() - at < prefix.size()) return false;
    for (size_t k = 0; k < prefix.size(); ++k)
        if (std::tolower(static_cast<unsigned char>(text[at + k])) != prefix[k]) return false;
    return true;
}

bool endsALine(std::string_view name) {
    static constexpr std::string_view kBlocks[] = {"p",  "div", "h1", "h2", "h3",  "h4",    "h5", "h6",     "li",        "ul",
                                                   "ol", "tr",  "dl", "dd", "dt",  "pre",   "hr", "center", "blockquote", "table",
                                                   "section", "article", "header", "footer", "fieldset", "title"};
    return std::find(std::begin(kBlocks), std::end(kBlocks), name) != std::end(kBlocks);
}

// What a tag of raw HTML leaves in the text: a line break, a space before a
// cell, the end of a line where a block begins or ends (unless a line just
// began: at `lineBegins`, past the markers of a Markdown line).
void tagInText(std::string_view name, bool closing, std::string& out, size_t lineBegins = npos) {
    if (name == "br") out += '\n';
    else if ((name == "td" || name == "th") && !closing) out += ' ';
    else if (endsALine(name) && !out.empty() && out.back() != '\n' && out.size() != lineBegins) out += '\n';
}

// Where a search from `from` answers. Each answer is kept: a text of markup
// that never ends is not searched to its end at each opener.
struct Kept {
    size_t searchedFrom = npos, at = npos;
};

template <class Find> size_t next(Kept& kept, size_t from, Find&& find) {
    if (kept.searchedFrom == npos || from < kept.searchedFrom || (kept.at != npos && kept.at < from)) {
        kept.searchedFrom = from;
        kept.at = find(from);
    }
    return kept.at;
}

// The lines of a block as one text, each line break a '\n' (the markers of a
// line are not in it). What is copied from it keeps the text's own line
// breaks, with the markers of the line after each.
class BlockText {
public:
    // `out` holds what comes before the block, up to its first line's content.
    BlockText(std::string_view source, std::span<const Line> lines, const std::string& out)
        : source_(source), lines_(lines), lineBegins_(out.size()) {
        if (lines.size() == 1) {
            content_ = source.substr(lines[0].start, lines[0].end - lines[0].start);
            return;
        }
        for (size_t k = 0; k < lines.size(); ++k) {
            if (k > 0) {
                breaks_.push_back(joined_.size());
                joined_ += '\n';
            }
            joined_.append(source.substr(lines[k].start, lines[k].end - lines[k].start));
        }
        content_ = joined_;
    }
    BlockText(const BlockText&) = delete;
    BlockText& operator=(const BlockText&) = delete;
    std::string_view content() const { return content_; }

    // Where in the output the line being written begins, past its markers.
    size_t lineBegins() const { return lineBegins_; }

    // Appends content()[from, to).
    void copy(size_t from, size_t to, std::string& out) {
        while (from < to) {
            const size_t lineBreak = content_.substr(0, to).find('\n', from);
            if (lineBreak == npos) {
                out.append(content_.substr(from, to - from));
                return;
            }
            out.append(content_.substr(from, lineBreak - from));
            appendBreak(lineBreak, out);
            from = lineBreak + 1;
        }
    }
    // Appends the line break at content()[at].
    void appendBreak(size_t at, std::string& out) {
        const size_t line = static_cast<size_t>(std::lower_bound(breaks_.begin(), breaks_.end(), at) - breaks_.begin());
        if (line + 1 >= lines_.size()) out.push_back('\n');
        else out.append(source_.substr(lines_[line].end, lines_[line + 1].start - lines_[line].end));
        lineBegins_ = out.size();
    }

private:
    std::string_view source_;
    std::span<const Line> lines_;
    std::string joined_;
    std::string_view content_;
    std::vector<size_t> breaks_;  // where each '\n' stands in content_
    size_t lineBegins_;
};

// What the readings of one Markdown text share: the work spent in searches
// that may go far (inline raw HTML, the ends of the tags of HTML blocks), and
// whether they are still made.
struct Shared {
    ZMDepictionBudget work;
    bool searching = true;
};

bool isHTMLSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

// The '>' that ends the tag whose name begins at `at`, found as an HTML
// parser's tokenizer finds it (a quoted value may hold one); npos when the
// text ends first. Adds the bytes it looked at to `examined`.
size_t tagEnd(std::string_view in, size_t at, size_t& examined) {
    enum { kName, kBeforeAttribute, kAttribute, kAfterAttribute, kBeforeValue, kQuoted, kUnquoted, kSelfClosing } state = kName;
    size_t i = at;
    for (; i < in.size(); ++i) {
        const char c = in[i];
        if (c == '>') break;
        switch (state) {
            case kName:
            case kAttribute:
                if (isHTMLSpace(c)) state = state == kName ? kBeforeAttribute : kAfterAttribute;
                else if (c == '/') state = kSelfClosing;
                else if (c == '=' && state == kAttribute) state = kBeforeValue;
                break;
            case kBeforeAttribute:
            case kAfterAttribute:
                if (c == '/') state = kSelfClosing;
                else if (c == '=' && state == kAfterAttribute) state = kBeforeValue;
                else if (!isHTMLSpace(c)) state = kAttribute;  // a "=" first is a name's
                break;
            case kBeforeValue:
                if (c == '"' || c == '\'') {
                    const size_t close = in.find(c, i + 1);
                    if (close == npos) {
                        examined += in.size() - at;
                        return npos;
                    }
                    i = close;
                    state = kQuoted;
                } else if (!isHTMLSpace(c)) {
                    state = kUnquoted;
                }
                break;
            case kQuoted:  // just past the closing quote
            case kSelfClosing:
                state = isHTMLSpace(c) ? kBeforeAttribute : c == '/' ? kSelfClosing : kAttribute;
                break;
            case kUnquoted:
                if (isHTMLSpace(c)) state = kBeforeAttribute;
                break;
        }
    }
    examined += i - at;
    return i < in.size() ? i : npos;
}

// HTML: `block` null for a whole text (white space is a space outside
// <pre>, an unclosed comment takes the rest); else an HTML block of a
// Markdown text (its lines stay, an unclosed comment is text).
void readHTML(std::string_view in, std::string& out, BlockText* block, Shared* shared) {
    auto finding = [&](std::string_view needle) { return [&in, needle](size_t from) { return in.find(needle, from); }; };
    auto endTagOf = [&](std::string_view name) {
        return [&in, name](size_t from) {
            size_t at = in.find("</", from);
            while (at != npos && !startsWithIgnoringCase(in, at + 2, name)) at = in.find("</", at + 2);
            return at;
        };
    };
    Kept nextTagEnd, commentEnd, bangCommentEnd, scriptEnd, styleEnd, endTagEnd;
    int preformatted = 0;
    for (size_t i = 0; i < in.size();) {
        const char c = in[i];
        if (c == '&') {
            if (const auto reference = ZMHTMLDocument::characterReferenceAt(in, i)) {
                appendReference(out, *reference);
                i += reference->length;
                continue;
            }
        }
        const char following = i + 1 < in.size() ? in[i + 1] : '\0';
        const bool markup = c == '<' && (std::isalpha(static_cast<unsigned char>(following)) || following == '/' ||
                                         following == '!' || following == '?');
        if (!markup) {
            if (block && c == '\n') block->appendBreak(i, out);
            else out += !block && preformatted == 0 && (c == '\n' || c == '\r' || c == '\t') ? ' ' : c;
            ++i;
            continue;
        }
        if (in.substr(i, 4) == "<!--") {
            if (!block) {
                const size_t end = next(commentEnd, i + 4, finding("-->"));
                i = end == npos ? in.size() : end + 3;
                continue;
            }
            // As an HTML parser ends it: at once ("<!-->", "<!--->"), else at
            // the first "-->" or "--!>". One that nothing ends is text.
            if (in.substr(i + 4, 1) == ">" || in.substr(i + 4, 2) == "->") {
                i = in.find('>', i + 4) + 1;
                continue;
            }
            const size_t end = std::min(next(commentEnd, i + 4, finding("-->")), next(bangCommentEnd, i + 4, finding("--!>")));
            if (end == npos) out += in[i++];
            else i = end + (in[end + 2] == '!' ? 4 : 3);
            continue;
        }
        // A tag's end as the parser finds it, past quoted values, while the
        // work allows; else (and for "<!", "<?") the next '>'.
        const bool tag = std::isalpha(static_cast<unsigned char>(following)) ||
                         (following == '/' && i + 2 < in.size() && std::isalpha(static_cast<unsigned char>(in[i + 2])));
        size_t end = npos;
        bool found = false;
        if (tag && shared && shared->searching) {
            try {
                size_t examined = 0;
                end = tagEnd(in, i + (following == '/' ? 2 : 1), examined);
                shared->work.work(examined);
                found = true;
            } catch (const ZMDepictionBudget::Exceeded&) {
                shared->searching = false;
            }
        }
        if (!found) end = next(nextTagEnd, i, finding(">"));
        if (end == npos) {  // no tag: text
            out += c;
            ++i;
            continue;
        }
        const bool closing = following == '/';
        size_t nameEnd = i + (closing ? 2 : 1);
        std::string name;
        while (nameEnd < end && std::isalnum(static_cast<unsigned char>(in[nameEnd])))
            name += static_cast<char>(std::tolower(static_cast<unsigned char>(in[nameEnd++])));
        tagInText(name, closing, out, block ? block->lineBegins() : npos);
        if (name == "pre") preformatted = std::max(0, preformatted + (closing ? -1 : 1));
        // What a script or style holds is no text: reading goes on after
        // its end tag (or the end of the block).
        if (!closing && (name == "script" || name == "style")) {
            const size_t close = name == "script" ? next(scriptEnd, end, endTagOf("script")) : next(styleEnd, end, endTagOf("style"));
            const size_t closeEnd = close == npos ? npos : next(endTagEnd, close, finding(">"));
            end = closeEnd == npos ? in.size() : closeEnd;
        }
        i = end + 1;
    }
}

// ---- Markdown ---------------------------------------------------------------

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isAlnum(char c) { return isLetter(c) || (c >= '0' && c <= '9'); }
bool isSpaceChar(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool isASCIIPunctuation(char c) { return (c >= '!' && c <= '/') || (c >= ':' && c <= '@') || (c >= '[' && c <= '`') || (c >= '{' && c <= '~'); }

// The inline text of a paragraph or heading.
class InlineReader {
public:
    InlineReader(BlockText& block, std::string& out, Shared& shared)
        : block_(block), s_(block.content()), out_(out), shared_(shared) {}

    void read() {
        for (size_t i = s_.find_first_of("\\`&<"); i != npos; i = s_.find_first_of("\\`&<", i)) {
            switch (s_[i]) {
                case '\\':  // an escaped character is no markup; both stay
                    i += i + 1 < s_.size() && isASCIIPunctuation(s_[i + 1]) ? 2 : 1;
                    break;
                case '`': {  // a code span is written as it is
                    const size_t run = std::min(s_.find_first_not_of('`', i), s_.size()) - i;
                    const size_t close = codeSpanEnd(i, run);
                    i = (close == npos ? i : close) + run;
                    break;
                }
                case '&':
                    if (const auto reference = ZMHTMLDocument::characterReferenceAt(s_, i)) {
                        std::string character;
                        appendReference(character, *reference);
                        replace(i, i + reference->length, character);
                        i += reference->length;
                    } else {
                        ++i;
                    }
                    break;
                default:
                    if (const size_t length = autolinkLength(i)) {
                        replace(i, i + length, decoded(s_.substr(i + 1, length - 2)));
                        i += length;
                    } else if (const size_t tag = rawHTMLLength(i)) {
                        markup(i, i + tag);
                        i += tag;
                    } else {
                        ++i;
                    }
            }
        }
        writeUpTo(s_.size());
    }

private:
    // Writes what lies before `at` and is not written yet (nothing inside a script or style).
    void writeUpTo(size_t at) {
        if (skip_ == 0 && written_ < at) block_.copy(written_, at, out_);
        written_ = at;
    }
    void replace(size_t from, size_t to, std::string_view text) {
        writeUpTo(from);
        if (skip_ == 0) out_ += text;
        written_ = to;
    }

    static std::string decoded(std::string_view text) {
        std::string out;
        for (size_t i = 0; i < text.size();) {
            if (text[i] == '&')
                if (const auto reference = ZMHTMLDocument::characterReferenceAt(text, i)) {
                    appendReference(out, *reference);
                    i += reference->length;
                    continue;
                }
            out += text[i++];
        }
        return out;
    }

    // Where the code span opened by `length` backticks at `at` closes: the
    // next run of exactly as many. Runs are found once, and each length's
    // search only goes forward.
    size_t codeSpanEnd(size_t at, size_t length) {
        if (!runsFound_) {
            runsFound_ = true;
            for (size_t i = s_.find('`'); i != npos; i = s_.find('`', i)) {
                const size_t end = std::min(s_.find_first_not_of('`', i), s_.size());
                runs_[end - i].positions.push_back(i);
                i = end;
            }
        }
        const auto it = runs_.find(length);
        if (it == runs_.end()) return npos;
        Runs& runs = it->second;
        while (runs.next < runs.positions.size() && runs.positions[runs.next] <= at) ++runs.next;
        return runs.next < runs.positions.size() ? runs.positions[runs.next] : npos;
    }

    // "<scheme:address>" or "<name@domain>" at `at`: its length, else 0.
    size_t autolinkLength(size_t at) const {
        const std::string_view s = s_.substr(at);
        size_t i = 1;
        while (i < s.size() && i <= 33 && (isAlnum(s[i]) || s[i] == '+' || s[i] == '.' || s[i] == '-')) ++i;
        if (s.size() > 1 && isLetter(s[1]) && i >= 3 && i <= 33 && i < s.size() && s[i] == ':') {
            for (++i; i < s.size() && static_cast<unsigned char>(s[i]) > ' ' && s[i] != '<' && s[i] != '>';) ++i;
            if (i < s.size() && s[i] == '>') return i + 1;
        }
        static constexpr std::string_view kLocal = ".!#$%&'*+/=?^_`{|}~-";
        for (i = 1; i < s.size() && (isAlnum(s[i]) || kLocal.find(s[i]) != npos);) ++i;
        if (i == 1 || i >= s.size() || s[i] != '@') return 0;
        do {
            const size_t label = ++i;
            while (i < s.size() && i - label < 64 && (isAlnum(s[i]) || s[i] == '-')) ++i;
            if (i == label || i - label > 63 || !isAlnum(s[label]) || !isAlnum(s[i - 1])) return 0;
        } while (i < s.size() && s[i] == '.');
        return i < s.size() && s[i] == '>' ? i + 1 : 0;
    }

    // A search of ours for what ends a comment, an instruction, CDATA or a
    // declaration: counted as work (once per place it starts from).
    size_t find(Kept& kept, size_t from, std::string_view needle) {
        return next(kept, from, [&](size_t start) {
            const size_t at = s_.find(needle, start);
            shared_.work.work((at == npos ? s_.size() : at) - start);
            return at;
        });
    }

    // Raw HTML at `at` by CommonMark's grammar: its length, else 0.
    size_t rawHTMLLength(size_t at) {
        if (!shared_.searching) return 0;
        const std::string_view s = s_.substr(at);
        if (s.size() < 3) return 0;
        try {
            if (s.starts_with("<!---->")) return 7;
            if (s.starts_with("<!--")) {
                // No "--" inside, nor ">" or "->" first, nor "-" last.
                if (s.size() < 5 || s[4] == '>' || s.substr(4, 2) == "->") return 0;
                const size_t dashes = find(dashes_, at + 4, "--");
                return dashes != npos && dashes > at + 4 && s_.substr(dashes, 3) == "-->" ? dashes + 3 - at : 0;
            }
            if (s.starts_with("<![CDATA[")) {
                // No "]" right before the first "]]>" (the grammar's units cannot take it).
                const size_t end = find(cdataEnd_, at + 9, "]]>");
                return end != npos && (end == at + 9 || s_[end - 1] != ']') ? end + 3 - at : 0;
            }
            if (s[1] == '!') {
                size_t name = 2;
                while (name < s.size() && s[name] >= 'A' && s[name] <= 'Z') ++name;
                if (name == 2 || name >= s.size() || !isSpaceChar(s[name])) return 0;
                const size_t end = find(declarationEnd_, at + name, ">");
                return end == npos ? 0 : end + 1 - at;
            }
            if (s[1] == '?') {
                // An even run of "?" right before the first "?>" (the grammar takes them in pairs).
                const size_t end = find(instructionEnd_, at + 2, "?>");
                if (end == npos) return 0;
                if (end != marksBefore_.first) {
                    size_t marks = 0;
                    while (marks < end && s_[end - marks - 1] == '?') ++marks;
                    marksBefore_ = {end, marks};
                }
                return std::min(marksBefore_.second, end - (at + 2)) % 2 == 0 ? end + 2 - at : 0;
            }
            size_t examined = 0;
            const size_t length = ZMMarkdownBlocks::tagLength(s, examined);
            shared_.work.work(examined);
            return length;
        } catch (const ZMDepictionBudget::Exceeded&) {
            shared_.searching = false;
            return 0;
        }
    }

    // Raw HTML in [from, to): it goes, leaving what its tag leaves in the
    // text; an element the rendering drops with its content takes what
    // follows up to its end tag, with what it drops nested in it.
    void markup(size_t from, size_t to) {
        writeUpTo(from);
        written_ = to;
        const std::string_view tag = s_.substr(from, to - from);
        if (tag[1] == '!' || tag[1] == '?') return;
        const bool closing = tag[1] == '/';
        std::string name;
        for (size_t i = closing ? 2 : 1; i < tag.size() && (isAlnum(tag[i]) || tag[i] == '-'); ++i)
            name += static_cast<char>(std::tolower(static_cast<unsigned char>(tag[i])));
        const bool selfClosing = tag.ends_with("/>");
        if (skip_ > 0) {
            if (ZMMarkdownHTML::isDroppedWithContent(name) && !ZMMarkdownHTML::isVoidElement(name) && !(selfClosing && !closing))
                skip_ += closing ? -1 : 1;
            return;
        }
        tagInText(name, closing, out_, block_.lineBegins());
        // What the rendering drops with its content (a script, a video, a form...) up to its end tag in the paragraph.
        if (!closing && !selfClosing && ZMMarkdownHTML::isDroppedWithContent(name) && !ZMMarkdownHTML::isVoidElement(name)) skip_ = 1;
    }

    struct Runs {
        std::vector<size_t> positions;
        size_t next = 0;
    };

    BlockText& block_;
    std::string_view s_;
    std::string& out_;
    Shared& shared_;
    size_t written_ = 0;
    int skip_ = 0;  // inside an element dropped with its content (and what opened in it)
    bool runsFound_ = false;
    std::unordered_map<size_t, Runs> runs_;  // backtick runs by length
    Kept dashes_, cdataEnd_, declarationEnd_, instructionEnd_;
    std::pair<size_t, size_t> marksBefore_{npos, 0};  // the run of "?" before an instruction's end
};

std::string trimmedLines(std::string out) {
    const size_t first = out.find_first_not_of('\n');
    if (first == std::string::npos) return {};
    out.erase(0, first);
    out.erase(out.find_last_not_of('\n') + 1);
    return out;
}

}  // namespace

std::string ZMTextWithoutMarkup::ofHTML(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    readHTML(utf8, out, nullptr, nullptr);
    return trimmedLines(std::move(out));
}

std::string ZMTextWithoutMarkup::ofMarkdown(std::string_view text) {
    // As the Markdown library reads it: no byte-order mark, NUL as U+FFFD.
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    std::string source = ZMHTMLDocument::validUTF8(text);
    if (source.find('\0') != npos) {
        std::string replaced;
        replaced.reserve(source.size());
        for (char c : source) {
            if (c == '\0') replaced += "\xEF\xBF\xBD";
            else replaced += c;
        }
        source = std::move(replaced);
    }
    Shared shared{ZMDepictionBudget(SIZE_MAX, std::chrono::hours(24),
                                    ZMDepictionBudget::kBaseWork + ZMDepictionBudget::kWorkPerInputByte * source.size())};
    std::string out;
    out.reserve(source.size());
    size_t copied = 0;
    ZMMarkdownBlocks::read(source, [&](ZMMarkdownBlocks::Kind kind, std::span<const Line> lines) {
        out.append(source, copied, lines.front().start - copied);
        BlockText block(source, lines, out);
        if (kind == ZMMarkdownBlocks::Kind::HTML) readHTML(block.content(), out, &block, &shared);
        else InlineReader(block, out, shared).read();
        copied = lines.back().end;
    });
    out.append(source, copied);
    return trimmedLines(std::move(out));
}
