#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>
#include <vector>

#include "Dispatch/Dispatch.h"
#include "Dispatch/SerialQueue.h"
#include "Support/TestSupport.h"

using namespace std::chrono_literals;

TEST(Dispatch, MainBlocksRunOnTheMainThreadInOrder) {
    std::vector<int> order;
    std::atomic<int> offMain{0};
    for (int i = 0; i < 5; ++i) {
        Dispatch::defaultQueue([&order, &offMain, i] {
            if (Dispatch::isMainThread()) ++offMain;
            Dispatch::main([&order, i] {
                EXPECT_TRUE(Dispatch::isMainThread());
                order.push_back(i);
            });
        });
        // Each hop is queued before the next starts, so arrival is ordered.
        TestSupport::waitUntil([&] { return order.size() == static_cast<size_t>(i + 1); });
    }
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(offMain.load(), 0);
}

TEST(Dispatch, BackgroundAndDefaultQueuesRunOffTheMainThreadConcurrently) {
    std::atomic<int> running{0}, peak{0}, done{0};
    for (int i = 0; i < 4; ++i) {
        Dispatch::defaultQueue([&] {
            int now = ++running;
            int p = peak.load();
            while (now > p && !peak.compare_exchange_weak(p, now)) {}
            std::this_thread::sleep_for(50ms);
            --running;
            ++done;
        });
    }
    std::atomic<bool> backgroundOffMain{false};
    Dispatch::backgroundQueue([&] { backgroundOffMain = !Dispatch::isMainThread(); ++done; });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return done == 5; }));
    EXPECT_GE(peak.load(), 2);
    EXPECT_TRUE(backgroundOffMain);
}

TEST(Dispatch, MainAfterWaitsAtLeastTheDelay) {
    auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point ran;
    bool early = false, late = false;
    Dispatch::mainAfter(0.2, [&] { late = true; ran = std::chrono::steady_clock::now(); });
    Dispatch::mainAfter(0.0, [&] { early = true; EXPECT_FALSE(late); });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return late; }, 5s));
    EXPECT_TRUE(early);
    EXPECT_GE(ran - start, 190ms);
}

TEST(Dispatch, MainSyncFromAWorkerWaitsForTheMainThread) {
    std::atomic<bool> result{false};
    int value = 0;
    Dispatch::backgroundQueue([&] {
        Dispatch::mainSync([&] { value = 42; });
        result = (value == 42);
    });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return result.load(); }));
}

// While the program exits its static objects are torn down; a block the
// pools start then would meet them half destroyed. Queued blocks stay unrun.
TEST(Dispatch, NoBlockStartsOnceTheProgramIsExiting) {
    // A program of its own, started afresh: pools made by earlier tests of
    // this process would not survive a fork.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    constexpr const char* kDirectory = "VOSTRELLE_EXIT_TEST_DIR";
    std::optional<TestSupport::TempDir> dir;
    if (!std::getenv(kDirectory)) {  // the child runs this test again, in the parent's directory
        dir.emplace();
        setenv(kDirectory, dir->path().c_str(), 1);
    }
    static std::string ran, seen;
    ran = std::string(std::getenv(kDirectory)) + "/ran";
    seen = std::string(std::getenv(kDirectory)) + "/seen";
    auto count = [] { return std::filesystem::exists(ran) ? std::filesystem::file_size(ran) : 0; };
    EXPECT_EXIT(
        {
            // Registered first, so it runs last: where the teardown of the program's state would be.
            std::atexit([] {
                auto size = [] { return std::filesystem::exists(ran) ? std::filesystem::file_size(ran) : 0; };
                const auto before = size();
                std::this_thread::sleep_for(300ms);
                std::ofstream(seen) << before << ' ' << size();
            });
            for (int i = 0; i < 400; ++i) {
                auto block = [] {
                    std::this_thread::sleep_for(10ms);
                    std::ofstream(ran, std::ios::app) << 'x';
                };
                if (i % 2) Dispatch::defaultQueue(block); else Dispatch::backgroundQueue(block);
            }
            auto serial = Dispatch::SerialQueue::create("ending");
            for (int i = 0; i < 100; ++i) serial->async([] { std::ofstream(ran, std::ios::app) << 'x'; });
            while (count() == 0) std::this_thread::sleep_for(1ms);  // the pools are running
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
    unsetenv(kDirectory);
    std::uintmax_t before = 0, after = 0;
    std::ifstream(seen) >> before >> after;
    EXPECT_GT(before, 0u);
    EXPECT_LT(before, 500u) << "the queues were still full when the program exited";
    EXPECT_EQ(after, before) << "blocks ran while the program was being torn down";
}
