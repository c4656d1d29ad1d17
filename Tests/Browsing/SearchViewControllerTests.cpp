// The Search tab with fake online services: when typing searches, which
// replies count, the package query and its modes, the history, the handed-over
// developer name, the package card and its complete list, and server pictures.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QTest>

#include "Browsing/BrowsingFixture.h"
#include "Browsing/PackageSearch.h"
#include "Browsing/PackagesTableViewController.h"
#include "Browsing/SearchViewController.h"
#include "Dispatch/Dispatch.h"
#include "RemoteImage.h"
#include "Support/FlatRepository.h"
#include "ZMVostrelle.h"

namespace {

using Ids = std::vector<std::string>;

// Lookups wait for the test to answer them; trending answers at once.
struct FakeServices : SearchServices {
    std::vector<std::pair<std::string, DevelopersDone>> developerLookups;
    std::vector<std::pair<std::string, RepositoriesDone>> repositoryLookups;
    std::vector<std::string> statistics;
    std::vector<std::string> trending = {"trending one"};
    void searchDevelopers(const std::string& text, DevelopersDone done) override { developerLookups.emplace_back(text, done); }
    void searchRepositories(const std::string& text, RepositoriesDone done) override {
        repositoryLookups.emplace_back(text, done);
    }
    void postSearchStatistic(const std::string& text) override { statistics.push_back(text); }
    void retrieveSearchesTrending(TrendingDone done) override {
        Dispatch::main([done, list = trending] { done(list); });
    }
};

ZMRPackage make(const std::string& id, const std::string& name, const std::string& maintainer = "") {
    ZMRPackage p;
    p.identifier = id;
    p.name = name;
    p.maintainer = maintainer;
    return p;
}

class SearchTest : public BrowsingFixture::Screens {
protected:
    UINavigationController* nav = nullptr;
    SearchViewController* search = nullptr;
    std::shared_ptr<FakeServices> services = std::make_shared<FakeServices>();

