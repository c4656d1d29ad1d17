// The Manage tab with a real repository on loopback: add it through the form
// (plain http after the warning), watch it refresh, list and queue its
// packages, add an https address that cannot be reached, and remove the
// repository again while the counts follow. Followed repositories and
// developers announce what a refresh brought; the announcement opens the list.
#include <gtest/gtest.h>

#include "App/ZMApplication.h"
#include "VostrelleBuildPaths.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <atomic>
#include <thread>

#include "Browsing/BrowsingFixture.h"
#include "Browsing/ManageViewController.h"
#include "Browsing/PackagesTableViewController.h"
#include "Browsing/SubcategoriesViewController.h"
#include "Browsing/SourceViewController.h"
#include "Browsing/SourcesCell.h"
#include "Database/ZMCategorySpecial.h"
#include "Dispatch/Dispatch.h"
#include "ErrorViewController.h"
#include "PackageCell.h"
#include "SegmentedViewController.h"
#include "Support/FlatRepository.h"
#include "UIKit/UIAlertController.h"
#include "UIKit/UINavigationController.h"
#include "UIKit/UITabBarController.h"
#include "UIKit/UIWindow.h"
#include "UserNotifications/UNUserNotificationCenter.h"
#include "ZMVostrelle.h"

namespace {

class ManageRepositoryTest : public BrowsingFixture::Database {
protected:
    TestSupport::TempDir repoDir;
    std::unique_ptr<FlatRepository::FileServer> server;
    ManageViewController* manage = nullptr;
    UINavigationController* nav = nullptr;

