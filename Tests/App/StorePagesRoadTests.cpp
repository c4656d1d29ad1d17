// A paid repository's store pages as a user finds them from the launch: the
// repository added from a link, its screen from the Manage tab, its store's
// sign-in sheet from the source page, and the account page's Stores with the
// Cydia store configured at an https address:
//   - the repository's screen offers its source page once ("Source Info");
//   - the sign-in sheet is titled with the store's name, its Back and Forward
//     are buttons that say so, and beside them stands the page's host;
//   - the Stores list shows the Cydia store at the address it is configured
//     with; a store page whose store has no icon shows the program's.
#include <QAbstractButton>
#include <QToolButton>

#include "App/LaunchFixture.h"
#include "Browsing/ManageViewController.h"
#include "Browsing/SourceViewController.h"
#include "Browsing/SourcesCell.h"
#include "Browsing/FeaturedViewController.h"
#include "Database/ZMRSource.h"
#include "Online/Screens/AccountPlistViewController.h"
#include "Online/Screens/RepoStoreDetailsViewController.h"
#include "Online/Screens/RepoStoresListController.h"
#include "Online/Screens/StoreHeaderView.h"
#include "Online/Screens/ZMStorePages.h"
#include "SearchCell.h"
#include "SegmentedViewController.h"
#include "Shell/ShellTestSupport.h"
#include "Support/FakeStores.h"
#include "Support/FlatRepository.h"
#include "WebViewViewController.h"

namespace {

using namespace UserGesture;

class StorePagesRoad : public Launch::Fixture {
protected:
    TestSupport::TempDir repo;
    std::unique_ptr<FlatRepository::FileServer> server;
    std::unique_ptr<FakeStores::PaymentAPI> store;

    void SetUp() override {
        Fixture::SetUp();
        FlatRepository::writeIndexesForText(repo.path(),
                                            "Package: com.paid.tweak\nName: Paid Tweak\nVersion: 1.0\nSection: Tweaks\n"
                                            "Maintainer: Store Maker <maker@example.org>\nArchitecture: all\nPrice: $1.99\n"
                                            "Description: A tweak worth paying for.\n\n",
                                            "Paid Repo");
        server = std::make_unique<FlatRepository::FileServer>(repo.path());
        store = std::make_unique<FakeStores::PaymentAPI>(*server, repo.path());
    }

