// Large commits are copied into the database file afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>
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

TEST_F(RealmBulkWrite, IdleConnectionsTogetherKeepABoundedCache) {
    // Two readers at once hold two connections; each reads less than the
    // bound, both together more. Handed back, they keep at most the bound.
    const int rows = 6 * Realm::kIdleCacheBytes / 10 / 8000;
    realm->transactionWithBlock([&] {
        for (int i = 0; i < rows; ++i) {
            auto g = Gadget::make("row" + std::to_string(i), "label", i);
            g.tags = {std::string(8000, char('a' + i % 26))};
            realm->add(g);
        }
    });
    std::promise<void> firstRead, secondRead;
    size_t first = 0, second = 0;
    // A transaction keeps its connection until it ends: the second read needs another one.
    std::thread holder([&] {
        realm->transactionWithBlock([&] {
            first = realm->objects<Gadget>().toVector().size();
            firstRead.set_value();
            secondRead.get_future().wait();
        });
    });
    firstRead.get_future().wait();
    second = realm->objects<Gadget>().toVector().size();
    EXPECT_GT(realm->idleCacheBytes(), static_cast<size_t>(Realm::kIdleCacheBytes) / 4)
        << "one reader's pages alone stay";
    secondRead.set_value();
    holder.join();
    ASSERT_EQ(first + second, static_cast<size_t>(2 * rows));
    EXPECT_LE(realm->idleCacheBytes(), static_cast<size_t>(Realm::kIdleCacheBytes));
}
