#pragma once
// The Cydia store's own pages, for signing in to (or out of) a Cydia store
// account. The screen reads no form: each finished load of one of the
// store's account pages starts an import of the account's purchase list
// (ZMCydiaStore::importPurchases, with the store's cookies from the page's
// browser), which marks the packages bought there; a visit of the sign-out
// address clears the marks. An import that ends after the screen has gone
// still applies its result and touches nothing of the screen. The pages keep
// the engine's background, as the in-app browser's do.
#include <QUrl>
#include <string>
#include <vector>

#include "ZMPalettedViewController.h"

class CydiaStoreLoginWebView;
class WebHistoryKeys;
class UIBarButtonItem;

class CydiaStoreLoginController : public ZMPalettedViewController {
    Q_OBJECT
public:
    // The store's account page first.
    CydiaStoreLoginController();
    explicit CydiaStoreLoginController(const QUrl& url);
    explicit CydiaStoreLoginController(const std::string& address);

    CydiaStoreLoginWebView* webView() const { return webView_; }
    QUrl url() const { return url_; }
    // The identifiers of the last import that found any, in page order.
    const std::vector<std::string>& purchaseIdentifiers() const { return purchaseIdentifiers_; }
    int finishedImports() const { return finishedImports_; }
    UIBarButtonItem* backwardButton() const { return backwardButton_; }
    UIBarButtonItem* forwardButton() const { return forwardButton_; }

    // Bar actions.
    void dismiss();
    void goBack();
    void goForward();
    void refresh();
    void cancel();

protected:
    void viewDidLoad() override;
    void viewDidAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;

private:
    void loadStarted();
    void updateHistoryButtons();
    void loadFinished();
    void startImport();

    QUrl url_;
    CydiaStoreLoginWebView* webView_ = nullptr;
    UIBarButtonItem* backwardButton_ = nullptr;
    UIBarButtonItem* forwardButton_ = nullptr;
    UIBarButtonItem* refreshItem_ = nullptr;
    UIBarButtonItem* cancelItem_ = nullptr;
    WebHistoryKeys* historyKeys_ = nullptr;
    std::vector<std::string> purchaseIdentifiers_;
    int finishedImports_ = 0;
};
