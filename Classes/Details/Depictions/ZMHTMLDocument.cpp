#include "Depictions/ZMHTMLDocument.h"

#include "Depictions/ZMDepictionBudget.h"
#include "Depictions/ZMHTMLEntityTable.h"
#include "Depictions/ZMHTMLNestingLimit.h"
#include "Depictions/ZMTextWithoutMarkup.h"
#include "Miscellaneous/ZMLog.h"

#include <gumbo.h>
#include <unicode/ucnv.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cctype>
#include <csetjmp>
#include <cstddef>

namespace {

bool isValidUTF8(std::string_view s) {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const int32_t length = static_cast<int32_t>(std::min<size_t>(s.size(), INT32_MAX));
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(p, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

std::string convert(std::string_view data, const char* from) {
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = static_cast<int32_t>(std::min<size_t>(data.size(), INT32_MAX / 4));
    const int32_t needed = ucnv_convert("UTF-8", from, nullptr, 0, data.data(), length, &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return {};
    std::string out(static_cast<size_t>(needed), '\0');
    status = U_ZERO_ERROR;
    ucnv_convert("UTF-8", from, out.data(), needed, data.data(), length, &status);
    if (U_FAILURE(status)) return {};
    return out;
}

// The charset named near the start of the page ("charset=..." of a meta element).
std::string declaredCharset(std::string_view data) {
    std::string head(data.substr(0, 2048));
    std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::tolower(c); });
    size_t at = head.find("charset");
    if (at == std::string::npos) return {};
    at += 7;
    while (at < head.size() && (head[at] == ' ' || head[at] == '=' || head[at] == '"' || head[at] == '\'')) ++at;
    size_t end = at;
    while (end < head.size() && (std::isalnum(static_cast<unsigned char>(head[end])) || head[end] == '-' ||
                                 head[end] == '_' || head[end] == ':' || head[end] == '.'))
        ++end;
    return head.substr(at, end - at);
}

// Walks check the time of the reading in progress now and then.
constexpr unsigned kStepsPerCheck = 1024;

bool isElement(const GumboNode* n) { return n->type == GUMBO_NODE_ELEMENT || n->type == GUMBO_NODE_TEMPLATE; }

const GumboVector* childrenOf(const GumboNode* n) {
    if (n->type == GUMBO_NODE_DOCUMENT) return &n->v.document.children;
    if (isElement(n)) return &n->v.element.children;
    return nullptr;
}

// Calls `visit(node, containers)` for every node below `scope` in document
// order, with the number of its ancestors (below `scope`) that pass
// `isContainer`; `visit` returning false stops the walk.
template <class Visit, class Container>
void walkCounting(const GumboNode* scope, Container&& isContainer, Visit&& visit) {
    struct Frame {
        const GumboVector* children;
        unsigned next;
        int containers;  // passing ancestors of these children
    };
    std::vector<Frame> stack;
    if (auto* c = childrenOf(scope)) stack.push_back({c, 0, 0});
    ZMDepictionBudget* budget = ZMDepictionBudget::current();
    for (unsigned steps = 0; !stack.empty(); ++steps) {
        if (budget && steps % kStepsPerCheck == 0) budget->check();
        Frame& top = stack.back();
        if (top.next >= top.children->length) {
            stack.pop_back();
            continue;
        }
        auto* node = static_cast<const GumboNode*>(top.children->data[top.next++]);
        const int containers = top.containers;
        if (!visit(node, containers)) return;
        if (auto* c = childrenOf(node); c && c->length > 0)
            stack.push_back({c, 0, containers + (isContainer(node) ? 1 : 0)});
    }
}

template <class Visit> void walk(const GumboNode* scope, Visit&& visit) {
    walkCounting(scope, [](const GumboNode*) { return false; }, [&](const GumboNode* n, int) { return visit(n); });
}

}  // namespace

std::string ZMHTMLDocument::toUTF8(std::string_view data) {
    // A mark says UTF-8; what follows it is checked like any other text.
    if (data.size() >= 3 && data.substr(0, 3) == "\xEF\xBB\xBF") return validUTF8(data.substr(3));
    if (data.size() >= 2 && (data.substr(0, 2) == "\xFF\xFE" || data.substr(0, 2) == "\xFE\xFF"))
        return convert(data.substr(2), data[0] == '\xFF' ? "UTF-16LE" : "UTF-16BE");
    if (isValidUTF8(data)) return std::string(data);
    std::string charset = declaredCharset(data);
    if (charset.empty() || charset == "utf-8" || charset == "utf8") charset = "windows-1252";
    std::string out = convert(data, charset.c_str());
    if (out.empty()) out = convert(data, "windows-1252");
    return out;
}

std::string ZMHTMLDocument::validUTF8(std::string_view text) {
    if (isValidUTF8(text)) return std::string(text);
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    const int32_t length = static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX));
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    for (int32_t i = 0; i < length;) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(p, i, length, c);
        if (c < 0) {
            out += "\xEF\xBF\xBD";
            i = start + 1;  // a byte each, not the longest broken sequence
        } else {
            out.append(text.data() + start, static_cast<size_t>(i - start));
        }
    }
    return out;
}

