#include "Details/WholeTextViewController.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "Browsing/BrowsingText.h"
#include "PackageCell.h"
#include "UIKit/UISwipeGesture.h"

WholeTextViewController::WholeTextViewController(const QString& title, const QString& text, QWidget* parent)
    : ZMPalettedViewController(parent), title_(title), text_(text) {
    setObjectName("WholeTextViewController");
}

void WholeTextViewController::viewDidLoad() {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 12, 16, 0);
    column->setSpacing(8);
    auto* top = new QHBoxLayout;
    titleLbl_ = new QLabel(title_);
    titleLbl_->setObjectName("titleLbl");
    titleLbl_->setTextFormat(Qt::PlainText);
    QFont bold = titleLbl_->font();
    bold.setBold(true);
    bold.setPixelSize(20);
    titleLbl_->setFont(bold);
    top->addWidget(titleLbl_, 1);
    closeBtn_ = new QPushButton(BrowsingText::q("Close"));
    closeBtn_->setObjectName("closeBtn");
    closeBtn_->setFlat(true);
    connect(closeBtn_, &QPushButton::clicked, this, [this] { dismissViewController(true); });
    top->addWidget(closeBtn_);
    column->addLayout(top);
    // A plain text view lays out only the paragraphs it shows: the text, in
    // short lines, is never laid out whole.
    textView_ = new QPlainTextEdit;
    textView_->setObjectName("wholeTextView");
    textView_->setReadOnly(true);
    textView_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    textView_->setFrameShape(QFrame::NoFrame);
    textView_->setUndoRedoEnabled(false);
    QFont font = textView_->font();
    font.setPixelSize(15);
    textView_->setFont(font);
    textView_->setPlainText(text_);
    column->addWidget(textView_, 1);
    setFocusProxy(textView_);
    UISwipeGesture::addRightSwipe(this, [this] { dismissViewController(true); });
}

void WholeTextViewController::paletteDidChange(const ZMPalette& palette) {
    QPalette p = QWidget::palette();
    p.setColor(QPalette::Window, palette.backgroundColor());
    setPalette(p);
    setAutoFillBackground(true);
    if (titleLbl_) PackageRow::setTextColor(titleLbl_, palette.primaryTextColor());
    if (textView_) {
        QPalette text = textView_->palette();
        text.setColor(QPalette::Base, palette.backgroundColor());
        text.setColor(QPalette::Text, palette.primaryTextColor());
        textView_->setPalette(text);
    }
}
