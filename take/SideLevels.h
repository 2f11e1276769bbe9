// What the probe and the automatic levels measure on a side: its quiet passages as the gap
// detector sees them, told apart into the gaps' floor and the songs' quiet moments, and the Gap
// Level and End Gap that cut at the one and outlast every quiet stretch before the run-out; and
// whether a split's songs hold up against those measures (an End Gap that ends the side before
// sound that follows, a cut in a passage louder than the gaps' floor). Measured from a detector
// view that followed one analysis pass over the side with levels. Plain values; any thread.
#pragma once

#include <cstdint>
#include <vector>

class CDetectorView;

struct SideLevels {
    bool bTooShort = false;  // too short for two Gap-Size passages
    double fGapSeconds = 0;  // the Gap Size measured with
    double fLeadIn = 0;      // dB of the first Gap-Size passage
    // A clear step between the quietest passages (the gaps' floor) and the songs' quiet
    // moments; without one, fWidest is the widest step between the quiet passages.
    bool bGapsFound = false;
    double fWidest = 0;
    double fFloorLow = 0, fFloorTop = 0;  // dB
    std::vector<int64_t> floorAt;         // where the floor's passages begin, detector samples
    double fSongsQuiet = 0;               // dB of the quietest passage inside songs
    int64_t nSongsQuietAt = 0;
    double fLevel = 0;  // the suggested Gap Level, dB on a tenth, halfway between the two
    // The loudest passage a cut may end and still be a gap: the suggested level, or without
    // gaps found a clear step above the quietest passage.
    double fCutCeiling = 0;

    // The grid the measures come from, for the checks below.
    std::vector<float> grid;  // loudest magnitude of each cell, sample units
    int64_t nCell = 0;        // detector samples a cell
    int64_t nGapSamples = 0;
    int64_t nPerSecond = 0;  // detector samples a second
    bool bInt16 = true;
    double Decibels(float level) const;
    float Threshold(double db) const;  // a level in dB in the grid's units
    // The longest stretch at or below `db` before the last sound above it, the lead-in
    // included, in seconds; and the detector sample after that last sound (0: none).
    double LongestQuiet(double db, int64_t* lastLoudEnd = nullptr) const;
    // The level of the quiet passage a live cut at detector sample `cut` lies in, dB.
    double PassageNear(int64_t cut) const;
};

// The suggested End Gap for a longest quiet stretch: a second longer, on whole seconds, within
// End Gap's scale (at most 30 s: the side may need more, `*tooLong`).
double EndGapFor(double longestQuiet, bool* tooLong);

// view: finished, with levels, of a pass over the whole side; samplesPerSecond as the view's.
SideLevels MeasureLevels(const CDetectorView& view, int64_t samplesPerSecond, bool int16);

// What is wrong with a split of the side (its songs, as a trial gives them) at Gap Level `db`.
struct SplitFaults {
    bool bEndsEarly = false;           // End Gap ended the side before sound that follows
    int64_t nEndedAt = 0;              // detector sample where the songs end
    int64_t nSoundUntil = 0;           // where the last sound above Gap Level ends
    std::vector<int64_t> cutsInMusic;  // cuts in passages louder than the gaps' floor explains
    bool Any() const { return bEndsEarly || !cutsInMusic.empty(); }
};
// cuts: where the songs begin after the first, and ended: where the split ended (the side it
// took), in detector samples.
SplitFaults CheckCuts(const SideLevels& side, const std::vector<int64_t>& cuts, int64_t ended,
                      double db);
