#include "WebEscapeKey.h"

#include <QApplication>
#include <QChildEvent>
#include <QKeyEvent>
#include <QWebEngineView>

WebEscapeKey::WebEscapeKey(QWebEngineView* view) : QObject(view) {
    view->installEventFilter(this);
    for (QObject* child : view->children()) child->installEventFilter(this);
}

void WebEscapeKey::install(QWebEngineView* view) {
    if (view) new WebEscapeKey(view);
}

bool WebEscapeKey::eventFilter(QObject* watched, QEvent* e) {
    if (watched == parent()) {
        // The widget that takes the page's keys is replaced when another process draws the page.
        if (e->type() == QEvent::ChildAdded) static_cast<QChildEvent*>(e)->child()->installEventFilter(this);
        return false;
    }
    if (e->type() != QEvent::KeyPress && e->type() != QEvent::KeyRelease) return false;
    const auto* key = static_cast<QKeyEvent*>(e);
    if (key->key() != Qt::Key_Escape || key->text().isEmpty()) return false;
    QKeyEvent plain(key->type(), key->key(), key->modifiers(), key->nativeScanCode(), key->nativeVirtualKey(),
                    key->nativeModifiers(), QString(), key->isAutoRepeat(), key->count(), key->device());
    QApplication::sendEvent(watched, &plain);
    e->setAccepted(plain.isAccepted());
    return true;
}
