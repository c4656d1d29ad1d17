#pragma once
// Connects the review and developer screens to the rest of the program:
//   - the package details page opens the review list, the leave-review sheet
//     and one maintainer's package list (ZMDetailsServices::setScreens);
//   - the developer rows of search open DeveloperDetailsViewController
//     (OnlineScreens' developer page);
//   - a "developer" link of our scheme looks the name up and presents the
//     first profile's page with "Close"; a name under 3 characters, or one
//     the directory does not know or could not look up, goes to the search
//     tab as before.
// ZMApplication calls install() at launch.
#include <string>

class ZMReviewsAndDevelopersSetup {
public:
    static void install();
    // The developer link's road (what install() hooks into ZMURLRouter).
    static void showDeveloper(const std::string& name);
};
