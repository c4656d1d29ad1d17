// The details page laid out for its package, source and window, what each of
// its controls opens, and what it does with hostile index texts. The online
// parts go through the maker's clients against the fake maker server.
#include <QUrlQuery>

#include "Browsing/AllDevPackagesViewController.h"
#include "Details/AllReviewsViewController.h"
#include "Details/ContactDeveloperViewController.h"
#include "Details/DetailsFixture.h"
#include "Details/DetailsSectionWidgets.h"
#include "Details/DeveloperCell.h"
#include "Details/InstalledFilesViewController.h"
#include "Details/LeaveReviewViewController.h"
#include "Details/PackageAdvertisementView.h"
#include "Details/PackageDetailsHeader.h"
#include "Details/PackageDeveloperCard.h"
#include "Details/PackageInformationSection.h"
#include "Details/PackageOtherPackagesSection.h"
#include "Details/PackageReviewsSection.h"
#include "Details/ReviewsCell.h"
#include "App/ZMReviewsAndDevelopersSetup.h"
#include "ErrorViewController.h"
#include "Keychain/PDKeychainBindings.h"
#include "Online/Screens/ZMMakerDetailsServices.h"
#include "Support/FakeMakerAPI.h"
#include "UIKit/UIApplication.h"
#include "ZMSvgPixmap.h"
#include "UIKit/UITextView.h"
#include "WebViewViewController.h"

namespace {

using DetailsFixture::png;
using nlohmann::json;

class DetailsPageLayout : public DetailsFixture::Host {
protected:
    std::unique_ptr<FakeMakerAPI> maker;
    std::vector<QUrl> opened;  // what went to the desktop

