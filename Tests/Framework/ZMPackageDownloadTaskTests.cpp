// One archive downloaded from a loopback server and checked against what its
// index says: size and every checksum given, in either case of hex digits;
// and a paid one whose store's one-time address fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "Categories/Data+Hashes.h"
#include "Database/ZMRPackage.h"
#include "Realm/Realm.h"
#include "Support/FailingStore.h"
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

// The store's address carries a ticket in its path: a failure names the
// host only, in the error and in the log. A refusal (4xx) takes the package
// out of the queue; anything else leaves it there for another try. A
// refusal the database cannot record still ends the run, the package queued.
TEST(PackageDownloadTask, AFailedStoreAddressNamesItsHostOnly) {
    FailingStore::install();  // before this test's database is opened
    TestSupport::IsolatedEnvironment env;
    TestSupport::TempDir served;
    FlatRepository::FileServer store(served.path());
    int status = 200;
    store.route("pay/download/tkt-9f3a", [&](const httplib::Request&, httplib::Response& res) { res.status = status; });
    struct Case {
        const char* why;
        int status;         // what the store answers; 0: nobody listens
        const char* words;  // in the message the user reads
        bool leavesQueue;
        bool databaseFails = false;
    };
    const Case cases[] = {
        {"refused", 403, "refused to hand over", true},
        {"a spent ticket", 404, "refused to hand over", true},
        {"the store failing", 503, "127.0.0.1", false},
        {"nobody listening", 0, "127.0.0.1:1", false},
        {"refused on a full disk", 403, "refused to hand over", false, true},
    };
    int n = 0;
    for (const auto& c : cases) {
        ZMPackageArchive archive;
        archive.identifier = "com.example.paid";
        archive.name = "Paid Tweak";
        archive.version = std::to_string(++n) + ".0";
        archive.architecture = "all";
        archive.sourceLocation = store.url("repo/");
        archive.fileName = "pool/paid.deb";
        archive.sha256 = std::string(64, 'a');
        archive.isPaid = true;
        {
            auto realm = Realm::defaultRealm();
            realm->transactionWithBlock([&] {
                ZMRPackage p;
                p.identifier = archive.identifier, p.name = archive.name, p.isInTheQueue = true;
                realm->addOrUpdate(p);
            });
        }
        status = c.status;
        const std::string address = c.status ? store.url("pay/download/tkt-9f3a") : "http://127.0.0.1:1/pay/download/tkt-9f3a";
        ZMPackageDownloadTask::setPaidDownloadHandler([&](const ZMPackageArchive&, auto completion) { completion(address, std::nullopt); });
        std::optional<ZMError> failure;
        auto batch = ZMDownloadBatch::make(nullptr, [&](const ZMError& e) { failure = e; });
        auto task = ZMPackageDownloadTask::make(archive, batch);
        batch->add(task);
        testing::internal::CaptureStderr();
        std::optional<FailingStore::Scope> full;
        if (c.databaseFails) full.emplace(Realm::defaultRealm()->path(), FailingStore::Fault::DiskFull);
        ASSERT_TRUE(batch->start()) << c.why;
        TestSupport::waitUntil([] { return ZMPipelineManager::sharedManager().liveTaskCount() == 0; });
        full.reset();
        const std::string log = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(failure) << c.why;
        const std::string message = failure->localizedDescription();
        EXPECT_NE(message.find(c.words), std::string::npos) << c.why << ": " << message;
        EXPECT_EQ(message.find("taken out of the queue") != std::string::npos, c.leavesQueue) << c.why << ": " << message;
        for (const std::string& text : {message, failure->detail, log})
            EXPECT_EQ(text.find("tkt-9f3a"), std::string::npos) << c.why << ": " << text;
        EXPECT_EQ(ZMRPackage::objectForPrimaryKey(archive.identifier)->isInTheQueue.value_or(false), !c.leavesQueue) << c.why;
    }
    ZMPackageDownloadTask::setPaidDownloadHandler(nullptr);
}

}  // namespace
