// The Manage tab with a real repository on loopback: add it through the form
// (plain http after the warning), watch it refresh, list and queue its
// packages, add an https address that cannot be reached, and remove the
// repository again while the counts follow.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <atomic>

#include "Browsing/BrowsingFixture.h"
#include "Browsing/ManageViewController.h"
#include "Browsing/PackagesTableViewController.h"
#include "Browsing/SubcategoriesViewController.h"
#include "Browsing/SourceViewController.h"
#include "Browsing/SourcesCell.h"
#include "Dispatch/Dispatch.h"
#include "ErrorViewController.h"
#include "PackageCell.h"
#include "SegmentedViewController.h"
#include "Support/FlatRepository.h"
#include "UIKit/UIAlertController.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UITabBarController.h"
#include "UIKit/UIWindow.h"
#include "ZMVostrelle.h"

namespace {

class ManageRepositoryTest : public BrowsingFixture::Database {
protected:
    TestSupport::TempDir repoDir;
    std::unique_ptr<FlatRepository::FileServer> server;
    ManageViewController* manage = nullptr;
    UINavigationController* nav = nullptr;

    void SetUp() override {
        Database::SetUp();
        TestSupport::TempDir work;
        FlatRepository::buildDeb(work.path(), repoDir.path(), {"com.loop.alpha", "1.0", "Name: Loop Alpha\nSection: Tweaks\n"});
        FlatRepository::buildDeb(work.path(), repoDir.path(), {"com.loop.beta", "2.1", "Name: Loop Beta\nSection: Themes\n"});
        FlatRepository::buildDeb(work.path(), repoDir.path(), {"com.loop.gamma", "0.3", "Name: Loop Gamma\nSection: Tweaks\n"});
        FlatRepository::writeIndexes(repoDir.path(), "Loopback Repo", "Three packages over loopback");
        server = std::make_unique<FlatRepository::FileServer>(repoDir.path());

        ZMVostrelle::resetForTesting();
        auto& d = ZMVostrelle::sharedVostrelle();
        d.applicationDidFinishLaunching();
        ASSERT_TRUE(GuiTest::waitUntil([&] { return d.backgroundLaunchWorkDone(); }, std::chrono::seconds(20)));
        preferences().setValue(VostrellePreferenceKey::SetupDone, true);
        d.window()->resize(420, 900);
        nav = qobject_cast<UINavigationController*>(d.tabBarController()->viewControllers()[ZMVostrelle::ManageTab]);
        manage = qobject_cast<ManageViewController*>(nav->viewControllers().front());
        d.tabBarController()->setSelectedIndex(ZMVostrelle::ManageTab);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return manage->isOnScreen(); }));
    }
    void TearDown() override {
        ZMRPackageManager::sharedPackageManager().sources().setPurgeHook(nullptr);
        ZMVostrelle::resetForTesting();
        server.reset();
        Database::TearDown();
    }
    UIViewController* top() const { return ZMVostrelle::sharedVostrelle().window()->topPresentedViewController(); }
    SourcesCell* rowFor(const std::string& location) const {
        for (int r = 0; r < manage->numberOfRows(manage->sourcesTableView(), 0); ++r) {
            auto* cell = qobject_cast<SourcesCell*>(manage->sourcesTableView()->cellForRow({0, r}));
            if (cell && cell->sourceLocation == location) return cell;
        }
        return nullptr;
    }
    int rowIndex(const std::string& location) const {
        for (int r = 0; r < manage->numberOfRows(manage->sourcesTableView(), 0); ++r) {
            auto* cell = qobject_cast<SourcesCell*>(manage->sourcesTableView()->cellForRow({0, r}));
            if (cell && cell->sourceLocation == location) return r;
        }
        return -1;
    }
    SourceViewController* openAddForm() {
        QGuiApplication::clipboard()->clear();
        manage->addSource();
        GuiTest::pump();
        auto* formNav = dynamic_cast<UINavigationController*>(top());
        return formNav ? dynamic_cast<SourceViewController*>(formNav->topViewController()) : nullptr;
    }
};

