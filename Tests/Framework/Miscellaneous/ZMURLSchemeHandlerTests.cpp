#include <gtest/gtest.h>

#include "Miscellaneous/ZMShareTexts.h"
#include "Miscellaneous/ZMURLSchemeHandler.h"

using Kind = ZMURLAction::Kind;

namespace {
ZMURLAction parse(const std::string& text) { return ZMURLSchemeHandler::parse(text); }
}  // namespace

TEST(ZMURLSchemeHandler, AddSourceInPathAndQueryForms) {
    auto a = parse("vostrelle://add/https://repo.example.org/debs");
    ASSERT_EQ(a.kind, Kind::AddSource) << a.problem;
    EXPECT_EQ(a.location, "https://repo.example.org/debs/");

    // Escaped as a whole, as a link maker that encodes everything writes it.
    auto b = parse("vostrelle://add/https%3A%2F%2Frepo.example.org%2F");
    ASSERT_EQ(b.kind, Kind::AddSource) << b.problem;
    EXPECT_EQ(b.location, "https://repo.example.org/");

    // An address keeps its own escapes.
    auto c = parse("vostrelle://add/https://repo.example.org/a%20b/");
    ASSERT_EQ(c.kind, Kind::AddSource) << c.problem;
    EXPECT_EQ(c.location, "https://repo.example.org/a%20b/");

    auto d = parse("VOSTRELLE://ADD?url=http%3A%2F%2F127.0.0.1%3A8080%2Frepo%2F");
    ASSERT_EQ(d.kind, Kind::AddSource) << d.problem;
    EXPECT_EQ(d.location, "http://127.0.0.1:8080/repo/");
}

TEST(ZMURLSchemeHandler, AddSourceRefusesWhatIsNotAPlainHttpLocation) {
    for (const char* text : {
             "vostrelle://add/",                                    // nothing to add
             "vostrelle://add",                                     // nor here
             "vostrelle://add/file:///etc/passwd",                  // local file
             "vostrelle://add/ftp://repo.example/",                 // other scheme
             "vostrelle://add/javascript:alert(1)",                 // no "://"
             "vostrelle://add/https://",                            // scheme only
             "vostrelle://add/https%3A%2F%2Frepo.example%2F%0Adeb%20http%3A%2F%2Fevil%2F",  // escaped newline
             "vostrelle://add/https%3A%2F%2Frepo%20example%2F",    // escaped blank
             "vostrelle://add/https%3A%2F%2Frepo.example%2F%22%5D",  // quote and bracket for the sources list
             "vostrelle://add?url=",                                // empty value
             "vostrelle://add/https://%00repo.example/",            // escaped NUL reaches no one
         }) {
        auto a = parse(text);
        EXPECT_EQ(a.kind, Kind::Invalid) << text << " gave " << a.location;
        EXPECT_FALSE(a.problem.empty()) << text;
    }
}

TEST(ZMURLSchemeHandler, ShowPackageKeepsEscapedSeparatorsInsideTheirValue) {
    auto a = parse(
        "vostrelle://show/shared=Vostrelle&name=Fish+%26+Chips%3Dgood&bundleid=com.example.fish&repo=https%3A%2F%2Frepo."
        "example%2F");
    ASSERT_EQ(a.kind, Kind::ShowPackage) << a.problem;
    EXPECT_EQ(a.packageIdentifier, "com.example.fish");
    EXPECT_EQ(a.packageName, "Fish & Chips=good");
    EXPECT_EQ(a.repository, "https://repo.example/");

    // An escaped "&" cannot smuggle a second bundleid in.
    auto b = parse("vostrelle://show/bundleid=com.example.a%26bundleid%3Dcom.example.b");
    EXPECT_EQ(b.kind, Kind::Invalid);

    auto c = parse("vostrelle://show?bundleid=com.example.c&name=C#fragment");
    ASSERT_EQ(c.kind, Kind::ShowPackage) << c.problem;
    EXPECT_EQ(c.packageIdentifier, "com.example.c");
    EXPECT_EQ(c.packageName, "C");
    EXPECT_TRUE(c.repository.empty());
}

TEST(ZMURLSchemeHandler, ShowPackageRefusesMissingOrHostileFields) {
    for (const char* text : {
             "vostrelle://show/",
             "vostrelle://show/shared=Vostrelle&name=Nothing",       // no identifier
             "vostrelle://show/bundleid=",                           // empty identifier
             "vostrelle://show/bundleid=com.example.x%0A",           // escaped newline
             "vostrelle://show/bundleid=com.example.x%00",           // escaped NUL
             "vostrelle://show/bundleid=com.example.x&name=a%0Db",   // control character in the name
             "vostrelle://show/bundleid=..%2F..%2Fetc%2Fpasswd",     // path in the identifier
             "vostrelle://show/bundleid=x%27%3B%20DROP%20TABLE",      // quote, blank, semicolon
             "vostrelle://show/bundleid=com.example.x&repo=file%3A%2F%2F%2Fetc%2F",  // repo that is no http source
         }) {
        auto a = parse(text);
        EXPECT_EQ(a.kind, Kind::Invalid) << text;
    }
}

