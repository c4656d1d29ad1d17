#include "ZMHeap.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace ZMHeap {

bool configure() {
#ifdef __GLIBC__
    // Setting the thresholds also stops glibc from raising them by itself.
    bool ok = mallopt(M_ARENA_MAX, kArenas) == 1;
    ok = mallopt(M_MMAP_THRESHOLD, static_cast<int>(kMmapThreshold)) == 1 && ok;
    ok = mallopt(M_TRIM_THRESHOLD, static_cast<int>(kTrimThreshold)) == 1 && ok;
    return ok;
#else
    return false;
#endif
}

bool giveBack() {
#ifdef __GLIBC__
    malloc_trim(0);
    return true;
#else
    return false;
#endif
}

}  // namespace ZMHeap
