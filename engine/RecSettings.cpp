#include "engine/RecSettings.h"

#include <cstdio>

#include "engine/SignalAnalyzer.h"

namespace {

struct PositionField {
    RecSetting setting;
    int32_t RecSettings::*pField;
    void (CSignalAnalyzer::*set)(int);
};

constexpr PositionField kPositionFields[] = {
    {RecSetting::GapSize, &RecSettings::nGapSize, &CSignalAnalyzer::SetGapSizePosition},
    {RecSetting::GapLevel, &RecSettings::nGapLevel, &CSignalAnalyzer::SetGapLevelPosition},
    {RecSetting::MinSongSize, &RecSettings::nMinSongSize, &CSignalAnalyzer::SetMinSongSizePosition},
    {RecSetting::EndSize, &RecSettings::nEndSize, &CSignalAnalyzer::SetEndSizePosition},
};

bool IsRecorderRate(uint32_t rate) {
    return rate == 11025 || rate == 22050 || rate == 44100 || rate == 48000;
}

}  // namespace

void ApplyDetectionSettings(RecSettings& settings, CSignalAnalyzer& analyser,
                            const OnRejectedSetting& onRejected) {
    const RecSettings defaults;
    for (const PositionField& field : kPositionFields) {
        (analyser.*field.set)(settings.*field.pField);
        // The flag is read right after the setter: the next call clears it.
        if (!analyser.GetErrorFlag()) continue;
        if (onRejected) onRejected(field.setting, analyser.GetErrorText());
        settings.*field.pField = defaults.*field.pField;
        (analyser.*field.set)(settings.*field.pField);
    }
    analyser.SetDCBlock(settings.bDCBlock);
    analyser.SetIgnoreClicks(settings.bIgnoreClicks);
}

void ApplySettings(RecSettings& settings, CSignalAnalyzer& analyser,
                   const OnRejectedSetting& onRejected) {
    ApplyDetectionSettings(settings, analyser, onRejected);
    analyser.SetBitsPerSample(settings.wBitsPerSample);
    analyser.SetSamplesPerSec(settings.nSamplesPerSec);
    analyser.SetChannels(settings.wChannels);
}

std::optional<RecSetting> FindUnsupportedFormat(const RecSettings& settings, bool anyRate) {
    const uint32_t rate = settings.nSamplesPerSec;
    if (anyRate ? rate == 0 || rate > kMaxAnyRate : !IsRecorderRate(rate)) {
        return RecSetting::SamplesPerSec;
    }
    if (settings.wBitsPerSample != 16 && settings.wBitsPerSample != 32) {
        return RecSetting::BitsPerSample;
    }
    if (settings.wChannels != 1 && settings.wChannels != 2) return RecSetting::Channels;
    return std::nullopt;
}
