#include "Details/AllReviewsCell.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace {

// A text of fixed size, cut at its end; the row takes the clicks.
QTextBrowser* passiveTextView() {
    auto* view = new QTextBrowser;
    view->setOpenLinks(false);
    view->setFrameShape(QFrame::NoFrame);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setAttribute(Qt::WA_TransparentForMouseEvents);
    view->setFocusPolicy(Qt::NoFocus);
    view->viewport()->setAutoFillBackground(false);
    view->setStyleSheet(QStringLiteral("QTextBrowser { background: transparent; }"));
    view->document()->setDocumentMargin(0);
    return view;
}

QLabel* plainLabel() {
    auto* label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return label;
}

}  // namespace

AllReviewsCell::AllReviewsCell(const QString& reuseIdentifier, QWidget* parent)
    : UITableViewCell(reuseIdentifier, parent),
      view_(new QFrame),
      titleLbl_(plainLabel()),
      nameLbl_(plainLabel()),
      voteLbl_(passiveTextView()),
      commentLbl_(passiveTextView()) {
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
