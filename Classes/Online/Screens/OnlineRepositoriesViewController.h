#pragma once
// The maker's directory of repositories ("Browse Repositories"): one row per
// entry with its icon, name and description; a tap opens the repository's
// page (SearchedRepoViewController). The bar's search button switches to the
// Search tab. The directory is listed once, when the view loads; a failed
// listing shows what the directory client already held. Without the online
// service it says so in one line and asks nothing.
#include <QLabel>
#include <QPointer>
#include <vector>

#include "Online/Screens/RemoteIconCache.h"
#include "Services/ZMSearchedRepo.h"
#include "UIKit/UITableView.h"
#include "ZMPalettedViewController.h"

class OnlineRepositoriesViewController : public ZMPalettedViewController,
                                         public UITableViewDataSource,
                                         public UITableViewDelegate {
    Q_OBJECT
public:
    explicit OnlineRepositoriesViewController(QWidget* parent = nullptr);
    ~OnlineRepositoriesViewController() override;

    const std::vector<ZMSearchedRepo>& repositoriesArray() const { return repositories_; }
    bool hasListed() const { return listed_; }
    // The line shown instead of the directory when the online service is not configured.
    QLabel* onlineServiceNotice() const { return onlineServiceNotice_; }
    UITableView* repositoriesTableView() const { return table_; }
    UIViewController* lastPushedViewController() const { return lastPushed_; }
    void showSearchTab();

    int numberOfRows(UITableView*, int) override { return static_cast<int>(repositories_.size()); }
    UITableViewCell* cellForRow(UITableView* table, IndexPath indexPath) override;
    double heightForRow(UITableView*, IndexPath) override;
    void didSelectRow(UITableView* table, IndexPath indexPath) override;

    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

private:
    std::vector<ZMSearchedRepo> repositories_;
    bool listed_ = false;
    RemoteIconCache icons_;
    UITableView* table_ = nullptr;
    QLabel* onlineServiceNotice_ = nullptr;
    QPointer<UIViewController> lastPushed_;
};
