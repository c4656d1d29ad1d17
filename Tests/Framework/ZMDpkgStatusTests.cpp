#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "Miscellaneous/ZMPaths.h"
#include "Support/TestSupport.h"
#include "ZMDpkgStatus.h"

namespace {

const char* kStatus =
    "Package: com.example.alpha\n"
    "Status: install ok installed\n"
    "Priority: optional\n"
    "Section: Tweaks\n"
    "Installed-Size: 120\n"
    "Maintainer: Jane Roe <jane@example.com>\n"
    "Architecture: iphoneos-arm\n"
    "Version: 1.0-1\n"
    "Depends: firmware (>= 12.0), mobilesubstrate\n"
    "Conflicts: com.example.old\n"
    "Filename: pool/alpha.deb\n"
    "Description: Does alpha things\n"
    " A longer explanation.\n"
    " .\n"
    " Second paragraph.\n"
    "Name: Alpha\n"
    "Depiction: https://example.com/alpha\n"
    "Icon: file:///Library/alpha.png\n"
    "\n"
    "Package: com.example.held\n"
    "Status: hold ok installed\n"
    "Essential: Yes\n"
    "Version: 2.0\n"
    "Architecture: all\n"
    "\n"
    "Package: libfoo\n"
    "Status: install ok installed\n"
    "Multi-Arch: same\n"
    "Architecture: amd64\n"
    "Version: 3.1-2\n"
    "\n"
    "Package: com.example.half\n"
    "Status: install reinstreq half-installed\n"
    "Version: 0.1\n"
    "\n"
    "Package: com.example.unpacked\n"
    "Status: install ok unpacked\n"
    "Version: 0.2\n"
    "\n"
    "Package: com.example.trig\n"
    "Status: install ok triggers-pending\n"
    "Version: 0.3\n"
    "\n"
    "Package: com.example.config\n"
    "Status: deinstall ok config-files\n"
    "Version: 0.4\n"
    "\n"
    "Package: com.example.nolist\n"
    "Status: install ok installed\n"
    "Version: 5\n"
    "\n"
    "Package: com.example.short\n"
    "Status: install ok\n"
    "\n"
    "Version: 9.9\n"
    "Status: install ok installed\n"
    "\n"
    "Package: Bad Name;rm -rf /\n"
    "Status: install ok installed\n"
    "\n"
    "Package: ../../../etc/passwd\n"
    "Status: install ok installed\n"
    "\n"
    "\x01\x02 garbage \xff\xfe no colon\n"
    "Package: com.example.last\n"
    "Status: install ok installed\n"
    "Version: 1";  // no newline at the end

const ZMDpkgPackage* find(const ZMDpkgStatusScan& scan, const std::string& id) {
    auto it = std::find_if(scan.packages.begin(), scan.packages.end(), [&](const auto& p) { return p.identifier == id; });
    return it == scan.packages.end() ? nullptr : &*it;
}

void setMtime(const std::string& path, time_t seconds) {
    timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

}  // namespace

TEST(ZMDpkgStatus, ReadsStatesFilesAndFields) {
    TestSupport::IsolatedEnvironment env;
    const std::string dpkg = ZMPaths::dpkgDirectory();
    ASSERT_EQ(dpkg, env.targetRoot() + "/var/lib/dpkg");
    TestSupport::writeFile(dpkg + "/status", kStatus);
    TestSupport::writeFile(dpkg + "/info/com.example.alpha.list", "/.\n/Library\n/Library/alpha.dylib\n");
    setMtime(dpkg + "/info/com.example.alpha.list", 1700000000);
    TestSupport::writeFile(dpkg + "/info/com.example.held.list", "/.\n/usr\n\n");
    TestSupport::writeFile(dpkg + "/info/libfoo:amd64.list", "/usr/lib/libfoo.so.3");
    TestSupport::writeFile(dpkg + "/info/libfoo.list", "/wrong\n");
    TestSupport::writeFile(dpkg + "/info/com.example.last.list", "");

    const auto result = ZMDpkgStatus::read();
    ASSERT_TRUE(result.ok());
    const ZMDpkgStatusScan& scan = *result.value;
    // No Package, a name with spaces and shell characters, a path: left out.
    EXPECT_EQ(scan.skippedStanzas, 3u);
    std::vector<std::string> ids;
    for (const auto& p : scan.packages) ids.push_back(p.identifier);
    EXPECT_EQ(ids, (std::vector<std::string>{"com.example.alpha", "com.example.held", "libfoo", "com.example.half",
                                             "com.example.unpacked", "com.example.trig", "com.example.config",
                                             "com.example.nolist", "com.example.short", "com.example.last"}));

    const auto* alpha = find(scan, "com.example.alpha");
    ASSERT_NE(alpha, nullptr);
    EXPECT_EQ(alpha->version, "1.0-1");
    EXPECT_EQ(alpha->architecture, "iphoneos-arm");
    EXPECT_EQ(alpha->want + "/" + alpha->flag + "/" + alpha->state, "install/ok/installed");
    EXPECT_TRUE(alpha->installed);
    EXPECT_FALSE(alpha->needsRepair || alpha->held || alpha->essential);
    EXPECT_EQ(alpha->installedFiles, (std::vector<std::string>{"/.", "/Library", "/Library/alpha.dylib"}));
    ASSERT_TRUE(alpha->installDate.has_value());
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(alpha->installDate->time_since_epoch()).count(), 1700000000);
    EXPECT_EQ(alpha->fields.field("Description"), "Does alpha things");
    EXPECT_EQ(alpha->fields.field("name"), "Alpha");
    EXPECT_EQ(alpha->fields.field("Maintainer"), "Jane Roe <jane@example.com>");
    EXPECT_EQ(alpha->fields.field("Depends"), "firmware (>= 12.0), mobilesubstrate");
    EXPECT_EQ(alpha->fields.field("Conflicts"), "com.example.old");
    EXPECT_EQ(alpha->fields.field("Depiction"), "https://example.com/alpha");
    EXPECT_EQ(alpha->fields.field("Icon"), "file:///Library/alpha.png");
    EXPECT_EQ(alpha->fields.field("Section"), "Tweaks");
    EXPECT_FALSE(alpha->fields.has("Filename"));  // not one of the kept fields
    EXPECT_FALSE(alpha->fields.has("Status"));

