// A buyer's road from the launch: a paid flat repository served on loopback
// with its store (FakeStores::PaymentAPI), added from a "vostrelle://add"
// link, its packages opened from Sections → All Packages, bought and queued
// with the mouse, the queue confirmed from the status display. What the
// store answers decides each walk:
//   - a sign-in the store ended, met first at the download as "not
//     purchased": the user is asked to sign in again, the token is gone;
//   - one ended by "invalidate": told once, by the source's name, and the
//     owned package asks for the sign-in before it is queued again;
//   - a refund: the package no longer reads OWNED and its price buys it again;
//   - a refused one-time download address: said in words, the address in no
//     alert and no log line, the package out of the queue;
//   - the purchase page closed before paying: nothing to report;
//   - a package the client cannot ask about: its Get button stays usable;
//   - the Stores list and the Cydia store page, with replies held back and
//     let go out of order: the later event wins.
#include <QTest>
#include <QToolButton>

#include "App/LaunchFixture.h"
#include "App/PaidRepositoryRoad.h"
#include "Database/ZMRSource.h"
#include "Details/DetailsFixture.h"
#include "Details/PackageDetailsViewController.h"
#include "Online/Screens/CydiaStoreLoginController.h"
#include "Online/Screens/CydiaStoreLoginWebView.h"
#include "Online/Screens/RepoStoreDetailsViewController.h"
#include "Online/Screens/RepoStoresListController.h"
#include "Online/Screens/StoreHeaderView.h"
#include "Online/Screens/WebPageDriver.h"
#include "PackagesConfirmationViewController.h"
#include "Support/FakeStores.h"
#include "Support/FlatRepository.h"
#include "UIKit/UIViewAlpha.h"
#include "ZMTabBarStatusView.h"
#include "ZMTasksViewController.h"

namespace {

using namespace UserGesture;
using State = FakeStores::PaymentAPI::State;

using Launch::kPaid;

class BuyerRoad : public Launch::PaidRepositoryRoad<Launch::Fixture> {
protected:
    static bool owned() { return package(kPaid)->isPaidThroughSileo.value_or(false); }
    static bool queued() { return package(kPaid)->isInTheQueue.value_or(false); }

    // The launch with the repository's link; its warning (plain http)
    // accepted; done once the refresh has found the store.
    void launchWithTheRepository() {
        start({QString::fromStdString("vostrelle://add/" + location())});
        ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource(kPaid, location()));
        ASSERT_TRUE(GuiTest::waitUntil([&] {
            auto source = ZMRSource::objectForPrimaryKey(location());
            return source && source->endpoint == store->endpoint();
        }, std::chrono::seconds(60)));
    }
    static PackageDetailsViewController* openThePackage(const char* identifier = kPaid) {
        auto* page = DetailsFixture::openFromAllPackages(app(), identifier);
        if (page) GuiTest::waitUntil([&] { return page->isOnScreen(); });
        return page;
    }
    static bool reads(PackageDetailsViewController* page, const QString& title) {
        return GuiTest::waitUntil([&] { return page->getBtn()->text() == title; }, std::chrono::seconds(20));
    }
    // Bought on another machine: owned once signed in, its page says so.
    PackageDetailsViewController* ownedPage() {
        store->update([](State& s) { s.purchased = {kPaid}; });
        EXPECT_NO_FATAL_FAILURE(launchWithTheRepository());
        auto* page = openThePackage();
        if (!page) return nullptr;
        EXPECT_NO_FATAL_FAILURE(signInFromThePrice(page));
        EXPECT_TRUE(GuiTest::waitUntil([] { return owned(); }, std::chrono::seconds(20)));
        page = openThePackage();  // asks the store again, signed in
        EXPECT_TRUE(page && reads(page, "OWNED"));
        return page;
    }
    // The status display opens the queue; its confirmation starts the downloads.
    void confirmTheQueue() {
        auto* queue = ShellTest::openTheQueue(app());
        ASSERT_NE(queue, nullptr);
        click(queue->confirmButton());
        ASSERT_TRUE(GuiTest::waitUntil([] { return ZMPipelineManager::sharedManager().liveTaskCount() == 0; },
                                       std::chrono::seconds(60)));
        GuiTest::pump(std::chrono::milliseconds(200));  // alerts asked for on the way
    }
    // Title and text of every popup on screen.
    static std::vector<std::pair<std::string, std::string>> popups() {
        std::vector<std::pair<std::string, std::string>> out;
        for (auto* popup : popupsShown())
            out.emplace_back(popup->titleLbl()->text().toStdString(), popup->messageLbl()->text().toStdString());
        return out;
    }
    static bool anyPopupSays(const std::string& words) {
        for (const auto& [title, message] : popups())
            if (title.find(words) != std::string::npos || message.find(words) != std::string::npos) return true;
        return false;
    }
    void signInEndedAtTheDownload(int userInfoStatus);
    // Featured → the account button → Commercial Stores.
    static RepoStoresListController* openTheStores() {
        auto* account = accountPage();
        if (!account) return nullptr;
        tapAccountRow(account, "openCommercialStores");
        return qobject_cast<RepoStoresListController*>(account->navigationController()->topViewController());
    }
    static std::string describePopups() {
        std::string out;
        for (const auto& [title, message] : popups()) out += "[" + title + ": " + message + "] ";
        return out;
    }
};

