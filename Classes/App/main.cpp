// Process entry: the log file, the web engine's needs, Qt, then the
// application (ZMApplication::start, which tests call too), its loop, and
// the end of its background builds before Qt goes (ZMApplication::finish).
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Miscellaneous/ZMHeap.h"
#include "Miscellaneous/ZMLog.h"
#include "Miscellaneous/ZMPaths.h"
#include "App/ZMApplication.h"
#include "Online/Screens/ZMStoreCallbackSchemeHandler.h"

namespace {

int gSignalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    const char byte = 1;
    // Only async-signal-safe work here: the event loop reads the pipe.
    [[maybe_unused]] ssize_t n = ::write(gSignalPipe[1], &byte, 1);
}

// Standard output and error go to the end of the log file. The log is trimmed
// first, while nothing of ours writes to it yet.
void redirectOutputToLog() {
    const std::string directory = ZMPaths::logDirectory();
    if (!ZMPaths::createDirectories(directory)) {
        std::fprintf(stderr, "cannot create the log directory %s\n", directory.c_str());
        return;
    }
    const std::string file = ZMPaths::logFile();
    ZMLog::trimFile(file);
    const char* toTerminal = std::getenv("VOSTRELLE_LOG_TO_TERMINAL");
    if (toTerminal && std::strcmp(toTerminal, "1") == 0) return;
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "cannot open the log file %s: %s\n", file.c_str(), std::strerror(errno));
        return;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(fd, STDOUT_FILENO);
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

// SIGTERM and SIGINT end the event loop, so the delegate's termination work
// (queue marks, date of the visit) runs as it does when the window closes.
void quitOnTerminationSignals(QApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier] {
        char byte;
        [[maybe_unused]] ssize_t n = ::read(gSignalPipe[0], &byte, 1);
        notifier->setEnabled(false);
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    ZMHeap::configure();  // before any thread allocates
    redirectOutputToLog();
    // Chromium (the in-app browser) refuses its sandbox when run as root.
    if (geteuid() == 0) {
        QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        if (!flags.contains("--no-sandbox")) qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (flags + " --no-sandbox").trimmed());
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);  // Qt WebEngine asks for it before the application
    ZMStoreCallbackSchemeHandler::registerScheme();  // the web engine takes schemes only before the application
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vostrelle"));
    QApplication::setApplicationVersion(QStringLiteral(VOSTRELLE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("me.zemtrix.vostrelle"));
    quitOnTerminationSignals(app);
    if (!ZMApplication::start(QCoreApplication::arguments().mid(1))) return 0;
    return ZMApplication::finish(app.exec());
}
