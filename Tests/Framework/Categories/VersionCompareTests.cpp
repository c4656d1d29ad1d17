#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "Categories/String+VersionCompare.h"
#include "Support/TestSupport.h"

extern char** environ;

namespace {

int sign(int v) { return (v > 0) - (v < 0); }

// Exit status of `dpkg --compare-versions a op b`; 0 true, 1 false, 2 refused.
int runDpkg(const std::string& a, const char* op, const std::string& b) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args = {"dpkg", "--compare-versions", a, op, b};
    std::vector<char*> argv;
    for (auto& s : args) argv.push_back(s.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, "dpkg", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

constexpr int kRefused = 99;

// dpkg's verdict as a sign, or kRefused. A first argument starting with '-'
// would be read as an option, so such pairs are asked the other way round.
int dpkgSign(const std::string& a, const std::string& b) {
    if (!a.empty() && a[0] == '-') {
        const int r = dpkgSign(b, a);
        return r == kRefused ? r : -r;
    }
    const int lt = runDpkg(a, "lt", b);
    if (lt == 0) return -1;
    if (lt != 1) return kRefused;
    const int eq = runDpkg(a, "eq", b);
    if (eq == 0) return 0;
    return eq == 1 ? 1 : kRefused;
}

bool haveDpkg() { return runDpkg("1", "lt", "2") == 0; }

std::vector<std::string> sampledVersions() {
    std::ifstream in(TestSupport::dataDirectory() + "/Debian/bookworm-versions.txt");
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') out.push_back(line);
    return out;
}

const std::vector<std::pair<std::string, std::string>> kTrickyPairs = {
    {"1.0~rc1", "1.0"},      {"1.0~rc1", "1.0~rc2"},    {"1.0~~", "1.0~"},         {"1.0~", "1.0"},
    {"1.0~", "1.0-1"},       {"1:0", "2"},              {"0:2", "2"},              {"00001:1", "1:1"},
    {"+1:0", "1:0"},         {"1.0-1", "1.0"},          {"1.0-0", "1.0"},          {"1.0-1", "1.0-1.1"},
    {"0001", "1"},           {"1.0", "1.00"},           {"1.0a", "1.0+"},          {"1.0a", "1.0"},
    {"1.0a", "1.0A"},        {"1.0Z", "1.0a"},          {"1.0+", "1.0."},          {"1.0.", "1.0-"},
    {"1.0+b1", "1.0"},       {"1.0+dfsg", "1.0+b1"},    {"1.2.3", "1.2.10"},       {"1.2.3-4", "1.2.3-10"},
    {"2:1.0", "1:9.9"},      {"1.0-1-2", "1.0-1-10"},   {"1:1:1", "1:1"},          {"1:2:3-4", "1:2:3-5"},
    {"1.0", " 1.0 "},        {"\t1.0\t", "1.0"},     {"1.0\n", "1.0"},  {"\n1.0", "1"}, {"1.0\r", "1.0"}, {"1.0 \n", "1.0"}, {"1.0\n ", "1.0"},        {"v1", "1"},               {"a", "b"},
    {"~", "0"},              {"~~a", "~"},              {"1.0@", "1.0"},           {"1.0@", "1.0+"},
    {"1.0_1", "1.0.1"},      {"1.0\xe9", "1.0z"},       {"1.0\xe9", "1.0+"},       {"1.0\x80", "1.0\xff"},
    {"", "~"},               {"", ""},                  {"", "0"},                 {"2147483647:1", "1"},
    {"1.0", "1.0a~"},        {"1.0a~", "1.0a"},         {"9", "10"},               {"0.9", "0.10"},
    {"1.001", "1.1"},        {"1.001", "1.01"},         {"10", "1.0"},             {"1a", "1-a"},
    {"1.2.3~beta1+git", "1.2.3"}, {"1.0-~", "1.0-"},    {"7:0~", "7"},             {"1.0-a", "1.0-A"},
    {"1.0-2~bpo1", "1.0-2"}, {"1.0-2+deb12u1", "1.0-2+deb12u10"},
    // Digit runs far beyond any integer type.
    {"1." + std::string(400, '9'), "1." + std::string(399, '9')},
    {"1." + std::string(400, '9'), "1.1" + std::string(400, '0')},
    {std::string(300, '0') + "1", "1"},
    {"1:" + std::string(60, '7') + "-" + std::string(60, '3'), "1:" + std::string(60, '7') + "-" + std::string(61, '3')},
    {std::string(100, '1') + "~", std::string(100, '1')},
    // dpkg refuses these (checked below); their order is our own.
    {"1 0", "1"},            {":1", "1"},               {"a:1", "1"},              {"1:", "1"},
    {"1.0-", "1"},           {"1:-1", "1"},             {"99999999999:1", "1"},    {"2147483648:1", "1"},
    {"-5:1", "1"},           {"0x1:1", "1"},            {"+:1", "1"},
};

}  // namespace

TEST(VersionCompare, OrdersKnownCases) {
    EXPECT_LT(ZMVersionCompare("1.0~rc1", "1.0"), 0);
    EXPECT_GT(ZMVersionCompare("1:0", "2"), 0);
    EXPECT_GT(ZMVersionCompare("1.0-1", "1.0"), 0);
    EXPECT_EQ(ZMVersionCompare("0001", "1"), 0);
    EXPECT_LT(ZMVersionCompare("1.0a", "1.0+"), 0);
    EXPECT_LT(ZMVersionCompare("1.2.9", "1.2.10"), 0);
    EXPECT_EQ(ZMVersionCompare(" 1.0\t", "1.0"), 0);
    EXPECT_GT(ZMVersionCompare("1.0\n", "1.0"), 0);
    EXPECT_LT(ZMVersionCompare("1." + std::string(1000, '9'), "1.1" + std::string(1000, '0')), 0);
    EXPECT_TRUE(lessThan("4.9", "5.0"));
    EXPECT_FALSE(lessThan("5.0", "5.0"));
    EXPECT_FALSE(lessThan("5.0.1", "5.0"));
}

TEST(VersionCompare, AgreesWithDpkgOnTrickyAndRealPairs) {
    if (!haveDpkg()) GTEST_SKIP() << "dpkg is not available";
    const std::vector<std::string> real = sampledVersions();
    ASSERT_GE(real.size(), 300u);

    std::vector<std::pair<std::string, std::string>> pairs = kTrickyPairs;
    std::vector<std::string> sorted = real;
    std::sort(sorted.begin(), sorted.end(), lessThan);
    for (size_t i = 0; i + 1 < sorted.size(); ++i) pairs.emplace_back(sorted[i], sorted[i + 1]);
    std::mt19937 rng(20261206);
    std::uniform_int_distribution<size_t> pick(0, real.size() - 1);
    for (int i = 0; i < 300; ++i) pairs.emplace_back(real[pick(rng)], real[pick(rng)]);
    // Real versions against hand-made neighbours of themselves.
    for (size_t i = 0; i < real.size(); i += 7) {
        pairs.emplace_back(real[i], real[i] + "~1");
        pairs.emplace_back(real[i], real[i] + "+b1");
        pairs.emplace_back(real[i], "1:" + real[i]);
    }

    size_t agreed = 0, refusedByBoth = 0;
    for (const auto& [a, b] : pairs) {
        const int expected = dpkgSign(a, b);
        const int ours = sign(ZMVersionCompare(a, b));
        EXPECT_EQ(sign(ZMVersionCompare(b, a)), -ours) << "antisymmetry: " << a << " / " << b;
        if (expected == kRefused) {
            // dpkg refused one of them: it must be one we call not comparable.
            EXPECT_TRUE(!ZMVersionIsComparable(a) || !ZMVersionIsComparable(b)) << a << " / " << b;
            ++refusedByBoth;
            continue;
        }
        EXPECT_EQ(ours, expected) << "\"" << a << "\" vs \"" << b << "\"";
        if (ours == expected) ++agreed;
    }
    std::cout << "[ dpkg     ] " << agreed << " of " << pairs.size() - refusedByBoth << " comparable pairs agree; "
              << refusedByBoth << " pairs refused by dpkg and by us\n";
    EXPECT_GE(agreed, 700u);
}

TEST(VersionCompare, ComparableExactlyWhenDpkgAcceptsTheVersion) {
    if (!haveDpkg()) GTEST_SKIP() << "dpkg is not available";
    const std::vector<std::string> versions = {
        "1.0",  "1:1.0-1", "+1:0", "v1", "1.0@", "1.0\xe9", "~", "1:2:3", "2147483647:1", "1.0~", " 1.0 ",
        "1 0",  ":1",      "a:1",  "1:", "1.0-", "1:-1",    "-1", "2147483648:1", "-5:1", "0x1:1", "+:1",
        "1\t0", "1.0-a b", "1.0\n", "\n", "\r1.0", "1.0 \n", "1.0\n ", " ",
    };
    for (const std::string& v : versions) {
        // "0" is accepted by every dpkg; a refusal is exit status 2.
        const int status = v[0] == '-' ? runDpkg("0", "lt", v) : runDpkg(v, "lt", "0");
        EXPECT_EQ(status != 2, ZMVersionIsComparable(v)) << "\"" << v << "\" dpkg status " << status;
    }
}

// Random texts of every length up to 20 over the characters that decide the
// structure (blank, colon, hyphen) and the order (digits, '~', letters, '.').
TEST(VersionCompare, RandomTextsAgreeWithDpkg) {
    if (!haveDpkg()) GTEST_SKIP() << "dpkg is not available";
    const std::string alphabet = "0123456789001:-~~..+aZ \t";
    std::mt19937 rng(41);
    std::vector<std::string> texts;
    for (int i = 0; i < 240; ++i) {
        std::string t(1 + i % 20, ' ');
        for (char& c : t) c = alphabet[rng() % alphabet.size()];
        if (i % 3 == 0) t[0] = '1';  // more of them accepted, so more pairs get compared
        if (i % 5 == 0) t.back() = '3';
        texts.push_back(t);
    }
    size_t accepted = 0, compared = 0;
    for (size_t i = 0; i < texts.size(); ++i) {
        const std::string& v = texts[i];
        const int status = v[0] == '-' ? runDpkg("0", "lt", v) : runDpkg(v, "lt", "0");
        const bool dpkgAccepts = status != 2;
        EXPECT_EQ(ZMVersionIsComparable(v), dpkgAccepts) << "\"" << v << "\"";
        accepted += dpkgAccepts;
        if (!dpkgAccepts || i == 0 || !ZMVersionIsComparable(texts[i - 1]) || texts[i - 1][0] == '-') continue;
        const int expected = dpkgSign(texts[i - 1], v);
        ASSERT_NE(expected, kRefused) << texts[i - 1] << " / " << v;
        EXPECT_EQ(sign(ZMVersionCompare(texts[i - 1], v)), expected) << "\"" << texts[i - 1] << "\" vs \"" << v << "\"";
        ++compared;
    }
    std::cout << "[ dpkg     ] random texts: " << accepted << " of " << texts.size() << " accepted, " << compared
              << " pairs compared\n";
    EXPECT_GT(accepted, 60u);
    EXPECT_GT(compared, 20u);
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
    // Every valid version is one dpkg compares.
    for (const std::string& v : sampledVersions()) {
        EXPECT_TRUE(isValidDebianVersion(v)) << v;
        EXPECT_TRUE(ZMVersionIsComparable(v)) << v;
    }
}

TEST(VersionCompare, ValidPackageNameGrammar) {
    for (const char* n : {"com.example.tweak", "0ad", "libstdc++6", "a-b", "g++", "x.y+z-1"})
        EXPECT_TRUE(isValidDebianPackageName(n)) << n;
    for (const char* n : {"", "a", "-ab", ".ab", "+ab", "Com.example", "com.Example", "a b", "a_b", "ab\n", " ab",
                          "ab;rm", "a/b", "../x", "ab:amd64", "ab=1.0", "a$b", "a*", "ab\xe9"})
        EXPECT_FALSE(isValidDebianPackageName(n)) << n;
}
