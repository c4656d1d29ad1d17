#include "Details/WebDepictionHost.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWebEngineDownloadRequest>
#include <QWebEngineHistory>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <cmath>

#include "Miscellaneous/ZMLog.h"
#include "UIKit/UIApplication.h"
#include "WebViewViewController.h"

namespace {

// While the page may be changing (loading, scrolled, clicked) its picture is
// looked at this often; otherwise rarely, for what changes by itself (an
// animation, a late image).
constexpr int kBusyFrameMs = 33;
constexpr int kIdleFrameMs = 500;
constexpr qint64 kBusyForMs = 1500;

// Dragging over a depiction selects no text (a drag here means to move the page).
QWebEngineScript noSelectionScript() {
    QWebEngineScript script;
    script.setName(QStringLiteral("vostrelle-no-selection"));
    script.setInjectionPoint(QWebEngineScript::DocumentReady);
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setRunsOnSubFrames(false);
    script.setSourceCode(QStringLiteral(
        "(function(){var s=document.createElement('style');"
        "s.textContent='*{-webkit-user-select:none !important;user-select:none !important;}';"
        "(document.head||document.documentElement).appendChild(s);})();"));
    return script;
}

// The confined page, with a say over redirects.
class DepictionPage : public VostrelleWebPage {
public:
    using RedirectRule = std::function<bool(const QUrl&)>;
    DepictionPage(QWebEngineProfile* profile, RedirectRule rule, QObject* parent)
        : VostrelleWebPage(profile, parent), rule_(std::move(rule)) {}

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
        if (type == NavigationTypeRedirect && isMainFrame && VostrelleWebPage::isNavigationAllowed(url) && !rule_(url))
            return false;
        return VostrelleWebPage::acceptNavigationRequest(url, type, isMainFrame);
    }

private:
    RedirectRule rule_;
};

bool isMouseEvent(int type) {
    return type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
           type == QEvent::MouseButtonDblClick || type == QEvent::MouseMove;
}

}  // namespace

WebDepictionHost::WebDepictionHost(WebDepictionChannel* channel, QObject* parent) : QObject(parent), channel_(channel) {
    connect(channel_, &WebDepictionChannel::received, this, &WebDepictionHost::handle);
    // Mail links leave through the program, which hands them to the desktop.
    UIApplication::setURLOpener([this](const QUrl& url) {
        channel_->send(WebDepictionChannel::Type::OpenExternally, url);
        return true;
    });
    frameTimer_.setSingleShot(true);
    connect(&frameTimer_, &QTimer::timeout, this, [this] {
        sendFrame();
        frameTimer_.start(sinceBusy_.isValid() && sinceBusy_.elapsed() < kBusyForMs ? kBusyFrameMs : kIdleFrameMs);
    });
}

WebDepictionHost::~WebDepictionHost() {
    UIApplication::setURLOpener(nullptr);
    // The page must go before its profile.
    if (view_) view_->setPage(nullptr);
    delete page_;
    delete view_;
}

bool WebDepictionHost::isSourceHost(const QUrl& url) const {
    return !sourceHost_.isEmpty() && url.host().compare(sourceHost_, Qt::CaseInsensitive) == 0;
}

QWidget* WebDepictionHost::input() const { return view_->focusProxy() ? view_->focusProxy() : view_; }

void WebDepictionHost::busy() {
    sinceBusy_.start();
    if (frameTimer_.remainingTime() > kBusyFrameMs) frameTimer_.start(kBusyFrameMs);
}

