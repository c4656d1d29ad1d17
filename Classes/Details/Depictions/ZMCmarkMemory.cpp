#include "Depictions/ZMCmarkMemory.h"

#include <cmark-gfm.h>

#include <cstdint>
#include <cstdlib>

namespace {

thread_local ZMCmarkMemory* tCurrent = nullptr;

}  // namespace

ZMCmarkMemory::ZMCmarkMemory(ZMDepictionBudget& budget) : budget_(budget), previous_(tCurrent) { tCurrent = this; }

ZMCmarkMemory::~ZMCmarkMemory() {
    tCurrent = previous_;
    while (blocks_.next != &blocks_) {
        Header* h = blocks_.next;
        unlink(h);
        std::free(h);
    }
}

ZMCmarkMemory& ZMCmarkMemory::current() { return *tCurrent; }

cmark_mem* ZMCmarkMemory::allocator() {
    static cmark_mem functions = {&ZMCmarkMemory::callocate, &ZMCmarkMemory::reallocate, &ZMCmarkMemory::release};
    return &functions;
}

void ZMCmarkMemory::run(const std::function<void()>& work) {
    std::jmp_buf abandon;
    std::jmp_buf* outer = abandon_;
    abandon_ = &abandon;
    volatile bool done = false;
    if (setjmp(abandon) == 0) {
        work();
        done = true;
    }
    abandon_ = outer;
    if (!done) throw ZMDepictionBudget::Exceeded(budget_.reason());
}

void ZMCmarkMemory::link(Header* h) {
    h->previous = &blocks_;
    h->next = blocks_.next;
    blocks_.next->previous = h;
    blocks_.next = h;
}

void ZMCmarkMemory::unlink(Header* h) {
    h->previous->next = h->next;
    h->next->previous = h->previous;
}

// Charges `bytes`; past the budget inside run(), abandons the call.
void ZMCmarkMemory::charge(size_t bytes) {
    if (!budget_.charge(bytes) && abandon_) std::longjmp(*abandon_, 1);
}

void* ZMCmarkMemory::allocate(size_t size, bool zeroed) {
    charge(size + sizeof(Header));
    auto* h = static_cast<Header*>(zeroed ? std::calloc(1, sizeof(Header) + size) : std::malloc(sizeof(Header) + size));
    if (!h) std::abort();  // as cmark's own allocator does
    h->size = size;
    link(h);
    return h + 1;
}

void* ZMCmarkMemory::callocate(size_t count, size_t size) {
    if (size != 0 && count > (SIZE_MAX - sizeof(Header)) / size) std::abort();
    return tCurrent->allocate(count * size, true);
}

void* ZMCmarkMemory::reallocate(void* p, size_t size) {
    if (!p) return tCurrent->allocate(size, false);
    Header* h = static_cast<Header*>(p) - 1;
    tCurrent->charge(size);
    tCurrent->budget_.release(h->size);
    unlink(h);
    auto* moved = static_cast<Header*>(std::realloc(h, sizeof(Header) + size));
    if (!moved) std::abort();
    moved->size = size;
    tCurrent->link(moved);
    return moved + 1;
}

void ZMCmarkMemory::release(void* p) {
    if (!p) return;
    Header* h = static_cast<Header*>(p) - 1;
    tCurrent->budget_.release(h->size + sizeof(Header));
    unlink(h);
    std::free(h);
}
