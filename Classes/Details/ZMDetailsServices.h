#pragma once
// The online calls of the package details page, behind one interface the
// shell installs: a page view statistic, the developer lookup for the
// avatar, the average rating, the reviews, the user's own rating, the
// account (who is signed in), the wishlist upload, the store sign-in marker
// of a source and a paid package's purchase information.
//
// The default answers nothing and sends nothing: no developer (the default
// avatar), no rating (an empty label), no reviews, nobody signed in (ratings
// are refused, the wishlist stays local), not signed in to any store (so no
// purchase request). The maker's clients (ZMMakerDetailsServices) and the
// repository stores (ZMRepoStoreDetailsServices) replace it at launch with
// install().
//
// Completions may run on any thread; the page moves to the main thread itself.
//
// The screens the page opens that live elsewhere (the review list, the
// leave-review sheet and one maintainer's package list) come from factories
// (setScreens); the page hides the buttons of the ones left unset. The
// application installs them at launch (ZMReviewsAndDevelopersSetup).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Services/ZMReviews.h"

class LeaveReviewDelegate;
class UIViewController;

class ZMDetailsServices {
public:
    struct DeveloperProfile {
        std::string fullName;
        std::string avatarURL;
    };
    using Review = ZMReviews;
    struct PurchaseInfo {
        std::string price;
        bool purchased = false;
        bool available = false;
    };

    virtual ~ZMDetailsServices() = default;

    // One view of the package's page (fire and forget).
    virtual void postPackageStatistic(const std::string& identifier, const std::string& developerName,
                                      const std::string& repositoryURL, const std::string& version, int downloadCount,
                                      int seenCount) {}
    // Developers found under the name; empty when nobody was found.
    virtual void searchDeveloper(const std::string& name, std::function<void(std::vector<DeveloperProfile>)> completion) {
        completion({});
    }
    // The text of the package's average rating; nullopt when it could not be had.
    virtual void getAverageRate(const std::string& identifier, std::function<void(std::optional<std::string>)> completion) {
        completion(std::nullopt);
    }
    // The package's reviews in the server's order; empty when the fetch failed.
    virtual void getReviews(const std::string& identifier, std::function<void(std::vector<Review>)> completion) {
        completion({});
    }
    // Sends the user's stars (with a review when the title or the text is not
    // empty) under `username`. The answer: "Success", "Successfully updated",
    // "Failed", another text of the server, or a failure's description.
    virtual void postRatingReview(const std::string& username, const std::string& identifier, const std::string& text,
                                  const std::string& title, int64_t rating, std::function<void(std::string)> completion);
    // The signed-in account's user name ("" when none) and user ID (0 when none).
    virtual std::string accountUsername() { return {}; }
    virtual int32_t accountUserID() { return 0; }
    // Uploads the committed wishlist to the account.
    virtual void uploadWishlist() {}
    // Whether the user is signed in to the store of the source at `location`.
    virtual bool userIsAuthenticatedForStoreLocation(const std::string& location) { return false; }
    // The store's answer for a paid package; nullopt when the request failed.
    virtual void purchaseInfoForPackage(const std::string& identifier,
                                        std::function<void(std::optional<PurchaseInfo>)> completion) {
        completion(std::nullopt);
    }

    // Signed in: a user name and a user ID other than 0.
    bool isSignedIn() { return !accountUsername().empty() && accountUserID() != 0; }

    // The installed services (the default until install() is called).
    static std::shared_ptr<ZMDetailsServices> shared();
    // nullptr puts the default back.
    static void install(std::shared_ptr<ZMDetailsServices> services);

    // ---- screens of other parts of the program --------------------------------------
    struct Screens {
        // Every review of the package; the maintainer as the record holds it.
        std::function<UIViewController*(const std::string& identifier, const std::string& maintainer)> allReviews;
        // The sheet that rates and reviews an installed package.
        std::function<UIViewController*(const std::string& identifier, LeaveReviewDelegate* delegate)> leaveReview;
        // Every package of the maintainer, under `title`.
        std::function<UIViewController*(const std::string& maintainer, const std::string& title)> maintainerPackages;
    };
    static Screens screens();
    // Empty members hide their buttons; {} removes them all.
    static void setScreens(Screens screens);
};
