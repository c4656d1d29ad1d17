// The package collection against a real database of generated packages.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "CollectionsFixture.h"
#include "Database/ZMCategorySpecial.h"
#include "Database/ZMRNotifications.h"
#include "Database/ZMRPackages.h"
#include "Notifications/NotificationCenter.h"

namespace {

using namespace CollectionsFixture;
using Strings = std::vector<std::string>;

ZMRPackage record(std::optional<bool> installed, std::optional<bool> updated, std::optional<bool> held,
                  const std::string& installedVersion = "2.0") {
    ZMRPackage p;
    p.identifier = "com.example.rule";
    p.version = "2.1";
    p.installedVersion = installedVersion;
    p.isInstalled = installed;
    p.isUpdated = updated;
    p.isHeld = held;
    return p;
}

TEST(ZMRPackagesRules, QueueOperationIsChosenFromStateAndVersion) {
    struct Case {
        const char* what;
        ZMRPackage package;
        std::optional<std::string> version;
        int64_t operation;
        int64_t expected;
    };
    const std::vector<Case> cases = {
        {"not installed", record(false, false, false), std::nullopt, 0, ZMRQueueOperationInstall},
        {"nil installed mark", record(std::nullopt, true, false), std::nullopt, 0, ZMRQueueOperationInstall},
        {"installed with update", record(true, true, false), std::nullopt, 0, ZMRQueueOperationUpgrade},
        {"update but held", record(true, true, true), std::nullopt, 0, ZMRQueueOperationRemove},
        {"update, hold unknown", record(true, true, std::nullopt), std::nullopt, 0, ZMRQueueOperationUpgrade},
        {"installed, no update", record(true, false, false), std::nullopt, 0, ZMRQueueOperationRemove},
        {"empty version is no version", record(true, false, false), std::string(), 0, ZMRQueueOperationRemove},
        {"chosen version above", record(true, false, false), std::string("2.0.1"), 0, ZMRQueueOperationUpgrade},
        {"chosen version below", record(true, true, false), std::string("1.9"), 0, ZMRQueueOperationDowngrade},
        {"the installed version again", record(true, true, false), std::string("2.0"), 0, ZMRQueueOperationReinstall},
        {"same version written with epoch 0", record(true, false, false), std::string("0:2.0"), 0,
         ZMRQueueOperationReinstall},
        {"tilde sorts before release", record(true, false, false), std::string("2.0~beta1"), 0,
         ZMRQueueOperationDowngrade},
        {"numeric, not text, order", record(true, false, false, "2.9"), std::string("2.10"), 0,
         ZMRQueueOperationUpgrade},
        {"epoch wins", record(true, false, false, "5.0"), std::string("1:1.0"), 0, ZMRQueueOperationUpgrade},
        {"revision counts", record(true, false, false, "2.0-1"), std::string("2.0-2"), 0, ZMRQueueOperationUpgrade},
        {"a version for a package not installed", record(false, false, false), std::string("1.0"), 0,
         ZMRQueueOperationInstall},
        {"explicit code kept", record(false, false, false), std::nullopt, ZMRQueueOperationRemove,
         ZMRQueueOperationRemove},
        {"explicit code beats the version", record(true, false, false), std::string("9.0"), ZMRQueueOperationDowngrade,
         ZMRQueueOperationDowngrade},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ZMRPackages::queueOperationForPackage(c.package, c.version, c.operation), c.expected) << c.what;

    ZMRPackage noInstalledVersion = record(true, false, false, "");
    noInstalledVersion.version = "3.0";
    EXPECT_EQ(ZMRPackages::queueOperationForPackage(noInstalledVersion, std::string("3.0"), 0),
              ZMRQueueOperationReinstall)
        << "without an installed version the record's version is the installed one";
}

TEST(ZMRPackagesRules, CategoryIconRules) {
    auto none = [](const std::string&) { return false; };
    struct Case {
        std::string entry, image;
        bool bold;
    };
    // Exact names are bold; a word inside a longer name, a prefix or a mapped
    // name gives the plain image; the rules are case-sensitive.
    const std::vector<Case> cases = {
        {"Addons (SpringBoard)", "Categories/Addons", true}, {"App Addons Extra", "Categories/App Addons", false},
        {"My Addon", "Categories/Addons", false},            {"Les Thèmes", "Categories/Themes", true},
        {"Data_Storage", "Categories/Data Storage", false},  {"Networking", "Categories/Network", false},
        {"Widgets   ", "Categories/Widgets", true},          {"Lock Widget", "Categories/Widgets", false},
        {"Cydia/Telesphoreo", "Categories/Tervalo", false},  {"Cydia/Telesphoreo Extra", "Categories/Default", false},
        {"tweaks", "Categories/Default", false},             {"", "Categories/Default", false},
    };
    for (const auto& c : cases) {
        auto icon = ZMRPackages::categoryIconForEntry(c.entry, none);
        EXPECT_EQ(icon.imageName, c.image) << c.entry;
        EXPECT_EQ(icon.bold, c.bold) << c.entry;
    }
    // An image of its own wins, in regular weight, even over a bold rule.
    auto own = ZMRPackages::categoryIconForEntry("Tweaks", [](const std::string& n) { return n == "Categories/Tweaks"; });
    EXPECT_EQ(own.imageName, "Categories/Tweaks");
    EXPECT_FALSE(own.bold);
}

class ZMRPackagesTest : public Database {
protected:
    std::vector<ZMRPackage> model;
    ZMRPackages* packages = nullptr;

