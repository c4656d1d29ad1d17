// The details page's stars, the support warning of a review that names a
// problem, and the wishlist toggle, through the maker's clients against the
// fake maker server, signed in and signed out.
#include <QUrlQuery>

#include "Details/DetailsFixture.h"
#include "Details/LeaveReviewViewController.h"
#include "Details/PackageDetailsHeader.h"
#include "App/ZMReviewsAndDevelopersSetup.h"
#include "ErrorViewController.h"
#include "Keychain/PDKeychainBindings.h"
#include "Online/Screens/ZMMakerDetailsServices.h"
#include "Services/ZMAccount.h"
#include "Support/FakeMakerAPI.h"
#include "UIKit/UIAlertController.h"
#include "UIKit/UIApplication.h"

namespace {

class RatingAndWishlist : public DetailsFixture::Host {
protected:
    std::unique_ptr<FakeMakerAPI> maker;
    std::vector<QUrl> opened;

    void SetUp() override {
        Host::SetUp();
        PDKeychainBindings::resetForTesting();
        FakeMakerAPI::setWaitFunction(GuiTest::waitUntil);
        maker = std::make_unique<FakeMakerAPI>();
        maker->addAccount({.username = "ada", .password = "pw", .userID = 12});
        ZMDetailsServices::install(nullptr);
        ZMMakerDetailsServices::install();
        ZMReviewsAndDevelopersSetup::install();
        UIApplication::setURLOpener([this](const QUrl& url) {
            opened.push_back(url);
            return true;
        });
    }
    void TearDown() override {
        UIApplication::setURLOpener(nullptr);
        ZMDetailsServices::setScreens({});
        ZMDetailsServices::install(nullptr);
        window.reset();
        maker.reset();
        Host::TearDown();
    }
    PackageDetailsViewController* openPackage(const std::string& identifier, std::optional<bool> installed,
                                              std::optional<int64_t> rating = {}) {
        ZMRPackage p;
        p.identifier = identifier;
        p.name = "Lens";
        p.contact = "jane@example.com";
        p.isInstalled = installed;
        p.myRating = rating;
        storePackage(p);
        return openDetails(identifier);
    }
    std::optional<int64_t> storedRating(const std::string& identifier) { return ZMRPackage::objectForPrimaryKey(identifier)->myRating; }
    static int filledStars(PackageDetailsViewController* page) {
        const auto f = page->header()->filledStars();
        return static_cast<int>(std::count(f.begin(), f.end(), true));
    }
    ErrorViewController* waitForPopup() {
        GuiTest::waitUntil([&] { return dynamic_cast<ErrorViewController*>(window->topPresentedViewController()) != nullptr; });
        return dynamic_cast<ErrorViewController*>(window->topPresentedViewController());
    }
    void closePopup() {
        if (auto* p = dynamic_cast<ErrorViewController*>(window->topPresentedViewController())) p->closeBtn()->click();
        GuiTest::pump();
    }
};

TEST_F(RatingAndWishlist, AStarIsStoredOnlyOnceTheServiceTookIt) {
    ASSERT_TRUE(maker->signIn("ada", "pw"));
    auto* page = openPackage("com.rate.lens", true);
    maker->setBehaviour("ratings/rate.php", {.hold = true});
    page->ratingButtons()[2]->click();
    EXPECT_EQ(filledStars(page), 3) << "shown at once";
    EXPECT_EQ(page->ratingLbl()->text(), "3 out of 5 rating");
    ASSERT_TRUE(maker->waitForCount("ratings/rate.php", 1));
    GuiTest::pump(std::chrono::milliseconds(100));
    EXPECT_EQ(storedRating("com.rate.lens"), std::nullopt) << "nothing stored while the service has not answered";
    EXPECT_FALSE(page->packageDictionary().value("myRating", nlohmann::json()).is_number());
    const auto sent = maker->heldRequests("ratings/rate.php").at(0);
    EXPECT_EQ(sent.field("rate"), "3");
    EXPECT_EQ(sent.field("username"), "ada");
    EXPECT_EQ(sent.field("packageID"), "com.rate.lens");
    EXPECT_FALSE(sent.hasField("title")) << "stars alone, no review";
    maker->clearBehaviour("ratings/rate.php");
    maker->releaseHeld("ratings/rate.php");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return storedRating("com.rate.lens") == 3; }));
    EXPECT_EQ(page->packageDictionary().at("myRating"), 3);
    EXPECT_EQ(filledStars(page), 3);
}

