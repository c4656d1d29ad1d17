#include "Miscellaneous/ZMShareTexts.h"
#include "QueueScreensFixture.h"
#include "UIKit/UIActivityViewController.h"
#include "ZMPackageOptions.h"
#include "ZMPackageOptionsSheet.h"
#include "ZMPackageQueue.h"

namespace {

QStringList titles(UIAlertController* sheet) {
    QStringList out;
    for (const auto& a : sheet->actions()) out << a.title;
    return out;
}

class OptionsTest : public QueueScreens::Fixture {
protected:
    void SetUp() override {
        Fixture::SetUp();
        auto held = QueueScreens::package("com.example.held", "2.0", true, "1.0");
        held.isHeld = true;
        held.isUpdated = true;
        auto essential = QueueScreens::package("com.example.essential", "1.0", true);
        essential.isEssential = true;
        store({QueueScreens::package("com.example.absent", "2.0", false),
               QueueScreens::package("com.example.installed", "1.0", true), held, essential});
        storeVersion("com.example.absent", "1.0");
        storeVersion("com.example.absent", "2.0");
        storeVersion("com.example.installed", "1.0");
        storeVersion("com.example.held", "1.0");
        storeVersion("com.example.held", "2.0");
        storeVersion("com.example.held", "1.5");
    }
    void TearDown() override {
        ZMPackageOptionsSheet::setQueueFunction(nullptr);
        ZMPackageOptionsSheet::setHoldFunction(nullptr);
        Fixture::TearDown();
    }
};

}  // namespace

TEST_F(OptionsTest, EntriesFollowInstalledHeldAndAvailableVersions) {
    auto sheet = [&](const std::string& id) { return titles(ZMPackageOptionsSheet::optionsSheet(id, root)); };
    EXPECT_EQ(sheet("com.example.absent"), (QStringList{"Select Version", "Share", "Cancel"}));
    // Installed 1.0, only 1.0 offered: nothing else to pick.
    EXPECT_EQ(sheet("com.example.installed"),
              (QStringList{"Reinstall", "Uninstall", "Ignore Updates", "Share", "Cancel"}));
    EXPECT_EQ(sheet("com.example.held"),
              (QStringList{"Reinstall", "Uninstall", "Show Updates", "Select Version", "Share", "Cancel"}));
    // An essential package cannot be uninstalled.
    auto essentialSheet = sheet("com.example.essential");
    EXPECT_FALSE(essentialSheet.contains("Uninstall"));
    EXPECT_EQ(essentialSheet, (QStringList{"Reinstall", "Ignore Updates", "Share", "Cancel"}));
    EXPECT_EQ(ZMPackageOptionsSheet::optionsSheet("com.example.none", root), nullptr);
    auto* s = ZMPackageOptionsSheet::optionsSheet("com.example.installed", root);
    EXPECT_EQ(s->message(), "What would you like to do?");
    EXPECT_EQ(s->preferredStyle(), UIAlertController::Style::ActionSheet);
    EXPECT_EQ(s->actions().back().style, UIAlertController::ActionStyle::Cancel);
    delete s;
}

TEST_F(OptionsTest, VersionsNewestFirstWithoutTheInstalledOne) {
    EXPECT_EQ(ZMPackageOptions::availableVersions("com.example.held"), (std::vector<std::string>{"2.0", "1.5", "1.0"}));
    auto* picker = ZMPackageOptionsSheet::versionSheet("com.example.held");
    EXPECT_EQ(titles(picker), (QStringList{"2.0", "1.5", "Cancel"}));
    std::vector<std::pair<std::string, std::optional<std::string>>> queued;
    ZMPackageOptionsSheet::setQueueFunction(
        [&](const std::string& id, const std::optional<std::string>& v) { queued.emplace_back(id, v); });
    root->presentViewController(picker, false);
    picker->performAction(1);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !queued.empty(); }));
    EXPECT_EQ(queued[0].first, "com.example.held");
    EXPECT_EQ(queued[0].second, std::optional<std::string>("1.5"));
}

