// The folders' include rules: the composition (Classes/App) is above every
// screen folder and nothing includes it; the shell shares its interface with
// the screens and includes none of them; the core includes no interface.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "Support/TestSupport.h"
#include "VostrelleBuildPaths.h"

namespace {

namespace fs = std::filesystem;

struct Rule {
    const char* folder;                  // under the source tree
    std::vector<const char*> forbidden;  // include prefixes it must not use
};

TEST(Layering, EachFolderIncludesOnlyWhatIsBelowIt) {
    const Rule rules[] = {
        {"Classes/Shell", {"App/", "Browsing/", "Details/", "Online/Screens/"}},
        {"Classes/Browsing", {"App/"}},
        {"Classes/Details", {"App/"}},
        {"Classes/Online", {"App/"}},
        {"Classes/Framework", {"App/", "Shell/", "Browsing/", "Details/", "Online/", "Services/", "UIKit/", "Q"}},
        {"Classes/Online/Services", {"App/", "Shell/", "Browsing/", "Details/", "Online/Screens/", "UIKit/", "Q"}},
        {"Classes/Details/Depictions", {"App/", "Shell/", "Browsing/", "Online/Screens/", "UIKit/", "Q"}},
        {"Platform", {"App/", "Shell/", "Browsing/", "Details/", "Online/"}},
    };
    static const std::regex include(R"(^\s*#\s*include\s*[<"]([^">]+)[">])");
    size_t files = 0;
    for (const auto& rule : rules) {
        for (const auto& entry : fs::recursive_directory_iterator(fs::path(VOSTRELLE_SOURCE_DIR) / rule.folder)) {
            if (!entry.is_regular_file()) continue;
            const auto extension = entry.path().extension();
            if (extension != ".h" && extension != ".cpp") continue;
            ++files;
            const std::string text = TestSupport::readFile(entry.path().string());
            size_t start = 0;
            while (start < text.size()) {
                size_t end = text.find('\n', start);
                if (end == std::string::npos) end = text.size();
                const std::string line = text.substr(start, end - start);
                std::smatch m;
                if (std::regex_search(line, m, include)) {
                    const std::string included = m[1];
                    for (const char* prefix : rule.forbidden)
                        EXPECT_NE(included.rfind(prefix, 0), 0u)
                            << fs::relative(entry.path(), VOSTRELLE_SOURCE_DIR).string() << " includes " << included;
                }
                start = end + 1;
            }
        }
    }
    EXPECT_GT(files, 300u) << "the source tree was not read";
}

}  // namespace
