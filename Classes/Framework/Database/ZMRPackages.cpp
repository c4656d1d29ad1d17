#include "Database/ZMRPackages.h"

#include <sys/stat.h>

#include <cctype>
#include <algorithm>
#include <string_view>

#include "Database/ZMCategorySpecial.h"
#include "Database/ZMRNotifications.h"
#include "Categories/String+VersionCompare.h"
#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMPaths.h"
#include "Notifications/NotificationCenter.h"
#include "VostrellePersistentPreferences.h"

namespace {

std::string fillCount(const std::string& format, uint64_t count) {
    std::string out = format;
    auto at = out.find("%lu");
    if (at != std::string::npos) out.replace(at, 3, std::to_string(count));
    return out;
}

std::vector<std::string> nonEmptyTexts(const std::vector<nlohmann::json>& values) {
    std::vector<std::string> out;
    out.reserve(values.size());
    for (const auto& v : values)
        if (v.is_string() && !v.get_ref<const std::string&>().empty()) out.push_back(v.get<std::string>());
    return out;
}

bool fileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }
bool contains(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }

}  // namespace

// ---- queue marks -------------------------------------------------------------

int64_t ZMRPackages::queueOperationForPackage(const ZMRPackage& package, const std::optional<std::string>& versionToQueue,
                                              int64_t operation) {
    if (operation != ZMRQueueOperationNone) return operation;
    const bool installed = package.isInstalled.value_or(false);
    if (versionToQueue && !versionToQueue->empty()) {
        if (!installed) return ZMRQueueOperationInstall;
        const std::string& current = package.installedVersion.empty() ? package.version : package.installedVersion;
        int order = ZMVersionCompare(*versionToQueue, current);
        if (order > 0) return ZMRQueueOperationUpgrade;
        if (order == 0) return ZMRQueueOperationReinstall;
        return ZMRQueueOperationDowngrade;
    }
    if (!installed) return ZMRQueueOperationInstall;
    if (package.isUpdated.value_or(false) && !package.isHeld.value_or(false)) return ZMRQueueOperationUpgrade;
    return ZMRQueueOperationRemove;
}

namespace {

void writeQueueMarks(Realm& realm, ZMRPackage& package, bool inTheQueue, const std::optional<std::string>& version,
                     int64_t operation) {
    if (inTheQueue) {
        int64_t chosen = ZMRPackages::queueOperationForPackage(package, version, operation);
        realm.setValueForKey(package, "isInTheQueue", true);
        realm.setValueForKey(package, "queuedVersion", version.value_or(std::string()));
        realm.setValueForKey(package, "queueOperation", chosen);
    } else {
        realm.setValueForKey(package, "isInTheQueue", false);
        realm.setValueForKey(package, "queuedVersion", std::string());
        realm.setValueForKey(package, "queueOperation", int64_t{ZMRQueueOperationNone});
    }
}

}  // namespace

void ZMRPackages::setPackage(const std::string& identifier, bool inTheQueue,
                             const std::optional<std::string>& versionToQueue, int64_t operation) {
    auto realm = Realm::defaultRealm();
    realm->transactionWithBlock([&] {
        // Looked up inside the transaction: a record deleted meanwhile is not revived.
        auto package = realm->objectForPrimaryKey<ZMRPackage>(identifier);
        if (!package) return;
        writeQueueMarks(*realm, *package, inTheQueue, versionToQueue, operation);
    });
}

void ZMRPackages::setPackageObject(ZMRPackage& package, bool inTheQueue,
                                   const std::optional<std::string>& versionToQueue, int64_t operation) {
    if (!package.isManaged()) {
        setPackage(package.identifier, inTheQueue, versionToQueue, operation);
        return;
    }
    auto realm = package.realm();
    realm->transactionWithBlock([&] {
        if (package.isInvalidated()) return;
        writeQueueMarks(*realm, package, inTheQueue, versionToQueue, operation);
    });
}

