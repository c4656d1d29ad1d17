// Source refresh against real flat repositories (dpkg-deb, apt-ftparchive)
// served on loopback: records, dates, new versions, vanished packages, the
// conditional path, the index copy, and bad repositories that must fail
// cleanly with the previous records kept.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <regex>
#include <thread>
#include <tuple>

#include <fmt/format.h>

#include "Categories/Data+Hashes.h"
#include "Categories/String+ZemtrixExtensions.h"
#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageManager.h"
#include "Database/ZMRPackageVersion.h"
#include "Database/ZMRSource.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMPaths.h"
#include "Notifications/NotificationCenter.h"
#include "Support/FlatRepository.h"
#include "Support/TestSupport.h"
#include "VostrellePersistentPreferences.h"
#include "ZMAPTManager.h"
#include "ZMIndexParsing.h"
#include "ZMPackageOptions.h"
#include "ZMPipelineManager.h"
#include "ZMQueue.h"
#include "ZMSourceRefresh.h"

namespace fs = std::filesystem;
using FlatRepository::Deb;

namespace {

// A snapshot of a source's records, to show that a failed refresh left them alone.
std::map<std::string, std::string> recordsOf(const std::string& location) {
    std::map<std::string, std::string> out;
    for (const auto& p : ZMRPackage::objectsWhere("sourceLocation = %@", location).toVector())
        out[p.identifier] = p.version + "|" + p.updatedDateStr + "|" + p.name;
    return out;
}

class SourceRefresh : public ::testing::Test {
protected:
    TestSupport::IsolatedEnvironment env;
    TestSupport::TempDir dir;
    std::string repo = dir.path() + "/repo";
    std::string work = dir.path() + "/work";
    std::unique_ptr<FlatRepository::FileServer> server;
    std::string location;

    void SetUp() override {
        VostrellePersistentPreferences::resetForTesting();
        ZMRPackageManager::resetForTesting();
        ZMRSources::setReachabilityHook([] { return true; });
        ZMLocalization::setLanguage("en");
        ZMSourceRefresh::setPaymentEndpointHook(nullptr);
        ZMSourceRefresh::setMaximumIndexSize(0);
        fs::create_directories(repo);
        server = std::make_unique<FlatRepository::FileServer>(repo);
        location = server->url();
        VostrellePersistentPreferences::sharedInstance().setValue(VostrellePreferenceKey::SetupDone, true);
    }
    void TearDown() override {
        // The rebuilds after a refresh post to the main thread: none may reach the next test.
        TestSupport::waitUntil([] {
            return ZMPipelineManager::sharedManager().liveTaskCount() == 0 &&
                   !ZMRPackageManager::sharedPackageManager().cachesRebuildPending();
        });
        TestSupport::pumpMainLoop(std::chrono::milliseconds(20));
        ZMSourceRefresh::setMaximumIndexSize(0);
        ZMSourceRefresh::setPaymentEndpointHook(nullptr);
        ZMRPackageManager::resetForTesting();
        ZMRSources::setReachabilityHook(nullptr);
        VostrellePersistentPreferences::resetForTesting();
    }

    void addSourceRecord(const std::string& at) {
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] {
            auto source = ZMRSource::newSourceWithLocation(at);
            realm->addOrUpdate(source);
        });
    }
    // A refresh on this thread, straight through the task's steps.
    ZMResult<ZMSourceRefreshSummary> refreshNow(const std::string& at) {
        return ZMSourceRefresh::make(at)->refresh();
    }
    // Through the collection and the pipeline, waiting for the source-updated notification.
    bool refreshThroughCollection(int* countSeen = nullptr) {
        bool updated = false;
        auto token = NotificationCenter::defaultCenter().addObserver(
            ZMRSourceUpdatedNotification, NotificationCenter::Queue::Main,
            [&](const Notification& n) {
                updated = true;
                if (countSeen) *countSeen = ZMPipelineManager::sharedManager().sourceRefreshCount();
            },
            location);
        if (!ZMRPackageManager::sharedPackageManager().sources().refreshSource(location)) return false;
        return TestSupport::waitUntil([&] { return updated; }, std::chrono::seconds(30));
    }
    ZMRPackage package(const std::string& identifier) {
        auto p = ZMRPackage::objectForPrimaryKey(identifier);
        EXPECT_TRUE(p.has_value()) << identifier;
        return p.value_or(ZMRPackage());
    }
};

