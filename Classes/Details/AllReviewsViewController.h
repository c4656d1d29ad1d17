#pragma once
// Every review of one package, newest first (the server's order reversed),
// fetched anew each time the screen is about to appear, so that votes and
// replies given on a review show on return. A tap opens the whole review
// (FullReviewViewController). A failed fetch shows an empty list; the reply
// of an older fetch that arrives after a newer one is dropped.
#include <QPointer>
#include <string>
#include <vector>

#include "Services/ZMReviews.h"
#include "UIKit/UITableView.h"
#include "ZMPalettedViewController.h"

class AllReviewsViewController : public ZMPalettedViewController,
                                 public UITableViewDataSource,
                                 public UITableViewDelegate {
    Q_OBJECT
public:
    static constexpr double kRowHeight = 175;

    explicit AllReviewsViewController(QWidget* parent = nullptr);
    ~AllReviewsViewController() override;

    void setPackageIdentifier(const std::string& identifier) { packageIdentifier_ = identifier; }
    // The package's maintainer as its record holds it.
    void setMaintainer(const std::string& maintainer) { maintainer_ = maintainer; }
    const std::string& packageIdentifier() const { return packageIdentifier_; }
    const std::string& maintainer() const { return maintainer_; }

    const std::vector<ZMReviews>& packageReviews() const { return packageReviews_; }
    UITableView* reviewsTableView() const { return table_; }
    UIViewController* lastPushedViewController() const { return lastPushed_; }
    // How many fetches have been answered (and applied or dropped).
    int answeredFetchCount() const { return answered_; }

    void backSwipe();

    int numberOfRows(UITableView*, int) override { return static_cast<int>(packageReviews_.size()); }
    UITableViewCell* cellForRow(UITableView* table, IndexPath indexPath) override;
    double heightForRow(UITableView*, IndexPath) override { return kRowHeight; }
    void didSelectRow(UITableView* table, IndexPath indexPath) override;
    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

private:
    void fetchReviews();
    std::string packageIdentifier_;
    std::string maintainer_;
    std::vector<ZMReviews> packageReviews_;
    UITableView* table_ = nullptr;
    QPointer<UIViewController> lastPushed_;
    int generation_ = 0;
    int answered_ = 0;
};
