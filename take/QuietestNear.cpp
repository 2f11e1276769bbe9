#include "take/QuietestNear.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "take/Overview.h"
#include "take/Take.h"

int64_t QuietestWindow(const std::vector<float>& grid, int64_t first, int64_t end, int64_t width) {
    first = std::max<int64_t>(first, 0);
    end = std::min<int64_t>(end, static_cast<int64_t>(grid.size()));
    if (width < 1 || end - first < width) return -1;
    // The loudest cell of every window, by a sliding maximum: long stretches on a fine grid
    // stay linear.
    std::vector<float> windows;
    windows.reserve(static_cast<size_t>(end - first - width + 1));
    std::deque<int64_t> peaks;  // cells whose levels fall from front to back
    for (int64_t k = first; k < end; ++k) {
        while (!peaks.empty() && grid[static_cast<size_t>(peaks.back())] <= grid[k]) {
            peaks.pop_back();
        }
        peaks.push_back(k);
        if (peaks.front() <= k - width) peaks.pop_front();
        if (k - first + 1 >= width) windows.push_back(grid[static_cast<size_t>(peaks.front())]);
    }
    // Among equally quiet windows (a silent gap between a coda and an intro), the one nearest
    // the middle of where they lie.
    const float quietest = *std::min_element(windows.begin(), windows.end());
    int64_t low = -1, high = -1;
    for (int64_t k = 0; k < static_cast<int64_t>(windows.size()); ++k) {
        if (windows[static_cast<size_t>(k)] != quietest) continue;
        if (low < 0) low = k;
        high = k;
    }
    int64_t best = low;
    for (int64_t k = low; k <= high; ++k) {
        if (windows[static_cast<size_t>(k)] == quietest &&
            std::llabs(2 * k - (low + high)) < std::llabs(2 * best - (low + high))) {
            best = k;
        }
    }
    return first + best;
}

int64_t QuietestCut(const std::vector<float>& grid, int64_t cell, int64_t window, int64_t start,
                    int64_t length) {
    const int64_t width = std::max<int64_t>(1, (window + cell - 1) / cell);
    const int64_t first = (start + cell - 1) / cell;  // the whole cells inside it
    const int64_t end = (start + length) / cell;
    const int64_t best = QuietestWindow(grid, first, end, width);
    // Too short for a whole window on the grid: its middle.
    if (best < 0) return (2 * start + length) / 2;
    return best * cell + width * cell / 2;
}

int64_t FindQuietestNear(const std::vector<float>& grid, int64_t cell, int64_t window,
                         int64_t position, int64_t radius) {
    const int64_t width = std::max<int64_t>(1, (window + cell - 1) / cell);
    const int64_t start = std::max<int64_t>(0, position - radius);
    const int64_t end =
        std::min<int64_t>(position + radius, static_cast<int64_t>(grid.size()) * cell);
    if ((end / cell) - (start + cell - 1) / cell < width) return position;
    return QuietestCut(grid, cell, window, start, end - start);
}

std::vector<int64_t> CutsByTimes(const std::vector<float>& grid, int64_t cell, int64_t window,
                                 int64_t musicStart, int64_t musicEnd,
                                 const std::vector<int64_t>& lengths, int64_t radius) {
    const size_t n = lengths.size();
    std::vector<int64_t> cuts(n > 0 ? n - 1 : 0, -1);
    if (n < 2 || musicEnd <= musicStart) return cuts;
    int64_t total = 0;
    bool all = true;
    for (int64_t length : lengths) {
        all = all && length > 0;
        total += std::max<int64_t>(length, 0);
    }
    // Within a tenth: beyond it the times belong to another pressing or another side.
    double scale = all && total > 0 ? static_cast<double>(musicEnd - musicStart) / total : 1.0;
    if (scale < 0.9 || scale > 1.1) scale = 1.0;
    auto scaled = [&](int64_t length) {
        return static_cast<int64_t>(std::llround(static_cast<double>(length) * scale));
    };
    int64_t at = musicStart;
    for (size_t k = 0; k + 1 < n && lengths[k] > 0; ++k) {
        const int64_t cut = FindQuietestNear(grid, cell, window, at + scaled(lengths[k]), radius);
        if (cut <= at + window || cut >= musicEnd) break;
        cuts[k] = at = cut;
    }
    at = musicEnd;
    for (size_t k = n - 1; k > 0 && lengths[k] > 0 && cuts[k - 1] < 0; --k) {
        const int64_t cut = FindQuietestNear(grid, cell, window, at - scaled(lengths[k]), radius);
        // Never before a cut the forward chain placed.
        int64_t before = musicStart;
        for (size_t j = 0; j + 1 < k; ++j) before = cuts[j] >= 0 ? cuts[j] : before;
        if (cut >= at - window || cut <= before + window) break;
        cuts[k - 1] = at = cut;
    }
    return cuts;
}

