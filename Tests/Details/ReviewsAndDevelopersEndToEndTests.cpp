// The road of the review and developer screens as a user walks it, in the
// launched application: signed in as a package's maintainer, the user opens
// the package's details from a package list, its reviews ("See All") and one
// review, upvotes it, replies, rates the installed package with four stars
// (the details page's "Leave a Review"), follows the developer from a
// developer link, looks at all of the developer's packages and unfollows
// them in the followed developers. Screenshots of the four screens.
#include <filesystem>

#include "App/ZMApplication.h"
#include "Browsing/AllDevPackagesViewController.h"
#include "Browsing/PackagesTableViewController.h"
#include "Database/ZMCategorySpecial.h"
#include "Details/AllReviewsViewController.h"
#include "Details/DeveloperDetailsViewController.h"
#include "Details/FullReviewViewController.h"
#include "Details/LeaveReviewViewController.h"
#include "Details/PackageDetailsHeader.h"
#include "Details/PackageDetailsViewController.h"
#include "Details/PackageReviewsSection.h"
#include "Details/DetailsFixture.h"
#include "Details/ReviewsFixture.h"
#include "UIKit/UIScrollView.h"
#include "Online/Screens/FollowedDevelopersViewController.h"
#include "PackageCell.h"
#include "Support/FlatRepository.h"
#include "UIKit/UITabBarController.h"

namespace {

using nlohmann::json;

class ReviewsAndDevelopersRoad : public ReviewsFixture::Screens {
protected:
    TestSupport::TempDir repoRoot;
    std::unique_ptr<FlatRepository::FileServer> server;
    std::atomic<bool> online{false};

