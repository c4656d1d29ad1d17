#include "Services/ZMPackagesWishlist.h"

#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageManager.h"
#include "Miscellaneous/ZMLog.h"
#include "Services/ZMListSynchronizer.h"

ZMPackagesWishlist& ZMPackagesWishlist::sharedInstance() {
    static ZMPackagesWishlist wishlist;
    return wishlist;
}

ZMPackagesWishlist::ZMPackagesWishlist() = default;

ZMListSynchronizer& ZMPackagesWishlist::accountList() {
    static ZMListSynchronizer synchronizer({"wishlist/wishlist.php", "wishlist/retrievewishlist.php", "wishlist"}, [] {
        return ZMRPackageManager::sharedPackageManager().packages().arrayOfPackagesInWishlist();
    });
    return synchronizer;
}

void ZMPackagesWishlist::syncWithTheZemtrixAccount(std::function<void(std::optional<ZMError>)> done) {
    accountList().synchronize(std::move(done));
}

void ZMPackagesWishlist::retrieveZemtrixAccountWishlist(
    std::function<void(std::optional<std::vector<std::string>>)> completion) {
    accountList().download(std::move(completion));
}

void ZMPackagesWishlist::mergeAccountWishlist(const std::optional<std::vector<std::string>>& received) {
    if (!received) return;
    try {
        if (ZMRPackageManager::sharedPackageManager().packages().arrayOfPackagesInWishlist() == *received) return;
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] {
            realm->objectsWhere<ZMRPackage>("isInWishlist = 1").setValueForKey("isInWishlist", false);
            for (const auto& identifier : *received) {
                if (identifier.empty()) continue;
                if (auto package = realm->objectForPrimaryKey<ZMRPackage>(identifier))
                    realm->setValueForKey(*package, "isInWishlist", true);
            }
        });
    } catch (const std::exception& e) {
        ZMLOG("could not merge the account's wishlist: {}", e.what());
    }
}
