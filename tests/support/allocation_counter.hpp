// Counts heap allocations of the program while asked to. Including this
// header replaces the global operator new and delete (on top of malloc), so
// include it from exactly one source file of a program. It only counts; it
// changes nothing else.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace chordwell::testsupport {

inline std::atomic<bool> gCountAllocations{false};
inline std::atomic<std::uint64_t> gAllocations{0};

/// Counts the allocations made while it lives.
class AllocationCounter {
public:
    AllocationCounter() {
        gAllocations.store(0, std::memory_order_relaxed);
        gCountAllocations.store(true, std::memory_order_relaxed);
    }
    ~AllocationCounter() { stop(); }
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;

    /// Stops counting and returns the count.
    std::uint64_t stop() {
        gCountAllocations.store(false, std::memory_order_relaxed);
        return gAllocations.load(std::memory_order_relaxed);
    }

    std::uint64_t count() const { return gAllocations.load(std::memory_order_relaxed); }
};

} // namespace chordwell::testsupport

// GCC cannot see that the deletes below pair with the counting new.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
    if (chordwell::testsupport::gCountAllocations.load(std::memory_order_relaxed)) {
        chordwell::testsupport::gAllocations.fetch_add(1, std::memory_order_relaxed);
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return ::operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
