// The APT driver against the real apt-get and dpkg, a sandbox target root and
// a flat repository on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>
#include <tuple>

#include "Framework/APTTestRepository.h"
#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMCommandRunner.h"
#include "Miscellaneous/ZMPaths.h"
#include "ZMAPTManager.h"
#include "ZMDpkgStatus.h"
#include "ZMPackageOperations.h"
#include "Notifications/NotificationCenter.h"
#include "ZMPipelineManager.h"

namespace fs = std::filesystem;
using APTTest::offMain;
using APTTest::Repository;
using APTTest::Sandbox;
using TestSupport::readFile;

namespace {

std::vector<std::string> identifiers(const std::vector<ZMDependencyDescription>& list) {
    std::vector<std::string> names;
    for (const auto& d : list) names.push_back(d.identifier);
    std::sort(names.begin(), names.end());
    return names;
}

const ZMDependencyDescription* find(const std::vector<ZMDependencyDescription>& list, const std::string& id) {
    for (const auto& d : list)
        if (d.identifier == id) return &d;
    return nullptr;
}

ZMResult<ZMDryRunResult> dryRun(const std::vector<ZMQueueItem>& queue) {
    ZMResult<ZMDryRunResult> result;
    offMain([&] { result = ZMAPTManager::dryRun(queue); });
    return result;
}

ZMResult<ZMCommandOutput> install(const std::vector<ZMQueueItem>& queue, std::vector<ZMAPTStatus>* statuses = nullptr,
                                  std::string* output = nullptr) {
    ZMResult<ZMCommandOutput> result;
    offMain([&] {
        result = ZMAPTManager::installQueue(
            queue, [&](const std::string& line, bool) { if (output) *output += line + "\n"; },
            [&](const ZMAPTStatus& s) { if (statuses) statuses->push_back(s); });
    });
    return result;
}

constexpr auto Install = ZMQueueOperation::Install;
constexpr auto Remove = ZMQueueOperation::Remove;
constexpr auto Upgrade = ZMQueueOperation::Upgrade;
constexpr auto Downgrade = ZMQueueOperation::Downgrade;
constexpr auto Reinstall = ZMQueueOperation::Reinstall;

class APTManager : public ::testing::Test {
protected:
    void TearDown() override {
        if (sandbox_) {
            EXPECT_EQ(sandbox_->hostProblem(), "") << "nothing of a test may reach the host";
        }
    }
    Sandbox& sandbox(bool refresh = true) {
        sandbox_ = std::make_unique<Sandbox>(refresh);
        return *sandbox_;
    }
    std::unique_ptr<Sandbox> sandbox_;
};

}  // namespace

TEST_F(APTManager, TreeAndConfigurationPointIntoTheSandbox) {
    auto& sb = sandbox(false);
    ASSERT_TRUE(sb.ready()) << sb.problem();
    for (const char* dir : {"etc/apt/sources.list.d", "etc/apt/apt.conf.d", "etc/apt/preferences.d",
                            "var/lib/apt/lists/partial", "var/cache/apt/archives/partial", "var/log/apt"})
        EXPECT_TRUE(fs::is_directory(sb.tree() + "/" + dir)) << dir;
    EXPECT_TRUE(fs::exists(sb.statusFile()));

    std::string conf = readFile(sb.tree() + "/apt.conf");
    EXPECT_EQ(conf.find("/var/lib/dpkg/status\";"), conf.find(sb.root() + "/var/lib/dpkg/status") + sb.root().size())
        << "the only status file named is the sandbox's";

    // What apt itself makes of it: the status file and dpkg's root are the sandbox's.
    auto dump = ZMCommandRunner::capture({"/bin/sh", "-c", "APT_CONFIG=\"$0\" apt-config dump", sb.tree() + "/apt.conf"});
    ASSERT_TRUE(dump.ok());
    EXPECT_NE(dump.value->standardOutput.find("Dir::State::status \"" + sb.root() + "/var/lib/dpkg/status\""),
              std::string::npos);
    EXPECT_NE(dump.value->standardOutput.find("DPkg::Options:: \"--root=" + sb.root() + "\""), std::string::npos);

    // A path apt.conf cannot quote is refused rather than written.
    EXPECT_FALSE(ZMAPTManager::aptConfiguration("/tmp/a\"b", sb.root(), "amd64").ok());
    EXPECT_FALSE(ZMAPTManager::aptConfiguration(sb.tree(), "/tmp/x\n", "amd64").ok());
    EXPECT_FALSE(ZMAPTManager::aptConfiguration(sb.tree(), "relative", "amd64").ok());
}

