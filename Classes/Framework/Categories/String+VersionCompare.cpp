#include "Categories/String+VersionCompare.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// dpkg's c_isblank: what it trims around a version and refuses inside one.
// Other control characters ("\n", "\r") are merely characters outside the grammar.
inline bool isSpace(unsigned char c) { return c == ' ' || c == '\t'; }
constexpr bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
constexpr bool isAlpha(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The weight of one character in a non-digit run. dpkg reads the text through
// a signed char on the platforms we run on, so bytes >= 0x80 weigh their
// unsigned value: after the letters, before the other punctuation. The end of
// the text weighs 0; a NUL byte (which dpkg never sees) gets its own weight 256.
constexpr int order(unsigned char c) {
    if (isDigit(c)) return 0;
    if (isAlpha(c)) return c;
    if (c == '~') return -1;
    if (c >= 0x80) return c;
    return c + 256;
}

struct OrderTable {
    int16_t weight[256];
    constexpr OrderTable() : weight() {
        for (int c = 0; c < 256; ++c) weight[c] = static_cast<int16_t>(order(static_cast<unsigned char>(c)));
    }
};
constexpr OrderTable kOrder;

// dpkg's verrevcmp over explicit lengths; digit runs are compared by length
// after their leading zeros, then digit by digit, so any length is fine.
int verrevcmp(std::string_view a, std::string_view b) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(a.data());
    const unsigned char* q = reinterpret_cast<const unsigned char*>(b.data());
    const unsigned char* const pe = p + a.size();
    const unsigned char* const qe = q + b.size();
    // A shared prefix compares equal; resume at the start of the digit run it
    // may end in, a point where the scan can start afresh.
    {
        const unsigned char* const start = p;
        while (p != pe && q != qe && *p == *q) ++p, ++q;
        if (p == pe && q == qe) return 0;
        while (p != start && isDigit(p[-1])) --p, --q;
    }
    while (p != pe || q != qe) {
        // Non-digit run. Digits and the end both weigh 0, so equal non-zero
        // weights mean the same character on both sides.
        for (;;) {
            const int wa = p != pe ? kOrder.weight[*p] : 0;
            const int wb = q != qe ? kOrder.weight[*q] : 0;
            if (wa != wb) return wa - wb;
            if (wa == 0) break;
            ++p;
            ++q;
        }
        while (p != pe && *p == '0') ++p;
        while (q != qe && *q == '0') ++q;
        int firstDiff = 0;
        while (p != pe && q != qe && isDigit(*p) && isDigit(*q)) {
            if (!firstDiff) firstDiff = *p - *q;
            ++p;
            ++q;
        }
        if (p != pe && isDigit(*p)) return 1;
        if (q != qe && isDigit(*q)) return -1;
        if (firstDiff) return firstDiff;
    }
    return 0;
}

enum Rank : int { Empty = 0, Refused = 1, Accepted = 2 };

struct Parsed {
    Rank rank = Empty;
    std::string_view whole;  // trimmed
    uint32_t epoch = 0;
    std::string_view upstream;
    std::string_view revision;
};

std::string_view trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && isSpace(s[b])) ++b;
    while (e > b && isSpace(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// The epoch as strtol reads it (optional sign, at least one digit, nothing
// else before the colon), limited to 0..INT_MAX like dpkg.
bool parseEpoch(std::string_view text, uint32_t& epoch) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        if (!isDigit(text[i])) return false;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
        if (value > static_cast<uint64_t>(INT_MAX)) return false;  // stays small: no overflow
    }
    if (negative && value != 0) return false;
    epoch = static_cast<uint32_t>(value);
    return true;
}

// One look at a version for what decides its structure: bytes dpkg refuses
// inside a version (blank, NUL), the first colon and the last hyphen.
constexpr size_t npos = std::string_view::npos;

#if defined(__SSE2__)
// The bytes of a 16-byte block equal to c, as bits.
inline unsigned bytesEqual(__m128i block, char c) {
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8(c))));
}