TEST_F(OptionsTest, EntriesMarkTheQueueAndHold) {
    // Uninstall marks a removal, even for a package with an update.
    auto* sheet = ZMPackageOptionsSheet::optionsSheet("com.example.held", root);
    root->presentViewController(sheet, false);
    sheet->performAction(titles(sheet).indexOf("Uninstall"));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return record("com.example.held").isInTheQueue.value_or(false); }));
    EXPECT_EQ(record("com.example.held").queueOperation.value_or(0), ZMRQueueOperationRemove);

    // Reinstall queues the installed version, which the collection marks as a reinstall.
    sheet = ZMPackageOptionsSheet::optionsSheet("com.example.installed", root);
    root->presentViewController(sheet, false);
    sheet->performAction(titles(sheet).indexOf("Reinstall"));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return record("com.example.installed").isInTheQueue.value_or(false); }));
    EXPECT_EQ(record("com.example.installed").queueOperation.value_or(0), ZMRQueueOperationReinstall);
    auto item = ZMPackageQueue::queueItemForPackage(record("com.example.installed"));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->operation, ZMQueueOperation::Reinstall);
    EXPECT_EQ(item->version, "1.0");

    std::vector<std::pair<std::string, bool>> holds;
    ZMPackageOptionsSheet::setHoldFunction([&](const std::string& id, bool held, auto completion) {
        holds.emplace_back(id, held);
        completion(std::nullopt);
    });
    sheet = ZMPackageOptionsSheet::optionsSheet("com.example.installed", root);
    root->presentViewController(sheet, false);
    sheet->performAction(titles(sheet).indexOf("Ignore Updates"));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return holds.size() == 1; }));
    EXPECT_EQ(holds[0], std::make_pair(std::string("com.example.installed"), true));
    sheet = ZMPackageOptionsSheet::optionsSheet("com.example.held", root);
    root->presentViewController(sheet, false);
    sheet->performAction(titles(sheet).indexOf("Show Updates"));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return holds.size() == 2; }));
    EXPECT_EQ(holds[1], std::make_pair(std::string("com.example.held"), false));
}

TEST_F(OptionsTest, AFailedHoldIsReported) {
    ZMPackageOptionsSheet::setHoldFunction([&](const std::string&, bool, auto completion) {
        completion(ZMError::make(ZMError::CommandFailed, "apt-mark failed"));
    });
    ZMPackageOptionsSheet::setHeld("com.example.installed", true, root);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return root->presentedViewController() != nullptr; }));
}

TEST_F(OptionsTest, ShareSheetsCarryTextAndLink) {
    realm->transactionWithBlock([&] {
        auto s = ZMRSource::newSourceWithLocation("https://repo.example/");
        s.name = "Example";
        realm->addOrUpdate(s);
    });
    auto* share = dynamic_cast<UIActivityViewController*>(ZMPackageOptionsSheet::packageShareSheet("com.example.absent"));
    ASSERT_NE(share, nullptr);
    EXPECT_TRUE(share->combinedText().contains(
        QString::fromStdString(ZMShareTexts::packageTextForIdentifier("com.example.absent").value_or("?"))));
    delete share;
    EXPECT_EQ(ZMPackageOptionsSheet::packageShareSheet("com.example.none"), nullptr);
    auto* all = dynamic_cast<UIActivityViewController*>(ZMPackageOptionsSheet::allSourcesShareSheet());
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(all->alertTitle(), QString::fromStdString(ZMShareTexts::allSourcesTitle()));
    EXPECT_TRUE(all->combinedText().contains("https://repo.example/"));
    delete all;
    auto* source = dynamic_cast<UIActivityViewController*>(ZMPackageOptionsSheet::sourceShareSheet("https://repo.example/"));
    ASSERT_NE(source, nullptr);
    EXPECT_TRUE(source->combinedText().contains(QString::fromStdString(ZMShareTexts::sourceTextForLocation("https://repo.example/"))));
    delete source;
}
