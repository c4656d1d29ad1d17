#pragma once
// The in-app browser. Pages load in an off-the-record profile (no cookies or
// cache on disk) and may only navigate to http and https addresses; a mailto
// link goes to the desktop's mail program, anything else is refused. A page
// is confined: scripts run but reach no clipboard and no local file, a new
// window opens in the same view, downloads are cancelled and every permission
// (camera, location, notifications, full screen, file system...) is denied.
// A screen given a profile of its own (the stores' sign-in and purchase
// pages) uses it, and hands a navigation of its main frame to the one
// callback scheme it is given to a handler instead of loading it; the same
// address in a frame, or as an image or other resource, is refused.
// A page keeps the engine's background unless it sets its own, whatever the
// palette: painted in a dark palette's colour, the engine's default black
// text would stand on black.
#include <QUrl>
#include <QWebEnginePage>
#include <functional>
#include <string>

#include "ZMPalettedViewController.h"

class QLabel;
class QProgressBar;
class QToolButton;
class QWebEngineProfile;
class QWebEngineView;
class WebHistoryKeys;

// The page with the navigation rule.
class VostrelleWebPage : public QWebEnginePage {
    Q_OBJECT
public:
    explicit VostrelleWebPage(QWebEngineProfile* profile, QObject* parent = nullptr);
    // An off-the-record profile whose downloads are cancelled.
    static QWebEngineProfile* makeProfile(QObject* parent);
    // Whether a page may go to `url`: http and https with a host only.
    static bool isNavigationAllowed(const QUrl& url);
    int refusedNavigationCount() const { return refused_; }
    // Top-level navigations to `scheme` go to `handler` (soon after, on the
    // main thread: it may close the page) and load nothing.
    void setCallbackHandler(const QString& scheme, std::function<void(const QUrl&)> handler) {
        callbackScheme_ = scheme.toLower();
        callbackHandler_ = std::move(handler);
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;
    QStringList chooseFiles(FileSelectionMode mode, const QStringList& oldFiles, const QStringList& acceptedMimeTypes) override;

private:
    int refused_ = 0;
    QString callbackScheme_;
    std::function<void(const QUrl&)> callbackHandler_;
};

class WebViewViewController : public ZMPalettedViewController {
    Q_OBJECT
public:
    explicit WebViewViewController(QWidget* parent = nullptr);
    // Pages in `profile`, which must outlive the screen; the page's own
    // navigations to `callbackScheme` go to `onCallback` (see VostrelleWebPage).
    WebViewViewController(QWebEngineProfile* profile, const QString& callbackScheme,
                          std::function<void(const QUrl&)> onCallback, QWidget* parent = nullptr);
    ~WebViewViewController() override;

    void setViewTitle(const std::string& title);
    // Loaded when the screen is shown (again only if the address changed).
    void setWebsiteURL(const QUrl& url);
    QUrl websiteURL() const { return websiteURL_; }
    QWebEngineView* webView() const { return webView_; }
    VostrelleWebPage* page() const { return page_; }

    // The page's history: the bar's Back and Forward (also Alt+Left/Right).
    QToolButton* backButton() const { return backBtn_; }
    QToolButton* forwardButton() const { return forwardBtn_; }
    // The page's host (and port), beside them.
    QLabel* hostLabel() const { return hostLabel_; }
    void goBack();
    void goForward();

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;

private:
    QUrl websiteURL_;
    QUrl loadedURL_;
    QWebEngineProfile* profile_ = nullptr;
    bool ownProfile_ = true;
    QString callbackScheme_;
    std::function<void(const QUrl&)> onCallback_;
    VostrelleWebPage* page_ = nullptr;
    QWebEngineView* webView_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QToolButton* backBtn_ = nullptr;
    QToolButton* forwardBtn_ = nullptr;
    QLabel* hostLabel_ = nullptr;
    WebHistoryKeys* historyKeys_ = nullptr;
    QWidget* buildHistoryBar();
    void updateHistoryButtons();
};