    void SetUp() override {
        Database::SetUp();
        model = generatePackages(400);
        store(model);
        packages = &ZMRPackageManager::sharedPackageManager().packages();
    }

    ZMRPackage fetch(const std::string& identifier) {
        auto p = ZMRPackage::objectForPrimaryKey(identifier);
        EXPECT_TRUE(p.has_value()) << identifier;
        return p.value_or(ZMRPackage());
    }

    // Expected groups of the new-packages lists, computed from the model.
    std::pair<Strings, std::map<std::string, Strings>> expectedGroups(bool newVersionsOnly, bool showIncompatible) {
        std::vector<const ZMRPackage*> rows;
        for (const auto& p : model) {
            if (p.updatedDateStr.empty()) continue;
            if (newVersionsOnly && !p.hasNewVersion.value_or(false)) continue;
            if (!showIncompatible && p.tweakCompatibleStatus == 1) continue;
            rows.push_back(&p);
        }
        std::stable_sort(rows.begin(), rows.end(), [](const ZMRPackage* a, const ZMRPackage* b) {
            if (a->updatedDateStr != b->updatedDateStr) return a->updatedDateStr > b->updatedDateStr;
            return a->name < b->name;
        });
        Strings dates;
        std::map<std::string, Strings> groups;
        for (const auto* p : rows) {
            if (dates.empty() || dates.back() != p->updatedDateStr) dates.push_back(p->updatedDateStr);
            groups[p->updatedDateStr].push_back(p->identifier);
        }
        return {dates, groups};
    }

