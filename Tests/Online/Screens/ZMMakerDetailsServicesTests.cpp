// The details page's questions answered by the maker's clients: against the
// fake maker server, and with no service configured (answers at once as the
// default does, nothing sent); installed beneath the stores' answers.
#include <gtest/gtest.h>

#include "App/ZMApplication.h"
#include "Keychain/PDKeychainBindings.h"
#include "Online/Screens/ZMMakerDetailsServices.h"
#include "Online/Screens/ZMRepoStoreDetailsServices.h"
#include "Services/ZMMakerAPI.h"
#include "Services/ZMSearchDeveloper.h"
#include "Shell/ShellTestSupport.h"
#include "Support/FakeMakerAPI.h"

namespace {

using nlohmann::json;

class MakerDetailsServices : public ShellTest::Fixture {
protected:
    ZMMakerDetailsServices services;
    void SetUp() override {
        Fixture::SetUp();
        PDKeychainBindings::resetForTesting();
        ZMSearchDeveloper::instance().resetForTesting();
        FakeMakerAPI::setWaitFunction(GuiTest::waitUntil);
    }
    void TearDown() override {
        ZMDetailsServices::install(nullptr);
        ZMDetailsServices::setScreens({});
        Fixture::TearDown();
    }
    // Runs `call` with a completion that keeps its value; waits for it.
    template <class T>
    T answer(const std::function<void(std::function<void(T)>)>& call) {
        auto box = std::make_shared<std::optional<T>>();
        auto mutex = std::make_shared<std::mutex>();
        call([box, mutex](T value) {
            std::lock_guard lock(*mutex);
            *box = std::move(value);
        });
        EXPECT_TRUE(GuiTest::waitUntil([&] {
            std::lock_guard lock(*mutex);
            return box->has_value();
        }));
        std::lock_guard lock(*mutex);
        return box->value_or(T{});
    }
};

TEST_F(MakerDetailsServices, AnswersFromTheMakersService) {
    FakeMakerAPI maker;
    maker.addAccount({.username = "ada", .password = "pw", .userID = 12});
    maker.setAverageRating("com.a", 4.5);
    maker.setReviews("com.a", json::array({{{"id", "1"}, {"title", "t"}, {"review", "r"}, {"rate", 5}, {"username", "u"},
                                            {"reply", "thanks"}, {"upvotes", "1"}, {"downvotes", "0"}}}));
    maker.setDevelopers(json::array({{{"developer", "Jane Doe"}, {"avatar", "https://img.example/jane.png"}},
                                     {{"developer", "Jane Doerr"}, {"avatar", "javascript:x"}}}));

    EXPECT_EQ(answer<std::optional<std::string>>([&](auto done) { services.getAverageRate("com.a", done); }), "4.5");
    const auto reviews = answer<std::vector<ZMReviews>>([&](auto done) { services.getReviews("com.a", done); });
    ASSERT_EQ(reviews.size(), 1u);
    EXPECT_EQ(reviews[0].reply, std::optional<std::string>("thanks"));
    const auto found = answer<std::vector<ZMDetailsServices::DeveloperProfile>>(
        [&](auto done) { services.searchDeveloper("Jane Doe", done); });
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].fullName, "Jane Doe");
    EXPECT_EQ(found[0].avatarURL, "https://img.example/jane.png");
    EXPECT_EQ(found[1].avatarURL, "") << "only web addresses";

    services.postPackageStatistic("com.a", "Jane Doe", "https://repo.example/", "1.0", 0, 1);
    ASSERT_TRUE(maker.waitForCount("stats/stats.php", 1));
    const auto stat = maker.requests("stats/stats.php").at(0);
    EXPECT_EQ(stat.field("packageID"), "com.a");
    EXPECT_EQ(stat.field("devName"), "Jane Doe");
    EXPECT_EQ(stat.field("seenCount"), "1");
    EXPECT_EQ(stat.field("downloadCount"), "0");

    // A failed fetch is an empty list; signed out, no rating goes out.
    maker.setBehaviour("ratings/reviews.php", {.status = 500});
    EXPECT_TRUE(answer<std::vector<ZMReviews>>([&](auto done) { services.getReviews("com.a", done); }).empty());
    EXPECT_EQ(services.accountUsername(), "");
    EXPECT_FALSE(services.isSignedIn());
    EXPECT_NE(answer<std::string>([&](auto done) { services.postRatingReview("", "com.a", "", "", 3, done); }), "Success");
    EXPECT_EQ(maker.count("ratings/rate.php"), 0u);

    ASSERT_TRUE(maker.signIn("ada", "pw"));
    EXPECT_EQ(services.accountUsername(), "ada");
    EXPECT_EQ(services.accountUserID(), 12);
    EXPECT_TRUE(services.isSignedIn());
    EXPECT_EQ(answer<std::string>([&](auto done) { services.postRatingReview("ada", "com.a", "Good", "Title", 4, done); }),
              "Success");
    EXPECT_EQ(maker.requests("ratings/rate.php").at(0).field("description"), "Good");
}

