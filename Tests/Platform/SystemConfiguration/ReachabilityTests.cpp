#include <gtest/gtest.h>

#include <cstdlib>

#include "SystemConfiguration/Reachability.h"

TEST(Reachability, OverridesAndEnvironment) {
    using namespace Reachability;
    // Whatever the machine has, the answer is one of the three states.
    auto detected = currentReachabilityStatus();
    EXPECT_TRUE(detected == NotReachable || detected == ReachableViaWWAN || detected == ReachableViaWiFi);

    setenv("VOSTRELLE_ASSUME_REACHABLE", "0", 1);
    EXPECT_EQ(currentReachabilityStatus(), NotReachable);
    EXPECT_FALSE(isReachable());
    setenv("VOSTRELLE_ASSUME_REACHABLE", "1", 1);
    EXPECT_EQ(currentReachabilityStatus(), ReachableViaWiFi);
    EXPECT_TRUE(isReachableViaWiFi());

    // The override wins over the environment.
    setOverride(ReachableViaWWAN);
    EXPECT_TRUE(isReachable());
    EXPECT_TRUE(isReachableViaWWAN());
    EXPECT_FALSE(isReachableViaWiFi());
    setOverride(NotReachable);
    EXPECT_FALSE(isReachable());
    setOverride(std::nullopt);
    unsetenv("VOSTRELLE_ASSUME_REACHABLE");
    EXPECT_EQ(currentReachabilityStatus(), detected);
    // The numbers the screens compare with.
    EXPECT_EQ(static_cast<int>(NotReachable), 0);
    EXPECT_EQ(static_cast<int>(ReachableViaWWAN), 1);
    EXPECT_EQ(static_cast<int>(ReachableViaWiFi), 2);
}
