#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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
    TestSupport::TempDir dir;
    const std::string ran = dir.path() + "/ran", seen = dir.path() + "/seen";
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        static std::string ranPath = ran, seenPath = seen;
        auto size = [] { return std::filesystem::exists(ranPath) ? std::filesystem::file_size(ranPath) : 0; };
        // Registered first, so it runs last: where the teardown of the program's state would be.
        std::atexit([] {
            auto count = [] { return std::filesystem::exists(ranPath) ? std::filesystem::file_size(ranPath) : 0; };
            const auto before = count();
            std::this_thread::sleep_for(300ms);
            std::ofstream(seenPath) << before << ' ' << count();
        });
        auto queue = [](int i) {
            auto block = [] {
                std::this_thread::sleep_for(10ms);
                std::ofstream(ranPath, std::ios::app) << 'x';
            };
            if (i % 2) Dispatch::defaultQueue(block); else Dispatch::backgroundQueue(block);
        };
        for (int i = 0; i < 400; ++i) queue(i);
        auto serial = Dispatch::SerialQueue::create("ending");
        for (int i = 0; i < 100; ++i) serial->async([] { std::ofstream(ranPath, std::ios::app) << 'x'; });
        while (size() == 0) std::this_thread::sleep_for(1ms);  // the pools are running
        std::exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    std::uintmax_t before = 0, after = 0;
    std::ifstream(seen) >> before >> after;
    EXPECT_GT(before, 0u);
    EXPECT_LT(before, 500u) << "the queues were still full when the program exited";
    EXPECT_EQ(after, before) << "blocks ran while the program was being torn down";
}
