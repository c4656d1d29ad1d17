#include "Depictions/ZMMarkdownHTML.h"

#include <cmark-gfm.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <optional>
#include <vector>

#include "Depictions/ZMCmarkMemory.h"
#include "Depictions/ZMDepictionBudget.h"
#include "Depictions/ZMHTMLDocument.h"
#include "Depictions/ZMHTMLNestingLimit.h"
#include "Miscellaneous/ZMLog.h"

namespace {

constexpr std::string_view kBullet = "\u2022 ";
constexpr int kIndentPerLevel = 18;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

template <size_t N> bool isOneOf(std::string_view name, const std::array<std::string_view, N>& names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Dropped together with everything inside them.
constexpr std::array<std::string_view, 20> kDroppedWithContent = {
    "script", "style",  "link",   "iframe",   "img",    "form",     "object", "embed",  "noscript", "template",
    "svg",    "math",   "audio",  "video",    "canvas", "select",   "textarea", "input", "button",   "frame"};
// Kept, without attributes.
constexpr std::array<std::string_view, 30> kKept = {
    "b",   "strong", "i",     "em",    "u",     "s",   "strike",     "del",  "ins",   "sub",
    "sup", "small",  "big",   "code",  "tt",    "kbd", "pre",        "span", "div",   "center",
    "blockquote", "table", "thead", "tbody", "tfoot", "tr", "td", "th", "dl", "dd"};
// Blocks of other names: kept as a div so their text does not run together.
constexpr std::array<std::string_view, 16> kBlocks = {
    "section", "article", "header", "footer", "nav",   "main",  "aside",  "fieldset",
    "figure",  "figcaption", "address", "details", "summary", "panel", "dt", "legend"};

void escapeInto(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
}

// Writes the allowed HTML. Fed by the Markdown tree and by raw HTML alike, so
// lists, paragraphs and links follow one set of rules.
//
// The output is always balanced: every element written is on a stack until
// its end tag is written. A raw end tag closes only an element open in the
// innermost block (with whatever opened inside it), and is dropped when none
// is; what a block leaves open is closed where it ends. Nesting is capped:
// elements past kMaximumDepth are written as their text alone, and so are
// tables inside kMaximumTableDepth others (a text view lays out nested
// tables in time that doubles with each level).
//
// The output spends the rendering's budget: past `outputLimit` bytes, or its
// time, the writer throws ZMDepictionBudget::Exceeded.
class Writer {
public:
    static constexpr size_t kMaximumDepth = 256;
    static constexpr int kMaximumTableDepth = 3;

    Writer(bool forChangelog, ZMDepictionBudget& budget, size_t outputLimit)
        : changelog_(forChangelog), budget_(budget), outputLimit_(outputLimit) {}

    std::string take() && {
        closeDownTo(0);
        lists_.clear();
        return std::move(out_);
    }

    void text(std::string_view t) {
        if (inlineSkip_ == 0) escapeInto(out_, t);
        spent();
    }
    void raw(std::string_view html) {
        out_ += html;
        spent();
    }
    ZMDepictionBudget& budget() { return budget_; }
    // Throws once the output or the time passes the budget.
    void spent() {
        if (out_.size() > outputLimit_)
            throw ZMDepictionBudget::Exceeded("its HTML would take more than " + std::to_string(outputLimit_ >> 10) + " KiB");
        budget_.check();
    }

    // ---- the stack of open elements ------------------------------------------------------
    size_t mark() const { return open_.size(); }
    void closeDownTo(size_t mark) {
        while (open_.size() > mark) {
            out_ += open_.back().close;
            if (open_.back().name == "table") --tables_;
            open_.pop_back();
        }
    }
    bool full() const { return open_.size() + lists_.size() >= kMaximumDepth; }
    // An element of the Markdown tree (its end closes down to its mark); nothing past the cap.
    void openStructural(std::string name, std::string_view tag, std::string close, bool block) {
        if (!full()) push(std::move(name), tag, std::move(close), block);
    }

    // ---- blocks ------------------------------------------------------------
    void openParagraph() {
        if (Item* item = currentItem()) {
            if (item->open) {
                if (item->paragraphs++ > 0) out_ += "<br />";
            } else {
                openItemParagraph(*item, false);
                item->paragraphs = 1;
            }
            return;
        }
        closeTextBlock();
        push("p", "<p>", changelog_ ? "</p><br />" : "</p><br /><br />", true);
    }
    void closeParagraph() {
        inlineSkip_ = 0;  // a dropped element opened in the paragraph ends with it
        if (currentItem()) return;
        closeNamed("p");
    }
    void openHeading(int level) {
        leaveItemParagraph();
        closeTextBlock();
        const std::string name = "h" + std::to_string(std::clamp(level, 1, 6));
        push(name, "<" + name + ">", "</" + name + "><br />", true);
    }
    void closeHeading(int level) {
        inlineSkip_ = 0;
        closeNamed("h" + std::to_string(std::clamp(level, 1, 6)));
    }
    void openList(bool ordered, int start) {
        leaveItemParagraph();
        if (full()) {
            ++suppressedLists_;
            return;
        }
        lists_.push_back({ordered, start, {}});
    }
    void closeList() {
        if (suppressedLists_ > 0) {
            --suppressedLists_;
            return;
        }
        if (lists_.empty()) return;
        closeItem();
        lists_.pop_back();
    }
    void openItem() {
        if (lists_.empty()) lists_.push_back({false, 1, {}});  // an item outside any list
        closeItem();
        List& list = lists_.back();
        list.items.push_back({});
        openItemParagraph(list.items.back(), true);
    }
    void closeItem() {
        if (lists_.empty() || lists_.back().items.empty()) return;
        leaveItemParagraph();
        lists_.back().items.pop_back();
    }

    // ---- elements of raw HTML -------------------------------------------------
    static bool isDropped(std::string_view name) { return ZMMarkdownHTML::isDroppedWithContent(name); }
    static bool isVoid(std::string_view name) { return ZMMarkdownHTML::isVoidElement(name); }
    // Returns false for an element that goes with its content (the caller
    // skips it, or brackets it with beginInlineSkip()/endInlineSkip()).
    bool openElement(std::string_view name, const std::optional<std::string>& href) {
        if (isDropped(name)) return false;
        if (inlineSkip_) return true;
        if (name == "p") openParagraph();
        else if (isHeading(name)) openHeading(name[1] - '0');
        else if (name == "ul" || name == "ol") openList(name == "ol", 1);
        else if (name == "li") openItem();
        else if (name == "br") raw("<br />");
        else if (name == "hr") raw("<hr />");
        else if (isTablePart(name) && (suppressedTables_ > 0 || (name == "table" && tables_ >= kMaximumTableDepth))) {
            if (name == "table") ++suppressedTables_;
            ++suppressed_;
        }
        else if (full() && (name == "a" || isOneOf(name, kKept) || isOneOf(name, kBlocks))) ++suppressed_;
        else if (name == "a") openLink(href);
        else if (isOneOf(name, kKept)) push(std::string(name), "<" + std::string(name) + ">", "</" + std::string(name) + ">", false);
        else if (isOneOf(name, kBlocks)) push(std::string(name), "<div>", "</div>", false);
        return true;
    }
    void closeElement(std::string_view name) {
        if (inlineSkip_ || isDropped(name)) return;
        if (name == "p") closeParagraph();
        else if (isHeading(name)) closeHeading(name[1] - '0');
        else if (name == "ul" || name == "ol") closeList();
        else if (name == "li") closeItem();
        else if (name == "a" || isOneOf(name, kKept) || isOneOf(name, kBlocks)) {
            if (name == "table" && suppressedTables_ > 0) --suppressedTables_;
            if (suppressed_ > 0) --suppressed_;
            else closeNamed(name);
        }
    }
    // Raw HTML of a Markdown text comes a tag at a time: the text between
    // the tags of a dropped element is dropped too, up to the end of the
    // paragraph or heading at most (a changelog may name "<video>" without
    // closing it). The Markdown structure around it is kept.
    void beginInlineSkip() { ++inlineSkip_; }
    void endInlineSkip() {
        if (inlineSkip_ > 0) --inlineSkip_;
    }
    void openLink(const std::optional<std::string>& href) {
        const bool allowed = href && href->size() <= ZMHTMLNestingLimit::kMaximumTagBytes && ZMMarkdownHTML::isAllowedLink(*href);
        std::string tag;
        if (allowed) {
            tag = "<a href=\"";
            escapeInto(tag, *href);
            tag += "\">";
        }
        push("a", tag, allowed ? "</a>" : "", false);
    }

private:
    struct Open {
        std::string name;
        std::string close;  // what ends it in the output
        bool block;         // raw end tags stop here
    };
    struct Item {
        bool open = false;  // its paragraph is open
        int paragraphs = 0;
    };
    struct List {
        bool ordered;
        int next;
        std::vector<Item> items;
    };

    static bool isHeading(std::string_view name) {
        return name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6';
    }
    static bool isTablePart(std::string_view name) {
        return name == "table" || name == "thead" || name == "tbody" || name == "tfoot" || name == "tr" || name == "td" ||
               name == "th";
    }
    void push(std::string name, std::string_view tag, std::string close, bool block) {
        out_ += tag;
        if (name == "table") ++tables_;
        open_.push_back({std::move(name), std::move(close), block});
        spent();
    }
    // Closes `name` and what opened inside it, when it is open in the innermost block.
    void closeNamed(std::string_view name) {
        for (size_t i = open_.size(); i-- > 0;) {
            if (open_[i].name == name) return closeDownTo(i);
            if (open_[i].block) return;
        }
    }
    // A paragraph or heading ends where another one begins.
    void closeTextBlock() {
        for (size_t i = open_.size(); i-- > 0;) {
            if (!open_[i].block) continue;
            if (open_[i].name == "p" || isHeading(open_[i].name)) closeDownTo(i);
            return;
        }
    }
    Item* currentItem() {
        if (lists_.empty() || lists_.back().items.empty()) return nullptr;
        return &lists_.back().items.back();
    }
    void openItemParagraph(Item& item, bool withMarker) {
        const int depth = static_cast<int>(lists_.size());
        std::string tag = depth > 1 ? "<p style=\"margin-left:" + std::to_string(kIndentPerLevel * (depth - 1)) + "px\">" : "<p>";
        if (withMarker) {
            List& list = lists_.back();
            if (list.ordered) tag += std::to_string(list.next++) + ". ";
            else tag += kBullet;
        }
        push("#item", tag, "</p>", true);
        item.open = true;
    }
    // Closes the current item's paragraph (a nested block follows).
    void leaveItemParagraph() {
        if (Item* item = currentItem(); item && item->open) {
            closeNamed("#item");
            item->open = false;
        }
    }

    bool changelog_;
    ZMDepictionBudget& budget_;
    size_t outputLimit_;
    std::string out_;
    std::vector<Open> open_;
    std::vector<List> lists_;
    int inlineSkip_ = 0;
    int suppressed_ = 0;        // raw elements past the caps, awaiting their end tags
    int suppressedLists_ = 0;   // lists past the cap
    int tables_ = 0;            // tables open
    int suppressedTables_ = 0;  // tables past the cap (their parts go too)
};

// Raw HTML through gumbo, into the writer. Each element's end closes what it
// left open inside it.
void sanitizeInto(Writer& w, std::string_view html) {
    ZMDepictionBudget& budget = w.budget();
    auto doc = ZMHTMLDocument::parse(html, &budget);
    if (doc->overBudget()) throw ZMDepictionBudget::Exceeded(*doc->overBudget());
    // The document's memory goes back with it (an HTML block at a time).
    struct Release {
        ZMDepictionBudget& budget;
        size_t bytes;
        ~Release() { budget.release(bytes); }
    } release{budget, doc->allocated()};
    auto body = doc->firstElementNamed("body");
    if (!body) return;
    std::vector<size_t> marks;
    ZMHTMLDocument::traverse(
        body,
        [&](ZMHTMLDocument::Element node) {
            if (ZMHTMLDocument::isText(node)) {
                w.text(ZMHTMLDocument::text(node));
                return false;
            }
            const std::string name = ZMHTMLDocument::tagName(node);
            if (name.empty()) return false;  // comments
            if (!w.openElement(name, name == "a" ? ZMHTMLDocument::attribute(node, "href") : std::nullopt)) return false;
            marks.push_back(w.mark());
            return true;
        },
        [&](ZMHTMLDocument::Element node) {
            if (!marks.empty()) {
                w.closeDownTo(marks.back());
                marks.pop_back();
            }
            w.closeElement(ZMHTMLDocument::tagName(node));
        });
}

// The address with its entities decoded, only those of what an address
// holds unescaped (ASCII): the rest stay as they are written.
std::string decodeEntities(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '&')
            if (auto entity = ZMHTMLDocument::characterReferenceAt(s, i); entity && entity->first <= 0x7F && entity->second == 0) {
                out += static_cast<char>(entity->first);
                i += entity->length - 1;
                continue;
            }
        out += s[i];
    }
    return out;
}