    void SetUp() override {
        Database::SetUp();
        TestSupport::TempDir work;
        FlatRepository::buildDeb(work.path(), repoDir.path(), {"com.loop.alpha", "1.0", "Name: Loop Alpha\nSection: Tweaks\n"});
        FlatRepository::buildDeb(work.path(), repoDir.path(), {"com.loop.beta", "2.1", "Name: Loop Beta\nSection: Themes\n"});
        FlatRepository::buildDeb(work.path(), repoDir.path(), {"com.loop.gamma", "0.3", "Name: Loop Gamma\nSection: Tweaks\n"});
        FlatRepository::writeIndexes(repoDir.path(), "Loopback Repo", "Three packages over loopback");
        server = std::make_unique<FlatRepository::FileServer>(repoDir.path());

        ZMVostrelle::resetForTesting();
        auto& d = ZMVostrelle::sharedVostrelle();
        ZMApplication::applicationDidFinishLaunching();
        ASSERT_TRUE(GuiTest::waitUntil([&] { return d.backgroundLaunchWorkDone(); }, std::chrono::seconds(20)));
        preferences().setValue(VostrellePreferenceKey::SetupDone, true);
        d.window()->resize(420, 900);
        nav = qobject_cast<UINavigationController*>(d.tabBarController()->viewControllers()[ZMVostrelle::ManageTab]);
        manage = qobject_cast<ManageViewController*>(nav->viewControllers().front());
        d.tabBarController()->setSelectedIndex(ZMVostrelle::ManageTab);
        ASSERT_TRUE(GuiTest::waitUntil([&] { return manage->isOnScreen(); }));
    }
    void TearDown() override {
        ZMRPackageManager::sharedPackageManager().sources().setPurgeHook(nullptr);
        ZMVostrelle::resetForTesting();
        server.reset();
        Database::TearDown();
    }
    UIViewController* top() const { return ZMVostrelle::sharedVostrelle().window()->topPresentedViewController(); }
    SourcesCell* rowFor(const std::string& location) const {
        for (int r = 0; r < manage->numberOfRows(manage->sourcesTableView(), 0); ++r) {
            auto* cell = qobject_cast<SourcesCell*>(manage->sourcesTableView()->cellForRow({0, r}));
            if (cell && cell->sourceLocation == location) return cell;
        }
        return nullptr;
    }
    int rowIndex(const std::string& location) const {
        for (int r = 0; r < manage->numberOfRows(manage->sourcesTableView(), 0); ++r) {
            auto* cell = qobject_cast<SourcesCell*>(manage->sourcesTableView()->cellForRow({0, r}));
            if (cell && cell->sourceLocation == location) return r;
        }
        return -1;
    }
    SourceViewController* openAddForm() {
        QGuiApplication::clipboard()->clear();
        manage->addSource();
        GuiTest::pump();
        auto* formNav = dynamic_cast<UINavigationController*>(top());
        return formNav ? dynamic_cast<SourceViewController*>(formNav->topViewController()) : nullptr;
    }
};

TEST_F(ManageRepositoryTest, AddRefreshListQueueAndRemoveARepository) {
    const std::string location = server->url("");
    // The form: plain http asks first, "Continue" adds.
    auto* form = openAddForm();
    ASSERT_NE(form, nullptr);
    form->sourceUrlTextField->setText(QString::fromStdString(" " + location.substr(0, location.size() - 1) + " "));
    form->editingDidEnd();
    GuiTest::pump();
    auto* warning = dynamic_cast<ErrorViewController*>(top());
    ASSERT_NE(warning, nullptr);
    EXPECT_EQ(warning->titleLbl()->text(), "Warning");
    warning->otherBtn()->click();

    // The refresh fills the record, the packages, the row and the form.
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        auto s = ZMRSource::objectForPrimaryKey(location);
        return s && !s->hasErrors.value_or(true) && ZMRPackage::objectsWhere("sourceLocation = %@", location).count() == 3;
    }, std::chrono::seconds(30)));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return form->sourceNameLbl->text() == "Loopback Repo"; }));
    form->dismissVC();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return rowFor(location) && rowFor(location)->nameLbl->text() == "Loopback Repo"; }));
    EXPECT_EQ(rowFor(location)->totalPackagesLbl->text(), "3");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return rowFor(location)->installedPackagesLbl->text() == "0"; }));

    // Its page lists its sections and packages; a swipe queues one.
    manage->didSelectRow(manage->sourcesTableView(), {0, rowIndex(location)});
    GuiTest::pump();
    auto* segmented = dynamic_cast<SegmentedViewController*>(nav->topViewController());
    ASSERT_NE(segmented, nullptr);
    auto* list = dynamic_cast<SubcategoriesViewController*>(segmented->currentViewController());
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return list->subcategoriesAndPackagesTableView()->numberOfSections() == 2; }));
    EXPECT_EQ(list->subcategoriesArray(), (std::vector<std::string>{"All Packages", "Themes   ", "Tweaks   "}));
    EXPECT_EQ(list->packageSections().sectionsDictionary().at("L"),
              (std::vector<std::string>{"com.loop.alpha", "com.loop.beta", "com.loop.gamma"}));
    auto actions = list->trailingSwipeActions(list->subcategoriesAndPackagesTableView(), {1, 1});
    ASSERT_EQ(actions.size(), 1u);
    actions[0].handler(actions[0], nullptr, [](bool) {});
    EXPECT_TRUE(ZMRPackage::objectForPrimaryKey("com.loop.beta")->isInTheQueue.value_or(false));
    EXPECT_EQ(ZMRPackage::objectForPrimaryKey("com.loop.beta")->queueOperation.value_or(0), ZMRQueueOperationInstall);
    nav->popToRootViewController(false);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return manage->isOnScreen(); }));

    // An installed package of the source shows in its count.
    realm->transactionWithBlock([&] {
        auto p = *realm->objectForPrimaryKey<ZMRPackage>("com.loop.gamma");
        realm->setValueForKey(p, "isInstalled", true);
        realm->setValueForKey(p, "installDate", 1'780'000'000.0);
    });
    ASSERT_TRUE(GuiTest::waitUntil([&] { return rowFor(location) && rowFor(location)->installedPackagesLbl->text() == "1"; }));

    // https is added without a warning; nothing answers TLS there, so the source shows its failure.
    // The same address under https is the same repository: refused and said.
    form = openAddForm();
    ASSERT_NE(form, nullptr);
    form->sourceUrlTextField->setText(QString::fromStdString("https" + location.substr(4)));
    form->editingDidEnd();
    GuiTest::pump();
    auto* duplicate = dynamic_cast<ErrorViewController*>(top());
    ASSERT_NE(duplicate, nullptr);
    EXPECT_EQ(duplicate->titleLbl()->text(), "Cannot Add Source");
    duplicate->closeBtn()->click();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return dynamic_cast<ErrorViewController*>(top()) == nullptr; }));
    EXPECT_EQ(form->sourceLocation(), location);  // the form turned to the configured source
    form->dismissVC();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return dynamic_cast<UINavigationController*>(top()) == nullptr; }));

    const std::string secure = "https" + location.substr(4) + "secure/";
    form = openAddForm();
    ASSERT_NE(form, nullptr);
    form->sourceUrlTextField->setText(QString::fromStdString(secure));
    form->editingDidEnd();
    // No warning holds it back: the refresh runs at once, fails (loopback
    // answers TLS with an error at once, so the failure's alert may come up
    // within the next event) and says so.
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        auto s = ZMRSource::objectForPrimaryKey(secure);
        return s && s->hasErrors.value_or(false);
    }, std::chrono::seconds(30)));
    ErrorViewController* failure = nullptr;
    ASSERT_TRUE(GuiTest::waitUntil([&] { return (failure = dynamic_cast<ErrorViewController*>(top())) != nullptr; },
                                   std::chrono::seconds(10)));
    EXPECT_EQ(failure->titleLbl()->text(), "Source Not Refreshed");
    EXPECT_TRUE(failure->messageLbl()->text().contains(QString::fromStdString(secure))) << "the failure names its source";
    EXPECT_TRUE(failure->messageLbl()->text().contains("secure connection")) << failure->messageLbl()->text().toStdString();
    failure->closeBtn()->click();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return dynamic_cast<ErrorViewController*>(top()) == nullptr; }));
    form->dismissVC();
    // A new record is named by its location; the failed refresh turns its description red.
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        return rowFor(secure) && rowFor(secure)->descriptionLbl->palette().color(QPalette::WindowText) == QColor(255, 59, 48);
    }));
    EXPECT_EQ(rowFor(secure)->nameLbl->text().toStdString(), secure);

    // Removal: the root part off the main thread, the counts follow.
    std::atomic<bool> purgedOnMain{false};
    ZMRPackageManager::sharedPackageManager().sources().setPurgeHook([&](const std::string&) -> std::optional<ZMError> {
        if (Dispatch::isMainThread()) purgedOnMain = true;
        return std::nullopt;
    });
    std::optional<bool> removed;
    manage->setRemovalObserver([&](const std::string&, bool ok) { removed = ok; });
    manage->removeSourceAtRow(rowIndex(location));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return removed.has_value(); }, std::chrono::seconds(20)));
    EXPECT_TRUE(*removed);
    EXPECT_FALSE(purgedOnMain.load());
    EXPECT_FALSE(ZMRSource::objectForPrimaryKey(location).has_value());
    ASSERT_TRUE(GuiTest::waitUntil([&] {
        return manage->sourcesTableView()->height() == 99 && !manage->dictOfInstalledPackagesCount().count(location) &&
               manage->dictOfInstalledPackagesCount().count(secure);
    }));
}

