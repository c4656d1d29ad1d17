// Forms, sheets and texts as a user meets them, walked from the launch with
// the mouse and keyboard against a flat repository on loopback and the
// shared fake maker server:
//   - the Add Source form: its Refresh acts only on a configured source and
//     the maintainer's buttons wait for one; the page it turns into reads
//     its last regeneration right after the refresh; its plain-http warning,
//     cancelled, stays so when the sheet closes by Esc, Ctrl+W or Close;
//   - the account page's header: the account, else its placeholders, and
//     the avatar it was given; the login sheet closed by Esc or a click
//     beside it refreshes it, also when the sign-in it started lands later;
//   - Featured's device line copies the device's model and identifier;
//   - a wishlist row of a package no source carries names no source;
//   - the end of a drag on a package's page fades the bar's texts.
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QTest>
#include <filesystem>

#include "App/LaunchFixture.h"
#include "Browsing/FeaturedViewController.h"
#include "Browsing/ManageViewController.h"
#include "Browsing/PackagesWishlistViewController.h"
#include "Browsing/SourceViewController.h"
#include "Database/ZMRSource.h"
#include "Details/DetailsFixture.h"
#include "Details/PackageDetailsViewController.h"
#include "Miscellaneous/ZMPlatform.h"
#include "Online/Screens/AccountPlistViewController.h"
#include "Online/Screens/LoginViewController.h"
#include "PackageCell.h"
#include "SettingsPlistViewController.h"
#include "Shell/ShellTestSupport.h"
#include "Support/FlatRepository.h"
#include "UIKit/UIAlertController.h"
#include "UIKit/UIScrollView.h"

namespace {

using namespace UserGesture;

class FormsRoad : public Launch::Fixture {
protected:
    TestSupport::TempDir files;
    std::unique_ptr<FlatRepository::FileServer> server;

    // "repo/" on a loopback server: one package, "Dock Lens".
    std::string repository() {
        if (!server) {
            std::filesystem::create_directories(files.path() + "/repo");
            FlatRepository::writeIndexesForText(files.path() + "/repo",
                                                "Package: com.jane.docklens\nName: Dock Lens\nVersion: 1.0\nSection: Tweaks\n"
                                                "Maintainer: Jane Doe <jane@example.org>\nArchitecture: all\n"
                                                "Description: A lens for the dock.\n\n",
                                                "Jane's Repo");
            // A Release without a Date, like a component's list of Debian
            // (dists/<suite>/main/binary-<arch>/): its file says when it was made.
            const std::string release = files.file("repo/Release");
            std::string text = TestSupport::readFile(release);
            const size_t date = text.find("Date: ");
            text.erase(date, text.find('\n', date) + 1 - date);
            TestSupport::writeFile(release, text);
            server = std::make_unique<FlatRepository::FileServer>(files.path());
        }
        return server->url("repo/");
    }
    static bool popupShown() { return dynamic_cast<ErrorViewController*>(top()) != nullptr; }

    // Started with the repository's "vostrelle://add" link, its warning
    // answered "Continue", its refresh done.
    void startWithTheRepository() {
        start({QString::fromStdString("vostrelle://add/" + repository())});
        ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource("com.jane.docklens", repository()));
    }
    static QString header(AccountPlistViewController* account) {
        return account->accountNameLabel()->text() + " / " + account->accountEmailLabel()->text();
    }
    // The Manage tab, once it is on screen (nullptr if it is no Manage screen).
    static ManageViewController* openManage() {
        auto* nav = selectTab(ZMVostrelle::ManageTab);
        auto* manage = qobject_cast<ManageViewController*>(nav->viewControllers().front());
        if (manage && !GuiTest::waitUntil([&] { return manage->isOnScreen(); })) return nullptr;
        return manage;
    }
    static LoginViewController* loginSheet() {
        LoginViewController* login = nullptr;
        GuiTest::waitUntil([&] { return (login = dynamic_cast<LoginViewController*>(top())) != nullptr && login->isOnScreen(); });
        return login;
    }
};

