#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "Dispatch/SerialQueue.h"
#include "Support/TestSupport.h"

using namespace std::chrono_literals;

TEST(SerialQueue, RunsBlocksOneAtATimeInOrderOffTheMainThread) {
    auto queue = Dispatch::SerialQueue::create("test");
    std::vector<int> order;
    std::atomic<int> inside{0}, overlap{0}, onMain{0}, notCurrent{0};
    constexpr int kCount = 200;
    // Blocks are added from several threads at once; each thread's own blocks keep their order.
    std::vector<std::thread> producers;
    std::mutex orderMutex;
    for (int p = 0; p < 4; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < kCount / 4; ++i) {
                queue->async([&, p, i] {
                    if (++inside > 1) ++overlap;
                    if (Dispatch::isMainThread()) ++onMain;
                    if (!queue->isCurrent()) ++notCurrent;
                    {
                        std::lock_guard lock(orderMutex);
                        order.push_back(p * 1000 + i);
                    }
                    --inside;
                });
            }
        });
    }
    for (auto& t : producers) t.join();
    ASSERT_TRUE(TestSupport::waitUntil([&] {
        std::lock_guard lock(orderMutex);
        return order.size() == kCount;
    }));
    EXPECT_EQ(overlap.load(), 0);
    EXPECT_EQ(onMain.load(), 0);
    EXPECT_EQ(notCurrent.load(), 0);
    EXPECT_FALSE(queue->isCurrent());
    for (int p = 0; p < 4; ++p) {
        int last = -1;
        for (int v : order)
            if (v / 1000 == p) {
                EXPECT_GT(v % 1000, last);
                last = v % 1000;
            }
    }
}

TEST(SerialQueue, SurvivesAThrowingBlock) {
    auto queue = Dispatch::SerialQueue::create("throws");
    std::atomic<bool> after{false};
    queue->async([] { throw std::runtime_error("boom"); });
    queue->async([&] { after = true; });
    EXPECT_TRUE(TestSupport::waitUntil([&] { return after.load(); }));
}