// false when the version holds a refused byte. Sixteen bytes at a time; a
// short version is read as two overlapping halves, a long one with its last
// block overlapping the one before: no byte beyond the text is read.
[[gnu::always_inline]] inline bool scanVersion(const char* s, size_t n, size_t& colon, size_t& hyphen) {
    colon = hyphen = npos;
    // `valid`: the bits of the bytes that belong to the text.
    auto look = [&](__m128i block, unsigned valid, auto position) {
        const __m128i refused = _mm_or_si128(_mm_cmpeq_epi8(block, _mm_setzero_si128()),
                                             _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8(' ')),
                                                          _mm_cmpeq_epi8(block, _mm_set1_epi8('\t'))));
        if (static_cast<unsigned>(_mm_movemask_epi8(refused)) & valid) return false;
        const unsigned c = bytesEqual(block, ':') & valid, h = bytesEqual(block, '-') & valid;
        if (c && colon == npos) colon = position(static_cast<unsigned>(std::countr_zero(c)));
        if (h) hyphen = position(31u - static_cast<unsigned>(std::countl_zero(h)));
        return true;
    };
    if (n < 8) {
        // Bytes 0-3: positions 0-3; bytes 4-7: positions n-4 .. n-1 (a text
        // of less than four bytes has them all in the first bytes).
        uint64_t w = 0;
        unsigned valid = 0xFF;
        if (n >= 4) {
            uint32_t lo, hi;
            std::memcpy(&lo, s, 4);
            std::memcpy(&hi, s + n - 4, 4);
            w = lo | (uint64_t{hi} << 32);
        } else {
            std::memcpy(&w, s, n);
            valid = (1u << n) - 1;
        }
        return look(_mm_cvtsi64_si128(static_cast<long long>(w)), valid,
                    [n](unsigned b) { return b < 4 ? size_t{b} : n - 8 + b; });
    }
    if (n <= 16) {
        // Bits 0-7: positions 0-7; bits 8-15: positions n-8 .. n-1.
        uint64_t lo, hi;
        std::memcpy(&lo, s, 8);
        std::memcpy(&hi, s + n - 8, 8);
        const __m128i block = _mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo));
        return look(block, 0xFFFF, [n](unsigned b) { return b < 8 ? size_t{b} : n - 16 + b; });
    }
    for (size_t at = 0;; at += 16) {
        const size_t pos = at + 16 <= n ? at : n - 16;
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + pos));
        if (!look(block, 0xFFFF, [pos](unsigned b) { return pos + b; })) return false;
        if (pos + 16 >= n) return true;
    }
}
#else
// Without SSE2: eight bytes at a time, the last word overlapping the one
// before, so the usual short version costs two words and no data-dependent
// loop exits.
constexpr uint64_t kLow7 = 0x7f7f7f7f7f7f7f7fULL;
constexpr uint64_t broadcast(unsigned char c) { return 0x0101010101010101ULL * c; }
// 0x80 in exactly the bytes of v that are zero.
inline uint64_t zeroBytes(uint64_t v) { return ~(((v & kLow7) + kLow7) | v | kLow7); }
inline uint64_t matches(uint64_t w, unsigned char c) { return zeroBytes(w ^ broadcast(c)); }
inline uint64_t refusedBytes(uint64_t w) { return zeroBytes(w) | matches(w, ' ') | matches(w, '\t'); }
inline unsigned firstByte(uint64_t mask) { return static_cast<unsigned>(std::countr_zero(mask)) >> 3; }
inline unsigned lastByte(uint64_t mask) { return static_cast<unsigned>(63 - std::countl_zero(mask)) >> 3; }

// scanVersion for fewer than 8 bytes.
inline bool scanShortVersion(const char* s, size_t n, size_t& colon, size_t& hyphen) {
    if (n < 4) {
        for (size_t i = 0; i < n; ++i) {
            if (s[i] == ' ' || s[i] == '\t' || s[i] == '\0') return false;
            if (s[i] == ':' && colon == npos) colon = i;
            if (s[i] == '-') hyphen = i;
        }
        return true;
    }
    // Bytes 0-3 are positions 0-3, bytes 4-7 positions n-4 .. n-1.
    uint32_t lo, hi;
    std::memcpy(&lo, s, 4);
    std::memcpy(&hi, s + n - 4, 4);
    const uint64_t w = lo | (uint64_t{hi} << 32);
    if (refusedBytes(w)) return false;
    const auto position = [n](unsigned b) { return b < 4 ? size_t{b} : n - 8 + b; };
    const uint64_t c = matches(w, ':'), h = matches(w, '-');
    colon = c ? position(firstByte(c)) : npos;
    hyphen = h ? position(lastByte(h)) : npos;
    return true;
}

