// Forms, sheets and texts as a user meets them, walked from the launch with
// the mouse and keyboard against a flat repository on loopback and the
// shared fake maker server:
//   - the Add Source form: its Refresh acts only on a configured source and
//     the maintainer's buttons wait for one; the page it turns into reads
//     its last regeneration right after the refresh;
//   - the login sheet closed by Esc or a click beside it still refreshes the
//     account page, also when the sign-in it started lands afterwards.
#include <QTest>
#include <filesystem>

#include "App/LaunchFixture.h"
#include "Browsing/ManageViewController.h"
#include "Browsing/SourceViewController.h"
#include "Support/FlatRepository.h"

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
};

TEST_F(FormsRoad, TheAddSourceFormRefreshesOnlyAConfiguredSourceAndShowsItsButtonsAndRegenerationOnceItIsOne) {
    const std::string location = repository();
    start();
    auto* nav = selectTab(ZMVostrelle::ManageTab);
    auto* manage = qobject_cast<ManageViewController*>(nav->viewControllers().front());
    ASSERT_NE(manage, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return manage->isOnScreen(); }));
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

}  // namespace
