#include <gtest/gtest.h>

#include "take/QuietestNear.h"
#include "take/tests/TakeTestSupport.h"

using namespace taketest;

namespace {

TEST(QuietestNearTest, FindsTheMiddleOfTheQuietestWindowWithinReach) {
    // Cells of 10 units; a window of 20 units is two cells.
    std::vector<float> grid(100, 0.5f);
    grid[20] = grid[21] = 0.1f;                         // quiet, within reach of 200
    grid[60] = grid[61] = grid[62] = grid[63] = 0.01f;  // quieter, a tie of three windows
    grid[98] = grid[99] = 0;
    EXPECT_EQ(FindQuietestNear(grid, 10, 20, 200, 50), 210);   // the middle of cells 20-21
    EXPECT_EQ(FindQuietestNear(grid, 10, 20, 500, 200), 620);  // the middle of the tie
    EXPECT_EQ(FindQuietestNear(grid, 10, 20, 400, 5), 400);    // no whole window within reach
    EXPECT_EQ(FindQuietestNear(grid, 10, 20, 950, 100), 990);  // up to the grid's end
    EXPECT_EQ(QuietestCut(grid, 10, 20, 195, 10), 200);        // a stretch too short: its middle
}

TEST(QuietestNearTest, SnapsACutOfATakeIntoTheQuietNearIt) {
    CTempDir dir;
    // Loud, 0.2 s of near-silence from frame 8000, loud: 8000 frames a second, cells of 80.
    const WavFormat format{16, 8000, 2};
    std::vector<int16_t> samples(2 * 17600, 10000);
    std::fill(samples.begin() + 2 * 8000, samples.begin() + 2 * 9600, int16_t(-10));
    const char* bytes = reinterpret_cast<const char*>(samples.data());
    WriteWav(dir / "Side.wav", format, Bytes(bytes, bytes + 4 * 17600));
    const CTakeReader reader(OpenTake((dir / "Side.wav").string()).take);
    // A window of 0.1 s: the quiet stretch holds several; the middle one is chosen.
    EXPECT_EQ(SnapCut(reader, 7000, 4000, 800), 8800u);
    EXPECT_EQ(SnapCut(reader, 3000, 1000, 800), 2960u);  // all loud alike: the reach's middle
    EXPECT_EQ(SnapCut(reader, 17500, 50, 800), 17500u);  // no window within reach
}

}  // namespace