    void SetUp() override {
        Screens::SetUp();
        SearchServices::setShared(services);
        auto broken = make("p.alpine", "Alpine", "Zed");
        broken.tweakCompatibleStatus = 1;
        store({make("p.alpha", "Alpha", "Zed"), make("p.beta", "Beta", "Alan"), make("p.cy", "CY+Hidden"),
               make("p.cy2", "cy+lower alpha"), broken, make("p.pct", "100% Tweak"), make("p.quote", "it's"),
               make("p.slash", "back\\slash")});
    }
    void TearDown() override {
        SearchServices::setShared(nullptr);
        Screens::TearDown();
    }
    void show() {
        search = new SearchViewController;
        nav = BrowsingFixture::showInWindow(search, window);
    }
    void type(const char* text) {
        // Focus (which begins editing and shows the results) goes only to the active window.
        search->window()->activateWindow();
        GuiTest::waitUntil([&] { return search->window()->isActiveWindow(); });
        search->searchBar()->setFocus();
        QTest::keyClicks(search->searchBar(), text);
    }
    size_t historyCount() { return ZMRPackageManager::sharedPackageManager().searchHistories().allSearches().count(); }
};

TEST(PackageSearchTest, ModesFieldsAndHostileTexts) {
    TestSupport::IsolatedEnvironment env;
    TestSupport::resetSharedServices();
    auto realm = Realm::defaultRealm();
    auto broken = make("p.alpine", "Alpine", "Zed");
    broken.tweakCompatibleStatus = 1;
    std::vector<ZMRPackage> all = {make("p.alpha", "Alpha", "Zed"), make("p.beta", "Beta", "Alan"), make("p.cy", "CY+Hidden"),
                                   make("p.cy2", "cy+lower alpha"), broken, make("p.pct", "100% Tweak"),
                                   make("p.quote", "it's"), make("p.slash", "back\\slash")};
    realm->transactionWithBlock([&] {
        for (auto& p : all) realm->addOrUpdate(p);
    });
    struct Case {
        std::string text;
        int64_t mode;
        bool incompatible;
        Ids expected;
    };
    const std::vector<Case> cases = {
        {"al", PackageSearch::Exact, false, {"p.alpha"}},  // a name matches: maintainers are not looked at
        {"ala", PackageSearch::Exact, false, {"p.beta"}},  // none does: the maintainer Alan
        {"lph", PackageSearch::Exact, false, {}},
        {"LPH", PackageSearch::Fuzzy, false, {"p.alpha"}},
        {"alp", PackageSearch::Exact, true, {"p.alpha", "p.alpine"}},
        {"cy+", PackageSearch::Fuzzy, true, {}},
        {"%", PackageSearch::Fuzzy, false, {"p.pct"}},
        {"_", PackageSearch::Fuzzy, false, {}},
        {"'", PackageSearch::Fuzzy, false, {"p.quote"}},
        {"\\", PackageSearch::Fuzzy, false, {"p.slash"}},
        {std::string(500, 'a'), PackageSearch::Fuzzy, false, {}},
        {"alpha", 7, false, {}},  // no such mode
    };
    for (const auto& c : cases) {
        VostrellePersistentPreferences::sharedInstance().setValue(VostrellePreferenceKey::ShowIncompatiblePackages, c.incompatible);
        auto summary = PackageSearch::summarize(c.text, c.mode, 5);
        EXPECT_EQ(summary.identifiers, c.expected) << c.text.substr(0, 20) << " mode " << c.mode;
        EXPECT_EQ(summary.total, c.expected.size());
        auto list = PackageSearch::query(c.text, c.mode);
        EXPECT_EQ(list ? list->count() : 0u, c.expected.size()) << c.text.substr(0, 20);
    }
    TestSupport::resetSharedServices();
}

TEST_F(SearchTest, ThirdCharacterStartsTheLookupsAndThePauseTheQueryOnce) {
    show();
    type("al");
    EXPECT_TRUE(services->developerLookups.empty());
    EXPECT_FALSE(search->isPackageQueryPending());
    type("p");
    ASSERT_EQ(services->developerLookups.size(), 1u);
    EXPECT_EQ(services->repositoryLookups.size(), 1u);
    EXPECT_TRUE(search->isPackageQueryPending());
    type("h");
    EXPECT_EQ(services->developerLookups.size(), 2u);
    GuiTest::pump(std::chrono::milliseconds(200));
    EXPECT_EQ(search->packageQueriesStarted(), 0);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->packageResultsApplied() == 1; }));
    GuiTest::pump(std::chrono::milliseconds(500));
    EXPECT_EQ(search->packageQueriesStarted(), 1);
    EXPECT_EQ(search->packages()->identifiers, (Ids{"p.alpha"}));

    // Replies: one for an older text is dropped, a failure keeps the list, the current one counts.
    SearchServices::Developer jane{"<b>Jane</b>", "javascript:alert(1)", "jane", {}};
    services->developerLookups[0].second(std::vector<SearchServices::Developer>{jane});
    EXPECT_TRUE(search->developersArray().empty());
    services->developerLookups[1].second(std::vector<SearchServices::Developer>{jane});
    ASSERT_EQ(search->developersArray().size(), 1u);
    services->developerLookups[1].second(std::nullopt);
    EXPECT_EQ(search->developersArray().size(), 1u);
    EXPECT_EQ(search->developersTableView()->height(), 56);
    auto* row = qobject_cast<SearchCell*>(search->developersTableView()->cellForRow({0, 0}));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->nameLbl()->textFormat(), Qt::PlainText);
    EXPECT_EQ(row->subinfoLbl()->text(), "@jane");
    // Its avatar address is no web address: the placeholder, once.
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->developersAvatarDictionary().count("<b>Jane</b>") == 1; }));

    // After Cancel, nothing answers any more.
    search->searchBarCancelButtonClicked();
    EXPECT_FALSE(search->searchText().has_value());
    EXPECT_TRUE(search->developersArray().empty());
    services->repositoryLookups[1].second(std::vector<SearchServices::Repository>{{"Repo", "", "desc", {}}});
    EXPECT_TRUE(search->repositoriesArray().empty());
    EXPECT_FALSE(search->isShowingResults());
}

