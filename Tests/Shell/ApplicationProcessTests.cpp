// The application as a process: its log file and a clean shutdown on SIGTERM.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <filesystem>
#include <fstream>

#include "Support/Gui/GuiTestSupport.h"
#include "Support/TestSupport.h"

namespace {

QString applicationPath() {
    // build/Tests/vostrelle_gui_tests -> build/vostrelle
    return QFileInfo(QCoreApplication::applicationDirPath() + "/../vostrelle").canonicalFilePath();
}

QProcessEnvironment environmentFor(const std::string& dir) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("VOSTRELLE_DATA_DIR", QString::fromStdString(dir + "/data"));
    env.insert("VOSTRELLE_LOG_DIR", QString::fromStdString(dir + "/log"));
    env.insert("VOSTRELLE_TARGET_ROOT", QString::fromStdString(dir + "/root"));
    env.remove("VOSTRELLE_LOG_TO_TERMINAL");
    return env;
}

bool waitForLaunch(const std::string& log) {
    return GuiTest::waitUntil([&] { return TestSupport::readFile(log).find("main [Line") != std::string::npos; },
                              std::chrono::seconds(30));
}

// Another Vostrelle (another data directory, as the user's own beside the
// tests) is another program: this one starts rather than handing over.
TEST(ApplicationProcess, TrimsAndAppendsItsLogAndEndsCleanlyOnSigterm) {
    const QString app = applicationPath();
    if (app.isEmpty()) GTEST_SKIP() << "the application is not built";
    TestSupport::TempDir otherDir;
    QProcess other;
    other.setProcessEnvironment(environmentFor(otherDir.path()));
    other.start(app, {});
    ASSERT_TRUE(other.waitForStarted(10000));
    const bool otherLaunched = waitForLaunch(otherDir.path() + "/log/vostrelle.log");

    TestSupport::TempDir dir;
    const std::string logDir = dir.path() + "/log";
    const std::string log = logDir + "/vostrelle.log";
    {
        std::filesystem::create_directories(logDir);
        std::ofstream out(log);
        for (int i = 1; i <= 6000; ++i) out << "old " << i << "\n";
    }
    QProcess process;
    process.setProcessEnvironment(environmentFor(dir.path()));
    process.start(app, {});
    ASSERT_TRUE(process.waitForStarted(10000));
    const bool launched = waitForLaunch(log);
    process.terminate();  // SIGTERM
    other.terminate();
    ASSERT_TRUE(process.waitForFinished(20000));
    ASSERT_TRUE(other.waitForFinished(20000));
    EXPECT_TRUE(otherLaunched);
    ASSERT_TRUE(launched) << TestSupport::readFile(log).substr(0, 2000);
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    // Nothing went to the terminal: output and errors are in the log.
    EXPECT_TRUE(process.readAllStandardOutput().isEmpty());
    EXPECT_TRUE(process.readAllStandardError().isEmpty());

    const std::string text = TestSupport::readFile(log);
    // The old log kept its last 4000 lines, then this run's lines follow.
    EXPECT_EQ(text.rfind("old 2001\n", 0), 0u) << text.substr(0, 40);
    EXPECT_EQ(text.find("old 2000\n"), std::string::npos);
    const auto lastOld = text.find("old 6000\n");
    ASSERT_NE(lastOld, std::string::npos);
    EXPECT_NE(text.find("(*** Vostrelle 5 ***) ", lastOld), std::string::npos);
    // SIGTERM ran the termination work: the visit is stored.
    EXPECT_NE(TestSupport::readFile(dir.path() + "/data/me.zemtrix.vostrelle.plist").find("lastVisitDate"), std::string::npos);
}

}  // namespace