// The store has ended the sign-in, and answers for that token "not
// purchased" (some real stores do) rather than "invalidate": the owned
// package is checked with the user's account, which the store refuses with
// `userInfoStatus` (200: an error with "invalidate").
void BuyerRoad::signInEndedAtTheDownload(int userInfoStatus) {
    auto* page = ownedPage();
    ASSERT_NE(page, nullptr);
    store->update([&](State& s) {
        s.token = "tok-issued-later";  // the one this machine holds is dead
        s.packageInfoIgnoresToken = true;
        s.userInfoUnknownTokenStatus = userInfoStatus;
    });
    click(page->getBtn());
    ASSERT_TRUE(GuiTest::waitUntil([] { return queued(); })) << "owned: queued at once";
    ASSERT_NO_FATAL_FAILURE(confirmTheQueue());

    EXPECT_TRUE(GuiTest::waitUntil([] { return anyPopupSays("Sign In Again"); })) << describePopups();
    EXPECT_FALSE(anyPopupSays("You need to buy")) << describePopups();
    EXPECT_FALSE(signedIn()) << "the dead token is dropped";
    EXPECT_FALSE(PDKeychainBindings::sharedKeychainBindings().stringForKey(location() + "_token").has_value());
    EXPECT_FALSE(queued());
    EXPECT_GE(server->count("pay/user_info"), 2u) << "the account was asked at the download";
}

TEST_F(BuyerRoad, AnEndedSignInMetAtTheDownloadAsAnHTTPRefusalAsksToSignInAgain) {
    signInEndedAtTheDownload(401);
    screenshot("buyer-signin-ended-at-download.png");
}

TEST_F(BuyerRoad, AnEndedSignInMetAtTheDownloadAsAnInvalidationAsksToSignInAgain) { signInEndedAtTheDownload(200); }

