// GUI tests run inside a QApplication (offscreen under ctest); Dispatch's
// main thread is Qt's event loop, as in the application.
#include <gtest/gtest.h>

#include <QApplication>

#include "UIKit/QtMainExecutor.h"
#include "UIKit/UIViewController.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    UIKit::installQtMainExecutor();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
