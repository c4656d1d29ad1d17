#include <QLocalSocket>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <thread>

#include "Dispatch/Dispatch.h"
#include "ErrorViewController.h"
#include "QueueScreensFixture.h"
#include "SegmentedViewController.h"
#include "UIKit/UINavigationController.h"
#include "ZMPipelineManager.h"
#include "ZMPostInstallPrompt.h"
#include "ZMSingleInstance.h"
#include "ZMTasksViewController.h"
#include "ZMURLRouter.h"

namespace {

nlohmann::json info(const std::string& taskID, nlohmann::json extra = nlohmann::json::object()) {
    extra["taskID"] = taskID;
    extra["pipelineID"] = "package.ops";
    return extra;
}

class TaskScreensTest : public QueueScreens::Fixture {};

}  // namespace

TEST_F(TaskScreensTest, TasksFollowTheirNotificationsToTheEnd) {
    ZMTasksViewController::History::shared().clear();
    auto* tasks = new ZMTasksViewController;
    root->presentViewController(tasks, false);
    auto& center = NotificationCenter::defaultCenter();
    center.post(ZMPipelineTaskQueuedNotification, {}, info("dl.a", {{"title", "Downloading A"}, {"status", "Queued"}}));
    center.post(ZMPipelineTaskQueuedNotification, {}, info("run", {{"title", "Installing"}, {"status", "Waiting"}}));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return tasks->rows().size() == 2; }));
    center.post(ZMPipelineTaskProgressNotification, {}, info("dl.a", {{"progress", 0.5}}));
    center.post(ZMPipelineTaskStatusNotification, {}, info("dl.a", {{"status", "Done downloading A."}}));
    center.post(ZMPipelineTaskProgressNotification, {}, info("dl.a", {{"progress", 7.0}}));  // clamped
    center.post(ZMPipelineTaskProgressNotification, {}, info("run", {{"progress", 0.6}}));
    center.post(ZMPipelineTaskFinishedNotification, {}, info("dl.a", {{"success", true}, {"cancelled", false}}));
    center.post(ZMPipelineTaskFinishedNotification, {},
                info("run", {{"success", false}, {"cancelled", false}, {"error", {{"code", 34}, {"message", "apt-get failed"}}}}));
    // Reports that arrive after the end take no bar back.
    center.post(ZMPipelineTaskProgressNotification, {}, info("dl.a", {{"progress", 0.2}}));
    center.post(ZMPipelineTaskProgressNotification, {}, info("run", {{"progress", 0.1}}));
    bool delivered = false;  // after every notice above, in order
    Dispatch::main([&] { delivered = true; });
    ASSERT_TRUE(GuiTest::waitUntil([&] { return delivered; }));
    ASSERT_EQ(tasks->rowForTask("run")->state, ZMTasksViewController::TaskRow::State::Failed);
    GuiTest::pump();
    for (const auto& [row, bar] : {std::pair{0, 1000}, std::pair{1, 600}}) {
        auto* shown = tasks->tableView()->cellForRow({0, row});
        ASSERT_NE(shown, nullptr) << row;
        auto* progress = shown->findChild<QProgressBar*>();
        ASSERT_NE(progress, nullptr) << row;
        EXPECT_EQ(progress->value(), bar) << row;
    }
    EXPECT_DOUBLE_EQ(tasks->rowForTask("run")->progress, 0.6);
    auto* a = tasks->rowForTask("dl.a");
    EXPECT_EQ(a->title, "Downloading A");
    EXPECT_EQ(a->status, "Done downloading A.");
    EXPECT_EQ(a->state, ZMTasksViewController::TaskRow::State::Done);
    EXPECT_DOUBLE_EQ(a->progress, 1.0);
    EXPECT_EQ(tasks->rowForTask("run")->error, "apt-get failed");
    GuiTest::pump();
    auto* cell = tasks->tableView()->cellForRow({0, 1});
    ASSERT_NE(cell, nullptr);
    bool shown = false;
    for (auto* label : cell->findChildren<QLabel*>()) shown |= label->text() == "apt-get failed";
    EXPECT_TRUE(shown);

    // A screen opened after the run still tells how it ended; the next task
    // queued while none runs starts afresh.
    auto* later = new ZMTasksViewController;
    EXPECT_EQ(later->rows().size(), 2u);
    delete later;
    center.post(ZMPipelineTaskQueuedNotification, {}, info("next", {{"title", "Next"}}));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return tasks->rows().size() == 1; }));
    EXPECT_EQ(tasks->rows()[0].taskID, "next");

    // A task with neither a title nor an object (the cache rebuild) is listed
    // by its description, never by its identifier.
    center.post(ZMPipelineTaskQueuedNotification, {}, info("apt.cache.rebuild", {{"status", "Rebuilding caches"}}));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return tasks->rows().size() == 2; }));
    GuiTest::pump();
    auto* rebuild = tasks->tableView()->cellForRow({0, 1});
    ASSERT_NE(rebuild, nullptr);
    const auto lines = rebuild->findChildren<QLabel*>();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front()->text(), "Rebuilding caches") << "the row's first line is its title";
}

