#include "Details/LeaveReviewViewController.h"

#include <QHBoxLayout>
#include <QRegularExpression>

#include "Browsing/BrowsingText.h"
#include "Database/ZMRPackage.h"
#include "Details/ReviewText.h"
#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLog.h"
#include "Realm/Realm.h"
#include "Services/ZMAccount.h"
#include "Services/ZMPackageRatings.h"
#include "ZMStoreGuard.h"

using BrowsingText::q;

namespace {
constexpr int kStarSize = 30;
}  // namespace

LeaveReviewViewController::LeaveReviewViewController(QWidget* parent) : ReviewSheet(parent) {}

bool LeaveReviewViewController::namesAProblem(const QString& text) {
    static const QRegularExpression words(QStringLiteral("\\b(bugs?|crash(es|ed)?|fails|issues?)\\b"),
                                          QRegularExpression::CaseInsensitiveOption |
                                              QRegularExpression::UseUnicodePropertiesOption);
    return words.match(text).hasMatch();
}

void LeaveReviewViewController::viewDidLoad() {
    ReviewSheet::viewDidLoad();
    reviewTitle_ = new QLabel(q("Write a Review"));
    reviewTitle_->setObjectName("reviewTitle");
    reviewTitle_->setAlignment(Qt::AlignCenter);
    QFont bold = reviewTitle_->font();
    bold.setBold(true);
    bold.setPixelSize(17);
    reviewTitle_->setFont(bold);
    cardLayout()->addWidget(reviewTitle_);

    ratingContainer_ = new QWidget;
    ratingContainer_->setObjectName("ratingContainer");
    auto* stars = new QHBoxLayout(ratingContainer_);
    stars->setContentsMargins(0, 0, 0, 0);
    stars->addStretch(1);
    for (int i = 0; i < 5; ++i) {
        auto* star = new QToolButton;
        star->setObjectName(QStringLiteral("rating%1").arg(i + 1));
        star->setAutoRaise(true);
        star->setIconSize(QSize(kStarSize, kStarSize));
        star->setCursor(Qt::PointingHandCursor);
        connect(star, &QToolButton::clicked, this, [this, i] { setRating(i + 1); });
        ratingButtons_[i] = star;
        stars->addWidget(star);
    }
    stars->addStretch(1);
    cardLayout()->addWidget(ratingContainer_);

    reviewTitleTextField_ = new QLineEdit;
    reviewTitleTextField_->setObjectName("reviewTitleTextField");
    reviewTitleTextField_->setPlaceholderText(q("Title"));
    connect(reviewTitleTextField_, &QLineEdit::returnPressed, reviewTitleTextField_, &QWidget::clearFocus);
    cardLayout()->addWidget(reviewTitleTextField_);

    reviewTextView_ = new ReviewTextView(kMaximumLength);
    reviewTextView_->setObjectName("reviewTextView");
    reviewTextView_->setPlaceholderText(q("Write your review here..."));
    reviewTextView_->setFixedHeight(150);
    cardLayout()->addWidget(reviewTextView_);

    cancelBtn()->setText(q("Cancel"));
    reviewBtn_ = makeButton(q("Send"));
    reviewBtn_->setObjectName("reviewBtn");
    connect(reviewBtn_, &QPushButton::clicked, this, &LeaveReviewViewController::review);
    addButtonRow(reviewBtn_);
    setRating(0);
}

void LeaveReviewViewController::setRating(int stars) {
    loadViewIfNeeded();
    const int chosen = ReviewText::clampedStars(stars);
    // No stars is no rating: sending waits for one.
    rate_ = chosen > 0 ? std::optional<int>(chosen) : std::nullopt;
    for (int i = 0; i < 5; ++i) ratingButtons_[i]->setIcon(ReviewText::star(i < chosen, kStarSize * 2));
    reviewBtn_->setEnabled(rate_.has_value() && !sending_);
}

void LeaveReviewViewController::setSending(bool sending) {
    sending_ = sending;
    reviewBtn_->setEnabled(!sending && rate_.has_value());
    reviewTitleTextField_->setReadOnly(sending);
    reviewTextView_->setReadOnly(sending);
    ratingContainer_->setEnabled(!sending);
}

std::string LeaveReviewViewController::packageName() const {
    auto package = ZMStoreGuard::record<ZMRPackage>("reading a package", packageIdentifier_);
    return package && !package->name.empty() ? package->name : packageIdentifier_;
}

void LeaveReviewViewController::review() {
    if (sending_ || !rate_ || isBeingDismissed()) return;
    const std::string title = reviewTitleTextField_->text().toStdString();
    const std::string text = reviewTextView_->toPlainText().toStdString();
    const int stars = *rate_;
    if (namesAProblem(reviewTitleTextField_->text()) || namesAProblem(reviewTextView_->toPlainText())) {
        // Nothing is sent: the details page warns and offers the developer's contact.
        auto delegate = delegate_;
        dismissViewController(true, [delegate, title, text, stars] {
            if (auto* told = delegate.get()) told->showReviewWarningWithTitle(title, text, stars);
        });
        return;
    }
    setSending(true);
    ZMPackageRatings ratings(ZMAccount::instance().returnUsername().value_or(""));
    QPointer<LeaveReviewViewController> self(this);
    ratings.postRatingReview(packageIdentifier_, text, title, stars, [self](std::string answer) {
        Dispatch::main([self, answer] {
            if (self) self->finished(answer);
        });
    });
}

void LeaveReviewViewController::finished(const std::string& answer) {
    setSending(false);
    const std::string title = BrowsingText::format("%@ Review", packageName());
    if (answer != "Success" && answer != "Successfully updated") {
        // Not taken: nothing stored, the sheet keeps its texts for another try.
        std::string message = answer == "Failed" ? ZMLocalizedString("There was an error while posting the review") : answer;
        if (answer != "Failed") message += (message.empty() ? "" : "\n\n") + ZMLocalizedString("The review was not posted.");
        presentOutcome(this, title, message);
        return;
    }
    // The review is posted either way; only the page's own stars may miss it.
    ZMStoreGuard::run("storing a rating", [&] {
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] {
            auto package = realm->objectForPrimaryKey<ZMRPackage>(packageIdentifier_);
            if (package && !package->isInvalidated()) realm->setValueForKey(*package, "myRating", int64_t(*rate_));
        });
    });
    const std::string message = ZMLocalizedString(answer == "Success" ? "Review has been successfully posted"
                                                                      : "Review has been successfully updated");
    QPointer<QWidget> window = this->window();
    auto delegate = delegate_;
    dismissViewController(true, [window, delegate, title, message] {
        if (auto* told = delegate.get()) told->updateRatingInfo();
        presentOutcome(topPresenterOf(window), title, message);
    });
}
