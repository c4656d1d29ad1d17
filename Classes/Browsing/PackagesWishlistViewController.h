#pragma once
// The packages on the user's wishlist (their isInWishlist mark, set on the
// details page and by the account's synchronisation), in the database's own
// order. A tap opens the package's details; rows cannot be swiped. With no
// package on the wishlist it says so, and its one button returns to the
// root of the navigation stack.
#include <QPointer>
#include <string>
#include <vector>

#include "UIKit/UITableView.h"
#include "ZMPalettedViewController.h"

class PackagesWishlistViewController : public ZMPalettedViewController,
                                       public UITableViewDataSource,
                                       public UITableViewDelegate {
    Q_OBJECT
public:
    static constexpr double kRowHeight = 70;

    explicit PackagesWishlistViewController(QWidget* parent = nullptr);
    ~PackagesWishlistViewController() override;

    void backSwipe();
    // The identifiers read at the last appearance, in database order.
    const std::vector<std::string>& packages() const { return identifiers_; }
    UITableView* wishlistTableView() const { return table_; }
    UIViewController* lastPushedViewController() const { return lastPushed_; }

    int numberOfRows(UITableView*, int) override { return static_cast<int>(identifiers_.size()); }
    UITableViewCell* cellForRow(UITableView* table, IndexPath indexPath) override;
    double heightForRow(UITableView*, IndexPath) override { return kRowHeight; }
    void didSelectRow(UITableView* table, IndexPath indexPath) override;

    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

private:
    void showEmptyAlert();
    std::vector<std::string> identifiers_;
    UITableView* table_ = nullptr;
    QPointer<UIViewController> lastPushed_;
};
