// The developer's contact card (follow, its rows and popups) and the
// installed-files list (its tree rows, and a list of many thousands).
#include <QUrlQuery>

#include "Details/ContactDeveloperViewController.h"
#include "Details/DetailsFixture.h"
#include "Details/InstalledFilesViewController.h"
#include "ErrorViewController.h"
#include "Keychain/PDKeychainBindings.h"
#include "Services/ZMAccount.h"
#include "Services/ZMOnlineServices.h"
#include "Support/FakeMakerAPI.h"
#include "UIKit/UIAlertController.h"
#include "UIKit/UIApplication.h"
#include "WebViewViewController.h"

namespace {

TEST(InstalledFilesRows, PathsIndentByTheirDepth) {
    struct Case {
        const char* path;
        int depth;
        const char* text;
    };
    const Case cases[] = {
        {"/.", 0, "/."},
        {"/usr", 0, "/usr"},
        {"/usr/share", 1, "/share"},
        {"/Library/MobileSubstrate", 1, "/MobileSubstrate"},
        {"/a/b/c", 2, "/c"},
        {"/usr/share/doc/x", 3, "/x"},
        {"/a/b/c/d/e", 4, "/e"},
        {"/usr/share/", 2, "/share"},
        {"", 0, ""},
        {"relative", 0, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(InstalledFilesViewController::row(c.path), (InstalledFilesViewController::Row{c.depth, c.text})) << c.path;
}

class ContactAndFiles : public DetailsFixture::Host {
protected:
    std::unique_ptr<FakeMakerAPI> maker;
    std::vector<QUrl> opened;
    void SetUp() override {
        Host::SetUp();
        PDKeychainBindings::resetForTesting();
        FakeMakerAPI::setWaitFunction(GuiTest::waitUntil);
        maker = std::make_unique<FakeMakerAPI>();
        maker->addAccount({.username = "ada", .password = "pw", .userID = 12});
        ZMOnlineServices::installAccountSync(ZMRPackageManager::sharedPackageManager().developers());
        UIApplication::setURLOpener([this](const QUrl& url) {
            opened.push_back(url);
            return true;
        });
    }
    void TearDown() override {
        UIApplication::setURLOpener(nullptr);
        window.reset();
        maker.reset();
        Host::TearDown();
    }
    ContactDeveloperViewController* openCard(const std::string& email = "jane@example.com") {
        auto* card = new ContactDeveloperViewController;
        card->setDeveloperName("Jane Doe");
        card->setEmail(email);
        card->setPackageName("Dock Lens");
        QImage avatar(40, 40, QImage::Format_RGB32);
        avatar.fill(Qt::red);
        card->setDeveloperAvatar(avatar);
        show(card);
        return card;
    }
    ErrorViewController* popup() const { return dynamic_cast<ErrorViewController*>(window->topPresentedViewController()); }
};

TEST_F(ContactAndFiles, FollowingFlipsTheButtonTellsTheUserAndUploadsOnlySignedIn) {
    ASSERT_TRUE(maker->signIn("ada", "pw"));
    auto* card = openCard();
    EXPECT_EQ(card->title(), "Developer Page");
    EXPECT_EQ(card->followedBtn()->title(), "Follow");
    EXPECT_FALSE(card->authorIcon()->pixmap().isNull());
    EXPECT_EQ(card->donationLinksTableView()->height(), 88);
    EXPECT_EQ(card->donationLinks(), (std::vector<std::string>{"PayPal", "Other"}));
    card->followedBtn()->trigger();
    UIAlertController* alert = nullptr;
    ASSERT_TRUE(GuiTest::waitUntil([&] { return (alert = dynamic_cast<UIAlertController*>(window->topPresentedViewController())) != nullptr; }))
        << "once stored";
    EXPECT_EQ(alert->alertTitle(), "Followed");
    EXPECT_TRUE(alert->actions().empty());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return window->topPresentedViewController() == nav; })) << "gone by itself";
    EXPECT_EQ(card->followedBtn()->title(), "Unfollow");
    EXPECT_TRUE(ZMRPackageManager::sharedPackageManager().developers().isDeveloperFollowed("Jane Doe"));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return maker->followed(12) == std::optional<std::string>("jane doe"); }));

    // Reopened, it reads the stored state; signed out, unfollowing stays local.
    window.reset();
    ZMAccount::instance().logout();
    const size_t uploads = maker->count("followeddevs/developers.php");
    card = openCard();
    EXPECT_EQ(card->followedBtn()->title(), "Unfollow");
    card->changeIsDeveloperFollowedState();
    EXPECT_EQ(card->followedBtn()->title(), "Follow");
    // The record is written on a background queue.
    EXPECT_TRUE(GuiTest::waitUntil([] { return !ZMRPackageManager::sharedPackageManager().developers().isDeveloperFollowed("Jane Doe"); }));
    GuiTest::pump(std::chrono::milliseconds(300));
    EXPECT_EQ(maker->count("followeddevs/developers.php"), uploads);
}

