#include "Reachability.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <arpa/inet.h>
#include <netinet/in.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace Reachability {
namespace {

std::atomic<int64_t> gOverride{-1};

bool isCellularName(std::string_view name) {
    for (std::string_view prefix : {"wwan", "rmnet", "ppp", "wwp", "ccmni"})
        if (name.substr(0, prefix.size()) == prefix) return true;
    return false;
}

NetworkStatus detect() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return NotReachable;
    bool wired = false, cellular = false;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || !(i->ifa_flags & IFF_UP) || !(i->ifa_flags & IFF_RUNNING) || (i->ifa_flags & IFF_LOOPBACK))
            continue;
        bool usable = false;
        if (i->ifa_addr->sa_family == AF_INET) {
            // 169.254.x.x is what a link gets when no network gave it an address.
            auto* a = reinterpret_cast<sockaddr_in*>(i->ifa_addr);
            usable = (ntohl(a->sin_addr.s_addr) >> 16) != 0xA9FE;
        } else if (i->ifa_addr->sa_family == AF_INET6) {
            auto* a = reinterpret_cast<sockaddr_in6*>(i->ifa_addr);
            usable = !IN6_IS_ADDR_LINKLOCAL(&a->sin6_addr) && !IN6_IS_ADDR_LOOPBACK(&a->sin6_addr);
        }
        if (!usable) continue;
        (isCellularName(i->ifa_name) ? cellular : wired) = true;
    }
    freeifaddrs(list);
    return wired ? ReachableViaWiFi : cellular ? ReachableViaWWAN : NotReachable;
}

}  // namespace

NetworkStatus currentReachabilityStatus() {
    if (int64_t o = gOverride.load(); o >= 0) return static_cast<NetworkStatus>(o);
    if (const char* v = std::getenv("VOSTRELLE_ASSUME_REACHABLE"); v && *v)
        return std::strcmp(v, "0") == 0 ? NotReachable : ReachableViaWiFi;
    return detect();
}

bool isReachable() { return currentReachabilityStatus() != NotReachable; }
bool isReachableViaWiFi() { return currentReachabilityStatus() == ReachableViaWiFi; }
bool isReachableViaWWAN() { return currentReachabilityStatus() == ReachableViaWWAN; }

void setOverride(std::optional<NetworkStatus> status) { gOverride = status ? static_cast<int64_t>(*status) : -1; }

}  // namespace Reachability
