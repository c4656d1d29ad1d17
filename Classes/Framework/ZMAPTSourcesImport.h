#pragma once
// The repositories the host's own APT uses, offered for import in the
// first-run flow: /etc/apt/sources.list, sources.list.d/*.list (one-line
// format) and sources.list.d/*.sources (deb822).
//
// Only binary ("deb") entries over http or https are parsed, in two shapes:
// flat repositories (suite "./" or any suite ending in "/", no component) and
// entries with exactly one component; only the flat ones are offered, since
// the refresh follows flat repositories. Source ("deb-src"), disabled,
// cdrom/file/ftp entries and entries with several components are skipped. Locations are normalized (trailing "/") and
// listed once, in file order (sources.list first, then the directory's files
// sorted by name).
#include <string>
#include <vector>

struct ZMAPTImportedSource {
    std::string location;   // normalized, ends in "/"
    std::string suite;      // "./" for a flat repository
    std::string component;  // empty for a flat repository
    std::string file;       // where it was found
    bool isFlat() const { return component.empty(); }
};

class ZMAPTSourcesImport {
public:
    // The host's APT configuration directory; tests point it elsewhere.
    static std::string etcDirectory();
    static void setEtcDirectory(const std::string& path);

    // The flat entries under etcDirectory(), once per location (the others are
    // logged and left: the refresh cannot follow them).
    static std::vector<ZMAPTImportedSource> importableSources();
    // Only the locations.
    static std::vector<std::string> importableLocations();

    // Parsers for one file's text (`file` is only recorded in the entries).
    static std::vector<ZMAPTImportedSource> parseOneLineFormat(const std::string& text, const std::string& file = {});
    static std::vector<ZMAPTImportedSource> parseDeb822(const std::string& text, const std::string& file = {});
};
