#include <gtest/gtest.h>

#include <QPointer>
#include <QTest>

#include "ErrorViewController.h"
#include "Support/Gui/GuiTestSupport.h"
#include "UIKit/UIWindow.h"

namespace {

class Owner : public UIViewController, public ZMErrorDelegate {
public:
    int added = 0;
    void addAnyway() { ++added; }
};

class OtherDelegate : public ZMErrorDelegate {};

class ErrorPopupTest : public ::testing::Test {
protected:
    void SetUp() override {
        owner = new Owner;
        window.setRootViewController(owner);
        window.resize(400, 700);
        window.show();
    }
    UIWindow window;
    Owner* owner = nullptr;
};

TEST_F(ErrorPopupTest, SelectorVariantCallsTheDelegateAfterDismissal) {
    QPointer<ErrorViewController> popup = new ErrorViewController;
    popup->setDelegate(owner);
    popup->showWithTitle("Warning", std::string("You are trying to add a source with http://"), 2, "Cancel",
                         std::string("Add Anyway"), ErrorViewController::selector(&Owner::addAnyway));
    EXPECT_EQ(popup->modalPresentationStyle(), UIViewController::ModalPresentationStyle::OverFullScreen);
    owner->presentViewController(popup, true);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !popup->isBeingPresented(); }));
    EXPECT_EQ(popup->titleLbl()->text(), "Warning");
    EXPECT_TRUE(popup->messageLbl()->isVisible());
    EXPECT_TRUE(popup->otherBtn()->isVisible());
    EXPECT_EQ(popup->otherBtn()->text(), "Add Anyway");
    EXPECT_EQ(popup->closeBtn()->text(), "Cancel");

    QTest::mouseClick(popup->otherBtn(), Qt::LeftButton);
    EXPECT_EQ(owner->added, 0);  // not before the popup has gone
    ASSERT_TRUE(GuiTest::waitUntil([&] { return owner->added == 1; }));
    EXPECT_EQ(owner->presentedViewController(), nullptr);
    GuiTest::waitUntil([&] { return popup.isNull(); });
    EXPECT_TRUE(popup.isNull());
}

TEST_F(ErrorPopupTest, CloseOnlyDismissesAndTheBlockRunsOnceFromTheOtherButton) {
    auto* popup = new ErrorViewController;
    popup->showWithTitle("Reply to Review", std::nullopt, 1, "OK");
    EXPECT_FALSE(popup->otherBtn()->isVisibleTo(popup));
    EXPECT_FALSE(popup->messageLbl()->isVisibleTo(popup));
    owner->presentViewController(popup, false);
    QTest::mouseClick(popup->closeBtn(), Qt::LeftButton);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return owner->presentedViewController() == nullptr; }));

    int ran = 0;
    for (bool other : {false, true}) {
        auto* second = new ErrorViewController;
        second->showWithTitle("Done", std::string("<b>Backup</b> saved."), 2, "Close", std::string("Open"), [&] { ++ran; });
        EXPECT_EQ(second->messageLbl()->textFormat(), Qt::PlainText) << "server texts show as they are";
        owner->presentViewController(second, false);
        QTest::mouseClick(other ? second->otherBtn() : second->closeBtn(), Qt::LeftButton);
        if (other) QTest::mouseClick(second->otherBtn(), Qt::LeftButton);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return owner->presentedViewController() == nullptr; }));
        GuiTest::pump();
        EXPECT_EQ(ran, other ? 1 : 0);
    }
}

// A delegate that went away, or one that is not the selector's class, hears nothing.
TEST_F(ErrorPopupTest, AGoneOrForeignDelegateReceivesNothing) {
    OtherDelegate foreign;
    for (bool gone : {true, false}) {
        auto* popup = new ErrorViewController;
        if (gone) {
            OtherDelegate stranger;
            popup->setDelegate(&stranger);
            EXPECT_EQ(popup->delegate(), &stranger);
        } else {
            popup->setDelegate(&foreign);
        }
        EXPECT_EQ(popup->delegate() == nullptr, gone);
        popup->showWithTitle("Warning", std::nullopt, 2, "Cancel", std::string("Go"), ErrorViewController::selector(&Owner::addAnyway));
        owner->presentViewController(popup, false);
        QTest::mouseClick(popup->otherBtn(), Qt::LeftButton);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return owner->presentedViewController() == nullptr; }));
        EXPECT_EQ(owner->added, 0);
    }
}

}  // namespace
