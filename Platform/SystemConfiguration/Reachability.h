#pragma once
// Whether the network can be reached, in the numbering the screens use:
// 0 not reachable, 1 cellular, 2 Wi-Fi (here: any other wired or wireless
// link). Compare with the names, not the numbers.
#include <cstdint>
#include <optional>

namespace Reachability {

enum NetworkStatus : int64_t {
    NotReachable = 0,
    ReachableViaWWAN = 1,
    ReachableViaWiFi = 2,
};

// An interface other than loopback that is up, running and has an IPv4 or
// IPv6 address that is not link-local makes the network reachable; one whose name
// is a mobile modem's (wwan*, rmnet*, ppp*, ...) counts as cellular.
// $VOSTRELLE_ASSUME_REACHABLE=1 (or 0) and setOverride() replace the answer.
NetworkStatus currentReachabilityStatus();
bool isReachable();
bool isReachableViaWiFi();
bool isReachableViaWWAN();

// For tests and for machines where the guess is wrong; nullopt: detect again.
void setOverride(std::optional<NetworkStatus> status);

}  // namespace Reachability
