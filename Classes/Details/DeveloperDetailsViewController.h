#pragma once
// The profile page of one developer of the maker's directory
// (ZMDeveloperProfile): avatar, name, biography, information rows (location
// and links), the first two packages whose maintainer is exactly the
// developer's name with "See all", and a Follow / Unfollow button. Search,
// the developer link, the followed developers and the credits open it.
//
// Information rows, in this order, each only when it can be acted on:
//   location    "Location: <value>"           not selectable
//   repository  "Add developer repository"    adds the source (SourceAddition:
//                                             the http warning, refusals);
//                                             one configured under either
//                                             scheme gives "Source Error"
//   homepage    "Visit website"               http(s) addresses only, in the
//   github      "Visit GitHub page"           in-app browser
//   twitter     "Go to Twitter profile"       an http(s) address, or a handle
//                                             (ZMDeveloperProfile::twitterProfileURL)
//   email       "Contact by email"            the mail program, address and
//                                             subject encoded
// The information table is 44 points a row less 1, and with no row 0 high
// with its title hidden. The package table is 70 points for one package,
// 140 for more; with none, "No packages" shows instead. The package rows
// come from identifiers taken at each appearance; one deleted since draws an
// empty row that opens nothing.
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSpacerItem>
#include <string>
#include <vector>

#include "Services/ZMDeveloperProfile.h"
#include "UIKit/UITableView.h"
#include "ZMPalettedViewController.h"

class DeveloperDetailsViewController : public ZMPalettedViewController,
                                       public UITableViewDataSource,
                                       public UITableViewDelegate {
    Q_OBJECT
public:
    static constexpr int kInformationRowHeight = 44;
    static constexpr int kPackageRowHeight = 70;
    static constexpr int kAvatarSize = 90;
    static constexpr double kAvatarCornerRadius = 20.133;
    // The gap between the name and the information title without a biography.
    static constexpr int kTitleGapWithoutBiography = 30;

    struct InformationRow {
        std::string key;    // "location", "repository", "homepage", "github", "twitter", "email"
        std::string value;  // the profile's value
    };
    static std::vector<InformationRow> informationRows(const ZMDeveloperProfile& profile);

    explicit DeveloperDetailsViewController(QWidget* parent = nullptr);
    ~DeveloperDetailsViewController() override;

    void setDeveloperProfile(const ZMDeveloperProfile& profile) { profile_ = profile; }
    const ZMDeveloperProfile& developerProfile() const { return profile_; }
    // A picture the opener already has; it wins over the profile's address.
    void setImg(const QImage& image) { img_ = image; }
    // Presented modally: the page gets a "Close" button.
    void setIsShownModally(bool modally) { isShownModally_ = modally; }

    bool isFollowed() const { return isFollowed_; }
    UIBarButtonItem* followedBtn() const { return followedBtn_; }
    const std::vector<InformationRow>& informations() const { return informations_; }
    const std::vector<std::string>& devPackages() const { return devPackages_; }
    UIViewController* lastPushedViewController() const { return lastPushed_; }
    bool avatarLoaded() const { return avatarLoaded_; }

    // Outlets.
    QScrollArea* scrollView() const { return scrollView_; }
    QLabel* avatar() const { return avatar_; }
    QLabel* nameLbl() const { return nameLbl_; }
    QLabel* bioLbl() const { return bioLbl_; }
    QLabel* informationsTitle() const { return informationsTitle_; }
    UITableView* informationsTableView() const { return informationsTableView_; }
    QLabel* pkgByThisDevTitle() const { return pkgByThisDevTitle_; }
    QPushButton* seeAllPkgByThisDevBtn() const { return seeAllBtn_; }
    UITableView* pkgByThisDevTableView() const { return pkgByThisDevTableView_; }
    QLabel* noPackagesLbl() const { return noPackagesLbl_; }

    // Actions.
    // Follows or unfollows; once stored, says so. A change the database
    // refused is told in its alert and the button shows the stored state.
    void changeIsDeveloperFollowedState();
    void seeAllPkgFromThisDev();
    void dismissVC();
    void backSwipe();

    int numberOfRows(UITableView* table, int) override;
    UITableViewCell* cellForRow(UITableView* table, IndexPath indexPath) override;
    double heightForRow(UITableView* table, IndexPath) override;
    void didSelectRow(UITableView* table, IndexPath indexPath) override;
    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    // The follow state and the button's title for it.
    void showFollowed(bool followed);
    void buildView();
    void getDeveloperInformations();
    void setContent();
    void setAvatar(const QImage& image);
    void openInformation(const InformationRow& row);
    void addRepository(const std::string& location);
    void push(UIViewController* vc);

    ZMDeveloperProfile profile_;
    QImage img_;
    bool isShownModally_ = false;
    bool isFollowed_ = false;
    bool avatarLoaded_ = false;
    UIBarButtonItem* followedBtn_ = nullptr;
    std::vector<InformationRow> informations_;
    std::vector<std::string> devPackages_;
    QPointer<UIViewController> lastPushed_;

    QScrollArea* scrollView_ = nullptr;
    QLabel* avatar_ = nullptr;
    QLabel* nameLbl_ = nullptr;
    QLabel* bioLbl_ = nullptr;
    QSpacerItem* titleGap_ = nullptr;
    QLabel* informationsTitle_ = nullptr;
    UITableView* informationsTableView_ = nullptr;
    QLabel* pkgByThisDevTitle_ = nullptr;
    QPushButton* seeAllBtn_ = nullptr;
    UITableView* pkgByThisDevTableView_ = nullptr;
    QLabel* noPackagesLbl_ = nullptr;
    QProgressBar* tasksProgressBar_ = nullptr;
};
