#include "UIKit/UITextView.h"

#include <QAbstractTextDocumentLayout>
#include <QKeyEvent>
#include <QPointer>
#include <QResizeEvent>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QThread>
#include <cmath>

#include "Dispatch/Dispatch.h"
#include "Dispatch/SerialQueue.h"

UITextView::UITextView(QWidget* parent) : QTextBrowser(parent) {
    setReadOnly(true);
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse);
    setFocusPolicy(Qt::ClickFocus);
    viewport()->setAutoFillBackground(false);
    setStyleSheet("QTextBrowser { background: transparent; }");
    document()->setDocumentMargin(0);
    // Text set later (setPlainText on this document) changes the height as well.
    followDocumentSize(document());
    connect(this, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        if (url == wholeTextLink()) emit wholeTextRequested();
        else emit linkActivated(url);
    });
}

QUrl UITextView::wholeTextLink() { return QUrl(QStringLiteral("vostrelle-text:whole")); }

QString UITextView::wholeText() const { return document()->property(kWholeTextProperty).toString(); }

// A build under way stops: its view went.
UITextView::~UITextView() {
    ++*latest_;
    // The document, built on the queue's thread, goes with the view (once this
    // event is done): that thread's idle work gives its memory back.
    if (auto queue = builtOn_.lock()) Dispatch::main([queue] { queue->idleAgain(); });
}

void UITextView::followDocumentSize(QTextDocument* doc) {
    disconnect(sizeConnection_);
    // The layout reports the size it has reached after each step; asking the
    // document for its size would lay all of it out at once.
    sizeConnection_ = connect(doc->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this, &UITextView::fitHeight);
}

void UITextView::setAttributedText(QTextDocument* doc) {
    ++*latest_;
    building_ = false;
    if (!doc) {
        clear();
        return;
    }
    // A document whose parent is the view is deleted by it when replaced.
    doc->setParent(this);
    doc->setDocumentMargin(0);
    // No layout until the view gives the page its width: a document's
    // layout, once made, lays it all out at the width it has (none, at first).
    doc->setPageSize(QSizeF(0, 0));
    // Setting a document lays it out as far down as the view reaches: from
    // one line, the layout's first step only, the rest in its timer's steps.
    documentHeight_ = 0;
    setFixedHeight(1);
    followDocumentSize(doc);
    setDocument(doc);
    layOutShortTextAtOnce();
}

void UITextView::layOutShortTextAtOnce() {
    // A short text is laid out whole in a few milliseconds: the page around
    // it never shows it growing (nor shrinking for a moment on a new width).
    const QVariant cost = document()->property(kLayoutCostProperty);
    if (cost.isValid() ? cost.toLongLong() <= kCostLaidOutAtOnce : document()->characterCount() <= kLaidOutAtOnce)
        fitHeight(document()->documentLayout()->documentSize());
}

void UITextView::setAttributedTextInBackground(DocumentBuilder build, const std::shared_ptr<Dispatch::SerialQueue>& queue) {
    const uint64_t number = ++*latest_;
    building_ = true;
    builtOn_ = queue;
    // No QPointer goes to the worker: the view is found again on the GUI
    // thread, alive exactly while its latest text is this one (the
    // destructor moves the number on there).
    QThread* gui = thread();
    queue->async([view = this, number, gui, latest = latest_, build = std::move(build)] {
        auto superseded = [latest, number] { return latest->load() != number; };
        if (superseded()) return;  // another text came first, or the view went: not worth building
        std::unique_ptr<QTextDocument> doc = build(superseded);
        if (superseded()) return;
        // Built here, shown there: the document (and what it holds) moves to the GUI thread whole.
        if (doc) doc->moveToThread(gui);
        auto built = std::make_shared<std::unique_ptr<QTextDocument>>(std::move(doc));
        Dispatch::main([view, number, latest, built] {
            if (latest->load() != number) {
                // Dropped here, where it now lives: the worker may let go of the last copy of this block.
                built->reset();
                return;
            }
            view->setAttributedText(built->release());
            emit view->attributedTextShown();
        });
    });
}

bool UITextView::isLaidOut() const {
    // The layout goes down the document in order: its last paragraph is the last laid out.
    const QTextBlock last = document()->lastBlock();
    return last.isValid() && last.layout() && last.layout()->lineCount() > 0;
}

QVariant UITextView::loadResource(int, const QUrl&) { return {}; }

QSize UITextView::sizeHint() const { return {QTextBrowser::sizeHint().width(), std::max(documentHeight_, 1)}; }

void UITextView::resizeEvent(QResizeEvent* e) {
    // Not QTextEdit's own: on a new width it lays the document out down to
    // the view's bottom at once, which for this view is the whole text. A
    // new page width starts the layout again in steps; the height follows.
    // (A view of no width keeps the width it had: one character a line.)
    if (e->size().width() == e->oldSize().width() || viewport()->width() <= 0) return;
    document()->setPageSize(QSizeF(viewport()->width(), -1));
    layOutShortTextAtOnce();
}

void UITextView::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        if (!(e->modifiers() & Qt::ShiftModifier)) {
            e->ignore();  // the page's
            return;
        }
        break;
    default:
        break;
    }
    QTextBrowser::keyPressEvent(e);
}

void UITextView::fitHeight(const QSizeF& documentSize) {
    documentHeight_ = static_cast<int>(std::ceil(documentSize.height()));
    const int h = std::max(documentHeight_, 1);
    if (h != height()) setFixedHeight(h);
}
