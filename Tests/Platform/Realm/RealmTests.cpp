#include <gtest/gtest.h>

#include <sqlite3.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <thread>

#include <sys/stat.h>
#include <fmt/format.h>

#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMPaths.h"
#include "Realm/Realm.h"
#include "Realm/TextFolding.h"
#include "RealmTestRecords.h"
#include "Support/TestSupport.h"

using namespace std::chrono_literals;

namespace {

class RealmTest : public ::testing::Test {
protected:
    TestSupport::IsolatedEnvironment env;
    std::shared_ptr<Realm> realm = Realm::defaultRealm();

    void addGadgets(const std::vector<Gadget>& gadgets) {
        realm->transactionWithBlock([&] {
            for (auto g : gadgets) realm->add(g);
        });
    }
    std::vector<std::string> keys(const Results<Gadget>& results) {
        std::vector<std::string> out;
        for (const auto& g : results) out.push_back(g.key);
        return out;
    }
};

TEST_F(RealmTest, DefaultRealmLivesInTheApplicationSupportDirectoryWithSchemaVersion27) {
    EXPECT_EQ(realm->path(), env.support() + "/default.realm");
    EXPECT_FALSE(realm->databaseWasReset());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(realm->path().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &st, nullptr);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), 27);
    sqlite3_finalize(st);
    sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &st, nullptr);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "wal");
    sqlite3_finalize(st);
    sqlite3_close(db);
}

TEST_F(RealmTest, RecordsRoundTripWithOptionalsListsAndOrder) {
    Gadget full = Gadget::make("a", "Alpha", 0);
    full.flag = false;  // a stored NO is not nil
    full.tags = {"zeta", "alpha", "", "mid \"quoted\""};
    full.weight = 2.5;
    full.seen = 1700000000.25;
    Gadget empty = Gadget::make("b", "");
    addGadgets({full, empty});

    auto a = Gadget::objectForPrimaryKey("a");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->label, "Alpha");
    EXPECT_EQ(a->count, 0);
    EXPECT_EQ(a->flag, false);
    EXPECT_EQ(a->tags, full.tags);
    EXPECT_DOUBLE_EQ(a->weight, 2.5);
    EXPECT_DOUBLE_EQ(*a->seen, 1700000000.25);
    EXPECT_TRUE(a->isManaged());

    auto b = Gadget::objectForPrimaryKey("b");
    ASSERT_TRUE(b);
    EXPECT_EQ(b->count, std::nullopt);
    EXPECT_EQ(b->flag, std::nullopt);
    EXPECT_TRUE(b->tags.empty());
    EXPECT_EQ(b->seen, std::nullopt);

    EXPECT_FALSE(Gadget::objectForPrimaryKey("missing"));
    EXPECT_FALSE(Gadget::objectForPrimaryKey(""));
}

TEST_F(RealmTest, WritesNeedATransactionAndPrimaryKeysStayUnique) {
    Gadget g = Gadget::make("k", "one");
    EXPECT_THROW(realm->add(g), RealmException);
    addGadgets({g});
    Gadget again = Gadget::make("k", "two");
    EXPECT_THROW(realm->transactionWithBlock([&] { realm->add(again); }), RealmException);
    EXPECT_EQ(Gadget::objectForPrimaryKey("k")->label, "one");

    auto before = *Gadget::objectForPrimaryKey("k");
    realm->transactionWithBlock([&] { realm->addOrUpdate(again); });
    EXPECT_EQ(Gadget::objectForPrimaryKey("k")->label, "two");
    EXPECT_FALSE(before.isInvalidated()) << "an update keeps the record's identity";
    EXPECT_EQ(Gadget::allObjects().count(), 1u);

    Gadget noKey;
    EXPECT_THROW(realm->transactionWithBlock([&] { realm->add(noKey); }), RealmException);
    // The row id of an insert is the record's.
    realm->transactionWithBlock([&] {
        auto third = Gadget::make("third", "Third");
        realm->add(third);
        EXPECT_EQ(third.realmRowId(), realm->rowIdForPrimaryKey(Gadget::schema(), "third"));
    });
}

