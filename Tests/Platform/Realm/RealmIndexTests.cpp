// How the store indexes: Booleans through partial indexes that the compiled
// queries can use, folded shadow columns without an index, stale indexes
// dropped when a file is opened.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <set>

#include "Platform/Realm/RealmTestRecords.h"
#include "Support/TestSupport.h"

namespace {

struct Lamp : RealmObject<Lamp> {
    std::string key;
    std::optional<bool> lit;
    std::string owner;
    std::optional<int64_t> level;

    static const ObjectSchema& schema() {
        static const ObjectSchema s("Lamp", {
            REALM_PROPERTY(Lamp, key, PropertyPrimaryKey),
            REALM_PROPERTY(Lamp, lit, PropertyIndexed),
            REALM_PROPERTY(Lamp, owner, PropertyIndexed | PropertyFoldedUnindexed),
            REALM_PROPERTY(Lamp, level, PropertyIndexed),
        });
        return s;
    }
};

// A second handle on the file, for what the store does not show.
class RawDatabase {
public:
    explicit RawDatabase(const std::string& path) { EXPECT_EQ(sqlite3_open(path.c_str(), &db_), SQLITE_OK); }
    ~RawDatabase() { sqlite3_close(db_); }

    void exec(const std::string& sql) {
        char* error = nullptr;
        EXPECT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "") << sql;
        sqlite3_free(error);
    }
    // The text column 0 of every row (column `column` when given).
    std::vector<std::string> texts(const std::string& sql, const std::vector<RealmValue>& bindings = {},
                                   int column = 0) {
        std::vector<std::string> out;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sqlite3_errmsg(db_) << ": " << sql;
            return out;
        }
        int index = 1;
        for (const auto& v : bindings) {
            if (auto i = std::get_if<int64_t>(&v)) sqlite3_bind_int64(statement, index, *i);
            else if (auto s = std::get_if<std::string>(&v)) sqlite3_bind_text(statement, index, s->c_str(), -1, SQLITE_TRANSIENT);
            else if (auto b = std::get_if<bool>(&v)) sqlite3_bind_int64(statement, index, *b);
            else sqlite3_bind_null(statement, index);
            ++index;
        }
        while (sqlite3_step(statement) == SQLITE_ROW) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
            out.push_back(text ? text : "<null>");
        }
        sqlite3_finalize(statement);
        return out;
    }
    std::set<std::string> indexes(const std::string& table) {
        auto names = texts("SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = ?", {table});
        return {names.begin(), names.end()};
    }
    std::string indexSql(const std::string& name) {
        auto rows = texts("SELECT sql FROM sqlite_master WHERE type = 'index' AND name = ?", {name});
        return rows.empty() ? "" : rows[0];
    }
    // The plan's lines for a result's query.
    template <typename T> std::string plan(const Results<T>& results) {
        std::string out;
        for (const auto& line : texts("EXPLAIN QUERY PLAN " + results.core()->querySql("_rowid"),
                                      results.core()->where().bindings, 3))
            out += line + "\n";
        return out;
    }

private:
    sqlite3* db_ = nullptr;
};

std::optional<bool> litOf(int i) {
    if (i % 5 == 0) return std::nullopt;
    return i % 3 == 0;
}

class RealmIndexTest : public ::testing::Test {
protected:
    TestSupport::TempDir dir;
    std::string path = dir.file("lamps.realm");
    std::shared_ptr<Realm> realm = Realm::open({path});
    static constexpr int kLamps = 120;

    void addLamps() {
        realm->transactionWithBlock([&] {
            for (int i = 0; i < kLamps; ++i) {
                Lamp lamp;
                lamp.key = "k" + std::to_string(i);
                lamp.lit = litOf(i);
                lamp.owner = i % 4 == 0 ? "Éloïse Martin" : "Bob";
                lamp.level = i % 3;
                realm->add(lamp);
            }
        });
    }
    // The expectation, from the values written, with nil matching only "!=".
    static size_t expected(bool equal, bool value) {
        size_t n = 0;
        for (int i = 0; i < kLamps; ++i) {
            auto lit = litOf(i);
            if (equal ? (lit && *lit == value) : (!lit || *lit != value)) ++n;
        }
        return n;
    }
};