TEST_F(TaskScreensTest, TheConsoleShowsEarlierAndNewLinesAsText) {
    ZMConsoleViewController::Store::shared().clear();
    ZMPipelineManager::postVerbose("Unpacking com.example.a (1.0) ...");
    ZMPipelineManager::postVerbose("E: <b>broken</b> & failed", true);
    ASSERT_TRUE(GuiTest::waitUntil([] { return ZMConsoleViewController::Store::shared().lines().size() == 2; }));
    auto* nav = ZMTasksViewController::makeTaskScreens();
    root->presentViewController(nav, false);
    auto* segmented = dynamic_cast<SegmentedViewController*>(nav->topViewController());
    ASSERT_NE(segmented, nullptr);
    segmented->showController(1, false);
    auto* console = dynamic_cast<ZMConsoleViewController*>(segmented->currentViewController());
    ASSERT_NE(console, nullptr);
    console->loadViewIfNeeded();
    ZMPipelineManager::postVerbose("Setting up com.example.a (1.0) ...");
    ASSERT_TRUE(GuiTest::waitUntil([&] { return console->textView()->blockCount() >= 3; }));
    QString text = console->textView()->toPlainText();
    EXPECT_EQ(text, "Unpacking com.example.a (1.0) ...\nE: <b>broken</b> & failed\nSetting up com.example.a (1.0) ...");
    EXPECT_TRUE(console->textView()->isReadOnly());
}

TEST_F(TaskScreensTest, PostInstallActionsWaitForTheUser) {
    using A = ZMPostInstallAction;
    EXPECT_EQ(ZMPostInstallPrompt::actionsToRun({A::Respring, A::Reboot, A::RefreshIcons}),
              (std::vector<A>{A::RefreshIcons, A::Reboot}));
    EXPECT_EQ(ZMPostInstallPrompt::actionsToRun({A::Respring}), (std::vector<A>{A::Respring}));
    EXPECT_EQ(ZMPostInstallPrompt::textsForActions({A::Respring, A::Reboot}).confirmButton, "Reboot");
    EXPECT_EQ(ZMPostInstallPrompt::textsForActions({A::RefreshIcons}).confirmButton, "Refresh Icons");

    std::vector<A> ran;
    ZMPostInstallPrompt::setExecutor([&](A a) { ran.push_back(a); });
    ZMPostInstallPrompt::setPresenterProvider([this] { return root; });
    ZMPostInstallPrompt::offer({A::Reboot});
    auto* popup = dynamic_cast<ErrorViewController*>(root->presentedViewController());
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->titleLbl()->text(), "Reboot Required");
    QTest::mouseClick(popup->closeBtn(), Qt::LeftButton);  // "Later"
    GuiTest::waitUntil([&] { return root->presentedViewController() == nullptr; });
    EXPECT_TRUE(ran.empty());

    ZMPostInstallPrompt::offer({A::Respring, A::RefreshIcons});
    popup = dynamic_cast<ErrorViewController*>(root->presentedViewController());
    ASSERT_NE(popup, nullptr);
    QTest::mouseClick(popup->otherBtn(), Qt::LeftButton);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return ran.size() == 2; }));
    EXPECT_EQ(ran, (std::vector<A>{A::RefreshIcons, A::Respring}));
    ZMPostInstallPrompt::offer({});  // nothing asked: no popup
    GuiTest::waitUntil([&] { return root->presentedViewController() == nullptr; });
    EXPECT_EQ(root->presentedViewController(), nullptr);
    ZMPostInstallPrompt::setExecutor(nullptr);
    ZMPostInstallPrompt::setPresenterProvider(nullptr);
}

