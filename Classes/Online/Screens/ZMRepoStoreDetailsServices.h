#pragma once
// The package page's store questions answered by the repository stores:
// whether the user is signed in to a source's store (a token and a payment
// secret), and a paid package's purchase information. Everything else the
// page asks goes on to the services installed before (the maker's service,
// or the default that answers nothing).
#include <memory>

#include "Details/ZMDetailsServices.h"

class ZMRepoStoreDetailsServices : public ZMDetailsServices {
public:
    explicit ZMRepoStoreDetailsServices(std::shared_ptr<ZMDetailsServices> others);
    // Wraps the installed services with the store's answers.
    static void install();

    bool userIsAuthenticatedForStoreLocation(const std::string& location) override;
    void purchaseInfoForPackage(const std::string& identifier,
                                std::function<void(std::optional<PurchaseInfo>)> completion) override;

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

    const std::shared_ptr<ZMDetailsServices>& others() const { return others_; }

private:
    std::shared_ptr<ZMDetailsServices> others_;
};