    void SetUp() override {
        Host::SetUp();
        PDKeychainBindings::resetForTesting();
        FakeMakerAPI::setWaitFunction(GuiTest::waitUntil);
        maker = std::make_unique<FakeMakerAPI>();
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
    ZMRPackage package(const std::string& identifier, const std::string& location = "https://repo.example/") {
        ZMRPackage p;
        p.identifier = identifier;
        p.name = "Tool " + identifier;
        p.version = "1.0";
        p.maintainer = "Jane";
        p.contact = "jane@example.com";
        p.sourceLocation = location;
        p.Description = "A tool.";
        return p;
    }
    PackageDetailsViewController* open(const ZMRPackage& p, QSize size = {420, 900}) {
        storePackage(p);
        auto* page = new PackageDetailsViewController;
        page->setPackageIdentifier(p.identifier);
        show(page, size);
        return page;
    }
    template <class T>
    T* pushed() const {
        return dynamic_cast<T*>(nav->topViewController());
    }
    ErrorViewController* popup() const { return dynamic_cast<ErrorViewController*>(window->topPresentedViewController()); }
    void closePopup() {
        if (auto* p = popup()) p->closeBtn()->click();
        GuiTest::pump();
    }
};

TEST_F(DetailsPageLayout, HeaderGeometryFollowsTheWindowAndTheSource) {
    storeSource("https://info.example/", true);
    storeSource("https://repo.example/", false);
    struct Case {
        int height;
        bool infoJson;
        int icon, stars;
        bool compact, beside;
    };
    const Case cases[] = {
        {568, true, 100, 20, true, false}, {480, false, 80, 20, true, false}, {900, true, 120, 25, false, true},
        {900, false, 80, 25, false, false}, {569, true, 120, 25, false, true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.height);
        auto* page = open(package("com.geo." + std::to_string(n++), c.infoJson ? "https://info.example/" : "https://repo.example/"),
                          QSize(420, c.height));
        ASSERT_TRUE(GuiTest::waitUntil([&] { return page->header()->isCompact() == c.compact; }));
        EXPECT_EQ(page->header()->iconSide(), c.icon);
        EXPECT_EQ(page->iconView()->width(), c.icon);
        EXPECT_EQ(page->header()->iconCornerRadius(), c.icon / 4.0);
        EXPECT_EQ(page->header()->starSize(), c.stars);
        EXPECT_EQ(page->ratingButtons()[0]->width(), c.stars);
        EXPECT_EQ(page->header()->buttonsBesideIcon(), c.beside);
        window.reset();
    }
}

TEST_F(DetailsPageLayout, SectionsFollowThePackageAndItsSource) {
    storeSource("https://info.example/", true);
    storeSource("https://repo.example/", false);
    serve("d/banner.png", png(600, 200, Qt::darkCyan));
    serve("d/depiction.json", R"({"headerImage": ")" + url("d/banner.png") + R"(", "tabs": []})");
    struct Case {
        const char* name;
        std::string location;
        bool installed, native;
        bool dateAndDonate, installedFiles, banner;
        int developerGap;
    };
    const Case cases[] = {
        {"info", "https://info.example/", true, false, true, true, false, 10},
        {"plain", "https://repo.example/", false, true, false, false, true, 30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto p = package(std::string("com.section.") + c.name, c.location);
        p.isInstalled = c.installed;
        if (c.native) p.sileoDepiction = url("d/depiction.json");
        auto* page = open(p);
        if (c.native) { ASSERT_TRUE(GuiTest::waitUntil([&] { return page->hasBannerImage(); })); }
        auto* info = page->informationSection();
        EXPECT_EQ(info->dateRow()->isVisible(), c.dateAndDonate);
        EXPECT_EQ(info->donateRow()->isVisible(), c.dateAndDonate);
        EXPECT_EQ(info->developerWebsiteSeparator()->isVisible(), c.dateAndDonate);
        EXPECT_TRUE(info->developerWebsiteRow()->isVisible());
        EXPECT_FALSE(info->betaRow()->isVisible());
        EXPECT_FALSE(info->donateSeparator()->isVisible());
        EXPECT_EQ(info->installedFilesBtn()->isVisible(), c.installedFiles);
        EXPECT_EQ(DetailsSectionWidgets::topGap(info->developerRow()), c.developerGap);
        EXPECT_EQ(page->bannerImageView()->isVisible(), c.banner);
        // No reviews: the label, and the two buttons 30 below it.
        ASSERT_TRUE(GuiTest::waitUntil([&] { return page->answeredReviewFetches() >= 1; }));
        EXPECT_TRUE(page->reviewsSection()->reviewsLbl()->isVisible());
        EXPECT_FALSE(page->reviewsSection()->reviewsCollectionView()->isVisible());
        EXPECT_EQ(page->reviewsSection()->buttonsTopGap(), 30);
        EXPECT_FALSE(page->adsWebView()->isVisible()) << "no snippet configured";
        EXPECT_EQ(DetailsSectionWidgets::topGap(page->developerCard()), 30);
        window.reset();
    }
    // Neither an information-file nor a classic source, and no native depiction: why there are no screenshots.
    auto* page = open(package("com.section.none", "https://elsewhere.example/"));
    EXPECT_EQ(page->screenshotsLbl()->text(), "Unable to retrieve screenshots for Tool com.section.none as its source is "
                                              "incompatible with the native depiction feature of Vostrelle");
    EXPECT_FALSE(page->screenshotsCollectionView()->isVisible());
}

TEST_F(DetailsPageLayout, TheMaintainersOtherPackagesShowAtMostTwoRows) {
    struct Case {
        int others;
        int rows, height;
    };
    const Case cases[] = {{0, 0, 0}, {1, 1, 70}, {3, 2, 140}};
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.others);
        const std::string maintainer = "Dev " + std::to_string(n++);
        for (int i = 0; i < c.others; ++i) {
            auto other = package("com.other." + maintainer.substr(4) + "." + std::to_string(i));
            other.maintainer = maintainer;
            storePackage(other);
        }
        auto p = package("com.main." + maintainer.substr(4));
        p.maintainer = maintainer;
        auto* page = open(p);
        auto* section = page->otherPackagesSection();
        // Read off the main thread: the section is laid out once they arrive.
        ASSERT_TRUE(GuiTest::waitUntil([&] { return page->devPackagesReadings() > 0; }));
        EXPECT_EQ(page->devPackages().size(), static_cast<size_t>(c.others));
        EXPECT_EQ(section->otherDevPackagesTableView()->numberOfRows(0), c.rows);
        EXPECT_EQ(section->otherDevPackagesLbl()->isVisible(), c.others == 0);
        EXPECT_EQ(section->otherDevPackagesTableView()->isVisible(), c.others > 0);
        EXPECT_EQ(section->seeAllDevPackagesBtn()->isVisible(), c.others > 0);
        if (c.others > 0) { EXPECT_EQ(section->otherDevPackagesTableView()->height(), c.height); }
        EXPECT_EQ(section->moreDevPackagesTitle()->text(), QString::fromStdString("More by " + maintainer));
        window.reset();
    }
}

TEST_F(DetailsPageLayout, ScreenshotCellsAreCappedAndASingleOneTakesThePageWidth) {
    storeSource(url("info/"), true);
    serve("s/tall.png", png(300, 574, Qt::red));
    serve("s/small.png", png(200, 300, Qt::blue));
    auto p = package("com.shots.two", url("info/"));
    p.screenshots = {url("s/tall.png"), url("s/small.png")};
    auto* page = open(p);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->screenshotsDictionary().size() == 2; }));
    std::vector<QSize> sizes;
    for (int i = 0; i < 2; ++i) sizes.push_back(page->sizeForItem(page->screenshotsCollectionView(), i));
    std::sort(sizes.begin(), sizes.end(), [](QSize a, QSize b) { return a.height() > b.height(); });
    EXPECT_EQ(sizes[0], QSize(300 * 422 / 574, 422));
    EXPECT_EQ(sizes[1], QSize(200, 300));
    window.reset();

    auto single = package("com.shots.one", url("info/"));
    single.screenshots = {url("s/tall.png")};
    page = open(single);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->screenshotsDictionary().size() == 1; }));
    EXPECT_EQ(page->sizeForItem(page->screenshotsCollectionView(), 0), QSize(page->width() - 32, 422));
}