    // Within one date and name the order is the store's; compare names, not identifiers, there.
    void expectSameGroups(const std::map<std::string, Strings>& expected, const ZMRPackages::IdentifiersByDate& actual) {
        ASSERT_EQ(expected.size(), actual.size());
        std::map<std::string, std::string> nameOf;
        for (const auto& p : model) nameOf[p.identifier] = p.name;
        for (const auto& [date, ids] : expected) {
            auto it = actual.find(date);
            ASSERT_NE(it, actual.end()) << date;
            Strings expectedNames, actualNames;
            for (const auto& id : ids) expectedNames.push_back(nameOf[id]);
            for (const auto& id : it->second) actualNames.push_back(nameOf[id]);
            EXPECT_EQ(actualNames, expectedNames) << date;
            EXPECT_EQ(std::set<std::string>(it->second.begin(), it->second.end()),
                      std::set<std::string>(ids.begin(), ids.end()))
                << date;
        }
    }
};

TEST_F(ZMRPackagesTest, QueueMarksAreWrittenAndClearedAndMissingIdentifiersChangeNothing) {
    const ZMRPackage* installedWithUpdate = nullptr;
    const ZMRPackage* notInstalled = nullptr;
    for (const auto& p : model) {
        if (!installedWithUpdate && p.isInstalled == true && p.isUpdated == true && p.isHeld == false)
            installedWithUpdate = &p;
        if (!notInstalled && p.isInstalled == false) notInstalled = &p;
    }
    ASSERT_TRUE(installedWithUpdate && notInstalled);

    packages->setPackage(installedWithUpdate->identifier, true, std::nullopt, 0);
    auto p = fetch(installedWithUpdate->identifier);
    EXPECT_EQ(p.isInTheQueue, true);
    EXPECT_EQ(p.queueOperation, ZMRQueueOperationUpgrade);
    EXPECT_EQ(p.queuedVersion, "");

    packages->setPackage(installedWithUpdate->identifier, true, std::string("1.0"), 0);
    p = fetch(installedWithUpdate->identifier);
    EXPECT_EQ(p.queueOperation, ZMRQueueOperationReinstall) << "1.0 is the installed version";
    EXPECT_EQ(p.queuedVersion, "1.0");

    packages->setPackage(installedWithUpdate->identifier, false, std::string("1.0"), 3);
    p = fetch(installedWithUpdate->identifier);
    EXPECT_EQ(p.isInTheQueue, false);
    EXPECT_EQ(p.queueOperation, 0);
    EXPECT_EQ(p.queuedVersion, "");

    auto object = fetch(notInstalled->identifier);
    packages->setPackageObject(object, true, std::nullopt, 0);
    EXPECT_EQ(object.queueOperation, ZMRQueueOperationInstall) << "the record in hand is updated too";
    EXPECT_EQ(fetch(notInstalled->identifier).queueOperation, ZMRQueueOperationInstall);

    // Missing identifier: no record appears and nothing else moves.
    const size_t queuedBefore = ZMRPackage::objectsWhere("isInTheQueue = 1").count();
    packages->setPackage("com.nobody.home", true, std::nullopt, 0);
    EXPECT_FALSE(ZMRPackage::objectForPrimaryKey("com.nobody.home"));
    EXPECT_EQ(ZMRPackage::allObjects().count(), model.size());
    EXPECT_EQ(ZMRPackage::objectsWhere("isInTheQueue = 1").count(), queuedBefore);

    // A record deleted after it was fetched is not brought back.
    auto doomed = fetch(model.back().identifier);
    realm->transactionWithBlock([&] {
        auto again = realm->objectForPrimaryKey<ZMRPackage>(doomed.identifier);
        realm->deleteObject(*again);
    });
    packages->setPackageObject(doomed, true, std::nullopt, 0);
    EXPECT_FALSE(ZMRPackage::objectForPrimaryKey(doomed.identifier));
}

TEST_F(ZMRPackagesTest, UpdateAllMarksEachPackageWithItsOwnOperationInOneTransaction) {
    size_t commits = 0;
    auto token = ZMRPackage::allObjects().addNotificationBlock([&](const Results<ZMRPackage>&) { ++commits; });
    TestSupport::pumpMainLoop();
    commits = 0;

    size_t expected = 0;
    for (const auto& p : model)
        if (p.isUpdated == true && p.isHeld == false) ++expected;
    ASSERT_GT(expected, 5u);
    EXPECT_EQ(packages->setPackagesWhere("isUpdated = 1 AND isHeld = 0", true, std::nullopt, 0), expected);
    TestSupport::waitUntil([&] { return commits > 0; }, std::chrono::seconds(2));
    TestSupport::pumpMainLoop();
    EXPECT_EQ(commits, 1u);

    auto queued = ZMRPackage::objectsWhere("isInTheQueue = 1").toVector();
    EXPECT_EQ(queued.size(), expected);
    for (const auto& p : queued) EXPECT_EQ(p.queueOperation, ZMRQueueOperationUpgrade) << p.identifier;

    EXPECT_EQ(packages->setPackagesWhere("isInTheQueue = 1", false, std::nullopt, 0), expected);
    EXPECT_EQ(ZMRPackage::objectsWhere("isInTheQueue = 1 OR queueOperation > 0").count(), 0u);

    // A predicate with arguments; a hostile value is only a value.
    size_t inGamma = 0;
    for (const auto& p : model) inGamma += p.sourceLocation == kSources[2];
    EXPECT_EQ(packages->setPackagesWhere(Predicate("sourceLocation = %@", {RealmValue(kSources[2])}), true,
                                         std::nullopt, ZMRQueueOperationRemove),
              inGamma);
    EXPECT_EQ(ZMRPackage::objectsWhere("isInTheQueue = 1 AND queueOperation = 2").count(), inGamma);
    EXPECT_EQ(packages->setPackagesWhere(Predicate("sourceLocation = %@", {RealmValue("x' OR 1=1 --")}), true,
                                         std::nullopt, 0),
              0u);
}

TEST_F(ZMRPackagesTest, CategoriesCacheHoldsTheListInOrderAndAnnouncesItOnTheMainThread) {
    EXPECT_FALSE(packages->arrayOfPackagesCategories().has_value()) << "nothing before the first rebuild";

    packages->rebuildDictOfNewPackages();
    auto [dates, groups] = expectedGroups(false, false);
    ASSERT_FALSE(dates.empty());
    uint64_t updates = 0;
    std::set<std::string> sections;
    for (const auto& p : model) {
        if (p.isUpdated == true && p.isHeld == false) ++updates;
        sections.insert(p.category);
    }

    std::atomic<int> posted{0};
    std::atomic<bool> onMain{false};
    nlohmann::json info;
    auto token = NotificationCenter::defaultCenter().addObserver(
        "DoneRebuildingPackagesCache", NotificationCenter::Queue::Posting, [&](const Notification& n) {
            onMain = Dispatch::isMainThread();
            info = n.userInfo;
            EXPECT_FALSE(n.hasObject());
            ++posted;
        });
    packages->rebuildPackagesCategoriesCache();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return posted > 0; }));
    EXPECT_TRUE(onMain);
    EXPECT_EQ(info.value(ZMRUpdatesCountKey, uint64_t{999999}), updates);
    EXPECT_EQ(packages->updatesCount(), updates);

    Strings expected = {"__ALL_PACKAGES__", "__INSTALLED_PACKAGES__",
                        "Updated Packages (" + std::to_string(updates) + ")",
                        "New Packages (" + std::to_string(groups[dates.front()].size()) + ")", "Browse Repositories"};
    expected.insert(expected.end(), sections.begin(), sections.end());
    EXPECT_EQ(packages->arrayOfPackagesCategories().value_or(Strings{}), expected);
}