TEST(RealmPredicateLiterals, OnlyBooleanZeroOrOneBecomesAConstant) {
    const auto& schema = Lamp::schema();
    struct Case {
        Predicate predicate;
        const char* constant;  // nullptr: the value stays bound
    };
    const Case cases[] = {
        {Predicate("lit = 1"), "= 1"},
        {Predicate("lit == NO"), "= 0"},
        {Predicate("lit = %@", {RealmValue(true)}), "= 1"},
        {Predicate("lit = %d", {RealmValue(int64_t(0))}), "= 0"},
        {Predicate("lit = %d", {RealmValue(true)}), "= 1"},
        {Predicate("lit != 1"), "<> 1"},
        {Predicate("1 = lit"), "= 1"},
        {Predicate("lit = 2"), nullptr},
        {Predicate("lit < 1"), nullptr},
        {Predicate("lit = 1.0"), nullptr},
        {Predicate("level = 1"), nullptr},
        {Predicate("level = %@", {RealmValue(true)}), nullptr},
    };
    for (const auto& c : cases) {
        const CompiledPredicate compiled = c.predicate.compile(schema);
        if (c.constant) {
            EXPECT_TRUE(compiled.bindings.empty()) << c.predicate.format() << " -> " << compiled.sql;
            EXPECT_NE(compiled.sql.find(c.constant), std::string::npos) << c.predicate.format() << " -> " << compiled.sql;
        } else {
            EXPECT_EQ(compiled.bindings.size(), 1u) << c.predicate.format() << " -> " << compiled.sql;
        }
    }
    const CompiledPredicate nil = Predicate("lit = %@", {RealmValue(std::monostate{})}).compile(schema);
    EXPECT_TRUE(nil.bindings.empty());
    EXPECT_NE(nil.sql.find("IS NULL"), std::string::npos) << nil.sql;
    EXPECT_THROW(Predicate("lit = 'yes'").compile(schema), RealmException);
}

TEST_F(RealmIndexTest, BooleanQueriesUseThePartialIndexAndKeepNilSemantics) {
    addLamps();
    RawDatabase raw(path);
    EXPECT_NE(raw.indexSql("Lamp_lit_yes").find("WHERE"), std::string::npos) << raw.indexSql("Lamp_lit_yes");
    EXPECT_NE(raw.plan(realm->objectsWhere<Lamp>("lit = 1")).find("Lamp_lit_yes"), std::string::npos);
    EXPECT_NE(raw.plan(realm->objectsWhere<Lamp>("lit = %@", true)).find("Lamp_lit_yes"), std::string::npos);
    EXPECT_NE(raw.plan(realm->objectsWhere<Lamp>("lit == YES AND owner = %@", "Bob")).find("Lamp_lit_yes"),
              std::string::npos)
        << raw.plan(realm->objectsWhere<Lamp>("lit == YES AND owner = %@", "Bob"));

    ASSERT_GT(expected(true, true), 0u);
    EXPECT_EQ(realm->objectsWhere<Lamp>("lit = 1").count(), expected(true, true));
    EXPECT_EQ(realm->objectsWhere<Lamp>("lit = %@", true).count(), expected(true, true));
    EXPECT_EQ(realm->objectsWhere<Lamp>("lit = 0").count(), expected(true, false));
    EXPECT_EQ(realm->objectsWhere<Lamp>("lit == NO").count(), expected(true, false));
    EXPECT_EQ(realm->objectsWhere<Lamp>("lit != 1").count(), expected(false, true));
    EXPECT_EQ(realm->objectsWhere<Lamp>("lit != %d", 0).count(), expected(false, false));
    EXPECT_EQ(realm->objectsWhere<Lamp>("NOT (lit = 1)").count(), expected(false, true));
    EXPECT_EQ(realm->objectsWhere<Lamp>("lit = nil").count(), size_t(kLamps / 5));
    EXPECT_EQ(realm->objectsWhere<Lamp>("lit = 1").count() + realm->objectsWhere<Lamp>("lit != 1").count(),
              size_t(kLamps));

    // A flag set later enters the partial index.
    auto unlit = realm->objectsWhere<Lamp>("lit = 0");
    const size_t before = realm->objectsWhere<Lamp>("lit = 1").count();
    const size_t turned = unlit.count();
    realm->transactionWithBlock([&] { unlit.setValueForKey("lit", true); });
    EXPECT_EQ(realm->objectsWhere<Lamp>("lit = 1").count(), before + turned);
    EXPECT_EQ(unlit.count(), 0u);
}

