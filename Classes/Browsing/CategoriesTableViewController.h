#pragma once
// The Sections tab: two cards in one scrolling column. The first holds five
// fixed rows (all, installed, updated and new packages, the online repository
// directory), the second every package category of the database, with the
// names that begin with "Addon", "Theme", "Tweak" or "Widget" folded into
// four groups. Both are read from the categories cache of ZMRPackages and
// rebuilt at every "DoneRebuildingPackagesCache".
#include <QPointer>
#include <QScrollArea>
#include <string>
#include <vector>

#include "Browsing/BrowsingCard.h"
#include "Browsing/CategoryGroups.h"
#include "Notifications/NotificationCenter.h"
#include "UIKit/UITableView.h"
#include "ZMPalettedViewController.h"

class CategoriesTableViewController : public ZMPalettedViewController,
                                      public UITableViewDataSource,
                                      public UITableViewDelegate {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 44;
    // Where the categories table starts in the scrolling column: expanding a
    // group scrolls to this plus 44 × the label's row, which puts the label on top.
    static constexpr int kOtherTableTop = 414;

    explicit CategoriesTableViewController(QWidget* parent = nullptr);
    ~CategoriesTableViewController() override;

    // Rebuilds both card's rows from the categories cache and folds every group.
    void setCategoriesArrays();
    // Exactly one argument true: unfolds that group (folding any other) or folds it.
    void manipulateAddonsArray(bool addons, bool themes, bool tweaks, bool widgets);
    void updateShadows();

    const std::vector<std::string>& defaultPackagesCategories() const { return defaultPackagesCategories_; }
    const std::vector<std::string>& otherPackagesCategories() const { return groups_.rows(); }
    const CategoryGroups& groups() const { return groups_; }
    UITableView* defaultCategoriesTableView() const { return defaultCard_.table; }
    UITableView* otherCategoriesTableView() const { return otherCard_.table; }
    QScrollArea* scrollView() const { return scrollView_; }
    UIViewController* lastPushedViewController() const { return lastPushed_; }

    // ---- tables ------------------------------------------------------------------------------
    int numberOfRows(UITableView* table, int section) override;
    UITableViewCell* cellForRow(UITableView* table, IndexPath indexPath) override;
    double heightForRow(UITableView*, IndexPath) override { return kRowHeight; }
    void willDisplayCell(UITableView* table, UITableViewCell* cell, IndexPath indexPath) override;
    void didSelectRow(UITableView* table, IndexPath indexPath) override;

    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void selectDefaultRow(int row);
    void push(UIViewController* vc);
    void setOtherTableHeight();
    void scrollTo(int y);

    std::vector<std::string> defaultPackagesCategories_;
    CategoryGroups groups_;
    QScrollArea* scrollView_ = nullptr;
    BrowsingCard defaultCard_;
    BrowsingCard otherCard_;
    ObserverBag observers_;
    QPointer<UIViewController> lastPushed_;
};
