// Setup backup (the document, the upload task, the local file) and finding
// and comparing a backup for restoration.
#include <sys/stat.h>

#include <filesystem>

#include <fmt/format.h>

#include "Miscellaneous/ZMPaths.h"
#include "Online/Services/OnlineServicesFixture.h"
#include "Services/ZMBackupVostrelleSetupTask.h"
#include "Services/ZMSetupBackup.h"
#include "Services/ZMSetupRestoration.h"

using Behaviour = FakeMakerAPI::Behaviour;
using Kind = ZMSetupRestoration::Finding::Kind;

TEST(ZMSetupBackupDocument, SaveBodyAndParsing) {
    EXPECT_EQ(ZMSetupBackup{}.saveBody(12), "key=Quendarix&userID=12&");
    ZMSetupBackup two{{"https://a.example/", "http://b.example/x y/"}, {"com.a"}};
    EXPECT_EQ(two.saveBody(3),
              "key=Quendarix&userID=3&sources[]=https%3A%2F%2Fa.example%2F&"
              "sources[]=http%3A%2F%2Fb.example%2Fx%20y%2F&packages[]=com.a&");
    auto back = ZMSetupBackup::parse(two.jsonText());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->sources, two.sources);
    EXPECT_EQ(back->packages, two.packages);
    EXPECT_TRUE(ZMSetupBackup::parse("{\"packages\": [\"p\"]}")) << "a missing list is empty";
    for (const char* bad : {"[]", "{\"sources\": \"a\"}", "{\"sources\": [1]}", "{\"packages\": [null]}", "Error"})
        EXPECT_FALSE(ZMSetupBackup::parse(bad)) << bad;
}

TEST_F(OnlineServices, BackupTaskTellsTheTruthInOnePopup) {
    maker->addAccount({"pat", "pw", 30, "", "", "5"});
    ASSERT_TRUE(maker->signIn("pat", "pw"));
    addSources({"https://a.example/", "https://b.example/"});
    addPackages({"com.installed"}, true);
    addPackages({"com.not"}, false);
    struct Case {
        Behaviour behaviour;
        const char* message;
        bool success;
    } cases[] = {
        {{}, "Vostrelle setup successfully saved.", true},
        {{.body = "Error"}, "There was an error during the backup upload process, contact us or retry later.", false},
        {{.status = 500, .body = "Saved"},
         "There was an error during the backup upload process, contact us or retry later.",
         false},
        {{.hold = true}, "The request timed out.", false},
    };
    for (const auto& c : cases) {
        // Only the silent server should meet the limit, even on a loaded machine.
        ZMMakerAPI::setRequestTimeLimit(c.behaviour.hold ? 1.0 : 30.0);
        maker->setBehaviour("setup/savesetup.php", c.behaviour);
        std::vector<nlohmann::json> popups, finished;
        auto popup = NotificationCenter::defaultCenter().addObserver(
            kVostrelleSetupBackupDoneNotification, NotificationCenter::Queue::Posting,
            [&](const Notification& n) { popups.push_back(n.userInfo); });
        auto done = NotificationCenter::defaultCenter().addObserver(
            ZMPipelineTaskFinishedNotification, NotificationCenter::Queue::Posting,
            [&](const Notification& n) { finished.push_back(n.userInfo); });
        ASSERT_TRUE(ZMSetupBackup::backupOnline());
        EXPECT_FALSE(ZMSetupBackup::backupOnline()) << "a second backup while one runs is ignored";
        ASSERT_TRUE(TestSupport::waitUntil([&] { return !popups.empty() && !finished.empty(); }));
        TestSupport::pumpMainLoop(std::chrono::milliseconds(50));
        ASSERT_EQ(popups.size(), 1u);
        EXPECT_EQ(popups[0]["title"], "Vostrelle Setup Backup");
        EXPECT_EQ(popups[0]["message"].get<std::string>().rfind(c.message, 0), 0u) << popups[0]["message"];
        EXPECT_EQ(finished.at(0)["success"], c.success) << c.message;
        EXPECT_EQ(finished.at(0)["taskID"], "Setup-Backup");
        maker->clearBehaviour("setup/savesetup.php");
    }
    auto sent = maker->requests("setup/savesetup.php").at(0);
    EXPECT_EQ(sent.fieldValues("sources[]"), (std::vector<std::string>{"https://a.example/", "https://b.example/"}));
    EXPECT_EQ(sent.fieldValues("packages[]"), (std::vector<std::string>{"com.installed"}));
    EXPECT_EQ(sent.body.back(), '&');
    EXPECT_EQ(sent.header("User-Agent").rfind("Vostrelle/", 0), 0u);
    EXPECT_FALSE(sent.header("X-Device-UUID").empty());
    EXPECT_EQ(maker->setup(30), (nlohmann::json{{"sources", {"https://a.example/", "https://b.example/"}},
                                                {"packages", {"com.installed"}}}));
    ZMMakerAPI::setRequestTimeLimit(std::nullopt);
}

