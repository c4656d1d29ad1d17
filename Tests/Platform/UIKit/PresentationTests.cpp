#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>

#include "Support/Gui/GuiTestSupport.h"
#include "Support/TestSupport.h"
#include "UIKit/UIActivityViewController.h"
#include "UIKit/UIAlertController.h"
#include "UIKit/UIWindow.h"

namespace {

class Screen : public UIViewController {
public:
    std::vector<std::string> log;
    void viewWillAppear(bool) override { log.push_back("willAppear"); }
    void viewDidAppear(bool) override { log.push_back("didAppear"); }
    void viewWillDisappear(bool) override { log.push_back("willDisappear"); }
    void viewDidDisappear(bool) override { log.push_back("didDisappear"); }
};

class PresentationTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = new Screen;
        window.setRootViewController(root);
        window.resize(420, 760);
        window.show();
        root->log.clear();
    }
    UIWindow window;
    Screen* root = nullptr;
};

TEST_F(PresentationTest, FullScreenPresentationCoversThePresenterUntilDismissed) {
    QPointer<Screen> modal = new Screen;
    bool presented = false;
    root->presentViewController(modal, true, [&] { presented = true; });
    EXPECT_TRUE(modal->isBeingPresented());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return presented; }));
    EXPECT_EQ(root->presentedViewController(), modal);
    EXPECT_EQ(modal->presentingViewController(), root);
    EXPECT_EQ(modal->log, (std::vector<std::string>{"willAppear", "didAppear"}));
    EXPECT_EQ(root->log, (std::vector<std::string>{"willDisappear", "didDisappear"}));
    EXPECT_EQ(modal->geometry(), window.rect());
    EXPECT_EQ(window.topPresentedViewController(), modal);

    bool dismissed = false;
    modal->dismissViewController(true, [&] { dismissed = true; });
    EXPECT_TRUE(modal->isBeingDismissed());
    // While it goes, the top screen is the presenter again.
    EXPECT_EQ(window.topPresentedViewController(), root);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return dismissed; }));
    EXPECT_EQ(root->presentedViewController(), nullptr);
    EXPECT_EQ(root->log.back(), "didAppear");
    GuiTest::waitUntil([&] { return modal.isNull(); });
    EXPECT_TRUE(modal.isNull());
}

TEST_F(PresentationTest, OverFullScreenAndFormSheetLeaveThePresenterOnScreen) {
    auto* sheet = new Screen;
    sheet->setModalPresentationStyle(UIViewController::ModalPresentationStyle::FormSheet);
    root->presentViewController(sheet, false);
    EXPECT_TRUE(root->log.empty());
    EXPECT_TRUE(root->isOnScreen());
    EXPECT_LT(sheet->width(), window.width());
    EXPECT_EQ(sheet->geometry().center(), window.rect().center());

    // Presenting again from the root stacks on the sheet.
    auto* over = new Screen;
    over->setModalPresentationStyle(UIViewController::ModalPresentationStyle::OverFullScreen);
    root->presentViewController(over, false);
    EXPECT_EQ(sheet->presentedViewController(), over);
    EXPECT_EQ(window.topPresentedViewController(), over);

    // Dismissing from the root takes both away.
    bool done = false;
    root->dismissViewController(false, [&] { done = true; });
    EXPECT_TRUE(done);
    EXPECT_EQ(root->presentedViewController(), nullptr);
    EXPECT_EQ(window.topPresentedViewController(), root);
}