// One tag of inline raw HTML (the parser hands them over one at a time).
void inlineTag(Writer& w, std::string_view tag) {
    if (tag.size() < 3 || tag[0] != '<' || tag[1] == '!' || tag[1] == '?') return;  // comments, declarations
    size_t i = 1;
    const bool closing = tag[i] == '/';
    if (closing) ++i;
    const size_t start = i;
    while (i < tag.size() && (std::isalnum(static_cast<unsigned char>(tag[i])) || tag[i] == '-')) ++i;
    std::string name(tag.substr(start, i - start));
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    if (name.empty()) return;
    if (closing) {
        if (Writer::isDropped(name)) {
            if (!Writer::isVoid(name)) w.endInlineSkip();
        } else {
            w.closeElement(name);
        }
        return;
    }
    std::optional<std::string> href;
    while (i < tag.size()) {  // attributes: name[=value]
        while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
        const size_t nameStart = i;
        while (i < tag.size() && !std::isspace(static_cast<unsigned char>(tag[i])) && tag[i] != '=' && tag[i] != '>' &&
               tag[i] != '/')
            ++i;
        const std::string_view attribute = tag.substr(nameStart, i - nameStart);
        if (attribute.empty()) {
            ++i;
            continue;
        }
        while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
        std::string_view value;
        if (i < tag.size() && tag[i] == '=') {
            ++i;
            while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
            if (i < tag.size() && (tag[i] == '"' || tag[i] == '\'')) {
                const size_t end = tag.find(tag[i], i + 1);
                value = tag.substr(i + 1, (end == std::string_view::npos ? tag.size() : end) - i - 1);
                i = end == std::string_view::npos ? tag.size() : end + 1;
            } else {
                const size_t valueStart = i;
                while (i < tag.size() && !std::isspace(static_cast<unsigned char>(tag[i])) && tag[i] != '>') ++i;
                value = tag.substr(valueStart, i - valueStart);
            }
        }
        // An address longer than any tag of a page may be is no link (see ZMHTMLNestingLimit).
        if (equalsIgnoringCase(attribute, "href"))
            href = value.size() <= ZMHTMLNestingLimit::kMaximumTagBytes ? std::optional(decodeEntities(value)) : std::nullopt;
    }
    if (Writer::isDropped(name)) {
        const bool selfClosing = tag.size() >= 2 && tag.substr(tag.size() - 2) == "/>";
        if (!Writer::isVoid(name) && !selfClosing) w.beginInlineSkip();
        return;
    }
    w.openElement(name, href);
}

