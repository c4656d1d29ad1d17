#include "Browsing/PackageOpening.h"

#include <QUrl>

#include "Database/ZMRSource.h"
#include "Details/PackageDetailsViewController.h"
#include "Details/WebDepictionViewController.h"
#include "Foundation/URL.h"
#include "UIKit/UINavigationController.h"
#include "ZMStoreGuard.h"

namespace PackageOpening {

void show(UIViewController* from, UIViewController* vc) {
    if (auto* nav = from->navigationController()) nav->pushViewController(vc, true);
    else from->presentViewController(new UINavigationController(vc), true);
}

bool opensOriginalDepiction(const ZMRPackage& package) {
    if (package.sourceLocation.empty()) return false;
    // A failed read opens the details screen.
    auto source = ZMStoreGuard::value("reading a package's source",
                                      [&] { return ZMRSource::objectForPrimaryKey(package.sourceLocation); });
    return source && *source && (*source)->seeOriginalDepictions.value_or(false);
}

UIViewController* viewControllerForPackage(const ZMRPackage& package) {
    if (opensOriginalDepiction(package)) {
        // Only a web page opens in the web depiction screen; anything else gets the details.
        auto url = URL::parse(package.website);
        if (url && url->isHTTP() && !url->host().empty()) {
            auto* web = new WebDepictionViewController;
            web->setWebsiteURL(QUrl(QString::fromStdString(url->string()), QUrl::StrictMode));
            web->setPackageIdentifier(package.identifier);
            web->setTitle(QString::fromStdString(package.name.empty() ? package.identifier : package.name));
            return web;
        }
    }
    return detailsViewControllerForPackage(package);
}

UIViewController* detailsViewControllerForPackage(const ZMRPackage& package) {
    auto* details = new PackageDetailsViewController;
    details->setPackageIdentifier(package.identifier);
    details->setTitle(QString::fromStdString(package.name.empty() ? package.identifier : package.name));
    return details;
}

}  // namespace PackageOpening
