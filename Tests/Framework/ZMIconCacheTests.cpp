// Package and source icons: the placeholder at once, one background download
// per icon, the stored file and the icon-changed notifications.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>

#include "Dispatch/Dispatch.h"
#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageManager.h"
#include "Database/ZMRSource.h"
#include "Miscellaneous/ZMPaths.h"
#include "Notifications/NotificationCenter.h"
#include "Support/FlatRepository.h"
#include "Support/TestSupport.h"
#include "VostrellePersistentPreferences.h"
#include "ZMIconCache.h"

namespace {

const std::string kPNG = std::string("\x89PNG\r\n\x1a\n", 8) + "rest of a small image";

class Icons : public ::testing::Test {
protected:
    TestSupport::IsolatedEnvironment env;
    TestSupport::TempDir dir;
    std::unique_ptr<FlatRepository::FileServer> server;
    std::shared_ptr<Realm> realm;
    std::mutex mutex;
    std::condition_variable cv;
    bool released = false;
    std::atomic<int> arrived{0};

    void SetUp() override {
        VostrellePersistentPreferences::resetForTesting();
        ZMRPackageManager::resetForTesting();
        realm = Realm::defaultRealm();
        server = std::make_unique<FlatRepository::FileServer>(dir.path());
        // Held until the test lets it go, so that repeated asks overlap the download.
        server->route("held.png", [this](const httplib::Request&, httplib::Response& res) {
            ++arrived;
            std::unique_lock lock(mutex);
            cv.wait_for(lock, std::chrono::seconds(10), [this] { return released; });
            res.set_content(kPNG, "image/png");
        });
        server->route("page.png", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html>not an image</html>", "text/html");
        });
    }
    void TearDown() override {
        release();
        TestSupport::waitUntil([] { return ZMIconCache::inFlightCount() == 0; });
        server.reset();
        ZMRPackageManager::resetForTesting();
        VostrellePersistentPreferences::resetForTesting();
    }
    void release() {
        std::lock_guard lock(mutex);
        released = true;
        cv.notify_all();
    }
    void storePackage(const std::string& id, const std::string& category, const std::string& icon) {
        ZMRPackage p;
        p.identifier = id;
        p.name = id;
        p.category = category;
        p.iconURL = icon;
        realm->transactionWithBlock([&] { realm->addOrUpdate(p); });
    }
    ZMRPackages& packages() { return ZMRPackageManager::sharedPackageManager().packages(); }
};

TEST_F(Icons, APackageIconIsFetchedOnceStoredAndAnnounced) {
    storePackage("com.example.tweak", "Tweaks", server->url("held.png"));
    std::vector<std::string> announced;
    auto token = NotificationCenter::defaultCenter().addObserver(
        ZMRPackageInfoIconChangedNotification, NotificationCenter::Queue::Main,
        [&](const Notification& n) {
            EXPECT_TRUE(Dispatch::isMainThread());
            announced.push_back(n.objectString());
        });

    auto first = packages().iconForIdentifier("com.example.tweak");
    EXPECT_FALSE(first.isFile());
    EXPECT_EQ(first.imageName, "Categories/Tweaks");
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(packages().iconForIdentifier("com.example.tweak").isFile());
    ASSERT_TRUE(TestSupport::waitUntil([&] { return arrived > 0; }));
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(packages().iconForIdentifier("com.example.tweak").isFile());
    release();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !announced.empty(); }));
    TestSupport::pumpMainLoop(std::chrono::milliseconds(50));
    EXPECT_EQ(server->count("held.png"), 1u) << "one download however often it is asked";
    EXPECT_EQ(announced, std::vector<std::string>{"com.example.tweak"});

    auto cached = packages().iconForIdentifier("com.example.tweak");
    ASSERT_TRUE(cached.isFile());
    EXPECT_EQ(cached.path, ZMRPackage::objectForPrimaryKey("com.example.tweak")->iconPath());
    EXPECT_EQ(TestSupport::readFile(cached.path), kPNG);
    EXPECT_FALSE(std::filesystem::exists(cached.path + ".download"));
}

TEST_F(Icons, OnlyHttpImagesAreFetchedAndKept) {
    storePackage("com.example.local", "Themes", "file:///Library/icon.png");
    storePackage("com.example.page", "Addons (SpringBoard)", server->url("page.png"));
    storePackage("com.example.none", "Utilities", "");
    EXPECT_EQ(packages().iconForIdentifier("com.example.local").imageName, "Categories/Themes");
    EXPECT_EQ(ZMIconCache::inFlightCount(), 0u) << "file URLs are never fetched";
    EXPECT_EQ(packages().iconForIdentifier("com.example.none").imageName, "Categories/Default");
    EXPECT_EQ(packages().iconForIdentifier("com.example.page").imageName, "Categories/Addons");
    ASSERT_TRUE(TestSupport::waitUntil([] { return ZMIconCache::inFlightCount() == 0; }));
    EXPECT_EQ(server->count("page.png"), 1u);
    EXPECT_FALSE(packages().iconForIdentifier("com.example.page").isFile()) << "an HTML page is not kept as an icon";
    EXPECT_EQ(packages().iconForIdentifier("com.example.missing").imageName, "Categories/Default");

    // An override URL wins over the record's.
    TestSupport::writeFile(dir.file("other.png"), kPNG);
    bool announced = false;
    auto token = NotificationCenter::defaultCenter().addObserver(
        ZMRPackageInfoIconChangedNotification, NotificationCenter::Queue::Main,
        [&](const Notification&) { announced = true; }, std::string("com.example.local"));
    packages().iconForIdentifier("com.example.local", server->url("other.png"));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return announced; }));
    EXPECT_TRUE(packages().iconForIdentifier("com.example.local").isFile());
}

TEST_F(Icons, ASourceIconComesFromItsLocation) {
    const std::string location = server->url("repo/");
    TestSupport::writeFile(dir.file("repo/CydiaIcon.png"), kPNG);
    realm->transactionWithBlock([&] {
        auto s = ZMRSource::newSourceWithLocation(location);
        realm->addOrUpdate(s);
    });
    std::string announced;
    auto token = NotificationCenter::defaultCenter().addObserver(
        ZMRSourceInfoIconChangedNotification, NotificationCenter::Queue::Main,
        [&](const Notification& n) { announced = n.objectString(); });
    auto& sources = ZMRPackageManager::sharedPackageManager().sources();
    EXPECT_EQ(sources.iconForLocation(location).imageName, ZMIconCache::kDefaultSourceImage);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !announced.empty(); }));
    EXPECT_EQ(announced, location);
    auto icon = sources.iconForLocation(location);
    ASSERT_TRUE(icon.isFile());
    EXPECT_EQ(icon.path, ZMIconCache::pathForKey(location));
    EXPECT_EQ(server->count("repo/CydiaIcon.png"), 1u);
}

}  // namespace