TEST_F(APTManager, SourcesListTakesOnlyPlainHttpLocations) {
    auto& sb = sandbox(false);
    ASSERT_TRUE(sb.ready()) << sb.problem();
    std::string good = Repository::shared().url();
    auto written = ZMAPTManager::writeSourcesList({
        "http://x/ ./\ndeb file:/ ./",
        "file:///",
        "http://exa mple.com/",
        "http://example.com/a b/",
        "http://example.com/\"quoted\"/",
        "http://example.com/[arch=amd64]/",
        "http://example.com/$(ARCH)/",
        "ftp://example.com/",
        "https://",
        "http://example.com/\t/",
        good,
        "https://repo.example.com:8443/debian_stuff/",
        good,  // duplicates collapse
    });
    ASSERT_TRUE(written.ok());
    EXPECT_EQ(*written.value, 2u);
    EXPECT_EQ(readFile(sb.tree() + "/etc/apt/sources.list"),
              "deb [trusted=yes] " + good + " ./\ndeb [trusted=yes] https://repo.example.com:8443/debian_stuff/ ./\n");

    // apt's own list-file names for such locations.
    EXPECT_EQ(ZMAPTManager::listFilePrefix("http://127.0.0.1:8765/repo/"), "127.0.0.1:8765_repo_._");
    EXPECT_EQ(ZMAPTManager::listFilePrefix("https://h.example/a_b~c/"), "h.example_a%5fb%7ec_._");
    EXPECT_EQ(ZMAPTManager::listFilePrefix("http://h.example"), "h.example_._");
}

// Refreshes that end together all rewrite the list: none of them may fail or
// leave a file half written.
TEST_F(APTManager, SourcesListWrittenFromManyThreadsAtOnce) {
    auto& sb = sandbox(false);
    ASSERT_TRUE(sb.ready()) << sb.problem();
    std::vector<std::string> locations;
    std::string expected;
    for (int i = 0; i < 40; ++i) {
        locations.push_back("http://127.0.0.1:9/source-" + std::to_string(i) + "/");
        expected += "deb [trusted=yes] " + locations.back() + " ./\n";
    }
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 16; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round) {
                // Every other write a shorter list, so that a torn file would show.
                auto some = round % 2 ? locations : std::vector<std::string>(locations.begin(), locations.begin() + t + 1);
                if (!ZMAPTManager::writeSourcesList(some).ok()) ++failures;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    ASSERT_TRUE(ZMAPTManager::writeSourcesList(locations).ok());
    EXPECT_EQ(readFile(sb.tree() + "/etc/apt/sources.list"), expected);
    for (const auto& entry : std::filesystem::directory_iterator(sb.tree() + "/etc/apt"))
        EXPECT_EQ(entry.path().filename().string().find("sources.list.new"), std::string::npos) << entry.path();
}

TEST_F(APTManager, PurgeRemovesOneSourceAndKeepsTheOther) {
    auto& sb = sandbox(false);
    ASSERT_TRUE(sb.ready()) << sb.problem();
    auto& repo = Repository::shared();
    ASSERT_TRUE(ZMAPTManager::writeSourcesList({repo.url(), repo.otherUrl()}).ok());
    offMain([] { ASSERT_TRUE(ZMAPTManager::update().ok()); });
    std::string lists = sb.tree() + "/var/lib/apt/lists/";
    std::string purged = ZMAPTManager::listFilePrefix(repo.url());
    std::string kept = ZMAPTManager::listFilePrefix(repo.otherUrl());
    ASSERT_TRUE(fs::exists(lists + purged + "Packages")) << purged;
    ASSERT_TRUE(fs::exists(lists + kept + "Packages"));

    ZMAPTManager::purgeSourceFromSandbox(repo.url());
    EXPECT_FALSE(fs::exists(lists + purged + "Packages"));
    EXPECT_FALSE(fs::exists(lists + purged + "Release"));
    EXPECT_TRUE(fs::exists(lists + kept + "Packages"));
    EXPECT_TRUE(fs::exists(lists + kept + "Release"));
    EXPECT_EQ(readFile(sb.tree() + "/etc/apt/sources.list"), "deb [trusted=yes] " + repo.otherUrl() + " ./\n");
}