TEST_F(DetailsPageLayout, TheReviewsStripShowsTheFirstReviewWithItsStarsAndReplyNote) {
    maker->setReviews("com.reviewed",
                      json::array({{{"id", "1"}, {"title", "gREAT <b>tool</b>"}, {"review", "Works <img src=x>."}, {"rate", 3},
                                    {"username", "<i>carol</i>"}, {"reply", "Thanks!"}, {"upvotes", "7"}, {"downvotes", "2"}},
                                   {{"id", "2"}, {"title", "second"}, {"review", "x"}, {"rate", 1}, {"username", "dan"},
                                    {"reply", nullptr}, {"upvotes", "0"}, {"downvotes", "0"}}}));
    maker->setAverageRating("com.reviewed", 3.5);
    auto* page = open(package("com.reviewed"));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->packageReviews().size() == 2 && page->packageRatingLbl()->text() == "3.5"; }));
    auto* strip = page->reviewsSection()->reviewsCollectionView();
    EXPECT_TRUE(strip->isVisible());
    EXPECT_FALSE(page->reviewsSection()->reviewsLbl()->isVisible());
    EXPECT_EQ(page->reviewsSection()->buttonsTopGap(), 20);
    ASSERT_EQ(strip->numberOfItems(), 1);
    auto* cell = qobject_cast<ReviewsCell*>(strip->cellForItem(0));
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->size(), QSize(strip->viewport()->width(), 155));
    EXPECT_EQ(cell->titleLbl()->text(), "Great <b>tool</b>");
    EXPECT_EQ(cell->titleLbl()->textFormat(), Qt::PlainText);
    EXPECT_EQ(cell->nameLbl()->text(), "<i>carol</i>");
    EXPECT_EQ(cell->voteLbl()->toPlainText(), "+7 -2");
    EXPECT_EQ(cell->commentLbl()->toPlainText(), "Developer \"Jane\" replied\n\nWorks <img src=x>.");
    int filled = 0;
    for (QLabel* star : cell->stars()) filled += star->property("starFilled").toBool() ? 1 : 0;
    EXPECT_EQ(filled, 3);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(cell->stars()[i]->property("starFilled").toBool(), i < 3);
}