size_t ZMRPackages::setPackagesWhere(const Predicate& predicate, bool inTheQueue,
                                     const std::optional<std::string>& versionToQueue, int64_t operation) {
    auto realm = Realm::defaultRealm();
    size_t marked = 0;
    realm->transactionWithBlock([&] {
        Results<ZMRPackage> matches(realm->makeResults(ZMRPackage::schema(), predicate));
        auto packages = matches.toVector();
        for (auto& package : packages) writeQueueMarks(*realm, package, inTheQueue, versionToQueue, operation);
        marked = packages.size();
    });
    return marked;
}

// ---- Get button ----------------------------------------------------------------

std::string ZMRPackages::getButtonTitleForPackageIdentifier(const std::string& identifier, bool showsPrice,
                                                            bool available, bool owned,
                                                            const std::optional<std::string>& price) const {
    auto package = ZMRPackage::objectForPrimaryKey(identifier);
    if (package && package->isInTheQueue.value_or(false)) return ZMLocalizedString("QUEUED");
    if (!package || !available) return ZMLocalizedString("UNAVAILABLE");
    if (package->isInstalled.value_or(false)) {
        if (package->isUpdated.value_or(false) && !package->isHeld.value_or(false)) return ZMLocalizedString("UPDATE");
        return ZMLocalizedString("UNINSTALL");
    }
    if (owned || package->isPaidThroughSileo.value_or(false) || package->isPaidThroughCydia.value_or(false))
        return ZMLocalizedString("OWNED");
    // The store's price when it gave one, else the index's; either way in one format.
    ZMRPackage priced = *package;
    priced.price = price && !price->empty() ? *price : package->price;
    if (showsPrice && !priced.isFree()) {
        const std::string shown = formattedPrice(priced.price);
        return shown.empty() ? ZMLocalizedString("BUY") : shown;  // sold, the store has not said for how much
    }
    return ZMLocalizedString("GET");
}

std::string ZMRPackages::formattedPrice(const std::string& price) {
    auto trimmed = [](std::string_view text) {
        const char* blanks = " \t\r\n\v\f";
        const size_t start = text.find_first_not_of(blanks);
        if (start == std::string_view::npos) return std::string();
        return std::string(text.substr(start, text.find_last_not_of(blanks) - start + 1));
    };
    const std::string text = trimmed(price);
    std::string amount = !text.empty() && text[0] == '$' ? trimmed(std::string_view(text).substr(1)) : text;
    // A bare amount: digits, at most one decimal separator followed by digits.
    const size_t separator = amount.find_first_of(".,");
    const bool bare = !amount.empty() && std::isdigit(static_cast<unsigned char>(amount.front())) &&
                      std::isdigit(static_cast<unsigned char>(amount.back())) &&
                      amount.find_first_not_of("0123456789.,") == std::string::npos &&
                      (separator == std::string::npos || amount.find_first_of(".,", separator + 1) == std::string::npos);
    return bare ? "$" + amount : text;
}

// ---- icons -------------------------------------------------------------------------

ZMRPackages::CategoryIcon ZMRPackages::categoryIconForEntry(
    const std::string& entry, const std::function<bool(const std::string& imageName)>& hasImage) {
    const std::string own = "Categories/" + entry;
    if (!entry.empty() && hasImage && hasImage(own)) return {own, false};
    if (startsWith(entry, "Theme") || contains(entry, "Thème")) return {"Categories/Themes", true};
    if (startsWith(entry, "App Addons")) return {"Categories/App Addons", false};
    if (startsWith(entry, "Addon")) return {"Categories/Addons", true};
    if (contains(entry, "Addon")) return {"Categories/Addons", false};
    if (startsWith(entry, "Application")) return {"Categories/Applications", false};
    if (startsWith(entry, "Cydget")) return {"Categories/Cydgets", false};
    if (startsWith(entry, "Data_Storage")) return {"Categories/Data Storage", false};
    if (contains(entry, "Font")) return {"Categories/Fonts", false};
    if (contains(entry, "Network")) return {"Categories/Network", false};
    if (contains(entry, "Terminal")) return {"Categories/Terminal", false};
    if (startsWith(entry, "Tweak")) return {"Categories/Tweaks", true};
    if (contains(entry, "Wallpaper")) return {"Categories/Wallpapers", false};
    if (startsWith(entry, "Widget")) return {"Categories/Widgets", true};
    if (contains(entry, "Widget")) return {"Categories/Widgets", false};
    if (contains(entry, "Zeppelin")) return {"Categories/Zeppelin", false};
    if (entry == "Cydia/Telesphoreo") return {"Categories/Tervalo", false};
    return {"Categories/Default", false};
}

