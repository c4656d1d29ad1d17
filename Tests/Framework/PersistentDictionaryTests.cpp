#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <plist/plist.h>

#include "PersistentDictionary.h"
#include "Support/TestSupport.h"

using namespace std::chrono_literals;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

ino_t inodeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

json fileContent(const std::string& path) {
    std::string error;
    auto parsed = PersistentDictionary::dictionaryFromPropertyList(TestSupport::readFile(path), &error);
    return parsed ? *parsed : json();
}

std::vector<std::string> temporariesBeside(const std::string& path) {
    std::vector<std::string> names;
    std::string prefix = fs::path(path).filename().string() + ".tmp-";
    for (auto& entry : fs::directory_iterator(fs::path(path).parent_path())) {
        auto name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0) names.push_back(name);
    }
    return names;
}

}  // namespace

TEST(PersistentDictionary, EveryValueTypeSurvivesTheFile) {
    TestSupport::TempDir dir;
    std::string path = dir.file("prefs.plist");
    json values = {
        {"yes", true},
        {"no", false},
        {"count", 42},
        {"negative", -7},
        {"big", int64_t{9007199254740993}},
        {"ratio", 0.1},
        {"third", 1.0 / 3.0},
        {"text", "Zoë <b> & \"quotes\" 'apostrophes'"},
        {"empty", ""},
        {"list", {1, "two", 3.5, false, json::array({"nested"})}},
        {"object", {{"inner", {{"deep", "value"}}}, {"emptyList", json::array()}, {"emptyObject", json::object()}}},
    };
    {
        PersistentDictionary dictionary(path);
        for (auto& [key, value] : values.items()) dictionary.setValue(key, value);
        // Nulls are left out of the file, also inside lists and objects.
        dictionary.setValue("gone", nullptr);
        dictionary.setValue("nulls", json::array({1, nullptr, 2}));
        dictionary.setValue("nullMember", {{"keep", 1}, {"drop", nullptr}});
        ASSERT_TRUE(dictionary.saveToFile());
    }
    std::string text = TestSupport::readFile(path);
    EXPECT_EQ(text.rfind("<?xml", 0), 0u) << "written as an XML property list";
    EXPECT_NE(text.find("<key>ratio</key>"), std::string::npos);

    values["nulls"] = json::array({1, 2});
    values["nullMember"] = {{"keep", 1}};
    PersistentDictionary reread(path);
    EXPECT_EQ(reread.dictionaryRepresentation(), values);
    EXPECT_EQ(reread.objectForKey("third").get<double>(), 1.0 / 3.0) << "reals keep full precision";
    EXPECT_EQ(reread.integerForKey("big"), 9007199254740993);
}

TEST(PersistentDictionary, ReadsBinaryPropertyListsWithDatesAndData) {
    TestSupport::TempDir dir;
    std::string path = dir.file("binary.plist");
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "when", plist_new_date(100, 0));  // 100 s after 2001-01-01
    plist_dict_set_item(root, "blob", plist_new_data("hi!", 3));
    plist_dict_set_item(root, "flag", plist_new_bool(1));
    plist_dict_set_item(root, "name", plist_new_string("Name"));
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    TestSupport::writeFile(path, std::string(bytes, length));
    plist_to_bin_free(bytes);
    plist_free(root);

    PersistentDictionary dictionary(path);
    EXPECT_EQ(dictionary.stringForKey("when"), "2001-01-01T00:01:40Z");
    EXPECT_EQ(dictionary.stringForKey("blob"), "aGkh");
    EXPECT_TRUE(dictionary.boolForKey("flag"));
    EXPECT_EQ(dictionary.stringForKey("name"), "Name");
    auto when = dictionary.dateForKey("when");
    ASSERT_TRUE(when);
    EXPECT_EQ(std::chrono::system_clock::to_time_t(*when), 978307300);
}

