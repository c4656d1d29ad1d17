// The review list and the full review against the fake maker server: order,
// cells, hostile and broken replies, late fetches, the reply menu per
// account and votes that show the server's counts.
#include <QTextCursor>

#include "Details/AllReviewsCell.h"
#include "Details/AllReviewsViewController.h"
#include "Details/FullReviewViewController.h"
#include "Details/ReviewsFixture.h"

namespace {

using nlohmann::json;
using ReviewsFixture::review;

class ReviewList : public ReviewsFixture::Screens {
protected:
    // Leaves the screen on top and comes back to it: one more fetch.
    void reappear() {
        nav->pushViewController(new UIViewController, false);
        nav->popViewController(false);
    }
    static std::vector<std::string> ids(const AllReviewsViewController* list) {
        std::vector<std::string> out;
        for (const auto& r : list->packageReviews()) out.push_back(r.reviewID);
        return out;
    }
    static int fullStars(const std::array<QLabel*, 5>& stars) {
        int n = 0;
        for (auto* star : stars) n += star->property("starSelected").toBool() ? 1 : 0;
        return n;
    }
    FullReviewViewController* showReview(const ZMReviews& r, const std::string& maintainer) {
        auto* full = new FullReviewViewController;
        full->setReview(r);
        full->setMaintainer(maintainer);
        show(full);
        return full;
    }
    static std::vector<QString> titles(const UIAlertController* menu) {
        std::vector<QString> out;
        for (const auto& a : menu->actions()) out.push_back(a.title);
        return out;
    }
};

TEST_F(ReviewList, NewestFirstWithPlainTextsClampedStarsAndTheReplyNote) {
    maker->setReviews("com.a", json::array({review(1, "first review", "plain", 3),
                                            review(2, "SECOND <b>bold</b>", "<img src=x>text", 7, "thanks"),
                                            review(3, "third", "t", -2)}));
    auto* list = new AllReviewsViewController;
    list->setPackageIdentifier("com.a");
    list->setMaintainer("Jane Doe");
    show(list);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return list->packageReviews().size() == 3; }));
    EXPECT_EQ(ids(list), (std::vector<std::string>{"3", "2", "1"}));
    GuiTest::pump();
    auto* cell = qobject_cast<AllReviewsCell*>(list->reviewsTableView()->cellForRow({0, 1}));
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->titleLbl()->text(), "Second <b>bold</b>");
    EXPECT_EQ(cell->titleLbl()->textFormat(), Qt::PlainText);
    EXPECT_EQ(fullStars(cell->stars()), 5);
    EXPECT_EQ(cell->voteLbl()->toPlainText(), "+3 -1");
    EXPECT_EQ(cell->commentLbl()->toPlainText(), "Developer \"Jane Doe\" replied\n\n<img src=x>text");
    QTextCursor at(cell->commentLbl()->document());
    at.setPosition(2);
    EXPECT_TRUE(at.charFormat().fontItalic()) << "the note";
    at.movePosition(QTextCursor::End);
    EXPECT_FALSE(at.charFormat().fontItalic()) << "the review's own text";
    auto* third = qobject_cast<AllReviewsCell*>(list->reviewsTableView()->cellForRow({0, 0}));
    EXPECT_EQ(fullStars(third->stars()), 0);

    list->reviewsTableView()->selectRow({0, 1}, false);
    list->didSelectRow(list->reviewsTableView(), {0, 1});
    auto* full = dynamic_cast<FullReviewViewController*>(list->lastPushedViewController());
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(full->review().reviewID, "2");
    EXPECT_EQ(full->commentLbl()->toPlainText(), "<img src=x>text\n\nDeveloper \"Jane Doe\" reply:\nthanks");
}

