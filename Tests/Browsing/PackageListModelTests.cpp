// The list kinds: which packages each holds, in which order and sections.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QLocale>

#include <set>

#include "Browsing/BrowsingFixture.h"
#include "Browsing/PackageListModel.h"
#include "Database/ZMCategorySpecial.h"

using BrowsingFixture::kSources;

namespace {

class PackageListModelTest : public BrowsingFixture::Database {
protected:
    void SetUp() override {
        Database::SetUp();
        storeGenerated(320);
    }

    static std::vector<std::string> allRows(const PackageListModel& m) {
        std::vector<std::string> out;
        for (int s = 0; s < m.numberOfSections(); ++s)
            for (int r = 0; r < m.numberOfRows(s); ++r) out.push_back(*m.identifierAt(s, r));
        return out;
    }
    static std::vector<std::string> ids(const std::vector<const ZMRPackage*>& ps) {
        std::vector<std::string> out;
        for (auto* p : ps) out.push_back(p->identifier);
        return out;
    }
    static bool compatible(const ZMRPackage& p) { return p.tweakCompatibleStatus.value_or(0) != 1; }
    static bool startsWithCyPlus(const std::string& name) {
        return name.size() >= 3 && (name[0] == 'c' || name[0] == 'C') && (name[1] == 'y' || name[1] == 'Y') && name[2] == '+';
    }
    std::vector<std::string> resultIds(const PackageListModel& m) {
        std::vector<std::string> out;
        for (const auto& j : m.packages()->valueForKey("identifier")) out.push_back(j.get<std::string>());
        return out;
    }
};

TEST_F(PackageListModelTest, AllPackagesGroupByCapitalisedFirstCharacterWithIndex) {
    PackageListModel m;
    m.category = kCategorySpecial_AllPackages;
    m.rebuild();
    EXPECT_EQ(m.sortCriteria(), "name");
    EXPECT_TRUE(m.showsSortButton());
    // The locale's order of the names, whatever their case: digits, then the
    // letters with their accented forms; small letters join the capitals' sections.
    const std::vector<std::string> expectedSections = {"9", "A", "B", "C", "É", "Z"};
    EXPECT_EQ(m.sections(), expectedSections);
    ASSERT_TRUE(m.indexTitles().has_value());
    EXPECT_EQ(*m.indexTitles(), expectedSections);

    auto order = displayOrder(compatible, [](const ZMRPackage& p) { return p.name; });
    std::map<std::string, std::vector<std::string>> expectedRows;
    for (auto* p : order) {
        std::string letter = p->name.substr(0, 1) == "\xC3" ? std::string("É") : std::string(1, std::toupper(p->name[0]));
        expectedRows[letter].push_back(p->identifier);
    }
    for (int s = 0; s < m.numberOfSections(); ++s) {
        SCOPED_TRACE(m.sections()[s]);
        EXPECT_EQ(m.headerTitle(s), m.sections()[s]);
        EXPECT_EQ(m.sectionsDictionary().at(m.sections()[s]), expectedRows[m.sections()[s]]);
    }
    // Section "A" mixes the cases in the order of the letters: "Alpha…" rows before "alpine…" ones, by the "h".
    const auto& a = m.sectionsDictionary().at("A");
    auto firstSmall = std::find_if(a.begin(), a.end(), [&](const std::string& id) {
        return ZMRPackage::objectForPrimaryKey(id)->name[0] == 'a';
    });
    EXPECT_NE(firstSmall, a.begin());
    EXPECT_NE(firstSmall, a.end());

    // Incompatible packages only with "ShowIncompatiblePackages", read anew at the next rebuild.
    EXPECT_EQ(allRows(m).size(), order.size());
    EXPECT_EQ(m.numberOfRows(m.numberOfSections()), 0);
    EXPECT_FALSE(m.identifierAt(0, 100000).has_value());
    preferences().setValue(VostrellePreferenceKey::ShowIncompatiblePackages, true);
    m.rebuild();
    EXPECT_EQ(allRows(m).size(), generated.size());
}

TEST_F(PackageListModelTest, SortPreferenceChoosesTheKeyPath) {
    PackageListModel installed, all;
    installed.category = kCategorySpecial_InstalledPackages;
    all.category = kCategorySpecial_AllPackages;
    const std::vector<std::tuple<std::optional<std::string>, std::string, std::string>> cases = {
        {std::nullopt, "name", "name"},           {"Category", "category", "category"},
        {"Maintainer", "maintainer", "maintainer"}, {"Name", "name", "name"},
        {"Source", "sourceLocation", "sourceLocation"}, {"InstallDate", "installDate", "name"},
        {"Size", "name", "name"},
    };
    for (const auto& [value, inInstalled, elsewhere] : cases) {
        SCOPED_TRACE(value.value_or("(none)"));
        if (value) preferences().setValue(VostrellePreferenceKey::SortInstalledPackagesBy, *value);
        else preferences().removeObjectForKey(VostrellePreferenceKey::SortInstalledPackagesBy);
        EXPECT_EQ(installed.sortPropertyForPrefs(), inInstalled);
        EXPECT_EQ(all.sortPropertyForPrefs(), elsewhere);
    }
}

TEST_F(PackageListModelTest, InstalledListByInstallDateNewestFirstPerSecondWithUndatedKept) {
    preferences().setValue(VostrellePreferenceKey::SortInstalledPackagesBy, "InstallDate");
    PackageListModel m;
    m.category = kCategorySpecial_InstalledPackages;
    m.rebuild();
    EXPECT_EQ(m.sortCriteria(), "installDate");
    EXPECT_FALSE(m.indexTitles().has_value());

    auto keep = [](const ZMRPackage& p) { return p.isInstalled.value_or(false) && !startsWithCyPlus(p.name); };
    size_t expectedCount = 0, undated = 0;
    std::map<std::string, size_t> perSecond;
    for (const auto& p : generated) {
        if (!keep(p)) continue;
        ++expectedCount;
        if (!p.installDate) ++undated;
        else ++perSecond[QDateTime::fromSecsSinceEpoch(static_cast<qint64>(*p.installDate)).toString("dd-MM-yyyy HH:mm:ss").toStdString()];
    }
    ASSERT_GT(undated, 0u);
    // Incompatible packages stay in the installed list; cy+ packages do not.
    EXPECT_EQ(allRows(m).size(), expectedCount);
    ASSERT_EQ(m.numberOfSections(), static_cast<int>(perSecond.size()) + 1);
    EXPECT_EQ(m.sections().back(), "Unknown");
    EXPECT_EQ(m.numberOfRows(m.numberOfSections() - 1), static_cast<int>(undated));
    QDateTime previous;
    for (int s = 0; s + 1 < m.numberOfSections(); ++s) {
        QDateTime when = QDateTime::fromString(QString::fromStdString(m.sections()[s]), "dd-MM-yyyy HH:mm:ss");
        ASSERT_TRUE(when.isValid()) << m.sections()[s];
        if (previous.isValid()) { EXPECT_LT(when, previous); }
        previous = when;
        EXPECT_EQ(static_cast<size_t>(m.numberOfRows(s)), perSecond[m.sections()[s]]);
    }
    // Several packages were installed within one second: a section holds them all.
    EXPECT_TRUE(std::any_of(perSecond.begin(), perSecond.end(), [](const auto& kv) { return kv.second > 1; }));
}

TEST_F(PackageListModelTest, FieldGroupingsAscendingAndWithoutValueInNoSection) {
    for (auto [pref, field] : std::vector<std::pair<std::string, std::string>>{
             {"Source", "sourceLocation"}, {"Category", "category"}, {"Maintainer", "maintainer"}}) {
        SCOPED_TRACE(pref);
        preferences().setValue(VostrellePreferenceKey::SortInstalledPackagesBy, pref);
        PackageListModel m;
        m.category = kCategorySpecial_AllPackages;
        m.rebuild();
        EXPECT_EQ(m.sortCriteria(), field);
        EXPECT_FALSE(m.indexTitles().has_value());
        auto value = [&](const ZMRPackage& p) { return p.valueForKey(field).is_null() ? std::string() : p.valueForKey(field).get<std::string>(); };
        auto order = displayOrder(compatible, value);
        std::vector<std::string> expectedSections;
        std::map<std::string, std::vector<std::string>> expectedRows;
        for (auto* p : order) {
            const std::string v = value(*p);
            if (v.empty()) continue;
            if (expectedRows[v].empty()) expectedSections.push_back(v);
            expectedRows[v].push_back(p->identifier);
        }
        EXPECT_EQ(m.sections(), expectedSections);
        for (const auto& section : expectedSections) EXPECT_EQ(m.sectionsDictionary().at(section), expectedRows[section]);
        if (field == "sourceLocation") {
            std::vector<std::string> sortedSources = kSources;
            std::sort(sortedSources.begin(), sortedSources.end());
            EXPECT_EQ(m.sections(), sortedSources);
            EXPECT_LT(allRows(m).size(), order.size());  // packages without a source are in no section
        }
    }
}

TEST_F(PackageListModelTest, QueriesOfEveryKind) {
    auto expectKind = [&](PackageListModel& m, const std::function<bool(const ZMRPackage&)>& keep) {
        m.rebuild();
        auto order = expectedOrder(keep, [](const ZMRPackage& p) { return p.name; });
        EXPECT_EQ(resultIds(m), ids(order));
        EXPECT_EQ(allRows(m).size(), order.size());
    };
    {
        SCOPED_TRACE("source, all packages");
        PackageListModel m;
        m.category = kCategorySpecial_SourcePackages;
        m.subcategory = "All Packages";
        m.sourceLocation = kSources[1];
        expectKind(m, [](const ZMRPackage& p) { return p.sourceLocation == kSources[1] && compatible(p); });
    }
    {
        SCOPED_TRACE("source, one section");
        PackageListModel m;
        m.category = kCategorySpecial_SourcePackages;
        m.subcategory = "Themes";
        m.sourceLocation = kSources[0];
        expectKind(m, [](const ZMRPackage& p) { return p.sourceLocation == kSources[0] && p.category == "Themes" && compatible(p); });
    }
    {
        SCOPED_TRACE("a special identifier with a subcategory is a section list");
        PackageListModel m;
        m.category = kCategorySpecial_InstalledPackages;
        m.subcategory = "Sub 1";
        expectKind(m, [](const ZMRPackage&) { return false; });
        PackageListModel section;
        section.category = "Ünïcode";
        section.subcategory = "Sub 1";
        expectKind(section, [](const ZMRPackage& p) { return p.category == "Ünïcode" && p.subcategory == "Sub 1" && compatible(p); });
    }
    {
        SCOPED_TRACE("updated");
        PackageListModel m;
        m.category = kCategorySpecial_UpdatedPackages;
        expectKind(m, [](const ZMRPackage& p) { return p.isUpdated.value_or(false) && !p.isHeld.value_or(false) && p.isHeld.has_value(); });
    }
    {
        SCOPED_TRACE("purchased, all and one source");
        PackageListModel m;
        m.category = kCategorySpecial_SileoPackages;
        expectKind(m, [](const ZMRPackage& p) { return p.isPaidThroughSileo.value_or(false); });
        m.sourceLocation = kSources[2];
        expectKind(m, [](const ZMRPackage& p) { return p.isPaidThroughSileo.value_or(false) && p.sourceLocation == kSources[2]; });
    }
    {
        SCOPED_TRACE("search by name without cy+, then by maintainer");
        PackageListModel m;
        m.category = kCategorySpecial_Search;
        m.search = "CY";
        expectKind(m, [](const ZMRPackage& p) {
            return p.name.find("Cy") != std::string::npos && !startsWithCyPlus(p.name) && compatible(p);
        });
        m.search = "veloper 7";
        expectKind(m, [](const ZMRPackage& p) {
            return p.maintainer.find("veloper 7") != std::string::npos && !startsWithCyPlus(p.name) && compatible(p);
        });
        m.search = "nothing like this";
        m.rebuild();
        EXPECT_EQ(m.numberOfSections(), 0);
    }
}

TEST_F(PackageListModelTest, IdentifierListsAreBoundIncludingQuotesCaseAndEmpty) {
    ZMRPackage quoted;
    quoted.identifier = "com.o'brien.tweak";
    quoted.name = "O'Brien";
    ZMRPackage injection;
    injection.identifier = "x') OR 1=1 --";
    injection.name = "Injection";
    store({quoted, injection});

    PackageListModel source;
    source.category = kCategorySpecial_NewPackagesFromFollowedSource;
    source.newsSourcePackagesToShow = {"COM.O'BRIEN.TWEAK", "com.gen.pkg3", "com.missing"};
    source.rebuild();
    std::vector<std::string> rows = allRows(source);
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<std::string>{"com.gen.pkg3", "com.o'brien.tweak"}));

    source.newsSourcePackagesToShow = {"x') OR 1=1 --"};
    source.rebuild();
    EXPECT_EQ(allRows(source), std::vector<std::string>{"x') OR 1=1 --"});

    source.newsSourcePackagesToShow.clear();
    source.rebuild();
    EXPECT_EQ(source.numberOfSections(), 0);

    PackageListModel developer;
    developer.category = kCategorySpecial_NewPackagesFromFollowedDeveloper;
    developer.rebuild();  // no developer at all
    EXPECT_EQ(developer.numberOfSections(), 0);
    developer.followedDeveloperNewPackages = std::vector<std::string>{"com.gen.pkg10", "com.gen.pkg11"};
    developer.rebuild();
    EXPECT_EQ(allRows(developer).size(), 2u);
}

