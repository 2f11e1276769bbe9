#include "DetectorView.h"

#include <algorithm>
#include <cmath>
#include <deque>

#include "SignalAnalyzer.h"

CDetectorView::CDetectorView(const CSignalAnalyzer& analyser, int64_t samplesPerSecond, bool int16,
                             bool levels)
    : m_fLevel(analyser.m_fLinearGapLevel),
      m_nGapSamples(analyser.m_nGapSamples),
      m_nMinSongSamples(analyser.m_nMinSongSamples),
      m_bInt16(int16),
      m_bLevels(levels),
      m_nGrid(std::max<int64_t>(1, samplesPerSecond / 100)),
      m_nCellLeft(m_nGrid) {}

float* CDetectorView::LevelBuffer(long samples) {
    if (!m_bLevels) return nullptr;
    if (m_levels.size() < static_cast<size_t>(samples))
        m_levels.resize(static_cast<size_t>(samples));
    return m_levels.data();
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
    const float* levels = block.pLevels;
    if (!levels) {
        m_nSamples += block.nSamples;
        return;
    }
    for (long k = 0; k < block.nSamples; ++k) {
        const int64_t i = first + k;
        const float a = levels[k];
        // The same comparison as the gap test: louder than the gap level ends a stretch.
        if (a > m_fLevel) {
            EndRun(i);
            m_nLastLoud = i;
        } else if (i > m_nLastLoud) {
            if (!m_bInRun) {
                m_bInRun = true;
                m_fRunMin = m_fRunMax = a;
            }
            m_fRunMin = std::min(m_fRunMin, a);
            m_fRunMax = std::max(m_fRunMax, a);
        }
        m_fCell = std::max(m_fCell, a);
        if (--m_nCellLeft == 0) {
            m_grid.push_back(m_fCell);
            m_fCell = 0;
            m_nCellLeft = m_nGrid;
        }
    }
    m_nSamples += block.nSamples;
}

void CDetectorView::Finish() {
    EndRun(m_nSamples);
    if (m_nCellLeft != m_nGrid) {
        m_grid.push_back(m_fCell);
        m_fCell = 0;
        m_nCellLeft = m_nGrid;
    }
}

double CDetectorView::Decibels(float level) const {
    const double fullScale = m_bInt16 ? 32768.0 : 1.0;
    const double db = 20.0 * std::log10(double{level} / fullScale);
    return std::isfinite(db) ? std::max(db, -100.0) : -100.0;
}

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
