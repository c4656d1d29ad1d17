// Core tests run on a main loop of their own: the test thread is the main
// thread, and tests pump it with TestSupport::waitUntil.
#include <gtest/gtest.h>

#include "Dispatch/Dispatch.h"

#if defined(__SANITIZE_THREAD__)
// A serial queue's own thread that a test leaves to exit() (as the program
// leaves the depictions' thread when exit() comes before its finish) ends
// unjoined: no race, and no fault of the test's.
extern "C" const char* __tsan_default_options() { return "report_thread_leaks=0"; }
#endif

int main(int argc, char** argv) {
    Dispatch::MainLoop::instance().install();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
