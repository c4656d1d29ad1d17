#pragma once
// The reviews section of the package details page: its title, "See All",
// the average rating, a strip with the first review's card (ReviewsCell),
// the no-reviews label, and the buttons that contact the developer and leave
// a review. With reviews the strip and the average show and the buttons sit
// below the strip; without, the label shows and the buttons hang 30 below it.
// A click on the card or "See All" asks for every review.
#include <QLabel>
#include <QPushButton>
#include <string>
#include <vector>

#include "Services/ZMReviews.h"
#include "UIKit/UICollectionView.h"

class ZMPalette;

class PackageReviewsSection : public QWidget, public UICollectionViewDataSource {
    Q_OBJECT
public:
    explicit PackageReviewsSection(QWidget* parent = nullptr);

    QLabel* reviewsTitle() const { return reviewsTitle_; }
    QPushButton* seeAllReviewsBtn() const { return seeAllReviewsBtn_; }
    QLabel* packageRatingLbl() const { return packageRatingLbl_; }
    QLabel* packageRatingSubLbl() const { return packageRatingSubLbl_; }
    UICollectionView* reviewsCollectionView() const { return reviewsCollectionView_; }
    QLabel* reviewsLbl() const { return reviewsLbl_; }
    QPushButton* contactDeveloperBtn() const { return contactDeveloperBtn_; }
    QPushButton* leaveReviewBtn() const { return leaveReviewBtn_; }
    // The gap above the two buttons.
    int buttonsTopGap() const;

    // The reviews the strip shows (its first) and the maintainer named in reply notes.
    void setReviews(const std::vector<ZMReviews>* reviews, const std::string& maintainer);
    // Shows the strip and the average (some reviews) or the no-reviews label.
    void layoutForReviews(bool any);
    void applyPalette(const ZMPalette& palette, bool darkMode);

    int numberOfItems(UICollectionView*) override;
    QWidget* cellForItem(UICollectionView*, int index) override;
    QSize sizeForItem(UICollectionView*, int index) override;
    void didSelectItem(UICollectionView*, int index) override { emit reviewsTapped(); }

signals:
    void reviewsTapped();
    void contactTapped();
    void leaveReviewTapped();

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    const std::vector<ZMReviews>* reviews_ = nullptr;
    std::string maintainer_;
    QColor cardColor_, textColor_;
    QLabel* reviewsTitle_;
    QPushButton* seeAllReviewsBtn_;
    QLabel* packageRatingLbl_;
    QLabel* packageRatingSubLbl_;
    UICollectionView* reviewsCollectionView_;
    QLabel* reviewsLbl_;
    QWidget* buttons_;
    QPushButton* contactDeveloperBtn_;
    QPushButton* leaveReviewBtn_;
};
