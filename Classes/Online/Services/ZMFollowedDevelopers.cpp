#include "Services/ZMFollowedDevelopers.h"

#include <algorithm>

#include "Database/ZMRPackageManager.h"
#include "Miscellaneous/ZMLog.h"
#include "Services/ZMListSynchronizer.h"

ZMFollowedDevelopers& ZMFollowedDevelopers::sharedInstance() {
    static ZMFollowedDevelopers followed;
    return followed;
}

ZMFollowedDevelopers::ZMFollowedDevelopers() = default;

ZMListSynchronizer& ZMFollowedDevelopers::accountList() {
    static ZMListSynchronizer synchronizer(
        {"followeddevs/developers.php", "followeddevs/retrievedevelopers.php", "developers"},
        [] { return ZMRPackageManager::sharedPackageManager().developers().arrayOfFollowedDevelopers(); });
    return synchronizer;
}

void ZMFollowedDevelopers::syncWithTheZemtrixAccount(std::function<void(std::optional<ZMError>)> done) {
    accountList().synchronize(std::move(done));
}

void ZMFollowedDevelopers::retrieveZemtrixAccountFollowedDevelopers(
    std::function<void(std::optional<std::vector<std::string>>)> completion) {
    accountList().download(std::move(completion));
}

void ZMFollowedDevelopers::mergeAccountFollowedDevelopers(const std::optional<std::vector<std::string>>& received,
                                                          std::function<void(std::optional<ZMError>)> uploaded) {
    if (!received) return;
    std::vector<std::string> names = *received;
    names.erase(std::remove(names.begin(), names.end(), std::string()), names.end());
    try {
        auto& developers = ZMRPackageManager::sharedPackageManager().developers();
        if (developers.arrayOfFollowedDevelopers() == names) return;
        developers.replaceFollowedDevelopers(names);
    } catch (const std::exception& e) {
        ZMLOG("could not merge the account's followed developers: {}", e.what());
        return;
    }
    sharedInstance().syncWithTheZemtrixAccount(std::move(uploaded));
}
