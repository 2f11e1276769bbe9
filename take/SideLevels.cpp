#include "take/SideLevels.h"

#include <algorithm>
#include <cmath>

#include "take/DetectorView.h"

namespace {

// The first rise between sorted quiet passages at least this large parts the gaps' floor from
// the songs' quiet moments; above a floor of two gaps or more that lie close together (hiss
// measures alike in every gap), a rise of kTightStep, and thrice the floor's own spread, does.
constexpr double kClearStep = 6.0;  // dB
constexpr double kTightStep = 3.0;  // dB

}  // namespace

double SideLevels::Decibels(float level) const { return LevelDecibels(level, bInt16); }

float SideLevels::Threshold(double db) const {
    return static_cast<float>(std::pow(10.0, db / 20.0) * (bInt16 ? 32768.0 : 1.0));
}

double SideLevels::LongestQuiet(double db, int64_t* lastLoudEnd) const {
    const float threshold = Threshold(db);
    int64_t lastLoud = -1;
    for (int64_t k = 0; k < static_cast<int64_t>(grid.size()); ++k) {
        if (grid[static_cast<size_t>(k)] > threshold) lastLoud = k;
    }
    // The lead-in counts: End Gap of it would end the side before the first song.
    int64_t longest = 0, stretch = 0;
    for (int64_t k = 0; k <= lastLoud; ++k) {
        stretch = grid[static_cast<size_t>(k)] <= threshold ? stretch + 1 : 0;
        longest = std::max(longest, stretch);
    }
    if (lastLoudEnd) *lastLoudEnd = (lastLoud + 1) * nCell;
    return static_cast<double>(longest * nCell) / static_cast<double>(nPerSecond);
}

double SideLevels::PassageNear(int64_t cut) const {
    // A live cut comes a Gap Size into its quiet stretch, which may begin with the tail of the
    // music before it: the quietest Gap-Size passage that starts up to two Gap Sizes before it.
    const int64_t width = std::max<int64_t>(1, (nGapSamples + nCell - 1) / nCell);
    const int64_t cells = static_cast<int64_t>(grid.size());
    const int64_t first = std::max<int64_t>(0, (cut - 2 * nGapSamples) / nCell);
    const int64_t last = std::min<int64_t>(cut / nCell, cells - width);
    float quietest = -1;
    for (int64_t k = first; k <= last; ++k) {
        const float level = *std::max_element(grid.begin() + static_cast<long>(k),
                                              grid.begin() + static_cast<long>(k + width));
        quietest = quietest < 0 ? level : std::min(quietest, level);
    }
    return Decibels(std::max(quietest, 0.0f));
}

double EndGapFor(double longestQuiet, bool* tooLong) {
    *tooLong = longestQuiet + 1.0 > 30.0;
    return std::clamp(std::ceil(longestQuiet + 1.0), 1.0, 30.0);
}

// The quiet passages are the quietest Gap-Size-long passage of every stretch of half a
// Minimum Song Size (no two songs' gaps are nearer); they fall into the gaps' floor and the
// songs' quiet moments, told apart by the first clear step between their sorted levels.
SideLevels MeasureLevels(const CDetectorView& view, int64_t samplesPerSecond, bool int16) {
    SideLevels side;
    side.nPerSecond = samplesPerSecond;
    side.bInt16 = int16;
    side.grid = view.GetGrid();
    side.nCell = view.GetGridSamples();
    side.nGapSamples = view.GetGapSamples();
    side.fGapSeconds = double(side.nGapSamples) / double(side.nPerSecond);
    const std::vector<float>& grid = side.grid;
    const int64_t cell = side.nCell;
    const int64_t width = std::max<int64_t>(1, (side.nGapSamples + cell - 1) / cell);
    const int64_t cells = static_cast<int64_t>(grid.size());
    if (cells < width + 2) {
        side.bTooShort = true;
        return side;
    }
    // Loudest level of every Gap-Size-long passage on the grid.
    std::vector<float> passage(static_cast<size_t>(cells - width + 1));
    for (size_t k = 0; k < passage.size(); ++k) {
        passage[k] = *std::max_element(grid.begin() + static_cast<long>(k),
                                       grid.begin() + static_cast<long>(k) + width);
    }
    side.fLeadIn = side.Decibels(passage[0]);
    const int64_t n = static_cast<int64_t>(passage.size());
    const int64_t radius = std::max<int64_t>(width, view.GetMinSongSamples() / 2 / cell);
    struct Valley {
        int64_t k;
        double level;
    };
    std::vector<Valley> valleys;
    for (int64_t k = 0; k < n; ++k) {
        const int64_t from = std::max<int64_t>(0, k - radius), to = std::min(n - 1, k + radius);
        bool lowest = true;
        for (int64_t j = from; j <= to && lowest; ++j) {
            lowest = passage[j] > passage[k] || (passage[j] == passage[k] && j >= k);
        }
        if (lowest) valleys.push_back({k, side.Decibels(passage[k])});
    }
    // The first and the last are the lead-in and the run-out: they end no song.
    std::vector<Valley> sorted;
    for (const Valley& v : valleys) {
        if (v.k != valleys.front().k && v.k != valleys.back().k) sorted.push_back(v);
    }
    std::sort(sorted.begin(), sorted.end(),
              [](const Valley& a, const Valley& b) { return a.level < b.level; });
    size_t step = 0;
    for (size_t k = 0; k + 1 < sorted.size(); ++k) {
        const double rise = sorted[k + 1].level - sorted[k].level;
        side.fWidest = std::max(side.fWidest, rise);
        const double spread = sorted[k].level - sorted.front().level;
        if (rise >= kClearStep || (k >= 1 && rise >= kTightStep && rise >= 3.0 * spread)) {
            step = k + 1;
            break;
        }
    }
    side.fFloorLow = sorted.empty() ? -100.0 : sorted.front().level;
    side.fCutCeiling = side.fFloorLow + kClearStep;
    if (step == 0) return side;
    side.bGapsFound = true;
    side.fFloorTop = sorted[step - 1].level;
    side.fSongsQuiet = sorted[step].level;
    side.nSongsQuietAt = sorted[step].k * cell;
    for (size_t k = 0; k < step; ++k) side.floorAt.push_back(sorted[k].k * cell);
    std::sort(side.floorAt.begin(), side.floorAt.end());
    side.fLevel = std::round((side.fFloorTop + side.fSongsQuiet) / 2.0 * 10.0) / 10.0;
    side.fCutCeiling = side.fLevel;
    return side;
}

SplitFaults CheckCuts(const SideLevels& side, const std::vector<int64_t>& cuts, int64_t ended,
                      double db) {
    SplitFaults faults;
    side.LongestQuiet(db, &faults.nSoundUntil);
    faults.nEndedAt = ended;
    faults.bEndsEarly = faults.nEndedAt < faults.nSoundUntil - side.nCell;
    for (int64_t cut : cuts) {
        if (side.PassageNear(cut) > side.fCutCeiling) faults.cutsInMusic.push_back(cut);
    }
    return faults;
}
