#include "tests/support/ThreadAllocations.h"

#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

std::atomic<bool> g_bCounting{false};
std::atomic<long> g_nAllocations{0};

void* Allocate(std::size_t n) noexcept {
    if (g_bCounting.load(std::memory_order_relaxed) && testsupport::OnRecordingThread()) {
        ++g_nAllocations;
    }
    return std::malloc(n ? n : 1);
}

void* AllocateOrThrow(std::size_t n) {
    if (void* p = Allocate(n)) return p;
    throw std::bad_alloc();
}

}  // namespace

namespace testsupport {

bool OnRecordingThread() {
    char name[16] = {};
    return pthread_getname_np(pthread_self(), name, sizeof name) == 0 &&
           std::strcmp(name, "vellisto-rec") == 0;
}

void StartCountingRecordingThreadAllocations() {
    g_nAllocations = 0;
    g_bCounting = true;
}

long StopCountingRecordingThreadAllocations() {
    g_bCounting = false;
    return g_nAllocations.load();
}

}  // namespace testsupport

void* operator new(std::size_t n) { return AllocateOrThrow(n); }
void* operator new[](std::size_t n) { return AllocateOrThrow(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