void renderMarkdown(Writer& w, std::string_view markdown, int depth = 0);

// An HTML block that opens <script>, <style> or <textarea> runs to its end
// tag, or to the end of its container when there is none: an unclosed one
// would take everything after it. It ends at its first blank line instead;
// what follows is read as Markdown again (a few times at most).
void htmlBlock(Writer& w, std::string_view html, int depth) {
    static constexpr std::string_view kRawText[] = {"script", "style", "textarea"};
    auto lower = [](std::string_view text) {
        std::string out(text);
        std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
        return out;
    };
    const std::string start = lower(html.substr(0, 10));
    for (std::string_view tag : kRawText) {
        if (start.rfind("<" + std::string(tag), 0) != 0) continue;
        if (lower(html).find("</" + std::string(tag)) != std::string::npos) break;
        // The first line holding nothing but blanks.
        size_t lineStart = html.find('\n'), blank = std::string_view::npos, next = 0;
        while (lineStart != std::string_view::npos && blank == std::string_view::npos) {
            const size_t lineEnd = html.find('\n', lineStart + 1);
            const std::string_view line = html.substr(lineStart + 1, lineEnd == std::string_view::npos ? std::string_view::npos
                                                                                                       : lineEnd - lineStart - 1);
            if (line.find_first_not_of(" \t\r") == std::string_view::npos && lineEnd != std::string_view::npos) {
                blank = lineStart;
                next = lineEnd + 1;
            }
            lineStart = lineEnd;
        }
        if (blank == std::string_view::npos) break;
        sanitizeInto(w, html.substr(0, blank));
        if (depth < ZMMarkdownHTML::kMaximumReopenedBlocks) renderMarkdown(w, html.substr(next), depth + 1);
        return;
    }
    sanitizeInto(w, html);
}

