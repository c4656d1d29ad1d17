#include "Details/WholeTextViewController.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "Browsing/BrowsingText.h"
#include "UIKit/UIBarButtonItem.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UISwipeGesture.h"

WholeTextViewController::WholeTextViewController(const QString& title, const QString& text, QWidget* parent)
    : ZMPalettedViewController(parent), text_(text) {
    setObjectName("WholeTextViewController");
    setTitle(title);
}

UINavigationController* WholeTextViewController::sheet(const QString& title, const QString& text) {
    auto* nav = new UINavigationController(new WholeTextViewController(title, text));
    nav->setModalPresentationStyle(UIViewController::ModalPresentationStyle::FormSheet);
    return nav;
}

void WholeTextViewController::viewDidLoad() {
    navigationItem()->setLeftBarButtonItem(
        new UIBarButtonItem(BrowsingText::q("Close"), [this](UIBarButtonItem*) { close(); }, navigationItem()));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 8, 8, 0);
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
    column->addWidget(textView_);
    setFocusProxy(textView_);
    UISwipeGesture::addRightSwipe(this, [this] { close(); });
}

void WholeTextViewController::close() {
    if (auto* nav = navigationController(); nav && nav->presentingViewController())
        nav->presentingViewController()->dismissViewController(true);
}

void WholeTextViewController::paletteDidChange(const ZMPalette& palette) {
    QPalette p = QWidget::palette();
    p.setColor(QPalette::Window, palette.backgroundColor());
    setPalette(p);
    setAutoFillBackground(true);
    if (textView_) {
        QPalette text = textView_->palette();
        text.setColor(QPalette::Base, palette.backgroundColor());
        text.setColor(QPalette::Text, palette.primaryTextColor());
        textView_->setPalette(text);
    }
}
