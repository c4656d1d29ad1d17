#pragma once
// The screens of the maker's online service that the browsing and account
// screens open: a developer's page, a repository of the online directory, the
// directory itself, the list of commercial stores and the followed
// developers. Each comes from a factory that the screen's own code installs;
// until it does, a placeholder page naming the screen stands in.
#include <QPixmap>
#include <functional>

#include "Browsing/SearchServices.h"

class UIViewController;

namespace OnlineScreens {

// The page of a developer, with the avatar already loaded (null when none).
using DeveloperPageFactory = std::function<UIViewController*(const SearchServices::Developer&, const QPixmap& avatar)>;
// A repository of the online directory, with its icon (null when none).
using RepositoryPageFactory = std::function<UIViewController*(const SearchServices::Repository&, const QPixmap& icon)>;
// The directory of repositories; also the store list and the followed developers.
using RepositoryDirectoryFactory = std::function<UIViewController*()>;
using ScreenFactory = std::function<UIViewController*()>;

// nullptr restores the placeholder.
void setDeveloperPageFactory(DeveloperPageFactory factory);
void setRepositoryPageFactory(RepositoryPageFactory factory);
void setRepositoryDirectoryFactory(RepositoryDirectoryFactory factory);
void setStoreListFactory(ScreenFactory factory);
void setFollowedDevelopersFactory(ScreenFactory factory);

// Never null. The opener sets the navigation title where the screen has none.
UIViewController* developerPage(const SearchServices::Developer& developer, const QPixmap& avatar);
UIViewController* repositoryPage(const SearchServices::Repository& repository, const QPixmap& icon);
UIViewController* repositoryDirectory();
// The commercial stores (RepoStoresListController) and the followed developers.
UIViewController* storeList();
UIViewController* followedDevelopers();

}  // namespace OnlineScreens