// false when the version holds a refused byte.
[[gnu::always_inline]] inline bool scanVersion(const char* s, size_t n, size_t& colon, size_t& hyphen) {
    static_assert(std::endian::native == std::endian::little, "byte positions assume little endian");
    colon = hyphen = npos;
    if (n < 8) return scanShortVersion(s, n, colon, hyphen);
    for (size_t at = 0;; at += 8) {
        const size_t pos = at + 8 <= n ? at : n - 8;
        uint64_t w;
        std::memcpy(&w, s + pos, 8);
        if (refusedBytes(w)) return false;
        const uint64_t c = matches(w, ':'), h = matches(w, '-');
        const size_t firstColon = pos + firstByte(c), lastHyphen = pos + lastByte(h);
        colon = (colon == npos && c) ? firstColon : colon;  // selects, not branches: the data decide
        hyphen = h ? lastHyphen : hyphen;
        if (pos + 8 >= n) return true;
    }
}

#endif

[[gnu::always_inline]] inline Parsed parse(std::string_view raw) {
    Parsed p;
    p.whole = raw;
    if (raw.empty()) return p;
    if (isSpace(raw.front()) || isSpace(raw.back())) {
        p.whole = trim(raw);
        if (p.whole.empty()) return p;
    }
    p.rank = Refused;
    const std::string_view s = p.whole;
    const size_t n = s.size();
    size_t colon, hyphen;
    if (!scanVersion(s.data(), n, colon, hyphen)) return p;
    size_t start = 0;
    if (colon != std::string_view::npos) {
        if (!parseEpoch(s.substr(0, colon), p.epoch)) return p;
        start = colon + 1;
        if (start == n) return p;
    }
    size_t end = n;
    if (hyphen != std::string_view::npos && hyphen >= start) {
        if (hyphen + 1 == n) return p;  // empty revision
        p.revision = s.substr(hyphen + 1);
        end = hyphen;
    }
    if (end == start) return p;  // empty upstream
    p.upstream = s.substr(start, end - start);
    p.rank = Accepted;
    return p;
}

}  // namespace

int ZMVersionCompare(std::string_view a, std::string_view b) {
    // Identical texts are equal whatever their syntax (lists hold many duplicates).
    if (a.size() == b.size() && a == b) return 0;
    const Parsed pa = parse(a), pb = parse(b);
    if (pa.rank != pb.rank) return pa.rank < pb.rank ? -1 : 1;
    switch (pa.rank) {
        case Empty:
            return 0;
        case Refused: {
            if (const int r = verrevcmp(pa.whole, pb.whole)) return r;
            const int r = pa.whole.compare(pb.whole);
            return r < 0 ? -1 : (r > 0 ? 1 : 0);
        }
        case Accepted:
            if (pa.epoch != pb.epoch) return pa.epoch < pb.epoch ? -1 : 1;
            if (const int r = verrevcmp(pa.upstream, pb.upstream)) return r;
            return verrevcmp(pa.revision, pb.revision);
    }
    return 0;
}

bool ZMVersionIsComparable(std::string_view version) { return parse(version).rank == Accepted; }

bool isValidDebianVersion(std::string_view v) {
    if (v.empty()) return false;
    const auto plain = [](unsigned char c) { return isDigit(c) || isAlpha(c) || c == '.' || c == '+' || c == '~'; };
    std::string_view rest = v;
    bool hasEpoch = false;
    if (const size_t colon = v.find(':'); colon != std::string_view::npos) {
        const std::string_view epoch = v.substr(0, colon);
        if (epoch.empty()) return false;
        for (unsigned char c : epoch)
            if (!isDigit(c)) return false;
        uint32_t value = 0;
        if (!parseEpoch(epoch, value)) return false;
        rest = v.substr(colon + 1);
        hasEpoch = true;
    }
    std::string_view upstream = rest;
    if (const size_t hyphen = rest.rfind('-'); hyphen != std::string_view::npos) {
        const std::string_view revision = rest.substr(hyphen + 1);
        if (revision.empty()) return false;
        for (unsigned char c : revision)
            if (!plain(c)) return false;
        upstream = rest.substr(0, hyphen);
    }
    if (upstream.empty() || !isDigit(upstream[0])) return false;
    for (unsigned char c : upstream)
        if (!plain(c) && c != '-' && !(hasEpoch && c == ':')) return false;
    return true;
}

bool isValidDebianPackageName(std::string_view name) {
    if (name.size() < 2) return false;
    const auto lowerAlnum = [](unsigned char c) { return isDigit(c) || (c >= 'a' && c <= 'z'); };
    if (!lowerAlnum(name[0])) return false;
    for (unsigned char c : name.substr(1))
        if (!lowerAlnum(c) && c != '+' && c != '.' && c != '-') return false;
    return true;
}