TEST_F(FormsRoad, TheAddSourceFormRefreshesOnlyAConfiguredSourceAndShowsItsButtonsAndRegenerationOnceItIsOne) {
    const std::string location = repository();
    start();
    auto* manage = openManage();
    ASSERT_NE(manage, nullptr);
    tapBarButton(manage, "Add");
    auto* formNav = dynamic_cast<UINavigationController*>(top());
    ASSERT_NE(formNav, nullptr);
    QPointer<SourceViewController> form = qobject_cast<SourceViewController*>(formNav->topViewController());
    ASSERT_NE(form, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return form->isOnScreen(); }));

    // Typed, and the plain-http warning answered "Cancel": an address, no source.
    type(form->sourceUrlTextField, QString::fromStdString(location));
    auto* warning = waitForPopup();
    ASSERT_NE(warning, nullptr);
    click(warning->closeBtn());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return top() == formNav; }));
    EXPECT_EQ(form->sourceLocation(), location);
    for (QPushButton* button : {form->donateBtn, form->twitterButton, form->emailButton})
        EXPECT_FALSE(button->isVisible()) << button->text().toStdString() << " of a source that does not exist";

    // Its Refresh does nothing of the kind: no refresh, no "unexpected error".
    // (The bar draws its buttons anew as they change: ask for it each time.)
    auto refresh = [&] { return barButton(form, "Refresh"); };
    ASSERT_NE(refresh(), nullptr);
    if (refresh()->isEnabled()) click(refresh());
    GuiTest::pump(std::chrono::milliseconds(1500));
    EXPECT_FALSE(popupShown()) << dynamic_cast<ErrorViewController*>(top())->messageLbl()->text().toStdString();
    EXPECT_EQ(server->count("repo/Release"), 0u);
    EXPECT_FALSE(refresh()->isEnabled()) << "a Refresh that cannot act";

    // Added after all ("Continue"): the source's page, its buttons, its Refresh.
    form->sourceUrlTextField->setFocus();
    QTest::keyClick(form->sourceUrlTextField, Qt::Key_Return);
    warning = waitForPopup();
    ASSERT_NE(warning, nullptr);
    click(warning->otherBtn());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return form && form->sourceNameLbl->text() == "Jane's Repo"; }, std::chrono::seconds(60)));
    GuiTest::waitUntil([] { return ZMPipelineManager::sharedManager().liveTaskCount() == 0; }, std::chrono::seconds(30));
    for (QPushButton* button : {form->donateBtn, form->twitterButton, form->emailButton})
        EXPECT_TRUE(button->isVisible()) << button->text().toStdString();
    EXPECT_TRUE(refresh()->isEnabled());
    // Regenerated when its Release was written, moments ago; the timer keeps it so.
    GuiTest::pump(std::chrono::milliseconds(1200));
    EXPECT_TRUE(form->sourceLastRepoRegenLbl->text().endsWith("ago")) << form->sourceLastRepoRegenLbl->text().toStdString();
}

