#include "App/ZMReviewsAndDevelopersSetup.h"

#include "Browsing/AllDevPackagesViewController.h"
#include "Browsing/OnlineScreens.h"
#include "Details/AllReviewsViewController.h"
#include "Details/LeaveReviewViewController.h"
#include "Details/ZMDetailsServices.h"
#include "Details/DeveloperDetailsViewController.h"
#include "Online/Screens/FollowedDevelopersViewController.h"
#include "Dispatch/Dispatch.h"
#include "Services/ZMMakerAPI.h"
#include "Services/ZMSearchDeveloper.h"
#include "UIKit/UINavigationController.h"
#include "ZMURLRouter.h"
#include "ZMVostrelle.h"

namespace {

UIViewController* developerPage(const SearchServices::Developer& developer, const QPixmap& avatar) {
    auto* page = new DeveloperDetailsViewController;
    if (const auto* profile = std::any_cast<ZMDeveloperProfile>(&developer.record)) {
        page->setDeveloperProfile(*profile);
    } else {
        ZMDeveloperProfile made;
        made.fullName = developer.fullName;
        made.avatarURL = developer.avatarURL;
        made.twitter = developer.twitter;
        page->setDeveloperProfile(made);
    }
    if (!avatar.isNull()) page->setImg(avatar.toImage());
    return page;
}

void presentModally(const ZMDeveloperProfile& profile) {
    auto* page = new DeveloperDetailsViewController;
    page->setDeveloperProfile(profile);
    page->setIsShownModally(true);
    auto* nav = new UINavigationController(page);
    if (UIViewController* top = ZMURLRouter::presenter()) top->presentViewController(nav, true);
    else ZMVostrelle::sharedVostrelle().presentViewController(nav);
}

}  // namespace

void ZMReviewsAndDevelopersSetup::showDeveloper(const std::string& name) {
    // Too short for the directory: the search tab, which searches packages too.
    if (ZMMakerAPI::utf16Length(name) < 3) {
        ZMURLRouter::showSearchTabForDeveloper(name);
        return;
    }
    ZMSearchDeveloper::instance().searchDeveloper(
        name, [name](std::optional<std::string> status, std::vector<ZMDeveloperProfile> profiles) {
            auto show = [name, found = status && !profiles.empty(),
                         profile = profiles.empty() ? ZMDeveloperProfile{} : profiles.front()] {
                if (found) presentModally(profile);
                else ZMURLRouter::showSearchTabForDeveloper(name);
            };
            // Nothing sent (no service configured) answers at once, on this thread.
            if (Dispatch::isMainThread()) show();
            else Dispatch::main(show);
        });
}

void ZMReviewsAndDevelopersSetup::install() {
    ZMDetailsServices::Screens screens;
    screens.allReviews = [](const std::string& identifier, const std::string& maintainer) -> UIViewController* {
        auto* list = new AllReviewsViewController;
        list->setPackageIdentifier(identifier);
        list->setMaintainer(maintainer);
        return list;
    };
    screens.leaveReview = [](const std::string& identifier, LeaveReviewDelegate* delegate) -> UIViewController* {
        auto* sheet = new LeaveReviewViewController;
        sheet->setDelegate(delegate);
        sheet->setPackageIdentifier(identifier);
        return sheet;
    };
    screens.maintainerPackages = [](const std::string& maintainer, const std::string& title) -> UIViewController* {
        auto* list = new AllDevPackagesViewController;
        list->setTitleString(title);
        list->setMaintainer(maintainer);
        return list;
    };
    ZMDetailsServices::setScreens(std::move(screens));
    OnlineScreens::setDeveloperPageFactory(developerPage);
    OnlineScreens::setFollowedDevelopersFactory([] { return new FollowedDevelopersViewController; });
    auto hooks = ZMURLRouter::hooks();
    hooks.showDeveloper = showDeveloper;
    ZMURLRouter::setHooks(hooks);
}
