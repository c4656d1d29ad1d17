#include "Browsing/OnlineScreens.h"

#include "Miscellaneous/ZMLocalization.h"
#include "TabPlaceholderViewController.h"

namespace OnlineScreens {

namespace {
DeveloperPageFactory gDeveloperPage;
RepositoryPageFactory gRepositoryPage;
RepositoryDirectoryFactory gRepositoryDirectory;
ScreenFactory gStoreList;
ScreenFactory gFollowedDevelopers;

UIViewController* placeholder(const char* screen, const std::string& title) {
    return new TabPlaceholderViewController(screen, QString::fromStdString(title));
}
}  // namespace

void setDeveloperPageFactory(DeveloperPageFactory factory) { gDeveloperPage = std::move(factory); }
void setRepositoryPageFactory(RepositoryPageFactory factory) { gRepositoryPage = std::move(factory); }
void setRepositoryDirectoryFactory(RepositoryDirectoryFactory factory) { gRepositoryDirectory = std::move(factory); }
void setStoreListFactory(ScreenFactory factory) { gStoreList = std::move(factory); }
void setFollowedDevelopersFactory(ScreenFactory factory) { gFollowedDevelopers = std::move(factory); }

UIViewController* developerPage(const SearchServices::Developer& developer, const QPixmap& avatar) {
    if (gDeveloperPage)
        if (auto* vc = gDeveloperPage(developer, avatar)) return vc;
    return placeholder("DeveloperDetailsViewController", developer.fullName);
}

UIViewController* repositoryPage(const SearchServices::Repository& repository, const QPixmap& icon) {
    if (gRepositoryPage)
        if (auto* vc = gRepositoryPage(repository, icon)) return vc;
    return placeholder("SearchedRepoViewController", repository.name);
}

UIViewController* repositoryDirectory() {
    if (gRepositoryDirectory)
        if (auto* vc = gRepositoryDirectory()) return vc;
    return placeholder("OnlineRepositoriesViewController", ZMLocalizedString("Browse Repositories"));
}

UIViewController* storeList() {
    if (gStoreList)
        if (auto* vc = gStoreList()) return vc;
    return placeholder("RepoStoresListController", ZMLocalizedString("Commercial Stores"));
}

UIViewController* followedDevelopers() {
    if (gFollowedDevelopers)
        if (auto* vc = gFollowedDevelopers()) return vc;
    return placeholder("FollowedDevelopersViewController", ZMLocalizedString("Followed Developers"));
}

}  // namespace OnlineScreens