TEST_F(DetailsPageLayout, AnOlderReviewsAnswerArrivingAfterANewerEmptyOneIsDropped) {
    maker->setReviews("com.late", json::array({{{"id", "1"}, {"title", "old"}, {"review", "x"}, {"rate", 5}, {"username", "a"},
                                                 {"reply", nullptr}, {"upvotes", "0"}, {"downvotes", "0"}}}));
    maker->setBehaviour("ratings/reviews.php", {.hold = true});
    auto* page = open(package("com.late"));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return maker->heldRequests("ratings/reviews.php").size() >= 2; }));
    const size_t held = maker->heldRequests("ratings/reviews.php").size();
    // The newest fetch answers first, with no reviews...
    maker->setReviews("com.late", json::array());
    maker->clearBehaviour("ratings/reviews.php");
    page->setContent();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->answeredReviewFetches() >= 1; }));
    EXPECT_TRUE(page->packageReviews().empty());
    // ...then the older ones, with the old list: dropped.
    maker->setReviews("com.late", json::array({{{"id", "1"}, {"title", "old"}, {"review", "x"}, {"rate", 5}, {"username", "a"},
                                                 {"reply", nullptr}, {"upvotes", "0"}, {"downvotes", "0"}}}));
    for (size_t i = 0; i < held; ++i) maker->releaseHeld("ratings/reviews.php");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->answeredReviewFetches() >= static_cast<int>(held) + 1; }));
    GuiTest::pump(std::chrono::milliseconds(100));
    EXPECT_TRUE(page->packageReviews().empty());
    EXPECT_EQ(page->reviewsSection()->reviewsCollectionView()->numberOfItems(), 0);
    EXPECT_TRUE(page->reviewsSection()->reviewsLbl()->isVisible());
}

TEST_F(DetailsPageLayout, EachControlOpensItsScreen) {
    storeSource("https://repo.example/", false);
    auto other = package("com.jane.other");
    storePackage(other);
    maker->setReviews("com.jane.tool", json::array({{{"id", "1"}, {"title", "t"}, {"review", "r"}, {"rate", 4}, {"username", "u"},
                                                     {"reply", nullptr}, {"upvotes", "0"}, {"downvotes", "0"}}}));
    auto p = package("com.jane.tool");
    p.isInstalled = true;
    p.website = "https://jane.example/";
    p.installedFiles = {"/.", "/usr"};
    auto* page = open(p);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->packageReviews().size() == 1; }));
    auto back = [&] {
        nav->popToRootViewController(false);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return page->isOnScreen(); }));
    };

    page->developerCard()->didSelectItem(page->developerCard()->authorCollectionView(), 0);
    auto* contact = pushed<ContactDeveloperViewController>();
    ASSERT_NE(contact, nullptr);
    EXPECT_EQ(contact->developerName(), "Jane");
    EXPECT_EQ(contact->email(), "jane@example.com");
    back();

    for (auto open : {std::function<void()>([&] { page->reviewsSection()->didSelectItem(nullptr, 0); }),
                      std::function<void()>([&] { page->reviewsSection()->seeAllReviewsBtn()->click(); })}) {
        open();
        auto* all = pushed<AllReviewsViewController>();
        ASSERT_NE(all, nullptr);
        EXPECT_EQ(all->packageIdentifier(), "com.jane.tool");
        EXPECT_EQ(all->maintainer(), "Jane");
        back();
    }

    page->informationSection()->installedFilesBtn()->click();
    auto* files = pushed<InstalledFilesViewController>();
    ASSERT_NE(files, nullptr);
    EXPECT_EQ(files->packageIdentifier(), "com.jane.tool");
    back();

    page->otherPackagesSection()->seeAllDevPackagesBtn()->click();
    auto* all = pushed<AllDevPackagesViewController>();
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(all->title(), "Jane's Packages");
    EXPECT_EQ(all->maintainer(), "Jane");
    back();

    page->otherPackagesSection()->didSelectRow(page->otherPackagesSection()->otherDevPackagesTableView(), {0, 0});
    auto* details = pushed<PackageDetailsViewController>();
    ASSERT_NE(details, nullptr);
    EXPECT_EQ(details->packageIdentifier(), "com.jane.other");
    back();

    page->informationSection()->developerWebsiteBtn()->click();
    auto* web = pushed<WebViewViewController>();
    ASSERT_NE(web, nullptr);
    EXPECT_EQ(web->title(), "Jane's website");
    EXPECT_EQ(web->websiteURL(), QUrl("https://jane.example/"));
    back();

    page->openTextLink(QUrl("https://docs.example/x"));
    web = pushed<WebViewViewController>();
    ASSERT_NE(web, nullptr);
    EXPECT_EQ(web->title(), "Tool com.jane.tool's Link");
    back();

    page->reviewsSection()->leaveReviewBtn()->click();
    auto* sheet = dynamic_cast<LeaveReviewViewController*>(window->topPresentedViewController());
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->packageIdentifier(), "com.jane.tool");
    EXPECT_EQ(sheet->modalPresentationStyle(), UIViewController::ModalPresentationStyle::OverFullScreen);
    sheet->cancel();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return window->topPresentedViewController() == nav; }));

    // Contact: a mail link, the address and subject encoded.
    page->reviewsSection()->contactDeveloperBtn()->click();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].scheme(), "mailto");
    EXPECT_EQ(QUrlQuery(opened[0]).queryItemValue("subject", QUrl::FullyDecoded), "Vostrelle 5: Question regarding Tool com.jane.tool");
}

