#include "Services/ZMCredits.h"

#include "Services/ZMMakerAPI.h"

std::optional<ZMCreditEntry> ZMCreditEntry::fromJSON(const nlohmann::json& element) {
    using ZMMakerAPI::text;
    if (!element.is_object()) return std::nullopt;
    ZMCreditEntry entry{text(element, "name"), text(element, "description"), ZMMakerAPI::httpURL(element, "avatarURL"),
                        text(element, "username")};
    if (entry.name.empty()) return std::nullopt;
    return entry;
}

namespace ZMCredits {

void fetchCredits(std::function<void(std::optional<std::vector<ZMCreditEntry>>)> completion) {
    ZMMakerAPI::send(ZMMakerAPI::get("credits/credits.php"), [completion = std::move(completion)](ZMMakerAPI::Reply reply) {
        if (!reply.ok()) {
            ZMMAKER_LOG_FAILURE(reply.error->localizedDescription());
            completion(std::nullopt);
            return;
        }
        std::string why;
        auto items = ZMMakerAPI::parseJSON(reply.body, &why);
        if (!items || !items->is_array()) {
            ZMMAKER_LOG_FAILURE(items ? std::string("the credits are not an array") : why);
            completion(std::nullopt);
            return;
        }
        std::vector<ZMCreditEntry> entries;
        for (const auto& element : *items)
            if (auto entry = ZMCreditEntry::fromJSON(element)) entries.push_back(std::move(*entry));
        completion(std::move(entries));
    });
}

}  // namespace ZMCredits
