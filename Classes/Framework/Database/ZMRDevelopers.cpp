#include "Database/ZMRDevelopers.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>

#include "Database/ZMRDeveloper.h"
#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackage.h"
#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLog.h"
#include "Notifications/NotificationCenter.h"
#include "VostrellePersistentPreferences.h"

namespace {
// Inside a write transaction: the record's followed mark, or a new record.
void storeFollowMark(Realm& realm, const std::string& key, bool followed) {
    if (auto developer = realm.objectForPrimaryKey<ZMRDeveloper>(key)) {
        realm.setValueForKey(*developer, "isFollowed", followed);
    } else {
        ZMRDeveloper created;
        created.name = key;
        created.isFollowed = followed;
        created.packagesCount = 0;
        realm.add(created);
    }
}
}  // namespace

void ZMRDevelopers::setAccountSyncHook(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    accountSyncHook_ = std::move(hook);
}

bool ZMRDevelopers::isDeveloperFollowed(const std::string& name) const {
    auto developer = ZMRDeveloper::objectForPrimaryKey(ZMRDeveloper::normalizedName(name));
    return developer && developer->isFollowed.value_or(false);
}

void ZMRDevelopers::setDeveloper(const std::string& name, bool followed, Done done) {
    auto self = shared_from_this();
    const std::string key = ZMRDeveloper::normalizedName(name);
    Dispatch::defaultQueue([self, key, followed, done] {
        std::optional<ZMError> failure;
        try {
            auto realm = Realm::defaultRealm();
            realm->transactionWithBlock([&] { storeFollowMark(*realm, key, followed); });
        } catch (const std::exception& e) {
            ZMLOG("could not store the follow mark of {}: {}", key, e.what());
            failure = ZMError::storeFailure(e.what());
        }
        std::function<void()> sync;
        if (!failure) {
            std::lock_guard lock(self->mutex_);
            sync = self->accountSyncHook_;
        }
        if (sync) sync();
        if (done) Dispatch::main([done, failure] { done(failure); });
    });
}

std::vector<std::string> ZMRDevelopers::arrayOfFollowedDevelopers() const {
    std::vector<std::string> out;
    for (const auto& v : ZMRDeveloper::objectsWhere("isFollowed = 1").valueForKey("name"))
        if (v.is_string() && !v.get_ref<const std::string&>().empty()) out.push_back(v.get<std::string>());
    return out;
}

void ZMRDevelopers::replaceFollowedDevelopers(const std::vector<std::string>& names) {
    auto realm = Realm::defaultRealm();
    realm->transactionWithBlock([&] {
        realm->objectsWhere<ZMRDeveloper>("isFollowed = 1").setValueForKey("isFollowed", false);
        for (const auto& name : names) {
            const std::string key = ZMRDeveloper::normalizedName(name);
            if (!key.empty()) storeFollowMark(*realm, key, true);
        }
    });
}

size_t ZMRDevelopers::updateDevelopersCache() {
    std::lock_guard rebuilding(rebuildMutex_);
    auto realm = Realm::defaultRealm();
    // Followed developers with new packages: announced once the rebuild is stored.
    std::vector<std::pair<std::string, std::vector<std::string>>> news;
    realm->readMostlyTransactionWithBlock([&] {
        // Read and write in one transaction so that a refresh committing
        // meanwhile cannot leave the counts half old, half new.
        // One reading of the table for both columns, as one text per row.
        auto packages = realm->objectsWhere<ZMRPackage>("maintainer != nil");
        auto rows = realm->queryColumn(packages.core()->querySql(ZMRPackage::identifierThenSql("\"maintainer\"").c_str()),
                                       packages.core()->where().bindings, *ZMRPackage::schema().property("identifier"));
        std::map<std::string, std::vector<std::string>> byDeveloper;
        // Folding is the costly part and maintainers repeat: fold each text once.
        std::unordered_map<std::string_view, std::vector<std::string>*> byMaintainer;
        for (const auto& value : rows) {
            const auto* text = std::get_if<std::string>(&value);
            std::string_view identifier, maintainer;
            if (!text || !ZMRPackage::splitIdentifierThen(*text, identifier, maintainer)) continue;
            if (maintainer.empty()) continue;
            auto& list = byMaintainer[maintainer];
            if (!list) list = &byDeveloper[ZMRDeveloper::normalizedName(std::string(maintainer))];
            list->emplace_back(identifier);
        }
        byMaintainer.clear();
        rows = {};

        std::map<std::string, ZMRDeveloper> existing;
        bool takenStockBefore = false;
        for (auto& developer : realm->objects<ZMRDeveloper>().toVector()) {
            if (!developer.packagesIdentifiers.empty()) takenStockBefore = true;
            existing.emplace(developer.name, std::move(developer));
        }

        for (auto& [name, ids] : byDeveloper) {
            auto found = existing.find(name);
            ZMRDeveloper developer;
            if (found != existing.end()) developer = found->second;
            developer.name = name;
            std::vector<std::string> fresh;
            if (takenStockBefore) {
                std::set<std::string> known(developer.packagesIdentifiers.begin(), developer.packagesIdentifiers.end());
                for (const auto& id : ids)
                    if (!known.count(id)) fresh.push_back(id);
            }
            std::set<std::string> current(ids.begin(), ids.end());
            if (!fresh.empty()) {
                developer.developerNewPackagesIdentifiers = fresh;
            } else {
                // Earlier news stays readable, without packages that are gone.
                auto& news = developer.developerNewPackagesIdentifiers;
                news.erase(std::remove_if(news.begin(), news.end(), [&](const std::string& id) { return !current.count(id); }),
                           news.end());
            }
            if (!fresh.empty() && developer.isFollowed.value_or(false)) news.emplace_back(name, fresh);
            const bool unchanged = found != existing.end() && fresh.empty() &&
                                   developer.packagesCount == static_cast<int64_t>(ids.size()) &&
                                   developer.packagesIdentifiers == ids &&
                                   developer.developerNewPackagesIdentifiers ==
                                       found->second.developerNewPackagesIdentifiers;
            developer.packagesCount = static_cast<int64_t>(ids.size());
            developer.packagesIdentifiers = std::move(ids);
            // Unchanged records are not rewritten: no needless change notifications.
            if (!unchanged) realm->addOrUpdate(developer);
            if (found != existing.end()) existing.erase(found);
        }
        // Developers with no packages left keep their record (and follow mark).
        for (auto& [name, developer] : existing) {
            if (developer.packagesCount == 0 && developer.packagesIdentifiers.empty() &&
                developer.developerNewPackagesIdentifiers.empty())
                continue;
            developer.packagesCount = 0;
            developer.packagesIdentifiers.clear();
            developer.developerNewPackagesIdentifiers.clear();
            realm->addOrUpdate(developer);
        }
    });
    if (news.empty()) return 0;
    VostrellePersistentPreferences::sharedInstance().setValue(VostrellePreferenceKey::NewPackagesByFollowedDevelopers, true);
    for (const auto& [name, identifiers] : news)
        NotificationCenter::defaultCenter().post(ZMRFollowedDeveloperNewPackagesNotification, std::any(name),
                                                 {{ZMRPackageIdentifiersKey, identifiers}});
    return news.size();
}