TEST_F(RealmTest, NestedTransactionIsAnErrorAndTheOuterOneStillCommits) {
    bool innerThrew = false;
    realm->transactionWithBlock([&] {
        Gadget g = Gadget::make("outer", "x");
        realm->add(g);
        try {
            realm->transactionWithBlock([&] {});
        } catch (const RealmException&) {
            innerThrew = true;
        }
    });
    EXPECT_TRUE(innerThrew);
    EXPECT_TRUE(Gadget::objectForPrimaryKey("outer"));
    EXPECT_FALSE(realm->isInWriteTransaction());
}

TEST_F(RealmTest, AThrowingBlockRollsEverythingBack) {
    addGadgets({Gadget::make("keep", "kept", 1)});
    auto all = Gadget::allObjects();
    EXPECT_EQ(all.count(), 1u);
    EXPECT_THROW(realm->transactionWithBlock([&] {
        Gadget g = Gadget::make("new", "lost");
        realm->add(g);
        all.setValueForKey("count", 99);
        EXPECT_EQ(all.count(), 2u) << "the writer sees its own changes";
        throw std::runtime_error("abandon");
    }),
                 std::runtime_error);
    EXPECT_EQ(all.count(), 1u);
    EXPECT_EQ(Gadget::objectForPrimaryKey("keep")->count, 1);
    // The store is usable again at once.
    addGadgets({Gadget::make("after", "ok")});
    EXPECT_EQ(all.count(), 2u);
}

TEST_F(RealmTest, SortingDistinctAndKeyValueSets) {
    addGadgets({Gadget::make("1", "pear", 3), Gadget::make("2", "apple", 1), Gadget::make("3", "fig", 3),
                Gadget::make("4", "apple", 2), Gadget::make("5", "", std::nullopt)});
    EXPECT_EQ(keys(Gadget::allObjects()), (std::vector<std::string>{"1", "2", "3", "4", "5"})) << "database order";
    EXPECT_EQ(keys(Gadget::allObjects().sortedResultsUsingKeyPath("label", true)),
              (std::vector<std::string>{"5", "2", "4", "3", "1"}));
    EXPECT_EQ(keys(Gadget::allObjects().sortedResultsUsingDescriptors({{"count", false}, {"label", true}})),
              (std::vector<std::string>{"3", "1", "4", "2", "5"}));
    auto distinct = Gadget::objectsWhere("label != nil").distinctResultsUsingKeyPaths({"label"})
                        .sortedResultsUsingKeyPath("label", true);
    EXPECT_EQ(keys(distinct), (std::vector<std::string>{"2", "3", "1"}));
    auto labels = distinct.valueForKey("label");
    EXPECT_EQ(labels, (std::vector<nlohmann::json>{"apple", "fig", "pear"}));
    EXPECT_THROW(Gadget::allObjects().sortedResultsUsingKeyPath("nope", true), RealmException);
    EXPECT_THROW(Gadget::allObjects().sortedResultsUsingKeyPath("tags", true), RealmException);

    auto threes = Gadget::objectsWhere("count = %i", 3);
    EXPECT_THROW(threes.setValueForKey("flag", true), RealmException) << "outside a transaction";
    realm->transactionWithBlock([&] { threes.setValueForKey("flag", true); });
    EXPECT_EQ(Gadget::objectsWhere("flag = YES").count(), 2u);
    EXPECT_EQ(Gadget::objectsWhere("flag = nil").count(), 3u);
    realm->transactionWithBlock([&] { threes.setValueForKey("label", "Ünïcode"); });
    EXPECT_EQ(Gadget::objectsWhere("label ==[cd] 'unicode'").count(), 2u) << "the folded copy follows a set";
    EXPECT_THROW(realm->transactionWithBlock([&] { threes.setValueForKey("key", "x"); }), RealmException);

    auto one = *Gadget::objectForPrimaryKey("2");
    realm->transactionWithBlock([&] { realm->setValueForKey(one, "tags", StringList{"b", "a"}); });
    EXPECT_EQ(one.tags, (StringList{"b", "a"}));
    EXPECT_EQ(Gadget::objectForPrimaryKey("2")->tags, (StringList{"b", "a"}));

    auto first = Gadget::allObjects().sortedResultsUsingKeyPath("key", false).firstObject();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->key, "5");
    EXPECT_FALSE(Gadget::objectsWhere("count > 100").firstObject());
    EXPECT_THROW(Gadget::objectsWhere("count > 100")[0], std::out_of_range);
    EXPECT_EQ(Gadget::objectsWhere("count = 3").toVector().size(), 2u);

    // A result narrowed again keeps its order and binds its own arguments.
    auto sortedByKey = Gadget::objectsWhere("count >= %i", 2).sortedResultsUsingKeyPath("key", false);
    EXPECT_EQ(keys(sortedByKey.objectsWhere("label != %@", "apple")), (std::vector<std::string>{"3", "1"}));
    EXPECT_THROW(sortedByKey.objectsWhere("nope = 1"), RealmException);
}