// The store ends the sign-in ("invalidate" for the token this machine
// holds) while an owned package waits in the queue: the download is told
// once, in the "Sign In Again" alert naming the source, and the task row
// names the source too. Signed out, the owned package's button asks for the
// sign-in before anything is queued; the sign-in sheet's Back and Forward,
// on its first page, are both disabled and look alike.
TEST_F(BuyerRoad, AnEndedSignInIsToldOnceByTheSourcesNameAndTheNextTapSignsInFirst) {
    auto* page = ownedPage();
    ASSERT_NE(page, nullptr);
    store->update([](State& s) { s.token = "tok-issued-later"; });
    click(page->getBtn());
    ASSERT_TRUE(GuiTest::waitUntil([] { return queued(); })) << "owned and signed in: queued at once";
    ASSERT_NO_FATAL_FAILURE(confirmTheQueue());
    ASSERT_TRUE(GuiTest::waitUntil([] { return anyPopupSays("Sign In Again"); })) << describePopups();
    GuiTest::pump(std::chrono::milliseconds(500));
    EXPECT_EQ(popups().size(), 1u) << describePopups();
    EXPECT_TRUE(anyPopupSays("Paid Repo")) << describePopups();
    EXPECT_FALSE(anyPopupSays("127.0.0.1")) << describePopups();
    std::string failedRows;
    for (auto* tasks : app().window()->findChildren<ZMTasksViewController*>())
        for (const auto& row : tasks->rows())
            if (row.state == ZMTasksViewController::TaskRow::State::Failed) failedRows += row.error + "\n";
    EXPECT_NE(failedRows.find("Paid Repo"), std::string::npos) << failedRows;
    EXPECT_EQ(failedRows.find("127.0.0.1"), std::string::npos) << failedRows;
    EXPECT_FALSE(signedIn());
    EXPECT_FALSE(queued());

    // "Not Now", and the package again: the store's sign-in, nothing queued.
    while (auto* popup = dynamic_cast<ErrorViewController*>(top())) {
        click(popup->closeBtn());
        GuiTest::waitUntil([&] { return top() != popup; });
    }
    if (auto* tasks = dynamic_cast<UINavigationController*>(top())) tapBarButton(tasks->topViewController(), "Close");
    ASSERT_TRUE(backAtTheWindow());
    page = openThePackage();
    ASSERT_NE(page, nullptr);
    const size_t downloads = server->count("authorize_download");
    click(page->getBtn());
    auto* signin = WebPageDriver::lastStorePage("password");
    EXPECT_NE(signin, nullptr) << "the sign-in comes first";
    GuiTest::pump(std::chrono::milliseconds(300));
    EXPECT_FALSE(queued()) << "queued while signed out";
    EXPECT_EQ(server->count("authorize_download"), downloads);
    if (!signin) return;

    auto* sheet = ZMStorePages::shared().pageScreen(ZMStorePages::shared().lastPage());
    ASSERT_NE(sheet, nullptr);
    screenshot("buyer-sign-in-sheet-first-page.png");
    const std::pair<QToolButton*, const char*> history[] = {{sheet->backButton(), "Back"}, {sheet->forwardButton(), "Forward"}};
    for (const auto& [button, word] : history) {
        EXPECT_FALSE(button->isEnabled()) << word << " on the first page";
        EXPECT_EQ(button->height(), sheet->backButton()->height()) << word;
        EXPECT_EQ(QFontInfo(button->font()).pixelSize(), QFontInfo(sheet->backButton()->font()).pixelSize()) << word;
        EXPECT_EQ(button->iconSize(), sheet->backButton()->iconSize()) << word;
    }
    // Drawn alike: a disabled button is grey, neither of them in the tint colour.
    auto tinted = [](QToolButton* button) {
        const QImage image = button->grab().toImage();
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                count += std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()}) > 80;
            }
        return count;
    };
    EXPECT_EQ(tinted(sheet->backButton()), 0) << "Back drawn as if it could act";
    EXPECT_EQ(tinted(sheet->forwardButton()), 0) << "Forward drawn as if it could act";
}

// A refund: the download's "not purchased" takes the owned mark away, and
// the page's button buys again instead of queueing.
TEST_F(BuyerRoad, AfterARefundThePackageIsNoLongerOwnedAndItsPriceBuysItAgain) {
    auto* page = ownedPage();
    ASSERT_NE(page, nullptr);
    store->update([](State& s) { s.purchased.clear(); });
    click(page->getBtn());
    ASSERT_TRUE(GuiTest::waitUntil([] { return queued(); }));
    ASSERT_NO_FATAL_FAILURE(confirmTheQueue());
    EXPECT_TRUE(GuiTest::waitUntil([] { return anyPopupSays("You need to buy"); })) << describePopups();
    EXPECT_TRUE(signedIn()) << "the account is fine";
    EXPECT_FALSE(owned());
    EXPECT_FALSE(queued());
    EXPECT_TRUE(reads(page, "$1.99")) << page->getBtn()->text().toStdString();

    while (auto* popup = dynamic_cast<ErrorViewController*>(top())) {
        click(popup->closeBtn());
        GuiTest::waitUntil([&] { return top() != popup; });
    }
    store->update([](State& s) { s.purchaseStatus = 0; });  // bought at once, no page
    const size_t purchases = server->count("purchase");
    click(page->getBtn());
    EXPECT_TRUE(GuiTest::waitUntil([&] { return server->count("purchase") > purchases; })) << "the price buys";
    EXPECT_TRUE(GuiTest::waitUntil([] { return queued() && owned(); }));
}