TEST_F(ContactAndFiles, RowsOpenWhatTheyHaveOrSayWhatIsMissing) {
    struct Case {
        const char* name;
        QUrl twitter, donate;
        const char* email;
        std::vector<const char*> popups;  // for Twitter, Email, PayPal; "" when something opened
    };
    const Case cases[] = {
        {"nothing", QUrl(), QUrl(), "", {"No Twitter Link", "No Email Address", "No PayPal Link"}},
        {"hostile", QUrl("javascript:alert(1)"), QUrl("file:///etc/passwd"), "not an address", {"No Twitter Link", "No Email Address", "No PayPal Link"}},
        {"not the web", QUrl("ftp://host/janedoe"), QUrl("ftp://host/donate"), "", {"No Twitter Link", "No Email Address", "No PayPal Link"}},
        {"all", QUrl("https://twitter.example/janedoe"), QUrl("https://pay.example/jane"), "jane@example.com", {"", "", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        opened.clear();
        auto* card = openCard(c.email);
        card->setTwitter(c.twitter);
        card->setDonateLink(c.donate);
        const std::pair<UITableView*, int> rows[] = {
            {card->contactTableView(), 0}, {card->contactTableView(), 1}, {card->donationLinksTableView(), 0}};
        for (int i = 0; i < 3; ++i) {
            card->didSelectRow(rows[i].first, {0, rows[i].second});
            if (*c.popups[i]) {
                ASSERT_NE(popup(), nullptr) << i;
                EXPECT_EQ(popup()->titleLbl()->text(), c.popups[i]);
                EXPECT_TRUE(popup()->messageLbl()->text().startsWith("Jane Doe hasn't provided"));
                popup()->closeBtn()->click();
                GuiTest::pump();
            } else {
                EXPECT_EQ(popup(), nullptr) << i;
            }
        }
        if (std::string(c.name) == "all") {
            // Twitter and PayPal in the browser, the mail link to the desktop.
            ASSERT_EQ(opened.size(), 1u);
            EXPECT_EQ(opened[0].scheme(), "mailto");
            EXPECT_EQ(QUrlQuery(opened[0]).queryItemValue("subject", QUrl::FullyDecoded), "Vostrelle 5: Question regarding Dock Lens");
            auto* web = dynamic_cast<WebViewViewController*>(nav->topViewController());
            ASSERT_NE(web, nullptr);
            EXPECT_EQ(web->title(), "Jane Doe's Donate Link");
            nav->popViewController(false);
            web = dynamic_cast<WebViewViewController*>(nav->topViewController());
            ASSERT_NE(web, nullptr);
            EXPECT_EQ(web->title(), "Jane Doe's Twitter");
            EXPECT_EQ(web->websiteURL(), c.twitter);
        } else {
            EXPECT_TRUE(opened.empty());
            EXPECT_EQ(nav->viewControllers().size(), 1u);
        }
        // "Other" does nothing.
        card = dynamic_cast<ContactDeveloperViewController*>(nav->viewControllers().front());
        card->didSelectRow(card->donationLinksTableView(), {0, 1});
        EXPECT_EQ(popup(), nullptr);
        window.reset();
    }
}

TEST_F(ContactAndFiles, AMailAddressCannotAddRecipients) {
    auto* card = openCard("jane@example.com?cc=eve@evil.example&bcc=mallory@evil.example");
    card->didSelectRow(card->contactTableView(), {0, 1});
    ASSERT_EQ(opened.size(), 1u);
    const QUrlQuery query(opened[0]);
    EXPECT_FALSE(query.hasQueryItem("cc"));
    EXPECT_FALSE(query.hasQueryItem("bcc"));
    EXPECT_EQ(query.queryItems().size(), 1);
}

TEST_F(ContactAndFiles, TwentyThousandFilesGetWidgetsOnlyForTheRowsOnScreen) {
    ZMRPackage p;
    p.identifier = "com.big.files";
    p.name = "Big";
    p.isInstalled = true;
    p.installedFiles = {"/."};
    for (int i = 0; i < 20000; ++i) p.installedFiles.push_back("/usr/share/big/file" + std::to_string(i));
    p.installedFiles.push_back("");
    storePackage(p);
    auto* files = new InstalledFilesViewController;
    files->setPackageIdentifier(p.identifier);
    show(files);
    EXPECT_EQ(files->title(), "Installed Files");
    auto* table = files->installedFilesTableView();
    EXPECT_EQ(table->numberOfRows(0), 20002);
    EXPECT_LT(table->createdCellCount(), 100);
    EXPECT_EQ(table->cellForRow({0, 0})->textLabel()->text(), "/.");
    EXPECT_EQ(table->cellForRow({0, 1})->textLabel()->text(), "/file0");
    EXPECT_EQ(table->cellForRow({0, 1})->textLabel()->indent(), 3 * InstalledFilesViewController::kIndentPerLevel);
    table->scrollToRow({0, 20001}, UITableView::ScrollPosition::Bottom, false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return table->cellForRow({0, 20001}) != nullptr; }));
    EXPECT_EQ(table->cellForRow({0, 20001})->textLabel()->text(), "") << "the empty last line of dpkg's list";
    EXPECT_LT(table->createdCellCount(), 100);
    window.reset();

    // No record: no rows.
    files = new InstalledFilesViewController;
    files->setPackageIdentifier("com.nowhere");
    show(files);
    EXPECT_EQ(files->installedFilesTableView()->numberOfRows(0), 0);
}

}  // namespace