// A few inline openers make cmark search the rest of the paragraph for their
// end each time they are met (a processing instruction, a declaration, CDATA)
// or walk every image opener before them at each link: a text that holds more
// than a few hundred of one kind has them all written as text instead.
void keepQuadraticOpenersOut(std::string& markdown) {
    constexpr size_t kMaximumOpeners = 256;
    enum Kind { kInstruction, kDeclaration, kCData, kImage, kKinds };
    auto kindAt = [&](size_t i) -> int {
        if (markdown[i] == '!') return i + 1 < markdown.size() && markdown[i + 1] == '[' ? kImage : kKinds;
        if (i + 1 >= markdown.size()) return kKinds;
        const char next = markdown[i + 1];
        if (next == '?') return kInstruction;
        if (next != '!' || i + 2 >= markdown.size()) return kKinds;
        if (std::isalpha(static_cast<unsigned char>(markdown[i + 2]))) return kDeclaration;
        return markdown.compare(i, 9, "<![CDATA[") == 0 ? kCData : kKinds;
    };
    size_t counts[kKinds] = {};
    for (size_t i = markdown.find_first_of("<!"); i != std::string::npos; i = markdown.find_first_of("<!", i + 1))
        if (const int kind = kindAt(i); kind != kKinds) ++counts[kind];
    if (std::none_of(std::begin(counts), std::end(counts), [](size_t n) { return n > kMaximumOpeners; })) return;
    std::string out;
    out.reserve(markdown.size() + markdown.size() / 4);
    size_t copied = 0;
    for (size_t i = markdown.find_first_of("<!"); i != std::string::npos; i = markdown.find_first_of("<!", i + 1)) {
        const int kind = kindAt(i);
        if (kind == kKinds || counts[kind] <= kMaximumOpeners) continue;
        out.append(markdown, copied, i - copied);
        out += kind == kImage ? "!\\[" : "&lt;";
        copied = i + (kind == kImage ? 2 : 1);
    }
    out.append(markdown, copied, std::string::npos);
    markdown = std::move(out);
}

