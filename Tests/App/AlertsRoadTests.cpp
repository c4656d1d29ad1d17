// What the program says when something outside it fails, from the launch:
//   - sources whose refresh fails (an address that answers 404, one that
//     answers 500, an index that is not one, a port nobody listens on), added from the clipboard and refreshed again by F5: every
//     failure names its source and its reason, and no pile of popups is
//     left for the user to close one by one under each other;
//   - Contact Developer and the developer card's Email without a mail
//     program: an alert names the address; with one, the program gets the link.
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <filesystem>

#include "App/LaunchFixture.h"
#include "Browsing/ManageViewController.h"
#include "Database/ZMRSource.h"
#include "Details/ContactDeveloperViewController.h"
#include "Details/PackageDetailsViewController.h"
#include "Details/PackageDeveloperCard.h"
#include "Details/PackageReviewsSection.h"
#include "Miscellaneous/ZMError.h"
#include "UIKit/UIAlertController.h"
#include "UIKit/UICollectionView.h"
#include "UIKit/UIScrollView.h"

namespace {

using namespace UserGesture;

class AlertsRoad : public Launch::RepositoryFixture {
protected:
    static UIWindow* window() { return app().window(); }
    static QString text(ErrorViewController* popup) { return popup->titleLbl()->text() + "\n" + popup->messageLbl()->text(); }
    static PackageDetailsViewController* openFirstPackage() {
        auto* list = openAllPackages();
        if (!list) return nullptr;
        tapRow(list->packagesTableView(), {0, 0});
        return qobject_cast<PackageDetailsViewController*>(list->navigationController()->topViewController());
    }
};

// ---- refresh failures -------------------------------------------------------------------

using RefreshFailuresRoad = AlertsRoad;

TEST_F(RefreshFailuresRoad, EachFailingSourceIsNamedWithItsReasonAndOneKeyLeavesNoPile) {
    serveRepository("<html><body>Moved to a new server</body></html>\n", "Garbled Repo", "garbled");
    server->route("broken/", [](const httplib::Request&, httplib::Response& response) {
        response.status = 500;
        response.set_content("down for maintenance", "text/plain");
    });
    struct Failing {
        std::string location;
        QString reason;
    };
    const std::vector<Failing> failing = {
        {server->url("missing/"), "HTTP status 404"},
        {server->url("broken/"), "HTTP status 500"},
        {server->url("garbled/"), QString::fromStdString(ZMError::make(ZMError::InvalidServerData).localizedDescription())},
        {"http://127.0.0.1:1/repo/", "refused the connection"},
    };
    start();

    // The four addresses copied, and added from the Manage tab's Add.
    std::string copied;
    for (const auto& f : failing) copied += f.location + "\n";
    QGuiApplication::clipboard()->setText(QString::fromStdString(copied));
    auto* manageNav = selectTab(ZMVostrelle::ManageTab);
    auto* manage = qobject_cast<ManageViewController*>(manageNav->topViewController());
    ASSERT_NE(manage, nullptr);
    tapBarButton(manage, "Add");
    UIAlertController* detected = nullptr;
    ASSERT_TRUE(GuiTest::waitUntil([&] { return (detected = qobject_cast<UIAlertController*>(top())) != nullptr; }));
    click(detected->buttonForAction(1));
    QGuiApplication::clipboard()->clear();

    auto allFailed = [&] {
        for (const auto& f : failing) {
            auto source = ZMRSource::objectForPrimaryKey(f.location);
            if (!source || !source->hasErrors.value_or(false)) return false;
        }
        return ZMPipelineManager::sharedManager().liveTaskCount() == 0;
    };
    // Every failure named with its reason; Esc closes what is shown, one key a popup, until none is left.
    auto readAndClose = [&](const char* when) {
        GuiTest::pump(std::chrono::milliseconds(500));
        const auto shown = popupsShown();
        ASSERT_FALSE(shown.empty()) << when;
        for (const auto& f : failing) {
            bool named = false;
            for (auto* popup : shown)
                named = named || (text(popup).contains(QString::fromStdString(f.location)) && text(popup).contains(f.reason));
            EXPECT_TRUE(named) << when << ": nothing says that " << f.location << " failed with " << f.reason.toStdString();
        }
        for (auto* popup : shown)
            for (const auto& f : failing)
                EXPECT_LE(text(popup).count(QString::fromStdString(f.location)), 1) << when << ": " << f.location << " told twice";
        screenshot("refresh-failures.png");
        for (size_t i = 0; i < shown.size() && !popupsShown().empty(); ++i) press(window(), Qt::Key_Escape);
        EXPECT_TRUE(popupsShown().empty()) << when << ": " << popupsShown().size() << " popups left after " << shown.size()
                                      << " presses of Esc";
        EXPECT_TRUE(backAtTheWindow());
    };
    auto states = [&] {
        std::string out;
        for (const auto& f : failing) {
            auto source = ZMRSource::objectForPrimaryKey(f.location);
            out += "\n" + f.location + (!source ? " not added" : source->hasErrors.value_or(false) ? " failed" : " not failed");
        }
        return out + "\n" + std::to_string(ZMPipelineManager::sharedManager().liveTaskCount()) + " tasks";
    };
    ASSERT_TRUE(GuiTest::waitUntil(allFailed, std::chrono::seconds(60))) << states();
    readAndClose("after adding them");

    // F5 refreshes them all again: the same, once each.
    const size_t asked = server->requests().size();
    press(window(), Qt::Key_F5);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return server->requests().size() > asked; }, std::chrono::seconds(30)));
    ASSERT_TRUE(GuiTest::waitUntil(allFailed, std::chrono::seconds(60))) << states();
    readAndClose("after F5");
}

