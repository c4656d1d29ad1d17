#include <gtest/gtest.h>
#include "VostrelleBuildPaths.h"

#include "Foundation/URLError.h"

#include "Miscellaneous/ZMError.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMPaths.h"
#include "Support/TestSupport.h"

namespace {
const char* kGenericKey = "An unexpected error occurred (code {}). Please report this code to support@zemtrix.me.";

// A resources directory with the real English tables and a second language.
class ZMErrorLanguageTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string english = std::string(VOSTRELLE_RESOURCES_DIR) + "/Localization/en/";
        TestSupport::writeFile(resources_.file("Localization/en/Errors.json"),
                               TestSupport::readFile(english + "Errors.json"));
        TestSupport::writeFile(resources_.file("Localization/en/Localizable.json"),
                               TestSupport::readFile(english + "Localizable.json"));
        ZMPaths::setResourcesDirectory(resources_.path());
        ZMLocalization::reload();
    }
    void TearDown() override {
        ZMPaths::setResourcesDirectory(VOSTRELLE_RESOURCES_DIR);
        ZMLocalization::setLanguage("en");
        ZMLocalization::reload();
    }
    void writeTable(const std::string& language, const std::string& json) {
        TestSupport::writeFile(resources_.file("Localization/" + language + "/Errors.json"), json);
    }
    TestSupport::TempDir resources_;
};
}  // namespace

TEST(ZMError, CarriesTheDomainAndTheTextOfItsCode) {
    ZMError error = ZMError::make(ZMError::DecompressionFailed, "gzip: unexpected end of stream");
    EXPECT_EQ(error.domain, "com.zemtrix.vostrelle");
    EXPECT_EQ(error.code, 31);
    EXPECT_EQ(error.localizedDescription(),
              "The downloaded file could not be decompressed. It may be corrupt or incomplete.");
    EXPECT_EQ(error.debugDescription(),
              "Error Domain=com.zemtrix.vostrelle Code=31 \"gzip: unexpected end of stream\"");
    // Every code the program uses has its own text.
    for (int code : {23, 31, 32, 34, 35}) {
        EXPECT_EQ(ZMError::make(code).localizedDescription().find("unexpected error"), std::string::npos) << code;
    }
}

TEST(ZMError, AnUnknownCodeGetsTheGenericTextNamingIt) {
    EXPECT_EQ(ZMError::make(404).localizedDescription(),
              "An unexpected error occurred (code 404). Please report this code to support@zemtrix.me.");
    EXPECT_NE(ZMError::make(0).localizedDescription().find("(code 0)"), std::string::npos);
}

TEST(ZMError, AnotherDomainShowsItsOwnDescriptionNotOurTableEntry) {
    // -1001 of the transport domain must not read as "unexpected error", and
    // a foreign code that happens to equal one of ours must not borrow our text.
    ZMError timeout = URLError::make(URLError::TimedOut);
    EXPECT_EQ(timeout.localizedDescription(), URLError::description(URLError::TimedOut));
    ZMError foreign{"SomeOtherDomain", 31, "The peer said no."};
    EXPECT_EQ(foreign.localizedDescription(), "The peer said no.");
}

TEST_F(ZMErrorLanguageTest, ASecondLanguageCanBeSwitchedTo) {
    writeTable("fr", R"({"31": "Le fichier n'a pas pu être décompressé.",
                         "An unexpected error occurred (code {}). Please report this code to support@zemtrix.me.":
                           "Erreur inattendue (code {}). Signalez ce code à support@zemtrix.me."})");
    ZMLocalization::setLanguage("fr");
    EXPECT_EQ(ZMLocalization::language(), "fr");
    EXPECT_EQ(ZMError::make(31).localizedDescription(), "Le fichier n'a pas pu être décompressé.");
    EXPECT_EQ(ZMError::make(77).localizedDescription(), "Erreur inattendue (code 77). Signalez ce code à support@zemtrix.me.");
    ZMLocalization::setLanguage("en");
    EXPECT_EQ(ZMError::make(31).localizedDescription(),
              "The downloaded file could not be decompressed. It may be corrupt or incomplete.");
}

TEST_F(ZMErrorLanguageTest, AnIncompleteTranslationFallsBackToEnglishNotToTheGenericText) {
    // Errors are keyed by number, so a missing entry must not show "31".
    writeTable("de", R"({"31": "Die Datei konnte nicht entpackt werden."})");
    ZMLocalization::setLanguage("de");
    EXPECT_EQ(ZMError::make(31).localizedDescription(), "Die Datei konnte nicht entpackt werden.");
    EXPECT_EQ(ZMError::make(32).localizedDescription(),
              "No network connection is available. Check your connection and try again.");
    EXPECT_EQ(ZMError::make(99).localizedDescription(),
              "An unexpected error occurred (code 99). Please report this code to support@zemtrix.me.");
}

TEST_F(ZMErrorLanguageTest, ABrokenTranslatedFormatDoesNotThrow) {
    writeTable("xx", std::string(R"({")") + kGenericKey + R"(": "Fehler {oops} {} {"})");
    ZMLocalization::setLanguage("xx");
    std::string text;
    EXPECT_NO_THROW(text = ZMError::make(12).localizedDescription());
    EXPECT_NE(text.find("12"), std::string::npos) << text;
}

TEST_F(ZMErrorLanguageTest, LanguageNamesCannotLeaveTheResourcesDirectory) {
    ZMLocalization::setLanguage("../en");
    EXPECT_EQ(ZMLocalization::language(), "en");
    ZMLocalization::setLanguage("");
    EXPECT_EQ(ZMLocalization::language(), "en");
}