TEST_F(SourceRefresh, EndToEndThroughTheCollection) {
    FlatRepository::buildDeb(work, repo, {"com.example.alpha", "0.9", "Section: Tweaks\n"});
    const std::string alphaDeb = FlatRepository::buildDeb(
        work, repo,
        {"com.example.alpha", "1.0",
         "Section: Tweaks\nName: Alpha Tweak\nDepiction: https://example.com/alpha\nsileodepiction: "
         "https://example.com/alpha.json\nIcon: https://example.com/alpha.png\nPrice: 1.99\nAuthor: Ann Author "
         "<ann@example.com>\nDepends: com.example.beta (>= 1.0), firmware\n"});
    FlatRepository::buildDeb(work, repo, {"com.example.beta", "1.0", ""});
    FlatRepository::buildDeb(work, repo, {"com.example.gamma", "1.0", "Section: Themes\n"});
    FlatRepository::buildDeb(work, repo, {"com.example.delta", "1.0", "Section: Utilities\n"});
    FlatRepository::writeIndexes(repo, "Example Repo", "Packages for the tests");
    addSourceRecord(location);

    // The pipeline's end of refresh and the idle rebuild of the caches.
    bool done = false, rebuilt = false;
    auto doneToken = NotificationCenter::defaultCenter().addObserver(
        ZMPipelineSourceRefreshComplete, NotificationCenter::Queue::Main, [&](const Notification&) { done = true; });
    auto rebuiltToken = NotificationCenter::defaultCenter().addObserver(
        ZMRDoneRebuildingPackagesCacheNotification, NotificationCenter::Queue::Main,
        [&](const Notification&) { rebuilt = true; });
    const std::string before = ZemtrixExtensions::dateMinuteString(std::chrono::system_clock::now());
    int countSeen = -1;
    ASSERT_TRUE(refreshThroughCollection(&countSeen));
    const std::string after = ZemtrixExtensions::dateMinuteString(std::chrono::system_clock::now());
    EXPECT_EQ(countSeen, 0) << "the refresh no longer counts when its notification arrives";
    ASSERT_TRUE(TestSupport::waitUntil([&] { return done && rebuilt; }));
    EXPECT_FALSE(ZMRPackageManager::sharedPackageManager().sources().isRefreshInProgress());
    auto categories = ZMRPackageManager::sharedPackageManager().packages().arrayOfPackagesCategories();
    ASSERT_TRUE(categories.has_value());
    for (const char* c : {"Default", "Themes", "Tweaks", "Utilities"})
        EXPECT_NE(std::find(categories->begin(), categories->end(), c), categories->end()) << c;

    // The first variant that exists was used, and only that one.
    EXPECT_EQ(server->count("Packages.xz"), 1u);
    EXPECT_EQ(server->count("Packages.gz"), 0u);

    auto alpha = package("com.example.alpha");
    EXPECT_EQ(alpha.version, "1.0") << "the highest version of the index";
    EXPECT_EQ(alpha.name, "Alpha Tweak");
    EXPECT_EQ(alpha.category, "Tweaks");
    EXPECT_EQ(alpha.website, "https://example.com/alpha");
    EXPECT_EQ(alpha.sileoDepiction, "https://example.com/alpha.json");
    EXPECT_EQ(alpha.iconURL, "https://example.com/alpha.png");
    EXPECT_EQ(alpha.price, "1.99");
    EXPECT_EQ(alpha.maintainer, "Test <test@example.com>");
    EXPECT_EQ(alpha.contact, "test@example.com");
    EXPECT_EQ(alpha.author, "Ann Author <ann@example.com>");
    EXPECT_EQ(alpha.dependencies, (StringList{"com.example.beta (>= 1.0)", "firmware"}));
    EXPECT_EQ(alpha.sourceLocation, location);
    EXPECT_EQ(alpha.filename, "./" + alphaDeb);
    EXPECT_EQ(alpha.sha256, DataHashes::sha256OfFile(repo + "/" + alphaDeb).value_or("?"));
    EXPECT_EQ(alpha.size, std::to_string(fs::file_size(repo + "/" + alphaDeb)));
    EXPECT_TRUE(alpha.updatedDateStr == before || alpha.updatedDateStr == after) << alpha.updatedDateStr;
    EXPECT_EQ(alpha.hasNewVersion, false);
    EXPECT_EQ(package("com.example.beta").category, "Default");
    EXPECT_EQ(package("com.example.beta").name, "com.example.beta");
    // The record carries its own version's archive; the other version of the index is a version row.
    EXPECT_EQ(ZMPackageOptions::availableVersions("com.example.alpha"), (std::vector<std::string>{"1.0", "0.9"}));
    auto older = ZMRPackageVersion::objectsWhere("identifier = %@ AND source = %@", "com.example.alpha", location);
    ASSERT_EQ(older.count(), 1u);
    EXPECT_EQ(older.firstObject()->version, "0.9");
    EXPECT_EQ(older.firstObject()->fileLocation, "./com.example.alpha_0.9_all.deb");

    auto source = ZMRSource::objectForPrimaryKey(location);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->name, "Example Repo");
    EXPECT_EQ(source->Description, "Packages for the tests");
    EXPECT_EQ(source->iconURL, location + "CydiaIcon.png");
    EXPECT_EQ(source->totalPackages, "4");
    EXPECT_EQ(source->hasErrors, false);
    EXPECT_EQ(source->hasEndpoint, false);
    EXPECT_TRUE(source->endpoint.empty());
    ASSERT_TRUE(ZemtrixExtensions::dateFromISO8601(source->regenDate)) << source->regenDate;
    EXPECT_EQ(source->regenDate.back(), 'Z');
    EXPECT_LT(std::abs(std::chrono::duration<double>(*ZemtrixExtensions::dateFromISO8601(source->regenDate) -
                                                     std::chrono::system_clock::now())
                           .count()),
              600.0);
    EXPECT_EQ(TestSupport::readFile(ZMRSources::packagesFilePath(location)), TestSupport::readFile(repo + "/Packages"));

    // Second index: alpha 2.0, beta gone, delta gone but installed, gamma unchanged.
    auto realm = Realm::defaultRealm();
    realm->transactionWithBlock([&] {
        auto gamma = *realm->objectForPrimaryKey<ZMRPackage>("com.example.gamma");
        realm->setValueForKey(gamma, "updatedDateStr", "2020-01-01 00:00");
        auto a = *realm->objectForPrimaryKey<ZMRPackage>("com.example.alpha");
        realm->setValueForKey(a, "isInWishlist", true);
        realm->setValueForKey(a, "isInstalled", true);
        realm->setValueForKey(a, "installedVersion", "1.0");
        auto d = *realm->objectForPrimaryKey<ZMRPackage>("com.example.delta");
        realm->setValueForKey(d, "isInstalled", true);
        realm->setValueForKey(d, "installedVersion", "1.0");
    });
    for (const char* gone : {"com.example.beta_1.0_all.deb", "com.example.delta_1.0_all.deb",
                             "com.example.alpha_0.9_all.deb"})
        fs::remove(repo + "/" + std::string(gone));
    FlatRepository::buildDeb(work, repo, {"com.example.alpha", "2.0", "Section: Tweaks\nName: Alpha Tweak\n"});
    FlatRepository::buildDeb(work, repo, {"com.example.epsilon", "1.0", ""});
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // a new Last-Modified second
    FlatRepository::writeIndexes(repo, "Example Repo", "Packages for the tests");
    server->clearRequests();
    // Announced as added: the package no source had, not the one whose version changed.
    nlohmann::json added;
    auto addedToken = NotificationCenter::defaultCenter().addObserver(
        ZMRSourcePackagesAddedNotification, NotificationCenter::Queue::Posting,
        [&](const Notification& n) { added = n.userInfo[ZMRPackageIdentifiersKey]; }, location);
    ASSERT_TRUE(refreshThroughCollection());
    EXPECT_EQ(added, nlohmann::json::array({"com.example.epsilon"}));

    alpha = package("com.example.alpha");
    EXPECT_EQ(alpha.version, "2.0");
    EXPECT_EQ(alpha.hasNewVersion, true);
    EXPECT_EQ(alpha.isUpdated, true) << "installed 1.0, 2.0 available";
    EXPECT_EQ(alpha.isInWishlist, true) << "the user's marks survive a refresh";
    EXPECT_FALSE(alpha.updatedDateStr.empty());
    EXPECT_NE(alpha.updatedDateStr, "2020-01-01 00:00");
    EXPECT_EQ(package("com.example.gamma").updatedDateStr, "2020-01-01 00:00") << "unchanged packages keep their date";
    EXPECT_FALSE(ZMRPackage::objectForPrimaryKey("com.example.beta")) << "gone from the index, not installed";
    auto delta = package("com.example.delta");
    EXPECT_EQ(delta.sourceLocation, "DPKG") << "gone from the index but installed";
    EXPECT_EQ(ZMRSource::objectForPrimaryKey(location)->totalPackages, "3");
    EXPECT_EQ(ZMPackageOptions::availableVersions("com.example.alpha"), (std::vector<std::string>{"2.0", "1.0"}));
    EXPECT_EQ(ZMRPackageVersion::objectsWhere("source = %@", location).count(), 1u) << "alpha 1.0 beside the record's 2.0";

    // Nothing changed: Release and the index answer 304 and the records stay.
    server->clearRequests();
    auto snapshot = recordsOf(location);
    auto unchanged = refreshNow(location);
    ASSERT_TRUE(unchanged) << unchanged.error->debugDescription();
    EXPECT_TRUE(unchanged.value->unchanged);
    std::vector<int> statuses;
    for (const auto& r : server->requests()) statuses.push_back(r.status);
    EXPECT_EQ(statuses, (std::vector<int>{304, 304})) << "Release and Packages.xz, both conditional";
    EXPECT_EQ(recordsOf(location), snapshot);
    EXPECT_EQ(ZMRSource::objectForPrimaryKey(location)->hasErrors, false);
}