TEST(PersistentDictionary, TypedGettersFollowTheStoredValue) {
    TestSupport::TempDir dir;
    PersistentDictionary d(dir.file("p.plist"));
    // Absent keys.
    EXPECT_FALSE(d.boolForKey("missing"));
    EXPECT_EQ(d.integerForKey("missing"), 0);
    EXPECT_EQ(d.doubleForKey("missing"), 0.0);
    EXPECT_EQ(d.stringForKey("missing"), std::nullopt);
    EXPECT_TRUE(d.objectForKey("missing").is_null());
    EXPECT_EQ(d.dateForKey("missing"), std::nullopt);

    struct Case { json value; bool truth; int64_t integer; std::optional<std::string> text; };
    std::vector<Case> cases = {
        {true, true, 1, "1"},
        {false, false, 0, "0"},
        {1, true, 1, "1"},
        {0, false, 0, "0"},
        {-3, true, -3, "-3"},
        {2.9, true, 2, "2.9"},
        {"YES", true, 0, "YES"},
        {"yes", true, 0, "yes"},
        {"true", true, 0, "true"},
        {"1", true, 1, "1"},
        {"  42", true, 42, "  42"},
        {"NO", false, 0, "NO"},
        {"0", false, 0, "0"},
        {"", false, 0, ""},
        {json::array({1}), false, 0, std::nullopt},
        {json::object({{"a", 1}}), false, 0, std::nullopt},
    };
    for (const auto& c : cases) {
        d.setValue("k", c.value);
        EXPECT_EQ(d.boolForKey("k"), c.truth) << c.value.dump();
        EXPECT_EQ(d.integerForKey("k"), c.integer) << c.value.dump();
        EXPECT_EQ(d.stringForKey("k"), c.text) << c.value.dump();
        EXPECT_EQ(d.objectForKey("k"), c.value);
    }
    d.setValue("k", "2.5");
    EXPECT_EQ(d.doubleForKey("k"), 2.5);
    d.removeObjectForKey("k");
    EXPECT_FALSE(d.containsKey("k"));
    d.setObject("k", "set through setObject");
    EXPECT_EQ(d.stringForKey("k"), "set through setObject");
}

TEST(PersistentDictionary, DatesAreStoredAsUtcText) {
    TestSupport::TempDir dir;
    PersistentDictionary d(dir.file("p.plist"));
    auto date = std::chrono::system_clock::from_time_t(1765054800);  // 2025-12-06T21:00:00Z
    d.setDate("lastRefreshDate", date);
    EXPECT_EQ(d.stringForKey("lastRefreshDate"), "2025-12-06T21:00:00Z");
    EXPECT_EQ(d.dateForKey("lastRefreshDate"), date);
    d.setValue("lastRefreshDate", "not a date");
    EXPECT_EQ(d.dateForKey("lastRefreshDate"), std::nullopt);
}

TEST(PersistentDictionary, SavesOnceAfterTheLastOfSeveralQuickChanges) {
    TestSupport::TempDir dir;
    std::string path = dir.file("p.plist");
    PersistentDictionary d(path);
    d.setValue("step", 0);
    ASSERT_TRUE(d.saveToFile());
    ino_t original = inodeOf(path);

    d.setValue("step", 1);
    TestSupport::pumpMainLoop(600ms);
    d.setValue("step", 2);
    d.setValue("other", "x");
    TestSupport::pumpMainLoop(600ms);
    // The save of the first change was due by now; the later changes put it off.
    EXPECT_EQ(fileContent(path).value("step", -1), 0);
    EXPECT_EQ(inodeOf(path), original) << "no write before one second has passed since the last change";
    EXPECT_TRUE(d.hasUnsavedChanges());

    ASSERT_TRUE(TestSupport::waitUntil([&] { return fileContent(path).value("step", -1) == 2; }, 5s));
    EXPECT_EQ(fileContent(path).value("other", ""), "x");
    TestSupport::waitUntil([&] { return !d.hasUnsavedChanges(); }, 2s);
    EXPECT_FALSE(d.hasUnsavedChanges());
    ino_t saved = inodeOf(path);
    TestSupport::pumpMainLoop(1500ms);
    EXPECT_EQ(inodeOf(path), saved) << "one write for the whole burst";
}

// An explicit save writes at once and leaves the delayed one nothing to do;
// an unchanged value schedules nothing; a dictionary going away writes what
// is pending, and its delayed save touches nothing afterwards.
TEST(PersistentDictionary, ExplicitSavesUnchangedValuesAndTheEnd) {
    TestSupport::TempDir dir;
    std::string path = dir.file("p.plist");
    {
        PersistentDictionary d(path);
        d.setValue("cydiaStoreIsSignedIn", true);
        EXPECT_FALSE(fs::exists(path)) << "nothing is written before the delay without pumping";
        ASSERT_TRUE(d.saveToFile());
        EXPECT_EQ(fileContent(path).value("cydiaStoreIsSignedIn", false), true);
        EXPECT_FALSE(d.hasUnsavedChanges());
        ino_t saved = inodeOf(path);
        TestSupport::pumpMainLoop(1500ms);
        EXPECT_EQ(inodeOf(path), saved) << "the pending delayed save found nothing to do";
        d.setValue("cydiaStoreIsSignedIn", true);
        d.removeObjectForKey("never-set");
        EXPECT_FALSE(d.hasUnsavedChanges());
        d.setValue("late", "change");
    }
    EXPECT_EQ(fileContent(path).value("late", ""), "change");
    TestSupport::pumpMainLoop(1200ms);
    EXPECT_EQ(fileContent(path).value("late", ""), "change");
}

