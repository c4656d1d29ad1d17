// The queue from confirmation to installed: queue marks, dry run, download
// tasks, the run task, the rescan and the notifications, against the real
// apt-get and dpkg, a sandbox target root and the loopback repository.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageVersion.h"
#include "Database/ZMRPackages.h"
#include "Framework/APTTestRepository.h"
#include "Notifications/NotificationCenter.h"
#include "Realm/Realm.h"
#include "ZMDebInstallTask.h"
#include "ZMPackageOperations.h"
#include "ZMPipelineManager.h"
#include "ZMPostInstallExecutor.h"
#include "ZMQueue.h"

namespace fs = std::filesystem;
using APTTest::offMain;
using APTTest::Repository;
using APTTest::Sandbox;

namespace {

// Everything the pipeline and the run said while a test waited.
struct Observed {
    std::map<std::string, nlohmann::json> finished;  // taskID -> user info
    std::set<std::string> queueStates;               // identifiers of "UpdateQueueStateNotification-"
    std::vector<std::pair<std::string, bool>> verbose;
    std::vector<std::string> statuses;               // of the run task
    double lastRunProgress = -1;
};

class PackageQueue : public ::testing::Test {
protected:
    void SetUp() override {
        sandbox_ = std::make_unique<Sandbox>();
        ASSERT_TRUE(sandbox_->ready()) << sandbox_->problem();
        APTTest::loadRecordsFromIndex(Repository::shared().url());
        auto& center = NotificationCenter::defaultCenter();
        bag_.add(center.addObserver(ZMPipelineTaskFinishedNotification, NotificationCenter::Queue::Main,
                                    [this](const Notification& n) {
                                        observed_.finished[n.userInfo.value("taskID", "")] = n.userInfo;
                                    }));
        bag_.add(center.addObserver(ZMUpdateVerboseViewNotification, NotificationCenter::Queue::Main,
                                    [this](const Notification& n) {
                                        observed_.verbose.emplace_back(n.userInfo.value("Message", ""),
                                                                       n.userInfo.value("Error", false));
                                    }));
        bag_.add(center.addObserver(ZMPipelineTaskStatusNotification, NotificationCenter::Queue::Main,
                                    [this](const Notification& n) {
                                        if (n.userInfo.value("taskID", "") == "package.queue")
                                            observed_.statuses.push_back(n.userInfo.value("status", ""));
                                    }));
        bag_.add(center.addObserver(ZMPipelineTaskProgressNotification, NotificationCenter::Queue::Main,
                                    [this](const Notification& n) {
                                        if (n.userInfo.value("taskID", "") == "package.queue")
                                            observed_.lastRunProgress = n.userInfo.value("progress", -1.0);
                                    }));
    }
    void TearDown() override {
        TestSupport::waitUntil([] { return ZMPipelineManager::sharedManager().liveTaskCount() == 0; });
        bag_.clear();
        EXPECT_EQ(sandbox_->hostProblem(), "") << "nothing of a test may reach the host";
    }

    void observeQueueState(const std::string& identifier) {
        bag_.add(NotificationCenter::defaultCenter().addObserver(
            ZMQueueStateNotificationPrefix + identifier, NotificationCenter::Queue::Main,
            [this, identifier](const Notification& n) {
                EXPECT_EQ(n.objectString(), identifier);
                observed_.queueStates.insert(identifier);
            }));
    }

    void mark(const std::string& identifier, std::optional<std::string> version = std::nullopt, int64_t operation = 0) {
        packages_.setPackage(identifier, true, version, operation);
    }

    ZMRPackage record(const std::string& identifier) {
        auto r = ZMRPackage::objectForPrimaryKey(identifier);
        EXPECT_TRUE(r.has_value()) << identifier;
        return r.value_or(ZMRPackage{});
    }

