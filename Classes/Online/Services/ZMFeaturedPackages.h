#pragma once
// The records of the featured feed (ZMFeaturedPackagesMethods): one banner
// entry, and the four lists of package identifiers. Plain values; a field
// the feed leaves out, or gives in another type, is empty. URL fields hold
// only http(s) URLs.
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// A banner of the carousel (feed list "featuredTop").
struct ZMFeaturedPackagesTop {
    std::string bundle_id;   // "bundle_id": the package identifier
    std::string title;       // "title"
    std::string developer;   // "developer"
    std::string desc;        // "description"
    std::string logo;        // "logo": image URL
    std::string background;  // "background": image URL
    std::string repo;        // "repo": URL of the repository carrying the package

    static ZMFeaturedPackagesTop fromJSON(const nlohmann::json& element);
};

// An entry of "featuredMiddle", "mustHaveTweaks", "mustHaveThemes" or "extendApps".
struct ZMFeaturedPackage {
    std::string bundle_id;  // "bundle_id"

    static ZMFeaturedPackage fromJSON(const nlohmann::json& element);
};
using ZMFeaturedPackagesMiddle = ZMFeaturedPackage;
using ZMFeaturedPackagesMustHaveTweaks = ZMFeaturedPackage;
using ZMFeaturedPackagesMustHaveThemes = ZMFeaturedPackage;
using ZMFeaturedPackagesExtendApps = ZMFeaturedPackage;

// The five lists of one feed, in feed order.
struct ZMFeaturedLists {
    std::vector<ZMFeaturedPackagesTop> packagesTop;
    std::vector<ZMFeaturedPackagesMiddle> packagesMiddle;
    std::vector<ZMFeaturedPackagesMustHaveTweaks> mustHaveTweaks;
    std::vector<ZMFeaturedPackagesMustHaveThemes> mustHaveThemes;
    std::vector<ZMFeaturedPackagesExtendApps> extendApps;

    // The lists of a feed object; a missing list, or one that is not an
    // array, is empty; elements that are not objects are skipped.
    static ZMFeaturedLists fromJSON(const nlohmann::json& feed);
};
