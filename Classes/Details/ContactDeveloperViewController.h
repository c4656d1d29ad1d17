#pragma once
// The developer's contact card, opened from the developer card of a package's
// page: avatar, name and badge, a Follow/Unfollow button, and rows that reach
// the developer (Twitter, Email) and give (PayPal, Other).
//
// Links open only when they are http(s) addresses, in the in-app browser; a
// missing (or unusable) one says so in a popup. The mail address goes into
// the mail link percent-encoded like the subject, so that a contact cannot
// add recipients or headers; without a usable address the popup says so.
// Following uploads the followed developers only with a signed-in account
// (the developer table's account sync). A right swipe goes back.
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QScrollArea>
#include <QUrl>
#include <string>
#include <vector>

#include "UIKit/UITableView.h"
#include "ZMPalettedViewController.h"

class UIAlertController;

class ContactDeveloperViewController : public ZMPalettedViewController,
                                       public UITableViewDataSource,
                                       public UITableViewDelegate {
    Q_OBJECT
public:
    static constexpr double kRowHeight = 44;
    static constexpr const char* kMailSubject = "Vostrelle 5: Question regarding %@";

    explicit ContactDeveloperViewController(QWidget* parent = nullptr);
    ~ContactDeveloperViewController() override;

    void setDeveloperName(const std::string& name) { developerName_ = name; }
    void setDeveloperAvatar(const QImage& avatar) { developerAvatar_ = avatar; }
    void setEmail(const std::string& email) { email_ = email; }
    void setPackageName(const std::string& name) { packageName_ = name; }
    void setTwitter(const QUrl& url) { twitter_ = url; }
    void setDonateLink(const QUrl& url) { donateLink_ = url; }
    const std::string& developerName() const { return developerName_; }
    const std::string& email() const { return email_; }

    bool isFollowed() const { return isFollowed_; }
    UIBarButtonItem* followedBtn() const { return followedBtn_; }
    QLabel* authorIcon() const { return authorIcon_; }
    QLabel* authorLbl() const { return authorLbl_; }
    QLabel* verifiedIcon() const { return verifiedIcon_; }
    UITableView* contactTableView() const { return contactTableView_; }
    UITableView* donationLinksTableView() const { return donationLinksTableView_; }
    QLabel* donationLinksTitle() const { return donationLinksTitle_; }
    const std::vector<std::string>& donationLinks() const { return donationLinks_; }
    // The last screen or popup the page opened.
    UIViewController* lastOpened() const { return lastOpened_; }

    // The mail link of the Email row (invalid without a usable address).
    QUrl mailURL() const;

    // Follows or unfollows; once stored, says so. A change the database
    // refused is told in its alert and the button shows the stored state.
    void changeIsDeveloperFollowedState();
    void backSwipe();

    int numberOfRows(UITableView* table, int) override;
    UITableViewCell* cellForRow(UITableView* table, IndexPath indexPath) override;
    double heightForRow(UITableView*, IndexPath) override { return kRowHeight; }
    void didSelectRow(UITableView* table, IndexPath indexPath) override;
    void paletteWillChangeToStyle(int style) override;
    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

private:
    // The follow state and the button's title for it.
    void showFollowed(bool followed);
    void setContent();
    void openTwitter();
    void openMail();
    void openDonation();
    void showPopup(const std::string& title, const std::string& message);
    void push(UIViewController* screen);
    std::string developerName_;
    QImage developerAvatar_;
    std::string email_;
    std::string packageName_;
    QUrl twitter_;
    QUrl donateLink_;
    bool isFollowed_ = false;
    bool packageAuthorIsVerified_ = false;
    std::vector<std::string> donationLinks_;
    UIBarButtonItem* followedBtn_ = nullptr;
    QScrollArea* scrollView_ = nullptr;
    QLabel* authorIcon_ = nullptr;
    QLabel* authorLbl_ = nullptr;
    QLabel* verifiedIcon_ = nullptr;
    UITableView* contactTableView_ = nullptr;
    QLabel* donationLinksTitle_ = nullptr;
    UITableView* donationLinksTableView_ = nullptr;
    QPointer<UIViewController> lastOpened_;
};
