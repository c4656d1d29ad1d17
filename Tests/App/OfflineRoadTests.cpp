// The application started without the maker's online service (no
// VOSTRELLE_MAKER_API_URL), as most users run it, walked with the mouse and
// keyboard from the first run:
//   - the first run goes from the theme straight to the import: no sign-in;
//   - Featured, News, the account page, Browse Repositories and Search say in
//     one line that the service is not configured, and name the setting;
//   - none of them starts a transfer: no request leaves the program;
//   - the offline parts still work: a source added by a link is refreshed,
//     searched, and its package's page shows the whole description of the
//     index, without a request of its own.
#include <QTest>
#include <filesystem>

#include "App/LaunchFixture.h"
#include "Browsing/CategoriesTableViewController.h"
#include "Browsing/FeaturedViewController.h"
#include "Browsing/SearchViewController.h"
#include "Details/PackageDetailsViewController.h"
#include "Foundation/URLSession.h"
#include "InitViewController.h"
#include "Miscellaneous/ZMPlatform.h"
#include "Online/Screens/AccountPlistViewController.h"
#include "Online/Screens/LoginViewController.h"
#include "Online/Screens/NewsViewController.h"
#include "Online/Screens/OnlineRepositoriesViewController.h"
#include "Services/ZMMakerAPI.h"
#include "Shell/ShellTestSupport.h"
#include "Support/FlatRepository.h"
#include "UIKit/UITextView.h"
#include "ZMAPTSourcesImport.h"
#include "ZMURLRouter.h"

namespace {

using namespace UserGesture;

class OfflineRoad : public Launch::Fixture {
protected:
    TestSupport::TempDir files;
    std::unique_ptr<FlatRepository::FileServer> server;

