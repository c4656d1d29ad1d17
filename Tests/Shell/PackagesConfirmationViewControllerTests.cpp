#include <QTest>

#include "ErrorViewController.h"
#include "PackagesConfirmationViewController.h"
#include "SegmentedViewController.h"
#include "UIKit/UINavigationController.h"
#include "QueueScreensFixture.h"
#include "ZMPackageQueue.h"

using Section = PackagesConfirmationViewController::Section;

namespace {

ZMDependencyDescription dep(const std::string& id, ZMDependencyOperation op, const std::string& version,
                            const std::string& installed = {}, const std::string& reason = {}) {
    ZMDependencyDescription d;
    d.identifier = id;
    d.operation = op;
    d.version = version;
    d.installedVersion = installed;
    d.reason = reason;
    return d;
}

struct Delegate : PackagesConfirmationViewControllerDelegate {
    int updates = 0;
    void updateUI() override { ++updates; }
};

// A resolver the test answers by hand.
struct FakeResolver {
    std::vector<std::vector<ZMQueueItem>> asked;
    std::vector<std::function<void(ZMResult<ZMDryRunResult>)>> pending;
    FakeResolver() {
        PackagesConfirmationViewController::setResolver(
            [this](std::vector<ZMQueueItem> q, std::function<void(ZMResult<ZMDryRunResult>)> done) {
                asked.push_back(std::move(q));
                pending.push_back(std::move(done));
            });
    }
    ~FakeResolver() { PackagesConfirmationViewController::setResolver(nullptr); }
    void answer(ZMResult<ZMDryRunResult> result) {
        auto done = pending.back();
        pending.clear();
        done(std::move(result));
    }
};

class ConfirmationTest : public QueueScreens::Fixture {
protected:
    void SetUp() override {
        Fixture::SetUp();
        store({QueueScreens::package("com.example.new", "1.0", false),
               QueueScreens::package("com.example.old", "2.0", true, "1.0"),
               QueueScreens::package("com.example.gone", "1.0", true),
               QueueScreens::package("com.example.lib", "0.5", false)});
        queue("com.example.new", ZMRQueueOperationInstall);
        queue("com.example.old", ZMRQueueOperationUpgrade);
        queue("com.example.gone", ZMRQueueOperationRemove);
    }
    void TearDown() override {
        ZMPackageQueue::setRunStarter(nullptr);
        Fixture::TearDown();
    }
    static ZMDryRunResult goodResolution() {
        ZMDryRunResult r;
        auto n = dep("com.example.new", ZMDependencyOperation::Install, "1.0");
        auto lib = dep("com.example.lib", ZMDependencyOperation::Install, "0.5");
        auto up = dep("com.example.old", ZMDependencyOperation::Upgrade, "2.0", "1.0");
        r.allPackagesToInstall = {n, lib, up};
        r.newPackages = {n, lib};
        r.additionalPackages = {lib};
        r.packagesToUpgrade = {up};
        r.packagesToRemove = {dep("com.example.gone", ZMDependencyOperation::Remove, "1.0")};
        return r;
    }
};

}  // namespace

TEST(PackagesConfirmationSections, EveryListHasItsSectionAndUnmetComesFirst) {
    ZMDryRunResult r;
    auto up = dep("a.up", ZMDependencyOperation::Upgrade, "2", "1");
    auto down = dep("a.down", ZMDependencyOperation::Downgrade, "1", "2");
    auto again = dep("a.again", ZMDependencyOperation::Reinstall, "3", "3");
    auto lib = dep("a.lib", ZMDependencyOperation::Install, "1");
    r.allPackagesToInstall = {up, down, again, lib};
    r.additionalPackages = {lib};
    r.packagesToUpgrade = {up};
    r.packagesToDowngrade = {down};
    r.packagesToRemove = {dep("a.rm", ZMDependencyOperation::Remove, "1"), dep("a.purge", ZMDependencyOperation::Purge, "1")};
    r.unmetDependencies = {dep("a.broken", ZMDependencyOperation::Unmet, "", "", "Depends: a.missing but it is not installable")};
    auto sections = PackagesConfirmationViewController::sectionsForResolution(r, {"a.up", "a.rm"});
    std::vector<Section::Kind> kinds;
    for (const auto& s : sections) kinds.push_back(s.kind);
    EXPECT_EQ(kinds, (std::vector<Section::Kind>{Section::Kind::Unmet, Section::Kind::Install, Section::Kind::Reinstall,
                                                 Section::Kind::Upgrade, Section::Kind::Downgrade, Section::Kind::Remove}));
    EXPECT_EQ(sections[0].rows.at(0).detail, "Depends: a.missing but it is not installable");
    EXPECT_EQ(sections[1].rows.at(0).detail, "Dependency");  // pulled in, not queued
    EXPECT_FALSE(sections[1].rows.at(0).queued);
    EXPECT_EQ(sections[3].rows.size(), 1u);  // listed once though in two lists
    EXPECT_EQ(sections[3].rows.at(0).version, "1 \u2192 2");
    EXPECT_TRUE(sections[3].rows.at(0).queued);
    EXPECT_EQ(sections[4].rows.at(0).version, "2 \u2192 1");
    EXPECT_EQ(sections[5].rows.size(), 2u);
    // Nothing to do: no sections at all.
    EXPECT_TRUE(PackagesConfirmationViewController::sectionsForResolution({}, {}).empty());
}