std::shared_ptr<const ZMHTMLDocument> ZMHTMLDocument::parse(std::string_view data, ZMDepictionBudget* budget) {
    std::shared_ptr<ZMHTMLDocument> doc(new ZMHTMLDocument);
    std::optional<ZMDepictionBudget> own;
    doc->budget_ = budget ? budget : &own.emplace(data.size());
    std::optional<ZMDepictionBudget::Scope> scope;
    if (ZMDepictionBudget::current() != doc->budget_) scope.emplace(*doc->budget_);
    try {
        doc->text_ = toUTF8(data);
        if (auto limited = ZMHTMLNestingLimit::limited(doc->text_)) doc->text_ = std::move(*limited);
    } catch (const ZMDepictionBudget::Exceeded& e) {
        doc->overBudget_ = e.what();
        std::string().swap(doc->text_);
    }
    GumboOptions options = kGumboDefaultOptions;
    options.max_errors = 0;  // parse errors are not looked at; recording them costs time
    options.allocator = &ZMHTMLDocument::allocate;
    options.deallocator = &ZMHTMLDocument::deallocate;
    options.userdata = doc.get();
    // gumbo cannot be stopped: past the budget its allocation returns here
    // instead, and what it built so far goes with the document's chunks.
    std::jmp_buf abandon;
    doc->abandon_ = &abandon;
    if (doc->overBudget_) {
        // the cut ran out of time: no parse
    } else if (setjmp(abandon) == 0) {
        doc->output_ = gumbo_parse_with_options(&options, doc->text_.data(), doc->text_.size());
    } else {
        // What the abandoned parse built goes now, not with the page: a page
        // read as plain text keeps its document while its readers run.
        doc->overBudget_ = doc->budget_->reason();
        std::string().swap(doc->text_);
        doc->chunks_.clear();
        doc->large_.clear();
        doc->chunkUsed_ = doc->chunkSize_ = 0;
        doc->budget_->release(doc->allocated_);
        doc->allocated_ = 0;
    }
    doc->abandon_ = nullptr;
    if (!doc->output_) doc->output_ = gumbo_parse_with_options(&options, "", 0);  // an empty page
    doc->budget_ = nullptr;
    return doc;
}

