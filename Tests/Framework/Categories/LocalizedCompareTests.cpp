#include <gtest/gtest.h>

#include <algorithm>

#include "Categories/String+LocalizedCompare.h"

// Lists show names as a reader orders them: case aside, accents after their
// letter, punctuation and digits first. (The tests run under the C locale,
// which means the root order.)
TEST(LocalizedCompare, NamesInReadingOrderWithoutRegardToCase) {
    const std::vector<std::string> expected = {"9Lives", "alpha", "Alpine", "com.walk.tool", "Cydia",
                                               "e", "é", "elan", "Émile", "f", "Walk", "Zulu"};
    std::vector<std::string> byKey = expected, byCompare = expected;
    std::reverse(byKey.begin(), byKey.end());
    std::reverse(byCompare.begin(), byCompare.end());
    std::sort(byKey.begin(), byKey.end(), [](const std::string& a, const std::string& b) {
        return LocalizedCompare::sortKey(a) < LocalizedCompare::sortKey(b);
    });
    std::sort(byCompare.begin(), byCompare.end(),
              [](const std::string& a, const std::string& b) { return LocalizedCompare::compare(a, b) < 0; });
    EXPECT_EQ(byKey, expected);
    EXPECT_EQ(byCompare, expected);
    EXPECT_EQ(LocalizedCompare::compare("Walk", "walk"), 0);
    EXPECT_EQ(LocalizedCompare::sortKey("Walk"), LocalizedCompare::sortKey("WALK"));
    EXPECT_GT(LocalizedCompare::sortKey("bad \xFF"), LocalizedCompare::sortKey("bad")) << "invalid UTF-8 still orders";
}