TEST_F(ConfirmationTest, ResolvesTheQueueMarksAndListsTheResult) {
    FakeResolver resolver;
    auto* screen = new PackagesConfirmationViewController;
    root->presentViewController(screen, false);
    ASSERT_EQ(resolver.asked.size(), 1u);
    // Ordered by identifier, with the operations of the marks.
    const auto& q = resolver.asked[0];
    ASSERT_EQ(q.size(), 3u);
    EXPECT_EQ(q[0].identifier, "com.example.gone");
    EXPECT_EQ(q[0].operation, ZMQueueOperation::Remove);
    EXPECT_EQ(q[1].operation, ZMQueueOperation::Install);
    EXPECT_EQ(q[2].operation, ZMQueueOperation::Upgrade);
    // While apt works: the indicator, and no way to confirm.
    EXPECT_TRUE(screen->isResolving());
    EXPECT_TRUE(screen->progressIndicator()->isVisible());
    EXPECT_FALSE(screen->confirmButton()->isEnabled());

    resolver.answer(ZMResult<ZMDryRunResult>::success(goodResolution()));
    EXPECT_FALSE(screen->isResolving());
    EXPECT_FALSE(screen->progressIndicator()->isVisible());
    EXPECT_TRUE(screen->confirmButton()->isEnabled());
    ASSERT_EQ(screen->sections().size(), 3u);
    EXPECT_EQ(screen->sections()[0].title, "To Install");
    EXPECT_EQ(screen->sections()[0].rows.at(0).name, "Name of com.example.new");
    EXPECT_EQ(screen->sections()[1].title, "To Upgrade");
    EXPECT_EQ(screen->sections()[2].title, "To Remove");
    GuiTest::pump();
    EXPECT_EQ(screen->tableView()->numberOfRows(0), 2);
}

TEST_F(ConfirmationTest, UnmetDependenciesAreShownAndBlockTheConfirmation) {
    FakeResolver resolver;
    int starts = 0;
    ZMPackageQueue::setRunStarter([&](auto&, auto&) -> std::optional<ZMError> {
        ++starts;
        return std::nullopt;
    });
    auto* screen = new PackagesConfirmationViewController;
    root->presentViewController(screen, false);
    ZMDryRunResult r;
    r.unmetDependencies = {dep("com.example.new", ZMDependencyOperation::Unmet, "", "",
                               "Depends: com.example.missing but it is not installable")};
    resolver.answer(ZMResult<ZMDryRunResult>::success(r));
    ASSERT_EQ(screen->sections().size(), 1u);
    EXPECT_EQ(screen->sections()[0].kind, Section::Kind::Unmet);
    EXPECT_EQ(screen->sections()[0].rows[0].detail, "Depends: com.example.missing but it is not installable");
    EXPECT_FALSE(screen->confirmButton()->isEnabled());
    EXPECT_FALSE(screen->confirm());
    QTest::mouseClick(screen->confirmButton(), Qt::LeftButton);
    EXPECT_EQ(starts, 0);
    EXPECT_EQ(root->presentedViewController(), screen);
}

TEST_F(ConfirmationTest, AFailedResolutionKeepsThePackagesListedAndCannotBeConfirmed) {
    FakeResolver resolver;
    auto* screen = new PackagesConfirmationViewController;
    root->presentViewController(screen, false);
    resolver.answer(ZMResult<ZMDryRunResult>::failure(ZMError::make(ZMError::CommandFailed, "E: lock held")));
    ASSERT_EQ(screen->sections().size(), 2u);
    EXPECT_EQ(screen->sections()[0].kind, Section::Kind::Error);
    EXPECT_EQ(screen->sections()[0].rows[0].detail, "E: lock held");
    EXPECT_EQ(screen->sections()[1].rows.size(), 3u);
    EXPECT_TRUE(screen->sections()[1].rows[0].queued);  // still removable from the queue
    EXPECT_FALSE(screen->canConfirm());
    // The button offers to resolve again, and does.
    EXPECT_EQ(screen->confirmButton()->text(), "Try Again");
    ASSERT_TRUE(screen->confirmButton()->isEnabled());
    QTest::mouseClick(screen->confirmButton(), Qt::LeftButton);
    EXPECT_EQ(resolver.asked.size(), 2u);
    resolver.answer(ZMResult<ZMDryRunResult>::success(goodResolution()));
    EXPECT_EQ(screen->confirmButton()->text(), "Confirm");
    EXPECT_TRUE(screen->canConfirm());
}

