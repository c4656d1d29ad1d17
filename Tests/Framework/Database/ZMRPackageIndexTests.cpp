// The package table's indexes: the lists' flag queries read the small partial
// indexes, and a file made with the earlier index set is brought to the
// current one when opened, its records untouched.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <set>

#include "Database/ZMRPackage.h"
#include "Support/TestSupport.h"

namespace {

std::vector<std::string> column(sqlite3* db, const std::string& sql, int index = 0) {
    std::vector<std::string> out;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sqlite3_errmsg(db) << ": " << sql;
        return out;
    }
    while (sqlite3_step(statement) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
        out.push_back(text ? text : "<null>");
    }
    sqlite3_finalize(statement);
    return out;
}

class PackageIndexTest : public ::testing::Test {
protected:
    TestSupport::IsolatedEnvironment env;
    std::shared_ptr<Realm> realm = Realm::defaultRealm();
    sqlite3* db = nullptr;
    static constexpr int kPackages = 60;

    void SetUp() override {
        realm->transactionWithBlock([&] {
            for (int i = 0; i < kPackages; ++i) {
                ZMRPackage p;
                p.identifier = "org.example.p" + std::to_string(i);
                p.name = "Package " + std::to_string(i);
                p.maintainer = i % 3 == 0 ? "Zoë Ärger <zoe@example.org>" : "Someone Else";
                // Flags as a refresh leaves them, nil for records never marked.
                p.isInstalled = i % 4 == 0 ? std::nullopt : std::optional<bool>(i % 4 == 1);
                p.isInTheQueue = i % 10 == 0;
                realm->add(p);
            }
        });
        ASSERT_EQ(sqlite3_open(realm->path().c_str(), &db), SQLITE_OK);
    }
    void TearDown() override { sqlite3_close(db); }

    std::set<std::string> indexes() {
        auto names = column(db, "SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = 'ZMRPackage'");
        return {names.begin(), names.end()};
    }
    std::string plan(const Results<ZMRPackage>& results) {
        EXPECT_TRUE(results.core()->where().bindings.empty()) << results.core()->where().sql;
        std::string out;
        for (const auto& line : column(db, "EXPLAIN QUERY PLAN " + results.core()->querySql("_rowid"), 3))
            out += line + "\n";
        return out;
    }
};

TEST_F(PackageIndexTest, FlagQueriesReadThePartialIndexesAndCountRight) {
    auto installed = ZMRPackage::objectsWhere("isInstalled = 1");
    auto queued = ZMRPackage::objectsWhere("isInTheQueue = %@", true);
    EXPECT_NE(plan(installed).find("ZMRPackage_isInstalled_yes"), std::string::npos) << plan(installed);
    EXPECT_NE(plan(queued).find("ZMRPackage_isInTheQueue_yes"), std::string::npos) << plan(queued);

    // i % 4: 0 nil, 1 installed, 2 and 3 not installed.
    EXPECT_EQ(installed.count(), size_t(kPackages / 4));
    EXPECT_EQ(ZMRPackage::objectsWhere("isInstalled = 0").count(), size_t(kPackages / 2));
    EXPECT_EQ(ZMRPackage::objectsWhere("isInstalled == NO").count(), size_t(kPackages / 2));
    EXPECT_EQ(ZMRPackage::objectsWhere("isInstalled != 1").count(), size_t(kPackages - kPackages / 4))
        << "nil is kept by !=";
    EXPECT_EQ(ZMRPackage::objectsWhere("isInstalled != %@", false).count(), size_t(kPackages / 2));
    EXPECT_EQ(queued.count(), size_t(kPackages / 10));
    EXPECT_EQ(ZMRPackage::objectsWhere("isInTheQueue = 1 AND isInstalled = nil").count(), size_t(kPackages / 20));
}

TEST_F(PackageIndexTest, MaintainersKeepTheirFoldedCopyButNoFoldedIndex) {
    const auto names = indexes();
    // Maintainers are looked up rarely and their random keys are the dearest
    // index to keep up during a refresh: they have none, only the folded copy.
    EXPECT_FALSE(names.count("ZMRPackage_maintainer"));
    EXPECT_FALSE(names.count("ZMRPackage_maintainer__cd"));
    EXPECT_TRUE(names.count("ZMRPackage_name__cd")) << "name prefix searches keep theirs";
    EXPECT_EQ(column(db, "SELECT count(*) FROM ZMRPackage WHERE maintainer__cd = 'zoe arger <zoe@example.org>'"),
              std::vector<std::string>{"20"});
    EXPECT_EQ(ZMRPackage::objectsWhere("maintainer CONTAINS[cd] %@", "ZOE ARGER").count(), size_t(kPackages / 3));
    EXPECT_EQ(ZMRPackage::objectsWhere("maintainer = %@", "Someone Else").count(), size_t(kPackages * 2 / 3));
}

TEST_F(PackageIndexTest, AFileWithTheEarlierIndexSetOpensWithTheCurrentOne) {
    const auto current = indexes();
    for (const char* sql : {"DROP INDEX ZMRPackage_isInstalled_yes",
                            "CREATE INDEX ZMRPackage_isInstalled ON ZMRPackage(isInstalled)",
                            "CREATE INDEX ZMRPackage_maintainer__cd ON ZMRPackage(maintainer__cd, maintainer)"}) {
        char* error = nullptr;
        ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    }
    ASSERT_NE(indexes(), current);

    auto reopened = Realm::open({realm->path()});
    EXPECT_FALSE(reopened->databaseWasReset());
    EXPECT_EQ(indexes(), current);
    EXPECT_EQ(reopened->objects<ZMRPackage>().count(), size_t(kPackages));
    EXPECT_EQ(reopened->objectsWhere<ZMRPackage>("isInstalled = 1").count(), size_t(kPackages / 4));
    EXPECT_EQ(reopened->objectsWhere<ZMRPackage>("maintainer CONTAINS[cd] %@", "zoë").count(), size_t(kPackages / 3));
    auto p = reopened->objectForPrimaryKey<ZMRPackage>("org.example.p9");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->name, "Package 9");
    EXPECT_EQ(p->isInstalled, std::optional<bool>(true));
}

}  // namespace
