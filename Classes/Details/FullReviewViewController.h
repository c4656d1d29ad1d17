#pragma once
// One review whole: title, reviewer, stars, vote counts, text and the
// developer's reply. "Reply" offers Upvote and Downvote and, to the account
// whose user name is exactly the package's maintainer, "Reply with text"
// (the reply sheet, ReplyToReviewViewController).
//
// A vote needs a signed-in account; signed out nothing is sent and the popup
// says so. A counted vote redraws the counts the server gives for the review
// and shows its answer; a vote that failed says so and keeps the counts. A
// refetch that fails keeps the review shown; an older refetch answered after
// a newer one is dropped.
#include <QLabel>
#include <QPointer>
#include <QScrollArea>
#include <array>
#include <string>

#include "Details/ReplyToReviewViewController.h"
#include "Services/ZMReviews.h"
#include "UIKit/UITextView.h"
#include "ZMPalettedViewController.h"

class UIAlertController;

class FullReviewViewController : public ZMPalettedViewController, public ReplyToReviewDelegate {
    Q_OBJECT
public:
    explicit FullReviewViewController(QWidget* parent = nullptr);

    void setReview(const ZMReviews& review) { review_ = review; }
    void setMaintainer(const std::string& maintainer) { maintainer_ = maintainer; }
    const ZMReviews& review() const { return review_; }

    // Outlets.
    QScrollArea* scrollView() const { return scrollView_; }
    QLabel* titleLbl() const { return titleLbl_; }
    QLabel* nameLbl() const { return nameLbl_; }
    const std::array<QLabel*, 5>& stars() const { return stars_; }
    UITextView* voteLbl() const { return voteLbl_; }
    UITextView* commentLbl() const { return commentLbl_; }

    // The "Reply" button: the menu of reply and votes.
    UIAlertController* replyToReview();
    void apiCallForUpvote(bool upvote, bool downvote, bool reply);
    // ReplyToReviewDelegate: fetches the review again and redraws its text.
    void updateReview() override;
    void backSwipe();

    ReplyToReviewViewController* lastReplySheet() const { return replySheet_; }
    int answeredFetchCount() const { return answered_; }

    void paletteDidChange(const ZMPalette& palette) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

private:
    void drawVotes();
    void drawComment();
    // Fetches the review again and keeps it unless a newer fetch started
    // meanwhile; then `apply` runs on the main thread.
    void refetch(std::function<void(const std::optional<ZMReviews>&)> apply);
    ZMReviews review_;
    std::string maintainer_;
    QScrollArea* scrollView_ = nullptr;
    QLabel* titleLbl_ = nullptr;
    QLabel* nameLbl_ = nullptr;
    std::array<QLabel*, 5> stars_{};
    UITextView* voteLbl_ = nullptr;
    UITextView* commentLbl_ = nullptr;
    QPointer<ReplyToReviewViewController> replySheet_;
    int generation_ = 0;
    int answered_ = 0;
};
