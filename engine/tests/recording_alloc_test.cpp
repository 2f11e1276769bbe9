// The recording thread's block loop allocates nothing: every allocation made on the thread
// (named "vellisto-rec") is counted through a replaced global operator new.
#include <pthread.h>

#include <cstdlib>
#include <new>
#include <thread>

#include "recording_fixture.h"

namespace {

std::atomic<bool> g_bArmed{false};
std::atomic<long> g_nThreadAllocs{0};
void Count() {
    if (!g_bArmed.load(std::memory_order_relaxed)) return;
    char name[16] = {};
    if (pthread_getname_np(pthread_self(), name, sizeof name) == 0 &&
        std::strcmp(name, "vellisto-rec") == 0) {
        ++g_nThreadAllocs;
    }
}

void* Allocate(std::size_t n) {
    Count();
    void* p = std::malloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    return p;
}

}  // namespace

void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    Count();
    return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    Count();
    return std::malloc(n ? n : 1);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

using namespace rectest;

TEST(RecordingAllocations, BlocksWithoutASplitAllocateNothing) {
    Recording r;
    r.plan = {{40 * 16384 + 77, true}};
    r.UseFile({.fGapSize = 0.1, .fMinSong = 100, .fEndGap = 10});
    g_nThreadAllocs = 0;
    g_bArmed = true;
    ASSERT_TRUE(r.Run());
    g_bArmed = false;
    EXPECT_GE(r.win.progress.size(), 41u);
    EXPECT_EQ(g_nThreadAllocs.load(), 0);
    EXPECT_TRUE(r.Joined() == r.input);
}

TEST(RecordingAllocations, SplitsAllocateNothingEither) {
    // The writer reuses its output buffer and format record from file to file.
    Recording r;
    r.plan = {{30000, true}, {3000, false}, {30000, true}, {3000, false}, {30000, true}};
    r.UseFile({});
    const Prediction p = Predict(r.format, r.plan, r.ctl->GetAnalyzer());
    ASSERT_EQ(p.cuts.size(), 2u);
    g_nThreadAllocs = 0;
    g_bArmed = true;
    ASSERT_TRUE(r.Run());
    g_bArmed = false;
    EXPECT_EQ(g_nThreadAllocs.load(), 0);
    EXPECT_EQ(r.Files().size(), 3u);
    EXPECT_TRUE(r.Joined() == r.input);
}

TEST(RecordingAllocations, TheCountSeesAThreadOfThatName) {
    g_nThreadAllocs = 0;
    g_bArmed = true;
    std::thread([] {
        pthread_setname_np(pthread_self(), "vellisto-rec");
        int* volatile p = new int(1);
        delete p;
    }).join();
    g_bArmed = false;
    EXPECT_EQ(g_nThreadAllocs.load(), 1);
}