TEST_F(ReviewList, BrokenRepliesAndLateOlderFetches) {
    auto* list = new AllReviewsViewController;
    list->setPackageIdentifier("com.a");
    show(list);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return list->answeredFetchCount() == 1; }));
    struct Case {
        const char* name;
        FakeMakerAPI::Behaviour behaviour;
        size_t rows;
    };
    const Case cases[] = {
        {"an object", {.body = R"({"id": "1", "title": "x"})"}, 0},
        {"null", {.body = "null"}, 0},
        {"missing keys and wrong types", {.body = R"([{"id": 5}, {"title": null, "rate": "x", "reply": 4}, 7])"}, 2},
        {"10 MB", {.body = "[", .oversizedBytes = 10u << 20}, 0},
    };
    for (const Case& c : cases) {
        maker->setBehaviour("ratings/reviews.php", c.behaviour);
        const int answered = list->answeredFetchCount();
        reappear();
        ASSERT_TRUE(GuiTest::waitUntil([&] { return list->answeredFetchCount() == answered + 1; }, std::chrono::seconds(10)))
            << c.name;
        EXPECT_EQ(list->packageReviews().size(), c.rows) << c.name;
        GuiTest::pump();
    }

    // The two fetches travel on separate connections and may reach the server
    // in either order: hold the older one before sending the newer, so the
    // server's order of held requests is the order of sending.
    maker->setBehaviour("ratings/reviews.php", {.hold = true});
    reappear();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return maker->heldRequests("ratings/reviews.php").size() == 1; }));
    reappear();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return maker->heldRequests("ratings/reviews.php").size() == 2; }));
    maker->setReviews("com.a", json::array({review(4, "new", "n", 4)}));
    int seen = 0;
    ASSERT_TRUE(maker->releaseHeld("ratings/reviews.php", [&](const auto&) { return seen++ == 1; }));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return ids(list) == std::vector<std::string>{"4"}; }));
    const int answered = list->answeredFetchCount();
    maker->setReviews("com.a", json::array({review(5, "old", "o", 1), review(6, "old", "o", 1)}));
    ASSERT_TRUE(maker->releaseHeld("ratings/reviews.php"));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return list->answeredFetchCount() == answered + 1; }));
    EXPECT_EQ(ids(list), std::vector<std::string>{"4"}) << "the older fetch answered last and was dropped";
}

TEST_F(ReviewList, OnlyTheExactMaintainerMayReplyAndSignedOutVotesGoOutAsUserZero) {
    maker->setReviews("com.a", json::array({review(9, "t", "d", 4)}));
    ZMReviews shown = ZMReviews::fromJSON(review(9, "t", "d", 4));
    struct Case {
        const char* account;  // nullptr: signed out
        const char* maintainer;
        bool offersReply;
    };
    for (const Case& c : {Case{"Jane Doe", "Jane Doe", true}, Case{"Jane Doe", "jane doe", false},
                          Case{"Jane Doe", "Jane Doe <jane@example.com>", false}, Case{nullptr, "Jane Doe", false}}) {
        ZMAccount::instance().logout();
        if (c.account) signIn(c.account);
        auto* full = showReview(shown, c.maintainer);
        auto* menu = full->replyToReview();
        EXPECT_EQ(menu->alertTitle(), "Reply to Review");
        std::vector<QString> expected = {"Upvote", "Downvote", "Cancel"};
        if (c.offersReply) expected.insert(expected.begin(), "Reply with text");
        EXPECT_EQ(titles(menu), expected) << c.maintainer << " signed in: " << (c.account != nullptr);
        if (!c.account) {
            menu->performAction(0);  // "Upvote"
            auto* popup = waitForPopup();
            ASSERT_NE(popup, nullptr);
            EXPECT_EQ(popup->messageLbl()->text(), "Vote counted");
            const auto sent = maker->requests("ratings/reply.php");
            ASSERT_EQ(sent.size(), 1u);
            EXPECT_EQ(sent[0].field("id"), "0");
            EXPECT_EQ(sent[0].field("upvote"), "1");
            EXPECT_EQ(sent[0].field("review_id"), "9");
            EXPECT_EQ(full->voteLbl()->toPlainText(), "+4 -1") << "the server's counts";
        }
    }
}

TEST_F(ReviewList, FailedVotesAndRefetchesKeepTheCounts) {
    auto onServer = review(9, "t", "d", 4);
    onServer["upvotes"] = "41";
    maker->setReviews("com.a", json::array({onServer}));
    signIn("bob");
    auto* full = showReview(ZMReviews::fromJSON(review(9, "t", "d", 4)), "Jane Doe");
    EXPECT_EQ(full->voteLbl()->toPlainText(), "+3 -1");
    struct Step {
        const char* action;
        const char* endpoint;  // made to fail
        const char* message;
        const char* votes;
    };
    const Step steps[] = {
        {"Downvote", "ratings/reply.php", "Your vote was not counted. Please try again.", "+3 -1"},
        {"Upvote", "ratings/reviews.php", "Vote counted", "+3 -1"},  // counted, but the refetch failed
    };
    for (const Step& step : steps) {
        maker->setBehaviour(step.endpoint, {.status = 500});
        auto* menu = full->replyToReview();
        const auto names = titles(menu);
        menu->performAction(static_cast<int>(std::find(names.begin(), names.end(), step.action) - names.begin()));
        auto* popup = waitForPopup();
        ASSERT_NE(popup, nullptr) << step.message;
        EXPECT_EQ(popup->messageLbl()->text(), step.message);
        EXPECT_EQ(full->voteLbl()->toPlainText(), step.votes) << step.message;
        closePopup();
        maker->clearBehaviour(step.endpoint);
    }
    EXPECT_EQ(full->review().title, "t") << "a failed refetch keeps the review";
}

}  // namespace