// A count is asked of the database without reading the rows: it must agree
// with the rows read, whatever the result's shape, and follow every write.
TEST_F(RealmTest, CountsAgreeWithTheRowsReadAndFollowWrites) {
    addGadgets({Gadget::make("1", "pear", 3), Gadget::make("2", "apple", 1), Gadget::make("3", "fig", 3),
                Gadget::make("4", "apple", 2), Gadget::make("5", "", std::nullopt)});
    const std::vector<std::pair<const char*, Results<Gadget>>> shapes = {
        {"all", Gadget::allObjects()},
        {"filtered", Gadget::objectsWhere("count >= %i", 2)},
        {"sorted", Gadget::objectsWhere("label != nil").sortedResultsUsingKeyPath("label", false)},
        {"distinct", Gadget::objectsWhere("label != nil").distinctResultsUsingKeyPaths({"label"})},
        {"none", Gadget::objectsWhere("count > 100")},
    };
    auto check = [&](const char* when) {
        for (const auto& [name, results] : shapes) {
            // A fresh result each time: nothing read before the count.
            const size_t counted = results.objectsWhere("key != nil").count();
            EXPECT_EQ(counted, results.objectsWhere("key != nil").toVector().size()) << name << ", " << when;
            // One that has read its rows answers the same.
            EXPECT_EQ(results.count(), results.toVector().size()) << name << ", " << when;
        }
    };
    check("at first");
    EXPECT_EQ(shapes[3].second.objectsWhere("key != nil").count(), 3u) << "one per label";
    addGadgets({Gadget::make("6", "apple", 5), Gadget::make("7", "kiwi", 9)});
    check("after a write");
    realm->transactionWithBlock([&] {
        auto plum = Gadget::make("8", "plum", 4);
        realm->add(plum);
        EXPECT_EQ(Gadget::objectsWhere("count >= %i", 2).count(), 6u) << "the transaction's own row";
    });
    check("after a second write");
}

TEST_F(RealmTest, PropertiesByNameAndGenericValues) {
    Gadget g = Gadget::make("k", "Label", 4);
    g.tags = {"x", "y"};
    EXPECT_EQ(Gadget::propertyNames(),
              (std::vector<std::string>{"key", "label", "count", "flag", "tags", "weight", "seen"}));
    EXPECT_EQ(g.valueForKey("count"), 4);
    EXPECT_EQ(g.valueForKey("flag"), nullptr);
    EXPECT_EQ(g.valueForKey("tags"), nlohmann::json::array({"x", "y"}));
    EXPECT_THROW(g.valueForKey("missing"), RealmException);
    auto dict = g.dictionaryValue();
    EXPECT_EQ(dict.size(), 7u);
    EXPECT_EQ(dict["label"], "Label");
    g.setValueForKey("flag", true);
    EXPECT_EQ(g.flag, true);
}

