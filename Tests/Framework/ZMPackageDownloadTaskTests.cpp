// One archive downloaded from a loopback server and checked against what its
// index says: size and every checksum given, in either case of hex digits.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "Categories/Data+Hashes.h"
#include "Support/FlatRepository.h"
#include "Support/TestSupport.h"
#include "ZMAPTManager.h"
#include "ZMPackageDownloadTask.h"
#include "ZMPipelineManager.h"

namespace fs = std::filesystem;

namespace {

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    return s;
}

TEST(PackageDownloadTask, StoresTheArchiveOnlyWhenSizeAndEveryChecksumMatch) {
    TestSupport::IsolatedEnvironment env;
    TestSupport::TempDir served;
    std::string body;
    for (int i = 0; i < 5000; ++i) body += static_cast<char>(i * 31 % 251);
    TestSupport::writeFile(served.file("pool/blob.deb"), body);
    FlatRepository::FileServer server(served.path());
    const std::string sha = DataHashes::sha256(body), md5 = DataHashes::md5(body);
    const std::string wrongSha(64, 'a'), wrongMd5(32, 'b');
    const std::string size = std::to_string(body.size());

    struct Case {
        const char* why;
        std::string sha256, md5sum, size;
        const char* refusal;  // nullptr: stored
    };
    const Case cases[] = {
        {"both right", sha, md5, size, nullptr},
        {"SHA-256 only", sha, "", size, nullptr},
        {"MD5 only", "", md5, "", nullptr},
        {"upper-case SHA-256", upper(sha), "", size, nullptr},
        {"upper-case MD5 only", "", upper(md5), size, nullptr},
        {"SHA-256 wrong", wrongSha, "", size, "SHA-256 mismatch"},
        {"MD5 only, wrong", "", wrongMd5, size, "MD5 mismatch"},
        {"SHA-256 right, MD5 wrong", sha, wrongMd5, size, "MD5 mismatch"},
        {"SHA-256 wrong, MD5 right", wrongSha, md5, size, "SHA-256 mismatch"},
        {"size one byte more", sha, md5, std::to_string(body.size() + 1), "Size mismatch"},
        {"no checksum", "", "", size, "gives no checksum"},
    };
    int n = 0;
    for (const auto& c : cases) {
        ZMPackageArchive archive;
        archive.identifier = "com.example.blob";
        archive.version = std::to_string(++n) + ".0";  // one task identifier per case
        archive.architecture = "all";
        archive.sourceLocation = server.url();
        archive.fileName = "pool/blob.deb";
        archive.sha256 = c.sha256;
        archive.md5sum = c.md5sum;
        archive.size = c.size;
        std::optional<ZMError> failure;
        auto batch = ZMDownloadBatch::make(nullptr, [&](const ZMError& e) { failure = e; });
        auto task = ZMPackageDownloadTask::make(archive, batch);
        batch->add(task);
        ASSERT_TRUE(batch->start()) << c.why;
        ASSERT_TRUE(TestSupport::waitUntil([] { return ZMPipelineManager::sharedManager().liveTaskCount() == 0; }))
            << c.why;

        const std::string stored = ZMPackageDownloadTask::destinationPath(archive);
        const std::string partial = fs::path(stored).parent_path().string() + "/partial/" + archive.archiveFileName();
        EXPECT_FALSE(fs::exists(partial)) << c.why;
        if (!c.refusal) {
            EXPECT_FALSE(failure) << c.why << ": " << failure->detail;
            EXPECT_EQ(TestSupport::readFile(stored), body) << c.why;
            continue;
        }
        ASSERT_TRUE(failure) << c.why << " was stored";
        EXPECT_NE(failure->detail.find(c.refusal), std::string::npos) << c.why << ": " << failure->detail;
        EXPECT_FALSE(fs::exists(stored)) << c.why;
    }
    // The case without a checksum was refused before any request.
    EXPECT_EQ(server.count("blob.deb"), std::size(cases) - 1);
}

}  // namespace
