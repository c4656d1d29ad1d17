#include "Depictions/ZMHTMLNestingLimit.h"

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
};

// The flags of the element names the rules name; other names have none.
uint16_t flagsOf(std::string_view name) {
    static const std::unordered_map<std::string_view, uint16_t> table = [] {
        std::unordered_map<std::string_view, uint16_t> t;
        auto add = [&](uint16_t flag, std::initializer_list<std::string_view> names) {
            for (std::string_view n : names) t[n] |= flag;
        };
        add(kSpecial, {"address", "annotation-xml", "applet", "area", "article", "aside", "base", "basefont", "bgsound",
                       "blockquote", "body", "br", "button", "caption", "center", "col", "colgroup", "dd", "desc",
                       "details", "dir", "div", "dl", "dt", "embed", "fieldset", "figcaption", "figure", "footer",
                       "foreignobject", "form", "frame", "frameset", "h1", "h2", "h3", "h4", "h5", "h6", "head",
                       "header", "hgroup", "hr", "html", "iframe", "img", "input", "keygen", "li", "link", "listing",
                       "main", "marquee", "math", "menu", "meta", "mi", "mn", "mo", "ms", "mtext", "nav", "noembed",
                       "noframes", "noscript", "object", "ol", "p", "param", "plaintext", "pre", "script", "search",
                       "section", "select", "source", "style", "summary", "svg", "table", "tbody", "td", "template",
                       "textarea", "tfoot", "th", "thead", "title", "tr", "track", "ul", "wbr", "xmp"});
        // With svg, math and select added: a parser handles what lies inside
        // them by other rules, so no search here crosses them.
        add(kScope, {"annotation-xml", "applet", "caption", "desc", "foreignobject", "html", "marquee", "math", "mi",
                     "mn", "mo", "ms", "mtext", "object", "select", "svg", "table", "td", "template", "th", "title"});
        add(kTableScope, {"html", "math", "select", "svg", "table", "template"});
        add(kHeading, {"h1", "h2", "h3", "h4", "h5", "h6"});
        add(kFormatting, {"a", "b", "big", "code", "em", "font", "i", "nobr", "s", "small", "strike", "strong", "tt", "u"});
        add(kVoid, {"area", "base", "basefont", "bgsound", "br", "col", "embed", "frame", "hr", "image", "img", "input",
                    "keygen", "link", "meta", "param", "source", "track", "wbr"});
        add(kMarker, {"applet", "caption", "marquee", "object", "td", "template", "th"});
        add(kRawText, {"iframe", "noembed", "noframes", "script", "style", "textarea", "title", "xmp"});
        add(kClosesParagraph, {"address", "article", "aside", "blockquote", "center", "details", "dialog", "dir", "div",
                               "dl", "fieldset", "figcaption", "figure", "footer", "form", "header", "hgroup", "hr",
                               "listing", "main", "menu", "nav", "ol", "p", "plaintext", "pre", "search", "section",
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
        : in_(html), maximumDepth_(maximumDepth), maximumFormatting_(maximumFormatting) {}

    std::optional<std::string> run() {
        size_t i = 0;
        while (i < in_.size()) {
            const size_t lt = in_.find('<', i);
            if (lt == std::string_view::npos) break;
            i = markup(lt);
        }
        if (!cut_) return std::nullopt;
        out_.append(in_.substr(copied_));
        return std::move(out_);
    }

private:
    struct Open {
        std::string name;
        uint16_t flags;
        size_t formattingMark;  // the formatting list's length when it opened
    };

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
        const size_t a = body.find("-->"), b = body.find("--!>");
        const size_t end = std::min(a == std::string_view::npos ? in_.size() : from + a + 3,
                                    b == std::string_view::npos ? in_.size() : from + b + 4);
        return std::min(end, in_.size());
    }

    // A start or end tag whose name begins at `nameStart`, its attributes
    // read as the HTML tokenizer reads them. A tag the text ends inside is no tag.
    size_t tag(size_t lt, size_t nameStart, bool isEnd) {
        size_t i = nameStart;
        std::string name;
        while (i < in_.size() && !isSpace(in_[i]) && in_[i] != '/' && in_[i] != '>') name += lower(in_[i++]);
        bool inValue = false;  // between an attribute's '=' and its value
        while (i < in_.size() && in_[i] != '>') {
            const char c = in_[i];
            if (inValue && (c == '"' || c == '\'')) {
                const size_t close = in_.find(c, i + 1);
                if (close == std::string_view::npos) return in_.size();
                i = close + 1;
                inValue = false;
                continue;
            }
            if (isSpace(c)) {
                ++i;
                continue;
            }
            if (inValue) {  // an unquoted value
                while (i < in_.size() && !isSpace(in_[i]) && in_[i] != '>') ++i;
                inValue = false;
                continue;
            }
            if (c == '/') {
                ++i;
                continue;
            }
            // An attribute's name (one that begins with '=' keeps it), then its '=' if any.
            ++i;
            while (i < in_.size() && !isSpace(in_[i]) && in_[i] != '/' && in_[i] != '>' && in_[i] != '=') ++i;
            while (i < in_.size() && isSpace(in_[i])) ++i;
            if (i < in_.size() && in_[i] == '=') {
                ++i;
                inValue = true;
            }
        }
        if (i >= in_.size()) return in_.size();
        const size_t end = i + 1;
        if (isEnd) {
            endTag(name);
            return end;
        }
        const uint16_t flags = flagsOf(name);
        if (!startTag(name, flags)) {
            if (!cut_) out_.reserve(in_.size());
            out_.append(in_.substr(copied_, lt - copied_));
            copied_ = end;
            cut_ = true;
            return end;
        }
        if (name == "plaintext" && !foreignOrSelect()) return in_.size();
        if ((flags & kRawText) && !foreignOrSelect()) return rawTextEnd(end, name);
        return end;
    }

    // Where "</name" followed by a space, '/' or '>' begins (that end tag is read next).
    size_t rawTextEnd(size_t from, std::string_view name) const {
        for (size_t at = in_.find("</", from); at != std::string_view::npos; at = in_.find("</", at + 2)) {
            size_t k = 0;
            while (k < name.size() && at + 2 + k < in_.size() && lower(in_[at + 2 + k]) == name[k]) ++k;
            const size_t next = at + 2 + k;
            if (k == name.size() && next < in_.size() && (isSpace(in_[next]) || in_[next] == '/' || in_[next] == '>'))
                return at;
        }
        return in_.size();
    }

    bool foreignOrSelect() const { return count("svg") + count("math") + count("select") > 0; }

    // ---- the stack of open elements --------------------------------------------------------

    int count(const std::string& name) const {
        const auto it = open_.find(name);
        return it == open_.end() ? 0 : it->second;
    }

    // Where `name` is open, searching down to the first element with a flag
    // of `boundaries` (or named `alsoBoundary`).
    size_t inScope(const std::string& name, uint16_t boundaries, std::string_view alsoBoundary = {}) const {
        if (count(name) == 0) return kNone;
        for (size_t i = stack_.size(); i-- > 0;) {
            if (stack_[i].name == name) return i;
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

    void push(const std::string& name, uint16_t flags) {
        stack_.push_back({name, flags, formatting_.size()});
        ++open_[name];
        if (flags & kMarker) markers_.push_back(formatting_.size());
        if (flags & kFormatting) formatting_.push_back(name);
    }

    // An end tag that names no special element: it closes the nearest such
    // element unless a special element lies above it.
    void endOrdinary(const std::string& name) {
        if (count(name) == 0) return;
        for (size_t i = stack_.size(); i-- > 0;) {
            if (stack_[i].name == name) return popTo(i);
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
                if (stack_[i].name == name) {
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

    void endTag(const std::string& name) {
        if (name == "html" || name == "body" || name == "head" || name == "br" || name == "form") return;
        const uint16_t flags = flagsOf(name);
        if (name == "p") {
            if (size_t i = inScope("p", kScope, "button"); i != kNone) popTo(i);
        } else if (name == "li") {
            if (size_t i = inScope("li", kScope, "ol"); i != kNone && inScope("li", kScope, "ul") == i) popTo(i);
        } else if (flags & kFormatting) {
            endFormatting(name);
        } else if (name == "select") {
            if (count("select") == 0) return;
            for (size_t i = stack_.size(); i-- > 0;) {
                if (stack_[i].name == "select") return popTo(i);
                if (stack_[i].name == "template" || stack_[i].name == "svg" || stack_[i].name == "math") return;
            }
        } else if (flags & kSpecial) {
            if (size_t i = inScope(name, kScope); i != kNone) popTo(i);
        } else {
            endOrdinary(name);
        }
    }

    // False: the tag would go past a limit, and is cut.
    bool startTag(const std::string& name, uint16_t flags) {
        if (name == "html" || name == "head" || name == "body") return true;
        // What the tag closes without an end tag.
        const bool isItem = name == "li", isDefinition = name == "dd" || name == "dt";
        if ((isItem && count("li") > 0) || (isDefinition && count("dd") + count("dt") > 0)) {
            for (size_t i = stack_.size(); i-- > 0;) {
                const std::string& n = stack_[i].name;
                if (isItem ? n == "li" : (n == "dd" || n == "dt")) {
                    popTo(i);
                    break;
                }
                if ((stack_[i].flags & kSpecial) && n != "address" && n != "div" && n != "p") break;
            }
        }
        if (flags & kClosesParagraph)
            if (size_t i = inScope("p", kScope, "button"); i != kNone) popTo(i);
        if ((flags & kHeading) && !stack_.empty() && (stack_.back().flags & kHeading)) popTo(stack_.size() - 1);
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
        if ((name == "option" || name == "optgroup") && !stack_.empty() && stack_.back().name == "option")
            popTo(stack_.size() - 1);
        if (name == "optgroup" && !stack_.empty() && stack_.back().name == "optgroup") popTo(stack_.size() - 1);
        if (name == "a" || name == "nobr") endFormatting(name);
        // What a table's parser opens by itself around a row or cell.
        if (!stack_.empty() && (name == "tr" || name == "td" || name == "th")) {
            if (stack_.back().name == "table") push("tbody", flagsOf("tbody"));
            const std::string& top = stack_.back().name;
            if (name != "tr" && (top == "tbody" || top == "thead" || top == "tfoot")) push("tr", flagsOf("tr"));
        }

        if (flags & kVoid) return true;
        // A paragraph past the depth is kept: it holds no other paragraph, and
        // nothing else opens past the depth, so it adds one level at most.
        if ((stack_.size() >= maximumDepth_ && name != "p") ||
            ((flags & kFormatting) && formatting_.size() >= maximumFormatting_))
            return false;
        push(name, flags);
        return true;
    }

    std::string_view in_;
    size_t maximumDepth_, maximumFormatting_;
    std::vector<Open> stack_;
    std::vector<std::string> formatting_;  // the formatting elements a parser would reopen
    std::vector<size_t> markers_;          // the formatting list's length at each open marker
    std::unordered_map<std::string, int> open_;  // how many of each name are open
    std::string out_;
    size_t copied_ = 0;
    bool cut_ = false;
};

}  // namespace

std::optional<std::string> ZMHTMLNestingLimit::limited(std::string_view html, size_t maximumDepth,
                                                       size_t maximumFormatting) {
    return Limiter(html, maximumDepth, maximumFormatting).run();
}