TEST_F(OnlineServices, LocalBackupReplacesTheFileAndReportsAFailedWrite) {
    auto first = ZMSetupBackup::backupLocally();
    ASSERT_TRUE(first.ok());
    EXPECT_EQ(ZMSetupBackup::parse(TestSupport::readFile(*first.value))->sources, std::vector<std::string>{});
    addSources({"https://a.example/"});
    ASSERT_TRUE(ZMSetupBackup::backupLocally().ok());
    EXPECT_EQ(ZMSetupBackup::parse(TestSupport::readFile(*first.value))->sources,
              std::vector<std::string>{"https://a.example/"});

    // The file lists the user's sources and packages: it is its owner's only,
    // whatever the umask and whatever the file it replaces allowed.
    const struct {
        mode_t umask;
        std::optional<mode_t> before;  // the file there already; none: no file
    } modes[] = {{0, std::nullopt}, {022, 0644}, {0, 0666}};
    for (const auto& m : modes) {
        SCOPED_TRACE(fmt::format("umask {:03o}, before {:o}", m.umask, m.before.value_or(0)));
        const std::string path = ZMSetupBackup::localBackupPath();
        std::filesystem::remove(path);
        if (m.before) {
            TestSupport::writeFile(path, "{}");
            ASSERT_EQ(::chmod(path.c_str(), *m.before), 0);
        }
        const mode_t saved = ::umask(m.umask);
        auto written = ZMSetupBackup::backupLocally();
        ::umask(saved);
        ASSERT_TRUE(written.ok());
        struct stat st {};
        ASSERT_EQ(::stat(written.value->c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
    }

    // A data directory that cannot hold files: the failure is reported, not hidden.
    TestSupport::writeFile(env.root() + "/plain-file", "x");
    ZMPaths::setApplicationSupport(env.root() + "/plain-file/support");
    auto failed = ZMSetupBackup::backupLocally();
    ZMPaths::setApplicationSupport(env.support());
    ASSERT_FALSE(failed.ok());
    EXPECT_NE(failed.error->localizedDescription().find("the previous backup is unchanged"), std::string::npos);
}

TEST_F(OnlineServices, FindingABackupAndComparingIt) {
    auto find = [] {
        Answer<ZMSetupRestoration::Finding> found;
        ZMSetupRestoration::openBackup(found.callback());
        EXPECT_TRUE(found.wait());
        return found.value();
    };
    // Not premium: the local file, or an offer to make one.
    EXPECT_EQ(find().kind, Kind::NoBackup);
    addSources({"http://conf.example/", "https://other.example/"});
    addPackages({"com.installed"}, true);
    addPackages({"com.here"}, false);
    TestSupport::writeFile(
        ZMSetupBackup::localBackupPath(),
        R"({"sources": ["https://conf.example", "https://other.example/", "ftp://x", "https://new.example/",
                                           "https://new.example/"],
                               "packages": ["com.installed", "com.here", "com.gone"]})");
    auto local = find();
    EXPECT_EQ(local.kind, Kind::Compared);
    EXPECT_EQ(local.comparison.sourcesToRestore,
              (std::map<std::string, bool>{
                  {"https://conf.example", false}, {"https://other.example/", false}, {"https://new.example/", true}}));
    EXPECT_EQ(local.comparison.unusableSources, std::vector<std::string>{"ftp://x"});
    EXPECT_EQ(local.comparison.packagesToRestore,
              (std::map<std::string, bool>{{"com.installed", false}, {"com.here", true}, {"com.gone", true}}));

    // Premium: always the server, never the local file.
    maker->addAccount({"pat", "pw", 30, "", "", "5"});
    ASSERT_TRUE(maker->signIn("pat", "pw"));
    struct Case {
        Behaviour behaviour;
        std::optional<nlohmann::json> stored;
        Kind kind;
        const char* message;
    } cases[] = {
        {{}, std::nullopt, Kind::Failed, "There was an error during the backup retrieval, contact us or retry later."},
        {{.status = 502},
         nlohmann::json{{"sources", {"https://new.example/"}}},
         Kind::Failed,
         "There was an error during the backup retrieval, contact us or retry later."},
        {{},
         nlohmann::json{{"sources", nlohmann::json::array()}, {"packages", nlohmann::json::array()}},
         Kind::Empty,
         "This backup is empty"},
        {{},
         nlohmann::json{{"sources", {"https://other.example/"}}},
         Kind::AllInstalled,
         "All items in this backup are already installed, do you want to view the backup anyways?"},
        {{.body = "{\"sources\": [1]}"},
         std::nullopt,
         Kind::Failed,
         "There was an error during the backup retrieval, contact us or retry later."},
    };
    for (const auto& c : cases) {
        if (c.stored) maker->setSetup(30, *c.stored);
        maker->setBehaviour("setup/retrievesetup.php", c.behaviour);
        auto found = find();
        EXPECT_EQ(found.kind, c.kind) << c.message;
        EXPECT_EQ(found.message, c.message);
        maker->clearBehaviour("setup/retrievesetup.php");
    }
    EXPECT_EQ(maker->count("setup/retrievesetup.php"), std::size(cases));
    EXPECT_EQ(maker->requests("setup/retrievesetup.php").at(0).body, "key=Quendarix&userID=30");
}
