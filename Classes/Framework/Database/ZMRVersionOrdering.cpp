// Interim definition of ZMVersionCompare, replaced by the version-comparison
// category once that lands (delete this file then: the two would clash).
// Plain Debian ordering: epoch numerically, then upstream and revision by
// alternating non-digit runs ('~' first, letters before other characters)
// and numeric runs.
#include "Database/ZMRVersionOrdering.h"

#include <cctype>
#include <string>

namespace {

int order(char c) {
    if (std::isdigit(static_cast<unsigned char>(c))) return 0;
    if (std::isalpha(static_cast<unsigned char>(c))) return c;
    if (c == '~') return -1;
    if (c) return c + 256;
    return 0;
}

int compareFragment(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() || j < b.size()) {
        int firstDiff = 0;
        while ((i < a.size() && !std::isdigit(static_cast<unsigned char>(a[i]))) ||
               (j < b.size() && !std::isdigit(static_cast<unsigned char>(b[j])))) {
            int ac = i < a.size() ? order(a[i]) : 0;
            int bc = j < b.size() ? order(b[j]) : 0;
            if (ac != bc) return ac - bc;
            ++i, ++j;
        }
        while (i < a.size() && a[i] == '0') ++i;
        while (j < b.size() && b[j] == '0') ++j;
        while (i < a.size() && std::isdigit(static_cast<unsigned char>(a[i])) && j < b.size() &&
               std::isdigit(static_cast<unsigned char>(b[j]))) {
            if (!firstDiff) firstDiff = a[i] - b[j];
            ++i, ++j;
        }
        if (i < a.size() && std::isdigit(static_cast<unsigned char>(a[i]))) return 1;
        if (j < b.size() && std::isdigit(static_cast<unsigned char>(b[j]))) return -1;
        if (firstDiff) return firstDiff;
    }
    return 0;
}

struct Parts {
    long long epoch = 0;
    std::string_view upstream, revision;
};

Parts split(std::string_view v) {
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
    Parts p;
    size_t colon = v.find(':');
    if (colon != std::string_view::npos) {
        long long e = 0;
        for (char c : v.substr(0, colon)) {
            if (!std::isdigit(static_cast<unsigned char>(c))) { e = 0; break; }
            e = e * 10 + (c - '0');
            if (e > 2147483647LL) e = 2147483647LL;
        }
        p.epoch = e;
        v.remove_prefix(colon + 1);
    }
    size_t hyphen = v.rfind('-');
    if (hyphen != std::string_view::npos) {
        p.upstream = v.substr(0, hyphen);
        p.revision = v.substr(hyphen + 1);
    } else {
        p.upstream = v;
    }
    return p;
}

}  // namespace

int ZMVersionCompare(std::string_view a, std::string_view b) {
    Parts x = split(a), y = split(b);
    if (x.epoch != y.epoch) return x.epoch < y.epoch ? -1 : 1;
    if (int r = compareFragment(x.upstream, y.upstream)) return r < 0 ? -1 : 1;
    int r = compareFragment(x.revision, y.revision);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}
