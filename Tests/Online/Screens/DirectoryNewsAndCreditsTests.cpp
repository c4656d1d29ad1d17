// The repository directory and its pages, the news (list, page, the delegate's
// check and its notification), the credits and their developer lookups, and
// the search screen's services over the maker's clients.
#include "App/ZMApplication.h"
#include "Online/Screens/CreditsViewController.h"
#include "Online/Screens/NewsViewController.h"
#include "Online/Screens/OnlineImages.h"
#include "Online/Screens/OnlineRepositoriesViewController.h"
#include "Online/Screens/OnlineScreensFixture.h"
#include "Online/Screens/OnlineSearchServices.h"
#include "Online/Screens/SearchedRepoViewController.h"
#include "SearchCell.h"
#include "TabPlaceholderViewController.h"
#include "UserNotifications/UNUserNotificationCenter.h"

namespace {

using nlohmann::json;

class OnlineListsTest : public OnlineScreensTest::Fixture {
protected:
    TestSupport::TempDir files;
    std::unique_ptr<FlatRepository::FileServer> images;

    void SetUp() override {
        Fixture::SetUp();
        QImage icon(16, 16, QImage::Format_RGB32);
        icon.fill(Qt::darkCyan);
        icon.save(QString::fromStdString(files.file("icon.png")), "PNG");
        images = std::make_unique<FlatRepository::FileServer>(files.path());
    }
    static json repo(const std::string& name, const std::string& url, const std::string& icon) {
        return {{"name", name}, {"url", url},          {"icon", icon},
                {"description", "About " + name},     {"maintainer", "M"}, {"category", "C"}};
    }
};

TEST_F(OnlineListsTest, TheDirectoryListsSharesIconsByNameAndItsPagesAddOnlyNewSources) {
    storeSource("http://configured.example/", "Configured");
    maker->setDirectory({repo("Alpha", "https://alpha.example/", images->url("icon.png")),
                         repo("Alpha", "https://alpha-mirror.example/", images->url("icon.png")),
                         repo("Broken", "https://broken.example/", images->url("missing.png")),
                         repo("Configured", "https://configured.example", ""),
                         repo("Plain", "http://plain.example/", "")});
    auto* directory = new OnlineRepositoriesViewController;
    auto* nav = show(directory);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return directory->hasListed(); }));
    auto* table = directory->repositoriesTableView();
    ASSERT_EQ(table->numberOfRows(0), 5);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return images->count("missing.png") == 1 && images->count("icon.png") == 1; }));
    GuiTest::pump(std::chrono::milliseconds(100));
    EXPECT_EQ(images->count("icon.png"), 1u);  // one download for the two entries named Alpha
    auto* broken = qobject_cast<SearchCell*>(table->cellForRow({0, 2}));
    ASSERT_NE(broken, nullptr);
    EXPECT_FALSE(broken->iconView()->pixmap().isNull());  // the placeholder
    EXPECT_TRUE(qobject_cast<SearchCell*>(table->cellForRow({0, 4}))->isSeparatorHidden());

    // Configured under the other scheme and without the final "/": "Source Error".
    directory->didSelectRow(table, {0, 3});
    auto* page = qobject_cast<SearchedRepoViewController*>(nav->topViewController());
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->shownIcon().size(), OnlineImages::named("iTunesArtwork.png").size());
    page->addSource();
    auto* popup = presented<ErrorViewController>();
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->titleLbl()->text(), "Source Error");
    dismissTop();
    nav->popViewController(false);
    // A plain-http repository asks first.
    directory->didSelectRow(table, {0, 4});
    qobject_cast<SearchedRepoViewController*>(nav->topViewController())->addSource();
    EXPECT_EQ(presented<ErrorViewController>()->titleLbl()->text(), "Warning");
    dismissTop();
    nav->popViewController(false);

    // A page opened without an icon loads it in the background.
    auto* fresh = new SearchedRepoViewController;
    fresh->setSearchedRepo(*ZMSearchedRepo::searchedRepoWithJSON(repo("Alpha", "https://alpha.example/", images->url("icon.png"))));
    nav->pushViewController(fresh, false);
    EXPECT_TRUE(fresh->shownIcon().isNull());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !fresh->shownIcon().isNull(); }));
    EXPECT_EQ(fresh->shownIcon().pixelColor(3, 3), QColor(Qt::darkCyan));
    fresh->addSource();
    EXPECT_TRUE(GuiTest::waitUntil([] { return ZMRSource::objectForPrimaryKey("https://alpha.example/").has_value(); }));
}