// When every source answers "not modified", nothing built from the records
// or from apt's lists is built again, and apt's files are left as they were.
TEST_F(SourceRefresh, AnUnchangedRefreshRebuildsNothing) {
    FlatRepository::writeIndexesForText(repo, "Package: com.example.same\nVersion: 1.0\n");
    ASSERT_TRUE(ZMAPTManager::prepareTree());
    addSourceRecord(location);
    int rebuilds = 0;
    std::vector<std::string> finished;
    auto rebuiltToken = NotificationCenter::defaultCenter().addObserver(
        ZMRDoneRebuildingPackagesCacheNotification, NotificationCenter::Queue::Main, [&](const Notification&) { ++rebuilds; });
    auto finishedToken = NotificationCenter::defaultCenter().addObserver(
        ZMPipelineTaskFinishedNotification, NotificationCenter::Queue::Main,
        [&](const Notification& n) { finished.push_back(n.userInfo.value("pipelineID", "")); });
    auto& manager = ZMRPackageManager::sharedPackageManager();
    auto settled = [&] {
        return TestSupport::waitUntil([&] {
            return ZMPipelineManager::sharedManager().liveTaskCount() == 0 && !manager.cachesRebuildPending();
        });
    };
    ASSERT_TRUE(refreshThroughCollection());
    ASSERT_TRUE(settled());
    TestSupport::pumpMainLoop(std::chrono::milliseconds(100));
    EXPECT_EQ(rebuilds, 1);
    EXPECT_EQ(std::count(finished.begin(), finished.end(), ZMPipelineCacheOps), 1) << "apt's caches";
    const std::string prefix = ZMAPTManager::treePath() + "/var/lib/apt/lists/" + ZMAPTManager::listFilePrefix(location);
    const auto listTime = fs::last_write_time(prefix + "Packages"), releaseTime = fs::last_write_time(prefix + "Release");
    const auto sourcesTime = fs::last_write_time(ZMAPTManager::treePath() + "/etc/apt/sources.list");

    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    server->clearRequests();
    ASSERT_TRUE(refreshThroughCollection());
    ASSERT_TRUE(settled());
    TestSupport::pumpMainLoop(std::chrono::milliseconds(100));
    EXPECT_EQ(server->count("Packages.xz"), 1u);
    EXPECT_EQ(server->requests().back().status, 304);
    EXPECT_EQ(rebuilds, 1) << "no rebuild for a refresh that changed nothing";
    EXPECT_EQ(std::count(finished.begin(), finished.end(), ZMPipelineCacheOps), 1);
    EXPECT_EQ(fs::last_write_time(prefix + "Packages"), listTime);
    EXPECT_EQ(fs::last_write_time(prefix + "Release"), releaseTime);
    EXPECT_EQ(fs::last_write_time(ZMAPTManager::treePath() + "/etc/apt/sources.list"), sourcesTime);
}

// Validators stored along lists written another way (by an older program, or
// without a format at all) vouch for lists that are not ours: the next refresh
// fetches everything unconditionally, and the one after may be answered 304.
TEST_F(SourceRefresh, ValidatorsOfAnOlderListsFormatAreNotTrusted) {
    FlatRepository::writeIndexesForText(repo, "Package: com.example.same\nVersion: 1.0\n");
    addSourceRecord(location);
    ASSERT_TRUE(refreshNow(location));
    const auto current = nlohmann::json::parse(ZMRSource::objectForPrimaryKey(location)->httpValidators);
    ASSERT_TRUE(current.contains("format"));
    for (const std::optional<int> format : {std::optional<int>(), std::optional<int>(1)}) {
        const std::string what = format ? "format " + std::to_string(*format) : "no format";
        nlohmann::json stored = current;
        if (format) stored["format"] = *format;
        else stored.erase("format");
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] {
            auto source = realm->objectForPrimaryKey<ZMRSource>(location);
            source->httpValidators = stored.dump();
            realm->addOrUpdate(*source);
        });
        server->clearRequests();
        auto full = refreshNow(location);
        ASSERT_TRUE(full) << what << ": " << full.error->debugDescription();
        EXPECT_FALSE(full.value->unchanged) << what;
        for (const auto& request : server->requests()) {
            if (request.path.find("Release") == std::string::npos && request.path.find("Packages") == std::string::npos)
                continue;
            EXPECT_EQ(request.status, 200) << what << ": " << request.path;
            EXPECT_FALSE(request.headers.count("If-None-Match") || request.headers.count("If-Modified-Since"))
                << what << ": " << request.path;
        }
        auto again = refreshNow(location);
        ASSERT_TRUE(again) << what;
        EXPECT_TRUE(again.value->unchanged) << what << ": the lists are ours again";
    }
}