// The one-time address of the archive carries a ticket: refused, it shows
// in no alert and no log line, and the package leaves the queue.
TEST_F(BuyerRoad, ARefusedDownloadAddressIsSaidInWordsAndKeptSecret) {
    auto* page = ownedPage();
    ASSERT_NE(page, nullptr);
    store->update([](State& s) { s.downloadStatus = 403; });
    click(page->getBtn());
    ASSERT_TRUE(GuiTest::waitUntil([] { return queued(); }));
    testing::internal::CaptureStderr();
    confirmTheQueue();
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(GuiTest::waitUntil([] { return !popups().empty(); })) << "the refusal is reported";
    EXPECT_TRUE(anyPopupSays("refused")) << describePopups();
    EXPECT_FALSE(anyPopupSays("download/")) << describePopups();
    EXPECT_EQ(log.find("download/"), std::string::npos) << log;
    EXPECT_NE(log.find("127.0.0.1"), std::string::npos) << "the host is logged";
    EXPECT_EQ(server->count("pay/download/1"), 1u);
    EXPECT_FALSE(queued());
    EXPECT_TRUE(owned()) << "a refused address is no refund";
}

// Closing the store's purchase page is the buyer's own cancel: no alert.
TEST_F(BuyerRoad, ClosingThePurchasePageBeforePayingReportsNothing) {
    ASSERT_NO_FATAL_FAILURE(launchWithTheRepository());
    auto* page = openThePackage();
    ASSERT_NE(page, nullptr);
    ASSERT_NO_FATAL_FAILURE(signInFromThePrice(page));
    const int alerts = app().alertCount();
    const size_t asked = server->count("pay/package/com.example.paid/info");
    click(page->getBtn());
    auto* checkout = WebPageDriver::lastStorePage("pay");
    ASSERT_NE(checkout, nullptr);
    auto* sheet = dynamic_cast<UINavigationController*>(top());
    ASSERT_NE(sheet, nullptr);
    tapBarButton(sheet->topViewController(), "Cancel");
    ASSERT_TRUE(GuiTest::waitUntil([] { return !ZMRepoStoreAPI::sharedRepoStore().hasPendingPurchase(); }));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return server->count("pay/package/com.example.paid/info") >= asked + 2; }))
        << "the store was asked once more whether it took the payment";
    GuiTest::pump(std::chrono::milliseconds(500));
    EXPECT_EQ(app().alertCount(), alerts) << app().lastAlertTitle() << ": " << app().lastAlertMessage();
    EXPECT_TRUE(popups().empty()) << describePopups();
    EXPECT_FALSE(queued());
    EXPECT_TRUE(reads(page, "$1.99"));
}

// A package the client will not ask the store about (a repository gave it
// a name longer than any Debian package name may be): no answer came, so
// its Get button stays as the index has it.
TEST_F(BuyerRoad, AQuestionNeverSentDoesNotMakeThePackageUnavailable) {
    const std::string longName = "com.example." + std::string(250, 'l');
    FlatRepository::writeIndexesForText(
        repo.path(),
        TestSupport::readFile(repo.file("Packages")) + "Package: " + longName +
            "\nName: Long Tweak\nVersion: 1.0\nSection: Tweaks\nArchitecture: all\nMaintainer: Jane Doe\nPrice: $2.99\n"
            "Filename: ./long.deb\nSize: 10\nSHA256: " + std::string(64, '0') + "\nDescription: long\n",
        "Paid Repo");
    ASSERT_NO_FATAL_FAILURE(launchWithTheRepository());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return package(longName).has_value(); }));
    auto* paid = openThePackage();
    ASSERT_NE(paid, nullptr);
    ASSERT_NO_FATAL_FAILURE(signInFromThePrice(paid));

    auto* page = openThePackage(longName.c_str());
    ASSERT_NE(page, nullptr);
    GuiTest::pump(std::chrono::milliseconds(500));  // the page's question fails at once, unsent
    EXPECT_EQ(page->getBtn()->text().toStdString(), "$2.99");
    EXPECT_TRUE(page->getBtn()->isEnabled());
    EXPECT_EQ(UIView::alpha(page->getBtn()), 1.0);
    EXPECT_EQ(server->count(longName + "/info"), 0u);
}

