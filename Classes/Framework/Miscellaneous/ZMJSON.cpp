#include "ZMJSON.h"

namespace ZMJSON {

namespace {
struct TooDeep {};
}  // namespace

std::optional<nlohmann::json> parse(std::string_view text, std::string* why, int maximumDepth) {
    try {
        auto limit = [maximumDepth](int depth, nlohmann::json::parse_event_t event, nlohmann::json&) {
            if (depth > maximumDepth && (event == nlohmann::json::parse_event_t::object_start ||
                                         event == nlohmann::json::parse_event_t::array_start))
                throw TooDeep{};
            return true;
        };
        auto parsed = nlohmann::json::parse(text.begin(), text.end(), limit, false);
        if (parsed.is_discarded()) {
            if (why) *why = "not JSON";
            return std::nullopt;
        }
        return parsed;
    } catch (const TooDeep&) {
        if (why) *why = "nested too deeply";
    } catch (const std::exception& e) {
        if (why) *why = e.what();
    }
    return std::nullopt;
}

}  // namespace ZMJSON