    // The confirmation screen's path: queue marks -> dry run -> confirm ->
    // downloads -> run. Waits for the run to end (or the batch to give up).
    struct Outcome {
        bool ran = false;       // the run task finished (either way)
        bool success = false;
        int errorCode = 0;
        std::string message;
        std::optional<ZMError> batchFailure;
        ZMQueue::Confirmation confirmation;
    };
    Outcome confirmQueue() {
        Outcome outcome;
        std::optional<std::pair<std::vector<ZMQueueItem>, ZMResult<ZMDryRunResult>>> resolved;
        ZMQueue::resolve([&](std::vector<ZMQueueItem> queue, ZMResult<ZMDryRunResult> result) {
            resolved.emplace(std::move(queue), std::move(result));
        });
        EXPECT_TRUE(TestSupport::waitUntil([&] { return resolved.has_value(); }, std::chrono::seconds(30)));
        if (!resolved) return outcome;
        EXPECT_TRUE(resolved->second.ok()) << resolved->second.error->detail;
        if (!resolved->second.ok()) return outcome;
        std::mutex mutex;
        auto confirmed = ZMQueue::confirm(resolved->first, *resolved->second.value, [&](const ZMError& e) {
            std::lock_guard lock(mutex);
            outcome.batchFailure = e;
        });
        EXPECT_TRUE(confirmed.ok()) << (confirmed.error ? confirmed.error->detail : "");
        if (!confirmed) return outcome;
        outcome.confirmation = *confirmed.value;
        bool ended = TestSupport::waitUntil(
            [&] {
                std::lock_guard lock(mutex);
                return observed_.finished.count("package.queue") ||
                       (outcome.batchFailure && ZMPipelineManager::sharedManager().liveTaskCount() == 0);
            },
            std::chrono::seconds(120));
        EXPECT_TRUE(ended) << "the run never ended";
        if (observed_.finished.count("package.queue")) {
            const auto& info = observed_.finished["package.queue"];
            outcome.ran = true;
            outcome.success = info.value("success", false);
            if (info.contains("error")) {
                outcome.errorCode = info["error"].value("code", 0);
                outcome.message = info["error"].value("detail", "");
            }
        }
        return outcome;
    }

    std::unique_ptr<Sandbox> sandbox_;
    ZMRPackages packages_;
    ObserverBag bag_;
    Observed observed_;
};

std::string archivesDirectory() { return ZMAPTManager::treePath() + "/var/cache/apt/archives"; }

}  // namespace

TEST_F(PackageQueue, QueueItemsFollowTheQueueMarks) {
    mark("com.example.gamma");
    mark("com.example.alpha", std::string("1.0"), ZMRQueueOperationDowngrade);
    mark("com.example.beta", std::nullopt, ZMRQueueOperationRemove);
    mark("com.example.respring", std::string("1.0"), ZMRQueueOperationReinstall);
    auto items = ZMQueue::queueItems();
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].identifier, "com.example.alpha");
    EXPECT_EQ(items[0].operation, ZMQueueOperation::Downgrade);
    EXPECT_EQ(items[0].version, "1.0");
    EXPECT_EQ(items[1].identifier, "com.example.beta");
    EXPECT_EQ(items[1].operation, ZMQueueOperation::Remove);
    EXPECT_EQ(items[2].identifier, "com.example.gamma");
    EXPECT_EQ(items[2].operation, ZMQueueOperation::Install);  // not installed: chosen by the collection
    EXPECT_EQ(items[3].operation, ZMQueueOperation::Reinstall);

    packages_.setPackage("com.example.beta", false, std::nullopt, 0);
    EXPECT_EQ(ZMQueue::queueItems().size(), 3u);
}

