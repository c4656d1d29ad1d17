#pragma once
// An HTML page parsed by gumbo (HTML5 rules, so broken pages parse the way
// browsers read them), with the few queries the page readers need. Queries
// are tree walks instead of CSS selectors; every walk is iterative, so a page
// of thousands of nested elements cannot exhaust the stack; nesting deeper
// than the parser can take in time is cut before it parses (ZMHTMLNestingLimit).
//
// Element names are lower case. Elements HTML does not know (a "panel") are
// named by the name they were written with.
//
// The parse spends a ZMDepictionBudget (its own for the page's size unless
// the caller shares one): past it the parse is abandoned and the document is
// an empty page that says why (overBudget()).
//
// Text: the page is read as UTF-8 unless it is not valid UTF-8, in which case
// the charset its head declares (else windows-1252, as browsers do) is
// converted; a byte-order mark decides first (after a UTF-8 one, a broken
// sequence reads as U+FFFD).
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Depictions/ZMDepictionBudget.h"

struct GumboInternalNode;
struct GumboInternalOutput;

class ZMHTMLDocument {
public:
    using Element = const GumboInternalNode*;

    static std::shared_ptr<const ZMHTMLDocument> parse(std::string_view data, ZMDepictionBudget* budget = nullptr);
    // Why the parse was abandoned; nullopt when it was not.
    const std::optional<std::string>& overBudget() const { return overBudget_; }
    // The bytes the parse allocated (charged to the budget).
    size_t allocated() const { return allocated_; }
    ~ZMHTMLDocument();
    ZMHTMLDocument(const ZMHTMLDocument&) = delete;
    ZMHTMLDocument& operator=(const ZMHTMLDocument&) = delete;

    // The document node: the scope of whole-page queries.
    Element document() const;
    // Elements named `name` below `scope` (not `scope` itself), in document order.
    std::vector<Element> elementsNamed(std::string_view name, Element scope = nullptr) const;
    Element firstElementNamed(std::string_view name, Element scope = nullptr) const;
    // Elements named `name` that lie inside at least one element passing
    // `container`, each once, in document order.
    std::vector<Element> elementsNamedInside(std::string_view name, const std::function<bool(Element)>& container) const;

    // Walks spend the time of the reading in progress on this thread, if any
    // (ZMDepictionBudget::Scope): past it, they throw ZMDepictionBudget::Exceeded.
    //
    // Visits every node below `scope` in document order: `enter` for each node
    // (false: skip what lies below it, and its `leave`), `leave` for an
    // element after its children.
    static void traverse(Element scope, const std::function<bool(Element)>& enter,
                         const std::function<void(Element)>& leave);
    // Text nodes (also white space and CDATA) and their text.
    static bool isText(Element node);
    static std::string_view text(Element node);

    static std::vector<Element> childElements(Element element);
    static std::string tagName(Element element);
    static bool isNamed(Element element, std::string_view name);
    static std::optional<std::string> attribute(Element element, std::string_view name);
    // All text beneath the element, white space as written.
    static std::string textContent(Element element);

    // The page's bytes as UTF-8 (exposed for tests and the sanitizer).
    static std::string toUTF8(std::string_view data);
    // A text that is no page (a description, a changelog) as UTF-8: each
    // byte that begins no valid character is one U+FFFD, as Qt reads it.
    static std::string validUTF8(std::string_view text);
    // The text of a text with markup (see ZMTextWithoutMarkup): as HTML, the
    // page's bytes read by toUTF8(); else as Markdown. For a text or page
    // read past its budget, and for our own HTML shown as plain text.
    static std::string textWithoutMarkup(std::string_view text, bool asHTML = true);
    // The reference at text[at] ("&...;"): a named one of HTML5's (one or two
    // characters), or a number (U+FFFD for a number no character has);
    // nothing for anything else.
    struct CharacterReference {
        char32_t first, second;  // second: 0 for a single character
        size_t length;           // of "&...;"
    };
    static std::optional<CharacterReference> characterReferenceAt(std::string_view text, size_t at);

    // A page parsed and read by `read` (given the document) within one
    // depiction's budget. A page past the budget gives its text without
    // markup to `pastBudget` instead; a read that runs out of time, or whose
    // page went (`gone`, see ZMDepictionBudget::stopWhen), gives the empty
    // result. `reader` names it in the log.
    template <class Read, class PastBudget>
    static auto readWithinBudget(const char* reader, std::string_view data, const std::function<bool()>& gone, Read&& read,
                                 PastBudget&& pastBudget) -> decltype(read(std::declval<const ZMHTMLDocument&>()));

private:
    static void logOverBudget(const char* reader, const std::string& how, const std::string& why);
    ZMHTMLDocument() = default;
    std::string text_;  // gumbo points into it
    GumboInternalOutput* output_ = nullptr;
    // Everything gumbo allocates for this page, freed in one go: gumbo frees
    // its tree recursively, which a deep enough page would overflow.
    std::vector<std::unique_ptr<char[]>> chunks_, large_;
    size_t chunkUsed_ = 0, chunkSize_ = 0;
    size_t allocated_ = 0;
    ZMDepictionBudget* budget_ = nullptr;
    void* abandon_ = nullptr;  // the jmp_buf that abandons the parse in progress
    std::optional<std::string> overBudget_;
    static void* allocate(void* self, size_t size);
    static void deallocate(void*, void*) {}
};

template <class Read, class PastBudget>
auto ZMHTMLDocument::readWithinBudget(const char* reader, std::string_view data, const std::function<bool()>& gone, Read&& read,
                                      PastBudget&& pastBudget) -> decltype(read(std::declval<const ZMHTMLDocument&>())) {
    ZMDepictionBudget budget(data.size());
    budget.stopWhen(gone);
    ZMDepictionBudget::Scope scope(budget);
    try {
        auto doc = parse(data, &budget);
        if (!doc->overBudget()) return read(*doc);
        if (budget.stopped()) return {};
        logOverBudget(reader, "read the page as plain text", *doc->overBudget());
        return pastBudget(textWithoutMarkup(data));
    } catch (const ZMDepictionBudget::Exceeded& e) {
        logOverBudget(reader, "gave nothing", e.what());
        return {};
    }
}
