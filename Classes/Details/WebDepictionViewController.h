#pragma once
// A package's own web depiction under a native header (icon, name,
// maintainer, size, version, category, Get and share buttons), for packages
// of sources that ask for their original depictions. The header and the page
// scroll as one: the page's container is as tall as the page.
//
// The page is requested with the device headers repositories expect
// ("X-Firmware", "X-Machine", "Payment-Provider", "Accept-Language"), the
// appearance ("User-Agent" ending in "Dark" or "Light", and "Dark: TRUE" in
// the dark appearance; switching it reloads the page) and the device
// identifier ("X-Cydia-ID", "X-Unique-ID"), which goes only to the host of
// the package's own source: when the page is elsewhere it is not sent, and a
// redirect from that host to another is followed without it.
//
// The page is shown by a process of its own (RemoteWebView), so that the web
// engine is never in the program's memory, and is confined there
// (VostrelleWebPage): http(s) only, mail links to the mail program, no new
// windows, downloads or permissions. "Open in Browser"
// hands the depiction's address to the desktop's default browser, and says so
// when the desktop has none. Alt+Left and the mouse's back button go back in
// the page's history while it has one, and only then leave the screen
// (Alt+Right and the forward button, forward). A package identifier
// without a record gets no Get, options or share.
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QUrl>
#include <QWebEngineHttpRequest>
#include <string>

#include "ZMPalettedViewController.h"

class RemoteWebView;
class WebHistoryKeys;

class WebDepictionViewController : public ZMPalettedViewController {
    Q_OBJECT
public:
    explicit WebDepictionViewController(QWidget* parent = nullptr);
    ~WebDepictionViewController() override;

    void setWebsiteURL(const QUrl& url) { websiteURL_ = url; }
    QUrl websiteURL() const { return websiteURL_; }
    void setPackageIdentifier(const std::string& identifier) { packageIdentifier_ = identifier; }
    const std::string& packageIdentifier() const { return packageIdentifier_; }

    // The request of the depiction (built when the view loads).
    const QWebEngineHttpRequest& request() const { return request_; }
    // Writes the appearance headers into the request and, once the web view
    // exists, loads it again.
    void setModeForRequest();

    void getPackage(QPushButton* sender);
    void presentOptions(QWidget* sender);
    void sharePackage(QWidget* sender);
    void openInSafari();

    // The page, once the screen has appeared.
    RemoteWebView* webView() const { return webView_; }
    QScrollArea* scrollView() const { return scrollView_; }
    QLabel* iconView() const { return iconView_; }
    QLabel* nameLbl() const { return nameLbl_; }
    QLabel* maintainerLbl() const { return maintainerLbl_; }
    QLabel* packageSizeLbl() const { return packageSizeLbl_; }
    QLabel* packageVersionLbl() const { return packageVersionLbl_; }
    QLabel* packageCategoryLbl() const { return packageCategoryLbl_; }
    QPushButton* getBtn() const { return getBtn_; }
    QPushButton* shareBtn() const { return shareBtn_; }
    QProgressBar* progressView() const { return progressView_; }
    QWidget* webViewContainer() const { return webViewContainer_; }
    // Whether the header is laid out for a 568- or 480-point-tall window.
    bool isCompact() const { return compact_; }

    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void mousePressEvent(QMouseEvent* e) override;

private:
    void buildViews();
    void fillHeader();
    void createWebView();
    void load();
    bool isSourceHost(const QUrl& url) const;

    QUrl websiteURL_;
    std::string packageIdentifier_;
    std::string sourceHost_;
    bool hasRecord_ = false;
    bool firstAppear_ = true;
    bool compact_ = false;
    QWebEngineHttpRequest request_;
    RemoteWebView* webView_ = nullptr;
    WebHistoryKeys* historyKeys_ = nullptr;

    QScrollArea* scrollView_ = nullptr;
    QProgressBar* progressView_ = nullptr;
    QLabel* iconView_ = nullptr;
    QLabel* nameLbl_ = nullptr;
    QLabel* maintainerLbl_ = nullptr;
    QLabel* sizeLbl_ = nullptr;
    QLabel* versionLbl_ = nullptr;
    QLabel* categoryLbl_ = nullptr;
    QLabel* packageSizeLbl_ = nullptr;
    QLabel* packageVersionLbl_ = nullptr;
    QLabel* packageCategoryLbl_ = nullptr;
    QPushButton* getBtn_ = nullptr;
    QPushButton* shareBtn_ = nullptr;
    QWidget* buttonGap_ = nullptr;
    QWidget* placeholderView_ = nullptr;
    QWidget* webViewContainer_ = nullptr;
};
