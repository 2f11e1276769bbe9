// The parameter block of CSignalAnalyzer: trackbar positions <-> seconds and dBFS, validation
// and the label texts. Positions are negative; a position is made from a value by truncation
// toward zero, never by rounding, so a round trip may come back one unit nearer zero.
#include <cmath>
#include <cstdio>
#include <limits>

#include "engine/ParamScales.h"
#include "engine/RecSettings.h"
#include "engine/SignalAnalyzer.h"

namespace {

// -p without overflow for INT_MIN, rounded to float as every scale starts with.
float NegatedPosition(int p) { return static_cast<float>(-static_cast<int64_t>(p)); }

float GapSizeFromPosition(int p) {
    return static_cast<float>(double{NegatedPosition(p)} / kGapSizeScale);
}

float SongSecondsFromPosition(int p) {
    return static_cast<float>(double{NegatedPosition(p)} / double{kSongScale});
}

// 20 log10(-p / 32768) with a float rounding after each step. Position 0 gives -inf, a
// positive position the logarithm of a negative number: NaN.
float GapLevelFromPosition(int p) {
    const float ratio = static_cast<float>(double{NegatedPosition(p)} / kLevelScale);
    const float log = static_cast<float>(std::log10(double{ratio}));
    return static_cast<float>(20.0 * double{log});
}

// Truncation toward zero that saturates at the int32 range and maps NaN to 0: values left out
// of range by a failed setter must not make a conversion undefined.
int32_t SaturatingTrunc(double v) {
    if (std::isnan(v)) return 0;
    constexpr double kMax = std::numeric_limits<int32_t>::max();
    constexpr double kMin = std::numeric_limits<int32_t>::min();
    if (v >= kMax) return std::numeric_limits<int32_t>::max();
    if (v <= kMin) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

// Fails when v is below low, else when it is above high; NaN fails as well, which the
// plain two comparisons would let through.
bool InRange(float v, double low, double high) { return double{v} >= low && double{v} <= high; }

std::string Printf(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string PrintSeconds(int32_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%2d secs", static_cast<int>(seconds));
    return text;
}

}  // namespace

float ValueFromPosition(RecSetting setting, int p) {
    switch (setting) {
        case RecSetting::GapSize:
            return GapSizeFromPosition(p);
        case RecSetting::GapLevel:
            return GapLevelFromPosition(p);
        default:
            return SongSecondsFromPosition(p);
    }
}

int32_t PositionFromValue(RecSetting setting, float v) {
    switch (setting) {
        case RecSetting::GapSize:
            // The product of two floats is exact in double; it is truncated without rounding
            // to float.
            return SaturatingTrunc(double{v} * -kGapSizeScale);
        case RecSetting::GapLevel: {
            const float exponent = v / 20.0f;
            const float amplitude = static_cast<float>(std::pow(10.0, double{exponent}));
            return SaturatingTrunc(double{amplitude} * -kLevelScale);
        }
        default:
            return SaturatingTrunc(double{v} * -double{kSongScale});
    }
}

double PositionMagnitude(RecSetting setting, double value) {
    switch (setting) {
        case RecSetting::GapSize:
            return value * kGapSizeScale;
        case RecSetting::GapLevel:
            return std::pow(10.0, value / 20.0) * kLevelScale;
        default:
            return value * double{kSongScale};
    }
}

bool IsAcceptedValue(RecSetting setting, float v) {
    switch (setting) {
        case RecSetting::GapSize:
            return InRange(v, 0.01, 5.0);
        case RecSetting::GapLevel:
            return InRange(v, -144.0, -6.0);
        case RecSetting::MinSongSize:
            return InRange(v, 1.0, 200.0);
        default:
            // 30 s has no exact position on the 176.4 scale: the top of the trackbar, labelled
            // "30 secs", is 30.0000019 s. The bound is that position's value, so every position
            // the trackbar offers passes and the next one up (30.0057 s) still fails.
            return InRange(v, 1.0, SongSecondsFromPosition(kEndSizeTrackbar.nLowest));
    }
}

const char* RangeMessage(RecSetting setting) {
    switch (setting) {
        case RecSetting::GapSize:
            return "Gap size is not between 0.01 and 5 seconds.\n";
        case RecSetting::GapLevel:
            return "Gap level is not between -6 and -144 dB.\n";
        case RecSetting::MinSongSize:
            return "Minimum song size is not between 1 and 200 seconds.\n";
        default:
            return "End gap is not between 1 and 30 seconds.\n";
    }
}

int32_t CSignalAnalyzer::TruncToInt32(double v) { return SaturatingTrunc(v); }

void CSignalAnalyzer::SetPosition(float& value, RecSetting setting, int p) {
    m_error.Clear();
    value = ValueFromPosition(setting, p);
    if (!IsAcceptedValue(setting, value)) m_error.Fail("%s", RangeMessage(setting));
}

void CSignalAnalyzer::SetGapSizePosition(int p) { SetPosition(m_fGapSize, RecSetting::GapSize, p); }

int CSignalAnalyzer::GetGapSizePosition() {
    m_error.Clear();
    return PositionFromValue(RecSetting::GapSize, m_fGapSize);
}

void CSignalAnalyzer::SetGapLevelPosition(int p) {
    SetPosition(m_fGapLevel, RecSetting::GapLevel, p);
}

int CSignalAnalyzer::GetGapLevelPosition() {
    m_error.Clear();
    return PositionFromValue(RecSetting::GapLevel, m_fGapLevel);
}

void CSignalAnalyzer::SetMinSongSizePosition(int p) {
    SetPosition(m_fMinSongSize, RecSetting::MinSongSize, p);
}

int CSignalAnalyzer::GetMinSongSizePosition() {
    m_error.Clear();
    return PositionFromValue(RecSetting::MinSongSize, m_fMinSongSize);
}

void CSignalAnalyzer::SetEndSizePosition(int p) { SetPosition(m_fEndGap, RecSetting::EndSize, p); }

int CSignalAnalyzer::GetEndSizePosition() {
    m_error.Clear();
    return PositionFromValue(RecSetting::EndSize, m_fEndGap);
}

void CSignalAnalyzer::SetDCBlock(int b) {
    m_error.Clear();
    m_bDCBlock = b != 0 ? 1 : 0;
}

int CSignalAnalyzer::GetDCBlock() {
    m_error.Clear();
    return m_bDCBlock;
}

void CSignalAnalyzer::SetIgnoreClicks(int b) {
    m_error.Clear();
    m_bIgnoreClicks = b != 0 ? 1 : 0;
}

int CSignalAnalyzer::GetIgnoreClicks() {
    m_error.Clear();
    return m_bIgnoreClicks;
}

void CSignalAnalyzer::SetSamplesPerSec(uint32_t n) {
    m_error.Clear();
    m_nSamplesPerSec = static_cast<int32_t>(n);
}

uint32_t CSignalAnalyzer::GetSamplesPerSec() {
    m_error.Clear();
    return static_cast<uint32_t>(m_nSamplesPerSec);
}

void CSignalAnalyzer::SetBitsPerSample(uint16_t n) {
    m_error.Clear();
    m_wBitsPerSample = n;
}

uint16_t CSignalAnalyzer::GetBitsPerSample() {
    m_error.Clear();
    return m_wBitsPerSample;
}

void CSignalAnalyzer::SetChannels(uint16_t n) {
    m_error.Clear();
    m_wChannels = n;
}

uint16_t CSignalAnalyzer::GetChannels() {
    m_error.Clear();
    return m_wChannels;
}

std::string CSignalAnalyzer::FormatGapSize(int p) {
    return Printf("%1.2f secs", GapSizeFromPosition(p));
}

std::string CSignalAnalyzer::FormatGapLevel(int p) {
    return Printf("%2.1f dB", GapLevelFromPosition(p));
}

std::string CSignalAnalyzer::FormatMinSongSize(int p) {
    return PrintSeconds(SaturatingTrunc(SongSecondsFromPosition(p)));
}

std::string CSignalAnalyzer::FormatEndSize(int p) { return FormatMinSongSize(p); }

int NearestAcceptedPosition(RecSetting setting, double value) {
    const double ideal = PositionMagnitude(setting, value);
    if (!std::isfinite(ideal) || ideal > 1e9) return 0;
    const long centre = std::lround(ideal);
    int best = 0;
    double bestDistance = 0;
    for (long d = 0; d <= 3; ++d) {
        for (long p : {centre - d, centre + d}) {
            if (p < 1) continue;
            const float held = ValueFromPosition(setting, static_cast<int>(-p));
            if (!IsAcceptedValue(setting, held)) continue;
            const double distance = std::fabs(double{held} - value);
            if (best == 0 || distance < bestDistance) {
                best = static_cast<int>(p);
                bestDistance = distance;
            }
        }
        if (best != 0) break;
    }
    // Below the lowest level a position holds, the lowest one stands for it.
    if (best == 0 && setting == RecSetting::GapLevel && ideal < 1.0) best = 1;
    return best;
}