TEST(ZMSingleInstance, ASecondStartHandsItsArgumentsOver) {
    const QString key = QString("vostrelle-test-%1").arg(QCoreApplication::applicationPid());
    ZMSingleInstance first(key);
    ASSERT_TRUE(first.listen());
    ZMSingleInstance second(key);
    EXPECT_FALSE(second.listen());  // one listener per user
    QSignalSpy received(&first, &ZMSingleInstance::argumentsReceived);
    bool handed = false;
    // The hand-over blocks for the answer: the receiving side needs this thread's loop.
    std::thread client([&] {
        handed = second.handOver({"vostrelle://show/bundleid=com.example.a", "/tmp/some file.deb", "bad\nline"});
    });
    ASSERT_TRUE(GuiTest::waitUntil([&] { return received.count() == 1; }));
    client.join();
    EXPECT_TRUE(handed);
    EXPECT_EQ(received.at(0).at(0).toStringList(),
              (QStringList{"vostrelle://show/bundleid=com.example.a", "/tmp/some file.deb"}));
    // Nobody listening: the hand-over fails.
    ZMSingleInstance lone(key + "-none");
    EXPECT_FALSE(lone.handOver({"vostrelle://add/https://a.example/"}, 300));
}

TEST(ZMSingleInstance, OpenRequestsFromACommandLine) {
    QStringList got = ZMSingleInstance::openRequests(
        {"--verbose", "", "vostrelle://add/https://a.example/", "SILEO://payment_completed", "file:///tmp/x.deb",
         "https://elsewhere.example/", "relative/y.deb", "vostrelle://show/bundleid=a.b&name=Night Owl"});
    ASSERT_EQ(got.size(), 5);
    EXPECT_EQ(got[0], "vostrelle://add/https://a.example/");
    EXPECT_EQ(got[1], "SILEO://payment_completed");
    EXPECT_EQ(got[2], "/tmp/x.deb");
    EXPECT_TRUE(got[3].startsWith('/'));
    EXPECT_TRUE(got[3].endsWith("relative/y.deb"));
    EXPECT_EQ(got[4], "vostrelle://show/bundleid=a.b&name=Night Owl") << "a link with a blank is still a link";
}

