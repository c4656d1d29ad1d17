// The source page and the add-a-source form.
#include <gtest/gtest.h>
#include "VostrelleBuildPaths.h"

#include <QDir>
#include <QTest>

#include "Browsing/BrowsingFixture.h"
#include "Browsing/SourceViewController.h"
#include "Categories/String+ZemtrixExtensions.h"
#include "ErrorViewController.h"
#include "Keychain/PDKeychainBindings.h"
#include "UIKit/UIApplication.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIWindow.h"
#include "WebViewViewController.h"

namespace {

class SourcePageTest : public BrowsingFixture::Database {
protected:
    std::unique_ptr<UIWindow> window;
    SourceViewController* page = nullptr;
    UINavigationController* nav = nullptr;

    void SetUp() override {
        Database::SetUp();
        PDKeychainBindings::resetForTesting();
        storeSources({"https://alpha.example/"});
    }
    void TearDown() override {
        window.reset();
        UIApplication::setURLOpener(nullptr);
        Database::TearDown();
    }
    void show(const std::string& location) {
        page = new SourceViewController;
        page->setSourceLocation(location);
        nav = new UINavigationController(page);
        window = std::make_unique<UIWindow>();
        window->resize(420, 800);
        window->setRootViewController(nav);
        window->show();
        ASSERT_TRUE(GuiTest::waitUntil([&] { return page->isOnScreen(); }));
        GuiTest::pump();
    }
    void edit(const QString& text) {
        page->sourceUrlTextField->setText(text);
        page->editingDidEnd();
        GuiTest::pump();
    }
    ErrorViewController* popup() const { return dynamic_cast<ErrorViewController*>(window->topPresentedViewController()); }
    void closePopup() {
        if (auto* p = popup()) p->closeBtn()->click();
        GuiTest::waitUntil([&] { return popup() == nullptr; });
    }
    static std::optional<ZMRSource> source(const std::string& l) { return ZMRSource::objectForPrimaryKey(l); }
};

TEST_F(SourcePageTest, SwitchesAreStoredAndTheUntouchedFormWritesNothing) {
    show("https://alpha.example/");
    EXPECT_EQ(page->sourceNameLbl->text(), "Source https://alpha.example/");
    EXPECT_FALSE(page->followThisRepositorySwitch->isChecked());
    page->followThisRepositorySwitch->click();
    page->seeOriginalDepictionsSwitch->click();
    EXPECT_TRUE(source("https://alpha.example/")->isFollowed.value_or(false));
    EXPECT_TRUE(source("https://alpha.example/")->seeOriginalDepictions.value_or(false));
    page->followThisRepositorySwitch->click();
    EXPECT_FALSE(source("https://alpha.example/")->isFollowed.value_or(true));
    window.reset();

    show("");
    EXPECT_EQ(page->sourceNameLbl->text(), "New Source");
    EXPECT_EQ(page->sourceUrlTextField->text(), "https://");
    EXPECT_EQ(page->sourceDescriptionLbl->text(), "Please input the valid source URL above to add the source.");
    page->followThisRepositorySwitch->click();
    page->seeOriginalDepictionsSwitch->click();
    EXPECT_EQ(ZMRSource::allObjects().count(), 1u);
    EXPECT_FALSE(source("https://alpha.example/")->isFollowed.value_or(false));
    EXPECT_TRUE(source("https://alpha.example/")->seeOriginalDepictions.value_or(false));
}

// The switches show what is stored when the page appears, also after the
// record changed while another page covered it.
TEST_F(SourcePageTest, SwitchesShowTheStoredValueEveryTimeThePageAppears) {
    auto store = [](bool original, bool followed) {
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] {
            auto s = realm->objectForPrimaryKey<ZMRSource>("https://alpha.example/");
            realm->setValueForKey(*s, "seeOriginalDepictions", original);
            realm->setValueForKey(*s, "isFollowed", followed);
        });
    };
    const std::pair<bool, bool> cases[] = {{true, false}, {false, true}, {true, true}, {false, false}};
    store(true, true);
    show("https://alpha.example/");
    EXPECT_TRUE(page->seeOriginalDepictionsSwitch->isChecked());
    EXPECT_TRUE(page->followThisRepositorySwitch->isChecked());
    for (const auto& [original, followed] : cases) {
        nav->pushViewController(new UIViewController, false);
        GuiTest::pump();
        store(original, followed);
        nav->popViewController(false);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return page->isOnScreen(); }));
        EXPECT_EQ(page->seeOriginalDepictionsSwitch->isChecked(), original) << original << followed;
        EXPECT_EQ(page->followThisRepositorySwitch->isChecked(), followed) << original << followed;
    }
}

