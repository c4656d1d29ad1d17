#pragma once
// The pages of the repository stores: sign-in and purchase pages open in the
// in-app browser on one off-the-record profile, presented as a sheet titled
// with the store's name, with a "Cancel" button. A page's own top-level navigation to a "sileo" callback
// goes to the payment client with the page's number; the same address in a
// frame or as a resource of the page is refused. Installed into the payment client at launch: the client
// asks for a page, closes it when its callback came, and hears when the user
// closed it (which ends the pending sign-in or purchase).
#include <QObject>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

class QWebEngineProfile;
class UINavigationController;
class UIViewController;
class WebViewViewController;

class ZMStorePages : public QObject {
    Q_OBJECT
public:
    static ZMStorePages& shared();
    // Gives the payment client its page hooks.
    static void install();
    // Where pages are presented; by default the top screen of the main window.
    static void setPresenter(std::function<UIViewController*()> presenter);

    QWebEngineProfile* profile();
    // The screen of an open page (tests), or null.
    WebViewViewController* pageScreen(uint64_t page) const;
    uint64_t lastPage() const { return lastPage_; }

private:
    explicit ZMStorePages(QObject* parent);
    void present(uint64_t page, const std::string& url, const std::string& sourceLocation);
    void dismiss(uint64_t page);

    QWebEngineProfile* profile_ = nullptr;
    std::map<uint64_t, QPointer<UINavigationController>> pages_;
    std::map<uint64_t, QPointer<WebViewViewController>> screens_;
    uint64_t lastPage_ = 0;
};
