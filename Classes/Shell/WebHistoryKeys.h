#pragma once
// Alt+Left and Alt+Right walk a web page's history like the screen's arrows.
// They are the window's keys, whatever has the focus (a page that navigates
// drops it), but only while the screen is shown and has somewhere to go:
// otherwise Alt+Left leaves the screen, as it does everywhere.
#include <QObject>
#include <functional>

class QShortcut;
class QWebEngineHistory;
class QWidget;

class WebHistoryKeys : public QObject {
    Q_OBJECT
public:
    // A history the screen reaches through these (a page in another process).
    struct Steps {
        std::function<bool()> canGoBack, canGoForward;
        std::function<void()> back, forward;
    };
    WebHistoryKeys(QWidget* screen, Steps steps);
    // `history` is asked each time (the page may not exist yet: null).
    WebHistoryKeys(QWidget* screen, std::function<QWebEngineHistory*()> history);

    // Turns the keys on or off from the history and whether the screen is shown.
    void update();
    // One step back or forward, when there is one; false when there is none.
    bool goBack();
    bool goForward();

private:
    QWidget* screen_;
    Steps steps_;
    QShortcut* back_;
    QShortcut* forward_;
};
