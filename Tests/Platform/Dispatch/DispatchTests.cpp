#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "Dispatch/Dispatch.h"
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
