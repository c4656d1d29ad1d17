#include "Services/ZMSetupRestoration.h"

#include <sys/stat.h>

#include <algorithm>

#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageManager.h"
#include "Database/ZMRSource.h"
#include "Dispatch/Dispatch.h"
#include "Foundation/AtomicFile.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "Services/ZMAccount.h"
#include "ZMAPTManager.h"
#include "ZMPackageOperations.h"
#include "ZMPipelineManager.h"
#include "ZMSourceRefresh.h"

namespace {

using Finding = ZMSetupRestoration::Finding;

Finding failed(std::string message) {
    Finding finding;
    finding.kind = Finding::Kind::Failed;
    finding.message = std::move(message);
    return finding;
}

std::string retrievalErrorText() {
    return ZMLocalizedString("There was an error during the backup retrieval, contact us or retry later.");
}

// The stored location of a source configured under either scheme, or "".
std::string configuredLocation(const std::string& normalized) {
    size_t separator = normalized.find("://");
    if (separator == std::string::npos) return {};
    const std::string rest = normalized.substr(separator + 3);
    for (const char* scheme : {"https://", "http://"})
        if (ZMRSource::objectForPrimaryKey(scheme + rest)) return scheme + rest;
    return {};
}

bool isPlainHTTP(const std::string& normalized) { return normalized.rfind("https://", 0) != 0; }

}  // namespace

bool ZMSetupRestoration::Comparison::hasSelection() const {
    auto any = [](const std::map<std::string, bool>& map) {
        return std::any_of(map.begin(), map.end(), [](const auto& entry) { return entry.second; });
    };
    return any(sourcesToRestore) || any(packagesToRestore);
}

// ---- finding and comparing ----------------------------------------------------------

void ZMSetupRestoration::openBackup(std::function<void(Finding)> completion) {
    if (ZMAccount::instance().isPremium()) {
        ZMSetupBackup::fetchOnlineBackup([completion](ZMResult<std::string> bytes) {
            if (!bytes) {
                Dispatch::main(
                    [completion, message = bytes.error->localizedDescription()] { completion(failed(message)); });
                return;
            }
            restoreBackupWithJSONData(std::move(*bytes.value), completion);
        });
        return;
    }
    Dispatch::defaultQueue([completion] {
        const std::string path = ZMSetupBackup::localBackupPath();
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            Finding finding;
            finding.kind = Finding::Kind::NoBackup;
            finding.message = ZMLocalizedString(
                "No local backups were found, and you are not signed in to access server backups. Do you want to "
                "create a new backup now?");
            Dispatch::main([completion, finding] { completion(finding); });
            return;
        }
        std::string bytes, why;
        if (!AtomicFile::read(path, bytes, &why)) {
            ZMLOG("cannot read {}: {}", path, why);
            Dispatch::main([completion] { completion(failed(retrievalErrorText())); });
            return;
        }
        Finding finding = compare(bytes);
        Dispatch::main([completion, finding = std::move(finding)] { completion(finding); });
    });
}

void ZMSetupRestoration::restoreBackupWithJSONData(std::string bytes, std::function<void(Finding)> completion) {
    Dispatch::defaultQueue([bytes = std::move(bytes), completion = std::move(completion)] {
        Finding finding = compare(bytes);
        Dispatch::main([completion, finding = std::move(finding)] { completion(finding); });
    });
}