TEST_F(SourcePageTest, AddFormTrimsAndNormalisesOnceAndSaysWhyWhenRefused) {
    show("");
    // Spaces around, no trailing "/", the original-depictions switch on.
    page->seeOriginalDepictionsSwitch->setChecked(true);
    edit("   https://new.example/repo \n");
    EXPECT_EQ(page->sourceUrlTextField->text(), "https://new.example/repo/");
    EXPECT_EQ(page->sourceLocation(), "https://new.example/repo/");
    ASSERT_TRUE(GuiTest::waitUntil([] { return ZMRSource::objectForPrimaryKey("https://new.example/repo/").has_value(); }));
    EXPECT_TRUE(source("https://new.example/repo/")->seeOriginalDepictions.value_or(false));
    EXPECT_FALSE(source("https://new.example/repo/")->isFollowed.value_or(false));
    EXPECT_EQ(popup(), nullptr);

    // The same repository under the other scheme and without "/": recognised, not added, and said.
    edit("HTTP://alpha.example");
    ASSERT_NE(popup(), nullptr);
    EXPECT_EQ(popup()->titleLbl()->text(), "Cannot Add Source");
    EXPECT_TRUE(popup()->messageLbl()->text().contains("already one of your sources")) << popup()->messageLbl()->text().toStdString();
    EXPECT_EQ(page->sourceLocation(), "https://alpha.example/");  // the page turns to the configured source
    closePopup();
    EXPECT_FALSE(source("http://alpha.example/").has_value());

    edit("ftp://files.example/");
    ASSERT_NE(popup(), nullptr);
    EXPECT_EQ(popup()->messageLbl()->text(), "Only https:// and http:// sources can be added.");
    closePopup();

    // The untouched form is not an attempt: no popup, nothing added.
    const size_t before = ZMRSource::allObjects().count();
    for (const char* nothing : {"https://", "http://", "   "}) {
        edit(nothing);
        EXPECT_EQ(popup(), nullptr) << nothing;
    }
    GuiTest::pump(std::chrono::milliseconds(100));
    EXPECT_EQ(ZMRSource::allObjects().count(), before);
}

TEST_F(SourcePageTest, PlainHttpAsksAtEveryEndOfTheEditUntilContinueAddsWithoutOriginalDepictions) {
    show("");
    page->seeOriginalDepictionsSwitch->setChecked(true);
    // Typed and ended with Return: one warning, though it takes the focus from the field.
    page->sourceUrlTextField->setFocus();
    page->sourceUrlTextField->clear();
    QTest::keyClicks(page->sourceUrlTextField, "http://plain.example/debs");
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt);
        QTest::keyClick(page->sourceUrlTextField, Qt::Key_Return);
        GuiTest::pump();
        ASSERT_NE(popup(), nullptr);
        EXPECT_EQ(popup()->titleLbl()->text(), "Warning");
        EXPECT_EQ(popup()->messageLbl()->text(),
                  "You are trying to add a source with http:// instead of default https://.\nAs it is less secure, are you "
                  "sure you want to add it?");
        if (attempt == 1) break;
        closePopup();  // "Cancel": the same text, ended again, asks again
        EXPECT_EQ(popup(), nullptr);
        GuiTest::pump(std::chrono::milliseconds(100));
        EXPECT_FALSE(source("http://plain.example/debs/").has_value());
    }
    popup()->otherBtn()->click();
    ASSERT_TRUE(GuiTest::waitUntil([] { return ZMRSource::objectForPrimaryKey("http://plain.example/debs/").has_value(); }));
    EXPECT_FALSE(source("http://plain.example/debs/")->seeOriginalDepictions.value_or(false));
}

