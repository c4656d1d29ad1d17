// The store on a disk that fails: every failed read or write reaches the
// caller as a RealmException, a failed transaction leaves nothing behind, and
// the store works again, on every connection, once the disk does.
#include <gtest/gtest.h>

#include "Realm/Realm.h"
#include "RealmTestRecords.h"
#include "Support/FailingStore.h"
#include "Support/TestSupport.h"

namespace {

using FailingStore::Fault;

class RealmFailureTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { FailingStore::install(); }  // before this test's database is opened
    TestSupport::IsolatedEnvironment env;
};

TEST_F(RealmFailureTest, AFailingDiskFailsTheOperationAndTheStoreRecoversAfterIt) {
    struct Case {
        const char* name;
        Fault fault;
        bool readsFail;
    };
    const Case cases[] = {{"full disk", Fault::DiskFull, false}, {"read errors", Fault::ReadError, true}};
    auto realm = Realm::open({env.support() + "/failing.realm"});
    realm->transactionWithBlock([&] {
        auto g = Gadget::make("a", "Alpha", 1);
        realm->add(g);
    });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int refusedBefore = FailingStore::refusals();
        const size_t stored = realm->objects<Gadget>().count();
        {
            FailingStore::Scope broken(realm->path(), c.fault);
            EXPECT_THROW(realm->transactionWithBlock([&] {
                auto g = Gadget::make("b", "Beta", 2);
                realm->add(g);
            }),
                         RealmException);
            if (c.readsFail) {
                EXPECT_THROW(realm->objectForPrimaryKey<Gadget>("a"), RealmException);
                EXPECT_THROW(realm->objects<Gadget>().count(), RealmException);
            } else {
                EXPECT_TRUE(realm->objectForPrimaryKey<Gadget>("a").has_value());
            }
        }
        EXPECT_GT(FailingStore::refusals(), refusedBefore) << "the fault reached the disk layer";
        // Back on a good disk: the failed write left nothing, and writing works again.
        EXPECT_FALSE(realm->objectForPrimaryKey<Gadget>("b").has_value());
        EXPECT_EQ(realm->objects<Gadget>().count(), stored);
        realm->transactionWithBlock([&] {
            auto g = Gadget::make(std::string("after ") + c.name, "Gamma", 3);
            realm->add(g);
        });
        EXPECT_EQ(realm->objects<Gadget>().count(), stored + 1);
    }
}

}  // namespace