TEST_F(APTManager, DryRunListsInstallsUpgradesDowngradesAndRemovals) {
    auto& sb = sandbox();
    ASSERT_TRUE(sb.ready()) << sb.problem();

    // Install with a dependency.
    auto fresh = dryRun({{"com.example.gamma", Install, ""}});
    ASSERT_TRUE(fresh.ok()) << fresh.error->detail;
    EXPECT_EQ(identifiers(fresh.value->allPackagesToInstall),
              (std::vector<std::string>{"com.example.beta", "com.example.gamma"}));
    EXPECT_EQ(identifiers(fresh.value->additionalPackages), std::vector<std::string>{"com.example.beta"});
    EXPECT_EQ(identifiers(fresh.value->newPackages), (std::vector<std::string>{"com.example.beta", "com.example.gamma"}));
    EXPECT_TRUE(fresh.value->unmetDependencies.empty());
    const auto* beta = find(fresh.value->allPackagesToInstall, "com.example.beta");
    ASSERT_NE(beta, nullptr);
    EXPECT_EQ(beta->version, "1.1");
    EXPECT_EQ(beta->repository, "Test Origin:127.0.0.1");  // as apt names it: origin and host
    EXPECT_EQ(beta->operation, ZMDependencyOperation::Install);
    EXPECT_EQ(beta->architecture, "all");
    EXPECT_EQ(sb.statusOf("com.example.gamma"), "") << "a dry run installs nothing";

    ASSERT_TRUE(install({{"com.example.alpha", Install, "1.0"}, {"com.example.gamma", Install, ""}}).ok());

    // Upgrade and removal in one queue; removing beta takes gamma along.
    auto mixed = dryRun({{"com.example.alpha", Upgrade, ""}, {"com.example.beta", Remove, ""}});
    ASSERT_TRUE(mixed.ok()) << mixed.error->detail;
    ASSERT_EQ(mixed.value->packagesToUpgrade.size(), 1u);
    EXPECT_EQ(mixed.value->packagesToUpgrade[0].identifier, "com.example.alpha");
    EXPECT_EQ(mixed.value->packagesToUpgrade[0].version, "2.0");
    EXPECT_EQ(mixed.value->packagesToUpgrade[0].installedVersion, "1.0");
    EXPECT_EQ(identifiers(mixed.value->packagesToRemove), (std::vector<std::string>{"com.example.beta", "com.example.gamma"}));
    EXPECT_EQ(find(mixed.value->packagesToRemove, "com.example.beta")->version, "1.1");
    EXPECT_TRUE(mixed.value->newPackages.empty());

    // Reinstall of the installed version.
    auto again = dryRun({{"com.example.beta", Reinstall, ""}});
    ASSERT_TRUE(again.ok());
    ASSERT_EQ(again.value->allPackagesToInstall.size(), 1u);
    EXPECT_EQ(again.value->allPackagesToInstall[0].operation, ZMDependencyOperation::Reinstall);

    // Downgrade after a real upgrade.
    ASSERT_TRUE(install({{"com.example.alpha", Upgrade, ""}}).ok());
    EXPECT_EQ(sb.statusOf("com.example.alpha"), "install ok installed");
    auto down = dryRun({{"com.example.alpha", Downgrade, "1.0"}});
    ASSERT_TRUE(down.ok()) << down.error->detail;
    ASSERT_EQ(down.value->packagesToDowngrade.size(), 1u);
    EXPECT_EQ(down.value->packagesToDowngrade[0].version, "1.0");
    EXPECT_EQ(down.value->packagesToDowngrade[0].installedVersion, "2.0");
    EXPECT_EQ(down.value->packagesToDowngrade[0].operation, ZMDependencyOperation::Downgrade);
    EXPECT_TRUE(down.value->packagesToUpgrade.empty());

    // And carried out: -y alone would refuse it, the queue allows it.
    ASSERT_TRUE(install({{"com.example.alpha", Downgrade, "1.0"}}).ok());
    EXPECT_EQ(readFile(sb.root() + "/usr/share/vostrelle-test/com.example.alpha"), "1.0\n");
}