    const auto* held = find(scan, "com.example.held");
    EXPECT_TRUE(held->held && held->installed && held->essential);
    EXPECT_EQ(held->installedFiles, (std::vector<std::string>{"/.", "/usr", ""}));  // the empty last line stays

    const auto* foo = find(scan, "libfoo");
    EXPECT_EQ(foo->installedFiles, (std::vector<std::string>{"/usr/lib/libfoo.so.3"}));  // the :amd64 list wins

    for (const char* id : {"com.example.half", "com.example.unpacked", "com.example.trig"}) {
        EXPECT_TRUE(find(scan, id)->needsRepair) << id;
        EXPECT_FALSE(find(scan, id)->installed) << id;
    }
    EXPECT_EQ(find(scan, "com.example.half")->flag, "reinstreq");
    const auto* config = find(scan, "com.example.config");
    EXPECT_FALSE(config->installed || config->needsRepair);

    const auto* nolist = find(scan, "com.example.nolist");
    EXPECT_TRUE(nolist->installed);
    EXPECT_FALSE(nolist->hasFileList);
    EXPECT_TRUE(nolist->installedFiles.empty());
    EXPECT_FALSE(nolist->installDate.has_value());

    const auto* shortStatus = find(scan, "com.example.short");
    EXPECT_EQ(shortStatus->state, "");
    EXPECT_FALSE(shortStatus->installed || shortStatus->needsRepair);

