#include "take/Overview.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <limits>
#include <new>

namespace {

constexpr float kEmptyMin = std::numeric_limits<float>::infinity();
constexpr float kEmptyMax = -std::numeric_limits<float>::infinity();
// Bytes read at a time by a worker: large enough that a read costs little beside its samples.
constexpr size_t kReadBytes = 1 << 20;

// The lowest and highest of each channel, kept in the samples' own type so the inner loop
// is nothing but compares; a channel stays {max, lowest} when it saw nothing (all NaN).
template <typename T, int C>
void Scan(const T* s, size_t frames, T* lo, T* hi) {
    T l[C], h[C];
    for (int c = 0; c < C; ++c) {
        l[c] = lo[c];
        h[c] = hi[c];
    }
    for (size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < C; ++c) {
            const T v = s[i * C + c];
            // Written so that a NaN compares false both ways and is left out.
            l[c] = v < l[c] ? v : l[c];
            h[c] = v > h[c] ? v : h[c];
        }
    }
    for (int c = 0; c < C; ++c) {
        lo[c] = l[c];
        hi[c] = h[c];
    }
}

template <typename T, int C>
void PeaksOf(const void* samples, size_t frames, PeakPair* peaks) {
    T lo[C], hi[C];
    for (int c = 0; c < C; ++c) {
        if constexpr (std::numeric_limits<T>::is_integer) {
            lo[c] = std::numeric_limits<T>::max();
            hi[c] = std::numeric_limits<T>::min();
        } else {
            lo[c] = kEmptyMin;
            hi[c] = kEmptyMax;
        }
    }
    Scan<T, C>(static_cast<const T*>(samples), frames, lo, hi);
    for (int c = 0; c < C; ++c) {
        if (lo[c] > hi[c]) {
            peaks[c] = PeakPair{};
        } else if constexpr (std::numeric_limits<T>::is_integer) {
            peaks[c] = PeakPair{static_cast<float>(lo[c]) / 32768.0f,
                                static_cast<float>(hi[c]) / 32768.0f};
        } else {
            peaks[c] = PeakPair{lo[c], hi[c]};
        }
    }
}

using PeaksFn = void (*)(const void*, size_t, PeakPair*);

PeaksFn PeaksFor(const WAVEFORMATEX& format) {
    const bool stereo = format.nChannels == 2;
    if (format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
        return stereo ? &PeaksOf<float, 2> : &PeaksOf<float, 1>;
    }
    return stereo ? &PeaksOf<int16_t, 2> : &PeaksOf<int16_t, 1>;
}

}  // namespace

bool COverview::Supports(const WAVEFORMATEX& format) {
    const bool pcm16 = format.wFormatTag == WAVE_FORMAT_PCM && format.wBitsPerSample == 16;
    const bool float32 = format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && format.wBitsPerSample == 32;
    return (pcm16 || float32) && (format.nChannels == 1 || format.nChannels == 2) &&
           format.nBlockAlign == format.nChannels * format.wBitsPerSample / 8;
}

COverview::COverview(const WAVEFORMATEX& format, uint64_t totalFrames)
    : m_format(format),
      m_nTotalFrames(totalFrames),
      m_nChannels(std::max<int>(1, format.nChannels)),
      m_nFramesPerBin(std::max<uint32_t>(1, format.nSamplesPerSec / 100)),
      m_nBins(static_cast<size_t>((totalFrames + m_nFramesPerBin - 1) / m_nFramesPerBin)),
      m_bins(m_nBins * static_cast<size_t>(m_nChannels)) {}

void COverview::Peaks(const void* samples, size_t frames, PeakPair* peaks) const {
    PeaksFor(m_format)(samples, frames, peaks);
}

