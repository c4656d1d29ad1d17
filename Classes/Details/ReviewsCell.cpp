#include "Details/ReviewsCell.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QVBoxLayout>

#include "Details/ReviewText.h"
#include "ZMSvgPixmap.h"

static void initReviewsCellResources() { Q_INIT_RESOURCE(Reviews); }

namespace {

constexpr int kStarSide = 16;

}  // namespace

ReviewsCell::ReviewsCell(QWidget* parent)
    : QFrame(parent),
      titleLbl_(ReviewText::plainLabel("titleLbl")),
      nameLbl_(ReviewText::plainLabel("nameLbl")),
      voteLbl_(ReviewText::passiveTextView("voteLbl")),
      commentLbl_(ReviewText::passiveTextView("commentLbl")) {
    static const bool ready = (initReviewsCellResources(), true);
    (void)ready;
    setObjectName("ReviewsCell");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(14, 10, 14, 10);
    column->setSpacing(4);
    QFont bold = titleLbl_->font();
    bold.setBold(true);
    bold.setPixelSize(16);
    titleLbl_->setFont(bold);
    column->addWidget(titleLbl_);
    auto* line = new QHBoxLayout;
    line->setSpacing(2);
    for (size_t i = 0; i < stars_.size(); ++i) {
        stars_[i] = new QLabel;
        stars_[i]->setObjectName(QStringLiteral("rating%1").arg(i + 1));
        stars_[i]->setFixedSize(kStarSide, kStarSide);
        line->addWidget(stars_[i]);
    }
    line->addSpacing(8);
    line->addWidget(nameLbl_, 1);
    voteLbl_->setFixedSize(90, 20);
    line->addWidget(voteLbl_, 0, Qt::AlignTop);
    column->addLayout(line);
    commentLbl_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);  // cut at the card's end
    column->addWidget(commentLbl_, 1);
    // The strip takes the clicks (a click opens every review).
    for (QWidget* w : findChildren<QWidget*>()) w->setAttribute(Qt::WA_TransparentForMouseEvents);
}

void ReviewsCell::showStars(int64_t rating) {
    const int full = ReviewText::clampedStars(rating);
    const QPixmap filled = ZMSvgPixmap::pixmap(QStringLiteral(":/Images/Reviews/starOtherUsers.svg"), kStarSide * 2);
    for (int i = 0; i < 5; ++i) {
        stars_[i]->setPixmap(i < full ? filled : ReviewText::star(false, kStarSide * 2));
        stars_[i]->setScaledContents(true);
        stars_[i]->setProperty("starFilled", i < full);
    }
}

void ReviewsCell::fill(const ZMReviews& review, const std::string& maintainer) {
    titleLbl_->setText(ReviewText::capitalizedWords(QString::fromStdString(review.title)));
    nameLbl_->setText(QString::fromStdString(review.name));
    ReviewText::fillVotes(voteLbl_->document(), review);
    ReviewText::fillListComment(commentLbl_->document(), review, maintainer);
    showStars(review.rating);
}

void ReviewsCell::setColors(const QColor& card, const QColor& text) {
    setStyleSheet(QStringLiteral("#ReviewsCell { background: %1; border-radius: %2px; }")
                      .arg(card.name(QColor::HexArgb))
                      .arg(kCornerRadius));
    for (QWidget* w : std::initializer_list<QWidget*>{nameLbl_, commentLbl_}) {
        QPalette p = w->palette();
        p.setColor(QPalette::WindowText, text);
        p.setColor(QPalette::Text, text);
        w->setPalette(p);
    }
}