    const auto* last = find(scan, "com.example.last");
    EXPECT_TRUE(last->installed && last->hasFileList);
    EXPECT_TRUE(last->installedFiles.empty());
    EXPECT_EQ(last->version, "1");
}

TEST(ZMDpkgStatus, JournalEntriesReplaceStatusEntries) {
    TestSupport::IsolatedEnvironment env;
    const std::string dpkg = ZMPaths::dpkgDirectory();
    TestSupport::writeFile(dpkg + "/status",
                           "Package: com.example.a\nStatus: install ok unpacked\nVersion: 1\n\n"
                           "Package: com.example.b\nStatus: install ok installed\nVersion: 1\n");
    // dpkg was interrupted: the newer state sits in its journal, oldest first.
    TestSupport::writeFile(dpkg + "/updates/0001", "Package: com.example.a\nStatus: install ok half-configured\nVersion: 2\n");
    TestSupport::writeFile(dpkg + "/updates/0002", "Package: com.example.a\nStatus: install ok installed\nVersion: 2\n");
    TestSupport::writeFile(dpkg + "/updates/tmp.i", "Package: com.example.a\nStatus: purge ok not-installed\n");
    TestSupport::writeFile(dpkg + "/updates/0003", "Package: com.example.c\nStatus: install ok installed\nVersion: 3\n");

    const auto result = ZMDpkgStatus::read();
    ASSERT_TRUE(result.ok());
    const auto& pkgs = result.value->packages;
    ASSERT_EQ(pkgs.size(), 3u);
    EXPECT_EQ(pkgs[0].identifier, "com.example.a");
    EXPECT_EQ(pkgs[0].version, "2");
    EXPECT_TRUE(pkgs[0].installed);
    EXPECT_FALSE(pkgs[0].needsRepair);
    EXPECT_EQ(pkgs[2].identifier, "com.example.c");
}

TEST(ZMDpkgStatus, MissingAndUnreadableDatabases) {
    TestSupport::IsolatedEnvironment env;
    const auto empty = ZMDpkgStatus::read();
    ASSERT_TRUE(empty.ok());
    EXPECT_TRUE(empty.value->packages.empty());

    std::filesystem::create_directories(ZMPaths::dpkgDirectory() + "/status");  // not a file
    const auto broken = ZMDpkgStatus::read();
    EXPECT_FALSE(broken.ok());
    ASSERT_TRUE(broken.error.has_value());
    EXPECT_NE(broken.error->detail.find("status"), std::string::npos);
}

TEST(ZMDpkgStatus, FileListPathsStayInsideTheInfoDirectory) {
    TestSupport::TempDir dir;
    TestSupport::writeFile(dir.file("info/com.example.a.list"), "/x\n");
    TestSupport::writeFile(dir.file("info/com.example.a:arm64.list"), "/y\n");
    EXPECT_EQ(ZMDpkgStatus::fileListPath(dir.path(), "com.example.a", "arm64"), dir.file("info/com.example.a:arm64.list"));
    EXPECT_EQ(ZMDpkgStatus::fileListPath(dir.path(), "com.example.a", "amd64"), dir.file("info/com.example.a.list"));
    EXPECT_EQ(ZMDpkgStatus::fileListPath(dir.path(), "com.example.a", "../x"), dir.file("info/com.example.a.list"));
    EXPECT_FALSE(ZMDpkgStatus::fileListPath(dir.path(), "../info/com.example.a", "").has_value());
    EXPECT_FALSE(ZMDpkgStatus::fileListPath(dir.path(), "com.example.missing", "").has_value());

    EXPECT_EQ(ZMDpkgStatus::splitFileList(""), std::vector<std::string>{});
    EXPECT_EQ(ZMDpkgStatus::splitFileList("a"), std::vector<std::string>{"a"});
    EXPECT_EQ(ZMDpkgStatus::splitFileList("a\nb\n"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(ZMDpkgStatus::splitFileList("\n"), std::vector<std::string>{""});
}
