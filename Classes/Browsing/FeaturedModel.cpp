#include "Browsing/FeaturedModel.h"

#include "Database/ZMRPackage.h"
#include "Miscellaneous/ZMPaths.h"

namespace FeaturedModel {

std::vector<std::string> presentIdentifiers(const std::vector<ZMFeaturedPackage>& entries) {
    std::vector<std::string> out;
    for (const auto& entry : entries) {
        if (entry.bundle_id.empty()) continue;
        if (ZMRPackage::objectForPrimaryKey(entry.bundle_id)) out.push_back(entry.bundle_id);
    }
    return out;
}

Lists listsFromFeed(const ZMFeaturedLists* feed) {
    Lists lists;
    if (!feed) return lists;
    lists[Middle] = presentIdentifiers(feed->packagesMiddle);
    lists[MustHaveTweaks] = presentIdentifiers(feed->mustHaveTweaks);
    lists[MustHaveThemes] = presentIdentifiers(feed->mustHaveThemes);
    lists[ExtendApps] = presentIdentifiers(feed->extendApps);
    return lists;
}

std::vector<int> changedLists(const Lists& shown, const Lists& rebuilt) {
    std::vector<int> out;
    for (int i = 0; i < ListCount; ++i)
        if (shown[i] != rebuilt[i]) out.push_back(i);
    return out;
}

std::optional<std::string> homeCacheFileName(const std::string& backgroundURL) {
    std::string name = backgroundURL;
    for (char& c : name)
        if (c == '/') c = '_';
    // What the file system would read as another place, or cannot hold.
    if (name.empty() || name == "." || name == ".." || name.size() > 255 || name.find('\0') != std::string::npos)
        return std::nullopt;
    return name;
}

std::optional<std::string> homeCachePath(const std::string& backgroundURL) {
    auto name = homeCacheFileName(backgroundURL);
    if (!name) return std::nullopt;
    return ZMPaths::subdirectory("HomeCache") + "/" + *name;
}

std::optional<size_t> nextCarouselPage(size_t current, size_t count) {
    if (count != kAdvancingBannerCount) return std::nullopt;
    return (current + 1) % count;
}

std::string sourceLocationForRepo(const std::string& repo) {
    if (repo.empty() || repo.back() == '/') return repo;
    return repo + "/";
}

std::optional<std::string> logoOverride(const ZMFeaturedPackagesTop& banner) {
    if (banner.logo.size() < 10) return std::nullopt;
    return banner.logo;
}

}  // namespace FeaturedModel