TEST_F(APTManager, DryRunExplainsWhatCannotBeDone) {
    auto& sb = sandbox();
    ASSERT_TRUE(sb.ready()) << sb.problem();

    auto broken = dryRun({{"com.example.broken", Install, ""}});
    ASSERT_TRUE(broken.ok()) << broken.error->detail;
    ASSERT_EQ(broken.value->unmetDependencies.size(), 1u);
    EXPECT_FALSE(broken.value->canProceed());
    EXPECT_EQ(broken.value->unmetDependencies[0].identifier, "com.example.broken");
    EXPECT_EQ(broken.value->unmetDependencies[0].reason,
              "com.example.broken: Depends: com.example.missing but it is not installable");

    auto conflict = dryRun({{"com.example.conflict", Install, ""}, {"com.example.beta", Install, ""}});
    ASSERT_TRUE(conflict.ok());
    ASSERT_FALSE(conflict.value->unmetDependencies.empty());
    EXPECT_NE(conflict.value->unmetDependencies[0].reason.find("Conflicts: com.example.beta"), std::string::npos)
        << conflict.value->unmetDependencies[0].reason;

    // An unknown name is reported; a near miss never resolves to another
    // package by regular expression.
    auto unknown = dryRun({{"com.example.alph", Install, ""}, {"com.example.nosuch", Install, ""}});
    ASSERT_TRUE(unknown.ok());
    EXPECT_TRUE(unknown.value->allPackagesToInstall.empty());
    ASSERT_EQ(unknown.value->unmetDependencies.size(), 2u);
    EXPECT_EQ(unknown.value->unmetDependencies[0].identifier, "com.example.alph");
    EXPECT_EQ(unknown.value->unmetDependencies[0].reason, "Unable to locate package com.example.alph");
    EXPECT_EQ(unknown.value->unmetDependencies[1].identifier, "com.example.nosuch");

    auto noVersion = dryRun({{"com.example.alpha", Downgrade, "0.5"}});
    ASSERT_TRUE(noVersion.ok());
    ASSERT_EQ(noVersion.value->unmetDependencies.size(), 1u);
    EXPECT_EQ(noVersion.value->unmetDependencies[0].identifier, "com.example.alpha");
    EXPECT_NE(noVersion.value->unmetDependencies[0].reason.find("'0.5'"), std::string::npos);

    // A package built for another architecture only is not offered by apt at all.
    auto foreign = dryRun({{"com.example.foreign", Install, ""}});
    ASSERT_TRUE(foreign.ok());
    ASSERT_EQ(foreign.value->unmetDependencies.size(), 1u);
    EXPECT_EQ(foreign.value->unmetDependencies[0].reason, "Unable to locate package com.example.foreign");

    // Names and versions outside Debian's grammar never reach a command.
    auto hostile = dryRun({{"x;rm -rf", Install, ""}});
    ASSERT_FALSE(hostile.ok());
    EXPECT_EQ(hostile.error->code, ZMError::CommandFailed);
    auto newline = dryRun({{"com.example.alpha", Downgrade, "1.0\nfoo"}});
    ASSERT_FALSE(newline.ok());
    EXPECT_EQ(newline.error->code, ZMError::CommandFailed);
}

