#include "ZMReleaseFile.h"

#include <curl/curl.h>

#include <chrono>

#include "Categories/String+ZemtrixExtensions.h"
#include "Miscellaneous/ZMControlParser.h"

namespace {

// Release "Date" (RFC 2822) as ISO-8601 UTC text; "" when unreadable.
std::string isoDate(const std::string& date) {
    if (date.empty()) return {};
    const time_t t = curl_getdate(date.c_str(), nullptr);
    if (t == -1) return {};
    return ZemtrixExtensions::iso8601String(std::chrono::system_clock::from_time_t(t));
}

}  // namespace

std::optional<ZMReleaseFile> ZMReleaseFile::parse(std::string_view body, std::string_view fileDate) {
    std::optional<ZMReleaseFile> out;
    ZMControlParser::forEachStanza(body, [&](const ZMControlStanza& stanza) {
        ZMReleaseFile release;
        auto line = [&](std::string_view name, size_t limit) {
            auto value = stanza.field(name);
            return value ? ZemtrixExtensions::plainTextLine(*value, limit) : std::string();
        };
        release.name = line("Origin", kMaximumNameCharacters);
        if (release.name.empty()) release.name = line("Label", kMaximumNameCharacters);
        if (stanza.has("Description")) release.description = line("Description", kMaximumDescriptionCharacters);
        release.maintainer = line("Maintainer", kMaximumNameCharacters);
        release.regenDate = isoDate(line("Date", kMaximumNameCharacters));
        if (release.regenDate.empty())
            release.regenDate = isoDate(ZemtrixExtensions::plainTextLine(fileDate, kMaximumNameCharacters));
        for (const char* field : {"Origin", "Label", "Suite", "Codename", "Version", "Date", "NotAutomatic",
                                  "ButAutomaticUpgrades"}) {
            const std::string value = line(field, kMaximumNameCharacters);
            if (!value.empty()) release.aptText += std::string(field) + ": " + value + "\n";
        }
        for (const char* field : {"SHA256", "SHA512", "SHA1", "MD5Sum"}) {
            auto value = stanza.field(field);
            if (!value) continue;
            // One file a line: "<digest> <size> <name>".
            size_t start = 0;
            while (start < value->size()) {
                size_t end = value->find('\n', start);
                if (end == std::string_view::npos) end = value->size();
                const std::string_view line = value->substr(start, end - start);
                const size_t name = line.find_last_of(" \t");
                if (name != std::string_view::npos && name + 1 < line.size() && line.size() < 1024)
                    release.listedFiles.emplace_back(line.substr(name + 1));
                start = end + 1;
            }
            break;
        }
        out = std::move(release);
        return false;  // the first stanza is the Release
    });
    return out;
}
