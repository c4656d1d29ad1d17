// The Manage tab inside the application's window: the two cards and their
// counts, swipe actions, removal, pull to refresh, the timer, adding from the
// pasteboard, and a screenshot.
#include <gtest/gtest.h>
#include "App/ZMApplication.h"
#include "VostrelleBuildPaths.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QTest>
#include <atomic>
#include <filesystem>
#include <thread>

#include "Browsing/BrowsingFixture.h"
#include "Browsing/ManageViewController.h"
#include "Browsing/PackagesTableViewController.h"
#include "Browsing/SourceAddition.h"
#include "Browsing/SourceViewController.h"
#include "Browsing/SourcesCell.h"
#include "Categories/String+ZemtrixExtensions.h"
#include "Database/ZMCategorySpecial.h"
#include "Dispatch/Dispatch.h"
#include "ErrorViewController.h"
#include "LocalAuthentication/LAContext.h"
#include "Miscellaneous/ZMPaths.h"
#include "Miscellaneous/ZMShareTexts.h"
#include "PackageCell.h"
#include "SegmentedViewController.h"
#include "UIKit/UIActivityViewController.h"
#include "UIKit/UIAlertController.h"
#include <QToolButton>
#include "UIKit/UINavigationController.h"
#include "UIKit/UITabBarController.h"
#include "UIKit/UIWindow.h"
#include "ZMFunctionTask.h"
#include "ZMPipelineManager.h"
#include "ZMVostrelle.h"

namespace {

const std::string kAlpha = "https://alpha.example/";
const std::string kBeta = "https://beta.example/repo/";
const std::string kGamma = "http://gamma.example/";

class ManageTabTest : public BrowsingFixture::Database {
protected:
    ManageViewController* manage = nullptr;
    UINavigationController* nav = nullptr;

    void SetUp() override {
        Database::SetUp();
        ZMVostrelle::resetForTesting();
        auto& d = ZMVostrelle::sharedVostrelle();
        ZMApplication::applicationDidFinishLaunching();
        ASSERT_TRUE(GuiTest::waitUntil([&] { return d.backgroundLaunchWorkDone(); }, std::chrono::seconds(20)));
        d.window()->resize(420, 900);
        nav = qobject_cast<UINavigationController*>(d.tabBarController()->viewControllers()[ZMVostrelle::ManageTab]);
        ASSERT_NE(nav, nullptr);
        manage = qobject_cast<ManageViewController*>(nav->viewControllers().front());
        ASSERT_NE(manage, nullptr);
    }
    void TearDown() override {
        LAContext::setAuthenticatorForTesting(nullptr);
        ZMRPackageManager::sharedPackageManager().sources().setPurgeHook(nullptr);
        ZMRPackageManager::sharedPackageManager().sources().setRefreshTaskFactory(nullptr);
        ZMVostrelle::resetForTesting();
        Database::TearDown();
    }
    void selectManageTab() {
        ZMVostrelle::sharedVostrelle().tabBarController()->setSelectedIndex(ZMVostrelle::ManageTab);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return manage->isOnScreen(); }));
    }
    static ZMRPackage installed(const std::string& id, const std::string& source, double date) {
        ZMRPackage p;
        p.identifier = id;
        p.name = "Installed " + id;
        p.version = "1.0";
        p.sourceLocation = source;
        p.isInstalled = true;
        p.installedVersion = "1.0";
        p.installDate = date;
        p.Description = "An installed package.";
        return p;
    }
    UIViewController* top() const { return ZMVostrelle::sharedVostrelle().window()->topPresentedViewController(); }
    std::string count(const std::string& location) const {
        auto it = manage->dictOfInstalledPackagesCount().find(location);
        return it == manage->dictOfInstalledPackagesCount().end() ? "-" : it->second;
    }
    int rowOf(const std::string& location) const {
        for (int r = 0; r < manage->numberOfRows(manage->sourcesTableView(), 0); ++r) {
            auto* cell = qobject_cast<SourcesCell*>(manage->sourcesTableView()->cellForRow({0, r}));
            if (cell && cell->sourceLocation == location) return r;
        }
        return -1;
    }
};

