// The wishlist and followed-developer copies on the account: uploads (one in
// flight, newest list last), downloads, the sign-in merges, and silence when
// signed out.
#include "Database/ZMRDeveloper.h"
#include "Online/Services/OnlineServicesFixture.h"
#include "Services/ZMBackupVostrelleSetupTask.h"
#include "Services/ZMFollowedDevelopers.h"
#include "Services/ZMPackageRatings.h"
#include "Services/ZMPackagesWishlist.h"
#include "Services/ZMSetupBackup.h"

using Behaviour = FakeMakerAPI::Behaviour;

namespace {
void setWished(const std::string& identifier, bool wished) {
    auto realm = Realm::defaultRealm();
    realm->transactionWithBlock([&] {
        auto p = realm->objectForPrimaryKey<ZMRPackage>(identifier);
        realm->setValueForKey(*p, "isInWishlist", wished);
        // Asked inside the transaction, as the details page does: the upload
        // must still read the list with this change committed.
        ZMPackagesWishlist::sharedInstance().syncWithTheZemtrixAccount();
    });
}
}  // namespace

TEST_F(OnlineServices, SignedOutNothingIsSent) {
    addPackages({"com.a"}, false, true);
    Answer<std::optional<ZMError>> wish, follow;
    ZMPackagesWishlist::sharedInstance().syncWithTheZemtrixAccount(wish.callback());
    ZMFollowedDevelopers::sharedInstance().syncWithTheZemtrixAccount(follow.callback());
    ASSERT_TRUE(wish.wait() && follow.wait());
    EXPECT_TRUE(ZMMakerAPI::isError(wish.value(), ZMMakerAPI::SignedOut));
    EXPECT_TRUE(ZMMakerAPI::isError(follow.value(), ZMMakerAPI::SignedOut));
    Answer<std::optional<std::vector<std::string>>> download;
    ZMPackagesWishlist::sharedInstance().retrieveZemtrixAccountWishlist(download.callback());
    EXPECT_EQ(download.calls(), 1);
    EXPECT_FALSE(download.value());
    bool followedDone = false;
    ZMRPackageManager::sharedPackageManager().developers().setDeveloper("Ada", true, [&](auto) { followedDone = true; });
    Answer<std::string> rating;
    ZMPackageRatings("ada").postRatingReview("com.a", "", "", 5, rating.callback());
    EXPECT_EQ(rating.value(), "You are not signed in.");
    Answer<std::optional<std::string>> reply;
    ZMPackageRatings().replyToReviewWithUserID(0, 34, std::string("Thanks"), false, false, reply.callback());
    EXPECT_EQ(reply.value(), std::nullopt);
    EXPECT_FALSE(ZMSetupBackup::backupOnline());
    Answer<ZMResult<std::string>> fetched;
    ZMSetupBackup::fetchOnlineBackup(fetched.callback());
    EXPECT_FALSE(fetched.value().ok());
    ASSERT_TRUE(TestSupport::waitUntil([&] { return followedDone; }));
    TestSupport::pumpMainLoop(std::chrono::milliseconds(100));
    EXPECT_TRUE(maker->requests().empty());
}

TEST_F(OnlineServices, WishlistUploadsCarryTheNewestCommittedList) {
    addPackages({"com.a", "com.b", "com.with blank"});
    ASSERT_TRUE(signIn());
    Answer<std::optional<ZMError>> empty;
    ZMPackagesWishlist::sharedInstance().syncWithTheZemtrixAccount(empty.callback());
    ASSERT_TRUE(empty.wait());
    EXPECT_EQ(maker->requests("wishlist/wishlist.php").at(0).body, "userID=12&wishlist=");

    maker->setBehaviour("wishlist/wishlist.php", {.hold = true});
    setWished("com.a", true);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return maker->heldRequests("wishlist/wishlist.php").size() == 1; }));
    EXPECT_EQ(maker->heldRequests("wishlist/wishlist.php").at(0).field("wishlist"), "com.a");
    setWished("com.b", true);
    setWished("com.with blank", true);
    setWished("com.a", false);
    TestSupport::pumpMainLoop(std::chrono::milliseconds(100));
    EXPECT_EQ(maker->heldRequests("wishlist/wishlist.php").size(), 1u) << "one upload in flight";
    maker->clearBehaviour("wishlist/wishlist.php");
    maker->releaseHeld("wishlist/wishlist.php");
    ASSERT_TRUE(maker->waitForCount("wishlist/wishlist.php", 3));
    TestSupport::pumpMainLoop(std::chrono::milliseconds(100));
    auto uploads = maker->requests("wishlist/wishlist.php");
    ASSERT_EQ(uploads.size(), 3u) << "the changes made meanwhile go out once";
    EXPECT_EQ(uploads.back().body, "userID=12&wishlist=com.b%3Bcom.with+blank");
    EXPECT_EQ(maker->wishlist(12), "com.b;com.with blank");
}