TEST_F(APTManager, RealInstallAndRemovalStayInTheSandbox) {
    auto& sb = sandbox();
    ASSERT_TRUE(sb.ready()) << sb.problem();
    std::vector<ZMAPTStatus> statuses;
    std::string output;
    auto installed = install({{"com.example.gamma", Install, ""}, {"com.example.scripted", Install, ""}}, &statuses, &output);
    ASSERT_TRUE(installed.ok()) << installed.error->detail;
    EXPECT_EQ(sb.statusOf("com.example.gamma"), "install ok installed");
    EXPECT_EQ(sb.statusOf("com.example.beta"), "install ok installed");
    EXPECT_EQ(readFile(sb.root() + "/usr/share/vostrelle-test/com.example.gamma"), "1.0\n");
    EXPECT_TRUE(fs::exists(sb.root() + "/postinst-ran")) << "maintainer scripts run against the target root";
    EXPECT_NE(readFile(sb.root() + "/var/log/dpkg.log").find("com.example.gamma"), std::string::npos);
    EXPECT_NE(output.find("Setting up com.example.gamma (1.0)"), std::string::npos) << output;

    // Progress came through the status descriptor, in order, up to the last package.
    auto configured = std::find_if(statuses.begin(), statuses.end(), [](const ZMAPTStatus& s) {
        return s.kind == ZMAPTStatus::Kind::Install && s.package == "com.example.gamma" &&
               s.message.find("Installed com.example.gamma") != std::string::npos;
    });
    EXPECT_NE(configured, statuses.end());
    EXPECT_TRUE(std::any_of(statuses.begin(), statuses.end(), [](const ZMAPTStatus& s) { return s.kind == ZMAPTStatus::Kind::Download; }));
    double last = -1;
    for (const auto& s : statuses) {
        if (s.kind != ZMAPTStatus::Kind::Install) continue;
        EXPECT_GE(s.percent, last) << s.message;
        last = s.percent;
    }

    auto removed = install({{"com.example.beta", Remove, ""}});
    ASSERT_TRUE(removed.ok()) << removed.error->detail;
    EXPECT_NE(sb.statusOf("com.example.gamma"), "install ok installed");
    EXPECT_NE(sb.statusOf("com.example.beta"), "install ok installed");
    EXPECT_FALSE(fs::exists(sb.root() + "/usr/share/vostrelle-test/com.example.gamma"));
    EXPECT_FALSE(ZMAPTManager::needsRepair());
    ZMResult<bool> repair;
    offMain([&] { repair = ZMAPTManager::repairIfNeeded(); });
    ASSERT_TRUE(repair.ok());
    EXPECT_FALSE(*repair.value) << "nothing to repair, nothing run";
}

// A package removed but not purged (its configuration files kept) is not a
// broken install: the launch runs no repair for it. One that a run left half
// way still calls for the repair.
TEST_F(APTManager, OnlyAnUnfinishedPackageCallsForTheLaunchRepair) {
    auto& sb = sandbox(false);
    ASSERT_TRUE(sb.ready()) << sb.problem();
    auto stanza = [](const std::string& name, const std::string& status) {
        return "Package: " + name + "\nStatus: " + status + "\nVersion: 1.0\nArchitecture: all\n\n";
    };
    const std::string removedNotPurged = stanza("com.example.kept", "deinstall ok config-files");
    const std::string installed = stanza("com.example.alpha", "install ok installed");
    const std::pair<std::string, bool> cases[] = {
        {removedNotPurged, false},
        {installed + removedNotPurged + stanza("com.example.gone", "purge ok not-installed"), false},
        {stanza("com.example.half", "install reinstreq half-installed"), true},
        {removedNotPurged + stanza("com.example.half", "install ok half-configured"), true},
        {stanza("com.example.half", "install ok unpacked"), true},
        {stanza("com.example.half", "install ok triggers-awaited"), true},
        {stanza("com.example.half", "install reinstreq installed"), true},
        {stanza("com.example.half", "deinstall ok half-installed") + removedNotPurged, true},
    };
    for (const auto& [status, broken] : cases) {
        SCOPED_TRACE(status);
        TestSupport::writeFile(sb.statusFile(), status);
        EXPECT_EQ(ZMAPTManager::needsRepair(), broken);
        // The status reader the records follow tells the same.
        auto read = ZMDpkgStatus::read(sb.root() + "/var/lib/dpkg");
        ASSERT_TRUE(read.ok());
        EXPECT_EQ(std::any_of(read.value->packages.begin(), read.value->packages.end(),
                              [](const ZMDpkgPackage& p) { return p.needsRepair; }),
                  broken);
        if (broken) continue;  // the repair itself: PackageQueue.FailingMaintainerScriptIsReportedAndTheRecordsTellTheTruth
        // The launch's own step: nothing run, nothing repaired.
        std::optional<ZMResult<bool>> repaired;
        ZMPackageOperations::repairAtLaunch([&](ZMResult<bool> r) { repaired = r; });
        ASSERT_TRUE(TestSupport::waitUntil([&] { return repaired.has_value(); }, std::chrono::seconds(60)));
        ASSERT_TRUE(repaired->ok()) << repaired->error->detail;
        EXPECT_FALSE(*repaired->value) << "a repair ran";
        EXPECT_EQ(TestSupport::readFile(sb.statusFile()), status) << "the status file is as it was";
    }
}