// ---- mail links ------------------------------------------------------------------------------

class MailLinkRoad : public AlertsRoad {
protected:
    TestSupport::TempDir bin;

    // The desktop's opener on the PATH: it records each address handed to it
    // and answers as xdg-open does without (3) or with (0) a mail program.
    void desktopOpener(bool hasMailProgram) {
        const std::string script = bin.file("xdg-open");
        TestSupport::writeFile(script, "#!/bin/sh\necho \"$1\" >> '" + log() + "'\n" +
                                           (hasMailProgram ? std::string("exit 0\n")
                                                           : "echo \"xdg-open: no method available for opening '$1'\" >&2\nexit 3\n"));
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    }
    std::string log() const { return bin.file("opened.log"); }
    QStringList opened() const {
        QFile f(QString::fromStdString(log()));
        if (!f.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }
};

TEST_F(MailLinkRoad, WithoutAMailProgramAnAlertNamesTheAddress) {
    serveRepository(Launch::stanza("org.mail.lens", "Mail Lens", "Jane Doe <jane@example.com>"), "Mail Repo");
    desktopOpener(false);
    setVariable("PATH", bin.path() + ":" + std::getenv("PATH"));
    start(addLink());
    ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource("org.mail.lens"));
    auto* page = openFirstPackage();
    ASSERT_NE(page, nullptr);
    auto* nav = page->navigationController();

    // The page's Contact Developer, then the developer card's Email row.
    struct Entry {
        const char* what;
        std::function<void()> tap;
    } entries[] = {
        {"Contact Developer", [&] { click(page->reviewsSection()->contactDeveloperBtn()); }},
        {"the card's Email",
         [&] {
             page->scrollView()->ensureWidgetVisible(page->developerCard());
             click(page->developerCard()->authorCollectionView()->cellForItem(0));
             auto* card = qobject_cast<ContactDeveloperViewController*>(nav->topViewController());
             ASSERT_NE(card, nullptr);
             tapRow(card->contactTableView(), {0, 1});
         }},
    };
    for (const auto& entry : entries) {
        const int before = opened().size();
        entry.tap();
        auto* alert = waitForPopup();
        ASSERT_NE(alert, nullptr) << entry.what << ": nothing visible says the mail could not be written";
        EXPECT_TRUE(text(alert).contains("jane@example.com")) << text(alert).toStdString();
        ASSERT_EQ(opened().size(), before + 1) << entry.what << ": the desktop was asked once";
        EXPECT_TRUE(opened().back().startsWith("mailto:jane@example.com")) << opened().back().toStdString();
        if (std::string(entry.what) == "Contact Developer") screenshot("mail-without-a-mail-program.png");
        press(window(), Qt::Key_Return);
        EXPECT_TRUE(backAtTheWindow());
    }

    // With a mail program the address goes to it, and nothing more is said.
    desktopOpener(true);
    const int before = opened().size();
    tapRow(qobject_cast<ContactDeveloperViewController*>(nav->topViewController())->contactTableView(), {0, 1});
    ASSERT_TRUE(GuiTest::waitUntil([&] { return opened().size() == before + 1; }));
    GuiTest::pump(std::chrono::milliseconds(500));
    EXPECT_TRUE(popupsShown().empty()) << text(popupsShown().front()).toStdString();
}

}  // namespace
