#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/AnalysisObserver.h"
#include "engine/RecSettings.h"
#include "engine/SignalAnalyzer.h"

namespace {

uint32_t FloatBits(float f) { return std::bit_cast<uint32_t>(f); }

constexpr float kFloor = 1.0e-12f;
using I16 = std::vector<int16_t>;

template <typename T>
BlockVerdict Process(CSignalAnalyzer& a, std::vector<T>& block) {
    return a.ProcessBlock(block.data(), long(block.size() * sizeof(T)));
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

// The floor readouts of an empty block are compared with the plain rendering in its own test;
// a null or negative block must give the same and no verdict.
TEST(ProcessBlock, NullAndNegativeBlocksGiveTheFloorReadouts) {
    CSignalAnalyzer a;
    I16 loud(64, 20000);
    Process(a, loud);
    EXPECT_EQ(a.ProcessBlock(nullptr, 0), BlockVerdict{});
    EXPECT_EQ(a.ProcessBlock(loud.data(), -4), BlockVerdict{});
    EXPECT_EQ(a.m_fPeak[0], kFloor / 32768.0f);
    EXPECT_EQ(a.m_fPower[0], kFloor);
    EXPECT_EQ(a.m_nClipCount[0], 0);
}

TEST(ProcessBlock, SplitOffsetsAndTheMinimumSongSize) {
    // Silence from the start: the gap is complete at once but the song is not.
    CSignalAnalyzer a = DetectorOnly(16, 100, 5000, 1000000);
    I16 block(4000, 0);
    EXPECT_FALSE(Process(a, block).gapFound);
    BlockVerdict r = Process(a, block);
    EXPECT_TRUE(r.gapFound);
    EXPECT_EQ(r.splitOffset, (5000 - 4000) * 2);

    // End gap shorter than the minimum song: the end comes with no split, exactly at sample 3000.
    CSignalAnalyzer b = DetectorOnly(16, 100, 5000, 3000);
    I16 upTo2999(3000, 0), next(2, 0);
    EXPECT_FALSE(Process(b, upTo2999).endGapReached);
    r = Process(b, next);
    EXPECT_TRUE(r.endGapReached);
    EXPECT_FALSE(r.gapFound);

    // A silence longer than gap + minimum song splits twice (at 599 and 999); in one block the
    // caller sees the later offset only.
    CSignalAnalyzer c = DetectorOnly(16, 100, 400, 100000);
    I16 twice(1200, 0);
    for (int i = 0; i < 500; ++i) twice[i] = 3000;
    r = Process(c, twice);
    EXPECT_TRUE(r.gapFound);
    EXPECT_EQ(r.splitOffset, 999 / 2 * 4);
}

TEST(ProcessBlock, TrailingPiecesAreRunOutOnlyWhenNothingRoseAboveGapLevelAfterThem) {
    // Gap 100, minimum song 400: loud 0..499, then the split at 599.
    struct Row {
        const char* szAfter;
        std::vector<std::pair<int, int16_t>> after;  // samples after the first 1000: count, value
        int nRunOut;
    };
    const Row rows[] = {
        {"quiet to the end: splits at 999 and 1399", {{500, 0}}, 3},
        {"level exactly at Gap Level (not above)", {{500, 582}}, 3},
        {"one loud sample after the splits", {{450, 0}, {1, 3000}, {50, 0}}, 0},
        {"a song, then splits at 1599 and 1999", {{500, 3000}, {700, 0}}, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szAfter);
        CSignalAnalyzer a = DetectorOnly(16, 100, 400, 100000);
        I16 first(1000, 0);
        for (int i = 0; i < 500; ++i) first[i] = 3000;
        EXPECT_EQ(a.TrailingRunOutPieces(), 0);
        EXPECT_TRUE(Process(a, first).gapFound);
        I16 rest;
        for (const auto& [count, value] : row.after) rest.insert(rest.end(), count, value);
        Process(a, rest);
        EXPECT_EQ(a.TrailingRunOutPieces(), row.nRunOut);
    }
    // No split yet: the piece is the recording, however quiet; a new recording starts afresh.
    CSignalAnalyzer b = DetectorOnly(16, 100, 400, 100000);
    I16 quiet(300, 0);
    Process(b, quiet);
    EXPECT_EQ(b.TrailingRunOutPieces(), 0);
    I16 split(1000, 3000);
    split.insert(split.end(), 200, 0);
    Process(b, split);
    EXPECT_EQ(b.TrailingRunOutPieces(), 1);
    b.PrepareRecording();
    EXPECT_EQ(b.TrailingRunOutPieces(), 0);
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

using A = CSignalAnalyzer;

TEST(AnalyzerParams, DefaultsAndLabels) {
    CSignalAnalyzer d;
    EXPECT_EQ(d.GetErrorFlag(), 0);
    EXPECT_STREQ(d.GetErrorText(), "No error");
    EXPECT_EQ(FloatBits(d.GetMinSongSize()), FloatBits(30.0100002f));
    EXPECT_EQ(FloatBits(d.GetEndGap()), FloatBits(7.0100002f));
    EXPECT_EQ(
        (RecSettings{d.GetGapSizePosition(), d.GetGapLevelPosition(), d.GetMinSongSizePosition(),
                     d.GetEndSizePosition(), d.GetDCBlock(), d.GetIgnoreClicks(),
                     d.GetSamplesPerSec(), d.GetBitsPerSample(), d.GetChannels(), -1}),
        RecSettings{});

    using F = std::string (*)(int);
    // Labels pad to two digits and truncate; the trackbar ends are checked in the dialog.
    const struct {
        F format;
        int position;
        const char* label;
    } cases[] = {{A::FormatGapSize, -1764, "1.00 secs"},
                 {A::FormatGapLevel, -32, "-60.2 dB"},
                 {A::FormatMinSongSize, -1763, " 9 secs"},
                 {A::FormatEndSize, -5291, "29 secs"}};
    for (const auto& c : cases) EXPECT_EQ(c.format(c.position), c.label) << c.position;
}

TEST(AnalyzerParams, ThresholdsAtEveryRateAndFormatRoundedToFloat) {
    const struct {
        uint32_t rate;
        int32_t gap, minSong, endGap;
    } rows[] = {{11025, 22050, 661720, 154570},
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
    // End Gap at 44,100: 44100 x 7.0100002 rounds to 309141 in float.
    CSignalAnalyzer b;
    EXPECT_EQ(FloatBits(b.m_fLinearGapLevel), FloatBits(582.7066f));
    EXPECT_TRUE(b.IsShortFile(0));
    EXPECT_TRUE(b.IsShortFile(1236563));
    EXPECT_FALSE(b.IsShortFile(1236564));
    // Any format other than 16 is the float one.
    for (uint16_t bits : {32, 24}) {
        b.SetBitsPerSample(bits);
        b.PrepareRecording();
        EXPECT_EQ(FloatBits(b.m_fLinearGapLevel), FloatBits(0.017782794f)) << bits;
    }
    b.SetBitsPerSample(32);
    EXPECT_TRUE(b.IsShortFile(2473127));
    EXPECT_FALSE(b.IsShortFile(2473128));
    // End Gap in bytes of mono audio is half that of stereo.
    b.SetBitsPerSample(16);
    b.SetChannels(1);
    EXPECT_TRUE(b.IsShortFile(1236563 / 2));
    EXPECT_FALSE(b.IsShortFile(1236564 / 2));
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

// Every loop the analyser has (16-bit and float, DC Block and Smart Gap on and off, mono and
// stereo, with and without an observer): End Gap is reported by the block that holds its
// sample, not the next one, and a sample at either full scale counts as clipped.
TEST(ProcessBlock, EdgesHoldOnEveryPath) {
    struct Levels : IAnalysisObserver {
        std::vector<float> buffer, all;
        float* LevelBuffer(long samples) override {
            buffer.assign(size_t(samples), 0.0f);
            return buffer.data();
        }
        void OnBlockAnalysed(const AnalysedBlock& b) override {
            if (b.pLevels) all.insert(all.end(), b.pLevels, b.pLevels + b.nSamples);
        }
    };
    for (int variant = 0; variant < 32; ++variant) {
        const bool int16 = variant & 1, dc = variant & 2, smart = variant & 4, mono = variant & 8,
                   observed = variant & 16;
        SCOPED_TRACE(variant);
        const int channels = mono ? 1 : 2;
        const float full = int16 ? 32767.0f : 1.0f;
        auto make = [&](Levels* observer) {
            CSignalAnalyzer a;
            a.SetDCBlock(dc);
            a.SetIgnoreClicks(smart);
            a.SetBitsPerSample(int16 ? 16 : 32);
            a.SetChannels(uint16_t(channels));
            a.PrepareRecording();
            a.m_nGapSamples = 1 << 30;  // no split gets in the way
            a.m_nMinSongSamples = 0;
            a.m_fLinearGapLevel = full / 30.0f;
            a.SetObserver(observer);
            return a;
        };
        // Interleaved samples of `frames` frames, one loud frame first and silence after it.
        auto side = [&](long frames) {
            std::vector<float> s(size_t(frames * channels), 0.0f);
            for (int c = 0; c < channels; ++c) s[size_t(c)] = full / 3.0f;
            return s;
        };
        auto bytes = [&](const std::vector<float>& s, size_t from, size_t count) {
            std::vector<unsigned char> out(count * (int16 ? 2 : 4));
            for (size_t k = 0; k < count; ++k) {
                if (int16) {
                    const int16_t v =
                        int16_t(std::lround(std::clamp(s[from + k], -32768.0f, 32767.0f)));
                    std::memcpy(&out[k * 2], &v, 2);
                } else {
                    std::memcpy(&out[k * 4], &s[from + k], 4);
                }
            }
            return out;
        };
        auto run = [&](CSignalAnalyzer& a, std::vector<unsigned char> block) {
            return a.ProcessBlock(block.data(), long(block.size()));
        };

        // Where the detector last heard the loud frame (Smart Gap's filter rings on after it).
        const long frames = 2000;
        const std::vector<float> s = side(frames);
        Levels levels;
        CSignalAnalyzer probe = make(&levels);
        run(probe, bytes(s, 0, s.size()));
        ASSERT_EQ(levels.all.size(), size_t(frames * 2));
        int64_t lastLoud = 0;
        for (size_t i = 0; i < levels.all.size(); ++i) {
            if (levels.all[i] > full / 30.0f) lastLoud = int64_t(i);
        }
        ASSERT_LT(lastLoud, 200);
        // End Gap's sample odd, so that one sample later would fall in the next frame.
        const int32_t endGap = int32_t(600 + ((lastLoud + 600) % 2 == 0 ? 1 : 0));
        const long endFrame = long((lastLoud + endGap) / 2);
        Levels unused;
        CSignalAnalyzer a = make(observed ? &unused : nullptr);
        a.m_nEndGapSamples = endGap;
        EXPECT_FALSE(run(a, bytes(s, 0, size_t(endFrame * channels))).endGapReached);
        EXPECT_TRUE(run(a, bytes(s, size_t(endFrame * channels), size_t(channels))).endGapReached);

        if (dc) continue;  // the DC blocker moves samples off full scale
        CSignalAnalyzer c = make(observed ? &unused : nullptr);
        std::vector<float> clipped(64, 0.0f);
        for (int k = 0; k < 3; ++k) clipped[size_t(5 + 7 * k)] = full;
        for (int k = 0; k < 5; ++k) clipped[size_t(30 + 5 * k)] = int16 ? -32768.0f : -1.0f;
        run(c, bytes(clipped, 0, clipped.size()));
        EXPECT_EQ(c.ClippedSamples(), 8);
    }
}