// A sheet hides what it covers; a presentation asked for while the sheet
// slides away follows once it is gone, with a presenter that can close it.
TEST_F(PresentationTest, ASheetHidesItsPresenterAndAPresentationWaitsForOneGoingAway) {
    QPalette red = root->palette();
    red.setColor(QPalette::Window, Qt::red);
    root->setPalette(red);
    root->setAutoFillBackground(true);
    auto* sheet = new Screen;
    sheet->setModalPresentationStyle(UIViewController::ModalPresentationStyle::FormSheet);
    root->presentViewController(sheet, false);
    GuiTest::pump();
    const QColor inside = window.grab().toImage().pixelColor(sheet->geometry().center());
    EXPECT_EQ(inside, window.palette().color(QPalette::Window)) << inside.name().toStdString();

    const bool animations = UIView::areAnimationsEnabled();
    UIView::setAnimationsEnabled(true);
    bool gone = false;
    root->dismissViewController(true, [&] { gone = true; });
    QPointer<Screen> alert = new Screen;
    alert->setModalPresentationStyle(UIViewController::ModalPresentationStyle::OverFullScreen);
    root->presentViewController(alert, false);
    EXPECT_EQ(alert->presentingViewController(), nullptr) << "not on the sheet going away";
    const bool followed = GuiTest::waitUntil([&] { return gone && root->presentedViewController() == alert; });
    UIView::setAnimationsEnabled(animations);
    ASSERT_TRUE(followed);
    EXPECT_EQ(alert->presentingViewController(), root);
    alert->dismissViewController(false);
    EXPECT_EQ(root->presentedViewController(), nullptr);
}

TEST_F(PresentationTest, AlertButtonsDismissThenRunTheirHandlers) {
    auto* alert = UIAlertController::alertControllerWithTitle("Delete?", "It cannot be undone.", UIAlertController::Style::Alert);
    std::vector<std::string> calls;
    QPointer<UIAlertController> guard(alert);
    alert->addAction("Cancel", UIAlertController::ActionStyle::Cancel, [&] { calls.push_back("cancel"); });
    alert->addAction("Delete", UIAlertController::ActionStyle::Destructive, [&] {
        calls.push_back(std::string("delete, presented: ") + (root->presentedViewController() ? "yes" : "no"));
    });
    root->presentViewController(alert, false);
    ASSERT_NE(alert->buttonForAction(1), nullptr);
    EXPECT_EQ(alert->buttonForAction(1)->text(), "Delete");
    // Cancel sits on the left of a two-button alert.
    EXPECT_LT(alert->buttonForAction(0)->mapTo(alert, QPoint()).x(), alert->buttonForAction(1)->mapTo(alert, QPoint()).x());
    QTest::mouseClick(alert->buttonForAction(1), Qt::LeftButton);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !calls.empty(); }));
    EXPECT_EQ(calls, (std::vector<std::string>{"delete, presented: no"}));
    // A second click on a button of the leaving alert does nothing.
    if (guard && guard->buttonForAction(0)) QTest::mouseClick(guard->buttonForAction(0), Qt::LeftButton);
    GuiTest::pump();
    EXPECT_EQ(calls.size(), 1u);
}

TEST_F(PresentationTest, AlertTextFieldsAreReadableFromTheHandler) {
    auto* alert = UIAlertController::alertControllerWithTitle("Add Source", "Enter the address", UIAlertController::Style::Alert);
    alert->addTextField([](QLineEdit* f) { f->setPlaceholderText("https://"); });
    QString typed;
    alert->addAction("Add", UIAlertController::ActionStyle::Default, [&typed, alert] { typed = alert->textFields()[0]->text(); });
    root->presentViewController(alert, false);
    ASSERT_EQ(alert->textFields().size(), 1u);
    QLineEdit* field = alert->textFields()[0];
    EXPECT_TRUE(field->isVisible());
    EXPECT_EQ(field->placeholderText(), "https://");
    QTest::keyClicks(field, "https://repo.example.org/");
    QTest::mouseClick(alert->buttonForAction(0), Qt::LeftButton);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !typed.isEmpty(); }));
    EXPECT_EQ(typed, "https://repo.example.org/");
}

TEST_F(PresentationTest, ActionSheetCancelsWithEscapeAndKeepsItsOrder) {
    auto* sheet = UIAlertController::alertControllerWithTitle("Sort", "How?", UIAlertController::Style::ActionSheet);
    std::string chosen;
    for (const char* t : {"Category", "Name", "Source"})
        sheet->addAction(t, UIAlertController::ActionStyle::Default, [&chosen, t] { chosen = t; });
    sheet->addAction("Cancel", UIAlertController::ActionStyle::Cancel, [&] { chosen = "cancel"; });
    root->presentViewController(sheet, false);
    // Buttons top to bottom in the order added, cancel last and apart.
    int lastY = -1;
    for (int i = 0; i < 4; ++i) {
        const int y = sheet->buttonForAction(i)->mapTo(sheet, QPoint()).y();
        EXPECT_GT(y, lastY);
        lastY = y;
    }
    EXPECT_GT(sheet->buttonForAction(0)->mapTo(sheet, QPoint()).y(), window.height() / 3);
    QTest::keyClick(sheet, Qt::Key_Escape);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !chosen.empty(); }));
    EXPECT_EQ(chosen, "cancel");
}

