#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "RecSettings.h"
#include "SignalAnalyzer.h"

namespace {

uint32_t Bits(float f) { return std::bit_cast<uint32_t>(f); }

constexpr float kFloor = 1.0e-12f;
using I16 = std::vector<int16_t>;

struct Result {
    int gapFound = 0;
    long splitOffset = -1;
    int endGapReached = 0;
};

template <typename T>
Result Process(CSignalAnalyzer& a, std::vector<T>& block) {
    Result r;
    a.ProcessBlock(block.data(), long(block.size() * sizeof(T)), &r.gapFound, &r.splitOffset,
                   &r.endGapReached);
    return r;
}

// Only the detector: no DC blocker, no filter, thresholds set directly in interleaved samples.
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

TEST(ProcessBlock, Int16ClippingCountsAndTheDCBlockerClampsAndTruncates) {
    CSignalAnalyzer a;
    a.SetDCBlock(0);
    I16 block = {32767, -32767, -32768, 32766, 0, -32766, 32767, 100};
    const I16 original = block;
    Process(a, block);
    EXPECT_EQ(block, original);  // without DC Block the block is left as it is
    EXPECT_EQ(a.m_nClipCount[0], 3);
    EXPECT_EQ(a.m_nClipCount[1], 1);
    EXPECT_EQ(a.m_fPeak[0], 1.0f);  // 32768 / 32768
    EXPECT_EQ(a.m_fPeak[1], 32767.0f / 32768.0f);

    CSignalAnalyzer b;
    block = {32767, -32768, 32767, -32768, -32768, 32767, -32768, 32767};
    Process(b, block);
    // Blocked values: 32489.26, 32213.88, -33038.68 (clamped), then -32758.64, which comes from
    // the unclamped -33038.68; from a clamped history it would be -32489. The right channel
    // mirrors it.
    EXPECT_EQ(block, (I16{32489, -32490, 32213, -32214, -32767, 32767, -32758, 32757}));
    EXPECT_EQ(b.m_nClipCount[0], 1);
    EXPECT_EQ(b.m_nClipCount[1], 1);

    // Truncation toward zero: +-0.9915 -> 0, +-1.983 -> +-1.
    for (auto [in, out] : {std::pair{I16{1, -1}, I16{0, 0}}, std::pair{I16{2, -2}, I16{1, -1}}}) {
        CSignalAnalyzer c;
        Process(c, in);
        EXPECT_EQ(in, out);
        EXPECT_EQ(c.m_nClipCount[0] + c.m_nClipCount[1], 0);
    }
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
    block = {0.5f, -0.25f, -1.0f, 1.0f, -1.0f, 1.0f, 1.0f, -1.0f};
    Process(b, block);
    // Halving is exact, so the first output shows R to the bit: 0x3F7DD483 / 2.
    EXPECT_EQ(Bits(block[0]), 0x3EFDD483u);
    EXPECT_EQ(Bits(block[1] * -4.0f), 0x3F7DD483u);
    // The swing from -1 to 1 overshoots to 1.0041 and -1.0062 and is clamped; inputs of exactly
    // +-1 are not clips when blocking.
    EXPECT_EQ(block[6], 1.0f);
    EXPECT_EQ(block[7], -1.0f);
    EXPECT_EQ(b.m_nClipCount[0], 1);
    EXPECT_EQ(b.m_nClipCount[1], 1);
}

TEST(ProcessBlock, SilentAndEmptyBlocksGiveTheFloorReadouts) {
    for (int switches = 0; switches < 4; ++switches) {  // DC Block and Smart Gap off and on
        CSignalAnalyzer a;
        a.SetDCBlock(switches & 1);
        a.SetIgnoreClicks(switches >> 1);
        I16 silence(4096, 0);
        Process(a, silence);
        EXPECT_EQ(a.m_fPeak[1], kFloor / 32768.0f);
        EXPECT_EQ(Bits(a.m_fPower[0]), 0x2B8CBCCCu);
        a.SetBitsPerSample(32);
        a.PrepareRecording();
        std::vector<float> fsilence(4096, 0.0f);
        Process(a, fsilence);
        EXPECT_EQ(a.m_fPeak[0], kFloor);
        EXPECT_EQ(Bits(a.m_fPower[1]), 0x2B8CBCCCu);
    }

    // A 0-byte (or negative) block after a loud one resets the readouts and nothing else.
    CSignalAnalyzer a;
    I16 loud(64, 20000);
    Process(a, loud);
    int gap = 0, end = 0;
    long offset = -7;
    a.ProcessBlock(nullptr, 0, &gap, &offset, &end);
    a.ProcessBlock(loud.data(), -4, &gap, &offset, &end);
    EXPECT_EQ(a.m_fPeak[0], kFloor / 32768.0f);
    EXPECT_EQ(a.m_fPower[0], kFloor);
    EXPECT_EQ(a.m_nClipCount[0], 0);
    EXPECT_EQ(gap + end, 0);
    EXPECT_EQ(offset, -7);
}

TEST(ProcessBlock, FullScaleSinePowerIsSeventeenDecibelsBelowMeanSquare) {
    CSignalAnalyzer a;
    a.SetDCBlock(0);
    I16 block(32768);
    for (size_t i = 0; i < block.size(); i += 2) {
        block[i] = block[i + 1] =
            int16_t(32767.0 * std::sin(2.0 * M_PI * 1000.0 * (i / 2) / 44100));
    }
    Process(a, block);
    EXPECT_NEAR(a.m_fPower[0], 0.5 / 49.9849, 2e-5);
    EXPECT_NEAR(a.m_fPower[1], 0.5 / 49.9849, 2e-5);
}

TEST(ProcessBlock, SplitOffsetsAndTheMinimumSongSize) {
    // Loud up to index 801, quiet from 802: the quiet run reaches 200 samples at index 1001.
    for (uint16_t bits : {16, 32}) {
        CSignalAnalyzer a = DetectorOnly(bits, 200, 1000, 100000);
        std::vector<float> f(2000, 0.0f);
        I16 s(2000, 0);
        for (int i = 0; i <= 801; ++i) f[i] = 0.5f, s[i] = 10000;
        const Result r = bits == 16 ? Process(a, s) : Process(a, f);
        EXPECT_EQ(r.gapFound, 1);
        EXPECT_EQ(r.splitOffset, bits == 16 ? 2000 : 4000);
        EXPECT_EQ(r.endGapReached, 0);
    }

    // Silence from the start: the gap is complete at once but the song is not.
    CSignalAnalyzer a = DetectorOnly(16, 100, 5000, 1000000);
    I16 block(4000, 0);
    EXPECT_EQ(Process(a, block).gapFound, 0);
    Result r = Process(a, block);
    EXPECT_EQ(r.gapFound, 1);
    EXPECT_EQ(r.splitOffset, (5000 - 4000) * 2);

    // End gap shorter than the minimum song: the end comes with no split, exactly at sample 3000.
    CSignalAnalyzer b = DetectorOnly(16, 100, 5000, 3000);
    I16 upTo2999(3000, 0), next(2, 0);
    EXPECT_EQ(Process(b, upTo2999).endGapReached, 0);
    r = Process(b, next);
    EXPECT_EQ(r.endGapReached, 1);
    EXPECT_EQ(r.gapFound, 0);

    // A silence longer than gap + minimum song splits twice (at 599 and 999); in one block the
    // caller sees the later offset only.
    CSignalAnalyzer c = DetectorOnly(16, 100, 400, 100000);
    I16 twice(1200, 0);
    for (int i = 0; i < 500; ++i) twice[i] = 3000;
    r = Process(c, twice);
    EXPECT_EQ(r.gapFound, 1);
    EXPECT_EQ(r.splitOffset, 999 / 2 * 4);
}

// A stream with one gap and then the end, analysed whole and cut into two blocks (with empty
// and less-than-a-sample blocks between them) at many places: the detector sees one stream.
TEST(ProcessBlock, GapSpanningTwoBlocksIsFoundAsInOneStream) {
    // Loud to 1999 (with short dips), quiet to 2599, loud to 3599, quiet to the end: one split
    // at 2299, the end at 3599 + 650 = 4249, no second split before the end.
    constexpr int kGap = 300, kMinSong = 2000, kEnd = 650, kEndIndex = 4249;
    I16 stream(6000, 0);
    for (int i = 0; i < 2000; ++i) stream[i] = (i % 7 == 0) ? 0 : 5000;
    for (int i = 2600; i < 3600; ++i) stream[i] = -5000;

    CSignalAnalyzer whole = DetectorOnly(16, kGap, kMinSong, kEnd);
    I16 all = stream;
    const Result ref = Process(whole, all);
    ASSERT_EQ(ref.gapFound, 1);
    ASSERT_EQ(ref.splitOffset, 2299 / 2 * 4);
    ASSERT_EQ(ref.endGapReached, 1);

    for (int cut :
         {2, 1200, 2000, 2200, 2296, 2298, 2300, 2302, 2598, 2600, 4000, 4248, 4250, 5998}) {
        SCOPED_TRACE(cut);
        CSignalAnalyzer split = DetectorOnly(16, kGap, kMinSong, kEnd);
        I16 head(stream.begin(), stream.begin() + cut), tail(stream.begin() + cut, stream.end());
        const Result r1 = Process(split, head);
        Result ignored;
        split.ProcessBlock(tail.data(), 0, &ignored.gapFound, &ignored.splitOffset,
                           &ignored.endGapReached);
        split.ProcessBlock(tail.data(), 1, &ignored.gapFound, &ignored.splitOffset,
                           &ignored.endGapReached);
        const Result r2 = Process(split, tail);
        const bool inHead = ref.splitOffset < cut * 2L;
        EXPECT_EQ(r1.gapFound, inHead ? 1 : 0);
        EXPECT_EQ(r2.gapFound, inHead ? 0 : 1);
        EXPECT_EQ(inHead ? r1.splitOffset : r2.splitOffset + cut * 2L, ref.splitOffset);
        EXPECT_EQ(r1.endGapReached, cut > kEndIndex ? 1 : 0);
        EXPECT_EQ(r2.endGapReached, 1);
    }
}

TEST(ProcessBlock, FilterStatesCarryAcrossRecordingsAndDCStateDoesNot) {
    CSignalAnalyzer a;
    I16 music(4096);
    for (size_t i = 0; i < music.size(); ++i) music[i] = int16_t((i * 7919) % 20000);
    Process(a, music);
    const float w0 = a.m_filter[0].w0, w1 = a.m_filter[1].w1;
    ASSERT_NE(w0, 0.0f);
    a.PrepareRecording();
    EXPECT_EQ(a.m_filter[0].w0, w0);
    EXPECT_EQ(a.m_filter[1].w1, w1);

    // The DC blocker starts afresh: the written block equals a new analyser's.
    CSignalAnalyzer fresh;
    I16 again = music, freshBlock = music;
    Process(a, again);
    Process(fresh, freshBlock);
    EXPECT_EQ(again, freshBlock);
    EXPECT_NE(a.m_filter[0].w0, fresh.m_filter[0].w0);
}

// A mono side and its stereo copy (both channels equal), fed in blocks of the same frames, at
// the default settings with DC Block and Smart Gap on: the same splits at the same frames, the
// same end, the same blocked samples, and readouts on both bars with each clip counted once.
TEST(ProcessBlock, MonoSplitsWhereItsStereoCopySplits) {
    constexpr uint32_t kRate = 11025;
    // Songs of 31 s, 40 s and 33 s with gaps of 2 s and 3 s and a quiet passage of 0.6 s, then
    // End Gap of silence; noise with a DC offset throughout, and a few clipped samples.
    std::vector<std::pair<uint32_t, bool>> plan = {
        {31 * kRate, true}, {2 * kRate, false}, {20 * kRate, true}, {kRate * 6 / 10, false},
        {20 * kRate, true}, {3 * kRate, false}, {33 * kRate, true}, {8 * kRate, false}};
    for (uint16_t bits : {16, 32}) {
        SCOPED_TRACE(bits);
        std::vector<float> mono;
        uint32_t seed = 7;
        for (auto [frames, loud] : plan) {
            for (uint32_t i = 0; i < frames; ++i) {
                seed = seed * 1664525u + 1013904223u;
                const float noise = float(int32_t(seed >> 16) - 32768) / 32768.0f;
                mono.push_back(0.02f + (loud ? 0.5f : 0.002f) * noise);
            }
        }
        mono[40000] = mono[900000] = -1.5f;
        mono[40001] = mono[900001] = 1.5f;
        auto run = [&](uint16_t channels) {
            CSignalAnalyzer a;
            a.SetBitsPerSample(bits);
            a.SetSamplesPerSec(kRate);
            a.SetChannels(channels);
            a.PrepareRecording();
            const size_t sampleBytes = bits == 16 ? 2 : 4;
            std::vector<unsigned char> data(mono.size() * channels * sampleBytes);
            for (size_t f = 0; f < mono.size(); ++f) {
                for (uint16_t ch = 0; ch < channels; ++ch) {
                    const size_t at = (f * channels + ch) * sampleBytes;
                    const int16_t s16 = int16_t(std::clamp(mono[f], -1.0f, 1.0f) * 32767);
                    std::memcpy(&data[at], bits == 16 ? static_cast<const void*>(&s16) : &mono[f],
                                sampleBytes);
                }
            }
            // Splits and ends as frame numbers; blocks of 8192 frames either way.
            std::vector<long> events;
            int64_t clips = 0;
            const size_t blockBytes = 8192 * channels * sampleBytes;
            for (size_t at = 0; at < data.size(); at += blockBytes) {
                const long count = long(std::min(blockBytes, data.size() - at));
                int gap = 0, end = 0;
                long offset = 0;
                a.ProcessBlock(&data[at], count, &gap, &offset, &end);
                const long frame = long(at / (channels * sampleBytes));
                if (gap) events.push_back(frame + offset / long(channels * sampleBytes));
                clips += a.ClippedSamples();
                EXPECT_EQ(a.m_fPeak[0], a.m_fPeak[1]);
                EXPECT_EQ(a.m_fPower[0], a.m_fPower[1]);
                if (end) {
                    events.push_back(-frame);
                    break;
                }
            }
            std::vector<unsigned char> left;
            for (size_t f = 0; f < mono.size(); ++f) {
                const size_t at = f * channels * sampleBytes;
                left.insert(left.end(), &data[at], &data[at] + sampleBytes);
            }
            return std::tuple{events, clips, left};
        };
        const auto [stereoEvents, stereoClips, stereoLeft] = run(2);
        const auto [monoEvents, monoClips, monoLeft] = run(1);
        // The stereo copy splits at both gaps and once more in the closing silence (not at the
        // quiet passage), then ends.
        ASSERT_EQ(stereoEvents.size(), 4u);
        EXPECT_LT(stereoEvents[3], 0);
        EXPECT_EQ(monoEvents, stereoEvents);
        EXPECT_EQ(monoLeft, stereoLeft);
        EXPECT_EQ(monoClips * 2, stereoClips);
        EXPECT_GT(monoClips, 0);
    }

    // End Gap in bytes of mono audio is half that of stereo.
    CSignalAnalyzer a;
    a.SetChannels(1);
    EXPECT_TRUE(a.IsShortFile(1236563 / 2));
    EXPECT_FALSE(a.IsShortFile(1236564 / 2));
}

using A = CSignalAnalyzer;

TEST(AnalyzerParams, ConstructionGivesTheDefaultRecordAndNoError) {
    CSignalAnalyzer a;
    EXPECT_EQ(a.GetErrorFlag(), 0);
    EXPECT_STREQ(a.GetErrorText(), "No error");
    EXPECT_EQ(Bits(a.GetMinSongSize()), Bits(30.0100002f));
    EXPECT_EQ(Bits(a.GetEndGap()), Bits(7.0100002f));
    const RecSettings fromAnalyzer{a.GetGapSizePosition(),
                                   a.GetGapLevelPosition(),
                                   a.GetMinSongSizePosition(),
                                   a.GetEndSizePosition(),
                                   a.GetDCBlock(),
                                   a.GetIgnoreClicks(),
                                   a.GetSamplesPerSec(),
                                   a.GetBitsPerSample(),
                                   a.GetChannels(),
                                   -1};
    const RecSettings expected{-1764, -582, -5293, -1236, 1, 1, 44100, 16, 2, -1};
    EXPECT_EQ(fromAnalyzer, expected);
    EXPECT_EQ(RecSettings{}, expected);
}

TEST(AnalyzerParams, LabelsAtTheDefaultsAndTheTrackbarEnds) {
    using F = std::string (*)(int);
    const struct {
        F format;
        int position;
        const char* label;
    } cases[] = {
        {A::FormatGapSize, -1764, "1.00 secs"},   {A::FormatGapSize, -3880, "2.20 secs"},
        {A::FormatGapSize, -353, "0.20 secs"},    {A::FormatGapLevel, -582, "-35.0 dB"},
        {A::FormatGapLevel, -3276, "-20.0 dB"},   {A::FormatGapLevel, -1, "-90.3 dB"},
        {A::FormatGapLevel, -327, "-40.0 dB"},    {A::FormatGapLevel, -32, "-60.2 dB"},
        {A::FormatMinSongSize, -5293, "30 secs"}, {A::FormatMinSongSize, -21168, "120 secs"},
        {A::FormatMinSongSize, -1764, "10 secs"}, {A::FormatMinSongSize, -1763, " 9 secs"},
        {A::FormatEndSize, -1236, " 7 secs"},     {A::FormatEndSize, -5292, "30 secs"},
        {A::FormatEndSize, -5291, "29 secs"},     {A::FormatEndSize, -882, " 5 secs"}};
    for (const auto& c : cases) EXPECT_EQ(c.format(c.position), c.label) << c.position;

    // Every position a trackbar offers passes its own validation; ticks and pages are a tenth.
    const struct {
        TrackbarRange range;
        void (A::*set)(int);
        int step;
    } bars[] = {{kGapSizeTrackbar, &A::SetGapSizePosition, 352},
                {kGapLevelTrackbar, &A::SetGapLevelPosition, 327},
                {kMinSongSizeTrackbar, &A::SetMinSongSizePosition, 1940},
                {kEndSizeTrackbar, &A::SetEndSizePosition, 441}};
    for (const auto& bar : bars) {
        EXPECT_EQ(bar.range.TickFrequency(), bar.step);
        EXPECT_EQ(bar.range.PageSize(), bar.step);
        CSignalAnalyzer a;
        for (int p = bar.range.nLowest; p <= bar.range.nHighest; ++p) {
            (a.*bar.set)(p);
            ASSERT_EQ(a.GetErrorFlag(), 0) << p;
        }
    }
}

TEST(AnalyzerParams, ThresholdsAtEveryRateRoundedToFloat) {
    const struct {
        uint32_t rate;
        int32_t gap, minSong, endGap;
    } rows[] = {{11025, 22050, 661720, 154570},
                {22050, 44100, 1323441, 309141},
                {44100, 88200, 2646882, 618282},
                {48000, 96000, 2880960, 672960}};
    for (const auto& row : rows) {
        CSignalAnalyzer a;
        a.SetSamplesPerSec(row.rate);
        a.PrepareRecording();
        EXPECT_EQ(a.m_nGapSamples, row.gap) << row.rate;
        EXPECT_EQ(a.m_nMinSongSamples, row.minSong) << row.rate;
        EXPECT_EQ(a.m_nEndGapSamples, row.endGap) << row.rate;
    }
    // 44100 x 1.00907 is 44499.99.. in double but rounds to 44500 in float before doubling.
    CSignalAnalyzer a;
    a.SetMinSongSizePosition(-178);
    a.PrepareRecording();
    EXPECT_EQ(a.m_nMinSongSamples, 89000);
    // The exponent is divided by 20 in float: position -1 comes back as 0.999999821, not 1.
    a.SetGapLevelPosition(-1);
    a.PrepareRecording();
    EXPECT_EQ(a.m_fLinearGapLevel, 0.999999821f);
}

TEST(AnalyzerParams, LinearGapLevelAndShortFilePerFormat) {
    CSignalAnalyzer a;  // 44100 x 7.0100002 rounds to 309141 in float
    EXPECT_EQ(Bits(a.m_fLinearGapLevel), Bits(582.7066f));
    EXPECT_TRUE(a.IsShortFile(0));
    EXPECT_TRUE(a.IsShortFile(1236563));
    EXPECT_FALSE(a.IsShortFile(1236564));
    // Any format other than 16 is the float one.
    for (uint16_t bits : {32, 24}) {
        a.SetBitsPerSample(bits);
        a.PrepareRecording();
        EXPECT_EQ(Bits(a.m_fLinearGapLevel), Bits(0.017782794f)) << bits;
    }
    a.SetBitsPerSample(32);
    EXPECT_TRUE(a.IsShortFile(2473127));
    EXPECT_FALSE(a.IsShortFile(2473128));
}

TEST(AnalyzerParams, PositionsTruncateWithoutRounding) {
    CSignalAnalyzer a;
    a.SetMinSongSizePosition(-1764);  // 10 seconds
    EXPECT_EQ(a.GetMinSongSize(), 10.0f);
    EXPECT_EQ(a.GetMinSongSizePosition(), -1763);
    // The top of the end-gap trackbar is 30.0000019 seconds (it passes validation, below); the
    // top of the minimum-song trackbar is 120.0000076 seconds.
    a.SetEndSizePosition(-5292);
    EXPECT_EQ(a.GetEndGap(), 30.0000019f);
    a.SetMinSongSizePosition(-21168);
    EXPECT_EQ(a.GetMinSongSize(), 120.0000076f);
    const struct {
        void (A::*set)(int);
        int (A::*get)();
        int position, back;
    } cases[] = {
        {&A::SetMinSongSizePosition, &A::GetMinSongSizePosition, -5292, -5292},
        {&A::SetMinSongSizePosition, &A::GetMinSongSizePosition, -5291, -5290},
        {&A::SetGapSizePosition, &A::GetGapSizePosition, -1764, -1764},
        // 18 / 1764 in float times 1764 is 17.99999.., truncated without rounding to float first.
        {&A::SetGapSizePosition, &A::GetGapSizePosition, -18, -17},
        {&A::SetGapLevelPosition, &A::GetGapLevelPosition, -582, -582}};
    for (const auto& c : cases) {
        (a.*c.set)(c.position);
        EXPECT_EQ((a.*c.get)(), c.back) << c.position;
    }
}

TEST(AnalyzerParams, ValidationBoundariesOnBothSides) {
    const struct {
        void (A::*set)(int);
        int (A::*get)();
        const char* message;
        std::vector<int> valid, invalid;
    } cases[] = {{&A::SetGapSizePosition,
                  &A::GetGapSizePosition,
                  "Gap size is not between 0.01 and 5 seconds.\n",
                  {-18, -8820, -3880, -353},
                  {-17, -8821, 0, 17, INT_MIN}},
                 {&A::SetMinSongSizePosition,
                  &A::GetMinSongSizePosition,
                  "Minimum song size is not between 1 and 200 seconds.\n",
                  {-177, -35280, -21168, -1764},
                  {-176, -35281, INT_MIN}},
                 {&A::SetEndSizePosition,
                  &A::GetEndSizePosition,
                  "End gap is not between 1 and 30 seconds.\n",
                  {-177, -5291, -5292, -882},
                  {-176, -5293, INT_MIN}},
                 // -6 dB lies between -16422 and -16423 (-6.0002 and -5.9997 dB); 0 is minus
                 // infinity and positive positions are the logarithm of a negative number.
                 {&A::SetGapLevelPosition,
                  &A::GetGapLevelPosition,
                  "Gap level is not between -6 and -144 dB.\n",
                  {-16422, -3276, -1},
                  {-16423, 0, 1, 582, INT_MAX, INT_MIN}}};
    for (const auto& c : cases) {
        for (bool fails : {false, true}) {
            for (int position : fails ? c.invalid : c.valid) {
                SCOPED_TRACE(position);
                CSignalAnalyzer a;
                (a.*c.set)(position);
                EXPECT_EQ(a.GetErrorFlag(), fails ? 1 : 0);
                EXPECT_STREQ(a.GetErrorText(), fails ? c.message : "No error");
                // The rejected value stays stored; a getter clears the flag, not the text.
                (a.*c.get)();
                EXPECT_EQ(a.GetErrorFlag(), 0);
                EXPECT_STREQ(a.GetErrorText(), fails ? c.message : "No error");
            }
        }
    }
}

TEST(AnalyzerParams, RejectedAndOutOfRangeValuesStaySafe) {
    CSignalAnalyzer a;
    a.SetGapLevelPosition(0);
    EXPECT_TRUE(std::isinf(a.GetGapLevel()));
    EXPECT_EQ(a.GetGapLevelPosition(), 0);
    a.SetGapLevelPosition(100);
    EXPECT_EQ(a.GetErrorFlag(), 1);
    EXPECT_TRUE(std::isnan(a.GetGapLevel()));
    EXPECT_EQ(a.GetGapLevelPosition(), 0);
    a.SetGapLevelPosition(-582);  // a later valid position clears the flag and the level
    EXPECT_EQ(a.GetErrorFlag(), 0);
    EXPECT_EQ(a.GetGapLevelPosition(), -582);

    // Conversions of out-of-range values saturate instead of overflowing.
    a.SetMinSongSizePosition(INT_MIN);
    a.SetEndSizePosition(INT_MIN);
    a.SetGapSizePosition(INT_MIN);
    a.SetSamplesPerSec(48000);
    a.PrepareRecording();
    EXPECT_EQ(a.m_nMinSongSamples, INT32_MAX);
    EXPECT_EQ(a.m_nEndGapSamples, INT32_MAX);
    EXPECT_LT(a.GetMinSongSizePosition(), -2147483000);
    EXPECT_FALSE(a.IsShortFile(LONG_MAX));
}

}  // namespace
