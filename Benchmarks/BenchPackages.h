#pragma once
// Package records for the database benchmarks: Debian's main index when the
// host has it (through BenchSupport), otherwise synthetic records of the same
// count, so the benchmarks run everywhere at the index's size.
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Database/ZMRPackage.h"
#include "Miscellaneous/ZMControlParser.h"

namespace BenchPackages {

inline constexpr size_t kDebianMainCount = 63440;

inline StringList splitList(std::string_view text) {
    StringList out;
    std::stringstream stream{std::string(text)};
    std::string item;
    while (std::getline(stream, item, ',')) {
        auto b = item.find_first_not_of(' ');
        if (b != std::string::npos) out.push_back(item.substr(b));
    }
    return out;
}

// The index's stanzas as records (no source, dates or states: callers decorate).
inline std::vector<ZMRPackage> fromDebianIndex() {
    std::vector<ZMRPackage> out;
    const std::string& text = BenchSupport::debianIndex();
    ZMControlParser::forEachStanza(text, [&](const ZMControlStanza& stanza) {
        auto package = stanza.field("Package");
        if (!package || package->empty()) return true;
        ZMRPackage p;
        p.identifier = std::string(*package);
        auto text = [&](const char* name) { return std::string(stanza.field(name).value_or(std::string_view())); };
        p.version = text("Version");
        p.category = text("Section");
        p.maintainer = text("Maintainer");
        std::string description = text("Description");
        p.Description = description.substr(0, description.find('\n'));
        p.dependencies = splitList(text("Depends"));
        p.homepage = text("Homepage");
        p.size = text("Size");
        p.installedSize = text("Installed-Size");
        p.architecture = text("Architecture");
        out.push_back(std::move(p));
        return true;
    });
    return out;
}

// Records shaped like an index of `count` packages, the same on every run.
inline std::vector<ZMRPackage> synthetic(size_t count = kDebianMainCount) {
    static const char* words[] = {"lib", "python3", "gtk", "tool", "data", "core", "font", "doc", "dev", "perl",
                                  "node", "ruby", "qt", "xfce", "gnome", "kde", "utils", "server", "client", "common"};
    static const char* sections[] = {"libs", "python", "utils", "devel", "doc", "fonts", "net", "x11", "admin",
                                     "text", "web", "games", "graphics", "sound", "science", "misc"};
    std::mt19937 random(42);
    std::vector<ZMRPackage> out;
    for (size_t i = 0; i < count; ++i) {
        ZMRPackage p;
        p.identifier = std::string(words[random() % 20]) + "-" + words[random() % 20] + "-" + std::to_string(i);
        p.version = "1." + std::to_string(i % 17);
        p.category = sections[random() % 16];
        p.maintainer = "Maintainer " + std::to_string(i % 900) + " <m" + std::to_string(i % 900) + "@example.org>";
        p.Description = "Synthetic package number " + std::to_string(i);
        out.push_back(std::move(p));
    }
    return out;
}

// The index when present, else synthetic records.
inline std::vector<ZMRPackage> records() {
    auto real = fromDebianIndex();
    return real.size() >= 1000 ? real : synthetic();
}

}  // namespace BenchPackages
