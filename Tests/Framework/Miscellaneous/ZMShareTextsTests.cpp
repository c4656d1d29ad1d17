#include <gtest/gtest.h>

#include "Database/ZMRPackage.h"
#include "Database/ZMRSource.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMShareTexts.h"
#include "Miscellaneous/ZMURLSchemeHandler.h"
#include "Realm/Realm.h"
#include "Support/TestSupport.h"

using Kind = ZMURLAction::Kind;

TEST(ZMLocalization, FillDoesNotRescanInsertedText) {
    EXPECT_EQ(ZMLocalization::fill("%@ and %@", {"%@", "b"}), "%@ and b");
    EXPECT_EQ(ZMLocalization::fill("a %@ b %@ c", {"1"}), "a 1 b  c");
    EXPECT_EQ(ZMLocalization::fill("no placeholders", {"x"}), "no placeholders");
}

// Shared links are read by other installations: their form stays, and every
// value comes back from the parser as it went in.
TEST(ZMShareTexts, LinksComeBackAsTheyWent) {
    EXPECT_EQ(ZMShareTexts::showPackageLink("com.x.y", "Fish & Chips", "https://repo.example/"),
              "vostrelle://show/shared=Vostrelle&name=Fish+%26+Chips&bundleid=com.x.y&repo=https%3A%2F%2Frepo.example%2F");
    struct Case {
        std::string identifier, name, repo;
    } packages[] = {
        {"com.example.plain", "Plain", "https://repo.example/"},
        {"com.example.tricky", "A & B = C + D #1 100% a/b?", "http://127.0.0.1:8080/a-b_c/%20d/"},
        {"com.example.unicode", "Ünïcødé ✓", "https://repo.example/xn--rpo-bma/"},
    };
    for (const auto& c : packages) {
        std::string link = ZMShareTexts::showPackageLink(c.identifier, c.name, c.repo);
        auto a = ZMURLSchemeHandler::parse(link);
        ASSERT_EQ(a.kind, Kind::ShowPackage) << link << ": " << a.problem;
        EXPECT_EQ(a.packageIdentifier, c.identifier);
        EXPECT_EQ(a.packageName, c.name);
        EXPECT_EQ(a.repository, c.repo) << link;
    }
    for (std::string location : {"https://repo.example/debs/", "https://repo.example/a%20b/", "http://127.0.0.1:8080/repo/x/"}) {
        std::string link = ZMShareTexts::addSourceLink(location);
        auto a = ZMURLSchemeHandler::parse(link);
        ASSERT_EQ(a.kind, Kind::AddSource) << link << ": " << a.problem;
        EXPECT_EQ(a.location, location);
    }
    // A fragment never ends the link early, and what is no source location
    // comes back refused, never altered.
    for (std::string location : {"https://repo.example/a#b/", "http://h.example/?a=1&b=/", "https://repo.example/caf\xC3\xA9/"}) {
        std::string link = ZMShareTexts::addSourceLink(location);
        EXPECT_EQ(link.find('#'), std::string::npos) << link;
        EXPECT_EQ(ZMURLSchemeHandler::parse(link).kind, Kind::Invalid) << link;
    }
}

class ZMShareTextsDatabase : public ::testing::Test {
protected:
    TestSupport::IsolatedEnvironment env;
    void SetUp() override {
        ZMLocalization::setLanguage("en");
        ZMLocalization::reload();
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] {
            ZMRSource source = ZMRSource::newSourceWithLocation("https://repo.example/");
            source.name = "Example Repo";
            realm->add(source);
            ZMRPackage p;
            p.identifier = "com.example.fish";
            p.name = "Fish & Chips";
            p.maintainer = "Jane <jane@example.org>";
            p.sourceLocation = "https://repo.example/";
            realm->add(p);
            ZMRPackage orphan;
            orphan.identifier = "com.example.orphan";
            orphan.sourceLocation = "https://gone.example/";
            realm->add(orphan);
        });
    }
    static void expectHolds(const std::string& text, std::initializer_list<std::string> parts) {
        for (const auto& part : parts) EXPECT_NE(text.find(part), std::string::npos) << part << " in\n" << text;
    }
};

TEST_F(ZMShareTextsDatabase, TextsNameWhatTheyShareAndCarryItsLink) {
    auto text = ZMShareTexts::packageTextForIdentifier("com.example.fish");
    ASSERT_TRUE(text);
    expectHolds(*text, {"\"Fish & Chips\"", "Jane <jane@example.org>", "Example Repo",
                        ZMShareTexts::showPackageLink("com.example.fish", "Fish & Chips", "https://repo.example/")});
    // A package without a name is shared under its identifier, one whose source is gone under the location.
    auto orphan = ZMShareTexts::packageTextForIdentifier("com.example.orphan");
    ASSERT_TRUE(orphan);
    expectHolds(*orphan, {"\"com.example.orphan\"", "https://gone.example/"});
    EXPECT_FALSE(ZMShareTexts::packageTextForIdentifier("com.example.none"));

    expectHolds(ZMShareTexts::sourceTextForLocation("https://repo.example/"),
                {"\"Example Repo\"", ZMShareTexts::addSourceLink("https://repo.example/")});
    expectHolds(ZMShareTexts::sourceTextForLocation("https://other.example/"),
                {"\"https://other.example/\"", ZMShareTexts::addSourceLink("https://other.example/")});
    EXPECT_EQ(ZMShareTexts::allSourcesText({"https://a.example/", "http://b.example/x/"}),
              "https://a.example/\nhttp://b.example/x/");
    EXPECT_EQ(ZMShareTexts::allSourcesText({}), "");
}