// Cancel comes back to the history however the editing went: still under
// way, or ended by a focus change over a text (the window went inactive).
TEST_F(SearchTest, CancelAlwaysComesBackToTheHistory) {
    show();
    for (bool focusLeftFirst : {false, true}) {
        type("alpha");
        ASSERT_TRUE(search->isShowingResults());
        if (focusLeftFirst) {
            search->searchBar()->clearFocus();
            ASSERT_TRUE(search->isShowingResults()) << "an editing that ends over a text keeps the results";
        }
        search->searchBarCancelButtonClicked();
        EXPECT_FALSE(search->isShowingResults()) << focusLeftFirst;
        EXPECT_TRUE(search->searchBar()->text().isEmpty());
    }
}

TEST_F(SearchTest, CardCountsWhatItsCompleteListHoldsAndAPressOpensIt) {
    std::vector<ZMRPackage> many;
    for (int i = 0; i < 12; ++i) many.push_back(make("m." + std::to_string(i), "Many " + std::to_string(i)));
    store(many);
    show();
    type("man");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->packageResultsApplied() == 1; }));
    EXPECT_EQ(search->packagesTitle()->text(), "12 Packages");
    EXPECT_EQ(search->packagesTableView()->numberOfRows(0), 5);
    EXPECT_EQ(search->packagesTableView()->height(), 350);
    EXPECT_TRUE(search->seeAllPackagesBtn()->isVisible());

    // A cancelled press opens nothing; a press released on the card opens the list.
    search->handlePackagesLongPress(SearchViewController::PressState::Began);
    EXPECT_TRUE(search->isPressed());
    search->handlePackagesLongPress(SearchViewController::PressState::Cancelled);
    EXPECT_FALSE(search->isPressed());
    EXPECT_EQ(nav->topViewController(), search);
    search->handlePackagesLongPress(SearchViewController::PressState::Began);
    search->handlePackagesLongPress(SearchViewController::PressState::Ended);
    auto* list = dynamic_cast<PackagesTableViewController*>(nav->topViewController());
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return list->model().packages().has_value(); }));
    EXPECT_EQ(list->model().packages()->count(), 12u);
    nav->popToRootViewController(false);

    // No match: an empty card without the button.
    search->searchBar()->clear();
    type("zzz");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->packageResultsApplied() == 2; }));
    EXPECT_EQ(search->packagesTitle()->text(), "0 Packages");
    EXPECT_EQ(search->packagesTableView()->height(), 0);
    EXPECT_FALSE(search->seeAllPackagesBtn()->isVisible());

    // One match: the singular.
    search->searchBar()->clear();
    type("many 11");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->packageResultsApplied() == 3; }));
    EXPECT_EQ(search->packagesTitle()->text(), "1 Package");
}

