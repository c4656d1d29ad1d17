#include <gtest/gtest.h>

#include "Foundation/URL.h"

TEST(URL, ParsesComponentsAndGivesTheTextBack) {
    for (const char* text : {"https://repo.example.com/", "http://user@127.0.0.1:8080/dists/stable/Release?x=1&y=%20#top",
                             "https://[::1]:443/a", "mailto:someone@example.com", "HTTP://Example.COM/Path",
                             "https://example.com", "https://example.com/a/b/"}) {
        auto url = URL::parse(text);
        ASSERT_TRUE(url) << text;
        EXPECT_EQ(url->string(), text);
    }
    auto url = *URL::parse("http://user@127.0.0.1:8080/dists/stable/Release?x=1&y=%20#top");
    EXPECT_EQ(url.scheme(), "http");
    EXPECT_EQ(url.user(), "user");
    EXPECT_EQ(url.host(), "127.0.0.1");
    EXPECT_EQ(url.port(), 8080);
    EXPECT_EQ(url.path(), "/dists/stable/Release");
    EXPECT_EQ(url.query(), "x=1&y=%20");
    EXPECT_EQ(url.fragment(), "top");
    EXPECT_EQ(url.withoutFragment().string(), "http://user@127.0.0.1:8080/dists/stable/Release?x=1&y=%20");
    EXPECT_EQ(URL::parse("https://[::1]:443/a")->host(), "::1");
    EXPECT_EQ(URL::parse("HTTPS://a.b/")->effectivePort(), 443);
    EXPECT_TRUE(URL::parse("HTTPS://a.b/")->isHTTP());
    EXPECT_FALSE(URL::parse("file:///etc/passwd")->isHTTP());
    EXPECT_EQ(URL::parse("mailto:someone@example.com")->path(), "someone@example.com");
}

TEST(URL, RejectsWhatIsNoURL) {
    for (const char* text : {"", "example.com/path", "://x", "1http://x", "http://exa mple.com/", "http://x/<script>",
                             "http://x/a|b", "http://x/%zz", "http://x/%4", "http://x:99999/", "http://x:8a/",
                             "https://exämple.com/", "http://x/\n", "http://[::1/"}) {
        EXPECT_FALSE(URL::parse(text)) << text;
    }
}

TEST(URL, ResolvesReferencesAndPathOperations) {
    auto base = *URL::parse("https://repo.example.com/dists/stable/Release?x=1");
    EXPECT_EQ(base.resolving("InRelease")->string(), "https://repo.example.com/dists/stable/InRelease");
    EXPECT_EQ(base.resolving("../../pool/a.deb")->string(), "https://repo.example.com/pool/a.deb");
    EXPECT_EQ(base.resolving("/payment_endpoint")->string(), "https://repo.example.com/payment_endpoint");
    EXPECT_EQ(base.resolving("//cdn.example.net/x")->string(), "https://cdn.example.net/x");
    EXPECT_EQ(base.resolving("?y=2")->string(), "https://repo.example.com/dists/stable/Release?y=2");
    EXPECT_EQ(base.resolving("http://other.example/")->string(), "http://other.example/");
    EXPECT_EQ(URL::parse("https://h")->resolving("a")->string(), "https://h/a");

    auto page = *URL::parse("http://store.example.com/info/pkg/index.html");
    EXPECT_EQ(page.deletingLastPathComponent().appendingPathComponent("changelog.php").string(),
              "http://store.example.com/info/pkg/changelog.php");
    EXPECT_EQ(page.lastPathComponent(), "index.html");
    EXPECT_EQ(URL::parse("https://h/a%20b/")->lastPathComponent(), "a b");
    EXPECT_EQ(URL::parse("https://h/dir/")->appendingPathComponent("a b/c?").string(), "https://h/dir/a%20b%2Fc%3F");
}

TEST(URLEncoding, EncodesAndDecodes) {
    EXPECT_EQ(URLEncoding::encodeQueryValue("a b&c=d+e/é~"), "a%20b%26c%3Dd%2Be%2F%C3%A9~");
    EXPECT_EQ(URLEncoding::encodePath("/pool/main/a b#1?.deb"), "/pool/main/a%20b%231%3F.deb");
    EXPECT_EQ(URLEncoding::encodePathComponent("a/b"), "a%2Fb");
    EXPECT_EQ(URLEncoding::decode("a%20b%2fc%zz%"), "a b/c%zz%");
    EXPECT_EQ(URLEncoding::decode("a+b"), "a+b");
    EXPECT_EQ(URLEncoding::decode("a+b", true), "a b");
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    EXPECT_EQ(URLEncoding::decode(URLEncoding::encodeQueryValue(all)), all);
    // An encoded value always makes a valid URL.
    EXPECT_TRUE(URL::parse("https://h/x?q=" + URLEncoding::encodeQueryValue(all)));
    EXPECT_TRUE(URL::parse("https://h" + URLEncoding::encodePath("/" + all)));
}