// The plain-http warning of the Add Source sheet, cancelled, stays
// cancelled: closing the sheet afterwards, by the keys or the mouse, asks
// nothing again and adds nothing; a later Continue adds.
TEST_F(FormsRoad, ThePlainHttpWarningCancelledInTheAddSourceSheetDoesNotComeBack) {
    const std::string location = repository();
    start();
    auto* manage = openManage();
    ASSERT_NE(manage, nullptr);
    auto openTheSheet = [&]() -> SourceViewController* {
        tapBarButton(manage, "Add");
        SourceViewController* form = nullptr;
        GuiTest::waitUntil([&] {
            auto* sheet = qobject_cast<UINavigationController*>(top());
            form = sheet ? qobject_cast<SourceViewController*>(sheet->topViewController()) : nullptr;
            return form && !sheet->isBeingPresented() && form->isOnScreen();
        });
        return form;
    };
    auto pressKey = [](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) { press(app().window(), key, modifiers); };
    const std::pair<const char*, std::function<void(SourceViewController*, ErrorViewController*)>> ways[] = {
        {"Esc, Esc", [&](SourceViewController*, ErrorViewController*) { pressKey(Qt::Key_Escape); pressKey(Qt::Key_Escape); }},
        {"Esc, Ctrl+W", [&](SourceViewController*, ErrorViewController*) { pressKey(Qt::Key_Escape); pressKey(Qt::Key_W, Qt::ControlModifier); }},
        {"Cancel, Close",
         [&](SourceViewController* form, ErrorViewController* warning) {
             click(warning->closeBtn());
             GuiTest::waitUntil([&] { return popupsShown().empty(); });
             tapBarButton(form, "Close");
         }},
    };
    for (const auto& [how, cancelAndClose] : ways) {
        SCOPED_TRACE(how);
        QPointer<SourceViewController> form = openTheSheet();
        ASSERT_NE(form, nullptr);
        click(form->sourceUrlTextField);
        pressKey(Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(QApplication::focusWidget(), QString::fromStdString(location));
        pressKey(Qt::Key_Return);
        ASSERT_TRUE(GuiTest::waitUntil([] { return popupsShown().size() == 1; }));
        ErrorViewController* warning = popupsShown().front();
        ASSERT_EQ(warning->titleLbl()->text(), "Warning");
        cancelAndClose(form, warning);
        ASSERT_TRUE(backAtTheWindow());
        GuiTest::pump(std::chrono::milliseconds(500));
        EXPECT_TRUE(popupsShown().empty()) << "the warning came back over Manage";
        // Whatever is up is answered as the user would get out: Cancel, until nothing is left.
        for (int i = 0; i < 3 && !popupsShown().empty(); ++i) {
            click(popupsShown().front()->closeBtn());
            GuiTest::pump(std::chrono::milliseconds(300));
        }
        EXPECT_TRUE(popupsShown().empty()) << "Cancel does not close the warning";
        EXPECT_FALSE(ZMRSource::objectForPrimaryKey(location).has_value()) << "the cancelled source was added";
        if (!popupsShown().empty()) return;  // trapped: the next way cannot start
    }

    // Continue adds.
    QPointer<SourceViewController> form = openTheSheet();
    ASSERT_NE(form, nullptr);
    type(form->sourceUrlTextField, QString::fromStdString(location));
    ASSERT_TRUE(GuiTest::waitUntil([] { return popupsShown().size() == 1; }));
    click(popupsShown().front()->otherBtn());
    EXPECT_TRUE(GuiTest::waitUntil([&] { return ZMRSource::objectForPrimaryKey(location).has_value(); }));
    GuiTest::waitUntil([] { return ZMPipelineManager::sharedManager().liveTaskCount() == 0; }, std::chrono::seconds(30));
}

TEST_F(FormsRoad, TheAccountHeaderShowsTheAccountOrItsPlaceholdersAndKeepsTheAvatarItWasGiven) {
    QImage avatar(64, 64, QImage::Format_RGB32);
    avatar.fill(QColor("#ff2d55"));
    std::filesystem::create_directories(files.path() + "/people");
    avatar.save(QString::fromStdString(files.file("people/ada.png")));
    repository();
    maker->addAccount({"ada", "secret", 12, "ada@example.com", server->url("people/ada.png")});
    start();
    auto* account = accountPage();
    ASSERT_NE(account, nullptr);
    EXPECT_EQ(header(account), "Account Name / Account Email");
    EXPECT_FALSE(account->showsAvatar());

    ASSERT_NO_FATAL_FAILURE(tapAccountRow(account, "signInOut"));
    auto* login = loginSheet();
    ASSERT_NE(login, nullptr);
    type(login->userNameTextField(), "ada", false);
    type(login->passwordTextField(), "secret", false);
    click(login->loginBtn());
    ASSERT_TRUE(backAtTheWindow());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return header(account) == "ada / ada@example.com" && account->showsAvatar(); }))
        << header(account).toStdString();

    // Signed out: the placeholders, and the avatar until the page is made again.
    ASSERT_NO_FATAL_FAILURE(tapAccountRow(account, "signInOut"));
    EXPECT_EQ(header(account), "Account Name / Account Email");
    EXPECT_TRUE(account->showsAvatar());
    EXPECT_EQ(account->signInOutButtonTitle(), "Sign In");
    account = accountPage();
    ASSERT_NE(account, nullptr);
    EXPECT_FALSE(account->showsAvatar());
}