TEST(PersistentDictionary, StaleTemporaryFilesDoNotReplaceTheFileAndAreCleanedUp) {
    TestSupport::TempDir dir;
    std::string path = dir.file("p.plist");
    {
        PersistentDictionary d(path);
        d.setValue("kept", "yes");
        ASSERT_TRUE(d.saveToFile());
    }
    // What an interrupted save leaves: a half-written temporary file.
    std::string full = TestSupport::readFile(path);
    TestSupport::writeFile(path + ".tmp-Ab12Cd", full.substr(0, full.size() / 2));
    PersistentDictionary d(path);
    EXPECT_EQ(d.stringForKey("kept"), "yes");
    EXPECT_TRUE(temporariesBeside(path).empty());
}

TEST(PersistentDictionary, KillingAWriterMidSaveLeavesTheLastCompleteFile) {
    TestSupport::TempDir dir;
    std::string path = dir.file("p.plist");
    // Large values make each save take long enough to be interrupted.
    {
        PersistentDictionary d(path);
        d.setValue("n", 0);
        d.setValue("payload", std::vector<std::string>(20000, "v0"));
        ASSERT_TRUE(d.saveToFile());
    }
    std::mt19937 random(12345);
    int interruptedRounds = 0;
    for (int round = 0; round < 12; ++round) {
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(pipeFds[0]);
            PersistentDictionary d(path);
            for (int n = 1;; ++n) {
                d.setValue("n", n);
                d.setValue("payload", std::vector<std::string>(20000, "v" + std::to_string(n)));
                if (!d.saveToFile()) _exit(3);
                char done = 1;
                if (write(pipeFds[1], &done, 1) != 1) _exit(4);
            }
        }
        close(pipeFds[1]);
        // Let the child finish two saves, then kill it at a random moment.
        char buffer[2];
        for (int got = 0; got < 2;) {
            ssize_t n = read(pipeFds[0], buffer, static_cast<size_t>(2 - got));
            ASSERT_GT(n, 0) << "the writer died before saving twice";
            got += static_cast<int>(n);
        }
        // Kill as soon as a save is under way (its temporary file exists), or
        // at a random moment in every other round.
        if (round % 2 == 0) {
            auto deadline = std::chrono::steady_clock::now() + 2s;
            while (temporariesBeside(path).empty() && std::chrono::steady_clock::now() < deadline) {}
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        }
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        close(pipeFds[0]);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself with status " << status;
        if (!temporariesBeside(path).empty()) ++interruptedRounds;

        std::string error;
        auto content = PersistentDictionary::dictionaryFromPropertyList(TestSupport::readFile(path), &error);
        ASSERT_TRUE(content) << "round " << round << ": " << error;
        int n = content->value("n", -1);
        EXPECT_GE(n, 2);
        const auto& payload = (*content)["payload"];
        ASSERT_EQ(payload.size(), 20000u);
        EXPECT_EQ(payload.front(), "v" + std::to_string(n));
        EXPECT_EQ(payload.back(), "v" + std::to_string(n)) << "a file mixing two saves";
    }
    // The test is only meaningful if some kills landed inside a write.
    EXPECT_GE(interruptedRounds, 3);
    PersistentDictionary reopened(path);
    EXPECT_TRUE(temporariesBeside(path).empty());
}

TEST(PersistentDictionary, UnreadableFilesStartEmptyAndAreKeptAside) {
    TestSupport::TempDir dir;
    std::string validHalf;
    {
        PersistentDictionary d(dir.file("source.plist"));
        d.setValue("a", std::string(200, 'x'));
        ASSERT_TRUE(d.saveToFile());
        std::string full = TestSupport::readFile(dir.file("source.plist"));
        validHalf = full.substr(0, full.size() / 2);
    }
    std::vector<std::pair<std::string, std::string>> broken = {
        {"garbage", "this is not a property list"},
        {"truncated", validHalf},
        {"empty", ""},
        {"array", "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>a</string></array></plist>"},
    };
    for (const auto& [name, content] : broken) {
        std::string path = dir.file(name + ".plist");
        TestSupport::writeFile(path, content);
        TestSupport::StderrCapture capture;
        PersistentDictionary d(path, json{{"default", true}});
        std::string log = capture.text();
        EXPECT_EQ(d.dictionaryRepresentation(), json({{"default", true}})) << name;
        EXPECT_NE(log.find("cannot be used"), std::string::npos) << name << ": " << log;
        EXPECT_TRUE(fs::exists(path + ".corrupt")) << name;
        EXPECT_EQ(TestSupport::readFile(path + ".corrupt"), content) << name;
        // The next save writes a good file and leaves the kept copy alone.
        d.setValue("b", 1);
        ASSERT_TRUE(d.saveToFile());
        EXPECT_EQ(fileContent(path), json({{"default", true}, {"b", 1}})) << name;
        EXPECT_EQ(TestSupport::readFile(path + ".corrupt"), content) << name;
    }
}

