#include "Services/ZMFeaturedPackages.h"

#include "Services/ZMMakerAPI.h"

using ZMMakerAPI::httpURL;
using ZMMakerAPI::text;

ZMFeaturedPackagesTop ZMFeaturedPackagesTop::fromJSON(const nlohmann::json& element) {
    return {text(element, "bundle_id"),   text(element, "title"),   text(element, "developer"),
            text(element, "description"), httpURL(element, "logo"), httpURL(element, "background"),
            httpURL(element, "repo")};
}

ZMFeaturedPackage ZMFeaturedPackage::fromJSON(const nlohmann::json& element) { return {text(element, "bundle_id")}; }

ZMFeaturedLists ZMFeaturedLists::fromJSON(const nlohmann::json& feed) {
    auto each = [&](const char* key, auto& list) {
        if (!feed.is_object() || !feed.contains(key) || !feed[key].is_array()) return;
        using Record = typename std::decay_t<decltype(list)>::value_type;
        for (const auto& element : feed[key])
            if (element.is_object()) list.push_back(Record::fromJSON(element));
    };
    ZMFeaturedLists lists;
    each("featuredTop", lists.packagesTop);
    each("featuredMiddle", lists.packagesMiddle);
    each("mustHaveTweaks", lists.mustHaveTweaks);
    each("mustHaveThemes", lists.mustHaveThemes);
    each("extendApps", lists.extendApps);
    return lists;
}
