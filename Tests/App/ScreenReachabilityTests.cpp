// Every screen in Classes/ is reached by a walk from the launch. The walks are
// the tests of the suites named "...Road" and "...EndToEnd": each starts the
// application the way main() does and clicks its way on. This test runs each
// walk in a process of its own (as ctest does), with the screen recorder on,
// and compares the screens that came on screen with every view-controller
// class found in the source tree now, so a new screen no walk reaches fails
// here by its name.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Support/TestSupport.h"
#include "VostrelleBuildPaths.h"

namespace {

namespace fs = std::filesystem;

// A walk takes seconds; one still running after this is stuck (a modal loop,
// a wait that never ends): it is stopped, named, and not run again.
constexpr int kWalkLimitMs = 90000;

// Screens no walk can reach here, and why. Each must still be a screen class,
// and one no walk reaches: a stale entry fails the test too.
const std::map<std::string, std::string>& unreachableHere() {
    static const std::map<std::string, std::string> reasons = {
        {"TabPlaceholderViewController",
         "stands in for an online screen whose factory is not installed; the launch installs every one"},
    };
    return reasons;
}

std::string withoutComments(const std::string& text) {
    static const std::regex comments(R"(//[^\n]*|/\*[\s\S]*?\*/)");
    return std::regex_replace(text, comments, " ");
}

// Class name -> its direct base classes (last name component), and where it is declared.
struct Declarations {
    std::map<std::string, std::vector<std::string>> bases;
    std::map<std::string, std::string> file;
};

void scan(const fs::path& root, Declarations& out, bool headersOnly) {
    static const std::regex declaration(R"(\bclass\s+(\w+)\s*(?:final\s*)?:\s*([^{;]+)\{)");
    static const std::regex base(R"((?:public|protected|private)\s+((?:\w+::)*\w+))");
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string extension = entry.path().extension().string();
        if (!entry.is_regular_file() || (extension != ".h" && (headersOnly || extension != ".cpp"))) continue;
        const std::string text = withoutComments(TestSupport::readFile(entry.path().string()));
        for (std::sregex_iterator it(text.begin(), text.end(), declaration), end; it != end; ++it) {
            const std::string name = (*it)[1];
            const std::string list = (*it)[2];
            auto& bases = out.bases[name];
            for (std::sregex_iterator b(list.begin(), list.end(), base); b != end; ++b) {
                std::string baseName = (*b)[1];
                if (auto colon = baseName.rfind("::"); colon != std::string::npos) baseName = baseName.substr(colon + 2);
                bases.push_back(baseName);
            }
            out.file[name] = fs::relative(entry.path(), VOSTRELLE_SOURCE_DIR).string();
        }
    }
}

// The classes of Classes/ that are screens (UIViewController below them), with
// the ones other screens derive from.
struct Screens {
    std::set<std::string> all;
    std::map<std::string, std::set<std::string>> descendants;  // of every screen that has any
};

Screens screensInTheSourceTree() {
    Declarations classes;
    scan(fs::path(VOSTRELLE_SOURCE_DIR) / "Platform", classes, true);
    Declarations ours;
    scan(fs::path(VOSTRELLE_SOURCE_DIR) / "Classes", ours, false);
    for (const auto& [name, bases] : ours.bases) {
        classes.bases[name] = bases;
        classes.file[name] = ours.file[name];
    }
    std::set<std::string> screens = {"UIViewController"};
    for (bool grew = true; grew;) {
        grew = false;
        for (const auto& [name, bases] : classes.bases)
            if (!screens.count(name) && std::any_of(bases.begin(), bases.end(), [&](const auto& b) { return screens.count(b) > 0; }))
                grew = screens.insert(name).second;
    }
    Screens out;
    for (const auto& name : screens)
        if (ours.bases.count(name)) out.all.insert(name);
    for (const auto& name : out.all)
        for (const auto& other : out.all) {
            // other derives from name?
            std::vector<std::string> todo = classes.bases[other];
            std::set<std::string> seen;
            while (!todo.empty()) {
                const std::string b = todo.back();
                todo.pop_back();
                if (!seen.insert(b).second) continue;
                if (b == name) {
                    out.descendants[name].insert(other);
                    break;
                }
                for (const auto& up : classes.bases[b]) todo.push_back(up);
            }
        }
    return out;
}