TEST_F(APTManager, HoldKeepsAPackageFromUpgrades) {
    auto& sb = sandbox();
    ASSERT_TRUE(sb.ready()) << sb.problem();
    ASSERT_TRUE(install({{"com.example.alpha", Install, "1.0"}}).ok());
    offMain([] { ASSERT_TRUE(ZMAPTManager::hold("com.example.alpha").ok()); });
    EXPECT_EQ(sb.statusOf("com.example.alpha"), "hold ok installed");
    auto held = install({{"com.example.alpha", Upgrade, ""}});
    ASSERT_FALSE(held.ok());
    EXPECT_NE(held.error->detail.find("Held packages were changed"), std::string::npos) << held.error->detail;
    offMain([] { ASSERT_TRUE(ZMAPTManager::unhold("com.example.alpha").ok()); });
    ASSERT_TRUE(install({{"com.example.alpha", Upgrade, ""}}).ok());
    EXPECT_EQ(readFile(sb.root() + "/usr/share/vostrelle-test/com.example.alpha"), "2.0\n");
}

TEST_F(APTManager, DownloadOnlyAndLocalArchive) {
    auto& sb = sandbox();
    ASSERT_TRUE(sb.ready()) << sb.problem();
    std::string archives = sb.tree() + "/var/cache/apt/archives/";
    ZMResult<ZMCommandOutput> downloaded;
    offMain([&] { downloaded = ZMAPTManager::downloadQueue({{"com.example.gamma", Install, ""}}); });
    ASSERT_TRUE(downloaded.ok()) << downloaded.error->detail;
    EXPECT_TRUE(fs::exists(archives + "com.example.gamma_1.0_all.deb"));
    EXPECT_TRUE(fs::exists(archives + "com.example.beta_1.1_all.deb"));
    EXPECT_EQ(sb.statusOf("com.example.gamma"), "");
    // The cache rebuild, as the pipeline runs it.
    fs::remove(sb.tree() + "/var/cache/apt/pkgcache.bin");
    auto& pipeline = ZMPipelineManager::sharedManager();
    auto task = ZMAPTManager::cacheRebuildTask();
    EXPECT_EQ(task->pipelineID(), ZMPipelineCacheOps);
    ASSERT_TRUE(pipeline.queueTask(task));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !pipeline.isTaskLive(task->taskID()); }, std::chrono::seconds(20)));
    EXPECT_TRUE(fs::exists(sb.tree() + "/var/cache/apt/pkgcache.bin"));
    ZMAPTManager::cleanArchives();
    EXPECT_FALSE(fs::exists(archives + "com.example.gamma_1.0_all.deb"));
    EXPECT_TRUE(fs::is_directory(archives + "partial"));

    // A .deb opened from elsewhere is copied in and installed with its dependency from the repository.
    TestSupport::TempDir outside;
    std::string opened = outside.file("gamma from mail.deb");
    fs::copy_file(Repository::shared().archive("com.example.gamma_1.0_all.deb"), opened);
    ZMResult<ZMCommandOutput> local;
    offMain([&] { local = ZMAPTManager::installDebFile(opened); });
    ASSERT_TRUE(local.ok()) << local.error->detail;
    EXPECT_EQ(sb.statusOf("com.example.gamma"), "install ok installed");
    EXPECT_EQ(sb.statusOf("com.example.beta"), "install ok installed");
}

