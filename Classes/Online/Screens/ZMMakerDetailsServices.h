#pragma once
// The package details page's questions answered by the maker's online
// service: the page view statistic (ZMStatistics), the developer lookup
// (ZMSearchDeveloper), the average rating, the reviews and the user's rating
// (ZMPackageRatings), the signed-in account (ZMAccount) and the wishlist
// upload (ZMPackagesWishlist). The store questions stay with the default, or
// with the repository stores' services wrapped around these.
//
// With no service configured the clients send nothing and fail at once, so
// the page gets the default's answers.
#include "Details/ZMDetailsServices.h"

class ZMMakerDetailsServices : public ZMDetailsServices {
public:
    // Installs these services, beneath the stores' answers when those are
    // installed already. Idempotent.
    static void install();

    void postPackageStatistic(const std::string& identifier, const std::string& developerName,
                              const std::string& repositoryURL, const std::string& version, int downloadCount,
                              int seenCount) override;
    void searchDeveloper(const std::string& name, std::function<void(std::vector<DeveloperProfile>)> completion) override;
    void getAverageRate(const std::string& identifier, std::function<void(std::optional<std::string>)> completion) override;
    void getReviews(const std::string& identifier, std::function<void(std::vector<Review>)> completion) override;
    void postRatingReview(const std::string& username, const std::string& identifier, const std::string& text,
                          const std::string& title, int64_t rating, std::function<void(std::string)> completion) override;
    std::string accountUsername() override;
    int32_t accountUserID() override;
    void uploadWishlist() override;
};
