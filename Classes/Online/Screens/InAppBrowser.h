#pragma once
// The in-app browser for the maker's pages (registration, the account
// screen's outside links): WebViewViewController in a navigation controller
// with a "Close" button, presented as a sheet over `presenter`. Only http(s)
// addresses are opened; anything else is refused (false).
#include <QUrl>
#include <string>

class UIViewController;
class WebViewViewController;

namespace InAppBrowser {

bool present(UIViewController* presenter, const QUrl& url, const std::string& title = {});
// The browser screen presented last (tests).
WebViewViewController* lastPresented();

}  // namespace InAppBrowser