TEST_F(PresentationTest, ReturnPicksTheAlertsOneClearChoiceAndNothingElse) {
    using S = UIAlertController::ActionStyle;
    struct Case {
        const char* what;
        UIAlertController::Style style;
        std::vector<std::pair<const char*, S>> actions;
        int preferred;         // -1: none set
        std::string expected;  // "": Return does nothing
    } cases[] = {
        {"one button", UIAlertController::Style::Alert, {{"OK", S::Cancel}}, -1, "OK"},
        {"the one default beside cancel", UIAlertController::Style::Alert, {{"No", S::Cancel}, {"Yes", S::Default}}, -1, "Yes"},
        {"a destructive choice is never pressed by Return", UIAlertController::Style::Alert,
         {{"Cancel", S::Cancel}, {"Delete", S::Destructive}}, -1, ""},
        {"two defaults: no clear choice", UIAlertController::Style::Alert, {{"Mail", S::Default}, {"Review", S::Default}}, -1, ""},
        {"the preferred one", UIAlertController::Style::Alert, {{"OK", S::Cancel}, {"Forgot", S::Default}}, 0, "OK"},
        {"a sheet of choices", UIAlertController::Style::ActionSheet, {{"Name", S::Default}, {"Cancel", S::Cancel}}, -1, ""},
    };
    UIView::setAnimationsEnabled(false);  // a choice's handler runs at once
    for (const auto& c : cases) {
        auto* alert = UIAlertController::alertControllerWithTitle("Title", "Message", c.style);
        std::string chosen;
        for (const auto& [title, style] : c.actions) alert->addAction(title, style, [&chosen, t = title] { chosen = t; });
        if (c.preferred >= 0) alert->setPreferredAction(c.preferred);
        QPointer<UIAlertController> guard(alert);
        root->presentViewController(alert, false);
        QTest::keyClick(alert, Qt::Key_Return);
        GuiTest::pump();
        EXPECT_EQ(chosen, c.expected) << c.what;
        if (guard && !guard->isBeingDismissed() && root->presentedViewController() == guard) root->dismissViewController(false);
        GuiTest::pump();
    }
    UIView::setAnimationsEnabled(true);
}

TEST_F(PresentationTest, ShareSheetCopiesTextAndLinksAndSavesImages) {
    TestSupport::TempDir dir;
    UIActivityViewController::setSavePathChooser([&](const QString& name) { return QString::fromStdString(dir.file(name.toStdString())); });
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::red);
    auto* share = new UIActivityViewController({QString("Have a look"), QUrl("https://example.org/p?id=1"), image}, "Share");
    ASSERT_EQ(share->actions().size(), 4u);
    EXPECT_EQ(share->actions()[0].title, "Copy");
    EXPECT_EQ(share->actions()[1].title, "Copy Link");
    EXPECT_EQ(share->actions()[2].title, "Save Image");
    root->presentViewController(share, false);
    share->performAction(0);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return root->presentedViewController() == nullptr; }));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "Have a look\nhttps://example.org/p?id=1");

    auto* second = new UIActivityViewController({QString("Have a look"), QUrl("https://example.org/p?id=1"), image});
    root->presentViewController(second, false);
    second->performAction(1);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return root->presentedViewController() == nullptr; }));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "https://example.org/p?id=1");

    auto* third = new UIActivityViewController({image});
    ASSERT_EQ(third->actions().size(), 2u);  // save and cancel: no text to copy
    root->presentViewController(third, false);
    third->performAction(0);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return std::filesystem::exists(dir.file("Vostrelle-1.png")); }));
    EXPECT_EQ(QImage(QString::fromStdString(dir.file("Vostrelle-1.png"))).pixelColor(2, 2), QColor(Qt::red));
    UIActivityViewController::setSavePathChooser(nullptr);
}

}  // namespace
