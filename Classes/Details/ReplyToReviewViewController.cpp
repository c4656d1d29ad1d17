#include "Details/ReplyToReviewViewController.h"

#include "Dispatch/Dispatch.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Services/ZMAccount.h"
#include "Services/ZMPackageRatings.h"

namespace {
QString q(const char* key) { return QString::fromStdString(ZMLocalizedString(key)); }
}  // namespace

ReplyToReviewViewController::ReplyToReviewViewController(QWidget* parent) : ReviewSheet(parent) {}

void ReplyToReviewViewController::viewDidLoad() {
    ReviewSheet::viewDidLoad();
    replyTitle_ = new QLabel(q("Reply to Review"));
    replyTitle_->setObjectName("replyTitle");
    replyTitle_->setAlignment(Qt::AlignCenter);
    QFont bold = replyTitle_->font();
    bold.setBold(true);
    bold.setPixelSize(17);
    replyTitle_->setFont(bold);
    cardLayout()->addWidget(replyTitle_);

    replyTextView_ = new ReviewTextView(kMaximumLength);
    replyTextView_->setObjectName("replyTextView");
    replyTextView_->setPlaceholderText(q("Write your reply here..."));
    replyTextView_->setFixedHeight(160);
    cardLayout()->addWidget(replyTextView_);

    cancelBtn()->setText(q("Cancel"));
    replyBtn_ = makeButton(q("Reply"));
    replyBtn_->setObjectName("replyBtn");
    connect(replyBtn_, &QPushButton::clicked, this, &ReplyToReviewViewController::reply);
    addButtonRow(replyBtn_);
}

void ReplyToReviewViewController::setSending(bool sending) {
    sending_ = sending;
    replyBtn_->setEnabled(!sending);
    replyTextView_->setReadOnly(sending);
}

void ReplyToReviewViewController::reply() {
    if (sending_ || isBeingDismissed()) return;
    const QString text = replyTextView_->toPlainText();
    if (text.trimmed().isEmpty()) {
        replyTextView_->setFocus();
        return;
    }
    setSending(true);
    auto& account = ZMAccount::instance();
    ZMPackageRatings ratings(account.returnUsername().value_or(""));
    QPointer<ReplyToReviewViewController> self(this);
    ratings.replyToReviewWithUserID(account.returnUserID(), reviewID_, text.toStdString(), false, false,
                                    [self](std::optional<std::string> answer) {
                                        Dispatch::main([self, answer] {
                                            if (self) self->finished(answer);
                                        });
                                    });
}

void ReplyToReviewViewController::finished(const std::optional<std::string>& answer) {
    setSending(false);
    const std::string title = ZMLocalizedString("Reply to Review");
    if (!answer || *answer == "Failed") {
        // Nothing was stored: the sheet and its text stay for another try.
        presentOutcome(this, title, ZMLocalizedString("Your reply was not sent. Please try again."));
        return;
    }
    QPointer<QWidget> window = this->window();
    auto delegate = delegate_;
    const std::string message = *answer;
    dismissViewController(true, [window, delegate, title, message] {
        if (auto* told = delegate.get()) told->updateReview();
        presentOutcome(topPresenterOf(window), title, message);
    });
}