TEST_F(SourceRefresh, ThePaymentHookAnswerIsStoredAndTheIndexGoesToTheAPTTree) {
    FlatRepository::buildDeb(work, repo, {"com.example.alpha", "1.0", ""});
    FlatRepository::writeIndexes(repo);
    ASSERT_TRUE(ZMAPTManager::prepareTree());
    addSourceRecord(location);
    // Only a definitive answer changes the stored endpoint; Keep (a failed or
    // late answer) leaves what the source had.
    using Change = ZMSourceRefresh::PaymentEndpoint::Change;
    Change change = Change::Set;
    ZMSourceRefresh::setPaymentEndpointHook([&change](const std::string& at, auto completion) {
        completion({change, change == Change::Set ? at + "payment/" : std::string("ignored")});
    });
    for (auto [answer, has, endpoint] : {std::tuple{Change::Set, true, location + "payment/"},
                                         std::tuple{Change::Keep, true, location + "payment/"},
                                         std::tuple{Change::Clear, false, std::string()}}) {
        change = answer;
        auto result = refreshNow(location);
        ASSERT_TRUE(result) << result.error->debugDescription();
        auto source = ZMRSource::objectForPrimaryKey(location);
        EXPECT_EQ(source->hasEndpoint, has);
        EXPECT_EQ(source->endpoint, endpoint);
    }

    // apt reads the same index without downloading it again; of the Release,
    // only the fields apt reads (no digests of files it is not given).
    const std::string prefix = ZMAPTManager::treePath() + "/var/lib/apt/lists/" + ZMAPTManager::listFilePrefix(location);
    EXPECT_EQ(TestSupport::readFile(prefix + "Packages"), TestSupport::readFile(repo + "/Packages"));
    EXPECT_EQ(TestSupport::readFile(prefix + "Release").rfind("Origin: Test Origin\nLabel: Test Origin\nDate: ", 0), 0u);
    EXPECT_EQ(TestSupport::readFile(prefix + "Release").find("SHA256"), std::string::npos);
    EXPECT_NE(TestSupport::readFile(ZMAPTManager::treePath() + "/etc/apt/sources.list").find(location),
              std::string::npos);
    ZMResult<ZMDryRunResult> dry;
    std::thread([&] { dry = ZMAPTManager::dryRun({{"com.example.alpha", ZMQueueOperation::Install, ""}}); }).join();
    ASSERT_TRUE(dry) << dry.error->debugDescription();
    EXPECT_TRUE(dry.value->unmetDependencies.empty());
    ASSERT_EQ(dry.value->allPackagesToInstall.size(), 1u);
    EXPECT_EQ(dry.value->allPackagesToInstall[0].identifier, "com.example.alpha");
}

TEST_F(SourceRefresh, ACommercialTagMakesAPackageOfAStoreSourcePaid) {
    // Real paid repositories tag their paid packages instead of giving a Price.
    FlatRepository::writeIndexesForText(repo,
                                        "Package: com.example.tagged\nVersion: 1.0\nTag: role::developer, cydia::commercial\n\n"
                                        "Package: com.example.onlytag\nVersion: 1.0\nTag: cydia::commercial\n\n"
                                        "Package: com.example.untagged\nVersion: 1.0\nTag: role::developer, purpose::extension\n\n"
                                        "Package: com.example.lookalike\nVersion: 1.0\nTag: cydia::commercially-free\n\n"
                                        "Package: com.example.priced\nVersion: 1.0\nPrice: $2.00\n");
    addSourceRecord(location);
    using Change = ZMSourceRefresh::PaymentEndpoint::Change;
    bool store = true;
    ZMSourceRefresh::setPaymentEndpointHook([&store](const std::string& at, auto completion) {
        completion({store ? Change::Set : Change::Clear, store ? at + "payment/" : std::string()});
    });
    for (bool withStore : {true, false}) {
        store = withStore;
        auto result = refreshNow(location);
        ASSERT_TRUE(result) << result.error->debugDescription();
        struct Expected {
            const char* identifier;
            bool free;
        };
        for (const auto& e : std::vector<Expected>{{"com.example.tagged", !withStore},
                                                   {"com.example.onlytag", !withStore},
                                                   {"com.example.untagged", true},
                                                   {"com.example.lookalike", true},
                                                   {"com.example.priced", false}}) {
            EXPECT_EQ(package(e.identifier).isFree(), e.free) << e.identifier << (withStore ? " with" : " without") << " a store";
            EXPECT_EQ(package(e.identifier).snapshotDictionary()["isFree"], e.free) << e.identifier;
        }
    }
}

