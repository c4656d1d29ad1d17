#pragma once
// Opening a package from any list: the web depiction when the package's
// source asks for original depictions (and the depiction is a web page),
// otherwise the package's details screen, titled with its name.
#include <string>

#include "Database/ZMRPackage.h"

class UIViewController;

namespace PackageOpening {

// The screen to push for the package; never null.
UIViewController* viewControllerForPackage(const ZMRPackage& package);
// The package's details screen, whatever its source asks for.
UIViewController* detailsViewControllerForPackage(const ZMRPackage& package);
// Pushes `vc` on `from`'s navigation controller, or presents it in one of its own.
void show(UIViewController* from, UIViewController* vc);
// Whether the package's source asks for its original web depictions.
bool opensOriginalDepiction(const ZMRPackage& package);

}  // namespace PackageOpening
