// What the launch installs for the maker's service, reached through the core
// as the program reaches it: the directory loaded at launch, a refreshed
// source reported to the directory, a verified download counted in the
// statistics; and nothing of it once uninstalled.
#include <thread>

#include "ZMDependencyDescription.h"
#include "Online/Services/OnlineServicesFixture.h"
#include "Support/FlatRepository.h"
#include "ZMPackageDownloadTask.h"
#include "ZMQueue.h"
#include "ZMSourceRefresh.h"

namespace {

void refresh(const std::string& location) {
    ZMResult<ZMSourceRefreshSummary> result;
    std::thread([&] { result = ZMSourceRefresh::make(location)->refresh(); }).join();
    ASSERT_TRUE(result) << result.error->debugDescription();
}

::testing::AssertionResult download(const std::string& identifier, const std::string& version) {
    ZMDependencyDescription description;
    description.identifier = identifier;
    description.version = version;
    auto archive = ZMQueue::archiveFor(description);
    if (!archive) return ::testing::AssertionFailure() << "no archive for " << identifier;
    std::optional<ZMError> failure;
    auto batch = ZMDownloadBatch::make(nullptr, [&](const ZMError& e) { failure = e; });
    auto task = ZMPackageDownloadTask::make(*archive, batch);  // the batch holds it weakly
    batch->add(task);
    if (!batch->start()) return ::testing::AssertionFailure() << "the download did not start";
    TestSupport::waitUntil([] { return ZMPipelineManager::sharedManager().liveTaskCount() == 0; });
    if (failure) return ::testing::AssertionFailure() << failure->debugDescription();
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST_F(OnlineServices, LaunchHooksLoadTheDirectoryReportSourcesAndCountDownloads) {
    TestSupport::TempDir work, repoDir;
    FlatRepository::buildDeb(work.path(), repoDir.path(),
                             {"com.loop.alpha", "1.0", "Name: Loop Alpha\n"});
    FlatRepository::writeIndexes(repoDir.path(), "Loop Origin", "Loop packages");
    // The directory takes only sources that name a maintainer.
    TestSupport::writeFile(repoDir.file("Release"),
                           TestSupport::readFile(repoDir.file("Release")) + "Maintainer: Loop Maintainer\n");
    FlatRepository::FileServer repository(repoDir.path());
    const std::string location = repository.url();
    realm->transactionWithBlock([&] {
        auto s = ZMRSource::newSourceWithLocation(location);
        s.category = "Default";
        realm->addOrUpdate(s);
    });

    // Launch: the whole directory is read once.
    maker->setDirectory({{{"icon", ""},
                          {"name", "Listed"},
                          {"url", "https://listed.example/"},
                          {"description", "D"},
                          {"maintainer", "M"},
                          {"category", "C"}}});
    ZMOnlineServices::loadRepositoryDirectory();
    ASSERT_TRUE(maker->waitForCount("reposearch/repolist.php", 1));
    EXPECT_EQ(maker->requests("reposearch/repolist.php").at(0).rawQuery, "key=Quendarix");
    ASSERT_TRUE(TestSupport::waitUntil([] { return ZMSearchRepositories::instance().repositories().size() == 1; }));

    // A refreshed source goes to the directory, with what its Release said.
    refresh(location);
    ASSERT_TRUE(maker->waitForCount("reposearch/addrepo.php", 1));
    auto report = maker->requests("reposearch/addrepo.php").at(0);
    EXPECT_EQ(report.field("url"), location);
    EXPECT_EQ(report.field("name"), "Loop Origin");
    EXPECT_EQ(report.field("maintainer"), "Loop Maintainer");
    EXPECT_EQ(report.field("category"), "Default");
    ASSERT_TRUE(TestSupport::waitUntil([] { return ZMSearchRepositories::instance().repositories().size() == 2; }));

    // A verified download is counted once, with its source and version.
    ASSERT_TRUE(download("com.loop.alpha", "1.0"));
    ASSERT_TRUE(maker->waitForCount("stats/stats.php", 1));
    auto counted = maker->requests("stats/stats.php").at(0);
    EXPECT_EQ(counted.field("packageID"), "com.loop.alpha");
    EXPECT_EQ(counted.field("repoURL"), location);
    EXPECT_EQ(counted.field("version"), "1.0");
    EXPECT_EQ(counted.field("devName"), "Test <test@example.com>");
    EXPECT_EQ(counted.field("downloadCount"), "1");
    EXPECT_EQ(counted.field("seenCount"), "0");

    // Uninstalled: refreshes and downloads send nothing more.
    ZMOnlineServices::uninstall();
    maker->clearRequests();
    ZMSearchRepositories::instance().resetForTesting();
    refresh(location);
    ASSERT_TRUE(download("com.loop.alpha", "1.0"));
    TestSupport::pumpMainLoop(std::chrono::milliseconds(200));
    EXPECT_TRUE(maker->requests().empty());
}
