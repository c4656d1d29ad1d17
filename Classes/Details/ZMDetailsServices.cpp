#include "Details/ZMDetailsServices.h"

#include <mutex>

#include "Miscellaneous/ZMLocalization.h"

namespace {
std::mutex gMutex;
std::shared_ptr<ZMDetailsServices> gServices;
ZMDetailsServices::Screens gScreens;
}  // namespace

void ZMDetailsServices::postRatingReview(const std::string&, const std::string&, const std::string&, const std::string&,
                                         int64_t, std::function<void(std::string)> completion) {
    completion(ZMLocalizedString("You are not signed in."));
}

std::shared_ptr<ZMDetailsServices> ZMDetailsServices::shared() {
    std::lock_guard lock(gMutex);
    if (!gServices) gServices = std::make_shared<ZMDetailsServices>();
    return gServices;
}

void ZMDetailsServices::install(std::shared_ptr<ZMDetailsServices> services) {
    std::lock_guard lock(gMutex);
    gServices = std::move(services);
}

ZMDetailsServices::Screens ZMDetailsServices::screens() {
    std::lock_guard lock(gMutex);
    return gScreens;
}

void ZMDetailsServices::setScreens(Screens screens) {
    std::lock_guard lock(gMutex);
    gScreens = std::move(screens);
}
