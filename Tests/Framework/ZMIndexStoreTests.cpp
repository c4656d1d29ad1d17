// What a refresh of an index makes of an identifier it lists in several
// stanzas (as Debian lists linux-doc twice): the record takes the highest
// version, and its date and new-version mark change only when that version
// differs from the one stored, whatever order the stanzas come in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Database/ZMRPackage.h"
#include "Database/ZMRPackageManager.h"
#include "Database/ZMRSource.h"
#include "Realm/Realm.h"
#include "Support/TestSupport.h"
#include "VostrellePersistentPreferences.h"
#include "ZMSourceRefresh.h"

namespace {

constexpr const char* kLocation = "https://repo.example.org/";
constexpr const char* kOldDate = "2020-01-01 00:00";

struct Stanza {
    const char* version;
    const char* name;
};

class IndexStore : public ::testing::Test {
protected:
    TestSupport::IsolatedEnvironment env;
    TestSupport::TempDir dir;

    void SetUp() override {
        VostrellePersistentPreferences::resetForTesting();
        ZMRPackageManager::resetForTesting();
        auto realm = Realm::defaultRealm();
        realm->transactionWithBlock([&] {
            auto source = ZMRSource::newSourceWithLocation(kLocation);
            realm->add(source);
        });
    }
    void TearDown() override {
        ZMRPackageManager::resetForTesting();
        VostrellePersistentPreferences::resetForTesting();
    }

    ZMResult<ZMSourceRefreshSummary> store(const std::string& text) {
        const std::string path = dir.path() + "/Packages";
        TestSupport::writeFile(path, text);
        return ZMSourceRefresh::make(kLocation)->packagesFileParserFromPath(path);
    }
};

TEST_F(IndexStore, AnIdentifierListedTwiceIsDatedOnlyWhenItsVersionChanged) {
    struct Case {
        const char* what;
        std::vector<Stanza> before, after;
        bool markedBefore;    // hasNewVersion of the record before the second refresh
        const char* version;  // of the record afterwards
        const char* name;
        bool dated;           // by the second refresh
    };
    const std::vector<Case> cases = {
        {"lower first, unchanged", {{"1.0", "A"}, {"1.1", "B"}}, {{"1.0", "A"}, {"1.1", "B"}}, false, "1.1", "B", false},
        {"lower first, unchanged, marked by an earlier update", {{"1.0", "A"}, {"1.1", "B"}}, {{"1.0", "A"}, {"1.1", "B"}},
         true, "1.1", "B", false},
        {"highest in the middle, unchanged", {{"1.0", "A"}, {"1.2", "B"}, {"1.1", "C"}},
         {{"1.0", "A"}, {"1.2", "B"}, {"1.1", "C"}}, false, "1.2", "B", false},
        {"lower first, same version renamed", {{"1.0", "A"}, {"1.1", "B"}}, {{"1.0", "A"}, {"1.1", "D"}}, false, "1.1",
         "D", false},
        {"higher first, unchanged", {{"1.1", "B"}, {"1.0", "A"}}, {{"1.1", "B"}, {"1.0", "A"}}, false, "1.1", "B", false},
        {"listed once, unchanged", {{"1.0", "A"}}, {{"1.0", "A"}}, false, "1.0", "A", false},
        {"lower first, then a higher version", {{"1.0", "A"}, {"1.1", "B"}}, {{"1.0", "A"}, {"1.2", "E"}}, false, "1.2",
         "E", true},
        {"only the lower left", {{"1.0", "A"}, {"1.1", "B"}}, {{"1.0", "A"}}, false, "1.0", "A", true},
    };
    auto identifier = [](size_t i) { return "org.example.twice" + std::to_string(i); };
    auto index = [&](bool after) {
        std::string text;
        for (size_t i = 0; i < cases.size(); ++i)
            for (const Stanza& s : after ? cases[i].after : cases[i].before)
                text += "Package: " + identifier(i) + "\nVersion: " + s.version + "\nArchitecture: all\nName: " + s.name +
                        "\n\n";
        return text;
    };
    ASSERT_TRUE(store(index(false)));
    auto realm = Realm::defaultRealm();
    realm->transactionWithBlock([&] {
        for (size_t i = 0; i < cases.size(); ++i) {
            auto p = *realm->objectForPrimaryKey<ZMRPackage>(identifier(i));
            realm->setValueForKey(p, "updatedDateStr", kOldDate);
            realm->setValueForKey(p, "hasNewVersion", cases[i].markedBefore);
        }
    });

    auto second = store(index(true));
    ASSERT_TRUE(second) << second.error->debugDescription();
    size_t changed = 0;
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        auto p = ZMRPackage::objectForPrimaryKey(identifier(i));
        ASSERT_TRUE(p) << c.what;
        EXPECT_EQ(p->version, c.version) << c.what;
        EXPECT_EQ(p->name, c.name) << c.what;
        EXPECT_EQ(p->updatedDateStr != kOldDate, c.dated) << c.what << ": " << p->updatedDateStr;
        EXPECT_EQ(p->hasNewVersion.value_or(false), c.dated || c.markedBefore) << c.what;
        changed += c.dated;
    }
    EXPECT_EQ(second.value->changed, changed);
    EXPECT_EQ(second.value->added, 0u);
    EXPECT_TRUE(second.value->newIdentifiers.empty());
}

}  // namespace
