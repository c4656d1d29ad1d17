// vostrelle-webhost: shows one web depiction for the program, out of its
// process, so that the web engine's memory and its start-up wait are never
// the program's; it goes when the page's screen closes.
//
//   vostrelle-webhost     (started by the program, with the channel's socket as descriptor 3)
//
// It never shows a window of its own: the program paints the pictures it
// sends.
#include <QApplication>
#include <QLocalSocket>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "Details/WebDepictionChannel.h"
#include "Details/WebDepictionHost.h"
#include "Miscellaneous/ZMHeap.h"
#include "Online/Screens/ZMStoreCallbackSchemeHandler.h"

namespace {
constexpr int kChannelDescriptor = 3;

void addChromiumFlag(const QByteArray& flag) {
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags.contains(flag)) qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (flags + " " + flag).trimmed());
}
}  // namespace

int main(int argc, char** argv) {
    ZMHeap::configure();
    if (::fcntl(kChannelDescriptor, F_GETFD) == -1) {
        ::fprintf(stderr, "vostrelle-webhost: started by the program only (no channel on descriptor 3)\n");
        return 2;
    }
    // Pictures are drawn in memory: no window, no graphics card.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    addChromiumFlag("--disable-gpu");
    if (geteuid() == 0) addChromiumFlag("--no-sandbox");  // Chromium refuses its sandbox as root
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);  // Qt WebEngine asks for it before the application
    ZMStoreCallbackSchemeHandler::registerScheme();  // known to the engine as in the program, so refused alike
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vostrelle"));
    QApplication::setQuitOnLastWindowClosed(false);

    QLocalSocket socket;
    if (!socket.setSocketDescriptor(kChannelDescriptor)) {
        ::fprintf(stderr, "vostrelle-webhost: descriptor 3 is not a local socket\n");
        return 2;
    }
    WebDepictionChannel channel(&socket, &socket);
    WebDepictionHost host(&channel);
    // The program closed the page (or is gone): so is this process.
    QObject::connect(&socket, &QLocalSocket::disconnected, &app, &QCoreApplication::quit);
    QObject::connect(&channel, &WebDepictionChannel::failed, &app, &QCoreApplication::quit);
    return app.exec();
}
