#include "Services/ZMDeveloperProfile.h"

#include "Services/ZMMakerAPI.h"

ZMDeveloperProfile ZMDeveloperProfile::fromJSON(const nlohmann::json& element) {
    using ZMMakerAPI::httpURL;
    using ZMMakerAPI::text;
    ZMDeveloperProfile profile{
        httpURL(element, "avatar"),     text(element, "developer"), text(element, "about"),
        text(element, "email"),         text(element, "location"),  httpURL(element, "github"),
        httpURL(element, "repository"), text(element, "twitter"),   httpURL(element, "homepage")};
    // A handle is kept as text; a whole address must be an http(s) one.
    if (profile.twitter.rfind("http", 0) == 0 && !ZMMakerAPI::isHTTPURL(profile.twitter)) profile.twitter.clear();
    return profile;
}
