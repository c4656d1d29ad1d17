#include "ZMStorePages.h"

#include <QApplication>
#include <QUrl>
#include <QWebEngineProfile>

#include "Database/ZMRSource.h"
#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "Services/ZMRepoStoreAPI.h"
#include "UIKit/UINavigationController.h"
#include "WebViewViewController.h"
#include "ZMStoreCallbackSchemeHandler.h"
#include "ZMURLRouter.h"

namespace {
std::function<UIViewController*()> gPresenter;
}

ZMStorePages::ZMStorePages(QObject* parent) : QObject(parent) {}

ZMStorePages& ZMStorePages::shared() {
    static ZMStorePages* pages = new ZMStorePages(qApp);
    return *pages;
}

void ZMStorePages::setPresenter(std::function<UIViewController*()> presenter) { gPresenter = std::move(presenter); }

QWebEngineProfile* ZMStorePages::profile() {
    if (!profile_) profile_ = VostrelleWebPage::makeProfile(this);  // off the record; "sileo" loads refused
    return profile_;
}

void ZMStorePages::install() {
    ZMRepoStoreAPI::sharedRepoStore().setPageHooks(
        {[](uint64_t page, const std::string& url, const std::string& sourceLocation) {
             Dispatch::main([page, url, sourceLocation] { shared().present(page, url, sourceLocation); });
         },
         [](uint64_t page) { Dispatch::main([page] { shared().dismiss(page); }); }});
}

WebViewViewController* ZMStorePages::pageScreen(uint64_t page) const {
    auto it = screens_.find(page);
    return it == screens_.end() ? nullptr : it->second.data();
}

void ZMStorePages::present(uint64_t page, const std::string& url, const std::string& sourceLocation) {
    UIViewController* top = gPresenter ? gPresenter() : ZMURLRouter::presenter();
    const QUrl address(QString::fromStdString(url), QUrl::StrictMode);
    if (!top || !address.isValid()) {
        ZMLOG("store page {} cannot be shown", page);
        ZMRepoStoreAPI::sharedRepoStore().storePageClosed(page);
        return;
    }
    // The page's own navigation to a callback finishes what it was opened for.
    auto* web = new WebViewViewController(profile(), ZMStoreCallbackSchemeHandler::kScheme, [page](const QUrl& callback) {
        ZMRepoStoreAPI::sharedRepoStore().storeCallbackReceived(page, callback.toString(QUrl::FullyEncoded).toStdString());
    });
    // The store's name, as its source calls it; the host until the source has
    // a name of its own (the sheet shows the page's host beside Back and Forward too).
    std::string name;
    try {
        if (auto source = ZMRSource::objectForPrimaryKey(sourceLocation); source && source->name != sourceLocation) name = source->name;
    } catch (const std::exception& e) {
        ZMLOG("store page {}: {}", page, e.what());
    }
    web->setViewTitle(name.empty() ? address.host().toStdString() : name);
    web->setWebsiteURL(address);
    auto* nav = new UINavigationController(web);
    nav->setModalPresentationStyle(UIViewController::ModalPresentationStyle::FormSheet);
    QPointer<UINavigationController> weak(nav);
    web->navigationItem()->setLeftBarButtonItem(new UIBarButtonItem(
        QString::fromStdString(ZMLocalizedString("Cancel")),
        [weak](UIBarButtonItem*) {
            if (weak) weak->dismissViewController(true);
        },
        web->navigationItem()));
    pages_[page] = nav;
    screens_[page] = web;
    lastPage_ = page;
    connect(nav, &QObject::destroyed, this, [this, page] {
        pages_.erase(page);
        screens_.erase(page);
        ZMRepoStoreAPI::sharedRepoStore().storePageClosed(page);
    });
    top->presentViewController(nav, true);
}

void ZMStorePages::dismiss(uint64_t page) {
    auto it = pages_.find(page);
    if (it != pages_.end() && it->second) it->second->dismissViewController(true);
}