TEST_F(RealmTest, DeletedRecordsAreInvalidatedWhicheverThreadDeletesThem) {
    addGadgets({Gadget::make("gone", "a"), Gadget::make("stays", "b")});
    auto gone = *Gadget::objectForPrimaryKey("gone");
    auto stays = *Gadget::objectForPrimaryKey("stays");
    Gadget unmanaged = Gadget::make("never", "stored");
    EXPECT_FALSE(unmanaged.isInvalidated());

    std::thread([&] {
        auto r = Realm::defaultRealm();
        r->transactionWithBlock([&] { r->deleteObjects(Gadget::objectsWhere("key = %@", "gone")); });
    }).join();
    EXPECT_TRUE(gone.isInvalidated());
    EXPECT_FALSE(stays.isInvalidated());

    // Added again under the same key it is another record.
    addGadgets({Gadget::make("gone", "back")});
    EXPECT_TRUE(gone.isInvalidated());
    realm->transactionWithBlock([&] { realm->deleteObject(stays); });
    EXPECT_TRUE(stays.isInvalidated());
    EXPECT_EQ(Gadget::allObjects().count(), 1u);
}

TEST_F(RealmTest, RecordsWithoutPrimaryKeyAreKeptApart) {
    Note a, b;
    a.text = b.text = "same";
    a.date = 1;
    b.date = 2;
    realm->transactionWithBlock([&] {
        realm->add(a);
        realm->add(b);
    });
    EXPECT_EQ(Note::allObjects().count(), 2u);
    a.text = "changed";
    realm->transactionWithBlock([&] { realm->addOrUpdate(a); });
    auto sorted = Note::allObjects().sortedResultsUsingKeyPath("date", false);
    EXPECT_EQ(sorted.count(), 2u);
    EXPECT_EQ(sorted[0].text, "same");
    EXPECT_EQ(sorted[1].text, "changed");
}

// ---- live results ---------------------------------------------------------------

TEST_F(RealmTest, ResultsAreLiveAndNotifyOnTheMainThreadAfterCommitsFromOtherThreads) {
    auto flagged = Gadget::objectsWhere("flag = YES");
    EXPECT_EQ(flagged.count(), 0u);
    std::atomic<int> calls{0};
    std::atomic<bool> onMain{true};
    size_t seenCount = 0;
    auto token = flagged.addNotificationBlock([&](const Results<Gadget>& r) {
        if (!Dispatch::isMainThread()) onMain = false;
        seenCount = r.count();
        ++calls;
    });
    std::promise<void> done;
    Dispatch::defaultQueue([&] {
        auto r = Realm::defaultRealm();
        Gadget g = Gadget::make("bg", "from background");
        g.flag = true;
        r->transactionWithBlock([&] { r->add(g); });
        done.set_value();
    });
    done.get_future().wait();
    EXPECT_EQ(flagged.count(), 1u) << "read again without waiting for the notification";
    ASSERT_TRUE(TestSupport::waitUntil([&] { return calls.load() > 0; }, 5s));
    EXPECT_TRUE(onMain);
    EXPECT_EQ(seenCount, 1u);

    // A rolled-back transaction announces nothing.
    const int before = calls;
    std::thread([&] {
        auto r = Realm::defaultRealm();
        try {
            r->transactionWithBlock([&] {
                Gadget g = Gadget::make("rolled", "back");
                g.flag = true;
                r->add(g);
                throw std::runtime_error("no");
            });
        } catch (const std::runtime_error&) {
        }
    }).join();
    TestSupport::pumpMainLoop(150ms);
    EXPECT_EQ(calls.load(), before);
    EXPECT_EQ(flagged.count(), 1u);

    // Writes to another class announce nothing either.
    Note n;
    n.text = "other class";
    realm->transactionWithBlock([&] { realm->add(n); });
    TestSupport::pumpMainLoop(100ms);
    EXPECT_EQ(calls.load(), before);

    // Once the token is gone the block is not called.
    token.invalidate();
    addGadgets({Gadget::make("late", "x")});
    TestSupport::pumpMainLoop(100ms);
    EXPECT_EQ(calls.load(), before);
}