ZMSetupRestoration::Finding ZMSetupRestoration::compare(const std::string& bytes) {
    auto backup = ZMSetupBackup::parse(bytes);
    if (!backup) return failed(retrievalErrorText());
    Finding finding;
    if (backup->sources.empty() && backup->packages.empty()) {
        finding.kind = Finding::Kind::Empty;
        finding.message = ZMLocalizedString("This backup is empty");
        return finding;
    }
    try {
        auto& comparison = finding.comparison;
        for (const auto& location : backup->sources) {
            if (comparison.sourcesToRestore.count(location)) continue;
            auto normalized = ZMRSources::normalizeSourceLocation(location);
            if (!normalized.ok()) {
                if (std::find(comparison.unusableSources.begin(), comparison.unusableSources.end(), location) ==
                    comparison.unusableSources.end())
                    comparison.unusableSources.push_back(location);
                continue;
            }
            comparison.sourcesToRestore[location] = !ZMRSources::isLocationConfigured(normalized.location);
        }
        for (const auto& identifier : backup->packages) {
            if (comparison.packagesToRestore.count(identifier)) continue;
            auto package = ZMRPackage::objectForPrimaryKey(identifier);
            comparison.packagesToRestore[identifier] = !package || !package->isInstalled.value_or(false);
        }
    } catch (const std::exception& e) {
        ZMLOG("cannot compare the backup with the database: {}", e.what());
        return failed(retrievalErrorText());
    }
    if (finding.comparison.hasSelection()) {
        finding.kind = Finding::Kind::Compared;
    } else if (!finding.comparison.unusableSources.empty()) {
        // Not "already installed": these were never here and cannot be.
        std::string list;
        for (const auto& location : finding.comparison.unusableSources) list += (list.empty() ? "" : "\n") + location;
        finding.kind = Finding::Kind::Unrestorable;
        finding.message = ZMLocalization::format(
            "These sources of the backup cannot be added, and nothing else in it needs restoring:\n%@\nDo you want to "
            "view the backup anyways?",
            {list});
    } else {
        finding.kind = Finding::Kind::AllInstalled;
        finding.message = ZMLocalizedString(
            "All items in this backup are already installed, do you want to view the backup anyways?");
    }
    return finding;
}

std::vector<std::string> ZMSetupRestoration::selected(const std::map<std::string, bool>& map) {
    std::vector<std::string> out;
    for (const auto& [key, on] : map)
        if (on) out.push_back(key);
    return out;
}

std::vector<std::string> ZMSetupRestoration::plainHTTPSources(const std::vector<std::string>& locations) {
    std::vector<std::string> out;
    for (const auto& location : locations) {
        auto normalized = ZMRSources::normalizeSourceLocation(location);
        if (normalized.ok() && isPlainHTTP(normalized.location) && configuredLocation(normalized.location).empty())
            out.push_back(location);
    }
    return out;
}

// ---- restoring ------------------------------------------------------------------------

ZMSetupRestoration::ZMSetupRestoration(std::vector<std::string> sources, std::vector<std::string> packages,
                                       bool httpApproved, std::function<void(Summary)> completion)
    : sources_(std::move(sources)),
      packages_(std::move(packages)),
      httpApproved_(httpApproved),
      completion_(std::move(completion)) {}

std::shared_ptr<ZMSetupRestoration> ZMSetupRestoration::launchSetupRestoration(
    std::vector<std::string> sources, std::vector<std::string> packages, bool httpApproved,
    std::function<void(Summary)> completion) {
    std::shared_ptr<ZMSetupRestoration> restoration(
        new ZMSetupRestoration(std::move(sources), std::move(packages), httpApproved, std::move(completion)));
    restoration->keepAlive_ = restoration;
    if (restoration->sources_.empty()) {
        Dispatch::main([restoration] { restoration->launchSetupRestorationPackagesPart(); });
    } else {
        Dispatch::defaultQueue([restoration] { restoration->launchSetupRestorationSourcesPart(); });
    }
    return restoration;
}

