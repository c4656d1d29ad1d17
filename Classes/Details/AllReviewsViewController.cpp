#include "Details/AllReviewsViewController.h"

#include <QVBoxLayout>
#include <algorithm>

#include "Browsing/BrowsingText.h"
#include "Browsing/SourceAddition.h"
#include "Details/AllReviewsCell.h"
#include "Details/FullReviewViewController.h"
#include "Details/ReviewText.h"
#include "Dispatch/Dispatch.h"
#include "Services/ZMPackageRatings.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UISwipeGesture.h"

AllReviewsViewController::AllReviewsViewController(QWidget* parent) : ZMPalettedViewController(parent) {}

AllReviewsViewController::~AllReviewsViewController() {
    if (table_) {
        table_->setDataSource(nullptr);
        table_->setDelegate(nullptr);
    }
}

void AllReviewsViewController::viewDidLoad() {
    setTitle(BrowsingText::q("All Reviews"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    table_ = new UITableView(UITableView::Style::Plain);
    table_->setObjectName("reviewsTableView");
    layout->addWidget(table_);
    table_->setDataSource(this);
    table_->setDelegate(this);
    table_->setRowHeight(kRowHeight);
    table_->registerCell(AllReviewsCell::kReuseIdentifier, [] { return new AllReviewsCell; });
    table_->setSeparatorColor(Qt::transparent);
    UISwipeGesture::addRightSwipe(this, [this] { backSwipe(); });
}

void AllReviewsViewController::viewWillAppear(bool) {
    table_->setBackgroundColor(Qt::transparent);
    fetchReviews();
}

void AllReviewsViewController::fetchReviews() {
    const int generation = ++generation_;
    QPointer<AllReviewsViewController> self(this);
    ZMPackageRatings().getReviews(packageIdentifier_, [self, generation](std::optional<std::string> status,
                                                                         std::vector<ZMReviews> reviews) {
        Dispatch::main([self, generation, ok = status.has_value(), reviews = std::move(reviews)]() mutable {
            if (!self) return;
            ++self->answered_;
            // Only the latest fetch speaks for the list.
            if (generation != self->generation_) return;
            if (!ok) reviews.clear();
            std::reverse(reviews.begin(), reviews.end());
            self->packageReviews_ = std::move(reviews);
            self->table_->reloadData();
        });
    });
}

void AllReviewsViewController::backSwipe() {
    if (auto* nav = navigationController(); nav && nav->topViewController() == this && nav->viewControllers().size() > 1)
        nav->popViewController(true);
}

UITableViewCell* AllReviewsViewController::cellForRow(UITableView* table, IndexPath ip) {
    auto* cell = table->dequeueReusableCell<AllReviewsCell>(AllReviewsCell::kReuseIdentifier);
    cell->setBackgroundColor(Qt::transparent);
    const ZMPalette colors = palette();
    cell->setColors(colors.foregroundColor(), colors.primaryTextColor());
    if (ip.row < 0 || ip.row >= static_cast<int>(packageReviews_.size())) return cell;
    const ZMReviews& review = packageReviews_[ip.row];
    cell->titleLbl()->setText(ReviewText::capitalizedWords(QString::fromStdString(review.title)));
    cell->nameLbl()->setText(QString::fromStdString(review.name));
    ReviewText::fillVotes(cell->voteLbl()->document(), review);
    ReviewText::fillListComment(cell->commentLbl()->document(), review, maintainer_);
    ReviewText::showStars(cell->stars(), review.rating);
    return cell;
}

void AllReviewsViewController::didSelectRow(UITableView* table, IndexPath ip) {
    table->deselectRow(ip, true);
    if (ip.row < 0 || ip.row >= static_cast<int>(packageReviews_.size())) return;
    auto* full = new FullReviewViewController;
    full->setReview(packageReviews_[ip.row]);
    full->setMaintainer(maintainer_);
    lastPushed_ = full;
    if (auto* nav = navigationController()) nav->pushViewController(full, true);
    else SourceAddition::topPresenter(this)->presentViewController(new UINavigationController(full), true);
}

void AllReviewsViewController::paletteDidChange(const ZMPalette& palette) {
    QPalette p = QWidget::palette();
    p.setColor(QPalette::Window, palette.backgroundColor());
    setPalette(p);
    setAutoFillBackground(true);
    if (table_) table_->reloadData();
}
