#pragma once
// The package collection: queue marks and the choice of operation, the Get
// button's title, category icons, the categories cache and the new-packages
// dictionaries the browsing screens read.
//
// Thread safety: every member may be called from any thread. The caches are
// built into new containers off the main thread and swapped in under a lock;
// readers get immutable snapshots (shared_ptr to const), so a reader never
// sees a half-built list or dictionary.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Database/ZMRPackage.h"
#include "ZMIconCache.h"

// Queue operation codes stored in ZMRPackage::queueOperation.
enum ZMRQueueOperationCode : int64_t {
    ZMRQueueOperationNone = 0,
    ZMRQueueOperationInstall = 1,
    ZMRQueueOperationRemove = 2,
    ZMRQueueOperationUpgrade = 3,
    ZMRQueueOperationDowngrade = 4,
    ZMRQueueOperationReinstall = 5,  // the chosen version is the installed one
};

// User-info key of "DoneRebuildingPackagesCache": the number of updates
// ("isUpdated = 1 && isHeld = 0") for the shell's badges.
inline constexpr const char* ZMRUpdatesCountKey = "updatesCount";

class ZMRPackages : public std::enable_shared_from_this<ZMRPackages> {
public:
    using DateKeys = std::vector<std::string>;
    using IdentifiersByDate = std::map<std::string, std::vector<std::string>>;

    // ---- queue marks ---------------------------------------------------------
    // One write transaction on the calling thread. Queued: isInTheQueue YES,
    // queuedVersion = the version (empty for none) and queueOperation chosen by
    // queueOperationForPackage(); unqueued: NO, no version, 0. An identifier
    // without a record changes nothing. No notification.
    void setPackage(const std::string& identifier, bool inTheQueue, const std::optional<std::string>& versionToQueue,
                    int64_t operation);
    // The same for a record in hand (also updated in place).
    void setPackageObject(ZMRPackage& package, bool inTheQueue, const std::optional<std::string>& versionToQueue,
                          int64_t operation);
    // The same for every package matching the predicate, in one transaction;
    // the operation is chosen per package. Returns the number of records marked.
    size_t setPackagesWhere(const Predicate& predicate, bool inTheQueue,
                            const std::optional<std::string>& versionToQueue, int64_t operation);
    size_t setPackagesWhere(const std::string& format, bool inTheQueue,
                            const std::optional<std::string>& versionToQueue, int64_t operation) {
        return setPackagesWhere(Predicate(format), inTheQueue, versionToQueue, operation);
    }

    // The operation for a package: `operation` itself when not 0. Otherwise,
    // with a non-empty version for an installed package: upgrade when it orders
    // above the installed version (Debian ordering), reinstall when equal,
    // downgrade when below; for a package that is not installed, install.
    // Without a version: install when not installed, upgrade when installed,
    // updated and not held, else remove. A nil mark counts as NO.
    static int64_t queueOperationForPackage(const ZMRPackage& package, const std::optional<std::string>& versionToQueue,
                                            int64_t operation);

    // ---- Get button ----------------------------------------------------------
    // The title of a package's Get button, localized. First match wins:
    //   1. the package is queued                          "QUEUED"
    //   2. no record, or `available` is NO                "UNAVAILABLE"
    //   3. installed, updated and not held                "UPDATE"
    //   4. installed                                      "UNINSTALL"
    //   5. `owned`, or bought through a store             "OWNED"
    //   6. paid (the price given, else the record's, is
    //      not free) and `showsPrice`                     the price (formattedPrice),
    //                                                     "BUY" when there is none
    //   7. otherwise                                      "GET"
    // Reads only.
    std::string getButtonTitleForPackageIdentifier(const std::string& identifier, bool showsPrice, bool available,
                                                   bool owned, const std::optional<std::string>& price) const;
    // A price as every screen shows it, whether the index or a store gave it:
    // a bare amount ("34.99", "$ 34.99") reads "$34.99"; any other text (another
    // currency, a code) stays as given, without surrounding blanks.
    static std::string formattedPrice(const std::string& price);

