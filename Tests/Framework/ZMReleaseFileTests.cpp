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

TEST(ZMReleaseFile, TheDateElseTheFilesOwnDateIsTheRegeneration) {
    struct Case {
        const char* text;
        const char* fileDate;
        const char* regenDate;
    };
    const Case cases[] = {
        {"Origin: O\nDate: Sat, 09 Nov 2024 10:09:36 UTC\n", "Mon, 02 Dec 2024 08:00:00 GMT", "2024-11-09T10:09:36Z"},
        {"Archive: bookworm\nComponent: main\n", "Mon, 02 Dec 2024 08:00:00 GMT", "2024-12-02T08:00:00Z"},
        {"Origin: O\nDate: yesterday-ish\n", "Mon, 02 Dec 2024 08:00:00 GMT", "2024-12-02T08:00:00Z"},
        {"Origin: O\n", "", ""},
        {"Origin: O\n", "not a date", ""},
    };
    for (const auto& c : cases) {
        auto release = ZMReleaseFile::parse(c.text, c.fileDate);
        ASSERT_TRUE(release) << c.text;
        EXPECT_EQ(release->regenDate, c.regenDate) << c.text << " / " << c.fileDate;
    }
}

}  // namespace
