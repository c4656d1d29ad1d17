#include "Details/ZMDetailsServices.h"

#include <mutex>

namespace {
std::mutex gMutex;
std::shared_ptr<ZMDetailsServices> gServices;
}  // namespace

std::shared_ptr<ZMDetailsServices> ZMDetailsServices::shared() {
    std::lock_guard lock(gMutex);
    if (!gServices) gServices = std::make_shared<ZMDetailsServices>();
    return gServices;
}

void ZMDetailsServices::install(std::shared_ptr<ZMDetailsServices> services) {
    std::lock_guard lock(gMutex);
    gServices = std::move(services);
}
