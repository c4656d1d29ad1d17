#pragma once
// The inside of vostrelle-webhost: one web depiction in the web engine, out of
// the program's process. It takes the page's request, its size and scroll
// position, and the user's mouse and keys over a WebDepictionChannel, and
// sends back the page's picture whenever it changes, with its size, scroll
// position, progress, address and title.
//
// The page is confined as the program's own web pages are (VostrelleWebPage).
// The package's source host alone gets the device identifiers: a redirect
// from it to another host is followed with a new request without them.
#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QPair>
#include <QTimer>
#include <QUrl>
#include <QWebEngineHttpRequest>

#include "Details/WebDepictionChannel.h"

class QWebEngineProfile;
class QWebEngineView;
class VostrelleWebPage;

class WebDepictionHost : public QObject {
    Q_OBJECT
public:
    explicit WebDepictionHost(WebDepictionChannel* channel, QObject* parent = nullptr);
    ~WebDepictionHost() override;

    using Headers = QList<QPair<QByteArray, QByteArray>>;

private:
    void handle(WebDepictionChannel::Type type, const QByteArray& payload);
    void ensurePage();
    void load(const QUrl& url, bool withIdentity);
    bool isSourceHost(const QUrl& url) const;
    void sendFrame();
    void busy();  // something may have changed the picture: look often for a while
    void deliverMouse(const QByteArray& payload);
    void deliverKey(const QByteArray& payload);
    void sendHistory();
    QWidget* input() const;

    WebDepictionChannel* channel_;
    QWebEngineProfile* profile_ = nullptr;
    VostrelleWebPage* page_ = nullptr;
    QWebEngineView* view_ = nullptr;
    QWebEngineHttpRequest request_;
    QString sourceHost_;
    QTimer frameTimer_;
    QElapsedTimer sinceBusy_;
    QImage lastFrame_;
    int lastFrameScroll_ = -1;
    int refusedNavigations_ = 0;
    int refusedDownloads_ = 0;
    int lastCursor_ = -1;
    int lastHistory_ = -1;  // the last canGoBack/canGoForward sent, as two bits
    bool focused_ = false;  // the program's view has the focus
};
