#pragma once
// The Cydia store's browser: a web view on one process-wide off-the-record
// profile. Its request interceptor puts the header stamp (the store's
// browser user agent, X-Machine, X-Firmware, X-Unique-ID) on every request to
// the store's own origin, sub-resources and redirects included, and on no
// other: a picture embedded from elsewhere learns nothing of the device. The
// profile's cookies are mirrored so that the purchase import can send the
// store's session cookies with its own request.
#include <QNetworkCookie>
#include <QUrl>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>
#include <string>

#include "WebViewViewController.h"

class QWebEngineProfile;

// Web addresses only, as in the in-app browser; a visit of the store's
// sign-out address signs the program out of the store (and the page loads).
class CydiaStoreLoginPage : public VostrelleWebPage {
    Q_OBJECT
public:
    using VostrelleWebPage::VostrelleWebPage;

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
};

class CydiaStoreRequestInterceptor : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    void interceptRequest(QWebEngineUrlRequestInfo& info) override;
};

class CydiaStoreLoginWebView : public QWebEngineView {
    Q_OBJECT
public:
    explicit CydiaStoreLoginWebView(QWidget* parent = nullptr);
    ~CydiaStoreLoginWebView() override;

    static QWebEngineProfile* profile();
    // The "Cookie" value of the profile's cookies that a request to `url` carries.
    static std::string cookieHeaderFor(const QUrl& url);
    CydiaStoreLoginPage* storePage() const { return page_; }

private:
    CydiaStoreLoginPage* page_ = nullptr;
};
