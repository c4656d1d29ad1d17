#pragma once
// Esc in a web page drawn in the program's own process (the in-app browser,
// the stores' pages) goes to the page first and, when the page has no use
// for it, on to the screen around it, as every key a page leaves unused: the
// sheet in front closes. The engine counts an Esc that carries its control
// character as typed text and never hands it back; the same key without the
// character is a plain key, which it hands back when the page did not take it
// (a page that calls preventDefault on it keeps it, as a browser's does).
#include <QObject>

class QWebEngineView;

class WebEscapeKey : public QObject {
    Q_OBJECT
public:
    // Watches `view` and the widgets the engine puts in it (one for each page
    // process it shows); owned by the view.
    static void install(QWebEngineView* view);

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    explicit WebEscapeKey(QWebEngineView* view);
};
