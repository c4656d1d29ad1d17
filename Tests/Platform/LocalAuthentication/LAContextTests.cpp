#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <tuple>

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
        if (fake->usable) { EXPECT_EQ(reasons, std::vector<QString>{"Remove the source"}); }
        return r;
    }
    std::shared_ptr<FakeAuthenticator> fake;
};

// Only the right password succeeds; cancelling or an unusable checker never does,
// and neither asks the checker.
TEST_F(LAContextTest, OnlyTheRightPasswordSucceeds) {
    using E = LAContext::Error;
    const std::tuple<bool, std::optional<std::string>, E> cases[] = {
        {true, "correct horse", E::None}, {true, "battery staple", E::AuthenticationFailed},
        {true, std::nullopt, E::UserCancel}, {false, "correct horse", E::NotAvailable}};
    for (const auto& [usable, typed, error] : cases) {
        fake->usable = usable;
        EXPECT_EQ(LAContext().canEvaluatePolicy(), usable);
        auto r = evaluate(typed);
        ASSERT_TRUE(r.done);
        EXPECT_EQ(r.success, error == E::None) << typed.value_or("(cancelled)");
        EXPECT_EQ(r.error, error) << typed.value_or("(cancelled)");
    }
    EXPECT_EQ(fake->tried, (std::vector<std::string>{"correct horse", "battery staple"}));
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