TEST_F(ManageRepositoryTest, FollowedSourcesAndDevelopersAnnounceWhatARefreshBroughtAndTheAnnouncementOpensIt) {
    auto& center = UNUserNotificationCenter::current();
    center.setDesktopNotificationsEnabled(false);
    std::vector<std::string> shown;
    QStringList lastBanner;  // its texts, as plain text
    QObject scope;  // a banner after this test must not write to its gone variables
    QObject::connect(&center, &UNUserNotificationCenter::notificationShown, &scope, [&](const QString& id) {
        shown.push_back(id.toStdString());
        lastBanner.clear();
        for (auto* label : center.currentBanner()->findChildren<QLabel*>())
            lastBanner << (label->textFormat() == Qt::PlainText ? label->text() : "rich: " + label->text());
    });
    // Two repositories of stanzas written by hand, each with a maintainer of its own.
    const std::string followed = server->url("followed/"), plain = server->url("plain/");
    auto publish = [&](const char* dir, const char* origin, const std::vector<std::pair<std::string, std::string>>& packages) {
        std::string text;
        for (const auto& [id, version] : packages)
            text += "Package: " + id + "\nVersion: " + version + "\nArchitecture: all\nName: " + id +
                    " Name\nMaintainer: " + origin + " Dev <dev@example.org>\n\n";
        FlatRepository::writeIndexesForText(repoDir.path() + "/" + dir, text, origin);
    };
    auto& sources = ZMRPackageManager::sharedPackageManager().sources();
    auto refreshBoth = [&] {
        const std::string date = ZMRSource::objectForPrimaryKey(followed)->lastrefresh;
        ASSERT_TRUE(sources.refreshSources({followed, plain}));
        ASSERT_TRUE(GuiTest::waitUntil([&] {
            return !sources.isRefreshInProgress() && ZMRSource::objectForPrimaryKey(followed)->lastrefresh != date;
        }, std::chrono::seconds(30)));
        GuiTest::pump(std::chrono::milliseconds(200));  // the announcements come through the main queue
    };
    // Answering the last announcement presents the list of its packages.
    auto answer = [&](const char* kind, const std::vector<std::string>& rows) {
        center.activateBanner();
        GuiTest::pump();
        auto* nav = dynamic_cast<UINavigationController*>(top());
        auto* list = nav ? dynamic_cast<PackagesTableViewController*>(nav->topViewController()) : nullptr;
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->category(), kind);
        EXPECT_EQ(list->title(), "New Packages");
        ASSERT_TRUE(GuiTest::waitUntil([&] { return list->packagesTableView()->numberOfSections() == 1; }));
        EXPECT_EQ(list->model().sectionsDictionary().at("C"), rows);
        QDir().mkpath(VOSTRELLE_SCREENSHOT_DIR);
        EXPECT_TRUE(ZMVostrelle::sharedVostrelle().window()->grab().save(
            QString(VOSTRELLE_SCREENSHOT_DIR "/followed-news-%1.png").arg(shown.size())));
        list->navigationItem()->leftBarButtonItem()->trigger();  // "Close"
        ASSERT_TRUE(GuiTest::waitUntil([&] { return top() == ZMVostrelle::sharedVostrelle().tabBarController(); }));
    };
    publish("followed", "Followed Repo", {{"com.f.one", "1.0"}});
    publish("plain", "Plain Repo", {{"com.p.one", "1.0"}});
    storeSources({followed, plain});
    refreshBoth();
    EXPECT_TRUE(shown.empty()) << "nobody follows either source yet";

    // Followed: the next refresh announces its new package, not the changed one; the other source stays quiet.
    realm->transactionWithBlock([&] {
        auto source = *realm->objectForPrimaryKey<ZMRSource>(followed);
        realm->setValueForKey(source, "isFollowed", true);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // a new Last-Modified second
    publish("followed", "Followed Repo", {{"com.f.one", "1.1"}, {"com.f.two", "1.0"}});
    publish("plain", "Plain Repo", {{"com.p.one", "1.0"}, {"com.p.two", "1.0"}});
    refreshBoth();
    EXPECT_EQ(shown, std::vector<std::string>{"vostrelle.followed.source." + followed});
    EXPECT_EQ(lastBanner, (QStringList{"New Packages from Followed Source", "New in Followed Repo: com.f.two Name"}));
    answer(kCategorySpecial_NewPackagesFromFollowedSource, {"com.f.two"});

    // A followed developer's new package is announced once the refresh has ended.
    bool following = false;
    ZMRPackageManager::sharedPackageManager().developers().setDeveloper("Plain Repo Dev <dev@example.org>", true,
                                                                       [&](auto) { following = true; });
    ASSERT_TRUE(GuiTest::waitUntil([&] { return following; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    publish("plain", "Plain Repo", {{"com.p.one", "1.0"}, {"com.p.two", "1.0"}, {"com.p.three", "1.0"}});
    refreshBoth();
    ASSERT_TRUE(GuiTest::waitUntil([&] { return shown.size() == 2; }, std::chrono::seconds(10)));
    EXPECT_EQ(shown[1], "vostrelle.followed.developer.plain repo dev <dev@example.org>");
    EXPECT_EQ(lastBanner, (QStringList{"New Packages from Followed Developers", "New from Plain Repo Dev: com.p.three Name"}));
    answer(kCategorySpecial_NewPackagesFromFollowedDeveloper, {"com.p.three"});
    center.setDesktopNotificationsEnabled(true);
}

}  // namespace
