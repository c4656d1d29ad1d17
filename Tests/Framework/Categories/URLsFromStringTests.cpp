#include <gtest/gtest.h>

#include "Categories/String+URLsFromString.h"

namespace {
std::vector<std::string> texts(std::string_view text) {
    std::vector<std::string> out;
    for (const auto& url : StringURLsFromString::URLs(text)) out.push_back(url.string());
    return out;
}
using V = std::vector<std::string>;
}  // namespace

TEST(URLsFromString, FindsLinksInTextOrder) {
    EXPECT_EQ(texts("Visit https://example.com/path/to?x=1&y=2 and HTTP://Foo.org:8080/a.b/c_d now."),
              (V{"https://example.com/path/to?x=1&y=2", "HTTP://Foo.org:8080/a.b/c_d"}));
    EXPECT_EQ(texts("twitter: https://twitter.com/dev\nsite: http://dev.example.net"),
              (V{"https://twitter.com/dev", "http://dev.example.net"}));
    auto urls = StringURLsFromString::URLs("see https://repo.example.com/depictions/");
    ASSERT_EQ(urls.size(), 1u);
    EXPECT_EQ(urls[0].scheme(), "https");
    EXPECT_EQ(urls[0].host(), "repo.example.com");
}

TEST(URLsFromString, FollowsThePatternToTheLetter) {
    // The path admits word characters, "/", "_" and "." only.
    EXPECT_EQ(texts("https://a.com/foo-bar"), (V{"https://a.com/foo"}));
    EXPECT_EQ(texts("(https://a.com/x)"), (V{"https://a.com/x"}));
    // A query runs to the next blank.
    EXPECT_EQ(texts("(https://a.com/x?q=1)."), (V{"https://a.com/x?q=1)."}));
    // "?" needs a following character; a query needs a path.
    EXPECT_EQ(texts("https://a.com/x? next"), (V{"https://a.com/x"}));
    EXPECT_EQ(texts("https://a.com?q=1"), (V{"https://a.com"}));
    // A port needs digits.
    EXPECT_EQ(texts("http://a.com:80x"), (V{"http://a.com:80"}));
    EXPECT_EQ(texts("http://a.com:x"), (V{"http://a.com"}));
    // Matches anywhere, also inside a word.
    EXPECT_EQ(texts("xhttps://a.b"), (V{"https://a.b"}));
    // Unicode punctuation ends the host.
    EXPECT_EQ(texts("https://example.com\u2019s page"), (V{"https://example.com"}));
}

TEST(URLsFromString, KeepsOnlyValidURLs) {
    EXPECT_TRUE(texts("").empty());
    EXPECT_TRUE(texts("no links here, just http:// and https:/x").empty());
    // A match that is no valid URL is dropped: letters outside ASCII, markup in the query.
    EXPECT_TRUE(texts("https://exämple.com/").empty());
    EXPECT_EQ(texts("https://a.com/x?q=<b> and https://b.com"), (V{"https://b.com"}));
}
