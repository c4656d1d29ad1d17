// The texts of the details page's fixed fields, from a record snapshot and
// its source: fallbacks, the developer chain, dependency lines, sizes,
// compatibility, the repository card, and the information file's "/n".
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "Details/PackageInformationRows.h"
#include "Miscellaneous/ZMPlatform.h"
#include "Support/TestSupport.h"
#include "Support/Gui/GuiTestSupport.h"

namespace {

using nlohmann::json;

const std::string kMaker = "https://repo.zemtrix.example/repo/";

ZMRSource source(const std::string& contact = "", bool infoJson = false) {
    auto s = ZMRSource::newSourceWithLocation("https://repo.example/");
    s.name = "Example Repo";
    s.Description = "Things for tests";
    s.contact = contact;
    s.isUsingInfoJson = infoJson;
    return s;
}

TEST(PackageInformationRows, DependencyAndConflictLinesHaveOneBreakBetweenEntries) {
    struct Case {
        std::vector<std::string> entries;
        QString expected;
    };
    const Case cases[] = {
        {{"a", "b", "c"}, "a\nb\nc"},
        // An entry equal to the last keeps its break.
        {{"a", "b", "a"}, "a\nb\na"},
        {{"a"}, "a"},
        {{"", "b"}, "\nb"},
    };
    for (const auto& c : cases) EXPECT_EQ(PackageInformationRows::lines(c.entries), c.expected);
    std::vector<std::string> many;
    for (int i = 0; i < 500; ++i) many.push_back("dep" + std::to_string(i));
    const auto rows = PackageInformationRows::make({{"dependencies", many}}, std::nullopt, kMaker);
    EXPECT_EQ(rows.dependencies.count('\n'), 499);
    EXPECT_TRUE(rows.dependencies.endsWith("dep499"));
    EXPECT_EQ(PackageInformationRows::make(json::object(), std::nullopt, kMaker).conflicts, "No conflicts");
}

TEST(PackageInformationRows, InformationFileLineBreaksLeaveAddressesAlone) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"One/nTwo", "One  \nTwo"},
        {"See https://a.example/news and/nmore", "See https://a.example/news and  \nmore"},
        {"(http://a.example/n/x)/nend", "(http://a.example/n/x)  \nend"},
        {"no breaks", "no breaks"},
        {"/n/n", "  \n  \n"},
    };
    for (const auto& c : cases) EXPECT_EQ(PackageInformationRows::markdownLineBreaks(c.in), c.out) << c.in;
    // Only an information-file source's description is Markdown.
    const json package = {{"Description", "A/nB"}};
    EXPECT_EQ(PackageInformationRows::make(package, source("", true), kMaker).description, "A  \nB");
    EXPECT_TRUE(PackageInformationRows::make(package, source("", true), kMaker).descriptionIsMarkdown);
    EXPECT_EQ(PackageInformationRows::make(package, source(), kMaker).description, "A/nB");
    EXPECT_FALSE(PackageInformationRows::make(package, source(), kMaker).descriptionIsMarkdown);
}

TEST(PackageInformationRows, SizesAreWholeByteCountsOrNothing) {
    EXPECT_FALSE(PackageInformationRows::fileSize("123456").isEmpty());
    EXPECT_NE(PackageInformationRows::fileSize("123456"), PackageInformationRows::fileSize("999"));
    for (const char* bad : {"abc", "", "12.5", "-3", " 12", "1000000000000000000000000000000", "0x10", "12abc"})
        EXPECT_TRUE(PackageInformationRows::fileSize(bad).isEmpty()) << bad;
}

