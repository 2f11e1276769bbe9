#include "RecSettings.h"

#include <cstdio>

#include "SignalAnalyzer.h"

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

std::string UnsupportedFormatText(RecSetting setting, const RecSettings& settings) {
    // Bits and channels have no control in Custom Settings: only a preset brings other values.
    char text[512];
    switch (setting) {
        case RecSetting::SamplesPerSec:
            std::snprintf(text, sizeof text,
                          "Cannot record with a Sampling Rate of %u samples per second.\n"
                          "Only 11025, 22050, 44100 and 48000 can be recorded.\n"
                          "Please choose a Sampling Rate in the Customize settings window.\n",
                          static_cast<unsigned>(settings.nSamplesPerSec));
            break;
        case RecSetting::BitsPerSample:
            std::snprintf(text, sizeof text,
                          "Cannot record with %u bits per sample.\n"
                          "Only 16 bit and 24 bit (32-bit floating-point) samples can be "
                          "recorded.\n"
                          "The setting comes from a preset or the saved settings: please choose "
                          "another preset.\n",
                          static_cast<unsigned>(settings.wBitsPerSample));
            break;
        default:
            std::snprintf(text, sizeof text,
                          "Cannot record with %u channels.\n"
                          "Only 1 channel (mono) and 2 channels (stereo) can be recorded.\n"
                          "The setting comes from a preset or the saved settings: please choose "
                          "another preset.\n",
                          static_cast<unsigned>(settings.wChannels));
            break;
    }
    return text;
}
