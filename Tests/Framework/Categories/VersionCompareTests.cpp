// Debian version order. The verdicts below were taken from dpkg
// (dpkg --compare-versions) and are kept here, so the tests never depend on
// the machine having dpkg.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "Categories/String+VersionCompare.h"
#include "Support/TestSupport.h"

namespace {

int sign(int v) { return (v > 0) - (v < 0); }

constexpr int kRefused = 99;  // dpkg refuses one of the two versions

struct Verdict {
    std::string a, b;
    int order;  // dpkg's sign of a compared with b, or kRefused
};

const Verdict kVerdicts[] = {
    {"1.0~rc1", "1.0", -1}, {"1.0~rc1", "1.0~rc2", -1}, {"1.0~~", "1.0~", -1}, {"1.0~", "1.0", -1},
    {"1.0~", "1.0-1", -1}, {"1.0-1", "1.0", 1}, {"1.0-0", "1.0", 0}, {"1.0-1", "1.0-1.1", -1},
    {"0001", "1", 0}, {"1.0", "1.00", 0}, {"1.0a", "1.0+", -1}, {"1.0a", "1.0", 1}, {"1.0a", "1.0A", 1},
    {"1.0Z", "1.0a", -1}, {"1.0+", "1.0.", -1}, {"1.0.", "1.0-", kRefused}, {"1.0+b1", "1.0", 1},
    {"1.0+dfsg", "1.0+b1", 1}, {"1.2.3", "1.2.10", -1}, {"1.2.3-4", "1.2.3-10", -1}, {"1.0-1-2", "1.0-1-10", -1},
    {"1:2:3-4", "1:2:3-5", -1}, {"v1", "1", 1}, {"a", "b", -1}, {"~", "0", -1}, {"~~a", "~", -1},
    {"1.0@", "1.0", 1}, {"1.0@", "1.0+", 1}, {"1.0_1", "1.0.1", 1}, {"1.0\xe9", "1.0z", 1}, {"1.0\xe9", "1.0+", -1},
    {"1.0\x80", "1.0\xff", -1}, {"", "~", -1}, {"", "", 0}, {"", "0", -1}, {"1.0", "1.0a~", -1},
    {"1.0a~", "1.0a", -1}, {"9", "10", -1}, {"0.9", "0.10", -1}, {"1.001", "1.1", 0}, {"1.001", "1.01", 0},
    {"10", "1.0", 1}, {"1a", "1-a", 1}, {"1.2.3~beta1+git", "1.2.3", -1}, {"1.0-~", "1.0-", kRefused},
    {"1.0-a", "1.0-A", 1}, {"1.0-2~bpo1", "1.0-2", -1}, {"1.0-2+deb12u1", "1.0-2+deb12u10", -1},
    // The epoch decides first, in both directions; an absent epoch is 0.
    {"1:0", "2", 1}, {"2", "1:0", -1}, {"2:1.0", "1:9.9", 1}, {"1:9.9", "2:1.0", -1}, {"0:2", "2", 0},
    {"00001:1", "1:1", 0}, {"+1:0", "1:0", 0}, {"1:1:1", "1:1", 1}, {"7:0~", "7", 1}, {"2147483647:1", "1", 1},
    // Blanks around a version are trimmed; other control characters order like any other.
    {"1.0", " 1.0 ", 0}, {"\t1.0\t", "1.0", 0}, {"1.0\n", "1.0", 1}, {"\n1.0", "1", 1}, {"1.0\r", "1.0", 1},
    {"1.0 \n", "1.0", kRefused}, {"1.0\n ", "1.0", 1},
    // Digit runs far beyond any integer type.
    {"1." + std::string(400, '9'), "1." + std::string(399, '9'), 1},
    {"1." + std::string(400, '9'), "1.1" + std::string(400, '0'), -1},
    {std::string(300, '0') + "1", "1", 0},
    {"1:" + std::string(60, '7') + "-" + std::string(60, '3'), "1:" + std::string(60, '7') + "-" + std::string(61, '3'), -1},
    {std::string(100, '1') + "~", std::string(100, '1'), -1},
    // dpkg refuses these; their order is our own.
    {"1 0", "1", kRefused}, {":1", "1", kRefused}, {"a:1", "1", kRefused}, {"1:", "1", kRefused},
    {"1.0-", "1", kRefused}, {"1:-1", "1", kRefused}, {"99999999999:1", "1", kRefused},
    {"2147483648:1", "1", kRefused}, {"-5:1", "1", kRefused}, {"0x1:1", "1", kRefused}, {"+:1", "1", kRefused},
};

// Versions sampled from Debian 12, stored in dpkg's order.
std::vector<std::string> sampledVersions() {
    std::ifstream in(TestSupport::dataDirectory() + "/Debian/bookworm-versions.txt");
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') out.push_back(line);
    return out;
}

}  // namespace