void renderMarkdown(Writer& w, std::string_view markdown, int depth) {
    cmark_node* document = nullptr;
    ZMCmarkMemory::current().run([&] {
        cmark_parser* parser = cmark_parser_new_with_mem(CMARK_OPT_DEFAULT, ZMCmarkMemory::allocator());
        cmark_parser_feed(parser, markdown.data(), markdown.size());
        document = cmark_parser_finish(parser);
        cmark_parser_free(parser);
    });
    cmark_iter* iter = cmark_iter_new(document);
    cmark_event_type event;
    // Where the stack of open elements stood when each open node began (past
    // a paragraph, heading or item's own element): its end closes whatever
    // raw HTML inside it left open.
    std::vector<size_t> marks;
    while ((event = cmark_iter_next(iter)) != CMARK_EVENT_DONE) {
        cmark_node* node = cmark_iter_get_node(iter);
        const bool entering = event == CMARK_EVENT_ENTER;
        const cmark_node_type type = cmark_node_get_type(node);
        const bool block = type == CMARK_NODE_PARAGRAPH || type == CMARK_NODE_HEADING || type == CMARK_NODE_ITEM;
        const bool container = block || type == CMARK_NODE_BLOCK_QUOTE || type == CMARK_NODE_EMPH ||
                               type == CMARK_NODE_STRONG || type == CMARK_NODE_LINK;
        if (container && entering && !block) marks.push_back(w.mark());
        if (container && !entering && !marks.empty()) {
            w.closeDownTo(std::min(marks.back(), w.mark()));
            marks.pop_back();
        }
        switch (type) {
            case CMARK_NODE_PARAGRAPH: entering ? w.openParagraph() : w.closeParagraph(); break;
            case CMARK_NODE_HEADING:
                entering ? w.openHeading(cmark_node_get_heading_level(node)) : w.closeHeading(cmark_node_get_heading_level(node));
                break;
            case CMARK_NODE_LIST:
                if (entering) w.openList(cmark_node_get_list_type(node) == CMARK_ORDERED_LIST, cmark_node_get_list_start(node));
                else w.closeList();
                break;
            case CMARK_NODE_ITEM: entering ? w.openItem() : w.closeItem(); break;
            case CMARK_NODE_BLOCK_QUOTE:
                if (entering) w.openStructural("#blockquote", "<blockquote>", "</blockquote>", true);
                break;
            case CMARK_NODE_CODE_BLOCK:
                w.raw("<pre><code>");
                w.text(cmark_node_get_literal(node));
                w.raw("</code></pre>");
                break;
            case CMARK_NODE_THEMATIC_BREAK: w.raw("<hr />"); break;
            case CMARK_NODE_HTML_BLOCK: htmlBlock(w, cmark_node_get_literal(node), depth); break;
            case CMARK_NODE_HTML_INLINE: inlineTag(w, cmark_node_get_literal(node)); break;
            case CMARK_NODE_TEXT: w.text(cmark_node_get_literal(node)); break;
            case CMARK_NODE_SOFTBREAK: w.raw("\n"); break;
            case CMARK_NODE_LINEBREAK: w.raw("<br />\n"); break;
            case CMARK_NODE_CODE:
                w.raw("<code>");
                w.text(cmark_node_get_literal(node));
                w.raw("</code>");
                break;
            case CMARK_NODE_EMPH:
                if (entering) w.openStructural("#em", "<em>", "</em>", false);
                break;
            case CMARK_NODE_STRONG:
                if (entering) w.openStructural("#strong", "<strong>", "</strong>", false);
                break;
            case CMARK_NODE_LINK:
                if (entering && !w.full()) {
                    const char* url = cmark_node_get_url(node);
                    w.openLink(url ? std::optional<std::string>(url) : std::nullopt);
                }
                break;
            case CMARK_NODE_IMAGE:  // images load nothing here: dropped with their text
                if (entering) cmark_iter_reset(iter, node, CMARK_EVENT_EXIT);
                break;
            default: break;
        }
        if (block && entering) marks.push_back(w.mark());
    }
    cmark_iter_free(iter);
    cmark_node_free(document);
}

