// How a settings record reaches the analyser, what it falls back on, and which sample formats
// Record refuses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "engine/ParamScales.h"
#include "engine/RecSettings.h"
#include "engine/RecordingTexts.h"
#include "engine/SignalAnalyzer.h"

namespace {

using testing::HasSubstr;

// The parameter block of an analyser, and what a record's positions should make of it (a
// position read back may come out one unit nearer zero, so values are compared, not positions).
struct Held {
    float fGap, fLevel, fMinSong, fEnd;
    int bDC, bSmart;
    uint32_t nRate;
    uint16_t wBits, wChannels;
    bool operator==(const Held&) const = default;
};
Held HeldBy(CSignalAnalyzer& a) {
    return {a.GetGapSize(),       a.GetGapLevel(),      a.GetMinSongSize(),
            a.GetEndGap(),        a.GetDCBlock(),       a.GetIgnoreClicks(),
            a.GetSamplesPerSec(), a.GetBitsPerSample(), a.GetChannels()};
}
Held MadeFrom(const RecSettings& s) {
    return {ValueFromPosition(RecSetting::GapSize, s.nGapSize),
            ValueFromPosition(RecSetting::GapLevel, s.nGapLevel),
            ValueFromPosition(RecSetting::MinSongSize, s.nMinSongSize),
            ValueFromPosition(RecSetting::EndSize, s.nEndSize),
            s.bDCBlock,
            s.bIgnoreClicks,
            s.nSamplesPerSec,
            s.wBitsPerSample,
            s.wChannels};
}

// Each field lands in its own parameter: the records' values differ from the defaults and from
// each other where two fields could be swapped (the two switches; bits and channels).
TEST(ApplySettings, EachFieldReachesItsOwnParameter) {
    const RecSettings records[] = {
        {-3000, -100, -10584, -2646, 0, 1, 22050, 32, 1, 4},
        {-353, -3276, -21168, -882, 1, 0, 11025, 16, 2, -1},
        {-3880, -1, -1764, -5292, 0, 0, 48000, 32, 2, 0},
    };
    for (const RecSettings& record : records) {
        SCOPED_TRACE(record.nGapSize);
        CSignalAnalyzer a;
        RecSettings applied = record;
        std::vector<RecSetting> rejected;
        ApplySettings(applied, a, [&](RecSetting s, const char*) { rejected.push_back(s); });
        EXPECT_TRUE(rejected.empty());
        EXPECT_EQ(applied, record);
        EXPECT_TRUE(HeldBy(a) == MadeFrom(record));
    }

    // The detection fields alone leave the analyser's format as it was.
    CSignalAnalyzer a;
    RecSettings other = records[0];
    ApplyDetectionSettings(other, a);
    EXPECT_EQ(a.GetDCBlock(), 0);
    EXPECT_EQ(a.GetIgnoreClicks(), 1);
    EXPECT_EQ(a.GetBitsPerSample(), 16);
    EXPECT_EQ(a.GetSamplesPerSec(), 44100u);
    EXPECT_EQ(a.GetChannels(), 2);
}

// A position the analyser rejects (from a preset, the profile or a hand-edited file) falls back
// to the default with its range message; the other fields still apply as given.
TEST(ApplySettings, RejectedPositionsFallBackToTheDefault) {
    const RecSettings base{-3000, -100, -10584, -2646, 0, 1, 22050, 32, 1, 4};
    const struct {
        int32_t RecSettings::*field;
        int32_t value;
        RecSetting setting;
        const char* message;
    } cases[] = {
        {&RecSettings::nGapLevel, 3, RecSetting::GapLevel,  // "nan dB", every sample silent
         "Gap level is not between -6 and -144 dB.\n"},
        {&RecSettings::nGapSize, -20000, RecSetting::GapSize,
         "Gap size is not between 0.01 and 5 seconds.\n"},
        {&RecSettings::nMinSongSize, -176, RecSetting::MinSongSize,
         "Minimum song size is not between 1 and 200 seconds.\n"},
        {&RecSettings::nEndSize, -5293, RecSetting::EndSize,
         "End gap is not between 1 and 30 seconds.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message + std::to_string(c.value));
        RecSettings record = base;
        record.*c.field = c.value;
        CSignalAnalyzer a;
        std::vector<std::pair<RecSetting, std::string>> told;
        ApplySettings(record, a,
                      [&](RecSetting s, const char* text) { told.emplace_back(s, text); });
        ASSERT_EQ(told.size(), 1u);
        EXPECT_EQ(told[0].first, c.setting);
        EXPECT_EQ(told[0].second, c.message);
        RecSettings expected = base;
        expected.*c.field = RecSettings{}.*c.field;
        EXPECT_EQ(record, expected);
        EXPECT_TRUE(HeldBy(a) == MadeFrom(expected));
        EXPECT_EQ(a.GetErrorFlag(), 0);
    }
}

TEST(UnsupportedFormat, RefusesWhatTheAnalyserWouldMisread) {
    const struct {
        uint32_t rate;
        uint16_t bits, channels;
        bool anyRate;
        std::optional<RecSetting> refused;
        const char* said;  // part of the text
    } cases[] = {
        {44100, 16, 2, false, std::nullopt, ""},
        {11025, 32, 1, false, std::nullopt, ""},
        {48000, 32, 2, false, std::nullopt, ""},
        {96000, 16, 2, false, RecSetting::SamplesPerSec, "Sampling Rate of 96000 samples"},
        {0, 16, 2, false, RecSetting::SamplesPerSec, "Sampling Rate of 0 samples"},
        {44100, 24, 2, false, RecSetting::BitsPerSample, "with 24 bits per sample"},
        {44100, 16, 0, false, RecSetting::Channels, "with 0 channels"},
        {44100, 16, 3, false, RecSetting::Channels, "with 3 channels"},
        {44100, 32, 6, false, RecSetting::Channels, "with 6 channels"},
        // A file played as the device has its own rate, within the analyser's limit.
        {96000, 16, 2, true, std::nullopt, ""},
        {kMaxAnyRate, 32, 1, true, std::nullopt, ""},
        {kMaxAnyRate + 1, 16, 2, true, RecSetting::SamplesPerSec, "384001"},
        {0, 16, 2, true, RecSetting::SamplesPerSec, "Sampling Rate of 0 samples"},
        {96000, 24, 2, true, RecSetting::BitsPerSample, "with 24 bits"},
    };
    for (const auto& c : cases) {
        RecSettings s;
        s.nSamplesPerSec = c.rate;
        s.wBitsPerSample = c.bits;
        s.wChannels = c.channels;
        SCOPED_TRACE(testing::Message() << c.rate << " " << c.bits << " " << c.channels);
        const std::optional<RecSetting> refused = FindUnsupportedFormat(s, c.anyRate);
        EXPECT_EQ(refused, c.refused);
        if (refused) {
            EXPECT_THAT(recording_texts::UnsupportedFormatText(*refused, s), HasSubstr(c.said));
        }
    }
}

}  // namespace