// Two rounds of the Stores list's vendor requests: the first asked while
// the store was called one thing, the second after it renamed itself (and a
// second store appeared, which is what starts a new round). The first
// round's answer, let go last, changes nothing.
TEST_F(BuyerRoad, TheStoresListKeepsTheLaterRoundsAnswer) {
    TestSupport::TempDir otherRepo;
    FlatRepository::writeIndexesForText(otherRepo.path(),
                                        "Package: org.other.free\nName: Other Free\nVersion: 1.0\nSection: Tweaks\n"
                                        "Architecture: all\nDescription: free\n",
                                        "Other Repo");
    FlatRepository::FileServer otherServer(otherRepo.path());
    FakeStores::PaymentAPI otherStore(otherServer, otherRepo.path());
    otherStore.update([](State& s) { s.endpointStatus = 404; });  // no store yet
    store->update([](State& s) { s.vendor["name"] = "Paid Store"; });
    ASSERT_NO_FATAL_FAILURE(launchWithTheRepository());
    ASSERT_TRUE(GuiTest::waitUntil([] { return ZMPipelineManager::sharedManager().liveTaskCount() == 0; }));
    app().openURLs({QString::fromStdString("vostrelle://add/" + otherServer.url())});
    ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource("org.other.free", otherServer.url()));
    ASSERT_TRUE(backAtTheWindow());

    store->vendorInfoReplies.hold();
    auto* list = openTheStores();
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return store->vendorInfoReplies.waiting() == 1; }));
    store->update([](State& s) { s.vendor["name"] = "Paid Store Renamed"; });
    otherStore.update([](State& s) { s.endpointStatus = 200; });
    // Refresh: the other store is found, and every store asked again.
    click(list->navigationItem()->rightBarButtonItem()->buttonWidget());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return store->vendorInfoReplies.waiting() == 2; }, std::chrono::seconds(20)));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return list->vendorInfoForSourceLocation(otherServer.url()).name == "Paid Test Store"; }));

    store->vendorInfoReplies.release(1);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return list->vendorInfoForSourceLocation(location()).name == "Paid Store Renamed"; }));
    store->vendorInfoReplies.release(0);
    EXPECT_FALSE(GuiTest::waitUntil([&] { return list->vendorInfoForSourceLocation(location()).name != "Paid Store Renamed"; },
                                    std::chrono::seconds(3)))
        << list->vendorInfoForSourceLocation(location()).name;
    store->vendorInfoReplies.stop();
}

// The Cydia store's purchase list, asked for at the sign-in, answers after
// the user has signed out on the store's page: the sign-out stands.
TEST_F(BuyerRoad, ACydiaStoreImportThatLandsAfterTheSignOutChangesNothing) {
    FakeStores::CydiaStore cydia{{kPaid}};
    setVariable("VOSTRELLE_CYDIA_STORE_URL", cydia.base());
    ASSERT_NO_FATAL_FAILURE(launchWithTheRepository());
    auto* list = openTheStores();
    ASSERT_NE(list, nullptr);
    tapRow(list->tableView(), {0, list->tableView()->numberOfRows(0) - 1});
    auto* page = qobject_cast<RepoStoreDetailsViewController*>(list->navigationController()->topViewController());
    ASSERT_TRUE(page && page->isCydiaStore());
    click(page->headerView()->button());
    auto* sheet = dynamic_cast<UINavigationController*>(page->presentedViewController());
    ASSERT_NE(sheet, nullptr);
    QPointer<CydiaStoreLoginController> login = qobject_cast<CydiaStoreLoginController*>(sheet->topViewController());
    ASSERT_NE(login, nullptr);
    auto* web = login->webView()->page();
    ASSERT_TRUE(WebPageDriver::waitForElement(web, "password"));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return login->finishedImports() == 1; })) << "the signed-out account page's import";

    cydia.purchaseListReplies.hold();
    WebPageDriver::run(web, "document.getElementById('email').value = 'jane@example.org';"
                            "document.getElementById('password').value = 'pw';"
                            "document.getElementById('login').click();");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return cydia.purchaseListReplies.waiting() == 1; }, std::chrono::seconds(30)));
    ASSERT_TRUE(WebPageDriver::waitForElement(web, "signout"));
    WebPageDriver::run(web, "document.getElementById('signout').click();");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !cydia.signedIn(); }, std::chrono::seconds(30)));
    GuiTest::pump(std::chrono::milliseconds(200));

    cydia.purchaseListReplies.release(0);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return login && login->finishedImports() == 2; }, std::chrono::seconds(30)));
    GuiTest::pump(std::chrono::milliseconds(500));  // writes and announcements on their way
    EXPECT_FALSE(package(kPaid)->isPaidThroughCydia.value_or(false));
    EXPECT_FALSE(VostrellePersistentPreferences::sharedInstance().boolForKey(VostrellePreferenceKey::CydiaStoreIsSignedIn));
    EXPECT_FALSE(page->isSignedIn());
    EXPECT_EQ(page->headerView()->button()->text(), "Login");
    cydia.purchaseListReplies.stop();
}

}  // namespace
