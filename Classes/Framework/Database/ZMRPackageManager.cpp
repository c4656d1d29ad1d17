#include "Database/ZMRPackageManager.h"

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <mutex>

#include "Database/ZMRPackage.h"
#include "Database/ZMRSource.h"
#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLog.h"
#include "VostrellePersistentPreferences.h"
#include "ZMAPTManager.h"
#include "ZMDpkgStatusScanner.h"
#include "ZMIndexWriter.h"
#include "ZMPipelineManager.h"
#include "ZMSourceRefresh.h"

namespace {

std::mutex managerMutex;
std::shared_ptr<ZMRPackageManager> sharedManager;
// Managers replaced in tests stay alive: references and blocks may still use them.
std::vector<std::shared_ptr<ZMRPackageManager>> retiredManagers;
std::vector<std::string> defaultSourceList;  // none on this platform
// Bumped by resetForTesting(): work scheduled by a replaced manager is dropped.
std::atomic<uint64_t> managerGeneration{0};

}  // namespace

ZMRPackageManager& ZMRPackageManager::sharedPackageManager() {
    std::shared_ptr<ZMRPackageManager> manager;
    {
        std::lock_guard lock(managerMutex);
        if (!sharedManager) {
            sharedManager.reset(new ZMRPackageManager());
            manager = sharedManager;
        } else {
            return *sharedManager;
        }
    }
    // Outside the lock: the first-use steps may call back into the manager.
    manager->firstUse();
    return *manager;
}

void ZMRPackageManager::resetForTesting() {
    std::lock_guard lock(managerMutex);
    if (sharedManager) {
        ZMPipelineManager::sharedManager().removeIdleHook(sharedManager->idleHook_);
        ZMPipelineManager::sharedManager().setSourceRefreshEndedHook(nullptr);
        sharedManager->idleHook_ = 0;
        retiredManagers.push_back(std::move(sharedManager));
    }
    ++managerGeneration;
    sharedManager.reset();
}

std::vector<std::string> ZMRPackageManager::defaultSources() {
    std::lock_guard lock(managerMutex);
    return defaultSourceList;
}

void ZMRPackageManager::setDefaultSources(std::vector<std::string> locations) {
    std::lock_guard lock(managerMutex);
    defaultSourceList = std::move(locations);
}

ZMRPackageManager::ZMRPackageManager()
    : packages_(std::make_shared<ZMRPackages>()),
      sources_(std::make_shared<ZMRSources>()),
      developers_(std::make_shared<ZMRDevelopers>()),
      searchHistories_(std::make_shared<ZMRSearchHistories>()) {}

ZMRPackageManager::~ZMRPackageManager() {
    if (idleHook_) ZMPipelineManager::sharedManager().removeIdleHook(idleHook_);
}

