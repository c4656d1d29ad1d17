#include "Services/ZMDeveloperProfile.h"

#include "Foundation/URL.h"
#include "Services/ZMMakerAPI.h"

namespace {

bool startsWithHTTPScheme(const std::string& text) {
    std::string head = text.substr(0, 6);
    for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return head.rfind("http:", 0) == 0 || head.rfind("https:", 0) == 0;
}

// Twitter's own rule for user names.
std::optional<std::string> handleOf(const std::string& value) {
    std::string handle = !value.empty() && value.front() == '@' ? value.substr(1) : value;
    if (handle.empty() || handle.size() > 15) return std::nullopt;
    for (char c : handle)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return std::nullopt;
    return handle;
}

}  // namespace

ZMDeveloperProfile ZMDeveloperProfile::fromJSON(const nlohmann::json& element) {
    using ZMMakerAPI::httpURL;
    using ZMMakerAPI::text;
    ZMDeveloperProfile profile{
        httpURL(element, "avatar"),     text(element, "developer"), text(element, "about"),
        text(element, "email"),         text(element, "location"),  httpURL(element, "github"),
        httpURL(element, "repository"), text(element, "twitter"),   httpURL(element, "homepage")};
    // A handle is kept as text (also one like "httpster"); an address must be an http(s) one.
    if (startsWithHTTPScheme(profile.twitter) && !ZMMakerAPI::isHTTPURL(profile.twitter)) profile.twitter.clear();
    return profile;
}

std::optional<std::string> ZMDeveloperProfile::twitterProfileURL() const {
    if (ZMMakerAPI::isHTTPURL(twitter)) return twitter;
    if (auto handle = handleOf(twitter)) return std::string("https://") + kTwitterWebHost + "/" + *handle;
    return std::nullopt;
}

std::string ZMDeveloperProfile::twitterHandle() const {
    if (auto handle = handleOf(twitter)) return *handle;
    if (!ZMMakerAPI::isHTTPURL(twitter)) return {};
    auto url = URL::parse(twitter);
    std::string path = url ? url->path() : std::string();
    while (!path.empty() && path.back() == '/') path.pop_back();
    const auto slash = path.rfind('/');
    return handleOf(slash == std::string::npos ? path : path.substr(slash + 1)).value_or("");
}
