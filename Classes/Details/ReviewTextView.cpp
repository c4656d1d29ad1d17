#include "Details/ReviewTextView.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>

ReviewTextView::ReviewTextView(int maximumLength, QWidget* parent)
    : QPlainTextEdit(parent), maximumLength_(maximumLength) {
    setTabChangesFocus(true);
}

bool ReviewTextView::acceptsReplacement(const QString& inserted) const {
    const QTextCursor cursor = textCursor();
    // characterCount() counts the document's closing paragraph mark too.
    const qsizetype length = document()->characterCount() - 1;
    const qsizetype selected = cursor.selectionEnd() - cursor.selectionStart();
    return length - selected + inserted.size() <= maximumLength_;
}

bool ReviewTextView::refuse(const QString& inserted) {
    if (inserted.isEmpty() || acceptsReplacement(inserted)) return false;
    ++refused_;
    return true;
}

void ReviewTextView::keyPressEvent(QKeyEvent* e) {
    QString inserted = e->text();
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) inserted = QStringLiteral("\n");
    // Control keys (moves, deletions, shortcuts) insert nothing of their own;
    // a paste shortcut comes back through insertFromMimeData.
    const bool typesText = !inserted.isEmpty() && (inserted == "\n" || inserted.at(0).isPrint()) &&
                           !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (typesText && refuse(inserted)) return;
    QPlainTextEdit::keyPressEvent(e);
}

void ReviewTextView::inputMethodEvent(QInputMethodEvent* e) {
    if (refuse(e->commitString())) {
        e->setCommitString(QString());
    }
    QPlainTextEdit::inputMethodEvent(e);
}

void ReviewTextView::insertFromMimeData(const QMimeData* source) {
    if (source && source->hasText() && refuse(source->text())) return;
    QPlainTextEdit::insertFromMimeData(source);
}
