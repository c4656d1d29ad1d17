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

TEST_F(RealmBulkWrite, IdleConnectionsKeepBoundedPreparedStatements) {
    realm->transactionWithBlock([&] {
        for (int i = 0; i < 10; ++i) {
            auto g = Gadget::make("g" + std::to_string(i), "label", i);
            realm->add(g);
        }
    });
    // Query n has its own text: clause i compares `count` when bit i of n
    // is set, `weight` (0 on every record, never 100 or more) otherwise. So each leaves its
    // own prepared statement on the connection, and finds one record per set bit.
    const auto query = [&](unsigned n) {
        std::string format;
        for (unsigned bit = 0; bit < 8; ++bit)
            format += (bit ? " OR " : "") +
                      (n >> bit & 1 ? "count == " + std::to_string(bit) : "weight == " + std::to_string(100 + bit));
        return realm->objectsWhere<Gadget>(format).count();
    };
    const struct {
        const char* what;
        size_t queries;
        bool released;
    } cases[] = {
        {"fewer distinct queries than the bound", Realm::kIdleStatements / 2, false},
        {"twice the bound", 2 * Realm::kIdleStatements, false},
        {"then memory released", 2 * Realm::kIdleStatements, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (unsigned n = 0; n < c.queries; ++n) ASSERT_EQ(query(n), static_cast<size_t>(__builtin_popcount(n)));
        EXPECT_GT(realm->idleStatementCount(), 0u) << "the last queries' statements stay for reuse";
        EXPECT_LE(realm->idleStatementCount(), Realm::kIdleStatements);
        if (c.released) {
            realm->releaseMemory();
            EXPECT_EQ(realm->idleStatementCount(), 0u);
            EXPECT_EQ(query(7), 3u) << "a finalized statement is prepared again";
        }
    }
}
