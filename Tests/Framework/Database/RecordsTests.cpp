#include <gtest/gtest.h>

#include <regex>
#include <tuple>

#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageVersion.h"
#include "Database/ZMRSource.h"
#include "Miscellaneous/ZMPaths.h"
#include "Support/TestSupport.h"

namespace {

TEST(ZMRPackageTest, IsFreeForNilEmptyZeroAndFreeInAnyCase) {
    ZMRPackage p;
    for (const char* price : {"", "0", "0.00", "free", "FREE", "Free", " free "}) {
        p.price = price;
        EXPECT_TRUE(p.isFree()) << '"' << price << '"';
    }
    for (const char* price : {"$1.99", "0.99", "1", "freely", "0.0"}) {
        p.price = price;
        EXPECT_FALSE(p.isFree()) << '"' << price << '"';
    }
}

// Equal is no update, in dpkg's order too ("1.00" is "1.0"), and the epoch decides first.
TEST(ZMRPackageTest, OffersAnUpdateOnlyAboveTheInstalledVersion) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"2.0", "1.0", true},   {"1.0", "1.0", false},   {"1.00", "1.0", false}, {"0.9", "1.0", false},
        {"1:0.1", "2.0", true}, {"2.0", "1:0.1", false}, {"1.0", "", false},     {"1.0-1", "1.0", true},
    };
    for (const auto& [available, installed, update] : cases)
        EXPECT_EQ(ZMRPackage::offersUpdate(available, installed), update) << available << " over " << installed;
}

TEST(ZMRPackageTest, IconPathIsTheMd5OfTheIdentifierInTheIconCache) {
    TestSupport::IsolatedEnvironment env;
    ZMRPackage p;
    p.identifier = "abc";
    EXPECT_EQ(p.iconPath(), ZMPaths::subdirectory("IconCache") + "/900150983cd24fb0d6963f7d28e17f72.png");
}

TEST(ZMRPackageTest, SnapshotHoldsEveryPropertyAndIsFree) {
    TestSupport::IsolatedEnvironment env;
    auto realm = Realm::defaultRealm();
    ZMRPackage p;
    p.identifier = "com.example.tweak";
    p.name = "Tweak";
    p.price = "$0.99";
    p.screenshots = {"https://e/2.png", "https://e/1.png"};
    p.isInstalled = true;
    p.tweakCompatibleStatus = 2;
    realm->transactionWithBlock([&] { realm->add(p); });
    auto stored = ZMRPackage::objectForPrimaryKey("com.example.tweak");
    ASSERT_TRUE(stored);
    auto snapshot = stored->snapshotDictionary();
    for (const auto& name : ZMRPackage::propertyNames()) EXPECT_TRUE(snapshot.contains(name)) << name;
    EXPECT_EQ(snapshot.size(), ZMRPackage::propertyNames().size() + 1);
    EXPECT_EQ(snapshot["isFree"], false);
    EXPECT_EQ(snapshot["screenshots"], nlohmann::json::array({"https://e/2.png", "https://e/1.png"}));
    EXPECT_EQ(snapshot["isInstalled"], true);
    EXPECT_EQ(snapshot["isHeld"], false) << "queried with = 0, so a new record says NO";
    EXPECT_EQ(snapshot["isInWishlist"], nullptr);
    EXPECT_EQ(snapshot["tweakCompatibleStatus"], 2);
}

TEST(ZMRSourceTest, NewSourceWithLocation) {
    ZMRSource s = ZMRSource::newSourceWithLocation("https://repo.example/");
    EXPECT_EQ(s.name, "https://repo.example/");
    EXPECT_TRUE(std::regex_match(s.addingDate, std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})"))) << s.addingDate;
    EXPECT_FALSE(s.isManaged());
    TestSupport::IsolatedEnvironment env;
    auto realm = Realm::defaultRealm();
    realm->transactionWithBlock([&] { realm->add(s); });
    auto stored = ZMRSource::objectForPrimaryKey("https://repo.example/");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->Description, " ") << "a blank is not an empty text";
    EXPECT_EQ(stored->hasErrors, std::nullopt);
    EXPECT_FALSE(ZMRSource::objectForPrimaryKey("https://other.example/"));
}

TEST(ZMRPackageVersionTest, VersionsOfASourceAreFoundAndReplaced) {
    TestSupport::IsolatedEnvironment env;
    auto realm = Realm::defaultRealm();
    auto make = [](const std::string& source, const std::string& version) {
        ZMRPackageVersion v;
        v.identifier = "com.x";
        v.version = version;
        v.source = source;
        v.versionKey = ZMRPackageVersion::makeKey(source, v.identifier, version);
        v.fileLocation = "debs/com.x_" + version + ".deb";
        return v;
    };
    realm->transactionWithBlock([&] {
        for (auto v : {make("https://a/", "1.0"), make("https://a/", "1.1"), make("https://b/", "1.0")})
            realm->addOrUpdate(v);
        auto again = make("https://a/", "1.0");
        again.fileLocation = "pool/moved.deb";
        realm->addOrUpdate(again);
    });
    EXPECT_EQ(ZMRPackageVersion::objectsWhere("source = %@", "https://a/").count(), 2u);
    EXPECT_EQ(ZMRPackageVersion::objectForPrimaryKey(ZMRPackageVersion::makeKey("https://a/", "com.x", "1.0"))
                  ->fileLocation,
              "pool/moved.deb");
}

}  // namespace
