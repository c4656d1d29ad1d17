#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Miscellaneous/ZMLog.h"
#include "Support/TestSupport.h"

namespace {

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string numberedLines(int first, int last, const char* prefix = "line ") {
    std::string text;
    for (int i = first; i <= last; ++i) text += prefix + std::to_string(i) + "\n";
    return text;
}

int gLoggedLine = 0;
void reportSomething() {
    gLoggedLine = __LINE__ + 1;
    ZMLOG("Error : {} ({})", "no route", 7);
}

}  // namespace

TEST(ZMLog, LinesNameTheFunctionAndTheSourceLine) {
    EXPECT_EQ(ZMLog::formatLine("refreshSource", 120, "done"), "(*** Vostrelle 5 ***) refreshSource [Line 120] done");
    TestSupport::StderrCapture capture;
    reportSomething();
    EXPECT_EQ(capture.text(),
              "(*** Vostrelle 5 ***) reportSomething [Line " + std::to_string(gLoggedLine) + "] Error : no route (7)\n");
}

TEST(ZMLog, LinesFromManyThreadsStayWhole) {
    TestSupport::StderrCapture capture;
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 300; ++i) ZMLOG("thread {} message {} {}", t, i, std::string(100, 'x'));
        });
    }
    for (auto& thread : threads) thread.join();
    auto lines = linesOf(capture.text());
    ASSERT_EQ(lines.size(), 1800u);
    std::regex shape(R"(\(\*\*\* Vostrelle 5 \*\*\*\) operator\(\) \[Line \d+\] thread \d message \d+ x{100})");
    for (const auto& line : lines) ASSERT_TRUE(std::regex_match(line, shape)) << line;
}

TEST(ZMLog, TrimKeepsTheLastLinesOnceTheThresholdIsReached) {
    TestSupport::TempDir dir;
    std::string path = dir.file("vostrelle.log");

    TestSupport::writeFile(path, numberedLines(1, 5000));
    ASSERT_TRUE(ZMLog::trimFile(path));
    EXPECT_EQ(TestSupport::readFile(path), numberedLines(1, 5000)) << "5000 lines are left alone";

    TestSupport::writeFile(path, numberedLines(1, 5001));
    ASSERT_TRUE(ZMLog::trimFile(path));
    EXPECT_EQ(TestSupport::readFile(path), numberedLines(1002, 5001));

    TestSupport::writeFile(path, numberedLines(1, 12345));
    ASSERT_TRUE(ZMLog::trimFile(path));
    EXPECT_EQ(TestSupport::readFile(path), numberedLines(8346, 12345));

    // A last line without its newline still counts as a line.
    std::string unterminated = numberedLines(1, 5000) + "line 5001";
    TestSupport::writeFile(path, unterminated);
    ASSERT_TRUE(ZMLog::trimFile(path));
    std::string expected = numberedLines(1002, 5000) + "line 5001";
    EXPECT_EQ(TestSupport::readFile(path), expected);

    std::string almost = numberedLines(1, 4999) + "line 5000";
    TestSupport::writeFile(path, almost);
    ASSERT_TRUE(ZMLog::trimFile(path));
    EXPECT_EQ(TestSupport::readFile(path), almost);

    EXPECT_TRUE(ZMLog::trimFile(dir.file("missing.log"))) << "no log yet is not an error";
}

TEST(ZMLog, TrimKeepsTheFileThatOpenDescriptorsAppendTo) {
    TestSupport::TempDir dir;
    std::string path = dir.file("vostrelle.log");
    TestSupport::writeFile(path, numberedLines(1, 6000));
    // Standard error of the application is such a descriptor.
    int appender = open(path.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(appender, 0);
    ASSERT_TRUE(ZMLog::trimFile(path));
    std::string after = "after trim\n";
    ASSERT_EQ(write(appender, after.data(), after.size()), static_cast<ssize_t>(after.size()));
    close(appender);
    EXPECT_EQ(TestSupport::readFile(path), numberedLines(2001, 6000) + after);
}

