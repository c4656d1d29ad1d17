#include "Details/WebDepictionViewController.h"

#include "Database/ZMRPackages.h"
#include "Browsing/PackageRows.h"
#include "Details/PackageDetailsViewController.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLocale>
#include <QMouseEvent>
#include <QPropertyAnimation>
#include <QTimer>
#include <QVBoxLayout>
#include <QApplication>
#include <algorithm>
#include <cmath>
#include <functional>

#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageManager.h"
#include "Database/ZMRSource.h"
#include "Depictions/ZMDepictionSettings.h"
#include "Details/RemoteWebView.h"
#include "Foundation/URL.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMPlatform.h"
#include "PackageCell.h"
#include "UIKit/GetButton.h"
#include "UIKit/UIAlertController.h"
#include "UIKit/UIApplication.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UIViewController.h"
#include "WebHistoryKeys.h"
#include "WebViewViewController.h"
#include "ZMVostrelle.h"
#include "ZMStoreGuard.h"

namespace {

constexpr const char* kUserAgent = "Telesphoreo APT-HTTP/1.0.592";
// A page is shown as tall as it is, up to this (a page that claims more is cut).
constexpr int kMaximumContainerHeight = 1000000;

QString q(const std::string& s) { return QString::fromStdString(s); }

QLabel* plainLabel(const char* name) {
    auto* l = new QLabel;
    l->setObjectName(name);
    l->setTextFormat(Qt::PlainText);
    return l;
}

std::string lowercase(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

}  // namespace

WebDepictionViewController::WebDepictionViewController(QWidget* parent) : ZMPalettedViewController(parent) {
    setObjectName("WebDepictionViewController");
}

WebDepictionViewController::~WebDepictionViewController() = default;

bool WebDepictionViewController::isSourceHost(const QUrl& url) const {
    return !sourceHost_.empty() && lowercase(url.host().toStdString()) == sourceHost_;
}

void WebDepictionViewController::viewDidLoad() {
    setOverrideLargeTitles(true);
    firstAppear_ = true;
    if (auto package = ZMStoreGuard::record<ZMRPackage>("reading a package", packageIdentifier_))
        if (auto source = URL::parse(package->sourceLocation)) sourceHost_ = lowercase(source->host());
    buildViews();

    request_ = QWebEngineHttpRequest(websiteURL_);
    const QString udid = q(ZMPlatform::deviceUDID());
    if (isSourceHost(websiteURL_)) {
        request_.setHeader("X-Cydia-ID", udid.toUtf8());
        request_.setHeader("X-Unique-ID", udid.toUtf8());
    }
    request_.setHeader("X-Firmware", QByteArray::fromStdString(ZMPlatform::firmwareVersion()));
    request_.setHeader("X-Machine", QByteArray::fromStdString(ZMPlatform::deviceModelID()));
    request_.setHeader("Payment-Provider", "API");
    request_.setHeader("Accept-Language", QLocale::system().uiLanguages().value(0, "en").toUtf8());
    setModeForRequest();

    // The depiction's own address, and only a web one, goes to the browser.
    if (VostrelleWebPage::isNavigationAllowed(websiteURL_))
        navigationItem()->setRightBarButtonItem(
            new UIBarButtonItem(q(ZMLocalizedString("Open in Browser")), [this](UIBarButtonItem*) { openInSafari(); }, navigationItem()));
}

void WebDepictionViewController::buildViews() {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    progressView_ = new QProgressBar(this);
    progressView_->setObjectName("progressView");
    progressView_->setTextVisible(false);
    progressView_->setFixedHeight(2);
    progressView_->setRange(0, 100);
    progressView_->setValue(0);
    auto* fade = new QGraphicsOpacityEffect(progressView_);
    fade->setOpacity(0);
    progressView_->setGraphicsEffect(fade);
    outer->addWidget(progressView_);

    scrollView_ = new QScrollArea(this);
    scrollView_->setObjectName("scrollView");
    scrollView_->setFrameShape(QFrame::NoFrame);
    scrollView_->setWidgetResizable(true);
    scrollView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scrollView_, 1);
    auto* content = new QWidget;
    content->setObjectName("content");
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    scrollView_->setWidget(content);