TEST_F(OnlineListsTest, TheNewsListShowsTheLatestFetchAndItsPagesAndErrors) {
    maker->setNews({{{"author", "Zem"}, {"title", "<i>One</i>"}, {"content", "First"}, {"date", "today"},
                     {"banner", images->url("missing.jpg")}},
                    {{"author", "Zem"}, {"title", "Two"}, {"content", "Second"}, {"date", "today"}}});
    UNUserNotificationCenter::current().setApplicationIconBadgeNumber(3);
    auto* news = new NewsViewController;
    auto* nav = show(news);
    EXPECT_EQ(UNUserNotificationCenter::current().applicationIconBadgeNumber(), 0);
    // Two appearances in a row: the rows of one fetch, never both appended.
    nav->pushViewController(new UIViewController, false);
    nav->popViewController(false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return news->fetchesAnswered() >= 1 && maker->count("news/retrievenews.php") == 2; }));
    GuiTest::pump(std::chrono::milliseconds(200));
    ASSERT_EQ(news->newsArray().size(), 2u);
    auto* row = qobject_cast<NewsCell*>(news->newsTableView()->cellForRow({0, 0}));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->newsTitleLbl()->text(), "<i>One</i>");
    EXPECT_EQ(row->newsTitleLbl()->textFormat(), Qt::PlainText);
    EXPECT_EQ(row->newsAuthorLbl()->text(), "by Zem");
    EXPECT_TRUE(qobject_cast<NewsCell*>(news->newsTableView()->cellForRow({0, 1}))->isSeparatorHidden());

    news->didSelectRow(news->newsTableView(), {0, 0});
    auto* details = presented<NewsDetailsViewController>();
    ASSERT_NE(details, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return details->bannerShown(); }));
    EXPECT_FALSE(details->imageView()->pixmap().isNull());  // the stand-in banner
    dismissTop();

    maker->setBehaviour("news/retrievenews.php", {.body = std::string("<html>not json")});
    nav->pushViewController(new UIViewController, false);
    nav->popViewController(false);
    auto* popup = presented<ErrorViewController>();
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->titleLbl()->text(), "News Retrieval");
    EXPECT_TRUE(popup->messageLbl()->text().startsWith("There was an error during the news retrieval: "));
}

TEST_F(OnlineListsTest, TheNewsCheckAnnouncesMoreItemsOnlyAndItsNotificationOpensTheList) {
    maker->setNews({{{"title", "A"}}, {{"title", "B"}}});
    auto& d = ZMVostrelle::sharedVostrelle();
    int shown = 0;
    auto connection = QObject::connect(&UNUserNotificationCenter::current(), &UNUserNotificationCenter::notificationShown,
                                       [&](const QString& id) { shown += id == ZMVostrelle::kNewsNotificationIdentifier; });
    ZMApplication::applicationDidFinishLaunching();  // checks at once
    ASSERT_TRUE(GuiTest::waitUntil([&] { return shown == 1; }));
    EXPECT_EQ(prefs().integerForKey("NewsCount"), 2);
    EXPECT_TRUE(d.hasPendingNewsNotification());
    UNUserNotificationCenter::current().setApplicationIconBadgeNumber(2);
    UNUserNotificationCenter::current().activateBanner();
    auto* nav = presented<UINavigationController>();
    ASSERT_NE(nav, nullptr);
    EXPECT_NE(qobject_cast<NewsViewController*>(nav->topViewController()), nullptr);
    EXPECT_EQ(UNUserNotificationCenter::current().applicationIconBadgeNumber(), 0);
    EXPECT_FALSE(d.hasPendingNewsNotification());

    // Fewer items: nothing announced, the count kept.
    maker->setNews({{{"title", "A"}}});
    d.checkForNews();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return maker->count("news/retrievenews.php") >= 3; }));
    GuiTest::pump(std::chrono::milliseconds(100));
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(prefs().integerForKey("NewsCount"), 2);
    QObject::disconnect(connection);
}

