#include "ZMRepoStoreDetailsServices.h"

#include "Services/ZMRepoStoreAPI.h"

ZMRepoStoreDetailsServices::ZMRepoStoreDetailsServices(std::shared_ptr<ZMDetailsServices> others)
    : others_(std::move(others)) {}

void ZMRepoStoreDetailsServices::install() {
    auto current = ZMDetailsServices::shared();
    if (std::dynamic_pointer_cast<ZMRepoStoreDetailsServices>(current)) return;  // wrapped already
    ZMDetailsServices::install(std::make_shared<ZMRepoStoreDetailsServices>(current));
}

bool ZMRepoStoreDetailsServices::userIsAuthenticatedForStoreLocation(const std::string& location) {
    return ZMRepoStoreAPI::userIsAuthenticatedForStoreLocation(location);
}

void ZMRepoStoreDetailsServices::purchaseInfoForPackage(const std::string& identifier,
                                                        std::function<void(std::optional<PurchaseInfo>)> completion) {
    ZMRepoStoreAPI::sharedRepoStore().purchaseInfoForPackageWithIdentifier(
        identifier, [completion](bool failed, const RepoStorePackageInfoResponse& r) {
            // The store's "unavailable" is an answer; a request that failed, or was never sent, is none.
            if (failed && !(r.answered && !r.available)) return completion(std::nullopt);
            completion(PurchaseInfo{r.price, r.purchased, r.available});
        });
}

void ZMRepoStoreDetailsServices::postPackageStatistic(const std::string& identifier, const std::string& developerName,
                                                      const std::string& repositoryURL, const std::string& version,
                                                      int downloadCount, int seenCount) {
    others_->postPackageStatistic(identifier, developerName, repositoryURL, version, downloadCount, seenCount);
}

void ZMRepoStoreDetailsServices::searchDeveloper(const std::string& name,
                                                 std::function<void(std::vector<DeveloperProfile>)> completion) {
    others_->searchDeveloper(name, std::move(completion));
}

void ZMRepoStoreDetailsServices::getAverageRate(const std::string& identifier,
                                                std::function<void(std::optional<std::string>)> completion) {
    others_->getAverageRate(identifier, std::move(completion));
}

void ZMRepoStoreDetailsServices::getReviews(const std::string& identifier, std::function<void(std::vector<Review>)> completion) {
    others_->getReviews(identifier, std::move(completion));
}

void ZMRepoStoreDetailsServices::postRatingReview(const std::string& username, const std::string& identifier,
                                                  const std::string& text, const std::string& title, int64_t rating,
                                                  std::function<void(std::string)> completion) {
    others_->postRatingReview(username, identifier, text, title, rating, std::move(completion));
}

std::string ZMRepoStoreDetailsServices::accountUsername() { return others_->accountUsername(); }

int32_t ZMRepoStoreDetailsServices::accountUserID() { return others_->accountUserID(); }

void ZMRepoStoreDetailsServices::uploadWishlist() { others_->uploadWishlist(); }
