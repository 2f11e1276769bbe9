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

#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include "audio/ErrorState.h"
#include "engine/AnalysisObserver.h"
#include "engine/BiquadFilter.h"
#include "engine/RecSettings.h"

// What the gap detector found in one block.
struct BlockVerdict {
    bool gapFound = false;
    // Bytes into this block where the next song begins: the start of the stereo frame in which
    // the gap became complete. 0 unless gapFound.
    long splitOffset = 0;
    bool endGapReached = false;
    bool operator==(const BlockVerdict&) const = default;
};

class CSignalAnalyzer {
public:
    CSignalAnalyzer();
    virtual ~CSignalAnalyzer() = default;

    // Converts the parameters to sample counts and clears the detector (not the filters).
    void PrepareRecording();

    // Analyses one block of samples in place (16-bit or float by bits per sample). Stereo
    // samples alternate left/right; mono samples run through the left channel's chain, count
    // as the two samples of a stereo frame for the detector, and their readouts show on both
    // channels. Any channel count but 1 is treated as stereo. Returns what this block alone
    // reported; with several splits in one block the last one wins. A count of 0 or less
    // changes nothing but the readouts. No allocation, no I/O.
    BlockVerdict ProcessBlock(void* data, long byteCount);

    // True when byteCount is shorter than End Gap of audio in bytes (a stereo frame is 4 bytes
    // for 16-bit blocks and 8 for float; a mono frame half that).
    bool IsShortFile(long byteCount);

    // The pieces at the end of the recording that hold nothing above Gap Level: the splits
    // reported since the last sample above it (0 when one came after the last split). They are
    // run-out (or the silence before the end), no songs, and a recording or a split need not
    // keep them. The piece before the first split is the recording itself and never counts.
    int TrailingRunOutPieces() const {
        return m_nLastLoudIndex <= m_nLastSplitIndex ? m_nRunOutSplits : 0;
    }
    // The frame (from the first one since PrepareRecording) at which the first of those pieces
    // begins, where its file's first byte went; -1 when there are none.
    int64_t TrailingRunOutFrame() const {
        return TrailingRunOutPieces() > 0 ? (m_nSamplesCounted + m_nRunOutStartIndex) / 2 : -1;
    }

    // Whether anything since PrepareRecording rose above Gap Level. (A loud very first sample
    // alone does not count: it leaves the last loud index where the start put it.)
    bool HeardAboveGapLevel() const { return m_bHeardLoud; }

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

    // Offline tools only: the observer told about every block from now on (null: none). Not
    // while a recording runs; the observer must outlive its use.
    void SetObserver(IAnalysisObserver* observer) { m_pObserver = observer; }

    // Label texts shown beside the trackbars; they depend on p alone.
    static std::string FormatGapSize(int p);
    static std::string FormatGapLevel(int p);
    static std::string FormatMinSongSize(int p);
    static std::string FormatEndSize(int p);

    int GetErrorFlag() const { return m_error.Flag(); }
    const char* GetErrorText() const { return m_error.Text(); }

    // Physical values of the parameter block (seconds, dBFS), for tests and the splitter. Unlike
    // the position getters these leave the error flag alone. A rejected value stays stored.
    float GetGapSize() const { return m_fGapSize; }
    float GetGapLevel() const { return m_fGapLevel; }
    float GetMinSongSize() const { return m_fMinSongSize; }
    float GetEndGap() const { return m_fEndGap; }

    // Floor of the readouts, so that a silent block still has a finite level in dB.
    static constexpr float kReadoutFloor = 1.0e-12f;

    // Readouts of the last block, per channel (0 left, 1 right): peak magnitude with 1.0 full
    // scale, power (mean square over 49.9849, 16.99 dB below it), clipped samples. Floor 1e-12.
    float m_fPeak[2] = {0, 0};
    float m_fPower[2] = {0, 0};
    int32_t m_nClipCount[2] = {0, 0};
    // Clipped samples of the last block, each sample counted once whatever the channel count.
    int32_t ClippedSamples() const {
        return m_nClipCount[0] + (m_wChannels == 1 ? 0 : m_nClipCount[1]);
    }

    // Thresholds as PrepareRecording computed them, in interleaved samples (two per stereo
    // frame), and the gap level in sample units (16-bit: out of 32768; float: out of 1.0).
    int32_t m_nGapSamples = 0;
    int32_t m_nMinSongSamples = 0;
    int32_t m_nEndGapSamples = 0;
    float m_fLinearGapLevel = 0;

    CBiquadFilter m_filter[2];  // 0 left, 1 right

private:
    // kMono: one channel chain over every sample. kLevels: store each detector sample's
    // magnitude in m_pLevels (an observer's buffer).
    template <bool kInt16, bool kDCBlock, bool kSmartGap, bool kMono, bool kLevels>
    BlockVerdict AnalyseSamples(void* data, long n);
    using Loop = BlockVerdict (CSignalAnalyzer::*)(void*, long);
    template <size_t... kVariant>
    static constexpr std::array<Loop, sizeof...(kVariant)> MakeLoops(
        std::index_sequence<kVariant...>);
    static const std::array<Loop, 32> kLoops;

    // Truncation toward zero that saturates at the int32 range and maps NaN to 0: values left
    // out of range by a failed setter must not make a conversion undefined.
    static int32_t TruncToInt32(double v);
    // Stores the value of position p in `value` and checks it against its accepted range.
    void SetPosition(float& value, RecSetting setting, int p);

    float m_fGapSize = 1.0f;        // seconds
    float m_fGapLevel = -35.0f;     // dBFS
    float m_fMinSongSize = 30.01f;  // seconds
    float m_fEndGap = 7.01f;        // seconds
    int m_bDCBlock = 1;
    int m_bIgnoreClicks = 1;         // Smart Gap
    uint16_t m_wBitsPerSample = 16;  // 16: int16 blocks; anything else: float blocks
    uint16_t m_wChannels = 2;        // 1: mono blocks; any other count: interleaved stereo
    int32_t m_nSamplesPerSec = 44100;

    float m_fDCCoefficient;             // R, pole of the DC blocker, the same at every rate
    float m_fDCPrevOutput[2] = {0, 0};  // unclamped
    float m_fDCPrevInput[2] = {0, 0};
    // Interleaved-sample indices relative to the start of the current block. 64 bits because
    // they are rebased by every block: a long song without a split would take a 32-bit index
    // past its range after about six hours at 48000 per second.
    int64_t m_nLastLoudIndex = 0;
    int64_t m_nLastSplitIndex = 0;
    int m_nRunOutSplits = 0;          // splits reported since the last loud sample
    int64_t m_nRunOutStartIndex = 0;  // the first of them, relative like the two above
    int64_t m_nSamplesCounted = 0;    // interleaved samples since PrepareRecording
    bool m_bHeardLoud = false;
    float m_fClipLimit = 32767.0f;

    CErrorState m_error{"No error"};

    IAnalysisObserver* m_pObserver = nullptr;
    float* m_pLevels = nullptr;  // the observer's buffer during an observed block
};
