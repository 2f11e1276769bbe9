// The gap detector as the splitter's listing, probe and song-count modes see it: an observer
// of the recording's own analyser that takes the magnitude of every sample exactly as the gap
// test compared it with the gap level (after Smart Gap's low-pass when it is on). From them it
// keeps the quiet stretches (runs of samples at or below the gap level), where the analyser
// split and ended, and the loudest level of every 10 ms, from which the quietest passages of
// any length are found afterwards.
//
// Positions are in the analyser's interleaved samples since PrepareRecording. Attached on the
// splitter's main thread; LevelBuffer and OnBlockAnalysed run on whichever thread calls
// ProcessBlock; read after that thread has ended and Finish has been called. The levels are
// followed on a thread of the view's own, a few blocks behind the analyser, so that the
// analysis of the next block overlaps it. Memory: four blocks' levels, 4 bytes per 10 ms of
// audio, and one record per quiet stretch of Gap Size or more.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/AnalysisObserver.h"

class CSignalAnalyzer;

struct QuietStretch {
    int64_t nStart = 0;   // first quiet sample
    int64_t nLength = 0;  // samples
    float fQuietest = 0;  // levels, in sample units of the analyser
    float fLoudest = 0;
};

// A passage found on the 10 ms grid: where it starts and its loudest level.
struct Passage {
    int64_t nStart = -1;  // samples; -1: none
    float fLevel = 0;
};

// Decibels relative to full scale of a level in sample units (16-bit: out of 32768; float: out
// of 1.0), floored at -100.
double LevelDecibels(float level, bool int16);

class CDetectorView final : public IAnalysisObserver {
public:
    // Reads the thresholds of the analyser, which must have been prepared already;
    // samplesPerSecond: detector samples per second of audio (rate x 2 whatever the channel
    // count: the detector counts a mono sample twice). Without
    // levels it notes only where the analyser split and ended, at no cost per sample.
    CDetectorView(const CSignalAnalyzer& analyser, int64_t samplesPerSecond, bool int16,
                  bool levels);
    ~CDetectorView() override;
    CDetectorView(const CDetectorView&) = delete;
    CDetectorView& operator=(const CDetectorView&) = delete;

    float* LevelBuffer(long samples) override;
    void OnBlockAnalysed(const AnalysedBlock& block) override;
    // Waits for the levels handed on so far and ends a quiet stretch still open at the end of
    // the input.
    void Finish();

    // Quiet stretches of at least Gap Size, in order.
    const std::vector<QuietStretch>& GetGaps() const { return m_gaps; }
    // Byte offsets (from the first sample) where the analyser reported a split.
    const std::vector<uint64_t>& GetSplitBytes() const { return m_splitBytes; }
    // Sample at whose block the analyser reported End Gap, -1 when it did not.
    int64_t GetEndGapSample() const { return m_nEndGapSample; }
    int64_t GetSamples() const { return m_nSamples; }
    // The longest quiet stretch shorter than Gap Size that ends after Minimum Song Size (it may
    // start before); nLength 0 when there is none.
    const QuietStretch& GetLongestShort() const { return m_longestShort; }
    // The quietest passage of `length` samples starting at or after `from`, on the 10 ms grid
    // (its level is the loudest of the whole grid cells it covers, so never lower than the
    // exact one).
    // Passages that overlap one of `skip` are left out.
    Passage QuietestPassage(int64_t length, int64_t from,
                            const std::vector<QuietStretch>& skip = {}) const;

    // Decibels relative to full scale of a level in sample units (floored at -100).
    double Decibels(float level) const;
    int64_t GetGridSamples() const { return m_nGrid; }
    int64_t GetGapSamples() const { return m_nGapSamples; }
    int64_t GetMinSongSamples() const { return m_nMinSongSamples; }
    float GetLinearGapLevel() const { return m_fLevel; }
    const std::vector<float>& GetGrid() const { return m_grid; }

private:
    static constexpr uint64_t kBuffers = 4;
    struct Handed {
        long nSamples = 0;
        int64_t nFirst = 0;  // sample index of the block's first level
    };

    // The view's thread: follows the stretches and the grid through one block's levels.
    void Follow(const float* levels, long n, int64_t first);
    void FollowerMain();
    // Lets the view's thread follow what it was handed, and ends it.
    void StopFollower();
    void EndRun(int64_t end);

    float m_fLevel;  // linear gap level
    int64_t m_nGapSamples;
    int64_t m_nMinSongSamples;
    bool m_bInt16;
    bool m_bLevels;
    int64_t m_nGrid;  // samples per grid cell (10 ms)
    // Analysing thread: the buffer of block m_nHanded % kBuffers is filled; the view's thread
    // reads those of blocks m_nFollowed to m_nHanded - 1.
    std::vector<float> m_buffers[kBuffers];
    Handed m_handed[kBuffers];
    std::mutex m_mutex;
    std::condition_variable m_changed;
    uint64_t m_nHanded = 0;    // under m_mutex; written by the analysing thread
    uint64_t m_nFollowed = 0;  // under m_mutex; written by the view's thread
    bool m_bStop = false;      // under m_mutex
    std::thread m_follower;
    // From here on written by the view's thread alone while it runs.
    std::vector<float> m_grid;  // loudest level of each cell
    float m_fCell = 0;          // loudest so far of the cell being filled
    int64_t m_nCellLeft;        // samples still to come into it
    int64_t m_nSamples = 0;     // samples seen (the analysing thread's)
    // The quiet stretch being followed: it starts after the last loud sample (the analyser
    // counts as if a loud sample stood just before the first).
    int64_t m_nLastLoud = 0;
    float m_fRunMin = 0;
    float m_fRunMax = 0;
    bool m_bInRun = false;
    std::vector<QuietStretch> m_gaps;
    QuietStretch m_longestShort;
    std::vector<uint64_t> m_splitBytes;
    int64_t m_nEndGapSample = -1;
    uint64_t m_nBytes = 0;  // bytes of the blocks seen
};
