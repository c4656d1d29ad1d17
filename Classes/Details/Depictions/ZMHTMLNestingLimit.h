#pragma once
// Cuts the nesting of an HTML text before an HTML parser builds its tree.
//
// An HTML parser searches its stack of open elements at almost every tag and
// frees its tree recursively: a few megabytes of text nested hundreds of
// thousands deep take seconds to parse and overflow the stack when freed.
// This pass follows the HTML parsing rules far enough to know the depth the
// parser will reach, and removes the start tags that would take it past
// `maximumDepth`; their text stays, as text of the element above (so nothing
// below that depth is run or styled), and only paragraphs keep their tags
// there. End tags stay: the parser matches them as it would anyway.
//
// The count follows the rules closely (implicit ends, scopes, SVG and MathML
// with their integration points, ignored tags); formatting elements a parser
// reopens by itself (b, i, font...) are capped apart. Where it could still
// fall behind the parser, a second, coarser count that only ever closes what
// the parser surely closes caps the depth at four times the cut. Frameset and
// template start tags are cut: they switch the parser to rules of their own.
//
// Attributes are capped too: at most kMaximumAttributes an element (html and
// body gather those of every html or body tag) and none that ends past
// kMaximumTagBytes from its tag's start. A parser compares each attribute with
// those before it and copies them into every element it reopens.
//
// The pass spends the time of the reading in progress on this thread, if any
// (ZMDepictionBudget::Scope): past it, it throws ZMDepictionBudget::Exceeded.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

class ZMHTMLNestingLimit {
public:
    static constexpr size_t kMaximumDepth = 256;
    static constexpr size_t kMaximumFormatting = 64;
    static constexpr size_t kMaximumAttributes = 32;
    static constexpr size_t kMaximumTagBytes = 8 * 1024;

    // The text without the start tags beyond the depth and the attributes
    // beyond the caps; nullopt when none is.
    static std::optional<std::string> limited(std::string_view html, size_t maximumDepth = kMaximumDepth,
                                              size_t maximumFormatting = kMaximumFormatting);
};