TEST_F(PackageListModelTest, NewPackagesKindsByDateNewestFirstFromOneSnapshot) {
    PackageListModel m;
    m.category = kCategorySpecial_NewPackages;
    m.rebuild();
    EXPECT_FALSE(m.showsSortButton());
    EXPECT_FALSE(m.indexTitles().has_value());
    std::vector<std::string> dates;
    std::map<std::string, size_t> counts;
    for (const auto& p : generated)
        if (!p.updatedDateStr.empty() && compatible(p)) ++counts[p.updatedDateStr];
    for (auto it = counts.rbegin(); it != counts.rend(); ++it) dates.push_back(it->first);
    EXPECT_EQ(m.sections(), dates);
    for (int s = 0; s < m.numberOfSections(); ++s) EXPECT_EQ(static_cast<size_t>(m.numberOfRows(s)), counts[m.sections()[s]]);
    const QDateTime first = QDateTime::fromString(QString::fromStdString(dates[0]), "yyyy-MM-dd HH:mm");
    EXPECT_EQ(m.headerTitle(0), (QLocale().toString(first.date(), QLocale::LongFormat) + " " +
                                 QLocale().toString(first.time(), QLocale::ShortFormat)).toStdString());

    // A later rebuild of the other kind does not change this list's dates under it.
    PackageListModel versions;
    versions.category = kCategorySpecial_NewPackagesVersions;
    versions.rebuild();
    for (int s = 0; s < m.numberOfSections(); ++s) EXPECT_GT(m.numberOfRows(s), 0);
    for (int s = 0; s < versions.numberOfSections(); ++s) {
        for (int r = 0; r < versions.numberOfRows(s); ++r)
            EXPECT_TRUE(ZMRPackage::objectForPrimaryKey(*versions.identifierAt(s, r))->hasNewVersion.value_or(false));
    }
}

TEST_F(PackageListModelTest, NamelessInstalledPackageStaysInTheGroupedLists) {
    ZMRPackage nameless;
    nameless.identifier = "com.example.nameless";
    nameless.isInstalled = true;  // no name, no install date
    store({nameless});
    for (const std::string sort : {"Name", "InstallDate"}) {
        SCOPED_TRACE(sort);
        preferences().setValue(VostrellePreferenceKey::SortInstalledPackagesBy, sort);
        PackageListModel m;
        m.category = kCategorySpecial_InstalledPackages;
        m.rebuild();
        auto rows = allRows(m);
        EXPECT_NE(std::find(rows.begin(), rows.end(), nameless.identifier), rows.end());
        const std::string expectedSection = sort == "Name" ? "#" : "Unknown";
        const auto& bucket = m.sectionsDictionary().at(expectedSection);
        EXPECT_NE(std::find(bucket.begin(), bucket.end(), nameless.identifier), bucket.end());
    }
}

}  // namespace
