#include "Services/ZMSearchedRepo.h"

#include <functional>

#include "Database/ZMRSource.h"
#include "Foundation/URL.h"
#include "Miscellaneous/ZMLog.h"
#include "Services/ZMMakerAPI.h"

namespace {
bool isEmptyText(const nlohmann::json& element, const char* key) {
    auto it = element.find(key);
    return it != element.end() && it->is_string() && it->get_ref<const std::string&>().empty();
}
}  // namespace

std::optional<ZMSearchedRepo> ZMSearchedRepo::searchedRepoWithJSON(const nlohmann::json& element) {
    if (!element.is_object() || isEmptyText(element, "name") || isEmptyText(element, "location")) return std::nullopt;
    std::string url = ZMMakerAPI::httpURL(element, "url");
    if (url.empty()) {
        ZMLOG("nil url");
        return std::nullopt;
    }
    using ZMMakerAPI::text;
    return ZMSearchedRepo{ZMMakerAPI::httpURL(element, "icon"), text(element, "name"),       url,
                          text(element, "description"),         text(element, "maintainer"), text(element, "category")};
}

std::optional<ZMSearchedRepo> ZMSearchedRepo::searchedRepoWithSource(const ZMRSource& source) {
    if (source.name.empty() || source.location.empty() || source.hasErrors.value_or(false)) return std::nullopt;
    auto url = URL::parse(source.location);
    if (!url || !url->isHTTP() || !url->user().empty()) return std::nullopt;
    return ZMSearchedRepo{ZMMakerAPI::isHTTPURL(source.iconURL) ? source.iconURL : std::string(),
                          source.name,
                          source.location,
                          source.Description,
                          source.maintainer,
                          source.category};
}

size_t ZMSearchedRepo::hash() const { return std::hash<std::string>()(url) ^ std::hash<std::string>()(name); }

bool ZMSearchedRepo::isInvalid() const {
    for (const std::string* field : {&url, &name, &maintainer, &desc, &category})
        if (field->empty() || field->find("(null)") != std::string::npos || field->find("??") != std::string::npos)
            return true;
    return false;
}
