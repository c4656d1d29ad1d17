#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>

#include "LocalAuthentication/LAContext.h"
#include "Support/Gui/GuiTestSupport.h"

namespace {

class FakeAuthenticator : public LAAuthenticator {
public:
    bool usable = true;
    std::vector<std::string> tried;
    bool isUsable() override { return usable; }
    bool verify(const std::string& password) override {
        tried.push_back(password);
        return password == "correct horse";
    }
};

struct Result {
    bool done = false;
    bool success = false;
    LAContext::Error error = LAContext::Error::None;
};

class LAContextTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake = std::make_shared<FakeAuthenticator>();
        LAContext::setAuthenticatorForTesting(fake);
    }
    void TearDown() override {
        LAContext::setAuthenticatorForTesting(nullptr);
        LAContext::setPromptForTesting(nullptr);
    }
    Result evaluate(std::optional<std::string> typed) {
        std::vector<QString> reasons;
        LAContext::setPromptForTesting([&, typed](const QString& reason) {
            reasons.push_back(reason);
            return typed;
        });
        Result r;
        LAContext context;
        context.evaluatePolicy("Remove the source", [&](bool ok, LAContext::Error e) {
            r.done = true;
            r.success = ok;
            r.error = e;
        });
        GuiTest::waitUntil([&] { return r.done; });
        if (fake->usable) EXPECT_EQ(reasons, std::vector<QString>{"Remove the source"});
        return r;
    }
    std::shared_ptr<FakeAuthenticator> fake;
};

TEST_F(LAContextTest, TheRightPasswordSucceedsAndAWrongOneFails) {
    EXPECT_TRUE(LAContext().canEvaluatePolicy());
    auto ok = evaluate("correct horse");
    ASSERT_TRUE(ok.done);
    EXPECT_TRUE(ok.success);
    EXPECT_EQ(ok.error, LAContext::Error::None);

    auto wrong = evaluate("battery staple");
    ASSERT_TRUE(wrong.done);
    EXPECT_FALSE(wrong.success);
    EXPECT_EQ(wrong.error, LAContext::Error::AuthenticationFailed);
    EXPECT_EQ(fake->tried, (std::vector<std::string>{"correct horse", "battery staple"}));
}

TEST_F(LAContextTest, CancellingOrAnUnusableCheckerNeverSucceeds) {
    auto cancelled = evaluate(std::nullopt);
    ASSERT_TRUE(cancelled.done);
    EXPECT_FALSE(cancelled.success);
    EXPECT_EQ(cancelled.error, LAContext::Error::UserCancel);
    EXPECT_TRUE(fake->tried.empty());

    fake->usable = false;
    EXPECT_FALSE(LAContext().canEvaluatePolicy());
    auto unavailable = evaluate("correct horse");
    ASSERT_TRUE(unavailable.done);
    EXPECT_FALSE(unavailable.success);
    EXPECT_EQ(unavailable.error, LAContext::Error::NotAvailable);
    EXPECT_TRUE(fake->tried.empty());
}

TEST_F(LAContextTest, ThePasswordDialogAsksWithoutBlockingAndPassesWhatWasTyped) {
    LAContext::setPromptForTesting(nullptr);
    Result r;
    LAContext context;
    context.evaluatePolicy("Add a source", [&](bool ok, LAContext::Error e) {
        r.done = true;
        r.success = ok;
        r.error = e;
    });
    // The call returned with the dialog open.
    QDialog* dialog = nullptr;
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        for (auto* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) dialog = d;
        return dialog != nullptr;
    }));
    EXPECT_FALSE(r.done);
    auto* field = dialog->findChild<QLineEdit*>();
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->echoMode(), QLineEdit::Password);
    field->setText("correct horse");
    dialog->accept();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return r.done; }));
    EXPECT_TRUE(r.success);
    EXPECT_EQ(fake->tried, std::vector<std::string>{"correct horse"});
}

TEST(PamAuthenticator, RejectsAWrongPasswordForTheCurrentUser) {
    auto pam = makePamAuthenticator();
    if (!pam || !pam->isUsable()) GTEST_SKIP() << "PAM is not usable here";
    EXPECT_FALSE(pam->verify("certainly-not-the-password-\x01"));
}

}  // namespace