// A hostile source beside a clean one: apt is given only what the refresh
// accepted, so nothing the hostile source serves can break apt for everyone,
// shadow the clean source's package, or reach the screens unchecked.
TEST_F(SourceRefresh, AHostileSourceChangesNothingForACleanOne) {
    FlatRepository::buildDeb(work, repo, {"clean-pkg", "1.0", ""});
    FlatRepository::writeIndexes(repo, "Clean");
    TestSupport::TempDir hostileDir;
    FlatRepository::FileServer hostile(hostileDir.path());
    const std::string big(4u << 20, 'x');
    FlatRepository::writeIndexesForText(
        hostileDir.path(),
        "Package: hostile-ok\nVersion: 1.0\nArchitecture: all\n\n"
        "Version: 1.0\nDescription: no Package field\n\n"
        "Package: big-pkg\nVersion: 1.0\nArchitecture: all\nX-Big: " + big + "\n\n"
        "Package: CLEAN-PKG\nVersion: 99.0\nArchitecture: all\nFilename: ./clean-pkg_1.0_all.deb\n\n"
        "Package: decoy\nPackage: clean-pkg\nVersion: 98.0\nArchitecture: all\n\n"
        "#comment\nPackage: clean-pkg\nVersion: 97.0\nArchitecture: all\n\n"
        "Package: spaced\nbroken line\nVersion: 1.0\n");
    TestSupport::writeFile(hostileDir.path() + "/Release", "Origin: " + std::string(64u << 10, 'o') + "\nLabel: L\n");
    ASSERT_TRUE(ZMAPTManager::prepareTree());
    addSourceRecord(location);
    addSourceRecord(hostile.url());
    ASSERT_TRUE(refreshNow(location));
    auto refreshed = refreshNow(hostile.url());
    ASSERT_TRUE(refreshed) << refreshed.error->debugDescription();
    EXPECT_EQ(refreshed.value->packages, 1u);
    EXPECT_EQ(refreshed.value->skipped, 6u);
    EXPECT_EQ(ZMRSource::objectForPrimaryKey(hostile.url())->name, std::string(256, 'o')) << "names are capped";

    auto clean = package("clean-pkg");
    EXPECT_EQ(clean.version, "1.0");
    EXPECT_EQ(clean.sourceLocation, location);
    const std::string lists = ZMAPTManager::treePath() + "/var/lib/apt/lists/" + ZMAPTManager::listFilePrefix(hostile.url());
    EXPECT_EQ(TestSupport::readFile(lists + "Packages"), "Package: hostile-ok\nVersion: 1.0\nArchitecture: all\n\n");

    // apt reads every list, resolves and installs the version the record shows.
    auto realm = Realm::defaultRealm();
    ZMRPackageManager::sharedPackageManager().packages().setPackage("clean-pkg", true, std::nullopt, 0);
    const auto queue = ZMQueue::queueItems();
    ASSERT_EQ(queue.size(), 1u);
    EXPECT_EQ(queue[0].version, "1.0") << "apt is asked for the version shown";
    ZMResult<ZMCommandOutput> caches, installed;
    ZMResult<ZMDryRunResult> dry;
    std::thread([&] {
        caches = ZMAPTManager::rebuildCaches();
        dry = ZMAPTManager::dryRun(queue);
        installed = ZMAPTManager::installQueue(queue);
    }).join();
    ASSERT_TRUE(caches) << caches.error->detail;
    ASSERT_TRUE(dry) << dry.error->detail;
    ASSERT_EQ(dry.value->allPackagesToInstall.size(), 1u);
    EXPECT_EQ(dry.value->allPackagesToInstall[0].version, "1.0");
    ASSERT_TRUE(installed) << installed.error->detail;
    const std::string status = TestSupport::readFile(env.targetRoot() + "/var/lib/dpkg/status");
    EXPECT_NE(status.find("Package: clean-pkg\nStatus: install ok installed\n"), std::string::npos) << status;
    EXPECT_NE(status.find("Version: 1.0\n"), std::string::npos) << status;

    // A Release of megabytes is the source's error; what apt had stays.
    TestSupport::writeFile(hostileDir.path() + "/Release", "Origin: " + std::string(15u << 20, 'o') + "\n");
    auto huge = refreshNow(hostile.url());
    ASSERT_FALSE(huge);
    EXPECT_EQ(huge.error->code, ZMError::InvalidServerData);
    EXPECT_NE(huge.error->localizedDescription().find("size limit"), std::string::npos) << huge.error->localizedDescription();
    EXPECT_EQ(ZMRSource::objectForPrimaryKey(hostile.url())->name.size(), 256u);
    std::thread([&] { dry = ZMAPTManager::dryRun({{"clean-pkg", ZMQueueOperation::Reinstall, "1.0"}}); }).join();
    ASSERT_TRUE(dry) << dry.error->detail;
    EXPECT_TRUE(dry.value->unmetDependencies.empty());
}

// As apt does, the refresh asks for a variant the Release lists, not for
// every variant in turn until one answers.
TEST_F(SourceRefresh, TheReleaseSaysWhichVariantToFetch) {
    FlatRepository::writeIndexesForText(repo, "Package: com.example.listed\nVersion: 1.0\n");
    for (const char* v : {"Packages.xz", "Packages.lzma", "Packages.bz2"}) fs::remove(repo + "/" + v);
    TestSupport::writeFile(repo + "/Release", "Origin: Listed\nSHA256:\n " + std::string(64, 'a') + " 10 Packages\n " +
                                                  std::string(64, 'b') + " 20 Packages.gz\n");
    addSourceRecord(location);
    auto result = refreshNow(location);
    ASSERT_TRUE(result) << result.error->debugDescription();
    EXPECT_EQ(result.value->variant, "Packages.gz");
    for (const char* v : {"Packages.xz", "Packages.lzma", "Packages.bz2"}) EXPECT_EQ(server->count(v), 0u) << v;
}

// A Packages.gz that its server padded with zero bytes refreshes as its text;
// with garbage after the padding it fails as damaged.
TEST_F(SourceRefresh, AZeroPaddedGzipIndexRefreshes) {
    FlatRepository::writeIndexesForText(repo, "Package: com.example.padded\nVersion: 1.0\nName: Padded\n");
    for (const char* v : {"Packages.xz", "Packages.lzma", "Packages.bz2", "Packages"}) fs::remove(repo + "/" + v);
    const std::string gz = TestSupport::readFile(repo + "/Packages.gz");
    addSourceRecord(location);
    TestSupport::writeFile(repo + "/Packages.gz", gz + std::string(4096, '\0'));
    auto padded = refreshNow(location);
    ASSERT_TRUE(padded) << padded.error->debugDescription();
    EXPECT_EQ(padded.value->variant, "Packages.gz");
    EXPECT_EQ(package("com.example.padded").name, "Padded");

    TestSupport::writeFile(repo + "/Packages.gz", gz + std::string(4096, '\0') + "<html>");
    auto damaged = refreshNow(location);
    ASSERT_FALSE(damaged);
    EXPECT_EQ(damaged.error->code, ZMError::DecompressionFailed) << damaged.error->detail;
}

TEST_F(SourceRefresh, BadStanzasAreSkippedAndTheRestIsStored) {
    const std::string host = ZMAPTManager::hostArchitecture();
    const std::string foreign = host == "arm64" ? "amd64" : "arm64";
    FlatRepository::writeIndexesForText(repo,
                                        "Package: com.example.good\nVersion: 1.0\nArchitecture: all\n\n"
                                        "Version: 1.0\nArchitecture: all\nDescription: no Package field\n\n"
                                        "Package: x;rm -rf\nVersion: 1.0\nArchitecture: all\n\n"
                                        "Package: com.example.newline\nVersion: 1.0\n evil\nArchitecture: all\n\n"
                                        "Package: Com.Example.Upper\nVersion: 1.0\n\n"
                                        "Package: com.example.foreign\nVersion: 1.0\nArchitecture: " + foreign + "\n\n"
                                        "Package: com.example.native\nVersion: 2:1.0~rc1-3\nArchitecture: " + host + "\n\n"
                                        "Package: com.example.nosection\r\nVersion: 0.5\r\nDescription: crlf\r\n");
    addSourceRecord(location);
    auto result = refreshNow(location);
    ASSERT_TRUE(result) << result.error->debugDescription();
    EXPECT_EQ(result.value->skipped, 5u);
    EXPECT_EQ(result.value->packages, 3u);
    EXPECT_TRUE(ZMRPackage::objectForPrimaryKey("com.example.good"));
    EXPECT_EQ(package("com.example.native").version, "2:1.0~rc1-3");
    EXPECT_EQ(package("com.example.nosection").version, "0.5");
    for (const char* refused : {"x;rm -rf", "com.example.newline", "Com.Example.Upper", "com.example.foreign"})
        EXPECT_FALSE(ZMRPackage::objectForPrimaryKey(refused)) << refused;
    EXPECT_EQ(ZMRPackageVersion::objectsWhere("source = %@", location).count(), 0u) << "one version each";
}