TEST_F(SearchTest, HistoryRowThenModeSwitchSearchesItsTextAndRecordsEverySearch) {
    ZMRPackageManager::sharedPackageManager().searchHistories().addSearch("lph");
    show();
    ASSERT_EQ(search->searchHistory(), (Ids{"lph"}));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->searchesTrending() == Ids{"trending one"}; }));
    search->didSelectRow(search->historyTableView(), {0, 0});
    EXPECT_TRUE(search->isShowingResults());
    EXPECT_EQ(search->searchText(), std::optional<std::string>("lph"));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->packageResultsApplied() == 1; }));
    EXPECT_EQ(search->packages()->total, 0u);  // Exact: no name begins with it
    search->segmentClicked(PackageSearch::Fuzzy);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->packageResultsApplied() == 2; }));
    EXPECT_EQ(search->packages()->identifiers, (Ids{"p.alpha"}));
    EXPECT_EQ(preferences().integerForKey(VostrellePreferenceKey::SearchQueryOption), PackageSearch::Fuzzy);
    EXPECT_TRUE(GuiTest::waitUntil([&] { return historyCount() == 2; }));
    EXPECT_EQ(services->statistics, (Ids{"lph"}));

    // The search key records 3 characters or more, never fewer.
    search->searchBar()->setText("ab");
    search->searchBarSearchButtonClicked();
    search->searchBar()->setText("abc");
    search->searchBarSearchButtonClicked();
    EXPECT_EQ(services->statistics, (Ids{"lph", "abc"}));
}

TEST_F(SearchTest, AGivenSearchReplacesThePendingTypedOne) {
    show();
    type("bet");
    ASSERT_TRUE(search->isPackageQueryPending());
    search->setSearch("alp");  // a history or trending row, while the typed text waits for its pause
    EXPECT_FALSE(search->isPackageQueryPending());
    EXPECT_EQ(search->searchText(), std::optional<std::string>("alp"));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->packageResultsApplied() == 1; }));
    GuiTest::pump(std::chrono::milliseconds(600));
    EXPECT_EQ(search->packageQueriesStarted(), 1) << "the typed text's query never ran";
    EXPECT_EQ(search->packages()->text, "alp");
    EXPECT_EQ(search->packages()->identifiers, (Ids{"p.alpha"}));
}

TEST_F(SearchTest, HandedOverDeveloperIsSearchedAndRecordedOnce) {
    preferences().setValue(VostrellePreferenceKey::SearchDeveloper, std::string("Zed"));
    show();
    EXPECT_EQ(search->searchText(), std::optional<std::string>("Zed"));
    EXPECT_EQ(search->searchBar()->text(), "Zed");
    EXPECT_TRUE(search->isShowingResults());
    EXPECT_EQ(historyCount(), 1u);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->packageResultsApplied() == 1; }));
    EXPECT_EQ(search->packages()->identifiers, (Ids{"p.alpha"}));  // by maintainer
    nav->pushViewController(new UIViewController, false);
    nav->popViewController(false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return search->isOnScreen(); }));
    EXPECT_EQ(historyCount(), 1u);
    EXPECT_EQ(services->statistics, (Ids{"Zed"}));
}

TEST(RemoteImageTest, OnlySmallWebPicturesAreKept) {
    TestSupport::TempDir root;
    FlatRepository::FileServer server(root.path());
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImage(8, 8, QImage::Format_ARGB32).save(&buffer, "PNG");
    server.route("small.png", [png](const httplib::Request&, httplib::Response& r) {
        r.set_content(png.toStdString(), "image/png");
    });
    server.route("huge.png", [png](const httplib::Request&, httplib::Response& r) {
        r.set_content(png.toStdString() + std::string(10 * 1024 * 1024, '\0'), "image/png");
    });
    server.route("text.png", [](const httplib::Request&, httplib::Response& r) { r.set_content("not a picture", "text/plain"); });
    struct Case {
        std::string url;
        bool placeholder;
    };
    for (const Case& c : {Case{server.url("small.png"), false}, Case{server.url("huge.png"), true},
                          Case{server.url("text.png"), true}, Case{"file:///etc/hostname", true},
                          Case{"javascript:alert(1)", true}}) {
        std::optional<bool> got;
        RemoteImage::load(c.url, [&](const QImage& image, bool placeholder) {
            EXPECT_FALSE(image.isNull());
            got = placeholder;
        });
        ASSERT_TRUE(GuiTest::waitUntil([&] { return got.has_value(); }, std::chrono::seconds(20))) << c.url;
        EXPECT_EQ(*got, c.placeholder) << c.url;
    }
}

}  // namespace
