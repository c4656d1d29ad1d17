#pragma once
// The sheet in which a package's developer answers one review. "Reply"
// sends the text through the ratings client (ZMPackageRatings) under the
// signed-in account; while it is under way the sheet waits (Reply disabled).
//
//   accepted (any answer but "Failed")  the sheet closes, the delegate is
//                                       told (updateReview), and the popup
//                                       "Reply to Review" shows the answer
//   refused, failed, no answer          the sheet stays with its text and
//                                       says the reply was not sent
//
// Reply does nothing while the text is blank (the hint is the view's
// placeholder, never its text). At most 1000 UTF-16 units (ReviewTextView).
#include <QLabel>
#include <QPointer>
#include <cstdint>

#include "Details/ReplyToReviewDelegate.h"
#include "Details/ReviewSheet.h"
#include "Details/ReviewTextView.h"
#include "UIKit/WeakDelegate.h"

class ReplyToReviewViewController : public ReviewSheet {
    Q_OBJECT
public:
    static constexpr int kMaximumLength = 1000;

    explicit ReplyToReviewViewController(QWidget* parent = nullptr);

    void setReviewID(int32_t reviewID) { reviewID_ = reviewID; }
    int32_t reviewID() const { return reviewID_; }
    // Held weakly when it is a QObject.
    void setDelegate(ReplyToReviewDelegate* delegate) { delegate_.set(delegate); }

    QLabel* replyTitle() const { return replyTitle_; }
    ReviewTextView* replyTextView() const { return replyTextView_; }
    QPushButton* replyBtn() const { return replyBtn_; }
    bool isSending() const { return sending_; }

    // The Reply button's action.
    void reply();

protected:
    void viewDidLoad() override;

private:
    void finished(const std::optional<std::string>& answer);
    void setSending(bool sending);
    int32_t reviewID_ = 0;
    WeakDelegate<ReplyToReviewDelegate> delegate_;
    bool sending_ = false;
    QLabel* replyTitle_ = nullptr;
    ReviewTextView* replyTextView_ = nullptr;
    QPushButton* replyBtn_ = nullptr;
};
