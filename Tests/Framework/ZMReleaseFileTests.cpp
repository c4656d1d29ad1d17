// A repository's Release as the refresh reads it: which field names the
// source, and what is given to apt.
#include <gtest/gtest.h>

#include "ZMReleaseFile.h"

namespace {

TEST(ZMReleaseFile, OriginElseLabelNamesTheSource) {
    struct Case {
        const char* text;
        const char* name;
    };
    const std::string longLabel(300, 'l');
    const Case cases[] = {
        {"Origin: The Origin\nLabel: The Label\n", "The Origin"},
        {"Label: The Label\nOrigin: The Origin\n", "The Origin"},
        {"Label: The Label\n", "The Label"},
        {"Label: The Label\nSuite: stable\nCodename: ./\n", "The Label"},
        {"Origin:\nLabel: The Label\n", "The Label"},
        {"Origin:   \nLabel: The Label\n", "The Label"},
        {"Origin: The Origin\n", "The Origin"},
        {"Origin: The Origin\nLabel:\n", "The Origin"},
        {"Suite: stable\nDescription: no name\n", ""},
        {"Label:\n", ""},
    };
    for (const auto& c : cases) {
        auto release = ZMReleaseFile::parse(c.text);
        ASSERT_TRUE(release) << c.text;
        EXPECT_EQ(release->name, c.name) << c.text;
    }
    auto capped = ZMReleaseFile::parse("Label: " + longLabel + "\n");
    ASSERT_TRUE(capped);
    EXPECT_EQ(capped->name, std::string(ZMReleaseFile::kMaximumNameCharacters, 'l'));
    // apt is given the Label as it is, and no Origin it did not have.
    auto labelOnly = ZMReleaseFile::parse("Label: The Label\nSuite: stable\n");
    EXPECT_EQ(labelOnly->aptText, "Label: The Label\nSuite: stable\n");
}

}  // namespace