TEST_F(PackageQueue, InstallWithDependencyThroughDownloadsAndRun) {
    observeQueueState("com.example.gamma");
    observeQueueState("com.example.beta");
    mark("com.example.gamma");
    size_t requestsBefore = Repository::shared().requestCount();
    auto outcome = confirmQueue();
    ASSERT_TRUE(outcome.ran);
    EXPECT_TRUE(outcome.success) << outcome.message;

    // One download per archive, the dependency included, each verified and
    // stored under apt's name; apt fetched nothing itself.
    std::set<std::string> downloaded;
    for (const auto& d : outcome.confirmation.downloads) {
        downloaded.insert(d->archive().identifier);
        EXPECT_EQ(d->taskDescription(), "Done downloading " + d->archive().name + ".");
        EXPECT_TRUE(observed_.finished[d->taskID()].value("success", false)) << d->taskID();
    }
    EXPECT_EQ(downloaded, (std::set<std::string>{"com.example.beta", "com.example.gamma"}));
    EXPECT_TRUE(outcome.confirmation.leftToApt.empty());
    EXPECT_EQ(Repository::shared().requestCount() - requestsBefore, 2u) << "apt-get downloaded again";
    bool aptFetched = false;
    for (const auto& [line, error] : observed_.verbose)
        if (line.rfind("Get:", 0) == 0) aptFetched = true;
    EXPECT_FALSE(aptFetched);

    EXPECT_EQ(sandbox_->statusOf("com.example.gamma"), "install ok installed");
    EXPECT_EQ(sandbox_->statusOf("com.example.beta"), "install ok installed");
    auto gamma = record("com.example.gamma");
    EXPECT_TRUE(gamma.isInstalled.value_or(false));
    EXPECT_EQ(gamma.installedVersion, "1.0");
    EXPECT_FALSE(gamma.isInTheQueue.value_or(false));
    EXPECT_EQ(gamma.queueOperation.value_or(-1), 0);
    EXPECT_TRUE(record("com.example.beta").isInstalled.value_or(false));
    EXPECT_TRUE(ZMQueue::queueItems().empty());

    // Archives cleaned, the console fed, status and progress reported.
    for (const auto& entry : fs::directory_iterator(archivesDirectory()))
        EXPECT_NE(entry.path().extension(), ".deb") << entry.path();
    EXPECT_TRUE(TestSupport::waitUntil([&] { return observed_.queueStates.size() == 2; }));
    EXPECT_FALSE(observed_.verbose.empty());
    EXPECT_FALSE(observed_.statuses.empty());
    EXPECT_DOUBLE_EQ(observed_.lastRunProgress, 1.0);
}

TEST_F(PackageQueue, RemoveUpgradeDowngradeAndReinstall) {
    mark("com.example.alpha", std::string("1.0"));
    mark("com.example.beta");
    auto first = confirmQueue();
    ASSERT_TRUE(first.success) << first.message;
    EXPECT_EQ(record("com.example.alpha").installedVersion, "1.0");
    observed_.finished.clear();

    // Upgrade alpha (no version: the candidate), remove beta (installed, no
    // update: the collection chooses removal).
    mark("com.example.alpha", std::nullopt, ZMRQueueOperationUpgrade);
    mark("com.example.beta");
    auto items = ZMQueue::queueItems();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].operation, ZMQueueOperation::Upgrade);
    EXPECT_EQ(items[1].operation, ZMQueueOperation::Remove);
    auto second = confirmQueue();
    ASSERT_TRUE(second.success) << second.message;
    EXPECT_EQ(record("com.example.alpha").installedVersion, "2.0");
    EXPECT_EQ(sandbox_->statusOf("com.example.beta"), "");
    EXPECT_FALSE(record("com.example.beta").isInstalled.value_or(true));
    EXPECT_FALSE(record("com.example.beta").isInTheQueue.value_or(false));
    observed_.finished.clear();

    // Downgrade: the version chosen orders below the installed one.
    mark("com.example.alpha", std::string("1.0"));
    ASSERT_EQ(ZMQueue::queueItems().at(0).operation, ZMQueueOperation::Downgrade);
    auto third = confirmQueue();
    ASSERT_TRUE(third.success) << third.message;
    EXPECT_EQ(record("com.example.alpha").installedVersion, "1.0");
    EXPECT_EQ(sandbox_->statusOf("com.example.alpha"), "install ok installed");
    observed_.finished.clear();

    // Reinstall: the same version again, its file put back after deletion.
    fs::path file = sandbox_->root() + "/usr/share/vostrelle-test/com.example.alpha";
    ASSERT_TRUE(fs::exists(file));
    fs::remove(file);
    mark("com.example.alpha", std::string("1.0"));
    ASSERT_EQ(ZMQueue::queueItems().at(0).operation, ZMQueueOperation::Reinstall);
    auto fourth = confirmQueue();
    ASSERT_TRUE(fourth.success) << fourth.message;
    EXPECT_TRUE(fs::exists(file));
    EXPECT_TRUE(ZMQueue::queueItems().empty());
}

