#include "Depictions/ZMHTMLNestingLimit.h"

#include "Depictions/ZMDepictionBudget.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <unordered_map>
#include <vector>

namespace {

enum Flag : uint16_t {
    kSpecial = 1 << 0,          // the HTML rules' "special" elements (and svg, math)
    kScope = 1 << 1,            // no search for an open element crosses it
    kTableScope = 1 << 2,       // no search for a cell, row or section crosses it
    kHeading = 1 << 3,
    kFormatting = 1 << 4,       // reopened by the parser after an implicit close
    kVoid = 1 << 5,             // never open
    kMarker = 1 << 6,           // formatting opened outside it is not reopened inside
    kRawText = 1 << 7,          // its text is no markup, up to its end tag (in HTML)
    kClosesParagraph = 1 << 8,  // its start tag closes an open paragraph
    kTablePart = 1 << 9,        // ignored outside a table
    kForeignOnly = 1 << 10,     // special in SVG or MathML only
    kBreakout = 1 << 11,        // leaves SVG and MathML for HTML
    kEndsInScope = 1 << 12,     // its end tag closes it when it is open in scope (else any other ends at special)
};

// The flags of the element names the rules name; other names have none.
// Never destroyed: a reading on the depictions' thread may still run while
// the program's exit destroys its static objects.
uint16_t flagsOf(std::string_view name) {
    static const auto& table = *[] {
        auto* t = new std::unordered_map<std::string_view, uint16_t>;
        auto add = [&](uint16_t flag, std::initializer_list<std::string_view> names) {
            for (std::string_view n : names) (*t)[n] |= flag;
        };
        add(kSpecial, {"address", "annotation-xml", "applet", "area", "article", "aside", "base", "basefont", "bgsound",
                       "blockquote", "body", "br", "button", "caption", "center", "col", "colgroup", "dd", "desc",
                       "details", "dir", "div", "dl", "dt", "embed", "fieldset", "figcaption", "figure", "footer",
                       "foreignobject", "form", "frame", "frameset", "h1", "h2", "h3", "h4", "h5", "h6", "head",
                       "header", "hgroup", "hr", "html", "iframe", "img", "input", "keygen", "li", "link", "listing",
                       "main", "marquee", "math", "menu", "meta", "mi", "mn", "mo", "ms", "mtext", "nav", "noembed",
                       "noframes", "noscript", "object", "ol", "p", "param", "plaintext", "pre", "script",
                       "section", "select", "source", "style", "summary", "svg", "table", "tbody", "td", "template",
                       "textarea", "tfoot", "th", "thead", "title", "tr", "track", "ul", "wbr", "xmp"});
        // With svg, math and select added: a parser handles what lies inside
        // them by other rules, so no search here crosses them.
        add(kScope, {"annotation-xml", "applet", "caption", "desc", "foreignobject", "html", "marquee", "math", "mi",
                     "mn", "mo", "ms", "mtext", "object", "select", "svg", "table", "td", "template", "th", "title"});
        add(kTableScope, {"html", "math", "select", "svg", "table", "template"});
        add(kEndsInScope, {"address", "applet", "article", "aside", "blockquote", "button", "caption", "center",
                           "colgroup", "dd", "details", "dir", "div", "dl", "dt", "fieldset", "figcaption", "figure",
                           "footer", "h1", "h2", "h3", "h4", "h5", "h6", "header", "hgroup", "listing", "main",
                           "marquee", "menu", "nav", "object", "ol", "pre", "section", "summary", "table", "tbody",
                           "td", "tfoot", "th", "thead", "tr", "ul"});
        add(kBreakout, {"b", "big", "blockquote", "body", "br", "center", "code", "dd", "div", "dl", "dt", "em",
                        "embed", "h1", "h2", "h3", "h4", "h5", "h6", "head", "hr", "i", "img", "li", "listing", "menu",
                        "meta", "nobr", "ol", "p", "pre", "ruby", "s", "small", "span", "strike", "strong", "sub",
                        "sup", "table", "tt", "u", "ul", "var"});
        add(kForeignOnly, {"annotation-xml", "desc", "foreignobject", "mi", "mn", "mo", "ms", "mtext"});
        add(kTablePart, {"caption", "col", "colgroup", "tbody", "td", "tfoot", "th", "thead", "tr"});
        add(kHeading, {"h1", "h2", "h3", "h4", "h5", "h6"});
        add(kFormatting, {"a", "b", "big", "code", "em", "font", "i", "nobr", "s", "small", "strike", "strong", "tt", "u"});
        add(kVoid, {"area", "base", "basefont", "bgsound", "br", "col", "embed", "frame", "hr", "image", "img", "input",
                    "keygen", "link", "meta", "param", "source", "track", "wbr"});
        add(kMarker, {"applet", "caption", "marquee", "object", "td", "template", "th"});
        add(kRawText, {"iframe", "noembed", "noframes", "script", "style", "textarea", "title", "xmp"});
        add(kClosesParagraph, {"address", "article", "aside", "blockquote", "center", "details", "dir", "div",
                               "dl", "fieldset", "figcaption", "figure", "footer", "form", "header", "hgroup", "hr",
                               "listing", "main", "menu", "nav", "ol", "p", "plaintext", "pre", "section",
                               "summary", "ul", "xmp", "h1", "h2", "h3", "h4", "h5", "h6", "li", "dd", "dt"});
        return t;
    }();
    const auto it = table.find(name);
    return it == table.end() ? 0 : it->second;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

constexpr size_t kNone = static_cast<size_t>(-1);

class Limiter {
public:
    Limiter(std::string_view html, size_t maximumDepth, size_t maximumFormatting)
        : whole_(html), in_(html), maximumDepth_(maximumDepth), maximumFormatting_(maximumFormatting) {}

    std::optional<std::string> run() {
        size_t i = 0;
        for (unsigned steps = 0;; ++steps) {
            if (budget_ && steps % 256 == 0) budget_->check();
            // The end of what is read as markup and raw text at once (see tag()).
            while (!limits_.empty() && i >= limits_.back()) {
                i = limits_.back();
                limits_.pop_back();
                in_ = whole_.substr(0, limits_.empty() ? whole_.size() : limits_.back());
            }
            const size_t lt = in_.find('<', i);
            work((lt == std::string_view::npos ? in_.size() : lt) - i);
            if (lt == std::string_view::npos) {
                if (limits_.empty()) break;
                i = in_.size();
                continue;
            }
            const size_t next = markup(lt);
            work(next - lt);
            i = next;
        }
        if (!cut_) return std::nullopt;
        out_.append(whole_.substr(copied_));
        return std::move(out_);
    }

private:
    void work(size_t bytes) {
        if (budget_) budget_->work(bytes);
    }

    // The markup at `lt`; returns where the text after it begins.
    size_t markup(size_t lt) {
        const std::string_view rest = in_.substr(lt);
        if (rest.substr(0, 4) == "<!--") return commentEnd(lt + 4);
        if (rest.size() > 1 && (rest[1] == '!' || rest[1] == '?')) return after('>', lt + 2);
        if (rest.size() > 1 && rest[1] == '/') {
            if (rest.size() > 2 && isLetter(rest[2])) return tag(lt, lt + 2, true);
            if (rest.size() > 2 && rest[2] == '>') return lt + 3;
            return after('>', lt + 2);  // a bogus comment
        }
        if (rest.size() > 1 && isLetter(rest[1])) return tag(lt, lt + 1, false);
        return lt + 1;
    }

    size_t after(char c, size_t from) const {
        const size_t at = in_.find(c, from);
        return at == std::string_view::npos ? in_.size() : at + 1;
    }

    // The earliest place a comment can end: "<!-->", "<!--->", "-->" or "--!>".
    size_t commentEnd(size_t from) const {
        const std::string_view body = in_.substr(from);
        if (body.substr(0, 1) == ">") return from + 1;
        if (body.substr(0, 2) == "->") return from + 2;
        for (size_t at = body.find("--"); at != std::string_view::npos; at = body.find("--", at + 1)) {
            if (body.substr(at + 2, 1) == ">") return from + at + 3;
            if (body.substr(at + 2, 2) == "!>") return from + at + 4;
        }
        return in_.size();
    }

    // A start or end tag whose name begins at `nameStart`, its attributes
    // read as the HTML tokenizer reads them. A tag the text ends inside is no tag.
    size_t tag(size_t lt, size_t nameStart, bool isEnd) {
        size_t i = nameStart;
        std::string name;
        while (i < in_.size() && !isSpace(in_[i]) && in_[i] != '/' && in_[i] != '>') name += lower(in_[i++]);
        // Two elements change their meaning by an attribute: a font with
        // colour, face or size leaves SVG, and a MathML annotation whose
        // encoding is HTML holds HTML.
        const bool readAttributes = name == "font" || name == "annotation-xml";
        attributes_.clear();
        std::string attribute;
        bool inValue = false;  // between an attribute's '=' and its value
        bool slash = false;    // a '/' just before the '>': a self-closing tag
        // Attributes past the caps are cut from here to the tag's end. The
        // parser compares each attribute with those before it, copies them
        // with every element it reopens, and gathers those of every html and
        // body tag into one element.
        size_t attributeStart = 0, cutAt = kNone;
        size_t& gathered = isEnd ? ownAttributes_ : name == "html" ? htmlAttributes_ : name == "body" ? bodyAttributes_ : ownAttributes_;
        ownAttributes_ = 0;
        auto keptUpTo = [&](size_t valueEnd) {  // false: the attribute that began at attributeStart is cut
            if (cutAt != kNone) return false;
            if (gathered >= ZMHTMLNestingLimit::kMaximumAttributes ||
                valueEnd - lt > ZMHTMLNestingLimit::kMaximumTagBytes) {
                cutAt = attributeStart;
                return false;
            }
            return true;
        };
        while (i < in_.size() && in_[i] != '>') {
            const char c = in_[i];
            slash = false;
            if (inValue && (c == '"' || c == '\'')) {
                const size_t close = in_.find(c, i + 1);
                if (close == std::string_view::npos) return in_.size();
                if (keptUpTo(close + 1)) {
                    ++gathered;
                    if (readAttributes) attributes_.emplace_back(attribute, in_.substr(i + 1, close - i - 1));
                }
                i = close + 1;
                inValue = false;
                continue;
            }
            if (isSpace(c)) {
                ++i;
                continue;
            }
            if (inValue) {  // an unquoted value
                const size_t valueStart = i;
                while (i < in_.size() && !isSpace(in_[i]) && in_[i] != '>') ++i;
                if (keptUpTo(i)) {
                    ++gathered;
                    if (readAttributes) attributes_.emplace_back(attribute, in_.substr(valueStart, i - valueStart));
                }
                inValue = false;
                continue;
            }
            if (c == '/') {
                ++i;
                slash = true;
                continue;
            }
            // An attribute's name (one that begins with '=' keeps it), then its '=' if any.
            attributeStart = i++;
            while (i < in_.size() && !isSpace(in_[i]) && in_[i] != '/' && in_[i] != '>' && in_[i] != '=') ++i;
            size_t after = i;
            while (after < in_.size() && isSpace(in_[after])) ++after;
            if (after < in_.size() && in_[after] == '=') {
                i = after + 1;
                inValue = true;
                if (readAttributes) {
                    attribute.clear();
                    for (size_t k = attributeStart; k < after && !isSpace(in_[k]) && in_[k] != '='; ++k) attribute += lower(in_[k]);
                }
            } else if (keptUpTo(i)) {  // a name alone
                ++gathered;
                if (readAttributes) {
                    attribute.clear();
                    for (size_t k = attributeStart; k < i; ++k) attribute += lower(in_[k]);
                    attributes_.emplace_back(attribute, std::string_view());
                }
            }
        }
        if (i >= in_.size()) return in_.size();
        const size_t end = i + 1;
        // The cut attributes go, and with them the blanks before them; a '/'
        // that closes the tag stays.
        auto cutAttributes = [&] {
            if (cutAt == kNone) return;
            size_t from = cutAt;
            while (from > nameStart && isSpace(in_[from - 1])) --from;
            out_.append(in_.substr(copied_, from - copied_));
            copied_ = slash ? i - 1 : i;
            cut_ = true;
        };
        if (isEnd) {
            cutAttributes();
            endTag(name);
            return end;
        }
        rawText_ = false;
        const bool boundOpens = boundOpensFor(name);
        if ((boundOpens && bound_.size() >= 4 * maximumDepth_) || !startTag(name, slash)) {
            out_.append(in_.substr(copied_, lt - copied_));
            copied_ = end;
            cut_ = true;
            return end;
        }
        cutAttributes();
        boundStart(name, boundOpens);
        const bool rawNamed = (flagsOf(name) & kRawText) || name == "plaintext";
        if (!rawNamed || (!rawText_ && !exotic_)) return end;
        const size_t rawEnd = name == "plaintext" ? in_.size() : rawTextEnd(end, name);
        if (!exotic_) return rawText_ ? rawEnd : end;
        // Whether the parser reads raw text here is not sure: its content is
        // read as markup as well, but no further than raw text would reach,
        // so that no tag either reading sees is missed (run() ends the
        // markup there).
        if (rawEnd < in_.size()) {
            limits_.push_back(rawEnd);
            in_ = whole_.substr(0, rawEnd);
        }
        return end;
    }

    // ---- the bound ---------------------------------------------------------------------
    // A second, coarser count that never falls below the parser's depth
    // whatever the text does: it closes an element only for an end tag of
    // the innermost one, or for a sibling that the parser closes it for
    // whatever lies between (a paragraph, item, cell or row, outside SVG and
    // MathML). Nothing opens past four times the depth by this count either
    // (SVG left open on a page of icons counts against it).

    bool boundOpensFor(const std::string& name) const {
        if (name == "br" || name == "embed" || name == "hr" || name == "img" || name == "meta") return false;
        if ((name == "head" || name == "body" || name == "html") && !foreignSeen_) return false;
        return !(flagsOf(name) & kVoid) || foreignSeen_;
    }

    void boundStart(const std::string& name, bool opens) {
        if (name == "svg" || name == "math") foreignSeen_ = true;
        if (name == "svg" || name == "math" || name == "select") exotic_ = true;
        if (!foreignSeen_) {
            auto closeTop = [&](std::initializer_list<std::string_view> names) {
                if (!bound_.empty() && std::find(names.begin(), names.end(), bound_.back().name) != names.end())
                    boundPopTo(bound_.size() - 1);
            };
            const uint16_t flags = flagsOf(name);
            if (name == "li") closeTop({"li"});
            if (name == "dd" || name == "dt") closeTop({"dd", "dt"});
            if (flags & kClosesParagraph) closeTop({"p"});
            if (flags & kHeading) closeTop({"h1", "h2", "h3", "h4", "h5", "h6"});
            if (name == "a" || name == "nobr") closeTop({name});
            if (name == "td" || name == "th" || name == "tr" || name == "tbody" || name == "thead" || name == "tfoot")
                closeTop({"td", "th"});
            if (name == "tr" || name == "tbody" || name == "thead" || name == "tfoot") closeTop({"tr"});
            if (name == "tbody" || name == "thead" || name == "tfoot") closeTop({"tbody", "thead", "tfoot"});
            if ((name == "option" || name == "optgroup") && boundCount("select") > 0) {
                closeTop({"option"});
                if (name == "optgroup") closeTop({"optgroup"});
            }
        }
        if (opens) {
            bound_.push_back({name, flagsOf(name)});
            ++boundCounts_[name];
        }
    }

    int boundCount(const std::string& name) const {
        const auto it = boundCounts_.find(name);
        return it == boundCounts_.end() ? 0 : it->second;
    }
    void boundPopTo(size_t index) {
        while (bound_.size() > index) {
            if (--boundCounts_[bound_.back().name] == 0) boundCounts_.erase(bound_.back().name);
            bound_.pop_back();
        }
    }

    // An end tag closes the innermost element; outside SVG and MathML, an end
    // tag that closes its element in scope also closes what lies above it when
    // none of that is special (nor, for a table's parts, more than its parts).
    void boundEnd(const std::string& name) {
        if (bound_.empty() || boundCount(name) == 0) return;
        if (bound_.back().name == name) return boundPopTo(bound_.size() - 1);
        const uint16_t flags = flagsOf(name);
        if (foreignSeen_ || !((flags & kEndsInScope) || name == "p" || name == "li")) return;
        const bool tablePart = name == "table" || name == "tbody" || name == "thead" || name == "tfoot" || name == "tr";
        for (size_t i = bound_.size(); i-- > 0;) {
            const std::string& n = bound_[i].name;
            if (n == name) return boundPopTo(i);
            const bool passable = !(bound_[i].flags & kSpecial) ||
                                  (tablePart && (n == "td" || n == "th" || n == "tr" || n == "tbody" || n == "thead" ||
                                                 n == "tfoot" || n == "caption" || n == "colgroup"));
            if (!passable) return;
        }
    }

    bool hasAttribute(std::string_view name, std::string_view valueLowered = {}) const {
        for (const auto& [n, v] : attributes_) {
            if (n != name) continue;
            if (valueLowered.empty()) return true;
            std::string lowered;
            for (char c : v) lowered += lower(c);
            if (lowered == valueLowered) return true;
        }
        return false;
    }

    // Where "</name" followed by a space, '/' or '>' begins (that end tag is
    // read next), within what is read now. Each name's last answer is kept:
    // a text of many such start tags is not searched to its end for each.
    size_t rawTextEnd(size_t from, const std::string& name) {
        auto& [searchedFrom, found] = rawTextEnds_.try_emplace(name, kNone, kNone).first->second;
        if (searchedFrom == kNone || from < searchedFrom || (found != kNone && found < from)) {
            searchedFrom = from;
            found = kNone;
            for (size_t at = whole_.find("</", from); at != std::string_view::npos; at = whole_.find("</", at + 2)) {
                size_t k = 0;
                while (k < name.size() && at + 2 + k < whole_.size() && lower(whole_[at + 2 + k]) == name[k]) ++k;
                const size_t next = at + 2 + k;
                if (k == name.size() && next < whole_.size() &&
                    (isSpace(whole_[next]) || whole_[next] == '/' || whole_[next] == '>')) {
                    found = at;
                    break;
                }
            }
            work((found == kNone ? whole_.size() : found) - from);
        }
        return found != kNone && found + 2 + name.size() < in_.size() ? found : in_.size();
    }

    // ---- the stack of open elements --------------------------------------------------------

    enum Namespace : uint8_t { kHTML, kSVG, kMathML };

    struct Open {
        std::string name;
        uint16_t flags;
        Namespace ns;
        size_t formattingMark;  // the formatting list's length when it opened
        bool htmlInside;        // a MathML annotation that holds HTML
    };

    // The flags of an element of `ns`: outside HTML only the integration
    // points (and svg and math themselves) bound a search.
    uint16_t flagsIn(Namespace ns, const std::string& name) const {
        const uint16_t flags = flagsOf(name);
        if (ns == kHTML) return flags & kForeignOnly ? 0 : flags;
        if (name == "svg" || name == "math") return kSpecial | kScope;
        const bool point = ns == kSVG ? (name == "foreignobject" || name == "desc" || name == "title")
                                      : (flags & kForeignOnly) != 0;
        return point ? kSpecial | kScope : 0;
    }

    // Where the parser reads start tags by the rules of HTML (rather than
    // those of SVG and MathML): in HTML and at the points where SVG and
    // MathML hold HTML.
    bool startsAsHTML(const std::string& name) const {
        if (stack_.empty()) return true;
        const Open& top = stack_.back();
        const bool mathText = top.ns == kMathML && top.name != "annotation-xml";  // glyphs stay MathML even in mi..mtext
        if (mathText && (name == "mglyph" || name == "malignmark")) return false;
        if (top.ns == kMathML && top.name == "annotation-xml" && name == "svg") return true;
        return holdsHTML(top);
    }
    bool holdsHTML(const Open& e) const {
        if (e.ns == kHTML) return true;
        if (e.ns == kMathML) return e.name == "mi" || e.name == "mo" || e.name == "mn" || e.name == "ms" ||
                                    e.name == "mtext" || (e.name == "annotation-xml" && e.htmlInside);
        return e.name == "foreignobject" || e.name == "desc" || e.name == "title";
    }

    int count(const std::string& name) const {
        const auto it = open_.find(name);
        return it == open_.end() ? 0 : it->second;
    }
    bool htmlOpen(const std::string& name) const {
        if (count(name) == 0) return false;
        for (const Open& e : stack_)
            if (e.ns == kHTML && e.name == name) return true;
        return false;
    }

    // Where the HTML element `name` is open, searching down to the first
    // element with a flag of `boundaries` (or named `alsoBoundary`).
    size_t inScope(const std::string& name, uint16_t boundaries, std::string_view alsoBoundary = {}) const {
        if (count(name) == 0) return kNone;
        for (size_t i = stack_.size(); i-- > 0;) {
            if (stack_[i].ns == kHTML && stack_[i].name == name) return i;
            if ((stack_[i].flags & boundaries) || stack_[i].name == alsoBoundary) return kNone;
        }
        return kNone;
    }

    void popTo(size_t index) {
        while (stack_.size() > index) {
            const Open& top = stack_.back();
            if (top.flags & kMarker) {
                formatting_.resize(std::min(formatting_.size(), top.formattingMark));
                markers_.pop_back();
            }
            if (--open_[top.name] == 0) open_.erase(top.name);
            stack_.pop_back();
        }
    }

    void push(const std::string& name, Namespace ns, bool htmlInside = false) {
        const uint16_t flags = flagsIn(ns, name);
        stack_.push_back({name, flags, ns, formatting_.size(), htmlInside});
        ++open_[name];
        if (ns != kHTML) return;
        if (flags & kMarker) markers_.push_back(formatting_.size());
        if (flags & kFormatting) formatting_.push_back(name);
    }

    bool pushUnlessTooDeep(const std::string& name, Namespace ns, bool htmlInside = false) {
        // A paragraph past the depth is kept: it holds no other paragraph, and
        // nothing else opens past the depth, so it adds one level at most.
        const bool paragraph = ns == kHTML && name == "p";
        if ((stack_.size() >= maximumDepth_ && !paragraph) ||
            (ns == kHTML && (flagsOf(name) & kFormatting) && formatting_.size() >= maximumFormatting_))
            return false;
        push(name, ns, htmlInside);
        return true;
    }

    // An end tag that names no special element: it closes the nearest such
    // element unless a special element lies above it.
    void endOrdinary(const std::string& name) {
        if (count(name) == 0) return;
        for (size_t i = stack_.size(); i-- > 0;) {
            if (stack_[i].ns == kHTML && stack_[i].name == name) return popTo(i);
            if (stack_[i].flags & kSpecial) return;
        }
    }

    void endFormatting(const std::string& name) {
        const size_t lastMarker = markers_.empty() ? 0 : markers_.back();
        size_t listed = kNone;
        for (size_t k = formatting_.size(); k-- > lastMarker;)
            if (formatting_[k] == name) {
                listed = k;
                break;
            }
        if (listed == kNone) return endOrdinary(name);
        size_t open = kNone;
        if (count(name) > 0)
            for (size_t i = stack_.size(); i-- > 0;)
                if (stack_[i].ns == kHTML && stack_[i].name == name) {
                    open = i;
                    break;
                }
        if (open == kNone) {  // closed already: the parser forgets it
            formatting_.erase(formatting_.begin() + static_cast<std::ptrdiff_t>(listed));
            return;
        }
        if (inScope(name, kScope) != open) return;
        for (size_t i = open + 1; i < stack_.size(); ++i)
            if (stack_[i].flags & kSpecial) return;  // the parser moves elements about; count it as still open
        formatting_.erase(formatting_.begin() + static_cast<std::ptrdiff_t>(listed));
        popTo(open);
    }

    // Pops what SVG or MathML opened, down to HTML or to where they hold HTML.
    void leaveForeign() {
        while (!stack_.empty() && !holdsHTML(stack_.back())) popTo(stack_.size() - 1);
    }

    void endTag(const std::string& name) {
        boundEnd(name);
        if (!stack_.empty() && stack_.back().ns != kHTML) {
            // The nearest element of that name, as long as only SVG or
            // MathML lies above it; at HTML the rules of HTML take over.
            for (size_t i = stack_.size(); i-- > 0;) {
                if (stack_[i].name == name) return popTo(i);
                if (i == 0 || stack_[i - 1].ns == kHTML) break;
            }
        }
        endTagAsHTML(name);
    }

    void endTagAsHTML(const std::string& name) {
        if (name == "html" || name == "body" || name == "head" || name == "br") return;
        const uint16_t flags = flagsIn(kHTML, name);
        if (name == "form") {  // takes the form out of the stack, and no other element
            formOpen_ = false;
            if (size_t i = inScope("form", kScope); i != kNone) {
                if (--open_["form"] == 0) open_.erase("form");
                stack_.erase(stack_.begin() + static_cast<std::ptrdiff_t>(i));
            }
            return;
        }
        if (name == "p") {
            if (size_t i = inScope("p", kScope, "button"); i != kNone) popTo(i);
        } else if (name == "li") {
            if (size_t i = inScope("li", kScope, "ol"); i != kNone && inScope("li", kScope, "ul") == i) popTo(i);
        } else if (flags & kFormatting) {
            endFormatting(name);
        } else if (name == "select") {
            if (size_t i = inScope("select", kTableScope); i != kNone) popTo(i);
        } else if (flags & kEndsInScope) {
            if (size_t i = inScope(name, kScope); i != kNone) popTo(i);
        } else {
            endOrdinary(name);
        }
    }

    // False: the tag would go past a limit, and is cut. Sets rawText_ when
    // what follows is text up to the element's end tag.
    bool startTag(const std::string& name, bool selfClosing) {
        // A frameset and a template make the parser read what follows by
        // rules of their own; no description or depiction needs either.
        if (name == "frameset" || name == "template") return false;
        const bool foreign = !startsAsHTML(name);
        const bool breakout = foreign && ((flagsOf(name) & kBreakout) ||
                                          (name == "font" && (hasAttribute("color") || hasAttribute("face") || hasAttribute("size"))));
        const bool asHTML = !foreign || breakout;
        // The cut comes before anything the tag would close: the parser never
        // sees a cut tag, so nothing may close for it here either.
        const bool opens = asHTML ? !(flagsIn(kHTML, name) & kVoid) : !selfClosing;
        if (opens && ((stack_.size() >= maximumDepth_ && !(asHTML && name == "p")) ||
                      (asHTML && (flagsOf(name) & kFormatting) && formatting_.size() >= maximumFormatting_)))
            return false;
        if (foreign) {
            if (!breakout) {
                if (selfClosing) return true;
                const Namespace ns = stack_.back().ns;
                const bool htmlInside = ns == kMathML && name == "annotation-xml" &&
                                        (hasAttribute("encoding", "text/html") || hasAttribute("encoding", "application/xhtml+xml"));
                return pushUnlessTooDeep(name, ns, htmlInside);
            }
            leaveForeign();
        }
        return startTagAsHTML(name, selfClosing);
    }

    bool startTagAsHTML(const std::string& name, bool selfClosing) {
        const uint16_t flags = flagsIn(kHTML, name);
        if (name == "html" || name == "head" || name == "body") return true;
        if (name == "svg" || name == "math") {
            if (selfClosing) return true;
            return pushUnlessTooDeep(name, name == "svg" ? kSVG : kMathML);
        }
        // In a select only options close each other, and only script is raw text.
        if (htmlOpen("select")) {
            if ((name == "option" || name == "optgroup") && !stack_.empty() && stack_.back().name == "option")
                popTo(stack_.size() - 1);
            if (name == "optgroup" && !stack_.empty() && stack_.back().name == "optgroup") popTo(stack_.size() - 1);
            if (flags & kVoid) return true;
            rawText_ = name == "script";
            return pushUnlessTooDeep(name, kHTML);
        }
        // Parts of a table outside one, and a form inside one, are ignored.
        if ((flags & kTablePart) && inScope("table", kTableScope) == kNone) return true;
        if (name == "form" && formOpen_) return true;
        // What the tag closes without an end tag.
        const bool isItem = name == "li", isDefinition = name == "dd" || name == "dt";
        if ((isItem && count("li") > 0) || (isDefinition && count("dd") + count("dt") > 0)) {
            for (size_t i = stack_.size(); i-- > 0;) {
                const Open& e = stack_[i];
                if (e.ns == kHTML && (isItem ? e.name == "li" : (e.name == "dd" || e.name == "dt"))) {
                    popTo(i);
                    break;
                }
                if ((e.flags & kSpecial) && !(e.ns == kHTML && (e.name == "address" || e.name == "div" || e.name == "p")))
                    break;
            }
        }
        if (flags & kClosesParagraph)
            if (size_t i = inScope("p", kScope, "button"); i != kNone) popTo(i);
        if ((flags & kHeading) && !stack_.empty() && stack_.back().ns == kHTML && (stack_.back().flags & kHeading))
            popTo(stack_.size() - 1);
        if (name == "td" || name == "th") {
            const size_t td = inScope("td", kTableScope), th = inScope("th", kTableScope);
            const size_t cell = td == kNone ? th : th == kNone ? td : std::max(td, th);
            if (cell != kNone) popTo(cell);
        }
        if (name == "tr")
            if (size_t i = inScope("tr", kTableScope); i != kNone) popTo(i);
        if (name == "tbody" || name == "thead" || name == "tfoot")
            for (const char* section : {"tbody", "thead", "tfoot"})
                if (size_t i = inScope(section, kTableScope); i != kNone) popTo(i);
        if (name == "option" && !stack_.empty() && stack_.back().ns == kHTML && stack_.back().name == "option")
            popTo(stack_.size() - 1);
        if (name == "optgroup" && !stack_.empty() && stack_.back().ns == kHTML && stack_.back().name == "option")
            popTo(stack_.size() - 1);
        if (name == "a" || name == "nobr") endFormatting(name);
        if (name == "button")
            if (size_t i = inScope("button", kScope); i != kNone) popTo(i);
        // Ruby text ends the items, paragraphs and ruby parts open in its ruby.
        if ((name == "rb" || name == "rtc" || name == "rp" || name == "rt") && inScope("ruby", kScope) != kNone) {
            static const std::string_view kImplied[] = {"dd", "dt", "li", "optgroup", "option", "p", "rb", "rp", "rt", "rtc"};
            const bool keepRtc = name == "rp" || name == "rt";
            while (!stack_.empty() && stack_.back().ns == kHTML && !(keepRtc && stack_.back().name == "rtc") &&
                   std::find(std::begin(kImplied), std::end(kImplied), stack_.back().name) != std::end(kImplied))
                popTo(stack_.size() - 1);
        }
        // What a table's parser opens by itself around a row or cell.
        if (!stack_.empty() && stack_.back().ns == kHTML && (name == "tr" || name == "td" || name == "th")) {
            if (stack_.back().name == "table") push("tbody", kHTML);
            const std::string& top = stack_.back().name;
            if (name != "tr" && (top == "tbody" || top == "thead" || top == "tfoot")) push("tr", kHTML);
        }

        if (flags & kVoid) return true;
        if (!pushUnlessTooDeep(name, kHTML)) return false;
        if (name == "form") formOpen_ = true;
        rawText_ = (flags & kRawText) || name == "plaintext";
        return true;
    }

    ZMDepictionBudget* budget_ = ZMDepictionBudget::current();
    std::string_view whole_;
    std::string_view in_;  // the text up to the innermost limit
    std::vector<size_t> limits_;  // where reading markup inside uncertain raw text ends
    std::unordered_map<std::string, std::pair<size_t, size_t>> rawTextEnds_;  // name: searched from, found at
    size_t htmlAttributes_ = 0, bodyAttributes_ = 0, ownAttributes_ = 0;  // attributes each element gathers
    size_t maximumDepth_, maximumFormatting_;
    std::vector<Open> stack_;
    std::vector<std::pair<std::string, std::string_view>> attributes_;  // of a font or annotation-xml tag
    bool rawText_ = false;
    struct Bound {
        std::string name;
        uint16_t flags;
    };
    std::vector<Bound> bound_;  // the coarser count's open elements
    std::unordered_map<std::string, int> boundCounts_;  // how many of each name are open by it
    bool foreignSeen_ = false;        // an svg or math start tag was kept
    bool exotic_ = false;             // ... or a select: raw text is not sure
    std::vector<std::string> formatting_;  // the formatting elements a parser would reopen
    std::vector<size_t> markers_;          // the formatting list's length at each open marker
    std::unordered_map<std::string, int> open_;  // how many of each name are open
    bool formOpen_ = false;                      // a form was opened and not ended: another is ignored
    std::string out_;
    size_t copied_ = 0;
    bool cut_ = false;
};

}  // namespace

std::optional<std::string> ZMHTMLNestingLimit::limited(std::string_view html, size_t maximumDepth,
                                                       size_t maximumFormatting) {
    return Limiter(html, maximumDepth, maximumFormatting).run();
}