    void SetUp() override {
        Fixture::SetUp();
        // The maker's server runs, but nothing names it: whatever reached it would be a fault.
        withoutTheMakerService();
        // A new user: the first run is still to come.
        asANewUser();
        // The system the featured page names, and an APT with nothing to import.
        TestSupport::writeFile(files.file("os-release"), "NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n");
        ZMPlatform::setOSReleasePath(files.file("os-release"));
        std::filesystem::create_directories(files.file("etc-apt"));
        ZMAPTSourcesImport::setEtcDirectory(files.file("etc-apt"));
    }
    void TearDown() override {
        ZMAPTSourcesImport::setEtcDirectory("/etc/apt");
        ZMPlatform::setOSReleasePath(std::nullopt);
        Fixture::TearDown();
    }
    template <class T>
    static T* pushedOn(UINavigationController* nav) {
        T* found = nullptr;
        GuiTest::waitUntil([&] { return (found = qobject_cast<T*>(nav->topViewController())) != nullptr && found->isOnScreen(); });
        return found;
    }
    static bool says(QLabel* notice) {
        return notice && notice->isVisibleTo(notice->window()) && notice->text().contains("VOSTRELLE_MAKER_API_URL") &&
               notice->text().count('\n') == 0;
    }
};

TEST_F(OfflineRoad, WithoutTheServiceTheOnlineScreensSaySoSendNothingAndTheRestWorks) {
    const uint64_t transfersBeforeLaunch = URLSession::startedTransferCount();
    auto& d = start();

    // ---- the first run: welcome, theme, then the import at once.
    auto* welcome = waitForTop<InitViewController>();
    ASSERT_NE(welcome, nullptr);
    click(welcome->continueButton());
    auto* theme = waitForTop<DarkmodeViewController>();
    ASSERT_NE(theme, nullptr);
    click(theme->continueButton());
    auto* import = waitForTop<RepoTransferViewController>();
    ASSERT_NE(import, nullptr) << "the step after the theme is the import, not a sign-in";
    click(import->doneButton());
    ASSERT_TRUE(backAtTheWindow());
    EXPECT_TRUE(VostrellePersistentPreferences::sharedInstance().boolForKey(VostrellePreferenceKey::SetupDone));

    // ---- Featured: the line, and the system named as this one.
    auto* featuredNav = selectTab(ZMVostrelle::FeaturedTab);
    auto* featured = qobject_cast<FeaturedViewController*>(featuredNav->viewControllers().front());
    ASSERT_NE(featured, nullptr);
    EXPECT_TRUE(says(featured->onlineServiceNotice()));
    EXPECT_TRUE(featured->deviceSpecs()->text().startsWith(QString::fromStdString(ZMPlatform::deviceModelID() + "; Debian 12")))
        << featured->deviceSpecs()->text().toStdString();
    EXPECT_FALSE(featured->deviceSpecs()->text().contains("iOS"));
    d.window()->resize(460, 960);
    screenshot("desktop-offline-featured.png");

    // ---- News: the line, no error popup.
    click(featured->newsButton());
    auto* news = pushedOn<NewsViewController>(featuredNav);
    ASSERT_NE(news, nullptr);
    EXPECT_TRUE(says(news->onlineServiceNotice()));
    GuiTest::pump(std::chrono::milliseconds(200));
    EXPECT_EQ(top(), d.window()->rootViewController()) << "nothing presented over the list";
    featuredNav->popToRootViewController(false);

    // ---- Account: not signed in, and why signing in cannot work; Sign In says so too.
    click(featured->infoBtn());
    auto* account = pushedOn<AccountPlistViewController>(featuredNav);
    ASSERT_NE(account, nullptr);
    EXPECT_EQ(account->accountNameLabel()->text(), "Account Name");
    EXPECT_TRUE(says(account->onlineServiceNotice()));
    const auto signIn = ShellTest::rowWithAction(*account, "signInOut");
    ASSERT_TRUE(signIn);
    tapRow(account->tableView(), *signIn);
    auto* popup = waitForPopup();
    ASSERT_NE(popup, nullptr);
    EXPECT_TRUE(popup->messageLbl()->text().contains("VOSTRELLE_MAKER_API_URL"));
    EXPECT_EQ(dynamic_cast<LoginViewController*>(top()), nullptr);
    click(popup->closeBtn());
    ASSERT_TRUE(backAtTheWindow());
    featuredNav->popToRootViewController(false);

    // ---- Browse Repositories: the line instead of an empty list.
    auto* sectionsNav = selectTab(ZMVostrelle::SectionsTab);
    auto* sections = qobject_cast<CategoriesTableViewController*>(sectionsNav->viewControllers().front());
    ASSERT_NE(sections, nullptr);
    tapRow(sections->defaultCategoriesTableView(), {0, 4});
    auto* directory = pushedOn<OnlineRepositoriesViewController>(sectionsNav);
    ASSERT_NE(directory, nullptr);
    EXPECT_TRUE(says(directory->onlineServiceNotice()));
    sectionsNav->popToRootViewController(false);

    // ---- Search: the line once; the online cards take no space.
    auto* searchNav = selectTab(ZMVostrelle::SearchTab);
    auto* search = qobject_cast<SearchViewController*>(searchNav->viewControllers().front());
    ASSERT_NE(search, nullptr);
    EXPECT_TRUE(says(search->onlineServiceNotice()));
    EXPECT_FALSE(search->trendingTableView()->isVisibleTo(search));
    click(search->searchBar());
    QTest::keyClicks(search->searchBar(), "Dock");
    QTest::keyClick(search->searchBar(), Qt::Key_Return);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->packageResultsApplied() >= 1; }));
    EXPECT_TRUE(says(search->onlineServiceNotice()));
    EXPECT_FALSE(search->developersTableView()->isVisibleTo(search));
    EXPECT_FALSE(search->repositoriesTableView()->isVisibleTo(search));
    search->searchBarCancelButtonClicked();

    // ---- Nothing of the above left the program.
    GuiTest::pump(std::chrono::milliseconds(300));
    EXPECT_EQ(URLSession::startedTransferCount(), transfersBeforeLaunch) << "the launch included";
    EXPECT_TRUE(maker->requests().empty());

    // ---- The offline parts: a source from a link, refreshed, searched and opened.
    std::filesystem::create_directories(files.file("www/repo"));
    FlatRepository::writeIndexesForText(files.file("www/repo"),
                                        "Package: org.dock.lens\nName: Dock Lens\nVersion: 1.0\nSection: Tweaks\n"
                                        "Maintainer: Jane Doe\nArchitecture: all\nDescription: Lenses for the dock\n"
                                        " Magnifies the dock's icons\n under the pointer.\n .\n Works everywhere.\n",
                                        "Dock Repo");
    server = std::make_unique<FlatRepository::FileServer>(files.file("www"));
    const std::string repository = server->url("repo/");
    ZMURLRouter::open({QString::fromStdString("vostrelle://add/" + repository)});
    ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource("org.dock.lens", repository));  // plain http: a warning naming the address
    ASSERT_TRUE(backAtTheWindow());
    EXPECT_EQ(package("org.dock.lens")->Description, "Lenses for the dock") << "the record keeps the synopsis";

    GuiTest::pump(std::chrono::milliseconds(300));  // the refresh's last notifications
    ASSERT_TRUE(backAtTheWindow());
    searchNav = selectTab(ZMVostrelle::SearchTab);
    search = qobject_cast<SearchViewController*>(searchNav->viewControllers().front());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->isOnScreen() && search->searchBar()->isVisible(); }))
        << "top: " << top()->metaObject()->className();
    click(search->searchBar());
    QTest::keyClicks(search->searchBar(), "Dock Lens");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->packages() && !search->packages()->identifiers.empty(); }));
    const uint64_t transfersBeforePage = URLSession::startedTransferCount();
    const size_t repositoryRequestsBeforePage = server->requests().size();
    tapRow(search->packagesTableView(), {0, 0});
    auto* page = pushedOn<PackageDetailsViewController>(searchNav);
    ASSERT_NE(page, nullptr);
    const QString whole = "Lenses for the dock\n\nMagnifies the dock's icons under the pointer.\n\nWorks everywhere.";
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->descriptionLbl()->toPlainText() == whole; }))
        << page->descriptionLbl()->toPlainText().toStdString();
    // Whatever the page fetched (the repository's icon) came from the repository:
    // ratings, reviews and statistics went nowhere.
    GuiTest::pump(std::chrono::milliseconds(300));
    EXPECT_TRUE(GuiTest::waitUntil([&] {
        return URLSession::startedTransferCount() - transfersBeforePage == server->requests().size() - repositoryRequestsBeforePage;
    })) << URLSession::startedTransferCount() - transfersBeforePage << " transfers, "
        << server->requests().size() - repositoryRequestsBeforePage << " of them to the repository";
    EXPECT_TRUE(maker->requests().empty());
}

}  // namespace