TEST_F(FormsRoad, TheLoginSheetClosedByEscOrAClickBesideItRefreshesTheAccountPage) {
    maker->addAccount({"ada", "secret", 12, "ada@example.com"});
    start();
    auto* account = accountPage();
    ASSERT_NE(account, nullptr);
    const std::pair<const char*, std::function<void(LoginViewController*)>> closings[] = {
        {"Esc",
         [](LoginViewController* login) {
             QWidget* focused = QApplication::focusWidget();
             QTest::keyClick(focused && login->isAncestorOf(focused) ? focused : login, Qt::Key_Escape);
         }},
        {"a click beside it", [](LoginViewController* login) { QTest::mouseClick(login->parentWidget(), Qt::LeftButton, {}, QPoint(4, 4)); }},
    };
    for (const auto& [how, close] : closings) {
        SCOPED_TRACE(how);
        ASSERT_FALSE(ZMAccount::instance().isSignedIn());
        ASSERT_EQ(header(account), "Account Name / Account Email");
        // The sign-in is on its way when the user closes the sheet.
        maker->setBehaviour("login/login.php", {.hold = true});
        ASSERT_NO_FATAL_FAILURE(tapAccountRow(account, "signInOut"));
        QPointer<LoginViewController> login = loginSheet();
        ASSERT_NE(login, nullptr);
        type(login->userNameTextField(), "ada", false);
        type(login->passwordTextField(), "secret", false);
        click(login->loginBtn());
        ASSERT_TRUE(GuiTest::waitUntil([&] { return !maker->heldRequests("login/login.php").empty(); }));
        close(login);
        ASSERT_TRUE(backAtTheWindow());
        maker->clearBehaviour("login/login.php");
        ASSERT_TRUE(maker->releaseHeld("login/login.php"));
        ASSERT_TRUE(GuiTest::waitUntil([] { return ZMAccount::instance().isSignedIn(); }));
        EXPECT_TRUE(GuiTest::waitUntil([&] { return header(account) == "ada / ada@example.com"; })) << header(account).toStdString();
        ASSERT_NO_FATAL_FAILURE(tapAccountRow(account, "signInOut"));  // out again, for the next way
    }
}

TEST_F(FormsRoad, FeaturedsDeviceLineCopiesTheDevicesModelAndIdentifier) {
    start();
    auto* nav = selectTab(ZMVostrelle::FeaturedTab);
    auto* featured = qobject_cast<FeaturedViewController*>(nav->topViewController());
    ASSERT_NE(featured, nullptr);
    featured->scrollView()->ensureWidgetVisible(featured->deviceSpecs());
    QGuiApplication::clipboard()->clear();
    // A press held on the line.
    QTest::mousePress(featured->deviceSpecs(), Qt::LeftButton, {}, featured->deviceSpecs()->rect().center());
    UIAlertController* sheet = nullptr;
    EXPECT_TRUE(GuiTest::waitUntil([&] { return (sheet = dynamic_cast<UIAlertController*>(top())) != nullptr; }));
    QTest::mouseRelease(featured->deviceSpecs(), Qt::LeftButton, {}, featured->deviceSpecs()->rect().center());
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->alertTitle(), "Copy Device Details");
    ASSERT_FALSE(sheet->actions().empty());
    click(sheet->buttonForAction(0));  // "Device Model"
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), ZMPlatform::deviceModelID());
}