void WebDepictionHost::ensurePage() {
    if (page_) return;
    using T = WebDepictionChannel::Type;
    profile_ = VostrelleWebPage::makeProfile(this);
    connect(profile_, &QWebEngineProfile::downloadRequested, this, [this](QWebEngineDownloadRequest*) {
        ++refusedDownloads_;
        channel_->send(T::Refusals, page_->refusedNavigationCount(), refusedDownloads_);
    });
    page_ = new DepictionPage(
        profile_,
        [this](const QUrl& target) {
            if (isSourceHost(target)) return true;
            // Followed afresh, without the identifiers.
            QTimer::singleShot(0, this, [this, target] { load(target, false); });
            return false;
        },
        nullptr);
    page_->scripts().insert(noSelectionScript());
    // The program's scroll area scrolls the page: it shows no scroll bar of its own.
    page_->settings()->setAttribute(QWebEngineSettings::ShowScrollBars, false);
    view_ = new QWebEngineView;
    // Its menus would open in a window nobody sees.
    view_->setContextMenuPolicy(Qt::NoContextMenu);
    view_->setPage(page_);
    view_->resize(800, 600);
    view_->show();
    QApplication::setActiveWindow(view_);

    connect(page_, &QWebEnginePage::loadProgress, this, [this](int percent) {
        channel_->send(T::LoadProgress, percent);
        busy();
    });
    connect(page_, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        // A new page may come with a new input widget: it gets the focus the program's view has.
        if (focused_) input()->setFocus(Qt::OtherFocusReason);
        channel_->send(T::LoadFinished, ok);
        sendHistory();
        busy();
    });
    connect(page_, &QWebEnginePage::urlChanged, this, [this](const QUrl& url) {
        channel_->send(T::UrlChanged, url);
        sendHistory();
    });
    connect(page_, &QWebEnginePage::titleChanged, this,
            [this](const QString& title) { channel_->send(T::TitleChanged, title); });
    connect(page_, &QWebEnginePage::contentsSizeChanged, this, [this](const QSizeF& size) {
        channel_->send(T::ContentsSize, size);
        busy();
    });
    connect(page_, &QWebEnginePage::scrollPositionChanged, this, [this](const QPointF& position) {
        channel_->send(T::ScrollPosition, position);
        busy();
    });
    // A refused navigation has no signal of its own: it is noticed with the pictures.
    frameTimer_.start(kBusyFrameMs);
    sinceBusy_.start();
}

void WebDepictionHost::load(const QUrl& url, bool withIdentity) {
    if (!page_ || !VostrelleWebPage::isNavigationAllowed(url)) return;
    QWebEngineHttpRequest r = request_;
    r.setUrl(url);
    if (!withIdentity || !isSourceHost(url)) {
        r.unsetHeader("X-Cydia-ID");
        r.unsetHeader("X-Unique-ID");
    }
    page_->load(r);
    busy();
}

void WebDepictionHost::sendFrame() {
    if (!view_) return;
    if (page_->refusedNavigationCount() != refusedNavigations_) {
        refusedNavigations_ = page_->refusedNavigationCount();
        channel_->send(WebDepictionChannel::Type::Refusals, refusedNavigations_, refusedDownloads_);
    }
    // The program has not taken the last picture yet (it is busy): the next look will do,
    // rather than pictures piling up here.
    if (channel_->pendingBytes() > 0) return;
    QImage frame = view_->grab().toImage();
    if (frame.isNull()) return;
    if (frame.format() != QImage::Format_RGB32) frame = frame.convertToFormat(QImage::Format_RGB32);
    const int scroll = static_cast<int>(std::lround(page_->scrollPosition().y()));
    if (scroll == lastFrameScroll_ && frame == lastFrame_) return;
    lastFrame_ = frame;
    lastFrameScroll_ = scroll;
    // 32-bit rows are never padded: the pixels are width × 4 bytes a row as they lie.
    channel_->send(WebDepictionChannel::Type::Frame, scroll, frame.width(), frame.height(), frame.devicePixelRatio(),
                   QByteArray::fromRawData(reinterpret_cast<const char*>(frame.constBits()), frame.sizeInBytes()));
}

void WebDepictionHost::sendHistory() {
    // The program's Back (Alt+Left, the mouse's back button) steps in the page while it can.
    const bool back = page_->history()->canGoBack(), forward = page_->history()->canGoForward();
    const int history = (back ? 1 : 0) | (forward ? 2 : 0);
    if (history == lastHistory_) return;
    lastHistory_ = history;
    channel_->send(WebDepictionChannel::Type::History, back, forward);
}

