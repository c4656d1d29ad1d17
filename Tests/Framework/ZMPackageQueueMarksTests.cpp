#include <gtest/gtest.h>

#include "Database/CollectionsFixture.h"
#include "Notifications/NotificationCenter.h"
#include "ZMPackageQueue.h"

namespace {

class PackageQueueMarks : public CollectionsFixture::Database {
protected:
    void TearDown() override {
        ZMPackageQueue::setRunStarter(nullptr);
        Database::TearDown();
    }
    static ZMRPackage make(const std::string& id, bool installed, int64_t op, const std::string& version = {}) {
        ZMRPackage p;
        p.identifier = id;
        p.isInstalled = installed;
        p.installedVersion = installed ? "1.0" : "";
        p.isInTheQueue = op != 0;
        p.queueOperation = op;
        p.queuedVersion = version;
        return p;
    }
};

}  // namespace

TEST_F(PackageQueueMarks, ClearingAnnouncesEveryPackage) {
    store({make("a", false, ZMRQueueOperationInstall), make("b", true, ZMRQueueOperationRemove), make("c", true, 0)});
    std::vector<std::string> announced;
    ObserverBag bag;
    for (const char* id : {"a", "b", "c"})
        bag.add(NotificationCenter::defaultCenter().addObserver(ZMQueueStateNotificationName(id),
                                                                NotificationCenter::Queue::Main,
                                                                [&](const Notification& n) { announced.push_back(n.objectString()); }));
    ZMPackageQueue::clearQueue();
    EXPECT_EQ(ZMPackageQueue::queuedCount(), 0u);
    EXPECT_EQ(ZMRPackage::objectForPrimaryKey("b")->queueOperation.value_or(-1), 0);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return announced.size() == 2; }));
    TestSupport::pumpMainLoop();
    EXPECT_EQ(announced, (std::vector<std::string>{"a", "b"}));
}

TEST_F(PackageQueueMarks, ARunStartsOnlyWithARunnerAndAResolvableQueue) {
    std::vector<ZMQueueItem> q{{"a", ZMQueueOperation::Install, ""}};
    ZMDryRunResult ok;
    EXPECT_TRUE(ZMPackageQueue::startRun(q, ok).has_value());  // no runner installed
    int runs = 0;
    ZMPackageQueue::setRunStarter([&](auto&, auto&) -> std::optional<ZMError> {
        ++runs;
        return std::nullopt;
    });
    ZMDryRunResult broken;
    broken.unmetDependencies.push_back({"a", "", ZMDependencyOperation::Unmet, "", "", "", "Depends: b"});
    EXPECT_TRUE(ZMPackageQueue::startRun(q, broken).has_value());
    EXPECT_TRUE(ZMPackageQueue::startRun({}, ok).has_value());
    EXPECT_EQ(runs, 0);
    EXPECT_FALSE(ZMPackageQueue::startRun(q, ok).has_value());
    EXPECT_EQ(runs, 1);
}
