#include "Details/AllReviewsCell.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "Details/ReviewText.h"

AllReviewsCell::AllReviewsCell(const QString& reuseIdentifier, QWidget* parent)
    : UITableViewCell(reuseIdentifier, parent),
      view_(new QFrame),
      titleLbl_(ReviewText::plainLabel()),
      nameLbl_(ReviewText::plainLabel()),
      voteLbl_(ReviewText::passiveTextView()),
      commentLbl_(ReviewText::passiveTextView()) {
    // The row takes the clicks.
    voteLbl_->setAttribute(Qt::WA_TransparentForMouseEvents);
    commentLbl_->setAttribute(Qt::WA_TransparentForMouseEvents);
    setSeparatorHidden(true);
    setSelectionStyle(SelectionStyle::None);
    auto* outer = new QVBoxLayout(contentView());
    outer->setContentsMargins(16, 8, 16, 8);
    outer->addWidget(view_);
    view_->setObjectName("reviewCard");

    auto* column = new QVBoxLayout(view_);
    column->setContentsMargins(14, 10, 14, 10);
    column->setSpacing(4);
    QFont bold = titleLbl_->font();
    bold.setBold(true);
    bold.setPixelSize(16);
    titleLbl_->setFont(bold);
    titleLbl_->setObjectName("titleLbl");
    column->addWidget(titleLbl_);

    auto* line = new QHBoxLayout;
    line->setSpacing(2);
    for (auto& star : stars_) {
        star = new QLabel;
        star->setFixedSize(16, 16);
        line->addWidget(star);
    }
    line->addSpacing(8);
    nameLbl_->setObjectName("nameLbl");
    line->addWidget(nameLbl_, 1);
    voteLbl_->setObjectName("voteLbl");
    voteLbl_->setFixedSize(90, 20);
    line->addWidget(voteLbl_, 0, Qt::AlignTop);
    column->addLayout(line);

    commentLbl_->setObjectName("commentLbl");
    // Long texts are cut at the card's end; the full review shows them whole.
    commentLbl_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
    column->addWidget(commentLbl_, 1);
}

void AllReviewsCell::setColors(const QColor& card, const QColor& text) {
    view_->setStyleSheet(QStringLiteral("#reviewCard { background: %1; border-radius: %2px; }")
                             .arg(card.name(QColor::HexArgb))
                             .arg(kCardCornerRadius));
    for (QWidget* w : std::initializer_list<QWidget*>{nameLbl_, commentLbl_}) {
        QPalette p = w->palette();
        p.setColor(QPalette::WindowText, text);
        p.setColor(QPalette::Text, text);
        w->setPalette(p);
    }
}
