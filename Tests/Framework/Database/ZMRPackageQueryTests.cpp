// Package queries as the screens run them, against a real database file.
#include <gtest/gtest.h>

#include <algorithm>

#include "Database/ZMRPackage.h"
#include "Database/ZMRSource.h"
#include "Support/TestSupport.h"

namespace {

ZMRPackage package(const std::string& identifier, const std::string& name) {
    ZMRPackage p;
    p.identifier = identifier;
    p.name = name;
    p.category = "Tweaks";
    p.sourceLocation = "https://repo.example/";
    // Nil states, as records written before the states had defaults: the
    // queries must keep their nil semantics for them.
    p.isInstalled = p.isUpdated = p.isHeld = p.isInTheQueue = std::nullopt;
    return p;
}

class PackageQueryTest : public ::testing::Test {
protected:
    TestSupport::IsolatedEnvironment env;
    std::shared_ptr<Realm> realm = Realm::defaultRealm();

    void SetUp() override {
        std::vector<ZMRPackage> all;
        auto a = package("com.a.updated", "Alpha");
        a.isInstalled = true, a.isUpdated = true, a.isHeld = false, a.tweakCompatibleStatus = 0;
        a.maintainer = "Jöhn Dœ <john@example.com>";
        all.push_back(a);
        auto b = package("com.b.held", "Beta");
        b.isInstalled = true, b.isUpdated = true, b.isHeld = true, b.tweakCompatibleStatus = 1;
        b.subcategory = "Widgets";
        all.push_back(b);
        auto c = package("com.c.unknownhold", "Électricité");
        c.isInstalled = true, c.isUpdated = true;  // isHeld nil
        c.subcategory = "Widgets";
        c.maintainer = "ÉLODIE";
        all.push_back(c);
        auto d = package("com.d.paid", "cy+legacy");
        d.isInstalled = true, d.isPaidThroughSileo = true, d.tweakCompatibleStatus = 2;
        d.category = "Themes";
        d.subcategory = "Icons";
        all.push_back(d);
        auto e = package("com.o'brien.tool", "O'Brien's \"tool\" 100%_\\ '; DROP TABLE ZMRPackage; --");
        e.sourceLocation = "https://other.example/";
        e.isPaidThroughSileo = true;
        e.isInWishlist = true;
        all.push_back(e);
        auto f = package("com.f.percent", "a%c");
        f.myRating = 5;
        all.push_back(f);
        auto g = package("com.g.underscore", "a_c");
        g.myRating = 2;
        all.push_back(g);
        auto h = package("com.h.plain", "abc");
        h.myRating = 3;
        h.category = "";  // none
        all.push_back(h);
        auto i = package("ru.privet", "Привет мир");
        all.push_back(i);
        realm->transactionWithBlock([&] {
            for (auto& p : all) realm->add(p);
        });
    }