TEST_F(ZMRPackagesTest, CategoryRowsGoThroughTheStringTable) {
    TestSupport::TempDir resources;
    std::filesystem::create_directories(resources.path() + "/Localization/xx");
    TestSupport::writeFile(resources.path() + "/Localization/xx/Localizable.json",
                           R"json({"Updated Packages (%lu)": "Mises à jour (%lu)", "New Packages (%lu)": "Nouveautés (%lu)",
                               "Browse Repositories": "Dépôts", "GET": "OBTENIR"})json");
    const std::string previous = ZMPaths::resourcesDirectory();
    ZMPaths::setResourcesDirectory(resources.path());
    ZMLocalization::setLanguage("xx");
    ZMLocalization::reload();
    packages->rebuildPackagesCategoriesCacheNow();
    auto list = packages->arrayOfPackagesCategories().value_or(Strings{});
    const std::string free = [&] {
        for (const auto& p : model)
            if (p.isInstalled == false && p.isInWishlist != true) return p.identifier;
        return std::string();
    }();
    std::string title = packages->getButtonTitleForPackageIdentifier(free, true, true, false, std::nullopt);
    ZMPaths::setResourcesDirectory(previous);
    ZMLocalization::setLanguage("en");
    ZMLocalization::reload();
    ASSERT_GE(list.size(), 5u);
    EXPECT_EQ(list[0], "__ALL_PACKAGES__") << "identifiers are not translated";
    EXPECT_EQ(list[2].rfind("Mises à jour (", 0), 0u) << list[2];
    EXPECT_EQ(list[3], "Nouveautés (0)") << "no new-packages rebuild yet";
    EXPECT_EQ(list[4], "Dépôts");
    EXPECT_EQ(title, "OBTENIR");
}

