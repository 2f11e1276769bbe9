#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "SignalAnalyzer.h"

namespace {

uint32_t Bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

constexpr float kFloor = 1.0e-12f;

struct Result {
    int gapFound = 0;
    long splitOffset = -1;
    int endGapReached = 0;
};

template <typename T>
Result Process(CSignalAnalyzer& a, std::vector<T>& block) {
    Result r;
    a.ProcessBlock(block.data(), static_cast<long>(block.size() * sizeof(T)), &r.gapFound,
                   &r.splitOffset, &r.endGapReached);
    return r;
}

// An analyser with only the detector under test: no DC blocker, no filter, and thresholds in
// interleaved samples set directly so that the expected indices are easy to read.
CSignalAnalyzer DetectorOnly(uint16_t bits, int32_t gap, int32_t minSong, int32_t endGap) {
    CSignalAnalyzer a;
    a.SetDCBlock(0);
    a.SetIgnoreClicks(0);
    a.SetBitsPerSample(bits);
    a.PrepareRecording();
    a.m_nGapSamples = gap;
    a.m_nMinSongSamples = minSong;
    a.m_nEndGapSamples = endGap;
    return a;
}

TEST(ProcessBlock, Int16ClippingWithoutDCBlockCountsButKeepsTheBlock) {
    CSignalAnalyzer a;
    a.SetDCBlock(0);
    std::vector<int16_t> block = {32767, -32767, -32768, 32766, 0, -32766, 32767, 100};
    const std::vector<int16_t> original = block;
    Process(a, block);
    EXPECT_EQ(block, original);
    EXPECT_EQ(a.m_nClipCount[0], 3);
    EXPECT_EQ(a.m_nClipCount[1], 1);
    EXPECT_EQ(a.m_fPeak[0], 1.0f);  // 32768 / 32768
    EXPECT_EQ(a.m_fPeak[1], 32767.0f / 32768.0f);
}

TEST(ProcessBlock, Int16DCBlockClampsTruncatesAndKeepsTheUnclampedHistory) {
    CSignalAnalyzer a;
    std::vector<int16_t> block = {32767, -32768, 32767, -32768, -32768, 32767, -32768, 32767};
    Process(a, block);
    // Blocked values: 32489.26, 32213.88, -33038.68 (clamped), then -32758.64, which comes from
    // the unclamped -33038.68; from a clamped history it would be -32489.
    // The right channel mirrors it: -32490.26, -32214.87, 33037.71 (clamped), 32757.68.
    const std::vector<int16_t> expected = {32489,  -32490, 32213,  -32214,
                                           -32767, 32767,  -32758, 32757};
    EXPECT_EQ(block, expected);
    EXPECT_EQ(a.m_nClipCount[0], 1);
    EXPECT_EQ(a.m_nClipCount[1], 1);

    // Truncation toward zero: 0.9915 -> 0, -0.9915 -> 0, 1.983 -> 1, -1.983 -> -1.
    CSignalAnalyzer b;
    std::vector<int16_t> small = {1, -1};
    Process(b, small);
    EXPECT_EQ(small, (std::vector<int16_t>{0, 0}));
    CSignalAnalyzer c;
    std::vector<int16_t> two = {2, -2};
    Process(c, two);
    EXPECT_EQ(two, (std::vector<int16_t>{1, -1}));
    EXPECT_EQ(c.m_nClipCount[0] + c.m_nClipCount[1], 0);
}

TEST(ProcessBlock, FloatClippingAndTheExactDCCoefficient) {
    CSignalAnalyzer a;
    a.SetBitsPerSample(32);
    a.SetDCBlock(0);
    std::vector<float> block = {1.0f, -1.0f, 0.999f, -0.999f, 1.5f, 0.0f};
    const std::vector<float> original = block;
    Process(a, block);
    EXPECT_EQ(block, original);
    EXPECT_EQ(a.m_nClipCount[0], 2);
    EXPECT_EQ(a.m_nClipCount[1], 1);
    EXPECT_EQ(a.m_fPeak[0], 1.5f);  // the meters see the unclamped value when not blocking

    CSignalAnalyzer b;
    b.SetBitsPerSample(32);
    std::vector<float> blocked = {0.5f, -0.25f, -1.0f, 1.0f, -1.0f, 1.0f, 1.0f, -1.0f};
    Process(b, blocked);
    // Halving is exact, so the first output shows R to the bit: 0x3F7DD483 / 2.
    EXPECT_EQ(Bits(blocked[0]), 0x3EFDD483u);
    EXPECT_EQ(Bits(blocked[1] * -4.0f), 0x3F7DD483u);
    // The swing from -1 to 1 overshoots to 1.0041 on the left and -1.0062 on the right;
    // inputs of exactly +-1 are not clips when blocking.
    EXPECT_EQ(blocked[6], 1.0f);
    EXPECT_EQ(blocked[7], -1.0f);
    EXPECT_EQ(b.m_nClipCount[0], 1);
    EXPECT_EQ(b.m_nClipCount[1], 1);
}

TEST(ProcessBlock, SilentAndEmptyBlocksGiveTheFloorReadouts) {
    for (int dc = 0; dc < 2; ++dc) {
        for (int smart = 0; smart < 2; ++smart) {
            CSignalAnalyzer a;
            a.SetDCBlock(dc);
            a.SetIgnoreClicks(smart);
            std::vector<int16_t> silence(4096, 0);
            Process(a, silence);
            EXPECT_EQ(a.m_fPeak[0], kFloor / 32768.0f);
            EXPECT_EQ(a.m_fPeak[1], kFloor / 32768.0f);
            EXPECT_EQ(Bits(a.m_fPower[0]), 0x2B8CBCCCu);
            EXPECT_EQ(Bits(a.m_fPower[1]), 0x2B8CBCCCu);

            a.SetBitsPerSample(32);
            a.PrepareRecording();
            std::vector<float> fsilence(4096, 0.0f);
            Process(a, fsilence);
            EXPECT_EQ(a.m_fPeak[0], kFloor);
            EXPECT_EQ(Bits(a.m_fPower[1]), 0x2B8CBCCCu);
        }
    }

    // A 0-byte block after a loud one resets the readouts and nothing else.
    CSignalAnalyzer a;
    std::vector<int16_t> loud(64, 20000);
    Process(a, loud);
    int gap = 0, end = 0;
    long offset = -7;
    a.ProcessBlock(nullptr, 0, &gap, &offset, &end);
    a.ProcessBlock(loud.data(), -4, &gap, &offset, &end);
    EXPECT_EQ(a.m_fPeak[0], kFloor / 32768.0f);
    EXPECT_EQ(a.m_fPower[0], kFloor);
    EXPECT_EQ(a.m_nClipCount[0], 0);
    EXPECT_EQ(gap, 0);
    EXPECT_EQ(end, 0);
    EXPECT_EQ(offset, -7);
}

TEST(ProcessBlock, FullScaleSinePowerIsSeventeenDecibelsBelowMeanSquare) {
    CSignalAnalyzer a;
    a.SetDCBlock(0);
    std::vector<int16_t> block(32768);
    for (size_t i = 0; i < block.size(); i += 2) {
        const double s = 32767.0 * std::sin(2.0 * M_PI * 1000.0 * double(i / 2) / 44100.0);
        block[i] = block[i + 1] = static_cast<int16_t>(s);
    }
    Process(a, block);
    EXPECT_NEAR(a.m_fPower[0], 0.5 / 49.9849, 2e-5);
    EXPECT_NEAR(a.m_fPower[1], 0.5 / 49.9849, 2e-5);
}

TEST(ProcessBlock, SplitOffsetIsTheFrameOfTheSampleWhereTheGapIsComplete) {
    // Loud up to index 801, quiet from 802: the quiet run reaches 200 samples at index 1001.
    for (uint16_t bits : {uint16_t{16}, uint16_t{32}}) {
        CSignalAnalyzer a = DetectorOnly(bits, 200, 1000, 100000);
        Result r;
        if (bits == 16) {
            std::vector<int16_t> block(2000, 0);
            for (int i = 0; i <= 801; ++i) block[i] = 10000;
            r = Process(a, block);
        } else {
            std::vector<float> block(2000, 0.0f);
            for (int i = 0; i <= 801; ++i) block[i] = 0.5f;
            r = Process(a, block);
        }
        EXPECT_EQ(r.gapFound, 1);
        EXPECT_EQ(r.splitOffset, bits == 16 ? 2000 : 4000);
        EXPECT_EQ(r.endGapReached, 0);
    }
}

TEST(ProcessBlock, NoSplitBeforeTheMinimumSongSizeAndEndGapBeforeAnySong) {
    // Silence from the start: the gap is complete at once but the song is not.
    CSignalAnalyzer a = DetectorOnly(16, 100, 5000, 1000000);
    std::vector<int16_t> first(4000, 0);
    EXPECT_EQ(Process(a, first).gapFound, 0);
    std::vector<int16_t> second(4000, 0);
    const Result r = Process(a, second);
    EXPECT_EQ(r.gapFound, 1);
    EXPECT_EQ(r.splitOffset, (5000 - 4000) * 2);

    // End gap shorter than the minimum song: the end comes with no split at all, exactly at
    // sample 3000 counted from the start of the recording.
    CSignalAnalyzer b = DetectorOnly(16, 100, 5000, 3000);
    std::vector<int16_t> upTo2999(3000, 0);
    EXPECT_EQ(Process(b, upTo2999).endGapReached, 0);
    std::vector<int16_t> next(2, 0);
    const Result end = Process(b, next);
    EXPECT_EQ(end.endGapReached, 1);
    EXPECT_EQ(end.gapFound, 0);
}

TEST(ProcessBlock, SecondSplitInOneSilenceAndTheLaterOffsetWins) {
    // A silence longer than gap + minimum song splits twice; in one block the caller sees the
    // later offset only.
    CSignalAnalyzer a = DetectorOnly(16, 100, 400, 100000);
    std::vector<int16_t> block(1200, 0);
    for (int i = 0; i < 500; ++i) block[i] = 3000;
    const Result r = Process(a, block);
    EXPECT_EQ(r.gapFound, 1);
    EXPECT_EQ(r.splitOffset, 999 / 2 * 4);  // splits at 599 and 999
}

// A stream with one gap and then the end, analysed as one block and cut into two blocks at
// many places around the gap: the detector must see the same stream.
TEST(ProcessBlock, GapSpanningTwoBlocksIsFoundAsInOneStream) {
    // Loud to 1999 (with short dips), quiet to 2599, loud to 3599, quiet to the end: one split
    // at 2299, the end at 3599 + 650 = 4249, and the second quiet run is too close to the
    // split for another one before the end.
    constexpr int kGap = 300, kMinSong = 2000, kEnd = 650, kEndIndex = 4249;
    std::vector<int16_t> stream(6000, 0);
    for (int i = 0; i < 2000; ++i) stream[i] = (i % 7 == 0) ? 0 : 5000;
    for (int i = 2600; i < 3600; ++i) stream[i] = -5000;

    CSignalAnalyzer whole = DetectorOnly(16, kGap, kMinSong, kEnd);
    std::vector<int16_t> all = stream;
    const Result ref = Process(whole, all);
    ASSERT_EQ(ref.gapFound, 1);
    ASSERT_EQ(ref.splitOffset, 2299 / 2 * 4);
    ASSERT_EQ(ref.endGapReached, 1);

    for (int cut : {2, 2000, 2200, 2296, 2298, 2300, 2302, 2598, 2600, 4000, 4248, 4250, 5998}) {
        CSignalAnalyzer split = DetectorOnly(16, kGap, kMinSong, kEnd);
        std::vector<int16_t> head(stream.begin(), stream.begin() + cut);
        std::vector<int16_t> tail(stream.begin() + cut, stream.end());
        const Result r1 = Process(split, head);
        const Result r2 = Process(split, tail);
        const long cutBytes = cut * 2L;
        const bool inHead = ref.splitOffset < cutBytes;
        EXPECT_EQ(r1.gapFound, inHead ? 1 : 0) << "cut " << cut;
        EXPECT_EQ(r2.gapFound, inHead ? 0 : 1) << "cut " << cut;
        EXPECT_EQ(inHead ? r1.splitOffset : r2.splitOffset + cutBytes, ref.splitOffset)
            << "cut " << cut;
        EXPECT_EQ(r1.endGapReached, cut > kEndIndex ? 1 : 0) << "cut " << cut;
        EXPECT_EQ(r2.endGapReached, 1) << "cut " << cut;
    }
}

TEST(ProcessBlock, EmptyBlockChangesNoDetectorState) {
    std::vector<int16_t> a1(3000, 0), b1(3000, 0);
    for (int i = 0; i < 1200; ++i) a1[i] = 8000;
    std::vector<int16_t> a2 = a1, b2 = b1;

    CSignalAnalyzer plain = DetectorOnly(16, 500, 1000, 2600);
    CSignalAnalyzer withEmpty = DetectorOnly(16, 500, 1000, 2600);
    Process(plain, a1);
    const Result expected = Process(plain, b1);
    Process(withEmpty, a2);
    int gap = 0, end = 0;
    long offset = 0;
    withEmpty.ProcessBlock(b2.data(), 0, &gap, &offset, &end);
    withEmpty.ProcessBlock(b2.data(), 1, &gap, &offset, &end);  // less than one sample
    const Result r = Process(withEmpty, b2);
    EXPECT_EQ(r.gapFound, expected.gapFound);
    EXPECT_EQ(r.splitOffset, expected.splitOffset);
    EXPECT_EQ(r.endGapReached, expected.endGapReached);
    EXPECT_EQ(expected.gapFound, 1);
    EXPECT_EQ(expected.endGapReached, 1);
}

TEST(ProcessBlock, FilterStatesCarryAcrossRecordingsAndDCStateDoesNot) {
    CSignalAnalyzer a;
    std::vector<int16_t> music(4096);
    for (size_t i = 0; i < music.size(); ++i) music[i] = static_cast<int16_t>((i * 7919) % 20000);
    Process(a, music);
    const float w0 = a.m_filter[0].w0, w1 = a.m_filter[1].w1;
    ASSERT_NE(w0, 0.0f);
    a.PrepareRecording();
    EXPECT_EQ(a.m_filter[0].w0, w0);
    EXPECT_EQ(a.m_filter[1].w1, w1);

    // The DC blocker starts afresh: the written block equals a new analyser's.
    CSignalAnalyzer fresh;
    std::vector<int16_t> again = music, freshBlock = music;
    Process(a, again);
    Process(fresh, freshBlock);
    EXPECT_EQ(again, freshBlock);
    EXPECT_NE(a.m_filter[0].w0, fresh.m_filter[0].w0);
}

}  // namespace