// The developer search finds profiles whose name only contains the
// maintainer's: the card shows the avatar of the profile named exactly as the
// maintainer, and none of another's; with no such profile, the default one.
TEST_F(DetailsPageLayout, TheDeveloperCardShowsOnlyTheMaintainersOwnAvatar) {
    const QColor own("#ff9500"), others("#e0201b");
    serve("avatars/jane.png", png(96, 96, own));
    serve("avatars/other.png", png(96, 96, others));
    const json jane = {{"developer", "Jane"}, {"avatar", url("avatars/jane.png")}};
    const json janeDoe = {{"developer", "Jane Doe"}, {"avatar", url("avatars/other.png")}};
    const json lowerCase = {{"developer", "jane"}, {"avatar", url("avatars/other.png")}};
    const QImage defaultAvatar = ZMSvgPixmap::pixmap(":/Images/Developers/iTunesArtwork.svg", 120).toImage();
    const std::pair<json, bool> cases[] = {
        {json::array({janeDoe}), false},
        {json::array({lowerCase}), false},
        {json::array({janeDoe, jane}), true},
        {json::array({jane, janeDoe, lowerCase}), true},
    };
    int n = 0;
    for (const auto& [profiles, ownShown] : cases) {
        SCOPED_TRACE(profiles.dump());
        maker->setDevelopers(profiles);
        const size_t searches = maker->count("developers/devs.php");
        auto* page = open(package("com.jane.card" + std::to_string(n++)));
        ASSERT_TRUE(GuiTest::waitUntil([&] {
            return maker->count("developers/devs.php") > searches && !page->authorAvatar().isNull() &&
                   (ownShown ? page->authorAvatar().pixelColor(10, 10) == own : page->authorAvatar() == defaultAvatar);
        }));
        // Whatever else would arrive has had time to.
        GuiTest::pump(std::chrono::milliseconds(300));
        EXPECT_EQ(server->count("avatars/other.png"), 0u) << "another developer's avatar was fetched";
        if (ownShown) { EXPECT_EQ(page->authorAvatar().pixelColor(10, 10), own); }
        else { EXPECT_TRUE(page->authorAvatar() == defaultAvatar); }
        // What the card and the contact card it opens show.
        auto expectShown = [&](const QLabel* view, const char* where) {
            const QPixmap shown = view->pixmap();
            ASSERT_FALSE(shown.isNull()) << where;
            const QColor middle = shown.toImage().pixelColor(shown.width() / 2, shown.height() / 2);
            EXPECT_NE(middle, others) << where;
            if (ownShown) { EXPECT_EQ(middle, own) << where; }
        };
        expectShown(page->developerCard()->cell()->developerIconView(), "developer card");
        page->developerCard()->didSelectItem(page->developerCard()->authorCollectionView(), 0);
        auto* contact = pushed<ContactDeveloperViewController>();
        ASSERT_NE(contact, nullptr);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return contact->isOnScreen(); }));
        expectShown(contact->authorIcon(), "contact card");
        window.reset();
    }
}