TEST_F(ZMRPackagesTest, SubcategoriesSourceCategoriesAndCounts) {
    std::set<std::string> subs, sourceSections;
    std::set<std::string> wishlist, installed;
    uint64_t installedInBeta = 0;
    for (const auto& p : model) {
        if (p.category == "Tweaks" && !p.subcategory.empty()) subs.insert(p.subcategory);
        if (p.sourceLocation == kSources[1]) {
            sourceSections.insert(p.category);
            if (p.isInstalled == true) ++installedInBeta;
        }
        if (p.isInWishlist == true) wishlist.insert(p.identifier);
        if (p.isInstalled == true) installed.insert(p.identifier);
    }
    EXPECT_EQ(packages->arrayOfSubcategoriesOfCategory("Tweaks"), Strings(subs.begin(), subs.end()));
    EXPECT_TRUE(packages->arrayOfSubcategoriesOfCategory("No Such Section").empty());
    EXPECT_EQ(packages->arrayOfSourceCategories(kSources[1]), Strings(sourceSections.begin(), sourceSections.end()));
    EXPECT_TRUE(packages->arrayOfSourceCategories("https://unknown.example/").empty());
    EXPECT_EQ(packages->countOfInstalledPackagesForSource(kSources[1]), installedInBeta);

    auto installedList = packages->arrayOfInstalledPackagesByIdentifier();
    EXPECT_EQ(std::set<std::string>(installedList.begin(), installedList.end()), installed);
    auto wishlistIds = packages->arrayOfPackagesInWishlist();
    EXPECT_EQ(std::set<std::string>(wishlistIds.begin(), wishlistIds.end()), wishlist);
    EXPECT_EQ(packages->countOfPackagesInWishlist(), wishlist.size());
    // Database order: the order the generator stored them in.
    Strings inModelOrder;
    for (const auto& p : model)
        if (wishlist.count(p.identifier)) inModelOrder.push_back(p.identifier);
    EXPECT_EQ(wishlistIds, inModelOrder);
}

TEST_F(ZMRPackagesTest, NewPackagesAreGroupedByDateNewestFirstAndFollowTheCompatibilityPreference) {
    EXPECT_TRUE(packages->arrayOfInitialDateStr()->empty());

    packages->rebuildDictOfNewPackages();
    auto [dates, groups] = expectedGroups(false, false);
    EXPECT_EQ(*packages->arrayOfInitialDateStr(), dates);
    expectSameGroups(groups, *packages->dictionaryOfNewPackagesByDateStr());
    size_t hiddenIncompatible = 0;
    for (const auto& [date, ids] : *packages->dictionaryOfNewPackagesByDateStr())
        for (const auto& id : ids)
            if (fetch(id).tweakCompatibleStatus == 1) ++hiddenIncompatible;
    EXPECT_EQ(hiddenIncompatible, 0u);

    preferences().setValue("ShowIncompatiblePackages", true);
    packages->rebuildDictOfNewPackages();
    auto [allDates, allGroups] = expectedGroups(false, true);
    expectSameGroups(allGroups, *packages->dictionaryOfNewPackagesByDateStr());

    preferences().setValue("ShowIncompatiblePackages", false);
    packages->rebuildDictOfNewPackagesVersions();
    auto [versionDates, versionGroups] = expectedGroups(true, false);
    expectSameGroups(versionGroups, *packages->dictionaryOfNewPackagesVersionsByDateStr());
    EXPECT_EQ(*packages->arrayOfInitialDateStr(), versionDates) << "the dates of the last rebuild of either kind";
    EXPECT_EQ(packages->newPackagesVersionsGroups()->dates, versionDates);
    EXPECT_EQ(packages->newPackagesGroups()->dates, allDates) << "each kind keeps its own dates with its groups";

    // Both from one reading, under either preference: the same lists, and the new packages' dates left.
    for (const bool showIncompatible : {false, true}) {
        preferences().setValue("ShowIncompatiblePackages", showIncompatible);
        packages->rebuildDictsOfNewPackagesAndVersions();
        auto [bothDates, bothGroups] = expectedGroups(false, showIncompatible);
        auto [bothVersionDates, bothVersionGroups] = expectedGroups(true, showIncompatible);
        expectSameGroups(bothGroups, *packages->dictionaryOfNewPackagesByDateStr());
        expectSameGroups(bothVersionGroups, *packages->dictionaryOfNewPackagesVersionsByDateStr());
        EXPECT_EQ(packages->newPackagesVersionsGroups()->dates, bothVersionDates) << showIncompatible;
        EXPECT_EQ(*packages->arrayOfInitialDateStr(), bothDates) << showIncompatible;
    }
}

