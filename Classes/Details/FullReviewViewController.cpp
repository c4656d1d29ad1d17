#include "Details/FullReviewViewController.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "Browsing/BrowsingCard.h"
#include "Browsing/BrowsingText.h"
#include "Browsing/SourceAddition.h"
#include "Details/ReplyToReviewViewController.h"
#include "Details/ReviewSheet.h"
#include "Details/ReviewText.h"
#include "Dispatch/Dispatch.h"
#include "Services/ZMAccount.h"
#include "Services/ZMPackageRatings.h"
#include "UIKit/UIAlertController.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UISwipeGesture.h"

using BrowsingText::q;

FullReviewViewController::FullReviewViewController(QWidget* parent) : ZMPalettedViewController(parent) {}

void FullReviewViewController::viewDidLoad() {
    setTitle(q("Review"));
    QVBoxLayout* column = BrowsingCard::makeColumn(this, scrollView_, "scrollView");
    column->setContentsMargins(20, 16, 20, 24);
    column->setSpacing(8);

    titleLbl_ = new QLabel;
    titleLbl_->setObjectName("titleLbl");
    titleLbl_->setTextFormat(Qt::PlainText);
    titleLbl_->setWordWrap(true);
    QFont bold = titleLbl_->font();
    bold.setBold(true);
    bold.setPixelSize(22);
    titleLbl_->setFont(bold);
    column->addWidget(titleLbl_);

    auto* line = new QHBoxLayout;
    line->setSpacing(2);
    for (auto& star : stars_) {
        star = new QLabel;
        star->setFixedSize(18, 18);
        line->addWidget(star);
    }
    line->addSpacing(10);
    nameLbl_ = new QLabel;
    nameLbl_->setObjectName("nameLbl");
    nameLbl_->setTextFormat(Qt::PlainText);
    nameLbl_->setForegroundRole(QPalette::PlaceholderText);
    line->addWidget(nameLbl_, 1);
    column->addLayout(line);

    voteLbl_ = new UITextView;
    voteLbl_->setObjectName("voteLbl");
    column->addWidget(voteLbl_);
    commentLbl_ = new UITextView;
    commentLbl_->setObjectName("commentLbl");
    column->addWidget(commentLbl_);
    column->addStretch(1);

    QPointer<FullReviewViewController> self(this);
    navigationItem()->setRightBarButtonItem(new UIBarButtonItem(
        q("Reply"), [self](UIBarButtonItem*) { if (self) self->replyToReview(); }, navigationItem()));
    UISwipeGesture::addRightSwipe(this, [this] { backSwipe(); });
}

void FullReviewViewController::viewWillAppear(bool) {
    titleLbl_->setText(ReviewText::capitalizedWords(QString::fromStdString(review_.title)));
    nameLbl_->setText(QString::fromStdString(review_.name));
    ReviewText::showStars(stars_, review_.rating);
    drawVotes();
    drawComment();
}

// A new document each time: the view fits its height to the one it is given.
void FullReviewViewController::drawVotes() {
    auto* document = new QTextDocument;
    ReviewText::fillVotes(document, review_);
    voteLbl_->setAttributedText(document);
}

void FullReviewViewController::drawComment() {
    auto* document = new QTextDocument;
    ReviewText::fillFullComment(document, review_, maintainer_);
    commentLbl_->setAttributedText(document);
}

UIAlertController* FullReviewViewController::replyToReview() {
    auto* menu = UIAlertController::alertControllerWithTitle(
        q("Reply to Review"), q("How do you want to reply to this review?"), UIAlertController::Style::Alert);
    QPointer<FullReviewViewController> self(this);
    auto choose = [self](bool up, bool down, bool reply) {
        return [self, up, down, reply] {
            if (self) self->apiCallForUpvote(up, down, reply);
        };
    };
    // Only the package's own developer answers, signed in under exactly that name.
    if (ZMAccount::instance().returnUsername() == std::optional<std::string>(maintainer_))
        menu->addAction(q("Reply with text"), UIAlertController::ActionStyle::Default, choose(false, false, true));
    menu->addAction(q("Upvote"), UIAlertController::ActionStyle::Default, choose(true, false, false));
    menu->addAction(q("Downvote"), UIAlertController::ActionStyle::Default, choose(false, true, false));
    menu->addAction(q("Cancel"), UIAlertController::ActionStyle::Cancel);
    SourceAddition::topPresenter(this)->presentViewController(menu, true);
    return menu;
}

void FullReviewViewController::apiCallForUpvote(bool upvote, bool downvote, bool reply) {
    const std::string title = ZMLocalizedString("Reply to Review");
    if (!upvote && !downvote) {
        if (!reply) return;
        auto* sheet = new ReplyToReviewViewController;
        sheet->setDelegate(this);
        sheet->setReviewID(review_.reviewIDValue());
        replySheet_ = sheet;
        SourceAddition::topPresenter(this)->presentViewController(sheet, true);
        return;
    }
    // Signed out the vote goes out too, under user ID 0.
    QPointer<FullReviewViewController> self(this);
    ZMPackageRatings().replyToReviewWithUserID(
        ZMAccount::instance().isSignedIn() ? ZMAccount::instance().returnUserID() : 0, review_.reviewIDValue(), std::nullopt, upvote, downvote,
        [self, title](std::optional<std::string> answer) {
            Dispatch::main([self, title, answer] {
                if (!self) return;
                if (!answer || *answer == "Failed") {
                    ReviewSheet::presentOutcome(self, title, ZMLocalizedString("Your vote was not counted. Please try again."));
                    return;
                }
                // The counts come from the server, not from a local increment.
                self->refetch([self, title, message = *answer](const std::optional<ZMReviews>&) {
                    if (!self) return;
                    self->drawVotes();
                    ReviewSheet::presentOutcome(self, title, message);
                });
            });
        });
}

void FullReviewViewController::updateReview() {
    QPointer<FullReviewViewController> self(this);
    refetch([self](const std::optional<ZMReviews>&) {
        if (self) self->drawComment();
    });
}

void FullReviewViewController::refetch(std::function<void(const std::optional<ZMReviews>&)> apply) {
    const int generation = ++generation_;
    QPointer<FullReviewViewController> self(this);
    ZMPackageRatings(ZMAccount::instance().returnUsername().value_or(""))
        .getReviewWithID(review_.reviewIDValue(), [self, generation, apply](std::optional<std::string>,
                                                                             std::optional<ZMReviews> fetched) {
            Dispatch::main([self, generation, apply, fetched] {
                if (!self) return;
                ++self->answered_;
                // A failed fetch keeps what is shown, and so does one that a
                // newer fetch has overtaken.
                if (fetched && generation == self->generation_) self->review_ = *fetched;
                apply(fetched);
            });
        });
}

void FullReviewViewController::backSwipe() {
    if (auto* nav = navigationController(); nav && nav->topViewController() == this && nav->viewControllers().size() > 1)
        nav->popViewController(true);
}

void FullReviewViewController::paletteDidChange(const ZMPalette& palette) {
    QPalette p = QWidget::palette();
    p.setColor(QPalette::Window, palette.backgroundColor());
    setPalette(p);
    setAutoFillBackground(true);
    for (QWidget* w : std::initializer_list<QWidget*>{titleLbl_, commentLbl_}) {
        if (!w) continue;
        QPalette text = w->palette();
        text.setColor(QPalette::WindowText, palette.primaryTextColor());
        text.setColor(QPalette::Text, palette.primaryTextColor());
        w->setPalette(text);
    }
}
