#pragma once
// The page of one store, opened from the store list: the store's icon, the
// signed-in user's name and e-mail, a sign-in or sign-out button, and the
// packages the user bought there (a live query, by name) or one message row.
// A repository store signs in and out through its payment API and re-reads
// the user's purchases on a pull; the Cydia store opens its own pages
// (CydiaStoreLoginController) and follows the preference
// "cydiaStoreIsSignedIn" and CydiaStoreSigninStatusDidChange.
#include <optional>
#include <string>

#include "Database/ZMRPackage.h"
#include "Notifications/NotificationCenter.h"
#include "RepoStoresListController.h"
#include "UIKit/UIRefreshControl.h"
#include "UIKit/UITableView.h"
#include "ZMPalettedViewController.h"

class StoreHeaderView;

class RepoStoreDetailsViewController : public ZMPalettedViewController, public UITableViewDataSource, public UITableViewDelegate {
    Q_OBJECT
public:
    static constexpr int kSignedInHeaderHeight = 256;

    RepoStoreDetailsViewController(std::string sourceLocation, RepoStoreVendorRecord vendorInfo, QWidget* parent = nullptr);
    ~RepoStoreDetailsViewController() override;

    const std::string& sourceLocation() const { return sourceLocation_; }
    UITableView* tableView() const { return tableView_; }
    UIRefreshControl* refreshControl() const { return refreshControl_; }
    StoreHeaderView* headerView() const { return header_; }
    bool isCydiaStore() const { return isCydiaStore_; }
    bool isSignedIn() const { return isSignedIn_; }
    bool hasZeroPackages() const { return hasZeroPackages_; }
    // The message row's text while no package row shows, else empty.
    QString messageText() const;

    std::optional<ZMRPackage> packageAtIndexPath(IndexPath indexPath) const;
    void setSignedIn(bool signedIn);
    void logInOutButtonPressed();
    // From set-up, the refresh control (fromControl) or the Refresh button.
    void refreshUserInfo(bool fromControl);
    void iconChanged(const Notification& note);
    void cydiaSigninChanged(const Notification& note);

    int numberOfRows(UITableView*, int section) override;
    UITableViewCell* cellForRow(UITableView*, IndexPath indexPath) override;
    double heightForRow(UITableView*, IndexPath indexPath) override;
    void didSelectRow(UITableView*, IndexPath indexPath) override;

    void paletteWillChangeToStyle(int style) override;
    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;

private:
    bool showsPackages() const { return isSignedIn_ && !hasZeroPackages_; }
    size_t purchasedCount() const;

    const std::string sourceLocation_;
    const RepoStoreVendorRecord vendorInfo_;
    const bool isCydiaStore_;
    const bool errorRetreivingVendorInfo_;
    bool isSignedIn_ = false;
    bool hasZeroPackages_ = false;
    UITableView* tableView_ = nullptr;
    UIRefreshControl* refreshControl_ = nullptr;
    StoreHeaderView* header_ = nullptr;
    std::optional<Results<ZMRPackage>> purchasedPackages_;
    NotificationToken purchasedPackagesNotification_;
    ObserverBag observers_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};
