#pragma once
// The online calls of the package details page, behind one interface the
// shell installs: a page view statistic, the developer lookup for the
// avatar, the average rating, the reviews, the store sign-in marker of a
// source and a paid package's purchase information.
//
// The default answers nothing: no developer (the default avatar), no rating
// (an empty label), no reviews, not signed in to any store (so no purchase
// request). The clients of the maker's service and of the repository stores
// replace it at launch with install().
//
// Completions may run on any thread; the page moves to the main thread itself.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class ZMDetailsServices {
public:
    struct DeveloperProfile {
        std::string fullName;
        std::string avatarURL;
    };
    struct Review {
        std::string userName;
        std::string title;
        std::string text;
        int rating = 0;
    };
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
    virtual void getReviews(const std::string& identifier, std::function<void(std::vector<Review>)> completion) {
        completion({});
    }
    // Whether the user is signed in to the store of the source at `location`.
    virtual bool userIsAuthenticatedForStoreLocation(const std::string& location) { return false; }
    // The store's answer for a paid package; nullopt when the request failed.
    virtual void purchaseInfoForPackage(const std::string& identifier,
                                        std::function<void(std::optional<PurchaseInfo>)> completion) {
        completion(std::nullopt);
    }

    // The installed services (the default until install() is called).
    static std::shared_ptr<ZMDetailsServices> shared();
    // nullptr puts the default back.
    static void install(std::shared_ptr<ZMDetailsServices> services);
};
