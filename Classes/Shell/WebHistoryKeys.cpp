#include "WebHistoryKeys.h"

#include <QShortcut>
#include <QWebEngineHistory>
#include <QWidget>

WebHistoryKeys::WebHistoryKeys(QWidget* screen, Steps steps) : QObject(screen), screen_(screen), steps_(std::move(steps)) {
    back_ = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Left), screen, [this] { goBack(); });
    forward_ = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Right), screen, [this] { goForward(); });
    for (QShortcut* s : {back_, forward_}) {
        s->setContext(Qt::WindowShortcut);
        s->setEnabled(false);
    }
}

WebHistoryKeys::WebHistoryKeys(QWidget* screen, std::function<QWebEngineHistory*()> history)
    : WebHistoryKeys(screen, Steps{[history] {
                                       QWebEngineHistory* h = history();
                                       return h && h->canGoBack();
                                   },
                                   [history] {
                                       QWebEngineHistory* h = history();
                                       return h && h->canGoForward();
                                   },
                                   [history] { history()->back(); }, [history] { history()->forward(); }}) {}

void WebHistoryKeys::update() {
    const bool shown = screen_->isVisible();
    back_->setEnabled(shown && steps_.canGoBack());
    forward_->setEnabled(shown && steps_.canGoForward());
}

bool WebHistoryKeys::goBack() {
    if (!steps_.canGoBack()) return false;
    steps_.back();
    return true;
}

bool WebHistoryKeys::goForward() {
    if (!steps_.canGoForward()) return false;
    steps_.forward();
    return true;
}
