// The reply and leave-review sheets against the fake maker server: blank and
// overlong texts, hostile texts intact at the server, and every failure
// keeping the sheet and its text.
#include <QApplication>
#include <QClipboard>

#include "Database/ZMRPackage.h"
#include "Details/LeaveReviewViewController.h"
#include "Details/ReplyToReviewViewController.h"
#include "Details/ReviewsFixture.h"

namespace {

using ReviewsFixture::review;

struct Recorder : QObject, ReplyToReviewDelegate, LeaveReviewDelegate {
    int updates = 0, ratingUpdates = 0;
    std::vector<std::tuple<std::string, std::string, std::optional<int>>> warnings;
    void updateReview() override { ++updates; }
    void updateRatingInfo() override { ++ratingUpdates; }
    void showReviewWarningWithTitle(const std::string& title, const std::string& text, std::optional<int> rate) override {
        warnings.emplace_back(title, text, rate);
    }
};

class ReviewSheets : public ReviewsFixture::Screens {
protected:
    UIViewController* root = nullptr;
    Recorder recorder;

    void SetUp() override {
        Screens::SetUp();
        signIn("Jane Doe");
        maker->setReviews("com.a", nlohmann::json::array({review(9, "nice", "works", 5)}));
        auto alpha = ShellTest::makePackage("com.a", "Alpha");
        alpha.isInstalled = true;
        store({alpha});
        root = new UIViewController;
        show(root);
    }
    ReplyToReviewViewController* presentReplySheet(int reviewID = 9) {
        auto* sheet = new ReplyToReviewViewController;
        sheet->setReviewID(reviewID);
        sheet->setDelegate(&recorder);
        nav->presentViewController(sheet, false);
        return sheet;
    }
    LeaveReviewViewController* presentReviewSheet() {
        auto* sheet = new LeaveReviewViewController;
        sheet->setPackageIdentifier("com.a");
        sheet->setDelegate(&recorder);
        nav->presentViewController(sheet, false);
        return sheet;
    }
    static void paste(QPlainTextEdit* view, const QString& text) {
        QApplication::clipboard()->setText(text);
        view->paste();
    }
};

TEST_F(ReviewSheets, ReplyIgnoresBlankTextKeepsTheLimitAndArrivesIntact) {
    auto* sheet = presentReplySheet();
    auto* text = sheet->replyTextView();
    EXPECT_EQ(text->placeholderText(), "Write your reply here...");
    EXPECT_TRUE(text->toPlainText().isEmpty()) << "the hint is no text";
    for (const char* blank : {"", "  \n\t"}) {
        text->setPlainText(blank);
        sheet->replyBtn()->click();
        EXPECT_FALSE(sheet->isSending()) << "blank: " << blank;
    }

    // 1000 UTF-16 units: typing and pasting past them are refused whole.
    text->setFocus();
    text->setPlainText(QString(998, 'a'));
    text->moveCursor(QTextCursor::End);
    paste(text, QString::fromUtf8("\xF0\x9F\x98\x80x"));  // 3 units
    EXPECT_EQ(text->toPlainText().size(), 998);
    QTest::keyClicks(text, "bcd");
    EXPECT_EQ(text->toPlainText().size(), 1000);
    EXPECT_TRUE(text->toPlainText().endsWith("bc"));
    text->moveCursor(QTextCursor::Left, QTextCursor::KeepAnchor);
    paste(text, "Z");
    EXPECT_TRUE(text->toPlainText().endsWith("bZ")) << "a selection replaced by as much is accepted";
    EXPECT_EQ(text->refusedEditCount(), 2);

    const QString hostile = QString::fromUtf8("fixed & thanks&upvote=1&review_id=8 100% + \xC3\xBC\nline");
    text->setPlainText(hostile);
    sheet->replyBtn()->click();
    EXPECT_FALSE(sheet->replyBtn()->isEnabled()) << "one send at a time";
    auto* popup = waitForPopup();
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->titleLbl()->text(), "Reply to Review");
    EXPECT_EQ(popup->messageLbl()->text(), "Reply sent");
    EXPECT_EQ(recorder.updates, 1);
    EXPECT_EQ(popup->presentingViewController(), nav) << "the sheet has gone";
    auto sent = maker->requests("ratings/reply.php");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].field("reply"), hostile.toStdString());
    EXPECT_EQ(sent[0].fieldValues("review_id"), std::vector<std::string>{"9"});
    EXPECT_FALSE(sent[0].hasField("upvote"));
}

TEST_F(ReviewSheets, AReplyThatDidNotLandKeepsTheSheetAndItsText) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        int reviewID = 9;
    };
    const Case cases[] = {
        {"refused connection", [] { ZMMakerAPI::setBaseURL("http://127.0.0.1:1"); }},
        {"status 500", [&] { maker->setBehaviour("ratings/reply.php", {.status = 500, .body = "Reply sent"}); }},
        {"no answer in time",
         [&] {
             ZMMakerAPI::setRequestTimeLimit(0.5);
             maker->setBehaviour("ratings/reply.php", {.delay = std::chrono::seconds(30)});
         }},
        {"\"Failed\"", [] {}, 404},
    };
    for (const Case& c : cases) {
        c.arrange();
        auto* sheet = presentReplySheet(c.reviewID);
        sheet->replyTextView()->setPlainText("fixed in 1.1");
        sheet->replyBtn()->click();
        auto* popup = waitForPopup();
        ASSERT_NE(popup, nullptr) << c.name;
        EXPECT_EQ(popup->messageLbl()->text(), "Your reply was not sent. Please try again.") << c.name;
        EXPECT_EQ(popup->presentingViewController(), sheet) << c.name;
        EXPECT_EQ(sheet->replyTextView()->toPlainText(), "fixed in 1.1") << c.name;
        EXPECT_TRUE(sheet->replyBtn()->isEnabled()) << c.name;
        closePopup();
        sheet->cancel();
        GuiTest::pump();
        maker->clearBehaviour("ratings/reply.php");
        ZMMakerAPI::setBaseURL(maker->url());
        ZMMakerAPI::setRequestTimeLimit(std::nullopt);
    }
    EXPECT_EQ(recorder.updates, 0);
}

