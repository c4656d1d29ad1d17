// The package database failing under the user's actions, from the launch: a
// source added and refreshed over loopback, then each action of the window
// that reads or writes the database run while the disk under the database
// fails (full, or unreadable). Each one tells the user in one alert, changes
// nothing, and the program goes on to the next. Actions whose write runs on
// a background queue (adding a source, following, holding, rating) say so
// too, and their screens show the stored state again.
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <set>

#include "App/LaunchFixture.h"
#include "Browsing/ChangesViewController.h"
#include "Browsing/ManageViewController.h"
#include "Browsing/SearchViewController.h"
#include "Browsing/SourceViewController.h"
#include "Browsing/SourcesCell.h"
#include "Database/ZMRSource.h"
#include "Details/DetailsFixture.h"
#include "Details/ContactDeveloperViewController.h"
#include "Details/DeveloperDetailsViewController.h"
#include "Details/PackageDetailsHeader.h"
#include "Details/PackageDetailsViewController.h"
#include "Details/PackageDeveloperCard.h"
#include "Online/Screens/FollowedDevelopersViewController.h"
#include "Realm/Realm.h"
#include "SearchCell.h"
#include "Support/FailingStore.h"
#include "UIKit/GetButton.h"
#include "UIKit/UIAlertController.h"
#include "UIKit/UIScrollView.h"
#include "ZMStoreGuard.h"

