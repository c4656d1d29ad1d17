// The store's bulk-write aids: indexes built once at the commit, and plain
// inserts that still refuse a key twice.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "Platform/Realm/RealmTestRecords.h"
#include "Support/TestSupport.h"

namespace {

std::set<std::string> gadgetIndexes(const std::shared_ptr<Realm>& realm) {
    // The schema table is readable like any other through a raw column query.
    Property name;
    name.name = "name";
    name.type = PropertyType::String;
    std::set<std::string> out;
    for (const auto& v : realm->queryColumn("SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = 'Gadget'",
                                            {}, name))
        if (auto s = std::get_if<std::string>(&v)) out.insert(*s);
    return out;
}

class RealmBulkWrite : public ::testing::Test {
protected:
    TestSupport::TempDir dir;
    std::shared_ptr<Realm> realm = Realm::open({dir.file("bulk.realm")});
};

TEST_F(RealmBulkWrite, DeferredIndexesComeBackAtTheCommitAndAfterARollback) {
    realm->transactionWithBlock([&] {
        auto g = Gadget::make("k0", "Zeta", 1);
        realm->add(g);
    });
    const auto before = gadgetIndexes(realm);
    ASSERT_GE(before.size(), 3u) << "label, its folded copy, count and the key";

    realm->transactionWithBlock([&] {
        realm->deferIndexes(Gadget::schema());
        EXPECT_LT(gadgetIndexes(realm).size(), before.size());
        for (int i = 1; i <= 500; ++i) {
            auto g = Gadget::make("k" + std::to_string(i), "Label " + std::to_string(i % 7), i % 5);
            realm->add(g);
        }
        // Queries inside the transaction still answer, without the indexes.
        EXPECT_EQ(realm->objectsWhere<Gadget>("count = 3").count(), 100u);
    });
    EXPECT_EQ(gadgetIndexes(realm), before);
    EXPECT_EQ(realm->objectsWhere<Gadget>("label BEGINSWITH[cd] %@", "label 3").count(), 72u) << "i % 7 == 3 for 3, 10, ..., 500";
    EXPECT_EQ(realm->objectsWhere<Gadget>("count = 3").count(), 100u);

    EXPECT_THROW(realm->transactionWithBlock([&] {
                     realm->deferIndexes(Gadget::schema());
                     auto g = Gadget::make("k9999", "Gone");
                     realm->add(g);
                     throw std::runtime_error("stop");
                 }),
                 std::runtime_error);
    EXPECT_EQ(gadgetIndexes(realm), before);
    EXPECT_FALSE(realm->objectForPrimaryKey<Gadget>("k9999"));
    EXPECT_THROW(realm->deferIndexes(Gadget::schema()), RealmException) << "only inside a transaction";
}

TEST_F(RealmBulkWrite, APlainInsertOfAnExistingKeyFailsAndChangesNothing) {
    realm->transactionWithBlock([&] {
        auto g = Gadget::make("same", "First", 1);
        realm->add(g);
    });
    EXPECT_THROW(realm->transactionWithBlock([&] {
                     auto g = Gadget::make("other", "Other");
                     realm->add(g);
                     auto again = Gadget::make("same", "Second", 2);
                     realm->add(again);
                 }),
                 RealmException);
    EXPECT_EQ(realm->objectForPrimaryKey<Gadget>("same")->label, "First");
    EXPECT_FALSE(realm->objectForPrimaryKey<Gadget>("other")) << "the whole transaction rolled back";
    // The row id of a plain insert is the record's.
    realm->transactionWithBlock([&] {
        auto g = Gadget::make("third", "Third");
        realm->add(g);
        EXPECT_EQ(g.realmRowId(), realm->rowIdForPrimaryKey(Gadget::schema(), "third"));
    });
}

}  // namespace

namespace {
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
