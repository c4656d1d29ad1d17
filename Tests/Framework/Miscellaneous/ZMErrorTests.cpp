// Errors of the program's own domain show the text of their code from the
// "Errors" table; other domains keep their own description.
#include <gtest/gtest.h>

#include "Foundation/URLError.h"
#include "Miscellaneous/ZMError.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMPaths.h"
#include "Support/TestSupport.h"
#include "VostrelleBuildPaths.h"

TEST(ZMError, EveryCodeInUseHasItsOwnTextAndOthersNameTheirCode) {
    ZMError error = ZMError::make(ZMError::DecompressionFailed, "gzip: unexpected end of stream");
    EXPECT_EQ(error.domain, "com.zemtrix.vostrelle");
    EXPECT_EQ(error.debugDescription(), "Error Domain=com.zemtrix.vostrelle Code=31 \"gzip: unexpected end of stream\"");
    const std::string generic = ZMError::make(404).localizedDescription();
    EXPECT_NE(generic.find("(code 404)"), std::string::npos) << generic;
    for (int code : {31, 23, 32, 34, 35}) {
        const std::string text = ZMError::make(code).localizedDescription();
        EXPECT_EQ(text.find("(code "), std::string::npos) << code << ": " << text;
        EXPECT_NE(text, std::to_string(code));
    }
    // -1001 of the transport domain must not read as "unexpected error", and
    // a foreign code that happens to equal one of ours must not borrow our text.
    EXPECT_EQ(URLError::make(URLError::TimedOut).localizedDescription(), URLError::description(URLError::TimedOut));
    EXPECT_EQ((ZMError{"SomeOtherDomain", 31, "The peer said no."}).localizedDescription(), "The peer said no.");
}

// Another language: its entries where it has them, English where it lacks
// one (errors are keyed by number: never "31"), and a broken format never throws.
TEST(ZMError, TranslationsFallBackToEnglish) {
    TestSupport::TempDir resources;
    const std::string english = std::string(VOSTRELLE_RESOURCES_DIR) + "/Localization/en/";
    for (const char* table : {"Errors.json", "Localizable.json"})
        TestSupport::writeFile(resources.file(std::string("Localization/en/") + table), TestSupport::readFile(english + table));
    ZMPaths::setResourcesDirectory(resources.path());
    ZMLocalization::reload();
    const std::string noNetwork = ZMError::make(ZMError::NoNetwork).localizedDescription();
    TestSupport::writeFile(resources.file("Localization/de/Errors.json"),
                           R"({"31": "Nicht entpackt.", "An unexpected error occurred (code {}). Please report this code to support@zemtrix.me.": "Fehler {oops} {} {"})");
    ZMLocalization::setLanguage("de");
    EXPECT_EQ(ZMError::make(31).localizedDescription(), "Nicht entpackt.");
    EXPECT_EQ(ZMError::make(ZMError::NoNetwork).localizedDescription(), noNetwork);
    std::string text;
    EXPECT_NO_THROW(text = ZMError::make(12).localizedDescription());
    EXPECT_NE(text.find("12"), std::string::npos) << text;

    ZMPaths::setResourcesDirectory(VOSTRELLE_RESOURCES_DIR);
    ZMLocalization::setLanguage("en");
    ZMLocalization::reload();
}
