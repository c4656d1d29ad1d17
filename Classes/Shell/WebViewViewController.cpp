#include "WebViewViewController.h"

#include <QProgressBar>
#include <QVBoxLayout>
#include <QWebEngineDownloadRequest>
#include <QWebEngineFileSystemAccessRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineProfile>
#include <QWebEngineRegisterProtocolHandlerRequest>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestJob>
#include <QTimer>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>
#include <QWebEngineHistory>
#include <QToolButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>

#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMURLSchemeHandler.h"
#include "WebEscapeKey.h"
#include "WebHistoryKeys.h"
#include "ZMMailLink.h"

VostrelleWebPage::VostrelleWebPage(QWebEngineProfile* profile, QObject* parent) : QWebEnginePage(profile, parent) {
    QWebEngineSettings* s = settings();
    s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanPaste, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    s->setAttribute(QWebEngineSettings::AllowWindowActivationFromJavaScript, false);
    s->setAttribute(QWebEngineSettings::ScreenCaptureEnabled, false);
    s->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    connect(this, &QWebEnginePage::featurePermissionRequested, this, [this](const QUrl& origin, Feature feature) {
        setFeaturePermission(origin, feature, PermissionDeniedByUser);
    });
    connect(this, &QWebEnginePage::fullScreenRequested, this, [](QWebEngineFullScreenRequest r) { r.reject(); });
    connect(this, &QWebEnginePage::registerProtocolHandlerRequested, this,
            [](QWebEngineRegisterProtocolHandlerRequest r) { r.reject(); });
    connect(this, &QWebEnginePage::fileSystemAccessRequested, this, [](QWebEngineFileSystemAccessRequest r) { r.reject(); });
}

namespace {
// Answers a scheme that no page of its profile may load.
class RefusedSchemeHandler : public QWebEngineUrlSchemeHandler {
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
    void requestStarted(QWebEngineUrlRequestJob* job) override { job->fail(QWebEngineUrlRequestJob::RequestDenied); }
};
}  // namespace

QWebEngineProfile* VostrelleWebPage::makeProfile(QObject* parent) {
    auto* profile = new QWebEngineProfile(parent);  // no storage name: off the record
    QObject::connect(profile, &QWebEngineProfile::downloadRequested, profile, [](QWebEngineDownloadRequest* d) {
        ZMLOG("download refused: {}", d->url().toString().toStdString());
        d->cancel();
    });
    // The stores' callback scheme is known to the whole engine; a profile that
    // does not serve it must still have its pages ask (and refuse) such a link
    // rather than let the engine replace the page with a blank one. The store
    // pages catch their own top-level callbacks before anything loads, so
    // what reaches this handler (an image, a frame) is refused there too.
    const QByteArray callbacks = ZMURLSchemeHandler::kStoreCallbackScheme;
    if (!QWebEngineUrlScheme::schemeByName(callbacks).name().isEmpty())
        profile->installUrlSchemeHandler(callbacks, new RefusedSchemeHandler(profile));
    return profile;
}

QStringList VostrelleWebPage::chooseFiles(FileSelectionMode, const QStringList&, const QStringList&) { return {}; }

bool VostrelleWebPage::isNavigationAllowed(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == "http" || scheme == "https") && !url.host().isEmpty();
}

bool VostrelleWebPage::acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) {
    if (isNavigationAllowed(url)) return true;
    // The callback scheme: only this page's own top-level navigation counts,
    // never a frame's (an embedded foreign page could plant one).
    if (!callbackScheme_.isEmpty() && url.scheme().toLower() == callbackScheme_) {
        if (isMainFrame && callbackHandler_) {
            QTimer::singleShot(0, this, [handler = callbackHandler_, url] { handler(url); });
        } else {
            ++refused_;
            ZMLOG("refused a callback from a frame");
        }
        return false;
    }
    ++refused_;
    if (url.scheme().compare("mailto", Qt::CaseInsensitive) == 0) {
        ZMMailLink::open(url);
    } else {
        // Without query and fragment: links may carry credentials.
        ZMLOG("refused navigation to {}", url.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo)
                                              .toString()
                                              .toStdString());
    }
    return false;
}

QWebEnginePage* VostrelleWebPage::createWindow(WebWindowType) {
    // Links that ask for a new window open here.
    return this;
}

WebViewViewController::WebViewViewController(QWidget* parent) : ZMPalettedViewController(parent) {}

WebViewViewController::WebViewViewController(QWebEngineProfile* profile, const QString& callbackScheme,
                                             std::function<void(const QUrl&)> onCallback, QWidget* parent)
    : ZMPalettedViewController(parent),
      profile_(profile),
      ownProfile_(false),
      callbackScheme_(callbackScheme),
      onCallback_(std::move(onCallback)) {}

WebViewViewController::~WebViewViewController() {
    // The page must go before its profile.
    if (webView_) webView_->setPage(nullptr);
    delete page_;
    page_ = nullptr;
}

