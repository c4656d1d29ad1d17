#pragma once
// Case and diacritic folding for the [c], [d] and [cd] comparison options.
#include <string>
#include <string_view>

namespace TextFolding {
enum Mode : int { None = 0, CaseInsensitive = 1, DiacriticInsensitive = 2, Both = 3 };

// Folds UTF-8 text: letter case by Unicode simple case folding, diacritics by
// canonical decomposition with the combining marks dropped ("É" -> "e" in Both).
// Invalid UTF-8 bytes are kept as they are.
std::string fold(std::string_view text, int mode);

// Number of code points (what SQLite's length() counts for text).
size_t codePointCount(std::string_view text);
}  // namespace TextFolding
