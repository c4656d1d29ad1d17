#include "Services/ZMReviews.h"

#include <cmath>

#include "Services/ZMMakerAPI.h"

int32_t ZMReviews::reviewIDValue() const { return ZMMakerAPI::positiveInteger(reviewID).value_or(0); }

ZMReviews ZMReviews::fromJSON(const nlohmann::json& element) {
    using ZMMakerAPI::text;
    ZMReviews review;
    review.reviewID = text(element, "id");
    review.title = text(element, "title");
    review.desc = text(element, "review");
    if (element.contains("rate")) {
        const auto& rate = element["rate"];
        if (rate.is_number_integer())
            review.rating = rate.get<int64_t>();
        else if (rate.is_number_float() && std::abs(rate.get<double>()) < 1e9)
            review.rating = static_cast<int64_t>(rate.get<double>());
        else if (auto stars = ZMMakerAPI::positiveInteger(rate))
            review.rating = *stars;
    }
    review.date = text(element, "date");
    review.name = text(element, "username");
    if (element.contains("reply") && element["reply"].is_string()) review.reply = element["reply"].get<std::string>();
    review.upvotes = text(element, "upvotes");
    review.downvotes = text(element, "downvotes");
    return review;
}
