#include <gtest/gtest.h>

#include "Database/ZMRPackage.h"
#include "Database/ZMRSource.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMShareTexts.h"
#include "Miscellaneous/ZMURLSchemeHandler.h"
#include "Realm/Realm.h"
#include "Support/TestSupport.h"

TEST(ZMLocalization, FillDoesNotRescanInsertedText) {
    EXPECT_EQ(ZMLocalization::fill("%@ and %@", {"%@", "b"}), "%@ and b");
    EXPECT_EQ(ZMLocalization::fill("a %@ b %@ c", {"1"}), "a 1 b  c");
    EXPECT_EQ(ZMLocalization::fill("no placeholders", {"x"}), "no placeholders");
}

TEST(ZMShareTexts, LinkValuesAreEncoded) {
    EXPECT_EQ(ZMShareTexts::encodeLinkValue("My Tweak"), "My+Tweak");
    EXPECT_EQ(ZMShareTexts::encodeLinkValue("a+b&c=d#e/f?"), "a%2Bb%26c%3Dd%23e%2Ff%3F");
    EXPECT_EQ(ZMShareTexts::encodeLinkValue("é"), "%C3%A9");
    EXPECT_EQ(ZMShareTexts::showPackageLink("com.x.y", "Fish & Chips", "https://repo.example/"),
              "vostrelle://show/shared=Vostrelle&name=Fish+%26+Chips&bundleid=com.x.y&repo=https%3A%2F%2Frepo.example%2F");
    EXPECT_EQ(ZMShareTexts::addSourceLink("https://repo.example/debs/"), "vostrelle://add/https://repo.example/debs/");
    // Escapes survive the trip: the link adds the same source.
    for (std::string location : {"https://repo.example/a%20b/", "http://127.0.0.1:8080/repo/x/"}) {
        std::string link = ZMShareTexts::addSourceLink(location);
        auto action = ZMURLSchemeHandler::parse(link);
        ASSERT_EQ(action.kind, ZMURLAction::Kind::AddSource) << link << ": " << action.problem;
        EXPECT_EQ(action.location, location);
    }
    // A fragment never ends the link early, and what is no source location
    // comes back refused, never altered.
    for (std::string location : {"https://repo.example/a#b/", "http://h.example/?a=1&b=/", "https://repo.example/caf\xC3\xA9/"}) {
        std::string link = ZMShareTexts::addSourceLink(location);
        EXPECT_EQ(link.find('#'), std::string::npos) << link;
        EXPECT_EQ(ZMURLSchemeHandler::parse(link).kind, ZMURLAction::Kind::Invalid) << link;
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
};

TEST_F(ZMShareTextsDatabase, PackageTextNamesPackageDeveloperAndSourceAndCarriesItsLink) {
    auto text = ZMShareTexts::packageTextForIdentifier("com.example.fish");
    ASSERT_TRUE(text);
    EXPECT_EQ(*text,
              "Check out the package \"Fish & Chips\" by Jane <jane@example.org> from the source Example Repo on "
              "Vostrelle !\n(See the package : vostrelle://show/shared=Vostrelle&name=Fish+%26+Chips&bundleid=com."
              "example.fish&repo=https%3A%2F%2Frepo.example%2F)");
    // A package without a name is shared under its identifier, one whose source is gone under the location.
    auto orphan = ZMShareTexts::packageTextForIdentifier("com.example.orphan");
    ASSERT_TRUE(orphan);
    EXPECT_NE(orphan->find("\"com.example.orphan\""), std::string::npos) << *orphan;
    EXPECT_NE(orphan->find("from the source https://gone.example/ on"), std::string::npos) << *orphan;
    EXPECT_FALSE(ZMShareTexts::packageTextForIdentifier("com.example.none"));
}

TEST_F(ZMShareTextsDatabase, SourceTexts) {
    EXPECT_EQ(ZMShareTexts::sourceTextForLocation("https://repo.example/"),
              "Check out the source \"Example Repo\" on Vostrelle !\n(Add the source : vostrelle://add/https://repo.example/)");
    EXPECT_EQ(ZMShareTexts::sourceTextForLocation("https://other.example/"),
              "Check out the source \"https://other.example/\" on Vostrelle !\n(Add the source : "
              "vostrelle://add/https://other.example/)");
    EXPECT_EQ(ZMShareTexts::allSourcesText({"https://a.example/", "http://b.example/x/"}),
              "https://a.example/\nhttp://b.example/x/");
    EXPECT_EQ(ZMShareTexts::allSourcesText({}), "");
    EXPECT_EQ(ZMShareTexts::allSourcesTitle(), "All Sources");
}
