#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "Miscellaneous/ZMHeap.h"

#ifdef __GLIBC__
#include <malloc.h>

namespace {

size_t mappedBytes() { return mallinfo2().hblkhd; }

// One block of `size`, written so that it is really used; the bytes mapped for it alone.
size_t mappedFor(size_t size) {
    const size_t before = mappedBytes();
    void* block = std::malloc(size);
    std::memset(block, 1, size);
    asm volatile("" : : "g"(block) : "memory");  // the compiler may not drop the pair
    const size_t during = mappedBytes();
    std::free(block);
    return during > before ? during - before : 0;
}

TEST(ZMHeapTest, LargeBlocksStayOnTheirOwnMappingsAfterALargerOneWasFreed) {
    ASSERT_TRUE(ZMHeap::configure());
    // Unconfigured, freeing this block would raise glibc's threshold above the
    // blocks below, and they would stay in the heap once freed.
    EXPECT_GE(mappedFor(8 * ZMHeap::kMmapThreshold), 8 * ZMHeap::kMmapThreshold);
    for (size_t size : {ZMHeap::kMmapThreshold, 2 * ZMHeap::kMmapThreshold, 4 * ZMHeap::kMmapThreshold}) {
        SCOPED_TRACE(size);
        EXPECT_GE(mappedFor(size), size);
        EXPECT_EQ(mappedFor(ZMHeap::kMmapThreshold / 4), 0u) << "small blocks come from the heap";
    }
}

}  // namespace
#endif
