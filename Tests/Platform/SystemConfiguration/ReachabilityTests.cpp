#include <gtest/gtest.h>

#include <cstdlib>

#include "SystemConfiguration/Reachability.h"

// The environment overrides what the machine says; an override set in code wins over both.
TEST(Reachability, OverridesAndEnvironment) {
    using namespace Reachability;
    const auto detected = currentReachabilityStatus();
    setenv("VOSTRELLE_ASSUME_REACHABLE", "0", 1);
    EXPECT_FALSE(isReachable());
    setenv("VOSTRELLE_ASSUME_REACHABLE", "1", 1);
    EXPECT_TRUE(isReachableViaWiFi());
    setOverride(ReachableViaWWAN);
    EXPECT_TRUE(isReachable());
    EXPECT_TRUE(isReachableViaWWAN());
    EXPECT_FALSE(isReachableViaWiFi());
    setOverride(NotReachable);
    EXPECT_FALSE(isReachable());
    setOverride(std::nullopt);
    unsetenv("VOSTRELLE_ASSUME_REACHABLE");
    EXPECT_EQ(currentReachabilityStatus(), detected);
}