TEST_F(SourcePageTest, PageShowsErrorsStatusStoreRowAndRegenerationThatMovesOnlyOnScreen) {
    realm->transactionWithBlock([&] {
        auto s = *realm->objectForPrimaryKey<ZMRSource>("https://alpha.example/");
        s.hasErrors = true;
        s.name = "";
        s.category = "Default";
        s.endpoint = "https://alpha.example/payments/";
        s.regenDate = ZemtrixExtensions::iso8601String(std::chrono::system_clock::now() - std::chrono::minutes(5));
        s.totalPackages = "42";
        realm->addOrUpdate(s);
    });
    show("https://alpha.example/");
    EXPECT_EQ(page->sourceNameLbl->text(), "Invalid Source");
    EXPECT_EQ(page->sourceNameLbl->palette().color(QPalette::WindowText), QColor(255, 59, 48));
    EXPECT_TRUE(page->sourceDescriptionLbl->text().startsWith("There were errors while trying to refresh this source."));
    EXPECT_EQ(page->topSourceStatusLbl->text(), "DEFAULT REPOSITORY");
    EXPECT_EQ(page->sourceStatusLbl->text(), "Default Repository");
    EXPECT_TRUE(page->verifiedIcon->isVisible());
    EXPECT_EQ(page->sourceNumberOfPackagesLbl->text(), "42");
    EXPECT_EQ(page->sourceLastRepoRegenLbl->text(), "5 minutes ago");
    QDir().mkpath(VOSTRELLE_SCREENSHOT_DIR);
    ASSERT_TRUE(window->grab().toImage().save(VOSTRELLE_SCREENSHOT_DIR "/browse-source-page.png"));
    EXPECT_TRUE(page->repoStoreContainer->isVisible());
    EXPECT_EQ(page->repoStoreLogInOutButton->text(), "Login");
    EXPECT_FALSE(page->repoStorePurchasedButton->isEnabled());
    // Signed in takes a token and a payment secret.
    PDKeychainBindings::sharedKeychainBindings().setString("token", "https://alpha.example/_token");
    page->updateButtons();
    EXPECT_EQ(page->repoStoreLogInOutButton->text(), "Login");
    PDKeychainBindings::sharedKeychainBindings().setString("secret", "https://alpha.example/_payment");
    page->updateButtons();
    EXPECT_EQ(page->repoStoreLogInOutButton->text(), "Logout");
    EXPECT_TRUE(page->repoStorePurchasedButton->isEnabled());

    EXPECT_TRUE(page->isTimerRunning());
    page->sourceLastRepoRegenLbl->setText("stale");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->sourceLastRepoRegenLbl->text() != "stale"; }, std::chrono::seconds(3)));
    // Another screen on top: the page is gone from view and its timer stops.
    nav->pushViewController(new SourceViewController, false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !page->isOnScreen(); }));
    EXPECT_FALSE(page->isTimerRunning());
    nav->popViewController(false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->isTimerRunning(); }));
}

TEST_F(SourcePageTest, OnlyEncodedWebAndMailLinksLeaveThePage) {
    EXPECT_EQ(SourceViewController::mailtoURL("Jane Doe <jane@example.org>", "Regarding Vostrelle source").toString(QUrl::FullyEncoded),
              "mailto:jane@example.org?subject=Regarding%20Vostrelle%20source");
    // A contact cannot add recipients, headers or a body.
    const QUrl hostile = SourceViewController::mailtoURL("a@b.example?cc=evil@x.example&body=hi", "S");
    EXPECT_EQ(hostile.toString(QUrl::FullyEncoded), "mailto:a@b.example%3Fcc%3Devil@x.example%26body%3Dhi?subject=S");
    EXPECT_TRUE(SourceViewController::mailtoURL("no address here", "S").isEmpty());
    EXPECT_FALSE(SourceViewController::twitterProfileURL("javascript:alert(1)").has_value());
    EXPECT_FALSE(SourceViewController::twitterProfileURL("file:///etc/passwd").has_value());
    EXPECT_EQ(SourceViewController::twitterProfileURL(" https://twitter.com/vostrelle ")->toString(), "https://twitter.com/vostrelle");

    realm->transactionWithBlock([&] {
        auto s = *realm->objectForPrimaryKey<ZMRSource>("https://alpha.example/");
        s.name = "Alpha";
        s.contact = "Jane <jane@alpha.example>";
        s.twitterLink = "https://twitter.com/alpha_repo";
        realm->addOrUpdate(s);
    });
    std::vector<QUrl> opened;
    UIApplication::setURLOpener([&](const QUrl& u) {
        opened.push_back(u);
        return true;
    });
    show("https://alpha.example/");
    page->contactEmail();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toString(QUrl::FullyEncoded), "mailto:jane@alpha.example?subject=Regarding%20Vostrelle%20source");

    page->goToTwitter();
    GuiTest::pump();
    auto* web = dynamic_cast<WebViewViewController*>(nav->topViewController());
    ASSERT_NE(web, nullptr);
    EXPECT_EQ(web->websiteURL(), QUrl("https://twitter.com/alpha_repo"));
    EXPECT_EQ(web->title(), "Alpha's Twitter");
    nav->popViewController(false);
    GuiTest::pump();

    // Not a web page: treated as no link.
    for (const char* donateLink : {"javascript:steal()", "ftp://alpha.example/donate"}) {
        SCOPED_TRACE(donateLink);
        realm->transactionWithBlock([&] {
            auto s = *realm->objectForPrimaryKey<ZMRSource>("https://alpha.example/");
            s.donateLink = donateLink;
            realm->addOrUpdate(s);
        });
        show("https://alpha.example/");
        page->donate();
        ASSERT_NE(popup(), nullptr);
        EXPECT_EQ(popup()->titleLbl()->text(), "No Donation Link");
        EXPECT_EQ(popup()->messageLbl()->text(), "Alpha maintainer hasn't provided a donation link");
        EXPECT_EQ(nav->topViewController(), page);
    }
}

}  // namespace