// An index of several megabytes is cut into pieces that are parsed apart: no
// stanza may be split, lost or mixed with its neighbour, whatever separates
// the stanzas, and the order of the index still decides between versions.
TEST_F(SourceRefresh, ALargeIndexIsParsedInPiecesInItsOwnOrder) {
    constexpr int kCount = 6000;
    const std::string filler(400, 'x');
    std::string text;
    auto stanza = [&](const std::string& id, const std::string& version, const std::string& description) {
        return "Package: " + id + "\nVersion: " + version + "\nArchitecture: all\nDescription: " + description +
               "\n " + filler + "\n";
    };
    text += stanza("com.example.dup", "1.0", "first") + "\n";
    for (int i = 0; i < kCount; ++i) {
        const std::string id = fmt::format("com.example.p{:05}", i);
        if (i % 997 == 5) {
            // A stanza with CRLF line ends, then a separator line of blanks.
            text += "Package: " + id + "\r\nVersion: 1." + std::to_string(i) + "\r\nDescription: crlf " + id +
                    "\r\n\r\n";
            continue;
        }
        text += stanza(id, "1." + std::to_string(i), "about " + id);
        text += i % 3 == 0 ? "\n \t\n" : "\n";
        if (i == kCount / 2) text += stanza("com.example.dup", "3.0", "middle") + "\n";
    }
    text += stanza("com.example.dup", "2.0", "last");
    ASSERT_GT(text.size(), 2u << 20);
    FlatRepository::writeIndexesForText(repo, text);
    addSourceRecord(location);
    auto result = refreshNow(location);
    ASSERT_TRUE(result) << result.error->debugDescription();
    EXPECT_EQ(result.value->packages, size_t(kCount + 1));
    EXPECT_EQ(result.value->skipped, 0u);
    EXPECT_EQ(ZMRPackage::objectsWhere("").count(), size_t(kCount + 1));
    for (int i : {0, 1, 5, 1002, 2999, 3000, 3001, 4991, kCount - 1}) {
        const std::string id = fmt::format("com.example.p{:05}", i);
        auto p = package(id);
        EXPECT_EQ(p.version, "1." + std::to_string(i)) << id;
        EXPECT_EQ(p.Description, (i % 997 == 5 ? "crlf " : "about ") + id);
    }
    EXPECT_EQ(package("com.example.dup").version, "3.0");
    EXPECT_EQ(package("com.example.dup").Description, "middle");
    EXPECT_EQ(ZMPackageOptions::availableVersions("com.example.dup"), (std::vector<std::string>{"3.0", "2.0", "1.0"}));

    // Binary data far into the next index: refused as a whole, the records stay as they were.
    const auto before = recordsOf(location);
    std::string poisoned = text;
    poisoned.insert(poisoned.size() - 1000, std::string("\0\x01\x02", 3));
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // a new Last-Modified second
    FlatRepository::writeIndexesForText(repo, poisoned);
    auto refused = refreshNow(location);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error->code, ZMError::InvalidServerData) << refused.error->detail;
    EXPECT_EQ(recordsOf(location), before);
}

TEST_F(SourceRefresh, TheHighestVersionAmongSourcesOwnsTheRecord) {
    TestSupport::TempDir otherDir;
    FlatRepository::FileServer other(otherDir.path());
    FlatRepository::writeIndexesForText(repo, "Package: com.example.shared\nVersion: 1.0\nName: Low\n");
    FlatRepository::writeIndexesForText(otherDir.path(), "Package: com.example.shared\nVersion: 2.0\nName: High\n");
    addSourceRecord(location);
    addSourceRecord(other.url());
    ASSERT_TRUE(refreshNow(location));
    EXPECT_EQ(package("com.example.shared").sourceLocation, location);
    ASSERT_TRUE(refreshNow(other.url()));
    EXPECT_EQ(package("com.example.shared").version, "2.0");
    EXPECT_EQ(package("com.example.shared").hasNewVersion, true);
    FlatRepository::writeIndexesForText(repo, "Package: com.example.shared\nVersion: 1.0\nName: Low\n\n"
                                              "Package: com.example.own\nVersion: 1.0\n");
    auto lower = refreshNow(location);
    ASSERT_TRUE(lower);
    EXPECT_EQ(lower.value->superseded, 1u);
    EXPECT_EQ(package("com.example.shared").sourceLocation, other.url()) << "a lower version does not take it back";
    EXPECT_EQ(package("com.example.shared").name, "High");
    EXPECT_EQ(ZMPackageOptions::availableVersions("com.example.shared"), (std::vector<std::string>{"2.0", "1.0"}));
    auto low = ZMRPackageVersion::objectsWhere("identifier = %@", "com.example.shared");
    ASSERT_EQ(low.count(), 1u);
    EXPECT_EQ(low.firstObject()->source, location);
}

