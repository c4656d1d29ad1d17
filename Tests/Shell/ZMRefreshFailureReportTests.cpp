// The report of failed refreshes: one popup while it is up, one entry a
// source with its latest reason, named by the source's name and address, a
// count past the listed few, and a new popup once the old one is gone.
#include <QPointer>

#include "ShellTestSupport.h"
#include "UIKit/UIWindow.h"
#include "ZMRefreshFailureReport.h"

namespace {

using RefreshFailureReportTest = ShellTest::Fixture;

TEST_F(RefreshFailureReportTest, OnePopupTakesEveryFailureWhileItIsUp) {
    storeSource("https://named.example/", "Named Repo");
    UIWindow window;
    auto* root = new UIViewController;
    window.setRootViewController(root);
    window.show();

    ZMRefreshFailureReport report;
    ErrorViewController* popup = report.add("https://named.example/", "It answered 404.");
    ASSERT_NE(popup, nullptr);
    root->presentViewController(popup, false);
    EXPECT_EQ(popup->titleLbl()->text(), "Source Not Refreshed");
    EXPECT_EQ(popup->messageLbl()->text(), "Named Repo — https://named.example/\nIt answered 404.");

    // While it is up: the same popup, a source once with its latest reason, five listed and the rest counted.
    struct Step {
        std::string location, reason;
        int listed;  // sources named in the message afterwards
        QString more;
    } steps[] = {
        {"https://b.example/", "Refused.", 2, ""},
        {"https://named.example/", "It answered 500.", 2, ""},
        {"https://c.example/", "Garbled.", 3, ""},
        {"https://d.example/", "Timed out.", 4, ""},
        {"https://e.example/", "Refused.", 5, ""},
        {"https://f.example/", "Refused.", 5, "1 more sources could not be refreshed"},
        {"https://g.example/", "Refused.", 5, "2 more sources could not be refreshed"},
    };
    for (const auto& s : steps) {
        EXPECT_EQ(report.add(s.location, s.reason), nullptr) << s.location << ": a second popup";
        const QString text = popup->messageLbl()->text();
        EXPECT_EQ(text.count("https://"), s.listed) << text.toStdString();
        EXPECT_EQ(text.count("https://named.example/"), 1) << text.toStdString();
        if (!s.more.isEmpty()) {
            EXPECT_TRUE(text.contains(s.more)) << text.toStdString();
        }
    }
    EXPECT_TRUE(popup->messageLbl()->text().contains("It answered 500."));
    EXPECT_FALSE(popup->messageLbl()->text().contains("It answered 404.")) << "the latest reason only";
    EXPECT_EQ(popup->titleLbl()->text(), "Sources Not Refreshed");

    // Once it is closed, the next failure opens a popup of its own, with that failure only.
    QPointer<ErrorViewController> closed(popup);
    popup->closeBtn()->click();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !closed || !closed->isVisible(); }));
    ErrorViewController* next = report.add("https://b.example/", "Refused again.");
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->messageLbl()->text(), "https://b.example/\nRefused again.");
    delete next;
}

}  // namespace
