// The news list and the restoration of a backup, from the launch, against the
// shared fake maker server: what the user is shown when the news cannot be
// fetched again, and when a backup holds sources that can never be added.
#include "App/LaunchFixture.h"
#include "Online/Screens/LoginViewController.h"
#include "Online/Screens/NewsViewController.h"
#include "Online/Screens/VostrelleSetupRestorationViewController.h"
#include "Services/ZMAccount.h"

namespace {

using namespace UserGesture;

class NewsAndBackupRoad : public Launch::RepositoryFixture {};

TEST_F(NewsAndBackupRoad, TheNewsListShownAgainWithoutAnAnswerHoldsNoItemsOfTheLastOne) {
    maker->setNews(nlohmann::json::array({{{"author", "Zemtrix"}, {"title", "Desktop"}, {"date", "2026-12-01"}, {"content", "a"}},
                                          {{"author", "Zemtrix"}, {"title", "Backups"}, {"date", "2026-11-20"}, {"content", "b"}}}));
    auto& d = start();
    auto* featured = featuredPage();
    ASSERT_NE(featured, nullptr);
    click(featured->newsButton());
    auto* news = qobject_cast<NewsViewController*>(featured->navigationController()->topViewController());
    ASSERT_NE(news, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return news->newsTableView()->numberOfRows(0) == 2; }));

    // Another tab and back: the list is shown again and fetches again, and the server fails.
    maker->setBehaviour("news/retrievenews.php", {.body = "<html>maintenance</html>"});
    selectTab(ZMVostrelle::SearchTab);
    selectTab(ZMVostrelle::FeaturedTab);
    ASSERT_EQ(featured->navigationController()->topViewController(), news);
    auto* popup = waitForPopup();
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->titleLbl()->text(), "News Retrieval");
    EXPECT_TRUE(news->newsArray().empty());
    EXPECT_EQ(news->newsTableView()->numberOfRows(0), 0) << "no items of the earlier answer pass for news";
    click(popup->closeBtn());
    EXPECT_TRUE(backAtTheWindow());
    screenshot("news-failed-again.png");
    (void)d;
}

TEST_F(NewsAndBackupRoad, BackupSourcesThatCannotBeAddedAreNamedNotCalledInstalled) {
    serveRepository(Launch::stanza("org.jane.dock", "Jane's Dock", "Jane Doe"), "Jane's Repo");
    maker->addAccount({.username = "pat", .password = "pw", .userID = 30, .groupID = "5"});  // premium: backups on the server
    auto& d = start(addLink());
    ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource("org.jane.dock"));
    ASSERT_NO_FATAL_FAILURE(signIn("pat", "pw"));
    const std::string unusable = "ftp://files.example/debs/";

    struct Case {
        const char* name;
        std::vector<std::string> sources;
        bool asksFirst;  // nothing to restore: a popup before the screen
    };
    const Case cases[] = {
        {"only a configured source and one that cannot be added", {repository(), unusable}, true},
        {"beside a new source", {"https://new.example/", unusable}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        maker->setSetup(30, {{"sources", c.sources}, {"packages", nlohmann::json::array()}});
        auto* account = accountPage();
        ASSERT_NE(account, nullptr);
        ASSERT_NO_FATAL_FAILURE(tapAccountRow(account, "openBackup"));
        if (c.asksFirst) {
            auto* popup = waitForPopup();
            ASSERT_NE(popup, nullptr);
            const std::string message = popup->messageLbl()->text().toStdString();
            EXPECT_EQ(message.find("already installed"), std::string::npos) << message;
            EXPECT_NE(message.find(unusable), std::string::npos) << message;
            click(popup->otherBtn());  // "Show"
        }
        VostrelleSetupRestorationViewController* screen = nullptr;
        ASSERT_TRUE(GuiTest::waitUntil([&] {
            return (screen = qobject_cast<VostrelleSetupRestorationViewController*>(
                        account->navigationController()->topViewController())) != nullptr;
        }));
        EXPECT_TRUE(screen->unusableSourcesLabel()->isVisible());
        EXPECT_TRUE(screen->unusableSourcesLabel()->text().contains(QString::fromStdString(unusable)));
        EXPECT_EQ(screen->sourcesToRestoreDict().count(unusable), 0u) << "never offered for selection";
        if (!c.asksFirst) screenshot("restoration-unusable-source.png");
    }
    (void)d;
}

}  // namespace
