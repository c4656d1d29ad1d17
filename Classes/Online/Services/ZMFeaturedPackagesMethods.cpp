#include "Services/ZMFeaturedPackagesMethods.h"

ZMFeaturedPackagesMethods& ZMFeaturedPackagesMethods::instance() {
    static ZMFeaturedPackagesMethods client;
    return client;
}

void ZMFeaturedPackagesMethods::fetchFeaturedPackages(ZMStatusCompletion completion) {
    auto request = ZMMakerAPI::get("featured/featured.php", {{"key", ZMMakerAPI::kClientKey}});
    ZMMakerAPI::send(request, [this, completion = std::move(completion)](ZMMakerAPI::Reply reply) {
        if (!reply.ok()) {
            ZMMAKER_LOG_FAILURE(reply.error->localizedDescription());
            completion(reply.answered ? std::optional<std::string>(kZMStatusError) : std::nullopt);
            return;
        }
        std::string why;
        auto feed = ZMMakerAPI::parseJSON(reply.body, &why);
        if (!feed || !feed->is_object()) {
            // The service answers "Could not ..." when its database is down:
            // expected, not worth a log line. Only a body that is not JSON is tested,
            // so a feed whose texts say "Could" is still a feed.
            if (reply.body.find("Could") == std::string::npos)
                ZMMAKER_LOG_FAILURE(feed ? std::string("the feed is not an object") : why);
            completion(kZMStatusError);
            return;
        }
        auto lists = std::make_shared<const ZMFeaturedLists>(ZMFeaturedLists::fromJSON(*feed));
        {
            std::lock_guard lock(mutex_);
            lists_ = std::move(lists);
        }
        completion(kZMStatusSuccess);
    });
}

std::shared_ptr<const ZMFeaturedLists> ZMFeaturedPackagesMethods::featuredLists() const {
    std::lock_guard lock(mutex_);
    return lists_;
}

#define ZM_FEATURED_LIST(name)                                                \
    decltype(ZMFeaturedLists::name) ZMFeaturedPackagesMethods::name() const { \
        auto lists = featuredLists();                                         \
        return lists ? lists->name : decltype(ZMFeaturedLists::name){};       \
    }
ZM_FEATURED_LIST(packagesTop)
ZM_FEATURED_LIST(packagesMiddle)
ZM_FEATURED_LIST(mustHaveTweaks)
ZM_FEATURED_LIST(mustHaveThemes)
ZM_FEATURED_LIST(extendApps)
#undef ZM_FEATURED_LIST

void ZMFeaturedPackagesMethods::resetForTesting() {
    std::lock_guard lock(mutex_);
    lists_.reset();
}
