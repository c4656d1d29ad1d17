#include <QCheckBox>
#include <QTest>
#include <filesystem>
#include <mutex>
#include <set>

#include "UIKit/UINavigationController.h"

#include "InitViewController.h"
#include "QueueScreensFixture.h"
#include "RootViewController.h"
#include "SettingsPlistViewController.h"
#include "ZMAPTSourcesImport.h"
#include "ZMPaletteManager.h"

namespace {

std::set<std::string> keysOf(const RootViewController& screen) {
    std::set<std::string> keys;
    for (const auto& s : screen.sections())
        for (const auto& r : s.rows)
            if (r.item.contains("key")) keys.insert(r.item["key"].get<std::string>());
    return keys;
}

class SettingsTest : public QueueScreens::Fixture {};

}  // namespace

TEST_F(SettingsTest, TheSettingsListOffersEverySetting) {
    SettingsPlistViewController settings;
    ASSERT_TRUE(settings.isLoaded());
    EXPECT_TRUE(keysOf(settings).count(kZMThemeStylePreferenceKey));
    // Each setting's default in the list is the program's own default.
    const auto& defaults = VostrellePersistentPreferences::defaults();
    for (const auto& s : settings.sections())
        for (const auto& r : s.rows) {
            if (!r.item.contains("key") || !defaults.contains(r.item["key"])) continue;
            EXPECT_EQ(r.item["default"], defaults[r.item["key"].get<std::string>()]) << r.item["key"];
        }
}

TEST_F(SettingsTest, ASwitchWritesItsPreference) {
    auto* settings = new SettingsPlistViewController;
    root->presentViewController(settings, false);
    auto& prefs = VostrellePersistentPreferences::sharedInstance();
    auto ip = settings->indexPathForKey("HidePackageVersion");
    ASSERT_TRUE(ip);
    EXPECT_FALSE(prefs.boolForKey("HidePackageVersion"));
    EXPECT_EQ(settings->labelForRow(*ip), "Hide Package Version");
    settings->tableView()->scrollToRow(*ip, UITableView::ScrollPosition::Middle, false);
    GuiTest::pump();
    auto* cell = settings->tableView()->cellForRow(*ip);
    ASSERT_NE(cell, nullptr);
    auto* toggle = cell->findChild<QCheckBox*>("toggle");
    ASSERT_NE(toggle, nullptr);
    EXPECT_FALSE(toggle->isChecked());
    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_TRUE(prefs.boolForKey("HidePackageVersion"));
    // A default-on switch turns off.
    auto large = settings->indexPathForKey("prefersLargeTitles");
    ASSERT_TRUE(large);
    settings->selectRow(*large);
    EXPECT_FALSE(prefs.boolForKey("prefersLargeTitles"));
    // The file gets it too.
    ASSERT_TRUE(prefs.saveToFile());
    PersistentDictionary reread(prefs.path());
    EXPECT_TRUE(reread.boolForKey("HidePackageVersion"));
    EXPECT_FALSE(reread.boolForKey("prefersLargeTitles"));
}

TEST_F(SettingsTest, ChoicesShowTheirValueAndTheThemeAppliesAtOnce) {
    auto* settings = new SettingsPlistViewController;
    root->presentViewController(settings, false);
    auto sort = settings->indexPathForKey("SortInstalledPackagesBy");
    ASSERT_TRUE(sort);
    EXPECT_EQ(settings->detailForRow(*sort), "Name");
    auto* sheet = settings->choiceSheet(*sort);
    ASSERT_NE(sheet, nullptr);
    settings->presentViewController(sheet, false);
    sheet->performAction(2);  // Install Date
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        return VostrellePersistentPreferences::sharedInstance().stringForKey("SortInstalledPackagesBy") ==
               std::optional<std::string>("InstallDate");
    }));
    EXPECT_EQ(settings->detailForRow(*sort), "Install Date");

    auto theme = settings->indexPathForKey(kZMThemeStylePreferenceKey);
    ASSERT_TRUE(theme);
    EXPECT_EQ(settings->detailForRow(*theme), "Light");
    sheet = settings->choiceSheet(*theme);
    settings->presentViewController(sheet, false);
    sheet->performAction(3);  // Pure Black
    ASSERT_TRUE(GuiTest::waitUntil([] { return ZMPaletteManager::sharedManager().activeStyle() == ZMPalette::PureBlack; }));
    EXPECT_EQ(SettingsPlistViewController::storedThemeStyle(), 3);
    EXPECT_EQ(settings->detailForRow(*theme), "Pure Black");
    ZMPaletteManager::sharedManager().setStyle(ZMPalette::Light);
}

TEST_F(SettingsTest, RowsRunTheirOperationsAndValuesComeFromTextOperations) {
    auto* settings = new SettingsPlistViewController;
    auto* nav = new UINavigationController(settings);
    root->presentViewController(nav, false);
    bool versionFound = false;
    for (int s = 0; s < static_cast<int>(settings->sections().size()); ++s)
        for (int r = 0; r < static_cast<int>(settings->sections()[s].rows.size()); ++r)
            if (settings->labelForRow({s, r}) == "Version") {
                EXPECT_EQ(settings->detailForRow({s, r}), VOSTRELLE_VERSION);
                versionFound = true;
            }
    EXPECT_TRUE(versionFound);
    EXPECT_TRUE(settings->performAction("openChangelog"));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return nav->viewControllers().size() == 2; }));
    auto* changelog = dynamic_cast<ChangelogViewController*>(nav->topViewController());
    ASSERT_NE(changelog, nullptr);
    EXPECT_TRUE(changelog->isLoaded());
    EXPECT_EQ(changelog->title(), "Changelog");
    ASSERT_FALSE(changelog->sections().empty());
    EXPECT_EQ(changelog->sections()[0].header, VOSTRELLE_VERSION);  // the running version's entry comes first
    EXPECT_FALSE(settings->performAction("noSuchOperation"));
}