TEST_F(SourceRefresh, FailuresKeepThePreviousRecordsAndMarkTheSource) {
    FlatRepository::buildDeb(work, repo, {"com.example.alpha", "1.0", ""});
    FlatRepository::buildDeb(work, repo, {"com.example.beta", "1.0", ""});
    FlatRepository::writeIndexes(repo);
    addSourceRecord(location);
    ASSERT_TRUE(refreshNow(location));
    const auto good = recordsOf(location);
    ASSERT_EQ(good.size(), 2u);
    const std::string copy = TestSupport::readFile(ZMRSources::packagesFilePath(location));

    auto expectFailure = [&](const char* what, int code) {
        auto result = refreshNow(location);
        ASSERT_FALSE(result) << what;
        EXPECT_EQ(result.error->domain, ZMError::kDomain) << what;
        EXPECT_EQ(result.error->code, code) << what << ": " << result.error->detail;
        EXPECT_EQ(recordsOf(location), good) << what;
        EXPECT_EQ(ZMRSource::objectForPrimaryKey(location)->hasErrors, true) << what;
        EXPECT_EQ(TestSupport::readFile(ZMRSources::packagesFilePath(location)), copy) << what;
    };
    const std::string xz = TestSupport::readFile(repo + "/Packages.xz");

    // A truncated archive.
    TestSupport::writeFile(repo + "/Packages.xz", xz.substr(0, xz.size() / 2));
    expectFailure("truncated xz", ZMError::DecompressionFailed);
    // Garbage behind a gzip magic, every other variant missing.
    FlatRepository::removeIndexes(repo);
    FlatRepository::writeIndexes(repo);
    for (const char* v : {"Packages.xz", "Packages.lzma", "Packages.bz2", "Packages"}) fs::remove(repo + "/" + v);
    TestSupport::writeFile(repo + "/Packages.gz", std::string("\x1f\x8b\x08\x00garbage garbage garbage", 28));
    expectFailure("corrupt gzip", ZMError::DecompressionFailed);
    // No index at all.
    fs::remove(repo + "/Packages.gz");
    server->clearRequests();
    expectFailure("404 on every variant", ZMError::InvalidServerData);
    for (const auto& variant : ZMSourceRefresh::packagesVariants())
        EXPECT_EQ(server->count(variant), 1u) << variant;
    // Binary garbage as a plain index.
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>((i * 7919) & 0xFF));
    TestSupport::writeFile(repo + "/Packages", binary);
    expectFailure("binary garbage", ZMError::InvalidServerData);
    // Text that holds no package at all.
    TestSupport::writeFile(repo + "/Packages", "<html><body>Not here: try later</body></html>\n");
    expectFailure("an HTML page", ZMError::InvalidServerData);
    // An index over the size limit.
    FlatRepository::writeIndexes(repo);
    const auto packed = fs::file_size(repo + "/Packages.xz"), plain = fs::file_size(repo + "/Packages");
    ASSERT_LT(packed, plain);
    ZMSourceRefresh::setMaximumIndexSize((packed + plain) / 2);
    expectFailure("decompressed over the size limit", ZMError::DecompressionFailed);
    ZMSourceRefresh::setMaximumIndexSize(packed / 2);
    expectFailure("download over the size limit", ZMError::InvalidServerData);
    ZMSourceRefresh::setMaximumIndexSize(0);
    // No Release.
    fs::remove(repo + "/Release");
    expectFailure("no Release", ZMError::InvalidServerData);
    FlatRepository::writeIndexes(repo);

    // An unreachable server.
    int port;
    {
        FlatRepository::FileServer closed(repo);
        port = std::stoi(closed.url().substr(17));
    }
    const std::string gone = "http://127.0.0.1:" + std::to_string(port) + "/";
    addSourceRecord(gone);
    TestSupport::StderrCapture log;
    auto unreachable = refreshNow(gone);
    EXPECT_NE(log.text().find("http://127.0.0.1:" + std::to_string(port) + "/Release failed"), std::string::npos);
    ASSERT_FALSE(unreachable);
    EXPECT_EQ(unreachable.error->code, ZMError::NoNetwork);
    // Said as what happened, with the address and its port.
    EXPECT_EQ(unreachable.error->localizedDescription(), "127.0.0.1:" + std::to_string(port) + " refused the connection.");
    // A redirect to a local file is refused, and said so.
    server->route("Release", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("file:///etc/passwd"); });
    auto redirected = refreshNow(location);
    ASSERT_FALSE(redirected);
    EXPECT_NE(redirected.error->localizedDescription().find("not http or https"), std::string::npos)
        << redirected.error->localizedDescription();
    server->route("Release", nullptr);

    // And the good index again: the source recovers.
    auto recovered = refreshNow(location);
    ASSERT_TRUE(recovered) << recovered.error->debugDescription();
    EXPECT_FALSE(recovered.value->unchanged) << "validators of a failed source are not trusted";
    EXPECT_EQ(ZMRSource::objectForPrimaryKey(location)->hasErrors, false);
}

TEST_F(SourceRefresh, AFailedTaskIsReportedAsAFailureWithItsError) {
    TestSupport::writeFile(repo + "/Release", "Origin: Broken\n");
    TestSupport::writeFile(repo + "/Packages.bz2", "BZh9 this is not bzip2 at all");
    addSourceRecord(location);
    std::optional<nlohmann::json> finished;
    auto token = NotificationCenter::defaultCenter().addObserver(
        ZMPipelineTaskFinishedNotification, NotificationCenter::Queue::Main,
        [&](const Notification& n) {
            if (n.userInfo.value("taskID", "") == ZMSourceRefresh::taskIDForLocation(location)) finished = n.userInfo;
        });
    bool updated = false;
    auto updatedToken = NotificationCenter::defaultCenter().addObserver(
        ZMRSourceUpdatedNotification, NotificationCenter::Queue::Main, [&](const Notification&) { updated = true; },
        location);
    ASSERT_TRUE(ZMRPackageManager::sharedPackageManager().sources().refreshSource(location));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return finished.has_value() && updated; }, std::chrono::seconds(30)));
    EXPECT_EQ((*finished)["success"], false);
    EXPECT_EQ((*finished)["error"]["code"], ZMError::DecompressionFailed);
    EXPECT_EQ((*finished)["error"]["domain"], ZMError::kDomain);
    EXPECT_EQ(ZMRSource::objectForPrimaryKey(location)->hasErrors, true);
}


// ---- ties between sources, and indexes that list nothing -----------------------------------

