#include "Online/Screens/InAppBrowser.h"

#include <QPointer>

#include "Browsing/SourceAddition.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "UIKit/UINavigationController.h"
#include "WebViewViewController.h"

namespace InAppBrowser {

namespace {
QPointer<WebViewViewController> gLast;
}

bool present(UIViewController* presenter, const QUrl& url, const std::string& title) {
    if (!presenter || !VostrelleWebPage::isNavigationAllowed(url)) {
        ZMLOG("not opened in the browser: {}", url.toString().toStdString());
        return false;
    }
    auto* web = new WebViewViewController;
    web->setViewTitle(title.empty() ? url.host().toStdString() : title);
    web->setWebsiteURL(url);
    auto* nav = new UINavigationController(web);
    QPointer<UINavigationController> guard(nav);
    web->navigationItem()->setLeftBarButtonItem(new UIBarButtonItem(
        QString::fromStdString(ZMLocalizedString("Close")),
        [guard](UIBarButtonItem*) {
            if (guard) guard->dismissViewController(true);
        },
        nav));
    nav->setModalPresentationStyle(UIViewController::ModalPresentationStyle::FormSheet);
    gLast = web;
    SourceAddition::topPresenter(presenter)->presentViewController(nav, true);
    return true;
}

WebViewViewController* lastPresented() { return gLast; }

}  // namespace InAppBrowser
