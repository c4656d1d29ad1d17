// Many sources refreshed at once through the collection and the pipeline,
// some of them failing half-way: the others end exactly as their indexes
// say, the failing ones keep what they had (records, list copy, apt's list),
// and a package two sources list is one record, owned by the higher version,
// with the other version on offer.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include <fmt/format.h>

#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageManager.h"
#include "Database/ZMRPackageVersion.h"
#include "Database/ZMRSource.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Notifications/NotificationCenter.h"
#include "Support/FlatRepository.h"
#include "Support/TestSupport.h"
#include "VostrellePersistentPreferences.h"
#include "ZMAPTManager.h"
#include "ZMPipelineManager.h"
#include "ZMSourceRefresh.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSources = 60;
constexpr int kPackages = 40;

// How a source fails in the second refresh.
enum class Fault { None, Stall, Truncated, CorruptMiddle, Missing, BinaryTail, NoPackage };

Fault faultOf(int source) {
    switch (source) {
        case 7: return Fault::Stall;          // shares a package with 6
        case 13: return Fault::Truncated;     // shares a package with 12
        case 21: return Fault::CorruptMiddle;
        case 33: return Fault::Missing;
        case 45: return Fault::BinaryTail;
        case 52: return Fault::NoPackage;
        default: return Fault::None;
    }
}

struct Stanza {
    std::string identifier, version;
};

// The packages of a source's index in a round (1 or 2). Sources 2k and 2k+1
// (k < 10) both list "shared-k", the odd one in the higher version; in the
// second round source 8 lists it above source 9.
std::vector<Stanza> indexOf(int source, int round) {
    std::vector<Stanza> out;
    for (int j = 0; j < kPackages; ++j) {
        if (round == 2 && j == kPackages - 1) continue;  // gone
        out.push_back({fmt::format("pkg-{:02}-{:02}", source, j), round == 2 && j % 2 == 0 ? "2.0" : "1.0"});
    }
    if (round == 2) out.push_back({fmt::format("pkg-{:02}-new", source), "1.0"});
    if (source < 20) {
        std::string version = source % 2 ? "2.0" : "1.0";
        if (round == 2 && source == 8) version = "3.0";
        out.push_back({fmt::format("shared-{}", source / 2), version});
    }
    return out;
}

std::string nameOf(const Stanza& s) { return s.identifier + " " + s.version; }

std::string textOf(const std::vector<Stanza>& stanzas) {
    std::string text;
    for (const auto& s : stanzas)
        text += "Package: " + s.identifier + "\nVersion: " + s.version + "\nArchitecture: all\nName: " + nameOf(s) +
                "\nSection: Tests\nFilename: ./" + s.identifier + "_" + s.version + "_all.deb\n\n";
    return text;
}

// identifier -> "version|name|source" for every record.
std::map<std::string, std::string> allRecords() {
    std::map<std::string, std::string> out;
    for (const auto& p : ZMRPackage::objectsWhere("").toVector())
        out[p.identifier] = p.version + "|" + p.name + "|" + p.sourceLocation;
    return out;
}

class SourceRefreshMany : public ::testing::Test {
protected:
    TestSupport::IsolatedEnvironment env;
    TestSupport::TempDir dir;
    std::unique_ptr<FlatRepository::FileServer> server;
    std::vector<std::string> locations;
    std::atomic<bool> releaseStall{false};

    void SetUp() override {
        VostrellePersistentPreferences::resetForTesting();
        ZMRPackageManager::resetForTesting();
        ZMRSources::setReachabilityHook([] { return true; });
        ZMLocalization::setLanguage("en");
        ZMSourceRefresh::setPaymentEndpointHook(nullptr);
        ZMSourceRefresh::setRequestTimeout(1);
        server = std::make_unique<FlatRepository::FileServer>(dir.path());
        for (int i = 0; i < kSources; ++i) locations.push_back(server->url(fmt::format("s{:02}/", i)));
        VostrellePersistentPreferences::sharedInstance().setValue(VostrellePreferenceKey::SetupDone, true);
    }
    void TearDown() override {
        releaseStall = true;
        // The rebuilds after a refresh post to the main thread: none may reach the next test.
        TestSupport::waitUntil([] {
            return ZMPipelineManager::sharedManager().liveTaskCount() == 0 &&
                   !ZMRPackageManager::sharedPackageManager().cachesRebuildPending();
        });
        TestSupport::pumpMainLoop(std::chrono::milliseconds(20));
        server.reset();
        ZMSourceRefresh::setRequestTimeout(0);
        ZMRPackageManager::resetForTesting();
        ZMRSources::setReachabilityHook(nullptr);
        VostrellePersistentPreferences::resetForTesting();
    }

