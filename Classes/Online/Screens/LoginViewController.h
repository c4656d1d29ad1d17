#pragma once
// Signing in to the maker's account. Shown in the first-run flow (after the
// theme; it then leads to the import of sources, with or without an account)
// and from the account screen (it then closes itself after a sign-in, or
// when the user goes on without one; closed either way, or by Esc or a click
// beside it, it runs dismissCompletion, after a sign-in still on its way).
//
// A refused or failed sign-in shows "Unable to login" with the account
// client's message and "OK" / "Forgot" (the maker's lost-password page).
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <functional>
#include <memory>

#include "ZMPalettedViewController.h"

class LoginViewController : public ZMPalettedViewController {
    Q_OBJECT
public:
    explicit LoginViewController(QWidget* parent = nullptr);

    void setIsInvokedFromSettings(bool fromSettings) { isInvokedFromSettings_ = fromSettings; }
    bool isInvokedFromSettings() const { return isInvokedFromSettings_; }
    // Run once the screen has closed (opened from the account screen).
    void setDismissCompletion(std::function<void()> completion) { dismissCompletion_ = std::move(completion); }

    // Button actions.
    void loginButton() { loginToAccount(); }
    void nonLoginButton() { nextViewController(); }
    void signUpButton();
    void loginToAccount();
    void nextViewController();
    void dismissKeyboard();
    // A sign-in is on its way (the button waits for it).
    bool isLoggingIn() const { return loggingIn_; }

    QLabel* headerLabel() const { return headerLabel_; }
    QLineEdit* userNameTextField() const { return userNameTextField_; }
    QLineEdit* passwordTextField() const { return passwordTextField_; }
    QPushButton* loginBtn() const { return loginBtn_; }
    QPushButton* nonLoginBtn() const { return nonLoginBtn_; }
    QPushButton* signUpBtn() const { return signUpBtn_; }

    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void viewDidDisappear(bool animated) override;

private:
    void showFailure(const std::string& message);

    bool isInvokedFromSettings_ = false;
    bool loggingIn_ = false;
    std::function<void()> dismissCompletion_;
    bool closed_ = false;
    // What runs when the sign-in on its way lands after the sheet has closed.
    std::weak_ptr<std::function<void()>> pendingSignIn_;
    QLabel* headerLabel_ = nullptr;
    QLineEdit* userNameTextField_ = nullptr;
    QLineEdit* passwordTextField_ = nullptr;
    QPushButton* loginBtn_ = nullptr;
    QPushButton* nonLoginBtn_ = nullptr;
    QPushButton* signUpBtn_ = nullptr;
};