TEST_F(RealmTest, NotificationsSkipAnOwnerThatIsGone) {
    auto owner = std::make_shared<int>(0);
    int calls = 0;
    auto token = Gadget::allObjects().addNotificationBlock(std::weak_ptr<void>(owner),
                                                           [&](const Results<Gadget>&) { ++calls; });
    addGadgets({Gadget::make("1", "a")});
    ASSERT_TRUE(TestSupport::waitUntil([&] { return calls == 1; }, 5s));
    owner.reset();
    addGadgets({Gadget::make("2", "b")});
    TestSupport::pumpMainLoop(150ms);
    EXPECT_EQ(calls, 1);
}

// ---- threads ---------------------------------------------------------------------

TEST_F(RealmTest, WritersOnBackgroundQueuesWhileTheMainThreadReads) {
    constexpr int kWriters = 4, kTransactions = 20, kPerTransaction = 10;
    std::atomic<int> finished{0};
    for (int w = 0; w < kWriters; ++w) {
        Dispatch::defaultQueue([w, &finished] {
            auto r = Realm::defaultRealm();
            for (int t = 0; t < kTransactions; ++t) {
                r->transactionWithBlock([&] {
                    for (int i = 0; i < kPerTransaction; ++i) {
                        Gadget g = Gadget::make(fmt::format("{}-{}-{}", w, t, i), "w", w);
                        r->add(g);
                    }
                });
            }
            ++finished;
        });
    }
    auto all = Gadget::allObjects();
    size_t last = 0;
    bool monotonic = true, wholeTransactions = true;
    while (finished < kWriters) {
        size_t n = all.count();
        if (n < last) monotonic = false;
        if (n % kPerTransaction != 0) wholeTransactions = false;
        last = n;
        TestSupport::pumpMainLoop(1ms);
    }
    EXPECT_TRUE(monotonic);
    EXPECT_TRUE(wholeTransactions) << "a reader never sees half a transaction";
    EXPECT_EQ(all.count(), size_t(kWriters * kTransactions * kPerTransaction));
    EXPECT_EQ(Gadget::objectsWhere("count = 2").count(), size_t(kTransactions * kPerTransaction));
}

TEST_F(RealmTest, ReadersDoNotWaitForAnOpenWriteTransaction) {
    addGadgets({Gadget::make("old", "x")});
    std::promise<void> writing, release;
    auto releaseFuture = release.get_future().share();
    std::thread writer([&] {
        auto r = Realm::defaultRealm();
        r->transactionWithBlock([&] {
            Gadget g = Gadget::make("new", "y");
            r->add(g);
            writing.set_value();
            releaseFuture.wait();
        });
    });
    writing.get_future().wait();
    auto read = std::async(std::launch::async, [] { return Gadget::allObjects().count(); });
    const bool answered = read.wait_for(5s) == std::future_status::ready;
    release.set_value();
    writer.join();
    ASSERT_TRUE(answered) << "a reader was blocked by the writer";
    EXPECT_EQ(read.get(), 1u) << "uncommitted rows are not visible";
    EXPECT_EQ(Gadget::allObjects().count(), 2u);
}

// ---- opening, reset and crash safety ---------------------------------------------

TEST(RealmFileTest, AnUnreadableFileIsReplacedAndFlagged) {
    TestSupport::TempDir dir;
    const std::string path = dir.file("default.realm");
    TestSupport::writeFile(path, std::string(8192, 'x'));
    auto realm = Realm::open({path});
    EXPECT_TRUE(realm->databaseWasReset());
    EXPECT_EQ(realm->objects<Gadget>().count(), 0u);
    realm->transactionWithBlock([&] {
        Gadget g = Gadget::make("a", "b");
        realm->add(g);
    });
    realm.reset();
    auto reopened = Realm::open({path});
    EXPECT_FALSE(reopened->databaseWasReset());
    EXPECT_EQ(reopened->objects<Gadget>().count(), 1u);
}

