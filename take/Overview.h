// The peak envelope of a whole side, for drawing it: per channel, the lowest and highest sample
// of every bin of FramesPerBin() frames (a hundredth of a second, rounded down), computed once on
// background threads from a frame reader. GetColumns draws any frame range at any width from the
// bins, or, zoomed in past a bin per column, from the samples themselves.
//
// Samples are given as fractions of full scale: a 16-bit sample s is s / 32768 (exact in a
// float), a float sample is itself. NaN samples are left out.
//
// Threads: ComputeOverview returns at once; its workers call the reader (from two threads at
// once when it is asked to use two), the progress function and the done function. The finished
// COverview never changes and may be read from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/WaveFormat.h"

// Fills dst with up to `count` frames starting at frame `first`, interleaved in the side's
// format; returns the frames given (fewer only at the end, or when the read failed).
using FrameReader = std::function<size_t(uint64_t first, size_t count, void* dst)>;

// The lowest and highest sample of a stretch, as fractions of full scale. An empty stretch (or
// one of NaN samples only) is {0, 0}.
struct PeakPair {
    float fMin = 0;
    float fMax = 0;
};

class COverview {
public:
    COverview(const WAVEFORMATEX& format, uint64_t totalFrames);

    const WAVEFORMATEX& Format() const { return m_format; }
    uint64_t TotalFrames() const { return m_nTotalFrames; }
    int Channels() const { return m_nChannels; }
    uint32_t FramesPerBin() const { return m_nFramesPerBin; }
    size_t BinCount() const { return m_nBins; }
    // Bin `bin` of channel `channel`: frames [bin * FramesPerBin(), (bin + 1) * FramesPerBin()),
    // the last one shorter.
    PeakPair Bin(size_t bin, int channel) const { return m_bins[bin * m_nChannels + channel]; }

    // The envelope of frames [first, last) in `width` columns, column c covering frames
    // [first + c * n / width, first + (c + 1) * n / width) with n = last - first (rounded down;
    // zoomed in past a frame per column, the one frame it lies on); stored as
    // out[c * Channels() + channel], or mixed (the lowest and highest of the channels) as out[c].
    // Columns of a bin or more, or without a reader, are the union of the bins they touch: the
    // peaks may reach at most a bin past a column's edges, and nothing in it is ever missed.
    // Columns narrower than a bin (n < width * FramesPerBin()) are read from the samples through
    // the reader when one is given, exactly. Columns past the side's end (or past where the
    // reader stopped) are {0, 0}. The caller's thread; reads the disk only through the reader.
    void GetColumns(uint64_t first, uint64_t last, int width, std::vector<PeakPair>* out,
                    bool mixed = false, const FrameReader* reader = nullptr) const;

    // Is the format one this can draw (16-bit PCM or 32-bit float, 1 or 2 channels)?
    static bool Supports(const WAVEFORMATEX& format);
    // The peaks of `frames` whole frames of interleaved samples in the side's format, per
    // channel, into peaks[0..Channels()); {0, 0} for none.
    void Peaks(const void* samples, size_t frames, PeakPair* peaks) const;
    // For the workers: the bins [firstBin, firstBin + count) from their samples, which start at
    // the first bin's first frame. Each worker fills bins of its own.
    void FillBins(size_t firstBin, size_t count, const void* samples);

private:
    WAVEFORMATEX m_format;
    uint64_t m_nTotalFrames;
    int m_nChannels;
    uint32_t m_nFramesPerBin;
    size_t m_nBins;
    std::vector<PeakPair> m_bins;  // bin-major, channel-minor
};

enum class OverviewOutcome {
    Running,
    Done,       // the whole side is in
    Cancelled,  // Cancel was called first
    Failed,     // the reader gave fewer frames than the side holds, or the format is not one
                // of 16-bit PCM and 32-bit float; Failure() says which
};

struct OverviewOptions {
    // Worker threads reading at once (the reader must allow that when more than 1); 0: as many
    // as the machine has cores, at most 2.
    int nThreads = 0;
    // Called on a worker thread about every 1 % of the side and once at 100 %, never after the
    // done function. May be empty.
    std::function<void(uint64_t done, uint64_t total)> onProgress;
    // Called once on a worker thread when the computation ends (Done, Cancelled or Failed). May
    // be empty.
    std::function<void(OverviewOutcome)> onDone;
};

// One computation of an overview. Destroying it cancels it and waits for its workers.
class COverviewTask {
public:
    ~COverviewTask();

    // Frames read so far, out of TotalFrames(). Any thread, never blocks.
    uint64_t FramesDone() const { return m_nDone.load(std::memory_order_relaxed); }
    uint64_t TotalFrames() const { return m_nTotal; }
    OverviewOutcome Outcome() const { return m_outcome.load(std::memory_order_acquire); }
    // Asks the workers to stop; they stop after the read in progress. Any thread.
    void Cancel() { m_bCancel.store(true, std::memory_order_relaxed); }
    // Waits for the workers to finish and returns the outcome. Not from a done function.
    OverviewOutcome Wait();
    // The finished overview when the outcome is Done, else null. Any thread.
    std::shared_ptr<const COverview> Result() const;
    // Why it failed. Once finished.
    const std::string& Failure() const { return m_szFailure; }

private:
    friend std::unique_ptr<COverviewTask> ComputeOverview(FrameReader, const WAVEFORMATEX&,
                                                          uint64_t, OverviewOptions);
    COverviewTask() = default;
    void Run(FrameReader reader, int threads);
    bool Work(const FrameReader& reader, size_t firstBin, size_t endBin, bool reports);

    std::shared_ptr<COverview> m_overview;
    uint64_t m_nTotal = 0;
    std::atomic<uint64_t> m_nDone{0};
    std::atomic<bool> m_bCancel{false};
    std::atomic<OverviewOutcome> m_outcome{OverviewOutcome::Running};
    std::string m_szFailure;
    std::function<void(uint64_t done, uint64_t total)> m_onProgress;
    std::function<void(OverviewOutcome)> m_onDone;
    uint64_t m_nReported = 0;  // the progress last reported, frames
    std::thread m_thread;
};

// Starts computing the overview of the side's first totalFrames frames, read through reader in
// the given format. Returns at once.
std::unique_ptr<COverviewTask> ComputeOverview(FrameReader reader, const WAVEFORMATEX& format,
                                               uint64_t totalFrames, OverviewOptions options = {});
