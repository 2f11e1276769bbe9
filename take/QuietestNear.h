// Where a person would cut inside a quiet stretch: the middle of its quietest window, on a grid
// of levels (the loudest magnitude of each cell of the side, 10 ms in the splitter), of equally
// quiet windows the one nearest the middle of where they lie. The splitter's --songs places its
// cuts with it, and a cut being reviewed snaps to it. Plain functions: any thread.
#pragma once

#include <cstdint>
#include <vector>

class CTakeReader;

// The quietest window of `width` cells among cells [first, end) of grid: its first cell, or -1
// when fewer than width cells are given.
int64_t QuietestWindow(const std::vector<float>& grid, int64_t first, int64_t end, int64_t width);

// The cut the splitter places in the stretch [start, start + length) (positions in the grid's
// own units, `cell` of them a cell): the middle of its quietest window of `window` units (a
// whole number of cells, at least one), or the stretch's middle when it holds no whole window.
int64_t QuietestCut(const std::vector<float>& grid, int64_t cell, int64_t window, int64_t start,
                    int64_t length);

// A cut snapped: the middle of the quietest window of `window` within `radius` of position, in
// the grid's units; position itself when the side holds no window there.
int64_t FindQuietestNear(const std::vector<float>& grid, int64_t cell, int64_t window,
                         int64_t position, int64_t radius);

// Cuts placed by a sleeve's times: song k lasts lengths[k] (in the grid's units; -1 when the
// sleeve gives no time) and the music runs from musicStart to musicEnd. Each cut goes to the
// quietest window of `window` within `radius` of where the song before it, from its own start,
// would end: the times' errors do not add up from song to song, and a side pressed a little
// fast or slow is scaled to its length first when every time is known. Where a time is missing
// the chain goes on from the end of the music backwards; a cut neither chain reaches is -1.
// One entry a cut (lengths.size() - 1), ascending where set.
std::vector<int64_t> CutsByTimes(const std::vector<float>& grid, int64_t cell, int64_t window,
                                 int64_t musicStart, int64_t musicEnd,
                                 const std::vector<int64_t>& lengths, int64_t radius);

// How far a sleeve's time may be off, either way, for its cut still to be found.
constexpr int64_t kSleeveErrorSeconds = 8;
// The window a sleeve's cut looks for, in the units of gapSize: a join between songs that run
// into each other is a dip far shorter than Gap Size, and a window as long would hold music on
// both sides of it wherever it lay.
inline int64_t SleeveCutWindow(int64_t gapSize, int64_t perSecond) {
    return gapSize < perSecond / 4 ? gapSize : perSecond / 4;
}

// The cuts a track list's times give a take, on its overview: seconds[k] the time of song k
// (-1 where the list gives none); the music ends where the take's last stretch at or below
// gapLevel (a fraction of full scale) begins. The times place what they reach (CutsByTimes);
// a cut they do not reach goes to the quietest window in its share of the stretch between the
// placed cuts either side. Frames, ascending, one a cut (seconds.size() - 1); empty when the
// list gives fewer than two songs or no time at all.
class COverview;
std::vector<uint64_t> CutsByTrackTimes(const COverview& overview, const std::vector<int>& seconds,
                                       float gapLevel, uint64_t gapSizeFrames);

// The grid of a stretch of interleaved samples: the loudest magnitude of each run of cellFrames
// frames (all channels), 1.0 being full scale; a last partial cell counts as a cell. 16-bit PCM
// or 32-bit float.
std::vector<float> LevelGrid(const void* samples, uint64_t frames, int channels, bool isFloat,
                             uint64_t cellFrames);

// A cut of a take snapped to the quietest window of windowFrames within radiusFrames of it, on
// the take's own samples in cells of 10 ms: the frame to move the cut to (position itself when
// no whole window lies within reach). Any thread.
uint64_t SnapCut(const CTakeReader& reader, uint64_t position, uint64_t radiusFrames,
                 uint64_t windowFrames);
