#include "Realm/TextFolding.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace TextFolding {

namespace {
void appendUtf8(std::string& out, UChar32 c) {
    char buf[U8_MAX_LENGTH];
    int32_t len = 0;
    UBool error = false;
    U8_APPEND(reinterpret_cast<uint8_t*>(buf), len, U8_MAX_LENGTH, c, error);
    if (!error) out.append(buf, static_cast<size_t>(len));
}

const icu::Normalizer2* nfd() {
    static const icu::Normalizer2* instance = [] {
        UErrorCode status = U_ZERO_ERROR;
        const icu::Normalizer2* n = icu::Normalizer2::getNFDInstance(status);
        return U_SUCCESS(status) ? n : nullptr;
    }();
    return instance;
}

void appendFolded(std::string& out, UChar32 c, int mode) {
    if (mode & CaseInsensitive) c = u_foldCase(c, U_FOLD_CASE_DEFAULT);
    appendUtf8(out, c);
}
}  // namespace

std::string fold(std::string_view text, int mode) {
    std::string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const int32_t length = static_cast<int32_t>(text.size());
    int32_t i = 0;
    while (i < length) {
        const uint8_t byte = s[i];
        if (byte < 0x80) {  // ASCII fast path
            out.push_back((mode & CaseInsensitive) && byte >= 'A' && byte <= 'Z' ? char(byte + 32) : char(byte));
            ++i;
            continue;
        }
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) {  // malformed: keep the bytes
            out.append(text.substr(static_cast<size_t>(start), static_cast<size_t>(i - start)));
            continue;
        }
        if (mode & DiacriticInsensitive) {
            icu::UnicodeString decomposition;
            if (nfd() && nfd()->getDecomposition(c, decomposition)) {
                for (int32_t k = 0; k < decomposition.length();) {
                    UChar32 d = decomposition.char32At(k);
                    k += U16_LENGTH(d);
                    if (u_charType(d) == U_NON_SPACING_MARK) continue;
                    appendFolded(out, d, mode);
                }
                continue;
            }
            if (u_charType(c) == U_NON_SPACING_MARK) continue;  // a lone combining mark
        }
        appendFolded(out, c, mode);
    }
    return out;
}

size_t codePointCount(std::string_view text) {
    size_t n = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

}  // namespace TextFolding
