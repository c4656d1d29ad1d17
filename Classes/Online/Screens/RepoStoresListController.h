#pragma once
// "Stores": every store the user can hold an account in — one row for each
// source with a payment endpoint (a live query, by name) and, last, the Cydia
// store. For each repository store it asks the store for its vendor
// information (name, icon, sign-in banner) and fetches the icon; a row opens
// the store's page (RepoStoreDetailsViewController) with that record. Pull
// to refresh (or the Refresh button) looks up every source's endpoint again.
#include <QPixmap>
#include <map>
#include <optional>
#include <string>

#include "Database/ZMRSource.h"
#include "Notifications/NotificationCenter.h"
#include "UIKit/UIRefreshControl.h"
#include "UIKit/UITableView.h"
#include "ZMPalettedViewController.h"

class StoreHeaderView;

// What the list knows of one store, handed to its page. Everything but the
// image came from the store's server.
struct RepoStoreVendorRecord {
    std::string name;
    std::string icon;  // http(s) address
    std::string buttonTitle;
    std::string message;  // the banner shown while signed out
    QPixmap image;
    std::optional<std::string> error;  // only in a failed record
};

class RepoStoresListController : public ZMPalettedViewController, public UITableViewDataSource, public UITableViewDelegate {
    Q_OBJECT
public:
    explicit RepoStoresListController(QWidget* parent = nullptr);
    ~RepoStoresListController() override;

    UITableView* tableView() const { return tableView_; }
    UIRefreshControl* refreshControl() const { return refreshControl_; }
    StoreHeaderView* headerView() const { return header_; }

    std::optional<ZMRSource> sourceAtIndexPath(IndexPath indexPath) const;
    std::optional<IndexPath> indexPathForSourceLocation(const std::string& location) const;
    // The stored record, or an empty one.
    RepoStoreVendorRecord vendorInfoForSourceLocation(const std::string& location) const;
    bool hasVendorInfoForSourceLocation(const std::string& location) const;

    void fetchVendorInfoForAllSources();
    void fetchIconForURL(const std::string& address, const std::string& location);
    void iconChanged(const Notification& note);
    void setIcon(const QPixmap& icon, const std::string& location);
    // From the refresh control (fromControl) or the Refresh button.
    void refreshEndpointList(bool fromControl);

    // UITableViewDataSource / UITableViewDelegate
    int numberOfRows(UITableView*, int section) override;
    UITableViewCell* cellForRow(UITableView*, IndexPath indexPath) override;
    double heightForRow(UITableView*, IndexPath) override;
    void didSelectRow(UITableView*, IndexPath indexPath) override;

    void paletteWillChangeToStyle(int style) override;
    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;

private:
    size_t commercialCount() const;

    UITableView* tableView_ = nullptr;
    UIRefreshControl* refreshControl_ = nullptr;
    StoreHeaderView* header_ = nullptr;
    std::optional<Results<ZMRSource>> commercialSources_;
    NotificationToken commercialSourcesNotification_;
    std::map<std::string, RepoStoreVendorRecord> vendorInfoCollection_;
    uint64_t vendorRound_ = 0;  // fetchVendorInfoForAllSources' rounds; the latest one's replies count
    ObserverToken iconObserver_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};
