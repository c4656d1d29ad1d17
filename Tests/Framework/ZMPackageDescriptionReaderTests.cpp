// The whole description of one package, read back from a stored index.
#include <gtest/gtest.h>

#include "Support/TestSupport.h"
#include "ZMPackageDescriptionReader.h"

namespace {

TEST(ZMPackageDescriptionReader, DisplayTextFollowsTheIndexFormat) {
    const std::pair<const char*, const char*> cases[] = {
        {"Only a synopsis", "Only a synopsis"},
        // Paragraph lines join; " ." separates paragraphs.
        {"Tool\n first line\n second line\n .\n next paragraph", "Tool\n\nfirst line second line\n\nnext paragraph"},
        // Lines indented further are verbatim and keep their indentation.
        {"Tool\n Usage:\n   tool --all\n   tool -q\n done", "Tool\n\nUsage:\n  tool --all\n  tool -q\ndone"},
        // A list (verbatim lines) before the next paragraph: one blank line between.
        {"Tool\n Brings:\n  * one\n  * two\n .\n After", "Tool\n\nBrings:\n * one\n * two\n\nAfter"},
        // A tab continues a value too; blank lines at the end go.
        {"Tool\n\tsome text\n .", "Tool\n\nsome text"},
    };
    for (const auto& [raw, shown] : cases) EXPECT_EQ(ZMPackageDescriptionReader::displayText(raw), shown) << raw;
}

TEST(ZMPackageDescriptionReader, ReadsThePackagesStanzaOfTheVersionAsked) {
    TestSupport::TempDir dir;
    const std::string path = dir.file("Packages");
    TestSupport::writeFile(path,
                           "Package: other\nVersion: 1\nDescription: Other\n other text\n\n"
                           "Package: tool\nVersion: 1.0\nDescription: Tool\n old text\n\n"
                           "Package: tool\nVersion: 2.0\nDescription: Tool\n new text\n .\n more\n\n"
                           "Package: bare\nVersion: 1\n");
    const std::tuple<const char*, const char*, std::optional<std::string>> cases[] = {
        {"tool", "2.0", "Tool\n\nnew text\n\nmore"},
        {"tool", "1.0", "Tool\n\nold text"},
        {"tool", "9.9", "Tool\n\nold text"},  // no such version: the first stanza of the package
        {"tool", "", "Tool\n\nold text"},
        {"bare", "1", std::nullopt},          // no Description at all
        {"missing", "", std::nullopt},
        {"too", "", std::nullopt},            // a prefix of a name is not the name
    };
    for (const auto& [identifier, version, expected] : cases)
        EXPECT_EQ(ZMPackageDescriptionReader::fullDescriptionInFile(path, identifier, version), expected)
            << identifier << " " << version;
    EXPECT_EQ(ZMPackageDescriptionReader::fullDescriptionInFile(dir.file("absent"), "tool"), std::nullopt);
}

}  // namespace