void COverview::FillBins(size_t firstBin, size_t count, const void* samples) {
    const PeaksFn peaks = PeaksFor(m_format);
    const auto* bytes = static_cast<const unsigned char*>(samples);
    const size_t binBytes = size_t{m_nFramesPerBin} * m_format.nBlockAlign;
    for (size_t i = 0; i < count; ++i) {
        const size_t bin = firstBin + i;
        const uint64_t start = uint64_t{bin} * m_nFramesPerBin;
        const size_t frames =
            static_cast<size_t>(std::min<uint64_t>(m_nFramesPerBin, m_nTotalFrames - start));
        peaks(bytes + i * binBytes, frames, &m_bins[bin * m_nChannels]);
    }
}

void COverview::GetColumns(uint64_t first, uint64_t last, int width, std::vector<PeakPair>* out,
                           bool mixed, const FrameReader* reader) const {
    const size_t columns = width > 0 ? static_cast<size_t>(width) : 0;
    const size_t stride = mixed ? 1 : static_cast<size_t>(m_nChannels);
    out->assign(columns * stride, PeakPair{});
    if (columns == 0 || last <= first) return;
    const uint64_t n = last - first;
    // Column c: frames [Edge(c), Edge(c + 1)), at least the one frame it lies on.
    // floor(n * c / columns) without overflow.
    const uint64_t whole = n / columns, part = n % columns;
    auto edge = [&](size_t c) { return first + whole * c + part * c / columns; };

    // Narrower than a bin per column: the samples themselves, read at once.
    const bool exact =
        reader && *reader && n < uint64_t{columns} * m_nFramesPerBin && first < m_nTotalFrames;
    std::vector<unsigned char> samples;
    uint64_t samplesEnd = first;  // frames [first, samplesEnd) were read
    if (exact) {
        const size_t frames = static_cast<size_t>(std::min(last, m_nTotalFrames) - first);
        samples.resize(frames * m_format.nBlockAlign);
        samplesEnd = first + std::min(frames, (*reader)(first, frames, samples.data()));
    }

    PeakPair peaks[2];
    for (size_t c = 0; c < columns; ++c) {
        const uint64_t a = edge(c);
        const uint64_t b = std::max(edge(c + 1), a + 1);
        PeakPair* column = &(*out)[c * stride];
        float lo[2] = {kEmptyMin, kEmptyMin}, hi[2] = {kEmptyMax, kEmptyMax};
        if (a >= m_nTotalFrames) continue;
        if (exact) {
            if (a >= samplesEnd) continue;
            Peaks(samples.data() + (a - first) * m_format.nBlockAlign,
                  static_cast<size_t>(std::min(b, samplesEnd) - a), peaks);
            for (int ch = 0; ch < m_nChannels; ++ch) {
                lo[ch] = peaks[ch].fMin;
                hi[ch] = peaks[ch].fMax;
            }
        } else {
            const size_t firstBin = static_cast<size_t>(a / m_nFramesPerBin);
            const size_t lastBin = static_cast<size_t>(std::min<uint64_t>(
                (std::min(b, m_nTotalFrames) - 1) / m_nFramesPerBin, m_nBins - 1));
            for (size_t bin = firstBin; bin <= lastBin; ++bin) {
                const PeakPair* p = &m_bins[bin * m_nChannels];
                for (int ch = 0; ch < m_nChannels; ++ch) {
                    lo[ch] = std::min(lo[ch], p[ch].fMin);
                    hi[ch] = std::max(hi[ch], p[ch].fMax);
                }
            }
        }
        if (mixed) {
            for (int ch = 1; ch < m_nChannels; ++ch) {
                lo[0] = std::min(lo[0], lo[ch]);
                hi[0] = std::max(hi[0], hi[ch]);
            }
        }
        for (size_t ch = 0; ch < stride; ++ch) {
            if (lo[ch] <= hi[ch]) column[ch] = PeakPair{lo[ch], hi[ch]};
        }
    }
}

COverviewTask::~COverviewTask() {
    Cancel();
    if (m_thread.joinable()) m_thread.join();
}