    std::string directoryOf(int source) const { return dir.path() + fmt::format("/s{:02}", source); }

    // The private APT tree, a record for every source, and the first round's indexes.
    void prepareSources() {
        ASSERT_TRUE(ZMAPTManager::prepareTree());
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] {
            for (const auto& location : locations) {
                auto source = ZMRSource::newSourceWithLocation(location);
                realm->add(source);
            }
        });
        writeRound(1);
    }

    // Every source's index of the round, as Packages.xz with a Release.
    void writeRound(int round) {
        std::string compress;
        for (int i = 0; i < kSources; ++i) {
            const std::string d = directoryOf(i);
            fs::create_directories(d);
            TestSupport::writeFile(d + "/Packages", textOf(indexOf(i, round)));
            TestSupport::writeFile(d + "/Release", fmt::format("Origin: Source {}\nLabel: Source {}\n", i, i));
            compress += " \"" + d + "/Packages\"";
        }
        ASSERT_EQ(std::system(("xz -0 -T1 -f" + compress).c_str()), 0);
    }

    // Refreshes every source through the collection and waits until each
    // source's task has finished, the pipeline is idle and the caches are
    // rebuilt; `meanwhile` runs once the refresh has been asked for.
    void refreshAll(const std::function<void()>& meanwhile = {}) {
        // The tasks are queued on another thread: what the previous refresh
        // still has queued for the main thread must not count for this one.
        TestSupport::pumpMainLoop(std::chrono::milliseconds(50));
        std::set<std::string> finished;
        bool complete = false;
        auto& center = NotificationCenter::defaultCenter();
        auto finishedToken = center.addObserver(ZMPipelineTaskFinishedNotification, NotificationCenter::Queue::Main,
                                                [&](const Notification& n) {
                                                    if (n.userInfo.value("pipelineID", "") != ZMPipelineSourceOps) return;
                                                    finished.insert(n.userInfo.value("taskID", ""));
                                                    complete = false;  // the end of refreshes comes after the last
                                                });
        auto completeToken = center.addObserver(ZMPipelineSourceRefreshComplete, NotificationCenter::Queue::Main,
                                                [&](const Notification&) { complete = true; });
        auto& manager = ZMRPackageManager::sharedPackageManager();
        ASSERT_TRUE(manager.sources().refreshAllSources());
        if (meanwhile) meanwhile();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(TestSupport::waitUntil(
            [&] {
                return complete && finished.size() == locations.size() &&
                       ZMPipelineManager::sharedManager().liveTaskCount() == 0 && !manager.cachesRebuildPending();
            },
            std::chrono::seconds(120)))
            << finished.size() << " of " << locations.size() << " sources finished";
    }

    // What the records must be after the rounds, the failing sources keeping their first round.
    std::map<std::string, std::string> expectedRecords(int round) const {
        std::map<std::string, std::pair<Stanza, int>> best;  // identifier -> stanza, source
        for (int i = 0; i < kSources; ++i) {
            const int r = round == 2 && faultOf(i) != Fault::None ? 1 : round;
            for (const auto& s : indexOf(i, r)) {
                auto it = best.find(s.identifier);
                if (it == best.end() || s.version > it->second.first.version) best[s.identifier] = {s, i};
            }
        }
        std::map<std::string, std::string> out;
        for (const auto& [id, entry] : best)
            out[id] = entry.first.version + "|" + nameOf(entry.first) + "|" + locations[entry.second];
        return out;
    }
};