std::vector<uint64_t> CutsByTrackTimes(const COverview& overview, const std::vector<int>& seconds,
                                       float gapLevel, uint64_t gapSizeFrames) {
    const size_t n = seconds.size();
    if (n < 2 || std::none_of(seconds.begin(), seconds.end(), [](int s) { return s > 0; })) {
        return {};
    }
    const int64_t rate = overview.Format().nSamplesPerSec;
    const int64_t cell = std::max<uint32_t>(overview.FramesPerBin(), 1);
    const int64_t total = static_cast<int64_t>(overview.TotalFrames());
    std::vector<float> grid(overview.BinCount());
    int64_t musicEnd = 0;
    for (size_t bin = 0; bin < grid.size(); ++bin) {
        float loudest = 0;
        for (int ch = 0; ch < overview.Channels(); ++ch) {
            const PeakPair p = overview.Bin(bin, ch);
            loudest = std::max({loudest, std::fabs(p.fMin), std::fabs(p.fMax)});
        }
        grid[bin] = loudest;
        if (loudest > gapLevel) musicEnd = static_cast<int64_t>(bin + 1) * cell;
    }
    musicEnd = std::min(musicEnd, total);
    std::vector<int64_t> lengths;
    for (int s : seconds) lengths.push_back(s > 0 ? s * rate : -1);
    const int64_t window = SleeveCutWindow(static_cast<int64_t>(gapSizeFrames), rate);
    std::vector<int64_t> cuts =
        CutsByTimes(grid, cell, window, 0, musicEnd, lengths, kSleeveErrorSeconds * rate);
    // The cuts the times did not reach share the stretch between their placed neighbours.
    for (size_t k = 0; k < cuts.size();) {
        if (cuts[k] >= 0) {
            ++k;
            continue;
        }
        size_t last = k;
        while (last + 1 < cuts.size() && cuts[last + 1] < 0) ++last;
        const int64_t from = k > 0 ? cuts[k - 1] : 0;
        const int64_t to = last + 1 < cuts.size() ? cuts[last + 1] : musicEnd;
        const int64_t parts = static_cast<int64_t>(last - k) + 2;
        for (size_t j = k; j <= last; ++j) {
            const int64_t i = static_cast<int64_t>(j - k);
            const int64_t start = from + (to - from) * (2 * i + 1) / (2 * parts);
            cuts[j] = QuietestCut(grid, cell, window, start, (to - from) / parts);
        }
        k = last + 1;
    }
    std::vector<uint64_t> frames;
    for (int64_t c : cuts) {
        if (c > 0 && c < total && (frames.empty() || static_cast<uint64_t>(c) > frames.back())) {
            frames.push_back(static_cast<uint64_t>(c));
        }
    }
    return frames;
}

std::vector<float> LevelGrid(const void* samples, uint64_t frames, int channels, bool isFloat,
                             uint64_t cellFrames) {
    std::vector<float> grid;
    if (cellFrames == 0 || channels <= 0) return grid;
    grid.reserve(static_cast<size_t>((frames + cellFrames - 1) / cellFrames));
    const auto* bytes = static_cast<const unsigned char*>(samples);
    const size_t sampleBytes = isFloat ? 4 : 2;
    for (uint64_t at = 0; at < frames; at += cellFrames) {
        const uint64_t n = std::min(cellFrames, frames - at) * static_cast<uint64_t>(channels);
        const unsigned char* p = bytes + at * static_cast<uint64_t>(channels) * sampleBytes;
        float peak = 0;
        for (uint64_t k = 0; k < n; ++k) {
            float v;
            if (isFloat) {
                std::memcpy(&v, p + k * 4, 4);
            } else {
                int16_t s;
                std::memcpy(&s, p + k * 2, 2);
                v = static_cast<float>(s) / 32768.0f;
            }
            peak = std::max(peak, std::fabs(v));
        }
        grid.push_back(peak);
    }
    return grid;
}

uint64_t SnapCut(const CTakeReader& reader, uint64_t position, uint64_t radiusFrames,
                 uint64_t windowFrames) {
    const Take& take = reader.GetTake();
    const uint64_t cell = std::max<uint64_t>(1, take.format.nSamplesPerSec / 100);
    // Cells on the side's own grid, wherever the reach begins.
    const uint64_t first = (position > radiusFrames ? position - radiusFrames : 0) / cell * cell;
    const uint64_t end = std::min(take.nFrames, position + radiusFrames);
    if (first >= end) return position;
    std::vector<char> samples((end - first) * take.FrameBytes());
    const size_t got = reader.ReadFrames(first, static_cast<size_t>(end - first), samples.data());
    const std::vector<float> grid =
        LevelGrid(samples.data(), got, take.format.nChannels,
                  take.format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT, cell);
    const int64_t at = FindQuietestNear(
        grid, static_cast<int64_t>(cell), static_cast<int64_t>(windowFrames),
        static_cast<int64_t>(position - first), static_cast<int64_t>(radiusFrames));
    return first + static_cast<uint64_t>(at);
}
