// The queue's choices that reach apt and the downloads: which version an
// item asks for, and which archive a resolved package is fetched from.
#include <gtest/gtest.h>

#include "Database/CollectionsFixture.h"
#include "Database/ZMRPackages.h"
#include "ZMQueue.h"

namespace {

class QueueChoices : public CollectionsFixture::Database {
protected:
    const std::string a = "https://a.example/", b = "https://b.example/";

    static ZMRPackage record(const std::string& id, const std::string& source, const std::string& version,
                             const std::string& file = {}) {
        ZMRPackage p;
        p.identifier = id, p.name = id, p.sourceLocation = source, p.version = version, p.filename = file;
        p.sha256 = file.empty() ? "" : "sha of " + file;
        p.size = "100";
        return p;
    }
    void addVersion(const std::string& source, const std::string& id, const std::string& version, const std::string& file) {
        realm->transactionWithBlock([&] {
            ZMRPackageVersion v;
            v.versionKey = ZMRPackageVersion::makeKey(source, id, version);
            v.identifier = id, v.version = version, v.source = source, v.fileLocation = file;
            v.sha256 = "sha of " + file;
            realm->addOrUpdate(v);
        });
    }
};

// A resolved package is fetched as the archive of exactly its version: the
// record's own file only when the record is at that version, else a version
// row (its own source's first) that names a file, else nothing (apt fetches
// it itself).
TEST_F(QueueChoices, EachResolvedVersionIsFetchedFromItsOwnArchive) {
    store({record("com.example.q", a, "2.0", "./q_2.0.deb"), record("com.example.dpkg", "DPKG", "1.0"),
           record("com.example.nofile", a, "1.0")});
    addVersion(a, "com.example.q", "1.0", "./q_1.0.deb");
    addVersion(b, "com.example.q", "1.0", "./b/q_1.0.deb");
    addVersion(b, "com.example.q", "1.5", "./b/q_1.5.deb");
    addVersion(a, "com.example.q", "0.5", "");  // listed without a Filename
    addVersion(a, "com.example.dpkg", "1.0", "./dpkg_1.0.deb");
    addVersion(b, "com.example.norecord", "1.0", "./norecord_1.0.deb");
    struct Case {
        const char* identifier;
        const char* version;
        std::optional<std::pair<std::string, std::string>> archive;  // source, file
    };
    const Case cases[] = {
        {"com.example.q", "2.0", std::pair{a, "./q_2.0.deb"}},
        {"com.example.q", "0:2.0", std::pair{a, "./q_2.0.deb"}},  // the same version, written with its epoch
        {"com.example.q", "1.0", std::pair{a, "./q_1.0.deb"}},   // a downgrade: the record's own source first
        {"com.example.q", "1.5", std::pair{b, "./b/q_1.5.deb"}},
        {"com.example.q", "0.5", std::nullopt},  // a downgrade to a row without a file
        {"com.example.q", "3.0", std::nullopt},
        {"com.example.q", "2.0~rc1", std::nullopt},
        {"com.example.q", "2.0-1", std::nullopt},
        {"com.example.dpkg", "1.0", std::pair{a, "./dpkg_1.0.deb"}},
        {"com.example.nofile", "1.0", std::nullopt},
        {"com.example.norecord", "1.0", std::pair{b, "./norecord_1.0.deb"}},
        {"com.example.unknown", "1.0", std::nullopt},
    };
    for (const auto& c : cases) {
        ZMDependencyDescription d;
        d.identifier = c.identifier, d.version = c.version, d.architecture = "all";
        auto archive = ZMQueue::archiveFor(d);
        const std::string what = std::string(c.identifier) + " " + c.version;
        ASSERT_EQ(archive.has_value(), c.archive.has_value()) << what << (archive ? " -> " + archive->fileName : "");
        if (!archive) continue;
        EXPECT_EQ(archive->sourceLocation, c.archive->first) << what;
        EXPECT_EQ(archive->fileName, c.archive->second) << what;
        EXPECT_EQ(archive->sha256, "sha of " + c.archive->second) << what << ": the digest of that same file";
        EXPECT_EQ(archive->version, c.version) << what;
    }
}

// apt is asked for the version the user chose, else the one shown: the
// installed version for a reinstall, whatever newer version the record
// offers, so that a reinstall never turns into an upgrade.
TEST_F(QueueChoices, ItemsAskAptForTheChosenOrShownVersion) {
    struct Case {
        const char* name;
        const char* installed;  // "" when not installed
        std::optional<std::string> queued;
        int64_t operation;      // as marked; 0 lets the collection choose
        ZMQueueOperation expected;
        const char* version;
    };
    const Case cases[] = {
        {"reinstall, a newer version offered", "1.0", std::nullopt, ZMRQueueOperationReinstall, ZMQueueOperation::Reinstall, "1.0"},
        {"reinstall of the chosen version", "1.0", "1.0", 0, ZMQueueOperation::Reinstall, "1.0"},
        {"reinstall of the offered version", "2.0", std::nullopt, ZMRQueueOperationReinstall, ZMQueueOperation::Reinstall, "2.0"},
        {"install", "", std::nullopt, 0, ZMQueueOperation::Install, "2.0"},
        {"install of a chosen version", "", "1.5", 0, ZMQueueOperation::Install, "1.5"},
        {"upgrade", "1.0", std::nullopt, ZMRQueueOperationUpgrade, ZMQueueOperation::Upgrade, "2.0"},
        {"upgrade to a chosen version", "1.0", "1.5", 0, ZMQueueOperation::Upgrade, "1.5"},
        {"downgrade", "2.0", "1.0", 0, ZMQueueOperation::Downgrade, "1.0"},
        {"remove", "1.0", std::nullopt, ZMRQueueOperationRemove, ZMQueueOperation::Remove, ""},
    };
    for (const auto& c : cases) {
        ZMRPackage p = record("com.example.item", a, "2.0", "./item_2.0.deb");
        p.isInstalled = *c.installed != '\0';
        p.installedVersion = c.installed;
        p.isUpdated = p.isInstalled.value_or(false) && ZMRPackage::offersUpdate(p.version, p.installedVersion);
        store({p});
        ZMRPackages().setPackage("com.example.item", true, c.queued, c.operation);
        const auto items = ZMQueue::queueItems();
        ASSERT_EQ(items.size(), 1u) << c.name;
        EXPECT_EQ(items[0].operation, c.expected) << c.name;
        EXPECT_EQ(items[0].version, c.version) << c.name;
        ZMRPackages().setPackage("com.example.item", false, std::nullopt, 0);
        EXPECT_TRUE(ZMQueue::queueItems().empty()) << c.name;
    }
}

}  // namespace