TEST_F(SettingsTest, BrokenOrForeignListsLoadNothing) {
    for (const char* name : {"NoSuchList", "../Localization/en/Localizable", ""})
        EXPECT_FALSE(RootViewController::loadSections(name)) << name;
    RootViewController missing("NoSuchList");
    EXPECT_FALSE(missing.isLoaded());
    EXPECT_TRUE(missing.sections().empty());
}

// ---- first run ----------------------------------------------------------------------

namespace {

class FirstRunTest : public QueueScreens::Fixture {
protected:
    TestSupport::TempDir etc;
    std::string previousEtc;
    std::mutex mutex;
    std::vector<std::string> refreshed;
    std::vector<std::string> refreshedSoFar() {
        std::lock_guard lock(mutex);
        return refreshed;
    }
    void SetUp() override {
        Fixture::SetUp();
        previousEtc = ZMAPTSourcesImport::etcDirectory();
        std::filesystem::create_directories(etc.path() + "/sources.list.d");
        TestSupport::writeFile(etc.file("sources.list"),
                               "deb https://one.example.org/ ./\ndeb http://two.example.org/debian ./\n"
                               "deb http://deb.example.org/debian bookworm main contrib\n");
        ZMAPTSourcesImport::setEtcDirectory(etc.path());
        ZMRSources::setReachabilityHook([] { return true; });
        ZMRPackageManager::sharedPackageManager().sources().setRefreshTaskFactory(
            [this](const std::string& location) -> ZMTaskPtr {
                std::lock_guard lock(mutex);
                refreshed.push_back(location);
                return nullptr;
            });
    }
    void TearDown() override {
        GuiTest::pump(std::chrono::milliseconds(50));
        ZMRPackageManager::sharedPackageManager().sources().setRefreshTaskFactory(nullptr);
        ZMAPTSourcesImport::setEtcDirectory(previousEtc);
        ZMRSources::setReachabilityHook(nullptr);
        Fixture::TearDown();
    }
};

}  // namespace

TEST_F(FirstRunTest, TheFlowEndsWithSetupDoneTheChosenSourcesAndTheFirstRefresh) {
    ASSERT_TRUE(InitViewController::needsSetup());
    auto* init = new InitViewController;
    root->presentViewController(init, false);
    QTest::mouseClick(init->continueButton(), Qt::LeftButton);
    auto* dark = dynamic_cast<DarkmodeViewController*>(init->presentedViewController());
    ASSERT_NE(dark, nullptr);
    QTest::mouseClick(dark->styleButton(ZMPalette::Grey), Qt::LeftButton);
    EXPECT_EQ(SettingsPlistViewController::storedThemeStyle(), ZMPalette::Grey);
    ASSERT_TRUE(GuiTest::waitUntil([] { return ZMPaletteManager::sharedManager().activeStyle() == ZMPalette::Grey; }));
    QTest::mouseClick(dark->continueButton(), Qt::LeftButton);
    auto* transfer = dynamic_cast<RepoTransferViewController*>(dark->presentedViewController());
    ASSERT_NE(transfer, nullptr);
    EXPECT_EQ(transfer->locations(),
              (std::vector<std::string>{"https://one.example.org/", "http://two.example.org/debian/"}));
    ASSERT_EQ(transfer->listWidget()->count(), 2);
    transfer->listWidget()->item(0)->setCheckState(Qt::Unchecked);  // the user keeps only the second
    EXPECT_TRUE(InitViewController::needsSetup());  // not before the end
    QTest::mouseClick(transfer->doneButton(), Qt::LeftButton);

    EXPECT_FALSE(InitViewController::needsSetup());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return root->presentedViewController() == nullptr; }));
    ASSERT_TRUE(GuiTest::waitUntil([] { return ZMRSource::objectForPrimaryKey("http://two.example.org/debian/").has_value(); }));
    EXPECT_FALSE(ZMRSource::objectForPrimaryKey("https://one.example.org/").has_value());
    // The added source's refresh, then the first refresh of all sources.
    ASSERT_TRUE(GuiTest::waitUntil([&] { return refreshedSoFar().size() >= 1; }));
    for (const auto& location : refreshedSoFar()) EXPECT_EQ(location, "http://two.example.org/debian/");
    ZMPaletteManager::sharedManager().setStyle(ZMPalette::Light);
}

TEST_F(FirstRunTest, AlreadyConfiguredSourcesAreNotOfferedAgain) {
    realm->transactionWithBlock([&] {
        auto s = ZMRSource::newSourceWithLocation("https://one.example.org/");
        realm->add(s);
    });
    RepoTransferViewController transfer;
    EXPECT_EQ(transfer.locations(), (std::vector<std::string>{"http://two.example.org/debian/"}));
}
