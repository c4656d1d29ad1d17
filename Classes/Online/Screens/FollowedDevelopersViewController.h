#pragma once
// The developers the user follows, each with avatar, name and Twitter
// handle, an Unfollow button (SearchCell) and the developer's page on a tap.
//
// The list is rebuilt at every appearance and after every follow change
// (once the write has landed): one directory lookup per followed name, rows
// in the order the lookups finish, the first profile of each. A name the
// directory does not know, a failed lookup and a name too short to look up
// get a row with the name alone, so every followed developer can be
// unfollowed. Replies of an earlier rebuild are dropped. With nobody
// followed the screen returns to the root of its navigation stack.
//
// A tap looks the name up again: found, the developer's page opens; not
// found, the search tab looks for the name.
#include <QPixmap>
#include <QPointer>
#include <map>
#include <string>
#include <vector>

#include "SearchCell.h"
#include "Services/ZMDeveloperProfile.h"
#include "UIKit/UITableView.h"
#include "ZMPalettedViewController.h"

class FollowedDevelopersViewController : public ZMPalettedViewController,
                                         public UITableViewDataSource,
                                         public UITableViewDelegate,
                                         public SearchCellDelegate {
    Q_OBJECT
public:
    explicit FollowedDevelopersViewController(QWidget* parent = nullptr);
    ~FollowedDevelopersViewController() override;

    const std::vector<ZMDeveloperProfile>& followedDevelopersArray() const { return rows_; }
    const std::map<std::string, QPixmap>& developersAvatarDictionary() const { return avatars_; }
    UITableView* followedDevelopersTableView() const { return table_; }
    UIViewController* lastPushedViewController() const { return lastPushed_; }

    // Rebuilds the list from the followed names and the directory.
    void setContent();
    // The search tab.
    void showSearchVC();
    void backSwipe();
    // SearchCellDelegate: a follow change has been stored.
    void followStateChanged() override;

    int numberOfRows(UITableView*, int) override { return static_cast<int>(rows_.size()); }
    UITableViewCell* cellForRow(UITableView* table, IndexPath indexPath) override;
    double heightForRow(UITableView*, IndexPath) override { return SearchCell::kRowHeight; }
    void didSelectRow(UITableView* table, IndexPath indexPath) override;
    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

private:
    void addRow(const ZMDeveloperProfile& profile, bool looked);
    std::vector<ZMDeveloperProfile> rows_;
    std::map<std::string, QPixmap> avatars_;
    UITableView* table_ = nullptr;
    QPointer<UIViewController> lastPushed_;
    int generation_ = 0;
    int tap_ = 0;
};