TEST_F(SourceRefreshMany, FailuresHalfWayLeaveEveryOtherSourceExact) {
    ASSERT_NO_FATAL_FAILURE(prepareSources());
    ASSERT_NO_FATAL_FAILURE(refreshAll());
    ASSERT_EQ(allRecords(), expectedRecords(1));
    for (const auto& location : locations) ASSERT_EQ(ZMRSource::objectForPrimaryKey(location)->hasErrors, false) << location;

    // What the failing sources have now, to show it stays.
    const std::string lists = ZMAPTManager::treePath() + "/var/lib/apt/lists/";
    std::map<int, std::pair<std::string, std::string>> kept;  // copy, apt's list
    for (int i = 0; i < kSources; ++i)
        if (faultOf(i) != Fault::None)
            kept[i] = {TestSupport::readFile(ZMRSources::packagesFilePath(locations[i])),
                       TestSupport::readFile(lists + ZMAPTManager::listFilePrefix(locations[i]) + "Packages")};

    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // a new Last-Modified second
    writeRound(2);
    for (int i = 0; i < kSources; ++i) {
        const std::string d = directoryOf(i);
        const std::string xz = TestSupport::readFile(d + "/Packages.xz");
        switch (faultOf(i)) {
            case Fault::None: break;
            case Fault::Stall: {
                // Half the archive, then nothing: the request times out.
                server->route(fmt::format("s{:02}/Packages.xz", i), [this, xz](const httplib::Request&,
                                                                              httplib::Response& res) {
                    res.set_content_provider(xz.size(), "application/octet-stream",
                                             [this, xz](size_t offset, size_t, httplib::DataSink& sink) {
                                                 if (offset == 0) return sink.write(xz.data(), xz.size() / 2);
                                                 for (int n = 0; n < 300 && !releaseStall; ++n)
                                                     std::this_thread::sleep_for(std::chrono::milliseconds(10));
                                                 return false;
                                             });
                });
                break;
            }
            case Fault::Truncated: TestSupport::writeFile(d + "/Packages.xz", xz.substr(0, xz.size() * 3 / 4)); break;
            case Fault::CorruptMiddle: {
                std::string bad = xz;
                for (size_t k = bad.size() / 2; k < bad.size() / 2 + 16; ++k) bad[k] = static_cast<char>(bad[k] ^ 0x5a);
                TestSupport::writeFile(d + "/Packages.xz", bad);
                break;
            }
            case Fault::Missing:
                for (const auto& variant : ZMSourceRefresh::packagesVariants()) fs::remove(d + "/" + variant);
                break;
            case Fault::BinaryTail:
                // Valid stanzas first: the fault shows only at the end of the text.
                FlatRepository::writeIndexesForText(d, textOf(indexOf(i, 2)) + std::string("Package: x\0\x01\n", 13));
                break;
            case Fault::NoPackage:
                FlatRepository::writeIndexesForText(d, "<html><body>Moved</body></html>\n");
                break;
        }
    }
    ASSERT_NO_FATAL_FAILURE(refreshAll());

    EXPECT_EQ(allRecords(), expectedRecords(2));
    for (int i = 0; i < kSources; ++i) {
        const std::string& location = locations[i];
        const bool fails = faultOf(i) != Fault::None;
        EXPECT_EQ(ZMRSource::objectForPrimaryKey(location)->hasErrors, fails) << location;
        const std::string list = TestSupport::readFile(lists + ZMAPTManager::listFilePrefix(location) + "Packages");
        if (fails) {
            EXPECT_EQ(TestSupport::readFile(ZMRSources::packagesFilePath(location)), kept[i].first) << location;
            EXPECT_EQ(list, kept[i].second) << location;
        } else {
            EXPECT_EQ(list, textOf(indexOf(i, 2))) << location;
        }
    }
    // The lower version of a shared package is on offer from its source, once.
    EXPECT_EQ(ZMRPackageVersion::objectsWhere("").count(), 10u);
    for (int k = 0; k < 10; ++k) {
        const std::string id = fmt::format("shared-{}", k);
        auto versions = ZMRPackageVersion::objectsWhere("identifier = %@", id).toVector();
        ASSERT_EQ(versions.size(), 1u) << id;
        const int lower = k == 4 ? 9 : 2 * k;  // source 8 took the lead in the second round
        EXPECT_EQ(versions[0].source, locations[lower]) << id;
        EXPECT_EQ(versions[0].version, k == 4 ? "2.0" : "1.0") << id;
    }
}

