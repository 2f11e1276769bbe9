// The recording thread's block loop allocates nothing: every allocation made on the thread
// (named "vellisto-rec") is counted through a replaced global operator new.
#include "engine/tests/RecordingFixture.h"
#include "tests/support/ThreadAllocations.h"

using namespace testsupport;
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
        StartCountingRecordingThreadAllocations();
        const bool finished = r.Run();
        const long allocations = StopCountingRecordingThreadAllocations();
        ASSERT_TRUE(finished);
        EXPECT_TRUE(named);
        EXPECT_EQ(allocations, 0);
        EXPECT_GE(r.win.progress.size(), k == 0 ? 41u : 3u);
        EXPECT_EQ(r.Files().size(), files[k]);
        EXPECT_TRUE(r.Joined() == r.input);
    }
}
