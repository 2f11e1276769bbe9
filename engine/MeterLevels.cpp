#include "engine/MeterLevels.h"

#include <algorithm>
#include <cmath>

#include "engine/SignalAnalyzer.h"

namespace {

// The source the LED meters read from. The mutex is held across each read, so that clearing
// the source (or destroying it) returns only once no read of it is in progress.
std::mutex g_meterSourceMutex;
IMeterLevelSource* g_pMeterSource = nullptr;  // under g_meterSourceMutex

}  // namespace

// A readout in whole dB, truncated toward zero. NaN (float input holding NaN) counts as the
// readouts' floor and the result is held to a range the meters can take, so that the
// conversion stays defined whatever the input held.
int32_t MeterDecibels(float magnitude) {
    if (std::isnan(magnitude)) magnitude = CSignalAnalyzer::kReadoutFloor;
    const float db = 20.0f * std::log10(magnitude);
    return static_cast<int32_t>(std::trunc(std::clamp(db, -1000.0f, 1000.0f)));
}

void CMeterLevels::Deposit(const float peak[2], const float power[2], const int32_t clips[2]) {
    int32_t peakDb[2];
    int32_t powerDb[2];
    for (int ch = 0; ch < 2; ++ch) {
        peakDb[ch] = MeterDecibels(peak[ch]);
        const float p = power[ch];
        powerDb[ch] = MeterDecibels(std::sqrt(std::isnan(p) ? CSignalAnalyzer::kReadoutFloor : p));
    }
    std::lock_guard<std::mutex> guard(m_mutex);
    for (int ch = 0; ch < 2; ++ch) {
        m_nClips[ch] = clips[ch];
        if (m_bTaken[ch]) {
            m_nPeak[ch] = peakDb[ch];
            m_nPower[ch] = powerDb[ch];
        } else {
            m_nPeak[ch] = std::max(m_nPeak[ch], peakDb[ch]);
            m_nPower[ch] = std::max(m_nPower[ch], powerDb[ch]);
        }
    }
}

void CMeterLevels::Read(int channel, int* power, int* peak, int* clips) {
    const int ch = channel == 0 ? 0 : 1;
    std::lock_guard<std::mutex> guard(m_mutex);
    *power = m_nPower[ch];
    *peak = m_nPeak[ch];
    *clips = m_nClips[ch];
    m_bTaken[ch] = 1;
}

void CMeterLevels::Clear() {
    std::lock_guard<std::mutex> guard(m_mutex);
    for (int ch = 0; ch < 2; ++ch) {
        m_nPeak[ch] = -100;
        m_nPower[ch] = -100;
        m_nClips[ch] = 0;
        m_bTaken[ch] = 0;
    }
}

void SetMeterLevelSource(IMeterLevelSource* source) {
    std::lock_guard<std::mutex> guard(g_meterSourceMutex);
    g_pMeterSource = source;
}

void ForgetMeterLevelSource(IMeterLevelSource* source) {
    std::lock_guard<std::mutex> guard(g_meterSourceMutex);
    if (g_pMeterSource == source) g_pMeterSource = nullptr;
}

void GetMeterLevels(int channel, int* power, int* peak, int* clips) {
    std::lock_guard<std::mutex> guard(g_meterSourceMutex);
    if (!g_pMeterSource) {
        *power = -100;
        *peak = -100;
        *clips = 0;
        return;
    }
    g_pMeterSource->GetMeterLevels(channel, power, peak, clips);
}