    auto* header = new QWidget;
    header->setObjectName("header");
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(20, 20, 20, 12);
    row->setSpacing(16);
    iconView_ = plainLabel("iconView");
    row->addWidget(iconView_, 0, Qt::AlignTop);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    nameLbl_ = plainLabel("nameLbl");
    nameLbl_->setWordWrap(true);
    QFont big = nameLbl_->font();
    big.setPixelSize(24);
    big.setBold(true);
    nameLbl_->setFont(big);
    maintainerLbl_ = plainLabel("maintainerLbl");
    titles->addWidget(nameLbl_);
    titles->addWidget(maintainerLbl_);
    buttonGap_ = new QWidget;
    titles->addWidget(buttonGap_);
    auto* buttons = new QHBoxLayout;
    getBtn_ = new GetButton::TitleFittingButton;
    getBtn_->setObjectName("getBtn");
    getBtn_->setFixedHeight(30);
    shareBtn_ = new QPushButton(q(ZMLocalizedString("Share")));
    shareBtn_->setObjectName("shareBtn");
    shareBtn_->setFixedHeight(30);
    buttons->addWidget(getBtn_);
    buttons->addWidget(shareBtn_);
    buttons->addStretch(1);
    titles->addLayout(buttons);
    auto facts = new QHBoxLayout;
    auto fact = [&](QLabel*& caption, QLabel*& value, const char* captionName, const char* valueName, const char* text) {
        auto* box = new QVBoxLayout;
        caption = plainLabel(captionName);
        caption->setText(q(ZMLocalizedString(text)));
        value = plainLabel(valueName);
        box->addWidget(caption);
        box->addWidget(value);
        facts->addLayout(box);
    };
    fact(sizeLbl_, packageSizeLbl_, "sizeLbl", "packageSizeLbl", "Size");
    fact(versionLbl_, packageVersionLbl_, "versionLbl", "packageVersionLbl", "Version");
    fact(categoryLbl_, packageCategoryLbl_, "categoryLbl", "packageCategoryLbl", "Category");
    titles->addLayout(facts);
    row->addLayout(titles, 1);
    column->addWidget(header);

    placeholderView_ = new QWidget;
    placeholderView_->setObjectName("placeholderView");
    placeholderView_->setMinimumHeight(200);
    column->addWidget(placeholderView_);
    webViewContainer_ = new QWidget;
    webViewContainer_->setObjectName("webViewContainer");
    auto* pin = new QVBoxLayout(webViewContainer_);
    pin->setContentsMargins(0, 0, 0, 0);
    column->addWidget(webViewContainer_);
    column->addStretch(1);

    connect(getBtn_, &QPushButton::clicked, this, [this] { getPackage(getBtn_); });
    // A right click: the package rows' Queue / Remove, as on the native page.
    QPointer<WebDepictionViewController> self(this);
    PackageRows::addQueueMenu(
        getBtn_, [self] { return self && self->hasRecord_ ? self->packageIdentifier_ : std::string(); }, nullptr);
    connect(shareBtn_, &QPushButton::clicked, this, [this] { sharePackage(shareBtn_); });
    GetButton::addTargetHapticAction(getBtn_, [this](GetButton::LongPressState s) {
        if (s == GetButton::LongPressState::Began) presentOptions(getBtn_);
    });
}

void WebDepictionViewController::setModeForRequest() {
    const bool dark = isDarkMode();
    const QByteArray agent = QByteArray(kUserAgent) + (dark ? " Dark" : " Light");
    request_.setHeader("User-Agent", agent);
    if (dark) request_.setHeader("Dark", "TRUE");
    else request_.unsetHeader("Dark");
    if (webView_) load();
}

void WebDepictionViewController::load() {
    if (!webView_ || !VostrelleWebPage::isNavigationAllowed(websiteURL_)) return;
    // The identifiers go only to the source's host: the page's process drops
    // them for any other, a redirect included.
    RemoteWebView::Headers headers;
    for (const QByteArray& name : request_.headers()) headers.append({name, request_.header(name)});
    webView_->load(websiteURL_, headers, QString::fromStdString(sourceHost_),
                   QLocale::system().uiLanguages().value(0, "en"));
}

void WebDepictionViewController::viewWillAppear(bool) { fillHeader(); }