TEST_F(ManageRepositoryTest, AddRefreshListQueueAndRemoveARepository) {
    const std::string location = server->url("");
    // The form: plain http asks first, "Continue" adds.
    auto* form = openAddForm();
    ASSERT_NE(form, nullptr);
    form->sourceUrlTextField->setText(QString::fromStdString(" " + location.substr(0, location.size() - 1) + " "));
    form->editingDidEnd();
    GuiTest::pump();
    auto* warning = dynamic_cast<ErrorViewController*>(top());
    ASSERT_NE(warning, nullptr);
    EXPECT_EQ(warning->titleLbl()->text(), "Warning");
    warning->otherBtn()->click();

    // The refresh fills the record, the packages, the row and the form.
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        auto s = ZMRSource::objectForPrimaryKey(location);
        return s && !s->hasErrors.value_or(true) && ZMRPackage::objectsWhere("sourceLocation = %@", location).count() == 3;
    }, std::chrono::seconds(30)));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return form->sourceNameLbl->text() == "Loopback Repo"; }));
    form->dismissVC();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return rowFor(location) && rowFor(location)->nameLbl->text() == "Loopback Repo"; }));
    EXPECT_EQ(rowFor(location)->totalPackagesLbl->text(), "3");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return rowFor(location)->installedPackagesLbl->text() == "0"; }));

    // Its page lists its sections and packages; a swipe queues one.
    manage->didSelectRow(manage->sourcesTableView(), {0, rowIndex(location)});
    GuiTest::pump();
    auto* segmented = dynamic_cast<SegmentedViewController*>(nav->topViewController());
    ASSERT_NE(segmented, nullptr);
    auto* list = dynamic_cast<SubcategoriesViewController*>(segmented->currentViewController());
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return list->subcategoriesAndPackagesTableView()->numberOfSections() == 2; }));
    EXPECT_EQ(list->subcategoriesArray(), (std::vector<std::string>{"All Packages", "Themes   ", "Tweaks   "}));
    EXPECT_EQ(list->packageSections().sectionsDictionary().at("L"),
              (std::vector<std::string>{"com.loop.alpha", "com.loop.beta", "com.loop.gamma"}));
    auto actions = list->trailingSwipeActions(list->subcategoriesAndPackagesTableView(), {1, 1});
    ASSERT_EQ(actions.size(), 1u);
    actions[0].handler(actions[0], nullptr, [](bool) {});
    EXPECT_TRUE(ZMRPackage::objectForPrimaryKey("com.loop.beta")->isInTheQueue.value_or(false));
    EXPECT_EQ(ZMRPackage::objectForPrimaryKey("com.loop.beta")->queueOperation.value_or(0), ZMRQueueOperationInstall);
    nav->popToRootViewController(false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return manage->isOnScreen(); }));

    // An installed package of the source shows in its count.
    realm->transactionWithBlock([&] {
        auto p = *realm->objectForPrimaryKey<ZMRPackage>("com.loop.gamma");
        realm->setValueForKey(p, "isInstalled", true);
        realm->setValueForKey(p, "installDate", 1'780'000'000.0);
    });
    ASSERT_TRUE(GuiTest::waitUntil([&] { return rowFor(location) && rowFor(location)->installedPackagesLbl->text() == "1"; }));

    // https is added without a warning; nothing answers TLS there, so the source shows its failure.
    // The same address under https is the same repository: refused and said.
    form = openAddForm();
    ASSERT_NE(form, nullptr);
    form->sourceUrlTextField->setText(QString::fromStdString("https" + location.substr(4)));
    form->editingDidEnd();
    GuiTest::pump();
    auto* duplicate = dynamic_cast<ErrorViewController*>(top());
    ASSERT_NE(duplicate, nullptr);
    EXPECT_EQ(duplicate->titleLbl()->text(), "Cannot Add Source");
    duplicate->closeBtn()->click();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return dynamic_cast<ErrorViewController*>(top()) == nullptr; }));
    EXPECT_EQ(form->sourceLocation(), location);  // the form turned to the configured source
    form->dismissVC();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return dynamic_cast<UINavigationController*>(top()) == nullptr; }));

    const std::string secure = "https" + location.substr(4) + "secure/";
    form = openAddForm();
    ASSERT_NE(form, nullptr);
    form->sourceUrlTextField->setText(QString::fromStdString(secure));
    form->editingDidEnd();
    GuiTest::pump();
    EXPECT_EQ(dynamic_cast<ErrorViewController*>(top()), nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        auto s = ZMRSource::objectForPrimaryKey(secure);
        return s && s->hasErrors.value_or(false);
    }, std::chrono::seconds(30)));
    form->dismissVC();
    // A new record is named by its location; the failed refresh turns its description red.
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        return rowFor(secure) && rowFor(secure)->descriptionLbl->palette().color(QPalette::WindowText) == QColor(255, 59, 48);
    }));
    EXPECT_EQ(rowFor(secure)->nameLbl->text().toStdString(), secure);

    // Removal: asked first, the root part off the main thread, the counts follow.
    std::atomic<bool> purgedOnMain{false};
    ZMRPackageManager::sharedPackageManager().sources().setPurgeHook([&](const std::string&) -> std::optional<ZMError> {
        if (Dispatch::isMainThread()) purgedOnMain = true;
        return std::nullopt;
    });
    std::optional<bool> removed;
    manage->setRemovalObserver([&](const std::string&, bool ok) { removed = ok; });
    manage->removeSourceAtRow(rowIndex(location));
    auto* confirm = dynamic_cast<UIAlertController*>(top());
    ASSERT_NE(confirm, nullptr);
    confirm->performAction(1);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return removed.has_value(); }, std::chrono::seconds(20)));
    EXPECT_TRUE(*removed);
    EXPECT_FALSE(purgedOnMain.load());
    EXPECT_FALSE(ZMRSource::objectForPrimaryKey(location).has_value());
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        return manage->sourcesTableView()->height() == 99 && !manage->dictOfInstalledPackagesCount().count(location) &&
               manage->dictOfInstalledPackagesCount().count(secure);
    }));
}

}  // namespace
