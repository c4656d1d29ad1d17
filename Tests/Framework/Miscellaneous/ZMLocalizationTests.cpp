#include <gtest/gtest.h>

#include "Miscellaneous/ZMLocalization.h"

// A language name is a directory under the resources: it cannot climb out.
TEST(ZMLocalization, LanguageNamesCannotLeaveTheResourcesDirectory) {
    ZMLocalization::setLanguage("en");
    for (const char* name : {"../en", "", "a/b", ".."}) {
        ZMLocalization::setLanguage(name);
        EXPECT_EQ(ZMLocalization::language(), "en") << name;
    }
}
