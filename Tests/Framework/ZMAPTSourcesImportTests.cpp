#include <gtest/gtest.h>

#include <filesystem>

#include "Support/TestSupport.h"
#include "ZMAPTSourcesImport.h"

namespace {

std::vector<std::string> locations(const std::vector<ZMAPTImportedSource>& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries) out.push_back(e.location);
    return out;
}

// Points the import at a directory of our own for the test's lifetime.
class EtcDirectory {
public:
    EtcDirectory() {
        previous_ = ZMAPTSourcesImport::etcDirectory();
        std::filesystem::create_directories(dir_.path() + "/sources.list.d");
        ZMAPTSourcesImport::setEtcDirectory(dir_.path());
    }
    ~EtcDirectory() { ZMAPTSourcesImport::setEtcDirectory(previous_); }
    void write(const std::string& relative, const std::string& text) const {
        TestSupport::writeFile(dir_.path() + "/" + relative, text);
    }

private:
    TestSupport::TempDir dir_;
    std::string previous_;
};

}  // namespace

TEST(ZMAPTSourcesImport, OneLineFormatKeepsFlatAndSingleComponentEntries) {
    const std::string text = R"(# the host's sources
deb http://deb.debian.org/debian bookworm main contrib non-free-firmware
deb-src http://deb.debian.org/debian bookworm main
deb https://repo.example.org/ ./
   deb [trusted=yes arch=amd64] http://127.0.0.1:8080/repo ./   # flat, with options
deb [ signed-by=/usr/share/keyrings/x.gpg ] https://apt.example.com/debian stable main
deb cdrom:[Debian GNU/Linux 12]/ bookworm main
deb file:///srv/local ./
deb ftp://ftp.example.org/debian stable main
deb https://sub.example.org/ sub/
deb https://broken.example.org/ ./ main
deb [arch=amd64 https://unterminated.example.org/ stable main
deb http://security.debian.org/debian-security bookworm-security main
#deb https://commented.example.org/ ./
deb mirror+http://mirror.example.org/ stable main
deb https://too-short.example.org/
)";
    auto entries = ZMAPTSourcesImport::parseOneLineFormat(text, "sources.list");
    EXPECT_EQ(locations(entries), (std::vector<std::string>{"https://repo.example.org/", "http://127.0.0.1:8080/repo/",
                                                            "https://apt.example.com/debian/",
                                                            "http://security.debian.org/debian-security/"}));
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_TRUE(entries[0].isFlat());
    EXPECT_EQ(entries[0].suite, "./");
    EXPECT_EQ(entries[2].suite, "stable");
    EXPECT_EQ(entries[2].component, "main");
    EXPECT_EQ(entries[2].file, "sources.list");
}

TEST(ZMAPTSourcesImport, Deb822Stanzas) {
    const std::string text = R"(Types: deb deb-src
URIs: https://deb.example.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/example.gpg

# a flat one, with two addresses
Types: deb
URIs: https://flat.example.org/a
 http://flat.example.org/b
Suites: ./

Types: deb
URIs: https://disabled.example.org/
Suites: ./
Enabled: no

Types: deb-src
URIs: https://sources-only.example.org/
Suites: ./

Types: deb
URIs: https://many.example.org/
Suites: stable
Components: main contrib
)";
    auto entries = ZMAPTSourcesImport::parseDeb822(text);
    // The first stanza gives one entry per suite, for the same location.
    EXPECT_EQ(locations(entries),
              (std::vector<std::string>{"https://deb.example.org/debian/", "https://deb.example.org/debian/",
                                        "https://flat.example.org/a/", "http://flat.example.org/b/"}));
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[1].suite, "bookworm-updates");
    EXPECT_TRUE(entries[2].isFlat());
}

TEST(ZMAPTSourcesImport, ReadsTheDirectoryInOrderAndListsEachLocationOnce) {
    EtcDirectory etc;
    etc.write("sources.list", "deb https://one.example.org/ ./\ndeb https://shared.example.org/ stable main\n"
                              "deb https://dists.example.org/debian bookworm main\n");
    etc.write("sources.list.d/b.list", "deb https://three.example.org/ ./\n");
    etc.write("sources.list.d/a.sources", "Types: deb\nURIs: https://two.example.org/\nSuites: ./\n\n"
                                          "Types: deb\nURIs: https://shared.example.org\nSuites: ./\n");
    etc.write("sources.list.d/c.list.save", "deb https://ignored.example.org/ ./\n");
    etc.write("sources.list.d/d.disabled", "deb https://ignored2.example.org/ ./\n");
    std::filesystem::create_directories(ZMAPTSourcesImport::etcDirectory() + "/sources.list.d/e.list");  // a directory

    EXPECT_EQ(ZMAPTSourcesImport::importableLocations(),
              (std::vector<std::string>{"https://one.example.org/", "https://two.example.org/",
                                        "https://shared.example.org/", "https://three.example.org/"}))
        << "only flat entries can be refreshed; a location listed both ways comes in once";
}

TEST(ZMAPTSourcesImport, NothingToImport) {
    EtcDirectory etc;
    EXPECT_TRUE(ZMAPTSourcesImport::importableSources().empty());
    ZMAPTSourcesImport::setEtcDirectory("/nonexistent/apt");
    EXPECT_TRUE(ZMAPTSourcesImport::importableSources().empty());
}