bool isNewline(std::string_view text, size_t i, size_t& width) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r') {
        width = (i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
        return true;
    }
    if (c == '\n' || c == 0x0B || c == 0x0C) {
        width = 1;
        return true;
    }
    if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85) {
        width = 2;
        return true;
    }
    if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
        (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
        width = 3;
        return true;
    }
    return false;
}

// The text without its lines that begin with "<p><img"; nullopt when none is left.
std::optional<std::string> withoutImageLines(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool any = false;
    size_t lineStart = 0;
    auto take = [&](size_t end) {
        const std::string_view line = text.substr(lineStart, end - lineStart);
        if (line.substr(0, 7) == "<p><img") return;
        if (any) out += '\n';
        out += line;
        any = true;
    };
    for (size_t i = 0; i < text.size();) {
        size_t width = 0;
        if (isNewline(text, i, width)) {
            take(i);
            i += width;
            lineStart = i;
        } else {
            ++i;
        }
    }
    take(text.size());
    if (!any) return std::nullopt;
    return out;
}

// The text with at most kMaximumMarkers container markers ("> ", "- ",
// "1. "...) at the start of a line: the Markdown parser makes a node of each,
// one inside the other, so a line of a million ">" would nest a million deep.
// The markers past that are dropped; the rest of the line stays.
void cutDeepMarkers(std::string& text) {
    constexpr size_t kMaximumMarkers = 64;
    std::string out;
    size_t copied = 0;
    for (size_t lineStart = 0; lineStart < text.size();) {
        size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string::npos) lineEnd = text.size();
        size_t markers = 0;
        for (size_t i = lineStart; i < lineEnd;) {
            size_t j = i;
            while (j < lineEnd && (text[j] == ' ' || text[j] == '\t')) ++j;
            size_t end = std::string::npos;
            auto spaceAt = [&](size_t k) { return k < lineEnd && (text[k] == ' ' || text[k] == '\t'); };
            if (j < lineEnd && text[j] == '>') {
                end = j + 1;
            } else if (j < lineEnd && (text[j] == '-' || text[j] == '*' || text[j] == '+') && spaceAt(j + 1)) {
                end = j + 1;
            } else {
                size_t k = j;
                while (k < lineEnd && k - j < 9 && std::isdigit(static_cast<unsigned char>(text[k]))) ++k;
                if (k > j && k < lineEnd && (text[k] == '.' || text[k] == ')') && spaceAt(k + 1)) end = k + 1;
            }
            if (end == std::string::npos) break;
            if (++markers > kMaximumMarkers) {
                out.append(text, copied, i - copied);
                copied = end;
            }
            i = end;
        }
        lineStart = lineEnd + 1;
    }
    if (copied == 0) return;
    out.append(text, copied, std::string::npos);
    text = std::move(out);
}

}  // namespace