TEST_F(ManageTabTest, CardsFollowTheDatabaseAndCountsArriveFromAnotherThread) {
    selectManageTab();
    EXPECT_EQ(manage->title(), "Manage");
    EXPECT_EQ(manage->installedPackagesTableView()->height(), 0);
    EXPECT_EQ(manage->sourcesTableView()->height(), 0);
    ASSERT_EQ(manage->navigationItem()->rightBarButtonItems().size(), 2u);
    ASSERT_NE(manage->navigationItem()->leftBarButtonItem(), nullptr);

    storeSources({kAlpha, kBeta, kGamma});
    realm->transactionWithBlock([&] {
        auto a = *realm->objectForPrimaryKey<ZMRSource>(kAlpha);
        a.name = "Alpha Repo";
        a.Description = "Tweaks and themes for everyone";
        a.totalPackages = "1204";
        a.regenDate = ZemtrixExtensions::iso8601String(std::chrono::system_clock::now() - std::chrono::hours(3));
        realm->addOrUpdate(a);
        auto g = *realm->objectForPrimaryKey<ZMRSource>(kGamma);
        g.name = "";
        g.hasErrors = true;
        realm->addOrUpdate(g);
    });
    const double now = 1'780'000'000;
    std::vector<ZMRPackage> ps;
    for (int i = 0; i < 4; ++i) ps.push_back(installed("com.alpha.p" + std::to_string(i), kAlpha, now + i));
    for (int i = 0; i < 3; ++i) ps.push_back(installed("com.beta.p" + std::to_string(i), kBeta, now + 10 + i));
    store(ps);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return count(kAlpha) == "4" && count(kBeta) == "3" && count(kGamma) == "0"; }));
    EXPECT_EQ(manage->sourcesTableView()->height(), 3 * 99);
    EXPECT_EQ(manage->installedPackagesTableView()->height(), 5 * 70);
    EXPECT_EQ(manage->numberOfRows(manage->installedPackagesTableView(), 0), 5);
    // Most recently installed first.
    auto* firstInstalled = qobject_cast<PackageCell*>(manage->installedPackagesTableView()->cellForRow({0, 0}));
    ASSERT_NE(firstInstalled, nullptr);
    EXPECT_EQ(firstInstalled->packageIdentifier(), "com.beta.p2");

    // Rows: sorted by name (the erroneous nameless source first), counts, totals, relative regeneration.
    GuiTest::pump();
    auto* alphaRow = qobject_cast<SourcesCell*>(manage->sourcesTableView()->cellForRow({0, rowOf(kAlpha)}));
    ASSERT_NE(alphaRow, nullptr);
    EXPECT_EQ(alphaRow->nameLbl->text(), "Alpha Repo");
    EXPECT_EQ(alphaRow->installedPackagesLbl->text(), "4");
    EXPECT_EQ(alphaRow->totalPackagesLbl->text(), "1204");
    EXPECT_EQ(alphaRow->lastRepoRegenLbl->text(), "3 hours ago");
    auto* gammaRow = qobject_cast<SourcesCell*>(manage->sourcesTableView()->cellForRow({0, rowOf(kGamma)}));
    ASSERT_NE(gammaRow, nullptr);
    EXPECT_EQ(rowOf(kGamma), 0);
    EXPECT_EQ(gammaRow->nameLbl->text(), "Invalid Source");
    EXPECT_EQ(gammaRow->nameLbl->palette().color(QPalette::WindowText), QColor(255, 59, 48));
    EXPECT_EQ(gammaRow->descriptionLbl->palette().color(QPalette::WindowText), QColor(255, 59, 48));
    EXPECT_EQ(gammaRow->lastRepoRegenLbl->text(), "never");
    EXPECT_TRUE(qobject_cast<SourcesCell*>(manage->sourcesTableView()->cellForRow({0, 2}))->isSeparatorHidden());

    QDir().mkpath(VOSTRELLE_SCREENSHOT_DIR);
    ASSERT_TRUE(ZMVostrelle::sharedVostrelle().window()->grab().toImage().save(VOSTRELLE_SCREENSHOT_DIR "/browse-manage-tab.png"));

    // The counts follow the installed packages.
    store({installed("com.gamma.p0", kGamma, now + 100)});
    ASSERT_TRUE(GuiTest::waitUntil([&] { return count(kGamma) == "1"; }));
    realm->transactionWithBlock([&] {
        for (int i = 0; i < 4; ++i) {
            auto p = *realm->objectForPrimaryKey<ZMRPackage>("com.alpha.p" + std::to_string(i));
            realm->setValueForKey(p, "isInstalled", false);
        }
        for (int i = 0; i < 2; ++i) {
            auto p = *realm->objectForPrimaryKey<ZMRPackage>("com.beta.p" + std::to_string(i));
            realm->setValueForKey(p, "isInstalled", false);
        }
    });
    ASSERT_TRUE(GuiTest::waitUntil([&] { return count(kAlpha) == "0" && count(kBeta) == "1"; }));
    EXPECT_EQ(manage->installedPackagesTableView()->height(), 2 * 70);

    // A long press on the card: pressed in after 0.2 s, released inside it opens the full list.
    auto* firstRow = manage->installedPackagesTableView()->cellForRow({0, 0});
    ASSERT_NE(firstRow, nullptr);
    QTest::mousePress(firstRow, Qt::LeftButton, {}, QPoint(40, 20));
    GuiTest::pump(std::chrono::milliseconds(100));
    EXPECT_FALSE(manage->isInstalledCardPressed());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return manage->isInstalledCardPressed(); }, std::chrono::seconds(2)));
    QTest::mouseRelease(firstRow, Qt::LeftButton, {}, QPoint(40, 20));
    GuiTest::pump();
    EXPECT_FALSE(manage->isInstalledCardPressed());
    auto* all = dynamic_cast<PackagesTableViewController*>(nav->topViewController());
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(all->title(), "Installed Packages");
    EXPECT_EQ(all->category(), kCategorySpecial_InstalledPackages);
}

