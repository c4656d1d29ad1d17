#include "CydiaStoreLoginController.h"

#include <QApplication>
#include <QPointer>
#include <QVBoxLayout>
#include <QWebEngineHistory>
#include <QWebEngineHttpRequest>

#include "Categories/URLRequest+ZemtrixExtensions.h"
#include "CydiaStoreLoginWebView.h"
#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Services/ZMCydiaStore.h"
#include "StoreHeaderView.h"
#include "UIKit/UIBarButtonItem.h"
#include "WebHistoryKeys.h"

namespace {


QString localized(const char* key) { return QString::fromStdString(ZMLocalizedString(key)); }

}  // namespace

CydiaStoreLoginController::CydiaStoreLoginController()
    : CydiaStoreLoginController(QUrl(QString::fromStdString(ZMCydiaStore::accountPageURL().string()))) {}

CydiaStoreLoginController::CydiaStoreLoginController(const QUrl& url) : url_(url) {}

CydiaStoreLoginController::CydiaStoreLoginController(const std::string& address)
    : CydiaStoreLoginController(QUrl(QString::fromStdString(address))) {}

void CydiaStoreLoginController::viewDidLoad() {
    setOverrideLargeTitles(true);
    setTitle(localized("Cydia Store"));
    auto* done = new UIBarButtonItem(localized("Done"), [this](UIBarButtonItem*) { dismiss(); }, navigationItem());
    done->setStyle(UIBarButtonItem::Style::Done);
    backwardButton_ = new UIBarButtonItem(StoreHeaderView::barImage("back"), [this](UIBarButtonItem*) { goBack(); },
                                          navigationItem());
    forwardButton_ = new UIBarButtonItem(StoreHeaderView::barImage("forward"),
                                         [this](UIBarButtonItem*) { goForward(); }, navigationItem());
    refreshItem_ = new UIBarButtonItem(StoreHeaderView::barImage("refresh"), [this](UIBarButtonItem*) { refresh(); },
                                       navigationItem());
    cancelItem_ = new UIBarButtonItem(StoreHeaderView::barImage("cancel"), [this](UIBarButtonItem*) { cancel(); },
                                      navigationItem());
    backwardButton_->setEnabled(false);
    forwardButton_->setEnabled(false);
    navigationItem()->setLeftBarButtonItems({done, backwardButton_, forwardButton_});
    navigationItem()->setRightBarButtonItem(refreshItem_);
    historyKeys_ = new WebHistoryKeys(this, [this] { return webView_ ? webView_->history() : nullptr; });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    webView_ = new CydiaStoreLoginWebView(this);
    layout->addWidget(webView_);
    auto* page = webView_->page();
    connect(page, &QWebEnginePage::loadStarted, this, [this] { loadStarted(); });
    connect(page, &QWebEnginePage::loadFinished, this, [this](bool) { loadFinished(); });
    connect(page, &QWebEnginePage::urlChanged, this, [this] { updateHistoryButtons(); });

    if (!VostrelleWebPage::isNavigationAllowed(url_)) return;
    // The first request as the program's own: its device headers besides the stamp.
    QWebEngineHttpRequest request(url_);
    if (auto own = URLRequestZemtrix::VostrelleGetRequestWithString(url_.toString(QUrl::FullyEncoded).toStdString()))
        for (const auto& [name, value] : own->headers.fields())
            request.setHeader(QByteArray::fromStdString(name), QByteArray::fromStdString(value));
    request.setHeader("User-Agent", ZMCydiaStore::kUserAgent);
    webView_->load(request);
}

void CydiaStoreLoginController::dismiss() { dismissViewController(true); }
void CydiaStoreLoginController::goBack() {
    if (historyKeys_) historyKeys_->goBack();
}
void CydiaStoreLoginController::goForward() {
    if (historyKeys_) historyKeys_->goForward();
}
void CydiaStoreLoginController::refresh() { webView_->reload(); }
void CydiaStoreLoginController::cancel() { webView_->stop(); }

void CydiaStoreLoginController::loadStarted() {
    updateHistoryButtons();
    navigationItem()->setRightBarButtonItem(cancelItem_);
}

void CydiaStoreLoginController::updateHistoryButtons() {
    const bool back = webView_->history()->canGoBack(), forward = webView_->history()->canGoForward();
    backwardButton_->setEnabled(back);
    forwardButton_->setEnabled(forward);
    historyKeys_->update();
}

void CydiaStoreLoginController::viewDidAppear(bool) {
    if (webView_) updateHistoryButtons();
}

void CydiaStoreLoginController::viewDidDisappear(bool) {
    if (webView_) updateHistoryButtons();
}

void CydiaStoreLoginController::loadFinished() {
    updateHistoryButtons();
    navigationItem()->setRightBarButtonItem(refreshItem_);
    if (ZMCydiaStore::isAccountPage(webView_->url().toString(QUrl::FullyEncoded).toStdString())) startImport();
}

void CydiaStoreLoginController::startImport() {
    const QUrl list(QString::fromStdString(ZMCydiaStore::purchaseListURL().string()));
    QPointer<CydiaStoreLoginController> self(this);
    ZMCydiaStore::importPurchases(CydiaStoreLoginWebView::cookieHeaderFor(list), [self](std::vector<std::string> found) {
        Dispatch::main([self, found = std::move(found)] {
            if (!self) return;
            if (!found.empty()) self->purchaseIdentifiers_ = found;
            ++self->finishedImports_;
        });
    });
}

