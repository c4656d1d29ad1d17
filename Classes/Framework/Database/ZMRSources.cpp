#include "Database/ZMRSources.h"
#include "SystemConfiguration/Reachability.h"

#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageVersion.h"
#include "Database/ZMRSource.h"
#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMPaths.h"
#include "Notifications/NotificationCenter.h"
#include "VostrellePersistentPreferences.h"
#include "ZMAPTManager.h"
#include "ZMPipelineManager.h"

namespace {

std::mutex reachabilityMutex;
std::function<bool()> reachabilityHook;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

std::string lowercase(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

}  // namespace

ZMRSources::ZMRSources() = default;

void ZMRSources::setRefreshTaskFactory(RefreshTaskFactory factory) {
    std::lock_guard lock(mutex_);
    refreshTaskFactory_ = std::move(factory);
}

void ZMRSources::setAuthenticationHook(AuthenticationHook hook) {
    std::lock_guard lock(mutex_);
    authenticationHook_ = std::move(hook);
}

void ZMRSources::setPurgeHook(PurgeHook hook) {
    std::lock_guard lock(mutex_);
    purgeHook_ = std::move(hook);
}

void ZMRSources::setStoreFailureHook(StoreFailureHook hook) {
    std::lock_guard lock(mutex_);
    storeFailureHook_ = std::move(hook);
}

void ZMRSources::setStatusRescanHook(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    statusRescanHook_ = std::move(hook);
}

void ZMRSources::setReachabilityHook(std::function<bool()> hook) {
    std::lock_guard lock(reachabilityMutex);
    reachabilityHook = std::move(hook);
}

bool ZMRSources::isNetworkReachable() {
    std::function<bool()> hook;
    {
        std::lock_guard lock(reachabilityMutex);
        hook = reachabilityHook;
    }
    // Without a hook, the platform's own check ($VOSTRELLE_ASSUME_REACHABLE overrides it).
    return hook ? hook() : Reachability::isReachable();
}

// ---- configured sources ------------------------------------------------------------

std::vector<std::string> ZMRSources::arrayOfConfiguredSources() const {
    std::vector<std::string> out;
    for (const auto& v : ZMRSource::allObjects().valueForKey("location"))
        if (v.is_string()) out.push_back(v.get<std::string>());
    return out;
}

ZMRNormalizedSourceLocation ZMRSources::normalizeSourceLocation(const std::string& input) {
    using P = ZMRSourceLocationProblem;
    size_t begin = 0, end = input.size();
    while (begin < end && isBlank(input[begin])) ++begin;
    while (end > begin && isBlank(input[end - 1])) --end;
    std::string location = input.substr(begin, end - begin);
    if (location.empty()) return {{}, P::Empty};
    for (unsigned char c : location) {
        // Such characters cannot be part of a repository URL and would break
        // the APT sources list the location is written to.
        if (c <= 0x20 || c == 0x7F || c == '"' || c == '\'' || c == '<' || c == '>' || c == '[' || c == ']' ||
            c == '\\' || c == '`')
            return {{}, P::InvalidCharacters};
    }
    if (location == "http://" || location == "https://") return {{}, P::SchemeOnly};
    size_t separator = location.find("://");
    if (separator == std::string::npos) return {{}, P::NoScheme};
    std::string scheme = lowercase(location.substr(0, separator));
    if (scheme != "http" && scheme != "https") return {{}, P::UnsupportedScheme};
    if (separator + 3 >= location.size() || location[separator + 3] == '/') return {{}, P::SchemeOnly};
    // The scheme is stored in lower case so that the duplicate test below and
    // the sources list agree.
    location = scheme + location.substr(separator);
    if (location.back() != '/') location.push_back('/');
    // What the APT sources list cannot carry (query strings, user names,
    // '$' or '#') would be a source that never refreshes.
    if (!ZMAPTManager::isAcceptableSourceLocation(location)) return {{}, P::InvalidCharacters};
    return {location, P::None};
}

bool ZMRSources::isLocationConfigured(const std::string& normalizedLocation) {
    size_t separator = normalizedLocation.find("://");
    if (separator == std::string::npos) return false;
    const std::string rest = normalizedLocation.substr(separator + 3);
    return ZMRSource::objectForPrimaryKey("https://" + rest).has_value() ||
           ZMRSource::objectForPrimaryKey("http://" + rest).has_value();
}

ZMRAddSourceResult ZMRSources::addSourceWithLocation(const std::string& input, bool httpApproval,
                                                     bool showOriginalDepictions,
                                                     std::function<void(bool stored)> added) {
    auto normalized = normalizeSourceLocation(input);
    if (!normalized.ok()) {
        ZMLOG("refused source location '{}'", input);
        return {ZMRAddSourceStatus::Refused, {}, normalized.problem};
    }
    const std::string location = normalized.location;
    if (isLocationConfigured(location)) return {ZMRAddSourceStatus::AlreadyConfigured, location};
    if (!httpApproval && location.rfind("https://", 0) != 0) return {ZMRAddSourceStatus::NeedsHttpApproval, location};

    if (VostrellePersistentPreferences::sharedInstance().boolForKey(
            VostrellePreferenceKey::AuthenticationForPackagesManagementTasks)) {
        AuthenticationHook hook;
        {
            std::lock_guard lock(mutex_);
            hook = authenticationHook_;
        }
        if (!hook) {
            // Asked to authenticate and nobody can: adding anyway would skip the user's safeguard.
            ZMLOG("no authentication available; source {} not added", location);
            return {ZMRAddSourceStatus::Refused, {}, ZMRSourceLocationProblem::None};
        }
        std::string reason = ZMLocalizedString("Please authenticate yourself to add %@");
        if (auto at = reason.find("%@"); at != std::string::npos) reason.replace(at, 2, location);
        std::weak_ptr<ZMRSources> weak = weak_from_this();
        hook(reason, [weak, location, showOriginalDepictions, added](bool ok) {
            auto self = weak.lock();
            if (!ok || !self) {
                if (added) Dispatch::main([added] { added(false); });
                return;
            }
            self->storeSource(location, showOriginalDepictions, added);
        });
        return {ZMRAddSourceStatus::AwaitingAuthentication, location};
    }
    storeSource(location, showOriginalDepictions, std::move(added));
    return {ZMRAddSourceStatus::Added, location};
}

void ZMRSources::storeSource(const std::string& location, bool showOriginalDepictions,
                             std::function<void(bool)> added) {
    auto self = shared_from_this();
    Dispatch::defaultQueue([self, location, showOriginalDepictions, added] {
        bool stored = false;
        std::optional<ZMError> failure;
        try {
            auto realm = Realm::defaultRealm();
            bool adding = false;
            realm->transactionWithBlock([&] {
                // Checked again in the transaction: two adds of one location may race.
                if (realm->objectForPrimaryKey<ZMRSource>(location)) return;
                ZMRSource source = ZMRSource::newSourceWithLocation(location);
                source.seeOriginalDepictions = showOriginalDepictions;
                realm->add(source);
                adding = true;
            });
            stored = adding;  // only once committed
        } catch (const std::exception& e) {
            ZMLOG("could not store source {}: {}", location, e.what());
            failure = ZMError::storeFailure(e.what());
        }
        if (stored) self->refreshSource(location);
        StoreFailureHook tell;
        if (failure) {
            std::lock_guard lock(self->mutex_);
            tell = self->storeFailureHook_;
        }
        if (!tell && !added) return;
        Dispatch::main([added, stored, tell, failure] {
            if (tell) tell(*failure);
            if (added) added(stored);
        });
    });
}

std::string ZMRSources::packagesFilePath(const std::string& location) {
    std::string name = location;
    std::replace(name.begin(), name.end(), '/', '_');
    return ZMPaths::subdirectory("SourcesFiles") + "/" + name + "-Packages";
}

void ZMRSources::removeSourceWithLocation(const std::string& location,
                                          std::function<void(std::optional<ZMError>)> completion) {
    PurgeHook purge;
    std::function<void()> rescan;
    {
        std::lock_guard lock(mutex_);
        purge = purgeHook_;
        rescan = statusRescanHook_;
    }
    if (!purge) {
        purge = [](const std::string& location) -> std::optional<ZMError> {
            if (ZMAPTManager::isAcceptableSourceLocation(location)) ZMAPTManager::purgeSourceFromSandbox(location);
            auto rebuilt = ZMAPTManager::rebuildCaches();
            if (!rebuilt) return rebuilt.error;
            return std::nullopt;
        };
    }
    Dispatch::defaultQueue([location, purge, rescan, completion] {
        std::optional<ZMError> failure;
        const std::string file = packagesFilePath(location);
        if (::unlink(file.c_str()) != 0 && errno != ENOENT)
            ZMLOG("could not remove {}: {}", file, std::strerror(errno));
        try {
            failure = purge(location);
        } catch (const std::exception& e) {
            failure = ZMError::make(ZMError::CommandFailed, e.what());
        }
        if (failure) ZMLOG("purging {} failed: {}", location, failure->debugDescription());
        try {
            auto realm = Realm::defaultRealm();
            realm->transactionWithBlock([&] {
                realm->deleteObjects(realm->objectsWhere<ZMRPackageVersion>("source = %@", location));
                realm->deleteObjects(realm->objectsWhere<ZMRPackage>("sourceLocation = %@", location));
                if (auto source = realm->objectForPrimaryKey<ZMRSource>(location)) realm->deleteObject(*source);
            });
        } catch (const std::exception& e) {
            ZMLOG("could not delete the records of {}: {}", location, e.what());
            // What the user sees: the source is still there.
            failure = ZMError::storeFailure(e.what());
        }
        // Installed packages of the source were deleted with it; the status scan brings them back.
        if (rescan) rescan();
        NotificationCenter::defaultCenter().postOnMain(ZMRSourceUpdatedNotification, std::any(), nullptr);
        if (completion) Dispatch::main([completion, failure] { completion(failure); });
    });
}

// ---- refreshing -------------------------------------------------------------------------

size_t ZMRSources::queueRefreshes(const std::vector<std::string>& locations) {
    RefreshTaskFactory factory;
    {
        std::lock_guard lock(mutex_);
        factory = refreshTaskFactory_;
    }
    std::vector<ZMTaskPtr> tasks;
    if (factory)
        for (const auto& location : locations)
            if (auto task = factory(location)) tasks.push_back(std::move(task));
    size_t accepted = tasks.empty() ? 0 : ZMPipelineManager::sharedManager().queueTasks(tasks);
    // Nothing queued and nothing running: no end of refresh will come to clear the mark.
    if (accepted == 0 && ZMPipelineManager::sharedManager().sourceRefreshCount() == 0) refreshInProgress_ = false;
    return accepted;
}

bool ZMRSources::refreshSource(const std::string& location) {
    return refreshSources({location});
}

bool ZMRSources::refreshSources(const std::vector<std::string>& locations) {
    if (!VostrellePersistentPreferences::sharedInstance().boolForKey(VostrellePreferenceKey::SetupDone)) return false;
    refreshInProgress_ = true;
    return queueRefreshes(locations) > 0;
}

bool ZMRSources::refreshAllSources() {
    auto& preferences = VostrellePersistentPreferences::sharedInstance();
    if (!preferences.boolForKey(VostrellePreferenceKey::SetupDone)) return false;
    if (!isNetworkReachable()) return false;
    refreshInProgress_ = true;
    auto self = shared_from_this();
    Dispatch::defaultQueue([self] {
        auto& preferences = VostrellePersistentPreferences::sharedInstance();
        preferences.setDate(VostrellePreferenceKey::LastRefreshDate, PersistentDictionary::Clock::now());
        preferences.saveToFile();
        std::vector<std::string> locations;
        try {
            locations = self->arrayOfConfiguredSources();
        } catch (const std::exception& e) {
            ZMLOG("could not list the sources: {}", e.what());
        }
        self->queueRefreshes(locations);
    });
    return true;
}

void ZMRSources::sourceRefreshEnded() { refreshInProgress_ = false; }

ZMRIcon ZMRSources::iconForLocation(const std::string& location) const {
    const std::string path = ZMIconCache::pathForKey(location);
    if (ZMIconCache::exists(path)) return {path, {}};
    // Only configured sources are asked for their icon.
    std::string url;
    try {
        if (auto source = ZMRSource::objectForPrimaryKey(location))
            url = source->iconURL.empty() ? location + "CydiaIcon.png" : source->iconURL;
    } catch (const std::exception& e) {
        ZMLOG("icon of {}: {}", location, e.what());
    }
    if (!url.empty()) ZMIconCache::fetch(url, path, ZMRSourceInfoIconChangedNotification, location);
    return {{}, ZMIconCache::kDefaultSourceImage};
}
