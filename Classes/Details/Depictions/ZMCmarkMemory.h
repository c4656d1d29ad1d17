#pragma once
// cmark's memory, charged to a reading's budget (ZMDepictionBudget). cmark
// cannot be stopped: past the budget an allocation returns to the start of
// the cmark call in progress (run()), which then throws Exceeded; what cmark
// had built is freed with this object, block by block, whatever state it
// was left in.
//
// One per reading, on the reading's thread: cmark's allocator has no context
// of its own, so it finds the reading's memory through a thread-local.
#include <csetjmp>
#include <cstddef>
#include <functional>

#include "Depictions/ZMDepictionBudget.h"

struct cmark_mem;

class ZMCmarkMemory {
public:
    explicit ZMCmarkMemory(ZMDepictionBudget& budget);
    ~ZMCmarkMemory();
    ZMCmarkMemory(const ZMCmarkMemory&) = delete;
    ZMCmarkMemory& operator=(const ZMCmarkMemory&) = delete;

    // The memory of the reading in progress on this thread.
    static ZMCmarkMemory& current();
    // The allocator to hand cmark (cmark_parser_new_with_mem).
    static cmark_mem* allocator();

    // Runs `work`, cmark calls that allocate through allocator(); past the
    // budget, throws ZMDepictionBudget::Exceeded. `work` must hold no object
    // with a destructor: an abandoned call does not unwind.
    void run(const std::function<void()>& work);

private:
    struct alignas(std::max_align_t) Header {
        Header* previous;
        Header* next;
        size_t size;
    };
    void link(Header* h);
    static void unlink(Header* h);
    void charge(size_t bytes);
    void* allocate(size_t size, bool zeroed);
    static void* callocate(size_t count, size_t size);
    static void* reallocate(void* p, size_t size);
    static void release(void* p);

    ZMDepictionBudget& budget_;
    ZMCmarkMemory* previous_;
    std::jmp_buf* abandon_ = nullptr;
    Header blocks_{&blocks_, &blocks_, 0};
};
