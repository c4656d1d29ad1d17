// Large commits are copied into the database file afterwards.
#include <gtest/gtest.h>

#include <filesystem>

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