TEST_F(PackageQueue, HashMismatchIsRefusedAndNothingInstalls) {
    auto realm = Realm::defaultRealm();
    auto beta = ZMRPackage::objectForPrimaryKey("com.example.beta");
    ASSERT_TRUE(beta);
    realm->transactionWithBlock([&] { realm->setValueForKey(*beta, "sha256", std::string(64, '0')); });
    mark("com.example.gamma");
    auto outcome = confirmQueue();
    EXPECT_FALSE(outcome.ran) << "the run must not be queued after a failed download";
    ASSERT_TRUE(outcome.batchFailure.has_value());
    EXPECT_NE(outcome.batchFailure->detail.find("SHA-256 mismatch"), std::string::npos) << outcome.batchFailure->detail;
    std::string betaTask = "download:com.example.beta=1.1";
    // The batch reports its failure from the task's thread; the task's own
    // finished notification reaches the main thread on its own schedule.
    ASSERT_TRUE(TestSupport::waitUntil([&] { return observed_.finished.count(betaTask) > 0; }));
    EXPECT_FALSE(observed_.finished[betaTask].value("success", true));
    EXPECT_EQ(observed_.finished[betaTask]["error"].value("code", 0), ZMError::InvalidServerData);

    EXPECT_FALSE(fs::exists(archivesDirectory() + "/com.example.beta_1.1_all.deb"));
    EXPECT_FALSE(fs::exists(archivesDirectory() + "/partial/com.example.beta_1.1_all.deb"));
    EXPECT_EQ(sandbox_->statusOf("com.example.gamma"), "");
    EXPECT_EQ(sandbox_->statusOf("com.example.beta"), "");
    EXPECT_TRUE(record("com.example.gamma").isInTheQueue.value_or(false)) << "kept for a retry";
}

TEST_F(PackageQueue, MaliciousFileNamesAreRefusedWithoutAnyRequest) {
    const std::string location = Repository::shared().url();
    for (const char* name : {"../../etc/passwd", "./a/../../x.deb", "/etc/passwd", "http://evil.example/x.deb",
                             "file:x.deb", "a\\..\\x.deb", "a%2e%2e/x.deb", "a b.deb", "a\n.deb", "a//b.deb", ""})
        EXPECT_FALSE(ZMPackageDownloadTask::archiveURL(location, name).has_value()) << name;
    EXPECT_FALSE(ZMPackageDownloadTask::archiveURL("file:///srv/repo/", "x.deb").has_value());
    EXPECT_FALSE(ZMPackageDownloadTask::archiveURL("ftp://example.com/", "x.deb").has_value());
    EXPECT_EQ(ZMPackageDownloadTask::archiveURL(location, "./com.example.beta_1.1_all.deb"),
              location + "com.example.beta_1.1_all.deb");
    EXPECT_EQ(ZMPackageDownloadTask::archiveURL("http://h.example/repo", "pool/main/b/beta_1.1_all.deb"),
              "http://h.example/repo/pool/main/b/beta_1.1_all.deb");

    ZMPackageArchive epoch;
    epoch.identifier = "com.example.e";
    epoch.version = "1:2.0-1";
    epoch.architecture = "amd64";
    EXPECT_EQ(epoch.archiveFileName(), "com.example.e_1%3a2.0-1_amd64.deb");

    // Through the whole confirmation: the index record of beta points out of the repository.
    auto realm = Realm::defaultRealm();
    auto beta = ZMRPackage::objectForPrimaryKey("com.example.beta");
    ASSERT_TRUE(beta);
    realm->transactionWithBlock([&] { realm->setValueForKey(*beta, "filename", std::string("../../../etc/passwd")); });
    mark("com.example.beta");
    size_t before = Repository::shared().requestCount();
    auto outcome = confirmQueue();
    EXPECT_FALSE(outcome.ran);
    ASSERT_TRUE(outcome.batchFailure.has_value());
    EXPECT_NE(outcome.batchFailure->detail.find("Refused file name"), std::string::npos);
    EXPECT_EQ(Repository::shared().requestCount(), before);
    EXPECT_EQ(sandbox_->statusOf("com.example.beta"), "");
}

