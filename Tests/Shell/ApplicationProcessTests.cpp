// The application as a process: its log file, and a clean end on SIGTERM,
// also while a transfer is under way or a package's text is being built.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <nlohmann/json.hpp>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "Database/ZMRPackage.h"
#include "Miscellaneous/ZMPaths.h"
#include "Realm/Realm.h"
#include "Support/FlatRepository.h"
#include "Support/Gui/GuiTestSupport.h"
#include "Support/TestSupport.h"
#include "VostrellePersistentPreferences.h"

namespace {

QString applicationPath() {
    // build/Tests/vostrelle_gui_tests -> build/vostrelle
    return QFileInfo(QCoreApplication::applicationDirPath() + "/../vostrelle").canonicalFilePath();
}

// The real program on its own data, log, target root and single-instance socket.
void prepare(QProcess& process, const std::string& dir) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("TMPDIR", QString::fromStdString(dir));
    env.insert("VOSTRELLE_DATA_DIR", QString::fromStdString(dir + "/data"));
    env.insert("VOSTRELLE_LOG_DIR", QString::fromStdString(dir + "/log"));
    env.insert("VOSTRELLE_TARGET_ROOT", QString::fromStdString(dir + "/root"));
    env.insert("VOSTRELLE_ASSUME_REACHABLE", "1");
    env.remove("VOSTRELLE_LOG_TO_TERMINAL");
    process.setProcessEnvironment(env);
}

// A TLS server that never finishes its handshake: it announces a long record
// and then sends it one byte a millisecond, so the client's network thread
// keeps working inside the TLS library.
class DribblingServer {
public:
    DribblingServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 8) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~DribblingServer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        ::close(listener_);
    }
    int port() const { return port_; }
    int connections() const { return connections_; }

private:
    void serve() {
        std::vector<int> clients;
        while (!stop_) {
            pollfd listening{listener_, POLLIN, 0};
            if (::poll(&listening, 1, 1) > 0) {
                int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                const unsigned char header[] = {0x16, 0x03, 0x03, 0x40, 0x00, 0x02, 0x00, 0x3f, 0xfc};
                if (client >= 0 && ::send(client, header, sizeof header, MSG_NOSIGNAL) > 0) {
                    clients.push_back(client);
                    ++connections_;
                }
            }
            std::erase_if(clients, [](int client) {
                char sink[4096];
                while (::recv(client, sink, sizeof sink, MSG_DONTWAIT) > 0) {}
                const char byte = 0x2a;
                if (::send(client, &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT) < 0 && errno != EAGAIN) {
                    ::close(client);
                    return true;
                }
                return false;
            });
        }
        for (int client : clients) ::close(client);
    }

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

bool waitForLaunch(const std::string& log) {
    return GuiTest::waitUntil([&] { return TestSupport::readFile(log).find("] launched\n") != std::string::npos; },
                              std::chrono::seconds(30));
}

// Another Vostrelle beside it, with a data directory of its own but the same
// socket directory (as the user's own Vostrelle beside the tests), is
// another program: this one starts rather than handing over to it.
TEST(ApplicationProcess, TrimsAndAppendsItsLogAndEndsCleanlyOnSigterm) {
    const QString app = applicationPath();
    if (app.isEmpty()) GTEST_SKIP() << "the application is not built";
    TestSupport::TempDir dir, otherDir;
    QProcess other;
    prepare(other, otherDir.path());
    QProcessEnvironment shared = other.processEnvironment();
    shared.insert("TMPDIR", QString::fromStdString(dir.path()));
    other.setProcessEnvironment(shared);
    other.start(app, {});
    ASSERT_TRUE(other.waitForStarted(10000));
    const bool otherLaunched = waitForLaunch(otherDir.path() + "/log/vostrelle.log");

    const std::string log = dir.path() + "/log/vostrelle.log";
    {
        std::filesystem::create_directories(dir.path() + "/log");
        std::ofstream out(log);
        for (int i = 1; i <= 6000; ++i) out << "old " << i << "\n";
    }
    QProcess process;
    prepare(process, dir.path());
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

// Quitting while the network thread is inside a TLS handshake: the program
// must stop its transfers before the libraries clean up at exit.
TEST(ApplicationProcess, QuittingDuringASlowTransferNeverCrashes) {
    const QString app = applicationPath();
    if (app.isEmpty()) GTEST_SKIP() << "the application is not built";
    DribblingServer server;
    ASSERT_GT(server.port(), 0);
    // Adding a source through a link refreshes it at once.
    const QString link = QString("vostrelle://add/https://127.0.0.1:%1/repo/").arg(server.port());
    std::mt19937 random(20);
    for (int run = 0; run < 20; ++run) {
        TestSupport::TempDir dir;
        QProcess process;
        prepare(process, dir.path());
        const int before = server.connections();
        process.start(app, {link});
        ASSERT_TRUE(process.waitForStarted(10000));
        ASSERT_TRUE(GuiTest::waitUntil([&] { return server.connections() > before; }, std::chrono::seconds(30)))
            << "run " << run << ": the program never refreshed the source";
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 150));
        process.terminate();
        ASSERT_TRUE(process.waitForFinished(20000)) << "run " << run << " did not end";
        ASSERT_EQ(process.exitStatus(), QProcess::NormalExit)
            << "run " << run << " crashed with " << process.exitCode() << ":\n" << TestSupport::readFile(dir.path() + "/log/vostrelle.log");
        ASSERT_EQ(process.exitCode(), 0) << "run " << run;
    }
}

