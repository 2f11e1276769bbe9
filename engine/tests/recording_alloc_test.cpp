// The recording thread's block loop allocates nothing: every allocation made on the thread
// (named "vellisto-rec") is counted through a replaced global operator new.
#include <pthread.h>

#include <cstdlib>
#include <new>

#include "recording_fixture.h"

namespace {

std::atomic<bool> g_bArmed{false};
std::atomic<long> g_nThreadAllocs{0};

bool OnRecordingThread() {
    char name[16] = {};
    return pthread_getname_np(pthread_self(), name, sizeof name) == 0 &&
           std::strcmp(name, "vellisto-rec") == 0;
}

void* Allocate(std::size_t n) noexcept {
    if (g_bArmed.load(std::memory_order_relaxed) && OnRecordingThread()) ++g_nThreadAllocs;
    return std::malloc(n ? n : 1);
}

void* AllocateOrThrow(std::size_t n) {
    if (void* p = Allocate(n)) return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t n) { return AllocateOrThrow(n); }
void* operator new[](std::size_t n) { return AllocateOrThrow(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

using namespace rectest;

TEST(RecordingAllocations, BlocksAndSplitsAllocateNothing) {
    // Plain blocks, and splits: the writer reuses its output buffer and format record.
    const std::vector<Segment> plans[] = {
        {{40 * 16384 + 77, true}},
        {{30000, true}, {3000, false}, {30000, true}, {3000, false}, {30000, true}}};
    const size_t files[] = {1, 3};
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE(k);
        Recording r;
        r.plan = plans[k];
        r.UseFile(k == 0 ? Detection{.fGapSize = 0.1, .fMinSong = 100, .fEndGap = 10}
                         : Detection{});
        // The count would see nothing if the thread had another name.
        std::atomic<bool> named{true};
        r.win.onPostInRecordingThread = [&] { named = named && OnRecordingThread(); };
        g_nThreadAllocs = 0;
        g_bArmed = true;
        const bool finished = r.Run();
        g_bArmed = false;
        ASSERT_TRUE(finished);
        EXPECT_TRUE(named);
        EXPECT_EQ(g_nThreadAllocs.load(), 0);
        EXPECT_GE(r.win.progress.size(), k == 0 ? 41u : 3u);
        EXPECT_EQ(r.Files().size(), files[k]);
        EXPECT_TRUE(r.Joined() == r.input);
    }
}