// A file of an older schema, or of a newer one (a later version ran here
// before), is not read as ours: the database starts anew, and says so.
TEST(RealmFileTest, AnotherSchemaVersionIsReplacedAndFlagged) {
    TestSupport::TempDir dir;
    for (const uint64_t other : {Realm::kSchemaVersion - 1, Realm::kSchemaVersion + 1}) {
        const std::string path = dir.file("schema-" + std::to_string(other) + ".realm");
        {
            auto written = Realm::open({path, other});
            written->transactionWithBlock([&] {
                Gadget g = Gadget::make("a", "b");
                written->add(g);
            });
        }
        auto realm = Realm::open({path});
        EXPECT_TRUE(realm->databaseWasReset()) << other;
        EXPECT_EQ(realm->objects<Gadget>().count(), 0u) << other;
        realm.reset();
        EXPECT_FALSE(Realm::open({path})->databaseWasReset()) << other << ": ours from now on";
    }

    // A foreign database without a version is not taken for ours either.
    const std::string foreign = dir.file("foreign.realm");
    sqlite3* db = nullptr;
    sqlite3_open(foreign.c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_TRUE(Realm::open({foreign})->databaseWasReset());
}

TEST(RealmFileTest, AProcessKilledInsideAWriteTransactionLeavesThePreviousState) {
    TestSupport::TempDir dir;
    const std::string path = dir.file("default.realm");
    {
        auto realm = Realm::open({path});
        realm->transactionWithBlock([&] {
            for (int i = 0; i < 10; ++i) {
                Gadget g = Gadget::make("before-" + std::to_string(i), "committed", i);
                realm->add(g);
            }
        });
    }
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipeFds[0]);
        // A small cache, so that the transaction reaches the log before its end.
        auto realm = Realm::open({path, Realm::kSchemaVersion, 1024});
        realm->transactionWithBlock([&] {
            // Enough data to spill pages into the write-ahead log before the end.
            for (int i = 0; i < 20000; ++i) {
                Gadget g = Gadget::make("during-" + std::to_string(i), std::string(300, 'z'), i);
                realm->add(g);
            }
            auto all = realm->objects<Gadget>();
            all.setValueForKey("label", "overwritten");
            char c = '!';
            (void)!write(pipeFds[1], &c, 1);
            pause();
        });
        _exit(0);
    }
    close(pipeFds[1]);
    char c = 0;
    ASSERT_EQ(read(pipeFds[0], &c, 1), 1);
    close(pipeFds[0]);
    struct stat st{};
    ASSERT_EQ(stat((path + "-wal").c_str(), &st), 0);
    EXPECT_GT(st.st_size, 1024 * 1024) << "the uncommitted transaction had reached the log";
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    auto realm = Realm::open({path});
    EXPECT_FALSE(realm->databaseWasReset());
    EXPECT_EQ(realm->objects<Gadget>().count(), 10u);
    EXPECT_EQ(realm->objectsWhere<Gadget>("label = %@", "committed").count(), 10u);
    realm->transactionWithBlock([&] {
        Gadget g = Gadget::make("after", "works");
        realm->add(g);
    });
    EXPECT_EQ(realm->objects<Gadget>().count(), 11u);
}

TEST(RealmFileTest, AFieldAddedToARecordIsAddedToTheTableAndOldRowsStayReadable) {
    TestSupport::TempDir dir;
    const std::string path = dir.file("default.realm");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "PRAGMA user_version = 27;"
                           "CREATE TABLE \"Gadget\" (\"_rowid\" INTEGER PRIMARY KEY AUTOINCREMENT, "
                           "\"key\" TEXT NOT NULL UNIQUE, \"label\" TEXT, \"count\" INTEGER);"
                           "INSERT INTO \"Gadget\" (\"key\", \"label\", \"count\") VALUES ('old', 'Ölder', 7);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    auto realm = Realm::open({path});
    EXPECT_FALSE(realm->databaseWasReset());
    auto old = realm->objectForPrimaryKey<Gadget>("old");
    ASSERT_TRUE(old);
    EXPECT_EQ(old->label, "Ölder");
    EXPECT_EQ(old->count, 7);
    EXPECT_TRUE(old->tags.empty());
    EXPECT_EQ(old->seen, std::nullopt);
    EXPECT_EQ(realm->objectsWhere<Gadget>("label BEGINSWITH[cd] 'old'").count(), 1u) << "folded copy filled in";
    realm->transactionWithBlock([&] { realm->addOrUpdate(*old); });
    EXPECT_EQ(realm->objectsWhere<Gadget>("label BEGINSWITH[cd] 'old'").count(), 1u);
}