TEST_F(PackageQueue, FailingMaintainerScriptIsReportedAndTheRecordsTellTheTruth) {
    observeQueueState("com.example.failing");
    mark("com.example.failing");
    mark("com.example.beta");
    auto outcome = confirmQueue();
    ASSERT_TRUE(outcome.ran);
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.errorCode, ZMError::CommandFailed);
    EXPECT_FALSE(outcome.message.empty());
    EXPECT_NE(sandbox_->statusOf("com.example.failing").find("half-configured"), std::string::npos)
        << sandbox_->statusOf("com.example.failing");
    auto failing = record("com.example.failing");
    EXPECT_FALSE(failing.isInstalled.value_or(true)) << "half-configured is not installed";
    EXPECT_TRUE(failing.isInTheQueue.value_or(false)) << "kept so that the user can retry";
    // beta did get installed: its mark goes, and it shows installed.
    EXPECT_EQ(sandbox_->statusOf("com.example.beta"), "install ok installed");
    EXPECT_TRUE(record("com.example.beta").isInstalled.value_or(false));
    EXPECT_FALSE(record("com.example.beta").isInTheQueue.value_or(true));
    EXPECT_TRUE(TestSupport::waitUntil([&] { return observed_.queueStates.count("com.example.failing") == 1; }));
    // The console has the script's own words, and dpkg's error flagged.
    bool scriptLine = false, errorLine = false;
    for (const auto& [line, error] : observed_.verbose)
        if (line.find("postinst of com.example.failing fails") != std::string::npos) scriptLine = true;
    EXPECT_TRUE(scriptLine);
    for (const auto& [line, error] : observed_.verbose)
        if (error && line.find("dpkg: error processing package com.example.failing") != std::string::npos) errorLine = true;
    std::string all;
    for (const auto& [line, error] : observed_.verbose) all += (error ? "E| " : " | ") + line + "\n";
    EXPECT_TRUE(errorLine) << "the script's error reaches the console flagged\n" << all;
    EXPECT_TRUE(ZMPipelineManager::sharedManager().pendingPostInstallActions().empty());

    // The launch repair tries again; the script still fails, and says so.
    std::optional<ZMResult<bool>> repaired;
    ZMPackageOperations::repairAtLaunch([&](ZMResult<bool> r) { repaired = r; });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return repaired.has_value(); }, std::chrono::seconds(60)));
    EXPECT_FALSE(repaired->ok());
    EXPECT_FALSE(record("com.example.failing").isInstalled.value_or(true));
}