TEST_F(APTManager, OneCommandAtATime) {
    auto& sb = sandbox(false);
    ASSERT_TRUE(sb.ready()) << sb.problem();
    auto& repo = Repository::shared();
    ASSERT_TRUE(ZMAPTManager::writeSourcesList({repo.slowUrl()}).ok());

    std::thread first([] { ZMAPTManager::update(); });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return repo.slowRequestArrived(); }, std::chrono::seconds(20)));
    EXPECT_TRUE(ZMCommandRunner::isBusy());
    ZMResult<ZMDryRunResult> second;
    auto started = std::chrono::steady_clock::now();
    offMain([&] { second = ZMAPTManager::dryRun({{"com.example.alpha", Install, ""}}); });
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5)) << "refused at once, not queued";
    ASSERT_FALSE(second.ok());
    EXPECT_EQ(second.error->code, ZMError::CommandFailed);
    EXPECT_EQ(second.error->detail, "Another package operation is running.");
    repo.releaseSlow();
    first.join();
    EXPECT_FALSE(ZMCommandRunner::isBusy());

    // A cache rebuild that arrives while a command holds the helper waits for
    // it instead of failing.
    repo.rearmSlow();
    std::thread again([] { ZMAPTManager::update(); });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return repo.slowRequestArrived(); }, std::chrono::seconds(20)));
    auto& pipeline = ZMPipelineManager::sharedManager();
    auto rebuild = ZMAPTManager::cacheRebuildTask();
    std::optional<bool> rebuildSucceeded;
    auto token = NotificationCenter::defaultCenter().addObserver(
        ZMPipelineTaskFinishedNotification, NotificationCenter::Queue::Main, [&](const Notification& n) {
            if (n.userInfo.value("taskID", "") == rebuild->taskID()) rebuildSucceeded = n.userInfo.value("success", false);
        });
    ASSERT_TRUE(pipeline.queueTask(rebuild));
    TestSupport::pumpMainLoop(std::chrono::milliseconds(600));
    EXPECT_FALSE(rebuildSucceeded.has_value()) << "still waiting for the helper";
    repo.releaseSlow();
    again.join();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return rebuildSucceeded.has_value(); }, std::chrono::seconds(30)));
    EXPECT_TRUE(*rebuildSucceeded);

    // Never on the main thread (this test's thread is the main loop's).
    auto onMain = ZMAPTManager::update();
    ASSERT_FALSE(onMain.ok());
    EXPECT_EQ(onMain.error->code, ZMError::CommandFailed);
}

// The sandbox's guard: a command line that names the host's root, directly,
// through a link or in an option, is refused before it runs and counts
// against the test; the sandbox's own lines pass.
TEST(APTTestSandbox, CommandLinesNamingTheHostsRootAreRefusedAndReported) {
    TestSupport::TempDir links;
    fs::create_directory_symlink("/", links.file("host"));
    Sandbox sb(false);
    ASSERT_TRUE(sb.ready()) << sb.problem();
    auto run = [](const std::vector<std::string>& line) {
        ZMResult<ZMCommandOutput> result;
        offMain([&] { result = ZMCommandRunner::runHelper(line); });
        return result;
    };
    auto own = run({sb.tree(), sb.root(), "apt-get", "-s", "install", "com.example.alpha"});
    ASSERT_TRUE(own.ok()) << own.error->detail;
    EXPECT_EQ(sb.hostProblem(), "");
    const std::vector<std::string> hostile[] = {
        {sb.tree(), "/", "apt-get", "-s", "install", "com.example.alpha"},
        {sb.tree(), links.file("host") + "/", "apt-get", "-s", "install", "com.example.alpha"},
        {sb.tree(), sb.root(), "apt-get", "-s", "-o", "Dir::State::status=/var/lib/dpkg/status", "install", "com.example.alpha"},
    };
    for (const auto& line : hostile) {
        auto result = run(line);
        ASSERT_FALSE(result.ok()) << line[1];
        EXPECT_NE(result.error->detail.find("refused by the command check"), std::string::npos) << result.error->detail;
    }
    const std::string problem = sb.hostProblem();
    for (const auto& line : hostile) {
        std::string joined;
        for (const auto& a : line) joined += (joined.empty() ? "" : " ") + a;
        EXPECT_NE(problem.find("a command line named the host's root: " + joined + "\n"), std::string::npos) << problem;
    }
}