TEST_F(ZMRPackagesTest, OddIdentifiersAndNamesSurviveTheNewPackagesLists) {
    ZMRPackage a, b, c;
    a.identifier = "odd.\x1f" "12\x1f" "x";
    a.name = "B\x1f" "3\x1f" "name";
    b.identifier = "odd.ünï";
    b.name = "A";
    c.identifier = "odd.noname";  // no name: sorts first
    for (auto* p : {&a, &b, &c}) p->updatedDateStr = "2030-01-01 00:00";
    store({a, b, c});
    packages->rebuildDictOfNewPackages();
    ASSERT_FALSE(packages->arrayOfInitialDateStr()->empty());
    EXPECT_EQ(packages->arrayOfInitialDateStr()->front(), "2030-01-01 00:00");
    EXPECT_EQ(packages->dictionaryOfNewPackagesByDateStr()->at("2030-01-01 00:00"),
              (Strings{"odd.noname", "odd.ünï", a.identifier}));
}

TEST_F(ZMRPackagesTest, ReadersNeverSeeAHalfBuiltDictionary) {
    // Two database states that differ in every group; every snapshot must be one of them, whole.
    packages->rebuildDictOfNewPackages();
    auto [datesA, groupsA] = expectedGroups(false, false);
    size_t totalA = 0;
    for (const auto& [d, ids] : groupsA) totalA += ids.size();
    preferences().setValue("ShowIncompatiblePackages", true);
    auto [datesB, groupsB] = expectedGroups(false, true);
    size_t totalB = 0;
    for (const auto& [d, ids] : groupsB) totalB += ids.size();
    ASSERT_NE(totalA, totalB);

    std::atomic<bool> stop{false};
    std::atomic<int> bad{0}, reads{0};
    std::thread writer([&] {
        for (int i = 0; i < 30; ++i) {
            preferences().setValue("ShowIncompatiblePackages", i % 2 == 0);
            packages->rebuildDictOfNewPackages();
            packages->rebuildDictOfNewPackagesVersions();
        }
        stop = true;
    });
    auto reader = [&] {
        while (!stop) {
            auto groups = packages->newPackagesGroups();
            auto dict = packages->dictionaryOfNewPackagesByDateStr();
            size_t total = 0, totalDict = 0;
            for (const auto& d : groups->dates) total += groups->identifiers.at(d).size();
            for (const auto& [d, ids] : *dict) totalDict += ids.size();
            if ((total != totalA && total != totalB) || (totalDict != totalA && totalDict != totalB) ||
                groups->dates.size() != groups->identifiers.size())
                ++bad;
            auto dates = packages->arrayOfInitialDateStr();
            if (dates->size() > 0 && std::set<std::string>(dates->begin(), dates->end()).size() != dates->size()) ++bad;
            ++reads;
        }
    };
    std::thread r1(reader), r2(reader);
    writer.join();
    r1.join();
    r2.join();
    EXPECT_GT(reads, 10);
    EXPECT_EQ(bad, 0);
}