TEST_F(OnlineServices, FollowChangesUploadTheWholeListOnceMore) {
    ASSERT_TRUE(signIn());
    maker->setBehaviour("followeddevs/developers.php", {.delay = std::chrono::milliseconds(200)});
    auto& developers = ZMRPackageManager::sharedPackageManager().developers();
    std::atomic<int> written{0};
    for (const char* name : {"Jane Roe", "ada", "Bob"}) developers.setDeveloper(name, true, [&](auto) { ++written; });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return written == 3; }));
    // The writes run concurrently: any order, but all three in the last upload.
    auto sorted = [](std::string text) {
        std::vector<std::string> names;
        for (size_t start = 0, end; start <= text.size(); start = end + 1) {
            end = std::min(text.find(';', start), text.size());
            names.push_back(text.substr(start, end - start));
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<std::string> all = {"ada", "bob", "jane roe"};
    ASSERT_TRUE(TestSupport::waitUntil([&] { return sorted(maker->followed(12).value_or("")) == all; }));
    TestSupport::pumpMainLoop(std::chrono::milliseconds(600));
    EXPECT_LE(maker->count("followeddevs/developers.php"), 2u) << "one upload in flight, the rest sent once";
    EXPECT_EQ(sorted(maker->followed(12).value_or("")), all) << "no older list arrived after the newest";
}

TEST_F(OnlineServices, SignInMergesBothListsOnce) {
    addPackages({"com.a", "com.b", "com.c"}, false, false);
    addPackages({"com.b", "com.a"}, false, true);  // wished, in this database order
    maker->setWishlist(12, "com.a;com.missing;com.c");
    maker->setFollowed(12, "Alice;;bob");
    int developerWrites = 0;
    auto token = ZMRDeveloper::allObjects().addNotificationBlock([&](const auto&) { ++developerWrites; });
    ASSERT_TRUE(signIn());
    EXPECT_EQ(wishlist(), (std::vector<std::string>{"com.a", "com.c"}));
    EXPECT_EQ(followed(), (std::vector<std::string>{"alice", "bob"})) << "the empty name is dropped";
    ASSERT_TRUE(maker->waitForCount("followeddevs/developers.php", 1));
    TestSupport::pumpMainLoop(std::chrono::milliseconds(150));
    EXPECT_EQ(developerWrites, 1) << "all marks in one transaction";
    EXPECT_EQ(maker->count("followeddevs/developers.php"), 1u) << "one upload";
    EXPECT_EQ(maker->followed(12), "alice;bob");
    EXPECT_EQ(maker->count("wishlist/wishlist.php"), 0u);

    // The same lists again: nothing written, nothing sent.
    developerWrites = 0;
    maker->setWishlist(12, "com.a;com.c");
    ASSERT_TRUE(signIn());
    TestSupport::pumpMainLoop(std::chrono::milliseconds(150));
    EXPECT_EQ(developerWrites, 0);
    EXPECT_EQ(maker->count("followeddevs/developers.php"), 1u);

    // A failed download keeps the local marks.
    maker->setBehaviour("followeddevs/retrievedevelopers.php", {.status = 500});
    maker->setBehaviour("wishlist/retrievewishlist.php", {.body = "{\"wishlist\": 3}"});
    ASSERT_TRUE(signIn());
    EXPECT_EQ(wishlist(), (std::vector<std::string>{"com.a", "com.c"}));
    EXPECT_EQ(followed(), (std::vector<std::string>{"alice", "bob"}));
}
