#pragma once
// Hostile shapes of a description that more than one benchmark builds: the
// text-to-document step per call (bench_DepictionDocumentBench) and pages
// opened and left in a row (bench_DepictionChurnBench).
#include <cstddef>
#include <string>
#include <string_view>

namespace HostileTexts {

// `head`, then `unit` as often as the text stays within `bytes`.
inline std::string repeatedTo(size_t bytes, std::string_view head, std::string_view unit) {
    std::string text(head);
    text.reserve(bytes);
    while (text.size() + unit.size() <= bytes) text += unit;
    return text;
}

// Paragraphs of 2,000 addresses each (`address` and a space), a blank line
// between them, up to `bytes`: each paragraph stays under the page's
// paragraph-length limit, so the text stays formatted and every address is a link.
inline std::string addressParagraphs(size_t bytes, std::string_view address) {
    constexpr int kPerParagraph = 2000;
    std::string text;
    text.reserve(bytes);
    for (int n = 0;; ++n) {
        const bool ends = n % kPerParagraph == kPerParagraph - 1;
        if (text.size() + address.size() + 1 + (ends ? 2 : 0) > bytes) break;
        text += address;
        text += ends ? " \n\n" : " ";
    }
    return text;
}

}  // namespace HostileTexts