namespace {

using namespace UserGesture;
using FailingStore::Fault;

// The titles of the confirmations and sheets shown while it lives.
class ShownAlerts : public QObject {
public:
    ShownAlerts() { qApp->installEventFilter(this); }
    ~ShownAlerts() override { qApp->removeEventFilter(this); }
    bool saw(const QString& title) const { return titles_.count(title) > 0; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show)
            if (auto* alert = qobject_cast<UIAlertController*>(watched)) titles_.insert(alert->alertTitle());
        return false;
    }

private:
    std::set<QString> titles_;
};

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
        maker->setDevelopers(nlohmann::json::array({{{"developer", "Jane Doe"}, {"about", "Tweaks for the dock."}}}));
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
    // Jane's row in Search's developer results, drawn.
    SearchCell* janesSearchRow() {
        auto* nav = selectTab(ZMVostrelle::SearchTab);
        nav->popToRootViewController(false);
        auto* search = qobject_cast<SearchViewController*>(nav->topViewController());
        if (!search) return nullptr;
        type(search->searchBar(), "Jane");
        SearchCell* row = nullptr;
        GuiTest::waitUntil([&] {
            row = qobject_cast<SearchCell*>(search->developersTableView()->cellForRow({0, 0}));
            return row && row->isVisible() && row->developerName() == "Jane Doe";
        }, std::chrono::seconds(20));
        return row;
    }
    // The page of Jane's row in Search.
    DeveloperDetailsViewController* janesPage() {
        SearchCell* row = janesSearchRow();
        if (!row) return nullptr;
        click(row);
        auto* nav = qobject_cast<UINavigationController*>(app().tabBarController()->selectedViewController());
        return qobject_cast<DeveloperDetailsViewController*>(nav->topViewController());
    }
    // The card that a package page's developer opens.
    ContactDeveloperViewController* contactCard(const std::string& identifier) {
        auto* details = DetailsFixture::openFromAllPackages(app(), identifier);
        if (!details) return nullptr;
        details->scrollView()->ensureWidgetVisible(details->developerCard());
        GuiTest::pump();
        click(details->developerCard()->authorCollectionView()->cellForItem(0));
        return qobject_cast<ContactDeveloperViewController*>(details->navigationController()->topViewController());
    }
    // The options sheet of a package page: the Get button held down.
    static UIAlertController* optionsSheet(PackageDetailsViewController* details) {
        QTest::mousePress(details->getBtn(), Qt::LeftButton);
        GuiTest::pump(std::chrono::milliseconds(GetButton::kMinimumPressMs + 150));
        QTest::mouseRelease(details->getBtn(), Qt::LeftButton);
        UIAlertController* sheet = nullptr;
        GuiTest::waitUntil([&] { return (sheet = dynamic_cast<UIAlertController*>(top())) != nullptr; });
        return sheet;
    }
    static bool followsJane() { return ZMRPackageManager::sharedPackageManager().developers().isDeveloperFollowed("Jane Doe"); }
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
    QPointer<SearchCell> developerRow;
    // A page with a Follow bar button (the developer's page, a package's developer card).
    UIViewController* followPage = nullptr;
    UIBarButtonItem* followButton = nullptr;
    SourceViewController* form = nullptr;
    UIAlertController* sheet = nullptr;
    std::unique_ptr<ShownAlerts> shown;
    const std::string otherSource = "https://127.0.0.1:9/other/";
    struct Action {
        const char* name;
        Fault fault;
        std::function<void()> reach;  // to the screen, on a sound disk
        std::function<void()> act;    // on the failing disk
        std::function<void()> after;  // on a sound disk again: nothing changed
    };
    const auto followOn = [&](auto* page) {
        ASSERT_NE(page, nullptr);
        followPage = page;
        followButton = page->followedBtn();
        shown = std::make_unique<ShownAlerts>();
    };
    const auto tapFollow = [&] { tapBarButton(followPage, "Follow"); };
    const auto followShownAsStored = [&] {
        EXPECT_FALSE(shown->saw("Followed")) << "no success over a failure";
        EXPECT_EQ(followButton->title(), "Follow") << "the button shows what is stored";
        EXPECT_FALSE(followsJane());
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
        // Writes that run on a background queue.
        {"following from Search's developer row", Fault::DiskFull,
         [&] {
             developerRow = janesSearchRow();
             ASSERT_TRUE(developerRow);
             ASSERT_FALSE(developerRow->followButtonShowsFollowed());
             shown = std::make_unique<ShownAlerts>();
         },
         [&] { click(developerRow->followBtn()); },
         [&] {
             EXPECT_FALSE(shown->saw("Followed")) << "no success over a failure";
             ASSERT_TRUE(developerRow);
             EXPECT_FALSE(developerRow->followButtonShowsFollowed()) << "the button shows what is stored";
             EXPECT_FALSE(followsJane());
         }},
        {"following on the developer's page", Fault::DiskFull, [&] { followOn(janesPage()); }, tapFollow, followShownAsStored},
        {"following on a package's developer card", Fault::DiskFull, [&] { followOn(contactCard("org.jane.lens")); }, tapFollow,
         followShownAsStored},
        {"unfollowing in the account's followed developers", Fault::DiskFull,
         [&] {
             // Followed on a sound disk first, from Search.
             developerRow = janesSearchRow();
             ASSERT_TRUE(developerRow);
             click(developerRow->followBtn());
             ASSERT_TRUE(GuiTest::waitUntil(followsJane));
             ASSERT_TRUE(GuiTest::waitUntil([&] { return top() == app().window()->rootViewController(); }));
             account = accountPage();
             ASSERT_NE(account, nullptr);
             tapAccountRow(account, "openFollowed");
             auto* followed = qobject_cast<FollowedDevelopersViewController*>(account->navigationController()->topViewController());
             ASSERT_NE(followed, nullptr);
             ASSERT_TRUE(GuiTest::waitUntil([&] {
                 developerRow = qobject_cast<SearchCell*>(followed->followedDevelopersTableView()->cellForRow({0, 0}));
                 return developerRow && developerRow->isVisible();
             }));
             ASSERT_TRUE(developerRow->followButtonShowsFollowed());
             shown = std::make_unique<ShownAlerts>();
         },
         [&] { click(developerRow->followBtn()); },
         [&] {
             EXPECT_FALSE(shown->saw("Unfollowed"));
             ASSERT_TRUE(developerRow);
             EXPECT_TRUE(developerRow->followButtonShowsFollowed());
             EXPECT_TRUE(followsJane());
         }},
        {"adding a source in Manage", Fault::DiskFull,
         [&] {
             QGuiApplication::clipboard()->clear();  // nothing to offer from the clipboard
             tapBarButton(manageTab(), "Add");
             auto* sheetNav = dynamic_cast<UINavigationController*>(top());
             ASSERT_NE(sheetNav, nullptr);
             form = dynamic_cast<SourceViewController*>(sheetNav->topViewController());
             ASSERT_NE(form, nullptr);
         },
         [&] { type(form->sourceUrlTextField, QString::fromStdString(otherSource)); },
         [&] { EXPECT_FALSE(source(otherSource).has_value()); }},
        {"ignoring a package's updates", Fault::DiskFull,
         [&] {
             details = DetailsFixture::openFromAllPackages(d, "org.jane.dock");
             ASSERT_NE(details, nullptr);
             sheet = optionsSheet(details);
             ASSERT_NE(sheet, nullptr);
         },
         [&] {
             int entry = -1;
             for (size_t i = 0; i < sheet->actions().size(); ++i)
                 if (sheet->actions()[i].title == "Ignore Updates") entry = static_cast<int>(i);
             ASSERT_GE(entry, 0);
             click(sheet->buttonForAction(entry));
         },
         [&] {
             EXPECT_FALSE(package("org.jane.dock")->isHeld.value_or(false));
             EXPECT_EQ(TestSupport::readFile(targetRoot() + "/var/lib/dpkg/status").find("hold"), std::string::npos)
                 << "dpkg's hold taken back: a status scan finds what is stored";
         }},
        {"rating an installed package", Fault::DiskFull,
         [&] {
             maker->addAccount({.username = "ada", .password = "secret", .userID = 12});
             ASSERT_NO_FATAL_FAILURE(signIn("ada", "secret"));  // ratings are the account's
             details = DetailsFixture::openFromAllPackages(d, "org.jane.dock");
             ASSERT_NE(details, nullptr);
             details->scrollView()->ensureWidgetVisible(details->ratingButtons()[3]);
         },
         [&] { click(details->ratingButtons()[3]); },
         [&] {
             EXPECT_FALSE(package("org.jane.dock")->myRating.has_value());
             EXPECT_EQ(details->header()->ratingLbl()->text(), "0 out of 5 rating") << "the stars show what is stored";
         }},
        {"Remove when the records cannot be deleted", Fault::DiskFull, [&] { menu = sourceMenu(manageTab()); },
         [&] { chooseMenuEntry(menu, "Remove"); }, [&] { EXPECT_TRUE(source(repository()).has_value()); }},
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
