#include "Details/RemoteWebView.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLocalSocket>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <cmath>
#include <utility>
#include <vector>

#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMPaths.h"
#include "VostrelleBuildPaths.h"
#include "ZMMailLink.h"

namespace {

constexpr int kChannelDescriptor = 3;
constexpr int kLargestSide = 8192;
// How long a closed page's process has to end by itself before it is killed.
constexpr int kQuitGraceMs = 5000;

// How long the program's exit waits for retired processes to end by
// themselves (they were told when their views went) before killing them.
constexpr int kExitGraceMs = 300;

// The processes of views that are gone and that have not ended yet.
std::vector<QPointer<QProcess>>& retiredProcesses() {
    static std::vector<QPointer<QProcess>> processes;
    return processes;
}

// Kills what is still running (after `graceMs` for all of them together),
// reaps it and frees it.
void endNow(const std::vector<QPointer<QProcess>>& processes, int graceMs) {
    QElapsedTimer waited;
    waited.start();
    for (const QPointer<QProcess>& process : processes) {
        if (!process) continue;
        if (process->state() != QProcess::NotRunning &&
            !process->waitForFinished(static_cast<int>(std::max<qint64>(0, graceMs - waited.elapsed())))) {
            process->kill();
            process->waitForFinished(1000);  // SIGKILL: a moment, to reap it
        }
        delete process.data();
    }
}

// The process of a view that is gone ends in the background: the interface
// never waits for it. One still running when the program exits is ended
// then, so that no page's process outlives the program.
void retire(QProcess* process, QLocalSocket* socket) {
    if (socket) {
        socket->abort();
        socket->setParent(nullptr);  // not deleted with the view: it may be inside one of its own signals
        socket->deleteLater();
    }
    if (!process) return;
    process->setParent(nullptr);
    if (!QCoreApplication::instance()) {  // no event loop any more to end it later
        endNow({process}, 0);
        return;
    }
    if (process->state() == QProcess::NotRunning) {
        process->deleteLater();
        return;
    }
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    QTimer::singleShot(kQuitGraceMs, process, [process] { process->kill(); });
    auto& retired = retiredProcesses();
    std::erase_if(retired, [](const QPointer<QProcess>& p) { return p.isNull(); });
    retired.emplace_back(process);
    static const bool atExit = (qAddPostRoutine(RemoteWebView::endRetiredProcesses), true);
    (void)atExit;
}

}  // namespace

RemoteWebView::RemoteWebView(QWidget* parent) : QWidget(parent) {
    setObjectName("webView");
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

RemoteWebView::~RemoteWebView() {
    if (process_) disconnect(process_, nullptr, this, nullptr);
    retire(process_, socket_);
}

void RemoteWebView::endRetiredProcesses() {
    const std::vector<QPointer<QProcess>> retired = std::exchange(retiredProcesses(), {});
    endNow(retired, kExitGraceMs);
}

QString RemoteWebView::hostPath() {
    return QString::fromStdString(ZMPaths::companionProgram(VOSTRELLE_WEBHOST_BUILD_PATH, "vostrelle-webhost"));
}

qint64 RemoteWebView::hostProcessId() const { return process_ ? process_->processId() : 0; }

void RemoteWebView::setScrollArea(QScrollArea* area) {
    area_ = area;
    if (!area) return;
    area->viewport()->installEventFilter(this);
    connect(area->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { sendGeometry(); });
}

void RemoteWebView::fail(const char* why) {
    if (failed_) return;
    ZMLOG("web depiction: {}", why);
    failed_ = true;
    frame_ = QImage();
    update();
    emit loadFinished(false);
}

void RemoteWebView::start() {
    if (process_ || failed_) return;
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        fail("no socket for the page's process");
        return;
    }
    process_ = new QProcess(this);
    process_->setProgram(hostPath());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::number(devicePixelRatioF()));
    process_->setProcessEnvironment(environment);
    process_->setProcessChannelMode(QProcess::ForwardedChannels);  // its messages go to our log
    const int childEnd = fds[1];
    process_->setChildProcessModifier([childEnd] {
        // Only async-signal-safe calls here: this runs between fork and exec.
        if (childEnd == kChannelDescriptor) ::fcntl(childEnd, F_SETFD, 0);
        else ::dup2(childEnd, kChannelDescriptor);
    });
    connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) fail("the page's process could not start");
    });
    connect(process_, &QProcess::finished, this, [this] { fail("the page's process ended"); });
    process_->start();
    ::close(childEnd);

    socket_ = new QLocalSocket(this);
    if (!socket_->setSocketDescriptor(fds[0])) {
        ::close(fds[0]);
        fail("the page's channel could not open");
        return;
    }
    channel_ = new WebDepictionChannel(socket_, socket_, this);
    connect(channel_, &WebDepictionChannel::received, this, &RemoteWebView::handle);
    connect(channel_, &WebDepictionChannel::failed, this, [this] { fail("the page's process sent something unreadable"); });
    if (hasFocus()) channel_->send(WebDepictionChannel::Type::Focus, true);
}

