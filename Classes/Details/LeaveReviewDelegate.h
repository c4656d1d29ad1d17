#pragma once
// What the leave-review sheet (LeaveReviewViewController) tells the package
// details page that opened it.
#include <optional>
#include <string>

class LeaveReviewDelegate {
public:
    virtual ~LeaveReviewDelegate() = default;
    // The rating and review were accepted: show the new rating.
    virtual void updateRatingInfo() = 0;
    // The review names a problem (a bug, a crash...): nothing was sent; warn
    // the user and offer to contact the developer or to post anyway.
    virtual void showReviewWarningWithTitle(const std::string& title, const std::string& text,
                                            std::optional<int> rate) = 0;
};
