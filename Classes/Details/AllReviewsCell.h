#pragma once
// One review in the review list (AllReviewsViewController): a card with
// corners of 13 holding the title, the reviewer, five stars, the vote counts
// and the text. The list fills it (ReviewText); texts and votes are views
// that let clicks through to the row.
#include <QFrame>
#include <QLabel>
#include <array>

#include "UIKit/UITableView.h"
#include "UIKit/UITableViewCell.h"
#include <QTextBrowser>

class AllReviewsCell : public UITableViewCell {
    Q_OBJECT
public:
    static constexpr double kCardCornerRadius = 13;
    static inline const QString kReuseIdentifier = QStringLiteral("cell");

    explicit AllReviewsCell(const QString& reuseIdentifier = kReuseIdentifier, QWidget* parent = nullptr);

    // Outlets.
    QFrame* view() const { return view_; }
    QLabel* titleLbl() const { return titleLbl_; }
    QLabel* nameLbl() const { return nameLbl_; }
    const std::array<QLabel*, 5>& stars() const { return stars_; }
    QTextBrowser* voteLbl() const { return voteLbl_; }
    QTextBrowser* commentLbl() const { return commentLbl_; }

    // The card's colour and the colour of the name and text.
    void setColors(const QColor& card, const QColor& text);

private:
    QFrame* view_;
    QLabel* titleLbl_;
    QLabel* nameLbl_;
    std::array<QLabel*, 5> stars_{};
    QTextBrowser* voteLbl_;
    QTextBrowser* commentLbl_;
};