TEST_F(ManageTabTest, SwipeActionsCopyAndOpeningASource) {
    storeSources({kAlpha, SourceAddition::kMakersRepositoryLocation});
    store({installed("com.alpha.p0", kAlpha, 1)});
    selectManageTab();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return manage->sourcesTableView()->height() == 2 * 99; }));
    auto titles = [&](const std::string& location) {
        std::vector<QString> out;
        for (const auto& a : manage->trailingSwipeActions(manage->sourcesTableView(), {0, rowOf(location)})) out.push_back(a.title);
        return out;
    };
    EXPECT_EQ(titles(kAlpha), (std::vector<QString>{"Remove", "Refresh", "Info"}));
    EXPECT_EQ(titles(SourceAddition::kMakersRepositoryLocation), (std::vector<QString>{"Refresh", "Info"}));
    auto actions = manage->trailingSwipeActions(manage->sourcesTableView(), {0, rowOf(kAlpha)});
    EXPECT_EQ(actions[0].backgroundColor, QColor(255, 59, 48));
    EXPECT_EQ(actions[1].backgroundColor, QColor(52, 199, 89));
    EXPECT_EQ(actions[2].backgroundColor, QColor(0, 122, 255));
    EXPECT_TRUE(manage->trailingSwipeActions(manage->installedPackagesTableView(), {0, 0}).empty());

    // The row's context menu: the swipe actions, then Copy, which copies the location.
    QMenu* menu = manage->sourcesTableView()->showSwipeMenu({0, rowOf(kAlpha)}, QPoint(10, 10));
    ASSERT_NE(menu, nullptr);
    QStringList entries;
    for (auto* a : menu->actions())
        if (!a->isSeparator()) entries << a->text();
    EXPECT_EQ(entries, (QStringList{"Remove", "Refresh", "Info", "Copy"}));
    menu->actions().back()->trigger();
    menu->close();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromStdString(kAlpha));

    // Info: the source page, presented with "Close".
    actions[2].handler(actions[2], nullptr, [](bool) {});
    GuiTest::pump();
    auto* presentedNav = dynamic_cast<UINavigationController*>(top());
    ASSERT_NE(presentedNav, nullptr);
    auto* info = dynamic_cast<SourceViewController*>(presentedNav->topViewController());
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(info->isPresented());
    EXPECT_EQ(info->sourceLocation(), kAlpha);
    ASSERT_NE(info->navigationItem()->leftBarButtonItem(), nullptr);
    EXPECT_EQ(info->navigationItem()->leftBarButtonItem()->title(), "Close");
    // Its Share is the share service's: the source's text with the add-source link.
    info->shareSource();
    GuiTest::pump();
    auto* share = dynamic_cast<UIActivityViewController*>(top());
    ASSERT_NE(share, nullptr);
    EXPECT_TRUE(share->combinedText().startsWith(QString::fromStdString(ZMShareTexts::sourceTextForLocation(kAlpha))));
    share->dismissViewController(false);
    GuiTest::pump();
    info->dismissVC();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return dynamic_cast<UINavigationController*>(top()) == nullptr; }));

    // A source with packages opens the two-segment screen; one without, its page.
    manage->didSelectRow(manage->sourcesTableView(), {0, rowOf(kAlpha)});
    GuiTest::pump();
    auto* segmented = dynamic_cast<SegmentedViewController*>(nav->topViewController());
    ASSERT_NE(segmented, nullptr);
    ASSERT_EQ(segmented->segmentedControl()->numberOfSegments(), 2);
    EXPECT_EQ(segmented->segmentedControl()->segment(0)->text(), "Categories");
    EXPECT_EQ(segmented->segmentedControl()->segment(1)->text(), "Source Info");
    EXPECT_EQ(segmented->currentIndex(), 0);
    nav->popViewController(false);
    manage->didSelectRow(manage->sourcesTableView(), {0, rowOf(SourceAddition::kMakersRepositoryLocation)});
    GuiTest::pump();
    EXPECT_NE(dynamic_cast<SourceViewController*>(nav->topViewController()), nullptr);
    nav->popViewController(false);

    // Delete on the highlighted row runs its destructive action (Remove) and
    // nothing else; a row without one (the maker's repository has Refresh and
    // Info, a package row none) is left as it was.
    preferences().setValue(VostrellePreferenceKey::SetupDone, true);  // else no refresh starts at all
    auto& sources = ZMRPackageManager::sharedPackageManager().sources();
    int refreshes = 0;
    sources.setRefreshTaskFactory([&](const std::string& location) -> ZMTaskPtr {
        ++refreshes;
        return ZMFunctionTask::make("refresh-" + location, "source.ops", "refresh",
                                    [](ZMFunctionTask&) -> std::optional<ZMError> { return std::nullopt; });
    });
    sources.setPurgeHook([](const std::string&) { return std::nullopt; });
    const struct {
        const char* what;
        UITableView* table;
        int row;
        bool removesAlpha;
    } rows[] = {
        {"the maker's repository", manage->sourcesTableView(), rowOf(SourceAddition::kMakersRepositoryLocation), false},
        {"an installed package", manage->installedPackagesTableView(), 0, false},
        {"a source", manage->sourcesTableView(), rowOf(kAlpha), true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        refreshes = 0;
        r.table->setFocus();
        QTest::keyClick(r.table, Qt::Key_Home);
        for (int i = 0; i < r.row; ++i) QTest::keyClick(r.table, Qt::Key_Down);
        ASSERT_EQ(r.table->indexPathForHighlightedRow(), (IndexPath{0, r.row}));
        QTest::keyClick(r.table, Qt::Key_Delete);
        if (r.removesAlpha) {
            EXPECT_TRUE(GuiTest::waitUntil([] { return !ZMRSource::objectForPrimaryKey(kAlpha).has_value(); }));
        } else {
            GuiTest::pump(std::chrono::milliseconds(200));
            EXPECT_TRUE(ZMRSource::objectForPrimaryKey(kAlpha).has_value());
        }
        EXPECT_TRUE(ZMRSource::objectForPrimaryKey(SourceAddition::kMakersRepositoryLocation).has_value());
        EXPECT_EQ(refreshes, 0) << "Refresh ran";
        EXPECT_EQ(dynamic_cast<UINavigationController*>(top()), nullptr) << "Info ran";
        EXPECT_EQ(nav->topViewController(), manage) << "the row was opened";
        // Each row is judged alone.
        if (auto* sheet = dynamic_cast<UINavigationController*>(top())) sheet->dismissViewController(false);
        nav->popToRootViewController(false);
        GuiTest::pump();
    }
}

TEST_F(ManageTabTest, RemovingRunsAtOnceOffTheMainThreadAndReportsFailure) {
    storeSources({kAlpha, kBeta});
    store({installed("com.alpha.p0", kAlpha, 1), installed("com.beta.p0", kBeta, 2)});
    selectManageTab();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return count(kAlpha) == "1" && count(kBeta) == "1"; }));
    std::atomic<bool> purgedOnMain{false};
    ZMRPackageManager::sharedPackageManager().sources().setPurgeHook([&](const std::string& location) -> std::optional<ZMError> {
        if (Dispatch::isMainThread()) purgedOnMain = true;
        if (location == kBeta) return ZMError::make(ZMError::CommandFailed, "apt-get failed");
        return std::nullopt;
    });
    std::vector<std::pair<std::string, bool>> outcomes;
    manage->setRemovalObserver([&](const std::string& l, bool ok) { outcomes.emplace_back(l, ok); });

    // "Remove" removes: no question comes in between.
    auto actions = manage->trailingSwipeActions(manage->sourcesTableView(), {0, rowOf(kAlpha)});
    ASSERT_EQ(actions[0].title, "Remove");
    actions[0].handler(actions[0], nullptr, [](bool) {});
    EXPECT_EQ(dynamic_cast<UIAlertController*>(top()), nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return outcomes.size() == 1; }));
    EXPECT_EQ(outcomes[0], std::make_pair(kAlpha, true));
    EXPECT_FALSE(purgedOnMain.load());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return manage->sourcesTableView()->height() == 99 && count(kAlpha) == "-"; }));
    const int alertsBefore = ZMVostrelle::sharedVostrelle().alertCount();

    // A failing purge is reported as a failure.
    manage->removeSourceAtRow(rowOf(kBeta));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return outcomes.size() == 2; }));
    EXPECT_EQ(outcomes[1], std::make_pair(kBeta, false));
    EXPECT_EQ(ZMVostrelle::sharedVostrelle().alertCount(), alertsBefore + 1);
    EXPECT_EQ(ZMVostrelle::sharedVostrelle().lastAlertTitle(), "Could not remove Source https://beta.example/repo/");
}

// A row's menu is built when it opens; the rows re-sort by name while it is
// open (a refresh ends, a source is renamed). The chosen entry acts on the
// source whose row was clicked, not on whichever row now has that number.
TEST_F(ManageTabTest, RowActionsActOnTheirSourceAfterTheRowsReSort) {
    ZMRPackageManager::sharedPackageManager().sources().setPurgeHook([](const std::string&) { return std::nullopt; });
    const struct {
        const char* entry;
        bool swipePanel;  // the swipe's buttons, else the right-click menu
    } cases[] = {{"Copy", false}, {"Remove", false}, {"Remove", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.entry) + (c.swipePanel ? " (swipe)" : " (menu)"));
        storeSources({kAlpha, kBeta});
        realm->transactionWithBlock([&] {
            for (auto [location, name] : {std::pair{kAlpha, "Alpha"}, std::pair{kBeta, "Beta"}}) {
                auto s = *realm->objectForPrimaryKey<ZMRSource>(location);
                s.name = name;
                realm->addOrUpdate(s);
            }
        });
        selectManageTab();
        ASSERT_TRUE(GuiTest::waitUntil([&] { return rowOf(kAlpha) == 0 && rowOf(kBeta) == 1; }));
        QGuiApplication::clipboard()->setText("unchanged");

        // Opened on Alpha's row (row 0); then Alpha is renamed "Zulu" and moves below Beta.
        QMenu* menu = nullptr;
        UIContextualAction chosen;
        if (c.swipePanel) {
            auto actions = manage->trailingSwipeActions(manage->sourcesTableView(), {0, 0});
            ASSERT_EQ(actions[0].title, c.entry);
            chosen = actions[0];
        } else {
            menu = manage->sourcesTableView()->showSwipeMenu({0, 0}, QPoint(10, 10));
            ASSERT_NE(menu, nullptr);
        }
        realm->transactionWithBlock([&] {
            auto s = *realm->objectForPrimaryKey<ZMRSource>(kAlpha);
            s.name = "Zulu";
            realm->addOrUpdate(s);
        });
        ASSERT_TRUE(GuiTest::waitUntil([&] { return rowOf(kBeta) == 0 && rowOf(kAlpha) == 1; }));

        if (menu) {
            QAction* entry = nullptr;
            for (auto* a : menu->actions())
                if (a->text() == c.entry) entry = a;
            ASSERT_NE(entry, nullptr);
            entry->trigger();
            menu->close();
        } else {
            chosen.handler(chosen, nullptr, [](bool) {});
        }
        if (std::string(c.entry) == "Copy") {
            EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), kAlpha);
            EXPECT_TRUE(ZMRSource::objectForPrimaryKey(kAlpha).has_value());
        } else {
            ASSERT_TRUE(GuiTest::waitUntil([&] { return !ZMRSource::objectForPrimaryKey(kAlpha).has_value(); }));
            EXPECT_TRUE(ZMRSource::objectForPrimaryKey(kBeta).has_value()) << "the row now at Alpha's old place stays";
        }
        realm->transactionWithBlock([&] { realm->deleteObjects(realm->objects<ZMRSource>()); });
        ASSERT_TRUE(GuiTest::waitUntil([&] { return manage->sourcesTableView()->numberOfRows(0) == 0; }));
    }
}

// With the preference on, a source is added (from the form, a link or the
// pasteboard) and removed only after a successful check; a failed or
// unavailable check says so and changes nothing.
TEST_F(ManageTabTest, AddingAndRemovingWaitForASuccessfulAuthentication) {
    struct Checker : LAAuthenticator {
        bool usable, correct;
        Checker(bool u, bool c) : usable(u), correct(c) {}
        bool isUsable() override { return usable; }
        bool verify(const std::string&) override { return correct; }
    };
    const struct {
        const char* name;
        bool usable, correct;
        const char* alert;  // nullptr: none, the task goes ahead
    } cases[] = {
        {"failure", true, false, "Failed to authenticate yourself. Try again."},
        {"unavailable", false, false, "This computer cannot check your login password at the moment: its "
                                      "authentication (PAM) is not available to Vostrelle."},
        {"success", true, true, nullptr},
    };
    std::vector<std::string> reasons;
    LAContext::setPromptForTesting([&](const QString& reason) {
        reasons.push_back(reason.toStdString());
        return std::optional<std::string>("secret");
    });
    ZMRPackageManager::sharedPackageManager().sources().setPurgeHook([](const std::string&) { return std::nullopt; });
    preferences().setValue(VostrellePreferenceKey::AuthenticationForPackagesManagementTasks, true);
    storeSources({kAlpha});
    selectManageTab();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return manage->sourcesTableView()->height() == 99; }));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LAContext::setAuthenticatorForTesting(std::make_shared<Checker>(c.usable, c.correct));
        reasons.clear();
        // Each task: the alert it must show (closed) instead of happening, or
        // it happens. The check answers asynchronously: waited for either way.
        auto expectOutcome = [&](const std::function<bool()>& happened) {
            if (c.alert) {
                UIAlertController* alert = nullptr;
                ASSERT_TRUE(GuiTest::waitUntil([&] { return (alert = dynamic_cast<UIAlertController*>(top())) != nullptr; },
                                               std::chrono::seconds(10)));
                EXPECT_EQ(alert->alertTitle() + "/" + alert->message(), QString("Vostrelle Authentication/") + c.alert);
                alert->performAction(0);
                EXPECT_FALSE(happened()) << "the alert comes instead of the task";
            } else {
                EXPECT_TRUE(GuiTest::waitUntil(happened, std::chrono::seconds(10)));
                EXPECT_EQ(dynamic_cast<UIAlertController*>(top()), nullptr);
            }
        };
        const std::string typed = std::string("https://") + c.name + ".example/", linked = "https://link." + typed.substr(8);
        QGuiApplication::clipboard()->clear();
        manage->addSource();
        GuiTest::pump();
        auto* form = dynamic_cast<SourceViewController*>(dynamic_cast<UINavigationController*>(top())->topViewController());
        form->sourceUrlTextField->setText(QString::fromStdString(typed));
        form->editingDidEnd();
        expectOutcome([&] { return ZMRSource::objectForPrimaryKey(typed).has_value(); });
        form->dismissVC();
        ASSERT_TRUE(GuiTest::waitUntil([&] { return top() == ZMVostrelle::sharedVostrelle().tabBarController(); }));
        ZMVostrelle::sharedVostrelle().openURLs({QString::fromStdString("vostrelle://add/" + linked)});
        expectOutcome([&] { return ZMRSource::objectForPrimaryKey(linked).has_value(); });
        // The pasteboard's address, accepted with "Yes".
        const std::string pasted = "https://paste." + typed.substr(8);
        QGuiApplication::clipboard()->setText(QString::fromStdString("see " + pasted));
        manage->addSource();
        auto* offer = dynamic_cast<UIAlertController*>(top());
        ASSERT_NE(offer, nullptr);
        ASSERT_EQ(offer->alertTitle(), "Repositories Detected");
        offer->performAction(1);
        expectOutcome([&] { return ZMRSource::objectForPrimaryKey(pasted).has_value(); });
        QGuiApplication::clipboard()->clear();
        manage->removeSourceAtRow(rowOf(kAlpha));
        expectOutcome([&] { return !ZMRSource::objectForPrimaryKey(kAlpha).has_value(); });
        const std::vector<std::string> asked = {"Please authenticate yourself to add " + typed,
                                                "Please authenticate yourself to add " + linked,
                                                "Please authenticate yourself to add " + pasted,
                                                "Please authenticate yourself to remove Source " + kAlpha};
        EXPECT_EQ(reasons, c.usable ? asked : std::vector<std::string>{});
    }
    LAContext::setPromptForTesting(nullptr);
}

TEST_F(ManageTabTest, PullDuringARunningRefreshEndsTheSpinnerAndStartsNothing) {
    storeSources({kAlpha});
    preferences().setValue(VostrellePreferenceKey::SetupDone, true);
    std::atomic<bool> release{false};
    std::atomic<int> made{0};
    auto& sources = ZMRPackageManager::sharedPackageManager().sources();
    sources.setRefreshTaskFactory([&](const std::string& location) -> ZMTaskPtr {
        ++made;
        return ZMFunctionTask::make("refresh-" + location, "source.ops", "refresh", [&](ZMFunctionTask&) -> std::optional<ZMError> {
            while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return std::nullopt;
        });
    });
    selectManageTab();
    ASSERT_TRUE(sources.refreshSource(kAlpha));
    ASSERT_TRUE(sources.isRefreshInProgress());
    manage->refreshControl()->triggerByUser();
    EXPECT_TRUE(GuiTest::waitUntil([&] { return !manage->refreshControl()->isRefreshing(); }, std::chrono::seconds(1)));
    EXPECT_EQ(made.load(), 1);
    release = true;
    GuiTest::waitUntil([&] { return !sources.isRefreshInProgress(); });
    sources.setRefreshTaskFactory(nullptr);
}

TEST_F(ManageTabTest, RegenerationTimerRunsOnlyWhileTheTabIsShown) {
    storeSources({kAlpha});
    selectManageTab();
    EXPECT_TRUE(manage->isTimerRunning());
    ASSERT_TRUE(GuiTest::waitUntil([&] { return manage->sourcesTableView()->height() == 99; }));
    auto* row = qobject_cast<SourcesCell*>(manage->sourcesTableView()->cellForRow({0, 0}));
    ASSERT_NE(row, nullptr);
    row->lastRepoRegenLbl->setText("stale");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return row->lastRepoRegenLbl->text() == "never"; }, std::chrono::seconds(3)));
    ZMVostrelle::sharedVostrelle().tabBarController()->setSelectedIndex(ZMVostrelle::FeaturedTab);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return !manage->isOnScreen(); }));
    EXPECT_FALSE(manage->isTimerRunning());
}

TEST_F(ManageTabTest, PasteboardOffersOnlyNewRepositoriesAndAddsThemWithoutTheHttpWarning) {
    storeSources({kAlpha});
    selectManageTab();
    QGuiApplication::clipboard()->setText("Try http://alpha.example and http://new.example/repo please");
    manage->addSource();
    auto* alert = dynamic_cast<UIAlertController*>(top());
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->alertTitle(), "Repositories Detected");
    EXPECT_EQ(alert->message(), "Would you like to add: \r\nhttp://new.example/repo");
    ASSERT_EQ(alert->actions().size(), 2u);
    EXPECT_EQ(alert->actions()[0].title, "No");
    EXPECT_EQ(alert->actions()[1].title, "Yes");
    alert->performAction(1);
    ASSERT_TRUE(GuiTest::waitUntil([] { return ZMRSource::objectForPrimaryKey("http://new.example/repo/").has_value(); }));
    EXPECT_EQ(dynamic_cast<ErrorViewController*>(top()), nullptr);  // pasted addresses skip the warning

    // Only configured addresses: straight to the add form.
    QGuiApplication::clipboard()->setText("https://alpha.example/ http://new.example/repo/");
    ZMApplication::showAddSource();
    GuiTest::pump();
    auto* formNav = dynamic_cast<UINavigationController*>(top());
    ASSERT_NE(formNav, nullptr);
    auto* form = dynamic_cast<SourceViewController*>(formNav->topViewController());
    ASSERT_NE(form, nullptr);
    EXPECT_TRUE(form->sourceLocation().empty());
    EXPECT_TRUE(form->isPresented());
    EXPECT_EQ(form->sourceUrlTextField->text(), "https://");
}

}  // namespace
