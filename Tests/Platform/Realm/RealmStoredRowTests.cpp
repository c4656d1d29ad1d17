// Records written in their stored form: made on another thread, inserted many
// to a statement, or updated field by field. Whatever the path, a record must
// read back exactly as one written with add().
#include <gtest/gtest.h>

#include <thread>

#include "Platform/Realm/RealmTestRecords.h"
#include "Support/TestSupport.h"

namespace {

class RealmStoredRows : public ::testing::Test {
protected:
    TestSupport::TempDir dir;
    std::shared_ptr<Realm> realm = Realm::open({dir.file("rows.realm")});

    static Gadget sample(const std::string& key) {
        Gadget g = Gadget::make(key, "Ünïcode Label " + key, 7);
        g.flag = true;
        g.tags = {"a \"quoted\" tag", "second"};
        g.weight = 2.5;
        g.seen = 1700000000.0;
        return g;
    }
};

TEST_F(RealmStoredRows, AllWritePathsReadBackAlike) {
    // Stored rows made on a thread of their own, as the refresh makes them.
    std::vector<RealmStoredRow> rows;
    std::thread maker([&] {
        for (int i = 0; i < 70; ++i) rows.push_back(Realm::storedRow(sample("bulk" + std::to_string(i))));
        Gadget empty = Gadget::make("empty", "");
        rows.push_back(Realm::storedRow(empty));
    });
    maker.join();
    std::vector<const RealmStoredRow*> pointers;
    for (const auto& r : rows) pointers.push_back(&r);
    realm->transactionWithBlock([&] {
        auto reference = sample("reference");
        realm->add(reference);
        auto single = Realm::storedRow(sample("single"));
        realm->insertStoredRows({&single});
        realm->insertStoredRows(pointers);  // 71 rows: two full statements and a remainder
    });

    auto reference = *realm->objectForPrimaryKey<Gadget>("reference");
    for (const std::string key : {"single", "bulk0", "bulk31", "bulk32", "bulk69"}) {
        auto g = realm->objectForPrimaryKey<Gadget>(key);
        ASSERT_TRUE(g) << key;
        EXPECT_EQ(g->label, "Ünïcode Label " + key);
        EXPECT_EQ(g->count, reference.count);
        EXPECT_EQ(g->flag, reference.flag);
        EXPECT_EQ(g->tags, reference.tags);
        EXPECT_EQ(g->weight, reference.weight);
        EXPECT_EQ(g->seen, reference.seen);
    }
    auto empty = *realm->objectForPrimaryKey<Gadget>("empty");
    EXPECT_TRUE(empty.label.empty());
    EXPECT_FALSE(empty.count.has_value());
    EXPECT_TRUE(empty.tags.empty());
    EXPECT_EQ(realm->objects<Gadget>().count(), 73u);
    // The folded copies were written too: a folded search finds the bulk rows.
    EXPECT_EQ(realm->objectsWhere<Gadget>("label BEGINSWITH[cd] %@", "unicode label bulk").count(), 70u);
    EXPECT_EQ(realm->objectsWhere<Gadget>("label == nil").count(), 1u);
}

TEST_F(RealmStoredRows, AKeyTwiceOrNoKeyFailsAndRollsBack) {
    auto taken = Realm::storedRow(sample("taken"));
    realm->transactionWithBlock([&] { realm->insertStoredRows({&taken}); });
    auto again = Realm::storedRow(Gadget::make("taken", "Again"));
    auto fresh = Realm::storedRow(Gadget::make("fresh", "Fresh"));
    EXPECT_THROW(realm->transactionWithBlock([&] { realm->insertStoredRows({&fresh, &again}); }), RealmException);
    EXPECT_FALSE(realm->objectForPrimaryKey<Gadget>("fresh")) << "the batch rolled back with its transaction";
    EXPECT_EQ(realm->objectForPrimaryKey<Gadget>("taken")->label, "Ünïcode Label taken");

    auto keyless = Realm::storedRow(Gadget::make("", "No key"));
    EXPECT_THROW(realm->transactionWithBlock([&] { realm->insertStoredRows({&keyless}); }), RealmException);
    EXPECT_THROW(realm->transactionWithBlock([&] { realm->insertStoredRows({&fresh, &keyless}); }), RealmException);
    EXPECT_THROW(realm->insertStoredRows({&fresh}), RealmException) << "only inside a transaction";

    Note note;
    note.text = "a note";
    auto noteRow = Realm::storedRow(note);
    EXPECT_THROW(realm->transactionWithBlock([&] { realm->insertStoredRows({&fresh, &noteRow}); }), RealmException)
        << "rows of two classes in one insert";
}

TEST_F(RealmStoredRows, AnUpdateWritesOnlyTheNamedFields) {
    realm->transactionWithBlock([&] {
        auto g = sample("kept");
        realm->add(g);
    });
    Gadget changed = Gadget::make("kept", "New Label", 99);
    changed.tags = {"replaced"};
    changed.weight = 9;
    bool updated = false, missing = true;
    realm->transactionWithBlock([&] {
        const auto labelAndTags = Realm::storedUpdate(Gadget::schema(), {"label", "tags"});
        updated = realm->updateStoredRow(Realm::storedRow(changed), labelAndTags);
        missing = realm->updateStoredRow(Realm::storedRow(Gadget::make("absent", "x")), labelAndTags);
    });
    EXPECT_TRUE(updated);
    EXPECT_FALSE(missing) << "no record with that key: nothing written, and said so";
    EXPECT_FALSE(realm->objectForPrimaryKey<Gadget>("absent"));
    auto g = *realm->objectForPrimaryKey<Gadget>("kept");
    EXPECT_EQ(g.label, "New Label");
    EXPECT_EQ(g.tags, StringList{"replaced"});
    EXPECT_EQ(g.count, 7) << "not named: left alone";
    EXPECT_EQ(g.weight, 2.5);
    EXPECT_EQ(g.flag, true);
    // The folded copy follows its text.
    EXPECT_EQ(realm->objectsWhere<Gadget>("label BEGINSWITH[cd] %@", "new lab").count(), 1u);
    EXPECT_EQ(realm->objectsWhere<Gadget>("label BEGINSWITH[cd] %@", "unicode").count(), 0u);
    EXPECT_THROW(Realm::storedUpdate(Gadget::schema(), {"nosuch"}), RealmException);
}

// The refresh's path: one prepared update for many rows, each row patched
// in its stored form first.
TEST_F(RealmStoredRows, APreparedUpdateWritesPatchedRows) {
    realm->transactionWithBlock([&] {
        for (const char* key : {"one", "two"}) {
            auto g = sample(key);
            realm->add(g);
        }
    });
    const auto update = Realm::storedUpdate(Gadget::schema(), {"label", "flag", "count"});
    auto row = Realm::storedRow(Gadget::make("one", "Ignored", 1));
    Realm::setStoredValue(row, "label", std::string("Émile Zola"));
    Realm::setStoredValue(row, "flag", false);
    Realm::setStoredValue(row, "count", std::monostate{});
    auto second = Realm::storedRow(Gadget::make("two", "Second", 2));
    realm->transactionWithBlock([&] {
        EXPECT_TRUE(realm->updateStoredRow(row, update));
        EXPECT_TRUE(realm->updateStoredRow(second, update));
    });
    auto one = *realm->objectForPrimaryKey<Gadget>("one");
    EXPECT_EQ(one.label, "Émile Zola");
    EXPECT_EQ(one.flag, false) << "a false flag is stored as NO, not nil";
    EXPECT_FALSE(one.count.has_value());
    EXPECT_EQ(one.tags, (StringList{"a \"quoted\" tag", "second"})) << "not in the update";
    EXPECT_EQ(realm->objectsWhere<Gadget>("label BEGINSWITH[cd] %@", "emile").count(), 1u) << "folded copy patched";
    EXPECT_EQ(realm->objectsWhere<Gadget>("flag = 0").count(), 1u);
    EXPECT_EQ(realm->objectForPrimaryKey<Gadget>("two")->label, "Second");
    EXPECT_THROW(Realm::setStoredValue(row, "nosuch", int64_t{1}), RealmException);
    Note note;
    auto noteRow = Realm::storedRow(note);
    EXPECT_THROW(realm->transactionWithBlock([&] { realm->updateStoredRow(noteRow, update); }), RealmException)
        << "a row of another class";
}

}  // namespace
