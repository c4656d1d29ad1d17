#pragma once
// A repository's Release index as the refresh takes it: the source's fields
// for the database, made plain and capped, and the Release given to the
// private APT tree, which holds only fields apt reads, each on one short line.
// apt aborts on an Origin or Label of 64 KiB and more, and a name of
// megabytes would freeze every screen that lists sources.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct ZMReleaseFile {
    // A larger Release is the source's error.
    static constexpr size_t kMaximumBytes = 1u << 20;
    static constexpr size_t kMaximumNameCharacters = 256;  // name, maintainer, apt's fields
    static constexpr size_t kMaximumDescriptionCharacters = 4096;

    std::string name;         // Origin, else Label ("" when neither)
    std::optional<std::string> description;  // nullopt when absent
    std::string maintainer;
    // "Date" as ISO-8601 UTC, else the file's own date given to parse() ("" when neither reads).
    std::string regenDate;
    // Origin, Label, Suite, Codename, Version, Date, NotAutomatic and
    // ButAutomaticUpgrades, those present, as "Name: value" lines.
    std::string aptText;
    // The files the Release lists digests of ("Packages.gz", ...): the
    // variants of the index that exist, as apt reads them.
    std::vector<std::string> listedFiles;

    // The first stanza of `body`; nullopt when it has no field. `fileDate`
    // (an HTTP date: the server's Last-Modified) dates a Release without a
    // Date of its own, such as a component's list (Debian's
    // dists/<suite>/main/binary-<arch>/Release): the file was written when
    // the repository was.
    static std::optional<ZMReleaseFile> parse(std::string_view body, std::string_view fileDate = {});
};
