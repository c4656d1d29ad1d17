#include "Services/ZMPackageRatings.h"

#include <fmt/format.h>

#include "Miscellaneous/ZMLocalization.h"
#include "Services/ZMAccount.h"

namespace {

std::string notSignedInText() { return ZMLocalizedString("You are not signed in."); }

// The reply as JSON, or nullopt (logged) on a failure.
std::optional<nlohmann::json> jsonReply(const ZMMakerAPI::Reply& reply) {
    if (!reply.ok()) {
        ZMMAKER_LOG_FAILURE(reply.error->localizedDescription());
        return std::nullopt;
    }
    std::string why;
    auto parsed = ZMMakerAPI::parseJSON(reply.body, &why);
    if (!parsed) ZMMAKER_LOG_FAILURE(why);
    return parsed;
}

// The server's text for the user, or the failure's description.
std::string answerText(const ZMMakerAPI::Reply& reply) {
    if (reply.ok()) return ZMMakerAPI::displayText(reply.body);
    std::string description = reply.error->localizedDescription();
    ZMMAKER_LOG_FAILURE(description);
    return description;
}

}  // namespace

ZMPackageRatings::ZMPackageRatings() = default;
ZMPackageRatings::ZMPackageRatings(std::string username) : username_(std::move(username)) {}

void ZMPackageRatings::postRatingReview(const std::string& packageID, const std::string& reviewText,
                                        const std::string& reviewTitle, int64_t rating,
                                        std::function<void(std::string answer)> completion) {
    if (username_.empty() || !ZMAccount::instance().isSignedIn()) {
        completion(notSignedInText());
        return;
    }
    ZMMakerAPI::Fields query = {{"packageID", packageID}, {"username", username_}, {"rate", std::to_string(rating)}};
    if (!reviewText.empty() || !reviewTitle.empty()) {
        query.push_back({"title", reviewTitle});
        query.push_back({"description", reviewText});
    }
    ZMMakerAPI::send(ZMMakerAPI::get("ratings/rate.php", query),
                     [completion = std::move(completion)](ZMMakerAPI::Reply reply) { completion(answerText(reply)); });
}

void ZMPackageRatings::getAverageRate(const std::string& packageID,
                                      std::function<void(std::optional<std::string> average)> completion) {
    ZMMakerAPI::send(ZMMakerAPI::get("ratings/rating.php", {{"packageID", packageID}}),
                     [completion = std::move(completion)](ZMMakerAPI::Reply reply) {
                         auto parsed = jsonReply(reply);
                         if (!parsed || !parsed->is_object() || !parsed->contains("rating"))
                             return completion(std::nullopt);
                         const auto& rating = (*parsed)["rating"];
                         if (rating.is_number_integer()) return completion(rating.dump());
                         if (rating.is_number_float()) return completion(fmt::format("{}", rating.get<double>()));
                         completion(std::nullopt);
                     });
}

void ZMPackageRatings::getReviews(
    const std::string& packageID,
    std::function<void(std::optional<std::string> status, std::vector<ZMReviews> reviews)> completion) {
    ZMMakerAPI::send(ZMMakerAPI::get("ratings/reviews.php", {{"packageID", packageID}}),
                     [state = state_, completion = std::move(completion)](ZMMakerAPI::Reply reply) {
                         auto parsed = jsonReply(reply);
                         if (!parsed || !parsed->is_array()) {
                             if (parsed) ZMMAKER_LOG_FAILURE("the reviews are not an array");
                             return completion(std::nullopt, {});
                         }
                         std::vector<ZMReviews> reviews;
                         for (const auto& element : *parsed)
                             if (element.is_object()) reviews.push_back(ZMReviews::fromJSON(element));
                         {
                             std::lock_guard lock(state->mutex);
                             state->packageReviews = reviews;
                         }
                         completion(kZMStatusSuccess, std::move(reviews));
                     });
}

void ZMPackageRatings::getReviewWithID(
    int32_t reviewID,
    std::function<void(std::optional<std::string> status, std::optional<ZMReviews> review)> completion) {
    ZMMakerAPI::send(ZMMakerAPI::get("ratings/reviews.php", {{"review_id", std::to_string(reviewID)}}),
                     [state = state_, completion = std::move(completion)](ZMMakerAPI::Reply reply) {
                         auto parsed = jsonReply(reply);
                         if (!parsed || !parsed->is_object()) {
                             if (parsed) ZMMAKER_LOG_FAILURE("the review is not an object");
                             return completion(std::nullopt, std::nullopt);
                         }
                         auto review = ZMReviews::fromJSON(*parsed);
                         {
                             std::lock_guard lock(state->mutex);
                             state->review = review;
                         }
                         completion(kZMStatusSuccess, std::move(review));
                     });
}

void ZMPackageRatings::replyToReviewWithUserID(int32_t userID, int32_t reviewID,
                                               const std::optional<std::string>& reply, bool upvote, bool downvote,
                                               std::function<void(std::optional<std::string> answer)> completion) {
    // Signed out a vote still counts, under user ID 0; a reply is the
    // signed-in maintainer's only.
    const bool signedIn = ZMAccount::instance().isSignedIn();
    const bool vote = !reply && (upvote || downvote);
    const bool accepted = signedIn ? userID > 0 : (vote && userID == 0);
    if (!accepted) {
        completion(std::nullopt);
        return;
    }
    const std::string id = std::to_string(userID), review = std::to_string(reviewID);
    ZMMakerAPI::Fields form;
    if (reply)
        form = {{"id", id}, {"reply", *reply}, {"review_id", review}};
    else if (upvote)
        form = {{"id", id}, {"upvote", "1"}, {"review_id", review}};
    else if (downvote)
        form = {{"id", id}, {"downvote", "1"}, {"review_id", review}};
    ZMMakerAPI::send(ZMMakerAPI::postForm("ratings/reply.php", form),
                     [completion = std::move(completion)](ZMMakerAPI::Reply answer) {
                         if (!answer.ok()) {
                             ZMMAKER_LOG_FAILURE(answer.error->localizedDescription());
                             return completion(std::nullopt);
                         }
                         completion(ZMMakerAPI::displayText(answer.body));
                     });
}

std::vector<ZMReviews> ZMPackageRatings::packageReviews() const {
    std::lock_guard lock(state_->mutex);
    return state_->packageReviews;
}

std::optional<ZMReviews> ZMPackageRatings::review() const {
    std::lock_guard lock(state_->mutex);
    return state_->review;
}