TEST_F(ZMRPackagesTest, GetButtonTitles) {
    ZMRPackage base;
    base.name = "Button";
    base.sourceLocation = kSources[0];
    auto make = [&](const std::string& id, auto change) {
        ZMRPackage p = base;
        p.identifier = id;
        change(p);
        store({p});
        return id;
    };
    const auto queued = make("b.queued", [](ZMRPackage& p) { p.isInTheQueue = true, p.isInstalled = true; });
    const auto update = make("b.update", [](ZMRPackage& p) { p.isInstalled = true, p.isUpdated = true, p.isHeld = false; });
    const auto held = make("b.held", [](ZMRPackage& p) { p.isInstalled = true, p.isUpdated = true, p.isHeld = true; });
    const auto installed = make("b.installed", [](ZMRPackage& p) { p.isInstalled = true; });
    const auto paid = make("b.paid", [](ZMRPackage& p) { p.price = "$1.99"; });
    const auto bought = make("b.bought", [](ZMRPackage& p) { p.price = "$1.99", p.isPaidThroughSileo = true; });
    const auto free = make("b.free", [](ZMRPackage& p) { p.price = "Free"; });
    struct Case {
        std::string id;
        bool showsPrice, available, owned;
        std::optional<std::string> price;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {queued, true, false, true, "$5", "QUEUED"},
        {update, true, false, false, std::nullopt, "UNAVAILABLE"},
        {"b.missing", true, true, false, std::nullopt, "UNAVAILABLE"},
        {update, true, true, false, std::nullopt, "UPDATE"},
        {held, true, true, false, std::nullopt, "UNINSTALL"},
        {installed, true, true, true, "$5", "UNINSTALL"},
        {paid, true, true, true, std::nullopt, "OWNED"},
        {bought, true, true, false, std::nullopt, "OWNED"},
        {paid, true, true, false, std::nullopt, "$1.99"},
        {paid, true, true, false, std::string("$2.49"), "$2.49"},
        {paid, false, true, false, std::nullopt, "GET"},
        {free, true, true, false, std::nullopt, "GET"},
        {free, true, true, false, std::string("0.00"), "GET"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(packages->getButtonTitleForPackageIdentifier(c.id, c.showsPrice, c.available, c.owned, c.price),
                  c.expected)
            << c.id << " showsPrice " << c.showsPrice << " available " << c.available << " owned " << c.owned;
}

TEST_F(ZMRPackagesTest, APriceReadsTheSameFromTheIndexAndFromTheStore) {
    struct Case {
        const char* text;
        const char* shown;
    };
    for (const auto& c : std::vector<Case>{{"34.99", "$34.99"},
                                           {"$34.99", "$34.99"},
                                           {" 34.99\n", "$34.99"},
                                           {"3", "$3"},
                                           {"$ 3.50", "$3.50"},
                                           {"\u20ac4,99", "\u20ac4,99"},
                                           {"1.99 USD", "1.99 USD"},
                                           {"", ""}})
        EXPECT_EQ(ZMRPackages::formattedPrice(c.text), c.shown) << c.text;
    // The Get button of a package priced "$34.99" in its index keeps that
    // text when the store answers "34.99".
    ZMRPackage p;
    p.identifier = "b.priced";
    p.price = "$34.99";
    store({p});
    EXPECT_EQ(packages->getButtonTitleForPackageIdentifier("b.priced", true, true, false, std::nullopt), "$34.99");
    EXPECT_EQ(packages->getButtonTitleForPackageIdentifier("b.priced", true, true, false, std::string("34.99")), "$34.99");
}

TEST_F(ZMRPackagesTest, CategoryIconOfAPackageAndItsIconPath) {
    ZMRPackage p;
    p.identifier = "icon.addon";
    p.category = "Addons (SpringBoard)";
    store({p});
    EXPECT_EQ(packages->getCategoryIconForIdentifier("icon.addon"), "Categories/Addons");
    EXPECT_EQ(packages->getCategoryIconForIdentifier("icon.missing"), "Categories/Default");
    packages->setImageLookup([](const std::string& name) { return name == "Categories/Addons (SpringBoard)"; });
    EXPECT_EQ(packages->getCategoryIconForIdentifier("icon.addon"), "Categories/Addons (SpringBoard)");

    auto path = packages->iconPath("icon.addon");
    ASSERT_TRUE(path);
    EXPECT_EQ(path->rfind(ZMPaths::subdirectory("IconCache") + "/", 0), 0u);
    EXPECT_FALSE(packages->iconPath("icon.missing"));
}

}  // namespace
