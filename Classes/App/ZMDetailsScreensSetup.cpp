#include "App/ZMDetailsScreensSetup.h"

#include "Database/ZMRPackage.h"
#include "Details/PackageDetailsViewController.h"
#include "UIKit/UINavigationController.h"
#include "ZMURLRouter.h"
#include "ZMVostrelle.h"
#include "ZMStoreGuard.h"

void ZMDetailsScreensSetup::install() {
    auto hooks = ZMURLRouter::hooks();
    hooks.showPackage = [](const std::string& identifier) {
        auto package = ZMStoreGuard::record<ZMRPackage>("showing a package", identifier);
        auto* details = new PackageDetailsViewController;
        details->setPackageIdentifier(identifier);
        details->setIsComingFromURLScheme(true);
        auto* nav = new UINavigationController(details);
        details->setTitle(QString::fromStdString(package && !package->name.empty() ? package->name : identifier));
        auto router = ZMURLRouter::hooks();
        if (UIViewController* top = router.presenter ? router.presenter() : nullptr) top->presentViewController(nav, true);
        else ZMVostrelle::sharedVostrelle().presentViewController(nav);
    };
    ZMURLRouter::setHooks(hooks);
}