void WebViewViewController::viewDidLoad() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (ownProfile_) profile_ = VostrelleWebPage::makeProfile(this);
    page_ = new VostrelleWebPage(profile_, nullptr);
    if (!callbackScheme_.isEmpty()) page_->setCallbackHandler(callbackScheme_, onCallback_);
    progress_ = new QProgressBar(this);
    progress_->setTextVisible(false);
    progress_->setFixedHeight(2);
    progress_->setRange(0, 100);
    progress_->hide();
    webView_ = new QWebEngineView(this);
    webView_->setPage(page_);
    WebEscapeKey::install(webView_);
    layout->addWidget(progress_);
    layout->addWidget(buildHistoryBar());
    layout->addWidget(webView_, 1);
    connect(page_, &QWebEnginePage::loadStarted, progress_, &QWidget::show);
    connect(page_, &QWebEnginePage::loadProgress, progress_, &QProgressBar::setValue);
    connect(page_, &QWebEnginePage::loadFinished, progress_, &QWidget::hide);
}

QWidget* WebViewViewController::buildHistoryBar() {
    // A page's dead end is not the sheet's: Back and Forward walk the page's
    // history, by these buttons or Alt+Left/Right.
    auto* bar = new QWidget(this);
    bar->setObjectName("historyBar");
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(8, 2, 8, 2);
    row->setSpacing(4);
    // Named buttons a pointer finds: an icon and the word, as a browser's.
    auto makeButton = [this, bar, row](const char* name, QStyle::StandardPixmap icon, const char* title, const char* keys) {
        auto* b = new QToolButton(bar);
        b->setObjectName(name);
        b->setIcon(style()->standardIcon(icon, nullptr, b));
        b->setText(QString::fromStdString(ZMLocalizedString(title)));
        b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        b->setMinimumHeight(28);
        b->setAutoRaise(true);
        b->setToolTip(b->text() + " (" + keys + ")");
        b->setEnabled(false);
        row->addWidget(b);
        return b;
    };
    // Names of their own: "backButton" is the navigation bar's, which the
    // application's style sheet draws in the tint colour whatever its state.
    backBtn_ = makeButton("historyBackButton", QStyle::SP_ArrowBack, "Back", "Alt+Left");
    forwardBtn_ = makeButton("historyForwardButton", QStyle::SP_ArrowForward, "Forward", "Alt+Right");
    row->addStretch(1);
    // Where the page is now, whatever the sheet's title says: a page that asks
    // for a password shows whose it is.
    hostLabel_ = new QLabel(bar);
    hostLabel_->setObjectName("hostLabel");
    hostLabel_->setTextFormat(Qt::PlainText);
    row->addWidget(hostLabel_);
    connect(page_, &QWebEnginePage::urlChanged, hostLabel_,
            [this](const QUrl& url) { hostLabel_->setText(url.host() + (url.port() > 0 ? ":" + QString::number(url.port()) : "")); });
    connect(backBtn_, &QToolButton::clicked, this, &WebViewViewController::goBack);
    connect(forwardBtn_, &QToolButton::clicked, this, &WebViewViewController::goForward);
    historyKeys_ = new WebHistoryKeys(this, [this] { return page_ ? page_->history() : nullptr; });
    auto update = [this] { updateHistoryButtons(); };
    connect(page_, &QWebEnginePage::urlChanged, this, update);
    connect(page_, &QWebEnginePage::loadFinished, this, update);
    return bar;
}

void WebViewViewController::updateHistoryButtons() {
    if (!page_ || !backBtn_) return;
    const bool back = page_->history()->canGoBack(), forward = page_->history()->canGoForward();
    backBtn_->setEnabled(back);
    forwardBtn_->setEnabled(forward);
    historyKeys_->update();
}

void WebViewViewController::goBack() {
    if (historyKeys_) historyKeys_->goBack();
}

void WebViewViewController::goForward() {
    if (historyKeys_) historyKeys_->goForward();
}

void WebViewViewController::setViewTitle(const std::string& title) { setTitle(QString::fromStdString(title)); }

void WebViewViewController::setWebsiteURL(const QUrl& url) {
    websiteURL_ = url;
    if (isOnScreen()) viewWillAppear(false);
}

void WebViewViewController::viewWillAppear(bool) {
    // Coming back from a link followed inside the page keeps that page.
    if (!page_ || websiteURL_.isEmpty() || websiteURL_ == loadedURL_) return;
    loadedURL_ = websiteURL_;
    if (!VostrelleWebPage::isNavigationAllowed(websiteURL_)) {
        ZMLOG("refused to load {}", websiteURL_.adjusted(QUrl::RemoveQuery).toString().toStdString());
        return;
    }
    page_->load(websiteURL_);
}

void WebViewViewController::viewDidAppear(bool) { updateHistoryButtons(); }

void WebViewViewController::viewDidDisappear(bool) { updateHistoryButtons(); }