    template <typename... Args> std::vector<std::string> ids(const std::string& format, Args&&... args) {
        std::vector<std::string> out;
        for (const auto& v : ZMRPackage::objectsWhere(format, std::forward<Args>(args)...).valueForKey("identifier"))
            out.push_back(v.template get<std::string>());
        std::sort(out.begin(), out.end());
        return out;
    }
    using V = std::vector<std::string>;
};

TEST_F(PackageQueryTest, TheScreensOwnPredicates) {
    EXPECT_EQ(ids("isUpdated = 1 && isHeld = 0"), V{"com.a.updated"}) << "a nil held mark is not NO";
    EXPECT_EQ(ids("isUpdated = 1 AND isHeld = 0"), V{"com.a.updated"});
    EXPECT_EQ(ids("category = %@ AND subcategory != nil", "Tweaks"), (V{"com.b.held", "com.c.unknownhold"}));
    EXPECT_EQ(ids("category = %@ AND subcategory = %@ AND tweakCompatibleStatus != 1", "Tweaks", "Widgets"),
              V{"com.c.unknownhold"});
    EXPECT_EQ(ids("isPaidThroughSileo = 1 AND sourceLocation = %@", "https://repo.example/"), V{"com.d.paid"});
    EXPECT_EQ(ids("sourceLocation = %@ AND isInstalled = 1", "https://repo.example/").size(), 4u);
    EXPECT_EQ(ids("isInWishlist = %@", true), V{"com.o'brien.tool"});
    EXPECT_EQ(ids("isInTheQueue = %@", true), V{});
    EXPECT_EQ(ids("isInstalled = 1 AND NOT name BEGINSWITH[cd] 'cy+'"),
              (V{"com.a.updated", "com.b.held", "com.c.unknownhold"}));
    EXPECT_EQ(ids("category = %@ AND tweakCompatibleStatus != %i", "Themes", 1), V{"com.d.paid"});
    // "!= 1" keeps packages that have no status at all.
    auto compatible = ids("tweakCompatibleStatus != 1");
    EXPECT_EQ(compatible.size(), 8u);
    EXPECT_FALSE(std::count(compatible.begin(), compatible.end(), "com.b.held"));
    EXPECT_EQ(ids("NOT (tweakCompatibleStatus = 1)"), compatible);
    EXPECT_EQ(ids("maintainer contains[cd] %@ AND NOT name BEGINSWITH[cd] 'cy+' AND tweakCompatibleStatus != 1",
                  "JOHN DOE"),
              V{}) << "œ is a letter of its own, not o+e";
    EXPECT_EQ(ids("maintainer contains[cd] %@ AND NOT name BEGINSWITH[cd] 'cy+'", "jöhn"), V{"com.a.updated"});
    EXPECT_EQ(ids("maintainer BEGINSWITH[cd] %@", "elo"), V{"com.c.unknownhold"});
    EXPECT_EQ(ids("maintainer = %@ AND identifier != %@", "ÉLODIE", "com.x"), V{"com.c.unknownhold"});
}

TEST_F(PackageQueryTest, CaseAndDiacriticOptions) {
    EXPECT_EQ(ids("name BEGINSWITH[cd] %@", "ELEC"), V{"com.c.unknownhold"});
    EXPECT_EQ(ids("name BEGINSWITH[cd] %@", "élec"), V{"com.c.unknownhold"});
    EXPECT_EQ(ids("name BEGINSWITH %@", "elec"), V{});
    EXPECT_EQ(ids("name CONTAINS[cd] %@", "TRICITE"), V{"com.c.unknownhold"});
    EXPECT_EQ(ids("name ==[c] %@", "ÉLECTRICITÉ"), V{"com.c.unknownhold"});
    EXPECT_EQ(ids("name ==[c] %@", "electricite"), V{}) << "[c] alone keeps accents";
    EXPECT_EQ(ids("name ==[d] %@", "Electricite"), V{"com.c.unknownhold"});
    EXPECT_EQ(ids("name ==[d] %@", "electricite"), V{}) << "[d] alone keeps case";
    EXPECT_EQ(ids("name ENDSWITH[cd] %@", "CITE"), V{"com.c.unknownhold"});
    EXPECT_EQ(ids("name CONTAINS[c] %@", "ПРИВ"), V{"ru.privet"});
    EXPECT_EQ(ids("identifier BEGINSWITH[cd] %@", "COM.O'"), V{"com.o'brien.tool"});
    EXPECT_EQ(ids("name contains[cd] %@", "ALP"), V{"com.a.updated"}) << "keywords in any letter case";
}

TEST_F(PackageQueryTest, HostileValuesAreOnlyValues) {
    const std::string hostile = "O'Brien's \"tool\" 100%_\\ '; DROP TABLE ZMRPackage; --";
    EXPECT_EQ(ids("name = %@", hostile), V{"com.o'brien.tool"});
    EXPECT_EQ(ids("name CONTAINS %@", "'; DROP TABLE"), V{"com.o'brien.tool"});
    EXPECT_EQ(ids("name BEGINSWITH[cd] %@", "o'brien's \"tool\""), V{"com.o'brien.tool"});
    EXPECT_EQ(ids("name CONTAINS %@", "%"), (V{"com.f.percent", "com.o'brien.tool"})) << "% is no wildcard";
    EXPECT_EQ(ids("name CONTAINS %@", "_"), (V{"com.g.underscore", "com.o'brien.tool"})) << "_ is no wildcard";
    EXPECT_EQ(ids("name = %@", "a_c"), V{"com.g.underscore"});
    EXPECT_EQ(ids("name ENDSWITH %@", "\\ '; DROP TABLE ZMRPackage; --"), V{"com.o'brien.tool"});
    EXPECT_EQ(ids("name = 'O\\'Brien'"), V{}) << "an escaped quote in a literal";
    EXPECT_EQ(ids("identifier IN %@", StringList{"com.o'brien.tool", "') OR 1=1 --", "com.h.plain"}),
              (V{"com.h.plain", "com.o'brien.tool"}));
    EXPECT_EQ(ids("identifier IN %@", StringList{}), V{}) << "an empty list matches nothing";
    EXPECT_EQ(ids("NOT identifier IN %@", StringList{}).size(), 9u);
    EXPECT_EQ(ids("name IN[c] %@", StringList{"ALPHA", "BETA"}), (V{"com.a.updated", "com.b.held"}));
    EXPECT_EQ(ZMRPackage::allObjects().count(), 9u) << "the table survived";

    // Key paths are checked against the record's properties, also through %K.
    EXPECT_THROW(ZMRPackage::objectsWhere("nosuchfield = 1"), RealmException);
    EXPECT_THROW(ZMRPackage::objectsWhere("%K = 1", "name\" = name OR 1=1 --"), RealmException);
    EXPECT_EQ(ids("%K = %@", "name", "Beta"), V{"com.b.held"});
}

TEST_F(PackageQueryTest, NilEmptyNumbersAndPrecedence) {
    EXPECT_EQ(ids("category = nil"), V{"com.h.plain"});
    EXPECT_EQ(ids("category = ''"), V{"com.h.plain"}) << "an empty text is nil";
    EXPECT_EQ(ids("category == %@", ""), V{"com.h.plain"});
    EXPECT_EQ(ids("category != nil").size(), 8u);
    EXPECT_EQ(ids("myRating >= 3"), (V{"com.f.percent", "com.h.plain"}));
    EXPECT_EQ(ids("myRating < %d", 3), V{"com.g.underscore"});
    EXPECT_EQ(ids("myRating > 2 AND myRating <= 3"), V{"com.h.plain"});
    EXPECT_EQ(ids("3 < myRating"), V{"com.f.percent"}) << "value on the left";
    EXPECT_EQ(ids("myRating = %@", 5), V{"com.f.percent"});
    EXPECT_EQ(ids("myRating = %ld", 5L), V{"com.f.percent"});
    EXPECT_EQ(ids("myRating != 5").size(), 8u);
    EXPECT_EQ(ids("isHeld = NO"), V{"com.a.updated"});
    EXPECT_EQ(ids("isHeld == TRUE"), V{"com.b.held"});
    // AND binds tighter than OR.
    EXPECT_EQ(ids("myRating = 5 OR isPaidThroughSileo = 1 AND isInWishlist = 1"),
              (V{"com.f.percent", "com.o'brien.tool"}));
    EXPECT_EQ(ids("(myRating = 5 || isPaidThroughSileo = 1) && isInWishlist = 1"), V{"com.o'brien.tool"});
    EXPECT_EQ(ids("TRUEPREDICATE").size(), 9u);
    EXPECT_EQ(ids("").size(), 9u);
}

TEST_F(PackageQueryTest, MalformedPredicatesAreErrors) {
    for (const char* format : {"name =", "name BEGINSWITH", "(name = 'a'", "name = 'a' AND", "name ~ 'a'",
                               "name = 'unterminated", "name LIKE 'a*'", "name = %@", "name BEGINSWITH[x] 'a'",
                               "'a' = 'a'", "name = name", "screenshots = 'a'", "name BEGINSWITH 3",
                               "myRating = 'three'", "name < nil"}) {
        EXPECT_THROW(ZMRPackage::objectsWhere(format), RealmException) << format;
    }
    EXPECT_THROW(ZMRPackage::objectsWhere("name = %@", "a", "extra"), RealmException);
    EXPECT_THROW(ZMRPackage::objectsWhere("identifier IN %@", "not a list"), RealmException);
    EXPECT_THROW(ZMRPackage::objectsWhere("myRating = %i", "text"), RealmException);
}

TEST_F(PackageQueryTest, KeyValueSetOverAResultAsThePurchaseImportDoes) {
    auto owned = ZMRPackage::objectsWhere("isPaidThroughSileo = 1 AND sourceLocation = %@", "https://repo.example/");
    realm->transactionWithBlock([&] {
        owned.setValueForKey("isPaidThroughSileo", false);
        for (const char* id : {"com.a.updated", "com.missing"}) {
            if (auto p = ZMRPackage::objectForPrimaryKey(id)) realm->setValueForKey(*p, "isPaidThroughSileo", true);
        }
    });
    EXPECT_EQ(ids("isPaidThroughSileo = 1"), (V{"com.a.updated", "com.o'brien.tool"}));
    EXPECT_EQ(ids("isPaidThroughSileo = 0"), V{"com.d.paid"});
    auto cydia = ZMRPackage::objectsWhere("isPaidThroughCydia = 1");
    realm->transactionWithBlock([&] { ZMRPackage::allObjects().setValueForKey("isPaidThroughCydia", true); });
    EXPECT_EQ(cydia.count(), 9u);
    realm->transactionWithBlock([&] { cydia.setValueForKey("isPaidThroughCydia", false); });
    EXPECT_EQ(cydia.count(), 0u);
}

TEST_F(PackageQueryTest, SortingAsTheListsDo) {
    auto newest = ZMRPackage::allObjects().sortedResultsUsingDescriptors({{"updatedDateStr", false}, {"name", true}});
    realm->transactionWithBlock([&] {
        auto later = ZMRPackage::objectsWhere("identifier IN %@", StringList{"com.h.plain", "com.g.underscore"});
        later.setValueForKey("updatedDateStr", "2026-12-06 10:00");
        ZMRPackage::objectsWhere("updatedDateStr = nil").setValueForKey("updatedDateStr", "2026-11-30 09:15");
    });
    ASSERT_EQ(newest.count(), 9u);
    EXPECT_EQ(newest[0].identifier, "com.g.underscore");  // "a_c" before "abc"
    EXPECT_EQ(newest[1].identifier, "com.h.plain");
    EXPECT_EQ(newest[2].name, "Alpha");
    auto categories = ZMRPackage::objectsWhere("category != nil")
                          .distinctResultsUsingKeyPaths({"category"})
                          .sortedResultsUsingKeyPath("category", true)
                          .valueForKey("category");
    EXPECT_EQ(categories, (std::vector<nlohmann::json>{"Themes", "Tweaks"}));
}

}  // namespace
