// Ratings, reviews, votes and usage statistics: the requests as the server
// gets them and the records made of the replies.
#include "Online/Services/OnlineServicesFixture.h"
#include "Services/ZMPackageRatings.h"

using nlohmann::json;

TEST_F(OnlineServices, RatingsReviewsAndVotes) {
    ASSERT_TRUE(signIn());
    ZMPackageRatings client("ada");
    Answer<std::string> rated;
    client.postRatingReview("com.a", "", "", 4, rated.callback());
    ASSERT_TRUE(rated.wait());
    EXPECT_EQ(rated.value(), "Success");
    client.postRatingReview("com.a", "so good", "My title", 5, [&](std::string answer) { rated.set(answer); });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return rated.calls() == 2; }));
    EXPECT_EQ(rated.value(), "Successfully updated");
    auto rates = maker->requests("ratings/rate.php");
    EXPECT_EQ(rates.at(0).rawQuery, "packageID=com.a&username=ada&rate=4");
    EXPECT_EQ(rates.at(1).rawQuery, "packageID=com.a&username=ada&rate=5&title=My%20title&description=so%20good");

    Answer<std::optional<std::string>> average;
    client.getAverageRate("com.a", average.callback());
    ASSERT_TRUE(average.wait());
    EXPECT_EQ(average.value(), "5");
    maker->setAverageRating("com.b", "4.5");
    client.getAverageRate("com.b", [&](auto a) { average.set(a); });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return average.calls() == 2; }));
    EXPECT_EQ(average.value(), std::nullopt) << "a text is not a number";

    maker->setReviews("com.a", {{{"id", 34},
                                 {"rate", "4"},
                                 {"title", "T"},
                                 {"review", "R"},
                                 {"username", "u"},
                                 {"date", "2026-01-01"},
                                 {"reply", nullptr},
                                 {"upvotes", 2},
                                 {"downvotes", "0"}}});
    Answer<std::vector<ZMReviews>> reviews;
    client.getReviews("com.a", [&](auto, auto list) { reviews.set(list); });
    ASSERT_TRUE(reviews.wait());
    ASSERT_EQ(reviews.value().size(), 1u);
    auto review = reviews.value()[0];
    EXPECT_EQ(review.reviewIDValue(), 34);
    EXPECT_EQ(review.rating, 4);
    EXPECT_FALSE(review.reply);
    EXPECT_EQ(review.upvotes, "2");

    // Votes and replies: the body chosen, then the review read back.
    struct Case {
        std::optional<std::string> reply;
        bool up, down;
        const char* body;
    } cases[] = {{std::nullopt, true, true, "id=12&upvote=1&review_id=34"},
                 {std::nullopt, false, true, "id=12&downvote=1&review_id=34"},
                 {std::nullopt, false, false, ""},
                 {std::string("Thanks"), true, false, "id=12&reply=Thanks&review_id=34"}};
    for (const auto& c : cases) {
        Answer<std::optional<std::string>> answer;
        client.replyToReviewWithUserID(12, 34, c.reply, c.up, c.down, answer.callback());
        ASSERT_TRUE(answer.wait());
        auto sent = maker->requests("ratings/reply.php").back();
        EXPECT_EQ(sent.body, c.body);
        EXPECT_EQ(sent.header("Content-Length"), std::to_string(std::string(c.body).size()));
    }
    Answer<std::optional<ZMReviews>> one;
    client.getReviewWithID(34, [&](auto, auto r) { one.set(r); });
    ASSERT_TRUE(one.wait());
    EXPECT_EQ(one.value()->reply, "Thanks");
    EXPECT_EQ(one.value()->upvotes, "3");
    EXPECT_EQ(one.value()->downvotes, "1");

    // A failed fetch keeps the earlier list of the same client.
    maker->setBehaviour("ratings/reviews.php", {.status = 500});
    client.getReviews("com.a", [&](auto, auto list) { reviews.set(list); });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return reviews.calls() == 2; }));
    EXPECT_TRUE(reviews.value().empty());
    EXPECT_EQ(client.packageReviews().size(), 1u);
}

