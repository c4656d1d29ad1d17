#include "Services/ZMOnlineServices.h"

#include <mutex>

#include "Database/ZMRSource.h"
#include "Miscellaneous/ZMLog.h"
#include "Services/ZMFollowedDevelopers.h"
#include "Services/ZMSearchRepositories.h"
#include "Services/ZMStatistics.h"
#include "ZMPackageDownloadTask.h"
#include "ZMSourceRefresh.h"

namespace ZMOnlineServices {

namespace {
std::mutex mutex;
uint64_t refreshedHook = 0;
}  // namespace

void install() {
    std::lock_guard lock(mutex);
    if (refreshedHook) return;
    refreshedHook = ZMSourceRefresh::addRefreshedHook(
        [](const std::string& location) { ZMSearchRepositories::instance().addRepository(location); });
    ZMPackageDownloadTask::setStatisticsHandler([](const ZMPackageArchive& archive) {
        try {
            if (!ZMRSource::objectForPrimaryKey(archive.sourceLocation)) return;
        } catch (const std::exception& e) {
            ZMLOG("cannot read the source {}: {}", archive.sourceLocation, e.what());
            return;
        }
        ZMStatistics::instance().postPackageStatisticForIdentifier(archive.identifier, archive.maintainer,
                                                                   archive.sourceLocation, archive.version, 1, 0);
    });
}

void uninstall() {
    std::lock_guard lock(mutex);
    if (refreshedHook) ZMSourceRefresh::removeRefreshedHook(refreshedHook);
    refreshedHook = 0;
    ZMPackageDownloadTask::setStatisticsHandler(nullptr);
}

void installAccountSync(ZMRDevelopers& developers) {
    developers.setAccountSyncHook([] { ZMFollowedDevelopers::sharedInstance().syncWithTheZemtrixAccount(); });
}

void loadRepositoryDirectory() {
    install();
    ZMSearchRepositories::instance().listOnlineRepositories();
}

}  // namespace ZMOnlineServices
