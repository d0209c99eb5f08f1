// A delete-twice and use-after-free detector for test programs that cannot
// run under the address sanitizer (the Windows tests under Wine). Linked
// into a test program, it replaces the global operator new and delete:
//
//  - every block carries a header that says whether it is live or freed;
//  - a block deleted twice, or a pointer that new never gave out, stops the
//    program at once with a message (instead of a heap that breaks later,
//    or not at all);
//  - freed blocks are filled with 0xDD and held back (up to 64 MiB) before
//    they go back to the system, so that code still using a freed object
//    reads the fill pattern (a wild call or a failed check) instead of
//    whatever the next object put there;
//  - blocks allocated while a GuardedAllocations scope is open get pages of
//    their own, which become inaccessible when the block is deleted: any
//    later use of such an object stops the program with an access fault.
#include "tests/support/quarantine_heap.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr uint32_t kLive = 0x11FE11FEu;
constexpr uint32_t kFreed = 0xDEADF8EEu;
constexpr uint32_t kGuarded = 0x6A6A6A6Au;
constexpr size_t kQuarantineBytes = 64u << 20;

struct alignas(16) Header {
    uint32_t magic;
    uint32_t guarded;  // kGuarded: the block has pages of its own
    size_t size;
    Header* next;  // in the quarantine, oldest first
};

std::atomic_flag lock = ATOMIC_FLAG_INIT;
std::atomic<int> guarding{0};
Header* oldest = nullptr;
Header* newest = nullptr;
size_t held = 0;

struct Locked {
    Locked() {
        while (lock.test_and_set(std::memory_order_acquire)) {
        }
    }
    ~Locked() { lock.clear(std::memory_order_release); }
};

[[noreturn]] void Fail(const char* what, const void* p) {
    std::fprintf(stderr, "\nquarantine heap: %s (%p)\n", what, p);
    std::fflush(stderr);
    std::abort();
}

void* Allocate(size_t size) {
    Header* h;
    if (guarding.load() > 0) {
        h = static_cast<Header*>(
            VirtualAlloc(nullptr, sizeof(Header) + size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        if (!h) throw std::bad_alloc();
        h->guarded = kGuarded;
    } else {
        h = static_cast<Header*>(std::malloc(sizeof(Header) + (size ? size : 1)));
        if (!h) throw std::bad_alloc();
        h->guarded = 0;
    }
    h->magic = kLive;
    h->size = size;
    h->next = nullptr;
    return h + 1;
}

void Release(void* p) {
    if (!p) return;
    Header* h = static_cast<Header*>(p) - 1;
    if (h->magic == kFreed) Fail("a block deleted twice", p);
    if (h->magic != kLive) Fail("delete of a pointer that new did not give out, or a damaged block", p);
    h->magic = kFreed;
    std::memset(p, 0xDD, h->size);
    if (h->guarded == kGuarded) {
        // Never given back: every later touch faults.
        DWORD old;
        VirtualProtect(h, sizeof(Header) + h->size, PAGE_NOACCESS, &old);
        return;
    }
    Locked guard;
    if (newest) newest->next = h;
    else oldest = h;
    newest = h;
    held += h->size;
    while (held > kQuarantineBytes && oldest) {
        Header* go = oldest;
        oldest = go->next;
        if (!oldest) newest = nullptr;
        held -= go->size;
        std::free(go);
    }
}

}  // namespace

namespace qv::test {

GuardedAllocations::GuardedAllocations() { ++guarding; }
GuardedAllocations::~GuardedAllocations() { --guarding; }

}  // namespace qv::test

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }
