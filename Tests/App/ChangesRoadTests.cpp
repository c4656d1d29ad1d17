// The Changes tab as a new user meets it: a repository on loopback added by
// a "vostrelle://add" link and refreshed over HTTP, the window driven by
// clicks and keys:
//   - a package the index lists twice (a lower version first, as Debian main
//     lists linux-doc) stays under the time of the refresh that brought it
//     when a later refresh fetches the same index again: nothing unchanged
//     comes back as new, and the counts shown agree with the lists.
#include <chrono>

#include "App/LaunchFixture.h"
#include "Browsing/CategoriesTableViewController.h"
#include "Browsing/ChangesViewController.h"
#include "Browsing/PackagesTableViewController.h"
#include "Categories/String+ZemtrixExtensions.h"
#include "Database/ZMRNotifications.h"
#include "Support/FlatRepository.h"

namespace {

using namespace UserGesture;
using Launch::stanza;
using Rows = std::vector<std::string>;

class ChangesRoad : public Launch::RepositoryFixture {
protected:
    // Changes, by a click on its tab, once the reading it starts is shown.
    static ChangesViewController* openChanges() {
        selectTab(ZMVostrelle::SectionsTab);  // Changes appears anew: it reads the packages again
        auto* nav = selectTab(ZMVostrelle::ChangesTab);
        nav->popToRootViewController(false);
        auto* changes = qobject_cast<ChangesViewController*>(nav->topViewController());
        if (changes)
            GuiTest::waitUntil([&] {
                return changes->startedReadings() > 0 && changes->appliedReadings() == changes->startedReadings();
            }, std::chrono::seconds(10));
        return changes;
    }
    // The packages of the new-packages card, section by section, as its rows list them.
    static std::vector<Rows> newPackageRows(ChangesViewController* changes) {
        std::vector<Rows> sections;
        UITableView* table = changes->newPackagesTableView();
        for (int s = 0; s < table->numberOfSections(); ++s) {
            Rows& rows = sections.emplace_back();
            for (int r = 0; r < table->numberOfRows(s); ++r)
                if (auto id = changes->model().identifierAt(s, r)) rows.push_back(*id);
        }
        return sections;
    }
    // The list behind "See All", section by section: its header and its packages.
    static std::vector<std::pair<std::string, Rows>> allChanges(ChangesViewController* changes) {
        click(changes->seeAllNewPackagesBtn());
        auto* list = qobject_cast<PackagesTableViewController*>(changes->navigationController()->topViewController());
        std::vector<std::pair<std::string, Rows>> sections;
        if (!list || !GuiTest::waitUntil([&] { return list->isOnScreen() && !list->isRebuilding(); })) return sections;
        const auto& model = list->model();
        for (int s = 0; s < model.numberOfSections(); ++s) {
            auto& [header, rows] = sections.emplace_back(model.headerTitle(s), Rows{});
            for (int r = 0; r < model.numberOfRows(s); ++r)
                if (auto id = model.identifierAt(s, r)) rows.push_back(*id);
        }
        changes->navigationController()->popViewController(false);
        return sections;
    }
    // The counted "New Packages" row of the Sections tab.
    static std::string newPackagesSectionRow() {
        auto* nav = selectTab(ZMVostrelle::SectionsTab);
        nav->popToRootViewController(false);
        auto* sections = qobject_cast<CategoriesTableViewController*>(nav->topViewController());
        if (!sections || sections->defaultPackagesCategories().size() < 4) return {};
        return sections->defaultPackagesCategories()[3];
    }
};

TEST_F(ChangesRoad, AnIndexListingAPackageTwiceFetchedAgainLaterBringsNothingNew) {
    auto handbook = [](const std::string& version) {
        return "Package: org.jane.handbook\nName: Handbook\nVersion: " + version +
               "\nSection: Documentation\nMaintainer: Jane Doe <jane@example.org>\nArchitecture: all\n"
               "Description: The dock's handbook.\n\n";
    };
    const std::string index = handbook("6.1.76-1") + stanza("org.jane.lens", "Dock Lens", "Jane Doe <jane@example.org>") +
                              stanza("org.jane.slate", "Slate", "Jane Doe <jane@example.org>", "", "Themes") +
                              handbook("6.1.90-1");
    serveRepository(index, "Jane's Repo");
    auto& d = start(addLink());
    ASSERT_NO_FATAL_FAILURE(acceptTheLinksSource("org.jane.handbook"));
    // The launch's own refresh, when it planned one, is over before the index is published again.
    auto& manager = ZMRPackageManager::sharedPackageManager();
    if (manager.scheduledLaunchRefresh()) GuiTest::pump(std::chrono::milliseconds(int(manager.kLaunchRefreshDelay * 1000) + 200));
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        return !manager.sources().isRefreshInProgress() && ZMPipelineManager::sharedManager().liveTaskCount() == 0;
    }, std::chrono::seconds(60)));
    const std::string added = package("org.jane.handbook")->updatedDateStr;
    const Rows all = {"org.jane.lens", "org.jane.handbook", "org.jane.slate"};  // by name

    auto* changes = openChanges();
    ASSERT_NE(changes, nullptr);
    ASSERT_EQ(newPackageRows(changes), std::vector<Rows>{all}) << "the first refresh brought the three";

    // A later minute: the server publishes the same index again (new
    // validators, the same text), and F5 fetches it whole.
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        return ZemtrixExtensions::dateMinuteString(std::chrono::system_clock::now()) > added;
    }, std::chrono::seconds(65)));
    serveRepository(index, "Jane's Repo");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !manager.sources().isRefreshInProgress(); }, std::chrono::seconds(60)));
    int rebuilds = 0;
    auto rebuilt = NotificationCenter::defaultCenter().addObserver(
        ZMRDoneRebuildingPackagesCacheNotification, NotificationCenter::Queue::Main, [&](const Notification&) { ++rebuilds; });
    server->clearRequests();
    press(d.window(), Qt::Key_F5);
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        return rebuilds > 0 && ZMPipelineManager::sharedManager().liveTaskCount() == 0;
    }, std::chrono::seconds(60))) << "F5 refreshes the source";
    size_t wholeIndexes = 0;
    for (const auto& r : server->requests())
        wholeIndexes += r.path.find("/Packages") != std::string::npos && r.status == 200;
    ASSERT_EQ(wholeIndexes, 1u) << "the index fetched again, not answered \"not modified\"";

    // Changes, by a click: the three under the first refresh, none under the later one.
    changes = openChanges();
    ASSERT_NE(changes, nullptr);
    EXPECT_EQ(package("org.jane.handbook")->updatedDateStr, added);
    EXPECT_EQ(newPackageRows(changes), std::vector<Rows>{all}) << "one group: the refresh that brought them";
    EXPECT_EQ(changes->model().reading().newCount, all.size());
    EXPECT_EQ(changes->model().reading().oldCount, 0u);
    EXPECT_EQ(changes->newPackagesTitle()->text().toStdString(), "3 New Packages");
    screenshot("changes-unchanged-index-again.png");
    using Section = std::pair<std::string, Rows>;
    EXPECT_EQ(allChanges(changes), (std::vector<Section>{{PackageListModel::newPackagesHeaderTitle(added), all}}))
        << "See All: one section, under the first refresh";
    EXPECT_EQ(newPackagesSectionRow(), "New Packages (3)");
}

}  // namespace
