#include "UIKit/UITextView.h"

#include <QAbstractTextDocumentLayout>
#include <QResizeEvent>
#include <QTextDocument>
#include <cmath>

UITextView::UITextView(QWidget* parent) : QTextBrowser(parent) {
    setReadOnly(true);
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse);
    viewport()->setAutoFillBackground(false);
    setStyleSheet("QTextBrowser { background: transparent; }");
    document()->setDocumentMargin(0);
    // Text set later (setPlainText on this document) changes the height as well.
    followDocumentSize(document());
    connect(this, &QTextBrowser::anchorClicked, this, &UITextView::linkActivated);
}

void UITextView::followDocumentSize(QTextDocument* doc) {
    connect(doc->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this, &UITextView::fitHeight);
}

void UITextView::setAttributedText(QTextDocument* doc) {
    if (!doc) {
        clear();
        fitHeight();
        return;
    }
    // A document whose parent is the view is deleted by it when replaced.
    doc->setParent(this);
    doc->setDocumentMargin(0);
    setDocument(doc);
    followDocumentSize(doc);
    fitHeight();
}

QVariant UITextView::loadResource(int, const QUrl&) { return {}; }

QSize UITextView::sizeHint() const {
    QTextDocument* doc = document();
    doc->setTextWidth(viewport()->width() > 0 ? viewport()->width() : 320);
    return {QTextBrowser::sizeHint().width(), static_cast<int>(std::ceil(doc->size().height()))};
}

void UITextView::resizeEvent(QResizeEvent* e) {
    QTextBrowser::resizeEvent(e);
    if (e->size().width() != e->oldSize().width()) fitHeight();
}

void UITextView::fitHeight() {
    document()->setTextWidth(viewport()->width() > 0 ? viewport()->width() : 320);
    const int h = static_cast<int>(std::ceil(document()->size().height()));
    if (h != height()) setFixedHeight(std::max(h, 1));
}