// An upgrade or a downgrade that fails leaves the old version installed: not
// done, so its queue mark stays for a retry.
TEST_F(PackageQueue, AFailedUpgradeOrDowngradeKeepsItsQueueMark) {
    mark("com.example.brittle", std::string("1.0"));
    ASSERT_TRUE(confirmQueue().success);
    const std::pair<std::optional<std::string>, int64_t> moves[] = {{std::nullopt, ZMRQueueOperationUpgrade},
                                                                    {std::string("0.9"), ZMRQueueOperationDowngrade}};
    for (const auto& [version, operation] : moves) {
        observed_.finished.clear();
        mark("com.example.brittle", version, operation);
        auto outcome = confirmQueue();
        ASSERT_TRUE(outcome.ran);
        EXPECT_FALSE(outcome.success) << operation;
        EXPECT_EQ(sandbox_->statusOf("com.example.brittle"), "install ok installed");
        auto brittle = record("com.example.brittle");
        EXPECT_EQ(brittle.installedVersion, "1.0") << operation;
        EXPECT_TRUE(brittle.isInTheQueue.value_or(false)) << operation;
        EXPECT_EQ(brittle.queueOperation.value_or(-1), operation);
    }
}

TEST_F(PackageQueue, PostInstallActionsAreCollectedAndCarriedOutByTheExecutor) {
    std::optional<std::set<ZMPostInstallAction>> handed;
    ZMPipelineManager::sharedManager().setPostInstallHandler([&](const std::set<ZMPostInstallAction>& a) { handed = a; });
    mark("com.example.respring");
    auto outcome = confirmQueue();
    ASSERT_TRUE(outcome.success) << outcome.message;
    ASSERT_TRUE(TestSupport::waitUntil([&] { return handed.has_value(); }));
    EXPECT_EQ(*handed, std::set<ZMPostInstallAction>{ZMPostInstallAction::Respring});
    ZMPipelineManager::sharedManager().setPostInstallHandler(nullptr);

    EXPECT_EQ(ZMPackageOperations::parsePostInstallActions("Respring, uicache reboot bogus"),
              (std::set<ZMPostInstallAction>{ZMPostInstallAction::Respring, ZMPostInstallAction::RefreshIcons,
                                             ZMPostInstallAction::Reboot}));

    // The executor: log only by default, configured commands run, reboot only when confirmed.
    auto& executor = ZMPostInstallExecutor::sharedExecutor();
    TestSupport::TempDir dir;
    std::string marker = dir.file("respring-ran"), rebootMarker = dir.file("reboot-ran");
    EXPECT_FALSE(executor.setCommand(ZMPostInstallAction::Respring, {"touch", marker}));
    std::map<ZMPostInstallAction, ZMPostInstallExecutor::Outcome> outcomes;
    offMain([&] { outcomes = executor.perform({ZMPostInstallAction::Respring}, false); });
    EXPECT_EQ(outcomes[ZMPostInstallAction::Respring], ZMPostInstallExecutor::Outcome::Logged);
    ASSERT_TRUE(executor.setCommand(ZMPostInstallAction::Respring, {"/usr/bin/touch", marker}));
    ASSERT_TRUE(executor.setCommand(ZMPostInstallAction::Reboot, {"/usr/bin/touch", rebootMarker}));
    ASSERT_TRUE(executor.setCommand(ZMPostInstallAction::RefreshIcons, {"/bin/false"}));
    offMain([&] {
        outcomes = executor.perform(
            {ZMPostInstallAction::Respring, ZMPostInstallAction::Reboot, ZMPostInstallAction::RefreshIcons}, false);
    });
    EXPECT_EQ(outcomes[ZMPostInstallAction::Respring], ZMPostInstallExecutor::Outcome::Ran);
    EXPECT_EQ(outcomes[ZMPostInstallAction::Reboot], ZMPostInstallExecutor::Outcome::AwaitingConfirmation);
    EXPECT_EQ(outcomes[ZMPostInstallAction::RefreshIcons], ZMPostInstallExecutor::Outcome::Failed);
    EXPECT_TRUE(fs::exists(marker));
    EXPECT_FALSE(fs::exists(rebootMarker));
    offMain([&] { outcomes = executor.perform({ZMPostInstallAction::Reboot}, true); });
    EXPECT_EQ(outcomes[ZMPostInstallAction::Reboot], ZMPostInstallExecutor::Outcome::Ran);
    EXPECT_TRUE(fs::exists(rebootMarker));
    for (auto a : {ZMPostInstallAction::Respring, ZMPostInstallAction::Reboot, ZMPostInstallAction::RefreshIcons})
        executor.setCommand(a, {});
}