// A file the user restricted stays restricted, however it is saved, and also
// when it could not be read and was set aside; a new file is 0644.
TEST(PersistentDictionary, SavingKeepsTheModeOfTheFile) {
    enum class Save { Now, Scheduled, AtTheEnd };
    struct Case {
        std::optional<mode_t> mode;  // of the file before; none: no file
        bool unreadable;
        Save save;
        mode_t after;
    };
    const Case cases[] = {
        {0600, false, Save::Now, 0600},      {0600, false, Save::Scheduled, 0600}, {0640, false, Save::AtTheEnd, 0640},
        {0600, true, Save::Now, 0600},       {0604, true, Save::AtTheEnd, 0604},   {std::nullopt, false, Save::Now, 0644},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(fmt::format("mode {:o}{}, save {}", c.mode.value_or(0), c.unreadable ? ", unreadable" : "",
                                 static_cast<int>(c.save)));
        TestSupport::TempDir dir;
        const std::string path = dir.file("prefs.plist");
        if (c.mode) {
            TestSupport::writeFile(path, c.unreadable ? std::string("not a property list")
                                                      : PersistentDictionary::xmlPropertyList({{"old", 1}}));
            ASSERT_EQ(chmod(path.c_str(), *c.mode), 0);
        }
        {
            PersistentDictionary d(path);
            d.setValue("new", 2);
            if (c.save == Save::Now) { ASSERT_TRUE(d.saveToFile()); }
            if (c.save == Save::Scheduled) {
                ASSERT_TRUE(TestSupport::waitUntil([&] { return fileContent(path).value("new", 0) == 2; }, 5s));
            }
        }
        EXPECT_EQ(fileContent(path).value("new", 0), 2);
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.after);
    }
}

TEST(PersistentDictionary, DefaultsCompleteMissingKeysOnly) {
    TestSupport::TempDir dir;
    std::string path = dir.file("p.plist");
    {
        PersistentDictionary d(path);
        d.setValue("Sort", "Source");
        ASSERT_TRUE(d.saveToFile());
    }
    PersistentDictionary d(path, json{{"Sort", "Name"}, {"Flag", true}});
    EXPECT_EQ(d.stringForKey("Sort"), "Source");
    EXPECT_TRUE(d.boolForKey("Flag"));
    EXPECT_TRUE(d.hasUnsavedChanges()) << "completed keys still have to reach the file";
    EXPECT_TRUE(d.registerDefaults(json{{"Count", 0}, {"Flag", false}}));
    EXPECT_TRUE(d.boolForKey("Flag")) << "a registered default never overrides a value";
    EXPECT_FALSE(d.registerDefaults(json{{"Count", 5}}));
    EXPECT_EQ(d.integerForKey("Count"), 0);

    // Reloading drops unsaved changes and applies every default again.
    d.removeObjectForKey("Flag");
    d.setValue("Sort", "Category");
    d.reload();
    EXPECT_EQ(d.stringForKey("Sort"), "Source");
    EXPECT_TRUE(d.containsKey("Flag"));
    EXPECT_FALSE(d.boolForKey("Flag")) << "the default registered last applies";
    EXPECT_TRUE(d.containsKey("Count"));
}

TEST(PersistentDictionary, ManyThreadsChangingAndReadingLoseNothing) {
    TestSupport::TempDir dir;
    std::string path = dir.file("p.plist");
    PersistentDictionary d(path);
    constexpr int kThreads = 8, kKeys = 200;
    std::atomic<int> wrongReads{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kKeys; ++i) {
                std::string key = "t" + std::to_string(t) + "-" + std::to_string(i);
                d.setValue(key, i);
                if (d.integerForKey(key) != i) ++wrongReads;
                d.setValue("shared", t);
                if (i % 50 == 0 && !d.saveToFile()) ++wrongReads;
                (void)d.dictionaryRepresentation();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrongReads.load(), 0);
    ASSERT_TRUE(d.saveToFile());
    json inMemory = d.dictionaryRepresentation();
    EXPECT_EQ(inMemory.size(), static_cast<size_t>(kThreads * kKeys + 1));
    EXPECT_EQ(fileContent(path), inMemory);
    // Let the delayed saves run; the file must stay complete.
    TestSupport::pumpMainLoop(1200ms);
    TestSupport::waitUntil([&] { return !d.hasUnsavedChanges(); }, 2s);
    EXPECT_EQ(fileContent(path), inMemory);
}