TEST_F(RatingAndWishlist, ARefusedOrUnsentRatingPutsThePreviousStarsBack) {
    struct Case {
        const char* what;
        FakeMakerAPI::Behaviour behaviour;
        bool signedIn;
        size_t requests;
    };
    const Case cases[] = {
        {"server error", {.status = 500}, true, 1},
        {"refused", {.body = std::string("Failed")}, true, 1},
        {"signed out", {}, false, 0},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.signedIn && !ZMAccount::instance().isSignedIn()) { ASSERT_TRUE(maker->signIn("ada", "pw")); }
        if (!c.signedIn) ZMAccount::instance().logout();
        maker->setBehaviour("ratings/rate.php", c.behaviour);
        maker->clearRequests();
        const std::string id = "com.rate.fail" + std::to_string(n++);
        auto* page = openPackage(id, true, 2);
        EXPECT_EQ(filledStars(page), 2);
        page->setRating(5);
        EXPECT_EQ(filledStars(page), 5);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return filledStars(page) == 2; }));
        EXPECT_EQ(page->ratingLbl()->text(), "2 out of 5 rating");
        EXPECT_EQ(storedRating(id), 2);
        EXPECT_EQ(page->packageDictionary().at("myRating"), 2);
        EXPECT_EQ(maker->count("ratings/rate.php"), c.requests);
        maker->clearBehaviour("ratings/rate.php");
        window.reset();
    }
    // Without a rating before, the stars go back to empty.
    auto* page = openPackage("com.rate.none", true);
    page->setRating(4);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return filledStars(page) == 0; }));
    EXPECT_EQ(page->ratingLbl()->text(), "0 out of 5 rating");
}

// Two taps, two replies out of order: the newer star stands, taken, and the
// older tap's late refusal paints nothing over it.
TEST_F(RatingAndWishlist, ALateRefusalOfAnOlderTapLeavesTheNewerStars) {
    ASSERT_TRUE(maker->signIn("ada", "pw"));
    auto* page = openPackage("com.rate.order", true, 2);
    maker->setBehaviour("ratings/rate.php", {.body = std::string("Failed"), .hold = true, .times = 1});
    page->ratingButtons()[2]->click();
    ASSERT_TRUE(maker->waitForCount("ratings/rate.php", 1));
    maker->setBehaviour("ratings/rate.php", {.hold = true, .times = 1});
    page->ratingButtons()[4]->click();
    ASSERT_TRUE(maker->waitForCount("ratings/rate.php", 2));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return maker->heldRequests("ratings/rate.php").size() == 2; }));
    EXPECT_EQ(filledStars(page), 5);

    ASSERT_TRUE(maker->releaseHeld("ratings/rate.php", [](const auto& r) { return r.field("rate") == "5"; }));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return storedRating("com.rate.order") == 5; }));
    TestSupport::StderrCapture log;
    ASSERT_TRUE(maker->releaseHeld("ratings/rate.php", [](const auto& r) { return r.field("rate") == "3"; }));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return log.soFar().find("the rating was not taken: Failed") != std::string::npos; }));
    EXPECT_EQ(filledStars(page), 5);
    EXPECT_EQ(page->ratingLbl()->text(), "5 out of 5 rating");
    EXPECT_EQ(page->packageDictionary().at("myRating"), 5);
    EXPECT_EQ(storedRating("com.rate.order"), 5);
}

TEST_F(RatingAndWishlist, APackageNotInstalledGetsTheInstallWarningOnly) {
    ASSERT_TRUE(maker->signIn("ada", "pw"));
    // Stored as "no", or with no value at all (a record of an older database).
    for (auto [identifier, installed] : {std::pair{"com.rate.absent", std::optional<bool>(false)},
                                         std::pair{"com.rate.unknown", std::optional<bool>()}}) {
        SCOPED_TRACE(identifier);
        auto* page = openPackage(identifier, installed);
        for (auto act : {std::function<void()>([&] { page->ratingButtons()[3]->click(); }),
                         std::function<void()>([&] { page->leaveReview(); })}) {
            act();
            auto* popup = waitForPopup();
            ASSERT_NE(popup, nullptr);
            EXPECT_EQ(popup->titleLbl()->text(), "Leave a Review");
            EXPECT_EQ(popup->messageLbl()->text(), "You need to install Lens before being able to leave a review");
            closePopup();
        }
        EXPECT_EQ(filledStars(page), 0);
        GuiTest::pump(std::chrono::milliseconds(100));
        EXPECT_EQ(maker->count("ratings/rate.php"), 0u);
        EXPECT_EQ(storedRating(identifier), std::nullopt);
    }
}