void RemoteWebView::load(const QUrl& url, const Headers& headers, const QString& sourceHost,
                         const QString& acceptLanguage) {
    start();
    if (!channel_) return;
    channel_->send(WebDepictionChannel::Type::Load, url, headers, sourceHost, acceptLanguage);
    sentGeometry_ = QRect();
    sendGeometry();
}

void RemoteWebView::goBack() {
    if (channel_ && canGoBack_) channel_->send(WebDepictionChannel::Type::Navigate, -1);
}

void RemoteWebView::goForward() {
    if (channel_ && canGoForward_) channel_->send(WebDepictionChannel::Type::Navigate, 1);
}

void RemoteWebView::runJavaScript(const QString& script, std::function<void(const QVariant&)> callback) {
    if (!channel_) return;
    const int id = nextScript_++;
    if (callback) scripts_[id] = std::move(callback);
    channel_->send(WebDepictionChannel::Type::RunJavaScript, id, script);
}

int RemoteWebView::visibleTop() const {
    return area_ ? std::max(0, -mapTo(area_->viewport(), QPoint(0, 0)).y()) : 0;
}

void RemoteWebView::sendGeometry() {
    if (!channel_ || width() <= 0) return;
    const int viewport = area_ ? area_->viewport()->height() : height();
    const int top = visibleTop();
    const QRect geometry(0, top, std::clamp(width(), 1, kLargestSide), std::clamp(viewport, 1, kLargestSide));
    if (geometry == sentGeometry_) return;
    if (geometry.top() != sentGeometry_.top()) {
        requestedTops_.push_back(top);
        if (requestedTops_.size() > 64) requestedTops_.pop_front();
    }
    sentGeometry_ = geometry;
    channel_->send(WebDepictionChannel::Type::Geometry, geometry.width(), geometry.height(), top);
}

void RemoteWebView::followPageScroll(double y) {
    const int top = static_cast<int>(std::lround(y));
    pageTop_ = top;
    // The echo of an offset we asked for is not news.
    for (auto it = requestedTops_.begin(); it != requestedTops_.end(); ++it) {
        if (std::abs(*it - top) <= 1) {
            requestedTops_.erase(requestedTops_.begin(), it + 1);
            return;
        }
    }
    // The page moved itself: the area follows, so that what is shown is where it is.
    if (!area_ || !area_->widget()) return;
    requestedTops_.clear();
    if (std::abs(visibleTop() - top) <= 1) return;  // it shows that already (the header above may be in view)
    sentGeometry_.moveTop(top);
    area_->verticalScrollBar()->setValue(mapTo(area_->widget(), QPoint(0, 0)).y() + top);
}

void RemoteWebView::receiveFrame(const QByteArray& payload) {
    int top = 0, width = 0, height = 0;
    qreal ratio = 1;
    QByteArray pixels;
    if (!WebDepictionChannel::read(payload, top, width, height, ratio, pixels)) return;
    if (width < 1 || height < 1 || width > kLargestSide * 8 || height > kLargestSide * 8 || !(ratio > 0 && ratio <= 8) ||
        pixels.size() != static_cast<qsizetype>(width) * height * 4)
        return;
    frame_ = QImage(reinterpret_cast<const uchar*>(pixels.constData()), width, height, width * 4, QImage::Format_RGB32)
                 .copy();
    frame_.setDevicePixelRatio(ratio);
    frameTop_ = pageTop_ = std::max(0, top);
    update();
}

