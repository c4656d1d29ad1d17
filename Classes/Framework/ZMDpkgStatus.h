#pragma once
// Reads what dpkg knows about a target root: its status file and the file
// lists of installed packages. Only reads; the records are written elsewhere.
//
// Also applies dpkg's journal (updates/NNNN files, left behind when dpkg was
// interrupted before folding them into the status file), as dpkg itself does
// when it opens its database: a stanza there replaces the package's entry.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Miscellaneous/ZMControlParser.h"
#include "Miscellaneous/ZMError.h"

struct ZMDpkgPackage {
    std::string identifier;    // Package
    std::string version;       // Version ("" when missing)
    std::string architecture;  // Architecture ("" when missing)
    // The Status field: "want flag state", e.g. "install ok installed".
    std::string want, flag, state;
    bool installed = false;    // state "installed"
    // Left half way by an interrupted or failed run (half-installed,
    // half-configured, unpacked, triggers-awaited, triggers-pending, or the
    // reinstreq flag): the repair step fixes these.
    bool needsRepair = false;
    bool held = false;         // want "hold"
    bool essential = false;    // Essential: yes
    bool hasFileList = false;  // info/<name>[:<arch>].list was found
    // The lines of the file list in file order. Lines end at "\n"; an empty
    // line is an empty entry (so "a\n\n" gives "a" and ""), no "\n" at the end
    // of the file is fine.
    std::vector<std::string> installedFiles;
    // Modification time of the file list, when there is one.
    std::optional<std::chrono::system_clock::time_point> installDate;
    // The kept control fields (see ZMDpkgStatus::keptFields()), in file order;
    // Description holds its first line only.
    ZMOwnedControlStanza fields;
};

struct ZMDpkgStatusScan {
    std::vector<ZMDpkgPackage> packages;  // in status-file order
    // Stanzas left out: no Package field, or a name outside the package-name
    // grammar (it would end up in paths and command lines).
    size_t skippedStanzas = 0;
};

class ZMDpkgStatus {
public:
    // The target root's database: ZMPaths::dpkgDirectory().
    static ZMResult<ZMDpkgStatusScan> read();
    // A missing status file is an empty database; an unreadable one an error.
    static ZMResult<ZMDpkgStatusScan> read(const std::string& dpkgDirectory);

    // The file list of a package: info/<name>:<arch>.list when it exists
    // (multi-arch "same" packages), else info/<name>.list. nullopt when
    // neither exists or the name/architecture could not be part of a path.
    static std::optional<std::string> fileListPath(const std::string& dpkgDirectory, std::string_view identifier,
                                                   std::string_view architecture);
    static std::vector<std::string> splitFileList(std::string_view text);

    // Control fields kept per package.
    static const std::vector<std::string_view>& keptFields();
};