TEST_F(OnlineListsTest, CreditsLookUpTheTappedNameAndOnlyTheLatestTapOpensAPage) {
    maker->setCredits({{{"name", "Ann Bee"}, {"description", "<b>Design</b>"}, {"avatarURL", images->url("none.png")},
                        {"username", "a b"}},
                       {{"name", "Zed"}, {"description", "Code"}, {"avatarURL", images->url("icon.png")}, {"username", "zed"}},
                       {{"name", "Nobody"}, {"username", "nobody"}},
                       {{"description", "no name"}}});
    maker->setDevelopers({{{"developer", "a b"}, {"twitter", "ab"}}, {{"developer", "zed"}}});
    auto* credits = new CreditsViewController;
    auto* nav = show(credits);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return credits->hasLoaded(); }));
    ASSERT_EQ(credits->creditsArray().size(), 3u);  // the entry without a name is left out
    auto* row = qobject_cast<SearchCell*>(credits->creditsTableView()->cellForRow({0, 0}));
    EXPECT_EQ(row->subinfoLbl()->text(), "<b>Design</b>");
    EXPECT_TRUE(row->followBtn()->isHidden());

    // The first lookup answers late: only the second tap's page opens.
    maker->setBehaviour("developers/devs.php", {.hold = true});
    credits->didSelectRow(credits->creditsTableView(), {0, 0});
    ASSERT_TRUE(GuiTest::waitUntil([&] { return maker->heldRequests("developers/devs.php").size() == 1; }));
    EXPECT_NE(maker->heldRequests("developers/devs.php").at(0).rawQuery.find("searchParam=a+b"), std::string::npos);
    maker->clearBehaviour("developers/devs.php");
    credits->didSelectRow(credits->creditsTableView(), {0, 1});
    ASSERT_TRUE(GuiTest::waitUntil([&] { return credits->lookupsAnswered() == 1; }));
    maker->releaseHeld("developers/devs.php");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return credits->lookupsAnswered() == 2; }));
    ASSERT_EQ(nav->viewControllers().size(), 2u);
    EXPECT_EQ(nav->topViewController()->title(), "zed");
    nav->popViewController(false);
    // A name the directory does not know opens nothing.
    credits->didSelectRow(credits->creditsTableView(), {0, 2});
    ASSERT_TRUE(GuiTest::waitUntil([&] { return credits->lookupsAnswered() == 3; }));
    EXPECT_EQ(nav->viewControllers().size(), 1u);
}

TEST_F(OnlineListsTest, TheSearchServicesAnswerWithTheirOwnRepliesOnTheMainThread) {
    maker->setDevelopers(json::array({{{"developer", "Jane Dev"}, {"twitter", "https://twitter.example/janedev/"}}}));
    maker->setDirectory(json::array({repo("Jane Repo", "https://jane.example/", "")}));
    maker->setTrending({"dark mode", 7, "tweak"});
    OnlineSearchServices services;
    std::optional<std::vector<SearchServices::Developer>> developers;
    std::optional<std::vector<SearchServices::Repository>> repositories;
    std::optional<std::vector<std::string>> trending;
    int answers = 0;
    services.searchDevelopers("jane", [&](auto list) { developers = list, ++answers; });
    services.searchRepositories("jane", [&](auto list) { repositories = list, ++answers; });
    services.retrieveSearchesTrending([&](auto list) { trending = list, ++answers; });
    ASSERT_TRUE(GuiTest::waitUntil([&] { return answers == 3; }));
    ASSERT_TRUE(developers && developers->size() == 1);
    EXPECT_EQ(developers->front().twitter, "janedev");
    ASSERT_TRUE(repositories.has_value());
    ASSERT_EQ(repositories->size(), 1u);
    EXPECT_EQ(repositories->front().name, "Jane Repo");
    EXPECT_EQ(trending, (std::vector<std::string>{"dark mode", "tweak"}));
    maker->setBehaviour("stats/trending.php", {.status = 500});
    services.retrieveSearchesTrending([&](auto list) { trending = list, ++answers; });
    ASSERT_TRUE(GuiTest::waitUntil([&] { return answers == 4; }));
    EXPECT_FALSE(trending.has_value());
}

}  // namespace