// The record belongs to the source with the highest version; a tie leaves it
// with the source that had it, whichever of the two refreshes again, and the
// same goes for a package listed twice in one index.
TEST_F(SourceRefresh, AnEqualVersionElsewhereDoesNotTakeTheRecordOver) {
    TestSupport::TempDir otherDir;
    FlatRepository::FileServer other(otherDir.path());
    struct Case {
        const char* first;
        const char* second;
        bool secondOwns;
    };
    const Case cases[] = {
        {"1.0", "1.0", false},       {"2:1.0", "2:1.0", false}, {"1.0-1", "1.0-1", false},
        {"2:1.0", "1:9.0", false},   {"1.0", "0.9", false},     {"1.0", "1.0~beta", false},
        {"1.0", "1.0+1", true},      {"1.0~beta", "1.0", true}, {"1:0.1", "2:0.1", true},
    };
    std::string firstIndex, secondIndex;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string id = "com.example.tie" + std::to_string(i);
        firstIndex += "Package: " + id + "\nVersion: " + cases[i].first + "\nArchitecture: all\nName: First\n\n";
        secondIndex += "Package: " + id + "\nVersion: " + cases[i].second + "\nArchitecture: all\nName: Second\n\n";
    }
    // Listed twice in one index at one version: the first stanza stands.
    firstIndex += "Package: com.example.twice\nVersion: 1.0\nArchitecture: all\nName: Earlier\n\n"
                  "Package: com.example.twice\nVersion: 1.0\nArchitecture: all\nName: Later\n";
    FlatRepository::writeIndexesForText(repo, firstIndex);
    FlatRepository::writeIndexesForText(otherDir.path(), secondIndex);
    addSourceRecord(location);
    addSourceRecord(other.url());
    ASSERT_TRUE(refreshNow(location));
    for (const auto& [order, at] : {std::pair{"second after first", other.url()}, std::pair{"second again", other.url()},
                                    std::pair{"first again", location}}) {
        auto result = refreshNow(at);
        ASSERT_TRUE(result) << order << ": " << result.error->debugDescription();
        for (size_t i = 0; i < std::size(cases); ++i) {
            const auto p = package("com.example.tie" + std::to_string(i));
            const auto& c = cases[i];
            EXPECT_EQ(p.sourceLocation, c.secondOwns ? other.url() : location) << order << ": " << c.first << " vs " << c.second;
            EXPECT_EQ(p.name, c.secondOwns ? "Second" : "First") << order << ": " << c.first << " vs " << c.second;
            EXPECT_EQ(p.version, c.secondOwns ? c.second : c.first) << order;
        }
        EXPECT_EQ(package("com.example.twice").name, "Earlier") << order;
    }
}

// An index of nothing but blank lines is an empty repository: the refresh
// succeeds and the source's packages are gone. So is one that lists only
// packages built for another architecture, however many pieces the parsing
// takes it in: the log says what they were for, and the source is not broken.
// Text without a package is not.
TEST_F(SourceRefresh, AnIndexOfBlanksIsAnEmptyRepository) {
    addSourceRecord(location);
    const std::string host = ZMAPTManager::hostArchitecture();
    const std::string foreign = host == "arm64" ? "amd64" : "arm64";
    auto foreignOnly = [&](size_t count) {
        std::string text;
        for (size_t i = 0; i < count; ++i)
            text += fmt::format("Package: com.example.elsewhere{}\nVersion: 1.0\nArchitecture: {}\nDescription: x\n {}\n\n", i,
                                foreign, std::string(200, 'x'));
        return text;
    };
    struct Case {
        std::string index;
        size_t foreignStanzas;
    };
    const std::vector<Case> indexes = {{"", 0}, {"\n", 0}, {"\n\n\n", 0}, {" ", 0}, {" \t\r\n \n\t\n", 0}, {"\r\n\r\n", 0},
                                       {std::string(100000, '\n'), 0}, {foreignOnly(1), 1}, {foreignOnly(4000), 4000}};
    ASSERT_GT(indexes.back().index.size(), 3 * ZMIndexParsing::kPiece);
    for (const auto& [blanks, foreignStanzas] : indexes) {
        std::string shown = std::to_string(blanks.size()) + " bytes: ";
        for (char c : blanks.substr(0, 12)) shown += c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : std::string(1, c);
        FlatRepository::writeIndexesForText(repo, "Package: com.example.listed\nVersion: 1.0\nArchitecture: all\n");
        ASSERT_TRUE(refreshNow(location)) << shown;
        ASSERT_TRUE(ZMRPackage::objectForPrimaryKey("com.example.listed")) << shown;
        FlatRepository::writeIndexesForText(repo, blanks);
        TestSupport::StderrCapture log;
        auto result = refreshNow(location);
        ASSERT_TRUE(result) << "[" << shown << "] " << result.error->debugDescription();
        EXPECT_EQ(result.value->packages, 0u) << shown;
        EXPECT_EQ(result.value->removed, 1u) << shown;
        EXPECT_EQ(result.value->skipped, foreignStanzas) << shown;
        EXPECT_FALSE(ZMRPackage::objectForPrimaryKey("com.example.listed")) << shown;
        EXPECT_EQ(ZMRSource::objectForPrimaryKey(location)->hasErrors, false) << shown;
        EXPECT_EQ(ZMRSource::objectForPrimaryKey(location)->totalPackages, "0") << shown;
        if (foreignStanzas > 0) {
            // Pieces are checked at once, so whichever stanza comes first is the one logged.
            EXPECT_TRUE(std::regex_search(log.text(), std::regex("com\\.example\\.elsewhere[0-9]+ is for " + foreign)))
                << shown;
        }
    }
    for (const char* text : {"x", " \n\nnot a field\n\n", "\n\nPackage\n"}) {
        FlatRepository::writeIndexesForText(repo, text);
        auto refused = refreshNow(location);
        ASSERT_FALSE(refused) << text;
        EXPECT_EQ(refused.error->code, ZMError::InvalidServerData) << text;
    }
}


// The source is named by its Release's Origin, else by its Label.
TEST_F(SourceRefresh, TheReleaseOriginElseItsLabelNamesTheSource) {
    FlatRepository::writeIndexesForText(repo, "Package: com.example.named\nVersion: 1.0\nArchitecture: all\n");
    addSourceRecord(location);
    for (const auto& [release, name] : {std::pair{"Origin: By Origin\nLabel: By Label\n", "By Origin"},
                                        std::pair{"Label: Only A Label\nSuite: stable\n", "Only A Label"},
                                        std::pair{"Origin:\nLabel: Empty Origin\n", "Empty Origin"}}) {
        TestSupport::writeFile(repo + "/Release", release);
        auto result = refreshNow(location);
        ASSERT_TRUE(result) << release << result.error->debugDescription();
        EXPECT_EQ(ZMRSource::objectForPrimaryKey(location)->name, name) << release;
    }
}

}  // namespace