TEST(PackageInformationRows, FallbacksAndTheDeveloperChain) {
    struct Case {
        json package;
        std::optional<ZMRSource> source;
        const char* developer;
        const char* version;
        const char* category;
    };
    const Case cases[] = {
        {{{"maintainer", "Jane"}, {"contact", "c@x"}, {"version", "1"}, {"category", "Tweaks"}}, source("s@x"), "Jane", "1", "Tweaks"},
        {{{"maintainer", nullptr}, {"contact", "c@x"}}, source("s@x"), "c@x", "None", "None"},
        {{{"maintainer", ""}, {"contact", ""}}, source("s@x"), "s@x", "None", "None"},
        {{{"contact", ""}}, source(""), "No dev name found", "None", "None"},
        {json::object(), std::nullopt, "No dev name found", "None", "None"},
        // Installed: the installed version; an empty one gives the available one.
        {{{"isInstalled", true}, {"installedVersion", "0.9"}, {"version", "1.0"}}, std::nullopt, "No dev name found", "0.9", "None"},
        {{{"isInstalled", true}, {"installedVersion", ""}, {"version", "1.0"}}, std::nullopt, "No dev name found", "1.0", "None"},
    };
    for (const auto& c : cases) {
        const auto rows = PackageInformationRows::make(c.package, c.source, kMaker);
        EXPECT_EQ(rows.developerName, c.developer) << c.package.dump();
        EXPECT_EQ(rows.moreByTitle, QString("More by %1").arg(c.developer));
        EXPECT_EQ(rows.version, c.version) << c.package.dump();
        EXPECT_EQ(rows.category, c.category);
    }
    const auto rows = PackageInformationRows::make({{"maintainer", "Jane"}, {"identifier", "com.jane.x"}}, std::nullopt, kMaker);
    EXPECT_EQ(rows.copyright, "© Jane \ncom.jane.x");
}

TEST(PackageInformationRows, CompatibilityByWhatTheRecordGives) {
    struct Case {
        const char *minimum, *maximum;
        std::optional<QString> title;
        const char* value;
    };
    const Case cases[] = {
        {"11", "13", std::nullopt, "Debian 11 - 13"},
        {"12", "", QString("Minimum OS"), "Debian 12"},
        {"", "12", QString("Maximum OS"), "Debian 12"},
        {"", "", std::nullopt, "Nothing specified"},
    };
    // The versions are this system's: the row names it.
    QTemporaryDir dir;
    TestSupport::writeFile((dir.path() + "/os-release").toStdString(), "NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n");
    ZMPlatform::setOSReleasePath((dir.path() + "/os-release").toStdString());
    for (const auto& c : cases) {
        const auto rows = PackageInformationRows::make({{"minosversion", c.minimum}, {"maxosversion", c.maximum}}, std::nullopt, kMaker);
        EXPECT_EQ(rows.compatibilityTitle, c.title) << c.minimum << "|" << c.maximum;
        EXPECT_EQ(rows.compatibility, c.value);
    }
    ZMPlatform::setOSReleasePath(std::nullopt);
}

TEST(PackageInformationRows, BadgeRatingActionDateAndTheRepositoryCard) {
    auto rows = PackageInformationRows::make({{"sourceLocation", kMaker}, {"myRating", 3}, {"postinstallaction", "rESPRING now"},
                                              {"updatedDateStr", "2026-03-04 10:20"}},
                                             std::nullopt, kMaker);
    EXPECT_TRUE(rows.verified);
    EXPECT_EQ(rows.myRating, 3);
    EXPECT_EQ(rows.ratingText, "3 out of 5 rating");
    EXPECT_EQ(rows.postInstallAction, "Respring Now");
    EXPECT_NE(rows.date, "None");
    EXPECT_EQ(rows.repositoryName, "Removed Source");
    EXPECT_EQ(rows.repositoryDescription, "The source of this package has been removed");

    rows = PackageInformationRows::make({{"sourceLocation", "DPKG"}, {"updatedDateStr", "1970-01-01 00:00"}}, std::nullopt, kMaker);
    EXPECT_FALSE(rows.verified);
    EXPECT_EQ(rows.myRating, std::nullopt);
    EXPECT_EQ(rows.ratingText, "0 out of 5 rating");
    EXPECT_EQ(rows.postInstallAction, "Nothing");
    EXPECT_EQ(rows.date, "None");
    EXPECT_EQ(rows.repositoryName, "DPKG");
    EXPECT_EQ(rows.repositoryDescription, "This package has been installed through another package manager");

    // The badge is the location's, not the name's; a source record gives the card.
    rows = PackageInformationRows::make({{"sourceLocation", "https://repo.example/"}, {"myRating", 9}}, source(), kMaker);
    EXPECT_FALSE(rows.verified);
    EXPECT_EQ(rows.myRating, 5);
    EXPECT_EQ(rows.repositoryName, "Example Repo");
    EXPECT_EQ(rows.repositoryDescription, "Things for tests");
}

}  // namespace
