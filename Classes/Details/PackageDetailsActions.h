#pragma once
// The actions of the package details page, each a button, link or bar item
// of it: Get, options and Share (the queue entry point), contacting the
// developer, the developer's website and donation links, the review list,
// the leave-review sheet, the installed files, the developer's contact card,
// the maintainer's other packages, links in the texts, and the wishlist.
//
// Child screens are pushed on the page's navigation stack (sheets and popups
// are presented over it) and the page keeps the last one. Links open only
// when they are http(s) addresses; a missing one says so in a popup.
#include <QUrl>
#include <string>

class PackageDetailsViewController;
class QPushButton;
class QWidget;
class UIViewController;

class PackageDetailsActions {
public:
    static void getPackage(PackageDetailsViewController& page, QPushButton* sender);
    static void presentOptions(PackageDetailsViewController& page, QWidget* sender);
    static void sharePackage(PackageDetailsViewController& page, QWidget* sender);
    static void contactDeveloper(PackageDetailsViewController& page);
    static void developerWebsite(PackageDetailsViewController& page);
    static void donate(PackageDetailsViewController& page);
    static void openTextLink(PackageDetailsViewController& page, const QUrl& url);
    static void seeAllDevPackages(PackageDetailsViewController& page);
    static void seeAllReviews(PackageDetailsViewController& page);
    static void leaveReview(PackageDetailsViewController& page);
    static void seeInstalledFiles(PackageDetailsViewController& page);
    static void openDeveloperCard(PackageDetailsViewController& page);
    static void openPackage(PackageDetailsViewController& page, const std::string& identifier);
    static void updateWishlistButton(PackageDetailsViewController& page);
    // Flips the record's mark in one write; once committed, uploads the
    // wishlist for a signed-in account (signed out the mark stays local).
    static void changeWishlistState(PackageDetailsViewController& page);

    static void push(PackageDetailsViewController& page, UIViewController* screen);
    static void showErrorPopup(PackageDetailsViewController& page, const std::string& title, const std::string& message);
    // Opens `link` in the in-app browser under `title`; false unless it is an http(s) address.
    static bool openWebLink(PackageDetailsViewController& page, const std::string& link, const std::string& title);
};