TEST_F(RealmIndexTest, AFoldedColumnWithoutIndexIsStillFilledAndSearched) {
    addLamps();
    RawDatabase raw(path);
    const auto indexes = raw.indexes("Lamp");
    EXPECT_TRUE(indexes.count("Lamp_owner")) << "exact lookups keep their index";
    EXPECT_FALSE(indexes.count("Lamp_owner__cd"));
    EXPECT_TRUE(indexes.count("Lamp_level"));
    EXPECT_FALSE(indexes.count("Lamp_lit")) << "only the partial one";

    EXPECT_EQ(raw.texts("SELECT DISTINCT owner__cd FROM Lamp ORDER BY 1"), (std::vector<std::string>{"bob", "eloise martin"}));
    const auto search = realm->objectsWhere<Lamp>("owner CONTAINS[cd] %@", "LOÏSE");
    EXPECT_NE(search.core()->where().sql.find("owner__cd"), std::string::npos) << "reads the folded copy";
    EXPECT_EQ(search.count(), size_t(kLamps / 4));
    EXPECT_EQ(realm->objectsWhere<Lamp>("owner BEGINSWITH[cd] %@", "elo").count(), size_t(kLamps / 4));
    EXPECT_EQ(realm->objectsWhere<Lamp>("owner = %@", "Bob").count(), size_t(kLamps - kLamps / 4));

    // Every way of writing keeps the copy current.
    realm->transactionWithBlock([&] {
        auto one = realm->objectForPrimaryKey<Lamp>("k1");
        realm->setValueForKey(*one, "owner", "Zoë");
        realm->objectsWhere<Lamp>("key IN %@", StringList{"k2", "k3"}).setValueForKey("owner", "Zoë");
        Lamp replaced = *realm->objectForPrimaryKey<Lamp>("k5");
        replaced.owner = "ZOE";
        realm->addOrUpdate(replaced);
    });
    EXPECT_EQ(raw.texts("SELECT owner__cd FROM Lamp WHERE key IN ('k1', 'k2', 'k3', 'k5')"),
              (std::vector<std::string>(4, "zoe")));
    EXPECT_EQ(realm->objectsWhere<Lamp>("owner CONTAINS[cd] %@", "zoe").count(), 4u);
}

TEST_F(RealmIndexTest, OpeningDropsStaleIndexesAndCreatesTheDeclaredOnes) {
    addLamps();
    realm.reset();
    {
        // The index set of an earlier schema, and indexes the store did not make.
        RawDatabase raw(path);
        raw.exec("DROP INDEX Lamp_lit_yes");
        raw.exec("CREATE INDEX Lamp_lit ON Lamp(lit)");
        raw.exec("CREATE INDEX Lamp_owner__cd ON Lamp(owner__cd, owner)");
        raw.exec("CREATE INDEX keep_me ON Lamp(owner)");
    }
    realm = Realm::open({path});
    EXPECT_EQ(realm->objectsWhere<Lamp>("lit = 1").count(), expected(true, true));
    RawDatabase raw(path);
    auto indexes = raw.indexes("Lamp");
    std::set<std::string> ours;
    for (const auto& name : indexes)
        if (name.rfind("Lamp_", 0) == 0) ours.insert(name);
    EXPECT_EQ(ours, (std::set<std::string>{"Lamp_level", "Lamp_lit_yes", "Lamp_owner"}));
    EXPECT_TRUE(indexes.count("keep_me")) << "only the store's own names are managed";
    EXPECT_TRUE(std::any_of(indexes.begin(), indexes.end(),
                            [](const std::string& n) { return n.rfind("sqlite_autoindex_Lamp", 0) == 0; }))
        << "the key's unique index stays";
    EXPECT_EQ(realm->objects<Lamp>().count(), size_t(kLamps));
    EXPECT_EQ(realm->objectsWhere<Lamp>("owner CONTAINS[cd] %@", "eloise").count(), size_t(kLamps / 4));
    EXPECT_THROW(realm->transactionWithBlock([&] {
                     Lamp twice;
                     twice.key = "k7";
                     realm->add(twice);
                 }),
                 RealmException)
        << "the key is still unique";
}

}  // namespace