void ZMSetupRestoration::launchSetupRestorationSourcesPart() {
    std::vector<std::string> toAdd, toRefresh;
    std::set<std::string> seen;
    try {
        for (const auto& location : sources_) {
            auto normalized = ZMRSources::normalizeSourceLocation(location);
            if (!normalized.ok()) {
                summary_.sourcesSkipped.push_back(location);
                continue;
            }
            std::string stored = configuredLocation(normalized.location);
            const std::string& key = stored.empty() ? normalized.location : stored;
            if (!seen.insert(key).second) continue;
            if (!stored.empty()) {
                toRefresh.push_back(stored);
                summary_.sourcesRefreshed.push_back(stored);
            } else if (isPlainHTTP(normalized.location) && !httpApproved_) {
                summary_.sourcesSkipped.push_back(location);
            } else {
                toAdd.push_back(normalized.location);
            }
        }
        if (!toAdd.empty()) {
            // Leftovers of an earlier life of the source in the APT tree; a
            // configured source keeps its list files.
            for (const auto& location : toAdd) ZMAPTManager::purgeSourceFromSandbox(location);
            auto realm = Realm::defaultRealm();
            realm->transactionWithBlock([&] {
                for (const auto& location : toAdd) {
                    if (realm->objectForPrimaryKey<ZMRSource>(location)) continue;
                    auto source = ZMRSource::newSourceWithLocation(location);
                    realm->add(source);
                }
            });
            summary_.sourcesAdded = toAdd;
        }
    } catch (const std::exception& e) {
        ZMLOG("restoring the sources failed: {}", e.what());
        summary_.sourcesSkipped.insert(summary_.sourcesSkipped.end(), toAdd.begin(), toAdd.end());
        toAdd.clear();
    }
    toRefresh.insert(toRefresh.end(), toAdd.begin(), toAdd.end());
    auto self = shared_from_this();
    Dispatch::main([self, toRefresh] { self->queueRefreshes(toRefresh); });
}

void ZMSetupRestoration::queueRefreshes(const std::vector<std::string>& locations) {
    // Observed before anything is queued, so that no end goes unseen.
    std::weak_ptr<ZMSetupRestoration> weak = weak_from_this();
    observer_ = NotificationCenter::defaultCenter().addObserver(
        ZMRSourceUpdatedNotification, NotificationCenter::Queue::Main, [weak](const Notification& n) {
            if (auto self = weak.lock()) self->sourceRefreshed(n.objectString());
        });
    auto& sources = ZMRPackageManager::sharedPackageManager().sources();
    const bool reachable = ZMRSources::isNetworkReachable();
    for (const auto& location : locations) {
        // Offline the refresh could only fail: the packages part need not wait.
        bool queued = reachable && sources.refreshSource(location);
        if (queued || ZMPipelineManager::sharedManager().isTaskLive(ZMSourceRefresh::taskIDForLocation(location)))
            waiting_.insert(location);
    }
    if (waiting_.empty()) launchSetupRestorationPackagesPart();
}

void ZMSetupRestoration::sourceRefreshed(const std::string& location) {
    if (!waiting_.erase(location) || !waiting_.empty()) return;
    launchSetupRestorationPackagesPart();
}

void ZMSetupRestoration::launchSetupRestorationPackagesPart() {
    if (packagesPartStarted_) return;
    packagesPartStarted_ = true;
    observer_.reset();
    auto self = shared_from_this();
    Dispatch::defaultQueue([self] {
        auto& packages = ZMRPackageManager::sharedPackageManager().packages();
        for (const auto& identifier : self->packages_) {
            try {
                // An installed package is there already: queued without a
                // version, the collection would choose to remove it.
                auto package = ZMRPackage::objectForPrimaryKey(identifier);
                if (package && !package->isInstalled.value_or(false)) {
                    packages.setPackage(identifier, true, std::nullopt, ZMRQueueOperationNone);
                    self->summary_.packagesQueued.push_back(identifier);
                    continue;
                }
            } catch (const std::exception& e) {
                ZMLOG("could not queue {}: {}", identifier, e.what());
            }
            self->summary_.packagesSkipped.push_back(identifier);
        }
        ZMPackageOperations::postQueueStateChanged(self->summary_.packagesQueued);
        Dispatch::main([self] {
            if (self->completion_) self->completion_(self->summary_);
            self->completion_ = nullptr;
            self->keepAlive_.reset();
        });
    });
}
