#pragma once
// A package's whole description, read from its source's stored index.
//
// The refresh keeps only the synopsis (the Description's first line) in the
// database, so that thousands of records stay small; the page of one package
// reads the rest when it opens, from the Packages file the refresh stored
// (ZMRSources::packagesFilePath). The file is read in pieces and the read
// stops at the package's stanza: call it off the main thread, a large index
// takes a while.
#include <optional>
#include <string>
#include <string_view>

class ZMPackageDescriptionReader {
public:
    // The display text of the Description of `identifier` (of `version` when
    // the index lists several; any version when none of them matches, or when
    // `version` is empty), or nullopt when the file or the package is missing.
    static std::optional<std::string> fullDescription(const std::string& sourceLocation, const std::string& identifier,
                                                      const std::string& version = {});
    // The same from a given Packages file.
    static std::optional<std::string> fullDescriptionInFile(const std::string& path, const std::string& identifier,
                                                            const std::string& version = {});
    // A raw Description value as text to show: the synopsis, a blank line, then
    // the extended description with its leading blank removed, " ." lines as
    // blank lines, the lines of a paragraph joined, and lines indented further
    // (verbatim text) kept as written.
    static std::string displayText(std::string_view raw);
};