    void SetUp() override {
        Screens::SetUp();
        ZMURLRouter::setHooks({});  // the application's own
        const std::string dir = repoRoot.path() + "/repo";
        std::filesystem::create_directories(dir);
        std::string packages;
        for (const char* name : {"Tool", "Spring", "Dock", "Lens"})
            packages += "Package: com.jane." + QString(name).toLower().toStdString() + "\nName: Jane's " + name +
                        "\nVersion: 1.0\nSection: Tweaks\nMaintainer: Jane Doe\nArchitecture: all\n"
                        "Description: A tweak by Jane.\n\n";
        FlatRepository::writeIndexesForText(dir, packages, "Jane's Repo");
        server = std::make_unique<FlatRepository::FileServer>(repoRoot.path());
        TestSupport::writeFile(env.targetRoot() + "/var/lib/dpkg/status",
                               "Package: com.jane.tool\nStatus: install ok installed\nVersion: 1.0\nArchitecture: all\n\n");
        prefs().setValue(VostrellePreferenceKey::SetupDone, true);
        ZMRSources::setReachabilityHook([this] { return online.load(); });
        QImage avatar(96, 96, QImage::Format_RGB32);
        avatar.fill(QColor(90, 120, 220));
        avatar.save(QString::fromStdString(repoRoot.file("jane.png")));
        maker->setDevelopers(json::array({{{"developer", "Jane Doe"},
                                           {"about", "Makes small tweaks for the dock and the lock screen."},
                                           {"location", "Lyon"},
                                           {"twitter", "@janedoe"},
                                           {"homepage", "https://jane.example/"},
                                           {"email", "jane@example.com"},
                                           {"repository", server->url("repo/")},
                                           {"avatar", server->url("jane.png")}}}));
        auto older = ReviewsFixture::review(7, "works well", "Does what it says.", 4, nullptr, "dave");
        auto newer = ReviewsFixture::review(8, "love it", "Best tweak of the year, no doubt.", 5, nullptr, "erin");
        newer["upvotes"] = "11";
        maker->setReviews("com.jane.tool", json::array({older, newer}));
    }
    static void screenshot(ZMVostrelle& d, const char* name) {
        GuiTest::pump(std::chrono::milliseconds(200));
        QDir().mkpath(VOSTRELLE_SCREENSHOT_DIR);
        EXPECT_TRUE(d.window()->grab().toImage().save(QString(VOSTRELLE_SCREENSHOT_DIR "/") + name));
    }
    static UIViewController* topOf(UINavigationController* nav) { return nav->topViewController(); }
    static ErrorViewController* waitForPopupIn(ZMVostrelle& d) {
        GuiTest::waitUntil([&] { return dynamic_cast<ErrorViewController*>(d.window()->topPresentedViewController()); },
                           std::chrono::seconds(10));
        return dynamic_cast<ErrorViewController*>(d.window()->topPresentedViewController());
    }
    static void dismissPopupIn(ZMVostrelle& d) {
        if (auto* popup = waitForPopupIn(d)) popup->closeBtn()->click();
        GuiTest::pump();
    }
};

TEST_F(ReviewsAndDevelopersRoad, MaintainerReadsVotesRepliesRatesAndFollows) {
    auto& d = ZMVostrelle::sharedVostrelle();
    EXPECT_TRUE(ZMApplication::start({})) << "the launch main() runs";
    ASSERT_TRUE(GuiTest::waitUntil([&] { return d.backgroundLaunchWorkDone(); }, std::chrono::seconds(30)));
    d.window()->resize(430, 900);
    online = true;
    ASSERT_EQ(ZMRPackageManager::sharedPackageManager().sources().addSourceWithLocation(server->url("repo/"), true).status,
              ZMRAddSourceStatus::Added);
    ASSERT_TRUE(GuiTest::waitUntil([] { return ZMRPackage::objectForPrimaryKey("com.jane.lens").has_value(); },
                                   std::chrono::seconds(30)));
    ASSERT_TRUE(GuiTest::waitUntil([] { return ZMRPackage::objectForPrimaryKey("com.jane.tool")->isInstalled.value_or(false); }));
    signIn("Jane Doe");

    // The package from a list, then its reviews (the details page's "See All"), newest first.
    auto* details = DetailsFixture::openFromAllPackages(d, "com.jane.tool");
    ASSERT_NE(details, nullptr);
    auto* nav = details->navigationController();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return details->packageReviews().size() == 2; }));
    ASSERT_TRUE(details->reviewsSection()->seeAllReviewsBtn()->isVisible());
    details->scrollView()->ensureWidgetVisible(details->reviewsSection()->seeAllReviewsBtn());
    UserGesture::click(details->reviewsSection()->seeAllReviewsBtn());
    auto* list = dynamic_cast<AllReviewsViewController*>(topOf(nav));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->maintainer(), "Jane Doe");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return list->packageReviews().size() == 2; }));
    EXPECT_EQ(list->packageReviews()[0].reviewID, "8");
    screenshot(d, "review-list.png");

    // One review: an upvote shows the server's count; the maintainer replies.
    list->didSelectRow(list->reviewsTableView(), {0, 0});
    auto* full = dynamic_cast<FullReviewViewController*>(topOf(nav));
    ASSERT_NE(full, nullptr);
    GuiTest::pump();
    auto* menu = full->replyToReview();
    ASSERT_EQ(menu->actions().size(), 4u) << "the maintainer may reply";
    menu->performAction(1);  // Upvote
    ASSERT_TRUE(GuiTest::waitUntil([&] { return full->voteLbl()->toPlainText() == "+12 -1"; }));
    ASSERT_NE(waitForPopupIn(d), nullptr);
    dismissPopupIn(d);
    full->replyToReview()->performAction(0);  // Reply with text
    ASSERT_NE(full->lastReplySheet(), nullptr);
    full->lastReplySheet()->replyTextView()->setPlainText("fixed & thanks");
    full->lastReplySheet()->replyBtn()->click();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return full->commentLbl()->toPlainText().endsWith("fixed & thanks"); }));
    EXPECT_EQ(maker->requests("ratings/reply.php").back().field("reply"), "fixed & thanks");
    auto* popup = waitForPopupIn(d);
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->messageLbl()->text(), "Reply sent");
    dismissPopupIn(d);
    screenshot(d, "full-review.png");

    // Four stars for the installed package (the details page's "Leave a Review").
    nav->popViewController(false);
    nav->popViewController(false);
    ASSERT_EQ(topOf(nav), details);
    ASSERT_TRUE(details->reviewsSection()->leaveReviewBtn()->isVisible());
    details->scrollView()->ensureWidgetVisible(details->reviewsSection()->leaveReviewBtn());
    UserGesture::click(details->reviewsSection()->leaveReviewBtn());
    auto* rate = dynamic_cast<LeaveReviewViewController*>(d.window()->topPresentedViewController());
    ASSERT_NE(rate, nullptr);
    rate->ratingButtons()[3]->click();
    rate->reviewTitleTextField()->setText("Solid");
    rate->reviewTextView()->setPlainText("Does what it says, and debugging it was easy.");
    rate->review();
    popup = waitForPopupIn(d);
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->messageLbl()->text(), "Review has been successfully posted");
    EXPECT_EQ(ZMRPackage::objectForPrimaryKey("com.jane.tool")->myRating, std::optional<int64_t>(4));
    EXPECT_EQ(details->ratingLbl()->text(), "4 out of 5 rating") << "the page shows the rating just given";
    EXPECT_EQ(maker->requests("ratings/rate.php").back().field("rate"), "4");
    dismissPopupIn(d);

    // A developer link: the profile, followed, and all of the developer's packages.
    d.openURLs({"vostrelle://developer/Jane%20Doe"});
    ASSERT_TRUE(GuiTest::waitUntil([&] { return dynamic_cast<UINavigationController*>(d.window()->topPresentedViewController()) &&
                                                d.window()->topPresentedViewController() != d.window()->rootViewController(); }));
    auto* modal = dynamic_cast<UINavigationController*>(d.window()->topPresentedViewController());
    auto* page = dynamic_cast<DeveloperDetailsViewController*>(modal->topViewController());
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->avatarLoaded(); }));
    EXPECT_EQ(page->devPackages().size(), 4u);
    page->followedBtn()->trigger();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return maker->followed(12) == std::optional<std::string>("jane doe"); }));
    GuiTest::waitUntil([&] { return d.window()->topPresentedViewController() == modal; });
    screenshot(d, "developer-page.png");
    DeveloperDetailsViewController reopened;
    reopened.setDeveloperProfile(page->developerProfile());
    reopened.loadViewIfNeeded();
    EXPECT_EQ(reopened.followedBtn()->title(), "Unfollow") << "reopened once the write has landed";
    page->seeAllPkgByThisDevBtn()->click();
    auto* all = dynamic_cast<AllDevPackagesViewController*>(modal->topViewController());
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(all->packages().size(), 4u);
    modal->popViewController(false);
    page->navigationItem()->leftBarButtonItem()->trigger();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return d.window()->topPresentedViewController() == d.window()->rootViewController(); }));

    // Followed developers (the account screen's row): unfollowing the last one leaves.
    auto* followed = new FollowedDevelopersViewController;
    nav->pushViewController(followed, false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return followed->followedDevelopersArray().size() == 1 &&
                                                followed->developersAvatarDictionary().size() == 1; }));
    screenshot(d, "followed-developers.png");
    auto* row = qobject_cast<SearchCell*>(followed->followedDevelopersTableView()->cellForRow({0, 0}));
    ASSERT_NE(row, nullptr);
    row->followBtn()->click();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return nav->viewControllers().size() == 1; }));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return maker->followed(12) == std::optional<std::string>(""); }));
}

}  // namespace
