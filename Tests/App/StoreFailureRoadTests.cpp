// The package database failing under the user's actions, from the launch: a
// source added and refreshed over loopback, then each action of the window
// that reads or writes the database run while the disk under the database
// fails (full, or unreadable). Each one tells the user in one alert, changes
// nothing, and the program goes on to the next.
#include <QCheckBox>
#include <QMenu>

#include "App/LaunchFixture.h"
#include "Browsing/ChangesViewController.h"
#include "Browsing/ManageViewController.h"
#include "Browsing/SourceViewController.h"
#include "Browsing/SourcesCell.h"
#include "Database/ZMRSource.h"
#include "Details/DetailsFixture.h"
#include "Details/PackageDetailsViewController.h"
#include "Realm/Realm.h"
#include "Support/FailingStore.h"
#include "ZMStoreGuard.h"

namespace {

using namespace UserGesture;
using FailingStore::Fault;

class StoreFailureRoad : public Launch::RepositoryFixture {
protected:
    static void SetUpTestSuite() { FailingStore::install(); }  // before the launch opens the database

    // The repository's two packages; the dock is installed here at 0.9, so 1.0 is its update.
    ZMVostrelle& launchWithTheSource() {
        TestSupport::writeFile(targetRoot() + "/var/lib/dpkg/status",
                               "Package: org.jane.dock\nStatus: install ok installed\nVersion: 0.9\nArchitecture: all\n"
                               "Maintainer: Jane Doe\nDescription: Dock\n\n");
        serveRepository(Launch::stanza("org.jane.dock", "Jane's Dock", "Jane Doe") +
                            Launch::stanza("org.jane.lens", "Jane's Lens", "Jane Doe"),
                        "Jane's Repo");
        auto& d = start(addLink());
        acceptTheLinksSource("org.jane.lens");
        // The launch's own refresh, when it planned one, is over before the disk fails.
        auto& manager = ZMRPackageManager::sharedPackageManager();
        if (manager.scheduledLaunchRefresh()) GuiTest::pump(std::chrono::milliseconds(int(manager.kLaunchRefreshDelay * 1000) + 200));
        GuiTest::waitUntil([&] { return !manager.sources().isRefreshInProgress() && ZMPipelineManager::sharedManager().liveTaskCount() == 0; },
                           std::chrono::seconds(60));
        return d;
    }