TEST_F(MakerDetailsServices, WithoutAConfiguredServiceEverythingAnswersAtOnceAndNothingGoesOut) {
    ZMMakerAPI::setBaseURL(std::string());
    ASSERT_FALSE(ZMMakerAPI::baseURL().has_value());
    bool average = false, reviews = false, developers = false, rating = false;
    services.getAverageRate("com.a", [&](std::optional<std::string> a) { average = !a.has_value(); });
    services.getReviews("com.a", [&](std::vector<ZMReviews> r) { reviews = r.empty(); });
    services.searchDeveloper("Jane Doe", [&](std::vector<ZMDetailsServices::DeveloperProfile> d) { developers = d.empty(); });
    services.postRatingReview("ada", "com.a", "", "", 3, [&](const std::string& a) { rating = a != "Success"; });
    services.postPackageStatistic("com.a", "Jane", "https://repo.example/", "1", 0, 1);
    services.uploadWishlist();
    EXPECT_TRUE(average && reviews && developers && rating) << "answered on the caller's thread, before returning";
    EXPECT_FALSE(services.isSignedIn());
    ZMMakerAPI::setBaseURL(std::nullopt);
}

TEST_F(MakerDetailsServices, InstalledBeneathTheStoresAnswersWhicheverCameFirst) {
    ZMDetailsServices::install(nullptr);
    ZMMakerDetailsServices::install();
    ZMRepoStoreDetailsServices::install();
    auto stores = std::dynamic_pointer_cast<ZMRepoStoreDetailsServices>(ZMDetailsServices::shared());
    ASSERT_NE(stores, nullptr);
    EXPECT_NE(std::dynamic_pointer_cast<ZMMakerDetailsServices>(stores->others()), nullptr);

    ZMDetailsServices::install(nullptr);
    ZMRepoStoreDetailsServices::install();
    ZMMakerDetailsServices::install();
    ZMMakerDetailsServices::install();
    stores = std::dynamic_pointer_cast<ZMRepoStoreDetailsServices>(ZMDetailsServices::shared());
    ASSERT_NE(stores, nullptr);
    EXPECT_NE(std::dynamic_pointer_cast<ZMMakerDetailsServices>(stores->others()), nullptr);
}

TEST_F(MakerDetailsServices, TheLaunchInstallsThemAndThePagesScreens) {
    auto& d = ZMVostrelle::sharedVostrelle();
    ZMApplication::applicationDidFinishLaunching();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return d.backgroundLaunchWorkDone(); }, std::chrono::seconds(30)));
    auto stores = std::dynamic_pointer_cast<ZMRepoStoreDetailsServices>(ZMDetailsServices::shared());
    ASSERT_NE(stores, nullptr);
    EXPECT_NE(std::dynamic_pointer_cast<ZMMakerDetailsServices>(stores->others()), nullptr);
    const auto screens = ZMDetailsServices::screens();
    EXPECT_TRUE(screens.allReviews && screens.leaveReview && screens.maintainerPackages);
}

}  // namespace