// Memory gumbo frees while it parses stays with the page until it goes:
// about twice the page's tree at most, since gumbo grows its buffers by doubling.
// Chunks grow from small ones: a description may parse thousands of short
// HTML blocks one at a time.
void* ZMHTMLDocument::allocate(void* self, size_t size) {
    auto* doc = static_cast<ZMHTMLDocument*>(self);
    constexpr size_t kFirstChunk = 8 * 1024, kLargestChunk = 256 * 1024;
    constexpr size_t kAlign = alignof(std::max_align_t);
    size = (size + kAlign - 1) / kAlign * kAlign;
    const bool large = size > kLargestChunk / 4;
    const bool newChunk = !large && (doc->chunks_.empty() || doc->chunkUsed_ + size > doc->chunkSize_);
    const size_t chunk = std::max(size, std::min(kLargestChunk, kFirstChunk << std::min<size_t>(doc->chunks_.size(), 5)));
    if (large || newChunk) {
        const size_t bytes = large ? size : chunk;
        doc->allocated_ += bytes;
        if (doc->budget_ && !doc->budget_->charge(bytes) && doc->abandon_)
            std::longjmp(*static_cast<std::jmp_buf*>(doc->abandon_), 1);
    } else if (doc->budget_ && doc->abandon_ && !doc->budget_->charge(0)) {
        std::longjmp(*static_cast<std::jmp_buf*>(doc->abandon_), 1);  // the time is up
    }
    if (large) return doc->large_.emplace_back(new char[size]).get();
    if (newChunk) {
        doc->chunks_.emplace_back(new char[chunk]);
        doc->chunkSize_ = chunk;
        doc->chunkUsed_ = 0;
    }
    void* p = doc->chunks_.back().get() + doc->chunkUsed_;
    doc->chunkUsed_ += size;
    return p;
}

ZMHTMLDocument::~ZMHTMLDocument() = default;

ZMHTMLDocument::Element ZMHTMLDocument::document() const { return output_->document; }

std::vector<ZMHTMLDocument::Element> ZMHTMLDocument::elementsNamed(std::string_view name, Element scope) const {
    std::vector<Element> out;
    walk(scope ? scope : document(), [&](const GumboNode* n) {
        if (isNamed(n, name)) out.push_back(n);
        return true;
    });
    return out;
}

ZMHTMLDocument::Element ZMHTMLDocument::firstElementNamed(std::string_view name, Element scope) const {
    Element found = nullptr;
    walk(scope ? scope : document(), [&](const GumboNode* n) {
        if (isNamed(n, name)) found = n;
        return found == nullptr;
    });
    return found;
}

std::vector<ZMHTMLDocument::Element> ZMHTMLDocument::elementsNamedInside(
    std::string_view name, const std::function<bool(Element)>& container) const {
    std::vector<Element> out;
    walkCounting(document(), [&](const GumboNode* n) { return isElement(n) && container(n); },
                 [&](const GumboNode* n, int containers) {
                     if (containers > 0 && isNamed(n, name)) out.push_back(n);
                     return true;
                 });
    return out;
}

void ZMHTMLDocument::traverse(Element scope, const std::function<bool(Element)>& enter,
                              const std::function<void(Element)>& leave) {
    struct Frame {
        const GumboNode* node;  // whose children these are
        const GumboVector* children;
        unsigned next;
    };
    std::vector<Frame> stack;
    if (!scope) return;
    if (auto* c = childrenOf(scope)) stack.push_back({scope, c, 0});
    ZMDepictionBudget* budget = ZMDepictionBudget::current();
    for (unsigned steps = 0; !stack.empty(); ++steps) {
        if (budget && steps % kStepsPerCheck == 0) budget->check();
        Frame& top = stack.back();
        if (top.next >= top.children->length) {
            const GumboNode* done = top.node;
            stack.pop_back();
            if (!stack.empty() && isElement(done)) leave(done);
            continue;
        }
        auto* node = static_cast<const GumboNode*>(top.children->data[top.next++]);
        if (!enter(node)) continue;
        if (auto* c = childrenOf(node); c && c->length > 0)
            stack.push_back({node, c, 0});
        else if (isElement(node))
            leave(node);
    }
}

bool ZMHTMLDocument::isText(Element node) {
    return node && (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_WHITESPACE || node->type == GUMBO_NODE_CDATA);
}

std::string_view ZMHTMLDocument::text(Element node) { return isText(node) ? node->v.text.text : std::string_view(); }

std::vector<ZMHTMLDocument::Element> ZMHTMLDocument::childElements(Element element) {
    std::vector<Element> out;
    if (auto* c = element ? childrenOf(element) : nullptr)
        for (unsigned i = 0; i < c->length; ++i)
            if (auto* n = static_cast<const GumboNode*>(c->data[i]); isElement(n)) out.push_back(n);
    return out;
}