TEST_F(DetailsPageLayout, LinksThatAreNotWebAddressesOpenNothingAndSaySo) {
    storeSource("https://repo.example/", false);
    storeSource("https://info.example/", true);
    struct Case {
        const char* website;
        const char* location;
        const char* donateLink;  // the source's
        const char* donateTitle, *donateMessage;
    };
    const Case cases[] = {
        {"javascript:alert(1)", "https://repo.example/", "", "No Donate Link", "This feature is not supported by this repository"},
        {"file:///etc/passwd", "https://info.example/", "", "No Donate Link", "Jane hasn't provided a donate link."},
        {"", "https://repo.example/", "", "No Donate Link", "This feature is not supported by this repository"},
        {"ftp://host/", "https://info.example/", "ftp://host/donate", "No Donate Link", "Jane hasn't provided a donate link."},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.website);
        realm->transactionWithBlock([&] {
            auto source = realm->objectForPrimaryKey<ZMRSource>(c.location);
            source->donateLink = c.donateLink;
            realm->addOrUpdate(*source);
        });
        auto p = package("com.links." + std::to_string(n++), c.location);
        p.website = c.website;
        auto* page = open(p);
        page->developerWebsite();
        ASSERT_NE(popup(), nullptr);
        EXPECT_EQ(popup()->titleLbl()->text(), "No Website Link");
        EXPECT_EQ(popup()->messageLbl()->text(), "Jane hasn't provided a website link");
        closePopup();
        page->donate();
        ASSERT_NE(popup(), nullptr);
        EXPECT_EQ(popup()->titleLbl()->text(), c.donateTitle);
        EXPECT_EQ(popup()->messageLbl()->text(), c.donateMessage);
        closePopup();
        page->openTextLink(QUrl(c.website));
        EXPECT_EQ(nav->viewControllers().size(), 1u) << "nothing pushed";
        EXPECT_TRUE(opened.empty());
        window.reset();
    }
    // A contact that tries to add recipients stays one address.
    auto p = package("com.links.cc");
    p.contact = "jane@example.com?cc=eve@evil.example&bcc=mallory@evil.example";
    auto* page = open(p);
    page->contactDeveloper();
    ASSERT_EQ(opened.size(), 1u);
    const QUrlQuery query(opened[0]);
    EXPECT_FALSE(query.hasQueryItem("cc"));
    EXPECT_FALSE(query.hasQueryItem("bcc"));
    EXPECT_TRUE(query.hasQueryItem("subject"));
    EXPECT_TRUE(opened[0].path(QUrl::FullyDecoded).startsWith("jane@example.com?cc=eve@evil.example"));
}

TEST_F(DetailsPageLayout, ButtonsOfScreensNobodyInstalledStayHidden) {
    ZMDetailsServices::setScreens({});
    auto other = package("com.hooks.other");
    storePackage(other);
    maker->setReviews("com.hooks.tool", json::array({{{"id", "1"}, {"title", "t"}, {"review", "r"}, {"rate", 4}, {"username", "u"},
                                                      {"reply", nullptr}, {"upvotes", "0"}, {"downvotes", "0"}}}));
    auto p = package("com.hooks.tool");
    p.isInstalled = true;
    auto* page = open(p);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return page->packageReviews().size() == 1; }));
    EXPECT_FALSE(page->reviewsSection()->seeAllReviewsBtn()->isVisible());
    EXPECT_FALSE(page->reviewsSection()->leaveReviewBtn()->isVisible());
    EXPECT_FALSE(page->otherPackagesSection()->seeAllDevPackagesBtn()->isVisible());
    page->seeAllReviews();
    page->leaveReview();
    page->seeAllDevPackages();
    EXPECT_EQ(nav->viewControllers().size(), 1u);
    EXPECT_EQ(window->topPresentedViewController(), nav);
}

