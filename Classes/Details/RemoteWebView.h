#pragma once
// A web page shown by vostrelle-webhost, a process of its own, and painted
// here from the pictures it sends. The web engine (its code, its threads, its
// memory) never comes into the program, its start-up never holds the
// interface, and it is all given back when the view goes: the process ends.
//
// The view stands for the whole page inside a scroll area: it is as tall as
// the page, and the process is told which part of it the area shows, so that
// the page is drawn at the window's size wherever it is scrolled. Mouse and
// keys go to the page; the wheel scrolls the area. A page that scrolls itself
// (an anchor, the keyboard) moves the area with it. The mouse's back and
// forward buttons are left to the screen, which steps in the page's history
// (goBack, goForward) or leaves it.
#include <QImage>
#include <QList>
#include <QPair>
#include <QPointer>
#include <QSizeF>
#include <QUrl>
#include <QVariant>
#include <QWidget>
#include <deque>
#include <functional>
#include <map>

#include "Details/WebDepictionChannel.h"

class QLocalSocket;
class QProcess;
class QScrollArea;

class RemoteWebView : public QWidget {
    Q_OBJECT
public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    explicit RemoteWebView(QWidget* parent = nullptr);
    ~RemoteWebView() override;

    // The program that shows the pages: beside the build's, else beside ours.
    static QString hostPath();
    // Ends at once the processes of views that are gone and that are still
    // running (a short grace, then killed), and reaps them. The program's
    // exit calls it (a post routine of the application).
    static void endRetiredProcesses();

    // The area whose viewport shows this view.
    void setScrollArea(QScrollArea* area);

    // Starts the process when it is not running. `headers` go with the
    // request; the identifiers among them only to `sourceHost`.
    void load(const QUrl& url, const Headers& headers, const QString& sourceHost, const QString& acceptLanguage);
    void runJavaScript(const QString& script, std::function<void(const QVariant&)> callback = {});

    QUrl url() const { return url_; }
    // The page's history, as last heard, and a step in it.
    bool canGoBack() const { return canGoBack_; }
    bool canGoForward() const { return canGoForward_; }
    void goBack();
    void goForward();
    QString title() const { return title_; }
    int refusedNavigationCount() const { return refusedNavigations_; }
    int refusedDownloadCount() const { return refusedDownloads_; }
    // The last picture of the page and the page's scroll offset it was taken at.
    const QImage& frame() const { return frame_; }
    int frameScrollY() const { return frameTop_; }
    qint64 hostProcessId() const;
    // The process ended on its own: the view says the page cannot be shown.
    bool hasFailed() const { return failed_; }

signals:
    void loadProgress(int percent);
    void loadFinished(bool ok);
    void contentsSizeChanged(const QSizeF& size);
    void historyChanged();

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;

private:
    void start();
    void handle(WebDepictionChannel::Type type, const QByteArray& payload);
    void receiveFrame(const QByteArray& payload);
    void followPageScroll(double y);
    // How far down the page the area's viewport begins.
    int visibleTop() const;
    void sendGeometry();
    void forwardMouse(QMouseEvent* e);
    void forwardKey(QKeyEvent* e);
    void fail(const char* why);

    QProcess* process_ = nullptr;
    QLocalSocket* socket_ = nullptr;
    WebDepictionChannel* channel_ = nullptr;
    QPointer<QScrollArea> area_;
    QUrl url_;
    QString title_;
    QImage frame_;
    int frameTop_ = 0;
    int pageTop_ = 0;  // the page's scroll offset, as last heard
    std::deque<int> requestedTops_;  // scroll offsets asked for and not yet heard back
    QRect sentGeometry_;
    int refusedNavigations_ = 0;
    int refusedDownloads_ = 0;
    int nextScript_ = 1;
    std::map<int, std::function<void(const QVariant&)>> scripts_;
    bool failed_ = false;
    bool canGoBack_ = false;
    bool canGoForward_ = false;
};