TEST_F(OnlineServices, StatisticsReportPublicPackagesAndReadTrending) {
    addSources({"https://repo.example/", "https://user:pw@private.example/"});
    realm->transactionWithBlock([&] {
        for (auto [id, source] :
             {std::pair{"com.a", "https://repo.example/"}, std::pair{"com.orphan", "https://gone.example/"},
              std::pair{"com.private", "https://user:pw@private.example/"}}) {
            ZMRPackage p;
            p.identifier = p.name = id;
            p.sourceLocation = source;
            p.maintainer = "Jane Roe <jane@example.com>";
            p.version = "1.0 beta";
            realm->addOrUpdate(p);
        }
    });
    auto& statistics = ZMStatistics::instance();
    EXPECT_TRUE(statistics.postPackageStatisticForIdentifier("com.a", 0, 1));
    EXPECT_FALSE(statistics.postPackageStatisticForIdentifier("com.orphan", 0, 1)) << "no source record";
    EXPECT_FALSE(statistics.postPackageStatisticForIdentifier("com.private", 1, 0)) << "credentials stay private";
    ASSERT_TRUE(maker->waitForCount("stats/stats.php", 1));
    EXPECT_EQ(maker->requests("stats/stats.php").at(0).rawQuery,
              "packageID=com.a&devName=Jane%20Roe%20%3Cjane%40example.com%3E&repoURL=https%3A%2F%2Frepo.example%2F"
              "&version=1.0%20beta&downloadCount=0&seenCount=1&key=Quendarix");

    Answer<std::optional<std::string>> trending;
    maker->setTrending({"dark mode", 3, "eta"});
    statistics.retrieveSearchesTrendingWithCompletionHandler(trending.callback());
    ASSERT_TRUE(trending.wait());
    EXPECT_EQ(trending.value(), "Success");
    EXPECT_EQ(statistics.searchesTrending(), (std::vector<std::string>{"dark mode", "eta"}));
    maker->setBehaviour("stats/trending.php", {.body = "nope"});
    statistics.retrieveSearchesTrendingWithCompletionHandler([&](auto s) { trending.set(s); });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return trending.calls() == 2; }));
    EXPECT_EQ(trending.value(), "Error");
    EXPECT_EQ(statistics.searchesTrending().size(), 2u);
}

// A reply names its author by a positive user ID, a signed-in author's; a
// vote does too, or goes out as user 0 when nobody is signed in. Anything
// else is refused before a request is sent.
TEST_F(OnlineServices, RepliesNeedASignedInAuthorAndVotesGoOutAsUserZeroSignedOut) {
    struct Case {
        bool signedIn;
        int32_t userID;
        bool replySent, voteSent;
    };
    const Case cases[] = {
        {true, 12, true, true},          {true, 1, true, true},     {true, 0, false, false},  {true, -1, false, false},
        {true, INT32_MIN, false, false}, {false, 12, false, false}, {false, 0, false, true}, {false, -1, false, false},
    };
    for (const auto& c : cases) {
        if (c.signedIn) ASSERT_TRUE(signIn());
        else ZMAccount::instance().logout();
        struct Action {
            const char* name;
            std::optional<std::string> reply;
            bool up, down;
        };
        for (const Action& a : {Action{"reply", std::string("Thanks"), false, false}, Action{"upvote", std::nullopt, true, false},
                                Action{"downvote", std::nullopt, false, true}}) {
            const bool sent = a.reply ? c.replySent : c.voteSent;
            const size_t before = maker->requests("ratings/reply.php").size();
            Answer<std::optional<std::string>> answer;
            ZMPackageRatings().replyToReviewWithUserID(c.userID, 34, a.reply, a.up, a.down, answer.callback());
            ASSERT_TRUE(answer.wait()) << a.name << " " << c.userID;
            const auto requests = maker->requests("ratings/reply.php");
            ASSERT_EQ(requests.size(), before + (sent ? 1 : 0))
                << a.name << " as " << c.userID << (c.signedIn ? " signed in" : " signed out");
            if (sent) EXPECT_EQ(requests.back().field("id"), std::to_string(c.userID)) << a.name;
            else EXPECT_EQ(answer.value(), std::nullopt) << a.name << " " << c.userID;
        }
    }
}