OverviewOutcome COverviewTask::Wait() {
    if (m_thread.joinable()) m_thread.join();
    return Outcome();
}

std::shared_ptr<const COverview> COverviewTask::Result() const {
    return Outcome() == OverviewOutcome::Done ? m_overview : nullptr;
}

bool COverviewTask::Work(const FrameReader& reader, size_t firstBin, size_t endBin, bool reports) {
    COverview& overview = *m_overview;
    const size_t frameBytes = overview.Format().nBlockAlign;
    const size_t binBytes = size_t{overview.FramesPerBin()} * frameBytes;
    const size_t binsPerRead = std::max<size_t>(1, kReadBytes / binBytes);
    std::unique_ptr<unsigned char[]> buffer(
        new (std::nothrow) unsigned char[binsPerRead * binBytes]);
    if (!buffer) return false;
    const uint64_t progressStep = std::max<uint64_t>(1, m_nTotal / 100);
    for (size_t bin = firstBin; bin < endBin; bin += binsPerRead) {
        if (m_bCancel.load(std::memory_order_relaxed)) return true;
        const size_t bins = std::min(binsPerRead, endBin - bin);
        const uint64_t start = uint64_t{bin} * overview.FramesPerBin();
        const size_t frames = static_cast<size_t>(
            std::min<uint64_t>(uint64_t{bins} * overview.FramesPerBin(), m_nTotal - start));
        const size_t got = reader(start, frames, buffer.get());
        if (got < frames) return false;
        overview.FillBins(bin, bins, buffer.get());
        const uint64_t done = m_nDone.fetch_add(frames, std::memory_order_relaxed) + frames;
        if (reports && m_onProgress && done - m_nReported >= progressStep && done < m_nTotal) {
            m_nReported = done;
            m_onProgress(done, m_nTotal);
        }
    }
    return true;
}

void COverviewTask::Run(FrameReader reader, int threads) {
    bool read = true;
    if (!COverview::Supports(m_overview->Format())) {
        m_szFailure =
            "Only 16-bit PCM and 32-bit float sides with one or two channels can be shown.";
        read = false;
    } else {
        const size_t bins = m_overview->BinCount();
        const size_t half = threads > 1 && bins > 1 ? bins / 2 : bins;
        bool secondRead = true;
        std::thread second;
        if (half < bins) {
            second = std::thread([&] { secondRead = Work(reader, half, bins, false); });
        }
        read = Work(reader, 0, half, true);
        if (second.joinable()) second.join();
        read = read && secondRead;
        if (!read) {
            char text[200];
            std::snprintf(text, sizeof text,
                          "The side could not be read to its end (%" PRIu64 " frames).", m_nTotal);
            m_szFailure = text;
        }
    }
    OverviewOutcome outcome = OverviewOutcome::Done;
    if (m_bCancel.load()) {
        outcome = OverviewOutcome::Cancelled;
    } else if (!read) {
        outcome = OverviewOutcome::Failed;
    } else if (m_onProgress) {
        m_onProgress(m_nTotal, m_nTotal);
    }
    m_outcome.store(outcome, std::memory_order_release);
    if (m_onDone) m_onDone(outcome);
}

std::unique_ptr<COverviewTask> ComputeOverview(FrameReader reader, const WAVEFORMATEX& format,
                                               uint64_t totalFrames, OverviewOptions options) {
    std::unique_ptr<COverviewTask> task(new COverviewTask);
    task->m_overview = std::make_shared<COverview>(format, totalFrames);
    task->m_nTotal = totalFrames;
    task->m_onProgress = std::move(options.onProgress);
    task->m_onDone = std::move(options.onDone);
    int threads = options.nThreads;
    if (threads <= 0) threads = std::min(2u, std::max(1u, std::thread::hardware_concurrency()));
    task->m_thread = std::thread(&COverviewTask::Run, task.get(), std::move(reader), threads);
    return task;
}
