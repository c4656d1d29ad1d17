#pragma once
// The review card of the package details page's reviews strip: title,
// reviewer, five stars, vote counts and the text (with the note that the
// developer replied), on a card with corners of 13. The page fills it; the
// strip takes the clicks.
#include <QFrame>
#include <QLabel>
#include <QTextBrowser>
#include <array>
#include <string>

#include "Services/ZMReviews.h"

class ReviewsCell : public QFrame {
    Q_OBJECT
public:
    static constexpr int kHeight = 155;
    static constexpr double kCornerRadius = 13;
    explicit ReviewsCell(QWidget* parent = nullptr);

    QLabel* titleLbl() const { return titleLbl_; }
    QLabel* nameLbl() const { return nameLbl_; }
    const std::array<QLabel*, 5>& stars() const { return stars_; }
    QTextBrowser* voteLbl() const { return voteLbl_; }
    QTextBrowser* commentLbl() const { return commentLbl_; }

    // Fills the card from the review; `maintainer` names the developer who replied.
    void fill(const ZMReviews& review, const std::string& maintainer);
    // The card's colour and the colour of the name and text.
    void setColors(const QColor& card, const QColor& text);
    // The first `rating` (clamped to 0...5) stars filled: the other users' star image.
    void showStars(int64_t rating);

private:
    QLabel* titleLbl_;
    QLabel* nameLbl_;
    std::array<QLabel*, 5> stars_{};
    QTextBrowser* voteLbl_;
    QTextBrowser* commentLbl_;
};
