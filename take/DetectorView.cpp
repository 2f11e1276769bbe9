#include "take/DetectorView.h"

#include <algorithm>
#include <cmath>
#include <deque>

#include "engine/SignalAnalyzer.h"

CDetectorView::CDetectorView(const CSignalAnalyzer& analyser, int64_t samplesPerSecond, bool int16,
                             bool levels)
    : m_fLevel(analyser.m_fLinearGapLevel),
      m_nGapSamples(analyser.m_nGapSamples),
      m_nMinSongSamples(analyser.m_nMinSongSamples),
      m_bInt16(int16),
      m_bLevels(levels),
      m_nGrid(std::max<int64_t>(1, samplesPerSecond / 100)),
      m_nCellLeft(m_nGrid) {}

CDetectorView::~CDetectorView() { StopFollower(); }

float* CDetectorView::LevelBuffer(long samples) {
    if (!m_bLevels) return nullptr;
    {
        // Wait for a buffer the view's thread has finished with.
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_nHanded - m_nFollowed < kBuffers; });
    }
    std::vector<float>& buffer = m_buffers[m_nHanded % kBuffers];
    if (buffer.size() < static_cast<size_t>(samples)) buffer.resize(static_cast<size_t>(samples));
    return buffer.data();
}

void CDetectorView::FollowerMain() {
    for (;;) {
        Handed block;
        const float* levels = nullptr;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this] { return m_bStop || m_nFollowed < m_nHanded; });
            if (m_nFollowed == m_nHanded) return;
            block = m_handed[m_nFollowed % kBuffers];
            levels = m_buffers[m_nFollowed % kBuffers].data();
        }
        Follow(levels, block.nSamples, block.nFirst);
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            ++m_nFollowed;
        }
        m_changed.notify_all();
    }
}

void CDetectorView::StopFollower() {
    if (!m_follower.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_bStop = true;
    }
    m_changed.notify_all();
    m_follower.join();
}

void CDetectorView::EndRun(int64_t end) {
    if (!m_bInRun) return;
    m_bInRun = false;
    const QuietStretch run{m_nLastLoud + 1, end - m_nLastLoud - 1, m_fRunMin, m_fRunMax};
    if (run.nLength >= m_nGapSamples) {
        m_gaps.push_back(run);
    } else if (end > m_nMinSongSamples && run.nLength > m_longestShort.nLength) {
        m_longestShort = run;
    }
}

void CDetectorView::OnBlockAnalysed(const AnalysedBlock& block) {
    const int64_t first = m_nSamples;
    if (block.bGapFound) {
        m_splitBytes.push_back(m_nBytes + static_cast<uint64_t>(block.nSplitOffset));
    }
    m_nBytes += static_cast<uint64_t>(block.nBytes);
    if (block.bEndGapReached && m_nEndGapSample < 0) m_nEndGapSample = first;
    m_nSamples += block.nSamples;
    if (!block.pLevels || block.nSamples <= 0) return;
    // The levels are in the buffer LevelBuffer gave out last.
    if (!m_follower.joinable()) m_follower = std::thread(&CDetectorView::FollowerMain, this);
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_handed[m_nHanded % kBuffers] = Handed{block.nSamples, first};
        ++m_nHanded;
    }
    m_changed.notify_all();
}

void CDetectorView::Follow(const float* levels, long n, int64_t first) {
    // Music is loud nearly all the time: the stretches are followed from one change between
    // loud and quiet to the next, and the grid's maxima taken a cell at a time.
    const float level = m_fLevel;
    long k = 0;
    while (k < n) {
        if (!m_bInRun) {
            // The same comparison as the gap test: louder than the gap level ends a stretch.
            const long from = k;
            while (k < n && levels[k] > level) ++k;
            if (k > from) m_nLastLoud = first + k - 1;
            if (k == n) break;
            if (first + k > m_nLastLoud) {
                m_bInRun = true;
                m_fRunMin = m_fRunMax = levels[k];
            }
            ++k;
        } else {
            float low = m_fRunMin, high = m_fRunMax;
            for (; k < n && !(levels[k] > level); ++k) {
                low = std::min(low, levels[k]);
                high = std::max(high, levels[k]);
            }
            m_fRunMin = low;
            m_fRunMax = high;
            if (k == n) break;
            EndRun(first + k);
            m_nLastLoud = first + k;
            ++k;
        }
    }
    // Levels are magnitudes (never -0) and a NaN never wins a comparison, so the maximum is the
    // same in any order: four running maxima keep the loop from waiting on one.
    for (long at = 0; at < n;) {
        const long end = at + std::min<int64_t>(m_nCellLeft, n - at);
        float m[4] = {m_fCell, 0, 0, 0};
        long j = at;
        for (; j + 4 <= end; j += 4) {
            for (int q = 0; q < 4; ++q) m[q] = levels[j + q] > m[q] ? levels[j + q] : m[q];
        }
        for (; j < end; ++j) m[0] = levels[j] > m[0] ? levels[j] : m[0];
        m_fCell = std::max(std::max(m[0], m[1]), std::max(m[2], m[3]));
        m_nCellLeft -= end - at;
        at = end;
        if (m_nCellLeft == 0) {
            m_grid.push_back(m_fCell);
            m_fCell = 0;
            m_nCellLeft = m_nGrid;
        }
    }
}

void CDetectorView::Finish() {
    StopFollower();
    EndRun(m_nSamples);
    if (m_nCellLeft != m_nGrid) {
        m_grid.push_back(m_fCell);
        m_fCell = 0;
        m_nCellLeft = m_nGrid;
    }
}

double LevelDecibels(float level, bool int16) {
    const double fullScale = int16 ? 32768.0 : 1.0;
    const double db = 20.0 * std::log10(double{level} / fullScale);
    return std::isfinite(db) ? std::max(db, -100.0) : -100.0;
}

double CDetectorView::Decibels(float level) const { return LevelDecibels(level, m_bInt16); }

Passage CDetectorView::QuietestPassage(int64_t length, int64_t from,
                                       const std::vector<QuietStretch>& skip) const {
    Passage best;
    const int64_t cells = static_cast<int64_t>(m_grid.size());
    const int64_t width = std::max<int64_t>(1, (length + m_nGrid - 1) / m_nGrid);
    const int64_t first = std::max<int64_t>(0, (from + m_nGrid - 1) / m_nGrid);
    const int64_t last = cells - width;
    // Sliding maximum over `width` cells, with the indices of falling maxima in a deque.
    std::deque<int64_t> window;
    for (int64_t k = first; k < first + width - 1 && k < cells; ++k) {
        while (!window.empty() && m_grid[window.back()] <= m_grid[k]) window.pop_back();
        window.push_back(k);
    }
    for (int64_t start = first; start <= last; ++start) {
        const int64_t k = start + width - 1;
        while (!window.empty() && m_grid[window.back()] <= m_grid[k]) window.pop_back();
        window.push_back(k);
        while (window.front() < start) window.pop_front();
        const float level = m_grid[window.front()];
        const int64_t from = start * m_nGrid, to = (start + width) * m_nGrid;
        bool skipped = false;
        for (const QuietStretch& s : skip) {
            skipped = skipped || (from < s.nStart + s.nLength && s.nStart < to);
        }
        if (!skipped && (best.nStart < 0 || level < best.fLevel)) best = Passage{from, level};
    }
    return best;
}
