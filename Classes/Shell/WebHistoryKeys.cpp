#include "WebHistoryKeys.h"

#include <QShortcut>
#include <QWebEngineHistory>
#include <QWidget>

WebHistoryKeys::WebHistoryKeys(QWidget* screen, std::function<QWebEngineHistory*()> history)
    : QObject(screen), screen_(screen), history_(std::move(history)) {
    back_ = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Left), screen, [this] { goBack(); });
    forward_ = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Right), screen, [this] { goForward(); });
    for (QShortcut* s : {back_, forward_}) {
        s->setContext(Qt::WindowShortcut);
        s->setEnabled(false);
    }
}

void WebHistoryKeys::update() {
    QWebEngineHistory* history = history_();
    const bool shown = screen_->isVisible();
    back_->setEnabled(shown && history && history->canGoBack());
    forward_->setEnabled(shown && history && history->canGoForward());
}

void WebHistoryKeys::goBack() {
    if (QWebEngineHistory* history = history_(); history && history->canGoBack()) history->back();
}

void WebHistoryKeys::goForward() {
    if (QWebEngineHistory* history = history_(); history && history->canGoForward()) history->forward();
}