TEST(VersionCompare, OrdersLikeDpkg) {
    for (const auto& [a, b, order] : kVerdicts) {
        const int ours = sign(ZMVersionCompare(a, b));
        EXPECT_EQ(sign(ZMVersionCompare(b, a)), -ours) << "antisymmetry: \"" << a << "\" / \"" << b << "\"";
        if (order == kRefused)
            EXPECT_TRUE(!ZMVersionIsComparable(a) || !ZMVersionIsComparable(b)) << a << " / " << b;
        else
            EXPECT_EQ(ours, order) << "\"" << a << "\" vs \"" << b << "\"";
    }
}

// Where the texts part inside a run of digits, the whole run decides: the
// digits both texts share are part of the numbers compared.
TEST(VersionCompare, SharedPrefixEndingInsideADigitRun) {
    const Verdict cases[] = {
        {"1.10", "1.100", -1},     {"10", "100", -1},          {"2.10-1", "2.100-1", -1}, {"1.9", "1.10", -1},
        {"1.19", "1.100", -1},     {"1.10", "1.19", -1},       {"1.01", "1.010", -1},     {"1.0010", "1.001", 1},
        {"1.10-1", "1.10-10", -1}, {"1:10", "1:100", -1},      {"1.10~rc1", "1.100~rc1", -1},
        {"1.10a", "1.100", -1},    {"1.10.5", "1.100", -1},    {"10.0", "100", -1},      {"7.1", "7.10", -1},
        {"7.10", "7.010", 0},      {"2.0-10", "2.0-100", -1},
    };
    for (const auto& [a, b, order] : cases) {
        EXPECT_EQ(sign(ZMVersionCompare(a, b)), order) << "\"" << a << "\" vs \"" << b << "\"";
        EXPECT_EQ(sign(ZMVersionCompare(b, a)), -order) << "\"" << b << "\" vs \"" << a << "\"";
    }
}

TEST(VersionCompare, RealVersionsKeepDpkgsOrder) {
    const std::vector<std::string> real = sampledVersions();
    ASSERT_GE(real.size(), 300u);
    for (size_t i = 0; i < real.size(); ++i) {
        const std::string& v = real[i];
        EXPECT_TRUE(isValidDebianVersion(v)) << v;
        EXPECT_TRUE(ZMVersionIsComparable(v)) << v;
        if (i + 1 < real.size()) { EXPECT_LT(ZMVersionCompare(v, real[i + 1]), 0) << v << " / " << real[i + 1]; }
        // Neighbours by dpkg's rules: a tilde sorts before the end, a suffix after it, an epoch above all.
        EXPECT_LT(ZMVersionCompare(v + "~1", v), 0) << v;
        EXPECT_GT(ZMVersionCompare(v + "+b1", v), 0) << v;
        if (v.find(':') == std::string::npos) { EXPECT_GT(ZMVersionCompare("1:" + v, v), 0) << v; }
    }
}

TEST(VersionCompare, ComparableExactlyWhenDpkgAcceptsTheVersion) {
    const std::pair<std::string, bool> verdicts[] = {
        {"1.0", true}, {"1:1.0-1", true}, {"+1:0", true}, {"v1", true}, {"1.0@", true}, {"1.0\xe9", true},
        {"~", true}, {"1:2:3", true}, {"2147483647:1", true}, {"1.0~", true}, {" 1.0 ", true}, {"1.0\n", true},
        {"\n", true}, {"\r1.0", true}, {"1.0\n ", true}, {"1.0-~", true}, {"1.0.", true},
        {"1:a", true}, {"1 0", false}, {":1", false}, {"a:1", false}, {"1:", false}, {"0:", false},
        {"1.0-", false}, {"1:-1", false}, {"-1", false}, {"2147483648:1", false}, {"-5:1", false},
        {"0x1:1", false}, {"+:1", false}, {"1\t0", false}, {"1.0-a b", false}, {"1.0 \n", false}, {" ", false},
    };
    for (const auto& [version, accepted] : verdicts)
        EXPECT_EQ(ZMVersionIsComparable(version), accepted) << "\"" << version << "\"";
}

