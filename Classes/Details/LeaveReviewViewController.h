#pragma once
// The sheet in which the user rates an installed package with one to five
// stars and writes a review title and text (the text at most 1000 UTF-16
// units). Send stays disabled until a star is chosen.
//
// A review that names a problem (the whole words bug(s), crash(es/ed),
// fails, issue(s), in any case) is not sent: the sheet closes and hands
// title, text and stars to its delegate, which warns the user. Otherwise the
// rating goes out through the ratings client (ZMPackageRatings) and:
//
//   "Success", "Successfully updated"  the package's own rating (myRating)
//                                      is stored, the sheet closes, the
//                                      delegate is told (updateRatingInfo) and
//                                      the popup "<name> Review" says so
//   anything else                      nothing is stored; the sheet stays
//                                      with its texts and the popup says why
//                                      ("Failed": "There was an error while
//                                      posting the review"; else the answer)
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <array>
#include <optional>
#include <string>

#include "Details/LeaveReviewDelegate.h"
#include "Details/ReviewSheet.h"
#include "Details/ReviewTextView.h"
#include "UIKit/WeakDelegate.h"

class LeaveReviewViewController : public ReviewSheet {
    Q_OBJECT
public:
    static constexpr int kMaximumLength = 1000;

    explicit LeaveReviewViewController(QWidget* parent = nullptr);

    void setDelegate(LeaveReviewDelegate* delegate) { delegate_.set(delegate); }
    void setPackageIdentifier(const std::string& identifier) { packageIdentifier_ = identifier; }
    const std::string& packageIdentifier() const { return packageIdentifier_; }

    // Shows `stars` (1 to 5) selected and keeps them as the rating.
    void setRating(int stars);
    std::optional<int> rate() const { return rate_; }

    QLabel* reviewTitle() const { return reviewTitle_; }
    QWidget* ratingContainer() const { return ratingContainer_; }
    const std::array<QToolButton*, 5>& ratingButtons() const { return ratingButtons_; }
    QLineEdit* reviewTitleTextField() const { return reviewTitleTextField_; }
    ReviewTextView* reviewTextView() const { return reviewTextView_; }
    QPushButton* reviewBtn() const { return reviewBtn_; }
    bool isSending() const { return sending_; }

    // The send button's action.
    void review();

    // Whether the text names a problem (see above).
    static bool namesAProblem(const QString& text);

protected:
    void viewDidLoad() override;

private:
    void finished(const std::string& answer);
    void setSending(bool sending);
    std::string packageName() const;
    WeakDelegate<LeaveReviewDelegate> delegate_;
    std::string packageIdentifier_;
    std::optional<int> rate_;
    bool sending_ = false;
    QLabel* reviewTitle_ = nullptr;
    QWidget* ratingContainer_ = nullptr;
    std::array<QToolButton*, 5> ratingButtons_{};
    QLineEdit* reviewTitleTextField_ = nullptr;
    ReviewTextView* reviewTextView_ = nullptr;
    QPushButton* reviewBtn_ = nullptr;
};