TEST_F(TaskScreensTest, TheRouterActsOnLinksAndFiles) {
    std::vector<std::string> shown, debs;
    int searchTab = 0;
    ZMURLRouter::Hooks hooks;
    hooks.showPackage = [&](const std::string& id) { shown.push_back(id); };
    hooks.showSearchTab = [&] { ++searchTab; };
    hooks.installDebFile = [&](const std::string& path) { debs.push_back(path); };
    hooks.presenter = [this] { return root; };
    ZMURLRouter::setHooks(hooks);
    store({QueueScreens::package("com.example.a", "1.0", false)});
    TestSupport::TempDir dir;
    TestSupport::writeFile(dir.file("pkg.deb"), "!<arch>\n");
    TestSupport::writeFile(dir.file("notes.txt"), "x");

    int taken = ZMURLRouter::open({"vostrelle://show/bundleid=com.example.a", "vostrelle://developer/Jane%20Doe",
                                   "sileo://authentication_success?token=t", "sileo://payment_completed",
                                   QString::fromStdString(dir.file("pkg.deb")), QString::fromStdString(dir.file("notes.txt")),
                                   QString::fromStdString(dir.file("missing.deb")), "vostrelle://show/bundleid=a%0Ab"});
    EXPECT_EQ(taken, 3) << "store callbacks count only from the program's own store pages";
    EXPECT_EQ(shown, (std::vector<std::string>{"com.example.a"}));
    EXPECT_EQ(searchTab, 1);
    EXPECT_EQ(VostrellePersistentPreferences::sharedInstance().stringForKey("SearchDeveloper"),
              std::optional<std::string>("Jane Doe"));
    ASSERT_EQ(debs.size(), 1u);
    EXPECT_NE(debs[0].find("pkg.deb"), std::string::npos);
    // What was not taken is named in one alert; the callbacks without their tokens.
    auto* told = dynamic_cast<ErrorViewController*>(root->presentedViewController());
    ASSERT_NE(told, nullptr);
    const QString named = told->messageLbl()->text();
    for (const QString& item : {QString("sileo://authentication_success\n"), QString("sileo://payment_completed\n"),
                                QString::fromStdString(dir.file("notes.txt")), QString::fromStdString(dir.file("missing.deb")),
                                QString("vostrelle://show/bundleid=a%0Ab")})
        EXPECT_TRUE(named.contains(item)) << item.toStdString() << " is not named in: " << named.toStdString();
    EXPECT_FALSE(named.contains("token")) << named.toStdString();
    QTest::mouseClick(told->closeBtn(), Qt::LeftButton);
    ASSERT_TRUE(GuiTest::waitUntil([&] { return root->presentedViewController() == nullptr; }));

    // A package the database does not know: its popup, and no details screen.
    EXPECT_FALSE(ZMURLRouter::openURL("vostrelle://show/bundleid=com.example.unknown"));
    ASSERT_TRUE(GuiTest::waitUntil([&] { return root->presentedViewController() != nullptr; }));
    auto* popup = dynamic_cast<ErrorViewController*>(root->presentedViewController());
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->titleLbl()->text(), "Package not Found");
    EXPECT_EQ(shown.size(), 1u);
    ZMURLRouter::setHooks({});
}

TEST_F(TaskScreensTest, AnAddLinkForPlainHttpAsksFirst) {
    ZMURLRouter::Hooks hooks;
    hooks.presenter = [this] { return root; };
    ZMURLRouter::setHooks(hooks);
    EXPECT_TRUE(ZMURLRouter::openURL("vostrelle://add/http://plain.example.org/repo"));
    auto* warning = dynamic_cast<ErrorViewController*>(root->presentedViewController());
    ASSERT_NE(warning, nullptr);
    EXPECT_EQ(warning->titleLbl()->text(), "Warning");
    EXPECT_TRUE(warning->messageLbl()->text().endsWith("\n\nhttp://plain.example.org/repo/")) << "it names the address";
    // Every line shows: the label has the height its text needs at its width.
    window.resize(420, 760);
    GuiTest::pump();
    const QLabel* message = warning->messageLbl();
    EXPECT_GE(message->height(), message->heightForWidth(message->width()));
    EXPECT_FALSE(ZMRSource::objectForPrimaryKey("http://plain.example.org/repo/"));
    QTest::mouseClick(warning->otherBtn(), Qt::LeftButton);  // "Continue"
    ASSERT_TRUE(GuiTest::waitUntil([] { return ZMRSource::objectForPrimaryKey("http://plain.example.org/repo/").has_value(); }));
    EXPECT_FALSE(ZMURLRouter::openURL("vostrelle://add/file:///etc/"));
    ZMURLRouter::setHooks({});
}