// The structure scan works on words: put the deciding character at every
// position of texts of every short length.
TEST(VersionCompare, DecidingCharactersAtEveryPosition) {
    for (size_t n = 1; n <= 20; ++n) {
        for (size_t pos = 0; pos < n; ++pos) {
            std::string v(n, '1');
            const bool atEdge = pos == 0 || pos == n - 1;
            v[pos] = ' ';
            EXPECT_EQ(ZMVersionIsComparable(v), atEdge && n > 1) << n << "/" << pos;  // edges are trimmed
            v[pos] = '\0';
            EXPECT_FALSE(ZMVersionIsComparable(v)) << n << "/" << pos;
            v[pos] = '-';
            EXPECT_EQ(ZMVersionIsComparable(v), !atEdge) << n << "/" << pos;
            if (!atEdge) {
                // Only the revision after the last hyphen differs.
                std::string w = v;
                w.back() = '2';
                EXPECT_LT(ZMVersionCompare(v, w), 0) << n << "/" << pos;
                // A longer upstream part decides before the revision.
                EXPECT_LT(ZMVersionCompare(v, std::string(v).replace(pos, 1, "1-")), 0) << n << "/" << pos;
            }
            v[pos] = ':';
            // A colon first leaves the epoch empty, last leaves nothing after it;
            // eleven ones are more than an epoch may be (2147483647).
            EXPECT_EQ(ZMVersionIsComparable(v), !atEdge && pos <= 10) << n << "/" << pos;
            if (!atEdge && pos <= 10) {
                EXPECT_GT(ZMVersionCompare(v, "9" + std::string(n, '9')), 0) << "the epoch decides: " << v;
                EXPECT_EQ(ZMVersionCompare(v, std::string(v).insert(0, "0")), 0) << v;  // "011:1" is epoch 11 too
            }
        }
    }
}

TEST(VersionCompare, MalformedVersionsStillOrderTotally) {
    std::vector<std::string> set = {"",      " ",     "\n",  "1 0",  ":1",    "a:1",  "1:",     "1.0-",
                                    "1:-1",  "-1",    "99999999999:1", std::string("1\0" "2", 3), std::string("\0", 1),
                                    "1.0",   "1.0~",  "1:0", "0001", "v1",   "~",     "1.0-1", "1.0a", "1.0+",
                                    "1. 0",  "1.0-",  "2:",  "x",    "1.0\xe9", "0:1.0", "1.00"};
    const size_t n = set.size();
    for (size_t i = 0; i < n; ++i) {
        EXPECT_EQ(ZMVersionCompare(set[i], set[i]), 0);
        for (size_t j = 0; j < n; ++j) {
            const int ij = sign(ZMVersionCompare(set[i], set[j]));
            EXPECT_EQ(ij, -sign(ZMVersionCompare(set[j], set[i]))) << i << "," << j;
            for (size_t k = 0; k < n; ++k) {
                const int jk = sign(ZMVersionCompare(set[j], set[k]));
                const int ik = sign(ZMVersionCompare(set[i], set[k]));
                if (ij <= 0 && jk <= 0) {
                    EXPECT_LE(ik, 0) << i << "," << j << "," << k;
                }
                if (ij == 0 && jk == 0) {
                    EXPECT_EQ(ik, 0) << i << "," << j << "," << k;
                }
            }
        }
    }
    // Empty below refused below accepted, whatever the characters say.
    EXPECT_LT(ZMVersionCompare("", "1 0"), 0);
    EXPECT_LT(ZMVersionCompare("9 9", "~"), 0);
    EXPECT_LT(ZMVersionCompare("1.0-", "0"), 0);
    EXPECT_EQ(ZMVersionCompare(" ", ""), 0);
    EXPECT_NE(ZMVersionCompare(std::string("1\0" "2", 3), "1"), 0);
}

TEST(VersionCompare, ValidVersionGrammar) {
    for (const char* v : {"1", "1.0", "1:1.0-1", "0:0", "1.0~rc1+dfsg-2~bpo12+1", "2:1.2:3-4", "1.0-1-1", "10a.B~c",
                          "2147483647:1"})
        EXPECT_TRUE(isValidDebianVersion(v)) << v;
    for (const char* v : {"", " 1.0", "1.0 ", "1.0\n", "1\n2", "v1.0", "~1", "1.0-", "-1", ":1", "a:1", "1:", "1:a",
                          "1.0_1", "1.0;rm", "1.0$(id)", "1.0`x`", "1.0|x", "1.0&", "1.0>x", "1.0<x",
                          "1.0'", "1.0\"", "1.0*", "1.0?", "1.0\\", "1.0/x", "1.0=2", "1.0-a:b", "1.0-a-", "1.0\xe9",
                          "+1:0", "2147483648:1", "1:2-3\t"})
        EXPECT_FALSE(isValidDebianVersion(v)) << v;
    EXPECT_FALSE(isValidDebianVersion(std::string("1.0\0", 4)));
}

TEST(VersionCompare, ValidPackageNameGrammar) {
    for (const char* n : {"com.example.tweak", "0ad", "libstdc++6", "a-b", "g++", "x.y+z-1"})
        EXPECT_TRUE(isValidDebianPackageName(n)) << n;
    for (const char* n : {"", "a", "-ab", ".ab", "+ab", "Com.example", "com.Example", "a b", "a_b", "ab\n", " ab",
                          "ab;rm", "a/b", "../x", "ab:amd64", "ab=1.0", "a$b", "a*", "ab\xe9"})
        EXPECT_FALSE(isValidDebianPackageName(n)) << n;
}
