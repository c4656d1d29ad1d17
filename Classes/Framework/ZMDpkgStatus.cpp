#include "ZMDpkgStatus.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <utility>

#include "Categories/String+VersionCompare.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMPaths.h"

namespace fs = std::filesystem;

namespace {

bool isValidArchitecture(std::string_view arch) {
    if (arch.empty()) return false;
    for (unsigned char c : arch)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return false;
    return true;
}

enum class ReadOutcome { Ok, Missing, Failed };

ReadOutcome readWholeFile(const std::string& path, std::string& out, std::string& error) {
    error.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return ReadOutcome::Missing;
        error = path + ": " + std::strerror(errno);
        return ReadOutcome::Failed;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        error = path + ": " + std::strerror(S_ISDIR(st.st_mode) ? EISDIR : errno);
        ::close(fd);
        return ReadOutcome::Failed;
    }
    out.clear();
    out.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            error = path + ": " + std::strerror(errno);
            ::close(fd);
            return ReadOutcome::Failed;
        }
        out.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return ReadOutcome::Ok;
}

// Splits "want flag state" on blanks.
void readStatusTriple(std::string_view status, ZMDpkgPackage& p) {
    std::string* parts[] = {&p.want, &p.flag, &p.state};
    size_t i = 0, word = 0;
    while (i < status.size() && word < 3) {
        while (i < status.size() && (status[i] == ' ' || status[i] == '\t')) ++i;
        const size_t start = i;
        while (i < status.size() && status[i] != ' ' && status[i] != '\t' && status[i] != '\n') ++i;
        if (i > start) *parts[word++] = std::string(status.substr(start, i - start));
        if (i < status.size() && status[i] == '\n') break;
    }
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) { return ZMControlParser::namesEqual(a, b); }

// Turns one stanza into a package; false when it has to be left out.
bool makePackage(const ZMControlStanza& stanza, ZMDpkgPackage& p) {
    const auto name = stanza.field("Package");
    if (!name) return false;
    if (!isValidDebianPackageName(*name)) {
        ZMLOG("Skipping dpkg status entry with an invalid package name ({} bytes)", name->size());
        return false;
    }
    p.identifier = std::string(*name);
    p.version = std::string(stanza.field("Version").value_or(""));
    p.architecture = std::string(stanza.field("Architecture").value_or(""));
    readStatusTriple(stanza.field("Status").value_or(""), p);
    p.installed = p.state == "installed";
    static const char* const repairStates[] = {"half-installed", "half-configured", "unpacked", "triggers-awaited",
                                               "triggers-pending"};
    p.needsRepair = p.flag == "reinstreq" ||
                    std::any_of(std::begin(repairStates), std::end(repairStates), [&](const char* s) { return p.state == s; });
    p.held = p.want == "hold";
    p.essential = equalsIgnoringCase(stanza.field("Essential").value_or(""), "yes");

    for (const ZMControlField& f : stanza.fields()) {
        for (std::string_view kept : ZMDpkgStatus::keptFields()) {
            if (!ZMControlParser::namesEqual(f.name, kept)) continue;
            if (p.fields.has(f.name)) break;  // first occurrence wins
            const bool isDescription = ZMControlParser::namesEqual(f.name, "Description");
            p.fields.append(f.name, isDescription ? ZMControlParser::firstLine(f.value) : f.value);
            break;
        }
    }
    return true;
}

void readFileList(const std::string& dpkgDirectory, ZMDpkgPackage& p) {
    const auto path = ZMDpkgStatus::fileListPath(dpkgDirectory, p.identifier, p.architecture);
    if (!path) return;
    std::string text, error;
    if (readWholeFile(*path, text, error) != ReadOutcome::Ok) {
        if (!error.empty()) ZMLOG("Cannot read file list {}", error);
        return;
    }
    p.hasFileList = true;
    p.installedFiles = ZMDpkgStatus::splitFileList(text);
    struct stat st {};
    if (::stat(path->c_str(), &st) == 0) {
        const auto since = std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec);
        p.installDate = std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(since));
    }
}

