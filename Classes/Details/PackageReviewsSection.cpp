#include "Details/PackageReviewsSection.h"

#include <QHBoxLayout>
#include <QResizeEvent>
#include <QVBoxLayout>

#include "Browsing/BrowsingText.h"
#include "Details/DetailsSectionWidgets.h"
#include "Details/ReviewsCell.h"
#include "ZMPalette.h"

using namespace DetailsSectionWidgets;
using BrowsingText::q;

PackageReviewsSection::PackageReviewsSection(QWidget* parent)
    : QWidget(parent),
      reviewsTitle_(titleLabel("reviewsTitle", q("Ratings & Reviews"))),
      seeAllReviewsBtn_(linkButton("seeAllReviewsBtn", q("See All"))),
      packageRatingLbl_(plainLabel("packageRatingLbl")),
      packageRatingSubLbl_(plainLabel("packageRatingSubLbl")),
      reviewsCollectionView_(new UICollectionView),
      reviewsLbl_(plainLabel("reviewsLbl", true)),
      buttons_(new QWidget),
      contactDeveloperBtn_(filledButton("contactDeveloperBtn", q("Contact Developer"))),
      leaveReviewBtn_(filledButton("leaveReviewBtn", q("Leave a Review"))) {
    setObjectName("reviewsSection");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 0);
    column->setSpacing(8);
    auto* top = new QHBoxLayout;
    top->addWidget(reviewsTitle_, 1);
    top->addWidget(seeAllReviewsBtn_);
    column->addLayout(top);
    auto* average = new QHBoxLayout;
    QFont big = packageRatingLbl_->font();
    big.setPixelSize(44);
    big.setBold(true);
    packageRatingLbl_->setFont(big);
    average->addWidget(packageRatingLbl_);
    packageRatingSubLbl_->setText(q("out of 5"));
    average->addWidget(packageRatingSubLbl_, 0, Qt::AlignBottom);
    average->addStretch(1);
    column->addLayout(average);
    reviewsCollectionView_->setObjectName("reviewsCollectionView");
    reviewsCollectionView_->setDataSource(this);
    reviewsCollectionView_->setSpacing(20);
    reviewsCollectionView_->setContentInsets(0, 0);
    column->addWidget(reviewsCollectionView_);
    reviewsLbl_->setText(q("There are no reviews for this package yet."));
    column->addWidget(reviewsLbl_);
    auto* row = new QHBoxLayout(buttons_);
    row->setContentsMargins(0, 20, 0, 0);
    row->setSpacing(12);
    for (QPushButton* b : {contactDeveloperBtn_, leaveReviewBtn_}) {
        // Titles that do not fit shrink rather than cut.
        b->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        row->addWidget(b, 1);
    }
    column->addWidget(buttons_);
    column->addWidget(separator("reviewsSeparator"));
    connect(seeAllReviewsBtn_, &QPushButton::clicked, this, &PackageReviewsSection::reviewsTapped);
    connect(contactDeveloperBtn_, &QPushButton::clicked, this, &PackageReviewsSection::contactTapped);
    connect(leaveReviewBtn_, &QPushButton::clicked, this, &PackageReviewsSection::leaveReviewTapped);
    layoutForReviews(false);
}

int PackageReviewsSection::buttonsTopGap() const { return topGap(buttons_); }

void PackageReviewsSection::setReviews(const std::vector<ZMReviews>* reviews, const std::string& maintainer) {
    reviews_ = reviews;
    maintainer_ = maintainer;
}

void PackageReviewsSection::layoutForReviews(bool any) {
    for (QWidget* w : std::initializer_list<QWidget*>{seeAllReviewsBtn_, packageRatingLbl_, packageRatingSubLbl_,
                                                      reviewsCollectionView_})
        w->setVisible(any);
    reviewsLbl_->setVisible(!any);
    setTopGap(buttons_, any ? 20 : 30);
    if (any) reviewsCollectionView_->reloadData();
}

int PackageReviewsSection::numberOfItems(UICollectionView*) { return reviews_ && !reviews_->empty() ? 1 : 0; }

QWidget* PackageReviewsSection::cellForItem(UICollectionView*, int) {
    auto* cell = new ReviewsCell;
    cell->setColors(cardColor_, textColor_);
    // Index 0 of an empty list is never read: a list emptied since the reload draws a blank card.
    if (reviews_ && !reviews_->empty()) cell->fill(reviews_->front(), maintainer_);
    return cell;
}

QSize PackageReviewsSection::sizeForItem(UICollectionView* view, int) {
    return {std::max(1, view->viewport()->width()), ReviewsCell::kHeight};
}

void PackageReviewsSection::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    if (e->size().width() != e->oldSize().width() && reviewsCollectionView_->isVisible()) reviewsCollectionView_->reloadData();
}

void PackageReviewsSection::applyPalette(const ZMPalette& palette, bool darkMode) {
    cardColor_ = palette.foregroundColor();
    textColor_ = palette.primaryTextColor();
    const QColor title = darkMode ? palette.primaryTextColor() : palette.getButtonTextColor();
    const QColor fill = darkMode ? palette.highlightColor() : palette.getButtonBackgoundColor();
    for (QPushButton* b : {contactDeveloperBtn_, leaveReviewBtn_})
        b->setStyleSheet(QStringLiteral("QPushButton { color: %1; background: %2; border: none; border-radius: 10px; "
                                        "padding: 0 10px; font-weight: 600; }")
                             .arg(title.name(), fill.name()));
    seeAllReviewsBtn_->setStyleSheet(QStringLiteral("QPushButton { color: %1; border: none; }").arg(palette.tintColor().name()));
    colorSeparators(this, palette.separatorColor());
    if (reviewsCollectionView_->isVisible()) reviewsCollectionView_->reloadData();
}