void RemoteWebView::handle(WebDepictionChannel::Type type, const QByteArray& payload) {
    using T = WebDepictionChannel::Type;
    switch (type) {
    case T::Frame:
        receiveFrame(payload);
        break;
    case T::ContentsSize: {
        QSizeF size;
        if (WebDepictionChannel::read(payload, size) && size.isValid()) emit contentsSizeChanged(size);
        break;
    }
    case T::ScrollPosition: {
        QPointF position;
        if (WebDepictionChannel::read(payload, position) && std::isfinite(position.y())) followPageScroll(position.y());
        break;
    }
    case T::LoadProgress: {
        int percent = 0;
        if (WebDepictionChannel::read(payload, percent)) emit loadProgress(std::clamp(percent, 0, 100));
        break;
    }
    case T::LoadFinished: {
        bool ok = false;
        if (!WebDepictionChannel::read(payload, ok)) return;
        // A page loaded again (the appearance changed) starts at its top: it is
        // moved to what the area shows. At the top, the page may have gone to an
        // anchor of its address, and the area follows it instead.
        if (visibleTop() > 0) {
            sentGeometry_ = QRect();
            sendGeometry();
        }
        emit loadFinished(ok);
        break;
    }
    case T::UrlChanged:
        WebDepictionChannel::read(payload, url_);
        break;
    case T::TitleChanged:
        WebDepictionChannel::read(payload, title_);
        break;
    case T::Refusals:
        WebDepictionChannel::read(payload, refusedNavigations_, refusedDownloads_);
        break;
    case T::OpenExternally: {
        // Only a mail link is handed out by a page.
        QUrl url;
        if (WebDepictionChannel::read(payload, url) && url.scheme().compare("mailto", Qt::CaseInsensitive) == 0)
            ZMMailLink::open(url);
        break;
    }
    case T::Cursor: {
        int shape = 0;
        if (WebDepictionChannel::read(payload, shape) && shape >= 0 && shape <= Qt::LastCursor)
            setCursor(static_cast<Qt::CursorShape>(shape));
        break;
    }
    case T::History: {
        bool back = false, forward = false;
        if (!WebDepictionChannel::read(payload, back, forward)) return;
        canGoBack_ = back;
        canGoForward_ = forward;
        emit historyChanged();
        break;
    }
    case T::JavaScriptResult: {
        int id = 0;
        QVariant result;
        if (!WebDepictionChannel::read(payload, id, result)) return;
        auto it = scripts_.find(id);
        if (it == scripts_.end()) return;
        auto callback = std::move(it->second);
        scripts_.erase(it);
        callback(result);
        break;
    }
    default:
        ZMLOG("web depiction: unexpected message {}", static_cast<int>(type));
    }
}

void RemoteWebView::paintEvent(QPaintEvent* e) {
    QPainter painter(this);
    painter.fillRect(e->rect(), palette().color(QPalette::Window));
    if (!frame_.isNull()) painter.drawImage(QPointF(0, frameTop_), frame_);
    if (failed_) {
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(rect().adjusted(20, 20, -20, -20), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
                         QString::fromStdString(ZMLocalizedString("This page could not be shown.")));
    }
}

void RemoteWebView::forwardMouse(QMouseEvent* e) {
    if (!channel_) return;
    // To the page's own coordinates: the page is scrolled to pageTop_ in its window.
    const QPointF position = e->position() - QPointF(0, pageTop_);
    channel_->send(WebDepictionChannel::Type::Mouse, static_cast<int>(e->type()), position, static_cast<int>(e->button()),
                   static_cast<int>(e->buttons()), static_cast<int>(e->modifiers()));
}

void RemoteWebView::forwardKey(QKeyEvent* e) {
    if (!channel_) return;
    channel_->send(WebDepictionChannel::Type::Key, static_cast<int>(e->type()), e->key(), static_cast<int>(e->modifiers()),
                   e->text(), e->isAutoRepeat(), e->nativeScanCode(), e->nativeVirtualKey(), e->nativeModifiers());
}

void RemoteWebView::wheelEvent(QWheelEvent* e) {
    // The page is as tall as it is: the wheel moves the area (a synthesized
    // wheel event would not travel up to it by itself).
    if (!area_) {
        e->ignore();
        return;
    }
    QApplication::sendEvent(area_->verticalScrollBar(), e);
    e->accept();
}

void RemoteWebView::keyPressEvent(QKeyEvent* e) {
    forwardKey(e);
    // Esc closes what the screen shows, as everywhere else.
    if (e->key() == Qt::Key_Escape) e->ignore();
}

void RemoteWebView::keyReleaseEvent(QKeyEvent* e) {
    forwardKey(e);
    if (e->key() == Qt::Key_Escape) e->ignore();
}

bool RemoteWebView::event(QEvent* e) {
    switch (e->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove: {
        // Back and forward are the screen's (the page's history first, then out of it).
        const auto button = static_cast<QMouseEvent*>(e)->button();
        if (button == Qt::BackButton || button == Qt::ForwardButton) {
            e->ignore();
            return false;
        }
        forwardMouse(static_cast<QMouseEvent*>(e));
        if (e->type() == QEvent::MouseButtonPress) setFocus(Qt::MouseFocusReason);
        return true;
    }
    case QEvent::FocusIn:
    case QEvent::FocusOut:
        if (channel_) channel_->send(WebDepictionChannel::Type::Focus, e->type() == QEvent::FocusIn);
        break;
    case QEvent::Resize:
    case QEvent::Move:
    case QEvent::Show:
        QTimer::singleShot(0, this, [this] { sendGeometry(); });
        break;
    default:
        break;
    }
    return QWidget::event(e);
}

bool RemoteWebView::eventFilter(QObject* watched, QEvent* e) {
    if (area_ && watched == area_->viewport() && e->type() == QEvent::Resize) sendGeometry();
    return QWidget::eventFilter(watched, e);
}