std::string ZMHTMLDocument::tagName(Element element) {
    if (!element || !isElement(element)) return {};
    if (element->v.element.tag != GUMBO_TAG_UNKNOWN) return gumbo_normalized_tagname(element->v.element.tag);
    GumboStringPiece piece = element->v.element.original_tag;
    if (!piece.data || piece.length == 0) return {};
    gumbo_tag_from_original_text(&piece);
    std::string name(piece.data, piece.length);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    return name;
}

bool ZMHTMLDocument::isNamed(Element element, std::string_view name) {
    if (!element || !isElement(element)) return false;
    const GumboTag tag = element->v.element.tag;
    if (tag != GUMBO_TAG_UNKNOWN) return name == gumbo_normalized_tagname(tag);
    return tagName(element) == name;
}

std::optional<std::string> ZMHTMLDocument::attribute(Element element, std::string_view name) {
    if (!element || !isElement(element)) return std::nullopt;
    const std::string key(name);
    if (const GumboAttribute* a = gumbo_get_attribute(&element->v.element.attributes, key.c_str())) return std::string(a->value);
    return std::nullopt;
}

std::string ZMHTMLDocument::textContent(Element element) {
    std::string out;
    if (!element) return out;
    if (element->type == GUMBO_NODE_TEXT || element->type == GUMBO_NODE_WHITESPACE || element->type == GUMBO_NODE_CDATA)
        return element->v.text.text;
    walk(element, [&](const GumboNode* n) {
        if (n->type == GUMBO_NODE_TEXT || n->type == GUMBO_NODE_WHITESPACE || n->type == GUMBO_NODE_CDATA)
            out += n->v.text.text;
        return true;
    });
    return out;
}

void ZMHTMLDocument::logOverBudget(const char* reader, const std::string& how, const std::string& why) {
    ZMLOG("{} {}: {}", reader, how, why);
}

std::optional<ZMHTMLDocument::CharacterReference> ZMHTMLDocument::characterReferenceAt(std::string_view text, size_t at) {
    // The longest name, with "&" and ";" around it.
    const size_t semi = text.substr(at, ZMHTMLEntityTable::kLongestName + 2).find(';');
    if (semi == std::string_view::npos || semi < 2) return std::nullopt;
    const std::string_view name = text.substr(at + 1, semi - 1);
    if (name[0] != '#') {
        const auto* end = std::end(ZMHTMLEntityTable::kEntities);
        const auto* found = std::lower_bound(std::begin(ZMHTMLEntityTable::kEntities), end, name,
                                             [](const ZMHTMLEntityTable::Entity& e, std::string_view n) { return e.name < n; });
        if (found == end || found->name != name) return std::nullopt;
        return CharacterReference{found->first, found->second, semi + 1};
    }
    constexpr size_t kLongestNumber = 10;  // "&#x10FFFF;" and a leading zero
    if (semi > kLongestNumber || name.size() < 2) return std::nullopt;
    const bool hex = name[1] == 'x' || name[1] == 'X';
    const std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty()) return std::nullopt;
    char32_t value = 0;
    for (char d : digits) {
        const int digit = std::isdigit(static_cast<unsigned char>(d)) ? d - '0'
                          : hex && std::isxdigit(static_cast<unsigned char>(d))
                              ? std::tolower(static_cast<unsigned char>(d)) - 'a' + 10
                              : -1;
        if (digit < 0) return std::nullopt;
        value = value * (hex ? 16 : 10) + static_cast<char32_t>(digit);
    }
    if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) value = 0xFFFD;
    return CharacterReference{value, 0, semi + 1};
}

std::string ZMHTMLDocument::textWithoutMarkup(std::string_view text, bool asHTML) {
    return asHTML ? ZMTextWithoutMarkup::ofHTML(toUTF8(text)) : ZMTextWithoutMarkup::ofMarkdown(text);
}
