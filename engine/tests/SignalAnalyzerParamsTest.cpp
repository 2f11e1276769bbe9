#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "RecSettings.h"
#include "SignalAnalyzer.h"

namespace {

uint32_t Bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

const char kGapSizeMessage[] = "Gap size is not between 0.01 and 5 seconds.\n";
const char kGapLevelMessage[] = "Gap level is not between -6 and -144 dB.\n";
const char kMinSongMessage[] = "Minimum song size is not between 1 and 200 seconds.\n";
const char kEndGapMessage[] = "End gap is not between 1 and 30 seconds.\n";

TEST(AnalyzerParams, ConstructionGivesTheDefaultRecordAndNoError) {
    CSignalAnalyzer a;
    EXPECT_EQ(a.GetErrorFlag(), 0);
    EXPECT_STREQ(a.GetErrorText(), "No error");
    EXPECT_EQ(Bits(a.GetMinSongSize()), Bits(30.0100002f));
    EXPECT_EQ(Bits(a.GetEndGap()), Bits(7.0100002f));

    RecSettings fromAnalyzer;
    fromAnalyzer.nGapSize = a.GetGapSizePosition();
    fromAnalyzer.nGapLevel = a.GetGapLevelPosition();
    fromAnalyzer.nMinSongSize = a.GetMinSongSizePosition();
    fromAnalyzer.nEndSize = a.GetEndSizePosition();
    fromAnalyzer.bDCBlock = a.GetDCBlock();
    fromAnalyzer.bIgnoreClicks = a.GetIgnoreClicks();
    fromAnalyzer.nSamplesPerSec = a.GetSamplesPerSec();
    fromAnalyzer.wBitsPerSample = a.GetBitsPerSample();
    fromAnalyzer.wChannels = a.GetChannels();
    fromAnalyzer.nWaveInID = -1;
    const RecSettings expected{-1764, -582, -5293, -1236, 1, 1, 44100, 16, 2, -1};
    EXPECT_EQ(fromAnalyzer, expected);
    EXPECT_EQ(RecSettings{}, expected);

    EXPECT_EQ(CSignalAnalyzer::FormatGapSize(-1764), "1.00 secs");
    EXPECT_EQ(CSignalAnalyzer::FormatGapLevel(-582), "-35.0 dB");
    EXPECT_EQ(CSignalAnalyzer::FormatMinSongSize(-5293), "30 secs");
    EXPECT_EQ(CSignalAnalyzer::FormatEndSize(-1236), " 7 secs");
}

TEST(AnalyzerParams, DefaultThresholdsAtEveryRate) {
    struct Row {
        uint32_t rate;
        int32_t gap, minSong, endGap;
    };
    for (const Row& row :
         {Row{11025, 22050, 661720, 154570}, Row{22050, 44100, 1323441, 309141},
          Row{44100, 88200, 2646882, 618282}, Row{48000, 96000, 2880960, 672960}}) {
        CSignalAnalyzer a;
        a.SetSamplesPerSec(row.rate);
        a.PrepareRecording();
        EXPECT_EQ(a.m_nGapSamples, row.gap) << row.rate;
        EXPECT_EQ(a.m_nMinSongSamples, row.minSong) << row.rate;
        EXPECT_EQ(a.m_nEndGapSamples, row.endGap) << row.rate;
    }
}

TEST(AnalyzerParams, ThresholdsRoundRateTimesSecondsToFloat) {
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

TEST(AnalyzerParams, DefaultLinearGapLevelPerFormat) {
    CSignalAnalyzer a;
    EXPECT_EQ(Bits(a.m_fLinearGapLevel), Bits(582.7066f));
    a.SetBitsPerSample(32);
    a.PrepareRecording();
    EXPECT_EQ(Bits(a.m_fLinearGapLevel), Bits(0.017782794f));
    // Any format other than 16 is the float one.
    a.SetBitsPerSample(24);
    a.PrepareRecording();
    EXPECT_EQ(Bits(a.m_fLinearGapLevel), Bits(0.017782794f));
}

TEST(AnalyzerParams, ShortFileIsLessThanEndGapOfStereoBytes) {
    CSignalAnalyzer a;  // 44100 x 7.0100002 rounds to 309141 in float
    EXPECT_TRUE(a.IsShortFile(1236563));
    EXPECT_FALSE(a.IsShortFile(1236564));
    a.SetBitsPerSample(32);
    EXPECT_TRUE(a.IsShortFile(2473127));
    EXPECT_FALSE(a.IsShortFile(2473128));
    EXPECT_TRUE(a.IsShortFile(0));
}

TEST(AnalyzerParams, TruncationLosesAUnitOnTheSongScale) {
    CSignalAnalyzer a;
    a.SetMinSongSizePosition(-1764);  // 10 seconds
    EXPECT_EQ(a.GetMinSongSize(), 10.0f);
    EXPECT_EQ(a.GetMinSongSizePosition(), -1763);
    EXPECT_EQ(CSignalAnalyzer::FormatMinSongSize(-1763), " 9 secs");

    // The top of the end-gap trackbar is 30.0000019 seconds, just out of range; the top of the
    // minimum-song trackbar, 120.0000076 seconds, is in range.
    a.SetEndSizePosition(-5292);
    EXPECT_EQ(a.GetEndGap(), 30.0000019f);
    a.SetMinSongSizePosition(-21168);
    EXPECT_EQ(a.GetMinSongSize(), 120.0000076f);
    a.SetMinSongSizePosition(-5292);
    EXPECT_EQ(a.GetMinSongSizePosition(), -5292);
    a.SetMinSongSizePosition(-5291);
    EXPECT_EQ(a.GetMinSongSizePosition(), -5290);
    EXPECT_EQ(CSignalAnalyzer::FormatEndSize(-5291), "29 secs");

    a.SetGapSizePosition(-1764);
    EXPECT_EQ(a.GetGapSizePosition(), -1764);
    // 18 / 1764 in float times 1764 is 17.99999.., truncated without rounding to float first.
    a.SetGapSizePosition(-18);
    EXPECT_EQ(a.GetGapSizePosition(), -17);
    a.SetGapLevelPosition(-582);
    EXPECT_EQ(a.GetGapLevelPosition(), -582);
}

TEST(AnalyzerParams, LabelsAtTheTrackbarEnds) {
    EXPECT_EQ(CSignalAnalyzer::FormatGapSize(-3880), "2.20 secs");
    EXPECT_EQ(CSignalAnalyzer::FormatGapSize(-353), "0.20 secs");
    EXPECT_EQ(CSignalAnalyzer::FormatGapLevel(-3276), "-20.0 dB");
    EXPECT_EQ(CSignalAnalyzer::FormatGapLevel(-1), "-90.3 dB");
    EXPECT_EQ(CSignalAnalyzer::FormatGapLevel(-327), "-40.0 dB");
    EXPECT_EQ(CSignalAnalyzer::FormatGapLevel(-32), "-60.2 dB");
    EXPECT_EQ(CSignalAnalyzer::FormatMinSongSize(-21168), "120 secs");
    EXPECT_EQ(CSignalAnalyzer::FormatMinSongSize(-1764), "10 secs");
    EXPECT_EQ(CSignalAnalyzer::FormatEndSize(-5292), "30 secs");
    EXPECT_EQ(CSignalAnalyzer::FormatEndSize(-882), " 5 secs");
}

// Each validating setter: the position, whether it must fail, the expected message.
struct Case {
    int position;
    bool fails;
};

void ExpectValidation(void (CSignalAnalyzer::*set)(int), int (CSignalAnalyzer::*get)(),
                      const char* message, std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
        CSignalAnalyzer a;
        (a.*set)(c.position);
        EXPECT_EQ(a.GetErrorFlag(), c.fails ? 1 : 0) << "position " << c.position;
        EXPECT_STREQ(a.GetErrorText(), c.fails ? message : "No error") << "position " << c.position;
        if (c.fails) {
            // The rejected value stays stored; a getter clears the flag, not the text.
            (a.*get)();
            EXPECT_EQ(a.GetErrorFlag(), 0);
            EXPECT_STREQ(a.GetErrorText(), message);
        }
    }
}

TEST(AnalyzerParams, ValidationBoundariesOnBothSides) {
    ExpectValidation(&CSignalAnalyzer::SetGapSizePosition, &CSignalAnalyzer::GetGapSizePosition,
                     kGapSizeMessage,
                     {{-17, true},
                      {-18, false},
                      {-8820, false},
                      {-8821, true},
                      {-3880, false},
                      {-353, false},
                      {0, true},
                      {17, true},
                      {INT_MIN, true}});
    ExpectValidation(&CSignalAnalyzer::SetMinSongSizePosition,
                     &CSignalAnalyzer::GetMinSongSizePosition, kMinSongMessage,
                     {{-176, true},
                      {-177, false},
                      {-35280, false},
                      {-35281, true},
                      {-21168, false},
                      {-1764, false},
                      {INT_MIN, true}});
    ExpectValidation(&CSignalAnalyzer::SetEndSizePosition, &CSignalAnalyzer::GetEndSizePosition,
                     kEndGapMessage,
                     {{-176, true},
                      {-177, false},
                      {-5291, false},
                      {-5292, true},
                      {-882, false},
                      {INT_MIN, true}});
    // -6 dB lies between -16422 and -16423 (-6.0002 and -5.9997 dB); 0 is minus infinity and
    // positive positions are the logarithm of a negative number.
    ExpectValidation(&CSignalAnalyzer::SetGapLevelPosition, &CSignalAnalyzer::GetGapLevelPosition,
                     kGapLevelMessage,
                     {{-16422, false},
                      {-16423, true},
                      {-3276, false},
                      {-1, false},
                      {0, true},
                      {1, true},
                      {582, true},
                      {INT_MAX, true},
                      {INT_MIN, true}});
}

TEST(AnalyzerParams, RejectedGapLevelsLeaveSafeValues) {
    CSignalAnalyzer a;
    a.SetGapLevelPosition(0);
    EXPECT_TRUE(std::isinf(a.GetGapLevel()));
    EXPECT_EQ(a.GetGapLevelPosition(), 0);

    a.SetGapLevelPosition(100);
    EXPECT_EQ(a.GetErrorFlag(), 1);
    EXPECT_STREQ(a.GetErrorText(), kGapLevelMessage);
    EXPECT_TRUE(std::isnan(a.GetGapLevel()));
    EXPECT_EQ(a.GetGapLevelPosition(), 0);

    // A later valid position clears the flag and replaces the level.
    a.SetGapLevelPosition(-582);
    EXPECT_EQ(a.GetErrorFlag(), 0);
    EXPECT_EQ(a.GetGapLevelPosition(), -582);
}

TEST(AnalyzerParams, OutOfRangeValuesConvertWithoutOverflow) {
    CSignalAnalyzer a;
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