TEST_F(PackageQueue, LocalDebInstallAndHolds) {
    observeQueueState("com.example.beta");
    auto task = ZMDebInstallTask::make(Repository::shared().archive("com.example.beta_1.1_all.deb"));
    EXPECT_EQ(task->pipelineID(), ZMPipelineZMPInstallOps);
    ASSERT_TRUE(ZMPipelineManager::sharedManager().queueTask(task));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return observed_.finished.count(task->taskID()) > 0; },
                                       std::chrono::seconds(60)));
    EXPECT_TRUE(observed_.finished[task->taskID()].value("success", false));
    EXPECT_EQ(sandbox_->statusOf("com.example.beta"), "install ok installed");
    EXPECT_TRUE(record("com.example.beta").isInstalled.value_or(false));
    EXPECT_EQ(record("com.example.beta").installedVersion, "1.1");
    EXPECT_TRUE(TestSupport::waitUntil([&] { return observed_.queueStates.count("com.example.beta") == 1; }));

    // Something that is not an archive fails, as a failure.
    TestSupport::TempDir dir;
    TestSupport::writeFile(dir.file("bogus.deb"), "not an archive");
    auto bogus = ZMDebInstallTask::make(dir.file("bogus.deb"));
    ASSERT_TRUE(ZMPipelineManager::sharedManager().queueTask(bogus));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return observed_.finished.count(bogus->taskID()) > 0; }));
    EXPECT_FALSE(observed_.finished[bogus->taskID()].value("success", true));

    // Holds go through apt-mark into the root's status and the record.
    std::optional<ZMResult<bool>> held;
    ZMPackageOperations::setHeldAsync("com.example.beta", true, [&](ZMResult<bool> r) { held = r; });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return held.has_value(); }, std::chrono::seconds(30)));
    ASSERT_TRUE(held->ok()) << held->error->detail;
    EXPECT_EQ(sandbox_->statusOf("com.example.beta"), "hold ok installed");
    EXPECT_TRUE(record("com.example.beta").isHeld.value_or(false));
    ZMResult<bool> unheld;
    offMain([&] { unheld = ZMPackageOperations::setHeld("com.example.beta", false); });
    ASSERT_TRUE(unheld.ok());
    EXPECT_EQ(sandbox_->statusOf("com.example.beta"), "install ok installed");
    EXPECT_FALSE(record("com.example.beta").isHeld.value_or(true));
    offMain([&] { EXPECT_FALSE(ZMPackageOperations::setHeld("x;rm -rf", true).ok()); });
}