void WebDepictionHost::deliverMouse(const QByteArray& payload) {
    int type = 0, button = 0, buttons = 0, modifiers = 0;
    QPointF position;
    if (!WebDepictionChannel::read(payload, type, position, button, buttons, modifiers) || !isMouseEvent(type)) return;
    QWidget* target = input();
    QMouseEvent event(static_cast<QEvent::Type>(type), position, target->mapToGlobal(position),
                      static_cast<Qt::MouseButton>(button), Qt::MouseButtons(buttons), Qt::KeyboardModifiers(modifiers));
    QApplication::sendEvent(target, &event);
    const int shape = target->cursor().shape();
    if (shape != lastCursor_) {
        lastCursor_ = shape;
        channel_->send(WebDepictionChannel::Type::Cursor, shape);
    }
    if (type != QEvent::MouseMove) busy();
}

void WebDepictionHost::deliverKey(const QByteArray& payload) {
    int type = 0, key = 0, modifiers = 0;
    QString text;
    bool autoRepeat = false;
    quint32 scanCode = 0, virtualKey = 0, nativeModifiers = 0;
    if (!WebDepictionChannel::read(payload, type, key, modifiers, text, autoRepeat, scanCode, virtualKey,
                                   nativeModifiers) ||
        (type != QEvent::KeyPress && type != QEvent::KeyRelease))
        return;
    QKeyEvent event(static_cast<QEvent::Type>(type), key, Qt::KeyboardModifiers(modifiers), scanCode, virtualKey,
                    nativeModifiers, text, autoRepeat);
    QApplication::sendEvent(input(), &event);
    busy();
}

void WebDepictionHost::handle(WebDepictionChannel::Type type, const QByteArray& payload) {
    using T = WebDepictionChannel::Type;
    switch (type) {
    case T::Load: {
        QUrl url;
        Headers headers;
        QString acceptLanguage;
        if (!WebDepictionChannel::read(payload, url, headers, sourceHost_, acceptLanguage)) return;
        ensurePage();
        request_ = QWebEngineHttpRequest(url);
        for (const auto& [name, value] : headers) request_.setHeader(name, value);
        profile_->setHttpUserAgent(QString::fromUtf8(request_.header("User-Agent")));
        profile_->setHttpAcceptLanguage(acceptLanguage);
        load(url, true);
        break;
    }
    case T::Geometry: {
        int width = 0, height = 0, scrollY = 0;
        if (!WebDepictionChannel::read(payload, width, height, scrollY)) return;
        ensurePage();
        const QSize size(std::clamp(width, 1, 8192), std::clamp(height, 1, 8192));
        if (view_->size() != size) view_->resize(size);
        if (std::lround(page_->scrollPosition().y()) != scrollY)
            page_->runJavaScript(QStringLiteral("window.scrollTo(window.scrollX, %1)").arg(std::max(0, scrollY)),
                                 QWebEngineScript::ApplicationWorld);
        busy();
        break;
    }
    case T::Mouse:
        if (view_) deliverMouse(payload);
        break;
    case T::Key:
        if (view_) deliverKey(payload);
        break;
    case T::Focus: {
        bool focused = false;
        if (!view_ || !WebDepictionChannel::read(payload, focused)) return;
        focused_ = focused;
        if (focused) input()->setFocus(Qt::OtherFocusReason);
        else input()->clearFocus();
        break;
    }
    case T::Navigate: {
        int step = 0;
        if (!page_ || !WebDepictionChannel::read(payload, step)) return;
        QWebEngineHistory* history = page_->history();
        if (step < 0 && history->canGoBack()) history->back();
        else if (step > 0 && history->canGoForward()) history->forward();
        busy();
        break;
    }
    case T::RunJavaScript: {
        int id = 0;
        QString script;
        if (!page_ || !WebDepictionChannel::read(payload, id, script)) return;
        page_->runJavaScript(script, [this, id](const QVariant& result) {
            channel_->send(WebDepictionChannel::Type::JavaScriptResult, id, result);
        });
        busy();
        break;
    }
    default:
        ZMLOG("web depiction host: unknown message {}", static_cast<int>(type));
    }
}