TEST(ZMURLSchemeHandler, UrlAndDeveloperHosts) {
    auto a = parse("vostrelle://url/https://store.example/item?id=3&x=y");
    ASSERT_EQ(a.kind, Kind::OpenURL) << a.problem;
    EXPECT_EQ(a.url, "https://store.example/item?id=3&x=y");  // the inner query is the address's own
    EXPECT_EQ(parse("vostrelle://url/file:///etc/shadow").kind, Kind::Invalid);
    EXPECT_EQ(parse("vostrelle://url/javascript%3Aalert(1)").kind, Kind::Invalid);
    EXPECT_EQ(parse("vostrelle://url/").kind, Kind::Invalid);

    auto d = parse("vostrelle://developer/Jane%20Doe");
    ASSERT_EQ(d.kind, Kind::ShowDeveloper) << d.problem;
    EXPECT_EQ(d.developer, "Jane Doe");
    auto e = parse("vostrelle://developer?name=Jane+Doe%26Co");
    ASSERT_EQ(e.kind, Kind::ShowDeveloper) << e.problem;
    EXPECT_EQ(e.developer, "Jane Doe&Co");
    EXPECT_EQ(parse("vostrelle://developer/%20%20").kind, Kind::Invalid);
    EXPECT_EQ(parse("vostrelle://developer/Jane%0ADoe").kind, Kind::Invalid);
}

TEST(ZMURLSchemeHandler, StoreCallbacks) {
    auto a = parse("sileo://authentication_success?token=abc%3D%3D&payment_secret=s3");
    ASSERT_EQ(a.kind, Kind::AuthenticationSuccess) << a.problem;
    EXPECT_EQ(a.parameters.at("token"), "abc==");
    EXPECT_EQ(a.parameters.at("payment_secret"), "s3");
    EXPECT_EQ(a.url, "sileo://authentication_success?token=abc%3D%3D&payment_secret=s3");

    auto b = parse("sileo://payment_completed");
    EXPECT_EQ(b.kind, Kind::PaymentCompleted);
    // The kind is the host's first part.
    EXPECT_EQ(parse("sileo://payment_completed/extra").kind, Kind::PaymentCompleted);
    EXPECT_EQ(parse("sileo://authentication_failed?x=1").kind, Kind::Invalid);
    EXPECT_EQ(parse("sileo://authentication_success?token=a%00b").kind, Kind::Invalid);
    // The store callbacks are not hosts of our own scheme, nor the reverse.
    EXPECT_EQ(parse("vostrelle://payment_completed").kind, Kind::Invalid);
    EXPECT_EQ(parse("sileo://add/https://repo.example/").kind, Kind::Invalid);
}

TEST(ZMURLSchemeHandler, RefusesOtherSchemesAndMalformedText) {
    for (std::string text : {
             std::string("https://repo.example/"),
             std::string("cydia://url/https://x.example/"),
             std::string("file:///home/user/a.deb"),
             std::string("vostrelle:add/https://repo.example/"),  // no "//"
             std::string("vostrelle://"),
             std::string("vostrelle://unknown/x"),
             std::string(""),
             std::string("   "),
             std::string("vostrelle://show/bundleid=a\nb"),     // raw newline
             std::string("vostrelle://add/https://a.example/\x7f"),
             std::string("vostrelle://show/bundleid=") + std::string(9000, 'a'),
             std::string("://show"),
         }) {
        EXPECT_EQ(parse(text).kind, Kind::Invalid) << text.substr(0, 80);
    }
    // Blanks around the whole address (as launchers sometimes pass it) are fine.
    EXPECT_EQ(parse("  vostrelle://show/bundleid=com.example.a \n").kind, Kind::ShowPackage);
}

TEST(ZMURLSchemeHandler, SharedLinksComeBackAsTheyWent) {
    struct Case {
        std::string identifier, name, repo;
    } cases[] = {
        {"com.example.plain", "Plain", "https://repo.example/"},
        {"com.example.tricky", "A & B = C + D #1 100%", "http://127.0.0.1:8080/a-b_c/%20d/"},
        {"com.example.unicode", "Ünïcødé ✓", "https://repo.example/xn--rpo-bma/"},
    };
    for (const auto& c : cases) {
        std::string link = ZMShareTexts::showPackageLink(c.identifier, c.name, c.repo);
        auto a = parse(link);
        ASSERT_EQ(a.kind, Kind::ShowPackage) << link << ": " << a.problem;
        EXPECT_EQ(a.packageIdentifier, c.identifier);
        EXPECT_EQ(a.packageName, c.name);
        EXPECT_EQ(a.repository, c.repo) << link;
    }
}

TEST(ZMURLSchemeHandler, HostsOfSourceLocationsAreHostNames) {
    // The sources collection takes no bracketed IPv6 literal; neither does the link.
    EXPECT_EQ(parse("vostrelle://add/http://[::1]:8080/repo/").kind, Kind::Invalid);
    EXPECT_EQ(parse("vostrelle://add/https://repo-1.example.org/").kind, Kind::AddSource);
    EXPECT_EQ(parse("vostrelle://add/https://repo%2Eexample.org/").kind, Kind::Invalid);
    // User names, queries and fragments cannot stand in APT's sources list.
    EXPECT_EQ(parse("vostrelle://add/https://user@repo.example.org/").kind, Kind::Invalid);
    EXPECT_EQ(parse("vostrelle://add/https%3A%2F%2Frepo.example.org%2F%3Fa%3D1").kind, Kind::Invalid);
    EXPECT_EQ(parse("vostrelle://add/https://repo.example.org/a%0Ab/").kind, Kind::Invalid);
    EXPECT_EQ(parse("vostrelle://add/https://repo.example.org/a%7Fb/").kind, Kind::Invalid);
}
