// Counts the allocations made on the recording thread (named "vellisto-rec") while armed, by
// replacing the global operator new and delete. The replacement is the whole program's:
// include this in one source file of a program made for the count alone.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace testsupport {

inline std::atomic<bool> g_bCountThreadAllocs{false};
inline std::atomic<long> g_nThreadAllocs{0};

inline bool OnRecordingThread() {
    char name[16] = {};
    return pthread_getname_np(pthread_self(), name, sizeof name) == 0 &&
           std::strcmp(name, "vellisto-rec") == 0;
}

inline void* CountedAlloc(std::size_t n) noexcept {
    if (g_bCountThreadAllocs.load(std::memory_order_relaxed) && OnRecordingThread())
        ++g_nThreadAllocs;
    return std::malloc(n ? n : 1);
}

inline void* CountedAllocOrThrow(std::size_t n) {
    if (void* p = CountedAlloc(n)) return p;
    throw std::bad_alloc();
}

}  // namespace testsupport

void* operator new(std::size_t n) { return testsupport::CountedAllocOrThrow(n); }
void* operator new[](std::size_t n) { return testsupport::CountedAllocOrThrow(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return testsupport::CountedAlloc(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return testsupport::CountedAlloc(n);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