TEST_F(FormsRoad, AWishlistRowOfAPackageNoSourceCarriesNamesNoSource) {
    // Installed on this system, in no source: dpkg alone knows it.
    TestSupport::writeFile(targetRoot() + "/var/lib/dpkg/status",
                           "Package: com.local.tool\nStatus: install ok installed\nVersion: 2.0\nArchitecture: all\n"
                           "Maintainer: Local Admin <admin@example.org>\nSection: Utilities\nName: Local Tool\n"
                           "Description: A tool installed by hand.\n\n");
    start();
    ASSERT_TRUE(GuiTest::waitUntil([] { return package("com.local.tool").has_value(); }, std::chrono::seconds(20)));

    // Settings: the source's name instead of the maintainer.
    auto* account = accountPage();
    ASSERT_NE(account, nullptr);
    ASSERT_NO_FATAL_FAILURE(tapAccountRow(account, "openSettings"));
    auto* settings = qobject_cast<SettingsPlistViewController*>(account->navigationController()->topViewController());
    ASSERT_NE(settings, nullptr);
    const auto sourceName = settings->indexPathForKey("ReplacePackageMaintainerWithSourceName");
    ASSERT_TRUE(sourceName);
    settings->tableView()->scrollToRow(*sourceName, UITableView::ScrollPosition::Middle, false);
    GuiTest::pump();
    auto* cell = settings->tableView()->cellForRow(*sourceName);
    ASSERT_NE(cell, nullptr);
    click(cell->findChild<QCheckBox*>("toggle"));
    ASSERT_TRUE(VostrellePersistentPreferences::sharedInstance().boolForKey(VostrellePreferenceKey::ReplacePackageMaintainerWithSourceName));

    // Manage → Installed → its page → the heart.
    auto* nav = selectTab(ZMVostrelle::ManageTab);
    auto* manage = qobject_cast<ManageViewController*>(nav->viewControllers().front());
    ASSERT_NE(manage, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return manage->isOnScreen() && manage->installedPackagesTableView()->numberOfRows(0) == 1; }));
    tapRow(manage->installedPackagesTableView(), {0, 0});
    auto* page = qobject_cast<PackageDetailsViewController*>(nav->topViewController());
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->isOnScreen(); }));
    tapBarButton(page, "Add to Wishlist");
    ASSERT_TRUE(GuiTest::waitUntil([] { return package("com.local.tool")->isInWishlist.value_or(false); }));

    account = accountPage();
    ASSERT_NE(account, nullptr);
    ASSERT_NO_FATAL_FAILURE(tapAccountRow(account, "openWishlist"));
    auto* wishlist = qobject_cast<PackagesWishlistViewController*>(account->navigationController()->topViewController());
    ASSERT_NE(wishlist, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return wishlist->isOnScreen() && wishlist->wishlistTableView()->numberOfRows(0) == 1; }));
    auto* row = qobject_cast<PackageCell*>(wishlist->wishlistTableView()->cellForRow({0, 0}));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->nameLbl()->text(), "Local Tool");
    EXPECT_EQ(row->subinfoLbl()->text(), "") << "no source record names it";
}

TEST_F(FormsRoad, TheEndOfADragOnAPackagesPageFadesTheBarsTexts) {
    startWithTheRepository();
    auto* page = DetailsFixture::openFromAllPackages(app(), "com.jane.docklens");
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->isOnScreen(); }));
    UINavigationBar* bar = page->navigationController()->navigationBar();
    UIView::setAnimationsEnabled(true);
    // A turn of the wheel over the page, then the wheel rests: the drag ends.
    QWidget* viewport = page->scrollView()->viewport();
    const QPointF at = viewport->rect().center();
    QWheelEvent turn(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &turn);
    QPointer<QLabel> fading;
    EXPECT_TRUE(GuiTest::waitUntil([&] { return (fading = bar->findChild<QLabel*>("fadeText")) != nullptr; }, std::chrono::seconds(2)))
        << "no fade of the bar's texts";
    EXPECT_TRUE(GuiTest::waitUntil([&] { return !fading; }, std::chrono::seconds(2))) << "the fade never ends";
    UIView::setAnimationsEnabled(false);
}

}  // namespace
