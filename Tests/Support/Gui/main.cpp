// GUI tests run inside a QApplication (offscreen under ctest); Dispatch's
// main thread is Qt's event loop, as in the application.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <fstream>

#include "App/ZMApplication.h"
#include "Online/Screens/ZMStoreCallbackSchemeHandler.h"
#include "UIKit/QtMainExecutor.h"
#include "UIKit/UIViewController.h"

int main(int argc, char** argv) {
    // Test discovery runs this without ctest's environment: without a display
    // the offscreen platform is the only one that can start.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && !qEnvironmentVariableIsSet("DISPLAY") &&
        !qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The tests' loopback servers are the network; a test that wants it
    // unreachable says so through the hook.
    setenv("VOSTRELLE_ASSUME_REACHABLE", "1", 0);
    {
        QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        if (!flags.contains("--disable-gpu")) qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (flags + " --disable-gpu").trimmed());
    }
    // Chromium refuses to run as root inside its sandbox (CI containers run as root).
    if (geteuid() == 0) {
        QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        if (!flags.contains("--no-sandbox")) qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (flags + " --no-sandbox").trimmed());
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);  // Qt WebEngine asks for it before the application
    ZMStoreCallbackSchemeHandler::registerScheme();  // as the application does, before QApplication
    QApplication app(argc, argv);
    UIKit::installQtMainExecutor();
    ::testing::InitGoogleTest(&argc, argv);
    // The reachability test runs the walks with this set: the classes of the
    // screens that came on screen go to the file, one a line.
    const char* record = std::getenv("VOSTRELLE_TEST_SCREEN_RECORD");
    if (record && *record) UIViewController::setRecordsAppearingScreensForTesting(true);
    const int result = RUN_ALL_TESTS();
    if (record && *record) {
        std::ofstream out(record, std::ios::app);
        for (const auto& name : UIViewController::appearedScreenClassesForTesting()) out << name << "\n";
    }
    // As the application ends: the texts still being built stop before Qt goes.
    return ZMApplication::finish(result);
}