TEST_F(ConfirmationTest, TakingAPackageOutTellsTheDelegateAndResolvesAgain) {
    FakeResolver resolver;
    Delegate delegate;
    std::vector<std::string> announced;
    auto token = NotificationCenter::defaultCenter().addObserver(
        "UpdateQueueStateNotification-com.example.new", NotificationCenter::Queue::Posting,
        [&](const Notification& n) { announced.push_back(n.objectString()); });
    auto* screen = new PackagesConfirmationViewController;
    screen->setDelegate(&delegate);
    root->presentViewController(screen, false);
    resolver.answer(ZMResult<ZMDryRunResult>::success(goodResolution()));

    // The queued row offers the swipe action; the pulled-in library does not.
    auto actions = screen->trailingSwipeActions(screen->tableView(), {0, 0});
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].title, "Remove from Queue");
    EXPECT_TRUE(screen->trailingSwipeActions(screen->tableView(), {0, 1}).empty());
    actions[0].handler(actions[0], nullptr, [](bool) {});
    ASSERT_TRUE(GuiTest::waitUntil([&] { return delegate.updates == 1; }));
    EXPECT_FALSE(record("com.example.new").isInTheQueue.value_or(false));
    EXPECT_EQ(record("com.example.new").queueOperation.value_or(-1), 0);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return announced.size() == 1; }));
    ASSERT_EQ(resolver.asked.size(), 2u);
    EXPECT_EQ(resolver.asked[1].size(), 2u);
    EXPECT_TRUE(screen->isResolving());
}

TEST_F(ConfirmationTest, ALateAnswerForAnOlderQueueIsIgnored) {
    FakeResolver resolver;
    auto* screen = new PackagesConfirmationViewController;
    root->presentViewController(screen, false);
    auto first = resolver.pending.back();
    screen->takeOutOfQueue("com.example.gone");
    ASSERT_EQ(resolver.asked.size(), 2u);
    first(ZMResult<ZMDryRunResult>::success(goodResolution()));  // answers the queue of three
    EXPECT_TRUE(screen->isResolving());
    EXPECT_TRUE(screen->sections().empty());
}

TEST_F(ConfirmationTest, ConfirmHandsTheQueueOverAndClosesTheScreen) {
    FakeResolver resolver;
    std::vector<ZMQueueItem> started;
    ZMPackageQueue::setRunStarter([&](const std::vector<ZMQueueItem>& q, const ZMDryRunResult& r) -> std::optional<ZMError> {
        started = q;
        EXPECT_EQ(r.packagesToRemove.size(), 1u);
        return std::nullopt;
    });
    bool ranHandler = false;
    auto* screen = new PackagesConfirmationViewController;
    screen->setRunStartedHandler([&] { ranHandler = true; });
    root->presentViewController(screen, false);
    resolver.answer(ZMResult<ZMDryRunResult>::success(goodResolution()));
    QTest::mouseClick(screen->confirmButton(), Qt::LeftButton);
    EXPECT_EQ(started.size(), 3u);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return ranHandler; }));
    EXPECT_EQ(root->presentedViewController(), nullptr);
}

TEST_F(ConfirmationTest, ARunThatCannotStartShowsItsErrorAndStays) {
    FakeResolver resolver;
    ZMPackageQueue::setRunStarter(
        [&](auto&, auto&) -> std::optional<ZMError> { return ZMError::make(ZMError::CommandFailed, "busy"); });
    auto* screen = new PackagesConfirmationViewController;
    root->presentViewController(screen, false);
    resolver.answer(ZMResult<ZMDryRunResult>::success(goodResolution()));
    EXPECT_FALSE(screen->confirm());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return screen->presentedViewController() != nullptr; }));
    EXPECT_NE(dynamic_cast<ErrorViewController*>(screen->presentedViewController()), nullptr);
    EXPECT_EQ(root->presentedViewController(), screen);
}

TEST_F(ConfirmationTest, AnEmptyQueueAsksNothing) {
    ZMPackageQueue::clearQueue();
    FakeResolver resolver;
    auto* screen = new PackagesConfirmationViewController;
    root->presentViewController(screen, false);
    EXPECT_TRUE(resolver.asked.empty());
    EXPECT_FALSE(screen->canConfirm());
    EXPECT_EQ(screen->statusLabel()->text(), "The queue is empty.");
}

TEST_F(ConfirmationTest, InANavigationControllerConfirmOpensTheTaskScreens) {
    FakeResolver resolver;
    ZMPackageQueue::setRunStarter([&](auto&, auto&) -> std::optional<ZMError> { return std::nullopt; });
    auto* screen = new PackagesConfirmationViewController;
    auto* nav = new UINavigationController(screen);
    root->presentViewController(nav, false);
    resolver.answer(ZMResult<ZMDryRunResult>::success(goodResolution()));
    EXPECT_TRUE(screen->confirm());
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        auto* shown = dynamic_cast<UINavigationController*>(root->presentedViewController());
        return shown && shown != nav;
    }));
    auto* tasks = dynamic_cast<UINavigationController*>(root->presentedViewController());
    EXPECT_NE(dynamic_cast<SegmentedViewController*>(tasks->topViewController()), nullptr);
}