void WebDepictionViewController::fillHeader() {
    auto package = ZMStoreGuard::record<ZMRPackage>("reading a package", packageIdentifier_);
    hasRecord_ = package.has_value();
    std::optional<ZMRSource> source;
    if (package && !package->sourceLocation.empty())
        source = ZMStoreGuard::record<ZMRSource>("reading a package's source", package->sourceLocation);
    const bool infoJson = source && source->isUsingInfoJson.value_or(false);
    const int windowHeight = window() ? window()->height() : height();
    compact_ = windowHeight == 568 || windowHeight == 480;

    const int side = infoJson ? (compact_ ? 100 : 120) : 80;
    const int radius = infoJson ? (compact_ ? 25 : 30) : 20;
    iconView_->setFixedSize(side, side);
    const QImage icon = PackageRow::iconForPackage(packageIdentifier_, side).toImage();
    iconView_->setPixmap(QPixmap::fromImage(PackageDetailsViewController::makeRoundedImage(icon, radius)));
    // The buttons keep their place beside the icon only on a tall window for an
    // information-file source; elsewhere they hang 30 below the maintainer.
    buttonGap_->setFixedHeight(!compact_ && infoJson ? 4 : 30);
    if (compact_) {
        QFont f = nameLbl_->font();
        f.setPixelSize(22);
        f.setWeight(QFont::DemiBold);
        nameLbl_->setFont(f);
        for (QLabel* l : {sizeLbl_, versionLbl_, categoryLbl_}) {
            QFont small = l->font();
            small.setPixelSize(15);
            small.setWeight(QFont::DemiBold);
            l->setFont(small);
        }
    }
    nameLbl_->setText(package ? q(package->name) : QString());
    maintainerLbl_->setText(package ? q(package->maintainer) : QString());
    maintainerLbl_->setWordWrap(!(nameLbl_->sizeHint().height() > 43));
    QString size;
    if (package) {
        // The index gives bytes as a whole number; anything else shows nothing.
        bool ok = false;
        const qlonglong bytes = q(package->size).toLongLong(&ok);
        if (ok && bytes >= 0) size = QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
    }
    packageSizeLbl_->setText(size);
    packageVersionLbl_->setText(package ? q(package->version) : QString());
    packageCategoryLbl_->setText(package ? q(package->category) : QString());

    getBtn_->setVisible(hasRecord_);
    shareBtn_->setVisible(hasRecord_);
    if (!package) return;
    const bool updated = package->isUpdated.value_or(false), held = package->isHeld.value_or(false);
    if (packageIdentifier_ == ZMDepictionSettings::current().ownPackageIdentifier && !updated) getBtn_->hide();
    QString title;
    if (updated && !held) title = "UPDATE";
    else if (package->isInstalled.value_or(false)) title = "UNINSTALL";
    else if (!package->isFree()) {
        const std::string price = ZMRPackages::formattedPrice(package->price);
        title = price.empty() ? q(ZMLocalizedString("BUY")) : q(price);
    }
    else title = "GET";
    getBtn_->setText(title);
}

void WebDepictionViewController::viewDidAppear(bool) {
    if (historyKeys_) historyKeys_->update();
    if (!firstAppear_) return;
    firstAppear_ = false;
    createWebView();
}

void WebDepictionViewController::createWebView() {
    // The page is drawn by a process of its own (see RemoteWebView): starting
    // it costs the interface nothing, and closing the screen ends it. Until
    // then, out of sight under another screen or tab, it keeps the page as the
    // user left it (links followed, text typed, the place scrolled to).
    webView_ = new RemoteWebView(webViewContainer_);
    // The container gives the view its size; the view never asks the window for more.
    webView_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    webView_->setMinimumSize(1, 1);
    webView_->setScrollArea(scrollView_);
    webViewContainer_->layout()->addWidget(webView_);
    placeholderView_->hide();
    webViewContainer_->setFixedHeight(std::max(height(), 200));
    historyKeys_ = new WebHistoryKeys(this, {[this] { return webView_->canGoBack(); }, [this] { return webView_->canGoForward(); },
                                             [this] { webView_->goBack(); }, [this] { webView_->goForward(); }});
    connect(webView_, &RemoteWebView::historyChanged, historyKeys_, &WebHistoryKeys::update);

    connect(webView_, &RemoteWebView::contentsSizeChanged, this, [this](const QSizeF& size) {
        const int h = std::clamp(static_cast<int>(std::ceil(size.height())), 1, kMaximumContainerHeight);
        webViewContainer_->setFixedHeight(h);
    });
    connect(webView_, &RemoteWebView::loadProgress, this, [this](int percent) {
        static_cast<QGraphicsOpacityEffect*>(progressView_->graphicsEffect())->setOpacity(1);
        progressView_->setValue(percent);
        if (percent < 100) return;
        QPointer<QProgressBar> bar(progressView_);
        QTimer::singleShot(UIView::durationMs(0.3), bar, [bar] {
            if (!bar) return;
            auto* effect = static_cast<QGraphicsOpacityEffect*>(bar->graphicsEffect());
            auto* anim = new QPropertyAnimation(effect, "opacity", bar);
            anim->setDuration(UIView::durationMs(0.3));
            anim->setEasingCurve(QEasingCurve::OutCubic);
            anim->setEndValue(0.0);
            QObject::connect(anim, &QPropertyAnimation::finished, bar, [bar] { bar->setValue(0); });
            anim->start(QAbstractAnimation::DeleteWhenStopped);
        });
    });
    setModeForRequest();  // loads the request
}