void ZMRPackages::setImageLookup(std::function<bool(const std::string& imageName)> lookup) {
    std::lock_guard lock(mutex_);
    imageLookup_ = std::move(lookup);
}

std::string ZMRPackages::getCategoryIconForIdentifier(const std::string& identifier) const {
    auto package = ZMRPackage::objectForPrimaryKey(identifier);
    if (!package) return "Categories/Default";
    std::function<bool(const std::string&)> lookup;
    {
        std::lock_guard lock(mutex_);
        lookup = imageLookup_;
    }
    if (!lookup) {
        lookup = [](const std::string& name) {
            // Names come from package data: never let one climb out of the image directory.
            if (name.find("..") != std::string::npos) return false;
            return fileExists(ZMPaths::resourcesDirectory() + "/Images/" + name + ".png");
        };
    }
    return categoryIconForEntry(package->category, lookup).imageName;
}

std::optional<std::string> ZMRPackages::iconPath(const std::string& identifier) const {
    auto package = ZMRPackage::objectForPrimaryKey(identifier);
    if (!package) return std::nullopt;
    return package->iconPath();
}

ZMRIcon ZMRPackages::iconForIdentifier(const std::string& identifier) const {
    return iconForIdentifier(identifier, std::nullopt);
}

ZMRIcon ZMRPackages::iconForIdentifier(const std::string& identifier,
                                       const std::optional<std::string>& overrideURL) const {
    ZMRPackage probe;
    probe.identifier = identifier;
    const std::string path = probe.iconPath();
    if (ZMIconCache::exists(path)) return {path, {}};
    std::string url = overrideURL.value_or(std::string());
    if (url.empty()) {
        try {
            if (auto package = ZMRPackage::objectForPrimaryKey(identifier)) url = package->iconURL;
        } catch (const std::exception& e) {
            ZMLOG("icon of {}: {}", identifier, e.what());
        }
    }
    if (!url.empty()) ZMIconCache::fetch(url, path, ZMRPackageInfoIconChangedNotification, identifier);
    return {{}, getCategoryIconForIdentifier(identifier)};
}

// ---- categories ------------------------------------------------------------------------

std::optional<std::vector<std::string>> ZMRPackages::arrayOfPackagesCategories() const {
    std::lock_guard lock(mutex_);
    if (!categories_) return std::nullopt;
    return *categories_;
}

uint64_t ZMRPackages::updatesCount() const {
    std::lock_guard lock(mutex_);
    return updatesCount_;
}

void ZMRPackages::rebuildPackagesCategoriesCacheNow() {
    const uint64_t updates = ZMRPackage::objectsWhere("isUpdated = 1 && isHeld = 0").count();
    uint64_t newest = 0;
    {
        auto groups = newPackagesGroups();
        if (!groups->dates.empty()) {
            auto it = groups->identifiers.find(groups->dates.front());
            if (it != groups->identifiers.end()) newest = it->second.size();
        }
    }
    auto sections = nonEmptyTexts(ZMRPackage::objectsWhere("category != nil")
                                      .distinctResultsUsingKeyPaths({"category"})
                                      .sortedResultsUsingKeyPath("category", true)
                                      .valueForKey("category"));
    auto list = std::make_shared<std::vector<std::string>>();
    list->reserve(sections.size() + 5);
    list->push_back(kCategorySpecial_AllPackages);
    list->push_back(kCategorySpecial_InstalledPackages);
    list->push_back(fillCount(ZMLocalizedString("Updated Packages (%lu)"), updates));
    list->push_back(fillCount(ZMLocalizedString("New Packages (%lu)"), newest));
    list->push_back(ZMLocalizedString("Browse Repositories"));
    list->insert(list->end(), std::make_move_iterator(sections.begin()), std::make_move_iterator(sections.end()));
    std::lock_guard lock(mutex_);
    categories_ = std::move(list);
    updatesCount_ = updates;
}