TEST_F(ReviewSheets, ProblemWordsAreWholeWords) {
    const std::pair<const char*, bool> texts[] = {
        {"debugging made easy", false}, {"a tissue of praise", false}, {"crashproof", false}, {"failsafe", false},
        {"it crashes", true},           {"Bugs!", true},              {"an ISSUE here", true}, {"crashed twice", true},
        {"it fails", true},             {"one bug", true},
    };
    for (const auto& [text, problem] : texts)
        EXPECT_EQ(LeaveReviewViewController::namesAProblem(QString::fromUtf8(text)), problem) << text;
}

TEST_F(ReviewSheets, LeaveReviewNeedsStarsWarnsOnProblemsAndStoresOnlyAcceptedRatings) {
    auto* sheet = presentReviewSheet();
    EXPECT_FALSE(sheet->reviewBtn()->isEnabled()) << "no stars, no send";
    sheet->review();
    sheet->ratingButtons()[1]->click();
    sheet->reviewTextView()->setPlainText("it crashes on launch");
    sheet->review();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return recorder.warnings.size() == 1; }));
    EXPECT_EQ(recorder.warnings[0], std::make_tuple(std::string(), std::string("it crashes on launch"), std::optional<int>(2)));
    EXPECT_EQ(top(), nav) << "the sheet closed";

    struct Step {
        FakeMakerAPI::Behaviour behaviour;
        const char* message;
        int stars;
        int64_t storedRating;
    };
    // Failed sends of another rating must not store it.
    const Step steps[] = {
        {{}, "Review has been successfully posted", 4, 4},
        {{}, "Review has been successfully updated", 3, 3},
        {{.body = "Failed"}, "There was an error while posting the review", 2, 3},
        {{.status = 500}, "The review was not posted.", 1, 3},
    };
    const std::string title = "debugging & more", text = "100% + \xC3\xBC\nworks";
    for (const Step& step : steps) {
        if (step.behaviour.status || step.behaviour.body) maker->setBehaviour("ratings/rate.php", step.behaviour);
        sheet = presentReviewSheet();
        sheet->ratingButtons()[step.stars - 1]->click();
        sheet->reviewTitleTextField()->setText(QString::fromStdString(title));
        sheet->reviewTextView()->setPlainText(QString::fromStdString(text));
        const int updatesBefore = recorder.ratingUpdates;
        sheet->review();
        auto* popup = waitForPopup();
        ASSERT_NE(popup, nullptr) << step.message;
        EXPECT_EQ(popup->titleLbl()->text(), "Alpha Review");
        EXPECT_TRUE(popup->messageLbl()->text().endsWith(step.message)) << popup->messageLbl()->text().toStdString();
        EXPECT_EQ(fetch("com.a").myRating, std::optional<int64_t>(step.storedRating)) << step.message;
        const bool accepted = !step.behaviour.status && !step.behaviour.body;
        EXPECT_EQ(recorder.ratingUpdates, updatesBefore + (accepted ? 1 : 0)) << step.message;
        EXPECT_EQ(popup->presentingViewController() == sheet, !accepted) << "a failure keeps the sheet";
        if (!accepted) { EXPECT_EQ(sheet->reviewTextView()->toPlainText().toStdString(), text); }
        closePopup();
        if (!accepted) sheet->cancel();
        GuiTest::pump();
        maker->clearBehaviour("ratings/rate.php");
    }
    // Not even reaching the server, or signed out: the sheet stays, nothing is stored.
    struct Unsent {
        const char* name;
        std::function<void()> arrange;
    };
    const Unsent unsent[] = {
        {"refused connection", [] { ZMMakerAPI::setBaseURL("http://127.0.0.1:1"); }},
        {"signed out", [] { ZMAccount::instance().logout(); }},
    };
    for (const Unsent& u : unsent) {
        u.arrange();
        sheet = presentReviewSheet();
        sheet->ratingButtons()[4]->click();
        sheet->reviewTextView()->setPlainText("great");
        sheet->review();
        auto* popup = waitForPopup();
        ASSERT_NE(popup, nullptr) << u.name;
        EXPECT_TRUE(popup->messageLbl()->text().endsWith("The review was not posted.")) << u.name;
        EXPECT_EQ(popup->presentingViewController(), sheet) << u.name;
        EXPECT_EQ(sheet->reviewTextView()->toPlainText(), "great") << u.name;
        EXPECT_EQ(fetch("com.a").myRating, std::optional<int64_t>(3)) << u.name;
        closePopup();
        sheet->cancel();
        GuiTest::pump();
        ZMMakerAPI::setBaseURL(maker->url());
    }
    EXPECT_EQ(recorder.ratingUpdates, 2) << "only the two accepted sends";

    auto sent = maker->requests("ratings/rate.php");
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0].field("title"), title);
    EXPECT_EQ(sent[0].field("description"), text);
    EXPECT_EQ(sent[0].field("rate"), "4");
    EXPECT_EQ(sent[0].field("username"), "Jane Doe");
}

}  // namespace
