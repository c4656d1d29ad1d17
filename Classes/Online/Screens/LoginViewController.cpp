#include "Online/Screens/LoginViewController.h"

#include <QPointer>
#include <QVBoxLayout>

#include "Browsing/BrowsingText.h"
#include "Browsing/SourceAddition.h"
#include "Dispatch/Dispatch.h"
#include "InitViewController.h"
#include "Online/Screens/InAppBrowser.h"
#include "PackageCell.h"
#include "Services/ZMAccount.h"
#include "Services/ZMMakerAPI.h"
#include "UIKit/UIAlertController.h"
#include "UIKit/UIApplication.h"

using BrowsingText::q;

LoginViewController::LoginViewController(QWidget* parent) : ZMPalettedViewController(parent) {
    setObjectName("LoginViewController");
}

void LoginViewController::viewDidLoad() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 48, 32, 32);
    layout->setSpacing(12);
    layout->addStretch(1);
    headerLabel_ = new QLabel(q("Sign in to your Zemtrix account"));
    headerLabel_->setObjectName("headerLabel");
    headerLabel_->setAlignment(Qt::AlignCenter);
    headerLabel_->setWordWrap(true);
    QFont big = headerLabel_->font();
    big.setPointSizeF(big.pointSizeF() * 1.7);
    big.setBold(true);
    headerLabel_->setFont(big);
    layout->addWidget(headerLabel_);
    layout->addSpacing(16);
    userNameTextField_ = new QLineEdit;
    userNameTextField_->setObjectName("userNameTextField");
    passwordTextField_ = new QLineEdit;
    passwordTextField_->setObjectName("PasswordTextField");
    passwordTextField_->setEchoMode(QLineEdit::Password);  // the password is never shown
    for (QLineEdit* field : {userNameTextField_, passwordTextField_}) {
        field->setMinimumHeight(40);
        // A blank margin of 10 before the text, on a light blue field.
        field->setTextMargins(10, 0, 0, 0);
        field->setStyleSheet("QLineEdit { background: rgba(82, 179, 207, 41); border: none; border-radius: 6px; }");
        connect(field, &QLineEdit::returnPressed, field, [field] { field->clearFocus(); });
        layout->addWidget(field);
    }
    loginBtn_ = new QPushButton(q("Login"));
    loginBtn_->setObjectName("loginBtn");
    loginBtn_->setMinimumHeight(44);
    nonLoginBtn_ = new QPushButton(q("Continue without an account"));
    nonLoginBtn_->setObjectName("nonLoginBtn");
    nonLoginBtn_->setFlat(true);
    signUpBtn_ = new QPushButton(q("Sign Up"));
    signUpBtn_->setObjectName("signUpBtn");
    signUpBtn_->setFlat(true);
    connect(loginBtn_, &QPushButton::clicked, this, [this] { loginButton(); });
    connect(nonLoginBtn_, &QPushButton::clicked, this, [this] { nonLoginButton(); });
    connect(signUpBtn_, &QPushButton::clicked, this, [this] { signUpButton(); });
    layout->addSpacing(8);
    layout->addWidget(loginBtn_);
    layout->addWidget(signUpBtn_);
    layout->addStretch(2);
    layout->addWidget(nonLoginBtn_);
}

void LoginViewController::dismissKeyboard() {
    userNameTextField_->clearFocus();
    passwordTextField_->clearFocus();
}

void LoginViewController::loginToAccount() {
    if (loggingIn_) return;
    loggingIn_ = true;
    loginBtn_->setEnabled(false);
    QPointer<LoginViewController> self(this);
    auto afterClosing = std::make_shared<std::function<void()>>();
    pendingSignIn_ = afterClosing;
    ZMAccount::instance().performLogin(
        userNameTextField_->text().toStdString(), passwordTextField_->text().toStdString(), [self, afterClosing](std::string message) {
            Dispatch::main([self, afterClosing, message] {
                // Closed meanwhile: what the sign-in changed is shown now.
                if (!self || self->closed_) {
                    if (*afterClosing) (*afterClosing)();
                    return;
                }
                self->pendingSignIn_.reset();
                self->loggingIn_ = false;
                self->loginBtn_->setEnabled(true);
                if (message == kZMStatusSuccess)
                    self->nextViewController();
                else
                    self->showFailure(message);
            });
        });
}

void LoginViewController::showFailure(const std::string& message) {
    auto* alert = UIAlertController::alertControllerWithTitle(q("Unable to login"), QString::fromStdString(message),
                                                              UIAlertController::Style::Alert);
    alert->addAction(q("OK"), UIAlertController::ActionStyle::Cancel);
    alert->addAction(q("Forgot"), UIAlertController::ActionStyle::Default, [] {
        if (auto url = ZMMakerAPI::lostPasswordPageURL())
            UIApplication::openURL(QUrl(QString::fromStdString(url->string())));
    });
    alert->setPreferredAction(0);  // Return acknowledges the failure; the lost-password page is an aside
    SourceAddition::topPresenter(this)->presentViewController(alert, true);
}

void LoginViewController::signUpButton() {
    if (auto url = ZMMakerAPI::registerPageURL())
        InAppBrowser::present(this, QUrl(QString::fromStdString(url->string())), ZMLocalizedString("Sign Up"));
}

void LoginViewController::nextViewController() {
    if (isInvokedFromSettings_) {
        dismissViewController(true);  // the completion runs once closed (viewDidDisappear)
        return;
    }
    auto* next = new RepoTransferViewController;
    next->setModalPresentationStyle(UIViewController::ModalPresentationStyle::FullScreen);
    presentViewController(next, true);
}

void LoginViewController::viewDidDisappear(bool) {
    // However the sheet closes (a button, Esc, a click beside it), the account
    // screen refreshes once it has; after a sign-in still on its way, when it lands.
    if (!isBeingDismissed() || closed_) return;
    closed_ = true;
    if (!isInvokedFromSettings_) return;
    auto completion = std::exchange(dismissCompletion_, {});
    if (!completion) return;
    if (auto pending = pendingSignIn_.lock()) *pending = std::move(completion);
    else Dispatch::main(std::move(completion));
}

void LoginViewController::paletteDidChange(const ZMPalette& p) {
    QPalette pal = QWidget::palette();
    pal.setColor(QPalette::Window, p.backgroundColor());
    setPalette(pal);
    setAutoFillBackground(true);
    if (!headerLabel_) return;
    PackageRow::setTextColor(headerLabel_, p.primaryTextColor());
    // The two placeholders are not localized.
    for (auto [field, placeholder] : {std::pair{userNameTextField_, "Username"}, std::pair{passwordTextField_, "Password"}}) {
        field->setPlaceholderText(QString::fromLatin1(placeholder));
        QPalette fp = field->palette();
        fp.setColor(QPalette::PlaceholderText, p.secondaryTextColor());
        fp.setColor(QPalette::Text, p.primaryTextColor());
        field->setPalette(fp);
    }
}