// dpkg's journal files, oldest first: names made of digits only.
std::vector<std::string> journalFiles(const std::string& dpkgDirectory) {
    std::vector<std::pair<std::string, std::string>> found;  // (name, path)
    std::error_code ec;
    for (fs::directory_iterator it(dpkgDirectory + "/updates", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
        found.emplace_back(name, it->path().string());
    }
    // Numeric order; the names have the same width in practice, compare by length first anyway.
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return a.first.size() != b.first.size() ? a.first.size() < b.first.size() : a.first < b.first;
    });
    std::vector<std::string> paths;
    for (auto& f : found) paths.push_back(std::move(f.second));
    return paths;
}

}  // namespace

const std::vector<std::string_view>& ZMDpkgStatus::keptFields() {
    static const std::vector<std::string_view> names = {
        "Name",     "Maintainer", "Author",         "Description",   "Section",  "Depends",        "Pre-Depends",
        "Conflicts", "Breaks",    "Replaces",       "Provides",      "Depiction", "SileoDepiction", "Icon",
        "Homepage", "Installed-Size", "Priority",   "Tag",           "Source",   "Multi-Arch"};
    return names;
}

std::vector<std::string> ZMDpkgStatus::splitFileList(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t nl = text.find('\n', start);
        if (nl == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    return lines;
}

std::optional<std::string> ZMDpkgStatus::fileListPath(const std::string& dpkgDirectory, std::string_view identifier,
                                                      std::string_view architecture) {
    if (!isValidDebianPackageName(identifier)) return std::nullopt;
    const std::string base = dpkgDirectory + "/info/" + std::string(identifier);
    std::error_code ec;
    if (isValidArchitecture(architecture)) {
        std::string qualified = base + ":" + std::string(architecture) + ".list";
        if (fs::is_regular_file(qualified, ec)) return qualified;
    }
    std::string plain = base + ".list";
    if (fs::is_regular_file(plain, ec)) return plain;
    return std::nullopt;
}

ZMResult<ZMDpkgStatusScan> ZMDpkgStatus::read() { return read(ZMPaths::dpkgDirectory()); }

ZMResult<ZMDpkgStatusScan> ZMDpkgStatus::read(const std::string& dpkgDirectory) {
    ZMDpkgStatusScan scan;
    std::map<std::pair<std::string, std::string>, size_t> index;  // (name, arch) -> position
    std::string error;

    auto take = [&](std::string_view text) {
        ZMControlParser::forEachStanza(text, [&](const ZMControlStanza& stanza) {
            ZMDpkgPackage p;
            if (!makePackage(stanza, p)) {
                ++scan.skippedStanzas;
                return true;
            }
            auto key = std::make_pair(p.identifier, p.architecture);
            if (auto it = index.find(key); it != index.end()) {
                scan.packages[it->second] = std::move(p);
            } else {
                index.emplace(std::move(key), scan.packages.size());
                scan.packages.push_back(std::move(p));
            }
            return true;
        });
    };

    std::string text;
    switch (readWholeFile(dpkgDirectory + "/status", text, error)) {
        case ReadOutcome::Failed:
            ZMLOG("Cannot read the dpkg status: {}", error);
            return ZMResult<ZMDpkgStatusScan>::failure(ZMError::make(ZMError::Unknown, error));
        case ReadOutcome::Missing:
            ZMLOG("No dpkg status file in {}", dpkgDirectory);
            break;
        case ReadOutcome::Ok:
            take(text);
            break;
    }
    for (const std::string& journal : journalFiles(dpkgDirectory)) {
        std::string update;
        if (readWholeFile(journal, update, error) == ReadOutcome::Ok) take(update);
        else if (!error.empty()) ZMLOG("Cannot read dpkg journal: {}", error);
    }
    for (ZMDpkgPackage& p : scan.packages) readFileList(dpkgDirectory, p);
    return ZMResult<ZMDpkgStatusScan>::success(std::move(scan));
}
