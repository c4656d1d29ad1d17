#include "Browsing/PackageOpening.h"

#include <QUrl>

#include "Database/ZMRSource.h"
#include "Details/PackageDetailsViewController.h"
#include "Details/WebDepictionViewController.h"
#include "Foundation/URL.h"

namespace PackageOpening {

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
            auto* web = new WebDepictionViewController;
            web->setWebsiteURL(QUrl(QString::fromStdString(url->string()), QUrl::StrictMode));
            web->setPackageIdentifier(package.identifier);
            web->setTitle(QString::fromStdString(package.name.empty() ? package.identifier : package.name));
            return web;
        }
    }
    auto* details = new PackageDetailsViewController;
    details->setPackageIdentifier(package.identifier);
    details->setTitle(QString::fromStdString(package.name.empty() ? package.identifier : package.name));
    return details;
}

}  // namespace PackageOpening
