#include "ZMAPTSourcesImport.h"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <set>
#include <sstream>

#include "Database/ZMRSources.h"
#include "Miscellaneous/ZMLog.h"

namespace {

std::mutex gMutex;
std::string gEtcDirectory = "/etc/apt";

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string word;
    while (in >> word) out.push_back(word);
    return out;
}

std::string trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return {};
    size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// One entry, if this program can follow it.
void consider(const std::string& uri, const std::string& suite, const std::vector<std::string>& components,
              const std::string& file, std::vector<ZMAPTImportedSource>& out) {
    ZMAPTImportedSource entry;
    if (suite == "./" && components.empty()) {
        // flat: the indexes sit at the location itself
    } else if (components.size() == 1 && !suite.empty() && suite.back() != '/') {
        entry.component = components.front();
    } else {
        return;  // several components, or a flat suite in a subdirectory
    }
    auto normalized = ZMRSources::normalizeSourceLocation(uri);
    if (!normalized.ok()) return;  // cdrom:, file:, mirror+http: and the like
    entry.location = normalized.location;
    entry.suite = suite;
    entry.file = file;
    out.push_back(std::move(entry));
}

bool readFile(const std::filesystem::path& path, std::string& out) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char buffer[8192];
    size_t n;
    out.clear();
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        out.append(buffer, n);
        if (out.size() > (4u << 20)) break;  // no sources file is this large
    }
    std::fclose(f);
    return true;
}

}  // namespace

std::string ZMAPTSourcesImport::etcDirectory() {
    std::lock_guard lock(gMutex);
    return gEtcDirectory;
}

void ZMAPTSourcesImport::setEtcDirectory(const std::string& path) {
    std::lock_guard lock(gMutex);
    gEtcDirectory = path;
}

std::vector<ZMAPTImportedSource> ZMAPTSourcesImport::parseOneLineFormat(const std::string& text,
                                                                       const std::string& file) {
    std::vector<ZMAPTImportedSource> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        // The options in brackets ("[arch=amd64 signed-by=...]") say nothing about the location.
        if (auto open = line.find('['); open != std::string::npos) {
            auto close = line.find(']', open);
            if (close == std::string::npos) continue;  // broken line: apt refuses it too
            line.erase(open, close - open + 1);
        }
        auto fields = words(line);
        if (fields.size() < 3 || fields[0] != "deb") continue;
        std::vector<std::string> components(fields.begin() + 3, fields.end());
        consider(fields[1], fields[2], components, file, out);
    }
    return out;
}

std::vector<ZMAPTImportedSource> ZMAPTSourcesImport::parseDeb822(const std::string& text, const std::string& file) {
    std::vector<ZMAPTImportedSource> out;
    std::vector<std::pair<std::string, std::string>> fields;
    auto flush = [&] {
        if (fields.empty()) return;
        std::string types, uris, suites, components, enabled = "yes";
        for (auto& [name, value] : fields) {
            std::string key = lowercase(name);
            if (key == "types") types = value;
            else if (key == "uris") uris = value;
            else if (key == "suites") suites = value;
            else if (key == "components") components = value;
            else if (key == "enabled") enabled = lowercase(trim(value));
        }
        fields.clear();
        if (enabled == "no" || enabled == "false" || enabled == "0") return;
        auto typeList = words(types);
        if (std::find(typeList.begin(), typeList.end(), "deb") == typeList.end()) return;
        auto componentList = words(components);
        for (const auto& uri : words(uris))
            for (const auto& suite : words(suites)) consider(uri, suite, componentList, file, out);
    };
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.front() == '#') continue;
        if (trim(line).empty()) {
            flush();
            continue;
        }
        if ((line.front() == ' ' || line.front() == '\t')) {
            // A continuation line adds to the previous field's value.
            if (!fields.empty()) fields.back().second += " " + trim(line);
            continue;
        }
        auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        fields.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
    }
    flush();
    return out;
}

std::vector<ZMAPTImportedSource> ZMAPTSourcesImport::importableSources() {
    namespace fs = std::filesystem;
    const fs::path etc = etcDirectory();
    std::vector<ZMAPTImportedSource> all;
    std::string text;
    if (readFile(etc / "sources.list", text)) {
        auto found = parseOneLineFormat(text, (etc / "sources.list").string());
        all.insert(all.end(), found.begin(), found.end());
    }
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(etc / "sources.list.d", ec), end; !ec && it != end; it.increment(ec)) {
        const auto& path = it->path();
        auto extension = path.extension().string();
        if ((extension == ".list" || extension == ".sources") && it->is_regular_file(ec)) files.push_back(path);
    }
    std::sort(files.begin(), files.end());
    for (const auto& path : files) {
        if (!readFile(path, text)) {
            ZMLOG("cannot read {}", path.string());
            continue;
        }
        auto found = path.extension() == ".list" ? parseOneLineFormat(text, path.string())
                                                 : parseDeb822(text, path.string());
        all.insert(all.end(), found.begin(), found.end());
    }
    // Once per location: the program keeps one source per location. The
    // refresh reads flat repositories only: an entry with a suite and a
    // component would be added at its archive root and could never refresh.
    std::set<std::string> seen;
    std::vector<ZMAPTImportedSource> out;
    for (auto& entry : all) {
        if (!entry.isFlat()) {
            ZMLOG("not importing {} {} {}: only flat repositories can be followed", entry.location, entry.suite,
                  entry.component);
            continue;
        }
        if (seen.insert(entry.location).second) out.push_back(std::move(entry));
    }
    return out;
}

std::vector<std::string> ZMAPTSourcesImport::importableLocations() {
    std::vector<std::string> out;
    for (const auto& entry : importableSources()) out.push_back(entry.location);
    return out;
}
