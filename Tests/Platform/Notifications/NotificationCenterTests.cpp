#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "Dispatch/Dispatch.h"
#include "Notifications/NotificationCenter.h"
#include "Support/TestSupport.h"

TEST(NotificationCenter, DeliversByNameAndObjectFilter) {
    auto& center = NotificationCenter::defaultCenter();
    std::vector<std::string> seen;
    auto any = center.addObserver("test.filter", NotificationCenter::Queue::Posting,
                                  [&](const Notification& n) { seen.push_back("any:" + n.objectString()); });
    auto only = center.addObserver("test.filter", NotificationCenter::Queue::Posting,
                                   [&](const Notification& n) { seen.push_back("only:" + n.objectString()); },
                                   std::string("com.example.a"));
    center.post("test.filter", std::string("com.example.a"));
    center.post("test.filter", std::string("com.example.b"));
    center.post("test.other", std::string("com.example.a"));
    EXPECT_EQ(seen, (std::vector<std::string>{"any:com.example.a", "only:com.example.a", "any:com.example.b"}));
}

TEST(NotificationCenter, MainQueueObserversRunOnTheMainThreadWithUserInfo) {
    auto& center = NotificationCenter::defaultCenter();
    std::atomic<bool> onMain{false};
    nlohmann::json info;
    auto token = center.addObserver("test.main", NotificationCenter::Queue::Main, [&](const Notification& n) {
        onMain = Dispatch::isMainThread();
        info = n.userInfo;
    });
    Dispatch::backgroundQueue([&] { center.post("test.main", {}, {{"Message", "hello"}, {"Error", false}}); });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return info.is_object(); }));
    EXPECT_TRUE(onMain);
    EXPECT_EQ(info["Message"], "hello");
}

TEST(NotificationCenter, DestroyedTokenStopsDeliveryEvenWhenAlreadyQueued) {
    auto& center = NotificationCenter::defaultCenter();
    int calls = 0;
    {
        auto token = center.addObserver("test.gone", NotificationCenter::Queue::Main, [&](const Notification&) { ++calls; });
        EXPECT_EQ(center.observerCount("test.gone"), 1u);
        center.post("test.gone");  // queued on the main loop, not yet delivered
    }
    TestSupport::pumpMainLoop();
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(center.observerCount("test.gone"), 0u);
}

TEST(NotificationCenter, HandlerMayEndItsOwnObservation) {
    auto& center = NotificationCenter::defaultCenter();
    int calls = 0;
    ObserverToken token;
    token = center.addObserver("test.self", NotificationCenter::Queue::Posting, [&](const Notification&) {
        ++calls;
        token.reset();
    });
    center.post("test.self");
    center.post("test.self");
    EXPECT_EQ(calls, 1);
}
