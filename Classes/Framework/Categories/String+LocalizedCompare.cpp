#include "String+LocalizedCompare.h"

#include <unicode/ucol.h>
#include <unicode/uiter.h>
#include <unicode/uloc.h>

#include <cstring>
#include <memory>

namespace LocalizedCompare {
namespace {

struct Closer {
    void operator()(UCollator* c) const { ucol_close(c); }
};

// A collator is not to be shared between threads: one per thread.
UCollator* collator() {
    thread_local std::unique_ptr<UCollator, Closer> instance = [] {
        UErrorCode status = U_ZERO_ERROR;
        // The C and POSIX locales ("en_US_POSIX" to ICU) order like bytes,
        // capitals first: they mean no preference, so the root order serves.
        const char* locale = uloc_getDefault();
        if (std::strcmp(locale, "en_US_POSIX") == 0) locale = "";
        std::unique_ptr<UCollator, Closer> c(ucol_open(locale, &status));
        if (U_FAILURE(status)) {
            status = U_ZERO_ERROR;
            c.reset(ucol_open("", &status));  // the root order
        }
        if (c) ucol_setStrength(c.get(), UCOL_SECONDARY);
        return c;
    }();
    return instance.get();
}

}  // namespace

std::string sortKey(std::string_view text) {
    UCollator* c = collator();
    if (!c) return std::string(text);
    UCharIterator iterator;
    uiter_setUTF8(&iterator, text.data(), static_cast<int32_t>(text.size()));
    // The key in pieces: the text is read once, whatever its length.
    std::string key;
    uint32_t state[2] = {0, 0};
    char buffer[256];
    for (;;) {
        UErrorCode status = U_ZERO_ERROR;
        const int32_t n = ucol_nextSortKeyPart(c, &iterator, state, reinterpret_cast<uint8_t*>(buffer),
                                               static_cast<int32_t>(sizeof buffer), &status);
        if (U_FAILURE(status)) return std::string(text);
        key.append(buffer, static_cast<size_t>(n));
        if (n < static_cast<int32_t>(sizeof buffer)) break;
    }
    return key;
}

int compare(std::string_view a, std::string_view b) {
    UCollator* c = collator();
    if (!c) return a.compare(b);
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult r = ucol_strcollUTF8(c, a.data(), static_cast<int32_t>(a.size()), b.data(),
                                                static_cast<int32_t>(b.size()), &status);
    if (U_FAILURE(status)) return a.compare(b);
    return r == UCOL_LESS ? -1 : r == UCOL_GREATER ? 1 : 0;
}

}  // namespace LocalizedCompare