TEST_F(RatingAndWishlist, TheSupportWarningMailsTheDeveloperOrPostsAndSaysHowItWent) {
    ASSERT_TRUE(maker->signIn("ada", "pw"));
    auto* page = openPackage("com.support.lens", true);
    auto warn = [&](int rate) -> UIAlertController* {
        page->showReviewWarningWithTitle("It crashes", "Crashes at launch", rate);
        auto* alert = dynamic_cast<UIAlertController*>(window->topPresentedViewController());
        EXPECT_NE(alert, nullptr);
        if (alert) {
            EXPECT_EQ(alert->alertTitle(), "Package Support");
            EXPECT_EQ(alert->actions().size(), 2u);
        }
        return alert;
    };
    auto* alert = warn(4);
    ASSERT_NE(alert, nullptr);
    alert->performAction(0);  // Send email
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].scheme(), "mailto");
    GuiTest::pump(std::chrono::milliseconds(100));
    EXPECT_EQ(maker->count("ratings/rate.php"), 0u) << "mailing sends nothing to the ratings";
    EXPECT_EQ(storedRating("com.support.lens"), std::nullopt);

    struct Case {
        FakeMakerAPI::Behaviour behaviour;
        const char* message;
        bool stored;
    };
    const Case cases[] = {
        {{}, "Review has been successfully posted", true},
        {{}, "Review has been successfully updated", true},
        {{.body = std::string("Failed")}, "There was an error while posting the review", false},
        {{.body = std::string("Come back <b>later</b>")}, "Come back <b>later</b>", false},
    };
    int rate = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        maker->setBehaviour("ratings/rate.php", c.behaviour);
        const std::optional<int64_t> earlier = storedRating("com.support.lens");
        alert = warn(++rate);
        ASSERT_NE(alert, nullptr);
        const size_t before = maker->count("ratings/rate.php");
        alert->performAction(1);  // Leave review
        auto* popup = waitForPopup();
        ASSERT_NE(popup, nullptr);
        EXPECT_EQ(popup->titleLbl()->text(), "Lens Review");
        EXPECT_EQ(popup->messageLbl()->text(), c.message);
        EXPECT_EQ(popup->messageLbl()->textFormat(), Qt::PlainText);
        const auto sent = maker->requests("ratings/rate.php").at(before);
        EXPECT_EQ(sent.field("title"), "It crashes");
        EXPECT_EQ(sent.field("description"), "Crashes at launch");
        EXPECT_EQ(sent.field("rate"), std::to_string(rate));
        GuiTest::pump(std::chrono::milliseconds(100));
        EXPECT_EQ(storedRating("com.support.lens"), c.stored ? std::optional<int64_t>(rate) : earlier);
        closePopup();
        maker->clearBehaviour("ratings/rate.php");
    }
}

TEST_F(RatingAndWishlist, AReviewFromTheSheetRepaintsTheStarsFromTheRatingJustGiven) {
    ASSERT_TRUE(maker->signIn("ada", "pw"));
    auto* page = openPackage("com.sheet.lens", true, 1);
    page->leaveReview();
    auto* sheet = dynamic_cast<LeaveReviewViewController*>(window->topPresentedViewController());
    ASSERT_NE(sheet, nullptr);
    sheet->setRating(4);
    sheet->reviewTitleTextField()->setText("Nice");
    sheet->reviewTextView()->setPlainText("Works well.");
    sheet->review();
    auto* popup = waitForPopup();
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->messageLbl()->text(), "Review has been successfully posted");
    EXPECT_EQ(filledStars(page), 4);
    EXPECT_EQ(page->ratingLbl()->text(), "4 out of 5 rating");
    EXPECT_EQ(page->packageDictionary().at("myRating"), 4);
}

TEST_F(RatingAndWishlist, TheWishlistUploadsTheCommittedListOnlyWhenSignedIn) {
    ASSERT_TRUE(maker->signIn("ada", "pw"));
    maker->clearRequests();
    auto* page = openPackage("com.wish.lens", false);
    EXPECT_EQ(page->wishlistBtn()->title(), "Add to Wishlist");
    page->changeWishlistState();
    EXPECT_TRUE(ZMRPackage::objectForPrimaryKey("com.wish.lens")->isInWishlist.value_or(false));
    EXPECT_TRUE(page->packageDictionary().at("isInWishlist").get<bool>());
    EXPECT_EQ(page->wishlistBtn()->title(), "Remove from Wishlist");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return maker->wishlist(12) == std::optional<std::string>("com.wish.lens"); }));
    page->wishlistBtn()->trigger();
    EXPECT_FALSE(ZMRPackage::objectForPrimaryKey("com.wish.lens")->isInWishlist.value_or(true));
    EXPECT_EQ(page->wishlistBtn()->title(), "Add to Wishlist");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return maker->wishlist(12) == std::optional<std::string>(""); }));
    const size_t uploads = maker->count("wishlist/wishlist.php");
    EXPECT_GE(uploads, 2u);

    // Signed out: the mark stays here.
    ZMAccount::instance().logout();
    page->changeWishlistState();
    EXPECT_TRUE(ZMRPackage::objectForPrimaryKey("com.wish.lens")->isInWishlist.value_or(false));
    GuiTest::pump(std::chrono::milliseconds(300));
    EXPECT_EQ(maker->count("wishlist/wishlist.php"), uploads);
}

}  // namespace