    ManageViewController* manageTab() {
        auto* nav = selectTab(ZMVostrelle::ManageTab);
        nav->popToRootViewController(false);
        return qobject_cast<ManageViewController*>(nav->topViewController());
    }
    // The loopback source's row in the Manage tab, scrolled into view.
    std::optional<IndexPath> ourRow(ManageViewController* manage) {
        UITableView* sources = manage->sourcesTableView();
        for (int r = 0; r < sources->numberOfRows(0); ++r) {
            sources->scrollToRow({0, r}, UITableView::ScrollPosition::Middle, false);
            GuiTest::pump();
            auto* cell = qobject_cast<SourcesCell*>(sources->cellForRow({0, r}));
            if (cell && cell->sourceLocation == repository()) return IndexPath{0, r};
        }
        return std::nullopt;
    }
    QMenu* sourceMenu(ManageViewController* manage) {
        auto row = ourRow(manage);
        if (!row) return nullptr;
        QWidget* cell = manage->sourcesTableView()->cellForRow(*row);
        return rightClick(cell, cell->rect().center());
    }
    // The source's page, from its row's "Info".
    SourceViewController* sourcePage() {
        auto* manage = manageTab();
        if (!manage) return nullptr;
        chooseMenuEntry(sourceMenu(manage), "Info");
        SourceViewController* page = nullptr;
        GuiTest::waitUntil([&] {
            auto* sheet = qobject_cast<UINavigationController*>(top());
            page = sheet ? qobject_cast<SourceViewController*>(sheet->topViewController()) : nullptr;
            return page != nullptr;
        });
        return page;
    }
    static std::optional<ZMRSource> source(const std::string& location) { return ZMRSource::objectForPrimaryKey(location); }
    static bool queued(const std::string& identifier) {
        auto p = package(identifier);
        return p && p->isInTheQueue.value_or(false);
    }
};

TEST_F(StoreFailureRoad, EachActionOnAFailingDatabaseIsToldInOneAlertAndTheProgramGoesOn) {
    auto& d = launchWithTheSource();
    ASSERT_TRUE(package("org.jane.dock")->isUpdated.value_or(false)) << "the installed 0.9 has its update";
    const std::string database = Realm::defaultRealm()->path();

    // What each walk keeps between its steps.
    SourceViewController* page = nullptr;
    PackageDetailsViewController* details = nullptr;
    QMenu* menu = nullptr;
    ManageViewController* manage = nullptr;
    std::optional<IndexPath> row;
    QString getTitle;
    AccountPlistViewController* account = nullptr;
    struct Action {
        const char* name;
        Fault fault;
        std::function<void()> reach;  // to the screen, on a sound disk
        std::function<void()> act;    // on the failing disk
        std::function<void()> after;  // on a sound disk again: nothing changed
    };
    const Action actions[] = {
        {"the source page's follow switch", Fault::DiskFull, [&] { page = sourcePage(); },
         [&] { click(page->followThisRepositorySwitch); },
         [&] {
             EXPECT_FALSE(page->followThisRepositorySwitch->isChecked()) << "the switch shows what is stored";
             EXPECT_FALSE(source(repository())->isFollowed.value_or(false));
         }},
        {"the source page's original-depictions switch", Fault::DiskFull, [&] { page = sourcePage(); },
         [&] { click(page->seeOriginalDepictionsSwitch); },
         [&] {
             EXPECT_FALSE(page->seeOriginalDepictionsSwitch->isChecked());
             EXPECT_FALSE(source(repository())->seeOriginalDepictions.value_or(false));
         }},
        {"Remove in the source row's menu", Fault::ReadError, [&] { menu = sourceMenu(manageTab()); },
         [&] { chooseMenuEntry(menu, "Remove"); }, [&] { EXPECT_TRUE(source(repository()).has_value()); }},
        {"selecting the source's row", Fault::ReadError,
         [&] {
             manage = manageTab();
             row = ourRow(manage);
             ASSERT_TRUE(row);
         },
         [&] { tapRow(manage->sourcesTableView(), *row); },
         [&] { EXPECT_EQ(manage->navigationController()->topViewController(), manage) << "nothing half-read opened"; }},
        {"Update All in Changes", Fault::DiskFull, [&] { selectTab(ZMVostrelle::ChangesTab); },
         [&] {
             auto* nav = qobject_cast<UINavigationController*>(d.tabBarController()->selectedViewController());
             auto* changes = qobject_cast<ChangesViewController*>(nav->topViewController());
             click(changes->updateAllBtn());
         },
         [&] { EXPECT_FALSE(queued("org.jane.dock")) << "and no queue screen over an empty queue"; }},
        {"a package page's Get button", Fault::DiskFull,
         [&] {
             details = DetailsFixture::openFromAllPackages(d, "org.jane.lens");
             ASSERT_NE(details, nullptr);
             getTitle = details->getBtn()->text();
         },
         [&] { click(details->getBtn()); },
         [&] {
             EXPECT_FALSE(queued("org.jane.lens"));
             EXPECT_EQ(details->getBtn()->text(), getTitle);
         }},
        {"a package page's wishlist heart", Fault::DiskFull,
         [&] { details = DetailsFixture::openFromAllPackages(d, "org.jane.lens"); },
         [&] { tapBarButton(details, "Add to Wishlist"); },
         [&] {
             EXPECT_FALSE(package("org.jane.lens")->isInWishlist.value_or(false));
             EXPECT_EQ(details->wishlistBtn()->title(), "Add to Wishlist") << "the heart shows what is stored";
         }},
        {"the account page's Wishlist row", Fault::ReadError, [&] { account = accountPage(); },
         [&] { tapAccountRow(account, "openWishlist"); },
         [&] { EXPECT_EQ(account->navigationController()->topViewController(), account); }},
    };

    for (const auto& action : actions) {
        SCOPED_TRACE(action.name);
        ASSERT_NO_FATAL_FAILURE(action.reach());
        const int alertsBefore = d.alertCount();
        {
            FailingStore::Scope failing(database, action.fault);
            ASSERT_NO_FATAL_FAILURE(action.act());
            EXPECT_TRUE(GuiTest::waitUntil([&] { return d.alertCount() > alertsBefore; })) << "the failure is told";
            GuiTest::pump(std::chrono::milliseconds(300));
        }
        EXPECT_EQ(d.alertCount(), alertsBefore + 1) << "in one alert";
        EXPECT_EQ(d.lastAlertTitle(), ZMStoreGuard::alertTitle());
        auto* alert = waitForPopup();
        ASSERT_NE(alert, nullptr);
        click(alert->closeBtn());
        ASSERT_NO_FATAL_FAILURE(action.after());
        // Back to the window for the next one.
        while (top() != d.window()->rootViewController()) {
            top()->dismissViewController(false);
            GuiTest::pump();
        }
    }
    screenshot("store-failure-after-the-walk.png");
    // Still working: the source's page opens and shows the source.
    page = sourcePage();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->sourceNameLbl->text(), "Jane's Repo");
}

}  // namespace