TEST(RealmFileTest, RecordsOfAnotherDatabaseAreRefused) {
    TestSupport::TempDir dir;
    auto first = Realm::open({dir.file("a.realm")});
    auto second = Realm::open({dir.file("b.realm")});
    Gadget g = Gadget::make("k", "v");
    first->transactionWithBlock([&] { first->add(g); });
    EXPECT_THROW(second->transactionWithBlock([&] { second->deleteObject(g); }), RealmException);
    EXPECT_THROW(second->transactionWithBlock([&] { second->setValueForKey(g, "label", "x"); }), RealmException);
    Gadget unmanaged = Gadget::make("u", "v");
    EXPECT_THROW(first->transactionWithBlock([&] { first->deleteObject(unmanaged); }), RealmException);
    EXPECT_EQ(first->objects<Gadget>().count(), 1u);
}

// ---- folding ---------------------------------------------------------------------

TEST(TextFoldingTest, FoldsCaseAndDiacriticsSeparately) {
    EXPECT_EQ(TextFolding::fold("Électricité Ĉu", TextFolding::Both), "electricite cu");
    EXPECT_EQ(TextFolding::fold("Électricité", TextFolding::CaseInsensitive), "électricité");
    EXPECT_EQ(TextFolding::fold("Électricité", TextFolding::DiacriticInsensitive), "Electricite");
    EXPECT_EQ(TextFolding::fold("ПРИВЕТ Straße ΑΘΉΝΑ", TextFolding::Both), "привет straße αθηνα");
    EXPECT_EQ(TextFolding::fold("e\xCC\x81", TextFolding::Both), "e") << "a decomposed accent";
    EXPECT_EQ(TextFolding::fold("bad\xFF\xFEtext", TextFolding::Both), "bad\xFF\xFEtext");
    EXPECT_EQ(TextFolding::codePointCount("añb€"), 4u);
}


// ---- a table made inside an open transaction ----------------------------------------------

// A table that a write transaction made is there for other threads only once
// the transaction commits: a reader meanwhile waits for it, or reads what was
// committed before, but never queries a table its own view does not hold
// (the transaction may add more records after making it).
TEST_F(RealmTest, ATableMadeInAnOpenTransactionIsNotReadyForOthersUntilItCommits) {
    for (const bool rollsBack : {false, true}) {
        SCOPED_TRACE(rollsBack ? "rolled back" : "committed");
        TestSupport::IsolatedEnvironment fresh;  // a file without the Gadget table
        auto r = Realm::defaultRealm();
        std::promise<void> inside, release;
        auto released = release.get_future().share();
        std::thread writer([&] {
            try {
                r->transactionWithBlock([&] {
                    for (int i = 0; i < 3; ++i) {  // the second add finds the table its transaction made
                        Gadget g = Gadget::make("k" + std::to_string(i), "x");
                        r->add(g);
                    }
                    inside.set_value();
                    released.wait();
                    if (rollsBack) throw std::runtime_error("given up");
                });
            } catch (const std::runtime_error&) {
            }
        });
        inside.get_future().wait();
        auto reader = std::async(std::launch::async, [] {
            try {
                return std::to_string(Gadget::allObjects().count());
            } catch (const std::exception& e) {
                return std::string(e.what());
            }
        });
        // A reader that does not wait answers at once; one that waits answers after the release.
        reader.wait_for(1s);
        release.set_value();
        writer.join();
        EXPECT_EQ(reader.get(), rollsBack ? "0" : "3");
        EXPECT_EQ(Gadget::allObjects().count(), rollsBack ? 0u : 3u);
    }
}

}  // namespace