TEST(APTParsing, StatusLines) {
    using K = ZMAPTStatus::Kind;
    const std::tuple<const char*, K, const char*, double, const char*> lines[] = {
        {"pmstatus:com.example.beta:55.5556:Configuring com.example.beta (amd64)", K::Install, "com.example.beta", 55.5556,
         "Configuring com.example.beta (amd64)"},
        {"pmstatus:libc6:amd64:12.5:Unpacking libc6: done", K::Install, "libc6:amd64", 12.5, "Unpacking libc6: done"},
        {"dlstatus:2:90.0000:Retrieving file 2 of 2", K::Download, "2", 90, "Retrieving file 2 of 2"},
        {"pmerror:/x/f_1.0_all.deb:40:installed post-installation script subprocess returned error exit status 1",
         K::Error, "/x/f_1.0_all.deb", 40, "installed post-installation script subprocess returned error exit status 1"},
    };
    for (const auto& [line, kind, package, percent, message] : lines) {
        auto status = ZMAPTManager::parseStatusLine(line);
        ASSERT_TRUE(status) << line;
        EXPECT_EQ(status->kind, kind) << line;
        EXPECT_EQ(status->package, package) << line;
        EXPECT_DOUBLE_EQ(status->percent, percent) << line;
        EXPECT_EQ(status->message, message) << line;
    }
    for (const char* junk : {"Reading package lists...", "pmstatus:broken", "pmstatus:a:b:c:d"})
        EXPECT_FALSE(ZMAPTManager::parseStatusLine(junk)) << junk;
}

TEST(APTParsing, UnmetDependenciesWithAlternativesAndHeldRoot) {
    const std::string out =
        "The following packages have unmet dependencies:\n"
        " com.example.broken : Depends: com.example.missing but it is not installable\n"
        "                      Depends: com.example.beta (>= 2.0) but 1.1 is to be installed or\n"
        "                               com.example.other but it is not installable\n"
        " com.example.two : PreDepends: com.example.three but it is not going to be installed\n";
    auto parsed = ZMAPTManager::parseDryRun(out, "E: Unable to correct problems, you have held broken packages.\n");
    ASSERT_EQ(parsed.unmetDependencies.size(), 3u);
    EXPECT_EQ(parsed.unmetDependencies[1].identifier, "com.example.broken");
    EXPECT_EQ(parsed.unmetDependencies[1].reason,
              "com.example.broken: Depends: com.example.beta (>= 2.0) but 1.1 is to be installed or "
              "com.example.other but it is not installable");
    EXPECT_EQ(parsed.unmetDependencies[2].identifier, "com.example.two");

    // A broken root with no package named still yields a reason.
    auto rootBroken = ZMAPTManager::parseDryRun("", "E: Unmet dependencies. Try 'apt --fix-broken install' with no packages (or specify a solution).\n");
    ASSERT_EQ(rootBroken.unmetDependencies.size(), 1u);
    EXPECT_NE(rootBroken.unmetDependencies[0].reason.find("Unmet dependencies"), std::string::npos);

    // Purges are removals too.
    auto purge = ZMAPTManager::parseDryRun("The following packages will be REMOVED:\n  com.example.beta*\nPurg com.example.beta [1.1]\n", "");
    ASSERT_EQ(purge.packagesToRemove.size(), 1u);
    EXPECT_EQ(purge.packagesToRemove[0].operation, ZMDependencyOperation::Purge);
    EXPECT_EQ(purge.packagesToRemove[0].version, "1.1");
}

TEST_F(APTManager, RootReachedThroughALinkAndResolutionOffTheMainThread) {
    auto& sb = sandbox();
    ASSERT_TRUE(sb.ready()) << sb.problem();
    // The helper compares resolved roots: a root named through a link still works.
    std::string link = sb.root() + "-link";
    fs::create_directory_symlink(sb.root(), link);
    ZMPaths::setTargetRoot(link);
    ASSERT_TRUE(ZMAPTManager::prepareTree().ok());
    EXPECT_NE(readFile(sb.tree() + "/apt.conf").find("\"--root=" + sb.root() + "\";"), std::string::npos);

    // The asynchronous form resolves on a background queue and answers on the main thread.
    std::optional<ZMResult<ZMDryRunResult>> answer;
    bool onMain = false;
    ZMAPTManager::dryRunAsync({{"com.example.gamma", Install, ""}}, [&](ZMResult<ZMDryRunResult> result) {
        onMain = Dispatch::isMainThread();
        answer = std::move(result);
    });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return answer.has_value(); }, std::chrono::seconds(20)));
    EXPECT_TRUE(onMain);
    ASSERT_TRUE(answer->ok()) << answer->error->detail;
    EXPECT_EQ(answer->value->allPackagesToInstall.size(), 2u);
    fs::remove(link);
}