// A source removed while the refresh of all is under way: its index arrives
// only after the removal, and nothing of it comes back (records, versions,
// the list copy, apt's list, the sources list), while the other sources
// are refreshed as if it had never been there.
TEST_F(SourceRefreshMany, ASourceRemovedDuringTheRefreshStaysRemoved) {
    ZMSourceRefresh::setRequestTimeout(20);
    ASSERT_NO_FATAL_FAILURE(prepareSources());
    constexpr int kRemoved = 30;  // lists no shared package
    const std::string removed = locations[kRemoved];
    // Half its archive, then the rest once the source record is gone.
    const std::string xz = TestSupport::readFile(directoryOf(kRemoved) + "/Packages.xz");
    std::atomic<bool> stalled{false};
    server->route(fmt::format("s{:02}/Packages.xz", kRemoved), [&, xz](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(xz.size(), "application/octet-stream",
                                 [&, xz](size_t offset, size_t, httplib::DataSink& sink) {
                                     if (offset == 0) {
                                         stalled = true;
                                         return sink.write(xz.data(), xz.size() / 2);
                                     }
                                     for (int n = 0; n < 1500 && !releaseStall; ++n)
                                         std::this_thread::sleep_for(std::chrono::milliseconds(10));
                                     return sink.write(xz.data() + offset, xz.size() - offset);
                                 });
    });
    auto& manager = ZMRPackageManager::sharedPackageManager();
    std::optional<std::optional<ZMError>> removal;
    ASSERT_NO_FATAL_FAILURE(refreshAll([&] {
        ASSERT_TRUE(TestSupport::waitUntil([&] { return stalled.load(); }, std::chrono::seconds(60)));
        manager.sources().removeSourceWithLocation(removed, [&](std::optional<ZMError> error) { removal = error; });
        ASSERT_TRUE(TestSupport::waitUntil([&] { return removal.has_value(); }, std::chrono::seconds(60)));
        releaseStall = true;
    }));
    ASSERT_TRUE(removal.has_value());
    EXPECT_FALSE(*removal) << (*removal)->debugDescription();

    auto expected = expectedRecords(1);
    std::erase_if(expected, [&](const auto& entry) { return entry.second.ends_with("|" + removed); });
    ASSERT_EQ(expected.size(), (kSources - 1) * static_cast<size_t>(kPackages) + 10);
    EXPECT_EQ(allRecords(), expected);
    EXPECT_FALSE(ZMRSource::objectForPrimaryKey(removed));
    EXPECT_EQ(ZMRPackageVersion::objectsWhere("source = %@", removed).count(), 0u);
    EXPECT_FALSE(fs::exists(ZMRSources::packagesFilePath(removed)));
    const std::string prefix = ZMAPTManager::treePath() + "/var/lib/apt/lists/" + ZMAPTManager::listFilePrefix(removed);
    EXPECT_FALSE(fs::exists(prefix + "Packages"));
    EXPECT_FALSE(fs::exists(prefix + "Release"));
    const std::string sourcesList = TestSupport::readFile(ZMAPTManager::treePath() + "/etc/apt/sources.list");
    EXPECT_EQ(sourcesList.find(removed), std::string::npos);
    EXPECT_NE(sourcesList.find(locations[kRemoved + 1]), std::string::npos);
}

