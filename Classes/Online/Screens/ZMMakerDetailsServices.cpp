#include "Online/Screens/ZMMakerDetailsServices.h"

#include "Online/Screens/ZMRepoStoreDetailsServices.h"
#include "Services/ZMAccount.h"
#include "Services/ZMPackageRatings.h"
#include "Services/ZMPackagesWishlist.h"
#include "Services/ZMSearchDeveloper.h"
#include "Services/ZMStatistics.h"

void ZMMakerDetailsServices::install() {
    auto current = ZMDetailsServices::shared();
    if (auto stores = std::dynamic_pointer_cast<ZMRepoStoreDetailsServices>(current)) {
        if (!std::dynamic_pointer_cast<ZMMakerDetailsServices>(stores->others()))
            ZMDetailsServices::install(std::make_shared<ZMRepoStoreDetailsServices>(std::make_shared<ZMMakerDetailsServices>()));
        return;
    }
    if (!std::dynamic_pointer_cast<ZMMakerDetailsServices>(current))
        ZMDetailsServices::install(std::make_shared<ZMMakerDetailsServices>());
}

void ZMMakerDetailsServices::postPackageStatistic(const std::string& identifier, const std::string& developerName,
                                                  const std::string& repositoryURL, const std::string& version,
                                                  int downloadCount, int seenCount) {
    ZMStatistics::instance().postPackageStatisticForIdentifier(identifier, developerName, repositoryURL, version,
                                                               downloadCount, seenCount);
}

void ZMMakerDetailsServices::searchDeveloper(const std::string& name,
                                             std::function<void(std::vector<DeveloperProfile>)> completion) {
    ZMSearchDeveloper::instance().searchDeveloper(
        name, [completion = std::move(completion)](std::optional<std::string>, std::vector<ZMDeveloperProfile> profiles) {
            std::vector<DeveloperProfile> found;
            for (const auto& p : profiles) found.push_back({p.fullName, p.avatarURL});
            completion(std::move(found));
        });
}

void ZMMakerDetailsServices::getAverageRate(const std::string& identifier,
                                            std::function<void(std::optional<std::string>)> completion) {
    ZMPackageRatings().getAverageRate(identifier, std::move(completion));
}

void ZMMakerDetailsServices::getReviews(const std::string& identifier, std::function<void(std::vector<Review>)> completion) {
    ZMPackageRatings().getReviews(identifier, [completion = std::move(completion)](std::optional<std::string> status,
                                                                                  std::vector<ZMReviews> reviews) {
        completion(status ? std::move(reviews) : std::vector<ZMReviews>{});
    });
}

void ZMMakerDetailsServices::postRatingReview(const std::string& username, const std::string& identifier,
                                              const std::string& text, const std::string& title, int64_t rating,
                                              std::function<void(std::string)> completion) {
    ZMPackageRatings(username).postRatingReview(identifier, text, title, rating, std::move(completion));
}

std::string ZMMakerDetailsServices::accountUsername() { return ZMAccount::instance().returnUsername().value_or(""); }

int32_t ZMMakerDetailsServices::accountUserID() { return ZMAccount::instance().returnUserID(); }

void ZMMakerDetailsServices::uploadWishlist() { ZMPackagesWishlist::sharedInstance().syncWithTheZemtrixAccount(); }
