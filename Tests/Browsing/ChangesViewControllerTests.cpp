// The Changes tab: the two date groups and their rows, the card heights, the
// updates card, live readings while shown, and Update All.
#include <gtest/gtest.h>

#include "App/ZMApplication.h"
#include "Browsing/BrowsingFixture.h"
#include "Browsing/ChangesModel.h"
#include "Browsing/ChangesViewController.h"
#include "GetPackageCell.h"
#include "PackagesConfirmationViewController.h"
#include "ZMVostrelle.h"

namespace {

class ChangesTest : public BrowsingFixture::Screens {
protected:
    UINavigationController* nav = nullptr;

    // `count` packages changed at `date` (none: known only to dpkg), named so that they sort by number.
    void storeGroup(size_t count, const std::string& date, const std::string& prefix) {
        std::vector<ZMRPackage> packages;
        for (size_t i = 0; i < count; ++i) {
            ZMRPackage p;
            char number[24];
            std::snprintf(number, sizeof number, "%03zu", i);
            p.identifier = prefix + number;
            p.name = prefix + number;
            p.updatedDateStr = date;
            packages.push_back(p);
        }
        store(packages);
    }
    ChangesViewController* show() {
        auto* changes = new ChangesViewController;
        nav = BrowsingFixture::showInWindow(changes, window, {420, 900});
        EXPECT_TRUE(GuiTest::waitUntil([&] { return changes->appliedReadings() > 0; }));
        return changes;
    }
};

TEST_F(ChangesTest, DateGroupsGiveTheRowsAndHeights) {
    struct Case {
        size_t newer, older;
        std::vector<int> rows;  // per section
        int height;
    };
    const std::vector<Case> cases = {
        {0, 0, {0}, 0},
        {1, 0, {2}, 120},                 // one package and the button
        {3, 0, {4}, 260},
        {3, 4, {3, 6}, 590},              // header, four packages, button
        {60, 10, {50, 12}, 4300},         // the older group starts after the whole newest one
    };
    for (const auto& c : cases) {
        realm->transactionWithBlock([&] { realm->deleteObjects(ZMRPackage::allObjects()); });
        storeGroup(c.newer, "2026-12-05 10:00", "new.");
        storeGroup(c.older, "2026-12-01 09:00", "old.");
        storeGroup(5, "", "dpkg.");  // no date: in neither group
        ChangesModel model;
        model.apply(ChangesModel::read(false));
        std::vector<int> rows;
        for (int s = 0; s < model.numberOfSections(); ++s) rows.push_back(model.numberOfRows(s));
        EXPECT_EQ(rows, c.rows) << c.newer << "/" << c.older;
        EXPECT_EQ(model.heightForNewPackagesTableView(), c.height) << c.newer << "/" << c.older;
        EXPECT_EQ(model.reading().newCount, c.newer);
        if (c.older > 0) {
            EXPECT_EQ(model.rowKind(1, 0), ChangesModel::Row::Header);
            EXPECT_EQ(model.identifierAt(1, 1), std::optional<std::string>("old.000"));
            EXPECT_EQ(model.rowKind(1, c.rows[1] - 1), ChangesModel::Row::Button);
        }
    }
}

// English counts take the singular for one only: "0 New Packages".
TEST_F(ChangesTest, AnEmptyCountIsPlural) {
    auto* changes = show();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return changes->appliedReadings() > 0; }));
    EXPECT_EQ(changes->newPackagesTitle()->text(), "0 New Packages");
}

