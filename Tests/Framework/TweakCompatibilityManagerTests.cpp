// The tweak-compatibility list: parsing, lookups by firmware pattern, the
// stored copy and the records it fills.
#include <gtest/gtest.h>

#include <filesystem>

#include "Database/ZMRPackage.h"
#include "Miscellaneous/ZMPlatform.h"
#include "Realm/Realm.h"
#include "Support/FlatRepository.h"
#include "Support/TestSupport.h"
#include "TweakCompatibilityManager.h"

namespace {

class TweakCompatibility : public ::testing::Test {
protected:
    TestSupport::IsolatedEnvironment env;
    void SetUp() override {
        ZMPlatform::setFirmwareVersion("12.4.1");
        TweakCompatibilityManager::instance().setListURL(std::string());
        TweakCompatibilityManager::instance().reloadFromFile();
    }
    void TearDown() override {
        TweakCompatibilityManager::instance().setListURL(std::nullopt);
        TweakCompatibilityManager::instance().reloadFromFile();
        ZMPlatform::setFirmwareVersion(std::nullopt);
    }
};

TEST_F(TweakCompatibility, ListParsingAndLookups) {
    auto table = TweakCompatibilityManager::parseList(R"({"packages": [
        {"identifier": "com.a", "version": "1.0", "firmware": "12", "status": 0},
        {"identifier": "com.a", "version": "1.0", "firmware": "12.4", "status": "not working"},
        {"identifier": "com.a", "firmware": "13", "status": "working"},
        {"identifier": "com.b", "version": "*", "firmware": "12.4.1", "status": 1},
        {"identifier": "com.c", "firmware": "12", "status": 7},
        {"identifier": "com.d", "status": 0},
        "junk", 42
    ]})");
    ASSERT_TRUE(table);
    EXPECT_EQ(table.value->size(), 2u) << "entries without a firmware or with an unknown status are skipped";
    auto& m = TweakCompatibilityManager::instance();
    ASSERT_FALSE(m.storeList(*table.value).has_value());
    EXPECT_EQ(m.statusForBundle("com.a", "1.0"), 1) << "the most specific firmware pattern wins";
    EXPECT_EQ(m.statusForBundle("com.a", "1.0", "12.3"), 0);
    EXPECT_EQ(m.statusForBundle("com.a", "1.0", "120"), 2) << "12 does not cover 120";
    EXPECT_EQ(m.statusForBundle("com.a", "2.0", "13.1"), 0) << "an entry without a version covers all";
    EXPECT_EQ(m.statusForBundle("com.a", "2.0"), 2);
    EXPECT_EQ(m.statusForBundle("com.b", "9"), 1);
    EXPECT_EQ(m.statusForBundle("com.unknown", "1.0"), 2);
    EXPECT_FALSE(TweakCompatibilityManager::parseList("{\"not\": \"a list\"}"));
    EXPECT_FALSE(TweakCompatibilityManager::parseList("garbage"));

    // The stored file is read back by a fresh load.
    EXPECT_TRUE(std::filesystem::exists(TweakCompatibilityManager::listFilePath()));
    m.reloadFromFile();
    EXPECT_EQ(m.statusForBundle("com.a", "1.0"), 1);
    EXPECT_EQ(m.statusForBundle("com.b", "9"), 1);
}

TEST_F(TweakCompatibility, TheFetchedListFillsTheRecords) {
    TestSupport::TempDir dir;
    FlatRepository::FileServer server(dir.path());
    TestSupport::writeFile(dir.file("compat.json"),
                           R"([{"identifier": "com.works", "version": "1.0", "firmware": "12", "status": 0},
                               {"identifier": "com.broken", "firmware": "12.4", "status": 1}])");
    auto realm = Realm::defaultRealm();
    realm->transactionWithBlock([&] {
        for (const char* id : {"com.works", "com.broken", "com.other"}) {
            ZMRPackage p;
            p.identifier = id;
            p.version = "1.0";
            realm->addOrUpdate(p);
        }
    });
    auto& m = TweakCompatibilityManager::instance();
    m.setListURL(server.url("compat.json"));
    std::optional<std::optional<ZMError>> done;
    m.updateCompatibilityList([&](std::optional<ZMError> e) { done = e; });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return done.has_value(); }));
    EXPECT_FALSE(done->has_value());
    EXPECT_EQ(ZMRPackage::objectForPrimaryKey("com.works")->tweakCompatibleStatus, 0);
    EXPECT_EQ(ZMRPackage::objectForPrimaryKey("com.broken")->tweakCompatibleStatus, 1);
    EXPECT_EQ(ZMRPackage::objectForPrimaryKey("com.other")->tweakCompatibleStatus, 2);

    // A failed fetch keeps the list it had.
    m.setListURL(server.url("missing.json"));
    done.reset();
    m.updateCompatibilityList([&](std::optional<ZMError> e) { done = e; });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return done.has_value(); }));
    ASSERT_TRUE(done->has_value());
    EXPECT_EQ(m.statusForBundle("com.broken", "1.0"), 1);

    // No list configured: no verdict for anyone.
    m.setListURL(std::string());
    done.reset();
    m.updateCompatibilityList([&](std::optional<ZMError> e) { done = e; });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return done.has_value(); }));
    EXPECT_EQ(ZMRPackage::objectForPrimaryKey("com.broken")->tweakCompatibleStatus, 2);
}

TEST(TweakCompatibilityManagerList, ADeeplyNestedListIsRefusedWithoutHarm) {
    std::string deep;
    for (int i = 0; i < 100'000; ++i) deep += "[";
    for (int i = 0; i < 100'000; ++i) deep += "]";
    EXPECT_FALSE(TweakCompatibilityManager::parseList("{\"packages\": " + deep + "}"));
    EXPECT_FALSE(TweakCompatibilityManager::parseList(deep));
}

}  // namespace