    // The texts of the bar's visible buttons.
    static QStringList barTexts(UINavigationController* nav) {
        QStringList texts;
        for (auto* button : nav->navigationBar()->findChildren<QAbstractButton*>())
            if (button->isVisible() && !button->text().isEmpty()) texts << button->text();
        return texts;
    }
};

TEST_F(StorePagesRoad, TheRepositoryItsSignInSheetAndTheStoresSayWhatTheyAre) {
    const std::string location = server->url();
    const std::string cydiaStore = "https://127.0.0.1:8443/";
    setVariable("VOSTRELLE_CYDIA_STORE_URL", cydiaStore);
    auto& d = start({QString::fromStdString("vostrelle://add/" + location)});
    d.window()->resize(600, 900);
    ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource("com.paid.tweak", location));
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        auto source = ZMRSource::objectForPrimaryKey(location);
        return source && source->endpoint == store->endpoint();
    }, std::chrono::seconds(60)));

    // Manage → the repository: "Source Info" once, as the segment.
    auto* nav = selectTab(ZMVostrelle::ManageTab);
    auto* manage = qobject_cast<ManageViewController*>(nav->viewControllers().front());
    ASSERT_NE(manage, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return manage->isOnScreen() && manage->sourcesTableView()->numberOfRows(0) > 0; }));
    std::optional<int> row;
    for (int r = 0; r < manage->sourcesTableView()->numberOfRows(0) && !row; ++r)
        if (auto* cell = dynamic_cast<SourcesCell*>(manage->sourcesTableView()->cellForRow({0, r})); cell && cell->sourceLocation == location)
            row = r;
    ASSERT_TRUE(row);
    tapRow(manage->sourcesTableView(), {0, *row});
    auto* segmented = qobject_cast<SegmentedViewController*>(nav->topViewController());
    ASSERT_NE(segmented, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return segmented->isOnScreen(); }));
    EXPECT_EQ(barTexts(nav).count("Source Info"), 1) << barTexts(nav).join(", ").toStdString();
    screenshot("store-repository-screen.png");

    // Its source page's Login: the store's sheet, named for the store.
    click(segmented->segmentedControl()->segment(1));
    auto* info = qobject_cast<SourceViewController*>(segmented->currentViewController());
    ASSERT_NE(info, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return info->repoStoreLogInOutButton->isVisible(); }, std::chrono::seconds(20)));
    click(info->repoStoreLogInOutButton);
    QPointer<WebViewViewController> sheet;
    ASSERT_TRUE(GuiTest::waitUntil([&] { return (sheet = ZMStorePages::shared().pageScreen(ZMStorePages::shared().lastPage())); },
                                   std::chrono::seconds(30)));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return sheet->isOnScreen(); }));
    EXPECT_EQ(sheet->title(), "Paid Repo");
    const QString host = QString::fromStdString(location).section('/', 2, 2);
    EXPECT_TRUE(GuiTest::waitUntil([&] { return sheet->hostLabel()->isVisible() && sheet->hostLabel()->text() == host; },
                                   std::chrono::seconds(30)))
        << sheet->hostLabel()->text().toStdString();
    const std::pair<QToolButton*, const char*> history[] = {{sheet->backButton(), "Back"}, {sheet->forwardButton(), "Forward"}};
    for (const auto& [button, word] : history) {
        EXPECT_TRUE(button->isVisible()) << word;
        EXPECT_EQ(button->text(), word);
        EXPECT_NE(button->toolButtonStyle(), Qt::ToolButtonIconOnly) << word << " says what it does";
        EXPECT_GE(button->width(), button->fontMetrics().horizontalAdvance(word)) << word << " is whole";
        EXPECT_FALSE(button->icon().isNull()) << word;
    }
    screenshot("store-sign-in-sheet.png");
    tapBarButton(sheet, "Cancel");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !sheet || !sheet->isOnScreen(); }));

    // Featured → the account → Stores: the Cydia store where it is configured.
    auto* account = accountPage();
    ASSERT_NE(account, nullptr);
    ASSERT_NO_FATAL_FAILURE(tapAccountRow(account, "openCommercialStores"));
    auto* featuredNav = account->navigationController();
    auto* list = qobject_cast<RepoStoresListController*>(featuredNav->topViewController());
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return list->tableView()->numberOfRows(0) == 2; }));
    auto* cydiaRow = dynamic_cast<SearchCell*>(list->tableView()->cellForRow({0, 1}));
    ASSERT_NE(cydiaRow, nullptr);
    EXPECT_EQ(cydiaRow->subinfoLbl()->text().toStdString(), cydiaStore);

    // The repository's store has no icon (neither the source nor its vendor
    // gives one): its page shows the program's.
    ASSERT_TRUE(GuiTest::waitUntil([&] { return list->hasVendorInfoForSourceLocation(location); }));
    tapRow(list->tableView(), {0, 0});
    auto* page = qobject_cast<RepoStoreDetailsViewController*>(featuredNav->topViewController());
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->isOnScreen(); }));
    GuiTest::pump(std::chrono::milliseconds(300));  // the source's icon asked for, and not found
    const QImage icon = page->headerView()->iconView()->pixmap().toImage();
    ASSERT_FALSE(icon.isNull());
    const QImage program = StoreHeaderView::applicationIcon(icon.width()).toImage();
    for (const QPoint at : {QPoint(icon.width() / 8, icon.height() / 2), QPoint(icon.width() / 2, icon.height() / 8)}) {
        const QColor shown = icon.pixelColor(at), expected = program.pixelColor(at);
        EXPECT_LT(std::abs(shown.blue() - expected.blue()) + std::abs(shown.red() - expected.red()), 40)
            << "at " << at.x() << "," << at.y() << ": " << shown.name().toStdString() << " for " << expected.name().toStdString();
    }
    screenshot("store-page-without-icon.png");
}

}  // namespace
