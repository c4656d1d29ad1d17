// The dpkg status scan against a sandbox target root: installed state into
// existing records, records for packages only dpkg knows, cleared state of
// removed packages, and the per-package notifications.
#include <gtest/gtest.h>

#include <set>

#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageManager.h"
#include "Database/ZMRPackageVersion.h"
#include "Database/ZMRPackages.h"
#include "Database/ZMRSource.h"
#include "Miscellaneous/ZMPaths.h"
#include "Notifications/NotificationCenter.h"
#include "Support/TestSupport.h"
#include "VostrellePersistentPreferences.h"
#include "ZMDpkgStatusScanner.h"
#include "ZMSourceRefresh.h"

namespace {

class DpkgStatusScanner : public ::testing::Test {
protected:
    TestSupport::IsolatedEnvironment env;
    std::shared_ptr<Realm> realm;
    std::set<std::string> notified;
    std::vector<ObserverToken> tokens;

    void SetUp() override {
        VostrellePersistentPreferences::resetForTesting();
        ZMRPackageManager::resetForTesting();
        realm = Realm::defaultRealm();
    }
    void TearDown() override {
        TestSupport::pumpMainLoop(std::chrono::milliseconds(20));
        ZMRPackageManager::resetForTesting();
        VostrellePersistentPreferences::resetForTesting();
    }
    void writeStatus(const std::string& text) { TestSupport::writeFile(ZMPaths::dpkgDirectory() + "/status", text); }
    void writeList(const std::string& name, const std::string& text) {
        TestSupport::writeFile(ZMPaths::dpkgDirectory() + "/info/" + name + ".list", text);
    }
    void store(ZMRPackage p) {
        realm->transactionWithBlock([&] { realm->addOrUpdate(p); });
    }
    void observe(const std::vector<std::string>& identifiers) {
        for (const auto& id : identifiers)
            tokens.push_back(NotificationCenter::defaultCenter().addObserver(
                ZMDpkgStatusScanner::queueStateNotificationName(id), NotificationCenter::Queue::Main,
                [this, id](const Notification& n) {
                    EXPECT_EQ(n.objectString(), id);
                    notified.insert(id);
                }));
    }
    static ZMRPackage record(const std::string& id, const std::string& version, const std::string& source) {
        ZMRPackage p;
        p.identifier = id;
        p.name = id;
        p.version = version;
        p.sourceLocation = source;
        p.category = "Tweaks";
        return p;
    }
};

TEST_F(DpkgStatusScanner, InstalledStateFollowsTheStatusFile) {
    const std::string repo = "https://repo.example/";
    store(record("com.example.alpha", "2.0", repo));       // installed 1.0: an update
    store(record("com.example.same", "1.0", repo));        // installed, current
    auto removed = record("com.example.removed", "2.0", repo);  // installed 1.0, its update offered
    removed.isInstalled = true;
    removed.installedVersion = "1.0";
    removed.isUpdated = true;
    removed.installedFiles = {"/usr/bin/removed"};
    store(removed);
    auto dpkgOnly = record("com.example.gone", "0.5", "DPKG");
    dpkgOnly.isInstalled = true;
    dpkgOnly.installedVersion = "0.5";
    store(dpkgOnly);

    writeStatus(
        "Package: com.example.alpha\nStatus: hold ok installed\nVersion: 1.0\nArchitecture: all\n\n"
        "Package: com.example.same\nStatus: install ok installed\nVersion: 1.0\nArchitecture: all\n\n"
        "Package: com.example.local\nStatus: install ok triggers-pending\nVersion: 3.0\nArchitecture: all\n"
        "Name: Local Thing\nSection: Utilities\nMaintainer: Me <me@example.com>\nDescription: only here\n more\n\n"
        "Package: com.example.config\nStatus: deinstall ok config-files\nVersion: 1.0\n\n"
        "Package: com.example.halfway\nStatus: install reinstreq half-configured\nVersion: 1.0\nArchitecture: all\n\n");
    writeList("com.example.alpha", "/.\n/usr/bin/alpha\n/usr/share/alpha\n");
    writeList("com.example.local", "/usr/bin/local\n");

    observe({"com.example.alpha", "com.example.same", "com.example.local", "com.example.removed", "com.example.gone",
             "com.example.config"});
    auto result = ZMDpkgStatusScanner::scan();
    ASSERT_TRUE(result) << result.error->debugDescription();
    EXPECT_EQ(result.value->installed, 3u);
    EXPECT_EQ(result.value->created, 1u);
    EXPECT_EQ(result.value->removed, 1u);

    auto alpha = *ZMRPackage::objectForPrimaryKey("com.example.alpha");
    EXPECT_EQ(alpha.isInstalled, true);
    EXPECT_EQ(alpha.installedVersion, "1.0");
    EXPECT_EQ(alpha.version, "2.0") << "the available version stays the source's";
    EXPECT_EQ(alpha.isUpdated, true);
    EXPECT_EQ(alpha.isHeld, true);
    EXPECT_EQ(alpha.installedFiles, (StringList{"/.", "/usr/bin/alpha", "/usr/share/alpha"}));
    EXPECT_TRUE(alpha.installDate.has_value());
    EXPECT_EQ(alpha.sourceLocation, repo);
    auto same = *ZMRPackage::objectForPrimaryKey("com.example.same");
    EXPECT_EQ(same.isUpdated, false);
    EXPECT_TRUE(same.installedFiles.empty());

    auto local = ZMRPackage::objectForPrimaryKey("com.example.local");
    ASSERT_TRUE(local) << "a package only dpkg knows gets a record";
    EXPECT_EQ(local->sourceLocation, "DPKG");
    EXPECT_EQ(local->name, "Local Thing");
    EXPECT_EQ(local->category, "Utilities");
    EXPECT_EQ(local->version, "3.0");
    EXPECT_EQ(local->Description, "only here");
    EXPECT_EQ(local->isInstalled, true) << "configured, only its triggers are pending";
    EXPECT_FALSE(ZMRPackage::objectForPrimaryKey("com.example.halfway"))
        << "a half-configured package is not installed: the launch repair deals with it";

    auto gone = ZMRPackage::objectForPrimaryKey("com.example.removed");
    ASSERT_TRUE(gone);
    EXPECT_EQ(gone->isInstalled, false);
    EXPECT_TRUE(gone->installedVersion.empty());
    EXPECT_TRUE(gone->installedFiles.empty());
    EXPECT_EQ(gone->isUpdated, false) << "nothing installed to update";
    ZMRPackages packages;
    packages.rebuildPackagesCategoriesCacheNow();
    EXPECT_EQ(packages.updatesCount(), 0u) << "the only update left is held";
    EXPECT_FALSE(ZMRPackage::objectForPrimaryKey("com.example.gone")) << "known only to dpkg and no longer installed";
    EXPECT_FALSE(ZMRPackage::objectForPrimaryKey("com.example.config")) << "config-files is not installed";

    ASSERT_TRUE(TestSupport::waitUntil([&] { return notified.size() == 5; }));
    EXPECT_EQ(notified, (std::set<std::string>{"com.example.alpha", "com.example.same", "com.example.local",
                                               "com.example.removed", "com.example.gone"}));

    // A second scan of the same state changes nothing and announces nothing.
    notified.clear();
    auto again = ZMDpkgStatusScanner::scan();
    ASSERT_TRUE(again);
    EXPECT_TRUE(again.value->changedIdentifiers.empty());
    TestSupport::pumpMainLoop(std::chrono::milliseconds(50));
    EXPECT_TRUE(notified.empty());

    // An upgrade to the available version.
    writeStatus("Package: com.example.alpha\nStatus: install ok installed\nVersion: 2.0\nArchitecture: all\n\n"
                "Package: com.example.same\nStatus: install ok installed\nVersion: 1.0\nArchitecture: all\n\n"
                "Package: com.example.local\nStatus: install ok installed\nVersion: 3.1\nArchitecture: all\n");
    auto third = ZMDpkgStatusScanner::scan();
    ASSERT_TRUE(third);
    alpha = *ZMRPackage::objectForPrimaryKey("com.example.alpha");
    EXPECT_EQ(alpha.isUpdated, false);
    EXPECT_EQ(alpha.isHeld, false);
    EXPECT_EQ(ZMRPackage::objectForPrimaryKey("com.example.local")->version, "3.1");
    EXPECT_EQ(third.value->changedIdentifiers.size(), 2u);
}

// An update is offered when the source's version orders above the installed
// one, also where the two part inside a run of digits (1.10 and 1.100);
// whether the status is read after the source's index or before it.
TEST_F(DpkgStatusScanner, UpdatesAreOfferedInDebianVersionOrder) {
    struct Case {
        const char* identifier;
        const char* installed;
        const char* available;
        bool update;
    };
    const Case cases[] = {
        {"com.example.point-ten", "1.10", "1.100", true},   {"com.example.ten", "10", "100", true},
        {"com.example.revision", "2.10-1", "2.100-1", true}, {"com.example.nine", "1.9", "1.10", true},
        {"com.example.nineteen", "1.19", "1.100", true},     {"com.example.back", "1.100", "1.10", false},
        {"com.example.zeros", "1.010", "1.10", false},
    };
    const std::string repo = "https://repo.example/";
    std::string status, index;
    for (const auto& c : cases) {
        status += std::string("Package: ") + c.identifier + "\nStatus: install ok installed\nVersion: " + c.installed +
                  "\nArchitecture: all\n\n";
        index += std::string("Package: ") + c.identifier + "\nVersion: " + c.available +
                 "\nArchitecture: all\nFilename: debs/" + c.identifier + ".deb\nName: " + c.identifier + "\n\n";
    }
    TestSupport::writeFile(env.root() + "/Packages", index);
    writeStatus(status);
    auto refresh = [&] {
        if (!ZMRSource::objectForPrimaryKey(repo)) {
            auto source = ZMRSource::newSourceWithLocation(repo);
            realm->transactionWithBlock([&] { realm->add(source); });
        }
        auto parsed = ZMSourceRefresh::make(repo)->packagesFileParserFromPath(env.root() + "/Packages");
        ASSERT_TRUE(parsed.ok()) << parsed.error->debugDescription();
    };
    auto expectUpdates = [&](const char* order) {
        size_t updates = 0;
        for (const auto& c : cases) {
            auto r = ZMRPackage::objectForPrimaryKey(c.identifier);
            ASSERT_TRUE(r) << c.identifier;
            EXPECT_EQ(r->installedVersion, c.installed) << c.identifier;
            EXPECT_EQ(r->version, c.available) << c.identifier;
            EXPECT_EQ(r->isUpdated.value_or(false), c.update) << order << ": " << c.installed << " -> " << c.available;
            updates += c.update;
        }
        ZMRPackages packages;
        packages.rebuildPackagesCategoriesCacheNow();
        EXPECT_EQ(packages.updatesCount(), updates) << order;
    };

    // The source's index first, then the status file.
    refresh();
    ASSERT_TRUE(ZMDpkgStatusScanner::scan());
    expectUpdates("index, then status");

    // The status file first (records only dpkg knows), then the source's index.
    realm->transactionWithBlock([&] {
        realm->deleteObjects(realm->objects<ZMRPackageVersion>());
        realm->deleteObjects(realm->objects<ZMRPackage>());
    });
    ASSERT_TRUE(ZMDpkgStatusScanner::scan());
    refresh();
    expectUpdates("status, then index");
}

TEST_F(DpkgStatusScanner, AnUnreadableStatusIsAFailureAndChangesNothing) {
    auto p = record("com.example.alpha", "1.0", "https://repo.example/");
    p.isInstalled = true;
    p.installedVersion = "1.0";
    store(p);
    TestSupport::writeFile(ZMPaths::dpkgDirectory() + "/status/oops", "a directory where the file should be");
    auto result = ZMDpkgStatusScanner::scan();
    EXPECT_FALSE(result);
    EXPECT_EQ(ZMRPackage::objectForPrimaryKey("com.example.alpha")->isInstalled, true);

    // In the background, with the completion on the main thread.
    std::optional<bool> ok;
    ZMDpkgStatusScanner::scanInBackground([&](ZMResult<ZMDpkgStatusScanSummary> r) { ok = r.ok(); });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return ok.has_value(); }));
    EXPECT_FALSE(*ok);
}

}  // namespace
