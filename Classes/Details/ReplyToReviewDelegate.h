#pragma once
// Told by the reply sheet (ReplyToReviewViewController) once a reply has
// been accepted by the service: the review has changed, fetch it again.
class ReplyToReviewDelegate {
public:
    virtual ~ReplyToReviewDelegate() = default;
    virtual void updateReview() = 0;
};