std::vector<std::string> walkTests() {
    QProcess list;
    list.start(QCoreApplication::applicationFilePath(), {"--gtest_list_tests", "--gtest_filter=*Road.*:*EndToEnd.*"});
    EXPECT_TRUE(list.waitForFinished(60000));
    std::vector<std::string> tests;
    std::string suite;
    std::istringstream lines(list.readAllStandardOutput().toStdString());
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line.rfind("Note:", 0) == 0) continue;
        if (line[0] != ' ') {
            suite = line.substr(0, line.find_first_of(" \t"));
        } else {
            const auto start = line.find_first_not_of(' ');
            tests.push_back(suite + line.substr(start, line.find_first_of(" \t#", start) - start));
        }
    }
    return tests;
}

TEST(ScreenReachability, EveryScreenIsReachedByAWalkFromTheLaunch) {
    const Screens screens = screensInTheSourceTree();
    ASSERT_GT(screens.all.size(), 40u) << "the source tree was not read";
    ASSERT_TRUE(screens.all.count("PackageDetailsViewController"));
    const std::vector<std::string> walks = walkTests();
    ASSERT_GE(walks.size(), 10u);

    // Each walk in its own process, one after another: ctest gives this test
    // one slot of its parallel run, and the walks click and type against
    // timers. A walk that fails is run once more; one that fails again fails
    // as its own test too, and here only says why screens may be missing. A
    // walk that does not end in time fails here, by its name.
    TestSupport::TempDir records;
    std::set<std::string> reached;
    std::vector<std::string> failedWalks, stuckWalks;
    enum class Outcome { Passed, Failed, Stuck };
    auto runWalk = [&](size_t i, int attempt) {
        const std::string name = std::to_string(i) + "-" + std::to_string(attempt);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("VOSTRELLE_TEST_SCREEN_RECORD", QString::fromStdString(records.file(name)));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setStandardOutputFile(QString::fromStdString(records.file(name + ".log")));
        process.start(QCoreApplication::applicationFilePath(), {QString::fromStdString("--gtest_filter=" + walks[i])});
        const bool ended = process.waitForFinished(kWalkLimitMs);
        if (!ended) process.kill(), process.waitForFinished(5000);
        std::istringstream names(TestSupport::readFile(records.file(name)));
        for (std::string line; std::getline(names, line);)
            if (!line.empty()) reached.insert(line);
        if (ended && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0) return Outcome::Passed;
        const std::string log = TestSupport::readFile(records.file(name + ".log"));
        if (!ended) {
            std::cerr << walks[i] << " did not end within " << kWalkLimitMs / 1000 << " s; its output ended with:\n"
                      << log.substr(log.size() > 1500 ? log.size() - 1500 : 0) << "\n";
            return Outcome::Stuck;
        }
        std::string failures;
        for (size_t at = log.find("Failure"); at != std::string::npos && failures.size() < 2000; at = log.find("Failure", at + 1))
            failures += log.substr(log.rfind('\n', at) + 1, 400) + "\n";
        std::cerr << walks[i] << " failed (attempt " << attempt << "):\n" << failures;
        return Outcome::Failed;
    };
    for (size_t i = 0; i < walks.size(); ++i) {
        Outcome outcome = runWalk(i, 1);
        if (outcome == Outcome::Failed) outcome = runWalk(i, 2);
        if (outcome == Outcome::Stuck) stuckWalks.push_back(walks[i]);
        if (outcome == Outcome::Failed) failedWalks.push_back(walks[i]);
    }
    EXPECT_TRUE(stuckWalks.empty()) << "walks stopped after " << kWalkLimitMs / 1000
                                    << " s without an end: " << ::testing::PrintToString(stuckWalks);

    auto isReached = [&](const std::string& screen) {
        if (reached.count(screen)) return true;
        auto it = screens.descendants.find(screen);  // a base class: through a screen derived from it
        return it != screens.descendants.end() &&
               std::any_of(it->second.begin(), it->second.end(), [&](const auto& d) { return reached.count(d) > 0; });
    };
    std::vector<std::string> unreached;
    for (const auto& screen : screens.all)
        if (!isReached(screen) && !unreachableHere().count(screen)) unreached.push_back(screen);
    EXPECT_TRUE(unreached.empty()) << "screens no walk from the launch reached: " << ::testing::PrintToString(unreached)
                                   << "; walks that failed twice: " << ::testing::PrintToString(failedWalks)
                                   << ", stuck: " << ::testing::PrintToString(stuckWalks);
    for (const auto& [screen, reason] : unreachableHere()) {
        EXPECT_TRUE(screens.all.count(screen)) << screen << " is listed as unreachable but is no screen of Classes/";
        EXPECT_FALSE(isReached(screen)) << screen << " is listed as unreachable (" << reason << ") but a walk reached it";
    }
}

}  // namespace
