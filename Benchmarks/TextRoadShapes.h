#pragma once
// The hostile texts of bench_GuiTextRoads: shapes that froze the window
// (nested quotes and lists that leave no width, U+2028 line separators kept
// by a plain fallback), shapes that are slow to lay out (direction changing
// at every character, one combining mark repeated on one letter) and
// formatting that changes every few characters, each made as large as asked
// from a unit repeated.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace TextRoadShapes {

inline std::string utf8(char32_t c) {
    std::string s;
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
    return s;
}

inline std::string times(std::string_view unit, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += unit;
    return s;
}

// "a b c ... " single letters, n of them.
inline std::string letters(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += std::string(i ? " " : "") + static_cast<char>('a' + i % 26);
    return s;
}

// A character whose direction differs from the one before it: Latin and
// Hebrew letters, or Arabic letters and digits, in turn.
inline std::string directionChange(size_t i, bool arabic) {
    if (i % 2 == 0) return utf8(arabic ? 0x0628 + i / 2 % 20 : 'a' + i / 2 % 26);
    return arabic ? std::string(1, static_cast<char>('0' + i / 2 % 10)) : utf8(0x05D0 + i / 2 % 27);
}

inline std::string directionParagraph(bool arabic) {
    std::string s;
    for (size_t i = 0; i < 32000; ++i) s += directionChange(i, arabic);
    return s + "\n\n";
}

// Lists `depth` deep, an item of one letter at each level.
inline std::string nestedLists(size_t depth) {
    std::string s;
    for (size_t d = 0; d < depth; ++d) s += std::string(2 * d, ' ') + "- x\n";
    return s;
}

// One acute accent more: the same mark, stacked on the letter before.
inline std::string combiningMark(size_t) { return utf8(0x0301); }

struct Shape {
    const char* name;
    const char* what;
    size_t bytes;    // at most (a road's container may hold less)
    bool everyRoad;  // else the native description only
    std::function<std::string(size_t)> unit;
    std::string head = {}, tail = {};
    size_t units = SIZE_MAX;  // at most this many units
};

inline const std::vector<Shape>& shapes() {
    constexpr size_t KiB = 1024, MiB = 1024 * 1024;
    static const std::vector<Shape> all = {
        {"quotes64-heading", "64 nested quotes then a heading of 2,000 single letters, repeated", 512 * KiB, true,
         [](size_t) { return times("> ", 64) + "# " + letters(2000) + "\n"; }},
        {"quotes9-letters", "paragraphs of 1,000 single letters in nine nested quotes", MiB, true,
         [](size_t) { return times("> ", 9) + letters(1000) + "\n" + times("> ", 9) + "\n"; }},
        {"lists45-letters", "items of 1,000 single letters in 45 nested lists", MiB, true,
         [](size_t) { return std::string(88, ' ') + "- " + letters(1000) + "\n"; }, nestedLists(45)},
        {"separators", "single letters between U+2028 line separators", 2'400'000, true,
         [](size_t i) { return std::string(1, static_cast<char>('a' + i % 26)) + utf8(0x2028); }},
        {"separators-budget", "one paragraph of letters and U+2028 as character references, past the budget", 4 * MiB, true,
         [](size_t i) { return std::string(1, static_cast<char>('a' + i % 26)) + "&#8232;"; }},
        {"hebrew-32k", "one paragraph of 32,000 characters, Latin and Hebrew in turn", 48'000, true,
         [](size_t i) { return directionChange(i, false); }},
        {"hebrew-1m", "paragraphs of 32,000 characters, Latin and Hebrew in turn", MiB, true,
         [](size_t) { return directionParagraph(false); }},
        {"hebrew-4m", "paragraphs of 32,000 characters, Latin and Hebrew in turn", 4 * MiB, true,
         [](size_t) { return directionParagraph(false); }},
        {"arabic-32k", "one paragraph of 32,000 characters, digits between Arabic letters", 48'000, true,
         [](size_t i) { return directionChange(i, true); }},
        {"arabic-1m", "paragraphs of 32,000 characters, digits between Arabic letters", MiB, true,
         [](size_t) { return directionParagraph(true); }},
        {"arabic-4m", "paragraphs of 32,000 characters, digits between Arabic letters", 4 * MiB, true,
         [](size_t) { return directionParagraph(true); }},
        {"marks-64k", "one combining mark repeated on one base letter", 64'000, true, combiningMark, "a"},
        {"marks-1m", "one combining mark repeated on one base letter", MiB, true, combiningMark, "a"},
        {"marks-4m", "one combining mark repeated on one base letter", 4 * MiB, true, combiningMark, "a"},
        {"emphasis-64k", "emphasis every few characters, paragraphs of 600 runs", 64 * KiB, false,
         [](size_t i) { return std::string("*ab*cd") + (i % 600 == 599 ? "\n\n" : " "); }},
        {"subsup-64k", "subscripts and superscripts every character, paragraphs of 300 runs", 64 * KiB, false,
         [](size_t i) { return std::string("<sub>a</sub>b<sup>c</sup>d") + (i % 300 == 299 ? "\n\n" : " "); }},
        {"quoted-tables-33k", "tables in tables in three quotes, words of combining marks", 33'000, false,
         [](size_t) {
             const std::string words = times("e" + utf8(0x0301) + utf8(0x0302) + utf8(0x0303) + " ", 8);
             return "> > > <table><tr><td>" + words + "</td><td><table><tr><td>" + words +
                    "</td></tr></table></td></tr></table>\n\n";
         }},
        {"columns-480", "one table row of 480 columns", 64 * KiB, false, [](size_t) { return std::string("<td>ab</td>"); },
         "<table><tr>", "</tr></table>\n\n", 480},
        // Each paragraph is a <p> and two <br>, the whole a <span>: 19,937 + 20 * 3 + 1 elements.
        {"elements-19998", "19,998 elements: emphasised letters in paragraphs of 1,000", MiB, false,
         [](size_t i) { return std::string("*a*") + (i % 1000 == 999 ? "\n\n" : " "); }, "", "", 19'937},
        {"long-words", "words of 16,000 letters, one a paragraph", 512 * KiB, false,
         [](size_t i) { return std::string(16000, static_cast<char>('a' + i % 26)) + "\n\n"; }},
        {"code-lines", "a code block of lines of 16,000 characters", 512 * KiB, false,
         [](size_t) { return times("x=y+1;", 16000 / 6) + "\n"; }, "```\n", "```\n"},
    };
    return all;
}

// `head`, then units while the text stays within `bytes`, `tail` and `lastWord`.
inline std::string textOf(const Shape& shape, size_t bytes, std::string_view lastWord) {
    std::string text = shape.head;
    const size_t end = shape.tail.size() + 1 + lastWord.size();
    for (size_t i = 0; i < shape.units; ++i) {
        std::string unit = shape.unit(i);
        if (text.size() + unit.size() + end > bytes) break;
        text += unit;
    }
    text += shape.tail;
    if (!text.empty() && text.back() != '\n') text += ' ';
    return text.append(lastWord);
}

}  // namespace TextRoadShapes