void ZMRPackages::rebuildPackagesCategoriesCache() {
    auto self = shared_from_this();
    Dispatch::defaultQueue([self] { self->rebuildPackagesCategoriesCacheAndAnnounce(); });
}

void ZMRPackages::rebuildPackagesCategoriesCacheAndAnnounce() {
    try {
        rebuildPackagesCategoriesCacheNow();
    } catch (const std::exception& e) {
        ZMLOG("categories rebuild failed: {}", e.what());
    }
    NotificationCenter::defaultCenter().postOnMain(ZMRDoneRebuildingPackagesCacheNotification, std::any(),
                                                   nlohmann::json{{ZMRUpdatesCountKey, updatesCount()}});
}

std::vector<std::string> ZMRPackages::arrayOfSubcategoriesOfCategory(const std::string& category) const {
    return nonEmptyTexts(ZMRPackage::objectsWhere("category = %@ AND subcategory != nil", category)
                             .distinctResultsUsingKeyPaths({"subcategory"})
                             .sortedResultsUsingKeyPath("subcategory", true)
                             .valueForKey("subcategory"));
}

std::vector<std::string> ZMRPackages::arrayOfSourceCategories(const std::string& sourceLocation) const {
    return nonEmptyTexts(ZMRPackage::objectsWhere("sourceLocation = %@", sourceLocation)
                             .distinctResultsUsingKeyPaths({"category"})
                             .sortedResultsUsingKeyPath("category", true)
                             .valueForKey("category"));
}

uint64_t ZMRPackages::countOfInstalledPackagesForSource(const std::string& sourceLocation) const {
    return ZMRPackage::objectsWhere("sourceLocation = %@ AND isInstalled = 1", sourceLocation).count();
}

std::vector<std::string> ZMRPackages::arrayOfInstalledPackagesByIdentifier() const {
    return nonEmptyTexts(ZMRPackage::objectsWhere("isInstalled = 1").valueForKey("identifier"));
}

std::vector<std::string> ZMRPackages::arrayOfPackagesInWishlist() const {
    return nonEmptyTexts(ZMRPackage::objectsWhere("isInWishlist = 1").valueForKey("identifier"));
}

uint64_t ZMRPackages::countOfPackagesInWishlist() const {
    return ZMRPackage::objectsWhere("isInWishlist = 1").count();
}

// ---- new packages ------------------------------------------------------------------------