bool ZMMarkdownHTML::isDroppedWithContent(std::string_view name) { return isOneOf(name, kDroppedWithContent); }

bool ZMMarkdownHTML::isVoidElement(std::string_view name) {
    return name == "img" || name == "link" || name == "input" || name == "embed" || name == "frame";
}

bool ZMMarkdownHTML::isAllowedLink(std::string_view url) {
    size_t start = 0;
    while (start < url.size() && static_cast<unsigned char>(url[start]) <= ' ') ++start;
    const std::string_view u = url.substr(start);
    const size_t colon = u.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string_view scheme = u.substr(0, colon);
    if (equalsIgnoringCase(scheme, "mailto")) return colon + 1 < u.size();
    return (equalsIgnoringCase(scheme, "http") || equalsIgnoringCase(scheme, "https")) && u.substr(colon + 1, 2) == "//" &&
           u.size() > colon + 3;
}

namespace {

// Each line of `text`, at every break a text view makes a line of (also
// vertical tab, form feed, next line and the line and paragraph separators,
// which Qt breaks at inside a paragraph: a paragraph of them is as many lines).
template <class Line> void forEachLine(std::string_view text, Line&& line) {
    size_t start = 0;
    for (size_t i = 0; i < text.size();) {
        size_t width = 0;
        if (!isNewline(text, i, width)) {
            ++i;
            continue;
        }
        line(text.substr(start, i - start));
        i += width;
        start = i;
    }
    line(text.substr(start));
}

bool isBlank(std::string_view line) { return line.find_first_not_of(" \t\f\v") == std::string_view::npos; }

// Appends `line`, broken into pieces shorter than `maximum` bytes (a view's
// paragraph holds its end too): at the last space in the second half of the
// piece, else before a UTF-8 lead byte (a character has at most three bytes
// after it), else anywhere. Each piece is at least half the maximum, and only
// that half is searched: linear whatever the bytes.
void appendBroken(std::string& out, std::string_view line, size_t maximum) {
    const size_t longest = maximum - 1, half = maximum / 2;
    while (line.size() > longest) {
        const size_t space = line.substr(half, longest - half + 1).rfind(' ');
        size_t cut = longest, next = longest;
        if (space != std::string_view::npos) {
            cut = half + space;
            next = cut + 1;
        } else {
            for (size_t back = 0; back < 4; ++back)
                if ((static_cast<unsigned char>(line[longest - back]) & 0xC0) != 0x80) {
                    cut = next = longest - back;
                    break;
                }
        }
        out.append(line.substr(0, cut));
        out += '\n';
        line.remove_prefix(next);
    }
    out.append(line);
}

}  // namespace