TEST_F(ChangesTest, CardsFollowTheDatabaseAndUpdateAllQueuesOnlyUnheldUpdates) {
    storeGroup(3, "2026-12-05 10:00", "new.");
    auto* changes = show();
    EXPECT_EQ(changes->newPackagesTitle()->text(), "3 New Packages");
    EXPECT_FALSE(changes->updatedPackagesCard()->isVisible());
    EXPECT_EQ(changes->newPackagesCardTopConstraint(), 20);

    // A refresh while shown: both counts again, from one reading.
    const int before = changes->appliedReadings();
    storeGroup(1, "2026-12-06 08:00", "newest.");
    ZMRPackage updated, held;
    updated.identifier = "u.updated";
    updated.name = "Updated";
    updated.isInstalled = true;
    updated.installedVersion = "1.0";
    updated.version = "2.0";
    updated.isUpdated = true;
    updated.sourceLocation = "https://alpha.example/";
    held = updated;
    held.identifier = "u.held";
    held.isHeld = true;
    store({updated, held});
    ASSERT_TRUE(GuiTest::waitUntil(
        [&] { return changes->appliedReadings() > before && changes->model().reading().updates.size() == 1; }));
    EXPECT_EQ(changes->model().reading().newCount, 1u);
    EXPECT_EQ(changes->model().reading().oldCount, 3u);
    EXPECT_EQ(changes->newPackagesTitle()->text(), "1 New Package");
    EXPECT_EQ(changes->updatedPackagesTitle()->text(), "1 Available Update");
    EXPECT_TRUE(changes->updatedPackagesCard()->isVisible());
    EXPECT_EQ(changes->newPackagesCardTopConstraint(), changes->updatedPackagesCard()->height() + 50);
    auto* row = qobject_cast<GetPackageCell*>(changes->updatedPackagesTableView()->cellForRow({0, 0}));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->getBtn()->text(), "UPDATE");

    // A refresh while the tab comes back into view: the counts of the last reading.
    nav->pushViewController(new UIViewController, false);
    storeGroup(2, "2026-12-07 07:00", "latest.");
    nav->popViewController(false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return changes->model().reading().newCount == 2; }));
    GuiTest::pump(std::chrono::milliseconds(100));
    EXPECT_EQ(changes->model().reading().newCount, 2u);
    EXPECT_EQ(changes->model().reading().oldCount, 1u);
    EXPECT_EQ(changes->newPackagesTitle()->text(), "2 New Packages");
    EXPECT_EQ(changes->model().numberOfRows(1), 3) << "header, the one older package, button";

    // Update All, with the application's window to present the queue on (dpkg agrees on what is installed).
    TestSupport::writeFile(env.targetRoot() + "/var/lib/dpkg/status",
                           "Package: u.updated\nStatus: install ok installed\nVersion: 1.0\nArchitecture: all\n\n"
                           "Package: u.held\nStatus: hold ok installed\nVersion: 1.0\nArchitecture: all\n\n");
    auto& d = ZMVostrelle::sharedVostrelle();
    ZMApplication::applicationDidFinishLaunching();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return d.backgroundLaunchWorkDone(); }, std::chrono::seconds(20)));
    ASSERT_TRUE(ZMRPackage::objectForPrimaryKey("u.updated")->isUpdated.value_or(false));
    changes->updateAllPackages();
    EXPECT_TRUE(ZMRPackage::objectForPrimaryKey("u.updated")->isInTheQueue.value_or(false));
    EXPECT_EQ(ZMRPackage::objectForPrimaryKey("u.updated")->queueOperation.value_or(0), ZMRQueueOperationUpgrade);
    EXPECT_FALSE(ZMRPackage::objectForPrimaryKey("u.held")->isInTheQueue.value_or(false));
    auto* queue = dynamic_cast<UINavigationController*>(d.window()->topPresentedViewController());
    ASSERT_NE(queue, nullptr);
    QPointer<PackagesConfirmationViewController> confirmation =
        dynamic_cast<PackagesConfirmationViewController*>(queue->topViewController());
    ASSERT_TRUE(confirmation);
    EXPECT_TRUE(GuiTest::waitUntil([&] { return !confirmation || !confirmation->isResolving(); }, std::chrono::seconds(60)));
}

TEST_F(ChangesTest, HiddenItReadsNothingAndChangesDuringAReadingAreReadOnceAfterIt) {
    storeGroup(3, "2026-12-05 10:00", "new.");
    auto* changes = show();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return changes->appliedReadings() == changes->startedReadings(); }));

    // Covered by another screen: a change starts no reading; coming back reads once.
    nav->pushViewController(new UIViewController, false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !changes->isOnScreen(); }));
    GuiTest::pump(std::chrono::milliseconds(50));
    const int hidden = changes->startedReadings();
    storeGroup(2, "2026-12-06 08:00", "hidden.");
    GuiTest::pump(std::chrono::milliseconds(100));
    EXPECT_EQ(changes->startedReadings(), hidden);
    nav->popViewController(false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return changes->model().reading().newCount == 2; }));

    // Five commits in a row while shown: the first starts a reading, the
    // others wait for it and are read together once more.
    ASSERT_TRUE(GuiTest::waitUntil([&] { return changes->appliedReadings() == changes->startedReadings(); }));
    GuiTest::pump(std::chrono::milliseconds(50));
    const int started = changes->startedReadings();
    for (int i = 0; i < 5; ++i) storeGroup(1, "2026-12-07 0" + std::to_string(i) + ":00", "burst" + std::to_string(i) + ".");
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        return changes->appliedReadings() == changes->startedReadings() &&
               changes->model().identifierAt(0, 0) == std::optional<std::string>("burst4.000");
    }));
    GuiTest::pump(std::chrono::milliseconds(100));
    EXPECT_GE(changes->startedReadings(), started + 1);
    EXPECT_LE(changes->startedReadings(), started + 2);
}

}  // namespace