TEST_F(DetailsPageLayout, HostileIndexTextsShowLiterallyAndARemovedRecordBreaksNothing) {
    auto p = package("com.hostile");
    p.name = "<b>Bold</b> <img src=x>";
    p.maintainer = "<i>Eve</i>";
    p.size = "abc";
    for (int i = 0; i < 500; ++i) p.dependencies.push_back("dep" + std::to_string(i));
    p.installedFiles = {"/.", "/usr"};
    p.isInstalled = true;
    auto* page = open(p);
    EXPECT_EQ(page->nameLbl()->text(), "<b>Bold</b> <img src=x>");
    EXPECT_EQ(page->nameLbl()->textFormat(), Qt::PlainText);
    EXPECT_EQ(page->authorLbl()->text(), "<i>Eve</i>");
    EXPECT_EQ(page->authorLbl()->textFormat(), Qt::PlainText);
    EXPECT_EQ(page->informationSection()->packageSizeLbl()->text(), "");
    EXPECT_EQ(page->informationSection()->packageDependenciesLbl()->text().count('\n'), 499);
    EXPECT_EQ(page->informationSection()->packageDependenciesLbl()->textFormat(), Qt::PlainText);

    // The record goes while the page is open.
    realm->transactionWithBlock([&] {
        auto gone = realm->objectForPrimaryKey<ZMRPackage>("com.hostile");
        realm->deleteObject(*gone);
    });
    page->changeWishlistState();
    EXPECT_TRUE(page->packageDictionary().at("isInWishlist").get<bool>()) << "the page's own mark still flips";
    page->setRating(4);
    page->seeInstalledFiles();
    auto* files = pushed<InstalledFilesViewController>();
    ASSERT_NE(files, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return files->isOnScreen(); }));
    EXPECT_EQ(files->installedFilesTableView()->numberOfRows(0), 0);
    GuiTest::pump(std::chrono::milliseconds(200));
    EXPECT_FALSE(ZMRPackage::objectForPrimaryKey("com.hostile").has_value());
}

TEST_F(DetailsPageLayout, AnAdvertisementOnlyWhenConfiguredAndOnlyOverHttps) {
    ZMDepictionSettings settings;
    settings.marlgateSource = "http://apt.marlgate.example/repofiles/cydia/";
    ZMDepictionSettings::set(settings);
    auto p = package("com.ad.tool", settings.marlgateSource);
    p.name = "My Tool & Co";
    auto* page = open(p);
    EXPECT_FALSE(page->adsWebView()->isVisible()) << "no snippet by default";
    EXPECT_FALSE(page->adsWebView()->isLoaded());
    window.reset();

    settings.advertisementSnippet = "<div id='ad'>ad</div>";
    ZMDepictionSettings::set(settings);
    page = open(p);
    ASSERT_TRUE(page->adsWebView()->isVisible());
    EXPECT_EQ(page->adsWebView()->baseURL(),
              QUrl("https://apt.marlgate.example/moreinfo/depiction.php?file=mytool%26coDp", QUrl::StrictMode));
    EXPECT_EQ(DetailsSectionWidgets::topGap(page->developerCard()), 0) << "the card hangs below the advertisement";
    window.reset();

    // Another source's package never shows it.
    page = open(package("com.ad.other"));
    EXPECT_FALSE(page->adsWebView()->isVisible());
    struct Case {
        const char* url;
        bool allowed;
    };
    const Case cases[] = {{"https://ads.example/unit.js", true}, {"http://ads.example/unit.js", false},
                          {"file:///etc/passwd", false},          {"javascript:alert(1)", false},
                          {"https:///nohost", false},             {"data:text/html,<p>", true}};
    for (const auto& c : cases) EXPECT_EQ(PackageAdvertisementView::allowsRequest(QUrl(c.url)), c.allowed) << c.url;
}

}  // namespace
