#include "Browsing/PackageOpening.h"

#include <QUrl>

#include "Browsing/PackagePlaceholderViewController.h"
#include "Database/ZMRSource.h"
#include "Foundation/URL.h"
#include "UIKit/UINavigationController.h"
#include "WebViewViewController.h"

namespace PackageOpening {

void show(UIViewController* from, UIViewController* vc) {
    if (auto* nav = from->navigationController()) nav->pushViewController(vc, true);
    else from->presentViewController(new UINavigationController(vc), true);
}

bool opensOriginalDepiction(const ZMRPackage& package) {
    if (package.sourceLocation.empty()) return false;
    auto source = ZMRSource::objectForPrimaryKey(package.sourceLocation);
    return source && source->seeOriginalDepictions.value_or(false);
}

UIViewController* viewControllerForPackage(const ZMRPackage& package) {
    if (opensOriginalDepiction(package)) {
        // Only a web page opens in the browser screen; anything else gets the details.
        auto url = URL::parse(package.website);
        if (url && url->isHTTP() && !url->host().empty()) {
            auto* web = new WebViewViewController;
            web->setViewTitle(package.name.empty() ? package.identifier : package.name);
            web->setWebsiteURL(QUrl(QString::fromStdString(url->string()), QUrl::StrictMode));
            web->setObjectName("WebDepictionViewController");
            return web;
        }
    }
    return detailsViewControllerForPackage(package);
}

UIViewController* detailsViewControllerForPackage(const ZMRPackage& package) {
    auto* details = new PackagePlaceholderViewController;
    details->setPackageIdentifier(package.identifier);
    details->setTitle(QString::fromStdString(package.name.empty() ? package.identifier : package.name));
    details->setObjectName("PackageDetailsViewController");
    return details;
}

}  // namespace PackageOpening
