#include "App/ZMOnlineScreensSetup.h"

#include <memory>

#include "Browsing/OnlineScreens.h"
#include "Browsing/SubcategoriesViewController.h"
#include "InitViewController.h"
#include "Online/Screens/LoginViewController.h"
#include "Online/Screens/OnlineRepositoriesViewController.h"
#include "Online/Screens/OnlineSearchServices.h"
#include "Online/Screens/RepoStoresListController.h"
#include "Online/Screens/SearchedRepoViewController.h"
#include "Services/ZMMakerAPI.h"
#include "Services/ZMRepoStoreAPI.h"

void ZMOnlineScreensSetup::install() {
    SearchServices::setShared(std::make_shared<OnlineSearchServices>());
    OnlineScreens::setRepositoryPageFactory([](const SearchServices::Repository& repository, const QPixmap& icon) {
        auto* page = new SearchedRepoViewController;
        if (const auto* entry = std::any_cast<ZMSearchedRepo>(&repository.record)) {
            page->setSearchedRepo(*entry);
        } else {
            ZMSearchedRepo made;
            made.name = repository.name;
            made.icon = repository.icon;
            made.desc = repository.desc;
            page->setSearchedRepo(made);
        }
        if (!icon.isNull()) page->setRepoIcon(icon.toImage());
        return static_cast<UIViewController*>(page);
    });
    OnlineScreens::setRepositoryDirectoryFactory([] { return static_cast<UIViewController*>(new OnlineRepositoriesViewController); });
    OnlineScreens::setStoreListFactory([] { return static_cast<UIViewController*>(new RepoStoresListController); });
    // Without the online service there is nothing to sign in to: the first run skips the step.
    InitViewController::setLoginStepFactory([]() -> UIViewController* {
        if (!ZMMakerAPI::isConfigured()) return nullptr;
        return new LoginViewController;
    });
    // A signed-in source screen reads its purchases again at every rebuild.
    SubcategoriesViewController::setPurchasedPackagesRefresher(
        [](const std::string& location) { ZMRepoStoreAPI::updadatePurchasedPackagesForSource(location); });
}

void ZMOnlineScreensSetup::uninstall() {
    SearchServices::setShared(nullptr);
    OnlineScreens::setRepositoryPageFactory(nullptr);
    OnlineScreens::setRepositoryDirectoryFactory(nullptr);
    OnlineScreens::setStoreListFactory(nullptr);
    InitViewController::setLoginStepFactory(nullptr);
    SubcategoriesViewController::setPurchasedPackagesRefresher(nullptr);
}
