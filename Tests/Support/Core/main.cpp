// Core tests run on a main loop of their own: the test thread is the main
// thread, and tests pump it with TestSupport::waitUntil.
#include <gtest/gtest.h>

#include "Dispatch/Dispatch.h"

int main(int argc, char** argv) {
    Dispatch::MainLoop::instance().install();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