void ZMRPackageManager::firstUse() {
    auto& pipeline = ZMPipelineManager::sharedManager();
    sources_->setRefreshTaskFactory([](const std::string& location) -> ZMTaskPtr {
        return ZMSourceRefresh::make(location);
    });
    // Installed packages of a removed source come back as packages known only to dpkg.
    sources_->setStatusRescanHook([] { ZMDpkgStatusScanner::scanInBackground(); });
    std::weak_ptr<ZMRSources> weakSources = sources_;
    const uint64_t generation = managerGeneration;
    pipeline.setSourceRefreshEndedHook([this, weakSources, generation](bool sourcesChanged) {
        if (auto sources = weakSources.lock()) sources->sourceRefreshEnded();
        if (sourcesChanged && generation == managerGeneration) afterRecordsRefreshed();
    });
    idleHook_ = pipeline.addIdleHook([this](const ZMPipelineIdleInfo& info) {
        // Installs and removals change the update count of the badges.
        if (info.packagesChanged()) packages_->rebuildPackagesCategoriesCache();
    });

    bool addedSources = false;
    try {
        auto realm = Realm::defaultRealm();
        auto defaults = defaultSources();
        if (!defaults.empty() && ZMRSource::allObjects().empty()) {
            realm->transactionWithBlock([&] {
                for (const auto& location : defaults) {
                    auto normalized = ZMRSources::normalizeSourceLocation(location);
                    if (!normalized.ok() || realm->objectForPrimaryKey<ZMRSource>(normalized.location)) continue;
                    ZMRSource source = ZMRSource::newSourceWithLocation(normalized.location);
                    source.category = "Default";
                    realm->add(source);
                    addedSources = true;
                }
            });
        }
    } catch (const std::exception& e) {
        ZMLOG("could not add the default sources: {}", e.what());
    }

    bool due = false;
    if (ZMRSources::isNetworkReachable()) {
        auto& preferences = VostrellePersistentPreferences::sharedInstance();
        auto last = preferences.dateForKey(VostrellePreferenceKey::LastRefreshDate);
        if (!last) {
            due = true;
        } else {
            double age = std::chrono::duration<double>(PersistentDictionary::Clock::now() - *last).count();
            due = age > kRefreshInterval || age < 0;
        }
        if (!due) {
            try {
                due = ZMRPackage::allObjects().empty();
            } catch (const std::exception& e) {
                ZMLOG("could not count the packages: {}", e.what());
            }
        }
    }
    if (addedSources || due) {
        scheduledLaunchRefresh_ = true;
        std::weak_ptr<ZMRSources> sources = sources_;
        const uint64_t generation = managerGeneration;
        Dispatch::mainAfter(kLaunchRefreshDelay, [sources, generation] {
            if (generation != managerGeneration) return;
            if (auto s = sources.lock()) s->refreshAllSources();
        });
    }
}

void ZMRPackageManager::afterRecordsRefreshed() {
    // On the main thread; the rebuilds read the whole table, side by side:
    // the new-packages lists then the categories (which count the newest
    // packages), the developers, and the checkpoint that copies the log the
    // refreshes wrote back into the database.
    rebuildsPending_ += 3;
    Dispatch::defaultQueue([this] {
        rebuildNewPackagesAndCategories();
        rebuildEnded();
    });
    Dispatch::defaultQueue([this] {
        rebuildDevelopers();
        rebuildEnded();
    });
    Dispatch::backgroundQueue([this] {
        try {
            Realm::defaultRealm()->checkpointAndTruncate();
        } catch (const std::exception& e) {
            ZMLOG("checkpoint after the refresh failed: {}", e.what());
        }
        rebuildEnded();
    });
    // The refreshes placed their indexes in the private APT tree; apt's
    // binary caches follow once the tree exists, unless the refreshes had
    // them rebuilt already.
    struct stat st{};
    if (!ZMAPTManager::cachesAreCurrent() && ::stat((ZMAPTManager::treePath() + "/apt.conf").c_str(), &st) == 0)
        ZMPipelineManager::sharedManager().queueTask(ZMAPTManager::cacheRebuildTask());
}

void ZMRPackageManager::rebuildEnded() {
    if (--rebuildsPending_ > 0) return;
    ZMIndexWriter::shared().forgetIdentifiers();
    // The refresh and the rebuilds leave freed memory in the page caches of
    // the connections and in the heaps of the threads that did the work.
    try {
        Realm::defaultRealm()->releaseMemory();
    } catch (const std::exception& e) {
        ZMLOG("could not release memory: {}", e.what());
    }
}

void ZMRPackageManager::rebuildNewPackagesAndCategories() {
    try {
        packages_->rebuildDictsOfNewPackagesAndVersions();
    } catch (const std::exception& e) {
        ZMLOG("new-packages rebuild failed: {}", e.what());
    }
    packages_->rebuildPackagesCategoriesCacheAndAnnounce();
}

void ZMRPackageManager::rebuildDevelopers() {
    try {
        developers_->updateDevelopersCache();
    } catch (const std::exception& e) {
        ZMLOG("developers cache rebuild failed: {}", e.what());
    }
}

void ZMRPackageManager::rebuildCachesAfterRefresh() {
    rebuildDevelopers();
    rebuildNewPackagesAndCategories();
}
