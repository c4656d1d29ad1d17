#pragma once
// Ratings and reviews of packages on the maker's service. Make a client for
// each use (it keeps the result of its last fetch); the review screens and
// the details page's star widget do.
//
//   rate          GET  ratings/rate.php?packageID=&username=&rate=[&title=&description=]
//   average       GET  ratings/rating.php?packageID=      ->  {"rating": 4.5}
//   reviews       GET  ratings/reviews.php?packageID=     ->  [review, ...]
//   one review    GET  ratings/reviews.php?review_id=     ->  review
//   reply / vote  POST ratings/reply.php  id=<user>&reply=<text>&review_id=<review>
//                                         (or upvote=1 / downvote=1 in place of reply)
//   (blanks as "%20"; a review object: "id", "rate", "title", "review",
//    "username", "date", "reply" (null: no reply yet), "upvotes", "downvotes")
//
// A rating and a reply need a signed-in account (ZMAccount::isSignedIn());
// signed out they send nothing and fail at once. A vote goes out signed
// out too, with user ID 0.
//
// Threads: every completion runs exactly once, on a background queue (at
// once on the caller's thread when nothing was sent); hop to the main thread
// before touching the interface. The client may be destroyed before its
// completions run.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Services/ZMMakerAPI.h"
#include "Services/ZMReviews.h"

class ZMPackageRatings {
public:
    // A client without a user name (enough for everything but rating).
    ZMPackageRatings();
    // A client that rates under this user name (pass ZMAccount's returnUsername()).
    explicit ZMPackageRatings(std::string username);

    const std::string& username() const { return username_; }

    // Sends the user's stars, with a review when the title or the text is not
    // empty. The completion gets the server's answer ("Success", "Successfully
    // updated", "Failed", or another text to show as it is), or a failure's
    // description (signed out, no answer, a status outside 2xx).
    void postRatingReview(const std::string& packageID, const std::string& reviewText, const std::string& reviewTitle,
                          int64_t rating, std::function<void(std::string answer)> completion);

    // The average rating as decimal text ("4.5"), or nullopt when the reply
    // has no number under "rating" or on a failure.
    void getAverageRate(const std::string& packageID,
                        std::function<void(std::optional<std::string> average)> completion);

    // The package's reviews in reply order: "Success" with them (and
    // packageReviews() replaced), or nullopt on a failure (packageReviews()
    // unchanged). A reply that is not an array is a failure; elements that
    // are not objects are skipped.
    void getReviews(const std::string& packageID,
                    std::function<void(std::optional<std::string> status, std::vector<ZMReviews> reviews)> completion);

    // One review: "Success" with it (and review() replaced), or nullopt.
    void getReviewWithID(
        int32_t reviewID,
        std::function<void(std::optional<std::string> status, std::optional<ZMReviews> review)> completion);

    // A reply (when `reply` is given), else an upvote, else a downvote, else
    // an empty body. The completion gets the server's answer to show as it
    // is, or nullopt on a failure. Nothing is sent for an ID that is not the
    // account's kind: a reply needs a signed-in account and a positive ID; a
    // vote a positive ID signed in, 0 signed out.
    void replyToReviewWithUserID(int32_t userID, int32_t reviewID, const std::optional<std::string>& reply, bool upvote,
                                 bool downvote, std::function<void(std::optional<std::string> answer)> completion);

    // The reviews of the last successful getReviews (empty before).
    std::vector<ZMReviews> packageReviews() const;
    // The review of the last successful getReviewWithID.
    std::optional<ZMReviews> review() const;

private:
    struct State {
        std::mutex mutex;
        std::vector<ZMReviews> packageReviews;
        std::optional<ZMReviews> review;
    };
    std::string username_;
    std::shared_ptr<State> state_ = std::make_shared<State>();
};