// Decompression bombs among many sources refreshed at once: each is refused
// with the error of a failed decompression (its stream goes past the size
// limit), whatever the text it expands to, and every other source is
// refreshed as if they were not there.
TEST_F(SourceRefreshMany, BombsAreRefusedAndTheOtherSourcesRefresh) {
    ASSERT_NO_FATAL_FAILURE(prepareSources());
    ZMSourceRefresh::setMaximumIndexSize(8 << 20);
    // Streams of 32 MiB; sources from 20 on share no package with another.
    const std::map<int, std::string> bombs = {
        {23, "head -c 33554432 /dev/zero | tr '\\0' a"},
        {24, "yes 'Description: a line of a stanza that never ends' | head -c 33554432"},
        {25, "awk 'BEGIN { while (n < 33554432) { printf \"Package: bomb\\nVersion: 1.0\\nArchitecture: all\\n\\n\"; n += 46 } }'"},
    };
    for (const auto& [source, text] : bombs) {
        const std::string d = directoryOf(source);
        fs::remove(d + "/Packages");
        ASSERT_EQ(std::system(("(" + text + ") | xz -6 -T1 > " + d + "/Packages.xz").c_str()), 0) << text;
        ASSERT_LT(fs::file_size(d + "/Packages.xz"), 1u << 20);
    }
    std::map<std::string, nlohmann::json> outcomes;  // by task, the bombs' own
    auto token = NotificationCenter::defaultCenter().addObserver(
        ZMPipelineTaskFinishedNotification, NotificationCenter::Queue::Main, [&](const Notification& n) {
            outcomes[n.userInfo.value("taskID", "")] = n.userInfo;
        });
    ASSERT_NO_FATAL_FAILURE(refreshAll());
    ZMSourceRefresh::setMaximumIndexSize(0);

    auto expected = expectedRecords(1);
    for (const auto& [source, text] : bombs) {
        SCOPED_TRACE(text);
        const auto found = outcomes.find(ZMSourceRefresh::taskIDForLocation(locations[source]));
        ASSERT_NE(found, outcomes.end());
        const nlohmann::json& outcome = found->second;
        EXPECT_FALSE(outcome.value("success", true));
        ASSERT_TRUE(outcome.contains("error"));
        EXPECT_EQ(outcome["error"].value("code", 0), ZMError::DecompressionFailed) << outcome.dump();
        EXPECT_EQ(ZMRSource::objectForPrimaryKey(locations[source])->hasErrors, true);
        std::erase_if(expected, [&](const auto& entry) { return entry.second.ends_with("|" + locations[source]); });
    }
    EXPECT_EQ(allRecords(), expected);
    for (int i = 0; i < kSources; ++i) {
        if (bombs.count(i)) continue;
        EXPECT_EQ(ZMRSource::objectForPrimaryKey(locations[i])->hasErrors, false) << locations[i];
    }
}

// The writer starts on an index before its end has been read: a fault that
// shows only then rolls back the records already written, and the source
// keeps what it had. The index comes through a pipe that pauses before its
// faulty end, so the writer has long been at work when the fault arrives.
TEST_F(SourceRefreshMany, AFaultAfterRecordsWereWrittenRollsThemBack) {
    const std::string location = locations[0];
    {
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] {
            auto source = ZMRSource::newSourceWithLocation(location);
            realm->add(source);
        });
    }
    std::vector<Stanza> first, second;
    for (int j = 0; j < 30000; ++j) {
        first.push_back({fmt::format("big-{:05}", j), "1.0"});
        if (j % 3) second.push_back({fmt::format("big-{:05}", j), "2.0"});
    }
    for (int j = 0; j < 5000; ++j) second.push_back({fmt::format("more-{:05}", j), "1.0"});
    const std::string firstFile = dir.path() + "/first";
    TestSupport::writeFile(firstFile, textOf(first));
    auto stored = ZMSourceRefresh::make(location)->packagesFileParserFromPath(firstFile);
    ASSERT_TRUE(stored) << stored.error->debugDescription();
    ASSERT_EQ(stored.value->packages, first.size());
    const auto before = allRecords();

    const std::string fifo = dir.path() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread feeder([&] {
        FILE* out = std::fopen(fifo.c_str(), "wb");
        if (!out) return;
        const std::string text = textOf(second);
        std::fwrite(text.data(), 1, text.size(), out);
        std::fflush(out);
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        std::fwrite("Package: z\0\n\n", 1, 14, out);
        std::fclose(out);
    });
    auto refused = ZMSourceRefresh::make(location)->packagesFileParserFromPath(fifo);
    feeder.join();
    ASSERT_GT(textOf(second).size(), 2u * ZMIndexParsing::kChunk);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error->code, ZMError::InvalidServerData) << refused.error->detail;
    EXPECT_EQ(allRecords(), before);
    EXPECT_EQ(ZMRSource::objectForPrimaryKey(location)->totalPackages, std::to_string(first.size()));
}

}  // namespace