ZMRPackages::BuiltGroups ZMRPackages::buildDateGroups(Groups which) const {
    const bool showIncompatible =
        VostrellePersistentPreferences::sharedInstance().boolForKey(VostrellePreferenceKey::ShowIncompatiblePackages);
    std::string format = "updatedDateStr != nil";
    if (which == Groups::NewVersions) format += " AND hasNewVersion = 1";
    if (!showIncompatible) format += " AND tweakCompatibleStatus != 1";
    // One statement returns date, identifier and name of every row, in table
    // order: a consistent snapshot, read by a plain table scan (walking the
    // date index instead costs a random row lookup per package, about three
    // times slower at 63,000 packages). Sorting happens here.
    // Row text: new-version flag ('1' or '0'), date, US, then the identifier
    // and the name (ZMRPackage::identifierThenSql). The date (our own
    // "yyyy-MM-dd HH:mm") never holds the separator.
    auto results = ZMRPackage::objectsWhere(format);
    const auto& core = *results.core();
    auto rows = core.realm()->queryColumn(
        core.querySql(("(CASE WHEN \"hasNewVersion\" = 1 THEN '1' ELSE '0' END) || \"updatedDateStr\" || char(31) || " +
                       ZMRPackage::identifierThenSql("coalesce(\"name\", '')"))
                          .c_str()),
        core.where().bindings, *ZMRPackage::schema().property("identifier"));

    struct Row {
        std::string_view date, identifier, name;
        bool newVersion;
    };
    std::vector<Row> parsed;
    parsed.reserve(rows.size());
    for (const auto& value : rows) {
        const auto* text = std::get_if<std::string>(&value);
        if (!text || text->empty()) continue;  // no date
        const std::string_view all = std::string_view(*text).substr(1);
        const size_t separator = all.find('\x1f');
        std::string_view identifier, name;
        if (separator == 0 || separator == std::string_view::npos ||
            !ZMRPackage::splitIdentifierThen(all.substr(separator + 1), identifier, name))
            continue;
        parsed.push_back({all.substr(0, separator), identifier, name, (*text)[0] == '1'});
    }
    // Newest date first, then by name; ties keep table order.
    std::stable_sort(parsed.begin(), parsed.end(), [](const Row& a, const Row& b) {
        if (a.date != b.date) return a.date > b.date;
        return a.name < b.name;
    });

    // The new versions keep the same order: they are a part of the rows.
    auto group = [&](bool newVersionsOnly) {
        auto groups = std::make_shared<DateGroups>();
        std::vector<std::string>* current = nullptr;
        std::string_view currentDate;
        for (const auto& row : parsed) {
            if (newVersionsOnly && !row.newVersion) continue;
            if (!current || row.date != currentDate) {
                currentDate = row.date;
                groups->dates.emplace_back(row.date);
                current = &groups->identifiers[groups->dates.back()];
            }
            current->emplace_back(row.identifier);
        }
        return groups;
    };
    BuiltGroups built;
    if (which != Groups::NewVersions) built.all = group(false);
    if (which != Groups::All) built.newVersions = group(true);
    return built;
}

void ZMRPackages::rebuildDictOfNewPackages() {
    auto groups = buildDateGroups(Groups::All).all;
    auto dates = std::make_shared<const DateKeys>(groups->dates);
    std::lock_guard lock(mutex_);
    newPackages_ = std::move(groups);
    initialDates_ = std::move(dates);
}

void ZMRPackages::rebuildDictOfNewPackagesVersions() {
    auto groups = buildDateGroups(Groups::NewVersions).newVersions;
    auto dates = std::make_shared<const DateKeys>(groups->dates);
    std::lock_guard lock(mutex_);
    newVersions_ = std::move(groups);
    initialDates_ = std::move(dates);
}

void ZMRPackages::rebuildDictsOfNewPackagesAndVersions() {
    auto built = buildDateGroups(Groups::Both);
    auto dates = std::make_shared<const DateKeys>(built.all->dates);
    std::lock_guard lock(mutex_);
    newPackages_ = std::move(built.all);
    newVersions_ = std::move(built.newVersions);
    initialDates_ = std::move(dates);
}

std::shared_ptr<const ZMRPackages::DateKeys> ZMRPackages::arrayOfInitialDateStr() const {
    std::lock_guard lock(mutex_);
    return initialDates_;
}

std::shared_ptr<const ZMRPackages::IdentifiersByDate> ZMRPackages::dictionaryOfNewPackagesByDateStr() const {
    std::lock_guard lock(mutex_);
    return {newPackages_, &newPackages_->identifiers};
}

std::shared_ptr<const ZMRPackages::IdentifiersByDate> ZMRPackages::dictionaryOfNewPackagesVersionsByDateStr() const {
    std::lock_guard lock(mutex_);
    return {newVersions_, &newVersions_->identifiers};
}

std::shared_ptr<const ZMRPackages::DateGroups> ZMRPackages::newPackagesGroups() const {
    std::lock_guard lock(mutex_);
    return newPackages_;
}

std::shared_ptr<const ZMRPackages::DateGroups> ZMRPackages::newPackagesVersionsGroups() const {
    std::lock_guard lock(mutex_);
    return newVersions_;
}
