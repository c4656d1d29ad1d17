// Large commits are copied into the database file afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "Platform/Realm/RealmTestRecords.h"
#include "Support/TestSupport.h"

namespace {

class RealmBulkWrite : public ::testing::Test {
protected:
    TestSupport::TempDir dir;
    std::shared_ptr<Realm> realm = Realm::open({dir.file("bulk.realm")});
};

uintmax_t fileSize(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}
}  // namespace

TEST_F(RealmBulkWrite, ALargeCommitIsCopiedIntoTheDatabaseFileAfterwards) {
    // ~8 MB of records: far beyond the 1000 log pages after which the log is
    // copied into the database file, now off the committing thread.
    const std::string path = dir.file("bulk.realm");
    const uintmax_t before = fileSize(path);
    realm->transactionWithBlock([&] {
        for (int i = 0; i < 2000; ++i) {
            auto g = Gadget::make("big" + std::to_string(i), std::string(4000, char('a' + i % 26)), i);
            realm->add(g);
        }
    });
    EXPECT_TRUE(TestSupport::waitUntil([&] { return fileSize(path) > before + 4u * 1024 * 1024; }))
        << "the database file holds the records without closing the database";
    EXPECT_EQ(realm->objectsWhere<Gadget>("count >= 1000").count(), 1000u);
}

TEST_F(RealmBulkWrite, AnIdleConnectionKeepsABoundedCache) {
    // Twice the bound in records, written and then read whole on other
    // threads: the pages read would stay in a connection that is only lent.
    const int rows = 2 * Realm::kIdleCacheBytes / 8000;
    realm->transactionWithBlock([&] {
        for (int i = 0; i < rows; ++i) {
            auto g = Gadget::make("row" + std::to_string(i), "label", i);
            g.tags = {std::string(8000, char('a' + i % 26))};
            realm->add(g);
        }
    });
    size_t read = 0;
    for (int pass = 0; pass < 2; ++pass) std::thread([&] { read = realm->objects<Gadget>().toVector().size(); }).join();
    ASSERT_EQ(read, static_cast<size_t>(rows));
    EXPECT_LE(realm->idleCacheBytes(), static_cast<size_t>(Realm::kIdleCacheBytes));
    EXPECT_EQ(realm->objectsWhere<Gadget>("count >= %@", int64_t{rows - 10}).toVector().at(9).tags.at(0).size(), 8000u)
        << "what the cache gave back is read again";
}
