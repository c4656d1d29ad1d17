#include "ZMPackageDescriptionReader.h"

#include <fstream>
#include <vector>

#include "Database/ZMRSources.h"
#include "Miscellaneous/ZMControlParser.h"

namespace {
constexpr size_t kReadPiece = 1 << 20;
}

std::optional<std::string> ZMPackageDescriptionReader::fullDescription(const std::string& sourceLocation,
                                                                       const std::string& identifier,
                                                                       const std::string& version) {
    if (sourceLocation.empty() || identifier.empty()) return std::nullopt;
    return fullDescriptionInFile(ZMRSources::packagesFilePath(sourceLocation), identifier, version);
}

std::optional<std::string> ZMPackageDescriptionReader::fullDescriptionInFile(const std::string& path,
                                                                             const std::string& identifier,
                                                                             const std::string& version) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::optional<std::string> exact, other;
    ZMControlParser parser([&](const ZMControlStanza& stanza) {
        if (stanza.field("Package") != std::string_view(identifier)) return true;
        const auto description = stanza.field("Description");
        if (!description) return true;
        if (version.empty() || stanza.field("Version") == std::string_view(version)) {
            exact = displayText(*description);
            return false;  // found: the rest of the file is not read
        }
        if (!other) other = displayText(*description);
        return true;
    });
    std::vector<char> piece(kReadPiece);
    while (in) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        const auto got = static_cast<size_t>(in.gcount());
        if (got == 0 || !parser.feed(std::string_view(piece.data(), got))) break;
    }
    if (!exact) parser.finish();
    return exact ? exact : other;
}

std::string ZMPackageDescriptionReader::displayText(std::string_view raw) {
    const size_t newline = raw.find('\n');
    std::string out(ZMControlParser::firstLine(raw));
    if (newline == std::string_view::npos) return out;
    std::string body;
    bool inParagraph = false;  // the last line written is paragraph text that the next one continues
    std::string_view rest = raw.substr(newline + 1);
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
        if (line == ".") {
            // A verbatim line already ended its own line: one blank line, not two.
            body += !body.empty() && body.back() == '\n' ? "\n" : "\n\n";
            inParagraph = false;
        } else if (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            if (inParagraph) body += '\n';
            body.append(line);
            body += '\n';
            inParagraph = false;
        } else {
            if (inParagraph) body += ' ';
            body.append(line);
            inParagraph = true;
        }
    }
    while (!body.empty() && (body.back() == '\n' || body.back() == ' ')) body.pop_back();
    if (!body.empty()) out += "\n\n" + body;
    return out;
}