TEST_F(PackageQueue, PaidBranchAndStatisticsHooksAndDownloadProgress) {
    std::map<std::string, double> progress;  // download taskID -> last progress
    bag_.add(NotificationCenter::defaultCenter().addObserver(
        ZMPipelineTaskProgressNotification, NotificationCenter::Queue::Main, [&](const Notification& n) {
            if (n.userInfo.value("pipelineID", "") == ZMPipelineDownloadOps)
                progress[n.userInfo.value("taskID", "")] = n.userInfo.value("progress", -1.0);
        }));
    std::mutex mutex;
    std::vector<std::string> counted, paidAsked;
    ZMPackageDownloadTask::setStatisticsHandler([&](const ZMPackageArchive& a) {
        std::lock_guard lock(mutex);
        counted.push_back(a.identifier + "=" + a.version);
    });
    // The store hands out its own location for the paid package; the archive
    // is still checked against the index.
    ZMPackageDownloadTask::setPaidDownloadHandler([&](const ZMPackageArchive& a, auto completion) {
        {
            std::lock_guard lock(mutex);
            paidAsked.push_back(a.identifier);
        }
        completion(Repository::shared().otherUrl() + a.archiveFileName(), std::nullopt);
    });
    auto realm = Realm::defaultRealm();
    auto beta = record("com.example.beta");
    realm->transactionWithBlock([&] { realm->setValueForKey(beta, "price", std::string("$1.99")); });

    mark("com.example.gamma");
    auto outcome = confirmQueue();
    ASSERT_TRUE(outcome.success) << outcome.message;
    EXPECT_EQ(paidAsked, std::vector<std::string>{"com.example.beta"});
    std::sort(counted.begin(), counted.end());
    EXPECT_EQ(counted, (std::vector<std::string>{"com.example.beta=1.1", "com.example.gamma=1.0"}));
    EXPECT_DOUBLE_EQ(progress["download:com.example.beta=1.1"], 1.0);
    EXPECT_DOUBLE_EQ(progress["download:com.example.gamma=1.0"], 1.0);
    EXPECT_EQ(sandbox_->statusOf("com.example.beta"), "install ok installed");
    observed_.finished.clear();

    // The payment client refusing (not purchased) fails the download and the run.
    ZMPackageDownloadTask::setPaidDownloadHandler([](const ZMPackageArchive&, auto completion) {
        completion(std::nullopt, ZMError::make(403, "not purchased"));
    });
    packages_.setPackage("com.example.beta", true, std::string("1.1"), ZMRQueueOperationReinstall);
    auto refused = confirmQueue();
    EXPECT_FALSE(refused.ran);
    ASSERT_TRUE(refused.batchFailure.has_value());
    EXPECT_EQ(refused.batchFailure->code, 403);
    EXPECT_TRUE(record("com.example.beta").isInTheQueue.value_or(false));

    ZMPackageDownloadTask::setPaidDownloadHandler(nullptr);
    ZMPackageDownloadTask::setStatisticsHandler(nullptr);
}

TEST(PackageOperations, ConsoleErrorLines) {
    EXPECT_TRUE(ZMPackageOperations::isErrorLine("E: Sub-process /usr/bin/dpkg returned an error code (1)", true));
    EXPECT_TRUE(ZMPackageOperations::isErrorLine("something the script wrote", true));
    EXPECT_FALSE(ZMPackageOperations::isErrorLine("W: Some index files failed to download", true));
    EXPECT_TRUE(ZMPackageOperations::isErrorLine("dpkg: error processing package x (--configure):", false));
    EXPECT_FALSE(ZMPackageOperations::isErrorLine("Setting up x (1.0) ...", false));
}

TEST_F(PackageQueue, ASecondConfirmationWhileTheQueueRunsIsRefused) {
    mark("com.example.beta");
    std::optional<std::pair<std::vector<ZMQueueItem>, ZMResult<ZMDryRunResult>>> resolved;
    ZMQueue::resolve([&](std::vector<ZMQueueItem> q, ZMResult<ZMDryRunResult> r) { resolved.emplace(std::move(q), std::move(r)); });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return resolved.has_value(); }, std::chrono::seconds(30)));
    ASSERT_TRUE(resolved->second.ok());
    auto run = ZMPackageQueueTask::make(resolved->first, *resolved->second.value);
    ASSERT_TRUE(ZMPipelineManager::sharedManager().queueTask(run));
    auto second = ZMQueue::confirm(resolved->first, *resolved->second.value);
    EXPECT_FALSE(second.ok());
    ASSERT_TRUE(TestSupport::waitUntil([&] { return observed_.finished.count("package.queue") > 0; },
                                       std::chrono::seconds(60)));
    EXPECT_TRUE(observed_.finished["package.queue"].value("success", false));
    EXPECT_EQ(sandbox_->statusOf("com.example.beta"), "install ok installed");
    // apt fetched the archive itself (nothing was downloaded ahead): the run does not depend on our downloads.
    EXPECT_TRUE(record("com.example.beta").isInstalled.value_or(false));
}