std::string ZMMarkdownHTML::displayText(std::string_view text, size_t maximumLineLength) {
    size_t lines = 0, blankRuns = 0, filled = 0;
    bool lastBlank = false;
    forEachLine(text, [&](std::string_view line) {
        ++lines;
        const bool blank = isBlank(line);
        if (blank && !lastBlank) ++blankRuns;
        if (!blank) ++filled;
        lastBlank = blank;
    });
    // Past the limit: runs of blank lines become one; then no blank line
    // stays, and every `join` lines become one.
    const bool collapse = lines > kMaximumLines;
    const bool dropBlank = collapse && filled + blankRuns > kMaximumLines;
    const size_t join = dropBlank ? (filled + kMaximumLines - 1) / kMaximumLines : 1;
    std::string out;
    out.reserve(text.size());
    std::string joined;
    size_t inJoined = 0;
    bool first = true;
    lastBlank = false;
    auto emit = [&](std::string_view line) {
        if (!first) out += '\n';
        first = false;
        appendBroken(out, line, maximumLineLength);
    };
    forEachLine(text, [&](std::string_view line) {
        const bool blank = isBlank(line);
        const bool repeatBlank = blank && lastBlank;
        lastBlank = blank;
        if (!collapse) return emit(line);
        if (blank) {
            if (!dropBlank && !repeatBlank) emit({});
            return;
        }
        if (join == 1) return emit(line);
        if (inJoined > 0) joined += ' ';
        joined.append(line);
        if (++inJoined == join) {
            emit(joined);
            joined.clear();
            inJoined = 0;
        }
    });
    if (inJoined > 0) emit(joined);
    return out;
}

namespace {

std::string wrapped(const std::string& body, bool darkMode) {
    std::string out = "<span style=\"font-family: -apple-system; font-size: 15.0; color:";
    out += darkMode ? "white" : "black";
    out += "\">";
    out += body;
    out += "</span>";
    return out;
}

}  // namespace

bool ZMMarkdownHTML::isHTML(std::string_view text) { return text.starts_with("<style>"); }

ZMMarkdownHTML::Rendering ZMMarkdownHTML::render(std::string_view text, bool forChangelog, bool darkMode) {
    ZMDepictionBudget budget(text.size());
    return render(text, forChangelog, darkMode, budget);
}

ZMMarkdownHTML::Rendering ZMMarkdownHTML::render(std::string_view text, bool forChangelog, bool darkMode,
                                                 ZMDepictionBudget& budget) {
    if (text.empty()) return {};
    // Broken UTF-8 is read as Qt reads it (a U+FFFD a byte), here once for
    // every reader after: never as a page in another encoding.
    const std::string valid = ZMHTMLDocument::validUTF8(text);
    auto joined = withoutImageLines(valid);
    if (!joined) return {};
    ZMDepictionBudget::Scope scope(budget);
    const bool html = isHTML(*joined);
    try {
        ZMCmarkMemory memory(budget);
        Writer w(forChangelog, budget, kMaximumOutputFactor * joined->size() + kOutputAllowance);
        if (html) {
            sanitizeInto(w, *joined);
        } else {
            // Once for the whole text: the HTML blocks read as Markdown again are parts of it.
            std::string markdown = *joined;
            cutDeepMarkers(markdown);
            keepQuadraticOpenersOut(markdown);
            renderMarkdown(w, markdown);
        }
        return {wrapped(std::move(w).take(), darkMode), {}, {}};
    } catch (const ZMDepictionBudget::Exceeded& e) {
        if (budget.stopped()) return {{}, {}, e.what()};  // nobody will see it
        return {{}, ZMHTMLDocument::textWithoutMarkup(*joined, html), e.what()};
    }
}

std::string ZMMarkdownHTML::htmlForText(std::string_view text, bool forChangelog, bool darkMode) {
    Rendering r = render(text, forChangelog, darkMode);
    if (r.plain.empty()) return std::move(r.html);
    std::string body = "<p style=\"white-space: pre-wrap\">";
    escapeInto(body, r.plain);
    body += "</p>";
    return wrapped(body, darkMode);
}