// A description whose build keeps the depictions' thread busy for a good
// part of a second, most of it in Qt's HTML import (which cannot stop
// half-way): some 3.8 MB of paragraphs of long web addresses, nearly the
// most HTML and elements a text may make before it is shown plain.
std::string largeDescription() {
    std::string text;
    for (int paragraph = 0; text.size() < 3'800'000; ++paragraph) {
        text += "Paragraph " + std::to_string(paragraph) + " has *emphasis* and **strong words**:";
        for (int link = 0; link < 30; ++link) text += " <https://example.com/" + std::string(210, 'a') + std::to_string(link) + ">";
        text += "\n\n";
    }
    return text;
}

// The data directory of a user who finished the first run, with one package
// whose native depiction is `depiction`.
void seedPackage(const std::string& dataDir, const std::string& identifier, const std::string& depiction) {
    std::filesystem::create_directories(dataDir);
    ZMPaths::setApplicationSupport(dataDir);
    auto& preferences = VostrellePersistentPreferences::sharedInstance();
    preferences.setValue(VostrellePreferenceKey::SetupDone, true);
    preferences.setValue(VostrellePreferenceKey::WelcomeScreenVersion, std::string(VOSTRELLE_VERSION));
    EXPECT_TRUE(preferences.saveToFile());
    VostrellePersistentPreferences::resetForTesting();
    {
        auto realm = Realm::open(Realm::Configuration{ZMPaths::databaseFile()});
        ZMRPackage package;
        package.identifier = identifier;
        package.name = "Long Read";
        package.version = "1.0";
        package.sileoDepiction = depiction;
        realm->transactionWithBlock([&] { realm->addOrUpdate(package); });
    }
    ZMPaths::resetForTesting();
}

// Quitting while a package's page has its large description built off the
// GUI thread, at varied moments from the depiction's arrival to the text on
// screen: the program stops the build and waits for it before Qt goes, and
// ends with status 0 every time.
TEST(ApplicationProcess, QuittingWhileADescriptionIsBuiltEndsCleanly) {
    const QString app = applicationPath();
    if (app.isEmpty()) GTEST_SKIP() << "the application is not built";
    TestSupport::TempDir site;
    const nlohmann::json depiction = {{"tabs", {{{"tabname", "Details"}, {"views", {{{"markdown", largeDescription()}}}}}}}};
    TestSupport::writeFile(site.path() + "/long.json", depiction.dump());
    FlatRepository::FileServer server(site.path());
    constexpr const char* kIdentifier = "org.example.longread";
    const QString link = QString("vostrelle://show/bundleid=%1").arg(kIdentifier);
    constexpr int kRuns = 10;
    for (int run = 0; run < kRuns; ++run) {
        TestSupport::TempDir dir;
        seedPackage(dir.path() + "/data", kIdentifier, server.url("long.json"));
        QProcess process;
        prepare(process, dir.path());
        const size_t before = server.count("long.json");
        process.start(app, {link});
        ASSERT_TRUE(process.waitForStarted(10000));
        ASSERT_TRUE(GuiTest::waitUntil([&] { return server.count("long.json") > before; }, std::chrono::seconds(30)))
            << "run " << run << ": the package's page never asked for its depiction:\n"
            << TestSupport::readFile(dir.path() + "/log/vostrelle.log");
        // From the depiction's arrival through its parse and the text's build (some 0.5 s here) to past the text shown.
        std::this_thread::sleep_for(std::chrono::milliseconds(run * 70));
        process.terminate();
        ASSERT_TRUE(process.waitForFinished(20000)) << "run " << run << " did not end";
        const std::string log = TestSupport::readFile(dir.path() + "/log/vostrelle.log");
        ASSERT_EQ(process.exitStatus(), QProcess::NormalExit) << "run " << run << " crashed:\n" << log;
        EXPECT_EQ(process.exitCode(), 0) << "run " << run << ":\n" << log;
        // Stopped and waited for, not left running by an exit that gave up on it.
        EXPECT_EQ(log.find("did not stop within"), std::string::npos) << "run " << run << ":\n" << log;
    }
}

}  // namespace
