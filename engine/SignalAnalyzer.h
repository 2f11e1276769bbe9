// Looks at every captured block exactly once, in place, before it is written: DC blocking,
// clamping and clip counting, peak and power per channel, the optional Smart Gap low-pass and
// the gap / end-gap detector that finds song boundaries. Also carries the recording parameters
// (the parameter block) with their trackbar-position scales and validation.
//
// Owned by the main window (one for the program's run) and by the Custom Settings dialog (one
// for its labels). ProcessBlock runs on the recording thread under the recording lock; the
// setters, PrepareRecording and IsShortFile on the user-interface thread while no recording runs;
// the readouts are read by the user-interface thread under the recording lock.
#pragma once

#include <cstdint>
#include <string>

#include "BiquadFilter.h"
#include "ErrorState.h"

class CSignalAnalyzer {
public:
    CSignalAnalyzer();
    virtual ~CSignalAnalyzer() = default;

    // Converts the parameters to sample counts and clears the detector (not the filters).
    void PrepareRecording();

    // Analyses one block of interleaved samples in place (16-bit or float by bits per sample).
    // Only ever sets *gapFound and *endGapReached to 1; *splitOffset (bytes) is written only
    // together with *gapFound. Clearing the flags is the caller's job.
    void ProcessBlock(void* data, long byteCount, int* gapFound, long* splitOffset,
                      int* endGapReached);

    // True when byteCount is shorter than End Gap of stereo audio in bytes.
    bool IsShortFile(long byteCount);

    // Parameter block: positions are the (negative) trackbar positions of RecSettings.
    void SetGapSizePosition(int p);
    int GetGapSizePosition();
    void SetGapLevelPosition(int p);
    int GetGapLevelPosition();
    void SetMinSongSizePosition(int p);
    int GetMinSongSizePosition();
    void SetEndSizePosition(int p);
    int GetEndSizePosition();
    void SetDCBlock(int b);
    int GetDCBlock();
    void SetIgnoreClicks(int b);
    int GetIgnoreClicks();
    void SetSamplesPerSec(uint32_t n);
    uint32_t GetSamplesPerSec();
    void SetBitsPerSample(uint16_t n);
    uint16_t GetBitsPerSample();
    void SetChannels(uint16_t n);
    uint16_t GetChannels();

    // Label texts shown beside the trackbars; they depend on p alone.
    static std::string FormatGapSize(int p);
    static std::string FormatGapLevel(int p);
    static std::string FormatMinSongSize(int p);
    static std::string FormatEndSize(int p);

    int GetErrorFlag() const { return m_error.Flag(); }
    const char* GetErrorText() const { return m_error.Text(); }

    // Physical values of the parameter block (seconds, dB), for tests and the splitter.
    float GetGapSize() const { return m_fGapSize; }
    float GetGapLevel() const { return m_fGapLevel; }
    float GetMinSongSize() const { return m_fMinSongSize; }
    float GetEndGap() const { return m_fEndGap; }

    // Readouts of the last block, per channel (0 left, 1 right): 1.0 is full scale.
    float m_fPeak[2] = {0, 0};
    float m_fPower[2] = {0, 0};
    int32_t m_nClipCount[2] = {0, 0};

    // Thresholds as PrepareRecording computed them, in interleaved samples.
    int32_t m_nGapSamples = 0;
    int32_t m_nMinSongSamples = 0;
    int32_t m_nEndGapSamples = 0;
    float m_fLinearGapLevel = 0;

    CBiquadFilter m_filter[2];  // 0 left, 1 right

private:
    float m_fGapSize = 1.0f;
    float m_fGapLevel = -35.0f;
    float m_fMinSongSize = 30.01f;
    float m_fEndGap = 7.01f;
    int m_bDCBlock = 1;
    int m_bIgnoreClicks = 1;
    uint16_t m_wBitsPerSample = 16;
    uint16_t m_wChannels = 2;
    int32_t m_nSamplesPerSec = 44100;

    float m_fDCCoefficient;  // R, pole of the DC blocker
    float m_fDCPrevOutput[2] = {0, 0};
    float m_fDCPrevInput[2] = {0, 0};
    int32_t m_nLastLoudIndex = 0;   // relative to the start of the current block
    int32_t m_nLastSplitIndex = 0;  // relative to the start of the current block
    float m_fClipLimit = 32767.0f;

    CErrorState m_error;
};
