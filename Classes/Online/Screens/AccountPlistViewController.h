#pragma once
// The account page, pushed by the featured page's account button: the
// user's avatar, name and e-mail at the top, and below them the rows of the
// property list "Account" — sign in or out, purchased packages, commercial
// stores, wishlist, followed developers, setup backup and restore, settings,
// credits, change log, and the maker's outside links (opened in the in-app
// browser; no other application is asked to open anything).
//
// Signed in means ZMAccount::isSignedIn(). The header shows the account's
// name and e-mail, else "Account Name" and "Account Email"; the avatar
// handed over stays until the page is made again, and signing in (the login
// screen, presented over this page) loads the new account's. Without the
// maker's service a line above the rows says so.
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <string>

#include "RootViewController.h"
#include "Services/ZMSetupRestoration.h"
#include "ZMErrorDelegate.h"

class AccountPlistViewController : public RootViewController, public ZMErrorDelegate {
    Q_OBJECT
public:
    static constexpr int kAvatarSide = 90;

    explicit AccountPlistViewController(QWidget* parent = nullptr);

    // The avatar the featured page downloaded (null: the application's icon).
    void setAvatarImage(const QImage& image);
    QImage avatarImage() const { return avatarImage_; }

    // Row operations.
    std::string signInOutButtonTitle() const;
    void signInOut();
    void openPurchased();
    void openCommercialStores();
    void openWishlist();
    void openFollowed();
    void createBackup();
    void backupOnline();
    void backupLocally();
    void openBackup();
    void restoreBackupWithJSONData(const std::string& bytes);
    void openSettings();
    void openCredits();
    void openChangelog();
    // The outside link of the row whose operation is `operation`, in the in-app browser.
    void openLinkOfRow(const std::string& operation);

    // Sets the labels (and the avatar) from the account and reloads the rows.
    void refreshHeader();

    QLabel* accountImageview() const { return accountImageview_; }
    QLabel* accountNameLabel() const { return accountNameLabel_; }
    QLabel* accountEmailLabel() const { return accountEmailLabel_; }
    QLabel* onlineServiceNotice() const { return onlineServiceNotice_; }
    // Whether the header shows an avatar (round) or the application's icon.
    bool showsAvatar() const { return showsAvatar_; }
    UIViewController* lastPushedViewController() const { return lastPushed_; }

    void paletteWillChangeToStyle(int style) override;
    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;

private:
    void push(UIViewController* vc);
    void popup(const std::string& title, const std::string& message, const std::string& close,
               const std::optional<std::string>& other = std::nullopt, std::function<void()> action = {});
    void showFinding(ZMSetupRestoration::Finding finding);
    void pushRestoration(const ZMSetupRestoration::Comparison& comparison);
    void drawAvatar();

    QImage avatarImage_;
    bool showsAvatar_ = false;
    QLabel* accountImageview_ = nullptr;
    QLabel* accountNameLabel_ = nullptr;
    QLabel* accountEmailLabel_ = nullptr;
    QLabel* onlineServiceNotice_ = nullptr;
    QPointer<UIViewController> lastPushed_;
};