void WebDepictionViewController::mousePressEvent(QMouseEvent* e) {
    // The page's own history first; without one, the stack's back (the press goes on to it).
    const bool stepped = historyKeys_ && ((e->button() == Qt::BackButton && historyKeys_->goBack()) ||
                                          (e->button() == Qt::ForwardButton && historyKeys_->goForward()));
    if (stepped) {
        e->accept();
        return;
    }
    ZMPalettedViewController::mousePressEvent(e);
}

void WebDepictionViewController::getPackage(QPushButton* sender) {
    if (!hasRecord_) return;
    if (sender == getBtn_) GetButton::animateButton(sender);
    ZMVostrelle::sharedVostrelle().queuePackageWithIdentifier(packageIdentifier_, std::nullopt, sender);
}

void WebDepictionViewController::presentOptions(QWidget* sender) {
    if (!hasRecord_) return;
    if (auto* button = qobject_cast<QPushButton*>(sender)) GetButton::animateButton(button);
    ZMVostrelle::sharedVostrelle().presentOptions(packageIdentifier_, sender);
}

void WebDepictionViewController::sharePackage(QWidget* sender) {
    if (!hasRecord_) return;
    ZMVostrelle::sharedVostrelle().sharePackage(packageIdentifier_, sender);
}

void WebDepictionViewController::openInSafari() {
    if (!VostrelleWebPage::isNavigationAllowed(websiteURL_)) return;
    if (UIApplication::openURL(websiteURL_)) return;
    // The desktop had no program for web addresses: say so, with the address to open by hand.
    auto* alert = UIAlertController::alertControllerWithTitle(
        q(ZMLocalizedString("No Web Browser")),
        q(ZMLocalization::fill(ZMLocalizedString("No default web browser is configured on this desktop, so %@ could not "
                                                 "be opened. Set one in the desktop's settings (or with xdg-settings) "
                                                 "and try again."),
                               {websiteURL_.toString().toStdString()})),
        UIAlertController::Style::Alert);
    alert->addAction(q(ZMLocalizedString("OK")), UIAlertController::ActionStyle::Cancel);
    UIViewController* from = navigationController() ? static_cast<UIViewController*>(navigationController()) : this;
    from->presentViewController(alert, true);
}

void WebDepictionViewController::paletteDidChange(const ZMPalette& p) {
    if (!nameLbl_) return;
    // The screen's own views take the palette's background; the page keeps
    // the engine's unless it sets its own (in a dark palette's colour, the
    // engine's default black text would stand on black). The "Dark" header
    // and user agent tell it the appearance.
    QPalette qp = QWidget::palette();
    qp.setColor(QPalette::Window, p.backgroundColor());
    setPalette(qp);
    setAutoFillBackground(true);
    for (QWidget* w : {webViewContainer_, placeholderView_}) {
        w->setPalette(qp);
        w->setAutoFillBackground(true);
    }
    PackageRow::setTextColor(nameLbl_, p.primaryTextColor());
    const QString button = QStringLiteral("QPushButton { color: %1; background: %2; border: none; border-radius: 15px; "
                                          "padding: 0 12px; font-weight: 700; }");
    getBtn_->setStyleSheet(button.arg(p.getButtonTextColor().name(), p.getButtonBackgoundColor().name()));
    shareBtn_->setStyleSheet(button.arg(p.getButtonTextColor().name(), p.getButtonBackgoundColor().name()));
    if (didLastPaletteChangeUpdateDarkmode()) setModeForRequest();
}