    // ---- icons -----------------------------------------------------------------
    struct CategoryIcon {
        std::string imageName;  // "Categories/..."
        bool bold = false;      // weight of the entry's name
    };
    // The category rule: the bundle's own "Categories/<entry>" image when
    // `hasImage` says there is one (regular weight), else the first matching
    // name rule. Case-sensitive.
    static CategoryIcon categoryIconForEntry(const std::string& entry,
                                             const std::function<bool(const std::string& imageName)>& hasImage);
    // The category image name for a package (its `category`; "Categories/Default"
    // without a record). Never fetches anything.
    std::string getCategoryIconForIdentifier(const std::string& identifier) const;
    // Whether the application bundles an image of that name. Defaults to a
    // file <resources>/Images/<name>.png; the shell installs its own lookup.
    void setImageLookup(std::function<bool(const std::string& imageName)> lookup);
    // The path of the package's cached icon file (which may not exist);
    // nullopt without a record.
    std::optional<std::string> iconPath(const std::string& identifier) const;
    // What to show at once: the cached icon file (iconPath) when it exists,
    // else the category image name while the icon (the record's Icon URL, or
    // `overrideURL` when given) is fetched in the background. A stored icon is
    // announced with ZMRPackageInfoIconChangedNotification (object: the
    // identifier) on the main thread. Never fails; only http(s) URLs are
    // fetched, one download per icon at a time.
    ZMRIcon iconForIdentifier(const std::string& identifier) const;
    ZMRIcon iconForIdentifier(const std::string& identifier, const std::optional<std::string>& overrideURL) const;

    // ---- categories cache ---------------------------------------------------
    // nullopt until the first rebuild. Then: kCategorySpecial_AllPackages,
    // kCategorySpecial_InstalledPackages, "Updated Packages (n)", "New Packages
    // (n)" (the first date group of the new packages), "Browse Repositories",
    // then every distinct non-empty category, ascending.
    std::optional<std::vector<std::string>> arrayOfPackagesCategories() const;
    // Rebuilds on a default-priority queue, publishes the update count, then
    // posts "DoneRebuildingPackagesCache" (no object; user info
    // {"updatesCount": n}) on the main thread.
    void rebuildPackagesCategoriesCache();
    // The same on the calling thread (the notification still goes to the main thread).
    void rebuildPackagesCategoriesCacheAndAnnounce();
    // The rebuild itself, on the calling thread, without the notification.
    void rebuildPackagesCategoriesCacheNow();
    // The number of updates found by the last categories rebuild (0 before).
    uint64_t updatesCount() const;

    std::vector<std::string> arrayOfSubcategoriesOfCategory(const std::string& category) const;
    std::vector<std::string> arrayOfSourceCategories(const std::string& sourceLocation) const;
    uint64_t countOfInstalledPackagesForSource(const std::string& sourceLocation) const;
    std::vector<std::string> arrayOfInstalledPackagesByIdentifier() const;
    // Database order.
    std::vector<std::string> arrayOfPackagesInWishlist() const;
    uint64_t countOfPackagesInWishlist() const;

    // ---- new packages ------------------------------------------------------
    // Packages with an update date text (without those reported not working,
    // tweakCompatibleStatus 1, unless "ShowIncompatiblePackages" is on), grouped
    // by the date text, dates newest first, rows by name.
    void rebuildDictOfNewPackages();
    // The same for the packages with hasNewVersion = 1.
    void rebuildDictOfNewPackagesVersions();
    // Both, from one reading of the table (after a refresh); the dates left
    // are the new packages'.
    void rebuildDictsOfNewPackagesAndVersions();
    // The dates of whichever of the two rebuilds ran last (empty before).
    std::shared_ptr<const DateKeys> arrayOfInitialDateStr() const;
    std::shared_ptr<const IdentifiersByDate> dictionaryOfNewPackagesByDateStr() const;
    std::shared_ptr<const IdentifiersByDate> dictionaryOfNewPackagesVersionsByDateStr() const;
    // The dates of one rebuild together with its dictionary, for readers that
    // need the two to match.
    struct DateGroups {
        DateKeys dates;
        IdentifiersByDate identifiers;
    };
    std::shared_ptr<const DateGroups> newPackagesGroups() const;
    std::shared_ptr<const DateGroups> newPackagesVersionsGroups() const;

private:
    enum class Groups { All, NewVersions, Both };
    struct BuiltGroups {
        std::shared_ptr<const DateGroups> all, newVersions;  // as asked
    };
    BuiltGroups buildDateGroups(Groups which) const;

    mutable std::mutex mutex_;
    std::shared_ptr<const std::vector<std::string>> categories_;
    uint64_t updatesCount_ = 0;
    std::shared_ptr<const DateGroups> newPackages_ = std::make_shared<DateGroups>();
    std::shared_ptr<const DateGroups> newVersions_ = std::make_shared<DateGroups>();
    std::shared_ptr<const DateKeys> initialDates_ = std::make_shared<DateKeys>();
    std::function<bool(const std::string&)> imageLookup_;
};
