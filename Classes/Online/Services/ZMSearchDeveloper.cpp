#include "Services/ZMSearchDeveloper.h"

#include <algorithm>

ZMSearchDeveloper& ZMSearchDeveloper::instance() {
    static ZMSearchDeveloper client;
    return client;
}

void ZMSearchDeveloper::searchDeveloper(const std::string& name, Completion completion) {
    if (ZMMakerAPI::utf16Length(name) < 3) {
        completion(kZMStatusSuccess, {});
        return;
    }
    auto request = ZMMakerAPI::get("developers/devs.php", {{"searchParam", name}}, ZMMakerAPI::Blank::Plus);
    ZMMakerAPI::send(request, [this, completion = std::move(completion)](ZMMakerAPI::Reply reply) {
        if (!reply.ok()) {
            ZMMAKER_LOG_FAILURE(reply.error->localizedDescription());
            completion(std::nullopt, {});
            return;
        }
        std::string why;
        auto parsed = ZMMakerAPI::parseJSON(reply.body, &why);
        if (!parsed || !parsed->is_array()) {
            ZMMAKER_LOG_FAILURE(parsed ? std::string("the developers are not an array") : why);
            completion(std::nullopt, {});
            return;
        }
        std::vector<ZMDeveloperProfile> profiles;
        for (const auto& element : *parsed)
            if (element.is_object()) profiles.push_back(ZMDeveloperProfile::fromJSON(element));
        {
            std::lock_guard lock(mutex_);
            developers_ = profiles;
        }
        completion(kZMStatusSuccess, std::move(profiles));
    });
}

std::vector<ZMDeveloperProfile> ZMSearchDeveloper::developers() const {
    std::lock_guard lock(mutex_);
    return developers_;
}

void ZMSearchDeveloper::resetForTesting() {
    std::lock_guard lock(mutex_);
    developers_.clear();
}
