#include "Services/ZMNews.h"

#include "Services/ZMMakerAPI.h"

ZMNews ZMNews::fromJSON(const nlohmann::json& element) {
    using ZMMakerAPI::text;
    return {text(element, "author"), text(element, "title"), ZMMakerAPI::httpURL(element, "banner"),
            text(element, "content"), text(element, "date")};
}
